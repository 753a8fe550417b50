#include "analysis.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace recorder {

namespace {

void widen(Bin& bin, float v) {
    if (!bin.filled) {
        bin.lo = bin.hi = v;
        bin.filled = true;
    } else {
        bin.lo = std::min(bin.lo, v);
        bin.hi = std::max(bin.hi, v);
    }
}

// Widens `bin` by the finite values of a run: sixteen lanes side by side, a
// fraction of a nanosecond a sample. A NaN is passed over by the comparisons
// (minps and maxps answer their second operand then); a run that holds an
// infinity is taken again one value at a time, without it.
void widenRun(Bin& bin, const float* v, std::int64_t n) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    float lo = kInf;
    float hi = -kInf;
    std::int64_t i = 0;
#if defined(__SSE2__)
    __m128 l[4];
    __m128 h[4];
    for (int k = 0; k < 4; ++k) {
        l[k] = _mm_set1_ps(kInf);
        h[k] = _mm_set1_ps(-kInf);
    }
    for (; i + 16 <= n; i += 16)
        for (int k = 0; k < 4; ++k) {
            const __m128 x = _mm_loadu_ps(v + i + 4 * k);
            l[k] = _mm_min_ps(x, l[k]);
            h[k] = _mm_max_ps(x, h[k]);
        }
    float ls[16];
    float hs[16];
    for (int k = 0; k < 4; ++k) {
        _mm_storeu_ps(ls + 4 * k, l[k]);
        _mm_storeu_ps(hs + 4 * k, h[k]);
    }
    for (int k = 0; k < 16; ++k) {
        lo = ls[k] < lo ? ls[k] : lo;
        hi = hs[k] > hi ? hs[k] : hi;
    }
#endif
    for (; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
    }
    if (lo == -kInf || hi == kInf) {
        lo = kInf;
        hi = -kInf;
        for (i = 0; i < n; ++i)
            if (std::isfinite(v[i])) {
                lo = std::min(lo, v[i]);
                hi = std::max(hi, v[i]);
            }
    }
    if (lo <= hi) {
        widen(bin, lo);
        widen(bin, hi);
    }
}

Bin merged(const Bin& a, const Bin& b) {
    if (!a.filled)
        return b;
    if (!b.filled)
        return a;
    return {std::min(a.lo, b.lo), std::max(a.hi, b.hi), true};
}

} // namespace

Envelope::Envelope(std::size_t maxBins)
    : maxBins_(std::max<std::size_t>(maxBins, 2) & ~std::size_t{1}) {}

void Envelope::add(const float* values, std::int32_t count) {
    // Run by run: each run fills the partial bin up to its span at most.
    std::int64_t i = 0;
    while (i < count) {
        const auto take =
            std::min<std::int64_t>(count - i, static_cast<std::int64_t>(span_ - partialCount_));
        widenRun(partial_, values + i, take); // non-finite values are counted, not drawn
        partialCount_ += static_cast<std::uint64_t>(take);
        i += take;
        if (partialCount_ == span_) {
            bins_.push_back(partial_);
            partial_ = {};
            partialCount_ = 0;
            if (bins_.size() == maxBins_) {
                for (std::size_t k = 0; k < maxBins_ / 2; ++k)
                    bins_[k] = merged(bins_[2 * k], bins_[2 * k + 1]);
                bins_.resize(maxBins_ / 2);
                span_ *= 2;
            }
        }
    }
    count_ += static_cast<std::uint64_t>(std::max(count, 0));
}

std::vector<Bin> Envelope::bins() const {
    std::vector<Bin> out = bins_;
    if (partialCount_ > 0)
        out.push_back(partial_);
    return out;
}

ScopeTrace::ScopeTrace(double frequency, double seconds, double slotSeconds)
    : frequency_(std::max(frequency, 1e-9)), slotSeconds_(std::max(slotSeconds, 1e-6)),
      seconds_(seconds),
      ring_(static_cast<std::size_t>(std::max(1.0, std::ceil(seconds / slotSeconds_)))) {}

std::int64_t ScopeTrace::slotOf(std::uint64_t sample) const {
    return static_cast<std::int64_t>(static_cast<double>(sample) / frequency_ / slotSeconds_);
}

