// The remote-control module as a host sees it: loaded from a folder with a
// recording server library (or none), driven through its exports and its
// operation table only.
#include "FakeHost.h"
#include "ModuleLoader.h"

#include "platform/com.h"
#include "platform/text.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

using namespace platform::literals;
using namespace brantic_test;

extern "C" __attribute__((visibility("default"))) void branticTestRecord(const char* call,
                                                                         IrcCommand* command) {
    ServerRecord& record = ServerRecord::instance();
    const std::lock_guard<std::mutex> lock(record.mutex);
    record.calls.emplace_back(call);
    if (command != nullptr)
        record.command = command;
}

namespace {

using Calls = std::vector<std::string>;

std::u16string u16(const char* text1251) {
    return platform::cp1251ToUtf16(text1251);
}

class BranticModule : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("BRANTIC_UI", "none", 1);
        ServerRecord::instance().clear();
    }

    // Loads the module of `variant`, creates its object and runs create.
    bool start(const char* variant) {
        module_ = std::make_unique<LoadedModule>(variant);
        if (module_->create == nullptr)
            return false;
        plugin = module_->create();
        return plugin->create(&host);
    }

    void TearDown() override {
        if (plugin != nullptr) {
            plugin->close();
            EXPECT_EQ(plugin->Release(), 0u);
        }
        plugin = nullptr;
        module_.reset();
        EXPECT_EQ(host.log.count.value(), 1u) << "the log's reference was not given back";
    }

    Calls serverCalls() {
        Calls all = ServerRecord::instance().snapshot();
        Calls kept;
        for (const std::string& c : all)
            if (c != "load" && c != "unload")
                kept.push_back(c);
        return kept;
    }

    std::vector<LogEntry> logs() { return host.log.snapshot(); }

    FakeHost host;
    IRecorderPlugin* plugin = nullptr;
    std::unique_ptr<LoadedModule> module_;
};

// --- exports ------------------------------------------------------------------

TEST_F(BranticModule, InformationRecordWritesOnlyItsFieldsAndTerminators) {
    module_ = std::make_unique<LoadedModule>("ok");
    struct Padded {
        PluginInfo info;
        unsigned char beyond[64];
    };
    Padded first;
    std::memset(&first, 0xA5, sizeof first);
    module_->info(&first.info);
    Padded second;
    std::memset(&second, 0xA5, sizeof second);
    module_->info(&second.info);
    module_->info(&second.info);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);

    const auto* bytes = reinterpret_cast<const unsigned char*>(&first);
    const char* name = "Удаленное управление"_w;
    const std::size_t n = std::strlen(name);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(std::memcmp(bytes, name, n + 1), 0);
    EXPECT_EQ(bytes[n + 1], 0xA5);
    EXPECT_EQ(std::memcmp(bytes + 101, name, n + 1), 0);
    EXPECT_EQ(bytes[101 + n + 1], 0xA5);
    const std::size_t vendor = std::strlen(first.info.vendor);
    EXPECT_GT(vendor, 0u);
    EXPECT_EQ(bytes[302 + vendor + 1], 0xA5);
    EXPECT_EQ(bytes[503], 0xA5);
    EXPECT_EQ(first.info.versionMajor, 1);
    EXPECT_EQ(first.info.versionMinor, 0);
    for (unsigned char b : first.beyond)
        EXPECT_EQ(b, 0xA5);

    module_->info(nullptr); // does nothing
}

TEST_F(BranticModule, PlainExportsAnswerTheirValues) {
    module_ = std::make_unique<LoadedModule>("ok");
    EXPECT_EQ(module_->type(), 0);
    EXPECT_STREQ(module_->description(), "Удаленное управление"_w);
    for (std::uint32_t second : {0u, 1u, 0xFFFFFFFFu}) {
        std::uint32_t word = 0;
        EXPECT_EQ(module_->version(&word, second), 0);
        EXPECT_EQ(word, 0x10000002u);
    }
    EXPECT_EQ(module_->version(nullptr, 0), 0);

    IRecorderPlugin* object = module_->create();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(module_->destroy(object), 0);
    // DestroyPluginClass leaves the host's reference in place.
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
}

