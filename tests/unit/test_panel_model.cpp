#include "FakePlatform.h"
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
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<FakePasteboard> m_pasteboard;
    std::unique_ptr<FakeWorkspace> m_workspace;
    std::unique_ptr<FakeKeySynthesizer> m_keys;
    std::unique_ptr<PasteService> m_service;
    std::unique_ptr<PanelModel> m_model;
    int m_hides = 0;

    // Newest first in the list, so the last one added is row 0.
    QString add(const QString &text)
    {
        static int counter = 0;
        ++counter;
        const std::optional<QString> id = m_store->insert(
            {FlavorList{Flavor{Uti::plainText, text.toUtf8()}}}, ClipKind::Text, text, QString(),
            QString(), 1000.0 + counter, {}, false, QStringLiteral("ID-%1").arg(counter));
        if (!id)
            qFatal("test entry was not stored");
        return *id;
    }

    // Three rows: "gamma" (0), "beta" (1), "alpha" (2).
    void addThree()
    {
        for (const char *text : {"alpha", "beta", "gamma"})
            add(QString::fromLatin1(text));
        m_model->refresh(false);
    }

    QString pasteboardText() const
    {
        return m_pasteboard->items.isEmpty() ? QString()
                                             : QString::fromUtf8(m_pasteboard->items[0][0].data);
    }

