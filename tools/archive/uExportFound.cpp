// Export of found recordings into a folder: temporary file, flush, rename without replacing, leftovers.
#include "uExportFound.h"

#include "uDecoder.h"
#include "uExportPipeline.h"
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

TFoundExport ExportFoundRecording(const TRecInfo &ARI, const QString &ARoot, const QString &AOutDir, TAudioFormat AFmt,
                                  int ABitrate, const TCancelProgress &AProgress)
{
    const QString target = ExportTargetFor(ARI, AOutDir, AFmt);
    if (target.isEmpty())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("ongeldige bestandsnaam: ") + ARI.FileName);
    if (Exists(target))
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    const QString source = TReaderData::FindExistingPath(ARI, ARoot);
    if (source.isEmpty())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("opname niet gevonden: ") + ARI.FilePath);
    // A stop asked for before the export starts is seen at once.
    if (AProgress && !AProgress(0))
        return Outcome(TFoundResult::Failed, target, QStringLiteral("afgebroken"));

    TExportRequest request;
    request.Source = source;
    request.Path = target;
    request.Format = AFmt;
    request.Bitrate = ABitrate;
    request.Rule = TExportTargetRule::NewFileOnly;
    TExportControl control;
    control.Progress = AProgress;
    const TExportOutcome outcome = ExportRecording(request, control);
    if (outcome.OpenError != 0)
        return Outcome(TFoundResult::Failed, target,
                       QStringLiteral("%1 %2: %3").arg(outcome.OpenError).arg(AudioErrorText(outcome.OpenError), source));
    if (outcome.Result == TExportResult::Cancelled)
        return Outcome(TFoundResult::Failed, target, QStringLiteral("afgebroken"));
    if (outcome.TargetTaken)
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    if (!outcome.Raised.isEmpty())
        return Outcome(TFoundResult::Failed, target, outcome.Raised);
    if (!outcome.Done())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("export mislukt: ") + outcome.Detail);
    return Outcome(TFoundResult::Exported, target, source);
}

int RemoveFoundLeftovers(const QString &AOutDir)
{
    return RemoveStaleTemporaries(AOutDir, [](const QByteArray &AName) {
        return IsExportTempName(AName) || IsOlderTempName(AName);
    });
}
