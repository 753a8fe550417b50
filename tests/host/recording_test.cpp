// The recorder's recording files and the views' data: written, failed and
// read back.
#include "analysis.h"
#include "recording.h"
#include "wavfile.h"

#include "host/host.h"
#include "platform/wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>

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

// A file that passes everything to another; the fakes below change a part.
class PassingFile : public recorder::ByteFile {
public:
    explicit PassingFile(std::unique_ptr<recorder::ByteFile> file) : file_(std::move(file)) {}
    std::int64_t write(const void* data, std::int64_t bytes) override {
        return file_->write(data, bytes);
    }
    std::int64_t read(void* data, std::int64_t bytes) override { return file_->read(data, bytes); }
    std::int64_t seek(std::int64_t offset, int whence) override {
        return file_->seek(offset, whence);
    }
    std::int64_t position() override { return file_->position(); }
    std::int64_t size() override { return file_->size(); }
    bool truncate(std::int64_t size) override { return file_->truncate(size); }
    void startSync() override { file_->startSync(); }
    bool sync() override { return file_->sync(); }
    bool syncBehind(std::string& why) override { return file_->syncBehind(why); }
    std::string error() const override { return file_->error(); }

protected:
    std::unique_ptr<recorder::ByteFile> file_;
};

// A disk that fills up after `room` bytes of a file; counts its syncs.
class SmallDisk final : public PassingFile {
public:
    SmallDisk(std::unique_ptr<recorder::ByteFile> file, std::int64_t room, int* syncs = nullptr)
        : PassingFile(std::move(file)), room_(room), syncs_(syncs) {}
    std::int64_t write(const void* data, std::int64_t bytes) override {
        const std::int64_t fits = std::clamp<std::int64_t>(room_ - file_->position(), 0, bytes);
        full_ = full_ || fits < bytes;
        return fits == 0 ? -1 : file_->write(data, fits);
    }
    bool sync() override {
        if (syncs_ != nullptr)
            ++*syncs_;
        return file_->sync();
    }
    std::string error() const override { return full_ ? "No space left on device" : ""; }

private:
    std::int64_t room_;
    int* syncs_;
    bool full_ = false;
};

// Large writes become holes: a file of several GiB that takes no room.
class SparseFile final : public PassingFile {
public:
    using PassingFile::PassingFile;
    std::int64_t write(const void* data, std::int64_t bytes) override {
        if (bytes < (1 << 20))
            return file_->write(data, bytes);
        return file_->seek(bytes, SEEK_CUR) < 0 ? -1 : bytes;
    }
    std::int64_t size() override { return std::max(file_->size(), file_->position()); }
};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint64_t little(const std::string& bytes, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    return v;
}

} // namespace

