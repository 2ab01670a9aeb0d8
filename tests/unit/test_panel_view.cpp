#include "PanelRig.h"
#include "TestMain.h"

#include "panel/AppIconCache.h"
#include "panel/ClipListView.h"
#include "panel/ClipRowDelegate.h"
#include "panel/FilterTabs.h"
#include "panel/PanelController.h"
#include "panel/PanelView.h"
#include "panel/PreviewPane.h"
#include "panel/RelativeTime.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

// The picker's widgets over a real store and real preferences, offscreen.
class TestPanelView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PanelRig> m_rig;
    std::unique_ptr<Prefs> m_prefs;
    std::unique_ptr<AppIconCache> m_icons;
    std::unique_ptr<PanelView> m_view;
    QStringList m_lookups;
    QAction m_enableAutoPaste, m_about, m_pause;

    void build()
    {
        PanelActions actions;
        actions.more = {&m_pause, nullptr, &m_about};
        actions.enableAutoPaste = &m_enableAutoPaste;
        m_view = std::make_unique<PanelView>(m_rig->model, m_rig->actions, *m_prefs, m_rig->store,
                                             *m_icons, actions);
        m_view->resize(720, 460);
    }

    static QAction *action(const QMenu *menu, const QString &text)
    {
        const QList<QAction *> all = menu->actions();
        const auto found = std::find_if(all.begin(), all.end(),
                                        [&text](const QAction *a) { return a->text() == text; });
        return found == all.end() ? nullptr : *found;
    }

