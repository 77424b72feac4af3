// Test catalogues (target catalogue_testing): the recorder's `recordings` table in a temporary file.
#pragma once

#include "uSqlite.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>
#include <QVariant>

namespace fixture {

struct TRow {
    QVariant id, rec_dt, rec_date, rec_hour, rec_number, format, filename, filepath, title, persons, duration_sec;
};

inline void CreateCatalogue(const QString &APath, const QList<TRow> &ARows, bool AWal = false)
{
    TSqliteDb db(APath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (AWal)
        db.Exec("PRAGMA journal_mode = WAL");
    db.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, rec_hour INTEGER, "
            "rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, title TEXT, persons TEXT, "
            "duration_sec INTEGER)");
    db.Exec("BEGIN");
    for (const TRow &r : ARows) {
        TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,:rec_dt,:rec_date,:rec_hour,:rec_number,:format,"
                          ":filename,:filepath,:title,:persons,:duration_sec)");
        const std::pair<const char *, QVariant> cols[] = {
            {":id", r.id}, {":rec_dt", r.rec_dt}, {":rec_date", r.rec_date}, {":rec_hour", r.rec_hour},
            {":rec_number", r.rec_number}, {":format", r.format}, {":filename", r.filename},
            {":filepath", r.filepath}, {":title", r.title}, {":persons", r.persons},
            {":duration_sec", r.duration_sec}};
        for (const auto &[name, v] : cols) {
            if (v.isNull())
                continue;  // stays NULL
            if (v.typeId() == QMetaType::Int)
                q.BindInt(name, v.toInt());
            else
                q.BindText(name, v.toString());
        }
        q.Step();
    }
    db.Exec("COMMIT");
}

// A row with the usual values; fields can be changed afterwards.
inline TRow Rec(int AId, const QString &ADt, int AHour, int ANumber, const QString &AFile, int ADuration = 60,
                const QVariant &ATitle = QString(), const QVariant &APersons = QString())
{
    return TRow{AId, ADt, ADt.left(10), AHour, ANumber, "MP3", AFile, "/nonexistent/" + AFile, ATitle, APersons, ADuration};
}

// Every row of the table with each value quoted as SQL (so NULL, 7 and '7' differ).
inline QString Dump(const QString &APath)
{
    TSqliteDb db(APath, SQLITE_OPEN_READONLY);
    db.SetBusyTimeout(20000);
    TSqliteStmt q(db, "SELECT quote(id)||'|'||quote(rec_dt)||'|'||quote(rec_date)||'|'||quote(rec_hour)||'|'||"
                      "quote(rec_number)||'|'||quote(format)||'|'||quote(filename)||'|'||quote(filepath)||'|'||"
                      "quote(title)||'|'||quote(persons)||'|'||quote(duration_sec) FROM recordings ORDER BY id");
    QString out;
    while (q.Step())
        out += q.ColumnText(0) + QLatin1Char('\n');
    return out;
}

inline QString IntegrityCheck(const QString &APath)
{
    TSqliteDb db(APath, SQLITE_OPEN_READONLY);
    db.SetBusyTimeout(20000);
    TSqliteStmt q(db, "PRAGMA integrity_check");
    return q.Step() ? q.ColumnText(0) : QString();
}

inline QByteArray FileHash(const QString &APath)
{
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace fixture
