#include "unit/TestMain.h"

#include "prefs/Prefs.h"
#include "store/NotificationCenter.h"

#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

namespace {

// The settings in load order, with their defaults.
const QList<std::pair<const char *, QVariant>> &table()
{
    static const QList<std::pair<const char *, QVariant>> rows = {
        {"historyCap", 1000},
        {"autoPaste", true},
        {"plainTextMode", false},
        {"soundOn", false},
        {"ignoreHandoff", false},
        {"ignoredApps",
         QStringLiteral("# One bundle id per line. Clips from these apps are never captured.\n"
                        "com.apple.keychainaccess\ncom.bitwarden.desktop\n"
                        "com.1password.1password\ncom.agilebits.onepassword7")},
        {"fontSize", 13},
        {"density", 1},
        {"showHotkeyLabel", QStringLiteral("\u2325\u2318V")},
        {"serialNextHotkeyLabel", QStringLiteral("Off")},
        {"plainModeHotkeyLabel", QStringLiteral("Off")},
        {"pauseHotkeyLabel", QStringLiteral("Off")},
        {"paused", false},
    };
    return rows;
}

// A value of the property's type that differs from its default.
QVariant otherValue(const QVariant &fallback)
{
    switch (fallback.typeId()) {
    case QMetaType::Int:
        return fallback.toInt() + 7;
    case QMetaType::Bool:
        return !fallback.toBool();
    default:
        return QStringLiteral("\u2303\u21e7\u0416 \u043f\u0440\u0438\u0432\u0435\u0442\n#x");
    }
}

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestPrefs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_case = 0;

private Q_SLOTS:
    void init()
    {
        // A folder that does not exist yet: the first write has to create it.
        m_path = m_dir.filePath(QStringLiteral("case%1/ulvane/ulvane.conf").arg(++m_case));
    }

    void propertiesAreObservableInLoadOrder()
    {
        const QMetaObject &meta = Prefs::staticMetaObject;
        const int first = meta.propertyOffset();
        QCOMPARE(meta.propertyCount() - first, table().size() + 1);
        for (qsizetype i = 0; i < table().size(); ++i) {
            const QMetaProperty property = meta.property(first + int(i));
            QCOMPARE(property.name(), table()[i].first);
            QVERIFY(property.isWritable());
            QVERIFY(property.hasNotifySignal());
        }
        const QMetaProperty derived = meta.property(meta.indexOfProperty("ignoredBundleIDs"));
        QVERIFY(!derived.isWritable());
        QVERIFY(derived.hasNotifySignal());
    }

    void emptyFileReadsDefaultsAndWritesNothing()
    {
        {
            Prefs prefs(m_path);
            QCOMPARE(prefs.settingsPath(), m_path);
            for (const auto &[name, fallback] : table())
                QCOMPARE(prefs.property(name), fallback);
        }
        QVERIFY(!QFile::exists(m_path));
    }

