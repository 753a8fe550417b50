// A template of any bytes with any index: the name never exceeds 299
// characters, and acceptance never depends on the index.
#include "NameTemplate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    std::int32_t index = 0;
    std::memcpy(&index, data, sizeof index);
    std::string_view pattern(reinterpret_cast<const char*>(data + 4), size - 4);
    auto name = tolvex::formatChannelName(pattern, index);
    auto other = tolvex::formatChannelName(pattern, 0);
    if (name.has_value() != other.has_value())
        std::abort();
    if (name && name->size() > tolvex::kTemplateNameMax)
        std::abort();
    return 0;
}
