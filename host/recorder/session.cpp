#include "session.h"

#include "check.h"

#include "platform/inifile.h"
#include "platform/ticks.h"
#include "platform/wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace recorder {

namespace {

// About ten blocks a second, at least one sample and at most 8192 a block.
std::int32_t blockLengthFor(double frequency) {
    if (!(frequency > 0))
        return 1;
    return static_cast<std::int32_t>(std::clamp(std::llround(frequency / 10), 1LL, 8192LL));
}

} // namespace

Session::Session(SessionOptions options) : options_(std::move(options)) {
    prepareConfig();
    host::HostOptions hostOptions;
    hostOptions.recordCalls = false; // --trace prints calls live instead
    hostOptions.keepSamples = options_.keepSamples;
    hostOptions.blockLengthFor = blockLengthFor;
    hostOptions.dataDirectory = options_.directory;
    host_ = std::make_unique<host::Host>(hostOptions);
    host_->setSink(
        [this](host::HostChannel& c, const float* b, std::int32_t n) { received(c, b, n); });
    host_->setRunHandlers([this] { starting(); }, [this] { stopped(); });
    host_->setMessageHandler([this](const host::LogMessage& m) {
        // The host keeps only the newest messages; a recording keeps them all.
        if (recording_)
            recording_->log(m);
        if (onMessage_)
            onMessage_(m);
    });
    update_.setInterval(options_.updateIntervalMs);
    QObject::connect(&update_, &QTimer::timeout, [this] {
        host_->updateData();
        // The files' headers follow every block; the manifest follows every
        // round of blocks, so that after a crash its counts lag the files by
        // at most the last rounds.
        if (recording_) {
            recording_->setRunSeconds(host_->time());
            recording_->flush();
        }
    });
}

Session::~Session() {
    shutdown();
    recording_.reset();
    for (auto& [channel, kept] : kept_)
        kept->channel->Release();
    kept_.clear();
    host_.reset();
    // The run's own settings file goes with its folder: no later session
    // must take it for one the user chose.
    if (replacedIni_)
        unsetenv("TOLVEX_INI");
}

void Session::prepareConfig() {
    if (options_.config.empty())
        return;
    const QFileInfo info(QString::fromStdString(options_.config));
    if (!checkConfiguration(options_.config, configError_))
        return;
    // The emulator loads the configuration its settings file names. A
    // settings file the user chose (TOLVEX_INI) is told the file and kept, so
    // that a configuration chosen later with Load is remembered there;
    // otherwise a settings file of this run names it, and the user's own
    // settings stay as they are.
    const std::string named = QFile::encodeName(info.absoluteFilePath()).toStdString();
    if (const char* chosen = std::getenv("TOLVEX_INI"); chosen != nullptr && *chosen != '\0') {
        if (!platform::writeProfileString(chosen, "common", "CurCFGFile", named))
            configError_ = std::string("cannot write ") + chosen;
        return;
    }
    configDir_ = std::make_unique<QTemporaryDir>();
    if (!configDir_->isValid()) {
        configError_ = "cannot make a temporary folder: " + configDir_->errorString().toStdString();
        return;
    }
    const std::string ini = configDir_->filePath("Tolvex.ini").toStdString();
    platform::writeProfileString(ini, "common", "CurCFGFile", named);
    replacedIni_ = true; // given back when the session ends
    setenv("TOLVEX_INI", ini.c_str(), 1);
}

bool checkConfiguration(const std::string& path, std::string& error) {
    // What the emulator would refuse to load is refused here, in its words.
    std::string bytes;
    return loadableConfiguration(path, bytes, error);
}

bool checkWritableFolder(const std::string& path, std::string& error) {
    std::error_code code;
    const auto folder = std::filesystem::u8path(path);
    std::filesystem::create_directories(folder, code);
    if (code) {
        error = "cannot create " + path + ": " + code.message();
        return false;
    }
    // Permissions alone do not tell (a read-only mount, another owner): try it.
    QTemporaryFile probe(QString::fromStdString(path) + "/.recorder-XXXXXX");
    if (!probe.open()) {
        error = "cannot write in " + path + ": " + probe.errorString().toStdString();
        return false;
    }
    return true;
}

std::string Session::modulePath(const std::string& nameOrPath) const {
    return recorder::modulePath(options_, nameOrPath);
}

std::string modulePath(const SessionOptions& options, const std::string& nameOrPath) {
    if (nameOrPath.find('/') != std::string::npos)
        return nameOrPath;
    std::string file = nameOrPath;
    if (file.size() < 3 || file.compare(file.size() - 3, 3, ".so") != 0)
        file += ".so";
    const std::string& dir = options.programDirectory;
    return dir.empty() ? "./" + file : dir + "/" + file;
}

std::string Session::configurationInUse() const {
    // The emulator's settings name the file it loaded last (with --config, the
    // settings of this run name that file), also after a Load in its window.
    for (const auto& m : host_->modules()) {
        if (m->name() != "Tolvex" || m->stage() != host::Stage::Executed)
            continue;
        const std::string settings =
            platform::profileFilePath("Tolvex.ini", "tolvex", "TOLVEX_INI");
        // The emulator's settings keep the name as the file system spells it.
        const std::string file = platform::readProfileString(settings, "common", "CurCFGFile", "");
        return QFileInfo::exists(QFile::decodeName(file.c_str())) ? file : std::string();
    }
    return {};
}