// --- the object's table ---------------------------------------------------------

TEST_F(BranticModule, QueryInterfaceAndReferenceCounts) {
    module_ = std::make_unique<LoadedModule>("ok");
    plugin = module_->create();
    void* out = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown_, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(plugin));
    void* out2 = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IRecorderPlugin, &out2), S_OK);
    EXPECT_EQ(out2, out);
    void* untouched = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(plugin->QueryInterface(IID_IRecorderChannel, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, reinterpret_cast<void*>(0x77));
    EXPECT_EQ(plugin->Release(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->Release(), 0u);
    plugin = nullptr;
}

TEST_F(BranticModule, PropertiesFollowTheWorkingFlag) {
    module_ = std::make_unique<LoadedModule>("ok");
    plugin = module_->create();
    VARIANT v;
    platform::VariantInit(&v);
    ASSERT_TRUE(plugin->getproperty(2, v));
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 1) << "right after load";
    ASSERT_TRUE(plugin->create(&host));
    plugin->config();
    plugin->getproperty(2, v);
    EXPECT_EQ(v.lVal, 1) << "after config";
    plugin->resume();
    plugin->getproperty(2, v);
    EXPECT_EQ(v.lVal, 0) << "after resume";
    plugin->suspend();
    plugin->getproperty(2, v);
    EXPECT_EQ(v.lVal, 1) << "after suspend";
    plugin->resume();
    plugin->close();
    plugin->getproperty(2, v);
    EXPECT_EQ(v.lVal, 1) << "after close";
}

TEST_F(BranticModule, DescriptionPropertyOverwritesWithoutClearing) {
    module_ = std::make_unique<LoadedModule>("ok");
    plugin = module_->create();
    // The caller's own string stays the caller's: the module must not free it.
    BSTR mine = platform::bstrFrom1251("mine");
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = mine;
    ASSERT_TRUE(plugin->getproperty(1, v));
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_NE(v.bstrVal, mine);
    EXPECT_EQ(platform::bstrTo1251(v.bstrVal), "Удаленное управление"_w);
    platform::VariantClear(&v);
    EXPECT_EQ(platform::bstrTo1251(mine), "mine");
    platform::SysFreeString(mine);

    VARIANT other;
    other.vt = VT_R8;
    other.dblVal = 2.5;
    EXPECT_FALSE(plugin->getproperty(3, other));
    EXPECT_FALSE(plugin->getproperty(0, other));
    EXPECT_EQ(other.vt, VT_R8);
    EXPECT_EQ(other.dblVal, 2.5);
    EXPECT_FALSE(plugin->setproperty(1, other));
    EXPECT_FALSE(plugin->setproperty(2, other));
    EXPECT_STREQ(plugin->getname(), "Удаленное управление"_w);
    EXPECT_TRUE(plugin->canclose());
}

// --- create ---------------------------------------------------------------------

TEST_F(BranticModule, CreateWithoutTheServerLibraryFailsWithOneMessage) {
    EXPECT_FALSE(start("absent"));
    EXPECT_EQ(host.calls(), (Calls{"getmainwindow", "getproperty(32)"}));
    const auto entries = logs();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, u"Brantic");
    EXPECT_EQ(entries[0].text, u16("Не найдена библиотека Orvane.dll"_w));
    EXPECT_EQ(entries[0].kind, 7);

    // Nothing that follows reaches a server.
    host.clear();
    EXPECT_TRUE(plugin->notify(PN_RCSTART, 1));
    EXPECT_TRUE(plugin->notify(PN_RCSTOP, 0));
    host.time = 5.0;
    EXPECT_TRUE(plugin->notify(PN_UPDATEDATA, 0));
    EXPECT_TRUE(serverCalls().empty());
}

