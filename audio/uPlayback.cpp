// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#include "uPlayback.h"

#include "uAudioExit.h"
#include "uDecoder.h"
#include "uTimeStretch.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
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

struct TPlayback::Worker : QObject {
    enum class TState { Stopped, Playing, Paused };
    // From input frame InFrame of a session on, the input comes from recording frame SrcFrame on.
    struct TSegment {
        qint64 InFrame;
        qint64 SrcFrame;
    };

    explicit Worker(const QAudioDevice &device) : device(device) {}

    QAudioDevice device;
    std::unique_ptr<TDecodeStream> stream;
    QAudioFormat format;
    int rate = 0;
    int outChannels = 0;
    // Members in lifetime order: the timer feeds the sink, the sink owns the device `io`.
    std::unique_ptr<QTimer> timer;
    std::unique_ptr<QAudioSink> sink;
    QIODevice *io = nullptr;

    // The listener's choices.
    double speed = 1.0;
    TChannelMode channelMode = TChannelMode::cmBoth;
    qint64 loopStart = -1, loopEnd = -1;            // recording frames; -1 = no loop
    std::vector<std::pair<qint64, qint64>> skips;   // recording frames [start, end), ascending

    TState state = TState::Stopped;
    qint64 posFrames = 0;     // position while no sink runs (recording frames)
    // The running session: input = frames taken from the recording (after the jumps), output = frames
    // given to the sink.
    std::unique_ptr<TTimeStretch> stretch;  // null at speed 1
    std::deque<TSegment> segments;          // never empty while a sink runs
    qint64 inFed = 0;
    qint64 outWrittenBytes = 0;
    bool sourceDone = false;  // the recording delivered its last frame (the stretch is flushed)
    bool ended = false;       // ... and every output frame is made
    qint64 endFrame = 0;      // where the recording ended
    QElapsedTimer endedClock;
    std::vector<char> inBuf;
    std::vector<int16_t> procBuf;  // input frames in the output's channels
    std::vector<char> outBuf;
    size_t outOff = 0;        // bytes of outBuf not yet taken by the sink

    int InBlock() const { return stream->BlockAlign(); }
    int OutBlock() const { return outChannels * 2; }
    qint64 LengthFrames() const { return stream->LengthBytes() / InBlock(); }
    qint64 ReadFrame() const { return stream->PositionBytes() / InBlock(); }

    bool Open(const QString &path, qint64 knownBytes)
    {
        stream = std::make_unique<TDecodeStream>();
        if (!stream->OpenKnownLength(path, knownBytes) || stream->SampleRate() <= 0 || stream->Channels() <= 0) {
            stream.reset();
            return false;
        }
        rate = stream->SampleRate();
        format.setSampleRate(rate);
        format.setSampleFormat(QAudioFormat::Int16);
        outChannels = stream->Channels();
        format.setChannelCount(outChannels);
        if (!device.isFormatSupported(format) && outChannels > 2) {
            outChannels = 2;  // the first two channels are heard
            format.setChannelCount(outChannels);
        }
        timer = std::make_unique<QTimer>();
        timer->setInterval(FeedIntervalMs);
        QObject::connect(timer.get(), &QTimer::timeout, this, [this] { Feed(); });
        return true;
    }

    // Output frames heard in the running session.
    qint64 HeardOut() const
    {
        const qint64 frames = sink->processedUSecs() * rate / 1000000;
        return std::min(outWrittenBytes / OutBlock(), frames);
    }

    // The recording frame carried by output frame `out` of the running session.
    qint64 SourceOfOutput(qint64 out) const
    {
        qint64 in = stretch ? std::llround(double(out) * speed) : out;
        in = std::clamp<qint64>(in, 0, inFed);
        auto seg = std::upper_bound(segments.begin(), segments.end(), in,
                                    [](qint64 v, const TSegment &g) { return v < g.InFrame; });
        --seg;  // the first segment starts at input 0
        return seg->SrcFrame + (in - seg->InFrame);
    }

    // The recording frame being heard.
    qint64 Heard() const
    {
        if (!sink)
            return posFrames;
        return sourceDone && HeardOut() >= outWrittenBytes / OutBlock() ? endFrame : SourceOfOutput(HeardOut());
    }

    bool LoopActive() const { return loopStart >= 0 && loopEnd > loopStart; }

    // A skipped range that ends at or after the loop's end would carry playback out of the loop: it is
    // played instead, as long as playback has not passed the loop.
    bool SkipApplies(qint64 pos, const std::pair<qint64, qint64> &r) const
    {
        return !(LoopActive() && pos < loopEnd && r.second >= loopEnd);
    }

