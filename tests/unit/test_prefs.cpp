#include "TestFiles.h"
#include "TestMain.h"

#include "prefs/Prefs.h"

#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

namespace {

// The stored settings (the writable properties) with the values a file without them reads as.
const QList<std::pair<QByteArray, QVariant>> &table()
{
    static const QList<std::pair<QByteArray, QVariant>> rows = [] {
        QList<std::pair<QByteArray, QVariant>> list;
        QTemporaryDir dir;
        const Prefs fresh(dir.filePath(QStringLiteral("none.conf")));
        const QMetaObject &meta = Prefs::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            if (meta.property(i).isWritable())
                list.append({meta.property(i).name(), meta.property(i).read(&fresh)});
        }
        return list;
    }();
    return rows;
}

// A value of the property's type that differs from its default. The text carries what the
// INI format has to escape: line breaks, a leading '@', quotes, separators and a backslash.
QVariant otherValue(const QVariant &fallback)
{
    if (fallback.typeId() == QMetaType::Int)
        return fallback.toInt() + 7;
    if (fallback.typeId() == QMetaType::Bool)
        return !fallback.toBool();
    return QStringLiteral("@\u2303\u0416 \u043f\u0440\u0438 \r\n#x, \"q\"; k=v\u2028\\t ");
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

    void readingWritesNothing()
    {
        {
            const Prefs prefs(m_path);
            for (const auto &entry : table())
                prefs.property(entry.first);
        }
        QVERIFY(!QFile::exists(m_path));
    }

    void setWritesThroughAndAnnouncesOnce_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QVariant>("value");
        for (const auto &[name, fallback] : table()) {
            QTest::addRow("%s changed", name.constData()) << name << otherValue(fallback);
            QTest::addRow("%s unchanged", name.constData()) << name << fallback;
        }
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
        QSignalSpy posted(&prefs, &Prefs::changed);

        QVERIFY(property.write(&prefs, value));
        QCOMPARE(notify.count(), 1);
        QCOMPARE(posted.count(), 1);
        QCOMPARE(prefs.property(name), value);

        // On disk before the object goes away, as another process would read it, and only
        // the key that was set.
        QCOMPARE(QSettings(m_path, QSettings::IniFormat).allKeys(),
                 QStringList{QString::fromLatin1(name)});
        QCOMPARE(Prefs(m_path).property(name), value);
    }

    void damagedValuesReadAsDefaults()
    {
        writeText(m_path, "[General]\nhistoryCap=abc\nautoPaste=maybe\nplainTextMode=\n"
                          "soundOn=@Variant(garbage)\nignoreHandoff=2.5\n"
                          "fontSize=99999999999999\ndensity=0\nshowHotkeyLabel=@Invalid()\n"
                          "paused=\"\"\n");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("invalid type")));
        const Prefs prefs(m_path);
        // The one sound value proves the file was read at all.
        QCOMPARE(prefs.density(), 0);
        for (const auto &[name, fallback] : table()) {
            if (name != "density")
                QCOMPARE(prefs.property(name), fallback);
        }
    }

    void unparsableFileDoesNotBlockWrites_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("cap");
        QTest::newRow("hash comment") << QByteArray("historyCap=200\n# note\npaused=true\n") << 200;
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
        // Damaged by hand while running (the write is the first to see it), then before start-up.
        for (const bool beforeStart : {false, true}) {
            if (beforeStart)
                writeText(m_path, text);
            Prefs prefs(m_path);
            if (!beforeStart)
                writeText(m_path, text);
            prefs.setFontSize(15 + int(beforeStart));
            const Prefs reloaded(m_path);
            QCOMPARE(reloaded.fontSize(), 15 + int(beforeStart));
            QCOMPARE(reloaded.historyCap(), cap);
            QVERIFY(reloaded.paused());
        }
    }

    // Values as people write them by hand: bools as 0 or in capitals, an empty text, a comma
    // that INI would split into a list, raw UTF-8.
    void readableValuesFromAHandEditedFile()
    {
        const QList<std::tuple<QByteArray, const char *, QVariant>> rows{
            {"autoPaste=0", "autoPaste", false},
            {"paused=TRUE", "paused", true},
            {"ignoredApps=", "ignoredApps", QString()},
            {"pauseHotkeyLabel=a, b", "pauseHotkeyLabel", u"a, b"_qs},
            {"showHotkeyLabel=\xe2\x8c\x83\xd0\x96", "showHotkeyLabel", u"\u2303\u0416"_qs}};
        for (const auto &[line, name, expected] : rows) {
            init(); // a file of its own: same-sized rewrites within a second look unchanged
            writeText(m_path, "[General]\n" + line + "\n");
            QCOMPARE(Prefs(m_path).property(name), expected);
        }
    }

    void ignoredAppIds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("ids");
        const QStringList two{QStringLiteral("a.b"), QStringLiteral("c.d")};
        QTest::newRow("comments and blanks only")
            << QStringLiteral("# a\n\n   \n\t\n  # b\n#") << QStringList();
        QTest::newRow("blanks, tabs, wide spaces and indented comments")
            << QStringLiteral(" \ta.b\t \n  # x\n\t#c.d\n\u00a0c.d\u3000") << two;
        QTest::newRow("every kind of line break")
            << QStringLiteral("\ra.b\r\nc.d\ra.b\vc.d\fa.b\u0085c.d\u2028a.b\u2029c.d\r\n")
            << two + two + two + two;
        QTest::newRow("inner blank, hash, case, duplicates and order kept")
            << QStringLiteral(" A b#c \nc.d\nA b#c") << QStringList{"A b#c", "c.d", "A b#c"};
    }

    void ignoredAppIds()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, ids);
        Prefs prefs(m_path);
        prefs.setIgnoredApps(text);
        QCOMPARE(prefs.ignoredAppIds(), ids);
    }

    void directKeysShareTheFileQuietly()
    {
        const QString path =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/ulvane/ulvane.conf");
        QCOMPARE(Prefs::shared().settingsPath(), path);

        QSignalSpy posted(&Prefs::shared(), &Prefs::changed);
        Prefs::setAppIconStyle(QStringLiteral("Аврора"));
        Prefs::setActiveHotkeyLabel(QStringLiteral("\u2303\u2325V"));
        Prefs::setAutoPastePromptShown(true);
        QCOMPARE(posted.count(), 0);
        QCOMPARE(Prefs::appIconStyle(), QStringLiteral("Аврора"));
        QCOMPARE(Prefs::activeHotkeyLabel(), QStringLiteral("\u2303\u2325V"));
        QCOMPARE(Prefs::autoPastePromptShown(), true);
        // Readable by people and other tools: texts are stored as their UTF-8 bytes.
        QVERIFY(fileText(path).contains("activeHotkeyLabel=\xe2\x8c\x83\xe2\x8c\xa5V\n"));

        // A Prefs object open on the same file keeps the direct keys when it writes, and
        // the direct keys keep its settings.
        Prefs::shared().setPaused(true);
        Prefs::setAutoPastePromptShown(false);
        QSettings onDisk(path, QSettings::IniFormat);
        QCOMPARE(onDisk.value(QStringLiteral("appIconStyle")).toString(), QStringLiteral("Аврора"));
        QCOMPARE(onDisk.value(QStringLiteral("axPromptShown")).toString(), QStringLiteral("false"));
        QCOMPARE(onDisk.value(QStringLiteral("paused")).toString(), QStringLiteral("true"));
        Prefs::shared().setPaused(false);

        // A hand-damaged direct key reads as not shown.
        QSettings(path, QSettings::IniFormat)
            .setValue(QStringLiteral("axPromptShown"), QStringLiteral("maybe"));
        QCOMPARE(Prefs::autoPastePromptShown(), false);
    }
};

ULVANE_TEST_MAIN(TestPrefs)
#include "test_prefs.moc"
