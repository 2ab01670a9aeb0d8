#pragma once

// A CopyLess 2 store folder as that application lays it out: a Core Data database and one
// snapshot file per row in its content cache, written with SQLite's C API. The connection
// stays open while the folder object lives, as the other application's would.

#include "store/PBContent.h"

#include <QDir>
#include <QFile>
#include <QVariant>

#include <sqlite3.h>

class CopyLessFolder
{
public:
    // Core Data counts dates from 2001-01-01.
    static constexpr double referenceDate = 978307200.0;

    explicit CopyLessFolder(const QString &folder, const char *pragmas = "") : folder(folder)
    {
        QDir().mkpath(folder + QStringLiteral("/SnapshotContentFiles/Cache"));
        ok = sqlite3_open(QFile::encodeName(databasePath()).constData(), &m_db) == SQLITE_OK;
        exec(pragmas);
        exec("CREATE TABLE ZMANAGEDSNAPSHOT(Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT "
             "INTEGER, ZIDENTIFIERVALUE TEXT, ZCONTENTEXCERPT TEXT, ZTITLE TEXT, "
             "ZSOURCEAPPBUNDLEIDENTIFIER TEXT, ZSOURCEAPPLOCALIZEDNAME TEXT, ZCREATIONDATEVALUE "
             "REAL, ZTHUMBNAILDATAVALUE BLOB, ZPINNED INTEGER)");
    }
    ~CopyLessFolder() { sqlite3_close(m_db); }
    CopyLessFolder(const CopyLessFolder &) = delete;
    CopyLessFolder &operator=(const CopyLessFolder &) = delete;

    const QString folder;
    bool ok = false; // every step so far succeeded

    QString databasePath() const { return folder + QStringLiteral("/Store.sqlite"); }
    QString contentPath(const QString &id) const
    {
        return folder + QStringLiteral("/SnapshotContentFiles/Cache/") + id +
               QStringLiteral(".pbdata");
    }
    void exec(const char *sql)
    {
        ok = ok && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // identifier, excerpt, title, bundle, app name, created, thumbnail: bind(statement, column)
    // binds each of the seven columns, counted from 1.
    template <typename Bind> void addBoundRow(Bind bind)
    {
        sqlite3_stmt *st = nullptr;
        ok = ok && sqlite3_prepare_v2(m_db,
                                      "INSERT INTO ZMANAGEDSNAPSHOT VALUES(NULL, 7, 1, ?, ?, ?, ?, "
                                      "?, ?, ?, 0)",
                                      -1, &st, nullptr) == SQLITE_OK;
        for (int i = 1; ok && i <= 7; ++i)
            bind(st, i);
        ok = ok && sqlite3_step(st) == SQLITE_DONE;
        sqlite3_finalize(st);
    }

    // Each value binds by what it holds (invalid: NULL, text, bytes: blob, else a number).
    void addRow(const QVariantList &values)
    {
        addBoundRow([&values](sqlite3_stmt *st, int i) {
            const QVariant value = values.value(i - 1);
            const QByteArray bytes = value.toByteArray(); // text as UTF-8
            if (value.typeId() == QMetaType::UnknownType)
                sqlite3_bind_null(st, i);
            else if (value.typeId() == QMetaType::QString)
                sqlite3_bind_text(st, i, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            else if (value.typeId() == QMetaType::QByteArray)
                sqlite3_bind_blob(st, i, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            else
                sqlite3_bind_double(st, i, value.toDouble());
        });
    }

    // A row and its snapshot, filed under the row's identifier.
    void add(const QVariantList &values, const ItemList &items)
    {
        addRow(values);
        QFile file(contentPath(values.value(0).toString()));
        const QByteArray json = PBContent::from(items).toJson();
        ok = ok && file.open(QIODevice::WriteOnly) && file.write(json) == json.size();
    }

    void addText(const QString &id, const QString &text, double created,
                 const QString &title = QString())
    {
        add({id, text, title, QStringLiteral("org.example.editor"), QStringLiteral("Editor"),
             created},
            {{{Uti::plainText, text.toUtf8()}}});
    }

private:
    sqlite3 *m_db = nullptr;
};
