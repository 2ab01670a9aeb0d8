// Everything that writes the history at once: the monitor's captures, the recognition worker,
// a CopyLess 2 import and a history import on their own threads, and the picker's searches. Built
// with ULVANE_TSAN this is the ThreadSanitizer run.
#include "FakePlatform.h"
#include "StoreFile.h"
#include "TestMain.h"

#include "capture/PasteboardMonitor.h"

#include "core/Util.h"
#include "exchange/CopyLessImporter.h"
#include "exchange/ExportImport.h"
#include "ocr/OCRService.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QUuid>

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace {

constexpr double kReferenceDate = 978307200.0; // where CopyLess 2 (Core Data) counts from

// Distinct texts per source, and how many every source shares with the others: the shared
// ones alternate with the own ones everywhere, so the writers race for them all along.
constexpr int kOwn = 60;
constexpr int kShared = 40;

ItemList textItems(const QString &text)
{
    return {{{Uti::plainText, text.toUtf8()}}};
}

// A PNG showing one word large enough for the recogniser.
QByteArray wordImage(const QString &word)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(48);
    const QFontMetrics metrics(font);
    QImage image(metrics.horizontalAdvance(word) + 80, metrics.height() + 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(40, 40 + metrics.ascent(), word);
    }
    QBuffer buffer;
    image.save(&buffer, "PNG");
    return buffer.data();
}

ItemList imageItems(const QByteArray &png)
{
    return {{{Uti::png, png}}};
}

QString digestOf(const ItemList &items)
{
    return Util::digest(Flavors::flatten(items));
}

QString sharedText(int i)
{
    return QStringLiteral("shared clip %1 copied everywhere").arg(i);
}

// A CopyLess 2 store folder: its Core Data table and one snapshot file per row.
class CopyLessFolder
{
public:
    explicit CopyLessFolder(const QString &folder) : folder(folder)
    {
        QDir().mkpath(cache());
        ok = sqlite3_open(QFile::encodeName(folder + u"/Store.sqlite"_qs).constData(), &m_db) ==
             SQLITE_OK;
        exec("CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT "
             "INTEGER, ZIDENTIFIERVALUE TEXT, ZCONTENTEXCERPT TEXT, ZTITLE TEXT, "
             "ZSOURCEAPPBUNDLEIDENTIFIER TEXT, ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE "
             "REAL, ZTHUMBNAILDATAVALUE BLOB, ZPINNED INTEGER)");
        exec("BEGIN");
    }
    ~CopyLessFolder() { sqlite3_close(m_db); }

    void add(const QString &id, const QString &excerpt, double created, const ItemList &items)
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(m_db,
                           "INSERT INTO ZMANAGEDSNAPSHOT VALUES(NULL, 7, 1, ?, ?, '', "
                           "'org.example.editor', 'Editor', ?, NULL, 0)",
                           -1, &st, nullptr);
        const QByteArray idUtf8 = id.toUtf8();
        const QByteArray excerptUtf8 = excerpt.toUtf8();
        sqlite3_bind_text(st, 1, idUtf8.constData(), int(idUtf8.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, excerptUtf8.constData(), int(excerptUtf8.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 3, created);
        ok = ok && sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
        QFile file(cache() + id + u".pbdata"_qs);
        ok = ok && file.open(QIODevice::WriteOnly) &&
             file.write(PBContent::from(items).toJson()) > 0;
    }
    void finish() { exec("COMMIT"); }

    const QString folder;
    bool ok = false;

private:
    QString cache() const { return folder + u"/SnapshotContentFiles/Cache/"_qs; }
    void exec(const char *sql)
    {
        ok = ok && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    sqlite3 *m_db = nullptr;
};

// A thread that says when its work is over, joined when it goes out of scope.
class Worker
{
public:
    template <typename Body>
    explicit Worker(Body body)
        : m_thread([this, body = std::move(body)] {
              body();
              m_done = true;
          })
    {}
    ~Worker() { join(); }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool done() const { return m_done; }

private:
    std::atomic_bool m_done{false};
    std::thread m_thread;
};

} // namespace

class TestConcurrency : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    static QString scalar(Store &store, const QString &sql)
    {
        return StoreFile(store.dir()).column(sql).value(0).toString();
    }

