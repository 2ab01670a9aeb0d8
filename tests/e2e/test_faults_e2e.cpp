// The real ulvane binary under faults: killed at random moments while copies and an import
// are being stored, a file-size limit, a read-only content folder and a database locked by
// another process. After each fault the store on disk must still be whole: an intact
// database, a full-text index that agrees with the table, a content file for every row, and
// no leftover files once the application has started again.
#include "../unit/TestMain.h"

#include "store/PBContent.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray noisePng(int w, int h, quint32 seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool isId(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return pattern.match(name).hasMatch();
}

// What a look at the store folder found.
struct StoreCheck
{
    QString problem; // empty when the store is whole
    QStringList rowIds;
    QStringList orphans; // files without a row
};

// Reads the store with a connection of our own, as a second process would.
StoreCheck checkStore(const QString &dir)
{
    StoreCheck check;
    sqlite3 *db = nullptr;
    const QByteArray path = QFile::encodeName(dir + QStringLiteral("/store.sqlite"));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        check.problem = QStringLiteral("open: ") + QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return check;
    }
    sqlite3_busy_timeout(db, 5000);
    QStringList integrity;
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW)
        integrity.append(
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))));
    sqlite3_finalize(statement);
    if (integrity != QStringList{QStringLiteral("ok")})
        check.problem = QStringLiteral("integrity_check: ") + integrity.join(u'|');

    char *error = nullptr;
    if (check.problem.isEmpty() &&
        sqlite3_exec(db, "INSERT INTO fts(fts) VALUES('integrity-check')", nullptr, nullptr,
                     &error) != SQLITE_OK)
        check.problem = QStringLiteral("fts integrity-check: ") + QString::fromUtf8(error);
    sqlite3_free(error);

    QSet<QString> ids;
    sqlite3_prepare_v2(db, "SELECT id, has_image FROM clips", -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        const QString id =
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        ids.insert(id);
        check.rowIds.append(id);
        QFile content(dir + QStringLiteral("/Content/") + id + QStringLiteral(".json"));
        if (!content.open(QIODevice::ReadOnly) || !PBContent::fromJson(content.readAll()))
            check.problem += QStringLiteral(" row without readable content: ") + id;
        if (sqlite3_column_int(statement, 1) == 1 &&
            !QFile::exists(dir + QStringLiteral("/Thumbs/") + id + QStringLiteral(".png")))
            check.problem += QStringLiteral(" image row without thumbnail: ") + id;
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);

    for (const char *folder : {"/Content", "/Thumbs"}) {
        for (const QFileInfo &file : QDir(dir + QLatin1String(folder)).entryInfoList(QDir::Files)) {
            if (isId(file.completeBaseName()) && !ids.contains(file.completeBaseName()))
                check.orphans.append(file.fileName());
        }
    }
    return check;
}

} // namespace

