// BSTR and VARIANT functions: the system's OLE automation, so that a host
// frees with its own calls what a module hands it.
#include "platform/com.h"

#include <oleauto.h>

namespace platform {

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
    return ::SysAllocStringLen(text, length);
}

BSTR SysAllocString(const OLECHAR* text) {
    return ::SysAllocString(text);
}

void SysFreeString(BSTR text) {
    ::SysFreeString(text);
}

std::uint32_t SysStringLen(BSTR text) {
    return ::SysStringLen(text);
}

void VariantInit(VARIANT* value) {
    if (value != nullptr)
        ::VariantInit(value);
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr)
        return E_FAIL;
    return ::VariantClear(value);
}

} // namespace platform
