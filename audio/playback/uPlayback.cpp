// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#include "uPlayback.h"

#include "uAudioExit.h"
#include "uDecoder.h"
#include "uTimeStretch.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {
// How much sound the sink holds ahead of what is heard, and how often it is topped up.
constexpr double SinkBufferSec = 0.25;
constexpr double AheadSec = 0.5;  // written but not yet heard, at most (the server holds part of it)
constexpr int FeedIntervalMs = 10;
constexpr qint64 MaxFeedFrames = 16384;
// Input handed to the time stretch at a time: enough for it to finish a sequence or two.
constexpr qint64 StretchReadFrames = 2048;
// After the last byte went out, the end is declared at the latest after the buffer time plus this.
constexpr qint64 DrainGraceMs = 1000;
} // namespace

// The thin part on the playback thread: reads decoder blocks where the plan says, turns them into the
// output's channels, stretches them at a speed other than 1 and writes them to the sink; the plan keeps
// the jumps and the position. Everything here is used on the playback thread only.
class TPlayback::TFeeder : public QObject {
public:
    enum class TState { Stopped, Playing, Paused };

    explicit TFeeder(const QAudioDevice &ADevice) : FDevice(ADevice) {}
    ~TFeeder() override { Close(); }

    bool Open(const QString &APath, qint64 AKnownBytes, const std::vector<TSecRange> &ASilence,
              const TListening &AListening)
    {
        FStream = std::make_unique<TDecodeStream>();
        if (!FStream->OpenKnownLength(APath, AKnownBytes) || FStream->SampleRate() <= 0
            || FStream->Channels() <= 0) {
            FStream.reset();
            return false;
        }
        const int rate = FStream->SampleRate();
        FPlan = TPlaybackPlan(rate, FStream->LengthBytes() / InBlock(), ASilence);
        FPlan.SetListening(AListening);
        FFormat.setSampleRate(rate);
        FFormat.setSampleFormat(QAudioFormat::Int16);
        FOutChannels = FStream->Channels();
        FFormat.setChannelCount(FOutChannels);
        if (!FDevice.isFormatSupported(FFormat) && FOutChannels > 2) {
            FOutChannels = 2;  // the first two channels are heard
            FFormat.setChannelCount(FOutChannels);
        }
        FTimer = std::make_unique<QTimer>();
        FTimer->setInterval(FeedIntervalMs);
        QObject::connect(FTimer.get(), &QTimer::timeout, this, [this] { Feed(); });
        return true;
    }

    void Play()
    {
        if (!FStream || FState == TState::Playing)
            return;
        StartSink();
    }

    void Pause()
    {
        if (FState != TState::Playing)
            return;
        DropSink();
        FState = TState::Paused;
    }

    void Stop()
    {
        Pause();
        Seek(0);
    }

    void SeekSec(double ASec)
    {
        if (FStream)
            Seek(FPlan.FramesOf(std::max(ASec, 0.0)));
    }

    void SetListening(const TListening &AListening)
    {
        if (!FStream)
            return;
        Apply(FPlan.SetListening(AListening));
    }

    void SetSilence(const std::vector<TSecRange> &ASilence)
    {
        if (FStream)
            Apply(FPlan.SetSilence(ASilence));
    }

    // Carries out what a change of choices or of the skipped ranges asks of a running session.
    void Apply(TPlaybackPlan::TChange AChange)
    {
        switch (AChange) {
        case TPlaybackPlan::TChange::Restart:
            // Playing on from what is heard, so that a new choice also holds for what was already made ahead.
            if (FState == TState::Playing)
                Seek(Heard());
            break;
        case TPlaybackPlan::TChange::Jumps:
            // Restarted only when the output made ahead could now be wrong, so that dragging a selection
            // while playing does not interrupt the sound.
            if (FState == TState::Playing && FSink) {
                const qint64 heard = Heard();
                if (FPlan.AheadChanged(heard, ReadFrame()))
                    Seek(heard);
            }
            break;
        case TPlaybackPlan::TChange::None:
            break;
        }
    }

    // The state and the position being heard, now.
    TPlaybackSnapshot Snapshot() const
    {
        TPlaybackSnapshot now;
        now.Playing = FState == TState::Playing;
        now.Paused = FState == TState::Paused;
        now.PositionSec = FStream ? FPlan.SecondsOf(Heard()) : 0.0;
        now.Underruns = FUnderruns;
        return now;
    }

