// Small RAII layer over the SQLite C API: a connection, prepared statements with named parameters and
// columns read by name. Every failure throws EReaderError with SQLite's own message.
#pragma once

#include "uReaderTypes.h"

#include <QString>
#include <memory>
#include <sqlite3.h>

class TSqliteDb {
public:
    // Opens an existing file with the given sqlite3_open_v2 flags (SQLITE_OPEN_READWRITE or _READONLY;
    // never create unless the caller passes SQLITE_OPEN_CREATE). The handle is closed on every way out.
    TSqliteDb(const QString &path, int flags);
    ~TSqliteDb() = default;
    TSqliteDb(const TSqliteDb &) = delete;
    TSqliteDb &operator=(const TSqliteDb &) = delete;

    sqlite3 *Handle() const { return FDb.get(); }
    // Runs one or more statements without results.
    void Exec(const QString &sql);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int Changes() const { return sqlite3_changes(FDb.get()); }
    void SetBusyTimeout(int ms) { sqlite3_busy_timeout(FDb.get(), ms); }
    // SQLite's message for the connection's last error.
    QString ErrorMessage() const;

private:
    struct TCloser {
        void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, TCloser> FDb;
};

// One prepared statement; finalized by the destructor. Keep it scoped inside the method that uses it.
class TSqliteStmt {
public:
    TSqliteStmt(TSqliteDb &db, const QString &sql);
    ~TSqliteStmt() = default;
    TSqliteStmt(const TSqliteStmt &) = delete;
    TSqliteStmt &operator=(const TSqliteStmt &) = delete;

    // Named binding (":name"). Throws when the statement has no such parameter.
    void BindText(const char *name, const QString &value);
    void BindInt(const char *name, long long value);
    // Next row: true while there is one, false when done; throws on an error (e.g. SQLITE_BUSY).
    bool Step();
    // Columns of the current row by name; NULL gives 0 or empty text. Text in an integer column gives
    // SQLite's numeric conversion of its leading digits (0 when none). Throws on an unknown name.
    long long ColumnInt(const char *name) const;
    QString ColumnText(const char *name) const;
    // Columns by position.
    long long ColumnInt(int index) const { return sqlite3_column_int64(FStmt.get(), index); }
    QString ColumnText(int index) const;
    double ColumnDouble(int index) const { return sqlite3_column_double(FStmt.get(), index); }
    int ColumnType(int index) const { return sqlite3_column_type(FStmt.get(), index); }  // SQLITE_INTEGER, ...

private:
    int ColumnIndex(const char *name) const;

    struct TFinalizer {
        void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
    };
    TSqliteDb &FDb;
    std::unique_ptr<sqlite3_stmt, TFinalizer> FStmt;
};
