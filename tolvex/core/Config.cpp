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

bool isCompositeKind(const std::string& kind) {
    for (std::size_t i = 0; i < SignalKinds::count(); ++i) {
        const Signal& prototype = SignalKinds::at(i);
        if (prototype.kindName() == kind)
            return dynamic_cast<const CompositeSignal*>(&prototype) != nullptr;
    }
    return false; // an unknown kind loads as a level
}

// Counts the signals a composite stored at `section` loads, as
// CompositeSignal::load reads them; false as soon as the count would pass
// `budget` or the nesting gets too deep.
bool countCompositeParts(const TIniFile& ini, const std::string& section, int depth,
                         std::size_t& budget) {
    if (depth > kMaxDepth)
        return false;
    std::int32_t parts = ini.ReadInteger(section, "PartsCount", 0);
    parts = std::min(parts, CompositeSignal::kMaxParts);
    for (std::int32_t i = 0; i < parts; ++i) {
        if (budget == 0)
            return false;
        --budget;
        const std::string partSection = section + "_Part" + std::to_string(i);
        if (isCompositeKind(ini.ReadString(partSection, "Formula", "Уровень"_w)) &&
            !countCompositeParts(ini, partSection, depth + 1, budget))
            return false;
    }
    return true;
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
    TIniFile(path.string()).WriteString("common", "CurCFGFile", fileName);
}

std::int32_t channelsWithinBounds(const std::string& fileName, std::int32_t count) {
    const TIniFile ini(fileName);
    count = std::clamp(count, 0, kMaxChannels);
    std::size_t budget = kMaxSignals;
    for (std::int32_t i = 0; i < count; ++i) {
        if (budget == 0)
            return i;
        --budget;
        const std::string section = channelSection(static_cast<std::size_t>(i));
        if (isCompositeKind(ini.ReadString(section, "Formula", "Уровень"_w)) &&
            !countCompositeParts(ini, section + "formula", 1, budget))
            return i;
    }
    return count;
}

void readConfiguration(CTolvex& plugin, const std::string& fileName) {
    TIniFile ini(fileName);
    const std::int32_t count =
        channelsWithinBounds(fileName, ini.ReadInteger("common", "Count", 0));

    const std::size_t first = plugin.channels.size();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string section = channelSection(static_cast<std::size_t>(i));
        auto channel = std::make_unique<CVirtualChannel>(ini.ReadString(section, "Name", section));
        channel->frequency = roundToFloat(parseFloatTolerant(ini.ReadString(section, "Fs", "10")));
        plugin.channels.push_back(std::move(channel));
        RegisterChannel(*plugin.channels.back());
    }

    for (std::size_t n = 0; first + n < plugin.channels.size(); ++n) {
        CVirtualChannel& channel = *plugin.channels[first + n];
        const std::string section = channelSection(n);
        channel.frequency = roundToFloat(ini.ReadFloat(section, "Fs", 10.0));
        channel.name = ini.ReadString(section, "Name", "Chan1");
        const std::string kind = ini.ReadString(section, "Formula", "Уровень"_w);
        auto signal = createByKindName(kind);
        signal->load(ini, section + "formula");
        channel.signal = std::move(signal);
    }

    for (auto& channel : plugin.channels)
        channel->SendRange();
}

void writeConfiguration(const CTolvex& plugin, const std::string& fileName) {
    if (fileName.empty())
        return;
    TIniFile ini(fileName);
    ini.WriteInteger("common", "Count", static_cast<std::int32_t>(plugin.channels.size()));
    for (std::size_t n = 0; n < plugin.channels.size(); ++n) {
        const CVirtualChannel& channel = *plugin.channels[n];
        const std::string section = channelSection(n);
        ini.WriteFloat(section, "Fs", static_cast<double>(channel.frequency));
        ini.WriteString(section, "Name", channel.name);
        ini.WriteString(section, "Formula", channel.signal->kindName());
        channel.signal->save(ini, section + "formula");
    }
}

} // namespace config
} // namespace tolvex
