// Our own index of the recorder's catalogue, kept in the cache folder.
#include "uCatalogueIndex.h"

#include "uReaderData.h"
#include "uSqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cstdio>
#include <limits>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const CatalogueKeySql =
    "quote(rec_dt)||'|'||quote(rec_date)||'|'||quote(rec_hour)||'|'||quote(rec_number)||'|'||quote(filename)";

namespace {

// The index's own tables. The row columns are declared with the types the catalogue's table declares
// (%1..%5: rec_dt, rec_date, rec_hour, rec_number, filename), so each value is kept exactly as the catalogue
// holds it and a look-up compares it as the catalogue's own query would.
const char *const IndexSchemaSql =
    "CREATE TABLE meta (version, dev, ino, last_id, last_key, stamp);"
    "CREATE TABLE rows (id INTEGER PRIMARY KEY, rec_dt %1, rec_date %2, rec_hour %3, rec_number %4, filename %5);";

// The declared type of a column of the attached catalogue's table, when it is a plain type name (letters,
// digits, spaces, parentheses, commas); else none.
QString DeclaredType(TSqliteDb &AIndex, const char *AColumn)
{
    TSqliteStmt q(AIndex, QStringLiteral("SELECT type FROM pragma_table_info('recordings', 'cat') WHERE name = :c"));
    q.BindText(":c", QString::fromLatin1(AColumn));
    const QString type = q.Step() ? q.ColumnText(0) : QString();
    for (const QChar c : type)
        if (!c.isLetterOrNumber() && c != QLatin1Char(' ') && c != QLatin1Char('(') && c != QLatin1Char(')') &&
            c != QLatin1Char(','))
            return QString();
    return type;
}
const char *const IndexIndexesSql =
    "CREATE INDEX rows_day ON rows (rec_date, rec_hour);"
    "CREATE INDEX rows_file ON rows (lower(filename));";

// Rows of the catalogue above an id, with what the index keeps of them.
const char *const CopyRowsSql = "SELECT id, rec_dt, rec_date, rec_hour, rec_number, filename "
                                "FROM recordings WHERE id > :last ORDER BY id";

// Temporary files of a build that died are removed by a later build once they are this old; so are the
// indexes of catalogues that nobody has brought up to date for so long (a catalogue file that was replaced
// or removed leaves its index behind; one still in use is only rebuilt at its next look-up).
constexpr qint64 DeadTempAgeSec = 3600;
constexpr qint64 UnusedIndexAgeSec = 90LL * 24 * 3600;

struct TFileId {
    unsigned long long Dev = 0, Ino = 0;
    bool Ok = false;
};

TFileId FileIdOf(const QString &APath)
{
    struct stat st {};
    if (APath.isEmpty() || ::stat(QFile::encodeName(APath).constData(), &st) != 0)
        return {};
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino), true};
}

// Up to ACount bytes from the start of a regular file (opened without blocking: a FIFO is no file).
QByteArray ReadHead(const QString &APath, int ACount)
{
    const int fd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray head(ACount, '\0');
    struct stat st {};
    ssize_t got = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        got = ::pread(fd, head.data(), size_t(ACount), 0);
    ::close(fd);
    head.resize(got > 0 ? int(got) : 0);
    return head;
}

// A whole SQLite file of ours: the magic, rollback journal (not WAL) and exactly as many pages as its
// header counts. A file cut short by a crash or a copy, or anything else, is not.
bool LooksWhole(const QString &APath)
{
    const QByteArray head = ReadHead(APath, 100);
    if (head.size() < 100 || !head.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return false;
    const auto byte = [&](int AAt) { return static_cast<unsigned>(static_cast<unsigned char>(head[AAt])); };
    unsigned pageSize = byte(16) << 8 | byte(17);
    if (pageSize == 1)
        pageSize = 65536;
    const unsigned long long pages = byte(28) << 24 | byte(29) << 16 | byte(30) << 8 | byte(31);
    if (byte(18) != 1 || byte(19) != 1 || pageSize < 512 || pages == 0)
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(APath).constData(), &st) != 0)
        return false;
    return static_cast<unsigned long long>(st.st_size) == pages * pageSize;
}

