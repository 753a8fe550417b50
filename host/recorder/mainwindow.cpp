#include "mainwindow.h"

#include "program.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace recorder {

namespace {

QString text1251(const std::string& text) {
    return QString::fromStdString(host::utf8(text.c_str()));
}

QString number(double v, const char* format = "%.6g") {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return QString::fromLatin1(text);
}

enum Column {
    Name,
    Frequency,
    Block,
    Blocks,
    Samples,
    Last,
    Minimum,
    Maximum,
    Mean,
    Range,
    Columns
};

// The display range a module gave a channel (properties 7 and 8).
std::optional<std::pair<double, double>> displayRange(const host::HostChannel* c) {
    const auto lo = c->property(7);
    const auto hi = c->property(8);
    if (!lo || !hi || !(hi->real > lo->real))
        return std::nullopt;
    return std::make_pair(lo->real, hi->real);
}

} // namespace

ScopeWidget::ScopeWidget(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
    setMinimumHeight(kStripHeight);
    setAutoFillBackground(false);
}

void ScopeWidget::setChannels(std::vector<const host::HostChannel*> channels) {
    channels_ = std::move(channels);
    if (paused_)
        setPaused(true); // the new selection held still as well
    fitHeight();
    update();
}

void ScopeWidget::fitHeight() {
    const int wanted = std::max<int>(1, static_cast<int>(channels_.size())) * kStripHeight;
    const int visible = parentWidget() != nullptr ? parentWidget()->height() : 0;
    setMinimumHeight(std::max(wanted, kStripHeight));
    resize(width(), std::max(wanted, visible));
}

void ScopeWidget::setTimeBase(double seconds) {
    timeBase_ = std::clamp(seconds, 0.1, session_.options().scopeSeconds);
    update();
}

void ScopeWidget::setPaused(bool paused) {
    frozen_.clear();
    paused_ = paused;
    if (paused) {
        pausedAt_ = session_.runSeconds();
        for (const host::HostChannel* c : channels_)
            if (const ScopeTrace* t = session_.scope(c))
                frozen_.emplace(c, *t);
    }
    update();
}

void ScopeWidget::setAutoScale(bool on) {
    autoScale_ = on;
    update();
}

double ScopeWidget::now() const {
    return paused_ ? pausedAt_ : session_.runSeconds();
}

YRange ScopeWidget::rangeOf(const host::HostChannel* c) const {
    YRange range;
    if (autoScale_)
        return range;
    if (const auto r = displayRange(c)) {
        range.fixed = true;
        range.lo = r->first;
        range.hi = r->second;
    }
    return range;
}

void ScopeWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    if (channels_.empty()) {
        painter.setPen(Qt::gray);
        painter.drawText(rect(), Qt::AlignCenter, tr("Select channels in the table to watch them"));
        return;
    }
    const int strip = std::max(kStripHeight, height() / static_cast<int>(channels_.size()));
    const auto& present = session_.host().channels();
    const double t1 = now();
    const double t0 = t1 - timeBase_;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const QRect area(0, static_cast<int>(i) * strip, width(), strip);
        if (!area.intersects(event->rect()))
            continue;
        const host::HostChannel* c = channels_[i];
        if (std::find(present.begin(), present.end(), c) == present.end())
            continue; // gone since the selection was made
        const ScopeTrace* trace = session_.scope(c);
        if (paused_) {
            auto it = frozen_.find(c);
            trace = it == frozen_.end() ? nullptr : &it->second;
        }
        PlotText text;
        text.title =
            host::utf8(c->name().c_str()) + " (" + number(c->frequency()).toStdString() + " Hz)";
        text.xLabel = "time since Start, s";
        text.yLabel = "value";
        const QRect inner = area.adjusted(4, 2, -4, -2);
        const int parts = std::max(1, inner.width());
        const std::vector<Bin> bins =
            trace != nullptr ? trace->window(t0, t1, parts) : std::vector<Bin>();
        // A slow channel's segment from its last sample before the window.
        const auto lead = trace != nullptr ? trace->before(t0) : std::nullopt;
        drawTrace(painter, inner, bins, t0, t1, timeBase_ / parts, text, rangeOf(c),
                  lead ? &lead->bin : nullptr, lead ? lead->t : 0);
    }
}

