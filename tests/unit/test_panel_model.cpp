#include "PanelRig.h"
#include "TestMain.h"

#include "panel/PanelModel.h"
#include "paste/PasteService.h"
#include "store/Store.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

class TestPanelModel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PanelRig> m_rig;

    QString add(const QString &text) { return m_rig->add(text); }

    // Three rows: "gamma" (0), "beta" (1), "alpha" (2).
    void addThree()
    {
        for (const char *text : {"alpha", "beta", "gamma"})
            add(QString::fromLatin1(text));
        m_rig->model.refresh(false);
    }

    QString pasteboardText() const { return m_rig->pasteboardText(); }

private Q_SLOTS:
    void init()
    {
        m_rig.reset();
        m_rig = std::make_unique<PanelRig>();
    }

    void typingBurstQueriesOnce()
    {
        add(QStringLiteral("alphabet"));
        add(QStringLiteral("beta"));
        add(QStringLiteral("alpha"));
        QSignalSpy queries(&m_rig->model, &PanelModel::clipsChanged);

        QElapsedTimer sinceLast;
        for (const char *typed : {"a", "al", "alp", "alph", "alpha"}) {
            m_rig->model.setQuery(QString::fromLatin1(typed));
            sinceLast.start();
            QCoreApplication::processEvents();
        }
        QCOMPARE(queries.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(queries.count(), 1, 3000);
        QVERIFY2(sinceLast.elapsed() >= PanelModel::refreshDelayMs - 10,
                 qPrintable(QString::number(sinceLast.elapsed())));
        QCOMPARE(m_rig->model.count(), 2);
        QTest::qWait(PanelModel::refreshDelayMs + 30);
        QCOMPARE(queries.count(), 1);
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
        m_rig->model.setSelection(start);
        QSignalSpy scrolls(&m_rig->model, &PanelModel::scrollTargetChanged);
        m_rig->model.moveSelection(step);
        QCOMPARE(m_rig->model.selection(), expected);
        // A stuck selection still asks the list to scroll to it.
        QCOMPARE(scrolls.count(), 1);
        QCOMPARE(m_rig->model.scrollTarget(), m_rig->model.clips().at(expected).id);
        QVERIFY(!m_rig->model.hasPreview());
    }

    void previewFollowsSelection()
    {
        addThree();
        m_rig->model.togglePreview();
        QCOMPARE(m_rig->model.previewClip().id, m_rig->model.clips().at(0).id);
        m_rig->model.moveSelection(1);
        QCOMPARE(m_rig->model.previewClip().id, m_rig->model.clips().at(1).id);

        // Still listed: the preview stays although the selection went back to the top.
        m_rig->model.refresh(false);
        QCOMPARE(m_rig->model.selection(), 0);
        QCOMPARE(m_rig->model.previewClip().excerpt, QStringLiteral("beta"));

        m_rig->model.setQuery(QStringLiteral("gamma"));
        m_rig->model.refresh(false);
        QVERIFY(!m_rig->model.hasPreview());
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
        m_rig->model.setSelection(1);
        const QString selected = m_rig->model.clips().at(1).id;
        if (change == QLatin1String("pin"))
            m_rig->store.setPinned(selected, true);
        else if (change == QLatin1String("rename"))
            m_rig->store.setTitle(selected, QStringLiteral("renamed"));
        else
            add(QStringLiteral("delta"));
        QCOMPARE(m_rig->model.selection(), expected);
        QCOMPARE(m_rig->model.selectedClip()->id, selected);
    }

    void removalClampsSelection_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("expected");
        QTest::newRow("last of three") << 3 << 1;
        QTest::newRow("only row") << 1 << 0;
    }

    void removalClampsSelection()
    {
        QFETCH(int, rows);
        QFETCH(int, expected);
        for (int i = 0; i < rows; ++i)
            add(QStringLiteral("row %1").arg(i));
        m_rig->model.refresh(false);
        m_rig->model.setSelection(rows - 1);
        m_rig->model.togglePreview();
        m_rig->store.remove(m_rig->model.selectedClip()->id);
        QCOMPARE(m_rig->model.count(), rows - 1);
        QCOMPARE(m_rig->model.selection(), expected);
        QVERIFY(!m_rig->model.hasPreview());
    }

    void unpinUnderFavoritesClamps()
    {
        addThree();
        for (const Clip &clip : m_rig->model.clips())
            m_rig->store.setPinned(clip.id, true);
        m_rig->model.setFilter(ClipFilter::Favorites);
        QCOMPARE(m_rig->model.count(), 3);
        m_rig->model.setSelection(2);
        m_rig->store.setPinned(m_rig->model.selectedClip()->id, false);
        QCOMPARE(m_rig->model.count(), 2);
        QCOMPARE(m_rig->model.selection(), 1);
        m_rig->model.setFilter(ClipFilter::All);
        QCOMPARE(m_rig->model.selection(), 0);
    }

    void performPasteHidesThenPastes()
    {
        addThree();
        QElapsedTimer clock;
        qint64 writtenAt = -1;
        m_rig->model.paste(3, false); // quick-paste keys past the last row
        m_rig->model.paste(-1, false);
        QCOMPARE(m_rig->hides, 0);
        connect(&m_rig->pasteboard, &Pasteboard::changed, this,
                [&] { writtenAt = clock.elapsed(); });
        clock.start();
        m_rig->model.performPaste(m_rig->model.clips().at(1), true, Transform::Upper);
        QCOMPARE(m_rig->hides, 1);
        QCOMPARE(m_rig->pasteboard.writes, 0);
        QTRY_VERIFY_WITH_TIMEOUT(writtenAt >= 0, 3000);
        QVERIFY2(writtenAt >= PanelModel::pasteDelayMs - 5, qPrintable(QString::number(writtenAt)));
        QCOMPARE(pasteboardText(), QStringLiteral("BETA"));
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
        add(text);
        m_rig->model.refresh(false);
        m_rig->pasteboard.copyText(QStringLiteral("before"));
        m_rig->model.copyExtracted(m_rig->model.clips().at(0), Extractor::Emails);
        QCOMPARE(pasteboardText(), clipboard);
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
        const QString id = add(QStringLiteral("text"));
        m_rig->store.setTitle(id, QStringLiteral("old"));
        QString offered;
        m_rig->model.setRenamePrompt([&](const Clip &clip) {
            offered = clip.title;
            return answer;
        });
        m_rig->model.rename(m_rig->model.clips().at(0));
        QCOMPARE(offered, QStringLiteral("old"));
        QCOMPARE(m_rig->model.clips().at(0).title, title);
    }

    void onShowResets()
    {
        addThree();
        m_rig->model.setFilter(ClipFilter::Links);
        m_rig->model.setQuery(QStringLiteral("zzz"));
        m_rig->model.refresh(false);
        QCOMPARE(m_rig->model.count(), 0);
        m_rig->model.setPreview(Clip());
        m_rig->model.setSelection(2);

        m_rig->model.onShow();
        QCOMPARE(m_rig->model.query(), QString());
        QCOMPARE(m_rig->model.filter(), ClipFilter::All);
        QCOMPARE(m_rig->model.count(), 3); // current before the debounced refresh
        QCOMPARE(m_rig->model.selection(), 0);
        QVERIFY(!m_rig->model.hasPreview());
        QCOMPARE(m_rig->model.focusTick(), 1);
    }
};

ULVANE_TEST_MAIN(TestPanelModel)
#include "test_panel_model.moc"
