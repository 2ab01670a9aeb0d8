// Everything that writes the history at once: the monitor's captures, the recognition worker,
// a CopyLess 2 import on its own thread, and the picker's searches. (A history import adds
// through the same call as the CopyLess one.) Built with ULVANE_TSAN this is the
// ThreadSanitizer run.
#include "ContentBuilders.h"
#include "CopyLessFolder.h"
#include "FakePlatform.h"
#include "StoreFile.h"
#include "TestMain.h"

#include "capture/PasteboardMonitor.h"

#include "exchange/CopyLessImporter.h"
#include "ocr/OCRService.h"

#include <QSet>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Distinct texts per source, and how many every source shares with the others: the shared
// ones alternate with the own ones everywhere, so the writers race for them all along.
constexpr int kOwn = 60;
constexpr int kShared = 40;

// One word large enough for the recogniser.
ItemList wordPicture(const QString &word)
{
    return {{{Uti::png, encoded(textImage({word}, QImage::Format_RGB32, Qt::white, 48))}}};
}

QString digestOf(const ItemList &items)
{
    return Util::digest(Flavors::flatten(items));
}

QString sharedText(int i)
{
    return QStringLiteral("shared clip %1 copied everywhere").arg(i);
}

} // namespace

class TestConcurrency : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void everythingAtOnce()
    {
        Store store(m_root.path() + u"/store"_qs);
        store.setHistoryCap(0); // no trim: every distinct clip stays
        OCRService ocr(store);
        QSet<QString> expected; // the digests the history must end with, once each

        // CopyLess 2's store: its own clips, the shared ones, and pictures for the recogniser.
        CopyLessFolder copyless(m_root.path() + u"/copyless"_qs);
        copyless.exec("BEGIN");
        for (int i = 0; i < kOwn; ++i) {
            const QString own = QStringLiteral("copyless clip %1").arg(i);
            copyless.addText(QStringLiteral("C%1").arg(i), own, 100.0 + 2 * i);
            expected.insert(digestOf(textItems(own)));
            if (i < kShared)
                copyless.addText(QStringLiteral("CS%1").arg(i), sharedText(i), 101.0 + 2 * i);
        }
        const ItemList copylessPicture = wordPicture(u"Lantern"_qs);
        copyless.add({u"CI"_qs, QString(), QString(), QString(), QString(), 300.0},
                     copylessPicture);
        expected.insert(digestOf(copylessPicture));
        copyless.exec("COMMIT");
        QVERIFY(copyless.ok);

        // The user's copies: own texts, the shared ones, some copied twice, and one picture.
        QList<ItemList> captures;
        for (int i = 0; i < kOwn; ++i) {
            captures.append(textItems(QStringLiteral("captured clip %1").arg(i)));
            if (i < kShared)
                captures.append(textItems(sharedText(i)));
        }
        for (int i = 0; i < kOwn; i += 4)
            captures.append(textItems(QStringLiteral("captured clip %1").arg(i)));
        const ItemList picture = wordPicture(u"Meadow"_qs);
        captures.insert(captures.size() / 2, picture);
        for (const ItemList &items : captures)
            expected.insert(digestOf(items));

        std::atomic_bool stop{false};
        std::atomic_int searches{0};
        std::optional<CopyLessImporter::Result> copylessResult;
        std::atomic_bool imported{false};
        {
            // Each thread is joined when it goes out of scope.
            std::jthread copylessImport([&] {
                copylessResult = CopyLessImporter::run(store, copyless.folder, &ocr);
                imported = true;
            });
            std::jthread picker([&] {
                const QStringList queries{u"clip"_qs, u"shared"_qs, QString(), u"Lantern"_qs,
                                          u"copied every"_qs};
                for (int i = 0; !stop; ++i) {
                    store.search(queries[i % queries.size()],
                                 i % 2 ? ClipFilter::All : ClipFilter::Text, 50);
                    ++searches;
                }
            });
            std::jthread backlog([&] {
                for (int i = 0; i < 5 && !stop; ++i) {
                    ocr.processPendingBacklog();
                    QThread::msleep(50);
                }
            });

            // The user copies; the monitor reads and stores each copy on its capture thread
            // and hands pictures to the recogniser. Events run between copies, as they would.
            FakePasteboard pasteboard;
            FakeWorkspace workspace;
            CaptureHooks hooks;
            hooks.enqueueOcr = [&ocr](const QString &id) { ocr.enqueue(id); };
            PasteboardMonitor monitor(
                pasteboard, workspace, store, [] { return CaptureSettings{}; }, hooks);
            for (const ItemList &items : captures) {
                pasteboard.copy(items);
                monitor.tick();
                while (monitor.isCapturing())
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            while (!imported)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            stop = true;
        }
        ocr.waitUntilIdle(); // a run that hangs is ended by the test runner's time limit
        QCoreApplication::processEvents();

        QVERIFY(copylessResult);
        QVERIFY(searches > 0);
        // The import saw every one of its clips either stored or recognised as already there.
        QCOMPARE(copylessResult->imported + copylessResult->skipped, kOwn + kShared + 1);

        // Nothing lost, nothing twice.
        StoreFile file(store.dir());
        QCOMPARE(file.integer(u"SELECT COUNT(*) FROM clips"_qs), expected.size());
        QSet<QString> stored;
        for (const QVariant &digest : file.column(u"SELECT digest FROM clips"_qs))
            stored.insert(digest.toString());
        QCOMPARE(stored, expected);
        for (const QVariant &id : file.column(u"SELECT id FROM clips"_qs))
            QVERIFY(QFileInfo(store.contentPath(id.toString())).isFile());

        QCOMPARE(file.column(u"SELECT integrity_check FROM pragma_integrity_check"_qs),
                 QList<QVariant>({u"ok"_qs}));
        QVERIFY(file.exec(u"INSERT INTO fts(fts) VALUES('integrity-check')"_qs));

        // The recogniser read every picture, whichever thread queued it, and search finds them.
        QCOMPARE(file.integer(u"SELECT COUNT(*) FROM clips WHERE has_image=1 AND ocr=''"_qs), 0);
        for (const QString &word : {u"Lantern"_qs, u"Meadow"_qs}) {
            const QList<Clip> found = store.search(word, ClipFilter::All, 10);
            QVERIFY2(found.size() == 1, qPrintable(word));
            QVERIFY(found.first().hasImage);
        }
        QCOMPARE(store.search(u"copied everywhere"_qs, ClipFilter::All, 100).size(), kShared);
    }
};

ULVANE_TEST_MAIN(TestConcurrency)
#include "test_concurrency.moc"
