// Audit of the archive: catalogue rows against their files, files against the catalogue, and with decoding
// every file decoded once on every core.
#include "uAudit.h"

#include "uAudioEngine.h"
#include "uDecoder.h"
#include "uReaderData.h"
#include "uSqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Decoded length may differ from the catalogue's whole seconds by this much before it is a finding.
constexpr double DurationToleranceSec = 1.0;
// Bytes asked of the decoding stream per read: the waveform pass's block, so a worker runs at its speed.
constexpr qint64 DecodeReadBytes = 262144;
// How long a statement waits for the recorder's locks, as the reader's statements do.
constexpr int BusyTimeoutMs = 10000;

struct TRow {
    TRecInfo Info;
    bool Listed = false;  // duration_sec > 0: a row the reader lists at all
};

bool IsRegularFile(const QString &path, qint64 *size = nullptr)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (size)
        *size = st.st_size;
    return true;
}

bool IsDirectory(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Every row of the catalogue in the reader's order, from one statement on a read-only connection.
std::vector<TRow> ReadCatalogue(const QString &dbPath)
{
    // A FIFO or a device would make SQLite wait for ever; the reader's own text for anything else.
    if (!IsRegularFile(dbPath))
        throw EReaderError(QStringLiteral("Databasebestand niet gevonden: %1").arg(dbPath));
    TSqliteDb db(dbPath, SQLITE_OPEN_READONLY);
    db.SetBusyTimeout(BusyTimeoutMs);
    TSqliteStmt q(db, QStringLiteral("SELECT id,rec_date,filename,filepath,duration_sec,duration_sec > 0 AS listed "
                                     "FROM recordings ORDER BY rec_dt, rec_number"));
    std::vector<TRow> rows;
    while (q.Step()) {
        TRow r;
        r.Info.Id = int(q.ColumnInt("id"));
        r.Info.RecDate = q.ColumnText("rec_date");
        r.Info.FileName = q.ColumnText("filename");
        r.Info.FilePath = q.ColumnText("filepath");
        r.Info.DurationSec = int(q.ColumnInt("duration_sec"));
        r.Listed = q.ColumnInt("listed") != 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

bool InRange(const QString &date, const TAuditOptions &o)
{
    return (o.From.isEmpty() || date >= o.From) && (o.To.isEmpty() || date <= o.To);
}

// The file under the root the reader tries after a stale stored path, or empty when it builds none.
QString RootCandidate(const TRecInfo &ri, const QString &root)
{
    if (ri.RecDate.size() != 10 || ri.FileName.isEmpty())
        return QString();
    return QDir::cleanPath(root + QLatin1Char('/') + ri.RecDate.mid(0, 4) + QLatin1Char('/') + ri.RecDate.mid(5, 2) +
                           QLatin1Char('/') + ri.RecDate.mid(8, 2) + QLatin1Char('/') + ri.FileName);
}

// Serialises progress reports from several threads and passes on each rise of the whole percentage.
class TProgressMeter {
public:
    TProgressMeter(const TProgressProc &report, qint64 total) : FReport(report), FTotal(std::max<qint64>(total, 1)) {}
    void Add(qint64 units)
    {
        if (!FReport || units <= 0)
            return;
        std::lock_guard<std::mutex> lock(FMutex);
        FDone += units;
        const int percent = int(std::min<qint64>(FDone * 100 / FTotal, 100));
        if (percent > FLast) {
            FLast = percent;
            FReport(percent);
        }
    }
    void Finish()
    {
        if (!FReport)
            return;
        std::lock_guard<std::mutex> lock(FMutex);
        if (FLast < 100) {
            FLast = 100;
            FReport(100);
        }
    }

private:
    TProgressProc FReport;
    qint64 FTotal;
    qint64 FDone = 0;
    int FLast = -1;
    std::mutex FMutex;
};

// One distinct file to decode, shared by every row that resolves to it.
struct TDecodeJob {
    QString Path;
    qint64 Size = 0;
    int OpenError = 0;       // the decoder refused the file
    int DecodeErrors = 0;    // packets refused part-way
    qint64 LengthBytes = 0;
    qint64 FilledBytes = 0;  // the decoder stopped before the end
    double BytesPerSec = 0;
};

void Decode(TDecodeJob &job, TProgressMeter &meter)
{
    TDecodeStream stream;
    if (!stream.Open(job.Path)) {
        job.OpenError = stream.LastError();
        meter.Add(job.Size);
        return;
    }
    job.LengthBytes = stream.LengthBytes();
    job.BytesPerSec = double(stream.SampleRate()) * stream.BlockAlign();
    std::vector<char> buffer(DecodeReadBytes);
    qint64 reported = 0;
    for (;;) {
        const qint64 n = stream.Read(buffer.data(), DecodeReadBytes);
        if (n <= 0)
            break;
        // The file's size spread over its decoded length: progress moves with the decoding, not per file.
        const qint64 now = job.LengthBytes > 0 ? qint64(double(job.Size) * stream.PositionBytes() / job.LengthBytes) : 0;
        meter.Add(now - reported);
        reported = now;
    }
    meter.Add(job.Size - reported);
    job.DecodeErrors = stream.DecodeErrors();
    job.FilledBytes = stream.FilledBytes();
}

// Decodes every job on `threads` workers; the largest files first, so no worker is left with a long
// file at the end while the others idle.
void DecodeAll(std::vector<TDecodeJob> &jobs, int threads, TProgressMeter &meter)
{
    std::vector<size_t> order(jobs.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return jobs[a].Size > jobs[b].Size; });
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next.fetch_add(1)) < order.size();)
            Decode(jobs[order[i]], meter);
    };
    const int n = std::max(1, std::min<int>(threads, int(jobs.size())));
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t)
        pool.emplace_back(worker);
    worker();  // this thread is one of the workers
    for (std::thread &t : pool)
        t.join();
}

