// The CopyLess 2 import: a generated CopyLess 2 store of 5 000 snapshots (text of mixed
// length, every 100th an image with a ready-made thumbnail) imported into an empty store.
#include "Bench.h"
#include "exchange/CopyLessImporter.h"
#include "store/PBContent.h"
#include "store/Store.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace {

QByteArray png(int width, int height, QRgb color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString text(QRandomGenerator &random, int index)
{
    static const QStringList words{
        QStringLiteral("clip"),     QStringLiteral("board"), QStringLiteral("history"),
        QStringLiteral("paste"),    QStringLiteral("note"),  QStringLiteral("address"),
        QStringLiteral("password"), QStringLiteral("link"),  QStringLiteral("meeting"),
        QStringLiteral("invoice"),  QStringLiteral("draft"), QStringLiteral("reply")};
    const int count = random.bounded(10) < 8 ? 2 + random.bounded(15) : 40 + random.bounded(200);
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << words[random.bounded(words.size())];
    return parts.join(u' ') + QStringLiteral(" #%1").arg(index);
}

// CopyLess 2's layout: Store.sqlite and SnapshotContentFiles/Cache/<identifier>.pbdata. Every
// 100th snapshot is an image with a ready-made thumbnail.
bool makeSource(const QString &folder, int rows, int *images)
{
    const QString cache = folder + QStringLiteral("/SnapshotContentFiles/Cache/");
    QDir().mkpath(cache);
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(folder + QStringLiteral("/Store.sqlite")).constData(),
                     &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db,
                 "CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, ZIDENTIFIERVALUE TEXT, "
                 "ZCONTENTEXCERPT TEXT, ZTITLE TEXT, ZSOURCEAPPBUNDLEIDENTIFIER TEXT, "
                 "ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE REAL, ZTHUMBNAILDATAVALUE "
                 "BLOB); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO ZMANAGEDSNAPSHOT(ZIDENTIFIERVALUE, ZCONTENTEXCERPT, ZTITLE, "
                       "ZSOURCEAPPBUNDLEIDENTIFIER, ZSOURCEAPPLOCALIZEDNAME, ZCREATIONDATEVALUE, "
                       "ZTHUMBNAILDATAVALUE) VALUES(?, ?, ?, 'com.apple.Safari', 'Safari', ?, ?)",
                       -1, &insert, nullptr);
    QRandomGenerator random(7);
    const QByteArray thumbnail = png(220, 110, qRgb(30, 90, 160));
    bool ok = true;
    *images = 0;
    for (int i = 0; i < rows && ok; ++i) {
        const QByteArray id = QStringLiteral("SNAP-%1").arg(i, 6, 10, QLatin1Char('0')).toUtf8();
        const bool image = i % 100 == 50;
        QByteArray excerpt;
        ItemList items;
        if (image) {
            items = {{{Uti::png, png(640, 320, qRgb(i % 256, 40, 200))}}};
            ++*images;
        } else {
            const QString t = text(random, i);
            excerpt = t.left(240).toUtf8();
            items = {{{Uti::plainText, t.toUtf8()}}};
        }
        QFile file(cache + QString::fromUtf8(id) + QStringLiteral(".pbdata"));
        ok = file.open(QIODevice::WriteOnly) && file.write(PBContent::from(items).toJson()) > 0;
        sqlite3_bind_text(insert, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, excerpt.constData(), int(excerpt.size()), SQLITE_TRANSIENT);
        if (i % 7 == 0)
            sqlite3_bind_text(insert, 3, "Saved", -1, SQLITE_STATIC);
        else
            sqlite3_bind_null(insert, 3);
        sqlite3_bind_double(insert, 4, 700000000.0 + i);
        if (image)
            sqlite3_bind_blob(insert, 5, thumbnail.constData(), int(thumbnail.size()),
                              SQLITE_STATIC);
        else
            sqlite3_bind_null(insert, 5);
        ok = ok && sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

void runCopyLessSuite(const QStringList &)
{
    const int rows = 5000;
    QTemporaryDir dir;
    int images = 0;
    if (!makeSource(dir.path() + QStringLiteral("/copyless"), rows, &images)) {
        Bench::report(QStringLiteral("copyless import"), QStringLiteral("fixture failed"),
                      QString());
        return;
    }
    // A cap above the row count: every import still runs its trim, none removes anything.
    Store target(dir.path() + QStringLiteral("/target"));
    target.setHistoryCap(10000);
    QElapsedTimer timer;
    timer.start();
    const auto result =
        CopyLessImporter::run(target, dir.path() + QStringLiteral("/copyless"), nullptr);
    const double seconds = double(timer.elapsed()) / 1000.0;
    const int imported = result ? result->imported : 0;
    Bench::report(
        QStringLiteral("copyless import 5k (%1 images, %2 imported)").arg(images).arg(imported),
        QStringLiteral("%1 s, %2 rows/s")
            .arg(seconds, 0, 'f', 2)
            .arg(seconds > 0 ? double(imported) / seconds : 0, 0, 'f', 0),
        QStringLiteral("≥ 400 rows/s"));
}

} // namespace

ULVANE_BENCH_SUITE("copyless", runCopyLessSuite);
