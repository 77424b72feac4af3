// The one audio object: output device, playback of the loaded recording, its envelope.
#include "uAudioEngine.h"

#include "uAudioExport.h"
#include "uEnvelope.h"
#include "uPlayback.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>

#include <algorithm>

namespace {

// The output device of a device number; a null device for 0 and for numbers that are not listed.
QAudioDevice OutputFor(int ADevice)
{
    if (ADevice == -1)
        return QMediaDevices::defaultAudioOutput();
    if (ADevice >= 1) {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        if (ADevice <= outputs.size())
            return outputs[ADevice - 1];
    }
    return QAudioDevice();
}

} // namespace

TAudioEngine::TAudioEngine()
{
    SetEnvelopeCacheFolder(TEnvelopeCache::DefaultFolder());
}

void TAudioEngine::SetEnvelopeCacheFolder(const QString &AFolder)
{
    FEnvCache = AFolder.isEmpty() ? nullptr : std::make_unique<TEnvelopeCache>(AFolder);
}

TAudioEngine::~TAudioEngine()
{
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
    const bool wasPlaying = IsPlaying();
    const double position = PositionSec();
    FPlayStream.reset();
    FInited = false;
    FHasOutput = false;
    FOutput = QAudioDevice();
    FDevice = ADevice;
    InitAudio();
    if (!FLoadedPath.isEmpty() && FHasOutput) {
        OpenPlayStream();
        if (FPlayStream) {
            FPlayStream->SeekSec(position);
            if (wasPlaying)
                FPlayStream->Play();
        }
    }
    return FHasOutput;
}

void TAudioEngine::OpenPlayStream()
{
    FPlayStream = std::make_unique<TPlayback>(FOutput);
    // The length the load settled (counted, or from the envelope cache) spares the stream counting it again.
    if (!FPlayStream->Open(FLoadedPath, FLengthBytes > 0 ? FLengthBytes : -1)) {
        FPlayStream.reset();  // the recording stays loaded, but silent
        return;
    }
    FPlayStream->SetSpeed(FSpeed);
    FPlayStream->SetChannelMode(FChannelMode);
    FPlayStream->SetLoopRange(FLoopStart, FLoopEnd);
    FPlayStream->SetSkipRanges(FSkipSilence ? FSilenceRanges : std::vector<TSecRange>());
}

void TAudioEngine::SetSpeed(double ASpeed)
{
    FSpeed = std::clamp(ASpeed, MinPlaySpeed, MaxPlaySpeed);
    if (FPlayStream)
        FPlayStream->SetSpeed(FSpeed);
}

void TAudioEngine::SetChannelMode(TChannelMode AMode)
{
    FChannelMode = AMode;
    if (FPlayStream)
        FPlayStream->SetChannelMode(AMode);
}

void TAudioEngine::SetLoopRange(double AStart, double AEnd)
{
    const bool valid = AStart >= 0 && AEnd > AStart;
    FLoopStart = valid ? AStart : -1;
    FLoopEnd = valid ? AEnd : -1;
    if (FPlayStream)
        FPlayStream->SetLoopRange(FLoopStart, FLoopEnd);
}

void TAudioEngine::SetSkipSilence(bool AOn)
{
    FSkipSilence = AOn;
    if (FPlayStream)
        FPlayStream->SetSkipRanges(FSkipSilence ? FSilenceRanges : std::vector<TSecRange>());
}

