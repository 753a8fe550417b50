#include "platform/fpmode.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(__SSE2__)
#include <xmmintrin.h>
#define PLATFORM_HAVE_MXCSR 1
#else
#define PLATFORM_HAVE_MXCSR 0
#endif

// The x87 unit matters on 32-bit x86 only, where return values pass through
// it and the C library may compute on it.
#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define PLATFORM_HAVE_X87 1
#else
#define PLATFORM_HAVE_X87 0
#endif

namespace platform {

std::uint32_t sseControl() {
#if PLATFORM_HAVE_MXCSR
    return _mm_getcsr();
#else
    return 0;
#endif
}

void setSseControl(std::uint32_t value) {
#if PLATFORM_HAVE_MXCSR
    _mm_setcsr(value);
#else
    (void)value;
#endif
}

std::uint16_t x87Control() {
#if PLATFORM_HAVE_X87
    std::uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
#else
    return 0;
#endif
}

void setX87Control(std::uint16_t value) {
#if PLATFORM_HAVE_X87
    __asm__ __volatile__("fldcw %0" : : "m"(value));
#else
    (void)value;
#endif
}

IeeeMode::IeeeMode() noexcept {
#if PLATFORM_HAVE_MXCSR
    savedSse_ = _mm_getcsr();
    // The exception flags (bits 0 to 5) are the host's record, not its mode.
    if ((savedSse_ & ~0x3Fu) != kDefaultSseControl) {
        _mm_setcsr(kDefaultSseControl | (savedSse_ & 0x3Fu));
        restoreSse_ = true;
    }
#endif
#if PLATFORM_HAVE_X87
    savedX87_ = x87Control();
    // The masks, the precision and the rounding; the other bits are reserved.
    if ((savedX87_ & 0x0F3Fu) != (kDefaultX87Control & 0x0F3Fu)) {
        setX87Control(kDefaultX87Control);
        restoreX87_ = true;
    }
#endif
}

IeeeMode::~IeeeMode() {
    if (restoreSse_)
        setSseControl(savedSse_);
    if (restoreX87_)
        setX87Control(savedX87_);
}

} // namespace platform
