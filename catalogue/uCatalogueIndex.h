// Our own index of the recorder's catalogue, kept in the cache folder: date, hour, number and file name of
// every row against its id, so that day, hour, month and file-name look-ups need not read the whole table.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

class TSqliteDb;

// One row the index offers to a query: the row's id in the catalogue, the fingerprint of its key columns as
// the index holds them (the text of CatalogueKeySql), and the value it is grouped by (see each query).
// The catalogue has the last word: a caller reads the row by id and keeps it only when the catalogue's
// fingerprint of that row is the same.
struct TIndexCandidate {
    long long Id = 0;
    QByteArray Key;
    QByteArray Group;
};
using TIndexCandidates = std::vector<TIndexCandidate>;

// The SQL expression, on a table with the catalogue's column names, of a row's key fingerprint: the quoted
// values of rec_dt, rec_date, rec_hour, rec_number and filename (so 7 and '7' differ).
extern const char *const CatalogueKeySql;

// The index could not serve this query (its file damaged, busy past the wait, read-only, disk full). Never
// reaches the operator: the query answers from the catalogue instead. Damaged(): the file is not to be
// trusted again (it has been removed when that was possible).
class EIndexFault : public std::runtime_error {
public:
    EIndexFault(int ACode, const QString &AText);
    int Code() const { return FCode; }
    bool Damaged() const;

private:
    int FCode;
};

// The index of one catalogue file. Its file lives in <cache folder>/catalogue-index and is named by the
// catalogue's device and inode, never by anything inside the catalogue; it is never written into the
// catalogue or beside it. It is an SQLite file of our own, shared by every process that reads the same
// catalogue: a build writes a temporary file and renames it into place (a reader of the old file keeps
// reading that, and reopens when it sees the rename); rows appended to the catalogue are added in place
// in one write transaction (SQLite's own locking between processes; rollback journal).
//
// Always current: Refresh compares a stamp of the catalogue file (size, times, change counter, WAL header)
// with the one the index was brought up to date at; when it differs, the last row seen must still be the
// same row (else the catalogue changed otherwise: Stale) and the rows above it are added. A row deleted
// from the catalogue or changed in place is caught by the caller's check by id.
//
// One object, one thread. Not copyable.
class TCatalogueIndex {
public:
    // Format of the index file; a file of another format counts as missing.
    static constexpr int FormatVersion = 1;
    // Each index statement waits this long for another process's write transaction.
    static constexpr int BusyWaitMs = 5000;

    // <ACacheFolder>/catalogue-index.
    static QString IndexFolder(const QString &ACacheFolder);
    // The index file of the catalogue file ACataloguePath (by its device and inode, after symbolic links);
    // empty when the catalogue cannot be stat'ed or ACacheFolder is empty.
    static QString IndexPathOf(const QString &ACataloguePath, const QString &ACacheFolder);
    // The catalogue file's state as a byte string: equal strings mean no committed change in between.
    // Empty when the file cannot be stat'ed.
    static QByteArray CatalogueStamp(const QString &ACataloguePath);

    // Builds the index of the catalogue file ACataloguePath anew: the whole table, read in one statement on
    // a read-only attachment of the catalogue (waiting up to CatalogueWaitMs for the recorder's locks), into
    // a temporary file in the index folder, renamed over the index file. Returns false, leaving no file
    // behind, when the folder cannot be made or written, the disk is full, ACancel became true or the
    // catalogue could not be read (its error is not thrown: the caller's query meets it again). Any thread.
    static constexpr int CatalogueWaitMs = 10000;
    static bool Build(const QString &ACataloguePath, const QString &ACacheFolder,
                      const std::atomic<bool> *ACancel = nullptr);

    TCatalogueIndex(const QString &ACataloguePath, const QString &ACacheFolder);
    ~TCatalogueIndex();
    TCatalogueIndex(const TCatalogueIndex &) = delete;
    TCatalogueIndex &operator=(const TCatalogueIndex &) = delete;

    // Current: the index holds every row of the catalogue (through ACatalogue) up to now. Missing: there is
    // no usable index file (none yet, or one that is damaged, half-written, of another format or of
    // another catalogue: such a file is removed). Stale: the catalogue changed other than by appending
    // rows (the last row seen is gone or another row), the index file is removed; build anew.
    // Throws EIndexFault when the index cannot be read or written now; errors reading the catalogue pass
    // through as they are.
    enum class TState { Current, Missing, Stale };
    TState Refresh(TSqliteDb &ACatalogue);

    // The queries; each needs a Current index and throws EIndexFault. Candidates come in the order given.
    // Rows of ADate (yyyy-mm-dd), of AHour when >= 0, by rec_dt, rec_number, id; grouped by rec_hour.
    TIndexCandidates Day(const QString &ADate, int AHour);
    // Up to AFew rows of each rec_date from AFrom to ATo, both included (text order), by rec_date; grouped
    // by rec_date (its text).
    TIndexCandidates FewOfEachDate(const QString &AFrom, const QString &ATo, int AFew);
    // Up to ALimit rows of the date ADate (a text of Dates), in no particular order (ALimit < 0: all).
    TIndexCandidates AnyOfDate(const QByteArray &ADate, int ALimit);
    // Rows whose file name, ASCII letters folded to lower case, begins with ALowerPrefix (bytes), by rec_dt,
    // id; one group.
    TIndexCandidates FileNamePrefix(const QByteArray &ALowerPrefix);
    // Drops a row the catalogue no longer holds. Best effort: a failure leaves the row to the next check.
    void Forget(long long AId);

    // Removes the index file (the catalogue was found to have changed in a way Refresh cannot follow).
    void Discard() { RemoveFile(); }
    // The index file this object reads (IndexPathOf at construction).
    const QString &IndexPath() const { return FIndexPath; }

private:
    bool Open();
    void Close();
    void RemoveFile();
    TIndexCandidates Candidates(const char *ASql, const std::vector<QByteArray> &ATexts, int AInt);

    QString FCataloguePath;
    QString FIndexPath;
    std::unique_ptr<TSqliteDb> FDb;
    unsigned long long FIndexInode = 0;  // of the file FDb has open
    QByteArray FStamp;                   // the catalogue's stamp the index was last seen current at
};