    static void exportedClip(Store &store, const QString &text, double created, const QString &id)
    {
        NewClip clip;
        clip.items = textItems(text);
        clip.excerpt = text;
        clip.created = created;
        clip.ifStored = NewClip::IfStored::StoreAgain;
        clip.id = id;
        store.add(clip);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_root.isValid()); }

    void everythingAtOnce()
    {
        Store store(m_root.path() + u"/store"_qs);
        store.setHistoryCap(0); // no trim: every distinct clip stays
        OCRService ocr(store);
        QSet<QString> expected; // the digests the history must end with, once each

        // The history file another machine exported: its own clips and the shared ones.
        QByteArray exported;
        {
            Store other(m_root.path() + u"/other"_qs);
            other.setHistoryCap(0);
            for (int i = 0; i < kOwn; ++i) {
                const QString text = QStringLiteral("exported clip %1").arg(i);
                exportedClip(other, text, 1000.0 + 2 * i, QStringLiteral("E%1").arg(i));
                expected.insert(digestOf(textItems(text)));
            }
            for (int i = 0; i < kShared; ++i) {
                exportedClip(other, sharedText(i), 1001.0 + 2 * i, QStringLiteral("ES%1").arg(i));
                expected.insert(digestOf(textItems(sharedText(i))));
            }
            const std::optional<QByteArray> document = ExportImport::exportAll(other);
            QVERIFY(document);
            exported = *document;
        }

        // CopyLess 2's store: its own clips, the shared ones, and pictures for the recogniser.
        const QStringList copylessWords{u"Harbour"_qs, u"Lantern"_qs};
        CopyLessFolder copyless(m_root.path() + u"/copyless"_qs);
        for (int i = 0; i < kOwn; ++i) {
            const QString text = QStringLiteral("copyless clip %1").arg(i);
            copyless.add(QStringLiteral("C%1").arg(i), text, 100.0 + 2 * i, textItems(text));
            expected.insert(digestOf(textItems(text)));
        }
        for (int i = 0; i < kShared; ++i) {
            copyless.add(QStringLiteral("CS%1").arg(i), sharedText(i), 101.0 + 2 * i,
                         textItems(sharedText(i)));
        }
        for (int i = 0; i < copylessWords.size(); ++i) {
            const ItemList items = imageItems(wordImage(copylessWords[i]));
            copyless.add(QStringLiteral("CI%1").arg(i), QString(), 300.0 + i, items);
            expected.insert(digestOf(items));
        }
        copyless.finish();
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
        const ItemList picture = imageItems(wordImage(u"Meadow"_qs));
        captures.insert(captures.size() / 2, picture);
        for (const ItemList &items : captures)
            expected.insert(digestOf(items));

        QElapsedTimer clock;
        clock.start();
        std::atomic_bool stop{false};
        std::atomic_int searches{0};
        std::optional<ExportImport::ImportResult> historyResult;
        std::optional<CopyLessImporter::Result> copylessResult;
        {
            Worker history([&] { historyResult = ExportImport::importData(exported, store); });
            Worker copylessImport(
                [&] { copylessResult = CopyLessImporter::run(store, copyless.folder, &ocr); });
            Worker picker([&] {
                const QStringList queries{u"clip"_qs, u"shared"_qs, QString(), u"Lantern"_qs,
                                          u"copied every"_qs};
                for (int i = 0; !stop; ++i) {
                    store.search(queries[i % queries.size()],
                                 i % 2 ? ClipFilter::All : ClipFilter::Text, 50);
                    ++searches;
                }
            });
            Worker backlog([&] {
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
            while (!history.done() || !copylessImport.done())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            stop = true;
        }
        ocr.waitUntilIdle();
        QCoreApplication::processEvents();
        qInfo("all sources done in %lld ms, %d searches", clock.elapsed(), int(searches));
        QVERIFY2(clock.elapsed() < 60000, "the concurrent run took far too long");

        QVERIFY(historyResult);
        QVERIFY(copylessResult);
        QVERIFY(searches > 0);
        // Each import saw every one of its clips either stored or recognised as already there.
        QCOMPARE(historyResult->imported + historyResult->skipped, kOwn + kShared);
        QCOMPARE(copylessResult->imported + copylessResult->skipped,
                 kOwn + kShared + int(copylessWords.size()));

        // Nothing lost, nothing twice.
        QCOMPARE(scalar(store, u"SELECT COUNT(*) AS v FROM clips"_qs).toInt(),
                 int(expected.size()));
        QCOMPARE(scalar(store, u"SELECT COUNT(DISTINCT digest) AS v FROM clips"_qs).toInt(),
                 int(expected.size()));
        StoreFile file(store.dir());
        QSet<QString> stored;
        for (const QVariant &digest : file.column(u"SELECT digest FROM clips"_qs))
            stored.insert(digest.toString());
        QCOMPARE(stored, expected);
        for (const QVariant &id : file.column(u"SELECT id FROM clips"_qs))
            QVERIFY2(QFileInfo(store.contentPath(id.toString())).isFile(),
                     qPrintable(id.toString()));

        // The database and its full-text index came through whole.
        QCOMPARE(file.column(u"SELECT integrity_check FROM pragma_integrity_check"_qs),
                 QList<QVariant>({u"ok"_qs}));
        QVERIFY(file.exec(u"INSERT INTO fts(fts) VALUES('integrity-check')"_qs));

        // The recogniser read every picture, whichever thread queued it, and search finds them.
        QCOMPARE(scalar(store, u"SELECT COUNT(*) AS v FROM clips WHERE has_image=1 AND ocr=''"_qs)
                     .toInt(),
                 0);
        for (const QString &word : copylessWords + QStringList{u"Meadow"_qs}) {
            const QList<Clip> found = store.search(word, ClipFilter::All, 10);
            QVERIFY2(found.size() == 1, qPrintable(word));
            QVERIFY(found.first().hasImage);
        }
        QCOMPARE(store.search(u"copied everywhere"_qs, ClipFilter::All, 100).size(), kShared);
    }
};

ULVANE_TEST_MAIN(TestConcurrency)
#include "test_concurrency.moc"
