// The emulator's plug-in object.
//
// Layer tolvex/core: the plug-in object, the virtual channels, their
// registration with the host and the configuration files. Uses the signals,
// the platform layer and the plug-in contract; reaches its windows only
// through the seams below and in VirtualChannel.h, which the forms install.
#pragma once

#include "VirtualChannel.h"

#include "platform/com.h"
#include "plugin_api/recorder.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvex {

// The plug-in's main window as the plug-in object drives it.
class MainWindow {
public:
    virtual ~MainWindow() = default;
    // Shows the window and runs its activation step (config).
    virtual void open() = 0;
    // Loads the current configuration file (execute).
    virtual void loadCurrentFile() = 0;
    // The host started or stopped recording.
    virtual void setRunning(bool running) = 0;
    // Shows the window again (also after the user closed it), in front of
    // the others and active (edit).
    virtual void bringToFront() = 0;
};

// Makes the main window at config; the forms layer installs it. Without a
// maker the plug-in object runs without a window.
using MainWindowMaker = std::unique_ptr<MainWindow> (*)();
void setMainWindowMaker(MainWindowMaker maker);

// Readies the layers above the core (forms and views) when the module makes
// its plug-in object; the module's view selection registers it.
using ModuleSetup = void (*)();
void setModuleSetup(ModuleSetup setup);
void runModuleSetup();

class CTolvex final : public IRecorderPlugin {
public:
    CTolvex();
    ~CTolvex();
    CTolvex(const CTolvex&) = delete;
    CTolvex& operator=(const CTolvex&) = delete;

    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override;
    ULONG RECAPI AddRef() override;
    ULONG RECAPI Release() override;
    bool RECAPI create(IRecorder* recorder) override;
    bool RECAPI config() override;
    bool RECAPI edit() override;
    bool RECAPI execute() override;
    bool RECAPI suspend() override;
    bool RECAPI resume() override;
    bool RECAPI notify(std::uint32_t code, NotifyParam param) override;
    const char* RECAPI getname() override;
    bool RECAPI getproperty(std::uint32_t id, VARIANT& value) override;
    bool RECAPI setproperty(std::uint32_t id, VARIANT value) override;
    bool RECAPI canclose() override;
    bool RECAPI close() override;

    // The frequency of host channel `index` of the last rebuild; 0 on a host error.
    double GetFreqById(std::int32_t index);

    // One generation step across all channels (the generation timer's tick):
    // each channel in turn makes up to kStepChunk of its due samples until
    // none is left or the step has used kStepBudgetMs on the tick source;
    // what is left waits for the next steps, and the next step goes on with
    // the channel after the last one served, so that the host's loop comes
    // back within the timer's period whatever the configuration.
    void GenerateStep();
    static constexpr std::uint64_t kStepBudgetMs = 100; // a third of the 300 ms period
    static constexpr std::uint64_t kStepChunk = 8192;

    // Writes `text` (1251) to the host's message log with `kind` (7 for a
    // failure); nothing when the host offers no log. Never throws.
    void log(const std::string& text, std::int32_t kind) const;
    static constexpr std::int32_t kLogFailure = 7;

    IRecorder* recorder = nullptr;
    std::vector<std::unique_ptr<CVirtualChannel>> channels; // display order
    bool running = false;
    MainWindow* mainWindow() const { return mainWindow_.get(); }
    // The host channel table of the last rebuild, without its null entry.
    const std::vector<IRecorderChannel*>& hostChannels() const { return hostChannels_; }
    const std::vector<std::string>& hostChannelNames() const { return hostChannelNames_; }

private:
    void rebuildHostChannels();
    void releaseHostChannels();
    const CVirtualChannel* askedChannel(IUnknown* asking) const;
    bool serveDataRequest(const DataRequest& request);
    bool serveRangeRequest(DataRangeRequest& request);
    // Writes one message to the host's log naming the channels that skipped
    // samples since the start, if any did (the end of a run).
    void reportSkipped();

    std::size_t nextChannel_ = 0; // where the next generation step begins

    platform::RefCount refs_;
    std::vector<IRecorderChannel*> hostChannels_; // counted references, in host order
    std::vector<std::string> hostChannelNames_;
    std::unique_ptr<MainWindow> mainWindow_;
};

// The module-wide current plug-in object, set by CreatePluginClass.
CTolvex* currentPlugin();
void setCurrentPlugin(CTolvex* plugin);

// Registers a channel just appended to the plug-in's list with the host.
void RegisterChannel(CVirtualChannel& channel);
// Removes channel `index` from the host and the list and destroys it.
void DeleteChannel(std::int32_t index);

} // namespace tolvex