// The channel file's header, byte by byte: float format with its cbSize, the
// room for RF64's sizes, the sample count and the peak.
TEST(WavFile, HeaderDeclaresFloatItsCountAndPeakAndReadsBackBitForBit) {
    QTemporaryDir dir;
    host::Host host;
    host::HostChannel* c = host.addChannel("Alpha", 48000.4);
    Recording rec(dir.path().toStdString(), "wav");
    ASSERT_TRUE(rec.open(host.channels()));
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> first = {0.5f, -0.0f, 1e-40f, -7.25f, 3.0f};
    const std::vector<float> second = {std::numeric_limits<float>::max(), -inf,
                                       std::bit_cast<float>(0x7fc00123u), 2.0f};
    rec.write(*c, first.data(), 5);
    const std::string path = rec.folder() + "/00-Alpha.wav";
    std::string h = fileBytes(path);
    ASSERT_EQ(h.size(), 118u + 20);
    EXPECT_EQ(h.substr(0, 4), "RIFF");
    EXPECT_EQ(little(h, 4, 4), h.size() - 8);
    EXPECT_EQ(h.substr(8, 8), std::string("WAVEJUNK"));
    EXPECT_EQ(little(h, 16, 4), 28u);
    EXPECT_EQ(h.substr(48, 4), "fmt ");
    EXPECT_EQ(little(h, 52, 4), 18u);
    EXPECT_EQ(little(h, 56, 2), 3u); // WAVE_FORMAT_IEEE_FLOAT
    EXPECT_EQ(little(h, 58, 2), 1u);
    EXPECT_EQ(little(h, 60, 4), 48000u);
    EXPECT_EQ(little(h, 64, 4), 192000u);
    EXPECT_EQ(little(h, 68, 2), 4u);
    EXPECT_EQ(little(h, 70, 2), 32u);
    EXPECT_EQ(little(h, 72, 2), 0u); // cbSize, present
    EXPECT_EQ(h.substr(74, 4), "fact");
    EXPECT_EQ(little(h, 82, 4), 5u);
    EXPECT_EQ(h.substr(86, 4), "PEAK");
    EXPECT_EQ(little(h, 90, 4), 16u);
    EXPECT_EQ(little(h, 94, 4), 1u);
    EXPECT_EQ(std::bit_cast<float>(static_cast<std::uint32_t>(little(h, 102, 4))), 7.25f);
    EXPECT_EQ(little(h, 106, 4), 3u); // where the peak is
    EXPECT_EQ(h.substr(110, 4), "data");
    EXPECT_EQ(little(h, 114, 4), 20u);

    rec.write(*c, second.data(), 4);
    h = fileBytes(path);
    EXPECT_EQ(little(h, 4, 4), h.size() - 8);
    EXPECT_EQ(little(h, 82, 4), 9u);
    EXPECT_EQ(std::bit_cast<float>(static_cast<std::uint32_t>(little(h, 102, 4))), inf);
    EXPECT_EQ(little(h, 106, 4), 6u);
    EXPECT_EQ(little(h, 114, 4), 36u);
    rec.close(Recording::End::Complete);
    EXPECT_EQ(fileBytes(path), h); // the header followed every block

    std::vector<float> got;
    std::uint32_t rate = 0;
    std::string error;
    ASSERT_TRUE(recorder::readWavSamples(path, got, &rate, error)) << error;
    EXPECT_EQ(rate, 48000u);
    std::vector<float> all = first;
    all.insert(all.end(), second.begin(), second.end());
    ASSERT_EQ(got.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(std::bit_cast<std::uint32_t>(got[i]), std::bit_cast<std::uint32_t>(all[i])) << i;
}

// An audio tool reads the files as they are: no warning about the header, the
// count, rate and peak it finds are those written.
TEST(WavFile, SoxReadsTheFilesWithoutAWarning) {
    const QString sox = QStandardPaths::findExecutable("sox");
    ASSERT_FALSE(sox.isEmpty()) << "sox is in scripts/apt.d/base.list";
    QTemporaryDir dir;
    host::Host host;
    host::HostChannel* c = host.addChannel("Tone", 8000);
    Recording rec(dir.path().toStdString(), "sox");
    ASSERT_TRUE(rec.open(host.channels()));
    std::vector<float> v(800);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = 0.5f * static_cast<float>(std::sin(static_cast<double>(i) * 0.1));
    v[123] = -0.75f;
    rec.write(*c, v.data(), 400);
    rec.write(*c, v.data() + 400, 400);
    rec.close(Recording::End::Complete);
    const QString path = QString::fromStdString(rec.folder() + "/00-Tone.wav");
    QProcess info;
    info.start(sox, {"--i", path});
    ASSERT_TRUE(info.waitForFinished(30000));
    const QString said = info.readAllStandardOutput();
    const QString warned = info.readAllStandardError();
    EXPECT_EQ(info.exitCode(), 0);
    EXPECT_TRUE(warned.isEmpty()) << warned.toStdString();
    EXPECT_TRUE(said.contains(QRegularExpression("Sample Rate\\s*:\\s*8000")))
        << said.toStdString();
    EXPECT_TRUE(said.contains(QRegularExpression("Duration\\s*:.*= 800 samples")))
        << said.toStdString();
    EXPECT_TRUE(said.contains("Floating Point PCM")) << said.toStdString();
    QProcess stat;
    stat.start(sox, {path, "-n", "stat"});
    ASSERT_TRUE(stat.waitForFinished(30000));
    const QString report = stat.readAllStandardError(); // stat reports there
    EXPECT_EQ(stat.exitCode(), 0);
    EXPECT_FALSE(report.contains("WARN")) << report.toStdString();
    EXPECT_TRUE(report.contains(QRegularExpression("Samples read:\\s*800\\b")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QRegularExpression("Minimum amplitude:\\s*-0\\.750000")))
        << report.toStdString();
}

// A cut brings the peak down to what stays, also when it lies in a block
// before the last one.
TEST(WavFile, ACutKeepsThePeakOfWhatStays) {
    QTemporaryDir dir;
    std::string error;
    auto file = recorder::openByteFile(dir.filePath("cut.wav").toStdString(), error);
    ASSERT_NE(file, nullptr) << error;
    recorder::WavWriter wav(*file, 10);
    ASSERT_TRUE(wav.begin());
    const std::vector<float> a = {1, -2}, b = {9, 3}, c = {0.5f, -20};
    ASSERT_TRUE(wav.append(a.data(), 2));
    ASSERT_TRUE(wav.append(b.data(), 2));
    ASSERT_TRUE(wav.append(c.data(), 2));
    EXPECT_EQ(wav.peak(), 20.0f);
    ASSERT_TRUE(wav.cut(5));
    EXPECT_EQ(wav.peak(), 9.0f);
    ASSERT_TRUE(wav.cut(2));
    EXPECT_EQ(wav.peak(), 2.0f);
    const std::string h = fileBytes(dir.filePath("cut.wav").toStdString());
    ASSERT_EQ(h.size(), 126u);
    EXPECT_EQ(little(h, 82, 4), 2u);
    EXPECT_EQ(little(h, 106, 4), 1u);
    EXPECT_EQ(little(h, 114, 4), 8u);
    std::vector<float> got;
    ASSERT_TRUE(
        recorder::readWavSamples(dir.filePath("cut.wav").toStdString(), got, nullptr, error));
    EXPECT_EQ(got, a);
}

// The peak of long blocks: its first sample among equal magnitudes, a NaN
// never the peak, and a later block that only equals it leaves it where it is.
TEST(WavFile, ThePeakOfLongBlocksIsItsFirstSample) {
    QTemporaryDir dir;
    std::string error;
    auto file = recorder::openByteFile(dir.filePath("peak.wav").toStdString(), error);
    ASSERT_NE(file, nullptr) << error;
    recorder::WavWriter wav(*file, 10);
    ASSERT_TRUE(wav.begin());
    std::vector<float> block(1003, 0.25f);
    block[5] = std::numeric_limits<float>::quiet_NaN();
    block[700] = -6.5f;
    block[901] = 6.5f;
    block[1001] = 6.5f; // in the part after the last whole group of lanes
    ASSERT_TRUE(wav.append(block.data(), block.size()));
    const auto peakAt = [&] {
        const std::string h = fileBytes(dir.filePath("peak.wav").toStdString());
        return little(h, 106, 4);
    };
    EXPECT_EQ(wav.peak(), 6.5f);
    EXPECT_EQ(peakAt(), 700u);
    std::vector<float> same(40, 1.0f);
    same[33] = -6.5f;
    ASSERT_TRUE(wav.append(same.data(), same.size()));
    EXPECT_EQ(peakAt(), 700u);
    same[38] = 7.0f;
    same[39] = -7.0f;
    ASSERT_TRUE(wav.append(same.data(), same.size()));
    EXPECT_EQ(wav.peak(), 7.0f);
    EXPECT_EQ(peakAt(), 1003u + 40 + 38);
    const std::vector<float> nans(64, std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(wav.append(nans.data(), nans.size()));
    EXPECT_EQ(wav.peak(), 7.0f);
}

TEST(Recording, WhatIsWrittenReadsBackWithItsManifestAndItsStatus) {
    QTemporaryDir dir;
    Channels ch;
    auto rec = std::make_unique<Recording>(dir.path().toStdString(), "run");
    ASSERT_TRUE(rec->open(ch.host.channels()));
    recorder::RecordedRun midway;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec->manifestPath(), midway, error)) << error;
    EXPECT_EQ(midway.status, "recording");
    const auto x = ramp(25, -3), y = ramp(4, 7);
    rec->write(*ch.b, y.data(), 4); // arrives first, numbered second
    rec->write(*ch.a, x.data(), 25);
    rec->write(*ch.a, y.data(), 4);
    // Before any flush or close, each header already tells what its file holds.
    std::vector<float> early;
    ASSERT_TRUE(recorder::readWavSamples(rec->folder() + "/00-Alpha.wav", early, nullptr, error));
    EXPECT_EQ(early.size(), 29u);
    rec->setRunSeconds(1.5);
    rec->close(Recording::End::Interrupted);

    recorder::RecordedRun run;
    ASSERT_TRUE(recorder::readManifest(dir.path().toStdString() + "/run/run.kova", run, error));
    EXPECT_EQ(run.status, "interrupted");
    EXPECT_DOUBLE_EQ(run.seconds, 1.5);
    ASSERT_EQ(run.channels.size(), 2u);
    EXPECT_EQ(run.channels[0].name, "Alpha");
    EXPECT_EQ(run.channels[1].name, "Бета");
    EXPECT_EQ(run.channels[1].frequency, 2.5); // exact, though the WAV rate is whole
    EXPECT_EQ(run.channels[0].files, std::vector<std::string>{"00-Alpha.wav"});
    EXPECT_EQ(run.channels[1].files, std::vector<std::string>{"01-Бета.wav"});
    std::vector<float> expected = x;
    expected.insert(expected.end(), y.begin(), y.end());
    EXPECT_EQ(readChannel(rec->folder(), run.channels[0]), expected);
    EXPECT_EQ(readChannel(rec->folder(), run.channels[1]), y);
    std::uint32_t rate = 0;
    std::vector<float> part;
    ASSERT_TRUE(recorder::readWavSamples(rec->folder() + "/01-Бета.wav", part, &rate, error));
    EXPECT_EQ(rate, 3u);

    Recording whole(dir.path().toStdString(), "whole");
    ASSERT_TRUE(whole.open({}));
    whole.close(Recording::End::Complete);
    EXPECT_EQ(whole.status(), "complete");

    EXPECT_EQ(recorder::channelFileStem(3, 12, "Sine 5 Hz @ 1 kHz"), "03-Sine_5_Hz_1_kHz");
    EXPECT_EQ(recorder::channelFileStem(7, 250, "../x"), "007-x");
    EXPECT_EQ(recorder::channelFileStem(0, 1, " / "), "00-channel");
    EXPECT_EQ(recorder::channelFileStem(2, 6, "Пила ±50, 0.5 Гц"), "02-Пила_50_0.5_Гц");
}