    void setWritesThroughAndAnnouncesOnce_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QVariant>("value");
        for (const auto &[name, fallback] : table()) {
            QTest::addRow("%s changed", name) << QByteArray(name) << otherValue(fallback);
            QTest::addRow("%s unchanged", name) << QByteArray(name) << fallback;
        }
        QTest::addRow("historyCap unlimited") << QByteArray("historyCap") << QVariant(0);
        QTest::addRow("ignoredApps cleared") << QByteArray("ignoredApps") << QVariant(QString());
    }

    void setWritesThroughAndAnnouncesOnce()
    {
        QFETCH(QByteArray, name);
        QFETCH(QVariant, value);
        Prefs prefs(m_path);
        const QMetaProperty property =
            prefs.metaObject()->property(prefs.metaObject()->indexOfProperty(name));
        QSignalSpy notify(&prefs, property.notifySignal());
        QSignalSpy posted(&NotificationCenter::shared(), &NotificationCenter::prefsChanged);
        QSignalSpy named(&NotificationCenter::shared(), &NotificationCenter::posted);

        QVERIFY(property.write(&prefs, value));
        QCOMPARE(notify.count(), 1);
        QCOMPARE(posted.count(), 1);
        QCOMPARE(named.count(), 1);
        QCOMPARE(named.first().first().toString(), QStringLiteral("veskPrefsChanged"));
        QCOMPARE(prefs.property(name), value);

        // On disk before the object goes away, as another process would read it, and only
        // the key that was set.
        QSettings onDisk(m_path, QSettings::IniFormat);
        QCOMPARE(onDisk.allKeys(), QStringList{QString::fromLatin1(name)});
        const Prefs reloaded(m_path);
        QCOMPARE(reloaded.property(name), value);
    }

    void damagedValuesReadAsDefaults()
    {
        writeFile(m_path, "[General]\n"
                          "historyCap=abc\n"
                          "autoPaste=maybe\n"
                          "plainTextMode=\n"
                          "soundOn=@Variant(garbage)\n"
                          "ignoreHandoff=2.5\n"
                          "fontSize=99999999999999\n"
                          "density=0\n"
                          "showHotkeyLabel=@Invalid()\n"
                          "paused=\"\"\n");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("invalid type")));
        const Prefs prefs(m_path);
        // The one sound value proves the file was read at all.
        QCOMPARE(prefs.density(), 0);
        for (const auto &[name, fallback] : table()) {
            if (qstrcmp(name, "density") != 0)
                QCOMPARE(prefs.property(name), fallback);
        }
    }

    void unparsableFileDoesNotBlockWrites_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("cap");
        QTest::newRow("hash comment") << QByteArray("historyCap=200\n# note\npaused=true\n") << 200;
        QTest::newRow("stray word") << QByteArray("historyCap=200\nword\npaused=true\n") << 200;
        QTest::newRow("unclosed section") << QByteArray("paused=true\n[General\n") << 1000;
        static const char binary[] = "paused=true\n\0\xff\xfe[\n=\n\\\n\"x=\x01\x02";
        QTest::newRow("binary") << QByteArray(binary, sizeof binary - 1) << 1000;
    }

    // QSettings reports a format error on every sync of such a file; the write must still land
    // and keep what could be read, whether the damage predates the object or not.
    void unparsableFileDoesNotBlockWrites()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, cap);
        {
            Prefs prefs(m_path);
            // Edited by hand while running, so the write is the first to see the damage.
            writeFile(m_path, text);
            prefs.setFontSize(15);
        }
        {
            Prefs reloaded(m_path);
            QCOMPARE(reloaded.fontSize(), 15);
            QCOMPARE(reloaded.historyCap(), cap);
            QVERIFY(reloaded.paused());
            // Damaged before start-up instead.
            writeFile(m_path, text);
        }
        Prefs prefs(m_path);
        prefs.setDensity(0);
        const Prefs reloaded(m_path);
        QCOMPARE(reloaded.density(), 0);
        QCOMPARE(reloaded.historyCap(), cap);
        QVERIFY(reloaded.paused());
    }

    void readableValuesFromAHandEditedFile_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("cap 0 is unlimited")
            << QByteArray("historyCap=0") << QByteArray("historyCap") << QVariant(0);
        QTest::newRow("bool as 0")
            << QByteArray("autoPaste=0") << QByteArray("autoPaste") << QVariant(false);
        QTest::newRow("bool in capitals")
            << QByteArray("paused=TRUE") << QByteArray("paused") << QVariant(true);
        QTest::newRow("empty text kept")
            << QByteArray("ignoredApps=") << QByteArray("ignoredApps") << QVariant(QString());
        QTest::newRow("unquoted comma")
            << QByteArray("pauseHotkeyLabel=a, b") << QByteArray("pauseHotkeyLabel")
            << QVariant(QStringLiteral("a, b"));
        QTest::newRow("raw utf-8")
            << QByteArray("showHotkeyLabel=\xe2\x8c\x83\xd0\x96") << QByteArray("showHotkeyLabel")
            << QVariant(QStringLiteral("\u2303\u0416"));
    }

    void readableValuesFromAHandEditedFile()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, name);
        QFETCH(QVariant, expected);
        writeFile(m_path, "[General]\n" + line + "\n");
        QCOMPARE(Prefs(m_path).property(name), expected);
    }

    void textsRoundTripAsUtf8()
    {
        const QString label = QStringLiteral("\u2325\u2318V");
        const QString apps = QStringLiteral(
            "  \u043f\u0440\u0438\u043c\u0435\u0440.app \r\n@odd, \"quoted\"; x=y\u2028\\tail");
        {
            Prefs prefs(m_path);
            prefs.setShowHotkeyLabel(label);
            prefs.setIgnoredApps(apps);
        }
        // Readable by people and other tools: the label is stored as its UTF-8 bytes.
        QVERIFY(fileText(m_path).contains("showHotkeyLabel=\xe2\x8c\xa5\xe2\x8c\x98V\n"));
        const Prefs reloaded(m_path);
        QCOMPARE(reloaded.showHotkeyLabel(), label);
        QCOMPARE(reloaded.ignoredApps(), apps);
    }

    void ignoredBundleIDs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("ids");
        const QStringList two{QStringLiteral("a.b"), QStringLiteral("c.d")};
        QTest::newRow("default") << Prefs::defaultIgnoredApps()
                                 << QStringList{QStringLiteral("com.apple.keychainaccess"),
                                                QStringLiteral("com.bitwarden.desktop"),
                                                QStringLiteral("com.1password.1password"),
                                                QStringLiteral("com.agilebits.onepassword7")};
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("comments and blanks only")
            << QStringLiteral("# a\n\n   \n\t\n  # b\n#") << QStringList();
        QTest::newRow("blanks and tabs around") << QStringLiteral(" \ta.b\t \n\t c.d  ") << two;
        QTest::newRow("indented comment") << QStringLiteral("  # x\na.b\n\t#c.d\nc.d") << two;
        QTest::newRow("crlf") << QStringLiteral("a.b\r\nc.d\r\n") << two;
        QTest::newRow("cr") << QStringLiteral("\ra.b\rc.d") << two;
        QTest::newRow("vt ff nel") << QStringLiteral("a.b\vc.d\fa.b\u0085c.d") << two + two;
        QTest::newRow("line and paragraph separators")
            << QStringLiteral("a.b\u2028c.d\u2029") << two;
        QTest::newRow("no-break space trimmed")
            << QStringLiteral("\u00a0a.b\u3000") << QStringList{"a.b"};
        QTest::newRow("inner blank, hash and case kept")
            << QStringLiteral(" A b#c ") << QStringList{"A b#c"};
        QTest::newRow("duplicates and order kept")
            << QStringLiteral("c.d\na.b\nc.d") << QStringList{"c.d", "a.b", "c.d"};
    }

    void ignoredBundleIDs()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, ids);
        Prefs prefs(m_path);
        prefs.setIgnoredApps(text);
        QCOMPARE(prefs.ignoredBundleIDs(), ids);
    }

    void directKeysShareTheFileQuietly()
    {
        const QString path =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/ulvane/ulvane.conf");
        QCOMPARE(Prefs::defaultSettingsPath(), path);
        QCOMPARE(Prefs::shared().settingsPath(), path);

        QCOMPARE(Prefs::appIconStyle(), QString());
        QCOMPARE(Prefs::activeHotkeyLabel(), QString());
        QCOMPARE(Prefs::axPromptShown(), false);

        QSignalSpy posted(&NotificationCenter::shared(), &NotificationCenter::posted);
        Prefs::setAppIconStyle(QStringLiteral("Аврора"));
        Prefs::setActiveHotkeyLabel(QStringLiteral("\u2303\u2325V"));
        Prefs::setAxPromptShown(true);
        QCOMPARE(posted.count(), 0);
        QCOMPARE(Prefs::appIconStyle(), QStringLiteral("Аврора"));
        QCOMPARE(Prefs::activeHotkeyLabel(), QStringLiteral("\u2303\u2325V"));
        QCOMPARE(Prefs::axPromptShown(), true);

        // A Prefs object open on the same file keeps the direct keys when it writes, and
        // the direct keys keep its settings.
        Prefs::shared().setPaused(true);
        Prefs::setAxPromptShown(false);
        QSettings onDisk(path, QSettings::IniFormat);
        QCOMPARE(onDisk.value(QStringLiteral("appIconStyle")).toString(), QStringLiteral("Аврора"));
        QCOMPARE(onDisk.value(QStringLiteral("axPromptShown")).toString(), QStringLiteral("false"));
        QCOMPARE(onDisk.value(QStringLiteral("paused")).toString(), QStringLiteral("true"));
        Prefs::shared().setPaused(false);
    }

    void damagedDirectKeyReadsFalse()
    {
        QSettings(Prefs::defaultSettingsPath(), QSettings::IniFormat)
            .setValue(QStringLiteral("axPromptShown"), QStringLiteral("maybe"));
        QCOMPARE(Prefs::axPromptShown(), false);
    }
};

ULVANE_TEST_MAIN(TestPrefs)
#include "test_prefs.moc"
