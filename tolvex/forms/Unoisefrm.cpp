#include "Unoisefrm.h"

namespace tolvex {

// Edit1 MaxLevel, Edit2 MinLevel; read MinLevel, then MaxLevel.
bool TNoiseFrm::EditSignal(NoiseSignal& signal) {
    float* const shown[] = {&signal.MaxLevel, &signal.MinLevel};
    const int order[] = {1, 0};
    return run(shown, order, 2);
}

} // namespace tolvex
