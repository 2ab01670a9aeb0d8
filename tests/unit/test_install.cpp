#include "TestFiles.h"
#include "TestMain.h"

#include "app/AppIconManager.h"
#include "app/EntryProgram.h"
#include "app/LoginItem.h"
#include "core/InstallLayout.h"
#include "platform/xdg/DesktopEntry.h"

namespace {

void writeProgram(const QString &path)
{
    writeText(path, "#!/bin/sh\n");
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

// Where an installed or a freshly built Ulvane finds its files, and how the user's entries
// keep starting it when the install moves.
class TestInstall : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *folder : {"prefix/bin", "build/tests", "build-old", "source"})
            QDir().mkpath(path(QLatin1String(folder)));
        QVERIFY(QFile::link(path(u"build"_qs), path(u"linked-build"_qs)));
    }

    // Only a binary inside the build tree may read the sources: an installed one that did
    // would work on the developer's machine and nowhere else.
    void dataFolders_data()
    {
        QTest::addColumn<QString>("applicationDir");
        QTest::addColumn<QString>("buildDir");
        QTest::addColumn<bool>("readsSources");
        QTest::newRow("installed") << u"prefix/bin"_qs << u"build"_qs << false;
        QTest::newRow("build tree") << u"build"_qs << u"build"_qs << true;
        QTest::newRow("through a link") << u"linked-build/tests"_qs << u"build"_qs << true;
        QTest::newRow("a sibling named alike") << u"build-old"_qs << u"build"_qs << false;
        QTest::newRow("no build known") << u"build"_qs << QString() << false;
    }

    void dataFolders()
    {
        QFETCH(QString, applicationDir);
        QFETCH(QString, buildDir);
        QFETCH(bool, readsSources);
        const QString appDir = path(applicationDir);
        const InstallLayout layout(appDir, buildDir.isEmpty() ? buildDir : path(buildDir),
                                   path(u"source"_qs));
        const QString prefix = QDir::cleanPath(appDir + u"/.."_qs);
        QStringList icons{prefix + u"/share/ulvane/icons"_qs};
        QStringList readmes{prefix + u"/share/doc/ulvane/README.md"_qs};
        if (readsSources) {
            icons.append(path(u"source/resources/icons"_qs));
            readmes.append(path(u"source/README.md"_qs));
        }
        QCOMPARE(layout.iconDirectories(), icons);
        QCOMPARE(layout.readmePaths(), readmes);
    }

    void entryProgram()
    {
        const QString bin = path(u"new/bin"_qs);
        const QString binary = bin + u"/ulvane"_qs;
        writeProgram(binary);
        writeProgram(path(u"other/ulvane"_qs));
        const struct
        {
            QStringList searchPaths;
            QString named;
        } cases[] = {
            {{bin}, u"ulvane"_qs},
            {{path(u"other"_qs), bin}, binary}, // the search would start another
            {{path(u"prefix/bin"_qs)}, binary}, // not on the search path at all
        };
        for (const auto &c : cases)
            QCOMPARE(EntryProgram::forExecutable(binary, c.searchPaths), c.named);

        const QStringList searchPaths{bin};
        QVERIFY(EntryProgram::canStart(u"ulvane --show"_qs, searchPaths));
        QVERIFY(!EntryProgram::canStart(u"ulvane-gone"_qs, searchPaths));
        QVERIFY(!EntryProgram::canStart(path(u"gone/bin/ulvane"_qs), searchPaths));
    }

    // An install removed from one prefix and made in another: the autostart entry and the
    // menu entry start the new binary, and everything else the user set stays.
    void entriesFollowTheProgramToItsNewPrefix()
    {
        const QString gone = path(u"old-prefix/bin/ulvane"_qs);
        const QString binary = path(u"new-prefix/bin/ulvane"_qs);
        writeProgram(binary);
        const QString autostart = path(u"config/autostart/"_qs + DesktopEntry::fileName);
        const auto autostartExec = [&] {
            return DesktopEntry::value(QString::fromUtf8(fileText(autostart)), u"Exec"_qs);
        };
        QVERIFY(LoginItem(autostart, gone).set(true));
        LoginItem(autostart, binary).repair();
        QCOMPARE(autostartExec(), binary);
        QVERIFY(LoginItem(autostart, gone).set(true));
        writeText(autostart, fileText(autostart) + "Hidden=true\n");
        LoginItem(autostart, binary).repair(); // switched off in the desktop's settings
        QCOMPARE(autostartExec(), gone);

        const QString icons = path(u"new-prefix/share/ulvane/icons"_qs);
        writeText(icons + u"/ulvane-petroglyph.svg"_qs,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"/>");
        const QString menu = path(u"data/applications/"_qs + DesktopEntry::fileName);
        writeText(menu, "[Desktop Entry]\nType=Application\nName=My Clips\nExec=" + gone.toUtf8() +
                            " --show\nIcon=/old-prefix/icon.svg\n");
        QString error;
        QVERIFY2(AppIconManager({icons}, menu, binary)
                     .installDesktopEntry(AppIconStyle::Petroglyph, &error),
                 qPrintable(error));
        const QString text = QString::fromUtf8(fileText(menu));
        QCOMPARE(DesktopEntry::value(text, u"Exec"_qs), binary);
        QCOMPARE(DesktopEntry::value(text, u"Icon"_qs), icons + u"/ulvane-petroglyph.svg"_qs);
        QCOMPARE(DesktopEntry::value(text, u"Name"_qs), u"My Clips"_qs);
    }
};

ULVANE_TEST_MAIN(TestInstall)
#include "test_install.moc"
