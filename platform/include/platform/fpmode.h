// The processor's floating-point mode. A host may leave it in another mode
// than IEEE's default (flush-to-zero, denormals-are-zero, another rounding,
// exceptions unmasked, as audio programs often do); samples are the same bits
// whatever it set, so the module computes in the default mode and gives the
// host's mode back before it returns.
#pragma once

#include <cstdint>

namespace platform {

// While it lives, the calling thread computes in the default mode: on x86
// MXCSR 0x1F80 (round to nearest, every exception masked, no flushing) and,
// on 32-bit x86, the x87 control word 0x037F. Its end restores the mode found.
// Elsewhere it changes nothing.
class IeeeMode {
public:
    IeeeMode() noexcept;
    ~IeeeMode();
    IeeeMode(const IeeeMode&) = delete;
    IeeeMode& operator=(const IeeeMode&) = delete;

private:
    std::uint32_t savedSse_ = 0;
    std::uint16_t savedX87_ = 0;
    bool restoreSse_ = false;
    bool restoreX87_ = false;
};

// The raw control registers (tests): MXCSR and the x87 control word; 0 and no
// effect where the processor has none.
std::uint32_t sseControl();
void setSseControl(std::uint32_t value);
std::uint16_t x87Control();
void setX87Control(std::uint16_t value);

inline constexpr std::uint32_t kDefaultSseControl = 0x1F80;
inline constexpr std::uint16_t kDefaultX87Control = 0x037F;

} // namespace platform