private Q_SLOTS:
    void relTime()
    {
        const double now = 1'800'000'000;
        QCOMPARE(RelativeTime::relTime(now - 59.9, now), u"now"_qs);
        QCOMPARE(RelativeTime::relTime(now + 3600, now), u"now"_qs); // a clock set back
        const QString fiveMinutes = RelativeTime::relTime(now - 5 * 60 - 10, now);
        QVERIFY(fiveMinutes.contains(u'5') && fiveMinutes != u"now"_qs);
        const QString twoHours = RelativeTime::relTime(now - 2 * 3600 - 5, now);
        QVERIFY(twoHours.contains(u'2') && twoHours != fiveMinutes);
    }

    void init()
    {
        m_view.reset();
        m_rig = std::make_unique<PanelRig>();
        m_prefs = std::make_unique<Prefs>(m_rig->dir.filePath(QStringLiteral("prefs.conf")));
        m_lookups.clear();
        m_icons = std::make_unique<AppIconCache>([this](const QString &id) {
            m_lookups.append(id);
            return id == QLatin1String("known")
                       ? QStringLiteral(ULVANE_FIXTURES "/ocr-screenshot.png")
                       : QString();
        });
        m_enableAutoPaste.setVisible(false);
    }

    void hexColours()
    {
        // As #AARRGGBB: the alpha byte never makes a swatch see-through.
        const QList<std::pair<QString, QString>> colours{
            {" \tff8800  ", "#ffff8800"}, {"#11223300", "#ff112233"}, {"+12345", "#ff012345"}};
        for (const auto &[text, expected] : colours)
            QCOMPARE(colorFromHexString(text).value_or(QColor()).name(QColor::HexArgb), expected);
        for (const char *text : {"#F80", "FF88001", "#GG0000", "##ff880", "#ff8800\n", "-12345"})
            QVERIFY2(!colorFromHexString(QLatin1String(text)), text);
    }

    // Centred on the pointer's screen, 8 % of its usable height above the middle.
    void placementFollowsThePointer()
    {
        // Two screens side by side; the left one loses 30 pixels to a top bar.
        const QList<PanelController::ScreenArea> two{
            {QRect(0, 0, 1920, 1080), QRect(0, 30, 1920, 1050)},
            {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)}};
        const QSize size(720, 460);
        // Pointer, primary screen, expected origin.
        const QList<std::tuple<QPoint, int, QPoint>> cases{
            {{100, 100}, 0, {600, 30 + 525 - 230 - 84}},
            {{2500, 900}, 0, {1920 + 640 - 360, 512 - 230 - 82}},
            {{-50, -50}, 1, {1920 + 640 - 360, 512 - 230 - 82}}, // off every screen
        };
        for (const auto &[pointer, primary, expected] : cases) {
            const std::optional<QPoint> origin =
                PanelController::panelOrigin(pointer, size, two, primary);
            QCOMPARE(origin.value_or(QPoint(-1, -1)), expected);
        }
        QVERIFY(!PanelController::panelOrigin(QPoint(), size, {}, -1));
    }

    void emptyPickerFollowsPreferencesAndSearch()
    {
        m_prefs->setAutoPaste(false);
        build();
        m_view->show();
        m_enableAutoPaste.setVisible(true); // keys cannot be sent, found after the picker was built
        // Paused chip and label, plain label, auto-paste warning.
        const auto shown = [this] {
            return QList<bool>{
                m_view->pausedChip()->isVisible(), m_view->pausedLabel()->isVisible(),
                m_view->plainLabel()->isVisible(), m_view->autoPasteButton()->isVisible()};
        };
        QCOMPARE(shown(), (QList<bool>{false, false, false, false}));

        m_prefs->setPaused(true);
        m_prefs->setPlainTextMode(true);
        m_prefs->setAutoPaste(true);
        QCOMPARE(shown(), (QList<bool>{true, true, true, true}));
        m_enableAutoPaste.setVisible(false);
        QVERIFY(!m_view->autoPasteButton()->isVisible());
        m_view->closeButton()->click();
        QCOMPARE(m_rig->hides, 1);

        const QString nothingYet = m_view->listView()->emptyText();
        m_rig->model.setQuery(QStringLiteral("zzz"));
        QVERIFY(m_view->listView()->emptyText() != nothingYet);
    }

    // Hidden, the window's list waits for the next showing; shown, it follows the store.
    // Whoever looks at the clipboard before the picker appears must do so while the previous
    // window is still in front: once the picker has the keyboard, a copy would count as ours.
    void aboutToShowComesBeforeThePickerTakesTheKeyboard()
    {
        PanelController controller(m_rig->store, m_rig->paste, m_rig->workspace, *m_prefs,
                                   *m_icons);
        const quint64 previous = m_rig->workspace.active;
        QList<std::pair<bool, quint64>> seen; // visible, window in front
        connect(&controller, &PanelController::aboutToShow, this, [&] {
            seen.append({controller.isVisible(), m_rig->workspace.active});
        });
        controller.show();
        QCOMPARE(seen, (QList<std::pair<bool, quint64>>{{false, previous}}));
        QVERIFY(controller.isVisible());
        QVERIFY(m_rig->workspace.active != previous);
        controller.hide();
    }

    void listFollowsTheStoreOnlyOnScreen()
    {
        m_rig->add(QStringLiteral("first"));
        build();
        m_view->show();
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("1"));
        m_view->hide();
        m_rig->add(QStringLiteral("second"));
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("1"));
        m_view->show();
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("2"));
        m_rig->add(QStringLiteral("third"));
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("3"));
    }

    void rowSizesFollowFontAndDensity()
    {
        const QString longText = QString(QStringLiteral("word ")).repeated(60);
        m_rig->add(longText, ClipKind::Text, QStringLiteral("A title"));
        m_rig->add(QStringLiteral("short"));
        m_rig->model.refresh(false);
        m_prefs->setFontSize(15);
        m_prefs->setDensity(1);
        build();
        m_view->show();
        ClipListView *list = m_view->listView();
        auto *delegate = qobject_cast<ClipRowDelegate *>(list->itemDelegate());
        QVERIFY(delegate);
        const Clip titled = m_rig->model.clips().at(1);
        QCOMPARE(delegate->geometry(titled, 1, QRect(0, 0, 600, 80)).excerptLines, 2);
        Clip swatch;
        swatch.kind = ClipKind::Color;
        swatch.excerpt = QStringLiteral("#4A9EFF");
        QVERIFY(!delegate->geometry(swatch, 0, QRect(0, 0, 600, 44)).kindElement.isEmpty());
        // A missing thumbnail shows nothing rather than a broken box.
        swatch.kind = ClipKind::Image;
        QVERIFY(delegate->geometry(swatch, 0, QRect(0, 0, 600, 44)).kindElement.isEmpty());
        const auto height = [list](int row) {
            return list->sizeHintForIndex(list->model()->index(row, 0)).height();
        };
        const int shortHeight = height(0);
        const int titledHeight = height(1);
        QVERIFY(titledHeight > shortHeight);

        // Every age the locale writes fits its column, number and all.
        const qreal ageWidth = delegate->geometry(titled, 1, QRect(0, 0, 600, 80)).age.width();
        for (const QString &label : RelativeTime::longestLabels())
            QVERIFY2(QFontMetricsF(Fonts::mono(10.5)).horizontalAdvance(label) <= ageWidth,
                     qPrintable(label));

        m_prefs->setDensity(0);
        QCOMPARE(delegate->geometry(titled, 1, QRect(0, 0, 600, 80)).excerptLines, 1);
        QVERIFY(height(0) < shortHeight);
        QVERIFY(height(1) < titledHeight);
    }

    void previewShowsWhatTheStoreHas()
    {
        m_rig->add({FlavorList{Flavor{Uti::png, filledPng(64, 32)}}}, ClipKind::Image);
        const QString id = m_rig->add(QStringLiteral("line one\nline two"));
        m_rig->model.refresh(false);
        build();
        PreviewPane *pane = m_view->previewPane();
        Clip clip = m_rig->model.clips().at(0);
        QCOMPARE(clip.id, id);
        pane->setClip(clip);
        QCOMPARE(pane->bodyText(), QStringLiteral("line one\nline two"));

        // Content file gone: the excerpt and the byte size stand in. A window's name is shown as
        // written, never read as markup.
        QVERIFY(QFile::remove(m_rig->dir.filePath(QStringLiteral("Content/%1.json").arg(id))));
        clip.byteSize = 2000;
        clip.appName = QStringLiteral("<img src=\"/etc/x.png\">Editor");
        pane->setClip(clip);
        const QList<QLabel *> labels = pane->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [&clip](const QLabel *label) {
            return label->text() == clip.appName && label->textFormat() == Qt::PlainText;
        }));
        QCOMPARE(pane->bodyText(), clip.excerpt);
        QCOMPARE(pane->statsText(),
                 QLocale().formattedDataSize(2000, 1, QLocale::DataSizeSIFormat));

        Clip picture = m_rig->model.clips().at(1);
        picture.ocr = QStringLiteral("Invoice 42");
        pane->setClip(picture);
        QVERIFY(pane->showsImage());
        QCOMPARE(pane->bodyText(), QStringLiteral("Invoice 42"));
    }

    void appIconsAreLookedUpOncePerApplication()
    {
        QVERIFY(!m_icons->icon(QString()).isNull());
        QVERIFY(m_lookups.isEmpty());
        const QPixmap unknown = m_icons->icon(QStringLiteral("gone.app"));
        QCOMPARE(unknown.cacheKey(), m_icons->generic().cacheKey());
        m_icons->icon(QStringLiteral("gone.app"));
        const QPixmap known = m_icons->icon(QStringLiteral("known"));
        m_icons->icon(QStringLiteral("known"));
        QCOMPARE(m_lookups, (QStringList{"gone.app", "known"}));
        QVERIFY(!known.isNull());
        QVERIFY(known.cacheKey() != m_icons->generic().cacheKey());
    }

    // Tabs and the search field's clear button; then a row's menu items and a click, which act
    // on the clip under the pointer, not the selected one.
    void pointerActsOnTheClipUnderIt()
    {
        m_rig->addThree();
        build();
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        FilterTabs *tabs = m_view->filterTabs();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(m_rig->model.filter(), ClipFilter::Favorites);
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("0"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(m_rig->model.count(), 3);
        QTest::keyClicks(m_view->searchField(), QStringLiteral("bet"));
        QCOMPARE(m_rig->model.query(), QStringLiteral("bet"));
        m_view->clearSearchButton()->click();
        QVERIFY(m_view->searchField()->text().isEmpty() && m_rig->model.query().isEmpty());

        const auto menuFor = [this](int row) {
            return std::unique_ptr<QMenu>(
                m_view->listView()->buildContextMenu(m_rig->model.clips().at(row), nullptr));
        };
        action(menuFor(1).get(), QStringLiteral("Preview"))->trigger();
        QCOMPARE(m_rig->model.previewClip().excerpt, QStringLiteral("beta"));
        QVERIFY(m_view->previewPane()->isVisibleTo(m_view.get()));
        QCOMPARE(m_rig->model.selection(), 0);
        action(menuFor(1).get(), QStringLiteral("Pin as Favorite"))->trigger();
        QVERIFY(m_rig->model.clips().at(1).pinned);
        action(menuFor(1).get(), QStringLiteral("Copy (no paste)"))->trigger();
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("beta"));
        QCOMPARE(m_rig->hides, 1);
        {
            // The one item that loses data is drawn in the warning colour.
            const auto menu = menuFor(0);
            menu->adjustSize();
            const QImage drawn =
                menu->grab(menu->actionGeometry(action(menu.get(), u"Delete"_qs))).toImage();
            bool warned = false;
            for (int i = 0; i < drawn.width() * drawn.height(); ++i) {
                const QColor c = drawn.pixelColor(i % drawn.width(), i / drawn.width());
                warned = warned || (c.red() - c.blue() > 80 && c.green() - c.blue() > 50);
            }
            QVERIFY(warned);
        }
        action(menuFor(0).get(), QStringLiteral("Delete"))->trigger();
        QCOMPARE(m_rig->model.clips().at(0).excerpt, QStringLiteral("beta"));
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("2"));

        ClipListView *list = m_view->listView();
        QCOMPARE(m_rig->model.selection(), 0);
        const QRect second = list->visualRect(list->model()->index(1, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(m_rig->hides, 2);
        QVERIFY(m_rig->waitForPaste(2));
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("alpha"));
    }
};

ULVANE_WIDGET_TEST_MAIN(TestPanelView, false)
#include "test_panel_view.moc"
