#include "ContentBuilders.h"
#include "FakePlatform.h"
#include "TestFiles.h"
#include "TestMain.h"

#include "app/AppIconManager.h"
#include "app/AppIconPicker.h"
#include "app/LoginItem.h"
#include "app/settings/SettingsDialogs.h"
#include "app/SettingsWindow.h"
#include "platform/HotKeyRegistrar.h"
#include "platform/xdg/DesktopEntry.h"
#include "prefs/HotKeys.h"
#include "prefs/Prefs.h"
#include "store/Store.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QThread>

#include <memory>

namespace {

void addClip(Store &store, const QString &text, bool pinned = false)
{
    const std::optional<QString> id = store.add(newClip(textItems(text), Util::now()));
    if (pinned)
        store.setPinned(*id, true);
}

// What a user's choice in a picker does: the entry becomes current and `activated` fires.
void choose(QComboBox *picker, const QString &text)
{
    const int index = picker->findText(text);
    QVERIFY2(index >= 0, qPrintable(text + QStringLiteral(" not offered")));
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
}

// The user's answers, given by the test.
struct Answers : SettingsDialogs
{
    bool answer = false;
    QStringList confirmations, messages;
    QString exportPath, importPath; // empty: the dialog was cancelled

    bool confirm(QWidget *, const QString &message, const QString &detail) override
    {
        confirmations.append(message + u'|' + detail);
        return answer;
    }
    void inform(QWidget *, const QString &message) override { messages.append(message); }
    QString chooseExportFile(QWidget *, const QString &) override { return exportPath; }
    QString chooseImportFile(QWidget *) override { return importPath; }
};

// One settings window over a private store, login item, icon folder and hot-key registrar,
// with the dialogs answered by the test.
struct Fixture
{
    QTemporaryDir root;
    Store store{root.filePath(QStringLiteral("store"))};
    FakeHotKeyRegistrar registrar;
    HotKeyCenter hotKeys{registrar};
    LoginItem login{root.filePath(QStringLiteral("autostart/") + DesktopEntry::fileName),
                    QStringLiteral("/usr/bin/ulvane")};
    AppIconManager icons{{root.filePath(QStringLiteral("icons"))},
                         root.filePath(QStringLiteral("applications/") + DesktopEntry::fileName),
                         QStringLiteral("/usr/bin/ulvane")};
    // Visible while this desktop takes no synthetic keys, as the application's action is.
    QAction enableAutoPaste;
    Answers *answers = new Answers;
    std::function<std::optional<CopyLessImporter::Result>()> copyLess;
    std::unique_ptr<SettingsWindow> window;

    explicit Fixture(Prefs &prefs = Prefs::shared())
    {
        enableAutoPaste.setVisible(false);
        window = std::make_unique<SettingsWindow>(prefs, store, hotKeys, login, icons);
        window->setEnableAutoPasteAction(&enableAutoPaste);
        window->setDialogs(std::unique_ptr<SettingsDialogs>(answers));
        window->setCopyLessJob([this] { return copyLess(); });
    }

