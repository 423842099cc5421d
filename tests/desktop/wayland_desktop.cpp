// SPDX-License-Identifier: AGPL-3.0-or-later
#include "wayland_desktop.h"

#include "desktop_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <functional>

namespace desktop::wayland {

namespace {

QJsonObject Tree()
{
    return QJsonDocument::fromJson(
               Run(QStringLiteral("swaymsg"),
                   {QStringLiteral("-t"), QStringLiteral("get_tree"), QStringLiteral("-r")})
                   .toUtf8())
        .object();
}

// Every container that shows a client's window, tiled or floating.
void ForEachView(const QJsonObject &node, const std::function<void(const QJsonObject &)> &visit)
{
    if (node.contains(QStringLiteral("pid")))
        visit(node);
    for (const char *children : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node.value(QLatin1String(children)).toArray())
            ForEachView(child.toObject(), visit);
}

std::optional<QJsonObject> View(const QString &window)
{
    std::optional<QJsonObject> found;
    ForEachView(Tree(), [&](const QJsonObject &view) {
        if (QString::number(view.value(QStringLiteral("id")).toInteger()) == window)
            found = view;
    });
    return found;
}

QRect RectOf(const QJsonObject &rect)
{
    return QRect(rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
                 rect.value(QStringLiteral("width")).toInt(),
                 rect.value(QStringLiteral("height")).toInt());
}

// The virtual pointer lives as long as the tests: while it does, the seat has a pointer.
QProcess &Pointer()
{
    static QProcess *pointer = [] {
        auto *started = new QProcess;
        started->start(QStringLiteral(PAGEMINT_WAYLAND_POINTER),
                       {QStringLiteral("1280"), QStringLiteral("1024")});
        started->waitForReadyRead(10000);
        started->readAll();
        return started;
    }();
    return *pointer;
}

void Pointer(const QByteArray &command)
{
    QProcess &pointer = Pointer();
    pointer.write(command + '\n');
    pointer.waitForBytesWritten(5000);
    while (!pointer.canReadLine() && pointer.waitForReadyRead(5000)) {
    }
    pointer.readLine();
}

// A window that floats is first laid out tiled, then floated: it has its place once its
// content has taken the size the compositor gave it. Input sent before lands elsewhere.
bool Settled(const QJsonObject &view)
{
    return RectOf(view.value(QStringLiteral("geometry")).toObject()).size() ==
           RectOf(view.value(QStringLiteral("window_rect")).toObject()).size();
}

} // namespace

bool Active()
{
    return qEnvironmentVariable("PAGEMINT_TEST_DESKTOP") == QLatin1String("wayland");
}

std::optional<Place> PlaceOf(const QString &window)
{
    const std::optional<QJsonObject> view = View(window);
    if (!view)
        return std::nullopt;
    // The window's content lies at window_rect inside the container, which takes in the
    // compositor's title bar and borders.
    const QRect frame = RectOf(view->value(QStringLiteral("rect")).toObject());
    const QRect content = RectOf(view->value(QStringLiteral("window_rect")).toObject());
    return Place{content.translated(frame.topLeft()), frame};
}

QStringList VisibleWindows(qint64 pid, const QString &titlePattern)
{
    // Matched as xdotool matches window names, without regard to case.
    const QRegularExpression title(titlePattern, QRegularExpression::CaseInsensitiveOption);
    QStringList windows;
    ForEachView(Tree(), [&](const QJsonObject &view) {
        if (view.value(QStringLiteral("pid")).toInteger() == pid &&
            view.value(QStringLiteral("visible")).toBool() && Settled(view) &&
            title.match(view.value(QStringLiteral("name")).toString()).hasMatch())
            windows << QString::number(view.value(QStringLiteral("id")).toInteger());
    });
    return windows;
}

QString ActiveWindow()
{
    QString active;
    ForEachView(Tree(), [&](const QJsonObject &view) {
        if (view.value(QStringLiteral("focused")).toBool())
            active = QString::number(view.value(QStringLiteral("id")).toInteger());
    });
    return active;
}

QString AppId(const QString &window)
{
    const std::optional<QJsonObject> view = View(window);
    return view ? view->value(QStringLiteral("app_id")).toString() : QString();
}

void RequestClose(const QString &window)
{
    Run(QStringLiteral("swaymsg"),
        {QStringLiteral("[con_id=%1]").arg(window), QStringLiteral("kill")});
}

void MoveTo(const QPoint &point)
{
    Pointer("move " + QByteArray::number(point.x()) + ' ' + QByteArray::number(point.y()));
}

void Press()
{
    Pointer("down");
}

void Release()
{
    Pointer("up");
}

void Key(const QString &keys)
{
    QStringList arguments{QStringLiteral("-d"), QStringLiteral("40")};
    for (const QString &chord : keys.split(' ', Qt::SkipEmptyParts)) {
        QStringList parts = chord.split('+');
        const QString key = parts.takeLast();
        for (const QString &modifier : parts)
            arguments << QStringLiteral("-M") << modifier;
        arguments << QStringLiteral("-k") << key;
        for (auto modifier = parts.crbegin(); modifier != parts.crend(); ++modifier)
            arguments << QStringLiteral("-m") << *modifier;
    }
    Run(QStringLiteral("wtype"), arguments);
}

void Type(const QString &text)
{
    Run(QStringLiteral("wtype"), {QStringLiteral("-d"), QStringLiteral("5"), text});
}

} // namespace desktop::wayland
