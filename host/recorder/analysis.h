// What the recorder keeps of each channel's samples for its views: a bounded
// min/max envelope of everything received (plots), a rolling window of the
// last seconds (the scope), the summary table and the PNG plot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QImage;
class QPainter;
class QRect;

namespace recorder {

struct Bin {
    float lo = 0;
    float hi = 0;
    bool filled = false;
};

// Min/max of all samples in at most maxBins bins: when full, neighbouring bins
// merge and each bin then covers twice as many samples.
class Envelope {
public:
    explicit Envelope(std::size_t maxBins = 4096);
    void add(const float* values, std::int32_t count);
    // Complete bins, then the partly filled one (if any).
    std::vector<Bin> bins() const;
    std::uint64_t samplesPerBin() const { return span_; }
    std::uint64_t count() const { return count_; }

private:
    std::size_t maxBins_;
    std::vector<Bin> bins_;
    Bin partial_;
    std::uint64_t partialCount_ = 0;
    std::uint64_t span_ = 1;
    std::uint64_t count_ = 0;
};

// The last `seconds` of a channel in time slots of `slotSeconds`, on the
// channel's own clock: sample k at k / frequency seconds after Start.
class ScopeTrace {
public:
    explicit ScopeTrace(double frequency, double seconds = 30, double slotSeconds = 0.005);
    void add(const float* values, std::int32_t count);
    // Min/max of what fell into each of `n` equal parts of [t0, t1), in
    // seconds since Start; parts with no sample (or older than `seconds`)
    // stay empty.
    std::vector<Bin> window(double t0, double t1, int n) const;
    // The newest kept slot before t0 that holds samples, with its time: where
    // the trace comes in from the left (a slow channel's segment into the
    // window). Nothing when none is kept.
    struct Lead {
        Bin bin;
        double t = 0;
    };
    std::optional<Lead> before(double t0) const;
    double seconds() const { return seconds_; }
    std::uint64_t samples() const { return samples_; }
    float last() const { return last_; }

private:
    std::int64_t slotOf(std::uint64_t sample) const; // the slot sample k falls into
    std::uint64_t firstOfSlot(std::int64_t slot) const;

    double frequency_;
    double slotSeconds_;
    double seconds_;
    std::vector<Bin> ring_;
    std::int64_t newest_ = -1; // slot index of the newest sample
    std::uint64_t samples_ = 0;
    float last_ = 0;
};

// Tick positions from lo to hi at a 1/2/5 step, about `wanted` of them.
std::vector<double> niceTicks(double lo, double hi, int wanted);
std::string tickLabel(double value, double step);

// Draws bins as a trace into `area` with axes, tick labels and titles.
struct PlotText {
    std::string title;  // UTF-8
    std::string xLabel; // UTF-8
    std::string yLabel;
};
// Bin i is drawn at x0 + i * binWidth; the x axis runs from x0 to x1. The y
// axis spans the data (with a margin) unless a fixed range is given.
struct YRange {
    bool fixed = false;
    double lo = 0;
    double hi = 0;
};
// `leadIn`: a bin at time `leadX` before x0 that the trace comes from (its
// segment into the plot is drawn, clipped at the edge).
void drawTrace(QPainter& painter, const QRect& area, const std::vector<Bin>& bins, double x0,
               double x1, double binWidth, const PlotText& text, const YRange& range = {},
               const Bin* leadIn = nullptr, double leadX = 0);

// A PNG of everything a channel received. False (and `error` set) when the
// file cannot be written.
bool writePlot(const std::string& path, const std::string& channelName, double frequency,
               const Envelope& envelope, std::string& error);

struct ChannelSummary {
    std::string name; // UTF-8
    double frequency = 0;
    std::int32_t blockLength = 0;
    std::uint64_t received = 0;
    std::uint64_t due = 0;
    std::uint64_t blocks = 0;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
};
// Samples a channel owes for a run of that many seconds: those whose time
// k / frequency lies in [0, seconds).
std::uint64_t samplesDue(double frequency, double seconds);
// A mean with as many decimals as the samples' spread (maximum - minimum)
// makes sense of, about four significant digits of it, without trailing
// zeros: "-0.000265..." of a sine between -100 and 100 is "0". Without a
// spread, six digits.
std::string meanText(double mean, double minimum, double maximum);
std::string formatSummary(const std::vector<ChannelSummary>& rows, double seconds);

} // namespace recorder
