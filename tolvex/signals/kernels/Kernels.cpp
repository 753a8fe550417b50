#include "Kernels.h"

#include "Sine.h"

namespace tolvex::kernels {

namespace portable {
extern const Table table;
}
#if TOLVEX_KERNELS_X86
namespace avx2 {
extern const Table table;
}
namespace avx512 {
extern const Table table;
}
#endif

double sine(double x) {
    return magnitude(x) < kFastLimit ? fastSine(x) : wideSine(x);
}

double sineValue(const SineForm& form, double t) {
    return canonicalNaN(sineLevel(form, sine(form.omega * t)));
}

Jump jumpOf(std::uint64_t steps) {
    // Powers of the one-step map by squaring; its period divides 2^32.
    Jump result;
    Jump power{kNoiseMultiplier, kNoiseIncrement};
    for (std::uint64_t m = steps & 0xFFFFFFFFu; m != 0; m >>= 1) {
        if ((m & 1u) != 0)
            result = Jump{power.a * result.a, power.a * result.c + power.c};
        power = Jump{power.a * power.a, power.a * power.c + power.c};
    }
    return result;
}

const Table* tableFor(Isa isa) {
    if (isa == Isa::Portable)
        return &portable::table;
#if TOLVEX_KERNELS_X86
    static const Isa available = detectIsa();
    switch (isa) {
    case Isa::Avx2:
        return available != Isa::Portable ? &avx2::table : nullptr;
    case Isa::Avx512:
        return available == Isa::Avx512 ? &avx512::table : nullptr;
    default:
        break;
    }
#endif
    return nullptr;
}

namespace {

const Table*& current() {
    static const Table* table = tableFor(detectIsa());
    return table;
}

} // namespace

const Table& active() {
    return *current();
}

bool activate(Isa isa) {
    const Table* table = tableFor(isa);
    if (table == nullptr)
        return false;
    current() = table;
    return true;
}

} // namespace tolvex::kernels
