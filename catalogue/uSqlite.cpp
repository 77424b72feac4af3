// RAII layer over the SQLite C API.
#include "uSqlite.h"

#include <QFile>
#include <algorithm>
#include <thread>

namespace {
[[noreturn]] void Fail(sqlite3 *ADb)
{
    if (!ADb)
        throw ESqliteError(SQLITE_NOMEM, QStringLiteral("out of memory"));
    throw ESqliteError(sqlite3_errcode(ADb) & 0xFF, QString::fromUtf8(sqlite3_errmsg(ADb)));
}

// The Dutch explanation of a failure, or nothing when SQLite's text is all there is to say.
QString Explanation(int ACode, const QString &AText)
{
    switch (ACode) {
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
        if (AText.startsWith(QLatin1String("no such table: recordings")))
            return QStringLiteral("De database bevat de opnametabel van Vornak 2026 niet.");
        if (AText.startsWith(QLatin1String("no such column")))
            return QStringLiteral("De opnametabel heeft niet alle kolommen van Vornak 2026.");
        break;
    }
    return QString();
}
} // namespace

QString SqliteErrorText(int ACode, const QString &ASqliteText)
{
    const QString dutch = Explanation(ACode, ASqliteText);
    return dutch.isEmpty() ? ASqliteText : dutch + QStringLiteral(" (SQLite: ") + ASqliteText + QLatin1Char(')');
}

ESqliteError::ESqliteError(int ACode, const QString &ASqliteText)
    : EReaderError(SqliteErrorText(ACode, ASqliteText)), FCode(ACode), FSqliteText(ASqliteText)
{
}

TSqliteDb::TSqliteDb(const QString &APath, int AFlags)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(APath).constData(), &raw, AFlags, nullptr);
    FDb.reset(raw);  // adopted before the check: a failed open still returns a handle to close
    if (rc != SQLITE_OK)
        Fail(raw);
    sqlite3_extended_result_codes(raw, 0);
}

void TSqliteDb::SetBusyDeadline(std::chrono::steady_clock::time_point ADeadline)
{
    FBusyDeadline = ADeadline;
    sqlite3_busy_handler(FDb.get(), &TSqliteDb::WaitUntilDeadline, this);
}

int TSqliteDb::WaitUntilDeadline(void *ASelf, int AAttempts)
{
    using namespace std::chrono;
    const auto left = static_cast<TSqliteDb *>(ASelf)->FBusyDeadline - steady_clock::now();
    if (left <= steady_clock::duration::zero())
        return 0;  // give up: the statement fails with SQLITE_BUSY
    // Short naps first (the recorder's writes are short), then 20 ms, never past the deadline.
    const milliseconds nap(AAttempts < 10 ? 2 : 20);
    std::this_thread::sleep_for(std::min<steady_clock::duration>(left, nap));
    return 1;
}

void TSqliteDb::Exec(const QString &ASql)
{
    if (sqlite3_exec(FDb.get(), ASql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(FDb.get());
}

QString TSqliteDb::ErrorMessage() const
{
    return QString::fromUtf8(sqlite3_errmsg(FDb.get()));
}

TSqliteStmt::TSqliteStmt(TSqliteDb &ADb, const QString &ASql) : FDb(ADb)
{
    sqlite3_stmt *raw = nullptr;
    const QByteArray text = ASql.toUtf8();
    const int rc = sqlite3_prepare_v2(ADb.Handle(), text.constData(), int(text.size()), &raw, nullptr);
    FStmt.reset(raw);
    if (rc != SQLITE_OK)
        Fail(ADb.Handle());
}

void TSqliteStmt::BindText(const char *AName, const QString &AValue)
{
    const int idx = sqlite3_bind_parameter_index(FStmt.get(), AName);
    if (idx == 0)
        throw ESqliteError(SQLITE_RANGE, QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(AName)));
    const QByteArray utf8 = PathBytes(AValue);  // a file name read by ColumnPath finds its row again
    if (sqlite3_bind_text(FStmt.get(), idx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        Fail(FDb.Handle());
}

void TSqliteStmt::BindInt(const char *AName, long long AValue)
{
    const int idx = sqlite3_bind_parameter_index(FStmt.get(), AName);
    if (idx == 0)
        throw ESqliteError(SQLITE_RANGE, QStringLiteral("no SQL parameter %1").arg(QString::fromUtf8(AName)));
    if (sqlite3_bind_int64(FStmt.get(), idx, AValue) != SQLITE_OK)
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

int TSqliteStmt::ColumnIndex(const char *AName) const
{
    const int n = sqlite3_column_count(FStmt.get());
    for (int i = 0; i < n; ++i)
        if (sqlite3_stricmp(sqlite3_column_name(FStmt.get(), i), AName) == 0)
            return i;
    throw ESqliteError(SQLITE_ERROR, QStringLiteral("no such column: %1").arg(QString::fromUtf8(AName)));
}

long long TSqliteStmt::ColumnInt(const char *AName) const
{
    return ColumnInt(ColumnIndex(AName));
}

QString TSqliteStmt::ColumnText(const char *AName) const
{
    return ColumnText(ColumnIndex(AName));
}

QString TSqliteStmt::ColumnText(int AIndex) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(FStmt.get(), AIndex));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(FStmt.get(), AIndex));
}

QString TSqliteStmt::ColumnPath(int AIndex) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(FStmt.get(), AIndex));
    if (!text)
        return QString();
    return PathFromBytes(QByteArray::fromRawData(text, sqlite3_column_bytes(FStmt.get(), AIndex)));
}

QString TSqliteStmt::ColumnPath(const char *AName) const
{
    return ColumnPath(ColumnIndex(AName));
}