TEST_F(BranticModule, ServerLibraryWithoutEntryPointIsUnloaded) {
    for (const char* variant : {"noentry", "null"}) {
        SCOPED_TRACE(variant);
        ServerRecord::instance().clear();
        FakeHost local;
        module_ = std::make_unique<LoadedModule>(variant);
        IRecorderPlugin* object = module_->create();
        EXPECT_FALSE(object->create(&local));
        const auto entries = local.log.snapshot();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].text, u16("Ошибка при подключении библиотеки Orvane.dll"_w));
        EXPECT_EQ(entries[0].kind, 7);
        EXPECT_EQ(local.calls(), (Calls{"getmainwindow", "getproperty(32)"}));
        EXPECT_FALSE(libraryLoaded(testFolder(variant) + "/Orvane.so"));
        const Calls server = ServerRecord::instance().snapshot();
        ASSERT_FALSE(server.empty());
        EXPECT_EQ(server.front(), "load");
        EXPECT_EQ(server.back(), "unload");
        // After the failure nothing calls into the unloaded library.
        EXPECT_TRUE(object->notify(PN_RCSTART, 0));
        EXPECT_TRUE(object->notify(PN_CURRENTFILE, 0));
        EXPECT_EQ(ServerRecord::instance().snapshot().back(), "unload");
        object->close();
        EXPECT_EQ(object->Release(), 0u);
        module_.reset();
    }
}

TEST_F(BranticModule, CreateWithoutHostLogStillConnects) {
    host.offerLog = false;
    ASSERT_TRUE(start("ok"));
    ServerRecord::instance().clear();
    EXPECT_FALSE(plugin->notify(4, 0));
    EXPECT_TRUE(plugin->notify(PN_RCSTART, 1));
    EXPECT_EQ(serverCalls(), (Calls{"setstate(3)"}));
    EXPECT_TRUE(logs().empty());
}

TEST_F(BranticModule, CreateConnectsInOrderAndMapsTheStatusBits) {
    struct Case {
        std::uint32_t bits;
        int state;
    };
    for (Case c : {Case{0b0110, 2}, Case{0, 0}, Case{0b1000, 4}, Case{0b0001, 1}, Case{0b1111, 1},
                   Case{0b0100, 3}, Case{0xF0, 0}}) {
        SCOPED_TRACE(c.bits);
        ServerRecord::instance().clear();
        FakeHost local;
        local.stateBits = c.bits;
        module_ = std::make_unique<LoadedModule>("ok");
        IRecorderPlugin* object = module_->create();
        ASSERT_TRUE(object->create(&local));
        EXPECT_EQ(local.calls(), (Calls{"getmainwindow", "getproperty(32)", "command(19,plugin)",
                                        "getstate(15)"}));
        EXPECT_EQ(local.lastAsking, object);
        EXPECT_EQ(serverCalls(), (Calls{"GetNotifyInterface", "attachcommand(2)",
                                        "setstate(" + std::to_string(c.state) + ")"}));
        EXPECT_TRUE(local.log.snapshot().empty());
        object->close();
        EXPECT_FALSE(libraryLoaded(testFolder("ok") + "/Orvane.so"));
        EXPECT_EQ(object->Release(), 0u);
        module_.reset();
    }
}

// --- the command object ---------------------------------------------------------

TEST_F(BranticModule, CommandObjectAsksTheHostForItsOwner) {
    ASSERT_TRUE(start("ok"));
    IrcCommand* command = ServerRecord::instance().command;
    ASSERT_NE(command, nullptr);
    host.clear();
    EXPECT_TRUE(command->stop());
    EXPECT_TRUE(command->start());
    EXPECT_TRUE(command->sendcode2());
    EXPECT_TRUE(command->sendcode20());
    EXPECT_TRUE(command->reserveda(1, 2));
    EXPECT_TRUE(command->reservedb(3, 4));
    EXPECT_EQ(host.calls(), (Calls{"command(3,plugin)", "command(1,plugin)", "command(2,plugin)",
                                   "command(20,plugin)"}));
    EXPECT_EQ(host.lastAsking, plugin);

    // The server calls it from a thread of its own.
    host.clear();
    std::thread server([command] { command->start(); });
    server.join();
    EXPECT_EQ(host.calls(), (Calls{"command(1,plugin)"}));
}

// --- notifications -----------------------------------------------------------------

