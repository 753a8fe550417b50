#include "host/host.h"

#include "platform/com.h"
#include "platform/module.h"
#include "platform/text.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace platform::literals;
using namespace std::string_literals;
using host::Call;
using host::Host;
using host::LoadedModule;

namespace {

const std::string kProbe = std::string(MODULE_DIR) + "/HostProbe.so";
const std::string kProbePlain = std::string(MODULE_DIR) + "/HostProbePlain.so";

// The operations, in order, that a module made (or that were made to it),
// keeping only those in `wanted` when given.
std::vector<std::string> ops(const Host& host, Call::Direction direction,
                             const std::vector<std::string>& wanted = {}) {
    std::vector<std::string> out;
    for (const std::string& op : host.callOps(direction))
        if (wanted.empty() || std::find(wanted.begin(), wanted.end(), op) != wanted.end())
            out.push_back(op);
    return out;
}

std::vector<Call> named(const Host& host, const std::string& op) {
    std::vector<Call> out;
    for (const Call& c : host.calls())
        if (c.op == op)
            out.push_back(c);
    return out;
}

int liveProbes(const std::string& path) {
    platform::Library lib;
    if (!lib.open(path))
        return -1;
    auto fn = reinterpret_cast<int (*)()>(lib.symbol("ProbeLiveObjects"));
    return fn == nullptr ? -1 : fn();
}

bool setProbe(Host& host, LoadedModule& m, std::uint32_t id, VARIANT value) {
    const bool ok = m.plugin()->setproperty(id, value);
    (void)host;
    return ok;
}

VARIANT i4(std::int32_t v) {
    VARIANT value;
    platform::VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = v;
    return value;
}

std::string probeText(LoadedModule& m, std::uint32_t id) {
    VARIANT value;
    platform::VariantInit(&value);
    if (!m.plugin()->getproperty(id, value))
        return "<none>";
    std::string text = platform::bstrTo1251(value.bstrVal);
    platform::VariantClear(&value);
    return text;
}

struct ProbeFailure {
    explicit ProbeFailure(const char* step) { setenv("HOST_PROBE_FAIL", step, 1); }
    ~ProbeFailure() { unsetenv("HOST_PROBE_FAIL"); }
};

} // namespace

TEST(HostLoading, ResolvesBothExportFormsAndReadsTheModulesRecord) {
    for (const std::string& path : {kProbe, kProbePlain}) {
        Host host;
        LoadedModule* m = host.load(path);
        ASSERT_NE(m, nullptr) << host.lastError();
        EXPECT_EQ(m->underscoreNames(), path == kProbe);
        EXPECT_STREQ(m->info().name, "Зонд"_w);
        EXPECT_STREQ(m->info().description, "Проверка хоста"_w);
        EXPECT_EQ(m->info().versionMajor, 3);
        EXPECT_EQ(m->info().versionMinor, 4);
        EXPECT_EQ(m->description(), "Зонд хоста"_w);
        EXPECT_EQ(m->objectName(), "Зонд"_w);
        EXPECT_FALSE(m->componentVersion().has_value());
        EXPECT_EQ(m->name(), path == kProbe ? "HostProbe" : "HostProbePlain");
    }
}

TEST(HostLoading, ReportsWhatIsNotAModule) {
    Host host;
    EXPECT_EQ(host.load(std::string(MODULE_DIR) + "/NoSuchModule.so"), nullptr);
    EXPECT_NE(host.lastError().find("cannot load"), std::string::npos);
    EXPECT_EQ(host.load(std::string(MODULE_DIR) + "/HostNoExports.so"), nullptr);
    EXPECT_NE(host.lastError().find("CreatePluginClass"), std::string::npos);
    EXPECT_TRUE(host.modules().empty());
}

