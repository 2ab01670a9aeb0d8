#include "TestFiles.h"
#include "TestMain.h"

#include "platform/xdg/DesktopEntry.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QTemporaryDir>

#include <optional>

// The desktop-entry reader behind application names, icons and the autostart entry. Entry
// files are written by other programs and by hand, so every malformed shape has a row here.
class TestDesktopEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // name empty: no application entry.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QString>("wmClass");
        const QString none;

        QTest::newRow("plain application")
            << QByteArray("[Desktop Entry]\nType=Application\nName=Editor\nIcon=ed\n") << "Editor"
            << "ed" << none;
        QTest::newRow("no type counts as an application")
            << QByteArray("[Desktop Entry]\nName=Tool\nStartupWMClass=ToolWin\n") << "Tool" << none
            << "ToolWin";
        QTest::newRow("no main group")
            << QByteArray("[Desktop Action new]\nName=Window\n") << none << none << none;
        QTest::newRow("hidden, any case")
            << QByteArray("[Desktop Entry]\nName=Gone\nHidden=TRUE\n") << none << none << none;
        QTest::newRow("a link, not an application")
            << QByteArray("[Desktop Entry]\nType=Link\nName=Site\nURL=https://x\n") << none << none
            << none;
        QTest::newRow("other groups' keys ignored")
            << QByteArray("[Desktop Entry]\nName=Main\n[Desktop Action new]\nName=New\nIcon=n\n")
            << "Main" << none << none;
        QTest::newRow("comments, blanks and lines without a key")
            << QByteArray("# a comment\n\n[Desktop Entry]\nnonsense\n=value\n  Name = Spaced  \n")
            << "Spaced" << none << none;
        QTest::newRow("the first of a repeated key")
            << QByteArray("[Desktop Entry]\nName=First\nName=Second\n") << "First" << none << none;
        QTest::newRow("localised names are other keys")
            << QByteArray("[Desktop Entry]\nName[de]=Zweiter\nName=Second\n") << "Second" << none
            << none;
        QTest::newRow("escapes") << QByteArray("[Desktop Entry]\nName=\\sA\\\\B\\tC\\\n")
                                 << " A\\B\tC\\" << none << none;
        QTest::newRow("CRLF line ends")
            << QByteArray("[Desktop Entry]\r\nName=Windows\r\nIcon=w\r\n") << "Windows"
            << "w" << none;
        QTest::newRow("too large") << QByteArray("[Desktop Entry]\nName=Big\n#") +
                                          QByteArray(int(DesktopEntry::maxFileBytes), 'x')
                                   << none << none << none;
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, name);
        QFETCH(QString, icon);
        QFETCH(QString, wmClass);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("app.desktop"));
        writeText(path, body);
        const std::optional<DesktopEntryIndex::Entry> entry =
            DesktopEntryIndex::parse(path, QStringLiteral("app"));
        QCOMPARE(entry ? entry->name : QString(), name);
        QCOMPARE(entry.has_value(), !name.isEmpty());
        if (entry) {
            QCOMPARE(entry->id, QStringLiteral("app"));
            QCOMPARE(entry->icon, icon);
            QCOMPARE(entry->startupWMClass, wmClass);
        }
    }

    void unreadableFiles()
    {
        QTemporaryDir dir;
        QVERIFY(!DesktopEntryIndex::parse(dir.filePath(QStringLiteral("missing.desktop")), {}));
        QVERIFY(!DesktopEntryIndex::parse(dir.path(), {})); // a folder
        QVERIFY(!DesktopEntry::readFile(dir.filePath(QStringLiteral("missing.desktop"))));
    }
};

ULVANE_TEST_MAIN(TestDesktopEntry)
#include "test_desktop_entry.moc"
