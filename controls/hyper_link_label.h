// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class TemplateDialog;

// Style bits of a static-text control that the link label reads or sets.
namespace StaticStyle {
constexpr uint32_t Center = 0x1;
constexpr uint32_t Right = 0x2;
constexpr uint32_t Icon = 0x3;
constexpr uint32_t TypeMask = 0x1F;
constexpr uint32_t NoPrefix = 0x80;
constexpr uint32_t Notify = 0x100;
constexpr uint32_t CenterImage = 0x200;
} // namespace StaticStyle

// Turns a static text of a dialog into a link: link, hover and visited colours, optional
// underline, the target as tooltip, a pointing-hand cursor, a window shrunk to its text, and a
// click that opens the target with the desktop's program or, failing that, with the default
// web browser. The label attaches itself to an existing text control and never makes its own.
// The control then takes the focus, and Enter or Space follows the link as a click does;
// screen readers see a link with an action that follows it.
class HyperLinkLabel : public QObject {
    Q_OBJECT
public:
    // What opening a target needs from the desktop; tests replace the parts.
    struct Launchers {
        // The desktop's open action; returns a launch code (above 32: success).
        std::function<int(const QString &target)> shellOpen;
        // The default web browser's command line with its file placeholder; nothing when no
        // browser is registered.
        std::function<std::optional<QString>()> readBrowserCommand;
        // Starts a program from its argument vector; returns a launch code.
        std::function<int(const QStringList &argv)> startProcess;
    };
    static Launchers DesktopLaunchers();

    // Room for the fallback command line, its terminator included.
    static constexpr int kCommandBufferSize = 520;

    HyperLinkLabel();
    ~HyperLinkLabel() override;

    // Attaches the label to the dialog's control `id`, taking the control's template style.
    void SubclassDlgItem(int id, TemplateDialog &dialog);
    void SubclassWindow(QLabel *control, uint32_t style);
    QLabel *Window() const { return window; }

    void SetLinkTarget(QString target);
    void SetUnderlined(bool underlined);
    void MarkVisited(bool visited);
    void SetLaunchers(Launchers replacement) { launchers = std::move(replacement); }

    QString LinkTarget() const { return target; }
    bool IsVisited() const { return visited; }
    bool IsUnderlined() const { return underline; }
    bool IsOverControl() const { return overControl; }
    uint32_t Style() const { return style; }
    // The colour the text is drawn in now: hover beats visited beats link.
    QColor TextColour() const;

    void FitToText();
    void OnLinkClicked();
    int OpenTarget(const QString &target);
    void ReportOpenError(int code);
    // The whole text of the failure message for a launch code.
    static QString OpenErrorMessage(int code);

    QColor linkColour{0, 0, 238};
    QColor visitedColour{85, 26, 139};
    QColor hoverColour;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PreSubclassWindow();
    void LoadLinkCursor();
    void OnMouseMove(const QPoint &point);
    void ReleaseHover();
    void Redraw();

    bool overControl = false;
    bool visited = false;
    bool underline = true;
    bool adjustToFit = true;
    QString target;
    std::optional<QFont> labelFont;
    std::optional<QCursor> cursor;

    QPointer<QLabel> window;
    uint32_t style = 0;
    bool pressed = false;
    Launchers launchers;
};
