// Range export of a recording file: WAV written here, MP3, OGG and Opus through the encoder layer.
#include "uAudioExport.h"

#include "uDecoder.h"
#include "uEncoder.h"
#include "uExportLoop.h"
#include "uLoudness.h"
#include "uTempFile.h"
#include "uWavWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

// A read of the export's stream that notes an early end of the decoding: the loop asks for more only while
// the range is not complete, so no data here means the recording ended before the range did.
// AGain (linear) 1 passes the samples unchanged; any other scales them, rounded and held within 16 bits.
std::function<qint64(char *, qint64)> ReadNoting(TDecodeStream &AStream, TExportOutcome &AOutcome, double AGain)
{
    return [&AStream, &AOutcome, AGain](char *ABuf, qint64 AMax) {
        const qint64 n = AStream.Read(ABuf, AMax);
        if (n <= 0)
            AOutcome.EndedEarly = true;
        if (n > 0 && AGain != 1.0) {
            int16_t *s = reinterpret_cast<int16_t *>(ABuf);
            for (qint64 i = 0; i < n / 2; ++i)
                s[i] = static_cast<int16_t>(std::clamp(std::lrint(s[i] * AGain), -32768L, 32767L));
        }
        return n;
    };
}

bool WriteWav(TDecodeStream &AStream, const QString &ADest, qint64 AC, const TCancelProgress &AProgress,
              TExportOutcome &AOutcome, double AGain)
{
    TWavWriter wav;
    wav.Create(ADest, AStream.SampleRate(), AStream.Channels());
    const qint64 done = ExportReadLoop(ReadNoting(AStream, AOutcome, AGain), AC, AProgress, [&](const char *AData, qint64 AN) {
        wav.Write(AData, AN);
        return true;
    });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    wav.Finish();
    return done > 0;
}

bool EncodeToFile(TDecodeStream &AStream, const QString &ADest, qint64 AC, TAudioFormat AFmt, int ABitrate,
                  const TCancelProgress &AProgress, TExportOutcome &AOutcome, double AGain)
{
    TEncoder encoder;
    if (!encoder.Start(AFmt, EncoderOptionText(AFmt, ABitrate), AStream.SampleRate(), AStream.Channels(), ADest)) {
        AOutcome.Error = QStringLiteral("de encoder kan niet beginnen: ") + encoder.ErrorText();
        return false;
    }
    const qint64 done = ExportReadLoop(ReadNoting(AStream, AOutcome, AGain), AC, AProgress,
                                       [&](const char *AData, qint64 AN) { return encoder.Feed(AData, AN); });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    // Stopping completes and closes the file, also after an early end; a failed write anywhere is no success.
    const bool written = encoder.Stop();
    if (!written) {
        AOutcome.Error = QStringLiteral("het coderen is mislukt: ") + encoder.ErrorText();
    }
    return done > 0 && written;
}

QString SystemText(int AErr)
{
    return QString::fromLocal8Bit(std::strerror(AErr));
}

QString SelfTargetText(const QString &ADest)
{
    return QStringLiteral("de export zou de opname zelf vervangen: %1").arg(ADest);
}

// The file an export is to replace or create.
struct TTargetPlan {
    QString Path;         // the target, or the file a symbolic link there names
    bool Existed = false; // a regular file of that name exists
    mode_t Mode = 0;      // its permissions, given to the file that replaces it
    bool Direct = false;  // no regular file (a device, a pipe, a dangling link): written as it is
};

TTargetPlan PlanTarget(const QString &ADest)
{
    TTargetPlan plan;
    plan.Path = ADest;
    const QByteArray native = PathBytes(ADest);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return plan;  // a new file; a folder that is missing or closed shows when the temporary is made
    if (S_ISLNK(st.st_mode)) {
        char *real = ::realpath(native.constData(), nullptr);
        const bool found = real && ::stat(real, &st) == 0;
        if (found)
            plan.Path = QFile::decodeName(real);
        std::free(real);
        if (!found) {
            plan.Direct = true;
            return plan;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        plan.Direct = true;
        return plan;
    }
    plan.Existed = true;
    plan.Mode = st.st_mode & 07777;
    return plan;
}

// Makes the temporary the export writes into, in the folder of the file it is to replace or create, with
// that file's permissions. Failing, a WAV export raises "Cannot create file", an encoded one says why.
bool CreateTemporary(TTempFile &ATemp, const TTargetPlan &APlan, const QString &ADest, bool AWav,
                     TExportTargetRule ARule, TExportOutcome &AOutcome)
{
    const QString dir = QFileInfo(APlan.Path).path();
    if (ARule == TExportTargetRule::ReplaceWhenComplete)
        RemoveStaleTemporaries(dir, IsExportTempName);
    if (!ATemp.Create(dir, ExportTempPrefix, ExportTempSuffix)) {
        const QString cause = SystemText(ATemp.Error());
        AOutcome.Error = QStringLiteral("kan het bestand \"%1\" niet maken: %2").arg(ADest, cause);
        if (AWav)
            throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(ADest, cause));
        return false;
    }
    if (APlan.Existed)
        ::fchmod(ATemp.Fd(), APlan.Mode);
    return true;
}

