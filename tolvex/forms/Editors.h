// Installs the dialogs' form logic into the seams of the core (the channel
// properties dialog, the composite editor). Called by the plug-in object's
// config step.
#pragma once

namespace tolvex {
void installEditors();
}
