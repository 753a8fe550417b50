// The emulator core linked into the test, driven against the reference host
// library, with scripted views: no display, no timers, every answer chosen by
// the test.
#pragma once

#include "Editors.h"
#include "MainViewState.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Utypes.h"
#include "Views.h"
#include "VirtualChannel.h"

#include "host/host.h"
#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace testing_tolvex {

// A main window view whose dialogs, pointer and grid geometry the test sets.
class ScriptedMainView final : public tolvex::MainViewState {
public:
    std::optional<std::string> openAnswer;
    std::optional<std::string> saveAnswer;
    std::optional<int> toolTag;
    int openDialogs = 0;
    std::vector<std::pair<int, int>> popups;
    std::vector<int> pictures;
    int selectionTop = -1; // -1: the current row

    void setStartPicture(int frame) override {
        MainViewState::setStartPicture(frame);
        pictures.push_back(frame);
    }
    int selectionTopRow() const override { return selectionTop >= 0 ? selectionTop : currentRow(); }
    void popupMenu(int x, int y) override { popups.emplace_back(x, y); }
    std::optional<int> enabledToolTagUnderPointer() const override { return toolTag; }
    std::optional<std::string> openFileDialog() override {
        ++openDialogs;
        return openAnswer;
    }
    std::optional<std::string> saveFileDialog() override { return saveAnswer; }
    void setGridWidth(int width) { gridWidth_ = width; }
};

inline ScriptedMainView* gView = nullptr;
// Each use of the channel dialog takes the next script; none left: cancelled.
inline std::deque<std::function<bool(tolvex::CVirtualChannel&)>> gEdits;

inline bool scriptedEdit(tolvex::CVirtualChannel& channel) {
    if (gEdits.empty())
        return false;
    auto edit = std::move(gEdits.front());
    gEdits.pop_front();
    return edit(channel);
}

// The messages the emulator wrote to the host's log.
inline std::vector<host::LogMessage> tolvexMessages(const host::Host& host) {
    std::vector<host::LogMessage> found;
    for (const host::LogMessage& m : host.messages())
        if (m.source == u"Tolvex")
            found.push_back(m);
    return found;
}

class TolvexTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("tolvex_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        ::setenv("TOLVEX_INI", (dir_ / "Tolvex.ini").c_str(), 1);
        platform::setTestTicks(1000);
        tolvex::noise::reset();

        tolvex::setMainViewMaker([](tolvex::TMainFrm&) -> std::unique_ptr<tolvex::MainView> {
            auto view = std::make_unique<ScriptedMainView>();
            gView = view.get();
            return view;
        });
        tolvex::ui::setMessageBoxHandler([this](const tolvex::ui::MessageBoxRequest& request) {
            boxes.push_back(request);
            if (request.buttons == tolvex::ui::Buttons::Ok)
                return tolvex::ui::Answer::Ok;
            if (answers.empty())
                return tolvex::ui::Answer::No;
            const auto answer = answers.front();
            answers.pop_front();
            return answer;
        });

        tolvex::installEditors();
        plugin = new tolvex::CTolvex();
        tolvex::setCurrentPlugin(plugin);
        plugin->create(module.recorder());
        if (configure)
            plugin->config();
        tolvex::setChannelEditor(&scriptedEdit);
        gEdits.clear();
    }

    void TearDown() override {
        plugin->close();
        plugin->Release();
        tolvex::setMainViewMaker({});
        tolvex::ui::setMessageBoxHandler({});
        tolvex::setChannelEditor(nullptr);
        gView = nullptr;
        platform::clearTestTicks();
        ::unsetenv("TOLVEX_INI");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    static void write(const std::string& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Appends a channel to the list and registers it, as the window does.
    tolvex::CVirtualChannel& addChannel(const std::string& name, float frequency,
                                        std::unique_ptr<tolvex::Signal> signal = nullptr) {
        auto channel = std::make_unique<tolvex::CVirtualChannel>(name);
        channel->frequency = frequency;
        if (signal)
            channel->signal = std::move(signal);
        plugin->channels.push_back(std::move(channel));
        tolvex::RegisterChannel(*plugin->channels.back());
        return *plugin->channels.back();
    }

    // PN_GETDATA with the host channel object `asking`.
    bool request(IRecorderChannel* asking, std::int32_t count, std::vector<double>& buffer) {
        DataRequest record{};
        record.asking = asking;
        record.count = count;
        record.buffer = buffer.data();
        return plugin->notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&record));
    }

    std::vector<std::string> hostOps() const { return host.callOps(); }

    bool configure = true;
    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    tolvex::CTolvex* plugin = nullptr;
    std::vector<tolvex::ui::MessageBoxRequest> boxes;
    std::deque<tolvex::ui::Answer> answers;

private:
    std::filesystem::path dir_;
};

} // namespace testing_tolvex