// Runs an index operation, turning the index's SQLite failures into EIndexFault.
template <class TFunc>
auto OnIndex(TFunc &&AFunc) -> decltype(AFunc())
{
    try {
        return AFunc();
    } catch (const ESqliteError &e) {
        throw EIndexFault(e.Code(), e.SqliteText());
    }
}

void BindValue(TSqliteStmt &AStmt, int AIndex, sqlite3_value *AValue)
{
    if (sqlite3_bind_value(AStmt.Handle(), AIndex, AValue) != SQLITE_OK)
        throw ESqliteError(SQLITE_NOMEM, QStringLiteral("bind"));
}

QByteArray ColumnBytes(const TSqliteStmt &AStmt, int AIndex)
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(AStmt.Handle(), AIndex));
    return QByteArray(data, sqlite3_column_bytes(AStmt.Handle(), AIndex));
}

// The key fingerprint of the catalogue's row AId; empty when there is no such row.
QByteArray CatalogueKey(TSqliteDb &ACatalogue, long long AId)
{
    TSqliteStmt q(ACatalogue,
                  QStringLiteral("SELECT %1 FROM recordings WHERE id = :id").arg(QString::fromLatin1(CatalogueKeySql)));
    q.BindInt(":id", AId);
    return q.Step() ? ColumnBytes(q, 0) : QByteArray();
}

// Copies the rows of ACopy (CopyRowsSql, already bound) into the index; the id of the last one goes to
// ALastId and its fingerprint (read from ACatalogue) to ALastKey; both are left as they are when there is
// none. Checks ACancel every few thousand rows and gives up by throwing EIndexFault(SQLITE_INTERRUPT).
void CopyRows(TSqliteDb &ACatalogue, TSqliteStmt &ACopy, TSqliteDb &AIndex, long long &ALastId,
              QByteArray &ALastKey, const std::atomic<bool> *ACancel)
{
    bool any = false;
    TSqliteStmt insert(AIndex, QStringLiteral("INSERT OR REPLACE INTO rows VALUES (?1, ?2, ?3, ?4, ?5, ?6)"));
    long long count = 0;
    while (ACopy.Step()) {
        if (ACancel && (++count & 4095) == 0 && ACancel->load())
            throw EIndexFault(SQLITE_INTERRUPT, QStringLiteral("interrupted"));
        OnIndex([&] {
            for (int col = 0; col < 6; ++col)
                BindValue(insert, col + 1, sqlite3_column_value(ACopy.Handle(), col));
            insert.Step();
            insert.Reset();
        });
        ALastId = ACopy.ColumnInt(0);
        any = true;
    }
    if (any)
        ALastKey = CatalogueKey(ACatalogue, ALastId);
}

// Ends a transaction that is still open when its scope is left by an exception.
class TRollbackGuard {
public:
    explicit TRollbackGuard(TSqliteDb &ADb) : FDb(ADb) {}
    ~TRollbackGuard()
    {
        if (FOpen)
            sqlite3_exec(FDb.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void Done() { FOpen = false; }

private:
    TSqliteDb &FDb;
    bool FOpen = true;
};

// Removes the temporary files of builds that died long ago and the indexes left unused for months.
void RemoveDeadFiles(const QString &AFolder)
{
    const QFileInfoList list = QDir(AFolder).entryInfoList(QDir::Files | QDir::Hidden);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo &info : list) {
        const qint64 age = info.lastModified().secsTo(now);
        if ((info.fileName().contains(QLatin1String(".tmp-")) && age > DeadTempAgeSec) ||
            (info.fileName().endsWith(QLatin1String(".sqlite")) && age > UnusedIndexAgeSec))
            QFile::remove(info.filePath());
    }
}

} // namespace

EIndexFault::EIndexFault(int ACode, const QString &AText)
    : std::runtime_error(AText.toStdString()), FCode(ACode)
{
}

bool EIndexFault::Damaged() const
{
    return FCode == SQLITE_CORRUPT || FCode == SQLITE_NOTADB || FCode == SQLITE_FORMAT;
}

QString TCatalogueIndex::IndexFolder(const QString &ACacheFolder)
{
    return ACacheFolder + QStringLiteral("/catalogue-index");
}

