#include "Views.h"

#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tolvex::ui {

using namespace platform::literals;

namespace {

MessageBoxHandler& handler() {
    static MessageBoxHandler instance;
    return instance;
}

// Without a screen: the text goes to standard error, a question is answered No.
Answer headlessMessageBox(const MessageBoxRequest& request) {
    std::fprintf(stderr, "Tolvex: %s: %s\n", platform::cp1251ToUtf8(request.caption).c_str(),
                 platform::cp1251ToUtf8(request.text).c_str());
    return request.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

} // namespace

Answer messageBox(const MessageBoxRequest& request) {
    if (handler())
        return handler()(request);
    return headlessMessageBox(request);
}

void setMessageBoxHandler(MessageBoxHandler newHandler) {
    handler() = std::move(newHandler);
}

void showError(const std::string& text1251) {
    MessageBoxRequest request;
    request.text = text1251;
    request.caption = "Error!";
    request.buttons = Buttons::Ok;
    request.icon = Icon::None;
    request.ownedByMainWindow = true;
    messageBox(request);
}

bool askQuestion(const std::string& text1251) {
    MessageBoxRequest request;
    request.text = text1251;
    request.caption = "Внимание!"_w;
    request.buttons = Buttons::YesNo;
    request.icon = Icon::Question;
    request.systemModal = true;
    return messageBox(request) == Answer::Yes;
}

} // namespace tolvex::ui
