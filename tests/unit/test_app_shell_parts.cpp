#include "ContentBuilders.h"
#include "StderrCapture.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "app/AboutWindow.h"
#include "app/AppIconManager.h"
#include "app/AppIconPicker.h"
#include "app/LoginItem.h"
#include "platform/xdg/DesktopEntry.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QFile>
#include <QLabel>
#include <QSignalSpy>

namespace {

const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">"
                       "<rect width=\"64\" height=\"64\" rx=\"14\" fill=\"#c08030\"/></svg>";

void writeArtwork(const QString &folder, const QString &style, const QByteArray &bytes = svg)
{
    writeText(folder + u"/ulvane-"_qs + style + u".svg"_qs, bytes);
}

} // namespace

class TestAppShellParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Prefs::setAppIconStyle(QString()); }

    void loginItemWritesAndRemovesTheAutostartEntry()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"autostart/"_qs + DesktopEntry::fileName);
        LoginItem item(path, u"/opt/My Apps/ul$vane%1"_qs);
        QVERIFY(!item.isEnabled());
        QVERIFY(item.set(true));
        QVERIFY(item.isEnabled());
        const QString text = QString::fromUtf8(fileText(path));
        QVERIFY(text.contains(u"Type=Application\n"_qs));
        // Quoted for the space, '$' escaped inside the quotes (then as a string value), '%'
        // doubled.
        QVERIFY(text.contains(u"Exec=\"/opt/My Apps/ul\\\\$vane%%1\"\n"_qs));

        QVERIFY(item.set(false));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!item.isEnabled());
        QVERIFY(item.set(false)); // nothing left to remove

        // Switching on replaces whatever the desktop's settings left there.
        writeText(path, "[Desktop Entry]\nHidden = true \n");
        QVERIFY(!item.isEnabled());
        QVERIFY(item.set(true));
        QVERIFY(item.isEnabled());
    }

    void desktopEntryEditing()
    {
        const QString entry = u"# made by hand\n[Desktop Entry]\nName=My Clips\nIcon=old\n\n"
                              "[Desktop Action new]\nIcon=keep\n"_qs;
        const QString replaced = DesktopEntry::withValue(entry, u"Icon"_qs, u"/a b.svg"_qs);
        QCOMPARE(replaced, u"# made by hand\n[Desktop Entry]\nName=My Clips\nIcon=/a b.svg\n\n"
                           "[Desktop Action new]\nIcon=keep\n"_qs);
        const QString added = DesktopEntry::withValue(entry, u"Exec"_qs, u"ulvane"_qs);
        QCOMPARE(added, u"# made by hand\n[Desktop Entry]\nName=My Clips\nIcon=old\nExec=ulvane\n"
                        "\n[Desktop Action new]\nIcon=keep\n"_qs);
        QVERIFY(DesktopEntry::withValue(u"Icon=x\n"_qs, u"Icon"_qs, u"y"_qs).isNull());
    }

    // The first icon folder that holds a style's file wins; the user's own entry keeps
    // everything but the icon.
    void applyPointsTheMenuEntryAtTheArtwork()
    {
        QTemporaryDir dir;
        const QString installed = dir.filePath(u"share"_qs);
        const QString source = dir.filePath(u"source"_qs);
        writeArtwork(installed, u"petroglyph"_qs);
        writeArtwork(source, u"petroglyph"_qs);
        writeArtwork(source, u"scythian-gold"_qs);
        writeArtwork(source, u"knyaz-seal"_qs, "not an svg");
        const QString entry = dir.filePath(u"applications/"_qs + DesktopEntry::fileName);
        AppIconManager icons({installed, source}, entry, u"/usr/local/bin/ulvane"_qs);
        QVERIFY(icons.hasArtwork(AppIconStyle::Petroglyph));
        QVERIFY(!icons.hasArtwork(AppIconStyle::KnyazSeal));

        icons.apply(AppIconStyle::ScythianGold);
        QCOMPARE(Prefs::appIconStyle(), u"scythian-gold"_qs);
        QString text = QString::fromUtf8(fileText(entry));
        QCOMPARE(DesktopEntry::value(text, u"Icon"_qs), source + u"/ulvane-scythian-gold.svg"_qs);
        QCOMPARE(DesktopEntry::value(text, u"Exec"_qs), u"/usr/local/bin/ulvane"_qs);
        QVERIFY(!QGuiApplication::windowIcon().isNull());

        writeText(entry, text.replace(u"Name=Ulvane"_qs, u"Name=My Clips"_qs).toUtf8());
        icons.apply(AppIconStyle::Petroglyph);
        text = QString::fromUtf8(fileText(entry));
        QCOMPARE(DesktopEntry::value(text, u"Name"_qs), u"My Clips"_qs);
        QCOMPARE(DesktopEntry::value(text, u"Icon"_qs), installed + u"/ulvane-petroglyph.svg"_qs);
        QCOMPARE(text.count(u"Icon="_qs), 1);
    }

    // Logged only: the choice is stored all the same and the menu entry stays as it was.
    void applyFailureIsLogged_data()
    {
        QTest::addColumn<QByteArray>("artwork"); // empty: no file
        QTest::addColumn<bool>("blocked");       // a file where the entry's folder should be
        QTest::addColumn<QByteArray>("logged");
        const QByteArray missing = "[AppIcon] missing bundled icns for knyaz-seal\n";
        QTest::newRow("no artwork") << QByteArray() << false << missing;
        QTest::newRow("entry folder is a file")
            << svg << true
            << QByteArray("[AppIcon] menu entry not updated: cannot create the folder");
    }

    void applyFailureIsLogged()
    {
        QFETCH(QByteArray, artwork);
        QFETCH(bool, blocked);
        QFETCH(QByteArray, logged);
        QTemporaryDir dir;
        const QString art = dir.filePath(u"icons"_qs);
        QDir().mkpath(art);
        if (!artwork.isEmpty())
            writeArtwork(art, u"knyaz-seal"_qs, artwork);
        const QString folder = dir.filePath(u"applications"_qs);
        const QString entry = blocked ? folder : folder + u"/"_qs + DesktopEntry::fileName;
        const QByteArray before = "[Desktop Entry]\nName=Ulvane\nIcon=/old.svg\n";
        writeText(entry, before);
        AppIconManager icons({art}, folder + u"/"_qs + DesktopEntry::fileName, u"ulvane"_qs);
        StderrCapture log;
        icons.apply(AppIconStyle::KnyazSeal);
        const QByteArray text = log.text();
        QVERIFY2(text.contains(logged), text);
        QCOMPARE(Prefs::appIconStyle(), u"knyaz-seal"_qs);
        QCOMPARE(fileText(entry), before);
        if (blocked)
            return;
        // At launch a style without artwork is passed over without a word.
        StderrCapture quiet;
        icons.applyStored();
        QCOMPARE(quiet.text(), QByteArray());
    }

    // Stored names are matched exactly: a capitalised one falls back to the default.
    void storedStyleFallsBackToTheDefault()
    {
        for (const auto &[stored, style] :
             {std::pair{u"Petroglyph"_qs, AppIconStyle::TrypilliaDarkAzureGold},
              std::pair{u"trypillia-ceramic"_qs, AppIconStyle::TrypilliaCeramic}}) {
            Prefs::setAppIconStyle(stored);
            AppIconManager icons({}, u"/nonexistent/x.desktop"_qs, u"x"_qs);
            QCOMPARE(icons.storedStyle(), style);
            QCOMPARE(AppIconPicker(icons).selected(), style);
        }
    }

    void pickerLaysOutTheStylesAndAppliesOnClick()
    {
        QTemporaryDir dir;
        const QString art = dir.filePath(u"icons"_qs);
        writeArtwork(art, u"scythian-gold"_qs);
        const QString entry = dir.filePath(DesktopEntry::fileName);
        AppIconManager icons({art}, entry, u"ulvane"_qs);
        AppIconPicker picker(icons);

        picker.show();
        QVERIFY(QTest::qWaitForWindowExposed(&picker));
        picker.resize(452, picker.heightForWidth(452));
        // Painting copes with tiles whose artwork is missing.
        QVERIFY(!picker.grab().isNull());

        QSignalSpy applied(&picker, &AppIconPicker::styleApplied);
        QTest::mouseClick(&picker, Qt::LeftButton, {}, picker.tileRect(3).center());
        QCOMPARE(picker.selected(), AppIconStyle::ScythianGold);
        QVERIFY(fileText(entry).contains("ulvane-scythian-gold.svg"));
        // The selected tile applies again.
        QTest::mouseClick(&picker, Qt::LeftButton, {}, picker.tileRect(3).center());
        QCOMPARE(applied.count(), 2);
        // Released on another tile: nothing.
        QTest::mousePress(&picker, Qt::LeftButton, {}, picker.tileRect(0).center());
        QTest::mouseRelease(&picker, Qt::LeftButton, {}, picker.tileRect(1).center());
        QCOMPARE(applied.count(), 2);
        // Keyboard: move left and apply.
        picker.setFocus();
        QTest::keyClick(&picker, Qt::Key_Left);
        QTest::keyClick(&picker, Qt::Key_Space);
        QCOMPARE(picker.selected(), AppIconStyle::TrypilliaCeramic);
    }

    void aboutFiguresFollowTheStore()
    {
        QTemporaryDir dir;
        Store store(dir.path());
        AboutWindow about(store);
        auto figure = [&about](const char *name) {
            return about.findChild<QLabel *>(QLatin1String(name))->text();
        };
        QCOMPARE(figure("clipsValue"), u"0"_qs);
        QVERIFY(figure("makerLink")
                    .contains(u"href=\"%1\""_qs.arg(AboutWindow::makerPage().toString())));
        store.add(newClip(textItems(u"one"_qs), Util::now()));
        // Read when shown, not while open.
        QCOMPARE(figure("clipsValue"), u"0"_qs);
        about.show();
        QCOMPARE(figure("clipsValue"), u"1"_qs);
        QCOMPARE(figure("diskValue"),
                 QLocale().formattedDataSize(store.diskSize(), 1, QLocale::DataSizeSIFormat));
    }
};

ULVANE_WIDGET_TEST_MAIN(TestAppShellParts, false)
#include "test_app_shell_parts.moc"
