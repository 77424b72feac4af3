// vornak-tool export: exports a recording, whole or a range, to WAV, MP3, OGG or Opus through the export
// pipeline, printing each progress report as it comes and the result; vornak-tool verify: checks a record.
#include "commands.h"

#include "uDecoder.h"
#include "uEvidenceCheck.h"
#include "uExportPipeline.h"
#include "uReaderTypes.h"

#include <QFileInfo>
#include <cmath>
#include <cstdio>

namespace {

const char *const Usage =
    "export FILE OUT --format wav|mp3|ogg|opus [--bitrate K] [--start S] [--end E] [--loudness -23|-16] [--record]";
const char *const VerifyUsage = "verify RECORD.json [--root ROOT]";

void Err(const QString &AText)
{
    std::fputs((AText + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

void PrintDetail(const QString &AText)
{
    std::printf("detail=%s\n", EscapedField(AText).toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

bool ParseFormatOption(const QString &AValue, TAudioFormat &AFormat)
{
    for (int f = 0; f < AudioFormatCount; ++f) {
        if (AValue.compare(QLatin1String(FormatNames[f]), Qt::CaseInsensitive) == 0) {
            AFormat = static_cast<TAudioFormat>(f);
            return true;
        }
    }
    return false;
}

int CmdExport(const QStringList &AArgs)
{
    if (AArgs.size() < 2)
        return BadArgs(Usage);
    const QString file = AArgs[0];
    const QString out = AArgs[1];
    bool haveFormat = false;
    TAudioFormat format = TAudioFormat::afWAV;
    int bitrate = 128;
    double startSec = 0, endSec = 0;
    bool record = false;
    double targetLufs = 0;
    for (int i = 2; i < AArgs.size(); i += 2) {
        if (AArgs[i] == QLatin1String("--record")) {
            record = true;
            --i;
            continue;
        }
        if (i + 1 >= AArgs.size())
            return BadArgs(Usage);
        const QString &key = AArgs[i];
        const QString &value = AArgs[i + 1];
        bool ok = true;
        if (key == QLatin1String("--format")) {
            ok = haveFormat = ParseFormatOption(value, format);
        } else if (key == QLatin1String("--bitrate")) {
            bitrate = value.toInt(&ok);
            ok = ok && bitrate > 0;
        } else if (key == QLatin1String("--start")) {
            startSec = value.toDouble(&ok);
        } else if (key == QLatin1String("--end")) {
            endSec = value.toDouble(&ok);
        } else if (key == QLatin1String("--loudness")) {
            ok = value == QLatin1String("-23") || value == QLatin1String("-16");
            targetLufs = value.toDouble();
        } else {
            ok = false;
        }
        if (!ok)
            return BadArgs(Usage);
    }
    if (!haveFormat)
        return BadArgs(Usage);

    // The result line comes also when nothing could be exported, with the reason in Dutch.
    if (!QFileInfo(file).isFile()) {
        std::printf("result=false\n");
        PrintDetail(QStringLiteral("opname niet gevonden: ") + file);
        Err(QStringLiteral("no such file: ") + file);
        return ExitNotFound;
    }
    TExportRequest request;
    request.Source = file;
    request.Path = out;
    request.Format = format;
    request.Bitrate = bitrate;
    request.StartSec = startSec;
    request.EndSec = endSec;
    request.TargetLufs = targetLufs;
    request.EvidenceRecord = record;
    request.ProgramName = QStringLiteral("vornak-tool");  // no catalogue row: the record names none
    TExportControl control;
    control.Progress = [](int APercent) {
        std::printf("progress=%d\n", APercent);
        std::fflush(stdout);
        return true;
    };
    const TExportOutcome outcome = ExportRecording(request, control);
    const bool result = outcome.Done();
    std::printf("result=%s\n", result ? "true" : "false");
    // A normalised export: the loudness the written file reads, and whether the true peak held the gain back.
    if (result && targetLufs < 0) {
        const double lufs = outcome.LoudnessLufs;
        std::printf("loudness_lufs=%s\n", std::isinf(lufs) ? "-inf" : qPrintable(QString::number(lufs, 'f', 2)));
        std::printf("gain_lowered=%s\n", outcome.GainLowered ? "true" : "false");
    }
    // Why the export failed (in Dutch), a full disk for one.
    if (!result)
        PrintDetail(outcome.Detail.isEmpty() ? QStringLiteral("export mislukt") : outcome.Detail);
    // The recording's decoding ended inside the range: the file holds only this much.
    if (outcome.EndedEarly)
        std::printf("decoded=%s\n", qPrintable(QString::number(outcome.Seconds, 'f', 3)));
    if (result && record)
        std::printf("record=%s\n", EscapedField(outcome.RecordPath).toUtf8().constData());
    std::fflush(stdout);
    // The texts standard error has always had: the load's and the WAV writer's.
    if (outcome.OpenError != 0)
        Err(QStringLiteral("cannot load %1: %2 (%3)").arg(file, AudioErrorText(outcome.OpenError)).arg(outcome.OpenError));
    if (!outcome.Raised.isEmpty())
        Err(outcome.Raised);
    return result ? ExitOk : ExitError;
}

int CmdVerify(const QStringList &AArgs)
{
    if (AArgs.isEmpty() || AArgs[0].startsWith(QLatin1String("--")))
        return BadArgs(VerifyUsage);
    QString root;
    for (int i = 1; i < AArgs.size(); i += 2) {
        if (AArgs[i] != QLatin1String("--root") || i + 1 >= AArgs.size())
            return BadArgs(VerifyUsage);
        root = AArgs[i + 1];
    }
    TEvidenceCheck check;
    QString error;
    if (!CheckEvidenceRecord(AArgs[0], root, check, error)) {
        Err(error);
        return ExitError;
    }
    using C = TEvidenceCheck;
    std::printf("clip=%s\n", check.Clip == C::TClip::Ok ? "ok" : "altered");
    std::printf("source=%s\n", check.Source == C::TSource::Ok        ? "ok"
                               : check.Source == C::TSource::Altered ? "altered"
                                                                     : "unreachable");
    std::printf("reexport=%s\n", check.Reexport == C::TReexport::Identical ? "identical"
                                 : check.Reexport == C::TReexport::Differs  ? "differs"
                                                                            : "skipped");
    if (check.Reexport == C::TReexport::Skipped)
        std::printf("detail=%s\n", EscapedField(check.SkipReason).toUtf8().constData());
    std::fflush(stdout);
    // Proven only by an identical re-export; anything altered or different is a finding; the rest is not proven.
    if (!check.Sound())
        return ExitFindings;
    return check.Reexport == C::TReexport::Identical ? ExitOk : ExitNotProven;
}
