// The parameter dialog of the SineSignal: form logic over a ParamView.
#pragma once

#include "ParamView.h"
#include "Utypes.h"

namespace tolvex {

class TSinusFrm final : public TParamFrm {
public:
    TSinusFrm() : TParamFrm(ParamDialog::Sinus) {}
    // The edit protocol on one signal: true when confirmed and every field was
    // accepted; fields read before a refused one keep their new values.
    bool EditSignal(SineSignal& signal);
};

} // namespace tolvex
