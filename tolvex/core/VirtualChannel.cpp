#include "VirtualChannel.h"

#include "platform/com.h"
#include "platform/ticks.h"
#include "platform/uint128.h"

#include <cmath>
#include <limits>

namespace tolvex {

namespace {

ChannelEditor gChannelEditor = nullptr;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

} // namespace

void setChannelEditor(ChannelEditor editor) {
    gChannelEditor = editor;
}

std::uint64_t clockPosition(std::uint64_t ticks, float frequency) {
    if (!(frequency > 0.0f) || ticks == 0)
        return 0;
    if (std::isinf(frequency))
        return kU64Max;
    // frequency = mantissa * 2^exponent with a 24-bit integer mantissa.
    int exponent = 0;
    const float fraction = std::frexp(frequency, &exponent); // [0.5, 1)
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 24));
    exponent -= 24;
    const platform::UInt128 product = platform::multiply(ticks, mantissa); // below 2^88
    platform::UInt128 position;
    if (exponent >= 0) {
        if (exponent >= 40)
            return kU64Max;
        position =
            platform::divide(platform::shiftLeft(product, static_cast<unsigned>(exponent)), 1000u);
    } else {
        // floor(floor(a / 1000) / 2^k) = floor(a / (1000 * 2^k))
        position = platform::shiftRight(platform::divide(product, 1000u),
                                        static_cast<unsigned>(-exponent));
    }
    return position.hi != 0 ? kU64Max : position.lo;
}

CVirtualChannel::CVirtualChannel(std::string channelName)
    : name(std::move(channelName)), signal(std::make_unique<SineSignal>()) {}

void CVirtualChannel::Bind(IRecorderChannel* channel) {
    hostChannel = channel;
    if (channel == nullptr)
        return;
    VARIANT value;
    platform::VariantInit(&value);
    if (channel->getproperty(CHANNEL_PROP_BLOCK_LENGTH, &value))
        blockLength_ = value.lVal;
    // The new block holds no samples yet; filling starts at its first slot.
    block_.clear();
    block_.shrink_to_fit();
    blockPosition_ = 0;
    if (blockLength_ >= 1 && blockLength_ <= kMaxBlockLength)
        block_.assign(static_cast<std::size_t>(blockLength_), 0.0f);
    frequency = roundToFloat(channel->getfrequency());
    platform::VariantClear(&value);

    // A new frequency while generating: the count made so far stays, and the
    // clock is read at the new rate from now on.
    if (started_ && frequency != anchorFrequency_)
        anchor(produced_);
}

void CVirtualChannel::anchor(std::uint64_t count) {
    anchorTick_ = platform::tickCount64();
    anchorFrequency_ = frequency;
    anchorPosition_ = clockPosition(anchorTick_, frequency);
    anchorCount_ = count;
}

std::uint64_t CVirtualChannel::dueAt(std::uint64_t ticks) const {
    if (ticks < anchorTick_)
        return anchorCount_;
    return anchorCount_ + (clockPosition(ticks, anchorFrequency_) - anchorPosition_);
}

void CVirtualChannel::Start() {
    blockPosition_ = 0;
    anchor(0);
    produced_ = 0;
    started_ = true;
}

void CVirtualChannel::Generate() {
    if (!started_)
        return;
    // The frequency changed outside a binding (a dialog); same rule.
    if (frequency != anchorFrequency_)
        anchor(produced_);
    const std::uint64_t due = dueAt(platform::tickCount64());
    if (due <= produced_)
        return;
    std::uint64_t n = due - produced_;
    if (block_.empty()) {
        // No block: nothing is made, and nothing piles up for later.
        produced_ = due;
        return;
    }
    if (n > kMaxSamplesPerStep) {
        produced_ = due - kMaxSamplesPerStep;
        n = kMaxSamplesPerStep;
    }
    const double f = static_cast<double>(frequency);
    float* const block = block_.data();
    const std::int32_t length = blockLength_;
    for (std::uint64_t i = 0; i < n; ++i) {
        const float t = roundToFloat(static_cast<double>(produced_ + i) * 1.0 / f);
        block[blockPosition_] = roundToFloat(signal->value(t));
        if (++blockPosition_ == length) {
            blockPosition_ = 0;
            if (hostChannel != nullptr)
                hostChannel->putdata(block, -1);
        }
    }
    produced_ += n;
}

void CVirtualChannel::SendRange() {
    if (hostChannel == nullptr)
        return;
    float upper = 0.0f;
    float lower = 0.0f;
    signal->range(upper, lower);
    VARIANT value;
    platform::VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = lower;
    hostChannel->setproperty(CHANNEL_PROP_DISPLAY_LOWER, value);
    platform::VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = upper;
    hostChannel->setproperty(CHANNEL_PROP_DISPLAY_UPPER, value);
}

bool CVirtualChannel::Edit() {
    if (gChannelEditor == nullptr)
        return false;
    if (!gChannelEditor(*this))
        return false;
    SendRange();
    return true;
}

} // namespace tolvex
