// The one audio object: output device, playback of the loaded recording, its envelope.
#include "uAudioEngine.h"

#include "uAnalyseAhead.h"
#include "uAudioExit.h"
#include "uEnvelope.h"
#include "uPlayback.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// The output device of a device number; a null device for 0 and for numbers that are not listed.
QAudioDevice OutputFor(int ADevice)
{
    if (ADevice == -1) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        GuardAudioExit(TAudioUse::auDeviceQuery);
        return device;
    }
    if (ADevice >= 1) {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        GuardAudioExit(TAudioUse::auDeviceQuery);
        if (ADevice <= outputs.size())
            return outputs[ADevice - 1];
    }
    return QAudioDevice();
}

// APath names something that exists, by its bytes: a name that is not UTF-8 exists too; one holding a NUL
// never. Whether it is a file that decodes is the decoder's to say.
bool Exists(const QString &APath)
{
    QByteArray pathBytes;
    return PathBytesOf(APath, pathBytes) && ::access(pathBytes.constData(), F_OK) == 0;
}

// The cache key of APath, taken before a pass; nullopt without a usable cache folder or when the file's
// state cannot be known (the load is then exactly the uncached one).
std::optional<TEnvelopeCacheKey> CacheKeyOf(const std::shared_ptr<const TEnvelopeCache> &ACache, const QString &APath)
{
    return ACache ? ACache->UsableKeyOf(APath) : std::nullopt;
}

// Keeps a finished pass over APath in the cache, unless the file changed during the pass (a recording still
// being written). False when the folder refused a good result: such a folder is no cache at all (Off, not
// Miss). A failed or cancelled pass is not offered.
bool KeepPass(const TEnvelopeCache &ACache, const QString &APath, const TEnvelopeCacheKey &AKey,
              const TEnvelopeResult &AResult)
{
    if (AResult.Cancelled || AResult.Error != 0 || AResult.EnvCount <= 0)
        return true;
    return ACache.StoreAfterPass(APath, AKey, AResult) != TEnvelopeCache::TPassStore::Refused;
}

// Holds the analysis ahead for the lifetime of the object.
class TAheadHold {
public:
    explicit TAheadHold(TAudioEngine &AEngine) : FEngine(AEngine) { FEngine.HoldAhead(true); }
    ~TAheadHold() { FEngine.HoldAhead(false); }
    TAheadHold(const TAheadHold &) = delete;
    TAheadHold &operator=(const TAheadHold &) = delete;

private:
    TAudioEngine &FEngine;
};

} // namespace

// The analysis of the loaded recording: one pass on a thread of its own (which runs the pass's parts), and
// what the user-interface thread took of it so far.
struct TAudioEngine::TAnalysis {
    TEnvelopeWatch Watch;
    std::atomic<int> Percent{0};
    std::atomic<bool> Done{false};
    std::atomic<bool> StoreFailed{false};
    TEnvelopeResult Result;  // the thread's until Done
    std::thread Thread;
    std::vector<TEnvPoint> Points;  // as far as finished
    std::vector<char> Known;
    int Finished = -1;

    ~TAnalysis()
    {
        Watch.Cancel();
        if (Thread.joinable())
            Thread.join();
    }
};

TAudioEngine::TAudioEngine()
{
    SetEnvelopeCacheFolder(TEnvelopeCache::DefaultFolder());
}

void TAudioEngine::SetEnvelopeCacheFolder(const QString &AFolder, qint64 ALimitBytes)
{
    FEnvCache = AFolder.isEmpty() ? nullptr : std::make_shared<const TEnvelopeCache>(AFolder, ALimitBytes);
    FAhead.reset();  // it worked for the cache it was made with
}

TAudioEngine::~TAudioEngine()
{
    FAhead.reset();
    Close();
    FInited = false;
    FHasOutput = false;
}

void TAudioEngine::SetInitialDevice(int ADevice)
{
    if (!FInited)
        FDevice = ADevice;
}