// The end of a recording puts every channel file on the disk before the
// manifest says it is complete, every file's writing started before the first
// wait; a file the disk does not take fails the run with the system's reason.
TEST(Recording, TheFilesAreOnTheDiskBeforeTheManifestSaysComplete) {
    // Each sync notes the manifest's status at that moment; fails with `code`.
    struct Log {
        std::string manifest;
        std::vector<std::string> statusAtSync;
        std::string steps; // "s" for a started sync, "S" for a sync
        int code = 0;
    };
    class NotedSync final : public PassingFile {
    public:
        NotedSync(std::unique_ptr<recorder::ByteFile> file, Log& log)
            : PassingFile(std::move(file)), log_(log) {}
        void startSync() override {
            log_.steps += 's';
            file_->startSync();
        }
        bool sync() override {
            log_.steps += 'S';
            recorder::RecordedRun run;
            std::string error;
            log_.statusAtSync.push_back(
                recorder::readManifest(log_.manifest, run, error) ? run.status : error);
            return log_.code == 0 && file_->sync();
        }
        std::string error() const override {
            return log_.code != 0 ? std::strerror(log_.code) : file_->error();
        }

    private:
        Log& log_;
    };
    for (const int code : {0, EIO}) {
        QTemporaryDir dir;
        Channels ch;
        Log log;
        log.code = code;
        Recording rec(dir.path().toStdString(), "run",
                      [&log](const std::string& path, std::string& error) {
                          auto file = recorder::openByteFile(path, error);
                          return file ? std::make_unique<NotedSync>(std::move(file), log) : nullptr;
                      });
        log.manifest = rec.manifestPath();
        ASSERT_TRUE(rec.open(ch.host.channels()));
        const auto x = ramp(8, 1);
        rec.write(*ch.a, x.data(), 8);
        rec.write(*ch.b, x.data(), 8);
        rec.flush();
        rec.close(Recording::End::Complete);
        EXPECT_EQ(log.statusAtSync, std::vector<std::string>(2, "recording")) << code;
        EXPECT_EQ(log.steps, "ssSS");
        recorder::RecordedRun run;
        std::string error;
        ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
        ASSERT_EQ(run.channels.size(), 2u);
        if (code == 0) {
            EXPECT_EQ(run.status, "complete");
            EXPECT_EQ(run.channels[0].status, "ok");
        } else {
            const std::string why =
                "cannot put 00-Alpha.wav on the disk: " + std::string(std::strerror(EIO));
            EXPECT_EQ(run.status, "failed: " + why);
            EXPECT_EQ(run.channels[0].status, "failed: " + why);
            EXPECT_EQ(rec.status(), "failed: " + why);
        }
    }
}

