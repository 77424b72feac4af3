// Audit of the archive: catalogue rows against their files, files against the catalogue, and with decoding
// every file decoded once on every core.
#include "uAudit.h"

#include "uDecoder.h"
#include "uFixity.h"
#include "uProgressReport.h"
#include "uLoudness.h"
#include "uReaderData.h"
#include "uSqlite.h"
#include "uThreadGroup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
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

// Names are taken by their bytes; a path holding a NUL is one that does not exist.
bool IsRegularFile(const QString &APath, qint64 *ASize = nullptr) { return IsRegularFilePath(APath, ASize); }

bool IsDirectory(const QString &APath)
{
    struct stat st {};
    return ::stat(QFile::encodeName(APath).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Every row of the catalogue in the reader's order, from one statement on a read-only connection.
std::vector<TRow> ReadCatalogue(const QString &ADbPath)
{
    // A FIFO or a device would make SQLite wait for ever; the reader's own text for anything else.
    if (!IsRegularFile(ADbPath))
        throw EReaderError(QStringLiteral("Databasebestand niet gevonden: %1").arg(ADbPath));
    TSqliteDb db(ReadOnlyCatalogueUri(ADbPath), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    db.SetBusyTimeout(BusyTimeoutMs);
    TSqliteStmt q(db, QStringLiteral("SELECT id,rec_date,filename,filepath,duration_sec,duration_sec > 0 AS listed "
                                     "FROM recordings ORDER BY rec_dt, rec_number"));
    std::vector<TRow> rows;
    while (q.Step()) {  // columns by position: the names cost a look-up per value
        TRow r;
        r.Info.Id = int(q.ColumnInt(0));
        r.Info.RecDate = q.ColumnText(1);
        r.Info.FileName = q.ColumnPath(2);
        r.Info.FilePath = q.ColumnPath(3);
        r.Info.DurationSec = int(q.ColumnInt(4));
        r.Listed = q.ColumnInt(5) != 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

bool InRange(const QString &ADate, const TAuditOptions &AOptions)
{
    return (AOptions.From.isEmpty() || ADate >= AOptions.From) && (AOptions.To.isEmpty() || ADate <= AOptions.To);
}

// Serialises progress reports from several threads and passes on each rise of the whole percentage
// (rounded down); Finish adds 100 unless that was the last report.
class TProgressMeter {
public:
    TProgressMeter(const TProgressProc &AReport, qint64 ATotal)
        : FReporter(AReport, std::max<qint64>(ATotal, 1), TPercentRounding::Down)
    {
    }
    void Add(qint64 AUnits)
    {
        if (AUnits <= 0)
            return;
        std::lock_guard<std::mutex> lock(FMutex);
        FDone += AUnits;
        FReporter.Report(FDone);
    }
    void Finish()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FReporter.Finish(false);
    }

private:
    TPercentReporter FReporter;
    qint64 FDone = 0;
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
    const TAuditOptions *Signal = nullptr;  // measure the signal in the same pass when set
    TLoudnessResult Measured;
};

void Decode(TDecodeJob &AJob, TProgressMeter &AMeter)
{
    TDecodeStream stream;
    if (!stream.Open(AJob.Path)) {
        AJob.OpenError = stream.LastError();
        AMeter.Add(AJob.Size);
        return;
    }
    AJob.LengthBytes = stream.LengthBytes();
    AJob.BytesPerSec = double(stream.SampleRate()) * stream.BlockAlign();
    std::vector<char> buffer(DecodeReadBytes);
    std::unique_ptr<TLoudnessMeter> signal;
    if (AJob.Signal) {
        TLoudnessOptions o;
        o.SilenceDb = AJob.Signal->SilenceDb;
        o.SilenceMinSec = AJob.Signal->SilenceMinSec;
        o.Parallel = false;  // the audit already measures one file per core
        signal = std::make_unique<TLoudnessMeter>(stream.SampleRate(), stream.Channels(), o);
    }
    qint64 reported = 0;
    for (;;) {
        const qint64 n = stream.Read(buffer.data(), DecodeReadBytes);
        if (n <= 0)
            break;
        if (signal)
            signal->Feed(buffer.data(), n);
        // The file's size spread over its decoded length: progress moves with the decoding, not per file.
        const qint64 now = AJob.LengthBytes > 0 ? qint64(double(AJob.Size) * stream.PositionBytes() / AJob.LengthBytes) : 0;
        AMeter.Add(now - reported);
        reported = now;
    }
    AMeter.Add(AJob.Size - reported);
    AJob.DecodeErrors = stream.DecodeErrors();
    AJob.FilledBytes = stream.FilledBytes();
    if (signal)
        AJob.Measured = signal->Finish();
}

// A figure in the Dutch detail texts: one decimal, decimal comma.
QString DutchDecimal(double AValue)
{
    return std::isinf(AValue) ? QStringLiteral("-oneindig") : QString::number(AValue, 'f', 1).replace('.', ',');
}

// The signal findings of a measured file, in the order of TFindingKind.
QList<TAuditFinding> SignalFindings(const TAuditOptions &AOptions, const TRecInfo &ARI, const TDecodeJob &AJob)
{
    QList<TAuditFinding> found;
    const TLoudnessResult &m = AJob.Measured;
    if (m.SilentStretchCount > 0 && !m.SilentStretches.empty()) {
        const TSilentStretch &first = m.SilentStretches.front();
        const double whole = m.EndSec - m.StartSec;
        const QString detail =
            m.SilentStretchCount == 1 && first.StartSec <= m.StartSec && first.EndSec >= m.EndSec
                ? QStringLiteral("de hele opname is stil (%1 s onder %2 dBFS)").arg(DutchDecimal(whole), DutchDecimal(AOptions.SilenceDb))
                : QStringLiteral("stilte: %1 keer, samen %2 s onder %3 dBFS; de eerste vanaf %4 (%5 s)")
                      .arg(m.SilentStretchCount)
                      .arg(DutchDecimal(m.SilentSeconds), DutchDecimal(AOptions.SilenceDb), FormatTimeMs(first.StartSec),
                           DutchDecimal(first.EndSec - first.StartSec));
        found.append(TAuditFinding{TFindingKind::Silent, ARI.Id, ARI.FileName, AJob.Path, detail});
    }
    if (m.ClipRunCount >= AOptions.ClipRuns && !m.ClipRuns.empty())
        found.append(TAuditFinding{TFindingKind::Clipped, ARI.Id, ARI.FileName, AJob.Path,
                                   QStringLiteral("oversturing: %1 keer; de eerste op %2 (kanaal %3)")
                                       .arg(m.ClipRunCount)
                                       .arg(FormatTimeMs(m.ClipRuns.front().StartSec))
                                       .arg(m.ClipRuns.front().Channel + 1)});
    const bool tooQuiet = !std::isnan(AOptions.LoudnessMin) && m.IntegratedLufs < AOptions.LoudnessMin;
    const bool tooLoud = !std::isnan(AOptions.LoudnessMax) && m.IntegratedLufs > AOptions.LoudnessMax;
    if (tooQuiet || tooLoud)
        found.append(TAuditFinding{TFindingKind::Loudness, ARI.Id, ARI.FileName, AJob.Path,
                                   QStringLiteral("geïntegreerde luidheid %1 LUFS, %2 %3 LUFS; hoogste kortetermijnluidheid %4 LUFS")
                                       .arg(DutchDecimal(m.IntegratedLufs),
                                            tooQuiet ? QStringLiteral("onder") : QStringLiteral("boven"),
                                            DutchDecimal(tooQuiet ? AOptions.LoudnessMin : AOptions.LoudnessMax),
                                            DutchDecimal(m.ShorttermMaxLufs))});
    return found;
}

// Runs ABody(i) for i in [0, ACount) on AThreads threads (this one included), handing out indexes in
// chunks, so that each worker takes the next piece as soon as it is free.
template <class F>
void ParallelFor(size_t ACount, int AThreads, size_t AChunk, F &&ABody)
{
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t first; (first = next.fetch_add(AChunk)) < ACount;)
            for (size_t i = first; i < std::min(ACount, first + AChunk); ++i)
                ABody(i);
    };
    const int n = int(std::max<size_t>(1, std::min<size_t>(size_t(std::max(AThreads, 1)), (ACount + AChunk - 1) / AChunk)));
    TThreadGroup pool;
    for (int t = 1; t < n; ++t)
        pool.Start(worker);
    worker();
}

// Rough decoding time of a file, for the order of the work only. Per byte it differs by three orders of
// magnitude between codecs (measured on one-hour recordings: PCM 0.6 ns, FLAC 14, MP3 43, Vorbis 370,
// Opus 3200 ns per byte), so the smallest file can be the longest to decode.
double EstimatedDecodeCost(const TDecodeJob &AJob)
{
    const QString ext = AJob.Path.mid(AJob.Path.lastIndexOf(QLatin1Char('.')) + 1).toLower();
    double nsPerByte = 43;  // the compressed formats alike, unless known better
    if (ext == QLatin1String("wav") || ext == QLatin1String("aif") || ext == QLatin1String("aiff") ||
        ext == QLatin1String("caf"))
        nsPerByte = 0.6;
    else if (ext == QLatin1String("flac") || ext == QLatin1String("wv") || ext == QLatin1String("ape"))
        nsPerByte = 14;
    else if (ext == QLatin1String("ogg") || ext == QLatin1String("oga") || ext == QLatin1String("spx"))
        nsPerByte = 370;
    else if (ext == QLatin1String("opus"))
        nsPerByte = 3200;
    return nsPerByte * double(AJob.Size);
}

// Decodes every job, one file per worker at a time; the longest first, so that no worker starts a long
// file while the others are about to run out of work.
void DecodeAll(std::vector<TDecodeJob> &AJobs, int AThreads, TProgressMeter &AMeter)
{
    std::vector<std::pair<double, size_t>> order;
    order.reserve(AJobs.size());
    for (size_t i = 0; i < AJobs.size(); ++i)
        order.emplace_back(EstimatedDecodeCost(AJobs[i]), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto &ALeft, const auto &ARight) { return ALeft.first > ARight.first; });
    ParallelFor(order.size(), AThreads, 1, [&](size_t AIndex) { Decode(AJobs[order[AIndex].second], AMeter); });
}

QString Seconds(double ASec) { return QString::number(ASec, 'f', 3); }

// The undecodable detail of a decoded job, or empty when the file decoded whole.
QString DamageText(const TDecodeJob &AJob)
{
    if (AJob.OpenError != 0)
        return QStringLiteral("%1 %2").arg(AJob.OpenError).arg(AudioErrorText(AJob.OpenError));
    if (AJob.LengthBytes <= 0)
        return QStringLiteral("beschadigd: geen audio");
    QStringList parts;
    if (AJob.DecodeErrors > 0)
        parts << QStringLiteral("decoderfouten: %1").arg(AJob.DecodeErrors);
    if (AJob.FilledBytes > 0)
        parts << QStringLiteral("%1 s van %2 s gedecodeerd")
                     .arg(Seconds((AJob.LengthBytes - AJob.FilledBytes) / AJob.BytesPerSec),
                          Seconds(AJob.LengthBytes / AJob.BytesPerSec));
    return parts.isEmpty() ? QString() : QStringLiteral("beschadigd: ") + parts.join(QStringLiteral("; "));
}

// Directory entries of one folder (names only), with the kind each resolves to after symbolic links.
struct TEntry {
    QString Name;
    bool IsDir = false;
    bool IsFile = false;
};
std::vector<TEntry> ListFolder(const QString &AFolder)
{
    std::vector<TEntry> entries;
    const QByteArray path = PathBytes(AFolder);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.constData()), &::closedir);
    if (!dir)
        return entries;
    while (const dirent *e = ::readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;  // ".", "..", and hidden files: never the recorder's
        TEntry entry;
        entry.Name = PathFromBytes(QByteArray(e->d_name));
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
    std::sort(entries.begin(), entries.end(),
              [](const TEntry &ALeft, const TEntry &ARight) { return ALeft.Name < ARight.Name; });
    return entries;
}