bool TAudioEngine::InitAudio()
{
    if (FInited)
        return FHasOutput;
    // Requested device, else the system default, else no sound (decoding works without any output).
    // Device 0 asks for no sound itself: it always succeeds and gives no output to play on.
    FOutput = OutputFor(FDevice);
    if (FOutput.isNull() && FDevice != -1 && FDevice != 0)
        FOutput = OutputFor(-1);
    FHasOutput = !FOutput.isNull();
    FInited = true;
    return FHasOutput;
}

bool TAudioEngine::ChangeDevice(int ADevice)
{
    if (ADevice == FDevice && FInited)
        return FHasOutput;
    const TPlaybackSnapshot before = Snapshot();
    FPlayStream.reset();
    FInited = false;
    FHasOutput = false;
    FOutput = QAudioDevice();
    FDevice = ADevice;
    InitAudio();
    if (!FLoadedPath.isEmpty() && FHasOutput) {
        OpenPlayStream();
        if (FPlayStream) {
            FPlayStream->SeekSec(before.PositionSec);
            if (before.Playing)
                FPlayStream->Play();
        }
    }
    return FHasOutput;
}

void TAudioEngine::OpenPlayStream()
{
    FPlayStream = std::make_unique<TPlayback>(FOutput);
    // The length the load settled (counted, or from the envelope cache) spares the stream counting it again.
    if (!FPlayStream->Open(FLoadedPath, FLengthBytes > 0 ? FLengthBytes : -1, FSilenceRanges, FListening))
        FPlayStream.reset();  // the recording stays loaded, but silent
}

void TAudioEngine::ListeningChanged()
{
    if (FPlayStream)
        FPlayStream->SetListening(FListening);
}

void TAudioEngine::SetSpeed(double ASpeed)
{
    FListening.Speed = std::clamp(ASpeed, MinPlaySpeed, MaxPlaySpeed);
    ListeningChanged();
}

void TAudioEngine::SetChannelMode(TChannelMode AMode)
{
    FListening.Channel = AMode;
    ListeningChanged();
}

void TAudioEngine::SetLoopRange(double AStart, double AEnd)
{
    const bool valid = AStart >= 0 && AEnd > AStart;
    FListening.LoopStartSec = valid ? AStart : -1;
    FListening.LoopEndSec = valid ? AEnd : -1;
    ListeningChanged();
}

void TAudioEngine::SetSkipSilence(bool AOn)
{
    FListening.SkipSilence = AOn;
    ListeningChanged();
}

bool TAudioEngine::Load(const QString &APath, const TProgressProc &AProgress)
{
    const TAheadHold hold(*this);
    FLastError = 0;
    if (!Exists(APath))
        return false;
    // Analysed into a result of its own: the loaded recording stays untouched until the new one is good.
    const std::optional<TEnvelopeCacheKey> key = CacheKeyOf(FEnvCache, APath);
    FLastCacheUse = key ? TEnvelopeCacheUse::Miss : TEnvelopeCacheUse::Off;
    TEnvelopeResult r;
    if (key && FEnvCache->Lookup(*key, r)) {
        FLastCacheUse = TEnvelopeCacheUse::Hit;
        if (AProgress)
            AProgress(100);
    } else {
        r = BuildEnvelopeFromFile(APath, AProgress, FEnvelopeParts);
        if (key && !KeepPass(*FEnvCache, APath, *key, r))
            FLastCacheUse = TEnvelopeCacheUse::Off;
    }
    if (r.Error != 0) {
        FLastError = r.Error;
        return false;
    }
    if (r.EnvCount <= 0)
        return false;
    Adopt(APath, r);
    return true;
}

void TAudioEngine::Adopt(const QString &APath, TEnvelopeResult &AResult)
{
    CancelAnalysis();
    Close();
    FSampleRate = AResult.SampleRate;
    FChannels = AResult.Channels;
    FDurationSec = AResult.DurationSec;
    FEnvelope = std::move(AResult.Envelope);
    FEnvCount = AResult.EnvCount;
    FSecPerPoint = FramesToSec(double(AResult.Figures.FramesPerPoint), FSampleRate);
    FLengthBytes = AResult.Figures.LengthBytes;
    FLoadedPath = APath;
    if (FSecPerPoint > 0 && FEnvelope)
        FSilenceRanges = SilenceSkipRanges(*FEnvelope, FSecPerPoint, FDurationSec);
    if (FHasOutput)
        OpenPlayStream();
}