std::uint64_t ScopeTrace::firstOfSlot(std::int64_t slot) const {
    // An estimate from the inverse, then corrected with slotOf itself, which
    // alone decides where a sample belongs.
    const double estimate = std::ceil(static_cast<double>(slot) * slotSeconds_ * frequency_);
    auto k = static_cast<std::uint64_t>(std::max(estimate, 0.0));
    while (k > 0 && slotOf(k - 1) >= slot)
        --k;
    while (slotOf(k) < slot)
        ++k;
    return k;
}

void ScopeTrace::add(const float* values, std::int32_t count) {
    if (count <= 0)
        return;
    const auto n = static_cast<std::int64_t>(ring_.size());
    std::int64_t i = 0;
    while (i < count) {
        // The samples from here that fall into the same slot, at once.
        const std::uint64_t k = samples_ + static_cast<std::uint64_t>(i);
        const std::int64_t slot = slotOf(k);
        const std::uint64_t next = firstOfSlot(slot + 1);
        const auto run = static_cast<std::int64_t>(
            std::min<std::uint64_t>(next - k, static_cast<std::uint64_t>(count - i)));
        if (slot > newest_) {
            // Slots skipped over (slow channels) and the new one start empty.
            for (std::int64_t c = std::max(newest_ + 1, slot - n + 1); c <= slot; ++c)
                ring_[static_cast<std::size_t>(c % n)] = {};
            newest_ = slot;
        }
        widenRun(ring_[static_cast<std::size_t>(slot % n)], values + i, run);
        i += run;
    }
    samples_ += static_cast<std::uint64_t>(count);
    last_ = values[count - 1];
}

std::vector<Bin> ScopeTrace::window(double t0, double t1, int parts) const {
    std::vector<Bin> out(static_cast<std::size_t>(std::max(parts, 0)));
    if (parts <= 0 || !(t1 > t0) || newest_ < 0)
        return out;
    const auto n = static_cast<std::int64_t>(ring_.size());
    const std::int64_t oldest = std::max<std::int64_t>(0, newest_ - n + 1);
    const auto first = std::max(oldest, static_cast<std::int64_t>(std::floor(t0 / slotSeconds_)));
    const auto last = std::min(newest_, static_cast<std::int64_t>(std::ceil(t1 / slotSeconds_)));
    const double perPart = (t1 - t0) / parts;
    for (std::int64_t c = first; c <= last; ++c) {
        const Bin& b = ring_[static_cast<std::size_t>(c % n)];
        if (!b.filled)
            continue;
        const double t = static_cast<double>(c) * slotSeconds_;
        if (t < t0 || t >= t1)
            continue;
        auto j = static_cast<std::size_t>((t - t0) / perPart);
        j = std::min(j, out.size() - 1);
        out[j] = merged(out[j], b);
    }
    return out;
}

std::optional<ScopeTrace::Lead> ScopeTrace::before(double t0) const {
    if (newest_ < 0)
        return std::nullopt;
    const auto n = static_cast<std::int64_t>(ring_.size());
    const std::int64_t oldest = std::max<std::int64_t>(0, newest_ - n + 1);
    for (std::int64_t c =
             std::min(newest_, static_cast<std::int64_t>(std::ceil(t0 / slotSeconds_)));
         c >= oldest; --c) {
        const Bin& b = ring_[static_cast<std::size_t>(c % n)];
        const double t = static_cast<double>(c) * slotSeconds_;
        if (b.filled && t < t0)
            return Lead{b, t};
    }
    return std::nullopt;
}

std::vector<double> niceTicks(double lo, double hi, int wanted) {
    std::vector<double> ticks;
    if (!(hi > lo) || wanted < 1)
        return ticks;
    const double raw = (hi - lo) / wanted;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * magnitude >= raw) {
            step = m * magnitude;
            break;
        }
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1)
        ticks.push_back(k == 0 ? 0.0 : k * step);
    return ticks;
}

