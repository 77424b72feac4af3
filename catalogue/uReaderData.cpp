// Access to the recorder's catalogue.
#include "uReaderData.h"

#include "uCatalogueIndex.h"
#include "uSqlite.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QUrl>
#include <sqlite3.h>
#include <sys/stat.h>

std::unique_ptr<TReaderData> ReaderData;

const char *const ReadOnlyRefusalText = "De database is alleen-lezen geopend omdat de recorder actief is. "
                                        "Sluit Vornak 2026 om gegevens te kunnen bewerken.";
const char *const LockedRefusalText = "De database is vergrendeld omdat de recorder actief is. "
                                      "Sluit Vornak 2026 om gegevens te kunnen bewerken.";
const char *const NoLongerInCatalogueText = "De opname %1 (id %2) staat niet meer in de database; er is niets "
                                            "opgeslagen. Zoek de opname opnieuw op.";

namespace {

#define ROW_COLUMNS "id,rec_dt,rec_date,rec_hour,rec_number,format,filename,filepath,title,persons,duration_sec"
const char *const SelectColumns = "SELECT " ROW_COLUMNS " FROM recordings";
const char *const RowColumns = ROW_COLUMNS;
#undef ROW_COLUMNS

// The hour a rec_hour value stands for, or -1: only a number that the hour search can find again
// (rec_hour = :h) opens a tile: NULL or text in the column would otherwise read as hour 0 and light a tile
// that lists nothing.
int HourOf(const TSqliteStmt &AStmt, int AColumn)
{
    const int type = AStmt.ColumnType(AColumn);
    if (type == SQLITE_INTEGER) {
        const long long h = AStmt.ColumnInt(AColumn);
        if (h >= 0 && h <= 23)
            return int(h);
    } else if (type == SQLITE_FLOAT) {
        const double h = AStmt.ColumnDouble(AColumn);
        if (h >= 0 && h <= 23 && h == double(int(h)))
            return int(h);
    }
    return -1;
}

// The literal start of a LIKE pattern: its text before the first wildcard.
QString LiteralPrefix(const QString &APattern)
{
    int end = 0;
    while (end < APattern.size() && APattern[end] != QLatin1Char('%') && APattern[end] != QLatin1Char('_'))
        ++end;
    return APattern.left(end);
}

// ASCII letters to lower case, as SQLite's lower() and LIKE fold them; other bytes as they are.
QByteArray AsciiLower(QByteArray ABytes)
{
    for (char &c : ABytes)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ABytes;
}

TRecInfo RowToRecInfo(const TSqliteStmt &AStmt)
{
    TRecInfo ri;
    ri.Id = int(AStmt.ColumnInt("id"));
    ri.RecDT = AStmt.ColumnText("rec_dt");
    ri.RecDate = AStmt.ColumnText("rec_date");
    ri.RecHour = int(AStmt.ColumnInt("rec_hour"));
    ri.RecNumber = int(AStmt.ColumnInt("rec_number"));
    ri.Format = AStmt.ColumnText("format");
    ri.FileName = AStmt.ColumnPath("filename");
    ri.FilePath = AStmt.ColumnPath("filepath");
    ri.Title = AStmt.ColumnText("title");
    ri.Persons = AStmt.ColumnText("persons");
    ri.DurationSec = int(AStmt.ColumnInt("duration_sec"));
    return ri;
}

// A regular file (after symbolic links): a FIFO or a device would make SQLite wait for ever.
bool IsRegularFile(const QString &APath)
{
    if (APath.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(APath).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens and configures one connection and reads the recorder's table once, so that a file that is no
// catalogue (empty, text, another database) fails here and not at the first query. Locks are waited for
// until deadline. The journal mode and the synchronous setting are the recorder's business and stay as the
// recorder set them.
std::unique_ptr<TSqliteDb> Connect(const QString &APath, int AFlags, std::chrono::steady_clock::time_point ADeadline)
{
    auto db = std::make_unique<TSqliteDb>(APath, AFlags);
    db->SetBusyDeadline(ADeadline);
    db->Exec(QStringLiteral("PRAGMA cache_size = 10000"));
    db->Exec(QStringLiteral("PRAGMA locking_mode = Normal"));
    db->Exec(QStringLiteral("PRAGMA foreign_keys = On"));
    TSqliteStmt probe(*db, QString::fromLatin1(SelectColumns) + QStringLiteral(" LIMIT 1"));
    probe.Step();
    return db;
}

} // namespace

int THourSet::Count() const
{
    int n = 0;
    for (int h = 0; h < 24; ++h)
        n += Contains(h) ? 1 : 0;
    return n;
}

TReaderData::TReaderData(const QString &ADbPath, int ALockWaitMs, TCatalogueAccess AAccess) : FDbPath(ADbPath)
{
    if (!IsRegularFile(ADbPath))
        throw EReaderError(QStringLiteral("Databasebestand niet gevonden: %1").arg(ADbPath));
    // One budget for both attempts: a recorder that keeps even readers out makes the open report after
    // ALockWaitMs, not after a wait per attempt. The read-only attempt gets what the first one left.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ALockWaitMs);
    if (AAccess == TCatalogueAccess::ReadOnly) {
        FConn = Connect(ReadOnlyCatalogueUri(ADbPath), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, deadline);
        FReadOnly = true;
        FConn->SetBusyTimeout(ALockWaitMs);
        return;
    }
    try {
        FConn = Connect(ADbPath, SQLITE_OPEN_READWRITE, deadline);
    } catch (const EReaderError &) {
        FConn.reset();
        FConn = Connect(ADbPath, SQLITE_OPEN_READONLY, deadline);
        FReadOnly = true;
    }
    FConn->SetBusyTimeout(ALockWaitMs);
}

TReaderData::~TReaderData()
{
    FCancelBuild = true;
    WaitForIndexBuild();
}

void TReaderData::UseIndex(const QString &ACacheFolder, TIndexBuild ABuild, std::function<void(TIndexBuildEvent)> AOnBuilding)
{
    WaitForIndexBuild();
    FIndexFolder = ACacheFolder;
    FIndexBuild = ABuild;
    FOnBuilding = std::move(AOnBuilding);
    FIndexOff = ACacheFolder.isEmpty();
    FIndex = FIndexOff ? nullptr : std::make_unique<TCatalogueIndex>(FDbPath, ACacheFolder);
    if (FIndex && FIndex->IndexPath().isEmpty())
        FIndexOff = true;
}

void TReaderData::WaitForIndexBuild()
{
    if (FBuilder.joinable())
        FBuilder.join();
}

void TReaderData::StartBuilder()
{
    WaitForIndexBuild();  // an earlier build has ended (FBuilding is false)
    FBuilding = true;
    FBuilder = std::thread([this, path = FDbPath, folder = FIndexFolder, report = FOnBuilding] {
        if (report)
            report(TIndexBuildEvent::Started);
        const bool built = TCatalogueIndex::Build(path, folder, &FCancelBuild);
        if (!built)
            FIndexOff = true;  // the catalogue answers alone from now on
        FBuilding = false;
        if (report && !FCancelBuild)
            report(built ? TIndexBuildEvent::Built : TIndexBuildEvent::Failed);
    });
}

TCatalogueIndex *TReaderData::ReadyIndex()
{
    if (!FIndex || FIndexOff || FBuilding)
        return nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        TCatalogueIndex::TState state = TCatalogueIndex::TState::Missing;
        try {
            state = FIndex->Refresh(*FConn);
        } catch (const EIndexFault &) {
            return nullptr;  // busy, read-only, damaged: this query asks the catalogue
        }
        if (state == TCatalogueIndex::TState::Current)
            return FIndex.get();
        if (attempt > 0)
            break;
        if (FIndexBuild == TIndexBuild::InBackground) {
            StartBuilder();
            return nullptr;
        }
        if (!TCatalogueIndex::Build(FDbPath, FIndexFolder)) {
            FIndexOff = true;
            return nullptr;
        }
    }
    return nullptr;
}

bool TReaderData::CheckRows(const TIndexCandidates &ACandidates, const QString &AFilter, const QString &AName,
                            const QString &AStem, bool AOnePerGroup,
                            const std::function<bool(const TSqliteStmt &)> &AAccept)
{
    TSqliteStmt q(*FConn, QStringLiteral("SELECT %1, %2, (%3) FROM recordings WHERE id = :id")
                              .arg(QString::fromLatin1(RowColumns), QString::fromLatin1(CatalogueKeySql), AFilter));
    if (!AName.isEmpty())
        q.BindText(":n", AName);
    if (!AStem.isEmpty())
        q.BindText(":stem", AStem);
    const int keyColumn = 11, filterColumn = 12;
    QSet<QByteArray> accepted;
    for (const TIndexCandidate &candidate : ACandidates) {
        if (AOnePerGroup && accepted.contains(candidate.Group))
            continue;
        q.Reset();
        q.BindInt(":id", candidate.Id);
        if (!q.Step()) {
            FIndex->Forget(candidate.Id);  // deleted from the catalogue
            continue;
        }
        const QByteArray key(static_cast<const char *>(sqlite3_column_blob(q.Handle(), keyColumn)),
                             sqlite3_column_bytes(q.Handle(), keyColumn));
        if (key != candidate.Key) {
            FIndex->Discard();  // changed in place: the index no longer describes the catalogue
            return false;
        }
        if (q.ColumnInt(filterColumn) == 0)
            continue;
        if (AOnePerGroup)
            accepted.insert(candidate.Group);
        if (!AAccept(q))
            break;
    }
    return true;
}

bool TReaderData::FindByFilenameStem(const QString &AStem, TRecInfo &ARI)
{
    FLastIndexed = false;
    const QString prefix = LiteralPrefix(AStem);
    if (!prefix.isEmpty()) {
        if (TCatalogueIndex *index = ReadyIndex()) {
            try {
                const TIndexCandidates candidates = index->FileNamePrefix(AsciiLower(PathBytes(prefix)));
                bool found = false;
                if (CheckRows(candidates, QStringLiteral("filename LIKE :stem AND duration_sec > 0"), QString(),
                              AStem + QLatin1Char('%'), false, [&](const TSqliteStmt &AStmt) {
                                  ARI = RowToRecInfo(AStmt);
                                  found = true;
                                  return false;
                              })) {
                    FLastIndexed = true;
                    return found;
                }
            } catch (const EIndexFault &) {
                // answered from the catalogue below
            }
        }
    }
    TSqliteStmt q(*FConn, QString::fromLatin1(SelectColumns) +
                              QStringLiteral(" WHERE filename LIKE :stem AND duration_sec > 0 ORDER BY rec_dt, id LIMIT 1"));
    q.BindText(":stem", AStem + QLatin1Char('%'));
    if (!q.Step())
        return false;
    ARI = RowToRecInfo(q);
    return true;
}

bool TReaderData::FindById(int AId, TRecInfo &ARI)
{
    TSqliteStmt q(*FConn, QString::fromLatin1(SelectColumns) + QStringLiteral(" WHERE id = :id AND duration_sec > 0"));
    q.BindInt(":id", AId);
    if (!q.Step())
        return false;
    ARI = RowToRecInfo(q);
    return true;
}

THourSet TReaderData::AvailableHours(const QString &ADate)
{
    FLastIndexed = false;
    if (TCatalogueIndex *index = ReadyIndex()) {
        try {
            THourSet hours;
            if (CheckRows(index->Day(ADate, -1), QStringLiteral("duration_sec > 0"), QString(), QString(), true,
                          [&](const TSqliteStmt &AStmt) {
                              hours.Include(HourOf(AStmt, 3));
                              return true;
                          })) {
                FLastIndexed = true;
                return hours;
            }
        } catch (const EIndexFault &) {
        }
    }
    TSqliteStmt q(*FConn,
                  QStringLiteral("SELECT DISTINCT rec_hour FROM recordings WHERE rec_date = :d AND duration_sec > 0"));
    q.BindText(":d", ADate);
    THourSet hours;
    while (q.Step())
        hours.Include(HourOf(q, 0));
    return hours;
}

QStringList TReaderData::DaysOfMonth(const QString &AMonth)
{
    FLastIndexed = false;
    const QString from = AMonth + QStringLiteral("-01"), to = AMonth + QStringLiteral("-31");
    QStringList days;
    if (TCatalogueIndex *index = ReadyIndex()) {
        try {
            // Per date a few of its rows, all of them only when none of those few counts.
            constexpr int Few = 4;
            const QString filter = QStringLiteral("duration_sec > 0");
            const TIndexCandidates few = index->FewOfEachDate(from, to, Few);
            QSet<QByteArray> found;
            bool current = CheckRows(few, filter, QString(), QString(), true, [&](const TSqliteStmt &AStmt) {
                found.insert(AStmt.ColumnText(2).toUtf8());
                return true;
            });
            QMap<QByteArray, int> counts;  // ordered: the dates ascending, as text
            for (const TIndexCandidate &candidate : few)
                ++counts[candidate.Group];
            for (auto it = counts.cbegin(); current && it != counts.cend(); ++it) {
                if (!found.contains(it.key()) && it.value() == Few)
                    current = CheckRows(index->AnyOfDate(it.key(), -1), filter, QString(), QString(), false,
                                        [&](const TSqliteStmt &) {
                                            found.insert(it.key());
                                            return false;  // one is enough
                                        });
                if (found.contains(it.key()))
                    days << QString::fromUtf8(it.key());
            }
            if (current) {
                FLastIndexed = true;
                return days;
            }
        } catch (const EIndexFault &) {
        }
        days.clear();
    }
    TSqliteStmt q(*FConn, QStringLiteral("SELECT DISTINCT rec_date FROM recordings WHERE rec_date >= :from AND "
                                         "rec_date <= :to AND duration_sec > 0 ORDER BY rec_date"));
    q.BindText(":from", from);
    q.BindText(":to", to);
    while (q.Step())
        days << q.ColumnText(0);
    return days;
}

void TReaderData::Search(const QString &ADate, int AHour, const QString &AName, TRecList &AResults)
{
    AResults.clear();
    FLastIndexed = false;
    if (!ADate.isEmpty()) {
        if (TCatalogueIndex *index = ReadyIndex()) {
            try {
                QString filter = QStringLiteral("duration_sec > 0");
                if (!AName.isEmpty())
                    filter += QStringLiteral(" AND (title LIKE :n OR persons LIKE :n)");
                if (CheckRows(index->Day(ADate, AHour), filter,
                              AName.isEmpty() ? QString() : QLatin1Char('%') + AName + QLatin1Char('%'), QString(),
                              false, [&](const TSqliteStmt &AStmt) {
                                  AResults.append(RowToRecInfo(AStmt));
                                  return true;
                              })) {
                    FLastIndexed = true;
                    return;
                }
            } catch (const EIndexFault &) {
            }
            AResults.clear();
        }
    }
    QString sql = QString::fromLatin1(SelectColumns) + QStringLiteral(" WHERE duration_sec > 0");
    if (!ADate.isEmpty())
        sql += QStringLiteral(" AND rec_date = :d");
    if (AHour >= 0)
        sql += QStringLiteral(" AND rec_hour = :h");
    if (!AName.isEmpty())
        sql += QStringLiteral(" AND (title LIKE :n OR persons LIKE :n)");
    sql += QStringLiteral(" ORDER BY rec_dt, rec_number, id");
    TSqliteStmt q(*FConn, sql);
    if (!ADate.isEmpty())
        q.BindText(":d", ADate);
    if (AHour >= 0)
        q.BindInt(":h", AHour);
    if (!AName.isEmpty())
        q.BindText(":n", QLatin1Char('%') + AName + QLatin1Char('%'));
    while (q.Step())
        AResults.append(RowToRecInfo(q));
}

QString TReaderData::FindExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot)
{
    if (IsRegularFilePath(ARI.FilePath))
        return ARI.FilePath;
    if (!ARecordingsRoot.isEmpty()) {
        const QString candidate = PathUnderRoot(ARI, ARecordingsRoot);
        if (IsRegularFilePath(candidate))
            return candidate;
    }
    return QString();
}

