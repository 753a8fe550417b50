#include "platform/wholefile.h"

#include "system.h"

#include <charconv>
#include <new>

namespace platform {

namespace {

testing::WriteFault& currentFault() {
    static testing::WriteFault fault;
    return fault;
}

// A run of decimal digits at the front of `text`, taken off it.
bool takeNumber(std::string_view& text, unsigned long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data())
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

} // namespace

void testing::setWriteFault(WriteFault fault) {
    currentFault() = std::move(fault);
}

int sys::injectedFault(testing::WriteStep step) {
    const testing::WriteFault& fault = currentFault();
    return fault ? fault(step) : 0;
}

std::string temporaryFileName(const std::string& file, unsigned long process, unsigned serial) {
    return file + ".tmp" + std::to_string(process) + "_" + std::to_string(serial);
}

bool sys::isTemporaryOf(std::string_view base, std::string_view name, unsigned long& process) {
    if (name.size() <= base.size() + 4 || name.substr(0, base.size()) != base)
        return false;
    name.remove_prefix(base.size());
    if (name.substr(0, 4) != ".tmp")
        return false;
    name.remove_prefix(4);
    unsigned long serial = 0;
    if (!takeNumber(name, process) || name.empty() || name.front() != '_')
        return false;
    name.remove_prefix(1);
    return takeNumber(name, serial) && name.empty();
}

ReadOutcome readWholeFile(const std::string& file, std::string& out, std::string& error) {
    error.clear();
    try {
        return sys::readFile(file, out, error);
    } catch (...) {
        out.clear();
        error = "out of memory";
        return ReadOutcome::Failed;
    }
}

bool writeWholeFile(const std::string& file, std::string_view data, std::string& error,
                    WholeFileOptions options) {
    error.clear();
    if (file.empty()) {
        error = "no file name";
        return false;
    }
    try {
        return sys::replaceFile(file, data, options, error);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    } catch (...) {
        error = "the write failed";
        return false;
    }
}

} // namespace platform