TEST(HostLifeCycle, DrivesTheModuleInOrderAndDestroysItsObject) {
    for (const std::string& path : {kProbe, kProbePlain}) {
        Host host;
        host::LoadOptions keep;
        keep.unloadLibrary = false; // so that the probe's object count can be read after
        LoadedModule* m = host.load(path, keep);
        ASSERT_NE(m, nullptr);
        ASSERT_TRUE(host.start(*m));
        EXPECT_EQ(m->stage(), host::Stage::Executed);
        EXPECT_EQ(liveProbes(path), 1);
        host.shutdown(*m);
        EXPECT_EQ(m->stage(), host::Stage::Destroyed);
        EXPECT_EQ(liveProbes(path), 0) << path;

        std::vector<std::string> expected = {"GetPluginType", "GetPluginDescription",
                                             "GetPluginInfo", "CreatePluginClass",
                                             "getname",       "create",
                                             "config",        "notify", // PN_UPDATECHANNELS
                                             "execute",       "canclose",
                                             "close",         "DestroyPluginClass"};
        if (path == kProbePlain)
            expected.push_back("Release"); // its DestroyPluginClass leaves the object
        EXPECT_EQ(ops(host, Call::Direction::ToModule), expected) << path;
    }
}

TEST(HostLifeCycle, AFailingStepEndsTheModule) {
    {
        ProbeFailure fail("create");
        Host host;
        host::LoadOptions keep;
        keep.unloadLibrary = false;
        LoadedModule* m = host.load(kProbe, keep);
        ASSERT_NE(m, nullptr);
        EXPECT_FALSE(host.start(*m));
        EXPECT_EQ(m->stage(), host::Stage::Failed);
        EXPECT_EQ(liveProbes(kProbe), 0);
        // After a failed create nothing but the destruction follows.
        const auto sent = ops(host, Call::Direction::ToModule);
        EXPECT_EQ(std::vector<std::string>(sent.end() - 2, sent.end()),
                  (std::vector<std::string>{"create", "DestroyPluginClass"}));
        ASSERT_FALSE(host.messages().empty());
        EXPECT_EQ(host.messages().back().kind, 7);
        // A start notification no longer reaches it.
        host.startRecorder();
        EXPECT_EQ(ops(host, Call::Direction::ToModule).back(), "DestroyPluginClass");
    }
    {
        ProbeFailure fail("execute");
        Host host;
        EXPECT_EQ(host.open(kProbe), nullptr);
        const auto sent = ops(host, Call::Direction::ToModule);
        EXPECT_EQ(std::vector<std::string>(sent.end() - 4, sent.end()),
                  (std::vector<std::string>{"execute", "canclose", "close", "DestroyPluginClass"}));
    }
}

TEST(HostCalls, RegistrationUnderTheLockIsRecordedAndFollowedByOneUpdate) {
    Host host;
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    const auto fromModule = ops(host, Call::Direction::FromModule);
    const std::vector<std::string> registration = {"addchannel",           "channel.setproperty",
                                                   "channel.setfrequency", "channel.setproperty",
                                                   "channel.setproperty",  "channel.activate"};
    std::vector<std::string> expected = {"getproperty", "log.addmessage", "lockchanges"};
    expected.insert(expected.end(), registration.begin(), registration.end());
    expected.insert(expected.end(), registration.begin(), registration.end());
    expected.push_back("unlockchanges");
    ASSERT_GE(fromModule.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(fromModule.begin(), fromModule.begin() + expected.size()),
              expected);

    // Exactly one PN_UPDATECHANNELS, sent inside the last unlockchanges.
    const auto notifies = named(host, "notify");
    ASSERT_EQ(notifies.size(), 1u);
    EXPECT_EQ(notifies[0].args, "1, 0");

    const auto calls = host.calls();
    const auto add = std::find_if(calls.begin(), calls.end(),
                                  [](const Call& c) { return c.op == "addchannel"; });
    ASSERT_NE(add, calls.end());
    EXPECT_EQ(add->args, "\"Probe A\", 1, 0");
    EXPECT_EQ(add->module, "HostProbe");
    const auto second = named(host, "addchannel");
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].args, "\"Канал Б\", 1, 0"); // readable UTF-8 in the log

    ASSERT_EQ(host.channels().size(), 2u);
    host::HostChannel* a = host.channels()[0];
    EXPECT_EQ(a->name(), "Probe A");
    EXPECT_EQ(a->frequency(), 1000.0);
    EXPECT_TRUE(a->active());
    EXPECT_EQ(a->property(5)->vt, VT_I4);
    EXPECT_EQ(a->property(5)->integer, 513);
    EXPECT_EQ(a->property(3)->vt, VT_UI4);
    EXPECT_EQ(a->property(10)->vt, VT_UNKNOWN);
    EXPECT_EQ(a->property(10)->identity, static_cast<const void*>(m->plugin()));
    // The channel was bound with the host's block length and frequency.
    EXPECT_EQ(probeText(*m, 202), "Probe A=100@1000;"s + "Канал Б"_w + "=100@50;");
}

