#include "unit/StderrCapture.h"
#include "unit/TestMain.h"

#include "app/AboutWindow.h"
#include "app/AppIconManager.h"
#include "app/AppIconPicker.h"
#include "app/LoginItem.h"
#include "app/SettingsWindow.h"
#include "exchange/ExportImport.h"
#include "panel/Theme.h"
#include "platform/HotKeyRegistrar.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QThread>
#include <QToolButton>
#include <QUuid>

#include <memory>

namespace {

// Grants every preset combination except those marked taken by another program.
class FakeRegistrar : public HotKeyRegistrar
{
public:
    QSet<QString> taken;
    QHash<quint32, QString> held;

    quint32 grab(quint32 keyCode, quint32 carbonMods, int *status) override
    {
        QString label;
        for (const Combo &combo : HotKeys::presets()) {
            if (combo.keyCode == keyCode && combo.carbonMods == carbonMods)
                label = combo.label;
        }
        if (label.isEmpty() || taken.contains(label)) {
            if (status)
                *status = 10; // BadAccess
            return 0;
        }
        held.insert(m_next, label);
        return m_next++;
    }
    void release(quint32 handle) override { held.remove(handle); }

    QStringList heldLabels() const
    {
        QStringList labels = held.values();
        labels.sort();
        return labels;
    }

private:
    quint32 m_next = 1;
};

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeText(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QString addClip(Store &store, const QString &text, bool pinned = false)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    store.insert({FlavorList{Flavor{Uti::plainText, text.toUtf8()}}}, ClipKind::Text, text, {}, {},
                 double(QDateTime::currentSecsSinceEpoch()), std::nullopt, true, id);
    if (pinned)
        store.setPinned(id, true);
    return id;
}

QStringList itemTexts(const QComboBox *picker)
{
    QStringList texts;
    for (int i = 0; i < picker->count(); ++i)
        texts.append(picker->itemText(i));
    return texts;
}

// What a user's choice in a picker does: the entry becomes current and `activated` fires.
void choose(QComboBox *picker, const QString &text)
{
    const int index = picker->findText(text);
    QVERIFY2(index >= 0, qPrintable(text + QStringLiteral(" not offered")));
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
}

// One settings window over a private store, login item, icon folder and hot-key registrar,
// with the dialogs answered by the test.
struct Fixture
{
    QTemporaryDir root;
    Store store{root.filePath(QStringLiteral("store"))};
    FakeRegistrar registrar;
    HotKeyCenter hotKeys{registrar};
    LoginItem login{root.filePath(QStringLiteral("autostart/") + DesktopEntry::fileName),
                    QStringLiteral("/usr/bin/ulvane")};
    AppIconManager icons{{root.filePath(QStringLiteral("icons"))},
                         root.filePath(QStringLiteral("applications/") + DesktopEntry::fileName),
                         QStringLiteral("/usr/bin/ulvane")};
    bool trusted = true;
    bool answer = false;
    int grants = 0;
    QStringList confirmations;
    QStringList messages;
    QString exportPath;
    QString importPath;
    std::function<std::optional<CopyLessImporter::Result>()> copyLess;
    std::unique_ptr<SettingsWindow> window;

    explicit Fixture(Prefs &prefs = Prefs::shared())
    {
        SettingsHooks hooks;
        hooks.trusted = [this] { return trusted; };
        hooks.grantAccess = [this] { ++grants; };
        hooks.confirm = [this](const QString &message, const QString &detail) {
            confirmations.append(message + u'|' + detail);
            return answer;
        };
        hooks.inform = [this](const QString &message) { messages.append(message); };
        hooks.chooseExportFile = [this](const QString &) { return exportPath; };
        hooks.chooseImportFile = [this] { return importPath; };
        hooks.importCopyLess = [this] { return copyLess(); };
        window = std::make_unique<SettingsWindow>(prefs, store, hotKeys, login, icons, hooks);
    }

