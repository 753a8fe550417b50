#include "check.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"
#include "platform/wholefile.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace recorder {

namespace {

using namespace platform::literals;
using platform::TIniFile;

// The emulator's own bounds against hostile files.
constexpr std::int64_t kMaxDefaultedChannels = 4096;
constexpr std::size_t kMaxDefaultedParts = 65536;
constexpr int kMaxDepth = 64;

const std::string kAbsent(1, '\0'); // no value read can be this

std::string u8(const std::string& cp1251) {
    return platform::cp1251ToUtf8(cp1251);
}

std::string shown(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

// Names, at most a few of them, then how many more.
std::string someOf(const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i)
        text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > kShown)
        text += " and " + std::to_string(names.size() - kShown) + " more";
    return text;
}

bool validUtf8(const std::string& bytes, bool& nonAscii) {
    nonAscii = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t more = 0;
        if (c < 0x80)
            more = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return false;
        if (more > 0)
            nonAscii = true;
        if (more > 0 && i + more >= bytes.size())
            return false;
        for (std::size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        i += more + 1;
    }
    return true;
}

struct Checker {
    const TIniFile& ini;
    ConfigurationCheck& out;
    std::size_t defaultedPartsLeft = kMaxDefaultedParts;

    void add(const std::string& section, const std::string& text) {
        out.findings.push_back("[" + u8(section) + "] " + text);
    }

    // A number as the emulator reads it: the fallback when missing or no number.
    double number(const std::string& section, const char* key, double fallback,
                  bool missingCounts) {
        const std::string text = ini.ReadString(section, key, kAbsent);
        if (text == kAbsent) {
            if (missingCounts)
                add(section,
                    std::string("has no ") + key + ": the emulator takes " + shown(fallback));
            return fallback;
        }
        double v = 0;
        if (text.empty() || !platform::StrToFloat(text, v)) {
            add(section, std::string(key) + "=" + u8(text) + " is no number: the emulator takes " +
                             shown(fallback));
            return fallback;
        }
        if (!std::isfinite(v))
            add(section, std::string(key) + "=" + u8(text) + " is no finite number");
        return v;
    }

    // A whole number as the emulator reads it (decimal, or hexadecimal after 0x).
    std::int32_t whole(const std::string& section, const char* key, std::int32_t fallback) {
        const std::string text = ini.ReadString(section, key, kAbsent);
        if (text == kAbsent)
            return fallback;
        std::int32_t value = 0;
        switch (platform::parseProfileInteger(text, value)) {
        case platform::IntegerRead::Ok:
            return value;
        case platform::IntegerRead::OutOfRange:
            add(section, std::string(key) + "=" + u8(text) +
                             " is outside what a whole number of the file holds (-2147483648 to "
                             "2147483647): the emulator takes " +
                             std::to_string(fallback));
            return fallback;
        case platform::IntegerRead::NoNumber:
            break;
        }
        add(section, std::string(key) + "=" + u8(text) +
                         " is no whole number: the emulator takes " + std::to_string(fallback));
        return fallback;
    }

    // The signal whose kind is `kind` (as read), its parameters in `section`.
    void signal(const std::string& kind, const std::string& section, int depth) {
        if (kind == "Синус"_w || kind == "Пила"_w || kind == "Шум"_w) {
            number(section, "MaxLevel", 100, false);
            number(section, "MinLevel", -100, false);
            if (kind == "Синус"_w)
                number(section, "freq", 10, false);
            else if (kind == "Пила"_w)
                number(section, "Period", 1, false);
            return;
        }
        if (kind == "Сумма"_w) {
            parts(section, depth);
            return;
        }
        number(section, "Level", 0, false); // a level, also for an unknown kind
    }

    void parts(const std::string& section, int depth) {
        const std::int32_t n = whole(section, "PartsCount", 0);
        if (n > 0 && depth > kMaxDepth) {
            add(section, "nested deeper than " + std::to_string(kMaxDepth) +
                             " sums: the emulator loads none of its " + std::to_string(n) +
                             " parts");
            return;
        }
        std::vector<std::string> invented;
        for (std::int32_t i = 0; i < n; ++i) {
            const std::string part = section + "_Part" + std::to_string(i);
            if (!ini.SectionExists(part)) {
                if (defaultedPartsLeft == 0) {
                    add(section, "PartsCount=" + std::to_string(n) + ": the emulator loads " +
                                     std::to_string(i) + " parts and stops (at most " +
                                     std::to_string(kMaxDefaultedParts) +
                                     " parts without a section in a file)");
                    break;
                }
                --defaultedPartsLeft;
                invented.push_back("[" + u8(part) + "]");
                continue;
            }
            signal(kindOf(part), part, depth + 1);
        }
        if (!invented.empty())
            add(section, "PartsCount=" + std::to_string(n) + ", but " + someOf(invented) +
                             (invented.size() == 1 ? " has" : " have") +
                             " no section: the emulator invents them as levels of 0");
    }