class TestFaultsE2E : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QProcess m_app;
    QByteArray m_log;
    QString m_dataHome;
    QStringList m_pngs;

    QString storeDir() const { return m_dataHome + QStringLiteral("/Vesk"); }

    // Each fault gets a store of its own, so one fault's leftovers never explain another's.
    void useFreshStore(const QString &name)
    {
        m_dataHome = m_work.path() + u'/' + name;
        QDir().mkpath(m_dataHome);
    }

    // As root, permissions bind only without the override capabilities; the application runs
    // without them so a read-only folder is read-only to it.
    static QStringList withoutOverride()
    {
        return {QStringLiteral("setpriv"),
                QStringLiteral("--bounding-set=-dac_override,-dac_read_search"),
                QStringLiteral("--")};
    }

    // False for root where the capabilities cannot be dropped (a container without
    // CAP_SETPCAP): there no folder mode can stop the application.
    static bool permissionsBind()
    {
        static const bool bind = [] {
            if (::geteuid() != 0)
                return true;
            const QStringList probe = withoutOverride() + QStringList{QStringLiteral("true")};
            return QProcess::execute(probe.first(), probe.mid(1)) == 0;
        }();
        return bind;
    }

    static QStringList launcher()
    {
        if (::geteuid() != 0 || !permissionsBind())
            return {QStringLiteral(ULVANE_BINARY)};
        return withoutOverride() + QStringList{QStringLiteral(ULVANE_BINARY)};
    }

    bool startApp(const QStringList &prefix = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dataHome);
        m_app.setProcessEnvironment(env);
        const QStringList command = prefix + launcher();
        // A killed instance's bus name may linger for a moment; the new one would then hand
        // over to it and leave.
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_log.clear();
            m_app.start(command.first(), command.mid(1));
            if (!m_app.waitForStarted(5000))
                return false;
            const bool launched = QTest::qWaitFor(
                [&] {
                    m_log += m_app.readAllStandardError();
                    return m_log.contains("[App] launched") ||
                           m_app.state() == QProcess::NotRunning;
                },
                20000);
            if (launched && m_app.state() == QProcess::Running)
                return true;
            m_app.kill();
            m_app.waitForFinished(5000);
            QTest::qWait(300);
        }
        return false;
    }

    void killApp()
    {
        m_app.kill(); // SIGKILL
        QVERIFY(m_app.waitForFinished(5000));
        m_log += m_app.readAllStandardError();
    }

    void stopApp()
    {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
        m_app.waitForFinished(2000);
    }

    bool logged(const QByteArray &text, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                m_log += m_app.readAllStandardError();
                return m_log.contains(text);
            },
            timeoutMs);
    }

    void xclipCopy(const QString &target, const QByteArray &data)
    {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-t"), target, QStringLiteral("-i")});
        QVERIFY(xclip.waitForStarted());
        xclip.write(data);
        xclip.closeWriteChannel();
        QVERIFY(xclip.waitForFinished(10000)); // xclip forks a server and exits
    }

    bool hasExcerpt(const QString &excerpt)
    {
        sqlite3 *db = nullptr;
        const QByteArray path = QFile::encodeName(storeDir() + QStringLiteral("/store.sqlite"));
        sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, "SELECT 1 FROM clips WHERE excerpt=?", -1, &statement, nullptr);
        const QByteArray utf8 = excerpt.toUtf8();
        sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        const bool found = statement && sqlite3_step(statement) == SQLITE_ROW;
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return found;
    }

    bool copyIsStored(const QString &text)
    {
        xclipCopy(QStringLiteral("UTF8_STRING"), text.toUtf8());
        return QTest::qWaitFor([&] { return hasExcerpt(text); }, 10000);
    }

    // Kills and restarts leave files younger than the start-up cleanup's safety window; a
    // start after that window must take every one of them.
    void startAfterSettlingLeavesNoOrphans()
    {
        QTest::qWait(5500);
        QVERIFY(startApp());
        // The clean-up runs beside the start-up, not before it ends.
        StoreCheck check;
        const bool settled = QTest::qWaitFor(
            [&] {
                check = checkStore(storeDir());
                return !check.problem.isEmpty() || check.orphans.isEmpty();
            },
            5000);
        stopApp();
        QVERIFY(settled);
        QVERIFY2(check.problem.isEmpty(), qPrintable(check.problem));
        QVERIFY2(check.orphans.isEmpty(), qPrintable(check.orphans.join(u' ')));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        for (int i = 0; i < 10; ++i) {
            const QString path = m_work.filePath(QStringLiteral("copy%1.png").arg(i));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(noisePng(640, 480, quint32(i + 1)));
            m_pngs.append(path);
        }
    }

    void cleanup()
    {
        if (m_app.state() != QProcess::NotRunning)
            stopApp();
    }

    void killedWhileCapturingKeepsTheStoreWhole()
    {
        useFreshStore(QStringLiteral("kill-capture"));
        // Texts and images, one copy every ~60 ms, for as long as the rounds last. Bytes after
        // a PNG's end make every image new content (decoders stop at the end chunk), so each
        // one is written whole rather than deduplicated.
        QProcess copier;
        copier.setProgram(QStringLiteral("bash"));
        copier.setArguments({QStringLiteral("-c"),
                             QStringLiteral("i=0; pngs=(%1); while :; do i=$((i+1)); "
                                            "if (( i % 3 == 0 )); then "
                                            "{ cat \"${pngs[i % 10]}\"; echo $i; } | "
                                            "xclip -selection clipboard -t image/png -i; "
                                            "else printf 'loop copy %s %s' $i $RANDOM | "
                                            "xclip -selection clipboard -t UTF8_STRING -i; fi; "
                                            "sleep 0.06; done")
                                 .arg(m_pngs.join(u' '))});
        copier.start();
        QVERIFY(copier.waitForStarted());

        QElapsedTimer elapsed;
        elapsed.start();
        int rounds = 0;
        int orphansSeen = 0;
        while (rounds < 15 && elapsed.elapsed() < 45000) {
            QVERIFY2(startApp(), m_log.constData());
            QTest::qWait(int(QRandomGenerator::global()->bounded(150, 1800)));
            killApp();
            const StoreCheck check = checkStore(storeDir());
            QVERIFY2(check.problem.isEmpty(),
                     qPrintable(QStringLiteral("round %1:%2").arg(rounds).arg(check.problem)));
            orphansSeen += int(check.orphans.size());
            ++rounds;
        }
        copier.kill();
        copier.waitForFinished(3000);
        const StoreCheck last = checkStore(storeDir());
        qInfo("%d kills, %lld clips stored, %d orphan files seen after kills", rounds,
              qlonglong(last.rowIds.size()), orphansSeen);
        QVERIFY(rounds >= 8);
        QVERIFY2(last.rowIds.size() >= rounds, "the copies were hardly ever captured");
        startAfterSettlingLeavesNoOrphans();
    }

    void killedWhileImportingKeepsTheStoreWhole()
    {
        useFreshStore(QStringLiteral("kill-import"));
        QDir().mkpath(storeDir());
        int killedMidway = 0;
        int orphansSeen = 0;
        for (int round = 0; round < 6; ++round) {
            QProcess helper;
            helper.start(QStringLiteral(ULVANE_IMPORT_HELPER),
                         {storeDir(), QStringLiteral("3000")});
            QVERIFY(helper.waitForStarted());
            QVERIFY(QTest::qWaitFor(
                [&] { return helper.canReadLine() || helper.state() == QProcess::NotRunning; },
                20000));
            QTest::qWait(int(QRandomGenerator::global()->bounded(50, 1200)));
            if (helper.state() == QProcess::Running)
                ++killedMidway;
            helper.kill();
            helper.waitForFinished(5000);
            const StoreCheck check = checkStore(storeDir());
            QVERIFY2(check.problem.isEmpty(),
                     qPrintable(QStringLiteral("round %1:%2").arg(round).arg(check.problem)));
            orphansSeen += int(check.orphans.size());
        }
        qInfo("%d of 6 imports killed part-way, %d orphan files seen after kills", killedMidway,
              orphansSeen);
        QVERIFY(killedMidway >= 3);
        startAfterSettlingLeavesNoOrphans();
    }

    void fileSizeLimitFailsSoftAndCaptureResumes()
    {
        useFreshStore(QStringLiteral("file-size"));
        // 1 MB: the database stays below it, a large image's content file does not.
        QVERIFY2(startApp({QStringLiteral("prlimit"), QStringLiteral("--fsize=1000000:unlimited"),
                           QStringLiteral("--")}),
                 m_log.constData());
        QVERIFY(copyIsStored(QStringLiteral("stored before the limit bites")));

        const QByteArray big = noisePng(900, 700, 99);
        xclipCopy(QStringLiteral("image/png"), big);
        // Without SIGXFSZ ignored the first write past the limit kills the process instead.
        const bool failed = logged("[Store] content write failed: ");
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY2(failed, m_log.constData());
        QVERIFY(m_log.contains("File too large"));
        QVERIFY(!hasExcerpt(QStringLiteral("Image 900×700")));
        QVERIFY(copyIsStored(QStringLiteral("small copy under the limit")));

        // Space returns: the same image is now stored whole.
        QCOMPARE(QProcess::execute(QStringLiteral("prlimit"),
                                   {QStringLiteral("--pid"), QString::number(m_app.processId()),
                                    QStringLiteral("--fsize=unlimited:unlimited")}),
                 0);
        xclipCopy(QStringLiteral("image/png"), big);
        QVERIFY(
            QTest::qWaitFor([&] { return hasExcerpt(QStringLiteral("Image 900×700")); }, 10000));
        QVERIFY(hasExcerpt(QStringLiteral("stored before the limit bites")));
        const StoreCheck check = checkStore(storeDir());
        QVERIFY2(check.problem.isEmpty(), qPrintable(check.problem));
        QCOMPARE(check.rowIds.size(), 3);
        QVERIFY2(check.orphans.isEmpty(), qPrintable(check.orphans.join(u' ')));
    }

    // A limit the database's write-ahead log reaches: the row insert fails after the content
    // file was written, which must then go again.
    void databaseWritesPastTheLimitFailSoft()
    {
        useFreshStore(QStringLiteral("file-size-database"));
        QVERIFY2(startApp({QStringLiteral("prlimit"), QStringLiteral("--fsize=150000:unlimited"),
                           QStringLiteral("--")}),
                 m_log.constData());
        int copies = 0;
        while (!m_log.contains("[Store] row insert failed: ") && copies < 60) {
            xclipCopy(QStringLiteral("UTF8_STRING"),
                      QByteArray("filling the log ") + QByteArray::number(++copies));
            logged("[Store] row insert failed: ", 250);
        }
        QVERIFY2(m_log.contains("[Store] row insert failed: "), m_log.constData());
        QCOMPARE(m_app.state(), QProcess::Running);

        QCOMPARE(QProcess::execute(QStringLiteral("prlimit"),
                                   {QStringLiteral("--pid"), QString::number(m_app.processId()),
                                    QStringLiteral("--fsize=unlimited:unlimited")}),
                 0);
        QVERIFY(copyIsStored(QStringLiteral("stored once the log can grow")));
        const StoreCheck check = checkStore(storeDir());
        QVERIFY2(check.problem.isEmpty(), qPrintable(check.problem));
        QVERIFY2(check.orphans.isEmpty(), qPrintable(check.orphans.join(u' ')));
        QVERIFY(check.rowIds.size() < copies + 1);
    }

    void readOnlyContentFolderFailsSoftAndCaptureResumes()
    {
        if (!permissionsBind())
            QSKIP("running as root without a way to drop the permission override");
        useFreshStore(QStringLiteral("read-only"));
        QVERIFY2(startApp(), m_log.constData());
        QVERIFY(copyIsStored(QStringLiteral("stored while writable")));
        const QByteArray content = QFile::encodeName(storeDir() + QStringLiteral("/Content"));
        QCOMPARE(::chmod(content.constData(), 0500), 0);
        xclipCopy(QStringLiteral("UTF8_STRING"), "copied while read-only");
        const bool failed = logged("[Store] content write failed: ");
        QCOMPARE(::chmod(content.constData(), 0700), 0);
        QVERIFY2(failed, m_log.constData());
        QVERIFY(m_log.contains("Permission denied"));
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY(!hasExcerpt(QStringLiteral("copied while read-only")));

        QVERIFY(copyIsStored(QStringLiteral("stored after restoring")));
        const StoreCheck check = checkStore(storeDir());
        QVERIFY2(check.problem.isEmpty(), qPrintable(check.problem));
        QCOMPARE(check.rowIds.size(), 2);
    }

    void databaseLockedPastTheBusyTimeoutFailsSoft()
    {
        useFreshStore(QStringLiteral("locked"));
        QVERIFY2(startApp(), m_log.constData());
        QVERIFY(copyIsStored(QStringLiteral("stored before the lock")));

        sqlite3 *other = nullptr;
        const QByteArray path = QFile::encodeName(storeDir() + QStringLiteral("/store.sqlite"));
        QCOMPARE(sqlite3_open_v2(path.constData(), &other, SQLITE_OPEN_READWRITE, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        QElapsedTimer held;
        held.start();
        xclipCopy(QStringLiteral("UTF8_STRING"), "copied while locked");
        const bool failed = logged("[Store] row insert failed: database is locked", 12000);
        const qint64 heldMs = held.elapsed();
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QVERIFY2(failed, m_log.constData());
        QVERIFY(heldMs >= 3000); // the busy timeout was waited out, not skipped
        QCOMPARE(m_app.state(), QProcess::Running);
        QVERIFY(!hasExcerpt(QStringLiteral("copied while locked")));

        QVERIFY(copyIsStored(QStringLiteral("stored after the lock")));
        const StoreCheck check = checkStore(storeDir());
        QVERIFY2(check.problem.isEmpty(), qPrintable(check.problem));
        QCOMPARE(check.rowIds.size(), 2);
        QVERIFY2(check.orphans.isEmpty(), qPrintable(check.orphans.join(u' ')));
    }
};

ULVANE_X11_TEST_MAIN(TestFaultsE2E)
#include "test_faults_e2e.moc"