    template <typename T> T *find(const QString &name) const
    {
        T *child = window->findChild<T *>(name);
        if (!child)
            qWarning("no control named %s", qPrintable(name));
        return child;
    }
    // Shown on its tab, whichever tab is current.
    bool shown(const QString &name) const
    {
        QWidget *widget = find<QWidget>(name);
        QWidget *page = widget;
        while (page && !qobject_cast<QScrollArea *>(page))
            page = page->parentWidget();
        return page && widget->isVisibleTo(static_cast<QScrollArea *>(page)->widget());
    }
};

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every test starts from the defaults, whatever the one before it chose.
        QFile::remove(Prefs::defaultSettingsPath());
        Prefs &prefs = Prefs::shared();
        prefs.setHistoryCap(1000);
        prefs.setAutoPaste(true);
        prefs.setPlainTextMode(false);
        prefs.setSoundOn(false);
        prefs.setPaused(false);
        prefs.setIgnoreHandoff(false);
        prefs.setIgnoredApps(Prefs::defaultIgnoredApps());
        prefs.setFontSize(13);
        prefs.setDensity(1);
        prefs.setShowHotkeyLabel(QStringLiteral("⌥⌘V"));
        prefs.setSerialNextHotkeyLabel(HotKeys::offLabel);
        prefs.setPlainModeHotkeyLabel(HotKeys::offLabel);
        prefs.setPauseHotkeyLabel(HotKeys::offLabel);
        Prefs::setActiveHotkeyLabel(QString());
        Prefs::setAppIconStyle(QString());
    }

    void switchesWriteThroughAndFollowPrefs_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"autoPaste", "plainTextMode", "soundOn", "paused", "ignoreHandoff"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void switchesWriteThroughAndFollowPrefs()
    {
        QFETCH(QString, name);
        Prefs &prefs = Prefs::shared();
        Fixture f;
        auto *toggle = f.find<QAbstractButton>(name);
        QVERIFY(toggle);
        const QByteArray property = name.toLatin1();
        const bool before = prefs.property(property).toBool();
        QCOMPARE(toggle->isChecked(), before);

        toggle->click();
        QCOMPARE(prefs.property(property).toBool(), !before);
        // Written through to the file at once.
        QCOMPARE(Prefs(prefs.settingsPath()).property(property).toBool(), !before);

        prefs.setProperty(property, before);
        QCOMPARE(toggle->isChecked(), before);
    }

    void historyCapacityChoices()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        auto *cap = f.find<QComboBox>(u"historyCap"_qs);
        QCOMPARE(itemTexts(cap), (QStringList{u"100"_qs, u"200"_qs, u"500"_qs, u"1 000"_qs,
                                              u"5 000"_qs, u"Unlimited"_qs}));
        QCOMPARE(cap->currentText(), u"1 000"_qs);
        choose(cap, u"Unlimited"_qs);
        QCOMPARE(prefs.historyCap(), 0);
        choose(cap, u"5 000"_qs);
        QCOMPARE(prefs.historyCap(), 5000);
        prefs.setHistoryCap(200);
        QCOMPARE(cap->currentText(), u"200"_qs);
    }

    void appearanceAndFilterControlsWriteThrough()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        auto *font = f.find<QComboBox>(u"fontSize"_qs);
        QCOMPARE(itemTexts(font), (QStringList{u"Small"_qs, u"Medium"_qs, u"Large"_qs}));
        choose(font, u"Large"_qs);
        QCOMPARE(prefs.fontSize(), 15);
        choose(font, u"Small"_qs);
        QCOMPARE(prefs.fontSize(), 12);
        auto *density = f.find<QComboBox>(u"density"_qs);
        choose(density, u"Compact"_qs);
        QCOMPARE(prefs.density(), 0);
        prefs.setDensity(1);
        QCOMPARE(density->currentText(), u"Comfortable"_qs);

        auto *editor = f.find<QPlainTextEdit>(u"ignoredApps"_qs);
        QCOMPARE(editor->toPlainText(), Prefs::defaultIgnoredApps());
        editor->selectAll();
        QTest::keyClicks(editor, u"org.keepassxc.KeePassXC"_qs);
        // Every keystroke is kept, not only the finished text.
        QCOMPARE(prefs.ignoredApps(), u"org.keepassxc.KeePassXC"_qs);
        QCOMPARE(prefs.ignoredBundleIDs(), QStringList{u"org.keepassxc.KeePassXC"_qs});
        prefs.setIgnoredApps(u"a.b\nc.d"_qs);
        QCOMPARE(editor->toPlainText(), u"a.b\nc.d"_qs);
    }

    void accessibilityRowNeedsAutoPasteAndNoTrust()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        f.trusted = false;
        f.window->refresh();
        QVERIFY(f.shown(u"accessibilityWarning"_qs));
        f.find<QPushButton>(u"grantAccess"_qs)->click();
        QCOMPARE(f.grants, 1);

        f.find<QAbstractButton>(u"autoPaste"_qs)->click();
        QVERIFY(!prefs.autoPaste());
        QVERIFY(!f.shown(u"accessibilityWarning"_qs));
        prefs.setAutoPaste(true);
        QVERIFY(f.shown(u"accessibilityWarning"_qs));

        f.trusted = true;
        f.window->refresh();
        QVERIFY(!f.shown(u"accessibilityWarning"_qs));
    }

    void hotkeyPickersRebindThroughTheCenter()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        f.registrar.taken.insert(u"⌥⌘V"_qs);
        auto *show = f.find<QComboBox>(u"showHotkey"_qs);
        // Shown the way Linux desktops write shortcuts; stored as before.
        QCOMPARE(itemTexts(show),
                 (QStringList{u"Super+Alt+V"_qs, u"Ctrl+Alt+V"_qs, u"Ctrl+Alt+Super+V"_qs,
                              u"Shift+Super+V"_qs, u"Off"_qs}));
        QCOMPARE(
            itemTexts(f.find<QComboBox>(u"pauseHotkey"_qs)),
            (QStringList{u"Off"_qs, u"Ctrl+Alt+P"_qs, u"Ctrl+Alt+Super+P"_qs, u"Ctrl+Alt+X"_qs}));

        choose(show, u"Super+Alt+V"_qs);
        QCOMPARE(prefs.showHotkeyLabel(), u"⌥⌘V"_qs);
        QCOMPARE(f.registrar.heldLabels(), QStringList{u"⌃⌥V"_qs});
        QCOMPARE(Prefs::activeHotkeyLabel(), u"⌃⌥V"_qs);
        QVERIFY(f.shown(u"hotkeyWarning"_qs));
        const QString warning = f.find<QLabel>(u"hotkeyWarning"_qs)->text();
        QVERIFY2(warning.startsWith(u"Preferred combo is taken"_qs), qPrintable(warning));
        QVERIFY2(warning.endsWith(u"Active now: Ctrl+Alt+V"_qs), qPrintable(warning));

        choose(f.find<QComboBox>(u"serialNextHotkey"_qs), u"Ctrl+Alt+P"_qs);
        QCOMPARE(prefs.serialNextHotkeyLabel(), u"⌃⌥P"_qs);
        QCOMPARE(f.registrar.heldLabels(), (QStringList{u"⌃⌥P"_qs, u"⌃⌥V"_qs}));

        choose(show, u"Off"_qs);
        QCOMPARE(prefs.showHotkeyLabel(), HotKeys::offLabel);
        QCOMPARE(f.registrar.heldLabels(), QStringList{u"⌃⌥P"_qs});
        QVERIFY(!f.shown(u"hotkeyWarning"_qs));

        f.registrar.taken.clear();
        choose(show, u"Ctrl+Alt+Super+V"_qs);
        QCOMPARE(Prefs::activeHotkeyLabel(), u"⌃⌥⌘V"_qs);
        QVERIFY(!f.shown(u"hotkeyWarning"_qs));
    }

    void hotkeyWarningConditions_data()
    {
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<QString>("active");
        QTest::addColumn<QString>("expected");
        const QString taken = u"Preferred combo is taken (held by another application?). "
                              "Active now: "_qs;
        QTest::newRow("fallback in force") << u"⌥⌘V"_qs << u"⌃⌥V"_qs << taken + u"Ctrl+Alt+V"_qs;
        QTest::newRow("nothing bound") << u"⇧⌘V"_qs << u"Off"_qs << taken + u"Off"_qs;
        QTest::newRow("never recorded") << u"⌥⌘V"_qs << QString() << QString();
        QTest::newRow("preferred in force") << u"⌥⌘V"_qs << u"⌥⌘V"_qs << QString();
        QTest::newRow("switched off") << u"Off"_qs << u"⌃⌥V"_qs << QString();
        QTest::newRow("unknown label") << u"Hyper+Q"_qs << u"⌥⌘V"_qs << QString();
    }

    void hotkeyWarningConditions()
    {
        QFETCH(QString, preferred);
        QFETCH(QString, active);
        QFETCH(QString, expected);
        Prefs::shared().setShowHotkeyLabel(preferred);
        Prefs::setActiveHotkeyLabel(active);
        Fixture f;
        QCOMPARE(f.window->hotkeyWarning(), expected);
        QCOMPARE(f.shown(u"hotkeyWarning"_qs), !expected.isEmpty());
        // Whatever the stored label, the picker shows a real choice.
        QVERIFY(f.find<QComboBox>(u"showHotkey"_qs)->currentIndex() >= 0);
    }

    void absurdSettingsShowSaneValues()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ulvane.conf"_qs);
        const QByteArray text = "[General]\nhistoryCap=-5\nfontSize=500\ndensity=7\n"
                                "autoPaste=maybe\nignoredApps=42\nshowHotkeyLabel=Hyper+Q\n"
                                "serialNextHotkeyLabel=\\x2318\\x2318\\x2318\n"
                                "pauseHotkeyLabel=@Variant(garbage)\nplainModeHotkeyLabel=\n";
        writeText(path, text);
        Prefs::setActiveHotkeyLabel(u"⌃⌥V"_qs);
        Prefs prefs(path);
        Fixture f(prefs);
        f.window->show();
        f.window->setCurrentTab(SettingsWindow::Appearance);
        QCOMPARE(f.find<QComboBox>(u"historyCap"_qs)->currentText(), u"Unlimited"_qs);
        QCOMPARE(f.find<QComboBox>(u"fontSize"_qs)->currentText(), u"Large"_qs);
        QCOMPARE(f.find<QComboBox>(u"density"_qs)->currentText(), u"Comfortable"_qs);
        // An unusable show-panel label leaves the fallback in force; the others bind nothing.
        QCOMPARE(f.find<QComboBox>(u"showHotkey"_qs)->currentText(), u"Ctrl+Alt+V"_qs);
        for (const QString &name :
             {u"serialNextHotkey"_qs, u"plainModeHotkey"_qs, u"pauseHotkey"_qs})
            QCOMPARE(f.find<QComboBox>(name)->currentText(), u"Off"_qs);
        QVERIFY(!f.shown(u"hotkeyWarning"_qs));
        QCOMPARE(f.find<QPlainTextEdit>(u"ignoredApps"_qs)->toPlainText(), u"42"_qs);
        // Showing the settings writes nothing.
        QCOMPARE(fileText(path), text);

        // A capacity the store honours but the list lacks is shown as it is, until replaced.
        writeText(path, "[General]\nhistoryCap=2500\n");
        Prefs custom(path);
        Fixture g(custom);
        auto *cap = g.find<QComboBox>(u"historyCap"_qs);
        QCOMPARE(cap->currentText(), u"2 500"_qs);
        QCOMPARE(cap->count(), 7);
        choose(cap, u"500"_qs);
        QCOMPARE(custom.historyCap(), 500);
        QCOMPARE(cap->count(), 6);
        QCOMPARE(cap->currentText(), u"500"_qs);
    }

    void clearingAsksFirst()
    {
        Fixture f;
        addClip(f.store, u"one"_qs);
        addClip(f.store, u"two"_qs, true);
        f.window->refreshDataFigures();
        auto *stored = f.find<QLabel>(u"clipsStored"_qs);
        QCOMPARE(stored->text(), u"2"_qs);

        f.answer = false;
        f.find<QPushButton>(u"clearHistory"_qs)->click();
        QCOMPARE(f.confirmations, QStringList{u"Clear history?|This cannot be undone."_qs});
        QCOMPARE(f.store.count(), 2);

        f.answer = true;
        f.find<QPushButton>(u"clearHistory"_qs)->click();
        QCOMPARE(f.store.count(), 1); // the favourite stays
        QCOMPARE(stored->text(), u"1"_qs);

        f.find<QPushButton>(u"clearEverything"_qs)->click();
        QCOMPARE(f.confirmations.last(),
                 u"Clear EVERYTHING including favorites?|This cannot be undone."_qs);
        QCOMPARE(f.store.count(), 0);
        QCOMPARE(stored->text(), u"0"_qs);
    }

    void dataFiguresAndHistoryTransfer()
    {
        Fixture f;
        addClip(f.store, u"alpha"_qs);
        addClip(f.store, u"beta"_qs, true);
        f.window->setCurrentTab(SettingsWindow::Data);
        QCOMPARE(f.find<QLabel>(u"clipsStored"_qs)->text(), u"2"_qs);
        QCOMPARE(f.find<QLabel>(u"diskUsage"_qs)->text(),
                 QLocale().formattedDataSize(f.store.diskSize(), 1, QLocale::DataSizeSIFormat));
        QCOMPARE(f.find<QLabel>(u"networkAccess"_qs)->text(), u"None — fully local"_qs);

        // Cancelled dialogs do nothing.
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QCOMPARE(f.messages, QStringList());

        f.exportPath = f.root.filePath(u"out/clipboard-export.json"_qs);
        QDir().mkpath(f.root.filePath(u"out"_qs));
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        QCOMPARE(f.messages, QStringList());
        QTemporaryDir other;
        Store copy(other.path());
        QCOMPARE(ExportImport::importData(fileText(f.exportPath), copy),
                 (ExportImport::ImportResult{2, 0}));

        f.importPath = f.exportPath;
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QCOMPARE(f.messages.takeLast(), u"Imported 0 clips (2 duplicates skipped)."_qs);
        addClip(copy, u"gamma"_qs);
        const QString moved = f.root.filePath(u"copy.json"_qs);
        writeText(moved, *ExportImport::exportAll(copy));
        f.importPath = moved;
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QCOMPARE(f.messages.takeLast(), u"Imported 1 clips (2 duplicates skipped)."_qs);
        QCOMPARE(f.find<QLabel>(u"clipsStored"_qs)->text(), u"3"_qs);

        // Failures are reported, not passed over.
        f.importPath = f.root.filePath(u"missing.json"_qs);
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QVERIFY2(f.messages.takeLast().startsWith(u"Could not read"_qs), "unreadable import");
        f.exportPath = f.root.filePath(u"copy.json/inside.json"_qs);
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        QVERIFY2(f.messages.takeLast().startsWith(u"Could not write"_qs), "unwritable export");
        QCOMPARE(f.store.count(), 3);
    }

    void copyLessImportRunsOffTheMainThread()
    {
        Fixture f;
        QThread *worker = nullptr;
        f.copyLess = [&worker] {
            worker = QThread::currentThread();
            return std::optional<CopyLessImporter::Result>(CopyLessImporter::Result{3, 1});
        };
        QSignalSpy finished(f.window.get(), &SettingsWindow::copyLessImportFinished);
        auto *button = f.find<QPushButton>(u"importCopyLess"_qs);
        button->click();
        QVERIFY(!button->isEnabled());
        QVERIFY(finished.wait(5000));
        QVERIFY(worker && worker != QThread::currentThread());
        QCOMPARE(f.messages, QStringList{u"Imported 3 clips (1 duplicates skipped)."_qs});
        QVERIFY(button->isEnabled());

        f.copyLess = [] { return std::optional<CopyLessImporter::Result>(); };
        button->click();
        QVERIFY(finished.wait(5000));
        QCOMPARE(f.messages.last(), u"CopyLess 2 store not found."_qs);
    }

    void launchAtLoginSwitchShowsTheRealState()
    {
        Fixture f;
        auto *toggle = f.find<QAbstractButton>(u"launchAtLogin"_qs);
        QVERIFY(!toggle->isChecked());
        toggle->click();
        QVERIFY(QFileInfo::exists(f.login.entryPath()));
        QVERIFY(toggle->isChecked());
        toggle->click();
        QVERIFY(!QFileInfo::exists(f.login.entryPath()));
        QVERIFY(!toggle->isChecked());

        // A file where the autostart folder should be: the switch falls back, the cause is
        // logged.
        writeText(f.root.filePath(u"blocked"_qs), "x");
        LoginItem blocked(f.root.filePath(u"blocked/"_qs + DesktopEntry::fileName),
                          u"/usr/bin/ulvane"_qs);
        SettingsWindow window(Prefs::shared(), f.store, f.hotKeys, blocked, f.icons);
        auto *other = window.findChild<QAbstractButton *>(u"launchAtLogin"_qs);
        StderrCapture log;
        other->click();
        QVERIFY(!other->isChecked());
        QVERIFY(log.text().contains("[LoginItem] failed: "));
    }

    void iconPickerShowsTheStoredStyle()
    {
        Fixture f;
        auto *picker = f.find<AppIconPicker>(u"appIconPicker"_qs);
        QCOMPARE(picker->selected(), AppIconStyle::TrypilliaDarkAzureGold);
        f.window->show();
        f.window->setCurrentTab(SettingsWindow::Appearance);
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        QCOMPARE(picker->columnCount(), 4);
        QTest::mouseClick(picker, Qt::LeftButton, {}, picker->tileRect(1).center());
        QCOMPARE(Prefs::appIconStyle(), u"knyaz-seal"_qs);

        // Chosen elsewhere (the command line) while the window was closed.
        f.window->close();
        Prefs::setAppIconStyle(u"petroglyph"_qs);
        f.window->show();
        QCOMPARE(picker->selected(), AppIconStyle::Petroglyph);
    }
};

ULVANE_WIDGET_TEST_MAIN(TestSettings, false)
#include "test_settings.moc"