    void Close()
    {
        DropSink();
        FTimer.reset();
        FStream.reset();
    }

private:
    int InBlock() const { return FStream->BlockAlign(); }
    int OutBlock() const { return FOutChannels * 2; }
    qint64 ReadFrame() const { return FStream->PositionBytes() / InBlock(); }
    qint64 ProcessedUSecs() const { return FSink ? FSink->processedUSecs() : 0; }
    qint64 Heard() const { return FPlan.Position(ProcessedUSecs()); }

    void Seek(qint64 AFrame)
    {
        if (!FStream)
            return;
        if (FState == TState::Playing) {
            DropSink();
            FPlan.Place(AFrame);
            StartSink();
        } else {
            FPlan.Place(AFrame);
        }
    }

    // Reads up to AMaxFrames of the recording where the plan says into FProcBuf, in the output's channels.
    // 0 at the end of the recording.
    qint64 ReadSource(qint64 AMaxFrames)
    {
        const qint64 pos = ReadFrame();
        const TPlannedRead read = FPlan.PlanRead(pos, AMaxFrames);
        if (read.From != pos)
            FStream->SeekBytes(read.From * InBlock());
        FInBuf.resize(static_cast<size_t>(read.Frames * InBlock()));
        const qint64 got = FStream->Read(FInBuf.data(), read.Frames * InBlock()) / InBlock();
        if (got <= 0)
            return 0;
        ConvertChannels(got);
        FPlan.Fed(got);
        return got;
    }

    // Frames of the recording to the output's channels: the first FOutChannels as they are, or the chosen
    // channel on every output (a mono recording has only the one).
    void ConvertChannels(qint64 AFrames)
    {
        const int inCh = FStream->Channels();
        const int16_t *in = reinterpret_cast<const int16_t *>(FInBuf.data());
        FProcBuf.resize(static_cast<size_t>(AFrames * FOutChannels));
        int16_t *out = FProcBuf.data();
        const TChannelMode mode = FPlan.Listening().Channel;
        if (mode == TChannelMode::cmBoth) {
            if (inCh == FOutChannels) {
                std::copy(in, in + AFrames * inCh, out);
                return;
            }
            for (qint64 f = 0; f < AFrames; ++f)
                for (int c = 0; c < FOutChannels; ++c)
                    out[f * FOutChannels + c] = in[f * inCh + c];
            return;
        }
        const int solo = mode == TChannelMode::cmLeft ? 0 : std::min(1, inCh - 1);
        for (qint64 f = 0; f < AFrames; ++f)
            for (int c = 0; c < FOutChannels; ++c)
                out[f * FOutChannels + c] = in[f * inCh + solo];
    }

    // Makes up to AMaxFrames output frames in FOutBuf. False when the recording has ended and all is out.
    bool Produce(qint64 AMaxFrames)
    {
        FOutOff = 0;
        if (!FStretch) {
            const qint64 n = FPlan.IsSourceDone() ? 0 : ReadSource(AMaxFrames);
            if (n <= 0) {
                FPlan.SourceDone(ReadFrame());
                FOutBuf.clear();
                return false;
            }
            const char *p = reinterpret_cast<const char *>(FProcBuf.data());
            FOutBuf.assign(p, p + n * OutBlock());
            return true;
        }
        FOutBuf.resize(static_cast<size_t>(AMaxFrames * OutBlock()));
        for (;;) {
            const int got = FStretch->Receive(reinterpret_cast<int16_t *>(FOutBuf.data()), int(AMaxFrames));
            if (got > 0) {
                FOutBuf.resize(static_cast<size_t>(got) * OutBlock());
                return true;
            }
            if (FPlan.IsSourceDone()) {
                FOutBuf.clear();
                return false;
            }
            const qint64 n =
                ReadSource(std::max<qint64>(StretchReadFrames, qint64(AMaxFrames * FPlan.Listening().Speed)));
            if (n <= 0) {
                FPlan.SourceDone(ReadFrame());
                FStretch->Flush();
                continue;
            }
            FStretch->Put(FProcBuf.data(), int(n));
        }
    }

