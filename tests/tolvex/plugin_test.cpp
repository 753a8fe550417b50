// The plug-in object against the reference host: binding by name, data
// requests, registration and deletion, and its table answers.
#include "Fixture.h"

#include "platform/com.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>

using namespace testing_tolvex;
using namespace platform::literals;

namespace {

class Binding : public TolvexTest {};
class DataRequests : public TolvexTest {};
class Registration : public TolvexTest {};

// The calls the module made, as "op args", from the first one named `from`.
std::vector<std::string> callsFrom(const host::Host& h, const std::string& from) {
    std::vector<std::string> out;
    bool on = false;
    for (const auto& call : h.calls()) {
        if (call.direction != host::Call::Direction::FromModule)
            continue;
        on = on || call.op == from;
        if (!on)
            continue;
        // Channel calls start with the channel's name; the value follows.
        std::string args = call.args;
        if (call.op.rfind("channel.", 0) == 0)
            args = args.find(", ") == std::string::npos ? "" : args.substr(args.find(", ") + 2);
        out.push_back(call.op + " " + args.substr(0, args.find(',')));
    }
    return out;
}

} // namespace

TEST_F(Binding, HostWithoutChannelsLeavesOnlyTheNullEntry) {
    auto& channel = addChannel("A", 100.0f);
    host.removeChannel(host.channel("A"));
    EXPECT_TRUE(plugin->notify(PN_UPDATECHANNELS, 0));
    EXPECT_TRUE(plugin->hostChannels().empty());
    EXPECT_EQ(channel.hostChannel, nullptr);
    EXPECT_EQ(channel.blockLength(), 0);
}

TEST_F(Binding, ARebuildUnbindsEveryChannelItDoesNotFind) {
    auto& gone = addChannel("A", 1000.0f);
    addChannel("B", 1000.0f);
    plugin->notify(PN_UPDATECHANNELS, 0);
    ASSERT_FALSE(gone.block().empty());
    host.removeChannel(host.channel("A"));
    plugin->notify(PN_UPDATECHANNELS, 0); // the last reference to A goes back
    EXPECT_EQ(gone.hostChannel, nullptr);
    EXPECT_TRUE(gone.block().empty());
    plugin->notify(PN_RCSTART, 0);
    platform::advanceTestTicks(300);
    tolvex::mainForm(*plugin)->Timer1Timer(); // no putdata on the destroyed channel
    EXPECT_GT(host.channel("B")->stats().samples, 0u);
    gone.SendRange();
    tolvex::DeleteChannel(0); // nothing asked of the host for it
    const auto ops = hostOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "removechannel"), 0);
}

TEST_F(Binding, NameFoldsCaseAndFirstHostMatchWins) {
    host.addChannel("Temp", 50.0);
    host.addChannel("TEMP", 70.0);
    auto channel = std::make_unique<tolvex::CVirtualChannel>("temp");
    plugin->channels.push_back(std::move(channel));
    ASSERT_TRUE(plugin->notify(PN_UPDATECHANNELS, 0));
    EXPECT_EQ(plugin->channels[0]->hostChannel, host.channel("Temp"));
    EXPECT_EQ(plugin->channels[0]->frequency, 50.0f);
    // Neither host name equals "temp" byte for byte.
    std::vector<double> buffer(4, -1.0);
    EXPECT_FALSE(request(host.channel("Temp"), 4, buffer));
    EXPECT_FALSE(request(host.channel("TEMP"), 4, buffer));
    EXPECT_EQ(buffer, std::vector<double>(4, -1.0));
}

TEST_F(Binding, CyrillicNamesFoldToo) {
    host.addChannel("ДАВЛЕНИЕ"_w, 10.0);
    plugin->channels.push_back(std::make_unique<tolvex::CVirtualChannel>("давление"_w));
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(plugin->channels[0]->hostChannel, host.channel("ДАВЛЕНИЕ"_w));
}

TEST_F(Binding, TwoChannelsOfOneNameBindToTheSameHostChannel) {
    host.addChannel("Same", 10.0);
    plugin->channels.push_back(std::make_unique<tolvex::CVirtualChannel>("Same"));
    plugin->channels.push_back(std::make_unique<tolvex::CVirtualChannel>("Same"));
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(plugin->channels[0]->hostChannel, host.channel("Same"));
    EXPECT_EQ(plugin->channels[1]->hostChannel, host.channel("Same"));
}

