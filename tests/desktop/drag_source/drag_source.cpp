// SPDX-License-Identifier: AGPL-3.0-or-later
// A drag source in a process of its own, as a file manager is: a small window that, when the
// mouse is pressed on it, drags the files named on its command line, offering Copy and Move and
// proposing Move (what a file manager proposes while Shift is held). When the drag ends it
// writes the action the drop target chose ("copy", "move", "link" or "none") to the result file
// and exits shortly after.
//
//   desktop_drag_source RESULT-FILE FILE...
#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {

const char *ActionName(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return "copy";
    case Qt::MoveAction:
        return "move";
    case Qt::LinkAction:
        return "link";
    default:
        return "none";
    }
}

class DragSource : public QLabel {
public:
    DragSource(QString resultPath, QList<QUrl> urls)
        : QLabel(QStringLiteral("drag me")), resultPath(std::move(resultPath)),
          urls(std::move(urls))
    {
        setWindowTitle(QStringLiteral("drag source"));
        setAlignment(Qt::AlignCenter);
        resize(160, 100);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || started)
            return;
        started = true;
        auto *drag = new QDrag(this);
        auto *data = new QMimeData;
        data->setUrls(urls);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        QSaveFile result(resultPath);
        if (result.open(QIODevice::WriteOnly)) {
            result.write(ActionName(action));
            result.commit();
        }
        // The drop target fetches the files' addresses from us after the drop; stay a moment
        // to hand them over.
        QTimer::singleShot(1500, qApp, &QApplication::quit);
    }

private:
    QString resultPath;
    QList<QUrl> urls;
    bool started = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3)
        return 2;
    QList<QUrl> urls;
    for (int i = 2; i < args.size(); ++i)
        urls << QUrl::fromLocalFile(args[i]);
    DragSource source(args[1], urls);
    source.show();
    return app.exec();
}
