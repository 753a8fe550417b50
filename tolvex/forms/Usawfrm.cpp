#include "Usawfrm.h"

namespace tolvex {

// Edit1 MaxLevel, Edit2 MinLevel, Edit3 Period; read Period, MinLevel, MaxLevel.
bool TSawFrm::EditSignal(SawSignal& signal) {
    float* const shown[] = {&signal.MaxLevel, &signal.MinLevel, &signal.Period};
    const int order[] = {2, 1, 0};
    return run(shown, order, 3);
}

} // namespace tolvex
