// BSTR and VARIANT functions of our own where the system has none: one
// malloc block per BSTR that starts at the 32-bit byte length.
#include "platform/com.h"

#include <cstdlib>
#include <cstring>

namespace platform {

BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length) {
    const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u)
        return nullptr;
    void* block = std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR));
    if (block == nullptr)
        return nullptr;
    const auto byteLength = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &byteLength, sizeof byteLength);
    auto* chars = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + sizeof(std::uint32_t));
    if (text != nullptr && length > 0)
        std::memcpy(chars, text, bytes);
    else if (length > 0)
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr)
        return nullptr;
    std::uint32_t n = 0;
    while (text[n] != 0)
        ++n;
    return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
    if (text != nullptr)
        std::free(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

std::uint32_t SysStringLen(BSTR text) {
    if (text == nullptr)
        return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof(std::uint32_t), sizeof bytes);
    return static_cast<std::uint32_t>(bytes / sizeof(OLECHAR));
}

void VariantInit(VARIANT* value) {
    if (value == nullptr)
        return;
    std::memset(value, 0, sizeof *value);
    value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr)
        return E_FAIL;
    switch (value->vt) {
    case VT_BSTR:
        SysFreeString(value->bstrVal);
        break;
    case VT_UNKNOWN:
        if (value->punkVal != nullptr)
            value->punkVal->Release();
        break;
    default:
        break;
    }
    VariantInit(value);
    return S_OK;
}

} // namespace platform
