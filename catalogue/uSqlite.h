// Small RAII layer over the SQLite C API: a connection, prepared statements with named parameters and
// columns read by name. Every failure throws ESqliteError: a short Dutch explanation for the common causes
// followed by SQLite's own message.
#pragma once

#include "uReaderTypes.h"

#include <QString>
#include <chrono>
#include <memory>
#include <sqlite3.h>

// The operator's text of a SQLite failure: for the common causes (not a database, the recorder's table or
// its columns missing, locked, read-only, disk full, damaged, unreadable) a Dutch explanation followed by
// " (SQLite: <SqliteText>)"; otherwise SqliteText alone. Code is SQLite's primary result code.
QString SqliteErrorText(int ACode, const QString &ASqliteText);

// A SQLite failure: Message() is SqliteErrorText(Code(), SqliteText()).
class ESqliteError : public EReaderError {
public:
    ESqliteError(int ACode, const QString &ASqliteText);
    int Code() const { return FCode; }
    QString SqliteText() const { return FSqliteText; }
    // SQLITE_BUSY or SQLITE_LOCKED: another connection (the recorder) holds the lock.
    bool IsLock() const { return FCode == SQLITE_BUSY || FCode == SQLITE_LOCKED; }

private:
    int FCode;
    QString FSqliteText;
};

class TSqliteDb {
public:
    // Opens an existing file with the given sqlite3_open_v2 flags (SQLITE_OPEN_READWRITE or _READONLY;
    // never create unless the caller passes SQLITE_OPEN_CREATE). The handle is closed on every way out.
    TSqliteDb(const QString &APath, int AFlags);
    ~TSqliteDb() = default;
    TSqliteDb(const TSqliteDb &) = delete;
    TSqliteDb &operator=(const TSqliteDb &) = delete;

    sqlite3 *Handle() const { return FDb.get(); }
    // Runs one or more statements without results.
    void Exec(const QString &ASql);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int Changes() const { return sqlite3_changes(FDb.get()); }
    // Each statement waits up to ms for a lock another connection holds.
    void SetBusyTimeout(int AMs) { sqlite3_busy_timeout(FDb.get(), AMs); }
    // Every statement from now on waits for locks only until Deadline, however many statements run: one
    // budget for a sequence of statements. SetBusyTimeout replaces it.
    void SetBusyDeadline(std::chrono::steady_clock::time_point ADeadline);
    // SQLite's message for the connection's last error.
    QString ErrorMessage() const;

private:
    static int WaitUntilDeadline(void *ASelf, int AAttempts);

    struct TCloser {
        void operator()(sqlite3 *ADb) const { sqlite3_close_v2(ADb); }
    };
    std::unique_ptr<sqlite3, TCloser> FDb;
    std::chrono::steady_clock::time_point FBusyDeadline;
};

// One prepared statement; finalized by the destructor. Keep it scoped inside the method that uses it.
class TSqliteStmt {
public:
    TSqliteStmt(TSqliteDb &ADb, const QString &ASql);
    ~TSqliteStmt() = default;
    TSqliteStmt(const TSqliteStmt &) = delete;
    TSqliteStmt &operator=(const TSqliteStmt &) = delete;

    // Named binding (":name"). Throws when the statement has no such parameter. Text is bound as
    // PathBytes(AValue): UTF-8, with the bytes a ColumnPath value kept bound as those bytes.
    void BindText(const char *AName, const QString &AValue);
    void BindInt(const char *AName, long long AValue);
    // Next row: true while there is one, false when done; throws on an error (e.g. SQLITE_BUSY).
    bool Step();
    // Makes the statement ready to run again (Step starts anew); its bindings stay.
    void Reset() { sqlite3_reset(FStmt.get()); }
    // The statement for the calls this class does not wrap (copying a value as it is: sqlite3_column_value,
    // sqlite3_bind_value). Owned by the statement.
    sqlite3_stmt *Handle() const { return FStmt.get(); }
    // Columns of the current row by name; NULL gives 0 or empty text. Text in an integer column gives
    // SQLite's numeric conversion of its leading digits (0 when none). Throws on an unknown name.
    long long ColumnInt(const char *AName) const;
    QString ColumnText(const char *AName) const;
    // A file name or path column by its bytes (PathFromBytes): a name that is not UTF-8 still names its
    // file, and an embedded NUL is kept (no such name exists on disk).
    QString ColumnPath(const char *AName) const;
    QString ColumnPath(int AIndex) const;
    // Columns by position.
    long long ColumnInt(int AIndex) const { return sqlite3_column_int64(FStmt.get(), AIndex); }
    QString ColumnText(int AIndex) const;
    double ColumnDouble(int AIndex) const { return sqlite3_column_double(FStmt.get(), AIndex); }
    int ColumnType(int AIndex) const { return sqlite3_column_type(FStmt.get(), AIndex); }  // SQLITE_INTEGER, ...

private:
    int ColumnIndex(const char *AName) const;

    struct TFinalizer {
        void operator()(sqlite3_stmt *AStmt) const { sqlite3_finalize(AStmt); }
    };
    TSqliteDb &FDb;
    std::unique_ptr<sqlite3_stmt, TFinalizer> FStmt;
};
