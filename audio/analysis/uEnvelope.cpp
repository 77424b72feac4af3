// Waveform envelope pass: per point the extremes of the left channel and of all other channels.
#include "uEnvelope.h"
#include "uEnvelopePass.h"

#include "uDecoder.h"
#include "uPartProgress.h"
#include "uThreadGroup.h"

#include <QThread>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Extremes of `count` samples that all belong to one side, starting from 0 (a point starts at 0).
struct TMinMax {
    int16_t mn = 0;
    int16_t mx = 0;
};

// Mono: every sample is the left channel. Stereo: even samples left, odd samples right.
// ACount samples from ASamples; lanes of even index go to ALeft, odd ones to ARight (for mono both are the
// same side).
void MinMaxInterleaved2(const int16_t *ASamples, qint64 ACount, TMinMax &ALeft, TMinMax &ARight)
{
    qint64 i = 0;
#ifdef __SSE2__
    __m128i mn0 = _mm_setzero_si128(), mx0 = _mm_setzero_si128();
    __m128i mn1 = _mm_setzero_si128(), mx1 = _mm_setzero_si128();
    for (; i + 16 <= ACount; i += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ASamples + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ASamples + i + 8));
        mn0 = _mm_min_epi16(mn0, v0);
        mx0 = _mm_max_epi16(mx0, v0);
        mn1 = _mm_min_epi16(mn1, v1);
        mx1 = _mm_max_epi16(mx1, v1);
    }
    mn0 = _mm_min_epi16(mn0, mn1);
    mx0 = _mm_max_epi16(mx0, mx1);
    int16_t lmn[8], lmx[8];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lmn), mn0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lmx), mx0);
    for (int k = 0; k < 8; k += 2) {
        ALeft.mn = std::min(ALeft.mn, lmn[k]);
        ALeft.mx = std::max(ALeft.mx, lmx[k]);
        ARight.mn = std::min(ARight.mn, lmn[k + 1]);
        ARight.mx = std::max(ARight.mx, lmx[k + 1]);
    }
#endif
    for (; i < ACount; ++i) {
        TMinMax &t = (i & 1) ? ARight : ALeft;
        t.mn = std::min(t.mn, ASamples[i]);
        t.mx = std::max(t.mx, ASamples[i]);
    }
}

void Merge(TEnvPoint &APoint, const TMinMax &ALeft, const TMinMax &ARight)
{
    APoint.MnL = std::min(APoint.MnL, ALeft.mn);
    APoint.MxL = std::max(APoint.MxL, ALeft.mx);
    APoint.MnR = std::min(APoint.MnR, ARight.mn);
    APoint.MxR = std::max(APoint.MxR, ARight.mx);
}

} // namespace

TEnvelopeFigures EnvelopeFigures(qint64 ALengthBytes, int AChannels)
{
    TEnvelopeFigures f;
    f.LengthBytes = std::max<qint64>(ALengthBytes, 0);
    f.Frames = std::max<qint64>(f.LengthBytes / (std::max(AChannels, 1) * 2), 1);
    f.EnvCount = static_cast<int>(std::max<qint64>(std::min<qint64>(f.Frames, MaxEnvPoints), 1));
    f.FramesPerPoint = std::max<qint64>(static_cast<qint64>(std::ceil(static_cast<double>(f.Frames) / f.EnvCount)), 1);
    return f;
}

TEnvelopeAccumulator::TEnvelopeAccumulator(const TEnvelopeFigures &AFigures, int AChannels, TEnvPoint *APoints,
                                           qint64 AFirstFrame)
    : FFig(AFigures), FChannels(std::max(AChannels, 1)), FPoints(APoints), FFrame(AFirstFrame)
{
}

void TEnvelopeAccumulator::FeedScalar(const int16_t *ASamples, qint64 ACount)
{
    const qint64 last = FFig.EnvCount - 1;
    for (qint64 i = 0; i < ACount; ++i) {
        TEnvPoint &p = FPoints[std::min(FFrame / FFig.FramesPerPoint, last)];
        if (FChannel == 0) {
            p.MnL = std::min(p.MnL, ASamples[i]);
            p.MxL = std::max(p.MxL, ASamples[i]);
        } else {
            p.MnR = std::min(p.MnR, ASamples[i]);
            p.MxR = std::max(p.MxR, ASamples[i]);
        }
        if (++FChannel == FChannels) {
            FChannel = 0;
            ++FFrame;
        }
    }
}