// A manifest whose update fails keeps the one written before, never a part
// of the new one, and the failure names the system's reason.
TEST(Recording, AFailedManifestUpdateKeepsTheLastWholeManifest) {
    QTemporaryDir dir;
    Channels ch;
    Recording rec(dir.path().toStdString(), "kept");
    ASSERT_TRUE(rec.open(ch.host.channels()));
    const auto x = ramp(10, 0);
    rec.write(*ch.a, x.data(), 10);
    rec.flush();
    rec.settle();
    ASSERT_FALSE(rec.failed()) << rec.error();
    std::ifstream before(rec.manifestPath(), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(before)), {});
    for (auto step : {platform::testing::WriteStep::Write, platform::testing::WriteStep::Flush,
                      platform::testing::WriteStep::Replace}) {
        platform::testing::setWriteFault(
            [step](platform::testing::WriteStep s) { return s == step ? EIO : 0; });
        rec.write(*ch.a, x.data(), 10);
        rec.flush();
        rec.settle();
        platform::testing::setWriteFault(nullptr);
        EXPECT_EQ(rec.error(), "cannot write " + rec.manifestPath() + ": " + std::strerror(EIO));
        std::ifstream after(rec.manifestPath(), std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), whole);
        EXPECT_EQ(QDir(QString::fromStdString(rec.folder())).entryList(QDir::Files).size(), 2);
    }
    rec.close(Recording::End::Complete);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
    EXPECT_EQ(run.channels[0].samples, 40u); // the disk came back: the last one is whole again
}

// A full disk ends the recording as a whole: every channel's file is cut at
// the same sample time (the earliest end among them), the manifest says so,
// and its counts are what the files hold and declare.
TEST(Recording, AFullDiskEndsTheRecordingAsAWholeEveryChannelAtOneTime) {
    QTemporaryDir dir;
    Channels ch;
    host::HostChannel* c = ch.host.addChannel("Gamma", 100);
    Recording rec(dir.path().toStdString(), "full",
                  [](const std::string& path, std::string& error) {
                      auto file = recorder::openByteFile(path, error);
                      if (file && path.find("Alpha") != std::string::npos)
                          return std::unique_ptr<recorder::ByteFile>(
                              std::make_unique<SmallDisk>(std::move(file), 2000));
                      return file;
                  });
    std::vector<std::string> reports;
    int fullCalls = 0;
    rec.setErrorHandler([&](const std::string& m) { reports.push_back(m); });
    rec.setDiskFullHandler([&] { ++fullCalls; });
    ASSERT_TRUE(rec.open(ch.host.channels()));
    const QString room = QString::fromStdString(rec.folder() + "/.full.room");
    EXPECT_GE(QFileInfo(room).size(), 65536); // kept for the manifest from the start
    // Steps of 0.1 s: Gamma's block first, then Alpha's (whose disk fills in
    // its fifth block, 474 samples in), Beta's sample every 0.4 s.
    const auto v = ramp(100, 0);
    for (int step = 0; step < 8; ++step) {
        rec.write(*c, v.data(), 10);
        rec.write(*ch.a, v.data(), 100);
        if (step % 4 == 0)
            rec.write(*ch.b, v.data(), 1);
    }
    EXPECT_TRUE(rec.diskFull());
    EXPECT_EQ(fullCalls, 1);
    EXPECT_FALSE(QFileInfo::exists(room)); // given up for the manifest
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("00-Alpha.wav: No space left on device; the recording ends, every "
                              "channel at 0.4 s"),
              std::string::npos)
        << reports[0];
    rec.close(Recording::End::Complete);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error));
    EXPECT_EQ(run.status, "failed: disk full after 0.4 s");
    // Beta's one sample ends at 0.4 s: Alpha and Gamma are cut there.
    const std::vector<std::uint64_t> expected = {400, 1, 40};
    ASSERT_EQ(run.channels.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(run.channels[i].samples, expected[i]) << i;
        EXPECT_EQ(run.channels[i].status, "ok") << i;
        recorder::WavInfo info;
        const std::string file = rec.folder() + "/" + run.channels[i].files.at(0);
        ASSERT_TRUE(recorder::readWavInfo(file, info, error)) << error;
        EXPECT_EQ(info.frames, expected[i]) << i;
        const auto got = readChannel(rec.folder(), run.channels[i]);
        ASSERT_EQ(got.size(), expected[i]);
        const std::size_t block = i == 0 ? 100 : i == 1 ? 1 : 10;
        for (std::size_t k = 0; k < got.size(); ++k)
            ASSERT_EQ(got[k], v[k % block]) << i << " " << k;
        // Nothing lies past what the header declares.
        EXPECT_LE(QFileInfo(QString::fromStdString(file)).size(),
                  static_cast<qint64>(expected[i] * 4 + 200));
    }
}