    // The Formula key of a section; an unknown one is told, and loads as a level.
    std::string kindOf(const std::string& section) {
        const std::string kind = ini.ReadString(section, "Formula", kAbsent);
        if (kind == kAbsent) {
            add(section, "has no Formula: the emulator makes it a level");
            return "Уровень"_w;
        }
        if (kind != "Уровень"_w && kind != "Синус"_w && kind != "Пила"_w && kind != "Шум"_w &&
            kind != "Сумма"_w)
            add(section, "Formula=" + u8(kind) +
                             " is no kind the emulator knows (Уровень, Синус, Пила, Шум, Сумма, "
                             "compared exactly in code page 1251): it makes it a level");
        return kind;
    }
};

// What is not code page 1251 text: a UTF-8 file (as Linux editors write), a
// byte the code page leaves undefined.
void checkText(const std::string& bytes, ConfigurationCheck& out) {
    bool nonAscii = false;
    if (validUtf8(bytes, nonAscii) && nonAscii) {
        // The first line with such text, as meant and as the emulator reads it.
        std::istringstream lines(bytes);
        std::string line;
        while (std::getline(lines, line)) {
            bool high = false;
            for (char c : line)
                high = high || static_cast<unsigned char>(c) >= 0x80;
            if (!high)
                continue;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const auto eq = line.find('=');
            const std::string text = eq == std::string::npos ? line : line.substr(eq + 1);
            out.findings.push_back("the text is UTF-8, not code page 1251 (what the emulator "
                                   "reads): \"" +
                                   text + "\" would read as \"" + u8(text) + "\"");
            break;
        }
        return;
    }
    std::size_t line = 1;
    for (char c : bytes) {
        if (c == '\n')
            ++line;
        if (static_cast<unsigned char>(c) == 0x98) {
            out.findings.push_back("line " + std::to_string(line) +
                                   ": byte 0x98 is no character of code page 1251");
            break;
        }
    }
}

} // namespace

bool loadableConfiguration(const std::string& path, std::string& bytes, std::string& error) {
    // Opened without waiting: a FIFO in its place is refused, never waited on.
    std::string why;
    if (platform::readWholeFile(path, bytes, why) != platform::ReadOutcome::Ok) {
        error = path + ": " + why;
        return false;
    }
    // The emulator refuses what follows with a message and loads nothing.
    if (bytes.find_first_not_of(" \t\r\n") == std::string::npos) {
        error = path + " is empty";
        return false;
    }
    if (const platform::IniTextCheck text = platform::checkIniText(bytes); !text.ok()) {
        error = path + " is not an INI text: " + platform::describeIniFault(text);
        return false;
    }
    const TIniFile ini(path, bytes);
    const std::string countText = ini.ReadString("common", "Count", kAbsent);
    if (countText == kAbsent) {
        error = path + " is not an emulator configuration (it has no [common] Count)";
        return false;
    }
    std::int32_t count = 0;
    const platform::IntegerRead parsed = platform::parseProfileInteger(countText, count);
    if (parsed == platform::IntegerRead::NoNumber) {
        error = path + ": [common] Count=" + u8(countText) + " is no whole number";
        return false;
    }
    if (parsed == platform::IntegerRead::OutOfRange || count < 0) {
        error = path + ": [common] Count=" + u8(countText) +
                " is outside the channels a file can hold (0 to 2147483647)";
        return false;
    }
    return true;
}