    template <class T> T *find(const QString &name) const { return window->findChild<T *>(name); }
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
        const Prefs defaults(Prefs::defaultSettingsPath());
        const QMetaObject &meta = Prefs::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            if (meta.property(i).isWritable())
                meta.property(i).write(&Prefs::shared(), meta.property(i).read(&defaults));
        }
    }

    void controlsWriteThroughAndFollowPrefs()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        // Each control is named after its setting.
        for (const char *name :
             {"autoPaste", "plainTextMode", "soundOn", "paused", "ignoreHandoff"}) {
            auto *toggle = f.find<QAbstractButton>(QString::fromLatin1(name));
            const bool before = prefs.property(name).toBool();
            QCOMPARE(toggle->isChecked(), before);
            toggle->click();
            // Written through to the file at once.
            QCOMPARE(Prefs(prefs.settingsPath()).property(name).toBool(), !before);
            prefs.setProperty(name, before);
            QCOMPARE(toggle->isChecked(), before);
        }
        QCOMPARE(f.find<QComboBox>(u"historyCap"_qs)->currentText(), u"1 000"_qs);
        // The choice, the value it stores, a value set elsewhere and the entry that then shows.
        const struct
        {
            const char *name, *choice;
            int stored, other;
            const char *shown;
        } rows[] = {{"historyCap", "Unlimited", 0, 200, "200"},
                    {"fontSize", "Large", 15, 12, "Small"},
                    {"density", "Compact", 0, 1, "Comfortable"}};
        for (const auto &row : rows) {
            auto *picker = f.find<QComboBox>(QString::fromLatin1(row.name));
            choose(picker, QString::fromLatin1(row.choice));
            QCOMPARE(prefs.property(row.name).toInt(), row.stored);
            prefs.setProperty(row.name, row.other);
            QCOMPARE(picker->currentText(), QString::fromLatin1(row.shown));
        }

        auto *editor = f.find<QPlainTextEdit>(u"ignoredApps"_qs);
        QCOMPARE(editor->toPlainText(), Prefs::defaultIgnoredApps());
        editor->selectAll();
        QTest::keyClicks(editor, u"org.keepassxc.KeePassXC"_qs);
        // Every keystroke is kept, not only the finished text.
        QCOMPARE(prefs.ignoredApps(), u"org.keepassxc.KeePassXC"_qs);
        prefs.setIgnoredApps(u"a.b\nc.d"_qs);
        QCOMPARE(editor->toPlainText(), u"a.b\nc.d"_qs);
    }

    void autoPasteNoticeNeedsAutoPasteAndNoKeys()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        QSignalSpy triggered(&f.enableAutoPaste, &QAction::triggered);
        f.enableAutoPaste.setVisible(true);
        QVERIFY(f.shown(u"autoPasteNotice"_qs));
        f.find<QPushButton>(u"enableAutoPaste"_qs)->click();
        QCOMPARE(triggered.count(), 1);

        f.find<QAbstractButton>(u"autoPaste"_qs)->click();
        QVERIFY(!f.shown(u"autoPasteNotice"_qs));
        prefs.setAutoPaste(true);
        QVERIFY(f.shown(u"autoPasteNotice"_qs));

        f.enableAutoPaste.setVisible(false);
        QVERIFY(!f.shown(u"autoPasteNotice"_qs));
    }

    void hotkeyPickersRebindThroughTheCenter()
    {
        Prefs &prefs = Prefs::shared();
        Fixture f;
        f.registrar.taken.insert(u"⌥⌘V"_qs);
        auto *show = f.find<QComboBox>(u"showHotkey"_qs);
        // Shown the way Linux desktops write shortcuts; stored as before.
        choose(show, u"Super+Alt+V"_qs);
        QCOMPARE(prefs.showHotkeyLabel(), u"⌥⌘V"_qs);
        QCOMPARE(f.registrar.held.keys(), QStringList{u"⌃⌥V"_qs});
        QCOMPARE(Prefs::activeHotkeyLabel(), u"⌃⌥V"_qs);
        QVERIFY(f.shown(u"hotkeyWarning"_qs));

        choose(f.find<QComboBox>(u"serialNextHotkey"_qs), u"Ctrl+Alt+P"_qs);
        QCOMPARE(prefs.serialNextHotkeyLabel(), u"⌃⌥P"_qs);
        QCOMPARE(f.registrar.held.keys(), (QStringList{u"⌃⌥P"_qs, u"⌃⌥V"_qs}));

        choose(show, u"Off"_qs);
        QCOMPARE(prefs.showHotkeyLabel(), HotKeys::offLabel);
        QCOMPARE(f.registrar.held.keys(), QStringList{u"⌃⌥P"_qs});
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

    // What the tab says about how this desktop binds keys, before and after its answer.
    void desktopNoteFollowsTheRoute_data()
    {
        QTest::addColumn<int>("route");
        QTest::addColumn<QStringList>("before"); // what the note says, in parts
        QTest::addColumn<QStringList>("after");  // once the desktop has answered
        using Route = HotKeyRegistrar::Route;
        QTest::newRow("grabbed here") << int(Route::Grab) << QStringList{} << QStringList{};
        QTest::newRow("no way to bind")
            << int(Route::Unavailable) << QStringList{u"ulvane --show"_qs}
            << QStringList{u"ulvane --show"_qs};
        QTest::newRow("desktop assigns")
            << int(Route::DesktopAssigned)
            << QStringList{u"System Settings → Shortcuts"_qs, u"Show clipboard panel: asking…"_qs}
            << QStringList{u"Show clipboard panel: Meta+Alt+V"_qs,
                           u"Pause / resume clipping: none"_qs};
    }
    void desktopNoteFollowsTheRoute()
    {
        QFETCH(int, route);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        Prefs &prefs = Prefs::shared();
        prefs.setShowHotkeyLabel(u"⌥⌘V"_qs);
        prefs.setSerialNextHotkeyLabel(HotKeys::offLabel);
        prefs.setPauseHotkeyLabel(u"⌃⌥X"_qs);
        Fixture f;
        f.registrar.routeNow = HotKeyRegistrar::Route(route);
        f.hotKeys.bindAll();
        auto *note = f.find<QLabel>(u"desktopShortcutsNote"_qs);
        const auto says = [&f, note](const QStringList &parts) {
            if (f.shown(u"desktopShortcutsNote"_qs) == parts.isEmpty())
                return false;
            for (const QString &part : parts) {
                if (!note->text().contains(part))
                    return false;
            }
            return true;
        };
        QVERIFY2(says(before), qPrintable(note->text()));
        // Nothing took the key where nothing can take one.
        if (route == int(HotKeyRegistrar::Route::Unavailable))
            QVERIFY(!f.shown(u"hotkeyWarning"_qs));
        f.registrar.assigned.insert(u"⌥⌘V"_qs, u"Meta+Alt+V"_qs);
        Q_EMIT f.registrar.settled({}, false);
        QVERIFY2(says(after), qPrintable(note->text()));
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

    void dataFiguresTransferAndClearing()
    {
        Fixture f;
        addClip(f.store, u"alpha"_qs);
        addClip(f.store, u"beta"_qs, true);
        f.window->setCurrentTab(SettingsWindow::Data);
        auto *stored = f.find<QLabel>(u"clipsStored"_qs);
        QCOMPARE(stored->text(), u"2"_qs);

        // Cancelled dialogs do nothing.
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QCOMPARE(f.answers->messages, QStringList());

        // Written out and read back in; the format is the exchange test's.
        f.answers->exportPath = f.root.filePath(u"clipboard-export.json"_qs);
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        QCOMPARE(f.answers->messages, QStringList());
        addClip(f.store, u"gamma"_qs); // the figure is read again after the import
        f.answers->importPath = f.answers->exportPath;
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QCOMPARE(f.answers->messages.takeLast(), u"Imported 0 clips (2 duplicates skipped)."_qs);
        QCOMPARE(stored->text(), u"3"_qs);

        // Failures are reported, not passed over.
        f.answers->importPath = f.root.filePath(u"missing.json"_qs);
        f.find<QPushButton>(u"importHistory"_qs)->click();
        QVERIFY(f.answers->messages.takeLast().startsWith(u"Could not read"_qs));
        f.answers->exportPath = f.root.filePath(u"clipboard-export.json/inside.json"_qs);
        f.find<QPushButton>(u"exportHistory"_qs)->click();
        QVERIFY(f.answers->messages.takeLast().startsWith(u"Could not write"_qs));

        // Clearing asks first; the milder one keeps the favourite.
        f.find<QPushButton>(u"clearHistory"_qs)->click();
        QCOMPARE(f.answers->confirmations,
                 QStringList{u"Clear history?|This cannot be undone."_qs});
        QCOMPARE(f.store.count(), 3);
        f.answers->answer = true;
        f.find<QPushButton>(u"clearHistory"_qs)->click();
        QCOMPARE(f.store.count(), 1);
        QCOMPARE(stored->text(), u"1"_qs);
        f.find<QPushButton>(u"clearEverything"_qs)->click();
        QCOMPARE(f.answers->confirmations.last(),
                 u"Clear EVERYTHING including favorites?|This cannot be undone."_qs);
        QCOMPARE(f.store.count(), 0);
        QCOMPARE(stored->text(), u"0"_qs);
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
        QVERIFY(finished.wait(30000));
        QVERIFY(worker && worker != QThread::currentThread());
        QCOMPARE(f.answers->messages, QStringList{u"Imported 3 clips (1 duplicates skipped)."_qs});
        QVERIFY(button->isEnabled());

        f.copyLess = [] { return std::optional<CopyLessImporter::Result>(); };
        button->click();
        QVERIFY(finished.wait(30000));
        QCOMPARE(f.answers->messages.last(), u"CopyLess 2 store not found."_qs);
    }

    void launchAtLoginSwitchShowsTheRealState()
    {
        Fixture f;
        auto *toggle = f.find<QAbstractButton>(u"launchAtLogin"_qs);
        QVERIFY(!toggle->isChecked());
        for (const bool on : {true, false}) {
            toggle->click();
            QCOMPARE(QFileInfo::exists(f.login.entryPath()), on);
            QCOMPARE(toggle->isChecked(), on);
        }

        // A file where the autostart folder should be: the switch falls back.
        writeText(f.root.filePath(u"blocked"_qs), "x");
        LoginItem blocked(f.root.filePath(u"blocked/"_qs + DesktopEntry::fileName),
                          u"/usr/bin/ulvane"_qs);
        SettingsWindow window(Prefs::shared(), f.store, f.hotKeys, blocked, f.icons);
        auto *other = window.findChild<QAbstractButton *>(u"launchAtLogin"_qs);
        other->click();
        QVERIFY(!other->isChecked());
    }

    void iconPickerFollowsAStyleChosenElsewhere()
    {
        Fixture f;
        auto *picker = f.find<AppIconPicker>(u"appIconPicker"_qs);
        QCOMPARE(picker->selected(), AppIconStyle::TrypilliaDarkAzureGold);
        // Chosen on the command line while the window was closed.
        Prefs::setAppIconStyle(u"petroglyph"_qs);
        f.window->show();
        QCOMPARE(picker->selected(), AppIconStyle::Petroglyph);
    }
};

ULVANE_WIDGET_TEST_MAIN(TestSettings, false)
#include "test_settings.moc"