// Raw files end at the common time too, each cut to whole samples, and what
// the last manifest counts is put on the disk before it is written.
TEST(Recording, AFullDiskCutsRawFilesToOneTimeAndSyncsThem) {
    for (const auto format : {recorder::SampleFormat::Raw32, recorder::SampleFormat::Raw64}) {
        QTemporaryDir dir;
        Channels ch;
        int syncs = 0;
        const std::int64_t width = format == recorder::SampleFormat::Raw64 ? 8 : 4;
        Recording rec(
            dir.path().toStdString(), "full",
            [&](const std::string& path, std::string& error) {
                auto file = recorder::openByteFile(path, error);
                // Alpha's disk fills 150.5 samples in: a short write.
                const std::int64_t room = path.find("Alpha") != std::string::npos
                                              ? 150 * width + width / 2
                                              : std::int64_t{1} << 30;
                return file ? std::unique_ptr<recorder::ByteFile>(
                                  std::make_unique<SmallDisk>(std::move(file), room, &syncs))
                            : nullptr;
            },
            format);
        ASSERT_TRUE(rec.open(ch.host.channels()));
        // Beta (2.5 Hz) holds one sample, 0.4 s; Alpha (1 kHz) 0.1 s a round.
        const auto v = ramp(100, 0);
        rec.write(*ch.b, v.data(), 1);
        for (int round = 0; round < 3; ++round)
            rec.write(*ch.a, v.data(), 100);
        EXPECT_TRUE(rec.diskFull());
        EXPECT_EQ(syncs, 2) << "before the manifest";
        rec.close(Recording::End::Complete);
        recorder::RecordedRun run;
        std::string error;
        ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
        // Alpha holds its first round whole, 0.1 s: the common end. Beta's
        // sample at 0 s stays; Alpha's half sample goes.
        EXPECT_EQ(run.status, "failed: disk full after 0.1 s");
        ASSERT_EQ(run.channels.size(), 2u);
        const std::vector<std::uint64_t> expected = {100, 1};
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(run.channels[i].samples, expected[i]) << i;
            const std::string file = rec.folder() + "/" + run.channels[i].files.at(0);
            EXPECT_EQ(QFileInfo(QString::fromStdString(file)).size(),
                      static_cast<qint64>(expected[i]) * width)
                << i;
        }
    }
}

// A long run's files go to the disk in the background as they grow; a file
// the disk does not take there fails its channel with the system's reason,
// as at the end: the failure is not lost with the sync that met it.
TEST(Recording, AFileTheDiskRefusesWhileRunningFailsItsChannel) {
    class RefusedBehind final : public PassingFile {
    public:
        RefusedBehind(std::unique_ptr<recorder::ByteFile> file, std::atomic<int>& asked)
            : PassingFile(std::move(file)), asked_(asked) {}
        bool syncBehind(std::string& why) override {
            ++asked_;
            why = std::strerror(EIO);
            return false;
        }

    private:
        std::atomic<int>& asked_;
    };
    QTemporaryDir dir;
    Channels ch;
    std::atomic<int> asked{0};
    Recording rec(
        dir.path().toStdString(), "behind",
        [&asked](const std::string& path,
                 std::string& error) -> std::unique_ptr<recorder::ByteFile> {
            auto file = recorder::openByteFile(path, error);
            return file ? std::make_unique<RefusedBehind>(std::move(file), asked) : nullptr;
        },
        recorder::SampleFormat::Raw32);
    ASSERT_TRUE(rec.open(ch.host.channels()));
    // 48 MiB of Alpha: more than the two channels' share before a sync.
    const std::vector<float> block(1 << 20, 0.5f);
    for (int i = 0; i < 12; ++i)
        rec.write(*ch.a, block.data(), static_cast<std::int32_t>(block.size()));
    rec.close(Recording::End::Complete);
    EXPECT_GE(asked.load(), 1);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
    const std::string why =
        "cannot put 00-Alpha.f32 on the disk: " + std::string(std::strerror(EIO));
    EXPECT_EQ(run.status.rfind("failed: " + why, 0), 0u) << run.status;
    ASSERT_EQ(run.channels.size(), 2u);
    EXPECT_EQ(run.channels[0].status, "failed: " + why);
}