// Whole frames, starting at a frame boundary: one run per point, with fixed-channel loops.
void TEnvelopeAccumulator::FeedFrames(const int16_t *ASamples, qint64 AFrames)
{
    const qint64 last = FFig.EnvCount - 1;
    while (AFrames > 0) {
        const qint64 point = std::min(FFrame / FFig.FramesPerPoint, last);
        const qint64 run = point == last ? AFrames : std::min(AFrames, (point + 1) * FFig.FramesPerPoint - FFrame);
        TEnvPoint &p = FPoints[point];
        TMinMax l, r;
        if (FChannels == 1) {
            TMinMax odd;
            MinMaxInterleaved2(ASamples, run, l, odd);
            l.mn = std::min(l.mn, odd.mn);
            l.mx = std::max(l.mx, odd.mx);
        } else if (FChannels == 2) {
            MinMaxInterleaved2(ASamples, run * 2, l, r);
        } else {
            const int16_t *f = ASamples;
            for (qint64 k = 0; k < run; ++k, f += FChannels) {
                l.mn = std::min(l.mn, f[0]);
                l.mx = std::max(l.mx, f[0]);
                for (int c = 1; c < FChannels; ++c) {
                    r.mn = std::min(r.mn, f[c]);
                    r.mx = std::max(r.mx, f[c]);
                }
            }
        }
        Merge(p, l, r);
        ASamples += run * FChannels;
        AFrames -= run;
        FFrame += run;
    }
}

void TEnvelopeAccumulator::Feed(const void *AData, qint64 AByteCount)
{
    if (AByteCount <= 0)
        return;
    qint64 count = AByteCount / 2;
    std::vector<int16_t> aligned;
    const int16_t *s = static_cast<const int16_t *>(AData);
    if (reinterpret_cast<quintptr>(AData) % alignof(int16_t) != 0) {
        aligned.resize(static_cast<size_t>(count));
        std::memcpy(aligned.data(), AData, static_cast<size_t>(count) * 2);
        s = aligned.data();
    }
    // Finish a frame that the previous read left open, then whole frames, then the start of the next.
    if (FChannel != 0) {
        const qint64 head = std::min<qint64>(count, FChannels - FChannel);
        FeedScalar(s, head);
        s += head;
        count -= head;
    }
    const qint64 frames = count / FChannels;
    FeedFrames(s, frames);
    FeedScalar(s + frames * FChannels, count - frames * FChannels);
}

TEnvelopeBuilder::TEnvelopeBuilder(qint64 ALengthBytes, int AChannels, TProgressProc AProgress)
    : FFig(EnvelopeFigures(ALengthBytes, AChannels)),
      FChannels(std::max(AChannels, 1)),
      FReporter(AProgress, FFig.LengthBytes, TPercentRounding::HalfEven),
      FPoints(static_cast<size_t>(FFig.EnvCount)),
      FAcc(FFig, FChannels, FPoints.data())
{
}

void TEnvelopeBuilder::Feed(const void *AData, qint64 AByteCount)
{
    if (AByteCount <= 0)
        return;
    FAcc.Feed(AData, AByteCount);
    FBytesRead += AByteCount;
    FReporter.Report(FBytesRead);
}

TEnvArray TEnvelopeBuilder::Finish()
{
    if (FChannels < 2) {
        for (TEnvPoint &p : FPoints) {
            p.MnR = p.MnL;
            p.MxR = p.MxL;
        }
    }
    FReporter.Finish(true);  // the closing 100, also after a report of 100
    return std::make_shared<const std::vector<TEnvPoint>>(std::move(FPoints));
}

void TEnvelopeWatch::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FCancel = true;
    }
    FResume.notify_all();
}

void TEnvelopeWatch::SetPaused(bool AOn)
{
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FPaused = AOn;
    }
    FResume.notify_all();
}

bool TEnvelopeWatch::Checkpoint()
{
    if (FCancel.load(std::memory_order_relaxed))
        return true;
    std::unique_lock<std::mutex> lock(FMutex);
    FResume.wait(lock, [this] { return !FPaused || FCancel.load(); });
    return FCancel.load();
}

void TEnvelopeWatch::Begin(const TEnvPoint *APoints, const TEnvelopeFigures &AFig, int AChannels,
                           const std::vector<qint64> &AStarts)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FPoints = APoints;
    FFig = AFig;
    FChannels = AChannels;
    FStarts = AStarts;
    const size_t parts = AStarts.size() > 1 ? AStarts.size() - 1 : 0;
    FReached.reset(new std::atomic<qint64>[parts]);
    for (size_t k = 0; k < parts; ++k)
        FReached[k].store(AStarts[k], std::memory_order_relaxed);
}