    // Where playback continues when it stands at pos: -1 = right here.
    qint64 JumpTarget(qint64 pos) const
    {
        if (LoopActive() && pos == loopEnd)
            return loopStart;
        for (const auto &r : skips)
            if (pos >= r.first && pos < r.second && SkipApplies(pos, r))
                return r.second;
        return -1;
    }

    // The next frame after pos at which a jump can happen.
    qint64 NextBoundary(qint64 pos) const
    {
        qint64 b = std::numeric_limits<qint64>::max();
        if (LoopActive() && pos < loopEnd)
            b = loopEnd;
        for (const auto &r : skips)
            if (r.first > pos && SkipApplies(pos, r)) {
                b = std::min(b, r.first);
                break;  // ascending: the first that applies is the nearest
            }
        return b;
    }

    void JumpTo(qint64 frame)
    {
        stream->SeekBytes(frame * InBlock());
        if (!segments.empty() && segments.back().InFrame == inFed)
            segments.back().SrcFrame = frame;
        else
            segments.push_back({inFed, frame});
    }

    // Reads up to maxFrames of the recording, following loop and skips, into procBuf in the output's
    // channels. 0 at the end of the recording.
    qint64 ReadSource(qint64 maxFrames)
    {
        // A loop start inside a skipped range makes two jumps in a row; more never happen, but a wrong
        // setting must not hang playback, so after a few jumps the data is read as it comes.
        for (int jumps = 0;; ++jumps) {
            const qint64 pos = ReadFrame();
            const qint64 target = jumps < 4 ? JumpTarget(pos) : -1;
            if (target >= 0 && target != pos) {
                JumpTo(target);
                continue;
            }
            const qint64 n = std::min(maxFrames, jumps < 4 ? NextBoundary(pos) - pos : maxFrames);
            inBuf.resize(static_cast<size_t>(n * InBlock()));
            const qint64 got = stream->Read(inBuf.data(), n * InBlock()) / InBlock();
            if (got <= 0)
                return 0;
            ConvertChannels(got);
            inFed += got;
            return got;
        }
    }

    // Frames of the recording to the output's channels: the first outChannels as they are, or the chosen
    // channel on every output (a mono recording has only the one).
    void ConvertChannels(qint64 frames)
    {
        const int inCh = stream->Channels();
        const int16_t *in = reinterpret_cast<const int16_t *>(inBuf.data());
        procBuf.resize(static_cast<size_t>(frames * outChannels));
        int16_t *out = procBuf.data();
        if (channelMode == TChannelMode::cmBoth) {
            if (inCh == outChannels) {
                std::copy(in, in + frames * inCh, out);
                return;
            }
            for (qint64 f = 0; f < frames; ++f)
                for (int c = 0; c < outChannels; ++c)
                    out[f * outChannels + c] = in[f * inCh + c];
            return;
        }
        const int solo = channelMode == TChannelMode::cmLeft ? 0 : std::min(1, inCh - 1);
        for (qint64 f = 0; f < frames; ++f)
            for (int c = 0; c < outChannels; ++c)
                out[f * outChannels + c] = in[f * inCh + solo];
    }

    // Makes up to maxFrames output frames in outBuf. False when the recording has ended and all is out.
    bool Produce(qint64 maxFrames)
    {
        outOff = 0;
        if (!stretch) {
            const qint64 n = sourceDone ? 0 : ReadSource(maxFrames);
            if (n <= 0) {
                MarkSourceDone();
                outBuf.clear();
                return false;
            }
            const char *p = reinterpret_cast<const char *>(procBuf.data());
            outBuf.assign(p, p + n * OutBlock());
            return true;
        }
        outBuf.resize(static_cast<size_t>(maxFrames * OutBlock()));
        for (;;) {
            const int got = stretch->Receive(reinterpret_cast<int16_t *>(outBuf.data()), int(maxFrames));
            if (got > 0) {
                outBuf.resize(static_cast<size_t>(got) * OutBlock());
                return true;
            }
            if (sourceDone) {
                outBuf.clear();
                return false;
            }
            const qint64 n = ReadSource(std::max<qint64>(StretchReadFrames, qint64(maxFrames * speed)));
            if (n <= 0) {
                MarkSourceDone();
                stretch->Flush();
                continue;
            }
            stretch->Put(procBuf.data(), int(n));
        }
    }

    void MarkSourceDone()
    {
        if (!sourceDone) {
            sourceDone = true;
            endFrame = ReadFrame();
        }
    }