QString TCatalogueIndex::IndexPathOf(const QString &ACataloguePath, const QString &ACacheFolder)
{
    const TFileId id = FileIdOf(ACataloguePath);
    if (!id.Ok || ACacheFolder.isEmpty())
        return QString();
    return IndexFolder(ACacheFolder) +
           QStringLiteral("/%1-%2.sqlite").arg(QString::number(id.Dev, 16), QString::number(id.Ino, 16));
}

QByteArray TCatalogueIndex::CatalogueStamp(const QString &ACataloguePath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(ACataloguePath).constData(), &st) != 0)
        return {};
    // Size and times catch a change on every file system; the header's change counter catches two commits
    // within one tick of a coarse clock (rollback journal). A WAL catalogue changes in its -wal file: its
    // size, times and header (whose salts change at every restart of the log).
    QByteArray stamp = QByteArray::number(qulonglong(st.st_dev)) + ' ' + QByteArray::number(qulonglong(st.st_ino)) + ' ' +
                       QByteArray::number(qlonglong(st.st_size)) + ' ' + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) +
                       '.' + QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ' ' +
                       QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' +
                       QByteArray::number(qlonglong(st.st_ctim.tv_nsec)) + ' ' +
                       ReadHead(ACataloguePath, 28).mid(24).toHex();
    const QString wal = ACataloguePath + QStringLiteral("-wal");
    struct stat walSt {};
    if (::stat(QFile::encodeName(wal).constData(), &walSt) == 0)
        stamp += " wal " + QByteArray::number(qlonglong(walSt.st_size)) + ' ' +
                 QByteArray::number(qlonglong(walSt.st_mtim.tv_sec)) + '.' +
                 QByteArray::number(qlonglong(walSt.st_mtim.tv_nsec)) + ' ' + ReadHead(wal, 32).toHex();
    return stamp;
}

