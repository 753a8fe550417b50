// The parameter dialog of the SawSignal: form logic over a ParamView.
#pragma once

#include "ParamView.h"
#include "Utypes.h"

namespace tolvex {

class TSawFrm final : public TParamFrm {
public:
    TSawFrm() : TParamFrm(ParamDialog::Saw) {}
    // The edit protocol on one signal: true when confirmed and every field was
    // accepted; fields read before a refused one keep their new values.
    bool EditSignal(SawSignal& signal);
};

} // namespace tolvex