MainWindow::MainWindow(Session& session) : session_(session) {
    setWindowTitle(tr("Recorder"));
    resize(1100, 800);
    session_.host().options().mainWindow = static_cast<QWidget*>(this);

    auto* bar = addToolBar(tr("Recorder"));
    start_ = bar->addAction(tr("Start"));
    stop_ = bar->addAction(tr("Stop"));
    start_->setShortcut(QKeySequence(Qt::Key_F5));
    stop_->setShortcut(QKeySequence(Qt::Key_F6));
    connect(start_, &QAction::triggered, this, [this] { session_.start(); });
    connect(stop_, &QAction::triggered, this, [this] { session_.stop(); });
    bar->addSeparator();
    pause_ = bar->addAction(tr("Pause scope"));
    pause_->setCheckable(true);
    pause_->setShortcut(QKeySequence(Qt::Key_Space));
    connect(pause_, &QAction::toggled, this, [this](bool on) { scope_->setPaused(on); });
    bar->addWidget(new QLabel(tr(" Time base: ")));
    timeBase_ = new QComboBox;
    for (double seconds : {1.0, 2.0, 5.0, 10.0, 30.0})
        timeBase_->addItem(tr("%1 s").arg(seconds), seconds);
    timeBase_->setCurrentIndex(2);
    bar->addWidget(timeBase_);
    autoScale_ = new QCheckBox(tr("Auto-scale"));
    autoScale_->setToolTip(
        tr("Fit the value axis to the data instead of the channel's display range"));
    bar->addWidget(autoScale_);

    auto* file = menuBar()->addMenu(tr("&Recorder"));
    file->addAction(start_);
    file->addAction(stop_);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, [this] { close(); });
    modules_ = menuBar()->addMenu(tr("&Modules"));

    table_ = new QTableWidget(0, Columns);
    table_->setHorizontalHeaderLabels({tr("Name"), tr("Frequency, Hz"), tr("Block, samples"),
                                       tr("Blocks"), tr("Samples"), tr("Last"), tr("Minimum"),
                                       tr("Maximum"), tr("Mean"), tr("Display range")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->setColumnWidth(Name, 230);
    for (int c = Frequency; c < Range; ++c)
        table_->setColumnWidth(c, c == Block ? 110 : 88);
    // Each header whole at the default size, whatever the font.
    for (int c = Name; c < Columns; ++c)
        table_->setColumnWidth(
            c, std::max(table_->columnWidth(c), table_->horizontalHeader()->sectionSizeHint(c)));
    table_->setWordWrap(false);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { selectionChanged(); });

    scope_ = new ScopeWidget(session_);
    scopeArea_ = new QScrollArea;
    scopeArea_->setWidget(scope_);
    scopeArea_->setWidgetResizable(true);
    scopeArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(timeBase_, &QComboBox::currentIndexChanged, this,
            [this](int) { scope_->setTimeBase(timeBase_->currentData().toDouble()); });
    connect(autoScale_, &QCheckBox::toggled, this, [this](bool on) { scope_->setAutoScale(on); });

    log_ = new QPlainTextEdit;
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(5000);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    traces_ = new QCheckBox(tr("Show the modules' traces"));
    connect(traces_, &QCheckBox::toggled, this, [this] { refillLog(); });
    auto* logBox = new QWidget;
    auto* logLayout = new QVBoxLayout(logBox);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(traces_);
    logLayout->addWidget(log_);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(table_);
    split->addWidget(scopeArea_);
    split->addWidget(logBox);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 5);
    split->setStretchFactor(2, 1);
    split->setSizes({200, 470, 110});
    setCentralWidget(split);

    state_ = new QLabel;
    time_ = new QLabel;
    file_ = new QLabel;
    statusBar()->addWidget(state_);
    statusBar()->addWidget(time_);
    statusBar()->addWidget(file_, 1);

    session_.setMessageHandler([this](const host::LogMessage& m) { append(m); });
    session_.setStateHandler([this](bool running) { showState(running); });
    session_.host().setChannelSetHandler([this] { rebuildTable(); });
    refillLog();

    values_.setInterval(200);
    connect(&values_, &QTimer::timeout, this, [this] { updateValues(); });
    values_.start();
    // The scope redraws about 30 times a second: between blocks the time axis
    // moves on with the recorder's clock.
    repaint_.setInterval(33);
    connect(&repaint_, &QTimer::timeout, scope_, [this] {
        if (session_.host().running() && !scope_->paused())
            scope_->update();
    });
    repaint_.start();
    showState(false);
}