TEST(HostCalls, LiveTraceSeesEveryCallAsItHappens) {
    std::vector<std::string> traced; // outlives the host, which traces its shutdown too
    Host host;
    host.setTrace([&](const Call& c) { traced.push_back(c.text()); });
    ASSERT_NE(host.open(kProbe), nullptr);
    EXPECT_EQ(traced.size(), host.calls().size());
    EXPECT_EQ(traced.front(), "HostProbe <- GetPluginType() = 0");
    EXPECT_NE(std::find(traced.begin(), traced.end(),
                        "HostProbe -> channel.setproperty(\"Probe A\", 5, VT_I4 513) = S_OK"),
              traced.end());
}

TEST(HostChannels, BlockLengthIsTheHostsAndPushedBlocksArriveWhole) {
    host::HostOptions options;
    options.blockLength = 64;
    Host host(options);
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(probeText(*m, 202), "Probe A=64@1000;"s + "Канал Б"_w + "=64@50;");

    std::vector<std::pair<std::string, std::int32_t>> sunk;
    host.setSink([&](host::HostChannel& c, const float*, std::int32_t n) {
        sunk.emplace_back(c.name(), n);
    });
    host.startRecorder();
    host.startRecorder(); // already running: no second PN_RCSTART
    EXPECT_TRUE(host.running());
    EXPECT_EQ(host.stateBits(), 2u);
    host::HostChannel* a = host.channels()[0];
    EXPECT_EQ(a->stats().blocks, 1u);
    EXPECT_EQ(a->stats().samples, 64u);
    EXPECT_EQ(a->samples().size(), 64u);
    EXPECT_EQ(a->stats().minimum, 0.0);
    EXPECT_EQ(a->stats().maximum, 63.0);
    EXPECT_DOUBLE_EQ(a->stats().mean(), 31.5);
    EXPECT_EQ(host.channels()[1]->samples().front(), 1.0f); // the probe's second block
    EXPECT_EQ(sunk.size(), 2u);
    host.stopRecorder();
    host.stopRecorder();
    EXPECT_EQ(host.stateBits(), 1u);
    const auto notifies = named(host, "notify");
    ASSERT_EQ(notifies.size(), 3u);
    EXPECT_EQ(notifies[1].args.substr(0, 2), "3,");
    EXPECT_EQ(notifies[2].args.substr(0, 2), "5,");

    // A block length set on one channel reaches the module at the next update.
    a->setBlockLength(10);
    host.addChannel("Host own", 2);
    EXPECT_EQ(probeText(*m, 202), "Probe A=10@1000;"s + "Канал Б"_w + "=64@50;Host own=64@2;");
}