QString Seconds(double sec) { return QString::number(sec, 'f', 3); }

// The undecodable detail of a decoded job, or empty when the file decoded whole.
QString DamageText(const TDecodeJob &job)
{
    if (job.OpenError != 0)
        return QStringLiteral("%1 %2").arg(job.OpenError).arg(AudioErrorText(job.OpenError));
    if (job.LengthBytes <= 0)
        return QStringLiteral("beschadigd: geen audio");
    QStringList parts;
    if (job.DecodeErrors > 0)
        parts << QStringLiteral("decoderfouten: %1").arg(job.DecodeErrors);
    if (job.FilledBytes > 0)
        parts << QStringLiteral("%1 s van %2 s gedecodeerd")
                     .arg(Seconds((job.LengthBytes - job.FilledBytes) / job.BytesPerSec),
                          Seconds(job.LengthBytes / job.BytesPerSec));
    return parts.isEmpty() ? QString() : QStringLiteral("beschadigd: ") + parts.join(QStringLiteral("; "));
}

// Directory entries of one folder (names only), with the kind each resolves to after symbolic links.
struct TEntry {
    QString Name;
    bool IsDir = false;
    bool IsFile = false;
};
std::vector<TEntry> ListFolder(const QString &folder)
{
    std::vector<TEntry> entries;
    const QByteArray path = QFile::encodeName(folder);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.constData()), &::closedir);
    if (!dir)
        return entries;
    while (const dirent *e = ::readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;  // ".", "..", and hidden files: never the recorder's
        TEntry entry;
        entry.Name = QFile::decodeName(e->d_name);
        if (e->d_type == DT_DIR || e->d_type == DT_REG) {
            entry.IsDir = e->d_type == DT_DIR;
            entry.IsFile = e->d_type == DT_REG;
        } else {
            struct stat st {};
            if (::stat((path + '/' + e->d_name).constData(), &st) == 0) {
                entry.IsDir = S_ISDIR(st.st_mode);
                entry.IsFile = S_ISREG(st.st_mode);
            }
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) { return a.Name < b.Name; });
    return entries;
}