    void StartSink()
    {
        FStream->SeekBytes(FPlan.Placed() * InBlock());
        FOutWrittenBytes = 0;
        FEnded = false;
        FOutBuf.clear();
        FOutOff = 0;
        FStretch.reset();
        const double speed = FPlan.Listening().Speed;
        if (speed != 1.0)
            FStretch = std::make_unique<TTimeStretch>(FPlan.Rate(), FOutChannels, speed);
        // Opening a sink on a device that has gone (a headset pulled out) never returns: follow the sound
        // server, which moves running streams to the default output, or stay silent when there is none.
        if (!Listed(FDevice)) {
            const QAudioDevice fallback = QMediaDevices::defaultAudioOutput();
            if (fallback.isNull() || !Listed(fallback)) {
                FState = TState::Stopped;
                return;
            }
            FDevice = fallback;
        }
        FSink = std::make_unique<QAudioSink>(FDevice, FFormat);
        FSink->setBufferSize(static_cast<qsizetype>(FPlan.FramesOf(SinkBufferSec)) * OutBlock());
        FIo = FSink->start();
        // Made on this thread by the first start, Qt's sink connection to the sound server must not be
        // torn down at process exit (uAudioExit).
        GuardAudioExit(TAudioUse::auSinkStart);
        FPlan.StartSession(ReadFrame());
        if (!FIo || FSink->error() != QAudio::NoError) {
            DropSink();
            FState = TState::Stopped;
            return;
        }
        FState = TState::Playing;
        Feed();
        FTimer->start();
    }

    static bool Listed(const QAudioDevice &ADevice)
    {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        GuardAudioExit(TAudioUse::auDeviceQuery);
        return std::any_of(outputs.begin(), outputs.end(),
                           [&](const QAudioDevice &AOutput) { return AOutput.id() == ADevice.id(); });
    }

    void DropSink()
    {
        if (FTimer)
            FTimer->stop();
        if (FSink) {
            FPlan.EndSession(FSink->processedUSecs());
            FSink->stop();
            FSink.reset();
        }
        FIo = nullptr;
        FStretch.reset();
    }

    // Tops the sink up to AheadSec ahead of what is heard; declares the end once the last frame was heard.
    void Feed()
    {
        if (!FSink || FState != TState::Playing)
            return;
        if (FSink->error() != QAudio::NoError && FSink->error() != QAudio::UnderrunError) {
            // The device went away: playback ends where it was heard.
            DropSink();
            FState = TState::Stopped;
            return;
        }
        // Everything written was heard before the recording's end: the output ran dry (one count per spell).
        const bool dry = !FEnded && FOutWrittenBytes > 0 && FPlan.Ahead(ProcessedUSecs()) <= 0;
        if (dry && !FDry)
            ++FUnderruns;
        FDry = dry;
        for (;;) {
            if (FOutOff >= FOutBuf.size()) {
                if (FEnded)
                    break;
                // The sink's own free-space figure can stay at 0 while it runs dry, so the amount held
                // ahead of what was heard is kept at the buffer time by our own count.
                const qint64 room = std::max<qint64>(FPlan.FramesOf(AheadSec) - FPlan.Ahead(ProcessedUSecs()),
                                                     FSink->bytesFree() / OutBlock());
                const qint64 frames = std::min<qint64>(room, MaxFeedFrames);
                if (frames <= 0)
                    break;
                if (!Produce(frames)) {
                    FEnded = true;
                    FEndedClock.start();
                    break;
                }
            }
            const qint64 w = FIo->write(FOutBuf.data() + FOutOff, static_cast<qint64>(FOutBuf.size() - FOutOff));
            if (w <= 0)
                break;
            FOutOff += static_cast<size_t>(w);
            FOutWrittenBytes += w;
            FPlan.SetWritten(FOutWrittenBytes / OutBlock());
        }
        FPlan.Prune(ProcessedUSecs());
        if (FEnded && FOutOff >= FOutBuf.size()) {
            const bool drained = FPlan.Ahead(ProcessedUSecs()) <= 0 || FSink->state() == QAudio::IdleState;
            if (drained || FEndedClock.elapsed() > DrainGraceMs + static_cast<qint64>(SinkBufferSec * 1000)) {
                DropSink();
                FPlan.Place(FPlan.EndFrame());
                FState = TState::Stopped;
            }
        }
    }

