#include "PanelRig.h"
#include "StderrCapture.h"
#include "TestMain.h"

#include "panel/AppIconCache.h"
#include "panel/ClipListModel.h"
#include "panel/ClipListView.h"
#include "panel/ClipRowDelegate.h"
#include "panel/FilterTabs.h"
#include "panel/PanelController.h"
#include "panel/PanelView.h"
#include "panel/PreviewPane.h"
#include "panel/Theme.h"
#include "prefs/Prefs.h"

#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
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
    bool m_trusted = true;

    void build()
    {
        PanelHooks hooks;
        hooks.trusted = [this] { return m_trusted; };
        m_view = std::make_unique<PanelView>(m_rig->model, *m_prefs, m_rig->store, m_rig->paste,
                                             *m_icons, hooks);
        m_view->resize(720, 460);
    }

    QStringList menuTexts(const QMenu *menu) const
    {
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
        return texts;
    }

    QAction *action(const QMenu *menu, const QString &text) const
    {
        for (QAction *candidate : menu->actions()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }

private Q_SLOTS:
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
        m_trusted = true;
    }

    void hexColours_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: none
        QTest::newRow("#RRGGBB") << "#FF8800"
                                 << "#ff8800";
        QTest::newRow("bare") << "ff8800"
                              << "#ff8800";
        QTest::newRow("blanks around") << " \t#ff8800  "
                                       << "#ff8800";
        QTest::newRow("alpha ignored") << "#FF880080"
                                       << "#ff8800";
        QTest::newRow("transparent alpha still opaque") << "#11223300"
                                                        << "#112233";
        QTest::newRow("plus sign") << "+12345"
                                   << "#012345";
        QTest::newRow("short form") << "#F80"
                                    << "";
        QTest::newRow("seven digits") << "FF88001"
                                      << "";
        QTest::newRow("word") << "red"
                              << "";
        QTest::newRow("bad digit") << "#GG0000"
                                   << "";
        QTest::newRow("two hashes") << "##ff880"
                                    << "";
        QTest::newRow("line break") << "#ff8800\n"
                                    << "";
        QTest::newRow("minus") << "-12345"
                               << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void hexColours()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const std::optional<QColor> color = colorFromHexString(text);
        if (expected.isEmpty()) {
            QVERIFY(!color);
        } else {
            QVERIFY(color);
            QCOMPARE(color->name(), expected);
            QCOMPARE(color->alpha(), 255);
        }
    }

    void placementFollowsThePointer_data()
    {
        using Area = PanelController::ScreenArea;
        // Two screens side by side; the left one loses 30 pixels to a top bar.
        const QList<Area> two{{QRect(0, 0, 1920, 1080), QRect(0, 30, 1920, 1050)},
                              {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)}};
        QTest::addColumn<QList<Area>>("screens");
        QTest::addColumn<int>("primary");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("first screen")
            << two << 0 << QPoint(100, 100) << QSize(720, 460) << QPoint(600, 30 + 525 - 230 - 84);
        QTest::newRow("second screen") << two << 0 << QPoint(2500, 900) << QSize(720, 460)
                                       << QPoint(1920 + 640 - 360, 512 - 230 - 82);
        QTest::newRow("resized panel keeps its size")
            << two << 0 << QPoint(2500, 900) << QSize(600, 400)
            << QPoint(1920 + 640 - 300, 512 - 200 - 82);
        QTest::newRow("pointer off every screen: primary")
            << two << 1 << QPoint(-50, -50) << QSize(720, 460)
            << QPoint(1920 + 640 - 360, 512 - 230 - 82);
    }
    void placementFollowsThePointer()
    {
        QFETCH(QList<PanelController::ScreenArea>, screens);
        QFETCH(int, primary);
        QFETCH(QPoint, pointer);
        QFETCH(QSize, size);
        QFETCH(QPoint, expected);
        QCOMPARE(
            PanelController::panelOrigin(pointer, size, screens, primary).value_or(QPoint(-1, -1)),
            expected);
        QVERIFY(!PanelController::panelOrigin(pointer, size, {}, -1));
    }

    void emptyStatesSayWhy()
    {
        build();
        ClipListView *list = m_view->listView();
        QCOMPARE(list->emptyText(), QStringLiteral("Nothing captured yet — copy something."));
        m_rig->model.setFilterValue(int(ClipFilter::Images));
        QCOMPARE(list->emptyText(), QStringLiteral("Nothing captured yet — copy something."));
        m_rig->model.setQuery(QStringLiteral("zzz"));
        QCOMPARE(list->emptyText(), QStringLiteral("No matches."));
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("0"));
        // The empty state is painted, not an error.
        QVERIFY(!m_view->grab().isNull());
    }

    void footerFollowsPreferences()
    {
        m_rig->add(QStringLiteral("one"));
        m_rig->add(QStringLiteral("two"));
        m_rig->model.refresh(false);
        m_trusted = false;
        build();
        m_view->show();
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("2"));
        QVERIFY(!m_view->pausedChip()->isVisible());
        QVERIFY(!m_view->pausedLabel()->isVisible());
        QVERIFY(!m_view->plainLabel()->isVisible());
        QCOMPARE(m_view->autoPasteButton()->isVisible(), m_prefs->autoPaste());

        m_prefs->setPaused(true);
        m_prefs->setPlainTextMode(true);
        m_prefs->setAutoPaste(true);
        QVERIFY(m_view->pausedChip()->isVisible());
        QVERIFY(m_view->pausedLabel()->isVisible());
        QVERIFY(m_view->plainLabel()->isVisible());
        QVERIFY(m_view->autoPasteButton()->isVisible());
        QCOMPARE(m_view->autoPasteButton()->text(), QStringLiteral("Enable auto-paste"));

        // Trust is read again on each appearance.
        m_trusted = true;
        m_view->updateFooter();
        QVERIFY(!m_view->autoPasteButton()->isVisible());
        m_prefs->setAutoPaste(false);
        m_trusted = false;
        m_view->updateFooter();
        QVERIFY(!m_view->autoPasteButton()->isVisible());
        QCOMPARE(m_view->hintLabel()->text(),
                 QStringLiteral("↩ paste · Alt+↩ plain · Ctrl+1–9 "
                                "quick · Ctrl+D pin · Ctrl+I preview · "
                                "Ctrl+⌫ delete · esc close"));
    }

    void moreMenuAndToolbar()
    {
        build();
        QMenu *more = m_view->moreMenu();
        QMetaObject::invokeMethod(more, "aboutToShow");
        QCOMPARE(menuTexts(more), (QStringList{"Launch at Login", "Pause Clipping",
                                               "Import from CopyLess 2…", "--", "About", "Quit"}));
        action(more, QStringLiteral("Pause Clipping"))->trigger();
        QVERIFY(m_prefs->paused());
        QMetaObject::invokeMethod(more, "aboutToShow");
        QVERIFY(action(more, QStringLiteral("Resume Clipping")));
        action(more, QStringLiteral("About"))->trigger();
        QCOMPARE(m_rig->hides, 1);
        m_view->closeButton()->click();
        QCOMPARE(m_rig->hides, 2);
        QCOMPARE(m_view->settingsButton()->toolTip(), QStringLiteral("Settings"));
        QCOMPARE(m_view->closeButton()->toolTip(), QStringLiteral("Close (esc)"));
    }

    void rowMenuHasEveryItemAndActs()
    {
        const QString id = m_rig->add(QStringLiteral("write to me@example.org"));
        m_rig->add(QStringLiteral("no addresses here"));
        m_rig->model.refresh(false);
        build();
        const Clip first = m_rig->model.clips().at(0);
        std::unique_ptr<QMenu> menu(m_view->listView()->buildContextMenu(first, nullptr));
        QCOMPARE(menuTexts(menu.get()),
                 (QStringList{"Paste", "Paste as Plain Text", "Copy (no paste)", "--", "Paste as…",
                              "Copy extracted…", "--", "Pin as Favorite", "Rename…", "Preview",
                              "--", "Delete"}));
        QCOMPARE(menuTexts(action(menu.get(), QStringLiteral("Paste as…"))->menu()),
                 (QStringList{"Plain Text", "lowercase", "UPPERCASE", "Title Case", "Trimmed",
                              "Single Line", "No Blank Lines", "Markdown Code Block"}));
        QMenu *extract = action(menu.get(), QStringLiteral("Copy extracted…"))->menu();
        QCOMPARE(menuTexts(extract), (QStringList{"Emails", "URLs", "Numbers"}));

        // Nothing to extract: the clipboard stays as it was and the panel stays open.
        action(extract, QStringLiteral("Emails"))->trigger();
        QVERIFY(m_rig->pasteboard.items.isEmpty());
        QCOMPARE(m_rig->hides, 0);

        action(menu.get(), QStringLiteral("Preview"))->trigger();
        QCOMPARE(m_rig->model.previewClip().id, first.id);
        QVERIFY(m_view->previewPane()->isVisibleTo(m_view.get()));
        QCOMPARE(m_rig->model.selection(), 0);

        action(menu.get(), QStringLiteral("Pin as Favorite"))->trigger();
        QVERIFY(m_rig->model.clips().at(0).pinned);
        std::unique_ptr<QMenu> again(
            m_view->listView()->buildContextMenu(m_rig->model.clips().at(0), nullptr));
        QVERIFY(action(again.get(), QStringLiteral("Unpin")));

        action(again.get(), QStringLiteral("Copy (no paste)"))->trigger();
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("no addresses here"));
        QCOMPARE(m_rig->hides, 1);

        const Clip second = m_rig->model.clips().at(1);
        QCOMPARE(second.id, id);
        std::unique_ptr<QMenu> third(m_view->listView()->buildContextMenu(second, nullptr));
        action(third.get(), QStringLiteral("Delete"))->trigger();
        QCOMPARE(m_rig->store.count(), 1);
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("1"));
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
        QCOMPARE(titled.title, QStringLiteral("A title"));
        const ClipRowDelegate::Geometry comfortable =
            delegate->geometry(titled, 1, QRect(0, 0, 600, 80));
        QCOMPARE(comfortable.excerptLines, 2);
        QCOMPARE(comfortable.icon.size(), QSizeF(20, 20));
        QCOMPARE(comfortable.age.width(), 44.0);
        // The highlight reaches 6 beyond the content's 12-point inset.
        QCOMPARE(comfortable.highlight.left(), 6.0);
        QCOMPARE(comfortable.highlight.right(), 594.0);
        const QModelIndex shortRow = list->model()->index(0, 0);
        QVERIFY(list->sizeHintForIndex(shortRow).height() >= 44 + ClipRowDelegate::rowGap);
        const int titledHeight = list->sizeHintForIndex(list->model()->index(1, 0)).height();
        QVERIFY2(titledHeight > 3 * 15, qPrintable(QString::number(titledHeight)));

        m_prefs->setDensity(0);
        QVERIFY(delegate->compact());
        QCOMPARE(delegate->geometry(titled, 1, QRect(0, 0, 600, 80)).excerptLines, 1);
        const int compactShort = list->sizeHintForIndex(shortRow).height();
        QVERIFY(compactShort >= 30 + ClipRowDelegate::rowGap);
        QVERIFY(compactShort < 44);
        QVERIFY(list->sizeHintForIndex(list->model()->index(1, 0)).height() < titledHeight);
    }

    void kindElements()
    {
        build();
        auto *delegate = qobject_cast<ClipRowDelegate *>(m_view->listView()->itemDelegate());
        Clip colour;
        colour.kind = ClipKind::Color;
        colour.excerpt = QStringLiteral("#4A9EFF");
        QCOMPARE(delegate->geometry(colour, 0, QRect(0, 0, 600, 44)).kindElement.size(),
                 QSizeF(18, 18));
        Clip image;
        image.kind = ClipKind::Image;
        image.id = QStringLiteral("NO-THUMBNAIL");
        // A missing thumbnail shows nothing rather than a broken box.
        QVERIFY(delegate->geometry(image, 0, QRect(0, 0, 600, 44)).kindElement.isEmpty());
    }

    void previewShowsWhatTheStoreHas()
    {
        const QString id = m_rig->add(QStringLiteral("line one\nline two"));
        build();
        PreviewPane *pane = m_view->previewPane();
        Clip clip = m_rig->model.clips().value(0);
        if (clip.id.isEmpty()) {
            m_rig->model.refresh(false);
            clip = m_rig->model.clips().at(0);
        }
        QCOMPARE(clip.id, id);
        pane->setClip(clip);
        QCOMPARE(pane->appLabelText(), QStringLiteral("Unknown app"));
        QCOMPARE(pane->bodyText(), QStringLiteral("line one\nline two"));
        QVERIFY(pane->statsText().contains(QStringLiteral("2")));

        // Content file gone: the excerpt and the byte size stand in.
        QVERIFY(QFile::remove(m_rig->dir.filePath(QStringLiteral("Content/%1.json").arg(id))));
        clip.appName = QStringLiteral("Editor");
        clip.byteSize = 2000;
        pane->setClip(clip);
        QCOMPARE(pane->appLabelText(), QStringLiteral("Editor"));
        QCOMPARE(pane->bodyText(), clip.excerpt);
        QCOMPARE(pane->statsText(),
                 QLocale().formattedDataSize(2000, 1, QLocale::DataSizeSIFormat));
        QVERIFY(!pane->showsImage());
    }

    void previewOfAnImageWithText()
    {
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(Qt::white);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        const std::optional<QString> id = m_rig->store.insert(
            {FlavorList{Flavor{Uti::png, png}}}, ClipKind::Image, QStringLiteral("Image 64×32"), {},
            {}, 2000.0, png, false, QStringLiteral("IMG"));
        QVERIFY(id);
        m_rig->model.refresh(false);
        build();
        Clip clip = m_rig->model.clips().at(0);
        clip.ocr = QStringLiteral("Invoice 42");
        m_view->previewPane()->setClip(clip);
        QVERIFY(m_view->previewPane()->showsImage());
        QCOMPARE(m_view->previewPane()->bodyText(), QStringLiteral("Invoice 42"));
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

    void tabsAndClicks()
    {
        m_rig->add(QStringLiteral("first"));
        m_rig->add(QStringLiteral("second"));
        m_rig->model.refresh(false);
        build();
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        FilterTabs *tabs = m_view->filterTabs();
        QCOMPARE(tabs->count(), 6);
        QCOMPARE(tabs->label(1), QStringLiteral("★"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(m_rig->model.filter(), ClipFilter::Favorites);
        QCOMPARE(m_view->countLabel()->text(), QStringLiteral("0"));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(m_rig->model.count(), 2);

        // A click pastes the row under the pointer, not the selected one.
        ClipListView *list = m_view->listView();
        const QRect second = list->visualRect(list->model()->index(1, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(m_rig->hides, 1);
        QTest::qWait(PanelModel::pasteDelayMs + 30);
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("first"));
    }

    void typingAndFocus()
    {
        m_rig->add(QStringLiteral("apple pie"));
        m_rig->add(QStringLiteral("banana split"));
        m_rig->model.refresh(false);
        build();
        m_view->show();
        m_view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        m_rig->model.onShow();
        QTRY_VERIFY(m_view->searchField()->hasFocus());
        QTest::keyClicks(m_view->searchField(), QStringLiteral("bana"));
        QCOMPARE(m_rig->model.query(), QStringLiteral("bana"));
        QVERIFY(m_view->clearSearchButton()->isVisibleTo(m_view.get()));
        QTRY_COMPARE(m_rig->model.count(), 1);
        m_view->clearSearchButton()->click();
        QVERIFY(m_view->searchField()->text().isEmpty());
        QTRY_COMPARE(m_rig->model.count(), 2);
    }

    void hostileSearchesNeverShowAnError_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("10 000 characters") << QString(10000, QLatin1Char('x'));
        QTest::newRow("10 000 words") << QString(QStringLiteral("ab ")).repeated(3400);
        QTest::newRow("quotes") << "\"unbalanced 'quotes\"\"";
        QTest::newRow("like wildcards") << "100% _done_";
        QTest::newRow("fts operators") << "AND OR NOT NEAR(a b) * - ^ : ( )";
        QTest::newRow("column filter") << "excerpt:foo {title}: bar";
        QTest::newRow("nul and controls") << QString::fromUtf16(u"a\u0000b\u0001\u202e");
    }
    void hostileSearchesNeverShowAnError()
    {
        QFETCH(QString, query);
        for (int i = 0; i < 400; ++i)
            m_rig->add(QString(QStringLiteral("%1 ")).arg(i).repeated(60).left(240));
        m_rig->model.refresh(false);
        build();
        m_view->show();
        StderrCapture capture;
        m_rig->model.setQuery(query);
        m_rig->model.refresh(false);
        QVERIFY(!m_view->grab().isNull());
        QVERIFY(m_rig->model.count() >= 0);
        QCOMPARE(m_view->countLabel()->text(), QString::number(m_rig->model.count()));
        QCOMPARE(capture.text(), QByteArray());
    }
};

ULVANE_WIDGET_TEST_MAIN(TestPanelView, false)
#include "test_panel_view.moc"