void TEnvelopeWatch::Reached(int APart, qint64 AFrame)
{
    // Release: the points written before this frame are seen complete by the thread that takes them.
    FReached[size_t(APart)].store(AFrame, std::memory_order_release);
}

void TEnvelopeWatch::End()
{
    std::lock_guard<std::mutex> lock(FMutex);
    FPoints = nullptr;
}

int TEnvelopeWatch::TakeFinished(std::vector<TEnvPoint> &APoints, std::vector<char> &AKnown)
{
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FPoints)
        return -1;
    const qint64 count = FFig.EnvCount;
    APoints.assign(size_t(count), TEnvPoint{});
    AKnown.assign(size_t(count), 0);
    int finished = 0;
    // The last point also takes the frames beyond the figures' length: it is finished only with the pass.
    const qint64 lastOpen = count - 1;
    for (size_t k = 0; k + 1 < FStarts.size(); ++k) {
        const qint64 from = std::min(FStarts[k] / FFig.FramesPerPoint, lastOpen);
        const qint64 to = std::min(FReached[k].load(std::memory_order_acquire) / FFig.FramesPerPoint, lastOpen);
        for (qint64 i = from; i < to; ++i) {
            TEnvPoint p = FPoints[i];
            if (FChannels < 2) {
                p.MnR = p.MnL;
                p.MxR = p.MxL;
            }
            APoints[size_t(i)] = p;
            AKnown[size_t(i)] = 1;
            ++finished;
        }
    }
    return finished;
}

