// RAII layer over the SQLite C API.
#include "uSqlite.h"

#include <QFile>
#include <algorithm>
#include <thread>

namespace {
[[noreturn]] void Fail(sqlite3 *db)
{
    if (!db)
        throw ESqliteError(SQLITE_NOMEM, QStringLiteral("out of memory"));
    throw ESqliteError(sqlite3_errcode(db) & 0xFF, QString::fromUtf8(sqlite3_errmsg(db)));
}

// The Dutch explanation of a failure, or nothing when SQLite's text is all there is to say.
QString Explanation(int code, const QString &text)
{
    switch (code) {
    case SQLITE_NOTADB: return QStringLiteral("Het bestand is geen database.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return QStringLiteral("De database is vergrendeld door de recorder (Vornak 2026).");
    case SQLITE_READONLY:
        return QStringLiteral("De database is alleen-lezen: het bestand of zijn map is schrijfbeveiligd.");
    case SQLITE_FULL: return QStringLiteral("De schijf met de database is vol.");
    case SQLITE_CORRUPT: return QStringLiteral("Het databasebestand is beschadigd.");
    case SQLITE_CANTOPEN: return QStringLiteral("Het databasebestand kan niet worden geopend.");
    case SQLITE_IOERR: return QStringLiteral("Lees- of schrijffout in het databasebestand.");
    case SQLITE_ERROR:
        if (text.startsWith(QLatin1String("no such table: recordings")))
            return QStringLiteral("De database bevat de opnametabel van Vornak 2026 niet.");
        if (text.startsWith(QLatin1String("no such column")))
            return QStringLiteral("De opnametabel heeft niet alle kolommen van Vornak 2026.");
        break;
    }
    return QString();
}
} // namespace

QString SqliteErrorText(int Code, const QString &SqliteText)
{
    const QString dutch = Explanation(Code, SqliteText);
    return dutch.isEmpty() ? SqliteText : dutch + QStringLiteral(" (SQLite: ") + SqliteText + QLatin1Char(')');
}

ESqliteError::ESqliteError(int Code, const QString &SqliteText)
    : EReaderError(SqliteErrorText(Code, SqliteText)), FCode(Code), FSqliteText(SqliteText)
{
}

TSqliteDb::TSqliteDb(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    FDb.reset(raw);  // adopted before the check: a failed open still returns a handle to close
    if (rc != SQLITE_OK)
        Fail(raw);
    sqlite3_extended_result_codes(raw, 0);
}

void TSqliteDb::SetBusyDeadline(std::chrono::steady_clock::time_point Deadline)
{
    FBusyDeadline = Deadline;
    sqlite3_busy_handler(FDb.get(), &TSqliteDb::WaitUntilDeadline, this);
}

int TSqliteDb::WaitUntilDeadline(void *self, int attempts)
{
    using namespace std::chrono;
    const auto left = static_cast<TSqliteDb *>(self)->FBusyDeadline - steady_clock::now();
    if (left <= steady_clock::duration::zero())
        return 0;  // give up: the statement fails with SQLITE_BUSY
    // Short naps first (the recorder's writes are short), then 20 ms, never past the deadline.
    const milliseconds nap(attempts < 10 ? 2 : 20);
    std::this_thread::sleep_for(std::min<steady_clock::duration>(left, nap));
    return 1;
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
        throw ESqliteError(SQLITE_RANGE, QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(name)));
    const QByteArray utf8 = PathBytes(value);  // a file name read by ColumnPath finds its row again
    if (sqlite3_bind_text(FStmt.get(), idx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        Fail(FDb.Handle());
}

void TSqliteStmt::BindInt(const char *name, long long value)
{
    const int idx = sqlite3_bind_parameter_index(FStmt.get(), name);
    if (idx == 0)
        throw ESqliteError(SQLITE_RANGE, QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(name)));
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
    throw ESqliteError(SQLITE_ERROR, QStringLiteral("no such column: %1").arg(QString::fromUtf8(name)));
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

QString TSqliteStmt::ColumnPath(int index) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(FStmt.get(), index));
    if (!text)
        return QString();
    return PathFromBytes(QByteArray::fromRawData(text, sqlite3_column_bytes(FStmt.get(), index)));
}

QString TSqliteStmt::ColumnPath(const char *name) const
{
    return ColumnPath(ColumnIndex(name));
}
