// BSTR and VARIANT functions, and the reference counting of IUnknown objects.
#pragma once

#include "plugin_api/abi.h"

#include <atomic>
#include <string>
#include <string_view>

namespace platform {

// BSTRs and VARIANTs: on Windows the system's OLE automation functions, so that
// a host frees with its own calls what a module hands it; elsewhere one malloc
// block starting at the 32-bit byte length, so either side of the module
// boundary frees it with SysFreeString.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length);
void SysFreeString(BSTR text);
std::uint32_t SysStringLen(BSTR text);

void VariantInit(VARIANT* value);
// Frees what the value owns (a BSTR, a reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* value);

// OLECHAR text (UTF-16) of 1251 text and back (characters outside the code
// page become '?').
using OleString = std::basic_string<OLECHAR>;
OleString oleFrom1251(std::string_view text);
std::string oleTo1251(const OLECHAR* text);
std::string oleTo1251(const OLECHAR* text, std::size_t length);

// A new BSTR of 1251 text; null when it cannot be allocated.
BSTR bstrFrom1251(std::string_view text);
// The BSTR's text in 1251 (characters outside the code page become '?').
std::string bstrTo1251(BSTR text);

// An atomic reference count that starts at 1.
class RefCount {
public:
    ULONG add() { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG release() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    ULONG value() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<ULONG> count_{1};
};

// QueryInterface as the plug-in contract has it: the object itself for IUnknown
// and for `own`, with one reference added; otherwise E_NOINTERFACE, out untouched.
template <class Object> HRESULT queryInterface(Object* self, REFIID iid, void** out, REFIID own) {
    if (out == nullptr)
        return E_NOINTERFACE;
    if (iid == IID_IUnknown_ || iid == own) {
        *out = self;
        self->AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

} // namespace platform
