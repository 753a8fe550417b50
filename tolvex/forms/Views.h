// The seam between the forms and the toolkit. Forms are plain C++ classes that
// hold a window's state and run its handlers; each talks to its window through
// a narrow view interface declared beside the form, and gets that view from a
// maker that the view layer installs:
//
//   struct LevelView { ... };                       // in the form's header
//   void setLevelViewMaker(ViewMaker<LevelView, TLevelFrm>);
//
// Three view layers exist: the Qt views (tolvex/views/qt), the headless views (show
// nothing, cancel dialogs, answer No, never block), and the scripted views of
// the tests. The headless views are the default until another layer installs
// itself.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tolvex::ui {

// A maker builds the view of one form instance; the form passes itself so that
// the view can forward its events to the form's handlers.
template <class View, class Form> using ViewMaker = std::function<std::unique_ptr<View>(Form&)>;

enum class Buttons { Ok, YesNo };
enum class Icon { None, Question, Information };
enum class Answer { Ok, Yes, No };

struct MessageBoxRequest {
    std::string text;    // 1251
    std::string caption; // 1251
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    bool systemModal = false;
    bool ownedByMainWindow = false;
};

// Shows a message box through the installed layer (headless: the text goes to
// standard error and questions are answered No).
Answer messageBox(const MessageBoxRequest& request);
using MessageBoxHandler = std::function<Answer(const MessageBoxRequest&)>;
void setMessageBoxHandler(MessageBoxHandler handler); // empty: back to headless

// "Error!" with OK and no icon, owned by the main window.
void showError(const std::string& text1251);
// "Внимание!" with Yes and No, question icon, system-modal; true for Yes.
bool askQuestion(const std::string& text1251);

} // namespace tolvex::ui
