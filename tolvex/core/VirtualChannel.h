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

    // Takes the host channel's block length and frequency and makes the block;
    // a block of the same length keeps the samples waiting in it.
    void Bind(IRecorderChannel* channel);
    // No host channel and no block: the host no longer has a channel of this name.
    void Unbind();
    // Re-bases generation on the current clock; time restarts at 0.
    void Start();
    // The channel's part of a generation step, in two halves so that a step
    // across many channels can share out its time: Advance reads the clock at
    // `ticks` and answers the samples it skipped (a channel more than
    // kMaxLagMs behind its clock jumps to it); Produce then makes up to `most`
    // of the samples due and not yet made, in order, and answers how many.
    // Neither allocates.
    std::uint64_t Advance(std::uint64_t ticks);
    std::uint64_t Produce(std::uint64_t most);
    // Samples due at the last Advance and not yet made.
    std::uint64_t backlog() const { return due_ - produced_; }
    // Advance to the clock now and Produce all: one channel, without a bound.
    void Generate();
    // Sends the signal's display limits to the host channel.
    void SendRange();
    // Opens the channel properties dialog; true when confirmed.
    bool Edit();

    std::int32_t blockLength() const { return blockLength_; }
    std::int32_t blockPosition() const { return blockPosition_; }
    const std::vector<float>& block() const { return block_; }
    // Samples made (or skipped) since the last Start: the index of the next one.
    std::uint64_t producedSinceStart() const { return produced_; }
    // Samples skipped since the last Start because the channel fell behind.
    std::uint64_t skippedSinceStart() const { return skipped_; }

    // Longest block a host may ask for; a longer one (or one below 1) leaves
    // the channel without a block.
    static constexpr std::int32_t kMaxBlockLength = 1 << 24;
    // How far a channel may fall behind its clock before it skips ahead: a
    // machine that catches up within it loses nothing, and one that cannot
    // keep up never owes more than this.
    static constexpr std::uint64_t kMaxLagMs = 2000;

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
    std::uint64_t produced_ = 0; // samples made or skipped since Start
    std::uint64_t due_ = 0;      // samples due at the last Advance
    std::uint64_t skipped_ = 0;  // samples skipped since Start
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