    void StartSink()
    {
        stream->SeekBytes(posFrames * InBlock());
        segments.assign(1, TSegment{0, ReadFrame()});
        inFed = 0;
        outWrittenBytes = 0;
        sourceDone = false;
        ended = false;
        outBuf.clear();
        outOff = 0;
        stretch.reset();
        if (speed != 1.0)
            stretch = std::make_unique<TTimeStretch>(rate, outChannels, speed);
        // Opening a sink on a device that has gone (a headset pulled out) never returns: follow the sound
        // server, which moves running streams to the default output, or stay silent when there is none.
        if (!Listed(device)) {
            const QAudioDevice fallback = QMediaDevices::defaultAudioOutput();
            if (fallback.isNull() || !Listed(fallback)) {
                state = TState::Stopped;
                return;
            }
            device = fallback;
        }
        sink = std::make_unique<QAudioSink>(device, format);
        sink->setBufferSize(static_cast<qsizetype>(SinkBufferSec * rate) * OutBlock());
        io = sink->start();
        // Made on this thread by the first start, Qt's sink connection to the sound server must not be
        // torn down at process exit (uAudioExit).
        GuardAudioExit(TAudioUse::auSinkStart);
        if (!io || sink->error() != QAudio::NoError) {
            DropSink();
            state = TState::Stopped;
            return;
        }
        state = TState::Playing;
        Feed();
        timer->start();
    }

    static bool Listed(const QAudioDevice &d)
    {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        GuardAudioExit(TAudioUse::auDeviceQuery);
        return std::any_of(outputs.begin(), outputs.end(), [&](const QAudioDevice &o) { return o.id() == d.id(); });
    }

    void DropSink()
    {
        if (timer)
            timer->stop();
        if (sink) {
            posFrames = Heard();
            sink->stop();
            sink.reset();
        }
        io = nullptr;
        stretch.reset();
    }

    void Feed()
    {
        if (!sink || state != TState::Playing)
            return;
        if (sink->error() != QAudio::NoError && sink->error() != QAudio::UnderrunError) {
            // The device went away: playback ends where it was heard.
            DropSink();
            state = TState::Stopped;
            return;
        }
        for (;;) {
            if (outOff >= outBuf.size()) {
                if (ended)
                    break;
                // The sink's own free-space figure can stay at 0 while it runs dry, so the amount held
                // ahead of what was heard is kept at the buffer time by our own count.
                const qint64 ahead = outWrittenBytes / OutBlock() - HeardOut();
                const qint64 room = std::max<qint64>(static_cast<qint64>(AheadSec * rate) - ahead,
                                                     sink->bytesFree() / OutBlock());
                const qint64 frames = std::min<qint64>(room, MaxFeedFrames);
                if (frames <= 0)
                    break;
                if (!Produce(frames)) {
                    ended = true;
                    endedClock.start();
                    break;
                }
            }
            const qint64 w = io->write(outBuf.data() + outOff, static_cast<qint64>(outBuf.size() - outOff));
            if (w <= 0)
                break;
            outOff += static_cast<size_t>(w);
            outWrittenBytes += w;
        }
        PruneSegments();
        if (ended && outOff >= outBuf.size()) {
            const bool drained = HeardOut() >= outWrittenBytes / OutBlock() || sink->state() == QAudio::IdleState;
            if (drained || endedClock.elapsed() > DrainGraceMs + static_cast<qint64>(SinkBufferSec * 1000)) {
                DropSink();
                posFrames = endFrame;
                state = TState::Stopped;
            }
        }
    }

    // Segments that lie wholly before what is being heard are not needed any more.
    void PruneSegments()
    {
        if (segments.size() < 2)
            return;
        const qint64 heardIn = std::min(stretch ? std::llround(double(HeardOut()) * speed) : HeardOut(), inFed);
        while (segments.size() > 1 && segments[1].InFrame <= heardIn)
            segments.pop_front();
    }

    void Play()
    {
        if (!stream || state == TState::Playing)
            return;
        StartSink();
    }

    void Pause()
    {
        if (state != TState::Playing)
            return;
        DropSink();
        state = TState::Paused;
    }

    void Seek(qint64 frame)
    {
        if (!stream)
            return;
        frame = std::clamp<qint64>(frame, 0, LengthFrames());
        if (state == TState::Playing) {
            DropSink();
            posFrames = frame;
            StartSink();
        } else {
            posFrames = frame;
        }
    }

    // Playing on from what is heard, so that a new choice also holds for what was already made ahead.
    void Restart()
    {
        if (state == TState::Playing)
            Seek(Heard());
    }

