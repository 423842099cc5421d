// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/dialog_template.h"

#include "platform/control_accessibility.h"
#include "platform/data_exchange.h"
#include "platform/spin_button.h"
#include "platform/system_menu.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>

namespace {

// A radio button that a click always checks: the buttons of a template each start their own
// group, so nothing clears the others and a checked button is not toggled off. As every
// button of a template, it takes a click anywhere on its rectangle.
class AutoRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override { setChecked(true); }
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
};

class CheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
};

// A group box drawn the classic way: an etched frame whose top line runs through the middle
// of the title. Qt's own group box puts the title above the frame, which would shift every
// frame of a template down by half a line against the controls placed inside it. The frame
// holds the controls inside it, but a click on the frame itself is the window's.
class GroupFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void mousePressEvent(QMouseEvent *event) override { event->ignore(); }
    void mouseReleaseEvent(QMouseEvent *event) override { event->ignore(); }
    void mouseDoubleClickEvent(QMouseEvent *event) override { event->ignore(); }
    void mouseMoveEvent(QMouseEvent *event) override { event->ignore(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.translated(1, 1));
        if (title().isEmpty())
            return;
        const int indent = metrics.averageCharWidth();
        const QRect text(indent, 0, metrics.horizontalAdvance(title()) + indent, metrics.height());
        painter.fillRect(text, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(text.adjusted(indent / 2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         title());
    }
};

int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

// The height a drop-down list shows when closed, in dialog units: the template's height
// includes the dropped list.
constexpr int kClosedListHeight = 14;

// The smallest dialog font a template is shrunk to, in points or, for a font sized in pixels,
// in pixels.
constexpr double kSmallestPointSize = 6.0;
constexpr int kSmallestPixelSize = 8;
// The width of a window manager's border, in pixels.
constexpr int kFrameBorder = 4;

QSize PixelSizeOf(const QSize &dialogUnits, const QSize &base)
{
    return QSize(MulDiv(dialogUnits.width(), base.width(), 4),
                 MulDiv(dialogUnits.height(), base.height(), 8));
}

// The control's place in dialog units as it is shown.
QRect ShownUnits(const ControlTemplate &control)
{
    const int height = control.kind == ControlKind::DropDownList
                           ? std::min(control.cy, kClosedListHeight)
                           : control.cy;
    return QRect(control.x, control.y, control.cx, height);
}

} // namespace