bool TAudioEngine::OpenForLength(const QString &APath, TDecodeStream &AStream)
{
    FLastError = 0;
    if (!AStream.Open(APath)) {
        FLastError = AStream.LastError();
        return false;
    }
    return AStream.LengthBytes() > 0;  // else as a load whose pass finds no audio
}

void TAudioEngine::AdoptStream(const QString &APath, const TDecodeStream &AStream)
{
    CancelAnalysis();
    Close();
    const qint64 length = AStream.LengthBytes();
    FSampleRate = AStream.SampleRate();
    FChannels = std::max(AStream.Channels(), 1);
    FDurationSec = AStream.BytesToSeconds(length);
    FLengthBytes = length;
    FLoadedPath = APath;
}

bool TAudioEngine::Open(const QString &APath)
{
    FLastError = 0;
    if (!Exists(APath))
        return false;  // before the cache is asked: a missing file never hits
    const std::optional<TEnvelopeCacheKey> key = CacheKeyOf(FEnvCache, APath);
    TEnvelopeResult cached;
    if (key && FEnvCache->Lookup(*key, cached)) {
        Adopt(APath, cached);
        FLastCacheUse = TEnvelopeCacheUse::Hit;
        UpdateAheadPause();
        return true;
    }
    // Format and exact length now; the points come from the analysis.
    TDecodeStream stream;
    if (!OpenForLength(APath, stream))
        return false;
    AdoptStream(APath, stream);
    FLastCacheUse = key ? TEnvelopeCacheUse::Miss : TEnvelopeCacheUse::Off;
    const qint64 length = FLengthBytes;
    const TEnvelopeFigures fig = EnvelopeFigures(length, FChannels);
    FEnvelope = std::make_shared<const std::vector<TEnvPoint>>(static_cast<size_t>(fig.EnvCount));
    FEnvCount = fig.EnvCount;
    FSecPerPoint = FramesToSec(double(fig.FramesPerPoint), FSampleRate);

    FAnalysis = std::make_unique<TAnalysis>();
    TAnalysis *job = FAnalysis.get();
    const int parts = FEnvelopeParts;
    job->Thread = std::thread([job, path = APath, parts, length, key, cache = FEnvCache] {
        job->Result = BuildEnvelopeFromFile(path, [job](int APercent) { job->Percent = APercent; }, parts,
                                            &job->Watch, length);
        if (key && !KeepPass(*cache, path, *key, job->Result))
            job->StoreFailed = true;
        job->Done = true;
    });
    if (FHasOutput)
        OpenPlayStream();
    UpdateAheadPause();
    return true;
}

void TAudioEngine::CancelAnalysis()
{
    FAnalysis.reset();  // cancels and joins: the pass stops after the read in hand
    UpdateAheadPause();
}

void TAudioEngine::SetSilenceRanges(std::vector<TSecRange> ARanges)
{
    const auto same = [](const TSecRange &ALeft, const TSecRange &ARight) {
        return ALeft.StartSec == ARight.StartSec && ALeft.EndSec == ARight.EndSec;
    };
    if (ARanges.size() == FSilenceRanges.size() && std::equal(ARanges.begin(), ARanges.end(), FSilenceRanges.begin(), same))
        return;
    FSilenceRanges = std::move(ARanges);
    if (FPlayStream)
        FPlayStream->SetSilence(FSilenceRanges);
}

