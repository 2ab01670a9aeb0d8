// The picker in this process: how long it takes to appear with a full list, to show a
// filtered list after a keystroke over a large history and to paint rows while scrolling.
// The running application's own figures are the app suite's. Needs a real X server (make
// bench provides one).
#include "Bench.h"
#include "BenchData.h"

#include "panel/AppIconCache.h"
#include "panel/ClipListView.h"
#include "panel/PanelController.h"
#include "panel/PanelModel.h"
#include "paste/PasteService.h"
#include "platform/x11/X11KeySynthesizer.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Workspace.h"
#include "platform/xdg/DesktopEntryIndex.h"
#include "prefs/Prefs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>
#include <vector>

namespace {

using Bench::percentile;
using Bench::report;

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Rig
{
    QTemporaryDir dir;
    Store store{dir.path() + QStringLiteral("/store")};
    Prefs prefs{dir.path() + QStringLiteral("/ulvane.conf")};
    X11Pasteboard pasteboard;
    X11Workspace workspace;
    X11KeySynthesizer keys;
    PasteService paste{pasteboard, keys, workspace, store, [] { return false; }};
    DesktopEntryIndex entries;
    AppIconCache icons{[this](const QString &appId) {
        const std::optional<DesktopEntryIndex::Entry> entry = entries.byId(appId);
        return entry ? entry->icon : QString();
    }};
};

// Shows the panel and waits until its list has been painted on a mapped window.
double showAndWaitDrawn(PanelController &controller, PaintCounter &probe)
{
    const int before = probe.paints;
    QElapsedTimer timer;
    timer.start();
    controller.show();
    QWindow *window = controller.panel()->windowHandle();
    while (!(window && window->isExposed() && probe.paints > before)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        window = controller.panel()->windowHandle();
        if (timer.elapsed() > 3000)
            break;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void benchOpenAndScroll()
{
    Rig rig;
    BenchData::populateMixed(rig.store, 2000);
    PanelController controller(rig.store, rig.paste, rig.workspace, rig.prefs, rig.icons);
    PaintCounter probe;
    controller.panel()->listView()->viewport()->installEventFilter(&probe);

    const double first = showAndWaitDrawn(controller, probe);
    report(QStringLiteral("picker first appearance, 400 rows"),
           QStringLiteral("%1 ms").arg(first, 0, 'f', 1), QString());
    controller.hide();
    settle(100);
    std::vector<double> ms;
    for (int i = 0; i < 40; ++i) {
        ms.push_back(showAndWaitDrawn(controller, probe));
        settle(30);
        controller.hide();
        settle(60);
    }
    report(QStringLiteral("show → panel drawn, 400 rows (40 times)"),
           QStringLiteral("med %1 / p95 %2 ms")
               .arg(percentile(ms, 0.5), 0, 'f', 1)
               .arg(percentile(ms, 0.95), 0, 'f', 1),
           QStringLiteral("p95 <= 50 ms"));

    // Scrolling: each step moves about two rows and repaints the list at once.
    showAndWaitDrawn(controller, probe);
    ClipListView *list = controller.panel()->listView();
    QScrollBar *bar = list->verticalScrollBar();
    std::vector<double> frames;
    int rowsPainted = 0;
    const int visibleRows = qMax(1, list->viewport()->height() / 45);
    for (int value = 0; value <= bar->maximum(); value += 90) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(value);
        list->viewport()->repaint();
        frames.push_back(double(timer.nsecsElapsed()) / 1e6);
        rowsPainted += visibleRows;
    }
    double total = 0;
    for (double f : frames)
        total += f;
    report(QStringLiteral("scroll 400 rows: frame time (%1 frames)").arg(frames.size()),
           QStringLiteral("med %1 / p95 %2 ms")
               .arg(percentile(frames, 0.5), 0, 'f', 2)
               .arg(percentile(frames, 0.95), 0, 'f', 2),
           QStringLiteral("p95 <= 16 ms"));
    report(QStringLiteral("scroll 400 rows: time per painted row"),
           QStringLiteral("%1 ms").arg(total / qMax(1, rowsPainted), 0, 'f', 3),
           QStringLiteral("<< 1 ms"));
    controller.hide();
}

void benchKeystroke(int clips)
{
    Rig rig;
    BenchData::TextGenerator gen;
    std::vector<QString> samples;
    BenchData::populate(rig.store, gen, clips, &samples);
    PanelController controller(rig.store, rig.paste, rig.workspace, rig.prefs, rig.icons);
    PaintCounter probe;
    controller.panel()->listView()->viewport()->installEventFilter(&probe);
    showAndWaitDrawn(controller, probe);
    controller.hide();
    settle(100);
    // The newest 400 rows are what the picker loads, so the history's size should not show.
    std::vector<double> openMs;
    for (int i = 0; i < 20; ++i) {
        openMs.push_back(showAndWaitDrawn(controller, probe));
        settle(30);
        controller.hide();
        settle(60);
    }
    report(QStringLiteral("show → panel drawn, %1k clips (20 times)").arg(clips / 1000),
           QStringLiteral("med %1 / p95 %2 ms")
               .arg(percentile(openMs, 0.5), 0, 'f', 1)
               .arg(percentile(openMs, 0.95), 0, 'f', 1),
           QStringLiteral("p95 <= 50 ms"));
    showAndWaitDrawn(controller, probe);
    PanelModel &model = controller.model();

    // What people type: the first letters of a word they remember, sometimes two words.
    QStringList queries;
    QRandomGenerator random(7);
    for (const QString &sample : samples) {
        const QStringList words = sample.split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString word = words.at(int(random.bounded(int(words.size()))));
        QString query = word.left(2 + int(random.bounded(qMax(1, int(word.size()) - 1))));
        if (words.size() > 1 && random.bounded(3) == 0)
            query += u' ' + words.at(int(random.bounded(int(words.size())))).left(3);
        queries.append(query);
        if (queries.size() == 150)
            break;
    }
    std::vector<double> ms;
    std::vector<double> searchMs;
    for (const QString &query : queries) {
        // The debounce has passed: measure the query, the list's rebuild and its repaint.
        QElapsedTimer timer;
        timer.start();
        model.setQuery(query);
        model.refresh(false);
        const double queried = double(timer.nsecsElapsed()) / 1e6;
        controller.panel()->repaint();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        searchMs.push_back(queried);
        if (qEnvironmentVariableIsSet("ULVANE_BENCH_TRACE"))
            std::printf("TRACE %6.2f %6.2f rows=%d %s\n", queried, ms.back(), model.count(),
                        qPrintable(query));
        settle(PanelModel::refreshDelayMs + 10); // lets the pending debounced refresh run
    }
    report(QStringLiteral("keystroke → filtered list drawn, %1k clips").arg(clips / 1000),
           QStringLiteral("med %1 / p95 %2 ms")
               .arg(percentile(ms, 0.5), 0, 'f', 1)
               .arg(percentile(ms, 0.95), 0, 'f', 1),
           QStringLiteral("p95 <= 30 ms"));
    report(QStringLiteral("  of which the store query and list update"),
           QStringLiteral("med %1 / p95 %2 ms")
               .arg(percentile(searchMs, 0.5), 0, 'f', 1)
               .arg(percentile(searchMs, 0.95), 0, 'f', 1),
           QString());
    controller.hide();
}

void runPanelSuite(const QStringList &args)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        report(QStringLiteral("picker"), QStringLiteral("(skipped: no X server)"), QString());
        return;
    }
    benchOpenAndScroll();
    benchKeystroke(args.contains(QStringLiteral("--quick")) ? 10000 : 100000);
}

} // namespace

ULVANE_BENCH_SUITE("panel", runPanelSuite);