bool IsDigits(const QString &s, int count)
{
    if (s.size() != count)
        return false;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

const char *FindingKindName(TFindingKind kind)
{
    static const char *const names[FindingKindCount] = {"missing", "empty", "duplicate", "undecodable", "duration",
                                                         "orphan"};
    return names[static_cast<int>(kind)];
}

bool IsAudioFileName(const QString &name)
{
    static const QSet<QString> exts{"wav", "mp3", "ogg", "oga", "opus", "flac", "m4a", "aac", "mp4", "wma",
                                    "ac3", "mp2", "aif", "aiff", "caf", "amr", "gsm", "spx", "wv", "ape"};
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && exts.contains(name.mid(dot + 1).toLower());
}

TAuditResult RunAudit(const TAuditOptions &options, const TProgressProc &progress)
{
    if (!IsDirectory(options.Root))
        throw EReaderError(QStringLiteral("Opnamemap niet gevonden: %1").arg(options.Root));
    const std::vector<TRow> rows = ReadCatalogue(options.DbPath);
    const QString root = QDir::cleanPath(options.Root);

    // What the whole catalogue names, also outside the range and in rows the reader does not list (a
    // recording still being written): a file so named is no orphan, a name named twice a duplicate.
    QHash<QString, int> nameCount;
    QSet<QString> namedInDay;    // rec_date + '/' + file name
    QSet<QString> namedByPath;   // stored paths, cleaned
    for (const TRow &r : rows) {
        if (!r.Info.FileName.isEmpty())
            ++nameCount[r.Info.FileName];
        namedInDay.insert(r.Info.RecDate + QLatin1Char('/') + r.Info.FileName);
        if (!r.Info.FilePath.isEmpty())
            namedByPath.insert(QDir::cleanPath(r.Info.FilePath));
    }

    struct TChecked {
        const TRow *Row;
        QString File;
        int Job = -1;  // decode job, -1 = none (missing or empty)
        QList<TAuditFinding> Findings;
    };
    std::vector<TChecked> checked;
    qint64 rowsInRange = 0;
    for (const TRow &r : rows)
        rowsInRange += r.Listed && InRange(r.Info.RecDate, options) ? 1 : 0;
    checked.reserve(size_t(rowsInRange));

    TAuditResult result;
    std::vector<TDecodeJob> jobs;
    QHash<QString, int> jobOfPath;
    // Without decoding the rows are the work; with it the bytes to decode, counted once they are known.
    std::unique_ptr<TProgressMeter> meter =
        std::make_unique<TProgressMeter>(options.Decode ? TProgressProc() : progress, rowsInRange);
    for (const TRow &r : rows) {
        if (!r.Listed || !InRange(r.Info.RecDate, options))
            continue;
        TChecked c{&r, TReaderData::ResolveExistingPath(r.Info, root), -1, {}};
        auto add = [&](TFindingKind kind, const QString &file, const QString &detail) {
            c.Findings.append(TAuditFinding{kind, r.Info.Id, r.Info.FileName, file, detail});
        };
        qint64 size = 0;
        const bool exists = IsRegularFile(c.File, &size);
        if (!r.Info.FileName.isEmpty() && nameCount.value(r.Info.FileName) > 1)
            add(TFindingKind::Duplicate, c.File,
                QStringLiteral("%1 rijen").arg(nameCount.value(r.Info.FileName)));
        if (!exists) {
            const QString candidate = RootCandidate(r.Info, root);
            QString looked = c.File.isEmpty() ? candidate : c.File;
            add(TFindingKind::Missing, looked,
                !candidate.isEmpty() && candidate != looked ? QStringLiteral("ook gezocht: ") + candidate : QString());
        } else if (size == 0) {
            add(TFindingKind::Empty, c.File, QString());
        } else if (options.Decode) {
            auto it = jobOfPath.constFind(c.File);
            if (it == jobOfPath.constEnd()) {
                it = jobOfPath.insert(c.File, int(jobs.size()));
                jobs.push_back(TDecodeJob{c.File, size});
            }
            c.Job = it.value();
        }
        checked.push_back(std::move(c));
        meter->Add(1);
    }
    result.Rows = int(checked.size());

    if (options.Decode) {
        qint64 total = 0;
        for (const TDecodeJob &j : jobs)
            total += j.Size;
        meter = std::make_unique<TProgressMeter>(progress, total);
        const int threads = options.Threads > 0 ? options.Threads : int(std::max(1u, std::thread::hardware_concurrency()));
        DecodeAll(jobs, threads, *meter);
        for (TChecked &c : checked) {
            if (c.Job < 0)
                continue;
            const TDecodeJob &job = jobs[size_t(c.Job)];
            const QString damage = DamageText(job);
            if (!damage.isEmpty()) {
                c.Findings.append(TAuditFinding{TFindingKind::Undecodable, c.Row->Info.Id, c.Row->Info.FileName, c.File, damage});
                continue;
            }
            const double decoded = job.LengthBytes / job.BytesPerSec;
            if (std::fabs(decoded - c.Row->Info.DurationSec) > DurationToleranceSec)
                c.Findings.append(TAuditFinding{TFindingKind::Duration, c.Row->Info.Id, c.Row->Info.FileName, c.File,
                                                QStringLiteral("decoded=%1 duration_sec=%2")
                                                    .arg(Seconds(decoded))
                                                    .arg(c.Row->Info.DurationSec)});
        }
    }
    for (const TChecked &c : checked) {
        for (const TAuditFinding &f : c.Findings) {
            ++result.Counts[static_cast<int>(f.Kind)];
            result.Findings.append(f);
        }
    }

    // Orphans: audio files in the day folders of the range that no row names.
    for (const TEntry &year : ListFolder(root)) {
        if (!year.IsDir || !IsDigits(year.Name, 4))
            continue;
        const QString yearPath = root + QLatin1Char('/') + year.Name;
        for (const TEntry &month : ListFolder(yearPath)) {
            if (!month.IsDir || !IsDigits(month.Name, 2))
                continue;
            const QString monthPath = yearPath + QLatin1Char('/') + month.Name;
            for (const TEntry &day : ListFolder(monthPath)) {
                const QString date = year.Name + QLatin1Char('-') + month.Name + QLatin1Char('-') + day.Name;
                if (!day.IsDir || !IsDigits(day.Name, 2) || !InRange(date, options))
                    continue;
                const QString dayPath = monthPath + QLatin1Char('/') + day.Name;
                for (const TEntry &file : ListFolder(dayPath)) {
                    if (!file.IsFile || !IsAudioFileName(file.Name))
                        continue;
                    ++result.Files;
                    const QString path = dayPath + QLatin1Char('/') + file.Name;
                    if (namedInDay.contains(date + QLatin1Char('/') + file.Name) || namedByPath.contains(path))
                        continue;
                    result.Findings.append(TAuditFinding{TFindingKind::Orphan, 0, file.Name, path, QString()});
                    ++result.Counts[static_cast<int>(TFindingKind::Orphan)];
                }
            }
        }
    }
    meter->Finish();
    return result;
}
