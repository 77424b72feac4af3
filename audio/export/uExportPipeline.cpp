// The one export pipeline: range, gain, writer or encoder, temporaries, record, renames.
#include "uExportPipeline.h"

#include "uDecoder.h"
#include "uEncoder.h"
#include "uEvidence.h"
#include "uExportLoop.h"
#include "uLoudness.h"
#include "uTempFile.h"
#include "uWavWriter.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

namespace {

void Fail(TExportOutcome &AOutcome, const QString &ADetail)
{
    AOutcome.Result = TExportResult::Failed;
    AOutcome.Detail = ADetail;
    AOutcome.Text = QStringLiteral("De export is mislukt:\r\n") + ADetail;
}

// One progress for the steps of an export: each step reports 0..100 of its own, placed into its share
// [AFrom, ATo] of the whole; every whole percentage goes out once, rising. A report answered with false, or
// the caller's cancel flag, cancels, and every later step is told to stop at once.
class TProgressPhases {
public:
    explicit TProgressPhases(const TExportControl &AControl) : FLatch(AControl.Progress, AControl.Cancel) {}
    TCancelProgress Phase(int AFrom, int ATo)
    {
        return [this, AFrom, ATo](int APercent) {
            return Report(AFrom + (ATo - AFrom) * std::clamp(APercent, 0, 100) / 100);
        };
    }
    // The closing 100 when a step that would have taken the rest was not needed.
    void Finish()
    {
        if (!Stopped())
            Report(100);
    }
    // True once the export is to stop (also when the caller's flag was set since the last report).
    bool Stopped() { return FLatch.Stopped(); }

private:
    bool Report(int APercent)
    {
        if (Stopped())
            return false;
        if (APercent <= FLast)
            return true;
        FLast = APercent;
        return FLatch.Report(APercent);
    }
    TCancelLatch FLatch;
    int FLast = -1;
};

// The export's read of its stream: stops (no data) once the export is to stop, notes an early end of the
// decoding (the loop asks for more only while the range is not complete, so no data means the recording
// ended before the range did), and scales by AGain (linear; 1 passes the samples unchanged), rounded and
// held within 16 bits.
std::function<qint64(char *, qint64)> ReadFor(TDecodeStream &AStream, TProgressPhases &APhases, TExportOutcome &AOutcome,
                                              double AGain)
{
    return [&AStream, &APhases, &AOutcome, AGain](char *ABuf, qint64 AMax) -> qint64 {
        if (APhases.Stopped())
            return 0;
        const qint64 n = AStream.Read(ABuf, AMax);
        if (n <= 0)
            AOutcome.EndedEarly = true;
        if (n > 0 && AGain != 1.0) {
            int16_t *samples = reinterpret_cast<int16_t *>(ABuf);
            for (qint64 i = 0; i < n / 2; ++i)
                samples[i] = static_cast<int16_t>(std::clamp(std::lrint(samples[i] * AGain), -32768L, 32767L));
        }
        return n;
    };
}

// Writes ABytes of the stream from where it stands to APath as WAV. Raises EReaderError as TWavWriter does.
bool WriteWav(TDecodeStream &AStream, const QString &APath, qint64 ABytes, TProgressPhases &APhases,
              const TCancelProgress &AProgress, TExportOutcome &AOutcome, double AGain)
{
    TWavWriter wav;
    wav.Create(APath, AStream.SampleRate(), AStream.Channels());
    const qint64 done = ExportReadLoop(ReadFor(AStream, APhases, AOutcome, AGain), ABytes, AProgress,
                                       [&](const char *AData, qint64 ALength) {
                                           wav.Write(AData, ALength);
                                           return true;
                                       });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    wav.Finish();
    return done > 0;
}

// The same, encoded; a failure sets the outcome's cause.
bool EncodeToFile(TDecodeStream &AStream, const QString &APath, qint64 ABytes, TAudioFormat AFormat, int ABitrate,
                  TProgressPhases &APhases, const TCancelProgress &AProgress, TExportOutcome &AOutcome, double AGain)
{
    TEncoder encoder;
    if (!encoder.Start(AFormat, EncoderOptionText(AFormat, ABitrate), AStream.SampleRate(), AStream.Channels(), APath)) {
        AOutcome.Detail = QStringLiteral("de encoder kan niet beginnen: ") + encoder.ErrorText();
        return false;
    }
    const qint64 done = ExportReadLoop(ReadFor(AStream, APhases, AOutcome, AGain), ABytes, AProgress,
                                       [&](const char *AData, qint64 ALength) { return encoder.Feed(AData, ALength); });
    AOutcome.Seconds = AStream.BytesToSeconds(done);
    // Stopping completes and closes the file, also after an early end; a failed write anywhere is no success.
    const bool written = encoder.Stop();
    if (!written)
        AOutcome.Detail = QStringLiteral("het coderen is mislukt: ") + encoder.ErrorText();
    return done > 0 && written;
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

// A temporary beside ATarget holding AData, not yet committed. False with the outcome's cause set.
bool StageFile(TTempFile &ATemp, const QString &ATarget, const QByteArray &AData, TExportOutcome &AOutcome)
{
    if (!ATemp.Create(QFileInfo(ATarget).path(), ExportTempPrefix, ExportTempSuffix) || !WriteAll(ATemp.Fd(), AData)) {
        Fail(AOutcome, QStringLiteral("kan \"%1\" niet schrijven: %2")
                           .arg(ATarget, SystemText(ATemp.Error() ? ATemp.Error() : errno)));
        ATemp.Discard();
        return false;
    }
    return true;
}

// The recording's checksum, taken on a thread of its own while the export reads the range; joined on every
// way out.
class THashBeside {
public:
    explicit THashBeside(const QString &APath) : FThread([this, APath] { FDigest = Sha256OfFile(APath); }) {}
    ~THashBeside()
    {
        if (FThread.joinable())
            FThread.join();
    }
    const TFileDigest &Result()
    {
        if (FThread.joinable())
            FThread.join();
        return FDigest;
    }

private:
    TFileDigest FDigest;
    std::thread FThread;
};

// The export after the checks: the clip written (and normalised), then renamed into place, with its record
// when asked. AOutcome's Result is set on every way out.
void Run(const TExportRequest &ARequest, TProgressPhases &APhases, TDecodeStream &AStream, qint64 AStart,
         qint64 AEnd, TExportOutcome &AOutcome)
{
    const bool wav = ARequest.Format == TAudioFormat::afWAV;
    const bool record = ARequest.EvidenceRecord;
    const bool normalise = ARequest.TargetLufs < 0;
    const double durationSec = AStream.BytesToSeconds(AStream.LengthBytes());
    const double endSec = ARequest.EndSec <= 0 || ARequest.EndSec >= durationSec ? durationSec : ARequest.EndSec;
    const qint64 bytes = AEnd - AStart;

    std::optional<THashBeside> sourceHash;
    if (record)
        sourceHash.emplace(ARequest.Source);

    double gainDb = 0;
    TLoudnessResult source;
    if (normalise) {
        source = MeasureFileRange(ARequest.Source, ARequest.StartSec, endSec >= durationSec ? 0 : endSec,
                                  TLoudnessOptions{}, APhases.Phase(0, 20));
        if (source.Error != 0) {
            Fail(AOutcome, QStringLiteral("kan de luidheid niet meten: ") + AudioErrorText(source.Error));
            return;
        }
        if (APhases.Stopped()) {
            AOutcome.Result = TExportResult::Cancelled;
            return;
        }
        AOutcome.LoudnessLufs = source.IntegratedLufs;
        if (std::isfinite(source.IntegratedLufs))
            gainDb = LimitedGainDb(ARequest.TargetLufs - source.IntegratedLufs, source.TruePeakDbtp, wav, AOutcome);
    }

    // The clip's temporary, in the folder of the file it is to replace or create, with that file's permissions.
    TTargetPlan plan = PlanTarget(ARequest.Path);
    if (plan.Direct && record) {
        // Only a dangling link gets here (anything else that is no regular file was refused): the clip
        // replaces the link.
        plan = TTargetPlan{};
        plan.Path = ARequest.Path;
    }
    TTempFile clip;  // removed on every way out unless committed, also when the WAV writer raises its error
    if (!plan.Direct) {
        const QString dir = QFileInfo(plan.Path).path();
        if (ARequest.Rule == TExportTargetRule::ReplaceWhenComplete)
            RemoveStaleTemporaries(dir, IsExportTempName);
        if (!clip.Create(dir, ExportTempPrefix, ExportTempSuffix)) {
            const QString cause = SystemText(clip.Error());
            Fail(AOutcome, record ? QStringLiteral("kan geen bestand maken in %1: %2").arg(dir, cause)
                                  : QStringLiteral("kan het bestand \"%1\" niet maken: %2").arg(ARequest.Path, cause));
            if (wav)
                AOutcome.Raised = QStringLiteral("Cannot create file \"%1\". %2").arg(ARequest.Path, cause);
            return;
        }
        if (plan.Existed)
            ::fchmod(clip.Fd(), plan.Mode);
    }
    const QString writePath = plan.Direct ? plan.Path : clip.Path();

    const auto writeOnce = [&](double AGainDb, const TCancelProgress &AProgress) {
        const double gain = std::pow(10.0, AGainDb / 20.0);
        AOutcome.Seconds = 0;
        AOutcome.EndedEarly = false;
        return wav ? WriteWav(AStream, writePath, bytes, APhases, AProgress, AOutcome, gain)
                   : EncodeToFile(AStream, writePath, bytes, ARequest.Format, ARequest.Bitrate, APhases, AProgress,
                                  AOutcome, gain);
    };
    bool written = false;
    try {
        // A target written directly (a device, a pipe) cannot be read back: its loudness is the aimed figure.
        const bool measureWritten = normalise && !plan.Direct && std::isfinite(source.IntegratedLufs);
        written = writeOnce(gainDb, normalise ? APhases.Phase(20, measureWritten ? 55 : 100) : APhases.Phase(0, 100));
        if (written && measureWritten && !APhases.Stopped()) {
            TLoudnessResult result = MeasureFileRange(writePath, 0, 0, TLoudnessOptions{}, APhases.Phase(55, 60));
            const double offLu = ARequest.TargetLufs - result.IntegratedLufs;
            if (result.Error == 0 && !APhases.Stopped() && std::isfinite(offLu) &&
                std::fabs(offLu) > ExportLoudnessToleranceLu) {
                // Once more with the gain corrected by what the written file is off, lowered again where the
                // true peak (of the source, or of what was written) would pass the ceiling.
                double correctedDb = LimitedGainDb(gainDb + offLu, source.TruePeakDbtp, wav, AOutcome);
                const double headroomDb = ExportPeakCeilingDbtp - 0.05 - result.TruePeakDbtp;
                if (std::isfinite(result.TruePeakDbtp) && correctedDb - gainDb > headroomDb) {
                    correctedDb = gainDb + headroomDb;
                    AOutcome.GainLowered = true;
                }
                if (std::fabs(correctedDb - gainDb) > 0.01) {
                    gainDb = correctedDb;
                    written = AStream.SeekBytes(AStart) && writeOnce(gainDb, APhases.Phase(60, 95));
                    if (written && !APhases.Stopped())
                        result = MeasureFileRange(writePath, 0, 0, TLoudnessOptions{}, APhases.Phase(95, 100));
                }
            }
            // What the file that was written reads, not what was aimed at.
            if (result.Error == 0)
                AOutcome.LoudnessLufs = result.IntegratedLufs;
            APhases.Finish();
        }
    } catch (const EReaderError &e) {
        // The WAV writer raises its own text; the outcome says it in Dutch and keeps that text beside it.
        AOutcome.Raised = e.Message();
        Fail(AOutcome, QStringLiteral("kan het bestand \"%1\" niet schrijven").arg(ARequest.Path));
        return;
    }
    const bool cancelled = APhases.Stopped();

    if (!written && cancelled) {
        AOutcome.Result = TExportResult::Cancelled;  // stopped before anything was written
        return;
    }
    if (plan.Direct) {
        AOutcome.Result = !written ? TExportResult::Failed : cancelled ? TExportResult::Cancelled : TExportResult::Done;
        if (written)
            AOutcome.ClipPath = ARequest.Path;
        else
            Fail(AOutcome, AOutcome.Detail.isEmpty() ? QStringLiteral("er is niets geëxporteerd") : AOutcome.Detail);
        return;
    }
    if (!written) {
        Fail(AOutcome, AOutcome.Detail.isEmpty() ? QStringLiteral("er is niets geëxporteerd") : AOutcome.Detail);
        return;
    }

    if (!record) {
        const bool replacing = ARequest.Rule == TExportTargetRule::ReplaceWhenComplete;
        // A cancelled export keeps its part only where it destroys nothing.
        if (cancelled && !(replacing && !plan.Existed)) {
            AOutcome.Result = TExportResult::Cancelled;
            return;
        }
        if (clip.Commit(plan.Path, !cancelled && replacing)) {
            AOutcome.Result = cancelled ? TExportResult::Cancelled : TExportResult::Done;
            AOutcome.ClipPath = ARequest.Path;
            return;
        }
        if (clip.Error() == EEXIST) {
            // The name was taken while the export ran: that file stays, this export is not kept.
            if (cancelled) {
                AOutcome.Result = TExportResult::Cancelled;
                return;
            }
            AOutcome.TargetTaken = true;
            Fail(AOutcome, QStringLiteral("bestaat al"));
            return;
        }
        const QString cause = SystemText(clip.Error());
        Fail(AOutcome, QStringLiteral("kan het bestand \"%1\" niet voltooien: %2").arg(ARequest.Path, cause));
        if (wav)
            AOutcome.Raised = QStringLiteral("Cannot create file \"%1\". %2").arg(ARequest.Path, cause);
        return;
    }

    // With a record: nothing is kept unless all three are complete.
    if (cancelled) {
        AOutcome.Result = TExportResult::Cancelled;
        return;
    }
    const TFileDigest &sourceDigest = sourceHash->Result();
    if (!sourceDigest.Ok()) {
        Fail(AOutcome, QStringLiteral("kan de opname niet lezen voor de controlesom: %1: %2")
                           .arg(ARequest.Source, SystemText(sourceDigest.Error)));
        return;
    }
    const TFileDigest clipDigest = Sha256OfFile(clip.Path());
    if (!clipDigest.Ok()) {
        Fail(AOutcome, QStringLiteral("kan de export niet teruglezen: %1").arg(SystemText(clipDigest.Error)));
        return;
    }
    TEvidenceFacts facts;
    facts.Source = ARequest.Source;
    facts.Clip = ARequest.Path;
    facts.Format = ARequest.Format;
    facts.Bitrate = ARequest.Bitrate;
    facts.TargetLufs = ARequest.TargetLufs;
    facts.Recording = ARequest.Recording ? &*ARequest.Recording : nullptr;
    facts.ProgramName = ARequest.ProgramName;
    facts.ClipSeconds = AOutcome.Seconds;
    facts.StartSec = qMax(0.0, ARequest.StartSec);
    facts.EndSec = endSec;
    const QByteArray json = EvidenceRecordText(facts, clipDigest, sourceDigest);
    const QString recordPath = EvidenceRecordPath(ARequest.Path);
    const QString sumPath = EvidenceChecksumPath(ARequest.Path);
    TTempFile recordFile, sumFile;
    if (!StageFile(recordFile, recordPath, json, AOutcome) ||
        !StageFile(sumFile, sumPath, Sha256Line(clipDigest.Hex, QFileInfo(ARequest.Path).fileName()), AOutcome))
        return;
    if (!recordFile.Commit(recordPath, true)) {
        Fail(AOutcome, QStringLiteral("kan \"%1\" niet schrijven: %2").arg(recordPath, SystemText(recordFile.Error())));
        return;
    }
    if (!sumFile.Commit(sumPath, true)) {
        Fail(AOutcome, QStringLiteral("kan \"%1\" niet schrijven: %2").arg(sumPath, SystemText(sumFile.Error())));
        QFile::remove(recordPath);
        return;
    }
    if (!clip.Commit(plan.Path, true)) {
        Fail(AOutcome, QStringLiteral("kan \"%1\" niet schrijven: %2").arg(ARequest.Path, SystemText(clip.Error())));
        QFile::remove(recordPath);
        QFile::remove(sumPath);
        return;
    }
    AOutcome.Result = TExportResult::Done;
    AOutcome.ClipPath = ARequest.Path;
    AOutcome.RecordPath = recordPath;
    AOutcome.ChecksumPath = sumPath;
}

} // namespace

TExportOutcome ExportRecording(const TExportRequest &ARequest, const TExportControl &AControl)
{
    TExportOutcome outcome;
    // Writing onto the recording would destroy it while it is read; the clip replaces its target by a rename.
    if (IsSameFile(ARequest.Path, ARequest.Source)) {
        Fail(outcome, QStringLiteral("de export zou de opname zelf vervangen: %1").arg(ARequest.Path));
        return outcome;
    }
    // With a record the clip replaces its target by a rename: a target must be a regular file or a new name.
    if (ARequest.EvidenceRecord) {
        const QFileInfo target(ARequest.Path);
        if (target.exists() && !target.isFile()) {
            Fail(outcome, QStringLiteral("geen gewoon bestand: %1").arg(ARequest.Path));
            return outcome;
        }
    }
    TDecodeStream stream;  // our own: a playback stream and its position stay as they are
    const bool opened = stream.Open(ARequest.Source);
    if (!opened || stream.LengthBytes() <= 0) {
        outcome.OpenError = !opened && stream.LastError() ? stream.LastError() : opened ? aeFileForm : aeFileOpen;
        Fail(outcome, QStringLiteral("kan de opname niet laden: %1 (%2)").arg(AudioErrorText(outcome.OpenError))
                          .arg(outcome.OpenError));
        return outcome;
    }
    // A damaged recording exports what decodes, not a silent tail that pretends to be the rest.
    stream.SetPadToLength(false);

    // One seconds -> frames rule for every codec: whole frames (SecToFrames), then bytes.
    qint64 start = 0, end = 0;
    stream.ByteRange(ARequest.StartSec, ARequest.EndSec, start, end);
    if (start >= end) {
        Fail(outcome, QStringLiteral("het bereik bevat geen geluid"));
        return outcome;
    }
    // The 32-bit size fields cannot describe more: refuse rather than write a header that wraps around.
    if (ARequest.Format == TAudioFormat::afWAV && end - start > WavMaxDataBytes) {
        Fail(outcome, QStringLiteral("het bereik is groter dan een WAV-bestand kan bevatten (4 GiB)"));
        return outcome;
    }
    if (start > 0 && !stream.SeekBytes(start)) {
        Fail(outcome, QStringLiteral("kan het begin van het bereik niet lezen"));
        return outcome;
    }
    TProgressPhases phases(AControl);
    Run(ARequest, phases, stream, start, end, outcome);
    return outcome;
}

bool IsExportTempName(const QByteArray &AName)
{
    return IsTemporaryName(AName, ExportTempPrefix, ExportTempSuffix);
}
