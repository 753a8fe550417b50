// Copies of the plug-in object beside the real server library: a copy carries
// no connection of its own, so the server never outlives the object that
// connected it and never calls a command object whose owner is gone.
#include "Brantic.h"
#include "FakeHost.h"
#include "HttpProbe.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace brantic_test;

namespace {

class PluginCopies : public ::testing::Test {
protected:
    void SetUp() override {
        port = freeLoopbackPort();
        setenv("BRANTIC_UI", "none", 1);
        setenv("ORVANE_PORT", std::to_string(port).c_str(), 1);
        setenv("ORVANE_TOKEN", token.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ORVANE_PORT");
        unsetenv("ORVANE_TOKEN");
    }
    int startCommands() {
        const auto calls = host.calls();
        return static_cast<int>(std::count(calls.begin(), calls.end(), "command(1,plugin)"));
    }

    std::string token = "copy-token-31337";
    int port = 0;
    FakeHost host;
};

TEST_F(PluginCopies, OnlyTheConnectedObjectKeepsTheServer) {
    auto* original = new CBrantic;
    ASSERT_TRUE(original->create(&host));
    ASSERT_EQ(http(port, "POST", "/api/start", token).status, 200);
    EXPECT_EQ(startCommands(), 1);
    EXPECT_EQ(host.lastAsking, original);

    {
        CBrantic copy(*original);
        CBrantic assigned;
        assigned = *original;
        // Closing or dropping a copy leaves the original's server as it is.
        EXPECT_TRUE(copy.close());
        EXPECT_TRUE(assigned.close());
    }
    ASSERT_EQ(http(port, "POST", "/api/start", token).status, 200);
    EXPECT_EQ(host.lastAsking, original);

    // A copy outlives the original: the server goes with the original, and
    // nothing can reach the freed command object.
    auto* copy = new CBrantic(*original);
    EXPECT_TRUE(original->close());
    EXPECT_EQ(original->Release(), 0u);
    EXPECT_FALSE(http(port, "POST", "/api/start", token));
    EXPECT_EQ(startCommands(), 2);
    EXPECT_TRUE(copy->notify(PN_RCSTART, 0));
    EXPECT_TRUE(copy->close());
    EXPECT_EQ(copy->Release(), 0u);
}

} // namespace
