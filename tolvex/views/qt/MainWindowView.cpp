#include "MainWindowView.h"

#include "Pictures.h"
#include "QtCommon.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/text.h"

#include <algorithm>

namespace tolvex::qtviews {

using namespace platform::literals;

namespace {

constexpr int kPanelHeight = 73;
constexpr int kDesignWidth = 592; // client width the panel's positions were laid out for
constexpr int kRowHeight = 20;
constexpr int kColumns = 5;
constexpr int kInitialWidths[kColumns] = {47, 162, 80, 203, 72};

struct ToolSpec {
    ToolButton button;
    const char* caption;
    int left, width, height;
    bool followsRight;
};

constexpr ToolSpec kTools[6] = {
    {ToolButton::Start, "Start", 12, 45, 57, false},
    {ToolButton::Stop, "Stop", 64, 45, 57, false},
    {ToolButton::Add, "Add", 372, 41, 53, true},
    {ToolButton::Delete, "Delete", 420, 41, 53, true},
    {ToolButton::Load, "Load", 488, 41, 53, true},
    {ToolButton::Save, "Save", 536, 41, 53, true},
};
constexpr int kSeparatorLefts[2] = {360, 472};

std::size_t indexOf(ToolButton button) {
    return static_cast<std::size_t>(button);
}

std::optional<MouseButton> mouseButton(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return MouseButton::Left;
    case Qt::RightButton:
        return MouseButton::Right;
    case Qt::MiddleButton:
        return MouseButton::Middle;
    default:
        return std::nullopt;
    }
}

} // namespace

MainWindow::MainWindow(TMainFrm& form) : form_(form) {
    setFont(mainFont());
    setWindowTitle(QStringLiteral("MainFrm"));
    setWindowIcon(qtviews::windowIcon()); // not QWidget::windowIcon
    setMinimumSize(600, 440);
    resize(600, 440);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    panel_ = new QWidget(this);
    panel_->setFixedHeight(kPanelHeight);
    layout->addWidget(panel_);
    for (std::size_t i = 0; i < 6; ++i) {
        const ToolSpec& spec = kTools[i];
        auto* button = new QToolButton(panel_);
        button->setObjectName(QString::fromLatin1(spec.caption));
        button->setText(QString::fromLatin1(spec.caption));
        button->setIcon(QIcon(toolPicture(spec.button)));
        button->setIconSize(QSize(kToolPictureSize, kToolPictureSize));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(spec.width, spec.height);
        button->setProperty("tag", spec.button == ToolButton::Start ? 1 : 0);
        buttons_[i] = button;
    }
    buttons_[indexOf(ToolButton::Stop)]->setEnabled(false);
    for (int i = 0; i < 2; ++i) {
        auto* line = new QFrame(panel_);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setFixedSize(2, 65);
        line->setProperty("tag", 0);
        separators_[i] = line;
    }
    connect(buttons_[indexOf(ToolButton::Start)], &QToolButton::clicked, this,
            [this] { guarded([this] { form_.SpeedButton1Click(); }); });
    connect(buttons_[indexOf(ToolButton::Stop)], &QToolButton::clicked, this,
            [this] { guarded([this] { form_.SpeedButton2Click(); }); });
    connect(buttons_[indexOf(ToolButton::Delete)], &QToolButton::clicked, this,
            [this] { guarded([this] { form_.pmDelClick(); }); });
    connect(buttons_[indexOf(ToolButton::Load)], &QToolButton::clicked, this,
            [this] { guarded([this] { form_.SpeedButton5Click(); }); });
    connect(buttons_[indexOf(ToolButton::Save)], &QToolButton::clicked, this,
            [this] { guarded([this] { form_.SpeedButton4Click(); }); });
    // "Add" acts on the press itself, and tells the two commands apart by Shift.
    buttons_[indexOf(ToolButton::Add)]->installEventFilter(this);

    grid_ = new QTableWidget(this);
    grid_->setColumnCount(kColumns);
    grid_->setRowCount(0);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid_->verticalHeader()->setMinimumSectionSize(kRowHeight);
    QHeaderView* header = grid_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setFixedHeight(kRowHeight + 1);
    // The stand-in font is wider than the original one: a column starts at
    // its own width or at what its header needs, whichever is more.
    const char* headers[kColumns] = {"№"_w, "Имя канала"_w, "Частота дискр."_w, "Формула"_w, ""};
    QFontMetrics metrics(header->font());
    for (int c = 0; c < kColumns; ++c) {
        grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(QString()));
        int needed = metrics.horizontalAdvance(toQt(headers[c])) + 12;
        grid_->setColumnWidth(c, std::max(kInitialWidths[c], needed));
    }
    grid_->setShowGrid(true);
    grid_->setWordWrap(false);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    grid_->viewport()->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    layout->addWidget(grid_, 1);

    popup_ = new QMenu(this);
    QAction* properties = popup_->addAction(toQt("Свойства"_w));
    QFont bold = popup_->font();
    bold.setBold(true);
    properties->setFont(bold);
    popup_->setDefaultAction(properties);
    popup_->addSeparator();
    QAction* remove = popup_->addAction(toQt("Удалить"_w));
    properties->setObjectName(QStringLiteral("pmProperties"));
    remove->setObjectName(QStringLiteral("pmDelete"));
    connect(properties, &QAction::triggered, this,
            [this] { guarded([this] { form_.StringGrid1Click(); }); });
    connect(remove, &QAction::triggered, this, [this] { guarded([this] { form_.pmDelClick(); }); });

    placeToolControls();
}

