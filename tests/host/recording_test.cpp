// The recorder's recording files and the views' data: written, failed and
// read back.
#include "analysis.h"
#include "recording.h"

#include "host/host.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using recorder::Recording;

namespace {

struct Channels {
    host::Host host;
    host::HostChannel* a = host.addChannel("Alpha", 1000);
    host::HostChannel* b = host.addChannel("\xC1\xE5\xF2\xE0", 2.5); // Бета
};

std::vector<float> ramp(int n, float from) {
    std::vector<float> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = from + static_cast<float>(i) * 0.25f;
    return v;
}

std::vector<float> readChannel(const std::string& folder, const recorder::RecordedChannel& c) {
    std::vector<float> all;
    for (const std::string& f : c.files) {
        std::string error;
        EXPECT_TRUE(recorder::readWavSamples(folder + "/" + f, all, nullptr, error)) << error;
    }
    return all;
}

} // namespace

TEST(Recording, WhatIsWrittenReadsBackWithItsManifest) {
    QTemporaryDir dir;
    Channels ch;
    Recording rec(dir.path().toStdString(), "run");
    rec.setMaxFileBytes(40); // ten samples a file: parts roll over
    ASSERT_TRUE(rec.open());
    const auto x = ramp(25, -3), y = ramp(4, 7);
    rec.write(*ch.a, x.data(), 25);
    rec.write(*ch.b, y.data(), 4);
    rec.write(*ch.a, y.data(), 4);
    rec.flush(); // headers and manifest up to date while files are open
    recorder::RecordedRun midway;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), midway, error)) << error;
    EXPECT_EQ(midway.channels.at(0).samples, 29u);
    rec.setRunSeconds(1.5);
    rec.close();

    recorder::RecordedRun run;
    ASSERT_TRUE(recorder::readManifest(dir.path().toStdString() + "/run/run.kova", run, error));
    EXPECT_EQ(run.name, "run");
    EXPECT_DOUBLE_EQ(run.seconds, 1.5);
    ASSERT_EQ(run.channels.size(), 2u);
    EXPECT_EQ(run.channels[0].name, "Alpha");
    EXPECT_EQ(run.channels[1].name, "Бета");
    EXPECT_EQ(run.channels[1].frequency, 2.5); // exact, though the WAV rate is whole
    EXPECT_EQ(run.channels[0].files.size(), 3u);
    std::vector<float> expected = x;
    expected.insert(expected.end(), y.begin(), y.end());
    EXPECT_EQ(readChannel(rec.folder(), run.channels[0]), expected);
    EXPECT_EQ(readChannel(rec.folder(), run.channels[1]), y);
    std::uint32_t rate = 0;
    std::vector<float> part;
    ASSERT_TRUE(recorder::readWavSamples(rec.folder() + "/ch001.wav", part, &rate, error));
    EXPECT_EQ(rate, 3u);
}

TEST(Recording, AnUnwritableFolderOrAFullDiskIsReportedOnceAndDropsNothingElse) {
    QTemporaryDir dir;
    Channels ch;
    const std::string file = dir.filePath("plain-file").toStdString();
    std::ofstream(file) << "x";
    {
        Recording rec(file + "/sub", "run"); // a folder inside a file cannot exist
        std::vector<std::string> reports;
        rec.setErrorHandler([&](const std::string& m) { reports.push_back(m); });
        EXPECT_FALSE(rec.open());
        EXPECT_TRUE(rec.failed());
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find("cannot create the recording folder"), std::string::npos);
        const auto v = ramp(3, 0);
        rec.write(*ch.a, v.data(), 3); // harmless
    }
    {
        Recording rec(dir.path().toStdString(), "full",
                      [](const std::string&) { return std::fopen("/dev/full", "wb"); });
        std::vector<std::string> reports;
        rec.setErrorHandler([&](const std::string& m) { reports.push_back(m); });
        ASSERT_TRUE(rec.open());
        const auto v = ramp(2000, 0);
        for (int i = 0; i < 5; ++i)
            rec.write(*ch.a, v.data(), 2000);
        rec.flush();
        rec.close();
        EXPECT_TRUE(rec.failed());
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find("No space left"), std::string::npos) << reports[0];
        std::ifstream manifest(rec.manifestPath());
        std::string text((std::istreambuf_iterator<char>(manifest)), {});
        EXPECT_NE(text.find("status=incomplete"), std::string::npos);
    }
}

