#pragma once

// A second connection to a store's database file, as another process would open it: for tests
// that damage it, plant rows the store would never write, check that it is whole, or look at
// what the store keeps out of its interface (the index).

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

class StoreFile
{
public:
    explicit StoreFile(const QString &storeDir)
    {
        sqlite3_open_v2(QFile::encodeName(storeDir + QStringLiteral("/store.sqlite")).constData(),
                        &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~StoreFile() { sqlite3_close(m_db); }
    StoreFile(const StoreFile &) = delete;
    StoreFile &operator=(const StoreFile &) = delete;

    bool exec(const QString &sql)
    {
        return sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // What the last statement that failed said.
    QString lastError() const { return QString::fromUtf8(sqlite3_errmsg(m_db)); }

    // From now on every INSERT, UPDATE or DELETE (the operation) on clips that matches `when`
    // fails with "no", as a full disk or a broken file would make it.
    bool refuse(const QString &operation, const QString &when = QStringLiteral("1"))
    {
        return exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE %1 ON clips WHEN %2 "
                                   "BEGIN SELECT RAISE(ABORT, 'no'); END")
                        .arg(operation, when));
    }

    // The first column of every row: text, integer or double; NULL reads as an invalid value.
    QList<QVariant> column(const QString &sql, const QList<QVariant> &params = {})
    {
        QList<QVariant> values;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr) !=
            SQLITE_OK)
            return values;
        for (int i = 0; i < params.size(); ++i) {
            const QVariant &p = params[i];
            if (p.typeId() == QMetaType::QString) {
                const QByteArray utf8 = p.toString().toUtf8();
                sqlite3_bind_text(statement, i + 1, utf8.constData(), int(utf8.size()),
                                  SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_int64(statement, i + 1, p.toLongLong());
            }
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            switch (sqlite3_column_type(statement, 0)) {
            case SQLITE_INTEGER:
                values.append(qint64(sqlite3_column_int64(statement, 0)));
                break;
            case SQLITE_FLOAT:
                values.append(sqlite3_column_double(statement, 0));
                break;
            case SQLITE_TEXT:
                values.append(QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))));
                break;
            default:
                values.append(QVariant());
            }
        }
        sqlite3_finalize(statement);
        return values;
    }

    QStringList texts(const QString &sql)
    {
        QStringList values;
        for (const QVariant &value : column(sql))
            values.append(value.toString());
        return values;
    }

    qint64 integer(const QString &sql, const QList<QVariant> &params = {})
    {
        return column(sql, params).value(0).toLongLong();
    }

private:
    sqlite3 *m_db = nullptr;
};