TEST_F(BranticModule, StartAndStopPassTheRecorderState) {
    ASSERT_TRUE(start("ok"));
    ServerRecord::instance().clear();
    host.log.entries.clear();
    EXPECT_TRUE(plugin->notify(PN_RCSTART, 5));
    EXPECT_TRUE(plugin->notify(PN_RCSTART, 0));
    EXPECT_TRUE(plugin->notify(PN_RCSTOP, 0));
    EXPECT_EQ(serverCalls(), (Calls{"setstate(3)", "setstate(2)", "setstate(1)"}));
    const auto entries = logs();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].text, u16("Получена нотификация с кодом 3"_w));
    EXPECT_EQ(entries[1].text, u16("Получена нотификация PN_RCSTART"_w));
    EXPECT_EQ(entries[4].text, u16("Получена нотификация с кодом 5"_w));
    EXPECT_EQ(entries[5].text, u16("Получена нотификация PN_RCSTOP"_w));
    for (const LogEntry& e : entries) {
        EXPECT_EQ(e.kind, 1);
        EXPECT_EQ(e.source, u"Brantic");
    }
}

TEST_F(BranticModule, NotificationTableAndGenericTrace) {
    ASSERT_TRUE(start("ok"));
    host.log.entries.clear();
    for (std::uint32_t code : {2u, 4u, 14u, 26u, 10u, 0x80000000u})
        EXPECT_FALSE(plugin->notify(code, 0)) << code;
    for (std::uint32_t code : {0u, 1u, 11u, 7u, 8u, 9u})
        EXPECT_TRUE(plugin->notify(code, 0)) << code;
    const auto entries = logs();
    ASSERT_EQ(entries.size(), 12u);
    EXPECT_EQ(entries[1].text, u16("Получена нотификация с кодом 4"_w));
    EXPECT_EQ(entries[5].text, u16("Получена нотификация с кодом -2147483648"_w));

    // Code 6 is never traced by the generic line.
    host.log.entries.clear();
    host.time = 0.0;
    EXPECT_TRUE(plugin->notify(PN_UPDATEDATA, 0));
    EXPECT_TRUE(logs().empty());

    // execute sends itself code 1.
    EXPECT_TRUE(plugin->execute());
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_EQ(logs()[0].text, u16("Получена нотификация с кодом 1"_w));
}

TEST_F(BranticModule, TimeIsForwardedWhenItMovedByAtLeastATenth) {
    ASSERT_TRUE(start("ok"));
    ServerRecord::instance().clear();
    host.log.entries.clear();
    for (double t : {0.05, 0.15, 0.2, 0.3, std::numeric_limits<double>::quiet_NaN(), 0.35}) {
        host.time = t;
        EXPECT_TRUE(plugin->notify(PN_UPDATEDATA, 0));
    }
    EXPECT_EQ(serverCalls(), (Calls{"settime(0.15,0)", "settime(0.3,0)"}));
    const auto entries = logs();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, u16("Изменилось время рекордера (PN_UPDATEDATA)"_w));
}

TEST_F(BranticModule, LastTimeIsSharedByEveryObjectOfTheModule) {
    ASSERT_TRUE(start("ok"));
    host.time = 1.0;
    plugin->notify(PN_UPDATEDATA, 0);
    IRecorderPlugin* second = module_->create();
    FakeHost other;
    ASSERT_TRUE(second->create(&other));
    ServerRecord::instance().clear();
    other.time = 1.05; // within 0.1 of what the first object forwarded
    second->notify(PN_UPDATEDATA, 0);
    other.time = 1.2;
    second->notify(PN_UPDATEDATA, 0);
    EXPECT_EQ(serverCalls(), (Calls{"settime(1.2,0)"}));
    second->close();
    EXPECT_EQ(second->Release(), 0u);
}

