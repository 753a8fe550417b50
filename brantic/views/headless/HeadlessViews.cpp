// The views for hosts without a display: nothing is shown, a message box's text
// goes to standard error, and a dialog is cancelled at once.
#include "HeadlessViews.h"

#include "platform/text.h"

#include <cstdio>

namespace brantic::ui {

namespace {

class HeadlessSetupView : public SetupView {
public:
    explicit HeadlessSetupView(CSetup& form) : form_(form) {}
    int runModal() override {
        result_ = CSetup::IDCANCEL;
        form_.OnInitDialog();
        form_.OnCancel();
        return result_;
    }
    void endDialog(int result) override { result_ = result; }

private:
    CSetup& form_;
    int result_ = CSetup::IDCANCEL;
};

class HeadlessLayer : public ViewLayer {
public:
    std::unique_ptr<SetupView> makeSetupView(CSetup& form) override {
        return std::make_unique<HeadlessSetupView>(form);
    }
    void messageBox(const MessageBoxRequest& request) override {
        const std::string caption = platform::cp1251ToUtf8(request.caption);
        const std::string text = platform::cp1251ToUtf8(request.text);
        std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
    }
};

} // namespace

std::unique_ptr<ViewLayer> makeHeadlessLayer() {
    return std::make_unique<HeadlessLayer>();
}

} // namespace brantic::ui
