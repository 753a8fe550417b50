// A virtual channel: a named stream of samples at a fixed frequency whose
// values come from its signal, handed to its host channel in blocks.
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
    std::uint64_t producedSinceStart() const { return produced_ - startPosition_; }

private:
    std::int32_t blockLength_ = 0;
    std::int32_t blockPosition_ = 0;
    std::vector<float> block_;
    std::uint64_t startPosition_ = 0; // clock-scale position at Start
    std::uint64_t produced_ = 0;      // clock-scale position produced up to
    bool started_ = false;
};

// The channel properties dialog, reached through this seam so that the core
// knows nothing of windows; the forms layer installs it. Without one, Edit
// answers false (cancelled).
using ChannelEditor = bool (*)(CVirtualChannel& channel);
void setChannelEditor(ChannelEditor editor);

} // namespace tolvex
