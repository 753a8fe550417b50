// Calling convention, export macro and the COM-like base types shared by the
// recorder host and its plug-in modules.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_M_IX86) || defined(__i386__)
#define RECORDER_X86_32 1
#else
#define RECORDER_X86_32 0
#endif

// Calling convention of every interface operation (the standard one on 32-bit x86).
#if RECORDER_X86_32
#if defined(_MSC_VER)
#define RECAPI __stdcall
#define RECCDECL __cdecl
#else
#define RECAPI __attribute__((stdcall))
#define RECCDECL __attribute__((cdecl))
#endif
#else
#define RECAPI
#define RECCDECL
#endif

// Marks a function as exported from a plug-in module. On Windows a module's
// .def file names its exports: dllexport would add a second, differently
// decorated name for a stdcall function.
#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C"
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(_WIN32)
// The system's COM types, BSTR and VARIANT (OLECHAR is wchar_t).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <objbase.h>
#include <oleauto.h>
#else

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const GUID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

using OLECHAR = char16_t;
// An OLECHAR string literal, as the system's OLESTR makes one on Windows.
#define OLESTR(text) u##text
// Points to NUL-terminated OLECHARs preceded by their 32-bit byte length.
using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
};
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct IUnknown {
    virtual HRESULT RECAPI QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG RECAPI AddRef() = 0;
    virtual ULONG RECAPI Release() = 0;

protected:
    ~IUnknown() = default;
};

// The widest member of VARIANT's value: two pointers.
struct VariantRecord {
    void* pvRecord;
    void* pRecInfo;
};

// The platform's tagged value: type at 0, three reserved words, the value at 8;
// the value union is as wide as two pointers.
struct VARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int32_t lVal;
        std::uint32_t ulVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        void* byref;
        VariantRecord rec;
    };
};

#endif // !_WIN32

inline constexpr GUID IID_IUnknown_ = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#if RECORDER_X86_32
static_assert(sizeof(void*) == 4);
static_assert(sizeof(VARIANT) == 16, "VARIANT is 16 bytes on 32-bit x86");
static_assert(sizeof(GUID) == 16);
#endif
static_assert(sizeof(bool) == 1, "bool results are one byte");
static_assert(sizeof(HRESULT) == 4 && sizeof(ULONG) == 4);
static_assert(sizeof(OLECHAR) == 2, "OLECHAR is a UTF-16 code unit");
#if defined(_WIN32)
static_assert(sizeof(wchar_t) == 2);
#endif
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, lVal) == 8);
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*));
