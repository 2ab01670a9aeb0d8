#include "ContentBuilders.h"
#include "StderrCapture.h"
#include "TestMain.h"

#include "ocr/OCRService.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>

#include <memory>
#include <pthread.h>

// The service's internal controls, for tests.
class OCRServiceProbe
{
public:
    static void setIdleReleaseDelay(OCRService &s, int ms) { s.setIdleReleaseDelay(ms); }
    static bool loaded(const OCRService &s) { return s.recogniserLoaded(); }
};

namespace {

// Recognition of a page of text takes seconds, more on a busy machine: waits for it are bounded
// only to tell a hang.
constexpr int hangLimitMs = 120000;

} // namespace

class TestOCR : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folder = 0;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<OCRService> m_service;

    QString addImage(const QByteArray &bytes, double created = 1000)
    {
        return m_store
            ->add(newClip({{{Uti::png, bytes}}}, created, ClipKind::Image,
                          NewClip::IfStored::StoreAgain))
            .value_or(QString());
    }

    QString ocrOf(const QString &id)
    {
        const std::optional<Clip> clip = m_store->clip(id);
        return clip ? clip->ocr : QString();
    }

    QString recognise(const QString &id)
    {
        m_service->enqueue(id);
        m_service->waitUntilIdle();
        return ocrOf(id);
    }