bool IsDigits(const QString &AText, int ACount)
{
    if (AText.size() != ACount)
        return false;
    for (QChar c : AText)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// An audio file in a day folder of the range.
struct TDayFile {
    QString Date;  // yyyy-mm-dd of its folder
    QString Name;
    QString Path;
};

// Every audio file in the day folders (ARoot/yyyy/mm/dd) of the range, in path order.
std::vector<TDayFile> ListDayFiles(const QString &ARoot, const TAuditOptions &AOptions)
{
    std::vector<TDayFile> files;
    for (const TEntry &year : ListFolder(ARoot)) {
        if (!year.IsDir || !IsDigits(year.Name, 4))
            continue;
        const QString yearPath = (ARoot.endsWith(QLatin1Char('/')) ? ARoot : ARoot + QLatin1Char('/')) + year.Name;
        for (const TEntry &month : ListFolder(yearPath)) {
            if (!month.IsDir || !IsDigits(month.Name, 2))
                continue;
            const QString monthPath = yearPath + QLatin1Char('/') + month.Name;
            for (const TEntry &day : ListFolder(monthPath)) {
                const QString date = year.Name + QLatin1Char('-') + month.Name + QLatin1Char('-') + day.Name;
                if (!day.IsDir || !IsDigits(day.Name, 2) || !InRange(date, AOptions))
                    continue;
                const QString dayPath = monthPath + QLatin1Char('/') + day.Name;
                for (const TEntry &file : ListFolder(dayPath))
                    if (file.IsFile && IsAudioFileName(file.Name))
                        files.push_back(TDayFile{date, file.Name, dayPath + QLatin1Char('/') + file.Name});
            }
        }
    }
    return files;
}

// The files no row names: neither by its day and file name nor by its stored path.
QList<TAuditFinding> FindOrphans(const std::vector<TDayFile> &AFiles, const std::vector<TRow> &ARows,
                                 const QSet<QString> &ANamedInDay)
{
    QList<TAuditFinding> orphans;
    // Stored paths are only needed for a file that no row names by its day and name: built on first use.
    std::unique_ptr<QSet<QString>> namedByPath;
    for (const TDayFile &f : AFiles) {
        if (ANamedInDay.contains(f.Date + QLatin1Char('/') + f.Name))
            continue;
        if (!namedByPath) {
            namedByPath = std::make_unique<QSet<QString>>();
            for (const TRow &r : ARows)
                if (!r.Info.FilePath.isEmpty())
                    namedByPath->insert(QDir::cleanPath(r.Info.FilePath));
        }
        if (!namedByPath->contains(f.Path))
            orphans.append(TAuditFinding{TFindingKind::Orphan, 0, f.Name, f.Path, QString()});
    }
    return orphans;
}

// The manifest's entries of the range against their files: each file hashed once on every core. A file
// that is gone is `missing` unless a row of the range already reported it so.
template <class TCheckedList>
QList<TAuditFinding> CheckFixity(const TAuditOptions &AOptions, const QString &ARoot,
                                 const std::vector<const TRow *> &AInRange, const TCheckedList &AChecked, int AThreads)
{
    const QList<TManifestEntry> entries = ReadManifest(AOptions.Fixity);
    QHash<QString, const TRecInfo *> rowOf;  // manifest path -> row
    QSet<QString> reportedMissing;
    for (size_t i = 0; i < AInRange.size(); ++i) {
        const TRecInfo &ri = AInRange[i]->Info;
        rowOf.insert(ManifestPathOf(ri.RecDate, ri.FileName), &ri);
        if (AChecked[i].Size < 0)
            reportedMissing.insert(TReaderData::PathUnderRoot(ri, ARoot));
    }
    const QString base = ARoot.endsWith(QLatin1Char('/')) ? ARoot : ARoot + QLatin1Char('/');
    const TRootPlaces places(base);
    // What each entry is: looked at no further (out of range), hashed, or reported as it is.
    enum class TState { OutOfRange, Hashed, NotThere, Outside };
    std::vector<TState> states;
    QStringList paths;
    for (const TManifestEntry &e : entries) {
        const QString date = e.RelPath.left(10).replace(QLatin1Char('/'), QLatin1Char('-'));
        // A line that cannot name a file under the root is reported whatever its range: fixity never wrote
        // it, and what it names is never opened.
        if (!e.Invalid.isEmpty() || !InRange(date, AOptions)) {
            states.push_back(TState::OutOfRange);
            continue;
        }
        QString real;
        const TRootPlaces::TPlace place = places.Locate(base + e.RelPath, &real);
        if (place == TRootPlaces::TPlace::Outside) {
            states.push_back(TState::Outside);
        } else if (place == TRootPlaces::TPlace::Inside && IsRegularFile(real)) {
            states.push_back(TState::Hashed);
            paths << real;
        } else {
            states.push_back(TState::NotThere);
        }
    }
    const std::vector<TFileDigest> digests = HashFiles(paths, AThreads);
    QList<TAuditFinding> out;
    size_t next = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const TManifestEntry &e = entries[i];
        const QString path = base + e.RelPath;
        const TRecInfo *ri = rowOf.value(e.RelPath);
        if (!e.Invalid.isEmpty()) {
            out.append(TAuditFinding{TFindingKind::Invalid, 0, e.RelPath.section(QLatin1Char('/'), -1),
                                     AOptions.Fixity,
                                     QStringLiteral("regel %1: %2: %3").arg(e.Line).arg(e.Invalid, e.RelPath), true});
            continue;
        }
        switch (states[size_t(i)]) {
        case TState::OutOfRange:
            break;
        case TState::Outside:
            out.append(TAuditFinding{TFindingKind::Invalid, ri ? ri->Id : 0, QFileInfo(e.RelPath).fileName(), path,
                                     QStringLiteral("regel %1: leidt buiten de opnamemap").arg(e.Line), !ri});
            break;
        case TState::Hashed: {
            const TFileDigest &d = digests[next++];
            if (d.Ok() && d.Hex == e.Hex)
                break;
            out.append(TAuditFinding{TFindingKind::Altered, ri ? ri->Id : 0, QFileInfo(e.RelPath).fileName(), path,
                                     QStringLiteral("manifest=%1 nu=%2")
                                         .arg(QString::fromLatin1(e.Hex),
                                              d.Ok() ? QString::fromLatin1(d.Hex) : QStringLiteral("onleesbaar")),
                                     !ri});
            break;
        }
        case TState::NotThere:
            if (reportedMissing.contains(path))
                break;
            reportedMissing.insert(path);
            out.append(TAuditFinding{TFindingKind::Missing, ri ? ri->Id : 0, QFileInfo(e.RelPath).fileName(), path,
                                     QStringLiteral("in de lijst"), !ri});
            break;
        }
    }
    return out;
}

} // namespace

