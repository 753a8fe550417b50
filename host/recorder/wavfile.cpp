#include "wavfile.h"

#include "recording.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace recorder {

namespace {

constexpr std::size_t kMarks = 64;
constexpr std::uint64_t kBeforeData = WavWriter::kHeaderBytes - 8; // RIFF size without data

void put(unsigned char* at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}

void tag(unsigned char* at, const char* four) {
    std::memcpy(at, four, 4);
}

float magnitude(float v) {
    return std::isnan(v) ? 0.0f : std::fabs(v);
}

float largestMagnitude(const float* samples, std::size_t count) {
    constexpr std::size_t kLanes = 16;
    float lanes[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        for (std::size_t k = 0; k < kLanes; ++k) {
            const float m = std::fabs(samples[i + k]);
            lanes[k] = m > lanes[k] ? m : lanes[k];
        }
    float largest = 0;
    for (const float m : lanes)
        largest = m > largest ? m : largest;
    for (; i < count; ++i) {
        const float m = std::fabs(samples[i]);
        largest = m > largest ? m : largest;
    }
    return largest;
}

} // namespace

bool WavWriter::needsRf64(std::uint64_t frames) {
    return kBeforeData + frames * 4 > UINT32_MAX;
}

WavWriter::Header WavWriter::header(std::uint32_t rate, std::uint64_t frames, float peak,
                                    std::uint64_t peakAt, std::uint32_t time) {
    Header h{};
    unsigned char* p = h.data();
    const std::uint64_t data = frames * 4;
    const std::uint64_t riff = kBeforeData + data;
    const bool big = needsRf64(frames);
    tag(p, big ? "RF64" : "RIFF");
    put(p + 4, big ? UINT32_MAX : riff, 4);
    tag(p + 8, "WAVE");
    // Room for the 64-bit sizes from the start: a JUNK chunk that becomes
    // ds64 (no table) when the file turns RF64.
    tag(p + 12, big ? "ds64" : "JUNK");
    put(p + 16, 28, 4);
    if (big) {
        put(p + 20, riff, 8);
        put(p + 28, data, 8);
        put(p + 36, frames, 8);
        put(p + 44, 0, 4);
    }
    tag(p + 48, "fmt ");
    put(p + 52, 18, 4);
    put(p + 56, 3, 2); // WAVE_FORMAT_IEEE_FLOAT
    put(p + 58, 1, 2); // one channel
    put(p + 60, rate, 4);
    put(p + 64, static_cast<std::uint64_t>(rate) * 4, 4); // bytes a second
    put(p + 68, 4, 2);                                    // bytes a frame
    put(p + 70, 32, 2);                                   // bits a sample
    put(p + 72, 0, 2);                                    // cbSize: no extension
    tag(p + 74, "fact");
    put(p + 78, 4, 4);
    put(p + 82, std::min<std::uint64_t>(frames, UINT32_MAX), 4);
    tag(p + 86, "PEAK");
    put(p + 90, 16, 4);
    put(p + 94, 1, 4); // version
    put(p + 98, time, 4);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &peak, 4);
    put(p + 102, bits, 4);
    put(p + 106, std::min<std::uint64_t>(peakAt, UINT32_MAX), 4);
    tag(p + 110, "data");
    put(p + 114, big ? UINT32_MAX : data, 4);
    return h;
}

WavWriter::WavWriter(ByteFile& file, std::uint32_t rate)
    : file_(file), rate_(rate), time_(static_cast<std::uint32_t>(std::time(nullptr))) {}

bool WavWriter::writeHeader() {
    const Header h = header(rate_, frames_, peak_, peakAt_, time_);
    return file_.seek(0, SEEK_SET) == 0 && file_.write(h.data(), kHeaderBytes) == kHeaderBytes;
}

bool WavWriter::begin() {
    return writeHeader();
}

bool WavWriter::append(const float* samples, std::size_t count) {
    if (count == 0)
        return true;
    const auto end = kHeaderBytes + static_cast<std::int64_t>(frames_ * 4);
    const auto bytes = static_cast<std::int64_t>(count * 4);
    if (file_.seek(end, SEEK_SET) != end || file_.write(samples, bytes) != bytes)
        return false;
    if (marks_.size() >= kMarks)
        marks_.erase(marks_.begin());
    marks_.push_back({frames_, peak_, peakAt_});
    // The block's largest magnitude first, in a loop without branches that
    // the compiler vectorises (a NaN never wins a comparison); its first
    // sample only when it beats the peak so far.
    const float largest = largestMagnitude(samples, count);
    if (largest > peak_) {
        std::size_t i = 0;
        while (magnitude(samples[i]) != largest)
            ++i;
        peak_ = largest;
        peakAt_ = frames_ + i;
    }
    frames_ += count;
    return writeHeader();
}

bool WavWriter::cut(std::uint64_t frames) {
    if (frames < frames_) {
        // The peak of what stays: the one before the last block that begins
        // at or below the cut, and that block's samples below it.
        Mark from{0, 0.0f, 0};
        for (auto it = marks_.rbegin(); it != marks_.rend(); ++it)
            if (it->start <= frames) {
                from = *it;
                break;
            }
        float peak = from.peak;
        std::uint64_t peakAt = from.peakAt;
        std::vector<float> part(65536);
        for (std::uint64_t at = from.start; at < frames;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(part.size(), frames - at));
            const auto offset = kHeaderBytes + static_cast<std::int64_t>(at * 4);
            const auto bytes = static_cast<std::int64_t>(n * 4);
            if (file_.seek(offset, SEEK_SET) != offset || file_.read(part.data(), bytes) != bytes)
                return false;
            for (std::size_t i = 0; i < n; ++i) {
                const float m = magnitude(part[i]);
                if (m > peak) {
                    peak = m;
                    peakAt = at + i;
                }
            }
            at += n;
        }
        frames_ = frames;
        peak_ = peak;
        peakAt_ = peakAt;
        std::erase_if(marks_, [frames](const Mark& m) { return m.start >= frames; });
    }
    return writeHeader() && file_.truncate(kHeaderBytes + static_cast<std::int64_t>(frames_ * 4));
}

} // namespace recorder
