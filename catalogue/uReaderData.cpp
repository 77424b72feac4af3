// Access to the recorder's catalogue.
#include "uReaderData.h"

#include "uSqlite.h"

#include <QFile>
#include <QFileInfo>
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

const char *const SelectColumns =
    "SELECT id,rec_dt,rec_date,rec_hour,rec_number,format,filename,filepath,title,persons,duration_sec "
    "FROM recordings";

TRecInfo RowToRecInfo(const TSqliteStmt &AQ)
{
    TRecInfo ri;
    ri.Id = int(AQ.ColumnInt("id"));
    ri.RecDT = AQ.ColumnText("rec_dt");
    ri.RecDate = AQ.ColumnText("rec_date");
    ri.RecHour = int(AQ.ColumnInt("rec_hour"));
    ri.RecNumber = int(AQ.ColumnInt("rec_number"));
    ri.Format = AQ.ColumnText("format");
    ri.FileName = AQ.ColumnPath("filename");
    ri.FilePath = AQ.ColumnPath("filepath");
    ri.Title = AQ.ColumnText("title");
    ri.Persons = AQ.ColumnText("persons");
    ri.DurationSec = int(AQ.ColumnInt("duration_sec"));
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

// A path component that stays inside its folder.
bool IsPlainName(const QString &AS)
{
    return !AS.isEmpty() && AS != QLatin1String(".") && AS != QLatin1String("..") && !AS.contains(QLatin1Char('/')) &&
           !AS.contains(QChar(0));
}

} // namespace

int THourSet::Count() const
{
    int n = 0;
    for (int h = 0; h < 24; ++h)
        n += Contains(h) ? 1 : 0;
    return n;
}

TReaderData::TReaderData(const QString &ADbPath, int ALockWaitMs, TCatalogueAccess AAccess)
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

TReaderData::~TReaderData() = default;

bool TReaderData::FindByFilenameStem(const QString &AStem, TRecInfo &ARI)
{
    TSqliteStmt q(*FConn, QString::fromLatin1(SelectColumns) +
                              QStringLiteral(" WHERE filename LIKE :stem AND duration_sec > 0 ORDER BY rec_dt LIMIT 1"));
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

QStringList TReaderData::DaysOfMonth(const QString &AMonth)
{
    TSqliteStmt q(*FConn, QStringLiteral("SELECT DISTINCT rec_date FROM recordings WHERE rec_date >= :first AND "
                                         "rec_date <= :last AND duration_sec > 0 ORDER BY rec_date"));
    q.BindText(":first", AMonth + QStringLiteral("-01"));
    q.BindText(":last", AMonth + QStringLiteral("-31"));
    QStringList days;
    while (q.Step())
        days.append(q.ColumnText(0));
    return days;
}

THourSet TReaderData::AvailableHours(const QString &ADate)
{
    TSqliteStmt q(*FConn,
                  QStringLiteral("SELECT DISTINCT rec_hour FROM recordings WHERE rec_date = :d AND duration_sec > 0"));
    q.BindText(":d", ADate);
    THourSet hours;
    while (q.Step()) {
        // Only a number that the hour search can find again (rec_hour = :h) opens a tile: NULL or text in
        // the column would otherwise read as hour 0 and light a tile that lists nothing.
        const int type = q.ColumnType(0);
        if (type == SQLITE_INTEGER) {
            const long long h = q.ColumnInt(0);
            if (h >= 0 && h <= 23)
                hours.Include(int(h));
        } else if (type == SQLITE_FLOAT) {
            const double h = q.ColumnDouble(0);
            if (h >= 0 && h <= 23 && h == double(int(h)))
                hours.Include(int(h));
        }
    }
    return hours;
}

void TReaderData::Search(const QString &ADate, int AHour, const QString &AName, TRecList &AResults)
{
    AResults.clear();
    QString sql = QString::fromLatin1(SelectColumns) + QStringLiteral(" WHERE duration_sec > 0");
    if (!ADate.isEmpty())
        sql += QStringLiteral(" AND rec_date = :d");
    if (AHour >= 0)
        sql += QStringLiteral(" AND rec_hour = :h");
    if (!AName.isEmpty())
        sql += QStringLiteral(" AND (title LIKE :n OR persons LIKE :n)");
    sql += QStringLiteral(" ORDER BY rec_dt, rec_number");
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

QString TReaderData::ResolveExistingPath(const TRecInfo &ARI, const QString &ARecordingsRoot)
{
    if (IsRegularFilePath(ARI.FilePath))
        return ARI.FilePath;
    if (!ARecordingsRoot.isEmpty()) {
        const QString candidate = PathUnderRoot(ARI, ARecordingsRoot);
        if (IsRegularFilePath(candidate))
            return candidate;
    }
    return ARI.FilePath;
}

QString TReaderData::PathUnderRoot(const TRecInfo &ARI, const QString &ARoot)
{
    if (ARI.RecDate.size() != 10)
        return QString();
    const QString year = ARI.RecDate.mid(0, 4), month = ARI.RecDate.mid(5, 2), day = ARI.RecDate.mid(8, 2);
    // The rebuilt path stays under the root: a name with a separator or a dot folder is not followed.
    if (!IsPlainName(year) || !IsPlainName(month) || !IsPlainName(day) || !IsPlainName(ARI.FileName))
        return QString();
    const QString base = ARoot.endsWith(QLatin1Char('/')) ? ARoot : ARoot + QLatin1Char('/');
    return base + year + QLatin1Char('/') + month + QLatin1Char('/') + day + QLatin1Char('/') + ARI.FileName;
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
