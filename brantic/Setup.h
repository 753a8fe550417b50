// The settings dialog of the remote-control module, and the seam between the
// module's forms and the toolkit: the dialog and the message boxes go through a
// view layer, the Qt one (brantic/views/qt), the headless one
// (brantic/views/headless), or a test's own.
//
// Layer brantic (the module's core): the plug-in object, the settings form and
// the view interfaces. Uses the platform layer and the plug-in contract; never
// a toolkit header, never a view. The view layers use it, not the reverse.
#pragma once

#include <memory>
#include <string>

namespace brantic {

class CSetup;

namespace ui {

enum class Icon { None, Information };

struct MessageBoxRequest {
    std::string text;    // 1251, lines separated by '\n'
    std::string caption; // 1251
    Icon icon = Icon::None;
    void* owner = nullptr; // the owner window, null for none
};

// The window of one CSetup while it runs modally.
class SetupView {
public:
    virtual ~SetupView() = default;
    // Shows the dialog and returns how it was closed (the result passed to
    // endDialog). Runs the form's OnInitDialog first.
    virtual int runModal() = 0;
    // Closes the dialog with a result.
    virtual void endDialog(int result) = 0;
};

class ViewLayer {
public:
    virtual ~ViewLayer() = default;
    virtual std::unique_ptr<SetupView> makeSetupView(CSetup& form) = 0;
    virtual void messageBox(const MessageBoxRequest& request) = 0;
};

// The layer in use: the one installed, else the one the registered maker
// makes at first use; std::logic_error when there is neither.
ViewLayer& viewLayer();
// Installs a layer (tests); null goes back to the registered maker.
void setViewLayer(std::unique_ptr<ViewLayer> layer);
// Registers the maker of the layer to use; the module's view selection
// registers it when the module is loaded.
using ViewLayerMaker = std::unique_ptr<ViewLayer> (*)();
void setViewLayerMaker(ViewLayerMaker maker);

// False when BRANTIC_UI=none, when Qt is told to use a screenless platform
// (offscreen, minimal), or when no display is configured; BRANTIC_UI=qt asks
// for the Qt views whatever the environment says.
bool guiWanted();

// Whether the toolkit's views would have a screen to show on (UnixScreen.cpp,
// views/win32/Screen.cpp).
bool screenAvailable();

} // namespace ui

// Dialog template 2101: caption, size in dialog units, font and two buttons.
struct DialogButton {
    int id;
    const char* text; // 1251
    int x, y, width, height;
};

class CSetup {
public:
    static constexpr int IDD = 2101;
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;
    static const char* caption();
    static constexpr int kWidth = 188;
    static constexpr int kHeight = 85;
    static constexpr const char* kFontName = "MS Sans Serif";
    static constexpr int kFontPoints = 8;
    static const DialogButton& okButton();
    static const DialogButton& cancelButton();

    explicit CSetup(void* parentWindow) : parent_(parentWindow) {}

    void* parentWindow() const { return parent_; }
    void setParentWindow(void* parent) { parent_ = parent; }

    // Runs the dialog modally over the parent window; IDOK or IDCANCEL.
    int DoModal();

    // Handlers the view calls.
    bool OnInitDialog();
    void OnOK();
    void OnCancel();

private:
    void* parent_;
    ui::SetupView* view_ = nullptr; // while DoModal runs
};

} // namespace brantic
