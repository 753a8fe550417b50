#include "Umainfrm.h"

#include "Config.h"
#include "MainViewState.h"
#include "Tolvex.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

namespace tolvex {

using namespace platform::literals;

namespace {

// The questions' texts (kept out of the lambdas below, where one compiler
// fails on literal operator templates).
const char* const kRenameAsk = "Переименовать канал: "_w;
const char* const kRenameTo = "\n\r в : "_w; // line feed before carriage return
const char* const kDeleteAsk = "Удалить канал: "_w;

MainViewMaker& mainViewMaker() {
    static MainViewMaker instance;
    return instance;
}

IRecorder* hostOf(CTolvex* plugin) {
    return plugin != nullptr ? plugin->recorder : nullptr;
}

// lockchanges on behalf of the plug-in; true when the change may happen.
bool lockChanges(CTolvex* plugin) {
    IRecorder* host = hostOf(plugin);
    return host != nullptr && host->lockchanges(plugin, 0) == 0;
}

void unlockChanges(CTolvex* plugin) {
    if (IRecorder* host = hostOf(plugin))
        host->unlockchanges(plugin, 0);
}

// Runs `change` between a granted lock and its unlock; the unlock also
// happens when `change` throws.
template <class Change> void whileLocked(CTolvex* plugin, Change&& change) {
    try {
        change();
    } catch (...) {
        unlockChanges(plugin);
        throw;
    }
    unlockChanges(plugin);
}

// Trouble with a load: in the host's log and in a box.
void reportLoadTrouble(CTolvex* plugin, const std::string& text) {
    if (plugin != nullptr)
        plugin->log(text, CTolvex::kLogFailure);
    ui::showError(text);
}

// Settings and configuration writes report their failure in a box and stop;
// during a load also in the host's log.
template <class Write> bool reportingWriteErrors(Write&& write, CTolvex* loading = nullptr) {
    try {
        write();
        return true;
    } catch (const platform::IniWriteError& error) {
        if (loading != nullptr)
            reportLoadTrouble(loading, error.what());
        else
            ui::showError(error.what());
        return false;
    }
}

} // namespace

void setMainViewMaker(MainViewMaker maker) {
    mainViewMaker() = std::move(maker);
}

TMainFrm::TMainFrm() {
    if (mainViewMaker())
        view_ = mainViewMaker()(*this);
    if (!view_)
        view_ = std::make_unique<MainViewState>();
    // The hover poll runs for the whole life of the window, in every view.
    view_->setTimerEnabled(WindowTimer::Hover, true);
}

TMainFrm::~TMainFrm() = default;

void TMainFrm::UpdateCaption() {
    view_->setCaption(std::string("Плагин::Эмулятор   [ "_w) + currentFile + " ]");
}

void TMainFrm::FillGrid() {
    CTolvex* plugin = currentPlugin();
    const std::size_t count = plugin != nullptr ? plugin->channels.size() : 0;
    int rows = static_cast<int>(count) + 1;
    if (rows == 1)
        rows = 2;
    view_->setRowCount(rows);
    for (int row = 1; row < rows; ++row)
        for (int column = 0; column < 5; ++column)
            view_->setCell(column, row, "");
    view_->setCell(0, 0, "№"_w);
    view_->setCell(1, 0, "Имя канала"_w);
    view_->setCell(2, 0, "Частота дискр."_w);
    view_->setCell(3, 0, "Формула"_w);
    for (std::size_t i = 0; i < count; ++i) {
        const CVirtualChannel& channel = *plugin->channels[i];
        const int row = static_cast<int>(i) + 1;
        view_->setCell(0, row, std::to_string(i + 1));
        view_->setCell(1, row, channel.name);
        view_->setCell(2, row, platform::FloatToStr(static_cast<double>(channel.frequency)));
        view_->setCell(3, row, channel.signal->description());
    }
}

void TMainFrm::SetRunning(bool running) {
    view_->setTimerEnabled(WindowTimer::Generation, running);
    view_->setButtonEnabled(ToolButton::Start, !running);
    view_->setButtonEnabled(ToolButton::Stop, running);
    for (ToolButton button :
         {ToolButton::Add, ToolButton::Delete, ToolButton::Load, ToolButton::Save})
        view_->setButtonEnabled(button, !running);
}

void TMainFrm::LoadConfiguration(const std::string& fileName) {
    CTolvex* plugin = currentPlugin();
    // A settings file that cannot be written is reported; the configuration
    // itself is still read.
    reportingWriteErrors([&] { config::writeCurrentFile(fileName); }, plugin);
    if (!lockChanges(plugin)) {
        ui::showError("Конфигурация не загружена!"_w);
        return;
    }
    config::LoadOutcome outcome;
    whileLocked(plugin, [&] { outcome = config::readConfiguration(*plugin, fileName); });
    refusedFile_ = outcome.refused.empty() ? std::string() : fileName;
    FillGrid();
    UpdateCaption();
    if (!outcome.refused.empty())
        reportLoadTrouble(plugin, outcome.refused);
    if (!outcome.cuts.empty())
        reportLoadTrouble(plugin, config::cutsMessage(outcome.cuts));
}

void TMainFrm::SaveConfiguration(const std::string& fileName) {
    CTolvex* plugin = currentPlugin();
    // Each file is written whatever became of the other; each failure is
    // reported. A failed configuration write leaves the old file whole.
    reportingWriteErrors([&] { config::writeCurrentFile(fileName); });
    if (plugin != nullptr)
        reportingWriteErrors([&] { config::writeConfiguration(*plugin, fileName); });
    UpdateCaption();
}

void TMainFrm::SpeedButton1Click() {
    CTolvex* plugin = currentPlugin();
    if (IRecorder* host = hostOf(plugin))
        host->command(RECORDER_CMD_START, nullptr);
}

void TMainFrm::SpeedButton2Click() {
    CTolvex* plugin = currentPlugin();
    if (IRecorder* host = hostOf(plugin))
        host->command(RECORDER_CMD_STOP, nullptr);
}

void TMainFrm::SpeedButton3MouseDown(MouseButton button, bool shift) {
    if (button != MouseButton::Left)
        return;
    if (shift) {
        AddChannelsFromTemplate();
        FillGrid();
        return;
    }
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr)
        return;
    auto channel = std::make_unique<CVirtualChannel>("Chan1");
    if (!channel->Edit())
        return;
    if (!lockChanges(plugin)) {
        ui::showError("Добавить канал сейчас невозможно!"_w);
    } else {
        whileLocked(plugin, [&] {
            plugin->channels.push_back(std::move(channel));
            RegisterChannel(*plugin->channels.back());
        });
    }
    FillGrid();
}