std::string tickLabel(double value, double step) {
    int decimals = 0;
    if (step > 0 && step < 1)
        decimals = std::min(9, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void drawTrace(QPainter& painter, const QRect& area, const std::vector<Bin>& bins, double x0,
               double x1, double binWidth, const PlotText& text, const YRange& range,
               const Bin* leadIn, double leadX) {
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height();
    const QRect plot = area.adjusted(line * 4 + 8, line * 2, -line, -(line * 2 + 8));
    painter.setPen(Qt::black);
    painter.drawText(QRect(area.left(), area.top(), area.width(), line * 2), Qt::AlignCenter,
                     QString::fromStdString(text.title));

    float lo = std::numeric_limits<float>::max();
    float hi = std::numeric_limits<float>::lowest();
    for (const Bin& b : bins)
        if (b.filled) {
            lo = std::min(lo, b.lo);
            hi = std::max(hi, b.hi);
        }
    double ylo = lo;
    double yhi = hi;
    if (range.fixed && range.hi > range.lo) {
        ylo = range.lo;
        yhi = range.hi;
    } else if (lo > hi) {
        ylo = -1;
        yhi = 1;
    } else if (!(yhi > ylo)) {
        ylo -= 1;
        yhi += 1;
    } else {
        const double pad = (yhi - ylo) * 0.05;
        ylo -= pad;
        yhi += pad;
    }
    if (!(x1 > x0))
        x1 = x0 + 1;
    auto px = [&](double x) { return plot.left() + (x - x0) / (x1 - x0) * plot.width(); };
    auto py = [&](double y) { return plot.bottom() - (y - ylo) / (yhi - ylo) * plot.height(); };

    // Grid and tick labels.
    painter.setPen(QPen(QColor(220, 220, 220), 1));
    const auto xt = niceTicks(x0, x1, std::max(2, plot.width() / 90));
    const auto yt = niceTicks(ylo, yhi, std::max(3, plot.height() / 30));
    const double xs = xt.size() > 1 ? xt[1] - xt[0] : 1;
    const double ys = yt.size() > 1 ? yt[1] - yt[0] : 1;
    for (double x : xt)
        painter.drawLine(QPointF(px(x), plot.top()), QPointF(px(x), plot.bottom()));
    for (double y : yt)
        painter.drawLine(QPointF(plot.left(), py(y)), QPointF(plot.right(), py(y)));
    painter.setPen(Qt::black);
    painter.drawRect(plot);
    for (double x : xt) {
        const QString label = QString::fromStdString(tickLabel(x, xs));
        painter.drawText(QRectF(px(x) - 50, plot.bottom() + 4, 100, line), Qt::AlignCenter, label);
    }
    for (double y : yt) {
        const QString label = QString::fromStdString(tickLabel(y, ys));
        painter.drawText(QRectF(area.left(), py(y) - line / 2.0, line * 4 + 2, line),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }
    painter.drawText(QRect(plot.left(), plot.bottom() + line + 6, plot.width(), line),
                     Qt::AlignCenter, QString::fromStdString(text.xLabel));
    painter.save();
    painter.translate(area.left() + line / 2.0, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, -line / 2, plot.height(), line), Qt::AlignCenter,
                     QString::fromStdString(text.yLabel));
    painter.restore();

    // The trace: each bin a vertical stroke from its minimum to its maximum,
    // consecutive bins joined.
    painter.setClipRect(plot);
    painter.setPen(QPen(QColor(20, 90, 200), 1.2));
    QPointF previous;
    bool havePrevious = false;
    if (leadIn != nullptr && leadIn->filled) {
        previous = QPointF(px(leadX), (py(leadIn->hi) + py(leadIn->lo)) / 2);
        havePrevious = true;
    }
    for (std::size_t i = 0; i < bins.size(); ++i) {
        const Bin& b = bins[i];
        if (!b.filled) {
            continue;
        }
        const double x = px(x0 + static_cast<double>(i) * binWidth);
        const QPointF top(x, py(b.hi));
        const QPointF bottom(x, py(b.lo));
        if (havePrevious)
            painter.drawLine(previous, QPointF(x, (top.y() + bottom.y()) / 2));
        painter.drawLine(top, bottom);
        if (top == bottom)
            painter.drawPoint(top);
        previous = QPointF(x, (top.y() + bottom.y()) / 2);
        havePrevious = true;
    }
    painter.setClipping(false);
}

bool writePlot(const std::string& path, const std::string& channelName, double frequency,
               const Envelope& envelope, std::string& error) {
    QImage image(1200, 480, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font("DejaVu Sans");
        font.setPixelSize(14);
        painter.setFont(font);
        char freq[64];
        std::snprintf(freq, sizeof freq, "%.10g Hz, %llu samples", frequency,
                      static_cast<unsigned long long>(envelope.count()));
        PlotText text{channelName + " \xE2\x80\x94 " + freq, "time, s", "value"};
        // Sample k at k / frequency: the axis ends at the last sample.
        const double f = frequency > 0 ? frequency : 1;
        const double last =
            envelope.count() > 1 ? static_cast<double>(envelope.count() - 1) / f : 1 / f;
        drawTrace(painter, image.rect().adjusted(8, 8, -8, -8), envelope.bins(), 0.0, last,
                  static_cast<double>(envelope.samplesPerBin()) / f, text);
    }
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::uint64_t samplesDue(double frequency, double seconds) {
    if (!(frequency > 0) || !(seconds > 0))
        return 0;
    return static_cast<std::uint64_t>(std::ceil(frequency * seconds - 1e-9));
}

std::string meanText(double mean, double minimum, double maximum) {
    char text[64];
    const double spread = maximum - minimum;
    if (!(spread > 0) || !std::isfinite(spread) || !std::isfinite(mean)) {
        std::snprintf(text, sizeof text, "%.6g", mean);
        return text;
    }
    const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(spread * 1e-4))), 0, 9);
    std::snprintf(text, sizeof text, "%.*f", decimals, mean);
    std::string out = text;
    // No trailing zeros; rounded to nothing, no sign either.
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.')
            out.pop_back();
    }
    if (out.front() == '-' && out.find_first_not_of("-0.") == std::string::npos)
        out.erase(0, 1);
    return out;
}

