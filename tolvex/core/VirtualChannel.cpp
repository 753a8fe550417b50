#include "VirtualChannel.h"

#include "platform/com.h"
#include "platform/fpmode.h"
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
    std::int32_t length = blockLength_;
    if (channel->getproperty(CHANNEL_PROP_BLOCK_LENGTH, &value))
        length = value.lVal;
    const bool usable = length >= 1 && length <= kMaxBlockLength;
    if (!usable || length != blockLength_ || block_.size() != static_cast<std::size_t>(length)) {
        // A new block holds no samples yet; filling starts at its first slot.
        block_.clear();
        block_.shrink_to_fit();
        blockPosition_ = 0;
        if (usable)
            block_.assign(static_cast<std::size_t>(length), 0.0f);
    }
    blockLength_ = length;
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

void CVirtualChannel::Unbind() {
    hostChannel = nullptr;
    block_.clear();
    block_.shrink_to_fit();
    blockPosition_ = 0;
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
    due_ = 0;
    skipped_ = 0;
    started_ = true;
}

std::uint64_t CVirtualChannel::Advance(std::uint64_t ticks) {
    if (!started_)
        return 0;
    // The frequency changed outside a binding (a dialog); same rule.
    if (frequency != anchorFrequency_)
        anchor(produced_);
    const std::uint64_t due = dueAt(ticks);
    due_ = due > produced_ ? due : produced_;
    if (block_.empty()) {
        // No block: nothing is made, and nothing piles up for later.
        produced_ = due_;
        return 0;
    }
    // Behind by more than the limit (and by more than one sample, for the
    // slowest channels): on to the clock, the older samples never made.
    std::uint64_t limit = clockPosition(kMaxLagMs, anchorFrequency_);
    if (limit < 1)
        limit = 1;
    const std::uint64_t lag = due_ - produced_;
    if (lag <= limit)
        return 0;
    produced_ = due_;
    skipped_ += lag;
    return lag;
}

std::uint64_t CVirtualChannel::Produce(std::uint64_t most) {
    std::uint64_t n = backlog();
    if (n > most)
        n = most;
    if (n == 0 || block_.empty())
        return 0;
    // Whole runs straight into the block; each full block goes to the host.
    const double f = static_cast<double>(anchorFrequency_);
    float* const block = block_.data();
    const auto length = static_cast<std::uint64_t>(blockLength_);
    const std::uint64_t made = n;
    while (n > 0) {
        const std::uint64_t room = length - static_cast<std::uint64_t>(blockPosition_);
        const std::uint64_t m = n < room ? n : room;
        signal->fill(block + blockPosition_, produced_, static_cast<std::size_t>(m), f);
        produced_ += m;
        n -= m;
        blockPosition_ += static_cast<std::int32_t>(m);
        if (blockPosition_ == blockLength_) {
            blockPosition_ = 0;
            if (hostChannel != nullptr)
                hostChannel->putdata(block, -1);
        }
    }
    return made;
}

void CVirtualChannel::Generate() {
    const platform::IeeeMode ieee;
    Advance(platform::tickCount64());
    Produce(backlog());
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
