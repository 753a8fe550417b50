#include "recover.h"

#include "recording.h"

#include "platform/wholefile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>
#include <vector>

namespace recorder {

namespace fs = std::filesystem;

const char* const kRecoverUsage =
    "Usage: recorder recover DIR | DIR/NAME.kova\n"
    "Mends the manifest of a recording that its program never ended (a crash, kill -9,\n"
    "a power cut: its status still says \"recording\"). Each channel's sample count is\n"
    "taken from its files: a WAV file's header (what it declares is whole), the size of\n"
    "a raw file, the whole lines of a CSV file. The status becomes \"interrupted\n"
    "(recovered)\" and the manifest is replaced whole. The channel files are not changed.\n"
    "Exit status: 0 mended (or mended before), 1 when it cannot be, 2 for a target that\n"
    "is not a recording.\n";

namespace {

constexpr const char* kRecovered = "interrupted (recovered)";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The manifest a target names: the file itself, or in a folder the one named
// as the folder is, else the folder's only manifest.
bool manifestOf(const std::string& target, std::string& manifest, std::string& error) {
    std::error_code code;
    const fs::path path = fs::path(target);
    if (!fs::is_directory(path, code)) {
        if (!fs::is_regular_file(path, code)) {
            error = target + ": no such recording folder or manifest";
            return false;
        }
        manifest = target;
        return true;
    }
    fs::path named = path / path.filename();
    if (path.filename().empty()) // "DIR/"
        named = path / path.parent_path().filename();
    named += ".kova";
    if (fs::is_regular_file(named, code)) {
        manifest = named.string();
        return true;
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(path, code))
        if (entry.path().extension() == ".kova" && entry.is_regular_file(code))
            found.push_back(entry.path());
    if (found.size() != 1) {
        error = target + (found.empty() ? ": no manifest (.kova) in this folder"
                                        : ": more than one manifest; name the one to mend");
        return false;
    }
    manifest = found[0].string();
    return true;
}

// The whole samples one channel file holds; false when it cannot be read.
bool samplesIn(const std::string& path, std::uint64_t& samples, std::string& error) {
    std::error_code code;
    const auto size = fs::file_size(fs::path(path), code);
    if (code) {
        error = path + ": " + code.message();
        return false;
    }
    if (endsWith(path, ".wav")) {
        if (size == 0) { // made, killed before its header
            samples = 0;
            return true;
        }
        WavInfo info;
        if (!readWavInfo(path, info, error))
            return false;
        samples = info.frames;
        return true;
    }
    if (endsWith(path, ".f32") || endsWith(path, ".f64")) {
        samples = size / (endsWith(path, ".f32") ? 4 : 8);
        return true;
    }
    if (endsWith(path, ".csv")) {
        std::ifstream in(fs::path(path), std::ios::binary);
        if (!in) {
            error = "cannot open " + path;
            return false;
        }
        std::uint64_t lines = 0;
        std::vector<char> buffer(1 << 16);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
            lines += static_cast<std::uint64_t>(
                std::count(buffer.data(), buffer.data() + in.gcount(), '\n'));
            if (!in)
                break;
        }
        samples = lines > 0 ? lines - 1 : 0; // the header line first
        return true;
    }
    error = path + ": not a file of this recorder (.wav, .f32, .f64 or .csv)";
    return false;
}

std::string seconds3(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

} // namespace

int recover(const std::string& target, std::ostream& out, std::ostream& err) {
    std::string manifest;
    std::string error;
    if (!manifestOf(target, manifest, error)) {
        err << "recorder recover: " << error << "\n";
        return 2;
    }
    RecordedRun run;
    if (!readManifest(manifest, run, error)) {
        err << "recorder recover: " << error << "\n";
        return 2;
    }
    if (run.status == kRecovered) {
        out << manifest << ": recovered before; nothing changed\n";
        return 0;
    }
    if (run.status != "recording") {
        err << "recorder recover: " << manifest << " ended as \"" << run.status
            << "\"; only a recording whose status still says \"recording\" is recovered\n";
        return 1;
    }
    const std::string folder = fs::path(manifest).parent_path().string();
    std::vector<std::uint64_t> counts;
    double seconds = run.seconds;
    for (const RecordedChannel& c : run.channels) {
        std::uint64_t total = 0;
        for (const std::string& file : c.files) {
            std::uint64_t n = 0;
            if (!samplesIn((folder.empty() ? std::string() : folder + "/") + file, n, error)) {
                err << "recorder recover: " << error << "; " << manifest << " is not changed\n";
                return 1;
            }
            total += n;
        }
        counts.push_back(total);
        if (c.frequency > 0)
            seconds = std::max(seconds, static_cast<double>(total) / c.frequency);
    }

    // The manifest as it is, but for the status, the time and the counts.
    std::string text;
    if (platform::readWholeFile(manifest, text, error) != platform::ReadOutcome::Ok) {
        err << "recorder recover: cannot read " << manifest << ": " << error << "\n";
        return 1;
    }
    std::istringstream lines(text);
    std::string line;
    std::string mended;
    std::string section;
    int channel = -1;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            if (section.rfind("channel ", 0) == 0)
                ++channel;
        } else if (section == "recording" && line.rfind("status=", 0) == 0) {
            line = std::string("status=") + kRecovered;
        } else if (section == "recording" && line.rfind("seconds=", 0) == 0) {
            line = "seconds=" + seconds3(seconds);
        } else if (channel >= 0 && static_cast<std::size_t>(channel) < counts.size() &&
                   line.rfind("samples=", 0) == 0) {
            line = "samples=" + std::to_string(counts[static_cast<std::size_t>(channel)]);
        }
        mended += line + "\n";
    }
    if (!platform::writeWholeFile(manifest, mended, error)) {
        err << "recorder recover: cannot write " << manifest << ": " << error << "\n";
        return 1;
    }
    // The room the recording kept for its manifest is no longer needed.
    std::error_code code;
    fs::remove(fs::path(folder) / ("." + run.name + ".room"), code);

    out << manifest << ": " << kRecovered << ", " << seconds3(seconds) << " s\n";
    for (std::size_t i = 0; i < run.channels.size(); ++i) {
        out << "  " << run.channels[i].name << ": " << counts[i] << " samples";
        if (counts[i] != run.channels[i].samples)
            out << " (the manifest said " << run.channels[i].samples << ")";
        out << "\n";
    }
    return 0;
}

int recoverCommand(int argc, char** argv) {
    std::vector<std::string> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kRecoverUsage;
            return 0;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::cerr << "recorder recover: unknown option " << a
                      << " (try recorder recover --help)\n";
            return 2;
        }
        targets.push_back(a);
    }
    if (targets.size() != 1) {
        std::cerr << "recorder recover: name one recording (its folder or its manifest)"
                  << " (try recorder recover --help)\n";
        return 2;
    }
    return recover(targets[0], std::cout, std::cerr);
}

} // namespace recorder