TEST(HostChannels, ChangesWithoutTheLockAreReportedAfterTheCallReturns) {
    Host host;
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    host.clearCalls();
    VARIANT name;
    platform::VariantInit(&name);
    name.vt = VT_BSTR;
    name.bstrVal = platform::bstrFrom1251("Late");
    EXPECT_TRUE(setProbe(host, *m, 101, name));
    platform::VariantClear(&name);
    EXPECT_TRUE(named(host, "notify").empty()); // not re-entered during the module's call
    host.processPending();
    ASSERT_EQ(named(host, "notify").size(), 1u);
    EXPECT_EQ(probeText(*m, 202).find("Late=100@10;") != std::string::npos, true);

    // Removing is reported the same way; a channel the module still holds
    // stays alive, outside the host's list.
    host.clearCalls();
    IRecorderChannel* held = m->recorder()->getchannel(0);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(setProbe(host, *m, 102, i4(0)));
    EXPECT_EQ(host.channels().size(), 2u);
    EXPECT_STREQ(held->getname(), "Probe A");
    EXPECT_TRUE(static_cast<host::HostChannel*>(held)->removed());
    EXPECT_EQ(held->Release(), 1u); // the probe's table still holds it until it rebuilds
    EXPECT_TRUE(named(host, "notify").empty());
    // Any notification the host sends first delivers the pending update.
    host.updateData();
    const auto notifies = named(host, "notify");
    ASSERT_EQ(notifies.size(), 2u);
    EXPECT_EQ(notifies[0].args, "1, 0");
    EXPECT_EQ(notifies[1].args, "6, 0");
    EXPECT_EQ(m->recorder()->removechannel(nullptr), E_UNEXPECTED);
}

TEST(HostChannels, RemovalsAnywhereKeepTheOthersInOrder) {
    Host host;
    host.options().recordCalls = false;
    LoadedModule m(host, "M");
    IRecorder* r = m.recorder();
    std::vector<IRecorderChannel*> made;
    for (int i = 0; i < 8; ++i)
        made.push_back(r->addchannel(("C" + std::to_string(i)).c_str(), 0, 0));
    auto names = [&] {
        std::string out;
        const std::int32_t n = r->getchannelcount();
        for (std::int32_t i = 0; i < n; ++i) {
            IRecorderChannel* c = r->getchannel(i);
            out += std::string(c->getname()) + " ";
            c->Release();
        }
        return out;
    };
    made[1]->AddRef(); // kept alive: removing it twice must be refused, not crash
    EXPECT_EQ(r->removechannel(made[1]), S_OK);
    EXPECT_EQ(r->removechannel(made[6]), S_OK);
    EXPECT_EQ(r->removechannel(made[1]), E_UNEXPECTED);
    EXPECT_TRUE(static_cast<host::HostChannel*>(made[1])->removed());
    made[1]->Release();
    EXPECT_EQ(names(), "C0 C2 C3 C4 C5 C7 ");
    // Removals between reads, and a channel added behind the gaps.
    EXPECT_EQ(r->removechannel(made[0]), S_OK);
    EXPECT_EQ(r->removechannel(made[7]), S_OK);
    IRecorderChannel* late = r->addchannel("C8", 0, 0);
    EXPECT_EQ(host.channel("C8"), late);
    EXPECT_EQ(host.channel("C7"), nullptr);
    EXPECT_EQ(names(), "C2 C3 C4 C5 C8 ");
    ASSERT_EQ(host.channels().size(), 5u);
    EXPECT_EQ(host.channels()[4], late);
    EXPECT_TRUE(host.removeChannel(host.channel("C4")));
    EXPECT_FALSE(host.removeChannel(nullptr));
    // Emptied from the front, as a configuration load does.
    while (r->getchannelcount() > 0) {
        IRecorderChannel* first = r->getchannel(0);
        first->Release();
        ASSERT_EQ(r->removechannel(first), S_OK);
    }
    EXPECT_TRUE(host.channels().empty());
    EXPECT_EQ(names(), "");
}