TEST_F(Binding, HostErrorStopsTheRebuildAndStillAnswersTrue) {
    host.addChannel("A", 10.0);
    host.addChannel("B", 10.0);
    plugin->channels.push_back(std::make_unique<tolvex::CVirtualChannel>("A"));
    host.failOperation("getchannel");
    EXPECT_TRUE(plugin->notify(PN_UPDATECHANNELS, 0));
    EXPECT_TRUE(plugin->hostChannels().empty());
    EXPECT_EQ(plugin->channels[0]->hostChannel, nullptr);
    host.failOperation("getchannel", false);
    EXPECT_TRUE(plugin->notify(PN_UPDATECHANNELS, 0));
    EXPECT_EQ(plugin->hostChannelNames(), (std::vector<std::string>{"A", "B"}));
    EXPECT_DOUBLE_EQ(plugin->GetFreqById(1), 10.0);
    EXPECT_EQ(plugin->GetFreqById(7), 0.0);
}

TEST_F(Binding, TableHoldsOneReferencePerEntryAndGivesItBack) {
    host::HostChannel* a = host.addChannel("A", 10.0);
    const ULONG before = a->refCount();
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(a->refCount(), before + 1);
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(a->refCount(), before + 1);
    plugin->close();
    EXPECT_EQ(a->refCount(), before);
}

TEST_F(DataRequests, ExactNameServedFromTheLaterChannelFromTimeZero) {
    auto first = std::make_unique<tolvex::LevelSignal>();
    first->Level = 1.0f;
    auto second = std::make_unique<tolvex::LevelSignal>();
    second->Level = 2.0f;
    addChannel("Dup", 100.0f, std::move(first));
    addChannel("Dup", 100.0f, std::move(second));
    std::vector<double> buffer(3, 0.0);
    ASSERT_TRUE(request(host.channels()[0], 3, buffer));
    EXPECT_EQ(buffer, (std::vector<double>{2.0, 2.0, 2.0}));
}

TEST_F(DataRequests, RepeatedRequestsGiveTheSameValuesRunningOrNot) {
    addChannel("S", 1000.0f); // a default sine
    std::vector<double> idle(500), running(500), again(500);
    ASSERT_TRUE(request(host.channel("S"), 500, idle));
    plugin->notify(PN_UPDATECHANNELS, 0);
    plugin->notify(PN_RCSTART, 0);
    platform::advanceTestTicks(900);
    tolvex::mainForm(*plugin)->Timer1Timer();
    ASSERT_TRUE(request(host.channel("S"), 500, running));
    ASSERT_TRUE(request(host.channel("S"), 500, again));
    EXPECT_EQ(idle, running);
    EXPECT_EQ(running, again);
    tolvex::SineSignal sine;
    for (int k = 0; k < 500; ++k)
        ASSERT_EQ(idle[static_cast<std::size_t>(k)], sine.value(static_cast<double>(k) / 1000.0));
}

TEST_F(DataRequests, CountZeroOrLessWritesNothingAndUnknownNameAnswersFalse) {
    addChannel("S", 10.0f);
    std::vector<double> buffer(2, 7.0);
    EXPECT_TRUE(request(host.channel("S"), 0, buffer));
    EXPECT_TRUE(request(host.channel("S"), -5, buffer));
    EXPECT_EQ(buffer, std::vector<double>(2, 7.0));
    host::HostChannel* other = host.addChannel("Other", 10.0);
    EXPECT_FALSE(request(other, 2, buffer));
    EXPECT_EQ(buffer, std::vector<double>(2, 7.0));
    EXPECT_FALSE(plugin->notify(PN_GETDATA, 0)); // no record at all
    DataRequest record{};
    record.asking = host.channel("S");
    record.count = 3;
    record.buffer = nullptr;
    EXPECT_FALSE(plugin->notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&record)));
}

