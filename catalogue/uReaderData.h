// Access to the recorder's catalogue (SQLite table `recordings`): hours of a day, searches, the file of a
// recording, and the one write the reader does (title and persons).
#pragma once

#include "uReaderTypes.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class TSqliteDb;

// Set of the hours 0..23; bit n stands for hour n.
class THourSet {
public:
    bool Contains(int AHour) const { return AHour >= 0 && AHour <= 23 && (FBits >> AHour) & 1u; }
    void Include(int AHour)
    {
        if (AHour >= 0 && AHour <= 23)
            FBits |= 1u << AHour;
    }
    bool IsEmpty() const { return FBits == 0; }
    int Count() const;
    uint32_t Bits() const { return FBits; }
    bool operator==(const THourSet &AO) const { return FBits == AO.FBits; }
    bool operator!=(const THourSet &AO) const { return FBits != AO.FBits; }

private:
    uint32_t FBits = 0;
};

// How a catalogue is opened: as the reader does (read-write when possible), or only for reading, so
// that nothing at all is written into the file or beside it (see ReadOnlyCatalogueUri).
enum class TCatalogueAccess { ReadWriteWhenPossible, ReadOnly };

class TReaderData {
public:
    // How long opening the catalogue waits in all for the recorder's locks, and how long each later
    // statement waits.
    static constexpr int DefaultLockWaitMs = 10000;

    // Opens the existing catalogue file DbPath, read-write when possible, else read-only (IsReadOnly), and
    // checks that the recorder's table `recordings` can be read with the columns the reader uses, so a
    // catalogue that opens is one that can be queried. Never creates or converts the file. The whole open
    // (read-write attempt and read-only fall-back together) waits at most ALockWaitMs for locks; each
    // statement afterwards waits up to ALockWaitMs.
    // Throws EReaderError: "Databasebestand niet gevonden: <path>" when DbPath is not a regular file;
    // otherwise the failure of the last attempt, with a Dutch explanation in front of SQLite's text for the
    // common causes (see SqliteErrorText): not a database, the table or a column missing, locked.
    // With TCatalogueAccess::ReadOnly only the read-only open is tried (IsReadOnly is then true).
    explicit TReaderData(const QString &ADbPath, int ALockWaitMs = DefaultLockWaitMs,
                         TCatalogueAccess AAccess = TCatalogueAccess::ReadWriteWhenPossible);
    ~TReaderData();
    TReaderData(const TReaderData &) = delete;
    TReaderData &operator=(const TReaderData &) = delete;

    bool IsReadOnly() const { return FReadOnly; }

    // First recording (smallest rec_dt) whose file name begins with Stem (LIKE prefix: '%' and '_' in Stem
    // act as wildcards). True and RI filled when found.
    bool FindByFilenameStem(const QString &AStem, TRecInfo &ARI);
    // The recording with this Id when it has more than 0 seconds. True and RI filled when found.
    bool FindById(int AId, TRecInfo &ARI);
    // The dates (yyyy-mm-dd, ascending) of AMonth (yyyy-mm) that hold at least one recording of more than
    // 0 seconds.
    QStringList DaysOfMonth(const QString &AMonth);
    // Hours of ADate (yyyy-mm-dd) that hold at least one recording of more than 0 seconds.
    THourSet AvailableHours(const QString &ADate);
    // Clears Results and fills it with the matching recordings ordered by rec_dt, rec_number.
    // ADate empty = any date; AHour < 0 = any hour; AName empty = any title and persons (LIKE %AName%).
    void Search(const QString &ADate, int AHour, const QString &AName, TRecList &AResults);
    // The stored FilePath when that file exists, else RecordingsRoot/yyyy/mm/dd/FileName when that exists,
    // else the stored FilePath. "Exists" is IsRegularFilePath: names are taken by their bytes, and a path
    // holding a NUL never exists. Needs no open catalogue.
    static QString ResolveExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot);
    // ARoot/yyyy/mm/dd/FileName for ARI's date (yyyy-mm-dd), whether it exists or not; empty when the date
    // has another length or a part or the name would leave its folder (a separator, a dot folder).
    static QString PathUnderRoot(const TRecInfo &ARI, const QString &ARoot);
    // Stores Title and Persons in the recording with this Id and FileName. Throws EReaderError with the
    // read-only refusal when IsReadOnly, with the locked refusal (LockedRefusalText, then SQLite's text)
    // when the recorder holds its lock past the wait, with a "no longer in the catalogue" text when no row
    // matched, or with another SQLite failure (read-only file, disk full, ...) explained in Dutch.
    void UpdateMeta(int AId, const QString &AFileName, const QString &ATitle, const QString &APersons);

private:
    std::unique_ptr<TSqliteDb> FConn;
    bool FReadOnly = false;
};

// The open catalogue, or null while none is open. Created, replaced and freed only by the main window.
extern std::unique_ptr<TReaderData> ReaderData;

// The URI (for SQLITE_OPEN_READONLY | SQLITE_OPEN_URI) that reads the catalogue DbPath leaving nothing
// behind: a catalogue in WAL mode that no connection has open is read as immutable, so that no "-wal" and
// "-shm" files are made beside it that a read-only connection could not remove again.
QString ReadOnlyCatalogueUri(const QString &ADbPath);

// The catalogue library and its version for the about box: "SQLite 3.x.y (SQLite C API)".
QString CatalogueLibraryText();

// Operator texts of the catalogue.
extern const char *const ReadOnlyRefusalText;
extern const char *const LockedRefusalText;
extern const char *const NoLongerInCatalogueText;
