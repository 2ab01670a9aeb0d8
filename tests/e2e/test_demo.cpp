// scripts/demo end to end: it brings up its own private X session, so this test needs no
// display. It runs the demo once into a temporary folder and checks that it produced every
// file it promises: a picture of each window, the self-check's report and the store's figures.
#include "TestMain.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>

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

    QByteArray readText(const QString &name) const
    {
        QFile file(m_out.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

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

        QVERIFY(readText(u"selftest.txt"_qs).trimmed().endsWith("SELFTEST: ALL PASS"));
        // The clips the demo copied are in the store.
        const QRegularExpressionMatch count =
            QRegularExpression(u"\"count\":\\s*(\\d+)"_qs)
                .match(QString::fromUtf8(readText(u"stats.txt"_qs)));
        QVERIFY(count.hasMatch());
        const int clips = count.captured(1).toInt();
        QVERIFY2(clips >= 6 && clips <= 10, qPrintable(QString::number(clips)));
    }
};

ULVANE_TEST_MAIN(TestDemo)
#include "test_demo.moc"
