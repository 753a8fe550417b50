#include "source.h"

#include "session.h"

#include "platform/inifile.h"
#include "platform/text.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace recorder {

std::string modulePathIn(const std::string& programDirectory, const std::string& nameOrPath) {
    if (nameOrPath.find('/') != std::string::npos)
        return nameOrPath;
    std::string file = nameOrPath;
    if (file.size() < 3 || file.compare(file.size() - 3, 3, ".so") != 0)
        file += ".so";
    return programDirectory.empty() ? "./" + file : programDirectory + "/" + file;
}

SampleSource::SampleSource() = default;

SampleSource::~SampleSource() {
    host_.reset(); // closes the module while its configuration copy still exists
    folder_.reset();
    // The module has closed (it may write its settings as it does): the
    // environment as it was, newest change undone first.
    for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
        if (it->wasSet)
            setenv(it->name.c_str(), it->value.c_str(), 1);
        else
            unsetenv(it->name.c_str());
    }
}

void SampleSource::setForModule(const char* name, const std::string& value) {
    // The module finds its settings file and its views through the
    // environment only; the first value seen is the one given back.
    const bool seen = std::any_of(replaced_.begin(), replaced_.end(),
                                  [&](const Replaced& r) { return r.name == name; });
    if (!seen) {
        const char* before = std::getenv(name);
        replaced_.push_back({name, before != nullptr, before != nullptr ? before : ""});
    }
    setenv(name, value.c_str(), 1);
}

bool SampleSource::open(const std::string& modulePath, const std::string& config,
                        std::string& error,
                        const std::function<bool(const std::string&, std::string&)>& prepare) {
    if (!checkConfiguration(config, error))
        return false;
    folder_ = std::make_unique<QTemporaryDir>();
    if (!folder_->isValid()) {
        error = "cannot make a temporary folder: " + folder_->errorString().toStdString();
        return false;
    }
    const QString copy = folder_->filePath("configuration.res");
    if (!QFile::copy(QString::fromStdString(config), copy)) {
        error = "cannot copy " + config + " into " + folder_->path().toStdString();
        return false;
    }
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    const std::string copyPath = QFile::encodeName(copy).toStdString();
    if (prepare && !prepare(copyPath, error))
        return false;
    // The emulator loads the configuration its settings file names.
    const std::string ini = QFile::encodeName(folder_->filePath("Tolvex.ini")).toStdString();
    if (!platform::writeProfileString(ini, "common", "CurCFGFile", copyPath)) {
        error = "cannot write " + ini;
        return false;
    }
    setForModule("TOLVEX_INI", ini);
    setForModule("TOLVEX_UI", "none");

    host::HostOptions options;
    options.recordCalls = false;
    options.keepSamples = false;
    host_ = std::make_unique<host::Host>(options);
    module_ = host_->open(modulePath);
    if (module_ == nullptr) {
        error = host_->lastError().empty() ? modulePath + " did not start" : host_->lastError();
        return false;
    }
    host_->processPending(); // the channel set reported: every channel bound
    if (host_->channels().empty()) {
        error = config + " gives the emulator no channel";
        return false;
    }
    // A module that does not serve requests from an index cannot be used.
    std::uint32_t state = 1;
    if (!fill(*host_->channels().front(), 0, 0, nullptr, nullptr, state)) {
        error = module_->name() + " does not serve data requests from an index";
        return false;
    }
    return true;
}

host::HostChannel* SampleSource::channelNamed(const std::string& utf8Name) const {
    const std::string wanted = platform::utf8ToCp1251(utf8Name);
    for (host::HostChannel* c : host_->channels())
        if (c->name() == wanted)
            return c;
    return nullptr;
}

bool SampleSource::fill(const host::HostChannel& channel, std::uint64_t first, std::uint64_t count,
                        float* floats, double* doubles, std::uint32_t& noiseState) {
    return module_ != nullptr &&
           host_->requestRange(*module_, channel.name(), first, count, floats, doubles, noiseState);
}

bool SampleSource::skip(const host::HostChannel& channel, std::uint64_t count,
                        std::uint32_t& noiseState) {
    return fill(channel, 0, count, nullptr, nullptr, noiseState);
}

} // namespace recorder
