// The module's exports: identification, the information record, and the
// creation and destruction of its one plug-in object.
#include "Tolvex.h"

#include "platform/text.h"
#include "plugin_api/recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

using namespace platform::literals;

namespace {

// Writes a string and its terminator into the record, nothing after it.
void putText(PluginInfo* info, std::size_t offset, std::size_t width, const char* text) {
    const std::size_t length = std::min(std::strlen(text), width - 1);
    auto* bytes = reinterpret_cast<unsigned char*>(info);
    std::memcpy(bytes + offset, text, length);
    bytes[offset + length] = 0;
}

void putWord(PluginInfo* info, std::size_t offset, std::uint16_t value) {
    std::memcpy(reinterpret_cast<unsigned char*>(info) + offset, &value, sizeof value);
}

} // namespace

PLUGIN_EXPORT std::int32_t RECCDECL _GetPluginType() {
    return 0;
}

PLUGIN_EXPORT const char* RECCDECL _GetPluginDescription() {
    return "Заказ внутренний"_w;
}

PLUGIN_EXPORT IRecorderPlugin* RECCDECL _CreatePluginClass() {
    try {
        tolvex::runModuleSetup();
    } catch (...) {
        // Without a view layer the forms fall back to views that show nothing.
    }
    tolvex::CTolvex* plugin = nullptr;
    try {
        plugin = new (std::nothrow) tolvex::CTolvex();
    } catch (...) {
        plugin = nullptr;
    }
    tolvex::setCurrentPlugin(plugin);
    return plugin;
}

PLUGIN_EXPORT std::int32_t RECCDECL _DestroyPluginClass(IRecorderPlugin* a_piPlg) {
    if (a_piPlg == nullptr)
        return 0;
    // The release always happens; a host that still holds references is told
    // so on standard error rather than being aborted.
    if (a_piPlg->Release() != 0)
        std::fprintf(stderr, "Tolvex: assertion failed: a_piPlg->Release()==0\n");
    return 0;
}

PLUGIN_EXPORT void RECCDECL _GetPluginInfo(PluginInfo* info) {
    if (info == nullptr)
        return;
    putText(info, offsetof(PluginInfo, name), sizeof info->name, "Эмулятор каналов"_w);
    putText(info, offsetof(PluginInfo, description), sizeof info->description,
            "Плагин виртуальных каналов"_w);
    putText(info, offsetof(PluginInfo, vendor), sizeof info->vendor, "Tolvex developers");
    putWord(info, offsetof(PluginInfo, versionMajor), 1);
    putWord(info, offsetof(PluginInfo, versionMinor), 2);
}