QToolButton* MainWindow::button(ToolButton which) const {
    return buttons_[indexOf(which)];
}

void MainWindow::placeToolControls() {
    // Left buttons keep their place; the others keep their distance from the
    // right edge.
    int shift = panel_->width() - kDesignWidth;
    for (std::size_t i = 0; i < 6; ++i) {
        const ToolSpec& spec = kTools[i];
        buttons_[i]->move(spec.followsRight ? spec.left + shift : spec.left, 8);
    }
    for (int i = 0; i < 2; ++i)
        separators_[i]->move(kSeparatorLefts[i] + shift, 4);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    guarded([this] { form_.FormClose(); });
    event->accept(); // the window hides; its form lives on
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The layout has already given the panel and the grid their new sizes.
    panel_->resize(width(), kPanelHeight);
    placeToolControls();
    guarded([this] { form_.FormResize(); });
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        guarded([this] { form_.FormActivate(); });
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    auto* mouse = static_cast<QMouseEvent*>(event);
    std::optional<MouseButton> button = mouseButton(mouse->button());

    if (watched == buttons_[indexOf(ToolButton::Add)]) {
        if (type == QEvent::MouseButtonPress && button) {
            bool shift = (mouse->modifiers() & Qt::ShiftModifier) != 0;
            guarded([&] { form_.SpeedButton3MouseDown(*button, shift); });
        }
        return true;
    }

    bool onHeader = watched == grid_->horizontalHeader()->viewport();
    if (watched != grid_->viewport() && !onHeader)
        return QWidget::eventFilter(watched, event);
    if (type == QEvent::MouseButtonDblClick) {
        if (mouse->button() == Qt::LeftButton)
            guarded([this] { form_.StringGrid1Click(); });
        return true;
    }
    if (!button)
        return true;
    QPoint at = mouse->position().toPoint();
    int row = -1;
    int column = -1;
    if (onHeader) {
        row = 0;
        column = grid_->horizontalHeader()->logicalIndexAt(at.x());
    } else {
        int tableRow = grid_->rowAt(at.y());
        row = tableRow < 0 ? -1 : tableRow + 1;
        column = grid_->columnAt(at.x());
    }
    QPoint global = mouse->globalPosition().toPoint();
    guarded([&] { form_.StringGrid1MouseDown(*button, row, column, global.x(), global.y()); });
    return true; // the form decides what becomes current
}

// ---------------------------------------------------------------------------

MainWindowView::MainWindowView(TMainFrm& form)
    : form_(form), window_(std::make_unique<MainWindow>(form)) {
    const int intervals[3] = {300, 200, 200};
    for (int i = 0; i < 3; ++i) {
        timers_[i] = new QTimer(window_.get());
        timers_[i]->setInterval(intervals[i]);
    }
    QObject::connect(timers_[0], &QTimer::timeout, window_.get(),
                     [this] { guarded([this] { form_.Timer1Timer(); }); });
    QObject::connect(timers_[1], &QTimer::timeout, window_.get(),
                     [this] { guarded([this] { form_.Timer2Timer(); }); });
    QObject::connect(timers_[2], &QTimer::timeout, window_.get(),
                     [this] { guarded([this] { form_.Timer3Timer(); }); });
    setMainWindowWidget(window_.get());
}

MainWindowView::~MainWindowView() {
    for (QTimer* t : timers_)
        t->stop();
    if (mainWindowWidget() == window_.get())
        setMainWindowWidget(nullptr);
}

QTimer& MainWindowView::timer(WindowTimer which) {
    return *timers_[static_cast<int>(which)];
}

void MainWindowView::show() {
    if (!window_->isVisible() && !window_->property("placed").toBool()) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            window_->move(area.center() - window_->rect().center());
        }
        window_->setProperty("placed", true);
    }
    window_->show();
}

void MainWindowView::hide() {
    window_->hide();
}

void MainWindowView::raise() {
    show();
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->raise();
    window_->activateWindow();
}

void MainWindowView::setCaption(const std::string& caption) {
    window_->setWindowTitle(toQt(caption));
}

void MainWindowView::setButtonEnabled(ToolButton button, bool enabled) {
    window_->button(button)->setEnabled(enabled);
}