bool TAudioEngine::Load(const QString &APath, const TProgressProc &AProgress)
{
    FLastError = 0;
    if (APath.isEmpty() || !QFileInfo::exists(APath))
        return false;
    // Analysed into a result of its own: the loaded recording stays untouched until the new one is good.
    // The cache is consulted only when its folder can be used and the file's state is known; otherwise
    // the load is exactly the uncached one.
    const std::optional<TEnvelopeCacheKey> key =
        FEnvCache && FEnvCache->Usable() ? TEnvelopeCache::KeyOf(APath) : std::nullopt;
    FLastCacheUse = key ? TEnvelopeCacheUse::Miss : TEnvelopeCacheUse::Off;
    TEnvelopeResult r;
    if (key && FEnvCache->Lookup(*key, r)) {
        FLastCacheUse = TEnvelopeCacheUse::Hit;
        if (AProgress)
            AProgress(100);
    } else {
        r = BuildEnvelopeFromFile(APath, AProgress, FEnvelopeParts);
        // Stored only when the file did not change during the pass (a recording still being written).
        if (key && r.Error == 0 && r.EnvCount > 0 && TEnvelopeCache::KeyOf(APath) == key)
            FEnvCache->Store(*key, r);
    }
    if (r.Error != 0) {
        FLastError = r.Error;
        return false;
    }
    if (r.EnvCount <= 0)
        return false;
    Close();
    FSampleRate = r.SampleRate;
    FChannels = r.Channels;
    FDurationSec = r.DurationSec;
    FEnvelope = std::move(r.Envelope);
    FEnvCount = r.EnvCount;
    FLengthBytes = r.Figures.L;
    FLoadedPath = APath;
    if (FSampleRate > 0 && FEnvelope)
        FSilenceRanges = SilenceSkipRanges(*FEnvelope, double(r.Figures.S) / FSampleRate, FDurationSec);
    if (FHasOutput)
        OpenPlayStream();
    return true;
}

void TAudioEngine::Close()
{
    Stop();
    FPlayStream.reset();
    FEnvelope.reset();
    FEnvCount = 0;
    FDurationSec = 0;
    FLoadedPath.clear();
    FLengthBytes = 0;
    FLoopStart = FLoopEnd = -1;
    FSilenceRanges.clear();
}

bool TAudioEngine::ExportRange(const QString &ADest, TAudioFormat AFmt, int ABitrate, double AStartSec,
                               double AEndSec, const TCancelProgress &AProgress, double ATargetLufs)
{
    FLastExport = TExportOutcome{};
    if (FLoadedPath.isEmpty())
        return false;
    return ExportFileRange(FLoadedPath, FDurationSec, ADest, AFmt, ABitrate, AStartSec, AEndSec, AProgress,
                           &FLastExport, TExportTargetRule::ReplaceWhenComplete, ATargetLufs);
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

void TAudioEngine::SeekSec(double Sec)
{
    if (FPlayStream)
        FPlayStream->SeekSec(Sec < 0 ? 0 : Sec);
}

double TAudioEngine::PositionSec() const
{
    return FPlayStream ? FPlayStream->PositionSec() : 0.0;
}

bool TAudioEngine::IsPlaying() const
{
    return FPlayStream && FPlayStream->IsPlaying();
}

bool TAudioEngine::IsPaused() const
{
    return FPlayStream && FPlayStream->IsPaused();
}

QString AudioErrorText(int ACode)
{
    switch (ACode) {
    case aeOK: return QStringLiteral("geen fout");
    case aeMem: return QStringLiteral("geheugenfout");
    case aeFileOpen: return QStringLiteral("kan het bestand niet openen");
    case aeDriver: return QStringLiteral("kan het uitvoerapparaat niet gebruiken");
    case aeFormat: return QStringLiteral("niet-ondersteund audioformaat");
    case aeInit: return QStringLiteral("de audiobibliotheek is niet geïnitialiseerd");
    case aeNoChan: return QStringLiteral("kan geen vrij kanaal openen");
    case aeFileForm: return QStringLiteral("niet-ondersteund bestandsformaat (ontbrekende codec/plugin)");
    case aeCodec: return QStringLiteral("codec niet beschikbaar");
    default: return QStringLiteral("onbekende fout");
    }
}

void ListOutputDevices(QList<QPair<QString, int>> &AList)
{
    AList.clear();
    AList.append({QStringLiteral("Standaard uitvoerapparaat"), -1});
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    for (int i = 0; i < outputs.size(); ++i)
        AList.append({outputs[i].description(), i + 1});
}
