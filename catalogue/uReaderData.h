// Access to the recorder's catalogue (SQLite table `recordings`): hours of a day, searches, the file of a
// recording, and the one write the reader does (title and persons).
#pragma once

#include "uReaderTypes.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class TSqliteDb;
class TSqliteStmt;
class TCatalogueIndex;
struct TIndexCandidate;

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
    bool operator==(const THourSet &AOther) const { return FBits == AOther.FBits; }
    bool operator!=(const THourSet &AOther) const { return FBits != AOther.FBits; }

private:
    uint32_t FBits = 0;
};

// How a catalogue is opened: as the reader does (read-write when possible), or only for reading, so
// that nothing at all is written into the file or beside it (see ReadOnlyCatalogueUri).
enum class TCatalogueAccess { ReadWriteWhenPossible, ReadOnly };

// Who builds the catalogue's index when a query finds none (see TReaderData::UseIndex): the query itself
// (a command, a server), or a thread of its own while queries answer from the catalogue (the reader).
enum class TIndexBuild { InQuery, InBackground };
// What a background build of the index reports: it started, it ended with a usable index, or it could not
// be made (the look-ups then read the catalogue alone).
enum class TIndexBuildEvent { Started, Built, Failed };

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

    // From now on the day, hour, month and file-name look-ups go through our own index of the catalogue,
    // kept in ACacheFolder (see TCatalogueIndex; never in the catalogue or beside it). Titles, persons and
    // durations are always read from the catalogue by row id, and every row is checked there, so an answer
    // is the catalogue's own: rows appended meanwhile are found, deleted ones never returned. When the index
    // cannot be had (no cache folder, one that cannot be written, a build that failed) every query answers
    // from the catalogue alone, as without this call. With TIndexBuild::InBackground a missing or outdated
    // index is built on a thread of its own while queries answer from the catalogue; AOnBuilding is called
    // on that thread when such a build starts and when it ended (not when the build was cancelled because
    // this object goes). Call once,
    // right after opening; main thread of the object.
    void UseIndex(const QString &ACacheFolder, TIndexBuild ABuild,
                  std::function<void(TIndexBuildEvent AEvent)> AOnBuilding = {});
    // Whether the last look-up was answered through the index.
    bool LastLookupIndexed() const { return FLastIndexed; }
    // Waits until a background build has ended.
    void WaitForIndexBuild();

    // First recording (smallest rec_dt) whose file name begins with Stem (LIKE prefix: '%' and '_' in Stem
    // act as wildcards). True and RI filled when found.
    bool FindByFilenameStem(const QString &AStem, TRecInfo &ARI);
    // The recording with this Id when it has more than 0 seconds. True and RI filled when found.
    bool FindById(int AId, TRecInfo &ARI);
    // Hours of ADate (yyyy-mm-dd) that hold at least one recording of more than 0 seconds.
    THourSet AvailableHours(const QString &ADate);
    // The dates (yyyy-mm-dd, ascending) of AMonth (yyyy-mm) that hold at least one recording of more than
    // 0 seconds.
    QStringList DaysOfMonth(const QString &AMonth);
    // Clears Results and fills it with the matching recordings ordered by rec_dt, rec_number, id.
    // ADate empty = any date; AHour < 0 = any hour; AName empty = any title and persons (LIKE %AName%).
    void Search(const QString &ADate, int AHour, const QString &AName, TRecList &AResults);
    // The stored FilePath when that is a regular file, else RecordingsRoot/yyyy/mm/dd/FileName when that is
    // one, else empty. "Is a regular file" is IsRegularFilePath: names are taken by their bytes, and a path
    // holding a NUL never exists. Needs no open catalogue.
    static QString FindExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot);
    // FindExistingPath, or the stored FilePath when it finds none.
    static QString ResolveExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot);
    // RecordingPathUnderRoot (uReaderTypes.h) for ARI's date and file name.
    static QString PathUnderRoot(const TRecInfo &ARI, const QString &ARoot);
    // Stores Title and Persons in the recording with this Id and FileName. Throws EReaderError with the
    // read-only refusal when IsReadOnly, with the locked refusal (LockedRefusalText, then SQLite's text)
    // when the recorder holds its lock past the wait, with a "no longer in the catalogue" text when no row
    // matched, or with another SQLite failure (read-only file, disk full, ...) explained in Dutch.
    void UpdateMeta(int AId, const QString &AFileName, const QString &ATitle, const QString &APersons);

private:
    // The index when it can answer now (brought up to date), else null; starts or runs a build when needed.
    TCatalogueIndex *ReadyIndex();
    void StartBuilder();
    // Reads the candidates' rows from the catalogue by id, in their order, and gives each one that is still
    // the row the index knows and meets AFilter (SQL on the catalogue's columns; :n and :stem bound from
    // AName and AStem when given) to AAccept, which returns false to stop. With AOnePerGroup the rest of a
    // group is skipped once one of its rows was accepted. A row that is gone is dropped from the index.
    // False when a row is another row now: the index is discarded and the caller asks the catalogue.
    bool CheckRows(const std::vector<TIndexCandidate> &ACandidates, const QString &AFilter, const QString &AName,
                   const QString &AStem, bool AOnePerGroup, const std::function<bool(const TSqliteStmt &)> &AAccept);

    QString FDbPath;
    std::unique_ptr<TSqliteDb> FConn;
    bool FReadOnly = false;
    // The index (see UseIndex); FBuilder runs a background build and is joined before anything above goes.
    QString FIndexFolder;
    TIndexBuild FIndexBuild = TIndexBuild::InQuery;
    std::function<void(TIndexBuildEvent)> FOnBuilding;
    std::unique_ptr<TCatalogueIndex> FIndex;
    std::atomic<bool> FIndexOff{false};
    std::atomic<bool> FBuilding{false};
    std::atomic<bool> FCancelBuild{false};
    bool FLastIndexed = false;
    std::thread FBuilder;
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