    QAudioDevice FDevice;
    std::unique_ptr<TDecodeStream> FStream;  // null = nothing open: every command does nothing
    TPlaybackPlan FPlan;
    QAudioFormat FFormat;
    int FOutChannels = 0;
    // Members in lifetime order: the timer feeds the sink, the sink owns the device FIo.
    std::unique_ptr<QTimer> FTimer;
    std::unique_ptr<QAudioSink> FSink;
    QIODevice *FIo = nullptr;

    TState FState = TState::Stopped;
    // The running session (the plan holds its map).
    std::unique_ptr<TTimeStretch> FStretch;  // null at speed 1
    qint64 FOutWrittenBytes = 0;
    bool FEnded = false;  // the recording has ended and every output frame is made
    bool FDry = false;    // the last feed found the output run dry
    int FUnderruns = 0;   // dry spells since the stream was opened
    QElapsedTimer FEndedClock;
    std::vector<char> FInBuf;
    std::vector<int16_t> FProcBuf;  // input frames in the output's channels
    std::vector<char> FOutBuf;
    size_t FOutOff = 0;  // bytes of FOutBuf not yet taken by the sink
};

// The playback thread: makes the feeder, runs its event loop, and frees the feeder when the loop ends.
class TPlayback::TThread : public QThread {
public:
    explicit TThread(const QAudioDevice &ADevice) : FDevice(ADevice)
    {
        setObjectName(QStringLiteral("playback"));
    }

    // Starts the thread and returns its feeder once it is made.
    TFeeder *StartFeeder()
    {
        start(QThread::TimeCriticalPriority);
        FReady.acquire();
        return FFeeder;
    }

protected:
    void run() override
    {
        TFeeder feeder(FDevice);
        FFeeder = &feeder;
        FReady.release();
        exec();
    }

private:
    QAudioDevice FDevice;
    TFeeder *FFeeder = nullptr;
    QSemaphore FReady;
};

template <class F>
void TPlayback::OnFeeder(F &&AFunc) const
{
    TFeeder *feeder = FFeeder;
    QMetaObject::invokeMethod(feeder, [feeder, &AFunc] { AFunc(*feeder); }, Qt::BlockingQueuedConnection);
}

TPlayback::TPlayback(const QAudioDevice &ADevice)
    : FThread(std::make_unique<TThread>(ADevice))
{
    FFeeder = FThread->StartFeeder();
}

TPlayback::~TPlayback()
{
    // The sound stops inside the thread's event loop, as every command does; the feeder itself is freed
    // when the loop has ended.
    OnFeeder([](TFeeder &AFeeder) { AFeeder.Close(); });
    FThread->quit();
    FThread->wait();
}

bool TPlayback::Open(const QString &APath, qint64 AKnownBytes, const std::vector<TSecRange> &ASilence,
                     const TListening &AListening)
{
    bool ok = false;
    OnFeeder([&](TFeeder &AFeeder) { ok = AFeeder.Open(APath, AKnownBytes, ASilence, AListening); });
    return ok;
}

void TPlayback::Play()
{
    OnFeeder([](TFeeder &AFeeder) { AFeeder.Play(); });
}

void TPlayback::Pause()
{
    OnFeeder([](TFeeder &AFeeder) { AFeeder.Pause(); });
}

void TPlayback::Stop()
{
    OnFeeder([](TFeeder &AFeeder) { AFeeder.Stop(); });
}

void TPlayback::SeekSec(double ASec)
{
    OnFeeder([ASec](TFeeder &AFeeder) { AFeeder.SeekSec(ASec); });
}

TPlaybackSnapshot TPlayback::Snapshot() const
{
    TPlaybackSnapshot now;
    OnFeeder([&now](TFeeder &AFeeder) { now = AFeeder.Snapshot(); });
    return now;
}

void TPlayback::SetListening(const TListening &AListening)
{
    OnFeeder([&AListening](TFeeder &AFeeder) { AFeeder.SetListening(AListening); });
}

void TPlayback::SetSilence(const std::vector<TSecRange> &ASilence)
{
    OnFeeder([&ASilence](TFeeder &AFeeder) { AFeeder.SetSilence(ASilence); });
}
