// A virtual channel: a named stream of samples at a fixed frequency whose
// values come from its signal, handed to its host channel in blocks.
//
// Clock positions are exact: the samples due by tick T are
// floor(T * F / 1000) - floor(T0 * F / 1000), T0 the tick at Start and F the
// channel's 32-bit frequency, computed in integers from the float's mantissa
// and exponent on the 64-bit tick source, so generation neither drifts nor
// stalls at any uptime. The k-th sample since Start has t = k / F.
#pragma once

#include "Utypes.h"

#include "plugin_api/recorder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvex {

class CVirtualChannel {
public:
    explicit CVirtualChannel(std::string name); // frequency 0, a default sine
    CVirtualChannel(const CVirtualChannel&) = delete;
    CVirtualChannel& operator=(const CVirtualChannel&) = delete;

    std::string name;       // 1251
    float frequency = 0.0f; // samples per second
    std::unique_ptr<Signal> signal;
    IRecorderChannel* hostChannel = nullptr; // not counted

    // Takes the host channel's block length and frequency and makes the block.
    void Bind(IRecorderChannel* channel);
    // Re-bases generation on the current clock; time restarts at 0.
    void Start();
    // Makes the samples due on the clock since the last step; allocates nothing.
    void Generate();
    // Sends the signal's display limits to the host channel.
    void SendRange();
    // Opens the channel properties dialog; true when confirmed.
    bool Edit();

    std::int32_t blockLength() const { return blockLength_; }
    std::int32_t blockPosition() const { return blockPosition_; }
    const std::vector<float>& block() const { return block_; }
    // Samples made since the last Start.
    std::uint64_t producedSinceStart() const { return produced_; }

    // Longest block a host may ask for; a longer one (or one below 1) leaves
    // the channel without a block.
    static constexpr std::int32_t kMaxBlockLength = 1 << 24;
    // Most samples one generation step makes; the positions beyond it (the
    // user-interface thread stalled for over a minute at 216000 Hz, or an
    // absurd host frequency) are skipped so that a step always ends.
    static constexpr std::uint64_t kMaxSamplesPerStep = 1u << 24;

private:
    // Samples due at tick `ticks` since the anchor, exactly.
    std::uint64_t dueAt(std::uint64_t ticks) const;
    // Anchors the clock now at the current frequency, `count` samples due.
    void anchor(std::uint64_t count);

    std::int32_t blockLength_ = 0;
    std::int32_t blockPosition_ = 0;
    std::vector<float> block_;
    // Clock anchor: at tick anchorTick_ (clock-scale position anchorPosition_
    // = floor(anchorTick_ * frequency / 1000)) anchorCount_ samples were due.
    std::uint64_t anchorTick_ = 0;
    std::uint64_t anchorPosition_ = 0;
    std::uint64_t anchorCount_ = 0;
    float anchorFrequency_ = 0.0f;
    std::uint64_t produced_ = 0; // samples made since Start
    bool started_ = false;
};

// The channel properties dialog, reached through this seam so that the core
// knows nothing of windows; the forms layer installs it. Without one, Edit
// answers false (cancelled).
using ChannelEditor = bool (*)(CVirtualChannel& channel);
void setChannelEditor(ChannelEditor editor);

// floor(ticks * frequency / 1000) without rounding; 0 for a frequency that is
// not a positive number, saturated at the top of the 64-bit range.
std::uint64_t clockPosition(std::uint64_t ticks, float frequency);

} // namespace tolvex