namespace {

double ThreadCpuSec()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

TEnvelopeResult SequentialPass(TDecodeStream &AStream, TEnvelopeResult ARes, const TProgressProc &AProgress,
                               TEnvelopeWatch *AWatch)
{
    TEnvelopeBuilder builder(ARes.Figures.LengthBytes, ARes.Channels, AProgress);
    std::vector<char> buffer(static_cast<size_t>(EnvelopeReadBytes));
    const qint64 blockAlign = qint64(ARes.Channels) * 2;
    qint64 fed = 0;
    if (AWatch)
        AWatch->Begin(builder.Points(), ARes.Figures, ARes.Channels, {0, -1});
    for (;;) {
        const qint64 n = AStream.Read(buffer.data(), EnvelopeReadBytes);
        if (n <= 0)
            break;
        builder.Feed(buffer.data(), n);
        fed += n;
        if (AWatch) {
            AWatch->Reached(0, fed / blockAlign);
            if (AWatch->Checkpoint()) {
                ARes.Cancelled = true;
                break;
            }
        }
    }
    if (AWatch)
        AWatch->End();
    ARes.Envelope = builder.Finish();
    ARes.EnvCount = static_cast<int>(ARes.Envelope->size());
    return ARes;
}

// Decodes the frames [AFirst, AEnd) of an open stream into the shared points (AEnd -1: to the end of the
// data). The stream must stand at AFirst. Each read is counted in AProgress, and AAfterRead runs.
// Stops early once AStop is set.
// With a watch, the frames done are published there as part APart after each read, and a cancel or a
// pause is taken between reads.
template <class AfterRead>
void DecodeRange(TDecodeStream &AStream, const TEnvelopeFigures &AFig, int AChannels, TEnvPoint *APoints, qint64 AFirst,
                 qint64 AEnd, TPartProgress &AProgress, AfterRead AAfterRead, const std::atomic<bool> *AStop = nullptr,
                 TEnvelopeWatch *AWatch = nullptr, int APart = 0)
{
    TEnvelopeAccumulator acc(AFig, AChannels, APoints, AFirst);
    std::vector<char> buffer(static_cast<size_t>(EnvelopeReadBytes));
    const qint64 blockAlign = qint64(AChannels) * 2;
    qint64 left = AEnd < 0 ? -1 : (AEnd - AFirst) * blockAlign;
    qint64 fed = 0;
    while (left != 0 && !(AStop && AStop->load(std::memory_order_relaxed))) {
        const qint64 want = left < 0 ? EnvelopeReadBytes : std::min(left, EnvelopeReadBytes);
        const qint64 n = AStream.Read(buffer.data(), want);
        if (n <= 0)
            break;
        acc.Feed(buffer.data(), n);
        if (left > 0)
            left -= n;
        fed += n;
        AProgress.Add(n);
        AAfterRead();
        if (AWatch) {
            AWatch->Reached(APart, AFirst + fed / blockAlign);
            if (AWatch->Checkpoint())
                break;
        }
    }
}

// AThreads decode the frames in ARanges ranges side by side; the ranges are taken in order from the start
// (the calling thread takes the first, on the stream open at its start).
TEnvelopeResult MultiPartPass(TDecodeStream &AStream, TEnvelopeResult ARes, const TProgressProc &AProgress,
                              int AThreads, int ARanges, TEnvelopePassClock *AClock, TEnvelopeWatch *AWatch)
{
    if (AClock)
        AClock->Parts(AThreads);
    const TEnvelopeFigures fig = ARes.Figures;
    const int channels = ARes.Channels;
    // Ranges start on point boundaries, so no point is shared: they write into one array side by side.
    const qint64 usedPoints =
        std::min<qint64>((fig.Frames + fig.FramesPerPoint - 1) / fig.FramesPerPoint, fig.EnvCount);
    std::vector<qint64> start(static_cast<size_t>(ARanges) + 1);
    for (int k = 0; k < ARanges; ++k)
        start[size_t(k)] = usedPoints * k / ARanges * fig.FramesPerPoint;
    start[size_t(ARanges)] = -1;  // the last range reads to the end of the data

    std::vector<TEnvPoint> points(static_cast<size_t>(fig.EnvCount));
    if (AWatch)
        AWatch->Begin(points.data(), fig, channels, start);
    TPartProgress done;
    std::vector<char> failed(static_cast<size_t>(ARanges), 0);
    std::atomic<int> nextRange{1};  // range 0 is the calling thread's first
    // After data the decoder refused, or data missing between frames (damage), a straight decode delivers
    // the rest earlier than the timestamps a range seeks by, so no range after the damage lines up any more:
    // all ranges stop, and the envelope is made by one sequential pass instead. A cancel stops them too.
    std::atomic<bool> stop{false};
    std::atomic<bool> damaged{false};
    auto stopped = [&] { return stop.load() || (AWatch && AWatch->Cancelled()); };
    // Whole percentages below 100 as they rise; the closing 100 comes at the end.
    TPercentReporter reporter(AProgress, fig.LengthBytes, TPercentRounding::HalfEven, true);
    // Decodes range APart on a stream (placed there first unless AAtStart); AAfterRead runs after each read.
    auto decode = [&](TDecodeStream &APartStream, int APart, bool AAtStart, auto AAfterRead) {
        if (!AAtStart && !APartStream.SeekBytes(start[size_t(APart)] * channels * 2)) {
            failed[size_t(APart)] = 1;
            return;
        }
        auto noteDamage = [&] {
            if (APartStream.Damaged()) {
                damaged = true;
                stop = true;
            }
        };
        auto check = [&] {
            noteDamage();
            AAfterRead();
        };
        noteDamage();  // the seek's pre-roll may have met it already
        DecodeRange(APartStream, fig, channels, points.data(), start[size_t(APart)], start[size_t(APart) + 1], done,
                    check, &stop, AWatch, APart);
    };
    {
        TThreadGroup workers;
        for (int t = 1; t < AThreads; ++t) {
            workers.Start([&, t] {
                const double cpu0 = AClock ? ThreadCpuSec() : 0;
                TDecodeStream part;
                const bool opened = part.OpenLike(AStream);
                for (int k = nextRange++; k < ARanges && !stopped(); k = nextRange++) {
                    if (opened)
                        decode(part, k, false, [] {});
                    else
                        failed[size_t(k)] = 1;
                }
                if (AClock)
                    AClock->PartSpent(t, ThreadCpuSec() - cpu0);
                done.PartFinished();
            });
        }
        const double cpu0 = AClock ? ThreadCpuSec() : 0;
        auto report = [&] { reporter.Report(done.Done()); };
        decode(AStream, 0, true, report);
        for (int k = nextRange++; k < ARanges && !stopped(); k = nextRange++)
            decode(AStream, k, false, report);
        if (AClock)
            AClock->PartSpent(0, ThreadCpuSec() - cpu0);
        qint64 seen = done.Done();
        for (bool all = false; !all;) {
            seen = done.WaitBeyond(seen, AThreads - 1, all);
            reporter.Report(seen);
        }
        // A range whose stream could not be opened or placed (the file went away meanwhile): this stream
        // decodes it after all. When that fails too its points stay 0, as after a read failure.
        for (int k = 1; k < ARanges && !stopped(); ++k) {
            if (failed[size_t(k)])
                decode(AStream, k, false, report);
        }
    }
    if (AWatch && AWatch->Cancelled()) {
        AWatch->End();
        ARes.Cancelled = true;
        return ARes;
    }
    if (damaged) {
        // From the start again, in one piece; percentages go on rising from where they stood.
        if (AWatch)
            AWatch->End();
        points.assign(static_cast<size_t>(fig.EnvCount), TEnvPoint{});
        if (AWatch)
            AWatch->Begin(points.data(), fig, channels, {0, -1});
        TPartProgress again;
        const double cpu0 = AClock ? ThreadCpuSec() : 0;
        if (AStream.SeekBytes(0))
            DecodeRange(AStream, fig, channels, points.data(), 0, -1, again, [&] { reporter.Report(again.Done()); },
                        nullptr, AWatch, 0);
        if (AClock)
            AClock->PartSpent(0, ThreadCpuSec() - cpu0);
    }
    if (AWatch) {
        AWatch->End();
        if (AWatch->Cancelled()) {
            ARes.Cancelled = true;
            return ARes;
        }
    }
    if (channels < 2) {
        for (TEnvPoint &p : points) {
            p.MnR = p.MnL;
            p.MxR = p.MxL;
        }
    }
    reporter.Finish(true);
    ARes.Envelope = std::make_shared<const std::vector<TEnvPoint>>(std::move(points));
    ARes.EnvCount = fig.EnvCount;
    return ARes;
}

} // namespace

