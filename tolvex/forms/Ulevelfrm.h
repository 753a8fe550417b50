// The parameter dialog of the LevelSignal: form logic over a ParamView.
#pragma once

#include "ParamView.h"
#include "Utypes.h"

namespace tolvex {

class TLevelFrm final : public TParamFrm {
public:
    TLevelFrm() : TParamFrm(ParamDialog::Level) {}
    // The edit protocol on one signal: true when confirmed and every field was
    // accepted; fields read before a refused one keep their new values.
    bool EditSignal(LevelSignal& signal);
};

} // namespace tolvex
