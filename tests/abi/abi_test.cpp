// Both modules seen from outside: their export tables, and their plug-in
// objects driven through the operation tables by a host written in C.
#include "c_host.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

using namespace platform::literals;

namespace {

std::set<std::string> exportedNames(const std::string& path) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only --format=posix '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string entry(line);
        const auto space = entry.find(' ');
        const char kind = space + 1 < entry.size() ? entry[space + 1] : '?';
        if (kind == 'T' || kind == 'D' || kind == 'B' || kind == 'R' || kind == 'W' || kind == 'V')
            names.insert(entry.substr(0, space));
    }
    pclose(pipe);
    return names;
}

std::string modulePath(const char* name) {
    return std::string(MODULE_DIR) + "/" + name;
}

} // namespace

TEST(Exports, EmulatorExportsExactlyItsFiveFunctions) {
    const auto names = exportedNames(modulePath("Tolvex.so"));
    const std::set<std::string> expected = {"_GetPluginType", "_GetPluginDescription",
                                            "_CreatePluginClass", "_DestroyPluginClass",
                                            "_GetPluginInfo"};
    EXPECT_EQ(names, expected);
}

TEST(Exports, RemoteControlExportsItsFunctionsAndNothingOutsideItsClass) {
    const auto names = exportedNames(modulePath("Brantic.so"));
    for (const char* name : {"GetPluginType", "GetPluginDescription", "CreatePluginClass",
                             "DestroyPluginClass", "GetPluginInfo", "GetKovaComponentVersion"})
        EXPECT_EQ(names.count(name), 1u) << name;
    for (const auto& name : names) {
        const bool function = name.rfind("Get", 0) == 0 || name.rfind("CreatePlugin", 0) == 0 ||
                              name.rfind("DestroyPlugin", 0) == 0;
        // Members of the exported class carry its mangled name.
        const bool member = name.find("8CBrantic") != std::string::npos;
        EXPECT_TRUE(function || member) << "unexpected export " << name;
    }
}

TEST(CHost, EmulatorAnswersThroughItsOperationTable) {
    char report[256] = {};
    EXPECT_TRUE(
        c_host_check(modulePath("Tolvex.so").c_str(), "Заказ внутр"_w, -1, report, sizeof report))
        << report;
}

TEST(CHost, RemoteControlAnswersThroughItsOperationTable) {
    char report[256] = {};
    EXPECT_TRUE(c_host_check(modulePath("Brantic.so").c_str(), "Удаленное управление"_w, 0, report,
                             sizeof report))
        << report;
}
