#include "Config.h"

#include "Tolvex.h"
#include "Utypes.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"
#include "platform/wholefile.h"

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

namespace {

// The texts of the load's refusals (at namespace scope: one compiler fails
// on literal operator templates inside these functions).
const char* const kLine = "строка "_w;
const char* const kNotIni = "это не INI-файл: "_w;
const char* const kCannotRead = "файл не читается: "_w;
const char* const kNotLoaded = "Конфигурация не загружена: "_w;
const char* const kEllipsis = "…"_w;
const char* const kNulByte = " содержит нулевой байт (двоичный файл)"_w;
const char* const kByteOrderMark = "файл начинается с метки порядка байтов UTF-8"_w;
const char* const kBeforeSection = " стоит перед первым [разделом]"_w;
const char* const kCutShort = ", последняя, оборвана: файл обрезан"_w;
const char* const kEmpty = "файл пуст"_w;
const char* const kNoCount = "в разделе [common] нет ключа Count"_w;
const char* const kCountOutOfRange = " вне допустимого диапазона (от 0 до 2147483647)"_w;
const char* const kCountNoNumber = " не целое число"_w;
const char* const kMissing = "файл не найден"_w;
const char* const kFolder = "это папка, а не файл"_w;
const char* const kNotRegular = "это не обычный файл"_w;

// At most this much of a value is quoted in a message.
std::string quoted(const std::string& value) {
    constexpr std::size_t kShown = 40;
    return value.size() <= kShown ? value : value.substr(0, kShown) + kEllipsis;
}

std::string iniFault(const platform::IniTextCheck& check) {
    const std::string line = std::string(kLine) + std::to_string(check.line);
    switch (check.fault) {
    case platform::IniTextCheck::Fault::None:
        break;
    case platform::IniTextCheck::Fault::NulByte:
        return line + kNulByte;
    case platform::IniTextCheck::Fault::ByteOrderMark:
        return kByteOrderMark;
    case platform::IniTextCheck::Fault::BeforeSection:
        return line + kBeforeSection;
    case platform::IniTextCheck::Fault::CutShort:
        return line + kCutShort;
    }
    return {};
}

// Why `text` cannot be a configuration (1251); empty when it can, with
// the channel count in `count`.
std::string configurationProblem(const std::string& text, const TIniFile& ini,
                                 std::int32_t& count) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return kEmpty;
    if (const platform::IniTextCheck check = platform::checkIniText(text); !check.ok())
        return std::string(kNotIni) + iniFault(check);
    const std::string absent(1, '\0'); // no value read can be this
    const std::string countText = ini.ReadString("common", "Count", absent);
    if (countText == absent)
        return kNoCount;
    switch (platform::parseProfileInteger(countText, count)) {
    case platform::IntegerRead::Ok:
        if (count >= 0)
            return {};
        [[fallthrough]];
    case platform::IntegerRead::OutOfRange:
        return "Count=" + quoted(countText) + kCountOutOfRange;
    case platform::IntegerRead::NoNumber:
        break;
    }
    return "Count=" + quoted(countText) + kCountNoNumber;
}

// Why the file could not be read (1251).
std::string unreadable(const std::string& fileName, platform::ReadOutcome outcome,
                       const std::string& why) {
    if (outcome == platform::ReadOutcome::Missing)
        return kMissing;
    std::error_code error;
    const auto status = std::filesystem::status(std::filesystem::path(fileName), error);
    if (!error && std::filesystem::is_directory(status))
        return kFolder;
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return kNotRegular;
    return std::string(kCannotRead) + why;
}

std::string refusal(const std::string& fileName, const std::string& reason) {
    return std::string(kNotLoaded) + fileName + "\n" + reason;
}

void fillConfiguration(const CTolvex& plugin, TIniFile& ini) {
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

} // namespace

LoadOutcome readConfiguration(CTolvex& plugin, const std::string& fileName) {
    if (fileName.empty())
        return {};
    std::string text;
    std::string why;
    const platform::ReadOutcome outcome = platform::readWholeFile(fileName, text, why);
    if (outcome != platform::ReadOutcome::Ok)
        return {refusal(fileName, unreadable(fileName, outcome, why)), {}};
    return loadConfigurationText(plugin, fileName, std::move(text));
}

LoadOutcome loadConfigurationText(CTolvex& plugin, const std::string& fileName, std::string text) {
    TIniFile ini(fileName, text);
    std::int32_t count = 0;
    if (std::string problem = configurationProblem(text, ini, count); !problem.empty())
        return {refusal(fileName, problem), {}};
    text = {}; // the accessor holds its own copy

    LoadBounds bounds;
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
    return {{}, std::move(bounds.cuts)};
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

std::string configurationText(const CTolvex& plugin) {
    TIniFile ini({}, {});
    ini.BeginUpdate();
    fillConfiguration(plugin, ini);
    return ini.Text();
}

void writeConfiguration(const CTolvex& plugin, const std::string& fileName) {
    if (fileName.empty())
        return;
    // One transaction: the file is replaced once, with every key of the save.
    TIniFile ini(fileName);
    ini.BeginUpdate();
    fillConfiguration(plugin, ini);
    ini.UpdateFile();
}

} // namespace config
} // namespace tolvex
