// A CopyLess 2 store comes from another program and maybe another machine: every column may
// hold any type, any bytes, and the snapshot files any content.
//
// The input becomes one store: rows separated by 0x1E, fields within a row by 0x1F, in the
// order identifier, excerpt, title, bundle, app name, creation date, thumbnail, snapshot file.
// A column field starting with '#' picks its SQLite type by the next byte: N null, I integer,
// R real, B blob (the rest of the field); any other field binds as text. The snapshot field is
// written as <identifier>.pbdata in the content cache when the identifier is a plain file name.
#include "CopyLessFolder.h"
#include "StoreFile.h"

#include "exchange/CopyLessImporter.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxRows = 64;
constexpr int kColumns = 7;

QTemporaryDir *scratch = nullptr;
Store *store = nullptr;
QString source; // the CopyLess 2 store folder, rebuilt for every input
int runs = 0;

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_copyless: %s\n", what);
    std::abort();
}

void bindField(sqlite3_stmt *statement, int position, const QByteArray &field)
{
    if (field.size() >= 2 && field[0] == '#') {
        const QByteArray rest = field.mid(2);
        switch (field[1]) {
        case 'N':
            sqlite3_bind_null(statement, position);
            return;
        case 'I':
            sqlite3_bind_int64(statement, position, std::strtoll(rest.constData(), nullptr, 10));
            return;
        case 'R':
            sqlite3_bind_double(statement, position, std::strtod(rest.constData(), nullptr));
            return;
        case 'B':
            sqlite3_bind_blob(statement, position, rest.constData(), int(rest.size()),
                              SQLITE_TRANSIENT);
            return;
        default:
            break;
        }
    }
    sqlite3_bind_text(statement, position, field.constData(), int(field.size()), SQLITE_TRANSIENT);
}

// The identifier as the importer will read it back, when it can name a file in the cache.
bool plainFileName(const QByteArray &identifier)
{
    return !identifier.isEmpty() && identifier.size() < 200 && !identifier.contains('/') &&
           !identifier.contains('\0') && identifier != "." && identifier != ".." &&
           !identifier.startsWith('#');
}

// Writes the store; returns how many rows it holds.
int writeStore(const QByteArray &input)
{
    QDir(source).removeRecursively();
    CopyLessFolder folder(source, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
    folder.exec("BEGIN");
    int rows = 0;
    for (const QByteArray &row : input.split('\x1e').mid(0, kMaxRows)) {
        const QList<QByteArray> fields = row.split('\x1f').mid(0, kColumns + 1);
        folder.addBoundRow([&fields](sqlite3_stmt *statement, int column) {
            bindField(statement, column, fields.value(column - 1));
        });
        ++rows;
        const QByteArray identifier = fields.value(0);
        if (fields.size() > kColumns && plainFileName(identifier)) {
            QFile file(folder.contentPath(QString::fromUtf8(identifier)));
            if (file.open(QIODevice::WriteOnly))
                file.write(fields[kColumns]);
        }
    }
    folder.exec("COMMIT");
    if (!folder.ok)
        fail("cannot write the source store");
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Every input writes a database, its copy and the history: keep them in memory.
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    scratch = new QTemporaryDir(base + QStringLiteral("/fuzz-copyless-XXXXXX"));
    QDir().mkpath(scratch->path() + QStringLiteral("/tmp"));
    qputenv("TMPDIR", QFile::encodeName(scratch->path() + QStringLiteral("/tmp")));
    static QCoreApplication app(*argc, *argv);
    store = new Store(scratch->path() + QStringLiteral("/store"));
    store->setHistoryCap(0);
    source = scratch->path() + QStringLiteral("/copyless");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int rows = writeStore(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const qint64 before = store->count();
    const std::optional<CopyLessImporter::Result> result =
        CopyLessImporter::run(*store, source, nullptr);
    if (!result)
        fail("a store with the right table was not found");
    if (result->imported < 0 || result->skipped < 0 || result->imported + result->skipped > rows)
        fail("more rows accounted for than the store holds");
    if (store->count() != before + result->imported)
        fail("the history grew by something other than the imported rows");
    if (!QDir(QDir::tempPath())
             .entryList({QStringLiteral("copyless-import-*")}, QDir::AllEntries | QDir::Hidden)
             .isEmpty())
        fail("the private copy of the database outlived the run");
    // The checks look at what the store keeps out of its interface, through a second connection.
    StoreFile file(store->dir());
    if (file.texts(QStringLiteral("SELECT integrity_check FROM pragma_integrity_check")) !=
        QStringList{QStringLiteral("ok")})
        fail("the history database is damaged");
    if (store->ftsAvailable() &&
        !file.exec(QStringLiteral("INSERT INTO fts(fts) VALUES('integrity-check')")))
        fail("the full-text index disagrees with the history");
    for (const QString &id : file.texts(QStringLiteral("SELECT id FROM clips"))) {
        if (!QFile::exists(store->contentPath(id)))
            fail("a row without its content file");
    }
    if (++runs % 64 == 0)
        store->clearHistory(false);
    return 0;
}