TEST_F(BranticModule, CurrentFileIsForwardedOnceAndJoinedAsGiven) {
    ASSERT_TRUE(start("ok"));
    ServerRecord::instance().clear();
    const std::u16string dir = u"/data/";
    const std::u16string name = u"Run1";
    CurrentFileRecord record{dir.c_str(), name.c_str()};
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&record)));
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&record)));
    const std::u16string bare = u"/data";
    CurrentFileRecord noSeparator{bare.c_str(), name.c_str()};
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&noSeparator)));
    const std::u16string cyrillic = u"Запись";
    CurrentFileRecord wide{dir.c_str(), cyrillic.c_str()};
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&wide)));
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, 0));
    EXPECT_EQ(
        serverCalls(),
        (Calls{"setfilepath(/data/Run1/Run1.kova)", "setfilepath(/dataRun1/Run1.kova)",
               std::string("setfilepath(/data/") + "Запись"_w + "/" + "Запись"_w + ".kova)"}));
}

TEST_F(BranticModule, SettingsOperationsOpenNoFile) {
    ASSERT_TRUE(start("ok"));
    host.clear();
    EXPECT_TRUE(plugin->notify(PN_STORESETTINGS, 0));
    EXPECT_TRUE(plugin->notify(PN_LOADSETTINGS, 0));
    EXPECT_EQ(host.calls(), (Calls{"getproperty(16)", "translatepath(remote)", "getproperty(16)",
                                   "translatepath(remote)"}));
    host.clear();
    const char* path = "/tmp/never-written.rcst";
    EXPECT_TRUE(plugin->notify(PN_LOADSETTINGSAT, reinterpret_cast<NotifyParam>(path)));
    EXPECT_TRUE(plugin->notify(PN_STORESETTINGSAT, reinterpret_cast<NotifyParam>(path)));
    EXPECT_TRUE(host.calls().empty());
    host.settingsNameIsString = false;
    EXPECT_TRUE(plugin->notify(PN_STORESETTINGS, 0));
    EXPECT_EQ(host.calls(), (Calls{"getproperty(16)"}));
}

TEST_F(BranticModule, EditAndAboutNeverBlockWithoutADisplay) {
    ASSERT_TRUE(start("ok"));
    host.clear();
    EXPECT_TRUE(plugin->edit());
    EXPECT_EQ(host.calls(), (Calls{"getmainwindow"}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(plugin->notify(PN_ABOUT, 0));
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("Информация о модуле"), std::string::npos);
    EXPECT_NE(shown.find("ver1.0"), std::string::npos);
}

TEST_F(BranticModule, CloseUnloadsTheServerAndLaterCallsStayInside) {
    ASSERT_TRUE(start("ok"));
    host.clear();
    EXPECT_TRUE(plugin->close());
    EXPECT_FALSE(libraryLoaded(testFolder("ok") + "/Orvane.so"));
    EXPECT_EQ(ServerRecord::instance().snapshot().back(), "unload");
    ServerRecord::instance().clear();
    const std::u16string dir = u"/d/";
    CurrentFileRecord record{dir.c_str(), dir.c_str()};
    host.time = 100.0;
    EXPECT_TRUE(plugin->notify(PN_RCSTART, 1));
    EXPECT_TRUE(plugin->notify(PN_RCSTOP, 0));
    EXPECT_TRUE(plugin->notify(PN_UPDATEDATA, 0));
    EXPECT_TRUE(plugin->notify(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&record)));
    EXPECT_TRUE(plugin->close());
    EXPECT_TRUE(ServerRecord::instance().snapshot().empty());
    // The host is not told of close either.
    EXPECT_EQ(host.calls(), (Calls{"gettime"}));
}

TEST_F(BranticModule, ReleaseWithoutCloseUnloadsTheServer) {
    ASSERT_TRUE(start("ok"));
    EXPECT_EQ(plugin->Release(), 0u);
    plugin = nullptr;
    EXPECT_FALSE(libraryLoaded(testFolder("ok") + "/Orvane.so"));
}

TEST_F(BranticModule, CreateWithoutHostFails) {
    module_ = std::make_unique<LoadedModule>("ok");
    plugin = module_->create();
    EXPECT_FALSE(plugin->create(nullptr));
    EXPECT_TRUE(ServerRecord::instance().snapshot().empty());
}

} // namespace