bool MainWindowView::buttonEnabled(ToolButton button) const {
    return window_->button(button)->isEnabled();
}

void MainWindowView::setTimerEnabled(WindowTimer which, bool enabled) {
    QTimer* t = timers_[static_cast<int>(which)];
    if (enabled && !t->isActive())
        t->start();
    else if (!enabled)
        t->stop();
}

bool MainWindowView::timerEnabled(WindowTimer which) const {
    return timers_[static_cast<int>(which)]->isActive();
}

void MainWindowView::setStartPicture(int frame) {
    startFrame_ = frame;
    window_->button(ToolButton::Start)->setIcon(QIcon(animationFrame(frame)));
}

void MainWindowView::setRowCount(int rows) {
    QTableWidget* grid = window_->grid();
    grid->setRowCount(std::max(0, rows - 1));
    if (grid->rowCount() > 0 && grid->currentRow() < 0)
        grid->setCurrentCell(0, 0);
}

int MainWindowView::rowCount() const {
    return window_->grid()->rowCount() + 1;
}

void MainWindowView::setCell(int column, int row, const std::string& text) {
    QTableWidget* grid = window_->grid();
    if (column < 0 || column >= kColumns || row < 0 || row > grid->rowCount())
        return;
    if (row == 0) {
        grid->horizontalHeaderItem(column)->setText(toQt(text));
        return;
    }
    QTableWidgetItem* item = grid->item(row - 1, column);
    if (!item) {
        item = new QTableWidgetItem();
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        grid->setItem(row - 1, column, item);
    }
    item->setText(toQt(text));
    // A description longer than its column is shown whole in the tooltip.
    if (column == 1 || column == 3)
        item->setToolTip(item->text());
}

std::string MainWindowView::cell(int column, int row) const {
    QTableWidget* grid = window_->grid();
    if (column < 0 || column >= kColumns || row < 0 || row > grid->rowCount())
        return {};
    if (row == 0)
        return fromQt(grid->horizontalHeaderItem(column)->text());
    QTableWidgetItem* item = grid->item(row - 1, column);
    return item ? fromQt(item->text()) : std::string();
}

int MainWindowView::currentRow() const {
    return std::max(window_->grid()->currentRow(), 0) + 1;
}

void MainWindowView::setCurrentRow(int row) {
    QTableWidget* grid = window_->grid();
    if (row < 1 || row > grid->rowCount())
        return;
    grid->setCurrentCell(row - 1, std::max(grid->currentColumn(), 0));
}

void MainWindowView::setCurrentColumn(int column) {
    QTableWidget* grid = window_->grid();
    if (column < 0 || column >= kColumns || grid->rowCount() == 0)
        return;
    grid->setCurrentCell(std::max(grid->currentRow(), 0), column);
}

int MainWindowView::selectionTopRow() const {
    return currentRow();
}

int MainWindowView::gridOuterWidth() const {
    return window_->grid()->width();
}

int MainWindowView::columnWidth(int column) const {
    return window_->grid()->columnWidth(column);
}

void MainWindowView::setColumnWidth(int column, int width) {
    window_->grid()->setColumnWidth(column, std::max(0, width));
}

void MainWindowView::popupMenu(int screenX, int screenY) {
    // Not exec(): the press handler finishes before a chosen item runs.
    window_->popup()->popup(QPoint(screenX, screenY));
}

std::optional<int> MainWindowView::enabledToolTagUnderPointer() const {
    QWidget* panel = window_->toolPanel();
    QPoint at = panel->mapFromGlobal(QCursor::pos());
    if (!panel->rect().contains(at))
        return std::nullopt;
    QWidget* control = panel->childAt(at);
    while (control && control->parentWidget() != panel)
        control = control->parentWidget();
    if (!control || !control->isEnabled())
        return std::nullopt;
    return control->property("tag").toInt();
}

std::optional<std::string> MainWindowView::openFileDialog() {
    return fileDialog(false);
}

std::optional<std::string> MainWindowView::saveFileDialog() {
    return fileDialog(true);
}

std::optional<std::string> MainWindowView::fileDialog(bool save) {
    QString directory = QDir::homePath();
    if (!form_.currentFile.empty()) {
        QFileInfo current(toQt(form_.currentFile));
        if (current.dir().exists())
            directory = current.absolutePath();
    }
    QFileDialog dialog(window_.get(), QString(), directory,
                       QStringLiteral("Plugin Resource (*.res)"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Load takes only a file that exists; Save may name a new one.
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("res"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    QString path = dialog.selectedFiles().first();
    // Every name inside the module is 1251; a path that does not survive the
    // conversion would silently name another file.
    if (!fitsCp1251(path)) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error!"),
                        toQt("Имя файла содержит знаки, которых нет в кодовой странице 1251:\n"_w) +
                            path,
                        QMessageBox::Ok, window_.get());
        box.exec();
        return std::nullopt;
    }
    return fromQt(path);
}

} // namespace tolvex::qtviews
