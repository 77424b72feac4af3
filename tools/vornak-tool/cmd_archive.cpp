// vornak-tool audit and export-found: the archive checked against its catalogue, and every recording a
// search finds exported into one folder.
#include "commands.h"

#include "uAudioEngine.h"
#include "uAudit.h"
#include "uExportFound.h"
#include "uFixity.h"
#include "uReaderData.h"

#include <QDate>
#include <QDir>
#include <QRegularExpression>

#include <csignal>
#include <cmath>
#include <cstdio>

namespace {

const char *const AuditUsage =
    "audit DB ROOT [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--decode] [--progress] [--signal] [--silence-db D] "
    "[--silence-min S] [--clip-runs N] [--loudness-min L] [--loudness-max L] [--fixity MANIFEST]";
const char *const FixityUsage = "fixity DB ROOT MANIFEST [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--progress]";
const char *const ExportFoundUsage = "export-found DB ROOT OUTDIR --format wav|mp3|ogg|opus [--bitrate K] "
                                     "[--date yyyy-mm-dd] [--hour H] [--name TEXT]";

void Out(const QString &ALine)
{
    std::fputs((ALine + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

void Err(const QString &AText)
{
    std::fputs((AText + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

bool IsDateText(const QString &AText)
{
    static const QRegularExpression re(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return re.match(AText).hasMatch();
}

// A range bound must be a real day: "2025-02-30" is a typing error, not an empty range.
bool IsRealDate(const QString &AText)
{
    return IsDateText(AText) && QDate::fromString(AText, QStringLiteral("yyyy-MM-dd")).isValid();
}

volatile std::sig_atomic_t Interrupted = 0;
void OnInterrupt(int) { Interrupted = 1; }

} // namespace

int CmdAudit(const QStringList &AArgs)
{
    if (AArgs.size() < 2)
        return BadArgs(AuditUsage);
    TAuditOptions options;
    options.DbPath = AArgs[0];
    options.Root = AArgs[1];
    bool showProgress = false;
    for (int i = 2; i < AArgs.size(); ++i) {
        const QString &opt = AArgs[i];
        if (opt == QLatin1String("--decode")) {
            options.Decode = true;
        } else if (opt == QLatin1String("--progress")) {
            showProgress = true;
        } else if (opt == QLatin1String("--signal")) {
            options.Signal = true;
        } else if ((opt == QLatin1String("--silence-db") || opt == QLatin1String("--silence-min")
                    || opt == QLatin1String("--clip-runs") || opt == QLatin1String("--loudness-min")
                    || opt == QLatin1String("--loudness-max")) && i + 1 < AArgs.size()) {
            bool ok = false;
            const double v = AArgs[++i].toDouble(&ok);
            if (!ok || !std::isfinite(v))
                return BadArgs(AuditUsage);
            if (opt == QLatin1String("--silence-db") && v <= 0)
                options.SilenceDb = v;
            else if (opt == QLatin1String("--silence-min") && v > 0)
                options.SilenceMinSec = v;
            else if (opt == QLatin1String("--clip-runs") && v >= 1 && v == std::floor(v) && v < 1e9)
                options.ClipRuns = int(v);
            else if (opt == QLatin1String("--loudness-min"))
                options.LoudnessMin = v;
            else if (opt == QLatin1String("--loudness-max"))
                options.LoudnessMax = v;
            else
                return BadArgs(AuditUsage);
        } else if ((opt == QLatin1String("--from") || opt == QLatin1String("--to")) && i + 1 < AArgs.size() &&
                   IsRealDate(AArgs[i + 1])) {
            (opt == QLatin1String("--from") ? options.From : options.To) = AArgs[++i];
        } else if (opt == QLatin1String("--fixity") && i + 1 < AArgs.size() && !AArgs[i + 1].isEmpty()) {
            options.Fixity = AArgs[++i];
        } else {
            return BadArgs(AuditUsage);
        }
    }
    if (!options.From.isEmpty() && !options.To.isEmpty() && options.From > options.To)
        return BadArgs(AuditUsage);

    TAuditResult result;
    try {
        result = RunAudit(options, showProgress ? TProgressProc([](int APercent) {
            std::printf("progress=%d\n", APercent);
            std::fflush(stdout);
        }) : TProgressProc());
    } catch (const EReaderError &e) {
        Err(e.Message());
        return ExitError;
    } catch (const std::exception &e) {
        Err(QString::fromLocal8Bit(e.what()));
        return ExitError;
    }
    for (const TAuditFinding &f : result.Findings) {
        const bool orphan = f.Kind == TFindingKind::Orphan || f.NoRow;
        Out(QStringList{QStringLiteral("finding=") + QLatin1String(FindingKindName(f.Kind)),
                        QStringLiteral("id=") + (orphan ? QString() : QString::number(f.Id)),
                        QStringLiteral("filename=") + EscapedField(f.FileName),
                        QStringLiteral("file=") + EscapedField(f.File),
                        QStringLiteral("detail=") + EscapedField(f.Detail)}
                .join(QLatin1Char('\t')));
    }
    QString summary = QStringLiteral("rows=%1 files=%2").arg(result.Rows).arg(result.Files);
    // Kinds looked for only on request are counted only then: without --fixity and --signal the line stays
    // as it was. Invalid manifest lines are counted only when there are any.
    for (int k = 0; k < FindingKindCount; ++k) {
        const TFindingKind kind = TFindingKind(k);
        if (kind == TFindingKind::Altered && options.Fixity.isEmpty())
            continue;
        if (kind == TFindingKind::Invalid && result.Counts[k] == 0)
            continue;
        if ((kind == TFindingKind::Silent || kind == TFindingKind::Clipped || kind == TFindingKind::Loudness) &&
            !options.Signal)
            continue;
        summary += QStringLiteral(" %1=%2").arg(QLatin1String(FindingKindName(kind))).arg(result.Counts[k]);
    }
    Out(summary);
    return result.Clean() ? ExitOk : ExitFindings;
}

int CmdExportFound(const QStringList &AArgs)
{
    if (AArgs.size() < 3)
        return BadArgs(ExportFoundUsage);
    const QString db = AArgs[0], root = AArgs[1], outDir = AArgs[2];
    if (outDir.isEmpty())
        return BadArgs(ExportFoundUsage);
    bool haveFormat = false;
    TAudioFormat format = TAudioFormat::afWAV;
    int bitrate = 128;
    QString date, name;
    int hour = -1;
    for (int i = 3; i < AArgs.size(); i += 2) {
        if (i + 1 >= AArgs.size())
            return BadArgs(ExportFoundUsage);
        const QString &opt = AArgs[i], &val = AArgs[i + 1];
        bool ok = true;
        if (opt == QLatin1String("--format")) {
            ok = haveFormat = ParseFormatOption(val, format);
        } else if (opt == QLatin1String("--bitrate")) {
            bitrate = val.toInt(&ok);
            ok = ok && bitrate > 0;
        } else if (opt == QLatin1String("--date")) {
            ok = val.isEmpty() || IsDateText(val);
            date = val;
        } else if (opt == QLatin1String("--hour")) {
            hour = val.toInt(&ok);
        } else if (opt == QLatin1String("--name")) {
            name = val;
        } else {
            ok = false;
        }
        if (!ok)
            return BadArgs(ExportFoundUsage);
    }
    if (!haveFormat)
        return BadArgs(ExportFoundUsage);

    TRecList found;
    try {
        // The same search as `vornak-tool search`, on a connection that only reads.
        TReaderData catalogue(db, TReaderData::DefaultLockWaitMs, TCatalogueAccess::ReadOnly);
        catalogue.Search(date, hour, name, found);
    } catch (const EReaderError &e) {
        Err(e.Message());
        return ExitError;
    }
    if (!QDir().mkpath(outDir)) {
        Err(QStringLiteral("Map kan niet worden gemaakt: %1").arg(outDir));
        return ExitError;
    }
    RemoveFoundLeftovers(outDir);

    // Ctrl+C or SIGTERM stops the export in progress (its file is removed) and ends after its line.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    int counts[3] = {};
    for (const TRecInfo &ri : found) {
        if (Interrupted)
            break;
        TFoundExport r;
        try {
            r = ExportFoundRecording(ri, root, outDir, format, bitrate, [](int) { return !Interrupted; });
        } catch (const std::exception &e) {
            r = TFoundExport{TFoundResult::Failed, ExportTargetFor(ri, outDir, format), QString::fromLocal8Bit(e.what())};
        }
        ++counts[static_cast<int>(r.Result)];
        Out(QStringList{QStringLiteral("id=") + QString::number(ri.Id), QStringLiteral("file=") + EscapedField(r.Target),
                        QStringLiteral("result=") + QLatin1String(FoundResultName(r.Result)),
                        QStringLiteral("detail=") + EscapedField(r.Detail)}
                .join(QLatin1Char('\t')));
        std::fflush(stdout);
    }
    Out(QStringLiteral("exported=%1 skipped=%2 failed=%3").arg(counts[0]).arg(counts[1]).arg(counts[2]));
    return counts[2] == 0 && !Interrupted ? ExitOk : ExitError;
}

int CmdFixity(const QStringList &AArgs)
{
    if (AArgs.size() < 3 || AArgs[2].isEmpty())
        return BadArgs(FixityUsage);
    TFixityOptions options;
    options.DbPath = AArgs[0];
    options.Root = AArgs[1];
    options.Manifest = AArgs[2];
    bool showProgress = false;
    for (int i = 3; i < AArgs.size(); ++i) {
        const QString &opt = AArgs[i];
        if (opt == QLatin1String("--progress")) {
            showProgress = true;
        } else if ((opt == QLatin1String("--from") || opt == QLatin1String("--to")) && i + 1 < AArgs.size() &&
                   IsRealDate(AArgs[i + 1])) {
            (opt == QLatin1String("--from") ? options.From : options.To) = AArgs[++i];
        } else {
            return BadArgs(FixityUsage);
        }
    }
    if (!options.From.isEmpty() && !options.To.isEmpty() && options.From > options.To)
        return BadArgs(FixityUsage);
    try {
        const TFixityResult r = RunFixity(options, showProgress ? TProgressProc([](int APercent) {
            std::printf("progress=%d\n", APercent);
            std::fflush(stdout);
        }) : TProgressProc());
        // Paths a symbolic link leads out of the root are counted only when there are any.
        Out(QStringLiteral("added=%1 listed=%2 recent=%3 missing=%4 unreadable=%5")
                .arg(r.Added).arg(r.Listed).arg(r.Recent).arg(r.Missing).arg(r.Failed) +
            (r.Outside > 0 ? QStringLiteral(" outside=%1").arg(r.Outside) : QString()));
        return r.Failed > 0 ? ExitError : ExitOk;
    } catch (const EReaderError &e) {
        Err(e.Message());
    } catch (const std::exception &e) {
        Err(QString::fromLocal8Bit(e.what()));
    }
    return ExitError;
}