QSize DialogBaseUnitsOf(const QFont &font)
{
    // The platform's rule: the average width of the 52 Latin letters, rounded, and the
    // font's full height.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

QFont DialogFontFitting(const QFont &font, const QSize &templateSize, const QSize &room)
{
    const auto fits = [&](const QFont &candidate) {
        const QSize size = PixelSizeOf(templateSize, DialogBaseUnitsOf(candidate));
        return size.width() <= room.width() && size.height() <= room.height();
    };
    if (fits(font))
        return font;
    QFont smaller = font;
    if (font.pointSizeF() > 0) {
        for (double points = font.pointSizeF() - 0.5; points >= kSmallestPointSize; points -= 0.5) {
            smaller.setPointSizeF(points);
            if (fits(smaller))
                return smaller;
        }
    } else {
        for (int pixels = font.pixelSize() - 1; pixels >= kSmallestPixelSize; --pixels) {
            smaller.setPixelSize(pixels);
            if (fits(smaller))
                return smaller;
        }
    }
    return smaller;
}

TemplateDialog::TemplateDialog(const DialogTemplate &dialogTemplate, QWidget *parent)
    : QDialog(parent), dialogTemplate(dialogTemplate)
{
    InstallControlAccessibility();
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (dialogTemplate.style & WindowStyle::SysMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialogTemplate.style & WindowStyle::MinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
}

TemplateDialog::~TemplateDialog() = default;

void TemplateDialog::Create()
{
    if (created)
        return;
    created = true;

    FitFontToScreen();
    const QRect client = MapDialogRect(QRect(0, 0, dialogTemplate.cx, dialogTemplate.cy));
    setFixedSize(client.size());

    std::vector<std::pair<QWidget *, const ControlTemplate *>> built;
    // Every control that can take the focus is chained in table order, tab stop or not: a
    // control made a tab stop later then takes its place in the order.
    QWidget *previousInChain = nullptr;
    for (const ControlTemplate &control : dialogTemplate.controls) {
        QWidget *widget = BuildControl(control);
        built.emplace_back(widget, &control);
        if (control.id != -1)
            items.insert(control.id, widget);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousInChain)
                setTabOrder(previousInChain, widget);
            previousInChain = widget;
        }
    }
    PlaceInGroupBoxes(built);
    for (const ListInitData &list : dialogTemplate.listData) {
        if (auto *combo = Item<QComboBox>(list.id)) {
            for (const char *entry : list.entries)
                combo->addItem(QString::fromUtf8(entry));
            combo->setCurrentIndex(-1);
        }
    }

    if (dialogTemplate.style & WindowStyle::SysMenu) {
        systemMenu = new SystemMenu(this, [this](uint32_t id) { OnSysCommand(id, 0); });
        auto *altSpace = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        connect(altSpace, &QShortcut::activated, this,
                [this] { systemMenu->Popup(mapToGlobal(QPoint(0, 0))); });
    }

    if (OnInitDialog()) {
        for (const ControlTemplate &control : dialogTemplate.controls) {
            QWidget *widget = control.id != -1 ? items.value(control.id) : nullptr;
            if ((control.style & WindowStyle::TabStop) && widget && widget->isEnabled()) {
                widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
}

int TemplateDialog::DoModal()
{
    Create();
    return exec();
}

void TemplateDialog::EndDialog(int result)
{
    QDialog::done(result);
}

QWidget *TemplateDialog::GetDlgItem(int id) const
{
    return items.value(id);
}

bool TemplateDialog::UpdateData(bool saveAndValidate)
{
    DataExchange exchange(*this, saveAndValidate);
    DoDataExchange(exchange);
    return !exchange.Failed();
}

QSize TemplateDialog::DialogBaseUnits() const
{
    return DialogBaseUnitsOf(font());
}

void TemplateDialog::FitFontToScreen()
{
    const QScreen *where = screen();
    if (!where)
        return;
    // The window manager adds a title bar and a border; the title bar is about two lines of
    // text high on the common desktops.
    const int line = QFontMetrics(font()).height();
    const QSize frame(2 * kFrameBorder, 2 * line + 2 * kFrameBorder);
    const QRect free = where->availableGeometry();
    const QSize templateSize(dialogTemplate.cx, dialogTemplate.cy);
    const QFont fitted = DialogFontFitting(font(), templateSize, free.size() - frame);
    if (fitted == font())
        return;
    setFont(fitted);
    // A window that barely fits is placed by hand: the usual centring reckons with a smaller
    // title bar and would push the real one off the top of the screen.
    const QSize client = PixelSizeOf(templateSize, DialogBaseUnitsOf(fitted));
    move(free.left() + std::max(0, (free.width() - client.width()) / 2),
         free.top() + std::max(0, (free.height() - client.height() - frame.height()) / 2));
}

void TemplateDialog::NameControlByCaption(int id, const QString &caption)
{
    QWidget *control = GetDlgItem(id);
    if (!control)
        return;
    for (QLabel *label : findChildren<QLabel *>()) {
        if (label->text() == caption) {
            label->setBuddy(control);
            break;
        }
    }
    control->setAccessibleName(CaptionName(caption));
}

QRect TemplateDialog::MapDialogRect(const QRect &dialogUnits) const
{
    const QSize base = DialogBaseUnits();
    return QRect(MulDiv(dialogUnits.x(), base.width(), 4),
                 MulDiv(dialogUnits.y(), base.height(), 8),
                 MulDiv(dialogUnits.width(), base.width(), 4),
                 MulDiv(dialogUnits.height(), base.height(), 8));
}

void TemplateDialog::OnSysCommand(uint32_t id, intptr_t)
{
    DefaultSysCommand(id);
}

void TemplateDialog::DefaultSysCommand(uint32_t id)
{
    switch (id & 0xFFF0) {
    case SysCommand::Minimize:
        showMinimized();
        break;
    case SysCommand::Close:
        close();
        break;
    default:
        break;
    }
}

void TemplateDialog::reject()
{
    OnCancel();
}

QWidget *TemplateDialog::CreateCustomControl(const ControlTemplate &)
{
    return nullptr;
}

bool TemplateDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void TemplateDialog::DoDataExchange(DataExchange &) {}

void TemplateDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void TemplateDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void TemplateDialog::SuspendDialogKeys(bool suspend)
{
    dialogKeysSuspended += suspend ? 1 : -1;
}

bool TemplateDialog::focusNextPrevChild(bool next)
{
    // Declining leaves the Tab key to the focused control's own key handling.
    return !DialogKeysSuspended() && QDialog::focusNextPrevChild(next);
}

void TemplateDialog::keyPressEvent(QKeyEvent *event)
{
    if (DialogKeysSuspended()) {
        event->ignore();
        return;
    }
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // A focused push button takes Enter as a click; anywhere else Enter is the OK command.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            OnOK();
        }
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TemplateDialog::contextMenuEvent(QContextMenuEvent *event)
{
    // Only the dialog's free area opens the window menu: its background, labels and frames.
    QWidget *child = childAt(event->pos());
    const bool freeArea =
        !child || qobject_cast<QLabel *>(child) || qobject_cast<QGroupBox *>(child);
    if (systemMenu && freeArea)
        systemMenu->Popup(event->globalPos());
    else
        event->ignore();
}

QWidget *TemplateDialog::BuildControl(const ControlTemplate &control)
{
    const QString text = QString::fromUtf8(control.text ? control.text : "");
    QWidget *widget = CreateCustomControl(control);
    if (widget) {
        widget->setParent(this);
    } else {
        switch (control.kind) {
        case ControlKind::PushButton: {
            auto *button = new QPushButton(text, this);
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case ControlKind::CheckBox:
            widget = new CheckBox(text, this);
            break;
        case ControlKind::RadioButton: {
            auto *radio = new AutoRadioButton(text, this);
            radio->setAutoExclusive(false);
            widget = radio;
            break;
        }
        case ControlKind::Edit:
            widget = new QLineEdit(text, this);
            break;
        case ControlKind::DropDownList:
            widget = new QComboBox(this);
            break;
        case ControlKind::SpinButton:
            widget = new SpinButton(this);
            break;
        case ControlKind::GroupBox:
            widget = new GroupFrame(text, this);
            // Unnamed, a group inside another would take the outer group's title.
            widget->setAccessibleName(CaptionName(text));
            break;
        case ControlKind::StaticText: {
            auto *label = new QLabel(text, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::ListView: {
            auto *list = new QTreeWidget(this);
            list->setRootIsDecorated(false);
            list->setHeaderHidden(!(control.style & WindowStyle::ReportView));
            widget = list;
            break;
        }
        case ControlKind::ProgressBar: {
            auto *bar = new QProgressBar(this);
            bar->setTextVisible(false);
            widget = bar;
            break;
        }
        case ControlKind::Custom: {
            auto *panel = new QFrame(this);
            panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
            widget = panel;
            break;
        }
        }
    }

    widget->setProperty("dlgId", control.id);
    // The description of a drop-down list depends on its being a template's control.
    if (control.kind == ControlKind::DropDownList)
        RefreshAccessibleInterface(widget);
    if (control.id != -1)
        widget->setObjectName(QStringLiteral("dlg_%1").arg(control.id));
    if (control.style & WindowStyle::TabStop)
        widget->setFocusPolicy(Qt::StrongFocus);
    else if (widget->focusPolicy() != Qt::NoFocus)
        widget->setFocusPolicy(Qt::ClickFocus);
    widget->setEnabled(!(control.style & WindowStyle::Disabled));
    widget->setVisible(control.style & WindowStyle::Visible);
    PlaceControl(widget, control);
    if (control.kind == ControlKind::GroupBox)
        widget->lower();
    return widget;
}

void TemplateDialog::PlaceControl(QWidget *widget, const ControlTemplate &control)
{
    widget->setGeometry(MapDialogRect(ShownUnits(control)));
}

void TemplateDialog::PlaceInGroupBoxes(
    const std::vector<std::pair<QWidget *, const ControlTemplate *>> &built)
{
    const auto area = [](const QRect &r) { return r.width() * r.height(); };
    // A control belongs to the smallest group box around its centre; a group box only to a
    // larger one.
    std::vector<int> groupOf(built.size(), -1);
    for (size_t i = 0; i < built.size(); ++i) {
        const QRect place = ShownUnits(*built[i].second);
        for (size_t j = 0; j < built.size(); ++j) {
            const QRect frame = ShownUnits(*built[j].second);
            if (j == i || built[j].second->kind != ControlKind::GroupBox ||
                !frame.contains(place.center()) || area(frame) <= area(place))
                continue;
            if (groupOf[i] < 0 || area(frame) < area(ShownUnits(*built[groupOf[i]].second)))
                groupOf[i] = static_cast<int>(j);
        }
    }
    std::vector<QRect> inWindow;
    for (const auto &entry : built)
        inWindow.push_back(entry.first->geometry());
    for (size_t i = 0; i < built.size(); ++i) {
        if (groupOf[i] < 0)
            continue;
        QWidget *widget = built[i].first;
        const bool shown = !widget->isHidden();
        widget->setParent(built[groupOf[i]].first);
        widget->setGeometry(inWindow[i].translated(-inWindow[groupOf[i]].topLeft()));
        widget->setVisible(shown);
        if (built[i].second->kind == ControlKind::GroupBox)
            widget->lower();
    }
}
