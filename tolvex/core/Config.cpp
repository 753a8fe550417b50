#include "Config.h"

#include "Tolvex.h"
#include "Utypes.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tolvex {

using namespace platform::literals;
using platform::TIniFile;

std::string settingsFilePath() {
    return platform::profileFilePath("Tolvex.ini", "tolvex", "TOLVEX_INI");
}

namespace config {

namespace {

std::string channelSection(std::size_t n) {
    return "Chan" + std::to_string(n);
}

} // namespace

double parseFloatTolerant(const std::string& text) {
    double value = 0.0;
    if (platform::StrToFloat(text, value))
        return value;
    std::string other = text;
    if (const auto dot = other.find('.'); dot != std::string::npos)
        other[dot] = ',';
    else if (const auto comma = other.find(','); comma != std::string::npos)
        other[comma] = '.';
    else
        other.insert(other.begin(), '.');
    if (platform::StrToFloat(other, value))
        return value;
    return 10.0;
}

std::string readCurrentFile() {
    return TIniFile(settingsFilePath()).ReadString("common", "CurCFGFile", "");
}

void writeCurrentFile(const std::string& fileName) {
    const std::filesystem::path path(settingsFilePath());
    if (path.has_parent_path()) {
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);
    }
    TIniFile settings(path.string());
    // Every load and save names the file; most name the one already there, and
    // then there is nothing to write (nor to flush to the disk).
    const std::string absent(1, '\0'); // no value read can be this
    if (settings.ReadString("common", "CurCFGFile", absent) == fileName)
        return;
    settings.WriteString("common", "CurCFGFile", fileName);
}

std::vector<std::string> readConfiguration(CTolvex& plugin, const std::string& fileName) {
    TIniFile ini(fileName);
    LoadBounds bounds;
    const std::int32_t count = ini.ReadInteger("common", "Count", 0);
    std::int32_t loaded = 0;
    std::int32_t defaultedLeft = kMaxDefaultedChannels;
    const std::size_t first = plugin.channels.size();
    for (; loaded < count; ++loaded) {
        const std::string section = channelSection(static_cast<std::size_t>(loaded));
        if (!ini.SectionExists(section) && defaultedLeft-- == 0)
            break;
        auto channel = std::make_unique<CVirtualChannel>(ini.ReadString(section, "Name", section));
        channel->frequency = roundToFloat(parseFloatTolerant(ini.ReadString(section, "Fs", "10")));
        plugin.channels.push_back(std::move(channel));
        RegisterChannel(*plugin.channels.back());
    }
    if (loaded < count)
        bounds.cuts.push_back(std::string("Count: каналов "_w) + std::to_string(count) +
                              ", загружено "_w + std::to_string(loaded));

    for (std::size_t n = 0; first + n < plugin.channels.size(); ++n) {
        CVirtualChannel& channel = *plugin.channels[first + n];
        const std::string section = channelSection(n);
        channel.frequency = roundToFloat(ini.ReadFloat(section, "Fs", 10.0));
        channel.name = ini.ReadString(section, "Name", "Chan1");
        const std::string kind = ini.ReadString(section, "Formula", "Уровень"_w);
        auto signal = createByKindName(kind);
        if (auto* composite = dynamic_cast<CompositeSignal*>(signal.get()))
            composite->load(ini, section + "formula", bounds, 1);
        else
            signal->load(ini, section + "formula");
        channel.signal = std::move(signal);
    }

    for (auto& channel : plugin.channels)
        channel->SendRange();
    return bounds.cuts;
}

std::string cutsMessage(const std::vector<std::string>& cuts) {
    constexpr std::size_t kShown = 10;
    std::string text = "Конфигурация загружена не полностью:"_w;
    for (std::size_t i = 0; i < cuts.size() && i < kShown; ++i) {
        text += '\n';
        text += cuts[i];
    }
    if (cuts.size() > kShown) {
        text += '\n';
        text += "и ещё "_w;
        text += std::to_string(cuts.size() - kShown);
    }
    return text;
}

void writeConfiguration(const CTolvex& plugin, const std::string& fileName) {
    if (fileName.empty())
        return;
    // One transaction: the file is replaced once, with every key of the save.
    TIniFile ini(fileName);
    ini.BeginUpdate();
    ini.WriteInteger("common", "Count", static_cast<std::int32_t>(plugin.channels.size()));
    for (std::size_t n = 0; n < plugin.channels.size(); ++n) {
        const CVirtualChannel& channel = *plugin.channels[n];
        const std::string section = channelSection(n);
        ini.WriteFloat(section, "Fs", static_cast<double>(channel.frequency));
        ini.WriteString(section, "Name", channel.name);
        ini.WriteString(section, "Formula", channel.signal->kindName());
        channel.signal->save(ini, section + "formula");
    }
    ini.UpdateFile();
}

} // namespace config
} // namespace tolvex
