// The reference server library on its own: loaded by path, given a command
// object, and spoken to over HTTP on the loopback address; and its endpoint
// run directly with small limits.
#include "Endpoint.h"
#include "HttpProbe.h"

#include "plugin_api/remote_control.h"

#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace platform::literals;
using namespace brantic_test;
using Clock = std::chrono::steady_clock;

namespace {

// A wrong token is answered 401, or 429 with a time to come back once wrong
// tokens come too fast.
bool refused(const HttpReply& r) {
    return r.status == 401 || (r.status == 429 && !r.header("Retry-After").empty());
}

long residentKiB() {
    std::ifstream in("/proc/self/statm");
    long size = 0;
    long resident = 0;
    in >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

// True when the peer has closed `fd` (or reset it); waits up to `ms`.
bool closedByPeer(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    char c;
    return recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

std::string temporaryFolder(const std::string& name) {
    std::string folder = testing::TempDir() + name + "-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    return folder;
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
        port = freeLoopbackPort();
        setenv("ORVANE_PORT", std::to_string(port).c_str(), 1);
        setenv("ORVANE_TOKEN", token.c_str(), 1);
        folder = temporaryFolder("orvane");
        tokenPath = folder + "/sub/token";
        setenv("ORVANE_TOKEN_FILE", tokenPath.c_str(), 1);
    }
    void TearDown() override {
        unload();
        unsetenv("ORVANE_PORT");
        unsetenv("ORVANE_TOKEN");
        unsetenv("ORVANE_TOKEN_FILE");
        std::remove(tokenPath.c_str());
        rmdir((folder + "/sub").c_str());
        rmdir(folder.c_str());
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
    bool attach() {
        if (load() == nullptr)
            return false;
        notify->attachcommand(2, &command);
        return true;
    }

    HttpReply get(const std::string& path, const std::string& bearer) {
        return http(port, "GET", path, bearer);
    }
    HttpReply post(const std::string& path, const std::string& bearer,
                   const std::string& body = {}) {
        return http(port, "POST", path, bearer, body);
    }
    std::string readToken() {
        std::ifstream in(tokenPath);
        std::string line;
        std::getline(in, line);
        return line;
    }

    std::string token = "test-token-0123456789";
    int port = 0;
    std::string folder;
    std::string tokenPath;
    void* handle = nullptr;
    IrcNotify* notify = nullptr;
    CountingCommand command;
};

TEST_F(OrvaneServer, ServesNothingUntilTheCommandIsAttached) {
    ASSERT_NE(load(), nullptr);
    EXPECT_FALSE(get("/api/status", token));
    notify->attachcommand(2, &command);
    EXPECT_EQ(get("/api/status", token).status, 200);
    struct stat info {};
    EXPECT_NE(stat(tokenPath.c_str(), &info), 0) << "ORVANE_TOKEN leaves the token file alone";
}

TEST_F(OrvaneServer, StatusReflectsWhatTheModuleTold) {
    ASSERT_TRUE(attach());
    notify->setstate(3);
    notify->settime(12.5, 0);
    notify->setfilepath((std::string("/data/") + "Запись"_w + "/run.kova").c_str());
    const HttpReply r = get("/api/status", token);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Cache-Control"), "no-store");
    const auto json = nlohmann::json::parse(r.body);
    EXPECT_EQ(json["state"], 3);
    EXPECT_EQ(json["stateText"], "recording");
    EXPECT_EQ(json["time"], 12.5);
    EXPECT_EQ(json["file"], "/data/Запись/run.kova");
    notify->setstate(1);
    EXPECT_EQ(nlohmann::json::parse(get("/api/status", token).body)["state"], 1);
}

// Commands come as curl sends them: no body and no Content-Length; the scheme
// name of the token in any case.
TEST_F(OrvaneServer, StartAndStopReachTheCommandFromTheServerThread) {
    ASSERT_TRUE(attach());
    const HttpReply r = post("/api/start", token);
    ASSERT_EQ(r.status, 200) << r.head;
    EXPECT_EQ(nlohmann::json::parse(r.body)["ok"], true);
    EXPECT_EQ(command.starts, 1);
    {
        const std::lock_guard<std::mutex> lock(command.mutex);
        EXPECT_NE(command.caller, std::this_thread::get_id());
    }
    EXPECT_EQ(post("/api/stop", token, "{}").status, 200);
    EXPECT_EQ(command.stops, 1);
    for (const char* scheme : {"bearer", "BEARER", "Bearer  "}) {
        const HttpReply lower = http(port, "GET", "/api/status", {}, {},
                                     {{"Authorization", std::string(scheme) + " " + token}});
        EXPECT_EQ(lower.status, 200) << scheme;
    }
    // As a browser on the control page sends them.
    EXPECT_EQ(http(port, "POST", "/api/start", token, {},
                   {{"Origin", "http://127.0.0.1:" + std::to_string(port)}})
                  .status,
              200);
    EXPECT_EQ(command.starts, 2);
}

TEST_F(OrvaneServer, RequestsWithoutTheRightTokenChangeNothing) {
    ASSERT_TRUE(attach());
    for (const std::string& bad :
         {std::string(), std::string("wrong"), token + "x", token.substr(1), std::string(" ")}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(refused(post("/api/start", bad)));
        EXPECT_TRUE(refused(post("/api/stop", bad)));
        EXPECT_TRUE(refused(get("/api/status", bad)));
    }
    for (const std::string& value : {"Basic " + token, "Bearer" + token, token})
        EXPECT_TRUE(refused(http(port, "POST", "/api/start", {}, {}, {{"Authorization", value}})))
            << value;
    EXPECT_EQ(command.starts + command.stops, 0);
}

// A token too short to resist guessing is refused, from the environment as
// from the file, and the endpoint stays off.
TEST_F(OrvaneServer, ShortTokensAreRefusedWithTheReason) {
    setenv("ORVANE_TOKEN", "a", 1);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(attach());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(
        said.find(
            "ORVANE_TOKEN is too short: a token needs at least 16 characters (this one has 1)"),
        std::string::npos)
        << said;
    EXPECT_FALSE(get("/api/status", "a"));
    unload();

    unsetenv("ORVANE_TOKEN");
    mkdir((folder + "/sub").c_str(), 0700);
    std::ofstream(tokenPath) << "fifteen-chars15\n";
    chmod(tokenPath.c_str(), 0600);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(attach());
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(tokenPath + ": the token it holds is too short: a token needs at least 16 "
                                    "characters (this one has 15)"),
              std::string::npos)
        << said;
    EXPECT_FALSE(get("/api/status", "fifteen-chars15"));
    EXPECT_EQ(readToken(), "fifteen-chars15") << "the file is left as it was";
}

TEST_F(OrvaneServer, ForeignHostHeaderIsRefused) {
    ASSERT_TRUE(attach());
    const std::string p = std::to_string(port);
    auto startWithHost = [&](const std::string& host) {
        return parseReply(rawRequest(port, "POST /api/start HTTP/1.1\r\nHost: " + host +
                                               "\r\nAuthorization: Bearer " + token +
                                               "\r\nConnection: close\r\n\r\n"));
    };
    for (const std::string& host :
         std::vector<std::string>{"attacker.example:" + p, "attacker.example", "127.0.0.2:" + p,
                                  "127.0.0.1:1", "localhost.attacker.example:" + p, ""}) {
        SCOPED_TRACE(host);
        EXPECT_EQ(startWithHost(host).status, 403);
    }
    EXPECT_EQ(command.starts, 0);
    for (const std::string& host :
         std::vector<std::string>{"localhost:" + p, "LocalHost", "127.0.0.1:" + p})
        EXPECT_EQ(startWithHost(host).status, 200) << host;
    EXPECT_EQ(command.starts, 3);
}

TEST_F(OrvaneServer, BadRequestsAreAnsweredAndLeaveItServing) {
    ASSERT_TRUE(attach());
    EXPECT_EQ(get("/api/nothing", token).status, 404);
    EXPECT_EQ(get("/index.html", token).status, 404);
    const HttpReply wrongMethod = get("/api/start", token);
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_EQ(wrongMethod.header("Allow"), "POST");
    EXPECT_EQ(post("/api/start", token, "{not json").status, 400);
    EXPECT_EQ(post("/api/start", token, "[1,2]").status, 400);
    EXPECT_EQ(post("/api/start", token, std::string(10000, '{')).status, 413);
    EXPECT_EQ(command.starts, 0);

    for (const std::string& junk :
         {std::string("\x16\x03\x01\x02\x00garbage", 13), std::string("GET\r\n\r\n"),
          std::string("GET /api/status HTTP/1.1\r\nHost: localhost\r\n") + std::string(20000, 'X') +
              "\r\n\r\n",
          "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n",
          std::string("POST /api/start HTTP/1.1\r\nHost: localhost\r\nContent-Length: "
                      "99999999999999999999\r\n\r\n"),
          std::string("POST /api/start HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: "
                      "chunked\r\nAuthorization: Bearer ") +
              token + "\r\n\r\nzz\r\n"}) {
        rawRequest(port, junk, true);
    }
    EXPECT_EQ(command.starts, 0);
    EXPECT_EQ(get("/api/status", token).status, 200);
}

TEST_F(OrvaneServer, PageNeedsNoTokenAndCarriesTheButtons) {
    ASSERT_TRUE(attach());
    const HttpReply r = get("/", "");
    ASSERT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("id=\"start\""), std::string::npos);
    EXPECT_NE(r.body.find("id=\"stop\""), std::string::npos);
    EXPECT_NE(r.header("Content-Security-Policy").find("frame-ancestors 'none'"),
              std::string::npos);
}

// A body larger than the limit is refused before it is read, whatever the
// client claims it will still send; one of unknown length (chunked) must
// declare its length instead.
TEST_F(OrvaneServer, OversizedBodiesAreRefusedUnread) {
    ASSERT_TRUE(attach());
    const std::string head = "POST /api/start HTTP/1.1\r\nHost: localhost\r\n";
    const std::string auth = "Authorization: Bearer " + token + "\r\n";
    auto exchange = [&](const std::string& bytes) {
        const int fd = connectLoopback(port);
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        const Clock::time_point sent = Clock::now();
        const HttpReply reply = parseReply(readAll(fd));
        close(fd);
        EXPECT_LT(Clock::now() - sent, std::chrono::seconds(2));
        return reply;
    };
    const std::string chunk = "2000\r\n" + std::string(0x2000, ' ');
    EXPECT_EQ(exchange(head + "Transfer-Encoding: chunked\r\n\r\n" + chunk).status, 401);
    EXPECT_EQ(exchange(head + auth + "Transfer-Encoding: chunked\r\n\r\n" + chunk).status, 411);
    EXPECT_EQ(exchange(head + auth + "Content-Length: 200000000\r\n\r\n{").status, 413);
    EXPECT_EQ(command.starts, 0);
    EXPECT_EQ(get("/api/status", token).status, 200);
}

// 50 MB of header lines without a token: the server gives up on the request at
// its memory limit and keeps nothing of it.
TEST_F(OrvaneServer, HeaderFloodIsCutAtTheMemoryLimit) {
    ASSERT_TRUE(attach());
    ASSERT_EQ(get("/api/status", token).status, 200);
    const long before = residentKiB();
    std::string lines;
    while (lines.size() < 64 * 1024)
        lines += "X-Filler: " + std::string(80, 'f') + "\r\n";
    std::size_t sent = 0;
    for (int connection = 0; connection < 4; ++connection) {
        const int fd = connectLoopback(port);
        ASSERT_GE(fd, 0);
        const std::string start = "GET /api/status HTTP/1.1\r\nHost: localhost\r\n";
        send(fd, start.data(), start.size(), MSG_NOSIGNAL);
        for (std::size_t i = 0; i < 200; ++i) {
            const ssize_t n = send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        close(fd);
    }
    const long grown = residentKiB() - before;
    std::printf("header flood: %zu bytes taken by the socket before the server cut it; resident "
                "memory grew by %ld KiB\n",
                sent, grown);
    EXPECT_LT(sent, 4u * 200 * lines.size()) << "no connection was cut";
    EXPECT_LT(grown, 10 * 1024);
    EXPECT_EQ(get("/api/status", token).status, 200);
}

// Idle connections hold no one up: the one that waited longest makes room, and
// the process's descriptors stay bounded.
TEST_F(OrvaneServer, IdleConnectionsDoNotLockOthersOut) {
    ASSERT_TRUE(attach());
    const int before = openDescriptors();
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) {
        const int fd = connectLoopback(port);
        if (fd >= 0)
            idle.push_back(fd);
    }
    const Clock::time_point asked = Clock::now();
    const HttpReply r = get("/api/status", token);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
    const int serverSide = openDescriptors() - before - static_cast<int>(idle.size());
    std::printf("with %zu idle connections: answered in %lld ms; the server holds %d descriptors\n",
                idle.size(), static_cast<long long>(took.count()), serverSide);
    EXPECT_EQ(r.status, 200);
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_LE(serverSide, 70);
    for (int fd : idle)
        close(fd);
}

// A token made at random is kept for the user only and reused by the next
// start; an instance that cannot listen leaves the file alone.
TEST_F(OrvaneServer, RandomTokenIsKeptForTheUserOnlyAndReused) {
    unsetenv("ORVANE_TOKEN");
    ASSERT_TRUE(attach());
    const std::string written = readToken();
    EXPECT_EQ(written.size(), 48u);
    struct stat info {};
    ASSERT_EQ(stat(tokenPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(post("/api/start", written).status, 200);
    EXPECT_EQ(post("/api/start", token).status, 401);
    unload();

    ASSERT_TRUE(attach());
    EXPECT_EQ(readToken(), written) << "a new start keeps the token";
    EXPECT_EQ(post("/api/start", written).status, 200);
    unload();

    // A file that others may read is not trusted: the endpoint stays off and
    // the file is left as it is.
    chmod(tokenPath.c_str(), 0644);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(attach());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("chmod 600"), std::string::npos) << said;
    EXPECT_FALSE(get("/api/status", written));
    EXPECT_EQ(readToken(), written);
    EXPECT_EQ(command.starts, 2);
    unload();

    // A FIFO in the token's place is refused at once, not waited on.
    ASSERT_EQ(unlink(tokenPath.c_str()), 0);
    ASSERT_EQ(mkfifo(tokenPath.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(attach());
    const std::string fifo = testing::internal::GetCapturedStderr();
    EXPECT_NE(fifo.find(tokenPath + ": it is not a regular file"), std::string::npos) << fifo;
    unlink(tokenPath.c_str());
}

TEST_F(OrvaneServer, PortInUseIsReportedAndWritesNothing) {
    unsetenv("ORVANE_TOKEN");
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
    struct stat info {};
    EXPECT_NE(stat(tokenPath.c_str(), &info), 0) << "the token file was written";
    close(fd);
}

TEST_F(OrvaneServer, InvalidPortSettingFallsBackToTheFileBesideTheLibrary) {
    // A copy of the library in a folder with its settings file.
    const std::string conf = temporaryFolder("orvane-conf");
    {
        std::ifstream src(ORVANE_MODULE_FILE, std::ios::binary);
        std::ofstream dst(conf + "/Orvane.so", std::ios::binary);
        dst << src.rdbuf();
    }
    {
        std::ofstream out(conf + "/Orvane.conf");
        out << "# control endpoint\nport = " << port << "\n";
    }
    setenv("ORVANE_PORT", "not-a-port", 1);
    testing::internal::CaptureStderr();
    ASSERT_NE(load(conf + "/Orvane.so"), nullptr);
    notify->attachcommand(2, &command);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("not-a-port"), std::string::npos);
    EXPECT_EQ(get("/api/status", token).status, 200);
    unload();
    std::remove((conf + "/Orvane.so").c_str());
    std::remove((conf + "/Orvane.conf").c_str());
    rmdir(conf.c_str());
}

TEST_F(OrvaneServer, DetachOrUnloadStopsTheServer) {
    ASSERT_TRUE(attach());
    ASSERT_EQ(get("/api/status", token).status, 200);
    notify->attachcommand(2, nullptr);
    EXPECT_FALSE(get("/api/status", token));
    notify->attachcommand(2, &command);
    ASSERT_EQ(get("/api/status", token).status, 200);
    // A client keeps its connection open while the library goes away.
    const int keeper = connectLoopback(port);
    const std::string request = "GET /api/status HTTP/1.1\r\nHost: localhost\r\nAuthorization: "
                                "Bearer " +
                                token + "\r\n\r\n";
    send(keeper, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    ASSERT_GT(recv(keeper, buffer, sizeof buffer, 0), 0);
    unload();
    EXPECT_TRUE(closedByPeer(keeper, 1000));
    close(keeper);
    EXPECT_EQ(rawRequest(port, "GET / HTTP/1.1\r\n\r\n"), "<no connection>");
}

// The README's commands, run by curl exactly as printed (the port aside), with
// a home folder of the test's own.
TEST_F(OrvaneServer, ReadmeCommandsWorkAsPrinted) {
    std::ifstream readme(README_FILE);
    std::string line;
    std::string commands;
    int curls = 0;
    while (std::getline(readme, line)) {
        if (line.rfind("    T=", 0) != 0 && line.rfind("    curl ", 0) != 0)
            continue;
        curls += line.find("curl ") != std::string::npos;
        for (std::string::size_type at; (at = line.find(":8765")) != std::string::npos;)
            line.replace(at, 5, ":" + std::to_string(port));
        commands += line.substr(4) + "\necho\n";
    }
    ASSERT_EQ(curls, 3) << "the README's remote-control commands were not found";

    const std::string home = temporaryFolder("orvane-home");
    std::ofstream(home + "/.curlrc") << "max-time = 5\nnoproxy = *\n";
    unsetenv("ORVANE_TOKEN");
    unsetenv("ORVANE_TOKEN_FILE");
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(attach());

    const std::string script = home + "/commands.sh";
    std::ofstream(script) << "unset CURL_HOME XDG_CONFIG_HOME\n" << commands;
    FILE* run = popen(("timeout 30 bash " + script + " 2>" + home + "/errors.txt").c_str(), "r");
    ASSERT_NE(run, nullptr);
    std::string output;
    char buffer[512];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, run)) > 0;)
        output.append(buffer, n);
    const int status = pclose(run);
    setenv("HOME", savedHome.c_str(), 1);
    unload();

    std::istringstream lines(output);
    std::vector<nlohmann::json> answers;
    while (std::getline(lines, line))
        if (!line.empty())
            answers.push_back(nlohmann::json::parse(line, nullptr, false));
    std::ifstream errorsFile(home + "/errors.txt");
    const std::string errors((std::istreambuf_iterator<char>(errorsFile)),
                             std::istreambuf_iterator<char>());
    output += errors;
    EXPECT_EQ(status, 0) << output;
    ASSERT_EQ(answers.size(), 3u) << output;
    EXPECT_EQ(answers[0]["stateText"], "unknown") << output;
    EXPECT_EQ(answers[1]["command"], "start") << output;
    EXPECT_EQ(answers[2]["command"], "stop") << output;
    EXPECT_EQ(command.starts, 1);
    EXPECT_EQ(command.stops, 1);
    for (const char* name : {"/.config/orvane/token", "/.curlrc", "/commands.sh", "/errors.txt"})
        std::remove((home + name).c_str());
    rmdir((home + "/.config/orvane").c_str());
    rmdir((home + "/.config").c_str());
    rmdir(home.c_str());
}

// The endpoint with limits small enough to watch them work, on a clock of the
// test's own.
const std::string kToken = "small-endpoint-token";

class SmallEndpoint : public ::testing::Test {
protected:
    void serve(orvane::EndpointLimits limits) {
        std::string error;
        ASSERT_TRUE(endpoint.listen(0, error)) << error;
        orvane::EndpointHooks hooks;
        hooks.status = [] { return std::string("{}"); };
        hooks.start = [this] {
            ++changes;
            return true;
        };
        hooks.stop = [this] {
            ++changes;
            return true;
        };
        ASSERT_TRUE(endpoint.serve(kToken, hooks, error, limits)) << error;
    }
    void serveOnOwnClock() {
        orvane::EndpointLimits limits;
        limits.clock = [this] {
            return orvane::GateClock::time_point(std::chrono::nanoseconds(ticks.load()));
        };
        serve(limits);
    }
    void pass(std::chrono::milliseconds ms) { ticks += std::chrono::nanoseconds(ms).count(); }
    HttpReply post(const std::string& path, const std::string& bearer = kToken,
                   const std::vector<std::pair<std::string, std::string>>& extra = {}) {
        return http(endpoint.port(), "POST", path, bearer, {}, extra);
    }
    HttpReply status(const std::string& bearer = kToken) {
        return http(endpoint.port(), "GET", "/api/status", bearer);
    }
    std::string origin(const std::string& host) {
        return "http://" + host + ":" + std::to_string(endpoint.port());
    }