private Q_SLOTS:
    void init()
    {
        m_service.reset(); // before the store it writes to
        m_store = std::make_unique<Store>(m_root.path() + QStringLiteral("/s%1").arg(++m_folder));
        m_service = std::make_unique<OCRService>(*m_store);
    }

    void recognisesLines_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("expected");
        const QStringList english{u"The quick brown fox"_qs, u"jumps over the lazy dog"_qs};
        QTest::newRow("two English lines") << textImage(english) << english.join(u'\n');
        QTest::newRow("Ukrainian") << textImage({u"Привіт світ"_qs}) << u"Привіт світ"_qs;
        // Transparent pixels are black underneath: read naively, the text would vanish.
        QTest::newRow("black text on transparent")
            << textImage({u"Hidden message"_qs}, QImage::Format_ARGB32, Qt::transparent)
            << u"Hidden message"_qs;
    }

    void recognisesLines()
    {
        QFETCH(QImage, image);
        QFETCH(QString, expected);
        QCOMPARE(recognise(addImage(encoded(image))), expected);
    }

    // A blank page, a 1x600 sliver and bytes that do not decode: stored as blank, and quietly,
    // unlike a failure.
    void storesBlankWithoutText()
    {
        for (const QByteArray &bytes :
             {encoded(filledImage(800, 400, Qt::white)), encoded(filledImage(1, 600, Qt::white)),
              QByteArray("\x89PNG\r\n\x1a\nbroken")}) {
            const QString id = addImage(bytes);
            StderrCapture log;
            QCOMPARE(recognise(id), u" "_qs);
            QVERIFY2(!log.text().contains("[OCR]"), log.text().constData());
            QVERIFY(!m_store->pendingOCR().contains(id));
        }
    }

    void backlogTakesTheTwentyNewest()
    {
        const QByteArray tiny = encoded(filledImage(4, 4, Qt::white));
        QStringList ids; // oldest first
        for (int i = 0; i < 25; ++i)
            ids << addImage(tiny + QByteArray(i + 1, '\0'), 1000 + i);
        QSignalSpy processed(m_service.get(), &OCRService::processed);

        m_service->processPendingBacklog();
        m_service->waitUntilIdle();

        QCOMPARE(processed.count(), 20);
        QCOMPARE(processed.first().first().toString(), ids.last());
        for (int i = 0; i < 25; ++i)
            QCOMPARE(ocrOf(ids[i]), i < 5 ? QString() : u" "_qs);
        QCOMPARE(m_store->pendingOCR(), (QStringList{ids[4], ids[3], ids[2], ids[1], ids[0]}));
    }

    void processesInOrderOffTheMainThread()
    {
        const QByteArray tiny = encoded(filledImage(4, 4, Qt::white));
        const QStringList ids{addImage(tiny, 1), addImage(tiny + QByteArray(1, '\0'), 2),
                              addImage(tiny + QByteArray(2, '\0'), 3)};
        QStringList order, threads;
        connect(
            m_service.get(), &OCRService::processed, this,
            [&](const QString &id) {
                char name[16] = {};
                pthread_getname_np(pthread_self(), name, sizeof name);
                order << id;
                threads << QString::fromLatin1(name);
            },
            Qt::DirectConnection);

        m_service->enqueue(ids[1]);
        m_service->processPendingBacklog(); // newest first: 3, 2, 1
        m_service->enqueue(ids[0]);
        m_service->waitUntilIdle();

        QCOMPARE(order, (QStringList{ids[1], ids[2], ids[0], ids[0]}));
        QCOMPARE(threads, QStringList(4, u"vesk.ocr"_qs));
    }

    void deletedClipStillNotifies()
    {
        const QString id = addImage(encoded(textImage({u"Deleted"_qs})));
        m_store->remove(id);
        QCoreApplication::sendPostedEvents(); // earlier posts from the worker
        QSignalSpy changed(m_store.get(), &Store::changed);
        QSignalSpy processed(m_service.get(), &OCRService::processed);
        recognise(id);
        QCOMPARE(processed.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, hangLimitMs);
        QCOMPARE(m_store->clip(id), std::nullopt);
    }

    void missingLanguageDataFailsSoft()
    {
        const QByteArray saved = qgetenv("TESSDATA_PREFIX");
        const bool hadPrefix = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
        const auto restore = qScopeGuard(
            [&] { hadPrefix ? qputenv("TESSDATA_PREFIX", saved) : qunsetenv("TESSDATA_PREFIX"); });
        QTemporaryDir empty;
        qputenv("TESSDATA_PREFIX", QFile::encodeName(empty.path() + u'/'));

        // Every picture retries the load the same way: one is enough.
        const QString id = addImage(encoded(textImage({u"No models"_qs})), 1);
        StderrCapture log;
        QCOMPARE(recognise(id), u" "_qs);
        QVERIFY2(log.text().contains(("[OCR] failed for " + id + ": cannot load").toUtf8()),
                 log.text().constData());
        QVERIFY(!OCRServiceProbe::loaded(*m_service));
    }

    void releasesRecogniserWhenIdle()
    {
        // Long enough that the check right after the first page sees it still loaded.
        OCRServiceProbe::setIdleReleaseDelay(*m_service, 3000);
        const QString first = addImage(encoded(textImage({u"First"_qs})), 1);
        const QString second = addImage(encoded(textImage({u"Second"_qs})), 2);

        QVERIFY(!OCRServiceProbe::loaded(*m_service)); // nothing loaded before the first use
        QCOMPARE(recognise(first), u"First"_qs);
        QVERIFY(OCRServiceProbe::loaded(*m_service));
        QTRY_VERIFY_WITH_TIMEOUT(!OCRServiceProbe::loaded(*m_service), hangLimitMs);

        QCOMPARE(recognise(second), u"Second"_qs);
    }

    void hugeImageIsReadScaledDown()
    {
        // Wider than the recogniser's limit: shrunk before reading, the text stays legible.
        QImage image = filledImage(6400, 1200, Qt::white);
        QPainter(&image).drawImage(
            340, 440, textImage({u"Enormous canvas"_qs}, QImage::Format_RGB32, Qt::white, 120));
        QCOMPARE(recognise(addImage(encoded(image))), u"Enormous canvas"_qs);
    }

    void destructionCancelsAndAbandons()
    {
        // Four screens of text: long enough to be mid-page when the service goes.
        const QImage screen(QStringLiteral(ULVANE_FIXTURES "/ocr-screenshot.png"));
        QVERIFY(!screen.isNull());
        QImage wall(screen.width() * 2, screen.height() * 2, QImage::Format_RGB32);
        QPainter painter(&wall);
        for (int i = 0; i < 4; ++i)
            painter.drawImage((i % 2) * screen.width(), (i / 2) * screen.height(), screen);
        painter.end();

        QStringList ids{addImage(encoded(wall), 0)};
        for (int i = 1; i < 4; ++i)
            ids << addImage(encoded(textImage({u"Queued %1"_qs.arg(i)})), i);
        for (const QString &id : ids)
            m_service->enqueue(id);
        // Loading the language models alone takes seconds under load.
        QTRY_VERIFY_WITH_TIMEOUT(OCRServiceProbe::loaded(*m_service), hangLimitMs);
        m_service.reset();

        // Neither the picture being read nor those behind it were written: a later backlog
        // run picks them all up.
        for (const QString &id : ids)
            QCOMPARE(ocrOf(id), QString());
        QCOMPARE(m_store->pendingOCR().size(), 4);
    }
};

ULVANE_TEST_MAIN(TestOCR)
#include "test_ocr.moc"