private Q_SLOTS:
    void init()
    {
        m_model.reset();
        m_service.reset();
        m_pasteboard.reset(); // drops the connections a test made to it
        m_dir = std::make_unique<QTemporaryDir>();
        m_store = std::make_unique<Store>(m_dir->path());
        m_pasteboard = std::make_unique<FakePasteboard>();
        m_workspace = std::make_unique<FakeWorkspace>();
        m_keys = std::make_unique<FakeKeySynthesizer>();
        m_service = std::make_unique<PasteService>(*m_pasteboard, *m_keys, *m_workspace, *m_store,
                                                   [] { return false; });
        m_model = std::make_unique<PanelModel>(*m_store, *m_service);
        m_hides = 0;
        m_model->setRequestHide([this] { ++m_hides; });
    }

    void typingBurstQueriesOnce()
    {
        add(QStringLiteral("alphabet"));
        add(QStringLiteral("beta"));
        add(QStringLiteral("alpha"));
        QSignalSpy queries(m_model.get(), &PanelModel::clipsChanged);

        QElapsedTimer sinceLast;
        for (const char *typed : {"a", "al", "alp", "alph", "alpha"}) {
            m_model->setQuery(QString::fromLatin1(typed));
            sinceLast.start();
            QCoreApplication::processEvents();
        }
        QCOMPARE(queries.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(queries.count(), 1, 3000);
        QVERIFY2(sinceLast.elapsed() >= PanelModel::refreshDelayMs - 10,
                 qPrintable(QString::number(sinceLast.elapsed())));
        QCOMPARE(m_model->count(), 2);
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
        m_model->setSelection(start);
        QSignalSpy scrolls(m_model.get(), &PanelModel::scrollTargetChanged);
        m_model->moveSelection(step);
        QCOMPARE(m_model->selection(), expected);
        // A stuck selection still asks the list to scroll to it.
        QCOMPARE(scrolls.count(), 1);
        QCOMPARE(m_model->scrollTarget(), m_model->clips().at(expected).id);
        QVERIFY(!m_model->hasPreview());
    }

    void previewFollowsSelection()
    {
        addThree();
        m_model->togglePreview();
        QCOMPARE(m_model->previewClip().id, m_model->clips().at(0).id);
        m_model->moveSelection(1);
        QCOMPARE(m_model->previewClip().id, m_model->clips().at(1).id);

        // Still listed: the preview stays although the selection went back to the top.
        m_model->refresh(false);
        QCOMPARE(m_model->selection(), 0);
        QCOMPARE(m_model->previewClip().excerpt, QStringLiteral("beta"));

        m_model->setQuery(QStringLiteral("gamma"));
        m_model->refresh(false);
        QVERIFY(!m_model->hasPreview());
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
        m_model->setSelection(1);
        const QString selected = m_model->clips().at(1).id;
        if (change == QLatin1String("pin"))
            m_store->setPinned(selected, true);
        else if (change == QLatin1String("rename"))
            m_store->setTitle(selected, QStringLiteral("renamed"));
        else
            add(QStringLiteral("delta"));
        QCOMPARE(m_model->selection(), expected);
        QCOMPARE(m_model->selectedClip()->id, selected);
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
        m_model->refresh(false);
        m_model->setSelection(rows - 1);
        m_model->togglePreview();
        m_store->remove(m_model->selectedClip()->id);
        QCOMPARE(m_model->count(), rows - 1);
        QCOMPARE(m_model->selection(), expected);
        QVERIFY(!m_model->hasPreview());
    }

    void unpinUnderFavoritesClamps()
    {
        addThree();
        for (const Clip &clip : m_model->clips())
            m_store->setPinned(clip.id, true);
        m_model->setFilter(ClipFilter::Favorites);
        QCOMPARE(m_model->count(), 3);
        m_model->setSelection(2);
        m_store->setPinned(m_model->selectedClip()->id, false);
        QCOMPARE(m_model->count(), 2);
        QCOMPARE(m_model->selection(), 1);
        m_model->setFilter(ClipFilter::All);
        QCOMPARE(m_model->selection(), 0);
    }

    void performPasteHidesThenPastes()
    {
        addThree();
        QElapsedTimer clock;
        qint64 writtenAt = -1;
        m_model->paste(3, false); // quick-paste keys past the last row
        m_model->paste(-1, false);
        QCOMPARE(m_hides, 0);
        connect(m_pasteboard.get(), &Pasteboard::changed, this,
                [&] { writtenAt = clock.elapsed(); });
        clock.start();
        m_model->performPaste(m_model->clips().at(1), true, Transform::Upper);
        QCOMPARE(m_hides, 1);
        QCOMPARE(m_pasteboard->writes, 0);
        QTRY_VERIFY_WITH_TIMEOUT(writtenAt >= 0, 3000);
        QVERIFY2(writtenAt >= PanelModel::pasteDelayMs - 5, qPrintable(QString::number(writtenAt)));
        QCOMPARE(pasteboardText(), QStringLiteral("BETA"));
        QCOMPARE(m_pasteboard->writes, 1);
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
        m_model->refresh(false);
        m_pasteboard->copyText(QStringLiteral("before"));
        m_model->copyExtracted(m_model->clips().at(0), Extractor::Emails);
        QCOMPARE(pasteboardText(), clipboard);
        QCOMPARE(m_hides, hides);
        QVERIFY(m_keys->strokes.isEmpty());
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
        m_store->setTitle(id, QStringLiteral("old"));
        QString offered;
        m_model->setRenamePrompt([&](const Clip &clip) {
            offered = clip.title;
            return answer;
        });
        m_model->rename(m_model->clips().at(0));
        QCOMPARE(offered, QStringLiteral("old"));
        QCOMPARE(m_model->clips().at(0).title, title);
    }

    void onShowResets()
    {
        addThree();
        m_model->setFilter(ClipFilter::Links);
        m_model->setQuery(QStringLiteral("zzz"));
        m_model->refresh(false);
        QCOMPARE(m_model->count(), 0);
        m_model->setPreview(Clip());
        m_model->setSelection(2);

        m_model->onShow();
        QCOMPARE(m_model->query(), QString());
        QCOMPARE(m_model->filter(), ClipFilter::All);
        QCOMPARE(m_model->count(), 3); // current before the debounced refresh
        QCOMPARE(m_model->selection(), 0);
        QVERIFY(!m_model->hasPreview());
        QCOMPARE(m_model->focusTick(), 1);
    }
};

ULVANE_TEST_MAIN(TestPanelModel)
#include "test_panel_model.moc"
