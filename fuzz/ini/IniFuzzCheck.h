// One fuzz input against the INI layer: the bytes become a file, every
// section/key pair found in it is read, one key is written, and the file is
// read again. Returns an empty text when every check held, else what failed.
// Shared by the fuzz target and the regression test that replays its corpus.
#pragma once

#include "platform/inifile.h"
#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inifuzz {

inline std::vector<std::pair<std::string, std::string>> pairsIn(std::string_view data) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string section;
    std::size_t pos = 0;
    while (pos < data.size() && pairs.size() < 64) {
        std::size_t end = data.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = data.size();
        const std::string_view line = data.substr(pos, end - pos);
        const std::size_t open = line.find('[');
        const std::size_t close = line.rfind(']');
        const std::size_t eq = line.find('=');
        if (open != std::string_view::npos && close != std::string_view::npos && close > open)
            section = std::string(line.substr(open + 1, close - open - 1));
        else if (eq != std::string_view::npos)
            pairs.emplace_back(section, std::string(line.substr(0, eq)));
        pos = end + 1;
    }
    return pairs;
}

inline std::string check(const std::uint8_t* bytes, std::size_t size, const std::string& file) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out)
            return "cannot write the input file";
    }
    auto pairs = pairsIn(data);
    pairs.emplace_back("common", "Count");
    pairs.emplace_back("", "");
    std::vector<std::string> before;
    for (const auto& [s, k] : pairs) {
        const std::string v = platform::readProfileString(file, s, k, "\x01");
        if (v.size() > platform::kProfileValueMax)
            return "a value longer than the limit";
        before.push_back(v);
    }
    platform::TIniFile ini(file);
    (void)ini.ReadInteger("common", "Count", 0);
    (void)ini.ReadFloat("common", "Fs", 10.0);

    // Write one key: a pair of the file or a new one, with a value cut from
    // the input.
    const std::size_t pick = size > 0 ? bytes[0] % (pairs.size() + 1) : pairs.size();
    const std::pair<std::string, std::string> target =
        pick < pairs.size() ? pairs[pick] : std::make_pair(std::string("New"), std::string("Key"));
    const std::string value(data.substr(size > 1 ? 1 : 0, size > 1 ? bytes[1] % 64 : 0));
    if (!platform::writeProfileString(file, target.first, target.second, value))
        return {}; // refused: nothing more to compare
    const std::string back = platform::readProfileString(file, target.first, target.second, "\x01");
    if (back != value.substr(0, platform::kProfileValueMax))
        return "the written value does not read back";
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto& [s, k] = pairs[i];
        if (platform::equalsNoCase1251(s, target.first) &&
            platform::equalsNoCase1251(k, target.second))
            continue;
        if (platform::readProfileString(file, s, k, "\x01") != before[i])
            return "writing one key changed another";
    }
    return {};
}

} // namespace inifuzz
