// In a real browser: the reference host runs Brantic with the real server
// library; headless Chromium opens the control page, is given the token
// through the page, presses Start and Stop and sees the state follow.
#include "../brantic/HttpProbe.h"

#include "host/host.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

TEST(Browser, TokenStartAndStopThroughThePage) {
    struct stat info {};
    ASSERT_EQ(stat("/usr/bin/chromium", &info), 0) << "chromium is missing: run scripts/bootstrap";
    ASSERT_EQ(stat(BROWSER_DIR "/node_modules/playwright-core", &info), 0)
        << "playwright-core is missing: run scripts/bootstrap";

    const int port = brantic_test::freeLoopbackPort();
    const std::string token = "browser-token-4711";
    setenv("BRANTIC_UI", "none", 1);
    setenv("ORVANE_PORT", std::to_string(port).c_str(), 1);
    setenv("ORVANE_TOKEN", token.c_str(), 1);

    host::Host recorder;
    std::mutex mutex;
    std::vector<std::string> commands;
    recorder.setTrace([&](const host::Call& call) {
        if (call.op == "command") {
            const std::lock_guard<std::mutex> lock(mutex);
            commands.push_back(call.args);
        }
    });
    host::LoadedModule* module = recorder.open(std::string(MODULE_DIR) + "/Brantic.so");
    ASSERT_NE(module, nullptr) << recorder.lastError();
    recorder.setCurrentFile(u"/data/recordings/", u"Run1");
    {
        const std::lock_guard<std::mutex> lock(mutex);
        commands.clear();
    }

    const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/";
    const std::string script = BROWSER_DIR "/control_page.mjs";
    // The guide's pictures are taken into a folder of their own.
    const char* elsewhere = std::getenv("BROWSER_SCREENSHOT");
    const std::string shot =
        elsewhere != nullptr && *elsewhere != '\0' ? elsewhere : SCREENSHOT_FILE;
    std::vector<std::string> args = {"node", script, address, token, shot};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawnp(&child, "node", nullptr, nullptr, argv.data(), environ), 0);

    // The host's thread keeps serving while the browser works: commands from
    // the server's thread are carried out here, and the time goes out as the
    // recorder runs.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the browser did not finish";
        }
        recorder.processPending();
        if (recorder.running())
            recorder.updateData();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    recorder.processPending();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(commands, (std::vector<std::string>{"1, Brantic", "3, Brantic"}));
}

} // namespace
