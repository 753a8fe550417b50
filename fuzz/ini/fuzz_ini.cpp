// Arbitrary bytes as an INI file: reads must not crash, hang or misbehave, and
// a write must read back while every other key keeps its value.
#include "IniFuzzCheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& tempFile() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string dir =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fuzz_ini_XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr)
            std::abort();
        return dir + "/input.ini";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20)
        return 0;
    const std::string failure = inifuzz::check(data, size, tempFile());
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_ini: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
