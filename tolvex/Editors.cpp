#include "Editors.h"

namespace tolvex {

// The dialogs' form logic registers itself here as it lands.
void installEditors() {}

} // namespace tolvex