    // After a change of loop or skips: restart only when the output made ahead could now be wrong (it
    // holds a jump, or passes a point where a jump now is), so that dragging a selection while playing
    // does not interrupt the sound.
    void RestartIfAheadChanged()
    {
        if (state != TState::Playing || !sink)
            return;
        const qint64 heard = Heard();
        if (segments.size() > 1 || JumpTarget(heard) >= 0 || NextBoundary(heard) <= ReadFrame())
            Seek(heard);
    }

    void Close()
    {
        DropSink();
        timer.reset();
        stream.reset();
    }
};

namespace {
template <class F>
void OnThread(TPlayback::Worker *w, F &&f)
{
    QMetaObject::invokeMethod(w, std::forward<F>(f), Qt::BlockingQueuedConnection);
}
} // namespace

TPlayback::TPlayback(const QAudioDevice &device)
{
    FThread.setObjectName(QStringLiteral("playback"));
    FWorker = new Worker(device);
    FWorker->moveToThread(&FThread);
    FThread.start(QThread::TimeCriticalPriority);
}

TPlayback::~TPlayback()
{
    OnThread(FWorker, [w = FWorker] { w->Close(); });
    FThread.quit();
    FThread.wait();
    delete FWorker;
}

bool TPlayback::Open(const QString &path, qint64 AKnownBytes)
{
    bool ok = false;
    OnThread(FWorker, [w = FWorker, &path, AKnownBytes, &ok] { ok = w->Open(path, AKnownBytes); });
    return ok;
}

void TPlayback::Play()
{
    OnThread(FWorker, [w = FWorker] { w->Play(); });
}

void TPlayback::Pause()
{
    OnThread(FWorker, [w = FWorker] { w->Pause(); });
}

void TPlayback::Stop()
{
    OnThread(FWorker, [w = FWorker] {
        w->Pause();
        w->Seek(0);
    });
}

void TPlayback::SeekSec(double sec)
{
    OnThread(FWorker, [w = FWorker, sec] {
        if (w->stream)
            w->Seek(w->stream->SecondsToBytes(std::max(sec, 0.0)) / w->InBlock());
    });
}

double TPlayback::PositionSec() const
{
    double sec = 0;
    OnThread(FWorker, [w = FWorker, &sec] {
        if (w->stream) {
            w->Feed();  // notices the end of the data at once
            sec = w->stream->BytesToSeconds(w->Heard() * w->InBlock());
        }
    });
    return sec;
}

bool TPlayback::IsPlaying() const
{
    bool r = false;
    OnThread(FWorker, [w = FWorker, &r] {
        w->Feed();
        r = w->state == Worker::TState::Playing;
    });
    return r;
}

bool TPlayback::IsPaused() const
{
    bool r = false;
    OnThread(FWorker, [w = FWorker, &r] { r = w->state == Worker::TState::Paused; });
    return r;
}

void TPlayback::SetSpeed(double speed)
{
    speed = std::clamp(speed, MinPlaySpeed, MaxPlaySpeed);
    OnThread(FWorker, [w = FWorker, speed] {
        if (w->speed == speed)
            return;
        w->speed = speed;
        w->Restart();
    });
}

void TPlayback::SetChannelMode(TChannelMode mode)
{
    OnThread(FWorker, [w = FWorker, mode] {
        if (w->channelMode == mode)
            return;
        w->channelMode = mode;
        w->Restart();
    });
}

void TPlayback::SetLoopRange(double startSec, double endSec)
{
    OnThread(FWorker, [w = FWorker, startSec, endSec] {
        if (!w->stream)
            return;
        qint64 a = -1, b = -1;
        if (startSec >= 0 && endSec > startSec) {
            a = w->stream->SecondsToBytes(startSec) / w->InBlock();
            b = std::min(w->stream->SecondsToBytes(endSec) / w->InBlock(), w->LengthFrames());
            if (b <= a)
                a = b = -1;
        }
        if (a == w->loopStart && b == w->loopEnd)
            return;
        w->loopStart = a;
        w->loopEnd = b;
        w->RestartIfAheadChanged();
    });
}

void TPlayback::SetSkipRanges(const std::vector<TSecRange> &ranges)
{
    OnThread(FWorker, [w = FWorker, &ranges] {
        if (!w->stream)
            return;
        std::vector<std::pair<qint64, qint64>> frames;
        for (const TSecRange &r : ranges) {
            const qint64 a = w->stream->SecondsToBytes(std::max(r.StartSec, 0.0)) / w->InBlock();
            const qint64 b = std::min(w->stream->SecondsToBytes(r.EndSec) / w->InBlock(), w->LengthFrames());
            if (b > a)
                frames.emplace_back(a, b);
        }
        if (frames == w->skips)
            return;
        w->skips = std::move(frames);
        w->RestartIfAheadChanged();
    });
}
