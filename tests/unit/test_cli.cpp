#include "TestMain.h"

#include "app/CommandLine.h"
#include "store/PBContent.h"

#include <QDBusConnection>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>

#include <sqlite3.h>

using CommandLine::Mode;

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

// Receives the show signal on a private bus.
class ShowListener : public QObject
{
    Q_OBJECT
public:
    int received = 0;
public Q_SLOTS:
    void onShow() { ++received; }
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_homes = 0;

    QProcessEnvironment freshHome(QString *homeOut = nullptr)
    {
        const QString home = m_root.path() + QStringLiteral("/home%1").arg(++m_homes);
        QDir().mkpath(home + u"/tmp"_qs);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_qs, home);
        env.insert(u"XDG_DATA_HOME"_qs, home + u"/.local/share"_qs);
        env.insert(u"XDG_CONFIG_HOME"_qs, home + u"/.config"_qs);
        env.insert(u"TMPDIR"_qs, home + u"/tmp"_qs);
        env.remove(u"DISPLAY"_qs);
        env.remove(u"WAYLAND_DISPLAY"_qs);
        env.remove(u"QT_QPA_PLATFORM"_qs);
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/bus"_qs);
        if (homeOut)
            *homeOut = home;
        return env;
    }

    Result ulvane(const QStringList &args, const QProcessEnvironment &env)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ULVANE_BINARY), args);
        process.closeWriteChannel();
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void dispatchOrder_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("value");
        const QString exe = u"/usr/bin/ulvane"_qs;
        QTest::newRow("nothing") << QStringList{exe} << int(Mode::Start) << QString();
        QTest::newRow("selftest beats all")
            << QStringList{exe, u"--show"_qs, u"--stats"_qs, u"--selftest"_qs}
            << int(Mode::SelfTest) << QString();
        QTest::newRow("import before stats")
            << QStringList{exe, u"--stats"_qs, u"--import-copyless"_qs} << int(Mode::ImportCopyLess)
            << QString();
        QTest::newRow("stats before show")
            << QStringList{exe, u"--show"_qs, u"--stats"_qs} << int(Mode::Stats) << QString();
        QTest::newRow("set-icon value")
            << QStringList{exe, u"--show"_qs, u"--set-icon"_qs, u"petroglyph"_qs}
            << int(Mode::SetIcon) << u"petroglyph"_qs;
        QTest::newRow("set-icon last falls to show")
            << QStringList{exe, u"--show"_qs, u"--set-icon"_qs} << int(Mode::Show) << QString();
        QTest::newRow("set-icon last starts")
            << QStringList{exe, u"--set-icon"_qs} << int(Mode::Start) << QString();
        QTest::newRow("whole words only")
            << QStringList{exe, u"--stats=1"_qs, u"--SHOW"_qs} << int(Mode::Start) << QString();
        QTest::newRow("index zero counts")
            << QStringList{u"--stats"_qs} << int(Mode::Stats) << QString();
    }

    void dispatchOrder()
    {
        QFETCH(QStringList, args);
        QFETCH(int, mode);
        QFETCH(QString, value);
        const CommandLine::Command command = CommandLine::parse(args);
        QCOMPARE(int(command.mode), mode);
        QCOMPARE(command.value, value);
    }

    void statsOnANewHomeCreatesTheStore()
    {
        QString home;
        const auto env = freshHome(&home);
        const Result r = ulvane({u"--stats"_qs, u"--show"_qs}, env);
        QCOMPARE(r.status, 0);
        const QRegularExpression line(uR"(^\{"count": 0, "disk": (\d+), "fts": true\}\n$)"_qs);
        const auto match = line.match(r.out);
        QVERIFY2(match.hasMatch(), qPrintable(r.out));
        QVERIFY(match.captured(1).toLongLong() > 0);
        const QString vesk = home + u"/.local/share/Vesk"_qs;
        QVERIFY(QFileInfo(vesk + u"/store.sqlite"_qs).isFile());
        QVERIFY(QFileInfo(vesk + u"/Content"_qs).isDir());
        QVERIFY(QFileInfo(vesk + u"/Thumbs"_qs).isDir());

        // The schema holds exactly the seven statements, text for text.
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(vesk + u"/store.sqlite"_qs).constData(), &db,
                                 SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT name, sql FROM sqlite_master WHERE sql IS NOT NULL AND "
                           "name NOT LIKE 'fts\\_%' ESCAPE '\\' ORDER BY rowid",
                           -1, &st, nullptr);
        QStringList sql;
        while (sqlite3_step(st) == SQLITE_ROW)
            sql << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
        sqlite3_finalize(st);
        sqlite3_close(db);
        QCOMPARE(sql.size(), 7);
        QCOMPARE(
            sql[0],
            u"CREATE TABLE clips(\n  id TEXT PRIMARY KEY, created REAL, kind TEXT, excerpt TEXT, title TEXT DEFAULT '',\n  app_bundle TEXT DEFAULT '', app_name TEXT DEFAULT '', digest TEXT,\n  pinned INTEGER DEFAULT 0, has_image INTEGER DEFAULT 0,\n  byte_size INTEGER DEFAULT 0, ocr TEXT DEFAULT ''\n)"_qs);
        QCOMPARE(
            sql[3],
            u"CREATE VIRTUAL TABLE fts USING fts5(\n  excerpt, title, app_name, ocr, content='clips', content_rowid='rowid', prefix='2 3'\n)"_qs);
        QVERIFY(sql[6].startsWith(u"CREATE TRIGGER clips_au AFTER UPDATE ON clips BEGIN\n"_qs));

        // A second run reads the same store.
        QVERIFY(ulvane({u"--stats"_qs}, env).out.startsWith(u"{\"count\": 0, \"disk\": "_qs));
    }

    void selftestPassesTwiceInARow()
    {
        const auto env = freshHome();
        const Result first = ulvane({u"--selftest"_qs, u"--stats"_qs}, env);
        QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
        const QStringList lines = first.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 27);
        for (int i = 0; i < 26; ++i)
            QVERIFY2(lines[i].startsWith(u"PASS "_qs), qPrintable(lines[i]));
        QCOMPARE(lines.first(), u"PASS insert returns id"_qs);
        QCOMPARE(lines[25], u"PASS thumbnail png"_qs);
        QCOMPARE(lines.last(), u"SELFTEST: ALL PASS"_qs);
        QCOMPARE(ulvane({u"--selftest"_qs}, env).out, first.out);
        // Its throw-away stores are gone, and the user's store was never made.
        QCOMPARE(QDir(env.value(u"TMPDIR"_qs)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(!QFileInfo::exists(env.value(u"XDG_DATA_HOME"_qs) + u"/Vesk"_qs));
    }

    void setIconAndMissingImport()
    {
        QString home;
        const auto env = freshHome(&home);
        const Result unknown = ulvane({u"--set-icon"_qs, u"Petroglyph"_qs}, env);
        QCOMPARE(unknown.status, 1);
        QCOMPARE(unknown.out,
                 u"unknown style 'Petroglyph'; valid: petroglyph, knyaz-seal, trypillia-ceramic, "
                 "scythian-gold, trypillia-dark-ember, trypillia-dark-turquoise, "
                 "trypillia-dark-azure-gold\n"_qs);
        const Result set = ulvane({u"--set-icon"_qs, u"petroglyph"_qs}, env);
        QCOMPARE(set.status, 0);
        QCOMPARE(set.out, u"icon set: petroglyph\n"_qs);
        // The user's menu entry now names the style's artwork.
        QFile entry(env.value(u"XDG_DATA_HOME"_qs) + u"/applications/org.brisel.Ulvane.desktop"_qs);
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("ulvane-petroglyph.svg"));
        const Result import = ulvane({u"--import-copyless"_qs}, env);
        QCOMPARE(import.status, 1);
        QCOMPARE(import.out, u"copyless-import: store not found at "_qs + home +
                                 u"/Library/Containers/com.fiplab.copyless2/Data/Library/"
                                 "Application Support/CopyLess/Stores/LocalStore\n"_qs);
    }

    void importCopyLessReadsTheContainer()
    {
        QString home;
        const auto env = freshHome(&home);
        const QString folder = home + u"/Library/Containers/com.fiplab.copyless2/Data/Library/"
                                      "Application Support/CopyLess/Stores/LocalStore"_qs;
        QVERIFY(QDir().mkpath(folder + u"/SnapshotContentFiles/Cache"_qs));
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(folder + u"/Store.sqlite"_qs).constData(), &db),
                 SQLITE_OK);
        const int created = sqlite3_exec(
            db,
            "CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, ZIDENTIFIERVALUE TEXT, "
            "ZCONTENTEXCERPT TEXT, ZTITLE TEXT, ZSOURCEAPPBUNDLEIDENTIFIER TEXT, "
            "ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE REAL, ZTHUMBNAILDATAVALUE BLOB);"
            "INSERT INTO ZMANAGEDSNAPSHOT(ZIDENTIFIERVALUE, ZCONTENTEXCERPT, ZTITLE, "
            "ZCREATIONDATEVALUE) VALUES('A', 'alpha', 'First', 700000000), "
            "('B', 'beta', NULL, 700000001), ('C', 'alpha', NULL, 700000002), "
            "('D', 'no content file', NULL, 700000003);",
            nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QCOMPARE(created, SQLITE_OK);
        for (const auto &[id, text] : {std::pair{"A", "alpha"}, {"B", "beta"}, {"C", "alpha"}}) {
            QFile file(folder + u"/SnapshotContentFiles/Cache/"_qs + QLatin1String(id) +
                       u".pbdata"_qs);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(PBContent::from({{{Uti::plainText, text}}}).toJson());
        }

        const Result first = ulvane({u"--import-copyless"_qs}, env);
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, u"copyless-import: imported=2 skipped=1 total_now=2\n"_qs);
        QVERIFY(first.err.contains(u"[CopyLessImport] imported 2, skipped 1"_qs));
        const Result second = ulvane({u"--import-copyless"_qs}, env);
        QCOMPARE(second.status, 0);
        QCOMPARE(second.out, u"copyless-import: imported=0 skipped=3 total_now=2\n"_qs);
        // The private copy of the database is gone.
        QCOMPARE(QDir(env.value(u"TMPDIR"_qs)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void normalStartWithoutADisplaySaysSo()
    {
        const Result r = ulvane({}, freshHome());
        QVERIFY(r.status != 0);
        QVERIFY(r.err.contains(u"no display"_qs));
    }

    void showWithoutABusStillSucceeds()
    {
        const Result r = ulvane({u"--show"_qs}, freshHome());
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.isEmpty());
    }

    void showReachesTheBus()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_qs);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QProcess bus;
        bus.start(daemon, {u"--session"_qs, u"--nofork"_qs, u"--print-address=1"_qs});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(bus.readLine()).trimmed();
        QVERIFY(!address.isEmpty());
        {
            QDBusConnection connection = QDBusConnection::connectToBus(address, u"cli-test"_qs);
            QVERIFY(connection.isConnected());
            ShowListener listener;
            QVERIFY(connection.connect(QString(), u"/org/brisel/Ulvane"_qs, u"org.brisel.Ulvane"_qs,
                                       u"show"_qs, &listener, SLOT(onShow())));
            auto env = freshHome();
            env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, address);
            const Result r = ulvane({u"--show"_qs}, env);
            QCOMPARE(r.status, 0);
            QTRY_COMPARE(listener.received, 1);
        }
        QDBusConnection::disconnectFromBus(u"cli-test"_qs);
        bus.terminate();
        bus.waitForFinished();
    }
};

ULVANE_TEST_MAIN(TestCli)
#include "test_cli.moc"