    orvane::Endpoint endpoint;
    std::atomic<int> changes{0};
    std::atomic<std::chrono::nanoseconds::rep> ticks{
        std::chrono::nanoseconds(std::chrono::hours(1)).count()};
};

// Four starts and stops at once, then one for each quarter of a second; the
// others are told when to come back, and asking for the status costs nothing.
TEST_F(SmallEndpoint, StateChangesAreCarriedOutAtAFewASecond) {
    serveOnOwnClock();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(post(i % 2 == 0 ? "/api/start" : "/api/stop").status, 200) << i;
    const HttpReply over = post("/api/start");
    EXPECT_EQ(over.status, 429);
    EXPECT_EQ(over.header("Retry-After"), "1");
    EXPECT_NE(over.body.find("too many starts and stops"), std::string::npos);
    EXPECT_EQ(changes, 4);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(status().status, 200);
    pass(std::chrono::milliseconds(260));
    EXPECT_EQ(post("/api/stop").status, 200);
    EXPECT_EQ(post("/api/stop").status, 429);
    // A long quiet while gives no more than the four at once.
    pass(std::chrono::minutes(10));
    int carried = 0;
    for (int i = 0; i < 10; ++i)
        carried += post("/api/start").status == 200;
    EXPECT_EQ(carried, 4);
    EXPECT_EQ(changes, 9);
}

// Beyond a few wrong tokens a second no token is compared at all, the right
// one neither, until the allowance has grown again; the server keeps
// answering meanwhile.
TEST_F(SmallEndpoint, WrongTokensAreSlowedAfterAFew) {
    serveOnOwnClock();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(post("/api/start", "guess-" + std::to_string(i)).status, 401) << i;
    const HttpReply slowed = status("guess-8");
    EXPECT_EQ(slowed.status, 429);
    EXPECT_EQ(slowed.header("Retry-After"), "1");
    EXPECT_EQ(status().status, 429) << "a right token is not compared either";
    EXPECT_EQ(status("").status, 429);
    EXPECT_EQ(http(endpoint.port(), "GET", "/").status, 200) << "the page needs no token";
    pass(std::chrono::milliseconds(260));
    EXPECT_EQ(status().status, 200);
    EXPECT_EQ(status("guess-9").status, 401);
    EXPECT_EQ(status("guess-10").status, 429);
    pass(std::chrono::seconds(2));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(status("guess").status, 401) << "the allowance is whole again";
    EXPECT_EQ(changes, 0);
}

// Commands from a page of another origin are refused before the token is
// looked at, and cost neither allowance.
TEST_F(SmallEndpoint, CommandsComeOnlyFromTheEndpointsOwnOrigin) {
    serveOnOwnClock();
    for (const std::string& foreign :
         {std::string("http://attacker.example"), std::string("null"), origin("attacker.example"),
          "https://127.0.0.1:" + std::to_string(endpoint.port()), origin("127.0.0.2"),
          std::string("http://127.0.0.1:1"), std::string("http://127.0.0.1"),
          origin("127.0.0.1") + "/"}) {
        SCOPED_TRACE(foreign);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(post("/api/start", kToken, {{"Origin", foreign}}).status, 403);
            EXPECT_EQ(post("/api/stop", "wrong", {{"Origin", foreign}}).status, 403);
        }
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(post("/api/start", kToken, {{"Origin", origin("127.0.0.1")}}).status, 200);
    EXPECT_EQ(post("/api/stop", kToken, {{"Origin", origin("LocalHost")}}).status, 200);
    EXPECT_EQ(post("/api/start").status, 200) << "a client that is no browser sends none";
    EXPECT_EQ(http(endpoint.port(), "GET", "/api/status", kToken, {},
                   {{"Origin", "http://attacker.example"}})
                  .status,
              200)
        << "reading is no command";
    EXPECT_EQ(changes, 3);
}

TEST(Gate, ShortTokensAndOriginsOfThePortItself) {
    orvane::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(endpoint.listen(0, error)) << error;
    EXPECT_FALSE(endpoint.serve("t0ken", {}, error));
    EXPECT_NE(error.find("at least 16 characters (this one has 5)"), std::string::npos) << error;
    EXPECT_FALSE(endpoint.running());
    EXPECT_EQ(orvane::tokenProblem(std::string(16, 'x')), "");
    EXPECT_NE(orvane::tokenProblem(std::string(16, 'x') + " y"), "");
    EXPECT_NE(orvane::tokenProblem(std::string(257, 'x')), "");
    // A browser leaves out only the scheme's own port.
    EXPECT_TRUE(orvane::originAllowed("http://localhost", 80));
    EXPECT_FALSE(orvane::originAllowed("http://localhost", 8765));
    EXPECT_FALSE(orvane::originAllowed("http://localhost:80", 8765));
}

// Retry-After counts whole seconds up, at any rate; a clock that goes back
// gives nothing.
TEST(Gate, AllowancesAtSlowRates) {
    const orvane::GateClock::time_point t0(std::chrono::hours(5));
    orvane::Allowance slow(0.25, 1, t0);
    EXPECT_TRUE(slow.take(t0));
    EXPECT_FALSE(slow.take(t0));
    EXPECT_EQ(slow.secondsUntilNext(t0), 4);
    EXPECT_EQ(slow.secondsUntilNext(t0 + std::chrono::milliseconds(1500)), 3);
    EXPECT_FALSE(slow.take(t0 - std::chrono::hours(1)));
    EXPECT_TRUE(slow.take(t0 + std::chrono::seconds(4)));
}

// A client that sends one byte now and then is cut at the deadline counted
// from its connection, while others are served meanwhile.
TEST_F(SmallEndpoint, SlowRequestIsCutAtItsDeadline) {
    orvane::EndpointLimits limits;
    limits.deadline = std::chrono::milliseconds(300);
    serve(limits);
    const int slow = connectLoopback(endpoint.port());
    const Clock::time_point opened = Clock::now();
    const std::string request = "GET /api/status HTTP/1.1\r\nHost: localhost\r\n";
    bool cut = false;
    for (std::size_t i = 0; i < request.size() && !cut; ++i) {
        send(slow, &request[i], 1, MSG_NOSIGNAL);
        cut = closedByPeer(slow, 50);
        if (i == 1) {
            EXPECT_EQ(http(endpoint.port(), "GET", "/api/status", kToken).status, 200);
        }
    }
    const auto lived = Clock::now() - opened;
    close(slow);
    EXPECT_TRUE(cut);
    EXPECT_GE(lived, std::chrono::milliseconds(300));
    EXPECT_LT(lived, std::chrono::milliseconds(1500));
}

TEST_F(SmallEndpoint, LongestWaitingConnectionMakesRoom) {
    orvane::EndpointLimits limits;
    limits.connections = 4;
    serve(limits);
    std::vector<int> idle;
    for (int i = 0; i < 10; ++i) {
        idle.push_back(connectLoopback(endpoint.port()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(http(endpoint.port(), "GET", "/api/status", kToken).status, 200);
    int open = 0;
    for (int fd : idle) {
        open += closedByPeer(fd, 100) ? 0 : 1;
        close(fd);
    }
    EXPECT_LE(open, 4);
}

} // namespace
