// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/hyper_link_label.h"

#include "platform/control_accessibility.h"
#include "platform/dialog_template.h"
#include "platform/focus_frame.h"
#include "platform/message_box.h"
#include "platform/registered_browser.h"
#include "platform/shell_open.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>

namespace {

// The label's text as a screen reader meets a link: a focusable link that can be followed.
const char kLinkProperty[] = "hyperLinkLabel";

class LinkAccessible : public QAccessibleWidget {
public:
    LinkAccessible(QLabel *label, HyperLinkLabel *link)
        : QAccessibleWidget(label, QAccessible::Link), link(link)
    {
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel *>(widget())->text();
        if (type == QAccessible::Value && link)
            return link->LinkTarget();
        return QAccessibleWidget::text(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        state.traversed = link && link->IsVisited();
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (link && widget()->isEnabled())
            link->OnLinkClicked();
    }

    QStringList keyBindingsForAction(const QString &action) const override
    {
        if (action == pressAction())
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    QPointer<HyperLinkLabel> link;
};

QAccessibleInterface *LinkFactory(const QString &key, QObject *object)
{
    if (key != QLatin1String("QLabel"))
        return nullptr;
    auto *link = qobject_cast<HyperLinkLabel *>(object->property(kLinkProperty).value<QObject *>());
    return link ? new LinkAccessible(static_cast<QLabel *>(object), link) : nullptr;
}

} // namespace

HyperLinkLabel::Launchers HyperLinkLabel::DesktopLaunchers()
{
    return {ShellOpen,
            [] {
                return DefaultHandlerCommand(QStringLiteral("text/html"),
                                             XdgDirs::FromEnvironment());
            },
            StartDetachedProcess};
}

HyperLinkLabel::HyperLinkLabel()
    : hoverColour(QApplication::palette().color(QPalette::Highlight)), launchers(DesktopLaunchers())
{
    QAccessible::installFactory(LinkFactory);
}

HyperLinkLabel::~HyperLinkLabel()
{
    if (window) {
        ReleaseHover();
        window->removeEventFilter(this);
        window->setProperty(kLinkProperty, QVariant());
        RefreshAccessibleInterface(window);
    }
}

void HyperLinkLabel::SubclassDlgItem(int id, TemplateDialog &dialog)
{
    uint32_t controlStyle = 0;
    for (const ControlTemplate &control : dialog.Template().controls) {
        if (control.id == id)
            controlStyle = control.style;
    }
    SubclassWindow(dialog.Item<QLabel>(id), controlStyle);
}

void HyperLinkLabel::SubclassWindow(QLabel *control, uint32_t controlStyle)
{
    if (!control || window)
        return;
    window = control;
    style = controlStyle;
    PreSubclassWindow();
    window->setMouseTracking(true);
    window->installEventFilter(this);
    // A link is followed from the keyboard too, so it takes the focus and shows it.
    window->setFocusPolicy(Qt::StrongFocus);
    ShowFocusFrameAround(window);
    window->setProperty(kLinkProperty, QVariant::fromValue<QObject *>(this));
    RefreshAccessibleInterface(window);
}

void HyperLinkLabel::PreSubclassWindow()
{
    style |= StaticStyle::Notify;
    if (target.isEmpty())
        target = window->text();
    if (window->text().isEmpty())
        window->setText(target);
    window->setTextFormat(Qt::PlainText);
    QFont font = window->font();
    font.setUnderline(underline);
    labelFont = font;
    window->setFont(font);
    FitToText();
    LoadLinkCursor();
    window->setToolTip(target);
}

void HyperLinkLabel::LoadLinkCursor()
{
    if (cursor)
        return;
    cursor = QCursor(Qt::PointingHandCursor);
    if (window)
        window->setCursor(*cursor);
}

void HyperLinkLabel::FitToText()
{
    if (!window || !adjustToFit)
        return;
    const QRect geometry = window->geometry();
    int left = geometry.left();
    int top = geometry.top();
    int right = left + geometry.width();
    int bottom = top + geometry.height();

    const QFontMetrics metrics(labelFont.value_or(window->font()));
    const int cx = metrics.horizontalAdvance(window->text());
    const int cy = metrics.height();

    if (style & StaticStyle::CenterImage) {
        const int d = (bottom - top - cy) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + cy;
    }
    if (style & StaticStyle::Center) {
        const int d = (right - left - cx) / 2;
        left += d;
        right -= d;
    } else if (style & StaticStyle::Right) {
        left = right - cx;
    } else {
        right = left + cx;
    }
    window->setGeometry(left, top, right - left, bottom - top);
}

void HyperLinkLabel::SetLinkTarget(QString newTarget)
{
    target = std::move(newTarget);
    if (!window)
        return;
    FitToText();
    window->setToolTip(target);
}

void HyperLinkLabel::SetUnderlined(bool underlined)
{
    underline = underlined;
    if (!window)
        return;
    QFont font = window->font();
    font.setUnderline(underline);
    labelFont = font;
    window->setFont(font);
    window->update();
}

void HyperLinkLabel::MarkVisited(bool flag)
{
    visited = flag;
    if (window)
        window->update();
}

QColor HyperLinkLabel::TextColour() const
{
    if (overControl)
        return hoverColour;
    return visited ? visitedColour : linkColour;
}

bool HyperLinkLabel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint: {
        // The text colour is chosen as the text is about to be drawn.
        const QColor colour = TextColour();
        if (window->palette().color(QPalette::WindowText) != colour) {
            QPalette palette = window->palette();
            palette.setColor(QPalette::WindowText, colour);
            window->setPalette(palette);
        }
        return false;
    }
    case QEvent::Enter:
        OnMouseMove(static_cast<QEnterEvent *>(event)->position().toPoint());
        return false;
    case QEvent::MouseMove:
        OnMouseMove(static_cast<QMouseEvent *>(event)->position().toPoint());
        return false;
    case QEvent::Leave:
        ReleaseHover();
        return false;
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter &&
                       key->key() != Qt::Key_Space))
            return false;
        if (!key->isAutoRepeat())
            OnLinkClicked();
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !(style & StaticStyle::Notify))
            return false;
        pressed = window->rect().contains(mouse->position().toPoint());
        return pressed;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !pressed)
            return false;
        pressed = false;
        if (window->rect().contains(mouse->position().toPoint()))
            OnLinkClicked();
        return true;
    }
    case QEvent::Hide:
        // A hidden label sees no more pointer; it must not stay in its hover colour.
        ReleaseHover();
        return false;
    default:
        return false;
    }
}

