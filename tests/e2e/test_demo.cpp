// scripts/demo end to end: it brings up its own private X session, so this test needs no
// display. It runs the demo once into a temporary folder and checks that every screenshot is a
// real picture of the window it names, and that the history it built made it into them.
#include "TestMain.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

namespace {

constexpr int demoTimeoutMs = 150000;

const QStringList screenshots = {u"panel.png"_qs,
                                 u"panel-search.png"_qs,
                                 u"panel-preview.png"_qs,
                                 u"settings.png"_qs,
                                 u"settings-shortcuts.png"_qs,
                                 u"settings-filters.png"_qs,
                                 u"settings-appearance.png"_qs,
                                 u"settings-data.png"_qs,
                                 u"about.png"_qs};

QString buildDir()
{
    return QFileInfo(QStringLiteral(ULVANE_BINARY)).absolutePath();
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

bool containsColour(const QImage &image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour)
                return true;
        }
    }
    return false;
}

} // namespace

class TestDemo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_out{QDir::tempPath() + u"/demo-out-XXXXXX"_qs};
    QByteArray m_stdout;
    QByteArray m_stderr;
    int m_exitCode = -1;

    QImage load(const QString &name) const { return QImage(m_out.filePath(name)); }

    QByteArray readText(const QString &name) const
    {
        QFile file(m_out.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_out.isValid());
        QProcess demo;
        demo.start(QStringLiteral(ULVANE_DEMO_SCRIPT), {buildDir(), m_out.path()});
        QVERIFY(demo.waitForStarted());
        if (!demo.waitForFinished(demoTimeoutMs))
            demo.kill();
        m_stdout = demo.readAllStandardOutput();
        m_stderr = demo.readAllStandardError();
        m_exitCode = demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1;
    }

    void finishesAndSaysWhereTheFilesAre()
    {
        QVERIFY2(m_exitCode == 0, m_stdout + "\n" + m_stderr);
        QVERIFY(m_stdout.contains(QFile::encodeName(m_out.path())));
    }

    void everyScreenshotIsAWindowWithContent_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : screenshots)
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyScreenshotIsAWindowWithContent()
    {
        QFETCH(QString, name);
        const QImage image = load(name);
        QVERIFY2(!image.isNull(), qPrintable(name + u" is missing or not an image"_qs));
        // Cropped to one window: never the whole 1920×1080 screen, never a sliver.
        QVERIFY2(image.width() >= 300 && image.width() <= 1400 && image.height() >= 250 &&
                     image.height() <= 900,
                 qPrintable(u"%1x%2"_qs.arg(image.width()).arg(image.height())));
        // Antialiased text, icons and accents; a blank or single-colour window has a handful.
        const int colours = distinctColours(image);
        QVERIFY2(colours > 150, qPrintable(QString::number(colours)));
    }

    void thePickerShowsTheCopiedHistory()
    {
        // Each application the demo copies from has a desktop entry whose icon is a square of
        // one colour; the rows draw it, so it shows which clips were stored and credited.
        const QRgb notes = qRgb(0x3B, 0xA7, 0x76), code = qRgb(0x7C, 0x5C, 0xFF),
                   browser = qRgb(0xE8, 0x76, 0x2D), viewer = qRgb(0xD9, 0x4C, 0x7A),
                   files = qRgb(0xC9, 0x9A, 0x2E);
        const QImage panel = load(u"panel.png"_qs);
        QVERIFY(!panel.isNull());
        for (const QRgb app : {notes, code, browser, viewer, files})
            QVERIFY2(containsColour(panel, app), qPrintable(QString::number(app, 16)));

        // "invoice" is in the code and the meeting notes (and, once read, the image), never
        // in the link or the file list.
        const QImage search = load(u"panel-search.png"_qs);
        QVERIFY(!search.isNull());
        QVERIFY(containsColour(search, notes));
        QVERIFY(containsColour(search, code));
        QVERIFY(!containsColour(search, browser));
        QVERIFY(!containsColour(search, files));

        const QImage preview = load(u"panel-preview.png"_qs);
        QVERIFY(!preview.isNull());
        QCOMPARE(preview.size(), search.size());
        QVERIFY(preview != search);
    }

    void eachSettingsTabIsItsOwnPicture()
    {
        QList<QImage> tabs;
        for (const QString &name : screenshots) {
            if (name.startsWith(u"settings"_qs))
                tabs.append(load(name));
        }
        QCOMPARE(tabs.size(), 5);
        // Clicks that missed the tab strip would leave the General page in every picture.
        for (int i = 0; i < tabs.size(); ++i) {
            QVERIFY(!tabs[i].isNull());
            QCOMPARE(tabs[i].size(), tabs[0].size());
            for (int j = i + 1; j < tabs.size(); ++j)
                QVERIFY2(tabs[i] != tabs[j], qPrintable(u"tabs %1 and %2"_qs.arg(i).arg(j)));
        }
        QVERIFY(load(u"about.png"_qs).size() != tabs[0].size());
    }

    void theTextReportsComeAlong()
    {
        QVERIFY(readText(u"selftest.txt"_qs).trimmed().endsWith("SELFTEST: ALL PASS"));
        const QRegularExpressionMatch count =
            QRegularExpression(u"\"count\":\\s*(\\d+)"_qs)
                .match(QString::fromUtf8(readText(u"stats.txt"_qs)));
        QVERIFY(count.hasMatch());
        const int clips = count.captured(1).toInt();
        QVERIFY2(clips >= 6 && clips <= 10, qPrintable(QString::number(clips)));
    }

    void aMissingBinaryFailsWithAClearMessage()
    {
        const QTemporaryDir empty;
        QProcess demo;
        demo.start(QStringLiteral(ULVANE_DEMO_SCRIPT), {empty.path(), m_out.filePath(u"x"_qs)});
        QVERIFY(demo.waitForFinished(30000));
        QVERIFY(demo.exitCode() != 0);
        QVERIFY(demo.readAllStandardError().contains("is not built"));
        QVERIFY(!QFileInfo::exists(m_out.filePath(u"x/panel.png"_qs)));
    }
};

ULVANE_TEST_MAIN(TestDemo)
#include "test_demo.moc"
