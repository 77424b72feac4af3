// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#include "uPlayback.h"

#include "uDecoder.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {
// How much sound the sink holds ahead of what is heard, and how often it is topped up.
constexpr double SinkBufferSec = 0.25;
constexpr double AheadSec = 0.5;  // written but not yet heard, at most (the server holds part of it)
constexpr int FeedIntervalMs = 10;
// After the last byte went out, the end is declared at the latest after the buffer time plus this.
constexpr qint64 DrainGraceMs = 1000;
} // namespace

struct TPlayback::Worker : QObject {
    enum class TState { Stopped, Playing, Paused };

    explicit Worker(const QAudioDevice &device) : device(device) {}

    QAudioDevice device;
    std::unique_ptr<TDecodeStream> stream;
    QAudioFormat format;
    int outChannels = 0;
    // Members in lifetime order: the timer feeds the sink, the sink owns the device `io`.
    std::unique_ptr<QTimer> timer;
    std::unique_ptr<QAudioSink> sink;
    QIODevice *io = nullptr;

    TState state = TState::Stopped;
    qint64 posBytes = 0;      // position while no sink runs (stream bytes)
    qint64 sessionBase = 0;   // stream position where the running sink started
    qint64 written = 0;       // stream bytes the sink took in this session
    bool ended = false;       // the stream delivered its last byte
    QElapsedTimer endedClock;
    std::vector<char> inBuf, outBuf;
    size_t outOff = 0;        // bytes of outBuf not yet taken by the sink

    int InBlock() const { return stream->BlockAlign(); }
    int OutBlock() const { return outChannels * 2; }

    bool Open(const QString &path)
    {
        stream = std::make_unique<TDecodeStream>();
        if (!stream->Open(path) || stream->SampleRate() <= 0 || stream->Channels() <= 0) {
            stream.reset();
            return false;
        }
        format.setSampleRate(stream->SampleRate());
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

    // Stream bytes that have been heard in the running session.
    qint64 Heard() const
    {
        if (!sink)
            return posBytes;
        const qint64 usec = sink->processedUSecs();
        const qint64 frames = usec * stream->SampleRate() / 1000000;
        return sessionBase + std::min(written, frames * InBlock());
    }

    void StartSink()
    {
        stream->SeekBytes(posBytes);
        sessionBase = stream->PositionBytes();
        written = 0;
        ended = false;
        outBuf.clear();
        outOff = 0;
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
        sink->setBufferSize(static_cast<qsizetype>(SinkBufferSec * stream->SampleRate()) * OutBlock());
        io = sink->start();
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
        return std::any_of(outputs.begin(), outputs.end(), [&](const QAudioDevice &o) { return o.id() == d.id(); });
    }

    void DropSink()
    {
        if (timer)
            timer->stop();
        if (sink) {
            posBytes = Heard();
            sink->stop();
            sink.reset();
        }
        io = nullptr;
    }

    // Converts frames of the stream to the channels the sink takes (drops channels past the second).
    void Convert(qint64 n)
    {
        if (outChannels == stream->Channels()) {
            outBuf.assign(inBuf.begin(), inBuf.begin() + n);
            return;
        }
        const int inCh = stream->Channels();
        const qint64 frames = n / InBlock();
        outBuf.resize(static_cast<size_t>(frames * OutBlock()));
        const int16_t *in = reinterpret_cast<const int16_t *>(inBuf.data());
        int16_t *out = reinterpret_cast<int16_t *>(outBuf.data());
        for (qint64 f = 0; f < frames; ++f)
            for (int c = 0; c < outChannels; ++c)
                out[f * outChannels + c] = in[f * inCh + c];
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
                const qint64 ahead = written - (Heard() - sessionBase);
                const qint64 room = std::max<qint64>(
                    static_cast<qint64>(AheadSec * stream->SampleRate()) * InBlock() - ahead,
                    sink->bytesFree() / OutBlock() * InBlock());
                const qint64 frames = std::min<qint64>(room, 65536) / InBlock();
                if (frames <= 0)
                    break;
                inBuf.resize(static_cast<size_t>(frames * InBlock()));
                const qint64 n = stream->Read(inBuf.data(), frames * InBlock());
                if (n <= 0) {
                    ended = true;
                    endedClock.start();
                    break;
                }
                written += n;
                Convert(n);
                outOff = 0;
            }
            const qint64 w = io->write(outBuf.data() + outOff, static_cast<qint64>(outBuf.size() - outOff));
            if (w <= 0)
                break;
            outOff += static_cast<size_t>(w);
        }
        if (ended && outOff >= outBuf.size()) {
            const bool drained = Heard() >= sessionBase + written || sink->state() == QAudio::IdleState;
            if (drained || endedClock.elapsed() > DrainGraceMs + static_cast<qint64>(SinkBufferSec * 1000)) {
                DropSink();
                posBytes = sessionBase + written;
                state = TState::Stopped;
            }
        }
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

    void Seek(qint64 bytes)
    {
        if (!stream)
            return;
        bytes = std::clamp<qint64>(bytes, 0, stream->LengthBytes());
        if (state == TState::Playing) {
            DropSink();
            posBytes = bytes;
            StartSink();
        } else {
            posBytes = bytes;
        }
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

bool TPlayback::Open(const QString &path)
{
    bool ok = false;
    OnThread(FWorker, [w = FWorker, &path, &ok] { ok = w->Open(path); });
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
            w->Seek(w->stream->SecondsToBytes(std::max(sec, 0.0)));
    });
}

double TPlayback::PositionSec() const
{
    double sec = 0;
    OnThread(FWorker, [w = FWorker, &sec] {
        if (w->stream) {
            w->Feed();  // notices the end of the data at once
            sec = w->stream->BytesToSeconds(w->Heard());
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