// The pointer is followed by the label's own enter and leave, not by holding the mouse: some
// platforms refuse a hold outside popups, and a held mouse swallows the first click of a
// pointer that comes onto the link from elsewhere.
void HyperLinkLabel::OnMouseMove(const QPoint &point)
{
    const bool inside = window->rect().contains(point);
    if (inside == overControl)
        return;
    if (!inside) {
        ReleaseHover();
        return;
    }
    overControl = true;
    Redraw();
}

void HyperLinkLabel::ReleaseHover()
{
    if (!overControl)
        return;
    overControl = false;
    if (window)
        Redraw();
}

void HyperLinkLabel::Redraw()
{
    if (window->isVisible())
        window->repaint();
}

void HyperLinkLabel::OnLinkClicked()
{
    // Whatever opens now (a browser, the message box) takes the pointer away from the link.
    ReleaseHover();
    const int code = OpenTarget(target);
    visited = code > 32;
    if (code > 32) {
        MarkVisited(true);
        return;
    }
    QApplication::beep();
    ReportOpenError(code);
}

int HyperLinkLabel::OpenTarget(const QString &link)
{
    const int code = launchers.shellOpen(link);
    if (code > 32)
        return code;
    const std::optional<QString> command = launchers.readBrowserCommand();
    if (!command)
        return code;
    // The command must fit the fallback's buffer with its terminator; a longer one is refused
    // rather than cut, since a cut target would open the wrong address.
    if (AssembleBrowserCommand(*command, link).size() >= kCommandBufferSize)
        return LaunchCode::OutOfResources;
    std::optional<QStringList> words = SplitCommandWords(CutPlaceholder(*command));
    if (!words || words->isEmpty())
        return LaunchCode::AssociationIncomplete;
    words->append(link);
    return launchers.startProcess(*words);
}

QString HyperLinkLabel::OpenErrorMessage(int code)
{
    QString reason;
    switch (code) {
    case 0:
        reason = QStringLiteral("The operating system is out\nof memory or resources.");
        break;
    case 2:
        reason = QStringLiteral("The specified file was not found.");
        break;
    case 3:
        reason = QStringLiteral("The specified path was not found.");
        break;
    case 5:
        reason = QStringLiteral("The operating system denied\naccess to the specified file.");
        break;
    case 8:
        reason = QStringLiteral("There was not enough memory to complete the operation.");
        break;
    case 11:
        reason =
            QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        break;
    case 26:
        reason = QStringLiteral("A sharing violation occurred. ");
        break;
    case 27:
        reason = QStringLiteral("The filename association is\nincomplete or invalid.");
        break;
    case 28:
        reason = QStringLiteral(
            "The DDE transaction could not\nbe completed because the request timed out.");
        break;
    case 29:
        reason = QStringLiteral("The DDE transaction failed.");
        break;
    case 30:
        reason = QStringLiteral("The DDE transaction could not\nbe completed because other DDE "
                                "transactions\nwere being processed.");
        break;
    case 31:
        reason = QStringLiteral(
            "There is no application associated\nwith the given filename extension.");
        break;
    case 32:
        reason = QStringLiteral("The specified dynamic-link library was not found.");
        break;
    default:
        reason = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
        break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + reason;
}

void HyperLinkLabel::ReportOpenError(int code)
{
    ShowAppMessage(window, OpenErrorMessage(code), QMessageBox::Warning, QMessageBox::Ok);
}