TEST_F(Registration, HostSeesItsCallsInOrder) {
    host.clearCalls();
    addChannel("R", 250.0f);
    EXPECT_EQ(callsFrom(host, "addchannel"),
              (std::vector<std::string>{"addchannel \"R\"", "channel.setproperty 5",
                                        "channel.setfrequency 250", "channel.setproperty 3",
                                        "channel.setproperty 10", "channel.activate 0"}));
    const host::HostChannel& h = *host.channel("R");
    EXPECT_EQ(h.property(5)->vt, VT_I4);
    EXPECT_EQ(h.property(5)->integer, 513);
    EXPECT_EQ(h.property(3)->vt, VT_UI4);
    EXPECT_EQ(h.property(3)->integer, 4);
    EXPECT_EQ(h.property(10)->vt, VT_UNKNOWN);
    EXPECT_EQ(h.property(10)->identity, static_cast<const void*>(static_cast<IUnknown*>(plugin)));
    EXPECT_TRUE(h.active());
    // The reference lent for property 10 came back.
    EXPECT_EQ(plugin->AddRef(), 2u);
    plugin->Release();
}

TEST_F(Registration, LowFrequencyBecomesOneAndTenthIsKept) {
    auto& zero = addChannel("Z", 0.0f);
    auto& tenth = addChannel("T", 0.1f);
    auto& nan = addChannel("N", std::nanf(""));
    EXPECT_EQ(zero.frequency, 1.0f);
    EXPECT_EQ(host.channel("Z")->frequency(), 1.0);
    EXPECT_EQ(tenth.frequency, 0.1f);
    EXPECT_EQ(host.channel("T")->frequency(), static_cast<double>(0.1f));
    EXPECT_EQ(nan.frequency, 1.0f);
}

TEST_F(Registration, EmptyNameAndRefusedChannel) {
    addChannel("", 10.0f);
    EXPECT_NE(host.channel(""), nullptr);
    host.refuseAddChannel(true);
    auto& orphan = addChannel("O", 10.0f);
    EXPECT_EQ(orphan.hostChannel, nullptr);
    orphan.SendRange(); // nothing to send to
}

TEST_F(Registration, DeletingTheFirstOfThreeAndOneWithoutHostChannel) {
    addChannel("A", 1.0f);
    addChannel("B", 1.0f);
    addChannel("C", 1.0f);
    tolvex::DeleteChannel(0);
    ASSERT_EQ(plugin->channels.size(), 2u);
    EXPECT_EQ(plugin->channels[0]->name, "B");
    EXPECT_EQ(plugin->channels[1]->name, "C");
    EXPECT_EQ(host.channel("A"), nullptr);

    host.refuseAddChannel(true);
    addChannel("D", 1.0f);
    host.clearCalls();
    tolvex::DeleteChannel(2);
    tolvex::DeleteChannel(5);
    tolvex::DeleteChannel(-1);
    EXPECT_EQ(plugin->channels.size(), 2u);
    EXPECT_TRUE(host.callOps().empty());
}

TEST_F(TolvexTest, SendRangeOfADefaultSine) {
    addChannel("S", 10.0f);
    plugin->channels[0]->SendRange();
    EXPECT_EQ(host.channel("S")->property(7)->real, -120.0);
    EXPECT_EQ(host.channel("S")->property(8)->real, 120.0);
}

TEST_F(TolvexTest, TableAnswers) {
    VARIANT value;
    platform::VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = platform::bstrFrom1251("old");
    ASSERT_TRUE(plugin->getproperty(1, value)); // the old string is freed first
    EXPECT_EQ(platform::bstrTo1251(value.bstrVal), "Плагин виртуальных каналов"_w);
    platform::VariantClear(&value);
    EXPECT_FALSE(plugin->getproperty(2, value));
    EXPECT_EQ(value.vt, VT_EMPTY);
    ASSERT_TRUE(plugin->getproperty(3, value));
    EXPECT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, VARIANT_TRUE);
    EXPECT_FALSE(plugin->setproperty(3, value));
    for (std::uint32_t code : {0u, 6u, 9u})
        EXPECT_TRUE(plugin->notify(code, 0)) << code;
    for (std::uint32_t code : {2u, 4u, 7u, 8u, 11u, 12u, 13u, 14u, 25u, 26u})
        EXPECT_FALSE(plugin->notify(code, 0)) << code;
    EXPECT_STREQ(plugin->getname(), "Заказ внутр"_w);
    EXPECT_TRUE(plugin->edit());
    EXPECT_TRUE(plugin->suspend());
    EXPECT_TRUE(plugin->resume());
    EXPECT_TRUE(plugin->canclose());
}

