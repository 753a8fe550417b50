// End to end: the reference host loads Brantic.so, which loads the real
// Orvane.so beside it; the control endpoint is driven over HTTP.
#include "HttpProbe.h"

#include "host/host.h"
#include "platform/ticks.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace brantic_test;

namespace {

class RemoteControl : public ::testing::Test {
protected:
    void SetUp() override {
        port = freeLoopbackPort();
        setenv("BRANTIC_UI", "none", 1);
        setenv("ORVANE_PORT", std::to_string(port).c_str(), 1);
        setenv("ORVANE_TOKEN", token.c_str(), 1);
        platform::setTestTicks(1000000);
        recorder = std::make_unique<host::Host>();
        recorder->setTrace([this](const host::Call& call) {
            if (call.op == "command") {
                const std::lock_guard<std::mutex> lock(mutex);
                commands.push_back({call.args, std::this_thread::get_id()});
            }
        });
        module = recorder->open(std::string(MODULE_DIR) + "/Brantic.so");
        ASSERT_NE(module, nullptr) << recorder->lastError();
    }
    void TearDown() override {
        recorder.reset();
        platform::clearTestTicks();
        unsetenv("ORVANE_PORT");
        unsetenv("ORVANE_TOKEN");
    }

    struct Command {
        std::string args;
        std::thread::id thread;
    };
    std::vector<Command> commandsSent() {
        const std::lock_guard<std::mutex> lock(mutex);
        return commands;
    }
    void forgetCommands() {
        const std::lock_guard<std::mutex> lock(mutex);
        commands.clear();
    }

    HttpReply post(const std::string& path, const std::string& bearer) {
        return http(port, "POST", path, bearer);
    }
    nlohmann::json status() {
        const HttpReply r = http(port, "GET", "/api/status", token);
        EXPECT_EQ(r.status, 200);
        return r.status == 200 ? nlohmann::json::parse(r.body) : nlohmann::json();
    }

    std::string token = "end-to-end-token";
    int port = 0;
    std::unique_ptr<host::Host> recorder;
    host::LoadedModule* module = nullptr;
    std::mutex mutex;
    std::vector<Command> commands;
};

TEST_F(RemoteControl, StartAndStopOverHttpReachTheHostFromTheServerThread) {
    forgetCommands();
    EXPECT_EQ(post("/api/start", token).status, 200);
    auto sent = commandsSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].args, "1, Brantic");
    EXPECT_NE(sent[0].thread, std::this_thread::get_id());
    // The host carries the command out on its own thread.
    EXPECT_FALSE(recorder->running());
    recorder->processPending();
    EXPECT_TRUE(recorder->running());
    EXPECT_EQ(status()["state"], 2) << "PN_RCSTART(0) came back to the server";

    ASSERT_EQ(post("/api/stop", token).status, 200);
    recorder->processPending();
    EXPECT_FALSE(recorder->running());
    EXPECT_EQ(status()["state"], 1);
    sent = commandsSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].args, "3, Brantic");
}

TEST_F(RemoteControl, RequestsWithoutTheTokenOrFromAForeignHostChangeNothing) {
    forgetCommands();
    EXPECT_EQ(post("/api/start", "").status, 401);
    EXPECT_EQ(post("/api/start", "not-" + token).status, 401);
    const std::string reply = rawRequest(
        port, "POST /api/start HTTP/1.1\r\nHost: rebound.example:" + std::to_string(port) +
                  "\r\nAuthorization: Bearer " + token +
                  "\r\nConnection: close\r\n"
                  "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << reply;
    recorder->processPending();
    EXPECT_TRUE(commandsSent().empty());
    EXPECT_FALSE(recorder->running());
}

TEST_F(RemoteControl, StatusFollowsStateTimeAndCurrentFile) {
    recorder->startRecorder(1);
    EXPECT_EQ(status()["state"], 3);
    platform::advanceTestTicks(2500);
    recorder->updateData();
    EXPECT_DOUBLE_EQ(status()["time"].get<double>(), recorder->time());
    EXPECT_GE(recorder->time(), 2.5);
    recorder->setCurrentFile(u"/data/", u"Run1");
    EXPECT_EQ(status()["file"], "/data/Run1/Run1.kova");
    recorder->stopRecorder();
    EXPECT_EQ(status()["state"], 1);
    EXPECT_EQ(status()["stateText"], "stopped");
}

TEST_F(RemoteControl, GarbageLeavesItServingAndShutdownStopsIt) {
    forgetCommands();
    for (const std::string& junk :
         {std::string("\x00\x01\x02garbage\r\n\r\n", 14), std::string("GET\r\n\r\n"),
          std::string("POST /api/start HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1\r\n\r\n"),
          "GET /" + std::string(20000, '%') + " HTTP/1.1\r\n\r\n"})
        rawRequest(port, junk);
    recorder->processPending();
    EXPECT_TRUE(commandsSent().empty());
    EXPECT_EQ(status()["state"], 1);

    recorder->shutdown(*module);
    module = nullptr;
    EXPECT_EQ(rawRequest(port, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"), "<no connection>");
}

// Two clients that send a header byte now and then do not hold up close: the
// module unloads the server library, which ends every connection at once.
TEST_F(RemoteControl, CloseReturnsPromptlyWhileSlowClientsAreConnected) {
    std::vector<std::thread> clients;
    std::atomic<int> cut{0};
    for (int i = 0; i < 2; ++i) {
        clients.emplace_back([&] {
            const int fd = connectLoopback(port);
            const std::string request = "GET /api/status HTTP/1.1\r\nHost: localhost\r\nX: ";
            for (std::size_t at = 0; at < 60; ++at) {
                const char byte = request[std::min(at, request.size() - 1)];
                if (send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                    ++cut;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            close(fd);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = std::chrono::steady_clock::now();
    recorder->shutdown(*module);
    module = nullptr;
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - before);
    for (std::thread& t : clients)
        t.join();
    std::printf("close with two slow clients connected took %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_EQ(cut, 2) << "the slow clients were not disconnected";
    EXPECT_EQ(rawRequest(port, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"), "<no connection>");
}

} // namespace
