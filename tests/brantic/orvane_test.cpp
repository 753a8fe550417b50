// The reference server library on its own: loaded by path, given a command
// object, and spoken to over HTTP on the loopback address.
#include "plugin_api/remote_control.h"

#include "platform/text.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform::literals;

namespace {

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// Sends raw bytes and reads what comes back until the peer closes.
std::string rawExchange(int port, const std::string& bytes, bool halfClose = true) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return "<no connection>";
    }
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (halfClose)
        shutdown(fd, SHUT_WR);
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return reply;
}

class CountingCommand final : public IrcCommand {
public:
    bool RECAPI stop() override { return note(stops); }
    bool RECAPI start() override { return note(starts); }
    bool RECAPI sendcode2() override { return true; }
    bool RECAPI sendcode20() override { return true; }
    bool RECAPI reserveda(std::int32_t, std::int32_t) override { return true; }
    bool RECAPI reservedb(std::int32_t, std::int32_t) override { return true; }

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::mutex mutex;
    std::thread::id caller;

private:
    bool note(std::atomic<int>& count) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            caller = std::this_thread::get_id();
        }
        ++count;
        return true;
    }
};

class OrvaneServer : public ::testing::Test {
protected:
    void SetUp() override {
        port = freePort();
        setenv("ORVANE_PORT", std::to_string(port).c_str(), 1);
        setenv("ORVANE_TOKEN", token.c_str(), 1);
    }
    void TearDown() override {
        unload();
        unsetenv("ORVANE_PORT");
        unsetenv("ORVANE_TOKEN");
        unsetenv("ORVANE_TOKEN_FILE");
    }

    IrcNotify* load(const std::string& path = ORVANE_MODULE_FILE) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        if (handle == nullptr)
            return nullptr;
        auto entry = reinterpret_cast<PFN_GetNotifyInterface>(dlsym(handle, "GetNotifyInterface"));
        EXPECT_NE(entry, nullptr);
        notify = entry();
        return notify;
    }
    void unload() {
        if (handle != nullptr)
            dlclose(handle);
        handle = nullptr;
        notify = nullptr;
    }

    httplib::Result get(const std::string& path, const std::string& bearer) {
        httplib::Client client("127.0.0.1", port);
        httplib::Headers headers;
        if (!bearer.empty())
            headers.emplace("Authorization", "Bearer " + bearer);
        return client.Get(path, headers);
    }
    httplib::Result post(const std::string& path, const std::string& bearer,
                         const std::string& body = {}, httplib::Headers extra = {}) {
        httplib::Client client("127.0.0.1", port);
        if (!bearer.empty())
            extra.emplace("Authorization", "Bearer " + bearer);
        return client.Post(path, extra, body, "application/json");
    }
    int status(const httplib::Result& r) { return r ? r->status : -1; }

    std::string token = "test-token-0123456789";
    int port = 0;
    void* handle = nullptr;
    IrcNotify* notify = nullptr;
    CountingCommand command;
};

TEST_F(OrvaneServer, ServesNothingUntilTheCommandIsAttached) {
    ASSERT_NE(load(), nullptr);
    EXPECT_FALSE(get("/api/status", token));
    notify->attachcommand(2, &command);
    EXPECT_EQ(status(get("/api/status", token)), 200);
}

TEST_F(OrvaneServer, StatusReflectsWhatTheModuleTold) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    notify->setstate(3);
    notify->settime(12.5, 0);
    notify->setfilepath((std::string("/data/") + "Запись"_w + "/run.kova").c_str());
    auto r = get("/api/status", token);
    ASSERT_EQ(status(r), 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
    const auto json = nlohmann::json::parse(r->body);
    EXPECT_EQ(json["state"], 3);
    EXPECT_EQ(json["stateText"], "recording");
    EXPECT_EQ(json["time"], 12.5);
    EXPECT_EQ(json["file"], "/data/Запись/run.kova");
    notify->setstate(1);
    EXPECT_EQ(nlohmann::json::parse(get("/api/status", token)->body)["state"], 1);
}

TEST_F(OrvaneServer, StartAndStopReachTheCommandFromTheServerThread) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    auto r = post("/api/start", token);
    ASSERT_EQ(status(r), 200);
    EXPECT_EQ(nlohmann::json::parse(r->body)["ok"], true);
    EXPECT_EQ(command.starts, 1);
    {
        const std::lock_guard<std::mutex> lock(command.mutex);
        EXPECT_NE(command.caller, std::this_thread::get_id());
    }
    EXPECT_EQ(status(post("/api/stop", token, "{}")), 200);
    EXPECT_EQ(command.stops, 1);
}

TEST_F(OrvaneServer, RequestsWithoutTheRightTokenChangeNothing) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    for (const std::string& bad :
         {std::string(), std::string("wrong"), token + "x", token.substr(1), std::string(" ")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(status(post("/api/start", bad)), 401);
        EXPECT_EQ(status(post("/api/stop", bad)), 401);
        EXPECT_EQ(status(get("/api/status", bad)), 401);
    }
    // Another scheme with the right token is refused too.
    httplib::Client client("127.0.0.1", port);
    EXPECT_EQ(status(client.Post("/api/start", {{"Authorization", "Basic " + token}}, "", "")),
              401);
    EXPECT_EQ(command.starts + command.stops, 0);
}

