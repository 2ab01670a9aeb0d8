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
        m_rig->addThree();
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

    // The preview follows the selection; a stuck selection still asks the list to scroll to it.
    void selectionStopsAtTheEndsAndFollowsItsClip()
    {
        m_rig->addThree();
        model().togglePreview();
        QSignalSpy scrolls(&model(), &PanelModel::scrollTargetChanged);
        for (const auto &[step, expected] : QList<std::pair<int, int>>{{-1, 0}, {50, 2}, {-1, 1}}) {
            model().moveSelection(step);
            QCOMPARE(model().selection(), expected);
            QCOMPARE(model().scrollTarget(), model().clips().at(expected).id);
            QCOMPARE(model().previewClip().id, model().clips().at(expected).id);
        }
        QCOMPARE(scrolls.count(), 3);

        // Still listed: the preview stays although the selection went back to the top.
        model().refresh(false);
        QCOMPARE(model().selection(), 0);
        QCOMPARE(model().previewClip().excerpt, QStringLiteral("beta"));

        // A newer clip above: the selection stays on its clip.
        model().setSelection(1);
        const QString selected = model().clips().at(1).id;
        m_rig->add(QStringLiteral("delta"));
        QCOMPARE(model().selection(), 2);
        QCOMPARE(model().selectedClip()->id, selected);
    }

    // The selected clip leaves the list: the selection stays at its height, within the list,
    // and its preview closes. The last row goes out of the favourites, then is deleted twice.
    void leavingClipClampsSelection()
    {
        for (const char *text : {"a", "b", "c"})
            m_rig->store.setPinned(m_rig->add(QString::fromLatin1(text)), true);
        model().setFilter(ClipFilter::Favorites);
        for (int rows = 3; rows > 0; --rows) {
            model().setSelection(rows - 1);
            model().togglePreview();
            if (rows == 3)
                m_rig->actions.togglePin(*model().selectedClip());
            else
                m_rig->actions.remove(*model().selectedClip());
            QCOMPARE(model().count(), rows - 1);
            QCOMPARE(model().selection(), std::max(rows - 2, 0));
            QVERIFY(!model().hasPreview());
        }
    }

    void pasteHidesFirstThenPastes()
    {
        m_rig->addThree();
        m_rig->actions.paste(model().clips().at(1), true, Transform::Upper);
        QCOMPARE(m_rig->hides, 1);
        // Not yet: the window must be gone before the clipboard changes and the keys go out.
        QCOMPARE(m_rig->pasteboard.writes, 0);
        QVERIFY(m_rig->waitForPaste());
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("BETA"));
        QCOMPARE(m_rig->pasteboard.writes, 1);
    }

    void copyExtracted()
    {
        m_rig->add(QStringLiteral("no addresses here"));
        m_rig->add(QStringLiteral("mail a@b.com and c@d.org"));
        m_rig->pasteboard.copyText(QStringLiteral("before"));
        // Nothing found: the clipboard keeps what it had and the picker stays.
        m_rig->actions.copyExtracted(model().clips().at(1), Extractor::Emails);
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("before"));
        QCOMPARE(m_rig->hides, 0);
        m_rig->actions.copyExtracted(model().clips().at(0), Extractor::Emails);
        QCOMPARE(m_rig->pasteboardText(), QStringLiteral("a@b.com\nc@d.org"));
        QCOMPARE(m_rig->hides, 1);
        QVERIFY(m_rig->keys.strokes.isEmpty());
    }

    // Cancelled, saved as typed (blanks kept), saved empty; the prompt offers the current title.
    void rename()
    {
        m_rig->add(QStringLiteral("text"), ClipKind::Text, QStringLiteral("old"));
        const QList<std::pair<std::optional<QString>, QString>> answers{
            {std::nullopt, QStringLiteral("old")},
            {QStringLiteral(" new "), QStringLiteral(" new ")},
            {QString(), QString()}};
        for (const auto &answer : answers) {
            const QString before = model().clips().at(0).title;
            QString offered;
            m_rig->actions.setRenamePrompt([&](const Clip &clip) {
                offered = clip.title;
                return answer.first;
            });
            m_rig->actions.rename(model().clips().at(0));
            QCOMPARE(offered, before);
            QCOMPARE(model().clips().at(0).title, answer.second);
        }
    }

    void onShowResets()
    {
        m_rig->addThree();
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