// The manifest of a running recording is written beside the blocks, not in
// their way: flush() returns while the disk still takes it, its failure is
// told at the next round, and the manifest after it is written whole.
TEST(Recording, ARunningManifestIsWrittenWhileTheBlocksGoOn) {
    QTemporaryDir dir;
    Channels ch;
    Recording rec(dir.path().toStdString(), "behind");
    ASSERT_TRUE(rec.open(ch.host.channels()));
    std::mutex mutex;
    std::condition_variable wake;
    bool passed = false; // the test went on past flush()
    bool heldUp = false; // flush() waited for the write
    platform::testing::setWriteFault([&](platform::testing::WriteStep step) {
        if (step != platform::testing::WriteStep::Flush)
            return 0;
        std::unique_lock lock(mutex);
        heldUp = !wake.wait_for(lock, std::chrono::seconds(10), [&] { return passed; });
        return EIO;
    });
    const auto x = ramp(10, 0);
    rec.write(*ch.a, x.data(), 10);
    rec.flush();
    {
        std::lock_guard lock(mutex);
        passed = true;
    }
    wake.notify_all();
    rec.settle();
    platform::testing::setWriteFault(nullptr);
    EXPECT_FALSE(heldUp);
    EXPECT_EQ(rec.error(), "cannot write " + rec.manifestPath() + ": " + std::strerror(EIO));
    rec.flush(); // the failed one is written again
    rec.settle();
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
    ASSERT_EQ(run.channels.size(), 2u);
    EXPECT_EQ(run.channels[0].samples, 10u);
    rec.close(Recording::End::Complete);
}

// The manifest's own update meeting a full disk ends the recording the same
// way, and its last form fits into the room kept for it.
TEST(Recording, AManifestOnAFullDiskTakesTheRoomKeptForIt) {
    QTemporaryDir dir;
    Channels ch;
    Recording rec(dir.path().toStdString(), "room");
    ASSERT_TRUE(rec.open(ch.host.channels()));
    const std::string room = rec.folder() + "/.room.room";
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(room)));
    const auto x = ramp(10, 0);
    rec.write(*ch.a, x.data(), 10);
    rec.write(*ch.b, x.data(), 1);
    // The disk is full as long as the room is taken.
    platform::testing::setWriteFault([room](platform::testing::WriteStep) {
        return QFileInfo::exists(QString::fromStdString(room)) ? ENOSPC : 0;
    });
    rec.setRunSeconds(1.5);
    rec.flush();
    rec.settle();
    platform::testing::setWriteFault(nullptr);
    EXPECT_TRUE(rec.diskFull());
    rec.write(*ch.a, x.data(), 10); // no longer written
    rec.close(Recording::End::Complete);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(rec.manifestPath(), run, error)) << error;
    EXPECT_EQ(run.status, "failed: disk full after 0.01 s"); // Alpha's ten samples
    EXPECT_EQ(run.channels[0].samples, 10u);
    EXPECT_EQ(run.channels[1].samples, 1u);
    EXPECT_EQ(readChannel(rec.folder(), run.channels[0]).size(), 10u);
}

TEST(Recording, AFolderThatCannotBeMadeIsRefused) {
    const auto v = ramp(200, 0);
    QTemporaryDir dir;
    Channels other;
    const std::string file = dir.filePath("plain-file").toStdString();
    std::ofstream(file) << "x";
    Recording nowhere(file + "/sub", "run"); // a folder inside a file cannot exist
    EXPECT_FALSE(nowhere.open(other.host.channels()));
    EXPECT_NE(nowhere.error().find("Not a directory"), std::string::npos) << nowhere.error();
    nowhere.write(*other.a, v.data(), 3); // harmless
}

