// RAII layer over the SQLite C API.
#include "uSqlite.h"

#include <QFile>

namespace {
[[noreturn]] void Fail(sqlite3 *db)
{
    throw EReaderError(db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory"));
}
} // namespace

TSqliteDb::TSqliteDb(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    FDb.reset(raw);  // adopted before the check: a failed open still returns a handle to close
    if (rc != SQLITE_OK)
        Fail(raw);
    sqlite3_extended_result_codes(raw, 0);
}

void TSqliteDb::Exec(const QString &sql)
{
    if (sqlite3_exec(FDb.get(), sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(FDb.get());
}

QString TSqliteDb::ErrorMessage() const
{
    return QString::fromUtf8(sqlite3_errmsg(FDb.get()));
}

TSqliteStmt::TSqliteStmt(TSqliteDb &db, const QString &sql) : FDb(db)
{
    sqlite3_stmt *raw = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db.Handle(), text.constData(), int(text.size()), &raw, nullptr);
    FStmt.reset(raw);
    if (rc != SQLITE_OK)
        Fail(db.Handle());
}

void TSqliteStmt::BindText(const char *name, const QString &value)
{
    const int idx = sqlite3_bind_parameter_index(FStmt.get(), name);
    if (idx == 0)
        throw EReaderError(QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(name)));
    const QByteArray utf8 = value.toUtf8();
    if (sqlite3_bind_text(FStmt.get(), idx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        Fail(FDb.Handle());
}

void TSqliteStmt::BindInt(const char *name, long long value)
{
    const int idx = sqlite3_bind_parameter_index(FStmt.get(), name);
    if (idx == 0)
        throw EReaderError(QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(name)));
    if (sqlite3_bind_int64(FStmt.get(), idx, value) != SQLITE_OK)
        Fail(FDb.Handle());
}

bool TSqliteStmt::Step()
{
    const int rc = sqlite3_step(FStmt.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail(FDb.Handle());
}

int TSqliteStmt::ColumnIndex(const char *name) const
{
    const int n = sqlite3_column_count(FStmt.get());
    for (int i = 0; i < n; ++i)
        if (sqlite3_stricmp(sqlite3_column_name(FStmt.get(), i), name) == 0)
            return i;
    throw EReaderError(QStringLiteral("no such column: %1").arg(QString::fromUtf8(name)));
}

long long TSqliteStmt::ColumnInt(const char *name) const
{
    return ColumnInt(ColumnIndex(name));
}

QString TSqliteStmt::ColumnText(const char *name) const
{
    return ColumnText(ColumnIndex(name));
}

QString TSqliteStmt::ColumnText(int index) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(FStmt.get(), index));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(FStmt.get(), index));
}
