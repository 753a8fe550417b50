#include "Usinusfrm.h"

namespace tolvex {

// Edit1 freq, Edit2 MinLevel, Edit3 MaxLevel, read in that order.
bool TSinusFrm::EditSignal(SineSignal& signal) {
    float* const shown[] = {&signal.freq, &signal.MinLevel, &signal.MaxLevel};
    const int order[] = {0, 1, 2};
    return run(shown, order, 3);
}

} // namespace tolvex
