// The recorder's `recordings` table as the recorder creates it. The reader only reads these columns by
// name; the demo generator and the recorder stand-in create the table with this text.
#pragma once

inline constexpr const char RecorderTableSql[] =
    "CREATE TABLE IF NOT EXISTS recordings ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " rec_dt TEXT NOT NULL,"
    " rec_date TEXT NOT NULL,"
    " rec_hour INTEGER NOT NULL,"
    " rec_number INTEGER NOT NULL,"
    " format TEXT NOT NULL,"
    " filename TEXT NOT NULL,"
    " filepath TEXT NOT NULL,"
    " title TEXT NOT NULL DEFAULT '',"
    " persons TEXT NOT NULL DEFAULT '',"
    " duration_sec INTEGER NOT NULL DEFAULT 0)";
