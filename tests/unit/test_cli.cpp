#include "CopyLessFolder.h"
#include "TestMain.h"

#include "app/CommandLine.h"

#include <QProcess>
#include <QRegularExpression>

using CommandLine::Mode;

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_homes = 0;

    // A home of its own, without a display or a session bus.
    QProcessEnvironment freshHome()
    {
        const QString home = m_root.path() + u"/home%1"_qs.arg(++m_homes);
        QDir().mkpath(home + u"/tmp"_qs);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[name, sub] : {std::pair{"HOME", ""},
                                        {"XDG_DATA_HOME", "/.local/share"},
                                        {"XDG_CONFIG_HOME", "/.config"},
                                        {"TMPDIR", "/tmp"}})
            env.insert(QLatin1String(name), home + QLatin1String(sub));
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent/bus"_qs);
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

    // Throw-away copies of databases live in TMPDIR only while they are used.
    static QStringList leftInTmp(const QProcessEnvironment &env)
    {
        return QDir(env.value(u"TMPDIR"_qs)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void dispatchOrder()
    {
        const struct
        {
            const char *args;
            Mode mode;
            const char *value;
        } cases[] = {
            {"/usr/bin/ulvane", Mode::Start, ""},
            {"/usr/bin/ulvane --show --stats --selftest", Mode::SelfTest, ""},
            {"/usr/bin/ulvane --stats --import-copyless", Mode::ImportCopyLess, ""},
            {"/usr/bin/ulvane --show --stats", Mode::Stats, ""},
            {"/usr/bin/ulvane --show --set-icon petroglyph", Mode::SetIcon, "petroglyph"},
            {"/usr/bin/ulvane --show --set-icon", Mode::Show, ""}, // no value: the word is ignored
            {"/usr/bin/ulvane --stats=1 --SHOW", Mode::Start, ""}, // whole words only
            {"--stats", Mode::Stats, ""},                          // index zero counts
            {"/usr/bin/ulvane --selftest --version -h", Mode::Help, ""},
            {"/usr/bin/ulvane --show --selftest --version", Mode::Version, ""},
            {"/usr/bin/ulvane -help --Version", Mode::Start, ""},
        };
        for (const auto &c : cases) {
            const CommandLine::Command command =
                CommandLine::parse(QString::fromLatin1(c.args).split(u' '));
            QVERIFY2(command.mode == c.mode && command.value == QLatin1String(c.value), c.args);
        }
    }

    void statsOnANewHomeCreatesTheStore()
    {
        const auto env = freshHome();
        const Result r = ulvane({u"--stats"_qs, u"--show"_qs}, env);
        QCOMPARE(r.status, 0);
        const QRegularExpression line(uR"(^\{"count": 0, "disk": (\d+), "fts": true\}\n$)"_qs);
        const auto match = line.match(r.out);
        QVERIFY2(match.hasMatch(), qPrintable(r.out));
        QVERIFY(match.captured(1).toLongLong() > 0);
        // Where: the folder's layout is the store's own test.
        QVERIFY(QFileInfo(env.value(u"XDG_DATA_HOME"_qs) + u"/Vesk/store.sqlite"_qs).isFile());
    }

    void selftestPassesTwiceInARow()
    {
        const auto env = freshHome();
        const Result first = ulvane({u"--selftest"_qs, u"--stats"_qs}, env);
        QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
        const QStringList lines = first.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 27);
        for (const QString &check : lines.first(26))
            QVERIFY2(check.startsWith(u"PASS "_qs), qPrintable(check));
        QCOMPARE(lines.last(), u"SELFTEST: ALL PASS"_qs);
        QCOMPARE(ulvane({u"--selftest"_qs}, env).out, first.out);
        // Its throw-away stores are gone, and the user's store was never made.
        QCOMPARE(leftInTmp(env), QStringList());
        QVERIFY(!QFileInfo::exists(env.value(u"XDG_DATA_HOME"_qs) + u"/Vesk"_qs));
    }

    void setIconAndImportCopyLess()
    {
        const auto env = freshHome();
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

        const QString folder = env.value(u"HOME"_qs) +
                               u"/Library/Containers/com.fiplab.copyless2/Data/Library/"
                               "Application Support/CopyLess/Stores/LocalStore"_qs;
        const Result missing = ulvane({u"--import-copyless"_qs}, env);
        QCOMPARE(missing.status, 1);
        QCOMPARE(missing.out, u"copyless-import: store not found at "_qs + folder + u'\n');

        {
            CopyLessFolder copyless(folder);
            copyless.addText(u"A"_qs, u"alpha"_qs, 700000000);
            copyless.addText(u"C"_qs, u"alpha"_qs, 700000002);
            QVERIFY(copyless.ok);
        }
        const Result first = ulvane({u"--import-copyless"_qs}, env);
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out, u"copyless-import: imported=1 skipped=1 total_now=1\n"_qs);
        QCOMPARE(ulvane({u"--import-copyless"_qs}, env).out,
                 u"copyless-import: imported=0 skipped=2 total_now=1\n"_qs);
        QCOMPARE(leftInTmp(env), QStringList());
    }

    // Both answer at once where a start would have tried the display, and write nothing.
    void helpAndVersion()
    {
        auto env = freshHome();
        env.insert(u"DISPLAY"_qs, u":99"_qs);
        const Result version = ulvane({u"--version"_qs}, env);
        QCOMPARE(version.status, 0);
        QVERIFY2(
            QRegularExpression(uR"(^ulvane \d+\.\d+\.\d+\n$)"_qs).match(version.out).hasMatch(),
            qPrintable(version.out));
        const Result help = ulvane({u"-h"_qs}, env);
        QCOMPARE(help.status, 0);
        QVERIFY(help.err.isEmpty());
        for (const char *mode :
             {"--selftest", "--import-copyless", "--stats", "--set-icon", "--show"})
            QVERIFY2(help.out.contains(QLatin1String(mode)), mode);
        QCOMPARE(QDir(env.value(u"HOME"_qs))
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{u"tmp"_qs});
    }

    // Without a display a normal start says so and fails; --show without a bus still succeeds.
    void noDisplayAndNoBus()
    {
        const auto env = freshHome();
        const Result start = ulvane({}, env);
        QVERIFY(start.status != 0);
        QVERIFY(start.err.contains(u"no display"_qs));
        const Result show = ulvane({u"--show"_qs}, env);
        QCOMPARE(show.status, 0);
        QVERIFY(show.out.isEmpty());
    }
};

ULVANE_TEST_MAIN(TestCli)
#include "test_cli.moc"