TEST(HostKnobs, RefusalsAndFailuresReachTheModule) {
    {
        Host host;
        host.refuseLock(true);
        ASSERT_NE(host.open(kProbe), nullptr);
        EXPECT_TRUE(host.channels().empty());
        EXPECT_TRUE(named(host, "unlockchanges").empty());
        ASSERT_EQ(host.messages().size(), 2u);
        EXPECT_EQ(host.messages()[1].text, u"refused");
        EXPECT_EQ(host.messages()[1].module, "HostProbe");
    }
    {
        Host host;
        host.refuseAddChannel(true);
        ASSERT_NE(host.open(kProbe), nullptr);
        EXPECT_TRUE(host.channels().empty());
        ASSERT_EQ(named(host, "addchannel").size(), 2u);
        EXPECT_EQ(named(host, "addchannel")[0].result, "null");
        EXPECT_TRUE(named(host, "notify").empty()); // nothing changed
    }
    {
        Host host;
        host.failOperation("getproperty");
        ASSERT_NE(host.open(kProbe), nullptr);
        EXPECT_TRUE(host.messages().empty()); // no log without property 32
        EXPECT_EQ(named(host, "getproperty")[0].result, "E_FAIL");
        host.failOperation("channel.getproperty");
        host.addChannel("x", 1); // rebinding now finds no block length
        EXPECT_NE(probeText(*host.modules()[0], 202).find("x=1@1;"), std::string::npos);
    }
}

TEST(HostRecorder, AnswersPropertiesStateTimeAndPaths) {
    host::HostOptions options;
    options.settingsName = "Настройки"_w;
    options.dataDirectory = "/data/runs";
    Host host(options);
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    IRecorder* r = m->recorder();

    VARIANT v;
    platform::VariantInit(&v);
    ASSERT_EQ(r->getproperty(16, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(platform::bstrTo1251(v.bstrVal), "Настройки"_w);
    platform::VariantClear(&v);
    ASSERT_EQ(r->getproperty(32, &v), S_OK);
    ASSERT_EQ(v.vt, VT_UNKNOWN);
    void* log = nullptr;
    ASSERT_EQ(v.punkVal->QueryInterface(IID_IRecorderLog, &log), S_OK);
    static_cast<IRecorderLog*>(log)->addmessage(u"Test", u"Привет", 3);
    static_cast<IRecorderLog*>(log)->Release();
    platform::VariantClear(&v);
    EXPECT_EQ(host.messages().back().text, u"Привет");
    EXPECT_EQ(m->log().refCount(), 2u); // the probe's own reference stays
    EXPECT_EQ(r->getproperty(17, &v), E_FAIL);
    EXPECT_EQ(v.vt, VT_EMPTY);

    EXPECT_STREQ(r->translatepath("sub\\file"), "/data/runs/sub/file");
    EXPECT_STREQ(r->translatepath("/abs"), "/abs");
    const char* first = r->translatepath("a");
    r->translatepath("b");
    EXPECT_STREQ(first, "/data/runs/a"); // earlier answers stay valid

    EXPECT_EQ(r->getstate(15), 1u);
    EXPECT_EQ(r->getstate(2), 0u);
    host.setStateBits(0b0110u);
    EXPECT_EQ(r->getstate(15), 6u);
    host.setStateBits(std::nullopt);
    EXPECT_EQ(r->gettime(), 0.0);
    EXPECT_EQ(r->reserved3(), E_NOTIMPL);
    EXPECT_EQ(r->reserved69(), E_NOTIMPL);
    EXPECT_EQ(r->getmainwindow(), nullptr);
}

TEST(HostRecorder, OperationsSitAtTheirSlots) {
    // Called through the operation table by index, as a host written in C sees it.
    Host host;
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    IRecorder* r = m->recorder();
    void** table = *reinterpret_cast<void***>(r);
    using Count = std::int32_t(RECAPI*)(IRecorder*);
    using State = std::uint32_t(RECAPI*)(IRecorder*, std::uint32_t);
    using Time = double(RECAPI*)(IRecorder*);
    using Get = IRecorderChannel*(RECAPI*)(IRecorder*, std::int32_t);
    EXPECT_EQ(reinterpret_cast<Count>(table[9])(r), 2);
    EXPECT_EQ(reinterpret_cast<State>(table[14])(r, 15), 1u);
    EXPECT_EQ(reinterpret_cast<Time>(table[70])(r), 0.0);
    IRecorderChannel* c = reinterpret_cast<Get>(table[8])(r, 1);
    ASSERT_NE(c, nullptr);
    void** ct = *reinterpret_cast<void***>(c);
    using Name = const char*(RECAPI*)(IRecorderChannel*);
    using Freq = double(RECAPI*)(IRecorderChannel*);
    EXPECT_STREQ(reinterpret_cast<Name>(ct[6])(c), "Канал Б"_w);
    EXPECT_EQ(reinterpret_cast<Freq>(ct[8])(c), 50.0);
    c->Release();
}

TEST(HostCommands, StartAndStopFromTheModuleReachEveryModule) {
    Host host;
    LoadedModule* a = host.open(kProbe);
    LoadedModule* b = host.open(kProbePlain);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<std::int32_t> seen;
    host.setCommandHandler([&](std::int32_t code, LoadedModule*) { seen.push_back(code); });
    host.clearCalls();
    EXPECT_TRUE(a->plugin()->setproperty(100, i4(1)));
    EXPECT_TRUE(host.running());
    std::vector<std::string> starts;
    for (const Call& c : named(host, "notify"))
        starts.push_back(c.module + " " + c.args.substr(0, 1));
    EXPECT_EQ(starts, (std::vector<std::string>{"HostProbe 3", "HostProbePlain 3"}));
    EXPECT_TRUE(a->plugin()->setproperty(100, i4(20)));
    EXPECT_TRUE(a->plugin()->setproperty(100, i4(3)));
    EXPECT_FALSE(host.running());
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 20, 3}));
    EXPECT_EQ(named(host, "command")[0].args, "1, HostProbe");
}