MainWindow::~MainWindow() {
    closeModules();
    session_.setMessageHandler({});
    session_.setStateHandler({});
    session_.host().setChannelSetHandler({});
    session_.host().options().mainWindow = nullptr;
}

void MainWindow::refresh() {
    rebuildTable();
    rebuildModuleMenu();
    updateValues();
}

void MainWindow::setShowTraces(bool show) {
    traces_->setChecked(show);
}

QPoint besidePosition(const QRect& own, const QRect& window, const QRect& area, int top) {
    constexpr int kGap = 8;
    QPoint at(own.right() + 1 + kGap, top);
    if (!area.isValid())
        return at;
    if (at.x() + window.width() > area.right() + 1) {
        if (own.left() - kGap - window.width() >= area.left())
            at.setX(own.left() - kGap - window.width());
        else
            at.setX(std::max(area.left(), area.right() + 1 - window.width()));
    }
    at.setY(
        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - window.height())));
    return at;
}

void MainWindow::placeModuleWindows() {
    const QRect own = frameGeometry();
    const QScreen* shown = screen();
    const QRect area = shown != nullptr ? shown->availableGeometry() : QRect();
    int top = own.top();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == this || !w->isVisible() || w->isModal() || w->windowType() == Qt::Popup ||
            w->windowType() == Qt::ToolTip)
            continue;
        const QRect r = w->frameGeometry();
        if (!r.intersects(own))
            continue; // where the user (or the module) put it, out of the way
        w->move(besidePosition(own, r, area, top));
        top += r.height() + 8;
    }
}