std::string formatSummary(const std::vector<ChannelSummary>& rows, double seconds) {
    const std::vector<std::string> head = {"channel", "frequency, Hz", "block", "received", "due",
                                           "blocks",  "min",           "max",   "mean"};
    std::vector<std::vector<std::string>> cells;
    auto num = [](double v, const char* format) {
        char text[48];
        std::snprintf(text, sizeof text, format, v);
        return std::string(text);
    };
    for (const ChannelSummary& r : rows) {
        const bool any = r.received > 0;
        cells.push_back({r.name, num(r.frequency, "%.10g"), std::to_string(r.blockLength),
                         std::to_string(r.received), std::to_string(r.due),
                         std::to_string(r.blocks), any ? num(r.minimum, "%.6g") : "-",
                         any ? num(r.maximum, "%.6g") : "-", any ? num(r.mean, "%.6g") : "-"});
    }
    auto width = [](const std::string& s) {
        return static_cast<int>(QString::fromStdString(s).size());
    };
    std::vector<int> widths;
    for (const auto& h : head)
        widths.push_back(width(h));
    for (const auto& row : cells)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], width(row[c]));
    std::string out;
    char line[96];
    std::snprintf(line, sizeof line, "Recorder ran %.3f s; %zu channel(s)\n", seconds, rows.size());
    out += line;
    auto emitRow = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(static_cast<std::size_t>(widths[c] - width(row[c])), ' ');
            out += c == 0 ? row[c] + pad : "  " + pad + row[c];
        }
        out += "\n";
    };
    emitRow(head);
    int total = 0;
    for (int w : widths)
        total += w + 2;
    out += std::string(static_cast<std::size_t>(total - 2), '-') + "\n";
    for (const auto& row : cells)
        emitRow(row);
    if (!rows.empty())
        out += "due: the samples whose time k/F falls within the run (k = 0 ... ceil(F*T) - 1).\n"
               "A module hands over whole blocks at each of its generation steps, so received\n"
               "may fall short of due by up to a block and a step's worth of samples, and by\n"
               "the samples still owed or skipped when it could not keep up (it says so in the "
               "log).\n";
    return out;
}

} // namespace recorder