TEST(HostCommands, ACommandFromAnotherThreadIsCarriedOutOnTheHostsThread) {
    {
        // Without a Qt application: held until processPending.
        Host host;
        LoadedModule* m = host.open(kProbe);
        ASSERT_NE(m, nullptr);
        std::thread::id where;
        host.setCommandHandler(
            [&](std::int32_t, LoadedModule*) { where = std::this_thread::get_id(); });
        EXPECT_TRUE(m->plugin()->setproperty(103, i4(1)));
        EXPECT_FALSE(host.running());
        EXPECT_EQ(named(host, "command").size(), 1u); // recorded when it was made
        host.processPending();
        EXPECT_TRUE(host.running());
        EXPECT_EQ(where, std::this_thread::get_id());
    }
    {
        // With one: the event loop of the host's thread delivers it.
        int argc = 1;
        char name[] = "host_tests";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        Host host;
        LoadedModule* m = host.open(kProbe);
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->plugin()->setproperty(103, i4(1)));
        EXPECT_FALSE(host.running());
        QCoreApplication::processEvents();
        EXPECT_TRUE(host.running());
        EXPECT_TRUE(m->plugin()->setproperty(103, i4(3)));
        QCoreApplication::processEvents();
        EXPECT_FALSE(host.running());
    }
}