void MainWindow::closeModules() {
    if (closed_)
        return;
    closed_ = true;
    values_.stop();
    repaint_.stop();
    scope_->setChannels({});
    rows_.clear();
    session_.shutdown();
    modules_->clear();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closed_ && session_.host().running()) {
        const auto answer = QMessageBox::question(
            this, tr("Recorder"), tr("The recorder is running. Stop it and quit?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    event->accept();
    // The program closes the modules once its event loop has ended; their own
    // windows do not keep it alive.
    QCoreApplication::exit(0);
}

void MainWindow::rebuildTable() {
    const auto& channels = session_.host().channels();
    rows_.assign(channels.begin(), channels.end());
    table_->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        for (int c = 0; c < Columns; ++c)
            if (table_->item(r, c) == nullptr)
                table_->setItem(r, c, new QTableWidgetItem);
        table_->item(r, Name)->setText(text1251(rows_[static_cast<std::size_t>(r)]->name()));
        for (int c = Frequency; c < Columns; ++c)
            table_->item(r, c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    // At first every channel is watched.
    if (!selectedOnce_ && !rows_.empty()) {
        selectedOnce_ = true;
        table_->selectAll();
    }
    selectionChanged();
    updateValues();
}

void MainWindow::updateValues() {
    // Channels the host dropped since the last rebuild must not be read.
    const auto& channels = session_.host().channels();
    if (!std::equal(rows_.begin(), rows_.end(), channels.begin(), channels.end())) {
        rebuildTable();
        return;
    }
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const host::HostChannel* c = rows_[static_cast<std::size_t>(r)];
        const host::ChannelStats& s = c->stats();
        table_->item(r, Frequency)->setText(number(c->frequency(), "%.10g"));
        table_->item(r, Block)->setText(QString::number(c->blockLength()));
        table_->item(r, Blocks)->setText(QString::number(s.blocks));
        table_->item(r, Samples)->setText(QString::number(s.samples));
        const bool any = s.samples > 0;
        table_->item(r, Last)->setText(any ? number(static_cast<double>(s.last)) : QString("-"));
        table_->item(r, Minimum)->setText(any ? number(s.minimum) : QString("-"));
        table_->item(r, Maximum)->setText(any ? number(s.maximum) : QString("-"));
        table_->item(r, Mean)->setText(
            any ? QString::fromStdString(meanText(s.mean(), s.minimum, s.maximum)) : QString("-"));
        const auto range = displayRange(c);
        table_->item(r, Range)->setText(
            range ? number(range->first) + " \u2026 " + number(range->second) : QString("-"));
    }
    time_->setText(tr("Time: %1 s").arg(session_.runSeconds(), 0, 'f', 1));
    const std::string file = session_.currentFile();
    file_->setText(file.empty() ? tr("No current file")
                                : tr("File: %1").arg(QString::fromStdString(file)));
}

void MainWindow::rebuildModuleMenu() {
    modules_->clear();
    host::Host& h = session_.host();
    for (const auto& module : h.modules()) {
        const bool alive = module->stage() == host::Stage::Executed;
        // Named by what the module says it is; its object's getname is a code.
        QString title = QString::fromStdString(module->name());
        if (!module->description().empty())
            title += " \u2014 " + text1251(module->description());
        else if (!module->objectName().empty())
            title += " \u2014 " + text1251(module->objectName());
        if (!alive)
            title += tr(" (not running)");
        QMenu* menu = modules_->addMenu(title);
        menu->setEnabled(alive);
        host::LoadedModule* m = module.get();
        menu->addAction(tr("&Edit..."), this, [this, m] {
            session_.host().edit(*m);
            placeModuleWindows();
        });
        menu->addAction(tr("&Suspend"), this, [this, m] { session_.host().suspend(*m); });
        menu->addAction(tr("&Resume"), this, [this, m] { session_.host().resume(*m); });
        menu->addSeparator();
        menu->addAction(tr("&About..."), this, [this, m] {
            // A module with an about box of its own shows it on code 7.
            if (session_.host().notify(*m, PN_ABOUT))
                return;
            const PluginInfo& info = m->info();
            QMessageBox::information(
                this, tr("About %1").arg(QString::fromStdString(m->name())),
                tr("%1\n%2\n%3\nversion %4.%5")
                    .arg(text1251(info.name), text1251(info.description), text1251(info.vendor))
                    .arg(info.versionMajor)
                    .arg(info.versionMinor));
        });
    }
    if (h.modules().empty())
        modules_->addAction(tr("No modules loaded"))->setEnabled(false);
}

void MainWindow::showState(bool running) {
    start_->setEnabled(!running);
    stop_->setEnabled(running);
    state_->setText(running ? tr("Running") : tr("Stopped"));
    updateValues();
    scope_->update();
}

void MainWindow::append(const host::LogMessage& m) {
    if (m.kind == host::kLogTrace && !traces_->isChecked())
        return;
    const QString line = QString::fromStdString(formatLogLine(m));
    if (m.kind == host::kLogError)
        log_->appendHtml("<span style=\"color:#b00000\">" + line.toHtmlEscaped() + "</span>");
    else
        log_->appendPlainText(line);
}

void MainWindow::refillLog() {
    log_->clear();
    const host::Host& host = session_.host();
    if (host.messagesDropped() > 0) {
        const Recording* r = session_.recording();
        QString note = tr("%1 older messages are no longer kept here").arg(host.messagesDropped());
        if (r != nullptr && !r->logPath().empty())
            note +=
                tr("; the recording's log has them: %1").arg(QString::fromStdString(r->logPath()));
        log_->appendPlainText(note);
    }
    for (const host::LogMessage& m : host.messages())
        append(m);
}

void MainWindow::selectionChanged() {
    // Every selected channel, in table order.
    std::vector<int> picked;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        if (index.row() < static_cast<int>(rows_.size()))
            picked.push_back(index.row());
    std::sort(picked.begin(), picked.end());
    std::vector<const host::HostChannel*> chosen;
    for (const int row : picked)
        chosen.push_back(rows_[static_cast<std::size_t>(row)]);
    scope_->setChannels(std::move(chosen));
}

} // namespace recorder
