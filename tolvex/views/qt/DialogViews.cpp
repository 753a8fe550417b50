#include "DialogViews.h"

#include "QtCommon.h"

#include "platform/text.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvex::qtviews {

using namespace platform::literals;

namespace {

QPushButton* makeButton(QWidget* parent, const char* caption1251, int width, int height,
                        const char* objectName) {
    auto* button = new QPushButton(toQt(caption1251), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setMinimumSize(width, height);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

// "Да" (default, Enter) and "Отмена" (Escape, which QDialog maps to reject)
// stacked at the right of a dialog.
QVBoxLayout* okCancel(QDialog* dialog, int width, QPushButton*& ok, QPushButton*& cancel) {
    ok = makeButton(dialog, "Да"_w, width, 25, "ok");
    cancel = makeButton(dialog, "Отмена"_w, width, 25, "cancel");
    ok->setDefault(true);
    ok->setAutoDefault(true);
    cancel->setAutoDefault(false);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* column = new QVBoxLayout();
    column->setSpacing(11);
    column->addWidget(ok, 0, Qt::AlignRight);
    column->addWidget(cancel, 0, Qt::AlignRight);
    return column;
}

std::unique_ptr<QDialog> newDialog(const QString& caption, bool fixedBorder) {
    auto dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle(caption);
    dialog->setFont(dialogFont(12));
    dialog->setModal(true);
    if (fixedBorder)
        dialog->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    return dialog;
}

void fillCombo(QComboBox* combo, const std::vector<std::string>& items) {
    combo->clear();
    for (const auto& item : items)
        combo->addItem(toQt(item));
    combo->setCurrentIndex(-1);
}

} // namespace

// ---------------------------------------------------------------------------

RangeSpinBox::RangeSpinBox(int minimum, int maximum, QWidget* parent)
    : QSpinBox(parent), low_(minimum), high_(maximum) {
    setRange(minimum, maximum);
    setSingleStep(1);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setKeyboardTracking(false);
}

void RangeSpinBox::showUntouched(int value) {
    if (value < low_)
        setMinimum(value);
    setValue(std::min(value, high_));
}

void RangeSpinBox::stepBy(int steps) {
    setMinimum(low_);
    setValue(std::clamp(value() + steps, low_, high_));
}

QAbstractSpinBox::StepEnabled RangeSpinBox::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (value() < high_)
        enabled |= StepUpEnabled;
    if (value() > low_)
        enabled |= StepDownEnabled;
    return enabled;
}

void RangeSpinBox::focusOutEvent(QFocusEvent* event) {
    QSpinBox::focusOutEvent(event);
    if (minimum() != low_ || value() < low_) {
        setMinimum(low_);
        setValue(std::clamp(value(), low_, high_));
    }
}

// ---------------------------------------------------------------------------

ChanEditDialogView::ChanEditDialogView(TChanEditFrm& form) : dialog_(newDialog(QString(), true)) {
    QDialog* d = dialog_.get();
    auto* layout = new QVBoxLayout(d);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(12, 8, 14, 12);
    layout->setSpacing(4);

    auto indented = [](QWidget* w, int indent) {
        auto* row = new QHBoxLayout();
        row->setContentsMargins(indent, 0, 0, 0);
        row->addWidget(w);
        row->addStretch(1);
        return row;
    };

    layout->addWidget(new QLabel(toQt("Имя канала"_w), d));
    name_ = new QLineEdit(d);
    name_->setObjectName(QStringLiteral("name"));
    name_->setFixedWidth(150);
    layout->addLayout(indented(name_, 16));
    layout->addSpacing(8);

    layout->addWidget(new QLabel(toQt("Частота дискретизации"_w), d));
    frequency_ = new RangeSpinBox(TChanEditFrm::kFrequencyMin, TChanEditFrm::kFrequencyMax, d);
    frequency_->setObjectName(QStringLiteral("frequency"));
    frequency_->setFixedWidth(150);
    layout->addLayout(indented(frequency_, 16));
    layout->addSpacing(8);

    layout->addWidget(new QLabel(toQt("Сигнал"_w), d));
    auto* kindRow = new QHBoxLayout();
    kindRow->setContentsMargins(16, 0, 0, 0);
    kindRow->setSpacing(4);
    kinds_ = new QComboBox(d);
    kinds_->setObjectName(QStringLiteral("kinds"));
    kinds_->setEditable(false);
    kinds_->setFixedWidth(150);
    params_ = makeButton(d, "...", 33, 25, "params");
    params_->setFont(boldButtonFont(12));
    params_->setFixedSize(33, 25);
    params_->setAutoDefault(false);
    kindRow->addWidget(kinds_);
    kindRow->addWidget(params_);
    kindRow->addStretch(1);
    layout->addLayout(kindRow);
    layout->addSpacing(20);
    layout->addLayout(okCancel(d, 87, ok_, cancel_));

    QObject::connect(kinds_, &QComboBox::activated, d,
                     [&form](int) { guarded([&form] { form.ComboBox1Change(); }); });
    QObject::connect(params_, &QPushButton::clicked, d,
                     [&form] { guarded([&form] { form.BitBtn3Click(); }); });
}

ChanEditDialogView::~ChanEditDialogView() = default;

void ChanEditDialogView::setCaption(const std::string& caption) {
    dialog_->setWindowTitle(toQt(caption));
}
void ChanEditDialogView::setChannelName(const std::string& name) {
    name_->setText(toQt(name));
}
std::string ChanEditDialogView::channelName() const {
    return fromQt(name_->text());
}
void ChanEditDialogView::setFrequency(int value) {
    frequency_->setValue(value);
}
int ChanEditDialogView::frequency() const {
    return frequency_->value();
}
void ChanEditDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(kinds_, kinds);
}
void ChanEditDialogView::setKindIndex(int index) {
    kinds_->setCurrentIndex(index);
}
int ChanEditDialogView::kindIndex() const {
    return kinds_->currentIndex();
}
bool ChanEditDialogView::showModal() {
    return dialog_->exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------

ParamDialogView::ParamDialogView(const TParamFrm& form) {
    const ParamDialogLayout& look = form.layout();
    bool resizable = look.kind == ParamDialog::Level;
    dialog_ = newDialog(toQt(look.caption), !resizable);
    QDialog* d = dialog_.get();
    count_ = std::clamp(look.fieldCount, 0, 3);

    auto* layout = new QVBoxLayout(d);
    if (!resizable)
        layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(16, 16, 16, 16);
    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(look.kind == ParamDialog::Level ? 8 : 20);
    // The sine dialog sets its labels right against the fields.
    Qt::Alignment labelAlign =
        (look.kind == ParamDialog::Sinus ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    const int fieldWidths[4] = {81, 77, 121, 93};
    int fieldWidth = fieldWidths[static_cast<int>(look.kind) & 3];
    for (int i = 0; i < count_; ++i) {
        labels_[i] = new QLabel(toQt(look.labels[i] ? look.labels[i] : ""), d);
        fields_[i] = new QLineEdit(d);
        fields_[i]->setObjectName(QStringLiteral("field%1").arg(i));
        // Wide enough for a widened float such as 0,100000001490116.
        int needed =
            fields_[i]->fontMetrics().horizontalAdvance(QStringLiteral("-0,100000001490116")) + 14;
        fields_[i]->setFixedWidth(std::max(fieldWidth, needed));
        grid->addWidget(labels_[i], i, 0, labelAlign);
        grid->addWidget(fields_[i], i, 1, Qt::AlignLeft | Qt::AlignVCenter);
    }
    grid->setColumnStretch(0, 1);
    layout->addLayout(grid);
    layout->addSpacing(16);
    const int buttonWidths[4] = {97, 91, 105, 91};
    auto* buttons = okCancel(d, buttonWidths[static_cast<int>(look.kind) & 3], ok_, cancel_);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    row->addLayout(buttons);
    layout->addLayout(row);
    if (resizable)
        layout->addStretch(1);
}

ParamDialogView::~ParamDialogView() = default;

QLineEdit* ParamDialogView::field(int index) const {
    return index >= 0 && index < count_ ? fields_[index] : nullptr;
}
QLabel* ParamDialogView::label(int index) const {
    return index >= 0 && index < count_ ? labels_[index] : nullptr;
}
void ParamDialogView::setFieldText(int index, const std::string& text1251) {
    if (QLineEdit* f = field(index)) {
        f->setText(toQt(text1251));
        f->setCursorPosition(0); // show the number from its start
    }
}
std::string ParamDialogView::fieldText(int index) const {
    QLineEdit* f = field(index);
    return f ? fromQt(f->text()) : std::string();
}
bool ParamDialogView::showModal() {
    return dialog_->exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------

namespace {

// Forwards a double-click anywhere on the parts list, as the list itself
// would report it.
class DoubleClickFilter final : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> action)
        : QObject(parent), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            action_();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> action_;
};

// The editor's key shortcuts win over the focused control, as a list box or
// a button would otherwise keep the Space bar (and the list its Delete key).
class ShortcutKeysFirst final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Space || key == Qt::Key_Delete || key == Qt::Key_Insert)
                return true; // not claimed by the control: the shortcut runs
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

ComplDialogView::ComplDialogView(TComplFrm& form)
    : dialog_(newDialog(toQt("Составной сигнал"_w), true)) {
    QDialog* d = dialog_.get();
    auto* layout = new QGridLayout(d);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(12, 8, 18, 12);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(6);

    layout->addWidget(new QLabel(toQt("Сигналы"_w), d), 0, 0);
    parts_ = new QListWidget(d);
    parts_->setObjectName(QStringLiteral("parts"));
    parts_->setFixedSize(157, 273);
    parts_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(parts_, 1, 0, 2, 1);

    auto* right = new QVBoxLayout();
    right->setSpacing(10);
    auto* group = new QGroupBox(toQt(" Добавить "_w), d);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(4, 8, 4, 8);
    groupLayout->setSpacing(8);
    kinds_ = new QComboBox(group);
    kinds_->setObjectName(QStringLiteral("kinds"));
    kinds_->setEditable(false);
    kinds_->setMinimumWidth(177);
    add_ = makeButton(group, "Добавить"_w, 91, 25, "add");
    add_->setAutoDefault(false);
    groupLayout->addWidget(kinds_);
    groupLayout->addWidget(add_, 0, Qt::AlignHCenter);
    right->addWidget(group);
    right->addSpacing(4);
    change_ = makeButton(d, "Изменить"_w, 90, 25, "change");
    delete_ = makeButton(d, "Удалить"_w, 90, 25, "delete");
    change_->setAutoDefault(false);
    delete_->setAutoDefault(false);
    right->addWidget(change_, 0, Qt::AlignLeft);
    right->addSpacing(6);
    right->addWidget(delete_, 0, Qt::AlignLeft);
    right->addStretch(1);
    right->addLayout(okCancel(d, 87, ok_, cancel_));
    layout->addLayout(right, 1, 1, 2, 1);

    auto run = [&form](void (TComplFrm::*handler)()) {
        return [&form, handler] { guarded([&form, handler] { (form.*handler)(); }); };
    };
    QObject::connect(add_, &QPushButton::clicked, d, run(&TComplFrm::Button1Click));
    QObject::connect(change_, &QPushButton::clicked, d, run(&TComplFrm::Button2Click));
    QObject::connect(delete_, &QPushButton::clicked, d, run(&TComplFrm::Button3Click));
    parts_->viewport()->installEventFilter(
        new DoubleClickFilter(d, run(&TComplFrm::ListBox1DblClick)));

    auto shortcut = [d](Qt::Key key, const char* name, std::function<void()> action) {
        auto* s = new QShortcut(QKeySequence(key), d);
        s->setObjectName(QString::fromLatin1(name));
        s->setContext(Qt::WindowShortcut);
        QObject::connect(s, &QShortcut::activated, d, std::move(action));
    };
    shortcut(Qt::Key_Delete, "Action1", run(&TComplFrm::Action1Execute));
    shortcut(Qt::Key_Insert, "Action2", run(&TComplFrm::Action2Execute));
    shortcut(Qt::Key_Space, "Action3", run(&TComplFrm::Action3Execute));
    auto* keysFirst = new ShortcutKeysFirst(d);
    for (QWidget* w : d->findChildren<QWidget*>())
        w->installEventFilter(keysFirst);
}

ComplDialogView::~ComplDialogView() = default;

void ComplDialogView::setParts(const std::vector<std::string>& lines) {
    parts_->clear();
    for (const auto& line : lines)
        parts_->addItem(toQt(line));
    parts_->setCurrentRow(-1);
    parts_->clearSelection();
}

int ComplDialogView::selectedPart() const {
    int row = parts_->currentRow();
    QListWidgetItem* item = row >= 0 ? parts_->item(row) : nullptr;
    return item && item->isSelected() ? row : -1;
}

void ComplDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(kinds_, kinds);
}
int ComplDialogView::kindIndex() const {
    return kinds_->currentIndex();
}
bool ComplDialogView::showModal() {
    return dialog_->exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------

void ExtraNewDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept(); // neither button answers these
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

ExtraNewDialogView::ExtraNewDialogView(TTExtraNew& form)
    : dialog_(std::make_unique<ExtraNewDialog>()) {
    ExtraNewDialog* d = dialog_.get();
    d->setWindowTitle(toQt("Создание каналов по шаблону"_w));
    d->setFont(dialogFont(12));
    d->setModal(true);
    d->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

    auto* layout = new QGridLayout(d);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(6, 6, 12, 10);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(6);

    auto* group = new QGroupBox(toQt(" Имя "_w), d);
    auto* g = new QGridLayout(group);
    g->setContentsMargins(14, 10, 14, 10);
    g->setHorizontalSpacing(10);
    g->setVerticalSpacing(10);
    template_ = new QLineEdit(QStringLiteral("Channel%d"), group);
    template_->setObjectName(QStringLiteral("template"));
    template_->setFixedWidth(157);
    g->addWidget(new QLabel(toQt("Шаблон"_w), group), 0, 0);
    g->addWidget(template_, 0, 1);
    g->addWidget(new QLabel(toQt("например: \"Channel%d\""_w), group), 0, 2, 1, 2);
    first_ = new RangeSpinBox(0, TTExtraNew::kIndexMax, group);
    last_ = new RangeSpinBox(0, TTExtraNew::kIndexMax, group);
    first_->setObjectName(QStringLiteral("first"));
    last_->setObjectName(QStringLiteral("last"));
    first_->setFixedWidth(75);
    last_->setFixedWidth(75);
    g->addWidget(new QLabel(toQt("Индекс первого"_w), group), 1, 0);
    g->addWidget(first_, 1, 1, Qt::AlignLeft);
    g->addWidget(new QLabel(toQt("Индекс последнего"_w), group), 1, 2);
    g->addWidget(last_, 1, 3, Qt::AlignLeft);
    layout->addWidget(group, 0, 0, 1, 5);

    frequency_ = new RangeSpinBox(1, TTExtraNew::kFrequencyMax, d);
    frequency_->setObjectName(QStringLiteral("frequency"));
    frequency_->showUntouched(0);
    frequency_->setFixedWidth(85);
    kinds_ = new QComboBox(d);
    kinds_->setObjectName(QStringLiteral("kinds"));
    kinds_->setEditable(false);
    kinds_->setFixedWidth(129);
    params_ = makeButton(d, "...", 33, 29, "params");
    params_->setFont(boldButtonFont(14));
    params_->setFixedSize(33, 29);
    create_ = makeButton(d, "Создать"_w, 109, 33, "create");
    close_ = makeButton(d, "Закрыть"_w, 109, 33, "close");
    for (QPushButton* b : {params_, create_, close_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    layout->addWidget(new QLabel(toQt("Частота"_w), d), 1, 0, Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(frequency_, 1, 1, Qt::AlignLeft);
    layout->addWidget(new QLabel(toQt("Формула"_w), d), 2, 0, Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(kinds_, 2, 1, Qt::AlignLeft);
    layout->addWidget(params_, 2, 2, Qt::AlignLeft);
    layout->setColumnStretch(3, 1);
    layout->addWidget(create_, 1, 4, Qt::AlignRight);
    layout->addWidget(close_, 2, 4, Qt::AlignRight);

    QObject::connect(create_, &QPushButton::clicked, d, &QDialog::accept);
    QObject::connect(close_, &QPushButton::clicked, d, &QDialog::reject);
    QObject::connect(kinds_, &QComboBox::activated, d,
                     [&form](int) { guarded([&form] { form.ComboBox1Change(); }); });
    QObject::connect(params_, &QPushButton::clicked, d,
                     [&form] { guarded([&form] { form.BitBtn1Click(); }); });
}

ExtraNewDialogView::~ExtraNewDialogView() = default;

void ExtraNewDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(kinds_, kinds);
}
void ExtraNewDialogView::setKindIndex(int index) {
    kinds_->setCurrentIndex(index);
}
int ExtraNewDialogView::kindIndex() const {
    return kinds_->currentIndex();
}
std::string ExtraNewDialogView::templateText() const {
    return fromQt(template_->text());
}
int ExtraNewDialogView::firstIndex() const {
    return first_->value();
}
int ExtraNewDialogView::lastIndex() const {
    return last_->value();
}
int ExtraNewDialogView::frequency() const {
    return frequency_->value();
}
bool ExtraNewDialogView::showModal() {
    return dialog_->exec() == QDialog::Accepted;
}

} // namespace tolvex::qtviews
