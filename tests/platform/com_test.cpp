#include "platform/com.h"
#include "platform/module.h"
#include "platform/text.h"
#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Counted final : IUnknown {
    platform::RefCount refs;
    bool* destroyed = nullptr;
    static constexpr GUID kOwn = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override {
        return platform::queryInterface(this, iid, out, kOwn);
    }
    ULONG RECAPI AddRef() override { return refs.add(); }
    ULONG RECAPI Release() override {
        const ULONG n = refs.release();
        if (n == 0) {
            *destroyed = true;
            delete this;
        }
        return n;
    }
};

} // namespace

TEST(Bstr, LengthPrefixTerminatorAndNull) {
    BSTR s = platform::SysAllocString(OLESTR("abc"));
    ASSERT_NE(s, nullptr);
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(platform::SysStringLen(s), 3u);
    EXPECT_EQ(s[3], 0);
    platform::SysFreeString(s);
    EXPECT_EQ(platform::SysAllocString(nullptr), nullptr);
    platform::SysFreeString(nullptr);

    BSTR empty = platform::SysAllocString(OLESTR(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(platform::SysStringLen(empty), 0u);
    platform::SysFreeString(empty);
}

TEST(Bstr, CodePageTextRoundTrips) {
    using namespace platform::literals;
    BSTR s = platform::bstrFrom1251("Плагин виртуальных каналов"_w);
    EXPECT_EQ(platform::OleString(s), OLESTR("Плагин виртуальных каналов"));
    EXPECT_EQ(platform::bstrTo1251(s), "Плагин виртуальных каналов"_w);
    platform::SysFreeString(s);
}

TEST(Variant, ClearFreesStringsAndReleasesReferences) {
    VARIANT v;
    platform::VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = VT_BSTR;
    v.bstrVal = platform::SysAllocString(OLESTR("owned"));
    EXPECT_EQ(platform::VariantClear(&v), S_OK); // ASan reports a leak if not freed
    EXPECT_EQ(v.vt, VT_EMPTY);

    bool destroyed = false;
    auto* object = new Counted;
    object->destroyed = &destroyed;
    v.vt = VT_UNKNOWN;
    v.punkVal = object;
    platform::VariantClear(&v);
    EXPECT_TRUE(destroyed);
}

TEST(RefCounting, QueryInterfaceAndLifetime) {
    bool destroyed = false;
    auto* object = new Counted;
    object->destroyed = &destroyed;
    void* out = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown_, &out), S_OK);
    EXPECT_EQ(out, object);
    EXPECT_EQ(object->QueryInterface(Counted::kOwn, &out), S_OK);
    EXPECT_EQ(object->refs.value(), 3u);

    void* untouched = &destroyed;
    constexpr GUID other = {0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 9}};
    EXPECT_EQ(object->QueryInterface(other, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, &destroyed);
    EXPECT_EQ(object->refs.value(), 3u);

    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(Ticks, SettableForTestsAndWide) {
    platform::setTestTicks(0x1'0000'0005ull); // past the 32-bit wrap
    EXPECT_EQ(platform::tickCount64(), 0x1'0000'0005ull);
    EXPECT_EQ(platform::tickCount(), 5u);
    platform::advanceTestTicks(300);
    EXPECT_EQ(platform::tickCount64(), 0x1'0000'0131ull);
    platform::clearTestTicks();
    const auto a = platform::tickCount64();
    const auto b = platform::tickCount64();
    EXPECT_LE(a, b);
}

TEST(Library, LoadsByPathFindsSymbolsAndReportsFailure) {
    const std::string self = platform::modulePath();
    EXPECT_NE(self.find("platform_tests"), std::string::npos) << self;

    platform::Library missing;
    EXPECT_FALSE(missing.open("/nonexistent/Nothing" + platform::libraryFileName("")));
    EXPECT_FALSE(missing.error().empty());
    EXPECT_EQ(missing.symbol("anything"), nullptr);

#ifdef _WIN32
    const char* systemLibrary = "kernel32.dll";
    const char* systemFunction = "GetTickCount";
#else
    const char* systemLibrary = "libc.so.6";
    const char* systemFunction = "strlen";
#endif
    platform::Library libc;
    ASSERT_TRUE(libc.open(systemLibrary)) << libc.error();
    EXPECT_NE(libc.symbol(systemFunction), nullptr);
    EXPECT_EQ(libc.symbol("no_such_symbol_here"), nullptr);
    libc.close();
    EXPECT_FALSE(libc.isOpen());
}
