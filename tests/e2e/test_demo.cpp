// scripts/demo end to end: it brings up its own private X session, so this test needs no
// display. It runs the demo once into a temporary folder and checks that it produced every
// file it promises: a picture of each window, the self-check's report and the store's figures.
#include "TestFiles.h"
#include "TestMain.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

namespace {

// Bounded only to tell a hang: ten times what a whole demo takes, within the runner's limit.
constexpr int demoTimeoutMs = 280000;

QString buildDir()
{
    return QFileInfo(QStringLiteral(ULVANE_BINARY)).absolutePath();
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_out{QDir::tempPath() + u"/demo-out-XXXXXX"_qs};

private Q_SLOTS:
    void producesItsScreenshotsAndReports()
    {
        QVERIFY(m_out.isValid());
        QProcess demo;
        demo.start(QStringLiteral(ULVANE_DEMO_SCRIPT), {buildDir(), m_out.path()});
        QVERIFY(demo.waitForStarted());
        if (!demo.waitForFinished(demoTimeoutMs))
            demo.kill();
        const QByteArray output = demo.readAllStandardOutput() + "\n" + demo.readAllStandardError();
        QVERIFY2(demo.exitStatus() == QProcess::NormalExit && demo.exitCode() == 0, output);
        QVERIFY(output.contains(QFile::encodeName(m_out.path())));

        for (const char *name : {"panel.png", "panel-search.png", "panel-preview.png",
                                 "settings.png", "settings-shortcuts.png", "settings-filters.png",
                                 "settings-appearance.png", "settings-data.png", "about.png"})
            QVERIFY2(!QImage(m_out.filePath(QLatin1String(name))).isNull(), name);

        // What the reports say is the command line's test; here only that the demo wrote them.
        for (const char *name : {"selftest.txt", "stats.txt"})
            QVERIFY2(!fileText(m_out.filePath(QLatin1String(name))).isEmpty(), name);
    }
};

ULVANE_TEST_MAIN(TestDemo)
#include "test_demo.moc"