int EnvelopePartCount(const TDecodeStream &AStream, int AParts)
{
    if (!AStream.SeeksDirectly())
        return 1;
    const int channels = std::max(AStream.Channels(), 1);
    const TEnvelopeFigures fig = EnvelopeFigures(AStream.LengthBytes(), channels);
    if (AParts <= 0) {
        AParts = std::clamp(QThread::idealThreadCount(), 1, MaxEnvelopeParts);
        const double seconds = AStream.BytesToSeconds(fig.LengthBytes);
        AParts = std::min<qint64>(AParts, std::max<qint64>(static_cast<qint64>(seconds / MinEnvelopePartSec), 1));
    }
    const qint64 usedPoints =
        std::min<qint64>((fig.Frames + fig.FramesPerPoint - 1) / fig.FramesPerPoint, fig.EnvCount);
    return static_cast<int>(std::clamp<qint64>(std::min<qint64>(AParts, MaxEnvelopeParts), 1, usedPoints));
}

TEnvelopeResult BuildEnvelopeFromFile(const QString &APath, const TProgressProc &AProgress, int AParts,
                                      TEnvelopeWatch *AWatch, qint64 AKnownBytes)
{
    return RunEnvelopePass(APath, AProgress, AParts, AWatch, AKnownBytes, nullptr);
}

TEnvelopeResult RunEnvelopePass(const QString &APath, const TProgressProc &AProgress, int AParts,
                                TEnvelopeWatch *AWatch, qint64 AKnownBytes, TEnvelopePassClock *AClock)
{
    TEnvelopeResult res;
    TDecodeStream stream;
    const double cpu0 = AClock ? ThreadCpuSec() : 0;
    const bool opened = AKnownBytes >= 0 ? stream.OpenKnownLength(APath, AKnownBytes) : stream.Open(APath);
    if (AClock)
        AClock->Opened(ThreadCpuSec() - cpu0);
    if (!opened) {
        res.Error = stream.LastError();
        return res;
    }
    res.SampleRate = stream.SampleRate();
    res.Channels = std::max(stream.Channels(), 1);
    const qint64 lengthBytes = stream.LengthBytes();
    res.DurationSec = stream.BytesToSeconds(lengthBytes);
    res.Figures = EnvelopeFigures(lengthBytes, res.Channels);
    const int n = EnvelopePartCount(stream, AParts);
    if (n <= 1 || lengthBytes <= 0) {
        const double cpu1 = AClock ? ThreadCpuSec() : 0;
        res = SequentialPass(stream, res, AProgress, AWatch);
        if (AClock) {
            AClock->Parts(1);
            AClock->PartSpent(0, ThreadCpuSec() - cpu1);
        }
    } else {
        // Watched, the ranges are shorter than a thread's share, so that the start fills in first.
        int ranges = n;
        if (AWatch) {
            const qint64 usedPoints =
                std::min<qint64>((res.Figures.Frames + res.Figures.FramesPerPoint - 1) / res.Figures.FramesPerPoint,
                                 res.Figures.EnvCount);
            const qint64 bySeconds = std::max<qint64>(static_cast<qint64>(res.DurationSec / MinEnvelopePartSec), n);
            ranges = static_cast<int>(std::min<qint64>({qint64(n) * 4, bySeconds, usedPoints}));
        }
        res = MultiPartPass(stream, res, AProgress, n, ranges, AClock, AWatch);
    }
    return res;
}