const char *FindingKindName(TFindingKind AKind)
{
    static const char *const names[FindingKindCount] = {"missing", "empty",  "duplicate", "undecodable", "duration",
                                                         "orphan",  "altered", "silent",    "clipped",     "loudness",
                                                         "invalid"};
    return names[static_cast<int>(AKind)];
}

bool IsAudioFileName(const QString &AName)
{
    static const QSet<QString> exts{"wav", "mp3", "ogg", "oga", "opus", "flac", "m4a", "aac", "mp4", "wma",
                                    "ac3", "mp2", "aif", "aiff", "caf", "amr", "gsm", "spx", "wv", "ape"};
    const int dot = AName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && exts.contains(AName.mid(dot + 1).toLower());
}

TRecList ReadListedRows(const QString &ADbPath)
{
    TRecList out;
    for (TRow &r : ReadCatalogue(ADbPath))
        if (r.Listed)
            out.append(std::move(r.Info));
    return out;
}

TAuditResult RunAudit(const TAuditOptions &AOptions, const TProgressProc &AProgress)
{
    if (!IsDirectory(AOptions.Root))
        throw EReaderError(QStringLiteral("Opnamemap niet gevonden: %1").arg(AOptions.Root));
    const QString root = QDir::cleanPath(AOptions.Root);
    // The day folders are listed while the catalogue is read and its rows are checked: both mostly wait
    // for the file system.
    std::vector<TDayFile> dayFiles;
    TThreadGroup listing;
    listing.Start([&] { dayFiles = ListDayFiles(root, AOptions); });
    const std::vector<TRow> rows = ReadCatalogue(AOptions.DbPath);
    const int threads = AOptions.Threads > 0 ? AOptions.Threads : int(std::max(1u, std::thread::hardware_concurrency()));

    // What the whole catalogue names, also outside the range and in rows the reader does not list (a
    // recording still being written): a file so named is no orphan, a name named twice a duplicate.
    QHash<QString, int> nameCount;
    QSet<QString> namedInDay;  // rec_date + '/' + file name
    std::vector<const TRow *> inRange;
    for (const TRow &r : rows) {
        if (!r.Info.FileName.isEmpty())
            ++nameCount[r.Info.FileName];
        namedInDay.insert(r.Info.RecDate + QLatin1Char('/') + r.Info.FileName);
        if (r.Listed && InRange(r.Info.RecDate, AOptions))
            inRange.push_back(&r);
    }

    TAuditResult result;
    struct TChecked {
        QString File;
        qint64 Size = -1;  // -1: no such file
        QList<TAuditFinding> Findings;
    };
    std::vector<TChecked> checked(inRange.size());
    // Without decoding the rows are the work; with it the bytes to decode, counted once they are known.
    std::unique_ptr<TProgressMeter> meter =
        std::make_unique<TProgressMeter>((AOptions.Decode || AOptions.Signal) ? TProgressProc() : AProgress, qint64(inRange.size()));
    ParallelFor(inRange.size(), threads, 256, [&](size_t AIndex) {
        const TRecInfo &ri = inRange[AIndex]->Info;
        TChecked &c = checked[AIndex];
        c.File = TReaderData::ResolveExistingPath(ri, root);
        auto add = [&](TFindingKind AKind, const QString &AFile, const QString &ADetail) {
            c.Findings.append(TAuditFinding{AKind, ri.Id, ri.FileName, AFile, ADetail});
        };
        qint64 size = 0;
        if (IsRegularFile(c.File, &size))
            c.Size = size;
        const int named = ri.FileName.isEmpty() ? 0 : nameCount.value(ri.FileName);
        if (named > 1)
            add(TFindingKind::Duplicate, c.File, QStringLiteral("%1 rijen").arg(named));
        if (c.Size < 0) {
            const QString candidate = TReaderData::PathUnderRoot(ri, root);
            const QString looked = c.File.isEmpty() ? candidate : c.File;
            add(TFindingKind::Missing, looked,
                !candidate.isEmpty() && candidate != looked ? QStringLiteral("ook gezocht: ") + candidate : QString());
        } else if (c.Size == 0) {
            add(TFindingKind::Empty, c.File, QString());
        }
        meter->Add(1);
    });
    result.Rows = int(checked.size());

    if (AOptions.Decode || AOptions.Signal) {
        // Each distinct file once, however many rows name it.
        std::vector<TDecodeJob> jobs;
        std::vector<int> jobOfRow(checked.size(), -1);
        QHash<QString, int> jobOfPath;
        qint64 total = 0;
        for (size_t i = 0; i < checked.size(); ++i) {
            if (checked[i].Size <= 0)
                continue;
            auto it = jobOfPath.constFind(checked[i].File);
            if (it == jobOfPath.constEnd()) {
                it = jobOfPath.insert(checked[i].File, int(jobs.size()));
                jobs.push_back(TDecodeJob{checked[i].File, checked[i].Size});
                if (AOptions.Signal)
                    jobs.back().Signal = &AOptions;
                total += checked[i].Size;
            }
            jobOfRow[i] = it.value();
        }
        meter = std::make_unique<TProgressMeter>(AProgress, total);
        DecodeAll(jobs, threads, *meter);
        for (size_t i = 0; i < checked.size(); ++i) {
            if (jobOfRow[i] < 0)
                continue;
            const TRecInfo &ri = inRange[i]->Info;
            const TDecodeJob &job = jobs[size_t(jobOfRow[i])];
            const QString damage = DamageText(job);
            if (!damage.isEmpty()) {
                checked[i].Findings.append(TAuditFinding{TFindingKind::Undecodable, ri.Id, ri.FileName, job.Path, damage});
                continue;
            }
            const double decoded = job.LengthBytes / job.BytesPerSec;
            if (std::fabs(decoded - ri.DurationSec) > DurationToleranceSec)
                checked[i].Findings.append(TAuditFinding{
                    TFindingKind::Duration, ri.Id, ri.FileName, job.Path,
                    QStringLiteral("decoded=%1 duration_sec=%2").arg(Seconds(decoded)).arg(ri.DurationSec)});
            if (AOptions.Signal)
                checked[i].Findings.append(SignalFindings(AOptions, ri, job));
        }
    }
    for (const TChecked &c : checked)
        result.Findings.append(c.Findings);
    listing.Join();
    result.Files = int(dayFiles.size());
    result.Findings.append(FindOrphans(dayFiles, rows, namedInDay));
    if (!AOptions.Fixity.isEmpty())
        result.Findings.append(CheckFixity(AOptions, root, inRange, checked, threads));
    for (const TAuditFinding &f : result.Findings)
        ++result.Counts[static_cast<int>(f.Kind)];
    meter->Finish();
    return result;
}