// Renames what the export wrote onto the target as ARule allows, else lets the temporary go. AWritten is the
// writer's result; the result is ExportFileRange's.
bool Publish(TTempFile &ATemp, const TTargetPlan &APlan, const QString &ADest, bool AWav, TExportTargetRule ARule,
             bool AWritten, bool ACancelled, TExportOutcome &AOutcome)
{
    const bool complete = AWritten && !ACancelled;
    const bool replacing = ARule == TExportTargetRule::ReplaceWhenComplete;
    // A cancelled export keeps its part only where it destroys nothing.
    if (!complete && !(AWritten && replacing && !APlan.Existed))
        return AWritten;
    if (ATemp.Commit(APlan.Path, complete && replacing))
        return AWritten;
    if (ATemp.Error() == EEXIST) {
        // The name was taken while the export ran: that file stays, this export is not kept.
        AOutcome.TargetTaken = complete;
        return ACancelled && AWritten;
    }
    const QString cause = SystemText(ATemp.Error());
    AOutcome.Error = QStringLiteral("kan het bestand \"%1\" niet voltooien: %2").arg(ADest, cause);
    if (AWav)
        throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(ADest, cause));
    return false;
}

// One progress for the steps of an export: each step reports 0..100 of its own, placed into its share
// [AFrom, ATo] of the whole; every whole percentage goes out once, rising. A report answered with false
// cancels, and every later step is told to stop at once.
class TProgressPhases {
public:
    explicit TProgressPhases(const TCancelProgress &AReport) : FReport(AReport) {}
    TCancelProgress Phase(int AFrom, int ATo)
    {
        return [this, AFrom, ATo](int APercent) { return Report(AFrom + (ATo - AFrom) * std::clamp(APercent, 0, 100) / 100); };
    }
    // The closing 100 when a step that would have taken the rest was not needed.
    void Finish()
    {
        if (!FCancelled)
            Report(100);
    }
    bool Cancelled() const { return FCancelled; }

private:
    bool Report(int APercent)
    {
        if (FCancelled)
            return false;
        if (APercent <= FLast || !FReport)
            return true;
        FLast = APercent;
        FCancelled = !FReport(APercent);
        return !FCancelled;
    }
    TCancelProgress FReport;
    int FLast = -1;
    bool FCancelled = false;
};

// The gain (dB) that brings a range to its target, lowered where the range's true peak (ATruePeakDbtp) would
// pass ExportPeakCeilingDbtp; lossy encoders add overshoot of their own, so they keep half a dB more.
double LimitedGainDb(double AWantedDb, double ATruePeakDbtp, bool AWav, TExportOutcome &AOutcome)
{
    const double ceiling = ExportPeakCeilingDbtp - (AWav ? 0.05 : 0.5);
    if (std::isfinite(ATruePeakDbtp) && ATruePeakDbtp + AWantedDb > ceiling) {
        AOutcome.GainLowered = true;
        return ceiling - ATruePeakDbtp;
    }
    return AWantedDb;
}

} // namespace

