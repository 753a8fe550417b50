// The native Windows views of the emulator's forms.
#pragma once

namespace tolvex::views {

// Installs the Win32 view of every form and the Win32 message boxes; false
// when they cannot be used (the caller then keeps the views that show
// nothing). Call on the thread that runs the host's message loop.
bool installWin32Views();

} // namespace tolvex::views
