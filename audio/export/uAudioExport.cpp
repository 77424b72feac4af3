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

// True when both paths name one existing file (device and inode after following links), so a symbolic
// or a hard link to the recording counts as the recording itself.
bool SameFile(const QString &AA, const QString &AB)
{
    struct stat sa, sb;
    if (::stat(PathBytes(AA).constData(), &sa) != 0 || ::stat(PathBytes(AB).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

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
        AOutcome.Error = encoder.ErrorText();
        qWarning("export: %s", qUtf8Printable(AOutcome.Error));
        return false;
    }
    const qint64 done = ExportReadLoop(ReadNoting(AStream, AOutcome, AGain), AC, AProgress,
                                       [&](const char *AData, qint64 AN) { return encoder.Feed(AData, AN); });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    // Stopping completes and closes the file, also after an early end; a failed write anywhere is no success.
    const bool written = encoder.Stop();
    if (!written) {
        AOutcome.Error = encoder.ErrorText();
        qWarning("export: %s", qUtf8Printable(AOutcome.Error));
    }
    return done > 0 && written;
}

QString SystemText(int AErr)
{
    return QString::fromLocal8Bit(std::strerror(AErr));
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
        if (AWav)
            throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(ADest, cause));
        AOutcome.Error = QStringLiteral("cannot create file \"%1\": %2").arg(ADest, cause);
        qWarning("export: %s", qUtf8Printable(AOutcome.Error));
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
    if (AWav)
        throw EReaderError(QStringLiteral("Cannot create file \"%1\". %2").arg(ADest, cause));
    AOutcome.Error = QStringLiteral("cannot complete the file \"%1\": %2").arg(ADest, cause);
    qWarning("export: %s", qUtf8Printable(AOutcome.Error));
    return false;
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
    if (SameFile(ADest, ASource)) {
        qWarning("export: the target \"%s\" is the loaded recording itself", qUtf8Printable(ADest));
        return false;
    }
    TDecodeStream stream;  // our own: a playback stream and its position stay as they are
    if (!stream.Open(ASource))
        return false;
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
    if (start >= end)
        return false;
    const qint64 C = end - start;
    // The 32-bit size fields cannot describe more: refuse rather than write a header that wraps around.
    if (AFmt == TAudioFormat::afWAV && C > WavMaxDataBytes) {
        qWarning("export: %lld bytes do not fit in a WAV file", static_cast<long long>(C));
        return false;
    }
    if (start > 0 && !stream.SeekBytes(start))
        return false;

    const bool wav = AFmt == TAudioFormat::afWAV;
    // A normalised export measures the range first; the measurement takes the first half of the progress.
    double gain = 1.0;
    TCancelProgress writeProgress = AProgress;
    if (ATargetLufs < 0) {
        bool stop = false;
        int lastPercent = -1;
        // Each whole percentage once, as the plain export reports them.
        const TLoudnessResult m = MeasureFileRange(ASource, AStartSec, AEndSec >= ADurationSec ? 0 : AEndSec,
                                                   TLoudnessOptions{}, [&](int APercent) {
                                                       if (APercent / 2 == lastPercent)
                                                           return true;
                                                       lastPercent = APercent / 2;
                                                       stop = AProgress && !AProgress(lastPercent);
                                                       return !stop;
                                                   });
        if (m.Error != 0 || stop)
            return false;
        double gainDb = 0;
        outcome.LoudnessLufs = m.IntegratedLufs;
        if (std::isfinite(m.IntegratedLufs)) {
            gainDb = ATargetLufs - m.IntegratedLufs;
            // Lossy encoders add overshoot of their own to the true peak.
            const double ceiling = ExportPeakCeilingDbtp - (wav ? 0.05 : 0.5);
            if (std::isfinite(m.TruePeakDbtp) && m.TruePeakDbtp + gainDb > ceiling) {
                gainDb = ceiling - m.TruePeakDbtp;
                outcome.GainLowered = true;
            }
            outcome.LoudnessLufs = m.IntegratedLufs + gainDb;
        }
        gain = std::pow(10.0, gainDb / 20.0);
        if (AProgress)
            writeProgress = [&AProgress, lastPercent](int APercent) mutable {
                if (50 + APercent / 2 == lastPercent)
                    return true;
                lastPercent = 50 + APercent / 2;
                return AProgress(lastPercent);
            };
    }
    const TTargetPlan plan = PlanTarget(ADest);
    TTempFile temp;  // removed on every way out unless committed, also when the WAV writer throws
    if (!plan.Direct && !CreateTemporary(temp, plan, ADest, wav, ARule, outcome))
        return false;
    const QString writePath = plan.Direct ? plan.Path : temp.Path();

    bool cancelled = false;
    TCancelProgress progress;
    if (writeProgress)
        progress = [&writeProgress, &cancelled](int APercent) {
            const bool goOn = writeProgress(APercent);
            cancelled = cancelled || !goOn;
            return goOn;
        };
    const bool written = wav ? WriteWav(stream, writePath, C, progress, outcome, gain)
                             : EncodeToFile(stream, writePath, C, AFmt, ABitrate, progress, outcome, gain);
    if (plan.Direct)
        return written;
    return Publish(temp, plan, ADest, wav, ARule, written, cancelled, outcome);
}

bool IsExportTempName(const QByteArray &AName)
{
    return IsTemporaryName(AName, ExportTempPrefix, ExportTempSuffix);
}