TAnalysisPoll TAudioEngine::PollAnalysis()
{
    TAnalysisPoll poll;
    if (!FAnalysis)
        return poll;
    TAnalysis &job = *FAnalysis;
    if (job.Done) {
        if (job.Thread.joinable())
            job.Thread.join();
        TEnvelopeResult r = std::move(job.Result);
        if (job.StoreFailed)
            FLastCacheUse = TEnvelopeCacheUse::Off;
        FAnalysis.reset();
        UpdateAheadPause();
        if (r.Error == 0 && !r.Cancelled && r.Envelope && r.EnvCount > 0) {
            FEnvelope = std::move(r.Envelope);
            FEnvCount = r.EnvCount;
            SetSilenceRanges(SilenceSkipRanges(*FEnvelope, FSecPerPoint, FDurationSec));
        }
        poll.EnvelopeChanged = true;
        return poll;
    }
    poll.Running = true;
    poll.Percent = std::clamp(job.Percent.load(), 0, 99);
    const int finished = job.Watch.TakeFinished(job.Points, job.Known);
    if (finished >= 0 && finished != job.Finished) {
        job.Finished = finished;
        // What is not analysed yet counts as loud: only quiet that was heard is skipped. The points then go
        // to the view as they are (TakeFinished fills the next poll's copy anew).
        std::vector<TEnvPoint> heard = job.Points;
        for (size_t i = 0; i < heard.size(); ++i)
            if (!job.Known[i])
                heard[i] = TEnvPoint{INT16_MIN, INT16_MAX, INT16_MIN, INT16_MAX};
        SetSilenceRanges(SilenceSkipRanges(heard, FSecPerPoint, FDurationSec));
        FEnvelope = std::make_shared<const std::vector<TEnvPoint>>(std::move(job.Points));
        poll.EnvelopeChanged = true;
    }
    return poll;
}

void TAudioEngine::FinishAnalysis()
{
    if (!FAnalysis)
        return;
    if (FAnalysis->Thread.joinable())
        FAnalysis->Thread.join();
    FAnalysis->Done = true;
    PollAnalysis();
}

void TAudioEngine::AnalyseAhead(const QStringList &APaths)
{
    if (!FEnvCache)
        return;
    if (!FAhead)
        FAhead = std::make_unique<TAnalyseAhead>(FEnvCache);
    FAhead->Queue(APaths);
    UpdateAheadPause();
}

void TAudioEngine::HoldAhead(bool AOn)
{
    FAheadHolds = std::max(FAheadHolds + (AOn ? 1 : -1), 0);
    UpdateAheadPause();
}

bool TAudioEngine::AheadIdle() const
{
    return !FAhead || FAhead->Idle();
}

void TAudioEngine::UpdateAheadPause()
{
    if (FAhead)
        FAhead->SetPaused(FAnalysis != nullptr || FAheadHolds > 0);
}

void TAudioEngine::Close()
{
    CancelAnalysis();
    Stop();
    FPlayStream.reset();
    FEnvelope.reset();
    FEnvCount = 0;
    FSecPerPoint = 0;
    FDurationSec = 0;
    FLoadedPath.clear();
    FLengthBytes = 0;
    FListening.LoopStartSec = FListening.LoopEndSec = -1;
    FSilenceRanges.clear();
}

TExportOutcome TAudioEngine::Export(TExportRequest ARequest, const TExportControl &AControl)
{
    if (FLoadedPath.isEmpty()) {
        TExportOutcome outcome;
        outcome.Detail = QStringLiteral("geen opname geladen");
        outcome.Text = QStringLiteral("De export is mislukt:\r\n") + outcome.Detail;
        return outcome;
    }
    const TAheadHold hold(*this);
    ARequest.Source = FLoadedPath;
    return ExportRecording(ARequest, AControl);
}

void TAudioEngine::Play()
{
    if (FPlayStream)
        FPlayStream->Play();
}

void TAudioEngine::Pause()
{
    if (FPlayStream)
        FPlayStream->Pause();
}

void TAudioEngine::Stop()
{
    if (FPlayStream)
        FPlayStream->Stop();
}

void TAudioEngine::SeekSec(double ASec)
{
    if (FPlayStream)
        FPlayStream->SeekSec(ASec < 0 ? 0 : ASec);
}

TPlaybackSnapshot TAudioEngine::Snapshot() const
{
    return FPlayStream ? FPlayStream->Snapshot() : TPlaybackSnapshot();
}

void ListOutputDevices(QList<QPair<QString, int>> &AList)
{
    AList.clear();
    AList.append({QStringLiteral("Standaard uitvoerapparaat"), -1});
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    GuardAudioExit(TAudioUse::auDeviceQuery);
    for (int i = 0; i < outputs.size(); ++i)
        AList.append({outputs[i].description(), i + 1});
}
