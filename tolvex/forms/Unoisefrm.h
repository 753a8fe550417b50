// The parameter dialog of the NoiseSignal: form logic over a ParamView.
#pragma once

#include "ParamView.h"
#include "Utypes.h"

namespace tolvex {

class TNoiseFrm final : public TParamFrm {
public:
    TNoiseFrm() : TParamFrm(ParamDialog::Noise) {}
    // The edit protocol on one signal: true when confirmed and every field was
    // accepted; fields read before a refused one keep their new values.
    bool EditSignal(NoiseSignal& signal);
};

} // namespace tolvex