TEST_F(TolvexTest, StartAndStopSwitchTheWindow) {
    plugin->notify(PN_RCSTART, 0);
    EXPECT_TRUE(plugin->running);
    auto& view = tolvex::mainForm(*plugin)->view();
    EXPECT_FALSE(view.buttonEnabled(tolvex::ToolButton::Start));
    EXPECT_TRUE(view.buttonEnabled(tolvex::ToolButton::Stop));
    for (auto b : {tolvex::ToolButton::Add, tolvex::ToolButton::Delete, tolvex::ToolButton::Load,
                   tolvex::ToolButton::Save})
        EXPECT_FALSE(view.buttonEnabled(b));
    EXPECT_TRUE(view.timerEnabled(tolvex::WindowTimer::Generation));
    plugin->notify(PN_RCSTOP, 0);
    EXPECT_FALSE(plugin->running);
    EXPECT_TRUE(view.buttonEnabled(tolvex::ToolButton::Start));
    EXPECT_FALSE(view.buttonEnabled(tolvex::ToolButton::Stop));
    EXPECT_TRUE(view.buttonEnabled(tolvex::ToolButton::Save));
    EXPECT_FALSE(view.timerEnabled(tolvex::WindowTimer::Generation));
}

// Requests from an index: the values PN_GETDATA gives there, the noise from
// the state in the record, and the shared generator left alone.
TEST_F(DataRequests, ARangeFromAnyIndexEqualsTheRequestFromZero) {
    auto sum = std::make_unique<tolvex::CompositeSignal>();
    sum->parts.push_back(std::make_unique<tolvex::NoiseSignal>());
    addChannel("Sum", 1000.0f, std::move(sum));
    std::vector<double> whole(3000);
    ASSERT_TRUE(request(host.channel("Sum"), 3000, whole));
    tolvex::noise::reset(12345);

    auto range = [&](const char* name, std::uint64_t first, std::uint64_t count, float* floats,
                     double* doubles, std::uint32_t& state) {
        DataRangeRequest r{};
        r.size = sizeof r;
        r.asking = host.channel(name);
        r.first = first;
        r.count = count;
        r.floats = floats;
        r.doubles = doubles;
        r.noiseState = state;
        const bool ok = plugin->notify(PN_GETDATARANGE, reinterpret_cast<NotifyParam>(&r));
        state = r.noiseState;
        EXPECT_TRUE(!ok || r.frequency == static_cast<double>(host.channel(name)->frequency()));
        return ok;
    };
    // The same values in uneven pieces, with the state carried from piece to
    // piece; floats are the doubles rounded.
    std::uint32_t state = 1;
    std::vector<double> pieces(3000);
    std::vector<float> floats(3000);
    std::uint32_t floatState = 1;
    for (std::uint64_t at = 0; at < 3000;) {
        const std::uint64_t n = std::min<std::uint64_t>(3000 - at, 1 + at % 977);
        ASSERT_TRUE(range("Sum", at, n, nullptr, pieces.data() + at, state));
        ASSERT_TRUE(range("Sum", at, n, floats.data() + at, nullptr, floatState));
        at += n;
    }
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(state, floatState);
    for (std::size_t k = 0; k < whole.size(); ++k)
        ASSERT_EQ(floats[k], static_cast<float>(whole[k])) << k;
    EXPECT_EQ(tolvex::noise::state(), 12345u);
    // No buffer: only the state moves, as far as the samples would have.
    std::uint32_t skipped = 1;
    ASSERT_TRUE(range("Sum", 0, 3000, nullptr, nullptr, skipped));
    EXPECT_EQ(skipped, state);

    // Refused: another record size, two buffers, an unknown name.
    DataRangeRequest bad{};
    bad.size = sizeof bad - 8;
    bad.asking = host.channel("Sum");
    bad.count = 1;
    bad.doubles = pieces.data();
    EXPECT_FALSE(plugin->notify(PN_GETDATARANGE, reinterpret_cast<NotifyParam>(&bad)));
    std::uint32_t s = 1;
    EXPECT_FALSE(range("Sum", 0, 1, floats.data(), pieces.data(), s));
    EXPECT_FALSE(plugin->notify(PN_GETDATARANGE, 0));
    host::HostChannel* other = host.addChannel("Other", 10.0);
    bad.size = sizeof bad;
    bad.asking = other;
    EXPECT_FALSE(plugin->notify(PN_GETDATARANGE, reinterpret_cast<NotifyParam>(&bad)));
}