bool ExportFileRange(const QString &ASource, double ADurationSec, const QString &ADest, TAudioFormat AFmt,
                     int ABitrate, double AStartSec, double AEndSec, const TCancelProgress &AProgress,
                     TExportOutcome *AOutcome, TExportTargetRule ARule, double ATargetLufs)
{
    TExportOutcome local;
    TExportOutcome &outcome = AOutcome ? *AOutcome : local;
    outcome = TExportOutcome{};
    // Writing onto the recording would destroy it while it is read.
    if (IsSameFile(ADest, ASource)) {
        outcome.Error = SelfTargetText(ADest);
        return false;
    }
    TDecodeStream stream;  // our own: a playback stream and its position stay as they are
    if (!stream.Open(ASource)) {
        outcome.Error = QStringLiteral("kan de opname niet laden: %1 (%2)")
                            .arg(AudioErrorText(stream.LastError() ? stream.LastError() : aeFileOpen))
                            .arg(stream.LastError() ? stream.LastError() : aeFileOpen);
        return false;
    }
    // A damaged recording exports what decodes, not a silent tail that pretends to be the rest.
    stream.SetPadToLength(false);

    const qint64 B = qMax(stream.Channels() * 2, 2);
    const qint64 T = stream.LengthBytes();
    qint64 start = AStartSec <= 0 ? 0 : stream.SecondsToBytes(AStartSec);
    qint64 end = AEndSec <= 0 || AEndSec >= ADurationSec ? T : stream.SecondsToBytes(AEndSec);
    start = start / B * B;
    end = end / B * B;
    if (end > T)
        end = T;
    if (start >= end) {
        outcome.Error = QStringLiteral("het bereik bevat geen geluid");
        return false;
    }
    const qint64 C = end - start;
    // The 32-bit size fields cannot describe more: refuse rather than write a header that wraps around.
    if (AFmt == TAudioFormat::afWAV && C > WavMaxDataBytes) {
        outcome.Error = QStringLiteral("het bereik is groter dan een WAV-bestand kan bevatten (4 GiB)");
        return false;
    }
    if (start > 0 && !stream.SeekBytes(start)) {
        outcome.Error = QStringLiteral("kan het begin van het bereik niet lezen");
        return false;
    }

    const bool wav = AFmt == TAudioFormat::afWAV;
    const bool normalise = ATargetLufs < 0;
    // The share of the progress each step takes: a normalised export measures the range, writes it, measures
    // what it wrote and, when that is off its target, writes it once more with the gain corrected and
    // measures again (an encoder's low-pass takes energy the loudness counts, so the source's figure alone
    // does not tell what the file will read). A plain export only writes.
    TProgressPhases phases(AProgress);
    double gainDb = 0;
    TLoudnessResult source;
    if (normalise) {
        source = MeasureFileRange(ASource, AStartSec, AEndSec >= ADurationSec ? 0 : AEndSec, TLoudnessOptions{},
                                  phases.Phase(0, 20));
        if (source.Error != 0) {
            outcome.Error = QStringLiteral("kan de luidheid niet meten: ") + AudioErrorText(source.Error);
            return false;
        }
        if (phases.Cancelled())
            return false;
        outcome.LoudnessLufs = source.IntegratedLufs;
        if (std::isfinite(source.IntegratedLufs))
            gainDb = LimitedGainDb(ATargetLufs - source.IntegratedLufs, source.TruePeakDbtp, wav, outcome);
    }
    const TTargetPlan plan = PlanTarget(ADest);
    TTempFile temp;  // removed on every way out unless committed, also when the WAV writer throws
    if (!plan.Direct && !CreateTemporary(temp, plan, ADest, wav, ARule, outcome))
        return false;
    const QString writePath = plan.Direct ? plan.Path : temp.Path();

    const auto writeOnce = [&](double AGainDb, const TCancelProgress &AWriteProgress) {
        const double gain = std::pow(10.0, AGainDb / 20.0);
        outcome.Seconds = 0;
        outcome.EndedEarly = false;
        try {
            return wav ? WriteWav(stream, writePath, C, AWriteProgress, outcome, gain)
                       : EncodeToFile(stream, writePath, C, AFmt, ABitrate, AWriteProgress, outcome, gain);
        } catch (const EReaderError &) {
            // The WAV writer raises its own (English) text; the outcome says it in Dutch.
            if (outcome.Error.isEmpty())
                outcome.Error = QStringLiteral("kan het bestand \"%1\" niet schrijven").arg(ADest);
            throw;
        }
    };
    // A target written directly (a device, a pipe) cannot be read back: its loudness is the source's figure.
    const bool measureWritten = normalise && !plan.Direct && std::isfinite(source.IntegratedLufs);
    bool written = writeOnce(gainDb, normalise ? phases.Phase(20, measureWritten ? 55 : 100) : phases.Phase(0, 100));
    if (written && measureWritten && !phases.Cancelled()) {
        TLoudnessResult result = MeasureFileRange(writePath, 0, 0, TLoudnessOptions{}, phases.Phase(55, 60));
        const double offLu = ATargetLufs - result.IntegratedLufs;
        if (result.Error == 0 && !phases.Cancelled() && std::isfinite(offLu) && std::fabs(offLu) > ExportLoudnessToleranceLu) {
            // Once more with the gain corrected by what the written file is off (lowered again where the true
            // peak, of the source or of what was written, would pass the ceiling).
            double correctedDb = LimitedGainDb(gainDb + offLu, source.TruePeakDbtp, wav, outcome);
            if (std::isfinite(result.TruePeakDbtp) && result.TruePeakDbtp + (correctedDb - gainDb) > ExportPeakCeilingDbtp - 0.05) {
                correctedDb = std::min(correctedDb, gainDb + ExportPeakCeilingDbtp - 0.05 - result.TruePeakDbtp);
                outcome.GainLowered = true;
            }
            if (std::fabs(correctedDb - gainDb) > 0.01) {
                gainDb = correctedDb;
                written = stream.SeekBytes(start) && writeOnce(gainDb, phases.Phase(60, 95));
                if (written && !phases.Cancelled())
                    result = MeasureFileRange(writePath, 0, 0, TLoudnessOptions{}, phases.Phase(95, 100));
            }
        }
        // What the file that was written reads, not what was aimed at.
        if (result.Error == 0)
            outcome.LoudnessLufs = result.IntegratedLufs;
        phases.Finish();
    }
    if (plan.Direct)
        return written;
    return Publish(temp, plan, ADest, wav, ARule, written, phases.Cancelled(), outcome);
}

bool IsExportTempName(const QByteArray &AName)
{
    return IsTemporaryName(AName, ExportTempPrefix, ExportTempSuffix);
}
