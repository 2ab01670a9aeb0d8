#include "PanelRig.h"
#include "TestMain.h"

#include <QSignalSpy>

#include <memory>

// The picker's list and the actions on its clips, over a real store.
class TestPanelModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PanelRig> m_rig;
    PanelModel &model() { return m_rig->model; }

    // Three rows: "gamma" (0), "beta" (1), "alpha" (2).
    void addThree()
    {
        for (const char *text : {"alpha", "beta", "gamma"})
            m_rig->add(QString::fromLatin1(text));
        model().refresh(false);
    }

private Q_SLOTS:
    void init() { m_rig = std::make_unique<PanelRig>(); }

    void typingBurstQueriesOnce()
    {
        for (const char *text : {"alphabet", "beta", "alpha"})
            m_rig->add(QString::fromLatin1(text));
        QSignalSpy queries(&model(), &PanelModel::modelReset);
        for (const char *typed : {"a", "al", "alp", "alph", "alpha"}) {
            model().setQuery(QString::fromLatin1(typed));
            QCoreApplication::processEvents();
        }
        QCOMPARE(queries.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(queries.count(), 1, 10000);
        QCOMPARE(model().count(), 2);
        QTest::qWait(PanelModel::refreshDelayMs * 2);
        QCOMPARE(queries.count(), 1);
    }

    // Off screen a capture costs no query; the next showing reads the store exactly once.
    void hiddenPickerQueriesOnlyWhenShown_data()
    {
        QTest::addColumn<bool>("byController");
        QTest::newRow("shown by the hot key") << true;
        QTest::newRow("mapped again") << false;
    }
    void hiddenPickerQueriesOnlyWhenShown()
    {
        QFETCH(bool, byController);
        addThree();
        model().setOnScreen(false);
        QSignalSpy queries(&model(), &PanelModel::modelReset);
        m_rig->add(QStringLiteral("captured while hidden"));
        m_rig->store.setPinned(model().clips().at(1).id, true);
        QCoreApplication::processEvents();
        QCOMPARE(queries.count(), 0);
        QCOMPARE(model().count(), 3);
        QVERIFY(model().isStale());

        if (byController)
            model().onShow();
        model().setOnScreen(true);
        QCOMPARE(queries.count(), 1);
        QCOMPARE(model().count(), 4);
        QVERIFY(model().clips().at(2).pinned);
        // Kept by id when mapped again; the top row on a new appearance.
        QCOMPARE(model().selectedClip()->excerpt,
                 byController ? QStringLiteral("captured while hidden") : QStringLiteral("gamma"));
        QTest::qWait(PanelModel::refreshDelayMs * 2);
        QCOMPARE(queries.count(), 1);

        // Back on screen the list is live again.
        m_rig->add(QStringLiteral("captured while shown"));
        QCOMPARE(queries.count(), 2);
        QCOMPARE(model().count(), 5);
    }

    void moveSelection_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("expected");
        QTest::newRow("down") << 0 << 1 << 1;
        QTest::newRow("down at the last row") << 2 << 1 << 2;
        QTest::newRow("up at the first row") << 0 << -1 << 0;
        QTest::newRow("far past the end") << 1 << 50 << 2;
    }
    void moveSelection()
    {
        QFETCH(int, start);
        QFETCH(int, step);
        QFETCH(int, expected);
        addThree();
        model().setSelection(start);
        QSignalSpy scrolls(&model(), &PanelModel::scrollTargetChanged);
        model().moveSelection(step);
        QCOMPARE(model().selection(), expected);
        // A stuck selection still asks the list to scroll to it.
        QCOMPARE(scrolls.count(), 1);
        QCOMPARE(model().scrollTarget(), model().clips().at(expected).id);
        QVERIFY(!model().hasPreview());
    }

    void previewFollowsSelection()
    {
        addThree();
        model().togglePreview();
        QCOMPARE(model().previewClip().id, model().clips().at(0).id);
        model().moveSelection(1);
        QCOMPARE(model().previewClip().id, model().clips().at(1).id);

        // Still listed: the preview stays although the selection went back to the top.
        model().refresh(false);
        QCOMPARE(model().selection(), 0);
        QCOMPARE(model().previewClip().excerpt, QStringLiteral("beta"));

        model().setQuery(QStringLiteral("gamma"));
        model().refresh(false);
        QVERIFY(!model().hasPreview());
    }

    void storeChangeKeepsSelectionById_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("expected");
        QTest::newRow("pin") << QStringLiteral("pin") << 1;
        QTest::newRow("rename") << QStringLiteral("rename") << 1;
        QTest::newRow("newer clip above") << QStringLiteral("add") << 2;
    }
    void storeChangeKeepsSelectionById()
    {
        QFETCH(QString, change);
        QFETCH(int, expected);
        addThree();
        model().setSelection(1);
        const QString selected = model().clips().at(1).id;
        if (change == QLatin1String("pin"))
            m_rig->store.setPinned(selected, true);
        else if (change == QLatin1String("rename"))
            m_rig->store.setTitle(selected, QStringLiteral("renamed"));
        else
            m_rig->add(QStringLiteral("delta"));
        QCOMPARE(model().selection(), expected);
        QCOMPARE(model().selectedClip()->id, selected);
    }

    // The selected clip leaves the list: the selection stays at its height, within the list.
    void leavingClipClampsSelection_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("unpinFavorite");
        QTest::addColumn<int>("expected");
        QTest::newRow("last of three deleted") << 3 << false << 1;
        QTest::newRow("only row deleted") << 1 << false << 0;
        QTest::newRow("last favorite unpinned") << 3 << true << 1;
    }
    void leavingClipClampsSelection()
    {
        QFETCH(int, rows);
        QFETCH(bool, unpinFavorite);
        QFETCH(int, expected);
        for (int i = 0; i < rows; ++i)
            m_rig->store.setPinned(m_rig->add(QStringLiteral("row %1").arg(i)), true);
        model().setFilter(unpinFavorite ? ClipFilter::Favorites : ClipFilter::All);
        model().setSelection(rows - 1);
        model().togglePreview();
        if (unpinFavorite)
            m_rig->actions.togglePin(*model().selectedClip());
        else
            m_rig->actions.remove(*model().selectedClip());
        QCOMPARE(model().count(), rows - 1);
        QCOMPARE(model().selection(), expected);
        QVERIFY(!model().hasPreview());
    }

    void pasteHidesFirstThenPastes()
    {
        addThree();
        m_rig->actions.pasteRow(3, false); // quick-paste keys past the last row
        m_rig->actions.pasteRow(-1, false);
        QCOMPARE(m_rig->hides, 0);
        m_rig->actions.paste(model().clips().at(1), true, Transform::Upper);
        QCOMPARE(m_rig->hides, 1);
        // Not yet: the window must be gone before the clipboard changes and the keys go out.
        QCOMPARE(m_rig->pasteboard.writes, 0);
        QVERIFY(m_rig->waitForPaste());
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("BETA"));
        QCOMPARE(m_rig->pasteboard.writes, 1);
    }

    void copyExtracted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<int>("hides");
        QTest::newRow("two addresses") << QStringLiteral("mail a@b.com and c@d.org")
                                       << QStringLiteral("a@b.com\nc@d.org") << 1;
        QTest::newRow("nothing found")
            << QStringLiteral("no addresses here") << QStringLiteral("before") << 0;
    }
    void copyExtracted()
    {
        QFETCH(QString, text);
        QFETCH(QString, clipboard);
        QFETCH(int, hides);
        m_rig->add(text);
        m_rig->pasteboard.copyText(QStringLiteral("before"));
        m_rig->actions.copyExtracted(model().clips().at(0), Extractor::Emails);
        QCOMPARE(m_rig->pasteboardText(), clipboard);
        QCOMPARE(m_rig->hides, hides);
        QVERIFY(m_rig->keys.strokes.isEmpty());
    }

    void rename_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("title");
        QTest::newRow("saved") << std::optional<QString>(QStringLiteral(" new "))
                               << QStringLiteral(" new ");
        QTest::newRow("saved empty") << std::optional<QString>(QString()) << QString();
        QTest::newRow("cancelled") << std::optional<QString>() << QStringLiteral("old");
    }
    void rename()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, title);
        m_rig->add(QStringLiteral("text"), ClipKind::Text, QStringLiteral("old"));
        QString offered;
        m_rig->actions.setRenamePrompt([&](const Clip &clip) {
            offered = clip.title;
            return answer;
        });
        m_rig->actions.rename(model().clips().at(0));
        QCOMPARE(offered, QStringLiteral("old"));
        QCOMPARE(model().clips().at(0).title, title);
    }

    void onShowResets()
    {
        addThree();
        model().setFilter(ClipFilter::Links);
        model().setQuery(QStringLiteral("zzz"));
        model().refresh(false);
        QCOMPARE(model().count(), 0);
        model().setPreview(Clip());
        model().setSelection(2);

        model().onShow();
        QCOMPARE(model().query(), QString());
        QCOMPARE(model().filter(), ClipFilter::All);
        QCOMPARE(model().count(), 3);
        QCOMPARE(model().selection(), 0);
        QVERIFY(!model().hasPreview());
        QCOMPARE(model().focusTick(), 1);
        // The first arrow key is not undone by a late refresh of the emptied search.
        model().moveSelection(1);
        QTest::qWait(PanelModel::refreshDelayMs * 2);
        QCOMPARE(model().selection(), 1);
    }
};

ULVANE_TEST_MAIN(TestPanelModel)
#include "test_panel_model.moc"