bool TCatalogueIndex::Build(const QString &ACataloguePath, const QString &ACacheFolder, const std::atomic<bool> *ACancel)
{
    const QString target = IndexPathOf(ACataloguePath, ACacheFolder);
    const TFileId id = FileIdOf(ACataloguePath);
    if (target.isEmpty() || !QDir().mkpath(IndexFolder(ACacheFolder)))
        return false;
    RemoveDeadFiles(IndexFolder(ACacheFolder));
    const QString temp = target + QStringLiteral(".tmp-%1-%2")
                                      .arg(qlonglong(::getpid()))
                                      .arg(QRandomGenerator::global()->generate64(), 0, 16);
    bool built = false;
    try {
        TSqliteDb index(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE | SQLITE_OPEN_URI);
        index.SetBusyTimeout(CatalogueWaitMs);
        if (ACancel)
            sqlite3_progress_handler(
                index.Handle(), 10000, [](void *ACancelFlag) { return static_cast<std::atomic<bool> *>(ACancelFlag)->load() ? 1 : 0; },
                const_cast<std::atomic<bool> *>(ACancel));
        // Nothing to roll back in a file no one else sees yet; its last commit is synced before the rename.
        // A large cache keeps the sorts of the index creation in memory.
        index.Exec(QStringLiteral("PRAGMA journal_mode = Off; PRAGMA synchronous = Normal; PRAGMA cache_size = -65536"));
        // The stamp before the rows: a commit in between is seen again by the next refresh.
        const QByteArray stamp = CatalogueStamp(ACataloguePath);
        // The catalogue attached for reading only (as the reader reads it: a WAL catalogue nobody has open
        // is read as it stands, leaving nothing beside it); the copy is one statement, one snapshot.
        QString uri = ReadOnlyCatalogueUri(ACataloguePath);
        uri += (uri.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) + QStringLiteral("mode=ro");
        {
            TSqliteStmt attach(index, QStringLiteral("ATTACH :uri AS cat"));
            attach.BindText(":uri", uri);
            attach.Step();
        }
        index.Exec(QString::fromLatin1(IndexSchemaSql)
                       .arg(DeclaredType(index, "rec_dt"), DeclaredType(index, "rec_date"), DeclaredType(index, "rec_hour"),
                            DeclaredType(index, "rec_number"), DeclaredType(index, "filename")));
        index.Exec(QStringLiteral("INSERT INTO rows SELECT id, rec_dt, rec_date, rec_hour, rec_number, filename "
                                  "FROM cat.recordings ORDER BY id"));
        long long lastId = 0;
        QByteArray lastKey;
        {
            TSqliteStmt last(index, QStringLiteral("SELECT r.id, (SELECT %1 FROM cat.recordings WHERE id = r.id) "
                                                   "FROM (SELECT max(id) AS id FROM rows) r WHERE r.id IS NOT NULL")
                                        .arg(QString::fromLatin1(CatalogueKeySql)));
            if (last.Step()) {
                lastId = last.ColumnInt(0);
                lastKey = ColumnBytes(last, 1);
            }
        }
        index.Exec(QStringLiteral("DETACH cat"));
        index.Exec(QStringLiteral("BEGIN"));
        index.Exec(QString::fromLatin1(IndexIndexesSql));
        {
            TSqliteStmt meta(index, QStringLiteral("INSERT INTO meta VALUES (:v, :dev, :ino, :last, :key, :stamp)"));
            meta.BindInt(":v", FormatVersion);
            meta.BindText(":dev", QString::number(id.Dev));
            meta.BindText(":ino", QString::number(id.Ino));
            meta.BindInt(":last", lastId);
            if (sqlite3_bind_blob(meta.Handle(), sqlite3_bind_parameter_index(meta.Handle(), ":key"), lastKey.constData(),
                                  int(lastKey.size()), SQLITE_TRANSIENT) != SQLITE_OK)
                throw ESqliteError(SQLITE_NOMEM, QStringLiteral("bind"));
            if (sqlite3_bind_blob(meta.Handle(), sqlite3_bind_parameter_index(meta.Handle(), ":stamp"), stamp.constData(),
                                  int(stamp.size()), SQLITE_TRANSIENT) != SQLITE_OK)
                throw ESqliteError(SQLITE_NOMEM, QStringLiteral("bind"));
            meta.Step();
        }
        index.Exec(QStringLiteral("COMMIT"));
        built = true;
    } catch (const std::exception &) {
        built = false;
    }
    // The file is closed here; only a whole one is put in place.
    if (built && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    QFile::remove(temp);
    QFile::remove(temp + QStringLiteral("-journal"));
    return false;
}

TCatalogueIndex::TCatalogueIndex(const QString &ACataloguePath, const QString &ACacheFolder)
    : FCataloguePath(ACataloguePath), FIndexPath(IndexPathOf(ACataloguePath, ACacheFolder))
{
}

TCatalogueIndex::~TCatalogueIndex() = default;

void TCatalogueIndex::Close()
{
    FDb.reset();
    FIndexInode = 0;
    FStamp.clear();
}

void TCatalogueIndex::RemoveFile()
{
    Close();
    if (!FIndexPath.isEmpty())
        QFile::remove(FIndexPath);
}

bool TCatalogueIndex::Open()
{
    Close();
    const TFileId fileId = FileIdOf(FIndexPath);
    if (!fileId.Ok)
        return false;
    if (!LooksWhole(FIndexPath)) {
        RemoveFile();
        return false;
    }
    try {
        FDb = std::make_unique<TSqliteDb>(FIndexPath, SQLITE_OPEN_READWRITE);
        FDb->SetBusyTimeout(BusyWaitMs);
        TSqliteStmt meta(*FDb, QStringLiteral("SELECT version, dev, ino FROM meta"));
        const TFileId catalogueId = FileIdOf(FCataloguePath);
        if (!meta.Step() || meta.ColumnInt(0) != FormatVersion || meta.ColumnText(1) != QString::number(catalogueId.Dev) ||
            meta.ColumnText(2) != QString::number(catalogueId.Ino)) {
            RemoveFile();
            return false;
        }
    } catch (const ESqliteError &e) {
        FDb.reset();
        if (e.Code() == SQLITE_CORRUPT || e.Code() == SQLITE_NOTADB || e.Code() == SQLITE_ERROR) {
            RemoveFile();  // not our file, or damaged
            return false;
        }
        throw EIndexFault(e.Code(), e.SqliteText());
    }
    FIndexInode = fileId.Ino;
    return true;
}

TCatalogueIndex::TState TCatalogueIndex::Refresh(TSqliteDb &ACatalogue)
{
    if (FIndexPath.isEmpty())
        return TState::Missing;
    // Another process may have put a new file in place (a rebuild): read that one.
    const TFileId fileId = FileIdOf(FIndexPath);
    if (!fileId.Ok || fileId.Ino != FIndexInode)
        Close();
    if (!FDb && !Open())
        return TState::Missing;
    const QByteArray stamp = CatalogueStamp(FCataloguePath);
    if (!stamp.isEmpty() && stamp == FStamp)
        return TState::Current;
    try {
        const auto storedStamp = [&] {
            return OnIndex([&] {
                TSqliteStmt q(*FDb, QStringLiteral("SELECT stamp FROM meta"));
                return q.Step() ? ColumnBytes(q, 0) : QByteArray();
            });
        };
        if (!stamp.isEmpty() && storedStamp() == stamp) {
            FStamp = stamp;
            return TState::Current;
        }
        OnIndex([&] { FDb->Exec(QStringLiteral("BEGIN IMMEDIATE")); });
        TRollbackGuard rollback(*FDb);
        long long lastId = 0;
        QByteArray lastKey;
        OnIndex([&] {
            TSqliteStmt q(*FDb, QStringLiteral("SELECT last_id, last_key, stamp FROM meta"));
            if (!q.Step())
                throw ESqliteError(SQLITE_CORRUPT, QStringLiteral("no meta row"));
            lastId = q.ColumnInt(0);
            lastKey = ColumnBytes(q, 1);
            if (!stamp.isEmpty() && ColumnBytes(q, 2) == stamp)
                lastId = -1;  // brought up to date by another process meanwhile
        });
        if (lastId < 0) {
            OnIndex([&] { FDb->Exec(QStringLiteral("COMMIT")); });
            rollback.Done();
            FStamp = stamp;
            return TState::Current;
        }
        // The last row seen must still be that row: else rows were deleted at the end, or ids reused.
        if (!lastKey.isEmpty()) {
            if (CatalogueKey(ACatalogue, lastId) != lastKey) {
                OnIndex([&] { FDb->Exec(QStringLiteral("ROLLBACK")); });
                rollback.Done();
                RemoveFile();
                return TState::Stale;
            }
        }
        TSqliteStmt copy(ACatalogue, QString::fromLatin1(CopyRowsSql));
        copy.BindInt(":last", lastKey.isEmpty() ? std::numeric_limits<long long>::min() : lastId);
        CopyRows(ACatalogue, copy, *FDb, lastId, lastKey, nullptr);
        OnIndex([&] {
            TSqliteStmt meta(*FDb, QStringLiteral("UPDATE meta SET last_id = :last, last_key = :key, stamp = :stamp"));
            meta.BindInt(":last", lastId);
            if (sqlite3_bind_blob(meta.Handle(), sqlite3_bind_parameter_index(meta.Handle(), ":key"), lastKey.constData(),
                                  int(lastKey.size()), SQLITE_TRANSIENT) != SQLITE_OK ||
                sqlite3_bind_blob(meta.Handle(), sqlite3_bind_parameter_index(meta.Handle(), ":stamp"), stamp.constData(),
                                  int(stamp.size()), SQLITE_TRANSIENT) != SQLITE_OK)
                throw ESqliteError(SQLITE_NOMEM, QStringLiteral("bind"));
            meta.Step();
            FDb->Exec(QStringLiteral("COMMIT"));
        });
        rollback.Done();
        FStamp = stamp;
        return TState::Current;
    } catch (const EIndexFault &e) {
        if (e.Damaged())
            RemoveFile();
        else
            Close();  // read again from the file next time
        throw;
    }
}

TIndexCandidates TCatalogueIndex::Candidates(const char *ASql, const std::vector<QByteArray> &ATexts, int AInt)
{
    if (!FDb)
        throw EIndexFault(SQLITE_MISUSE, QStringLiteral("index not open"));
    try {
        return OnIndex([&] {
            QString sql = QString::fromLatin1(ASql);
            if (sql.contains(QLatin1String("%1")))
                sql = sql.arg(QString::fromLatin1(CatalogueKeySql));
            TSqliteStmt q(*FDb, sql);
            for (size_t i = 0; i < ATexts.size(); ++i)
                if (sqlite3_bind_text(q.Handle(), int(i) + 1, ATexts[i].constData(), int(ATexts[i].size()),
                                      SQLITE_TRANSIENT) != SQLITE_OK)
                    throw ESqliteError(SQLITE_NOMEM, QStringLiteral("bind"));
            if (sqlite3_bind_parameter_count(q.Handle()) > int(ATexts.size()))
                sqlite3_bind_int(q.Handle(), int(ATexts.size()) + 1, AInt);
            TIndexCandidates list;
            while (q.Step())
                list.push_back({q.ColumnInt(0), ColumnBytes(q, 1), ColumnBytes(q, 2)});
            return list;
        });
    } catch (const EIndexFault &e) {
        if (e.Damaged())
            RemoveFile();
        throw;
    }
}

TIndexCandidates TCatalogueIndex::Day(const QString &ADate, int AHour)
{
    const std::vector<QByteArray> texts{PathBytes(ADate)};
    if (AHour >= 0)
        return Candidates("SELECT id, %1, quote(rec_hour) FROM rows WHERE rec_date = ?1 AND rec_hour = ?2 "
                          "ORDER BY rec_dt, rec_number, id",
                          texts, AHour);
    return Candidates("SELECT id, %1, quote(rec_hour) FROM rows WHERE rec_date = ?1 ORDER BY rec_dt, rec_number, id",
                      texts, -1);
}

TIndexCandidates TCatalogueIndex::FewOfEachDate(const QString &AFrom, const QString &ATo, int AFew)
{
    // The dates come from the date index alone, then a few rows of each; only those are read for their
    // keys (numbering the month's rows with a window function sorted them all: six times slower).
    return Candidates("SELECT id, %1, rec_date FROM (SELECT rec_date AS pick FROM rows WHERE rec_date >= ?1 AND "
                      "rec_date <= ?2 GROUP BY rec_date) AS dates, rows WHERE id IN (SELECT id FROM rows WHERE "
                      "rec_date = dates.pick LIMIT ?3) ORDER BY pick",
                      {PathBytes(AFrom), PathBytes(ATo)}, AFew);
}

TIndexCandidates TCatalogueIndex::AnyOfDate(const QByteArray &ADate, int ALimit)
{
    return Candidates("SELECT id, %1, '' FROM rows WHERE rec_date = ?1 LIMIT ?2", {ADate}, ALimit);
}

TIndexCandidates TCatalogueIndex::FileNamePrefix(const QByteArray &ALowerPrefix)
{
    // The bytes just after every string that begins with the prefix: the prefix with its last byte raised
    // (trailing 0xFF bytes dropped first); none when the prefix is all 0xFF.
    QByteArray upper = ALowerPrefix;
    while (!upper.isEmpty() && static_cast<unsigned char>(upper.back()) == 0xFF)
        upper.chop(1);
    if (upper.isEmpty())
        return Candidates("SELECT id, %1, '' FROM rows WHERE lower(filename) >= ?1 ORDER BY rec_dt, id",
                          {ALowerPrefix}, -1);
    upper.back() = char(static_cast<unsigned char>(upper.back()) + 1);
    return Candidates("SELECT id, %1, '' FROM rows WHERE lower(filename) >= ?1 AND lower(filename) < ?2 "
                      "ORDER BY rec_dt, id",
                      {ALowerPrefix, upper}, -1);
}

void TCatalogueIndex::Forget(long long AId)
{
    if (!FDb)
        return;
    // Never waits for another process's write: the row is then left to the next check by id.
    FDb->SetBusyTimeout(0);
    try {
        TSqliteStmt q(*FDb, QStringLiteral("DELETE FROM rows WHERE id = :id"));
        q.BindInt(":id", AId);
        q.Step();
    } catch (const ESqliteError &) {
    }
    FDb->SetBusyTimeout(BusyWaitMs);
}