TEST(Recording, PastFourGiBTheFileTurnsRF64AndKeepsItsCount) {
    QTemporaryDir dir;
    host::Host host;
    host::HostChannel* fast = host.addChannel("Fast", 216000);
    Recording rec(dir.path().toStdString(), "big", [](const std::string& path, std::string& e) {
        auto file = recorder::openByteFile(path, e);
        return file ? std::make_unique<SparseFile>(std::move(file)) : nullptr;
    });
    ASSERT_TRUE(rec.open(host.channels()));
    const std::vector<float> zeros(std::size_t{1} << 24); // 64 MiB a block
    for (int i = 0; i < 65; ++i)                          // 4.06 GiB
        rec.write(*fast, zeros.data(), static_cast<std::int32_t>(zeros.size()));
    const std::vector<float> tail = {7, 8, 9};
    rec.write(*fast, tail.data(), 3);
    const std::uint64_t total = 65 * zeros.size() + 3;
    const std::string path = rec.folder() + "/00-Fast.wav";
    recorder::WavInfo info;
    std::string error;
    ASSERT_TRUE(recorder::readWavInfo(path, info, error)) << error;
    EXPECT_EQ(info.frames, total); // while it is being written
    rec.close(Recording::End::Complete);
    ASSERT_TRUE(recorder::readWavInfo(path, info, error)) << error;
    EXPECT_TRUE(info.rf64);
    EXPECT_EQ(info.frames, total);
    // RF64's sizes in the chunk kept for them, the 32-bit ones at -1.
    std::ifstream in(path, std::ios::binary);
    std::string h(118, '\0');
    in.read(h.data(), 118);
    EXPECT_EQ(h.substr(0, 4), "RF64");
    EXPECT_EQ(little(h, 4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(h.substr(12, 4), "ds64");
    EXPECT_EQ(little(h, 20, 8), 110 + total * 4);
    EXPECT_EQ(little(h, 28, 8), total * 4);
    EXPECT_EQ(little(h, 36, 8), total);
    EXPECT_EQ(little(h, 82, 4), total); // still fits in 32 bits
    EXPECT_EQ(little(h, 114, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::bit_cast<float>(static_cast<std::uint32_t>(little(h, 102, 4))), 9.0f);
    std::vector<float> end;
    ASSERT_TRUE(recorder::readWavSamples(path, end, nullptr, error, total - 4));
    EXPECT_EQ(end, (std::vector<float>{0, 7, 8, 9}));
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

TEST(RecorderViews, ScopeShowsTheAskedTimeOnTheChannelsClock) {
    recorder::ScopeTrace s(10, 2, 0.1); // one sample a slot, two seconds kept
    std::vector<float> v(50);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(i);
    s.add(v.data(), 50); // samples at 0.0 ... 4.9 s
    const auto last = s.window(3.0, 5.0, 20);
    ASSERT_EQ(last.size(), 20u);
    EXPECT_EQ(last.front().lo, 30.0f); // sample k at k / F
    EXPECT_EQ(last.back().hi, 49.0f);
    // Older than what is kept, or not yet arrived: empty.
    const auto early = s.window(2.0, 6.0, 4);
    EXPECT_FALSE(early[0].filled);
    EXPECT_EQ(early[1].lo, 30.0f);
    EXPECT_EQ(early[1].hi, 39.0f);
    EXPECT_FALSE(early[3].filled);
    recorder::ScopeTrace slow(1, 10, 0.005); // a sample every 200 slots: gaps stay empty
    slow.add(v.data(), 3);
    int filled = 0;
    for (const auto& b : slow.window(0, 10, 100))
        filled += b.filled ? 1 : 0;
    EXPECT_EQ(filled, 3);
}

// Block by block the views keep exactly what they keep sample by sample: the
// same slots and bins, at any rate and with values they pass over.
TEST(RecorderViews, BlocksKeepWhatSingleSamplesKeep) {
    for (const double rate : {216000.0, 44100.3, 1000.0, 3.0, 0.7}) {
        SCOPED_TRACE(rate);
        const int total = rate > 1000 ? 300000 : 3000;
        std::vector<float> v(static_cast<std::size_t>(total));
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = static_cast<float>(std::sin(static_cast<double>(i) * 0.001) * 100 +
                                      static_cast<double>(i % 7));
        v[5] = NAN;
        v[1234] = INFINITY;
        v[1235] = -INFINITY;
        recorder::ScopeTrace one(rate, 2.0);
        recorder::ScopeTrace blocks(rate, 2.0);
        recorder::Envelope oneE(64);
        recorder::Envelope blocksE(64);
        for (int i = 0; i < total; ++i) {
            one.add(&v[static_cast<std::size_t>(i)], 1);
            oneE.add(&v[static_cast<std::size_t>(i)], 1);
        }
        // Uneven blocks: 1, 2, 3, ... samples, then a long one.
        int at = 0;
        for (int n = 1; at < total; ++n) {
            const int take = std::min(n < 200 ? n : 21600, total - at);
            blocks.add(&v[static_cast<std::size_t>(at)], take);
            blocksE.add(&v[static_cast<std::size_t>(at)], take);
            at += take;
        }
        EXPECT_EQ(blocks.samples(), one.samples());
        const double end = static_cast<double>(total) / rate;
        for (const double span : {2.0, 0.5, 0.013}) {
            const auto a = one.window(end - span, end, 997);
            const auto b = blocks.window(end - span, end, 997);
            ASSERT_EQ(a.size(), b.size());
            int filled = 0;
            for (std::size_t i = 0; i < a.size(); ++i) {
                ASSERT_EQ(a[i].filled, b[i].filled) << i;
                if (a[i].filled) {
                    ++filled;
                    EXPECT_EQ(a[i].lo, b[i].lo) << i;
                    EXPECT_EQ(a[i].hi, b[i].hi) << i;
                }
            }
            if (span * rate >= 2) {
                EXPECT_GT(filled, 0);
            }
        }
        const auto a = oneE.bins();
        const auto b = blocksE.bins();
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(oneE.samplesPerBin(), blocksE.samplesPerBin());
        for (std::size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i].filled, b[i].filled) << i;
            EXPECT_EQ(a[i].lo, b[i].lo) << i;
            EXPECT_EQ(a[i].hi, b[i].hi) << i;
        }
    }
}

// A slow channel's first sample scrolled off: the trace still comes in from
// it, so the first segment inside the window stays.
TEST(RecorderViews, ASlowChannelsSegmentIntoTheWindowStays) {
    recorder::ScopeTrace slow(1, 30); // a sample a second
    const std::vector<float> v = {10, -10, 10};
    slow.add(v.data(), 3); // at 0, 1 and 2 s
    EXPECT_FALSE(slow.before(0.0).has_value());
    const auto lead = slow.before(0.5);
    ASSERT_TRUE(lead.has_value());
    EXPECT_EQ(lead->t, 0.0);
    EXPECT_EQ(lead->bin.hi, 10.0f);
    EXPECT_EQ(slow.before(1.5)->bin.lo, -10.0f);
    EXPECT_EQ(slow.before(10)->t, 2.0);

    // Drawn: the segment from the sample at 0 s (left of the window) to the
    // one at 1 s reaches the plot's left edge.
    QImage image(400, 200, QImage::Format_RGB32);
    auto bluesInLeftQuarter = [&](bool withLead) {
        image.fill(Qt::white);
        QPainter painter(&image);
        const auto bins = slow.window(0.5, 2.5, 200);
        const auto in = slow.before(0.5);
        recorder::drawTrace(painter, image.rect(), bins, 0.5, 2.5, 0.01, {}, {true, -10, 10},
                            withLead ? &in->bin : nullptr, in->t);
        painter.end();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width() / 4; ++x) {
                const QRgb p = image.pixel(x, y);
                n += qBlue(p) > qRed(p) + 60 ? 1 : 0;
            }
        return n;
    };
    EXPECT_EQ(bluesInLeftQuarter(false), 0);
    EXPECT_GT(bluesInLeftQuarter(true), 20);
}

TEST(RecorderViews, MeansShowTheDigitsTheirSpreadMakesSenseOf) {
    EXPECT_EQ(recorder::meanText(-0.000265123, -100, 100), "0"); // not "-0.000265123"
    EXPECT_EQ(recorder::meanText(49.5, 0, 99), "49.5");
    EXPECT_EQ(recorder::meanText(-1.25, -100, 100), "-1.25");
    EXPECT_EQ(recorder::meanText(0.5123456, -1, 1), "0.5123");
    EXPECT_EQ(recorder::meanText(-0.00031, -2.2, 2.3), "-0.0003");
    EXPECT_EQ(recorder::meanText(12345.678, 0, 100000), "12346");
    EXPECT_EQ(recorder::meanText(5, 5, 5), "5"); // a level: no spread
    EXPECT_EQ(recorder::meanText(0.1 + 0.2, 0.3, 0.3), "0.3");
}

TEST(RecorderViews, SummaryAndDueSamples) {
    EXPECT_EQ(recorder::samplesDue(216000, 2.0), 432000u);
    EXPECT_EQ(recorder::samplesDue(1, 2.999), 3u); // at 0, 1 and 2 s
    EXPECT_EQ(recorder::samplesDue(0.5, 3), 2u);
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

// Writing behind: the ranges handed to the disk follow one another from the
// file's start in whole pieces and leave the bytes as written (a WAV header
// rewritten at the start too); a refused hand-over fails the write with the
// system's reason, and a file that cannot be written back so is written as
// without.
TEST(DiskFile, WritesBehindInOrderAndReportsAFailedHandOver) {
    QTemporaryDir dir;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    recorder::WriteBehind behind;
    behind.every = 100000;
    behind.start = [&ranges](int fd, std::int64_t offset, std::int64_t length) {
        ranges.emplace_back(offset, length);
        return recorder::startWriteback(fd, offset, length);
    };
    const std::string path = dir.filePath("behind.wav").toStdString();
    std::string error;
    std::vector<float> all;
    {
        auto file = recorder::openByteFile(path, error, behind);
        ASSERT_NE(file, nullptr) << error;
        recorder::WavWriter wav(*file, 1000);
        ASSERT_TRUE(wav.begin());
        std::vector<float> block(12345);
        for (int b = 0; b < 40; ++b) {
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<float>(b * 100000 + static_cast<int>(i));
            ASSERT_TRUE(wav.append(block.data(), block.size())) << file->error();
            all.insert(all.end(), block.begin(), block.end());
        }
    }
    ASSERT_GE(ranges.size(), 15u);
    std::int64_t next = 0;
    for (const auto& [offset, length] : ranges) {
        EXPECT_EQ(offset, next);
        EXPECT_GT(length, 0);
        EXPECT_EQ((offset + length) % 65536, 0);
        next = offset + length;
    }
    EXPECT_LE(next, 118 + static_cast<std::int64_t>(all.size()) * 4);
    std::vector<float> got;
    ASSERT_TRUE(recorder::readWavSamples(path, got, nullptr, error)) << error;
    EXPECT_EQ(got, all);

    int calls = 0;
    behind.start = [&calls](int, std::int64_t, std::int64_t) { return ++calls == 2 ? EIO : 0; };
    auto failing = recorder::openByteFile(dir.filePath("eio.f32").toStdString(), error, behind);
    ASSERT_NE(failing, nullptr) << error;
    const std::vector<char> bytes(150000, 'x');
    EXPECT_EQ(failing->write(bytes.data(), 150000), 150000);
    EXPECT_EQ(failing->write(bytes.data(), 150000), -1);
    EXPECT_EQ(failing->error(), std::strerror(EIO));

    behind.start = [&calls](int, std::int64_t, std::int64_t) {
        ++calls;
        return ESPIPE;
    };
    calls = 0;
    auto pipeLike = recorder::openByteFile(dir.filePath("pipe.f32").toStdString(), error, behind);
    ASSERT_NE(pipeLike, nullptr) << error;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pipeLike->write(bytes.data(), 150000), 150000);
    EXPECT_EQ(calls, 1);
}