void TMainFrm::StringGrid1Click() {
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr || plugin->running)
        return;
    const int index = view_->selectionTopRow() - 1;
    if (index < 0 || static_cast<std::size_t>(index) >= plugin->channels.size())
        return;
    if (!lockChanges(plugin)) {
        ui::showError("Изменять свойства канала сейчас невозможно!"_w);
        return;
    }
    whileLocked(plugin, [&] {
        CVirtualChannel& channel = *plugin->channels[static_cast<std::size_t>(index)];
        if (!channel.Edit() || channel.hostChannel == nullptr)
            return;
        channel.hostChannel->setfrequency(static_cast<double>(channel.frequency));
        const char* hostName = channel.hostChannel->getname();
        std::string oldName = hostName != nullptr ? hostName : "";
        if (oldName.size() > 299)
            oldName.resize(299);
        if (oldName == channel.name)
            return;
        const std::string question =
            std::string(kRenameAsk) + oldName + kRenameTo + channel.name + " ?";
        if (ui::askQuestion(question))
            channel.hostChannel->setname(channel.name.c_str());
        else
            channel.name = oldName;
    });
    FillGrid();
}

void TMainFrm::StringGrid1MouseDown(MouseButton button, int row, int column, int screenX,
                                    int screenY) {
    CTolvex* plugin = currentPlugin();
    if (plugin != nullptr && plugin->running)
        return;
    if (row > 0)
        view_->setCurrentRow(row);
    if (column >= 0)
        view_->setCurrentColumn(column);
    if (button == MouseButton::Right && row > 0 && column >= 0)
        view_->popupMenu(screenX, screenY);
}

void TMainFrm::pmDelClick() {
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr)
        return;
    const int index = view_->currentRow() - 1;
    if (index < 0 || static_cast<std::size_t>(index) >= plugin->channels.size())
        return;
    if (!lockChanges(plugin)) {
        ui::showError("Удалить канал сейчас невозможно!"_w);
        return;
    }
    whileLocked(plugin, [&] {
        const std::string question =
            std::string(kDeleteAsk) + plugin->channels[static_cast<std::size_t>(index)]->name;
        if (ui::askQuestion(question))
            DeleteChannel(index);
    });
    FillGrid();
}

void TMainFrm::SpeedButton5Click() {
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr)
        return;
    const std::optional<std::string> path = view_->openFileDialog();
    if (!path)
        return;
    if (!lockChanges(plugin)) {
        ui::showError("Ошибка при загрузке конфигурации!"_w);
        return;
    }
    whileLocked(plugin, [&] {
        while (!plugin->channels.empty())
            DeleteChannel(0);
    });
    FillGrid();
    currentFile = *path;
    LoadConfiguration(currentFile);
}

void TMainFrm::SpeedButton4Click() {
    const std::optional<std::string> path = view_->saveFileDialog();
    if (!path)
        return;
    currentFile = *path;
    SaveConfiguration(currentFile);
}

void TMainFrm::FormClose() {
    // A file the load refused is left as it is while there is nothing to
    // save over it: an empty list would replace what the user may still mend.
    const CTolvex* plugin = currentPlugin();
    const bool nothingLoaded = plugin == nullptr || plugin->channels.empty();
    if (!(nothingLoaded && !refusedFile_.empty() && refusedFile_ == currentFile))
        SaveConfiguration(currentFile);
    view_->hide();
}

void TMainFrm::FormActivate() {
    currentFile = config::readCurrentFile();
}

void TMainFrm::FormResize() {
    int sum = 0;
    for (int column = 0; column < 5; ++column)
        sum += view_->columnWidth(column);
    const int width = view_->columnWidth(1) + view_->gridOuterWidth() - sum - 10;
    view_->setColumnWidth(1, width < 0 ? 0 : width);
}

void TMainFrm::Timer1Timer() {
    CTolvex* plugin = currentPlugin();
    if (plugin != nullptr)
        plugin->GenerateStep();
}

void TMainFrm::Timer2Timer() {
    CTolvex* plugin = currentPlugin();
    if (plugin != nullptr && plugin->running)
        return;
    const std::optional<int> tag = view_->enabledToolTagUnderPointer();
    if (!tag)
        view_->setTimerEnabled(WindowTimer::Animation, false);
    else if (*tag == 1)
        view_->setTimerEnabled(WindowTimer::Animation, true);
}

void TMainFrm::Timer3Timer() {
    frame = frame + 1;
    if (frame >= 3)
        frame = 0;
    view_->setStartPicture(frame);
}

} // namespace tolvex
