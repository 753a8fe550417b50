// A block's bookkeeping for the host channel's statistics.
#pragma once

#include "host/host.h"

#include <cstdint>

namespace host {

// Adds n samples (n >= 1) to the minimum, maximum and sum.
void addToStats(ChannelStats& stats, const float* block, std::int32_t n);

} // namespace host
