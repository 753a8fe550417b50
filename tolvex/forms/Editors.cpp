#include "Editors.h"

#include "Uchanedit.h"
#include "Ucomplform.h"

namespace tolvex {

namespace {

bool editChannel(CVirtualChannel& channel) {
    TChanEditFrm form;
    return form.EditChannel(channel);
}

bool editComposite(CompositeSignal& composite) {
    TComplFrm form;
    form.EditComposite(composite);
    return true;
}

} // namespace

void installEditors() {
    setChannelEditor(&editChannel);
    setCompositeEditor(&editComposite);
}

} // namespace tolvex