// Commands of another thread wait bounded: a flood of starts and stops leaves
// one of them, the newest, and closing drops it and refuses the rest.
TEST(HostCommands, CommandsOfOtherThreadsWaitBoundedUntilClosed) {
    Host host;
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    std::vector<std::int32_t> seen;
    host.setCommandHandler([&](std::int32_t code, LoadedModule*) { seen.push_back(code); });
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(m->plugin()->setproperty(103, i4(i % 2 == 0 ? 1 : 3)));
    for (std::int32_t other : {20, 21})
        EXPECT_TRUE(m->plugin()->setproperty(103, i4(other)));
    EXPECT_TRUE(m->plugin()->setproperty(103, i4(1)));
    host.processPending();
    EXPECT_EQ(seen, (std::vector<std::int32_t>{20, 21, 1})) << "in order, one start or stop";
    EXPECT_TRUE(host.running());

    // Other commands have a line of their own, also bounded.
    seen.clear();
    for (std::size_t i = 0; i < Host::kWaitingCommands + 5; ++i)
        m->plugin()->setproperty(103, i4(20));
    host.processPending();
    EXPECT_EQ(seen.size(), Host::kWaitingCommands);

    seen.clear();
    host.clearCalls();
    m->plugin()->setproperty(103, i4(3));
    host.closeCommands();
    m->plugin()->setproperty(103, i4(3));
    m->plugin()->setproperty(100, i4(1)); // a start on the host's thread as well
    host.processPending();
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(host.running());
    const auto calls = named(host, "command");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].result, "S_OK");
    EXPECT_EQ(calls[1].result, "E_FAIL");
    EXPECT_EQ(calls[2].result, "E_FAIL");
    // Stopping is the host's own business and still works.
    m->plugin()->setproperty(100, i4(3));
    EXPECT_FALSE(host.running());
}

TEST(HostData, DataRequestsAndTheCurrentFile) {
    Host host;
    LoadedModule* m = host.open(kProbe);
    ASSERT_NE(m, nullptr);
    std::vector<double> values;
    ASSERT_TRUE(host.requestData(*m, "Probe A", 4, values));
    EXPECT_EQ(values, (std::vector<double>{0, 0.5, 1, 1.5}));
    std::vector<double> kept = {7, 7};
    EXPECT_FALSE(host.requestData(*m, "nobody", 2, kept));
    EXPECT_EQ(kept, (std::vector<double>{7, 7}));
    EXPECT_TRUE(host.messages().size() == 1u); // the probe released the asking object
    // The asking object answered as a channel of that name.
    const auto qi = named(host, "channel.QueryInterface");
    ASSERT_EQ(qi.size(), 2u);
    EXPECT_EQ(qi[0].args, "\"Probe A\", IID_IRecorderChannel");

    host.setCurrentFile(u"/data/", u"Запись1");
    EXPECT_EQ(probeText(*m, 201), "/data/|"s + "Запись1"_w);
    EXPECT_EQ(host.currentName(), u"Запись1");
}

// The bookkeeping in lanes equals one by one: a NaN is passed over unless it
// opens the channel's first block, and blocks of any length (lanes and tail).
TEST(HostStats, MinimumMaximumAndSumOverBlocksWithNaN) {
    Host host;
    host::HostChannel* channel = host.addChannel("S", 1000.0);
    ASSERT_NE(channel, nullptr);
    const float nan = std::nanf("");
    std::vector<float> first(19);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<float>(i) - 9.0f; // -9 .. 9
    first[4] = nan;
    first[12] = 40.0f;
    ASSERT_EQ(channel->putdata(first.data(), static_cast<std::int32_t>(first.size())), S_OK);
    EXPECT_EQ(channel->stats().minimum, -9.0);
    EXPECT_EQ(channel->stats().maximum, 40.0);
    const float second[] = {-50.0f, nan, 3.0f};
    ASSERT_EQ(channel->putdata(second, 3), S_OK);
    EXPECT_EQ(channel->stats().minimum, -50.0);
    EXPECT_EQ(channel->stats().maximum, 40.0);
    EXPECT_EQ(channel->stats().samples, 22u);
    EXPECT_TRUE(std::isnan(channel->stats().sum)); // NaN samples count in the sum

    host::HostChannel* opened = host.addChannel("N", 1000.0);
    const float startsWithNaN[] = {nan, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f};
    ASSERT_EQ(opened->putdata(startsWithNaN, 10), S_OK);
    EXPECT_TRUE(std::isnan(opened->stats().minimum));
    EXPECT_TRUE(std::isnan(opened->stats().maximum));
}