QString TReaderData::ResolveExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot)
{
    const QString found = FindExistingPath(ARI, ARecordingsRoot);
    return found.isEmpty() ? ARI.FilePath : found;
}

QString TReaderData::PathUnderRoot(const TRecInfo &ARI, const QString &ARoot)
{
    return RecordingPathUnderRoot(ARoot, ARI.RecDate, ARI.FileName);
}

void TReaderData::UpdateMeta(int AId, const QString &AFileName, const QString &ATitle, const QString &APersons)
{
    if (FReadOnly)
        throw EReaderError(QString::fromUtf8(ReadOnlyRefusalText));
    {
        TSqliteStmt q(*FConn,
                      QStringLiteral("UPDATE recordings SET title=:t, persons=:p WHERE id=:id AND filename=:f"));
        q.BindText(":t", ATitle);
        q.BindText(":p", APersons);
        q.BindInt(":id", AId);
        q.BindText(":f", AFileName);
        try {
            q.Step();
        } catch (const ESqliteError &e) {
            // A lock held past the wait: the refusal says, like the read-only one, who holds the catalogue.
            if (!e.IsLock())
                throw;
            throw EReaderError(QString::fromUtf8(LockedRefusalText) + QStringLiteral(" (SQLite: ") + e.SqliteText() +
                               QLatin1Char(')'));
        }
    }
    if (FConn->Changes() == 0)
        throw EReaderError(QString::fromUtf8(NoLongerInCatalogueText).arg(AFileName, QString::number(AId)));
}

QString ReadOnlyCatalogueUri(const QString &ADbPath)
{
    QFile f(ADbPath);
    QByteArray header;
    if (f.open(QIODevice::ReadOnly))
        header = f.read(20);
    const bool wal = header.size() == 20 && header[18] == 2 && header[19] == 2;  // file format versions 2: WAL
    const QString absolute = QFileInfo(ADbPath).absoluteFilePath();
    QString uri = QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded);
    if (wal && !QFileInfo::exists(absolute + QStringLiteral("-shm")))
        uri += QStringLiteral("?immutable=1");
    return uri;
}

QString CatalogueLibraryText()
{
    return QStringLiteral("SQLite %1 (SQLite C API)").arg(QString::fromLatin1(sqlite3_libversion()));
}
