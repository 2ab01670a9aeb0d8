#include "app/SelfTest.h"

#include "app/CommandLine.h"
#include "core/ImageUtil.h"
#include "core/Util.h"
#include "exchange/ExportImport.h"
#include "paste/Transforms.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QUuid>

#include <memory>

namespace SelfTest {

namespace {

class Checker
{
public:
    void check(const QString &name, bool ok)
    {
        CommandLine::printLine((ok ? QStringLiteral("PASS ") : QStringLiteral("FAIL ")) + name);
        if (!ok)
            ++m_failures;
    }
    int failures() const { return m_failures; }

private:
    int m_failures = 0;
};

// Removes the throw-away folder on every way out of the run.
class TempStoreDir
{
public:
    explicit TempStoreDir(const QString &prefix)
        : m_path(QDir::tempPath() + QLatin1Char('/') + prefix +
                 QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
    {}
    ~TempStoreDir() { QDir(m_path).removeRecursively(); }
    const QString &path() const { return m_path; }

private:
    QString m_path;
};

ItemList textItems(const QString &text)
{
    return {{{Uti::plainText, text.toUtf8()}}};
}

std::optional<QString> insertText(Store &store, const QString &text)
{
    NewClip clip;
    clip.items = textItems(text);
    clip.excerpt = Util::excerpt(text, Util::excerptLimit);
    clip.appId = QStringLiteral("test.app");
    clip.appName = QStringLiteral("TestApp");
    clip.created = Util::now();
    return store.add(clip);
}

} // namespace

int run()
{
    Checker c;
    const QString textA = QStringLiteral("hello vesk selftest");
    const QString token = QStringLiteral("zqvxkt48213");
    const QString marker = QStringLiteral("Привіт буфере обміну ") + token;
    const QString title = QStringLiteral("My Snippet");

    TempStoreDir dir1(QStringLiteral("vesk-selftest-"));
    TempStoreDir dir2(QStringLiteral("vesk-selftest2-"));
    Store store(dir1.path());

    const std::optional<QString> idA = insertText(store, textA);
    c.check(QStringLiteral("insert returns id"), idA.has_value());
    c.check(QStringLiteral("count == 1"), store.count() == 1);
    c.check(QStringLiteral("plainText roundtrip"),
            idA && store.plainText(*idA) == std::optional<QString>(textA));

    insertText(store, textA);
    c.check(QStringLiteral("dedupe on top"), store.count() == 1);

    insertText(store, marker);
    c.check(QStringLiteral("count == 2"), store.count() == 2);
    c.check(QStringLiteral("fts available"), store.ftsAvailable());

    const QList<Clip> byToken = store.search(token, ClipFilter::All, 400);
    c.check(QStringLiteral("fts finds marker"),
            byToken.size() == 1 && byToken.first().excerpt.contains(token));
    c.check(QStringLiteral("fts prefix match"),
            store.search(token.left(4), ClipFilter::All, 400).size() == 1);
    c.check(QStringLiteral("search by app name"),
            store.search(QStringLiteral("TestApp"), ClipFilter::All, 400).size() == 2);

    bool favoritesOk = false;
    if (idA) {
        store.setPinned(*idA, true);
        store.setTitle(*idA, title);
        const QList<Clip> favorites = store.search(QString(), ClipFilter::Favorites, 400);
        favoritesOk = favorites.size() == 1 && favorites.first().title == title;
    }
    c.check(QStringLiteral("favorites filter"), favoritesOk);
    c.check(QStringLiteral("search by title"),
            store.search(QStringLiteral("Snippet"), ClipFilter::All, 400).size() == 1);

    c.check(QStringLiteral("transform upper"),
            Transforms::apply(Transform::Upper, QStringLiteral("abc")) == QLatin1String("ABC"));
    c.check(QStringLiteral("transform singleLine"),
            Transforms::apply(Transform::SingleLine, QStringLiteral("a\n b\n\nc")) ==
                QLatin1String("a b c"));
    c.check(QStringLiteral("transform noBlank"),
            Transforms::apply(Transform::NoBlankLines, QStringLiteral("a\n\n\nb")) ==
                QLatin1String("a\nb"));

    const QStringList emails =
        Transforms::matches(QStringLiteral("Write to jane.doe@example.ua or ops@example.com!"),
                            QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"));
    c.check(QStringLiteral("extract emails"),
            emails == QStringList{QStringLiteral("jane.doe@example.ua"),
                                  QStringLiteral("ops@example.com")});
    const QStringList urls = Transforms::extract(
        Extractor::Urls, QStringLiteral("Docs live at https://example.com/docs/start today"));
    c.check(QStringLiteral("extract urls"),
            !urls.isEmpty() && urls.first().contains(QLatin1String("example.com")));
    c.check(QStringLiteral("extract numbers"),
            Transforms::matches(QStringLiteral("12 items -3.5 kg"),
                                QStringLiteral("-?\\d+(?:[.,]\\d+)?")) ==
                QStringList({QStringLiteral("12"), QStringLiteral("-3.5")}));

    const std::optional<PBContent> snapshot = PBContent::fromJson(QByteArrayLiteral(
        R"({"items":[{"flavors":[{"uti":"public.utf8-plain-text","data":"aGVsbG8="}]}]})"));
    bool snapshotOk = false;
    if (snapshot) {
        const FlavorList flat = snapshot->decodedFlavors();
        snapshotOk =
            !flat.isEmpty() && flat.first().uti == Uti::plainText &&
            Util::decodeUtf8(flat.first().data) == std::optional<QString>(QStringLiteral("hello"));
    }
    c.check(QStringLiteral("pbdata parse"), snapshotOk);

    const std::optional<QByteArray> document = ExportImport::exportAll(store);
    c.check(QStringLiteral("export non-nil"), document.has_value());
    if (document) {
        Store target(dir2.path());
        const auto first = ExportImport::importData(*document, target);
        c.check(QStringLiteral("import roundtrip count"),
                first.imported == 2 && target.count() == 2);
        const QList<Clip> favorites = target.search(QString(), ClipFilter::Favorites, 400);
        c.check(QStringLiteral("import preserves pin+title"),
                favorites.size() == 1 && favorites.first().title == title);
        const auto second = ExportImport::importData(*document, target);
        c.check(QStringLiteral("re-import dedupes"), second.imported == 0 && second.skipped == 2);
    }

    for (int i = 0; i < 10; ++i)
        insertText(store, QStringLiteral("bulk %1").arg(i));
    store.trim(5);
    int unpinned = 0;
    for (const Clip &clip : store.search(QString(), ClipFilter::All, 400))
        unpinned += clip.pinned ? 0 : 1;
    c.check(QStringLiteral("trim keeps cap (5 unpinned)"), unpinned == 5);
    c.check(QStringLiteral("trim keeps pinned"),
            store.search(QString(), ClipFilter::Favorites, 400).size() == 1);

    const Flavor a{QStringLiteral("a"), QByteArray("\x01\x02", 2)};
    const Flavor b{QStringLiteral("b"), QByteArray("\x03", 1)};
    c.check(QStringLiteral("digest order-independent"),
            Util::digest({a, b}) == Util::digest({b, a}));

    QImage teal(100, 60, QImage::Format_ARGB32);
    teal.fill(QColor(48, 176, 199)); // the system teal
    c.check(QStringLiteral("thumbnail png"), ImageUtil::thumbnailPNG(teal, 50).has_value());

    if (c.failures() == 0)
        CommandLine::printLine(QStringLiteral("SELFTEST: ALL PASS"));
    else
        CommandLine::printLine(QStringLiteral("SELFTEST: %1 FAILURES").arg(c.failures()));
    return c.failures() == 0 ? 0 : 1;
}

} // namespace SelfTest
