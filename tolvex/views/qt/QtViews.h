// The Qt Widgets views of the module's forms.
//
// Layer tolvex/views/qt: builds the real widgets and forwards their events to
// the forms' handlers. Uses the forms (and below) and Qt; nothing includes it
// but the module's view selection, the screenshot tool and the Qt tests.
#pragma once

namespace tolvex::views {

// Installs the Qt view of every form and the Qt message boxes; false when
// they cannot be used (the caller then keeps the headless views). Creates the
// application object when the host has none; false when the host's
// application object is not a widgets application.
bool installQtViews();

} // namespace tolvex::views
