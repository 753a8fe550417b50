// Add from template comes with the template dialog (TTExtraNew), which the
// channel-editor work brings in this file; until then the command offers no
// dialog and changes nothing.
#include "Umainfrm.h"

namespace tolvex {

void AddChannelsFromTemplate() {}

} // namespace tolvex
