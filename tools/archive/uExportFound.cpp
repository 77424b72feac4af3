// Export of found recordings into a folder: temporary file, flush, rename without replacing, leftovers.
#include "uExportFound.h"

#include "uAudioEngine.h"
#include "uReaderData.h"
#include "uTempFile.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

bool Exists(const QString &APath)
{
    struct stat st {};
    return ::lstat(PathBytes(APath).constData(), &st) == 0;  // a dangling link counts: it is a name
}

bool AllDigits(const QByteArray &AText)
{
    if (AText.isEmpty())
        return false;
    for (char c : AText)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The temporaries of earlier versions: ".<target name>.<pid>-<n>.part".
bool IsOlderTempName(const QByteArray &AName)
{
    if (!AName.startsWith('.') || !AName.endsWith(".part"))
        return false;
    const QByteArray rest = AName.chopped(5);
    const int dot = rest.lastIndexOf('.');
    if (dot <= 1)
        return false;
    const QList<QByteArray> numbers = rest.mid(dot + 1).split('-');
    return numbers.size() == 2 && AllDigits(numbers[0]) && AllDigits(numbers[1]);
}

TFoundExport Outcome(TFoundResult AResult, const QString &ATarget, const QString &ADetail)
{
    return TFoundExport{AResult, ATarget, ADetail};
}

} // namespace

const char *FoundResultName(TFoundResult AOutcome)
{
    switch (AOutcome) {
    case TFoundResult::Exported: return "exported";
    case TFoundResult::Skipped: return "skipped";
    case TFoundResult::Failed: break;
    }
    return "failed";
}

QString ExportTargetFor(const TRecInfo &ARI, const QString &AOutDir, TAudioFormat AFmt)
{
    const QString &name = ARI.FileName;
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QString();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot >= 0 ? name.left(dot) : name;
    if (stem.isEmpty() || stem == QLatin1String(".") || stem == QLatin1String(".."))
        return QString();
    QString dir = AOutDir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + stem + QLatin1String(FormatExt(AFmt));
}

TFoundExport ExportFoundRecording(TAudioEngine &AEngine, const TRecInfo &ARI, const QString &ARoot, const QString &AOutDir,
                                  TAudioFormat AFmt, int ABitrate, const TCancelProgress &AProgress)
{
    const QString target = ExportTargetFor(ARI, AOutDir, AFmt);
    if (target.isEmpty())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("ongeldige bestandsnaam: ") + ARI.FileName);
    if (Exists(target))
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    const QString source = TReaderData::ResolveExistingPath(ARI, ARoot);
    if (!IsRegularFilePath(source))
        return Outcome(TFoundResult::Failed, target, QStringLiteral("opname niet gevonden: ") + source);
    // No waveform pass and no envelope cache: only the export reads the recording.
    if (!AEngine.LoadForExport(source)) {
        const int code = AEngine.LastError();
        return Outcome(TFoundResult::Failed, target,
                       QStringLiteral("%1 %2: %3").arg(code).arg(AudioErrorText(code), source));
    }
    // Opening a long recording takes a while: a stop asked for meanwhile is seen before the export starts.
    if (AProgress && !AProgress(0)) {
        AEngine.Close();
        return Outcome(TFoundResult::Failed, target, QStringLiteral("afgebroken"));
    }

    bool stopped = false;
    TExportOutcome outcome;
    bool written = false;
    try {
        // Written to a temporary in OutDir, flushed, and renamed onto the target only when complete and only
        // while the name is free; removed otherwise.
        written = ExportFileRange(AEngine.LoadedPath(), AEngine.DurationSec(), target, AFmt, ABitrate, 0, 0,
                                  [&](int APercent) {
                                      const bool goOn = !AProgress || AProgress(APercent);
                                      stopped = stopped || !goOn;
                                      return goOn;
                                  },
                                  &outcome, TExportTargetRule::NewFileOnly);
    } catch (const EReaderError &e) {
        AEngine.Close();
        return Outcome(TFoundResult::Failed, target, e.Message());
    }
    AEngine.Close();
    if (stopped)
        return Outcome(TFoundResult::Failed, target, QStringLiteral("afgebroken"));
    if (outcome.TargetTaken)
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    if (!written) {
        // An encoder names what went wrong (a full disk, for one); otherwise the recording gave nothing.
        if (!outcome.Error.isEmpty())
            return Outcome(TFoundResult::Failed, target, QStringLiteral("export mislukt: ") + outcome.Error);
        return Outcome(TFoundResult::Failed, target, QStringLiteral("export mislukt: ") + source);
    }
    return Outcome(TFoundResult::Exported, target, source);
}

int RemoveFoundLeftovers(const QString &AOutDir)
{
    return RemoveStaleTemporaries(AOutDir, [](const QByteArray &AName) {
        return IsExportTempName(AName) || IsOlderTempName(AName);
    });
}
