#include "ParamView.h"

#include "Utypes.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <array>

namespace tolvex {

using namespace platform::literals;

namespace {

const std::array<ParamDialogLayout, 4> kLayouts = {{
    {ParamDialog::Level, "Уровень"_w, 1, {"Значение подаваемого сигнала"_w, nullptr, nullptr}},
    {ParamDialog::Sinus, "Синус"_w, 3, {"Частота"_w, "Мин. Уровень"_w, "Макс. Уровень"_w}},
    {ParamDialog::Saw, "Пила"_w, 3, {"Макс. Уровень"_w, "Мин. Уровень"_w, "Период, сек"_w}},
    {ParamDialog::Noise,
     "Белый Шум"_w,
     2,
     {"Макимальный уровень"_w, "Минимальный уровень"_w, nullptr}},
}};

std::array<ParamViewMaker, 4>& makers() {
    static std::array<ParamViewMaker, 4> all;
    return all;
}

std::size_t indexOf(ParamDialog kind) {
    return static_cast<std::size_t>(kind) & 3u;
}

} // namespace

const ParamDialogLayout& paramDialogLayout(ParamDialog kind) {
    return kLayouts[indexOf(kind)];
}

void setParamViewMaker(ParamDialog kind, ParamViewMaker maker) {
    makers()[indexOf(kind)] = std::move(maker);
}

bool TParamFrm::run(float* const* shown, const int* readOrder, int fieldCount) {
    try {
        const ParamViewMaker& maker = makers()[indexOf(kind_)];
        if (!maker)
            return false;
        std::unique_ptr<ParamView> view = maker(*this);
        if (!view)
            return false;
        for (int i = 0; i < fieldCount; ++i)
            view->setFieldText(i, platform::FloatToStr(static_cast<double>(*shown[i])));
        if (!view->showModal())
            return false;
        for (int k = 0; k < fieldCount; ++k) {
            const int field = readOrder[k];
            double v = 0.0;
            if (!platform::StrToFloat(view->fieldText(field), v))
                return false;
            *shown[field] = roundToFloat(v);
        }
        return true;
    } catch (...) {
        // A view that fails counts as a cancelled dialog; what was stored stays.
        return false;
    }
}

} // namespace tolvex
