// A mono 32-bit float WAVE file written block by block, in one fixed layout:
//
//   RIFF <size> WAVE            (RF64 -1 WAVE past 4 GiB)
//   JUNK 28 <zeros>             (ds64 28 <RIFF, data and sample counts> past 4 GiB)
//   fmt  18 WAVE_FORMAT_IEEE_FLOAT, cbSize 0
//   fact 4  <samples>
//   PEAK 16 <version 1, time, peak value, its sample>
//   data <size> <samples>
//
// The header is rewritten whole (one write of its 118 bytes) after every
// block, so that a file cut short by a crash or a kill is readable and
// declares exactly the samples it holds. The format tag is IEEE float itself,
// with the cbSize every format but PCM carries, rather than
// WAVE_FORMAT_EXTENSIBLE: common audio tools warn about a missing fmt
// extension on every extensible float file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace recorder {

class ByteFile;

class WavWriter {
public:
    static constexpr std::int64_t kHeaderBytes = 118;
    using Header = std::array<unsigned char, kHeaderBytes>;

    // The header of a file of `frames` samples whose largest magnitude is
    // `peak`, first met at sample `peakAt`; RF64 when the file does not fit
    // the 32-bit sizes of plain WAVE.
    static Header header(std::uint32_t rate, std::uint64_t frames, float peak, std::uint64_t peakAt,
                         std::uint32_t time);

    WavWriter(ByteFile& file, std::uint32_t rate);
    // Writes the header of the empty file; false on a failure (file.error()).
    bool begin();
    // Appends samples, then the header that declares them. On a failure the
    // header still declares what was there before.
    bool append(const float* samples, std::size_t count);
    // Cuts the file to its first `frames` samples (fewer than it holds, or as
    // many): header, peak and size brought down to them. Nothing grows, so
    // this works on a full disk.
    bool cut(std::uint64_t frames);

    std::uint64_t frames() const { return frames_; }
    float peak() const { return peak_; }
    bool rf64() const { return needsRf64(frames_); }
    static bool needsRf64(std::uint64_t frames);

private:
    bool writeHeader();

    struct Mark {
        std::uint64_t start; // the first sample of a block
        float peak;          // the peak before it
        std::uint64_t peakAt;
    };

    ByteFile& file_;
    std::uint32_t rate_;
    std::uint32_t time_;
    std::uint64_t frames_ = 0;
    float peak_ = 0;
    std::uint64_t peakAt_ = 0;
    std::vector<Mark> marks_; // of the last blocks, for a cut
};

} // namespace recorder