bool checkEmulatorConfiguration(const std::string& path, ConfigurationCheck& out,
                                std::string& error) {
    out = {};
    std::string bytes;
    if (!loadableConfiguration(path, bytes, error))
        return false;
    const TIniFile ini(path, bytes);
    checkText(bytes, out);
    Checker check{ini, out};
    const std::int32_t count = check.whole("common", "Count", 0);

    std::vector<std::string> invented;
    std::int64_t loaded = 0;
    std::int64_t defaultedLeft = kMaxDefaultedChannels;
    for (; loaded < count; ++loaded) {
        const std::string section = "Chan" + std::to_string(loaded);
        if (!ini.SectionExists(section)) {
            if (defaultedLeft-- == 0) {
                out.findings.push_back(
                    "[common] Count=" + std::to_string(count) + ": the emulator loads " +
                    std::to_string(loaded) + " channels and stops (at most " +
                    std::to_string(kMaxDefaultedChannels) + " channels without a section)");
                break;
            }
            invented.push_back("[" + section + "]");
            out.samplesPerSecond += 10;
            if (out.fastest.empty() || out.fastestFrequency < 10) {
                out.fastest = section;
                out.fastestFrequency = 10;
            }
            continue;
        }
        std::string name = ini.ReadString(section, "Name", kAbsent);
        if (name == kAbsent) {
            check.add(section, "has no Name: the emulator names it Chan1");
            name = "Chan1";
        }
        const double fs = check.number(section, "Fs", 10, true);
        const auto frequency = static_cast<double>(static_cast<float>(fs));
        if (std::isfinite(fs) &&
            !(frequency >= kDialogFrequencyMin && frequency <= kDialogFrequencyMax))
            check.add(section, "Fs=" + u8(ini.ReadString(section, "Fs", "")) +
                                   " is outside the channel dialog's range (" +
                                   shown(kDialogFrequencyMin) + " to " +
                                   shown(kDialogFrequencyMax) + " Hz)");
        if (frequency > 0 && std::isfinite(frequency)) {
            out.samplesPerSecond += frequency;
            if (frequency > out.fastestFrequency) {
                out.fastestFrequency = frequency;
                out.fastest = u8(name);
            }
        } else if (!std::isfinite(frequency)) {
            out.samplesPerSecond = HUGE_VAL;
            out.fastestFrequency = HUGE_VAL;
            out.fastest = u8(name);
        }
        check.signal(check.kindOf(section), section + "formula", 1);
    }
    out.channels = static_cast<std::size_t>(loaded);
    if (!invented.empty())
        out.findings.push_back("[common] Count=" + std::to_string(count) + ", but " +
                               someOf(invented) + (invented.size() == 1 ? " has" : " have") +
                               " no section: the emulator invents " +
                               (invented.size() == 1 ? "it" : "them") +
                               " (named after the section, 10 Hz, a level of 0)");

    // Channel sections past Count: there, but never loaded.
    std::vector<std::string> beyond;
    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() < 7 || line.front() != '[' || line.back() != ']')
            continue;
        const std::string name = line.substr(1, line.size() - 2);
        if (!platform::equalsNoCase1251(name.substr(0, 4), "Chan"))
            continue;
        const std::string digits = name.substr(4);
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (std::stoll(digits) >= loaded)
            beyond.push_back("[" + u8(name) + "]");
    }
    if (!beyond.empty())
        out.findings.push_back(someOf(beyond) + (beyond.size() == 1 ? " lies" : " lie") +
                               " beyond [common] Count=" + std::to_string(count) +
                               ": the emulator does not load " +
                               (beyond.size() == 1 ? "it" : "them"));
    return true;
}

std::string rateProblem(const ConfigurationCheck& c) {
    if (c.samplesPerSecond <= kMaxSamplesPerSecond)
        return {};
    return "its " + std::to_string(c.channels) + " channel(s) ask for " +
           shown(c.samplesPerSecond) + " samples a second (the fastest, \"" + c.fastest + "\", " +
           shown(c.fastestFrequency) + " Hz); the recorder keeps at most " +
           shown(kMaxSamplesPerSecond) +
           " a second: every sample is computed live, and a run that falls behind its clock "
           "records less than it claims";
}

int checkCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            out << "Usage: recorder check FILE.res...\n"
                   "Lists what the emulator would change without a word when it loads each\n"
                   "configuration: channels a Count claims without their sections, unknown kinds,\n"
                   "text that is not code page 1251 (a UTF-8 file), frequencies outside the\n"
                   "channel dialog's range (1 to 216000 Hz), parts the loader's bounds cut, and a\n"
                   "rate the recorder cannot keep.\n"
                   "Exit status: 0 when every file is clean, 1 with findings, 2 when a file\n"
                   "cannot be read or is no configuration.\n";
            return 0;
        }
        if (!a.empty() && a[0] == '-') {
            err << "recorder check: unknown option " << a << "; try --help\n";
            return 2;
        }
        files.push_back(a);
    }
    if (files.empty()) {
        err << "recorder check: which file? try --help\n";
        return 2;
    }
    int status = 0;
    for (const std::string& file : files) {
        ConfigurationCheck c;
        std::string error;
        if (!checkEmulatorConfiguration(file, c, error)) {
            err << "recorder check: " << error << "\n";
            status = 2;
            continue;
        }
        const std::string rate = rateProblem(c);
        if (!rate.empty())
            c.findings.push_back(rate);
        for (const std::string& f : c.findings)
            out << file << ": " << f << "\n";
        out << file << ": " << c.channels << " channel(s), " << shown(c.samplesPerSecond)
            << " samples a second; "
            << (c.findings.empty() ? std::string("nothing the emulator would change")
                                   : std::to_string(c.findings.size()) + " finding(s)")
            << "\n";
        if (!c.findings.empty() && status == 0)
            status = 1;
    }
    return status;
}

} // namespace recorder
