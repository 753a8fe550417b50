#include "session.h"

#include "platform/inifile.h"
#include "platform/ticks.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
        if (onMessage_)
            onMessage_(m);
    });
    update_.setInterval(options_.updateIntervalMs);
    QObject::connect(&update_, &QTimer::timeout, [this] {
        host_->updateData();
        // The files and the manifest are brought up to date about once a second.
        if (recording_ && ++updateTicks_ * options_.updateIntervalMs >= 1000) {
            updateTicks_ = 0;
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
}

void Session::prepareConfig() {
    if (options_.config.empty())
        return;
    // The emulator loads the configuration its settings file names. Both live
    // in a folder of this run, so that the example is never written over.
    configDir_ = std::make_unique<QTemporaryDir>();
    const QString copy =
        configDir_->filePath(QFileInfo(QString::fromStdString(options_.config)).fileName());
    if (!configDir_->isValid() || !QFile::copy(QString::fromStdString(options_.config), copy)) {
        failures_.push_back("cannot read the configuration " + options_.config);
        return;
    }
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    const std::string ini = configDir_->filePath("Tolvex.ini").toStdString();
    platform::writeProfileString(ini, "common", "CurCFGFile",
                                 QFile::encodeName(copy).toStdString());
    setenv("TOLVEX_INI", ini.c_str(), 1);
}

std::string Session::modulePath(const std::string& nameOrPath) const {
    if (nameOrPath.find('/') != std::string::npos)
        return nameOrPath;
    std::string file = nameOrPath;
    if (file.size() < 3 || file.compare(file.size() - 3, 3, ".so") != 0)
        file += ".so";
    const std::string& dir = options_.programDirectory;
    return dir.empty() ? "./" + file : dir + "/" + file;
}

int Session::loadModules() {
    for (const std::string& failure : failures_)
        host_->hostMessage(failure, 7);
    int started = 0;
    for (const std::string& entry : options_.modules) {
        const std::string path = modulePath(entry);
        host::LoadedModule* module = host_->load(path);
        if (module == nullptr) {
            failures_.push_back(host_->lastError());
            host_->hostMessage(host_->lastError(), 7);
            continue;
        }
        if (!host_->start(*module)) {
            failures_.push_back(module->error());
            continue; // start reported it in the log
        }
        host_->hostMessage(module->name() + " started", 1);
        ++started;
    }
    host_->processPending();
    return started;
}

void Session::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    host_->stopRecorder();
    host_->shutdownAll();
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
        recording_->setErrorHandler([this](const std::string& m) { host_->hostMessage(m, 7); });
        if (recording_->open())
            host_->hostMessage("recording to " + recording_->manifestPath(), 1);
        // The current file is named even when the folder could not be made:
        // it is where this run belongs.
        QString dir = QDir(QString::fromStdString(options_.directory)).absolutePath();
        if (!dir.endsWith('/'))
            dir += '/';
        host_->setCurrentFile(dir.toStdU16String(), QString::fromStdString(name).toStdU16String());
    }
    updateTicks_ = 0;
    update_.start();
    if (onState_)
        onState_(true);
}

void Session::stopped() {
    update_.stop();
    if (recording_) {
        recording_->setRunSeconds(host_->time());
        recording_->close();
    }
    if (onState_)
        onState_(false);
}

void Session::received(host::HostChannel& channel, const float* block, std::int32_t count) {
    lastBlockTicks_ = platform::tickCount64();
    auto it = kept_.find(&channel);
    if (it == kept_.end()) {
        channel.AddRef();
        auto kept = std::make_unique<Kept>(
            Kept{&channel, Envelope(),
                 ScopeTrace(channel.frequency(), options_.scopeSeconds, options_.scopeColumns)});
        it = kept_.emplace(&channel, std::move(kept)).first;
    }
    it->second->envelope.add(block, count);
    it->second->scope.add(block, count);
    if (recording_)
        recording_->write(channel, block, count);
}

const Envelope* Session::envelope(const host::HostChannel* channel) const {
    auto it = kept_.find(channel);
    return it == kept_.end() ? nullptr : &it->second->envelope;
}

const ScopeTrace* Session::scope(const host::HostChannel* channel) const {
    auto it = kept_.find(channel);
    return it == kept_.end() ? nullptr : &it->second->scope;
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