TEST(Recording, FreeNamesAndForeignManifests) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    EXPECT_EQ(Recording::freeName(d, "run"), "run");
    QDir(dir.path()).mkdir("run");
    QDir(dir.path()).mkdir("run-2");
    EXPECT_EQ(Recording::freeName(d, "run"), "run-3");
    std::ofstream(d + "/other.kova") << "[recording]\nformat=something else\n";
    recorder::RecordedRun run;
    std::string error;
    EXPECT_FALSE(recorder::readManifest(d + "/other.kova", run, error));
    EXPECT_FALSE(recorder::readManifest(d + "/missing.kova", run, error));
    std::vector<float> out;
    EXPECT_FALSE(recorder::readWavSamples(d + "/other.kova", out, nullptr, error));
}

TEST(RecorderViews, EnvelopeKeepsTheExtremesOfEverythingInBoundedBins) {
    recorder::Envelope e(8);
    std::vector<float> v(1000);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(std::sin(static_cast<double>(i) * 0.05) * 10);
    v[517] = 99;
    v[3] = -42;
    e.add(v.data(), 600);
    e.add(v.data() + 600, 400);
    EXPECT_EQ(e.count(), 1000u);
    const auto bins = e.bins();
    EXPECT_LE(bins.size(), 9u);
    float lo = 1e9f, hi = -1e9f;
    std::uint64_t covered = 0;
    for (const auto& b : bins) {
        ASSERT_TRUE(b.filled);
        lo = std::min(lo, b.lo);
        hi = std::max(hi, b.hi);
    }
    covered = (bins.size() - 1) * e.samplesPerBin();
    EXPECT_LE(covered, 1000u);
    EXPECT_EQ(hi, 99.0f);
    EXPECT_EQ(lo, -42.0f);
    // The spike lands in the bin its position belongs to.
    EXPECT_EQ(bins[517 / e.samplesPerBin()].hi, 99.0f);
}

TEST(RecorderViews, ScopeShowsOnlyTheLastSeconds) {
    recorder::ScopeTrace s(10, 2, 20); // one sample a column
    std::vector<float> v(50);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(i);
    s.add(v.data(), 50);
    const auto cols = s.columns();
    ASSERT_EQ(cols.size(), 20u);
    EXPECT_EQ(cols.front().lo, 30.0f);
    EXPECT_EQ(cols.back().hi, 49.0f);
    recorder::ScopeTrace slow(1, 10, 100); // ten columns a sample: gaps stay empty
    slow.add(v.data(), 3);
    const auto sc = slow.columns();
    int filled = 0;
    for (const auto& b : sc)
        filled += b.filled ? 1 : 0;
    EXPECT_EQ(filled, 3);
    EXPECT_TRUE(sc.back().filled == false || sc.back().hi == 2.0f);
}

TEST(RecorderViews, SummaryAndDueSamples) {
    EXPECT_EQ(recorder::samplesDue(216000, 2.0), 432000u);
    EXPECT_EQ(recorder::samplesDue(1, 2.999), 2u);
    EXPECT_EQ(recorder::samplesDue(0.5, 3), 1u);
    EXPECT_EQ(recorder::samplesDue(1000, -1), 0u);
    recorder::ChannelSummary a{"Сумма трёх", 8000, 800, 16000, 16123, 20, -5, 5, 0.25};
    recorder::ChannelSummary b{"x", 1, 1, 0, 2, 0, 0, 0, 0};
    const std::string text = recorder::formatSummary({a, b}, 2.0156);
    EXPECT_NE(text.find("Recorder ran 2.016 s; 2 channel(s)"), std::string::npos);
    EXPECT_NE(text.find("Сумма трёх"), std::string::npos);
    EXPECT_NE(text.find("16123"), std::string::npos);
    // A channel that received nothing shows no statistics.
    const auto last = text.substr(text.rfind("\nx") + 1);
    EXPECT_NE(last.find(" -"), std::string::npos);
    const auto ticks = recorder::niceTicks(0, 1, 5);
    ASSERT_EQ(ticks.size(), 6u);
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_NEAR(ticks[i], 0.2 * static_cast<double>(i), 1e-12);
    EXPECT_EQ(recorder::tickLabel(0.4, 0.2), "0.4");
}