TEST_F(OrvaneServer, ForeignHostHeaderIsRefused) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    const std::string p = std::to_string(port);
    for (const std::string& host :
         std::vector<std::string>{"attacker.example:" + p, "attacker.example", "127.0.0.2:" + p,
                                  "127.0.0.1:1", "localhost.attacker.example:" + p, ""}) {
        SCOPED_TRACE(host);
        const std::string reply =
            rawExchange(port,
                        "POST /api/start HTTP/1.1\r\nHost: " + host + "\r\nAuthorization: Bearer " +
                            token + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
                        false);
        EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << reply;
    }
    EXPECT_EQ(command.starts, 0);
    for (const std::string& host :
         std::vector<std::string>{"localhost:" + p, "LocalHost", "127.0.0.1:" + p}) {
        const std::string reply =
            rawExchange(port,
                        "POST /api/start HTTP/1.1\r\nHost: " + host + "\r\nAuthorization: Bearer " +
                            token + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
                        false);
        EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    }
    EXPECT_EQ(command.starts, 3);
}

TEST_F(OrvaneServer, BadRequestsAreAnsweredAndLeaveItServing) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    EXPECT_EQ(status(get("/api/nothing", token)), 404);
    EXPECT_EQ(status(get("/index.html", token)), 404);
    EXPECT_EQ(status(get("/api/start", token)), 405);
    EXPECT_EQ(status(post("/api/start", token, "{not json")), 400);
    EXPECT_EQ(status(post("/api/start", token, "[1,2]")), 400);
    EXPECT_EQ(status(post("/api/start", token, std::string(10000, '{'))), 413);
    EXPECT_EQ(command.starts, 0);

    for (const std::string& junk :
         {std::string("\x16\x03\x01\x02\x00garbage", 13), std::string("GET\r\n\r\n"),
          std::string("GET /api/status HTTP/1.1\r\nHost: localhost\r\n") + std::string(20000, 'X') +
              "\r\n\r\n",
          "GET /" + std::string(10000, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n",
          std::string("POST /api/start HTTP/1.1\r\nHost: localhost\r\nContent-Length: "
                      "99999999999999999999\r\n\r\n"),
          std::string("POST /api/start HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: "
                      "chunked\r\nAuthorization: Bearer ") +
              token + "\r\n\r\nzz\r\n"}) {
        rawExchange(port, junk);
    }
    EXPECT_EQ(command.starts, 0);
    EXPECT_EQ(status(get("/api/status", token)), 200);
}

TEST_F(OrvaneServer, PageNeedsNoTokenAndCarriesTheButtons) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    auto r = get("/", "");
    ASSERT_EQ(status(r), 200);
    EXPECT_NE(r->body.find("id=\"start\""), std::string::npos);
    EXPECT_NE(r->body.find("id=\"stop\""), std::string::npos);
    EXPECT_NE(r->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
              std::string::npos);
}

TEST_F(OrvaneServer, RandomTokenIsWrittenForTheUserOnly) {
    unsetenv("ORVANE_TOKEN");
    const std::string folder = testing::TempDir() + "orvane-token-" + std::to_string(getpid());
    const std::string file = folder + "/sub/token";
    setenv("ORVANE_TOKEN_FILE", file.c_str(), 1);
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    std::ifstream in(file);
    std::string written;
    std::getline(in, written);
    EXPECT_EQ(written.size(), 48u);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(status(post("/api/start", written)), 200);
    EXPECT_EQ(status(post("/api/start", token)), 401);
    EXPECT_EQ(command.starts, 1);
    unload();
    std::remove(file.c_str());
    rmdir((folder + "/sub").c_str());
    rmdir(folder.c_str());
}

TEST_F(OrvaneServer, PortInUseIsReportedAndNothingBreaks) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    ASSERT_NE(load(), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(notify->attachcommand(2, &command));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(std::to_string(port)), std::string::npos) << said;
    EXPECT_TRUE(notify->setstate(2));
    EXPECT_TRUE(notify->settime(1.0, 0));
    close(fd);
}

TEST_F(OrvaneServer, InvalidPortSettingFallsBackToTheFileBesideTheLibrary) {
    // A copy of the library in a folder with its settings file.
    const std::string folder = testing::TempDir() + "orvane-conf-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    {
        std::ifstream src(ORVANE_MODULE_FILE, std::ios::binary);
        std::ofstream dst(folder + "/Orvane.so", std::ios::binary);
        dst << src.rdbuf();
    }
    {
        std::ofstream conf(folder + "/Orvane.conf");
        conf << "# control endpoint\nport = " << port << "\n";
    }
    setenv("ORVANE_PORT", "not-a-port", 1);
    testing::internal::CaptureStderr();
    ASSERT_NE(load(folder + "/Orvane.so"), nullptr);
    notify->attachcommand(2, &command);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("not-a-port"), std::string::npos);
    EXPECT_EQ(status(get("/api/status", token)), 200);
    unload();
    std::remove((folder + "/Orvane.so").c_str());
    std::remove((folder + "/Orvane.conf").c_str());
    rmdir(folder.c_str());
}

TEST_F(OrvaneServer, DetachOrUnloadStopsTheServer) {
    ASSERT_NE(load(), nullptr);
    notify->attachcommand(2, &command);
    ASSERT_EQ(status(get("/api/status", token)), 200);
    notify->attachcommand(2, nullptr);
    EXPECT_FALSE(get("/api/status", token));
    notify->attachcommand(2, &command);
    ASSERT_EQ(status(get("/api/status", token)), 200);
    // A client keeps its connection open while the library goes away.
    httplib::Client keeper("127.0.0.1", port);
    keeper.set_keep_alive(true);
    ASSERT_TRUE(keeper.Get("/api/status", {{"Authorization", "Bearer " + token}}));
    unload();
    EXPECT_FALSE(get("/api/status", token));
    EXPECT_EQ(rawExchange(port, "GET / HTTP/1.1\r\n\r\n"), "<no connection>");
}

} // namespace
