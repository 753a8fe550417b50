#include "Ulevelfrm.h"

namespace tolvex {

bool TLevelFrm::EditSignal(LevelSignal& signal) {
    float* const shown[] = {&signal.Level};
    const int order[] = {0};
    return run(shown, order, 1);
}

} // namespace tolvex