int Session::loadModules() {
    if (!configError_.empty()) {
        failures_.push_back(configError_);
        host_->hostMessage(configError_, host::kLogError);
    }
    int started = 0;
    for (const std::string& entry : options_.modules) {
        const std::string path = modulePath(entry);
        host::LoadedModule* module = host_->load(path);
        if (module == nullptr) {
            failures_.push_back(host_->lastError());
            host_->hostMessage(host_->lastError(), host::kLogError);
            continue;
        }
        if (!host_->start(*module)) {
            failures_.push_back(module->error());
            continue; // start reported it in the log
        }
        host_->hostMessage(module->name() + " started");
        ++started;
    }
    host_->processPending();
    return started;
}

void Session::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    host_->closeCommands();
    host_->stopRecorder();
    host_->shutdownAll();
}

void Session::interrupt() {
    if (!host_->running())
        return;
    interrupted_ = true;
    host_->stopRecorder();
    interrupted_ = false;
}

void Session::starting() {
    for (auto& [channel, kept] : kept_) {
        kept->channel->Release();
    }
    kept_.clear();
    for (host::HostChannel* c : host_->channels())
        c->clearData(); // the summary and the views tell of this run
    lastBlockTicks_ = 0;
    if (options_.record) {
        std::string base = options_.name;
        if (base.empty())
            base = "run-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
        const std::string name = Recording::freeName(options_.directory, base);
        recording_ = std::make_unique<Recording>(options_.directory, name, options_.opener);
        recording_->setErrorHandler(
            [this](const std::string& m) { host_->hostMessage(m, host::kLogError); });
        recording_->setDiskFullHandler([this] {
            if (onDiskFull_)
                onDiskFull_();
        });
        if (recording_->open(host_->channels())) {
            recording_->keepLog();
            host_->hostMessage("recording to " + recording_->manifestPath());
            const std::string config = configurationInUse();
            if (!config.empty())
                recording_->keepConfiguration(config);
        }
        // The current file is named even when the folder could not be made:
        // it is where this run belongs.
        QString dir = QDir(QString::fromStdString(options_.directory)).absolutePath();
        if (!dir.endsWith('/'))
            dir += '/';
        host_->setCurrentFile(dir.toStdU16String(), QString::fromStdString(name).toStdU16String());
    }
    update_.start();
    if (onState_)
        onState_(true);
    if (onRunStart_)
        onRunStart_();
}

void Session::stopped() {
    update_.stop();
    if (recording_) {
        recording_->setRunSeconds(host_->time());
        recording_->close(interrupted_ ? Recording::End::Interrupted : Recording::End::Complete);
    }
    if (onState_)
        onState_(false);
    if (onRunEnd_)
        onRunEnd_();
}

void Session::received(host::HostChannel& channel, const float* block, std::int32_t count) {
    lastBlockTicks_ = platform::tickCount64();
    auto it = kept_.find(&channel);
    if (it == kept_.end()) {
        channel.AddRef();
        auto kept = std::make_unique<Kept>();
        kept->channel = &channel;
        if (options_.keepEnvelopes)
            kept->envelope.emplace();
        if (options_.keepScope)
            kept->scope.emplace(channel.frequency(), options_.scopeSeconds);
        it = kept_.emplace(&channel, std::move(kept)).first;
    }
    Kept& kept = *it->second;
    kept.lastTicks = lastBlockTicks_;
    if (kept.envelope)
        kept.envelope->add(block, count);
    if (kept.scope)
        kept.scope->add(block, count);
    if (recording_)
        recording_->write(channel, block, count);
}

const Envelope* Session::envelope(const host::HostChannel* channel) const {
    auto it = kept_.find(channel);
    return it == kept_.end() || !it->second->envelope ? nullptr : &*it->second->envelope;
}

std::uint64_t Session::lastBlockTicks(const host::HostChannel* channel) const {
    auto it = kept_.find(channel);
    return it == kept_.end() ? 0 : it->second->lastTicks;
}

const ScopeTrace* Session::scope(const host::HostChannel* channel) const {
    auto it = kept_.find(channel);
    return it == kept_.end() || !it->second->scope ? nullptr : &*it->second->scope;
}

std::string Session::currentFile() const {
    return recording_ ? recording_->manifestPath() : std::string();
}

std::vector<ChannelSummary> Session::summary() const {
    std::vector<ChannelSummary> rows;
    const double seconds = host_->time();
    for (const host::HostChannel* c : host_->channels()) {
        ChannelSummary row;
        row.name = host::utf8(c->name().c_str());
        row.frequency = c->frequency();
        row.blockLength = c->blockLength();
        row.received = c->stats().samples;
        row.due = samplesDue(c->frequency(), seconds);
        row.blocks = c->stats().blocks;
        row.minimum = c->stats().minimum;
        row.maximum = c->stats().maximum;
        row.mean = c->stats().mean();
        rows.push_back(row);
    }
    return rows;
}

} // namespace recorder
