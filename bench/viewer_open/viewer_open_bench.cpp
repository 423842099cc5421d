// SPDX-License-Identifier: AGPL-3.0-or-later
// Opens a document in the viewer as a row click does (close, open at 100, navigation bar on,
// fit width) and times what a user waits for: the first page on screen, then a jump to the end,
// a jump to the middle by the scroll bar, and paging down through the following pages one
// screen at a time, both right after opening and after a few seconds on the first page. Every
// step ends when the viewer has painted the pages in view. Also times the count that each added
// file costs (open, count, close). Prints the best of the runs, in milliseconds of processor time
// of the interface thread and, for the count and the first page, of the wall clock, and the
// process's peak memory.
#include "viewer/doc_viewer_control.h"
#include "viewer/page_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr int kSteps = 40;
constexpr int kIdleMs = 3000;

// Processor time of this thread, in milliseconds: the viewer does all its work on it, and
// unlike the wall clock it does not count the time other processes on a busy machine take.
double ThreadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Time(const std::function<void()> &step)
{
    const double start = ThreadMs();
    step();
    return ThreadMs() - start;
}

void Key(QWidget *target, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// Wall-clock milliseconds: a view that draws its pages in another process keeps the user
// waiting for longer than its own thread works.
double WallTime(const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    return clock.nsecsElapsed() / 1e6;
}

// Whether the view still draws pages in view; a view that draws while painting never does.
template <class View> auto Drawing(View *view, int) -> decltype(view->drawing())
{
    return view->drawing();
}
template <class View> bool Drawing(View *, long)
{
    return false;
}

// Lets pending layout run, then paints the viewer, as the screen would, until the pages in view
// are drawn.
void Settle(DocViewerControl &viewer)
{
    QApplication::processEvents();
    viewer.repaint();
    if (!Drawing(viewer.pageView(), 0)) {
        return;
    }
    // Each page drawn comes back as an event, and asks for a paint of its own.
    while (Drawing(viewer.pageView(), 0)) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    viewer.repaint();
}

struct Travel {
    double end, middle, pageDown;
};

// Jumps to the end, then to the middle by the scroll bar, then pages down kSteps screens.
Travel TimeTravel(DocViewerControl &viewer)
{
    PageView *view = viewer.pageView();
    Travel travel{};
    travel.end = Time([&] {
        Key(view, Qt::Key_End);
        Settle(viewer);
    });
    travel.middle = Time([&] {
        QScrollBar *bar = view->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        Settle(viewer);
    });
    travel.pageDown = Time([&] {
                          for (int step = 0; step < kSteps; ++step) {
                              Key(view, Qt::Key_PageDown);
                              Settle(viewer);
                          }
                      }) /
                      kSteps;
    return travel;
}

void KeepBest(Travel &best, const Travel &run)
{
    best.end = std::min(best.end, run.end);
    best.middle = std::min(best.middle, run.middle);
    best.pageDown = std::min(best.pageDown, run.pageDown);
}

void Preview(DocViewerControl &viewer, const QString &path)
{
    viewer.CloseDocument();
    viewer.OpenDocument(path, QString(), QString(), 100);
    viewer.ApplyPreviewSetting(1);
    viewer.ApplyDisplaySetting(3);
    Settle(viewer);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s file.pdf [runs]\n", argv[0]);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const double inf = std::numeric_limits<double>::infinity();
    double count = inf, open = inf, countWall = inf, openWall = inf;
    Travel atOnce{inf, inf, inf}, afterIdle{inf, inf, inf};
    int pages = 0;

    DocViewerControl viewer;
    viewer.resize(600, 800);
    viewer.show();
    QApplication::processEvents();
    for (int run = 0; run < runs; ++run) {
        count = std::min(count, Time([&] {
                             viewer.OpenDocument(path, QString(), QString(), 100);
                             pages = viewer.GetPageCount();
                             viewer.CloseDocument();
                         }));
        open = std::min(open, Time([&] { Preview(viewer, path); }));
        countWall = std::min(countWall, WallTime([&] {
                                 viewer.OpenDocument(path, QString(), QString(), 100);
                                 pages = viewer.GetPageCount();
                                 viewer.CloseDocument();
                             }));
        openWall = std::min(openWall, WallTime([&] { Preview(viewer, path); }));
        KeepBest(atOnce, TimeTravel(viewer));
        // The same travel after the user has looked at the first page for a while.
        Preview(viewer, path);
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < kIdleMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        KeepBest(afterIdle, TimeTravel(viewer));
    }
    if (pages <= 0) {
        std::fprintf(stderr, "%s: no pages\n", argv[1]);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %d pages; count %.1f ms, open at first page %.1f ms; wall clock: count "
                "%.1f ms, first page on screen %.1f ms; right after: end %.1f ms, middle %.1f "
                "ms, page down %.1f ms; after %d s idle: end %.1f ms, middle %.1f ms, page down "
                "%.1f ms; peak %ld MB\n",
                argv[1], pages, count, open, countWall, openWall, atOnce.end, atOnce.middle,
                atOnce.pageDown, kIdleMs / 1000, afterIdle.end, afterIdle.middle,
                afterIdle.pageDown, usage.ru_maxrss / 1024);
    return 0;
}
