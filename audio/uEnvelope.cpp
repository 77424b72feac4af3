// Waveform envelope pass: per point the extremes of the left channel and of all other channels.
#include "uEnvelope.h"

#include "uDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
// `count` samples from s; lanes of even index go to a, odd ones to b (for mono both are the same side).
void MinMaxInterleaved2(const int16_t *s, qint64 count, TMinMax &a, TMinMax &b)
{
    qint64 i = 0;
#ifdef __SSE2__
    __m128i mn0 = _mm_setzero_si128(), mx0 = _mm_setzero_si128();
    __m128i mn1 = _mm_setzero_si128(), mx1 = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + 8));
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
        a.mn = std::min(a.mn, lmn[k]);
        a.mx = std::max(a.mx, lmx[k]);
        b.mn = std::min(b.mn, lmn[k + 1]);
        b.mx = std::max(b.mx, lmx[k + 1]);
    }
#endif
    for (; i < count; ++i) {
        TMinMax &t = (i & 1) ? b : a;
        t.mn = std::min(t.mn, s[i]);
        t.mx = std::max(t.mx, s[i]);
    }
}

void Merge(TEnvPoint &p, const TMinMax &l, const TMinMax &r)
{
    p.MnL = std::min(p.MnL, l.mn);
    p.MxL = std::max(p.MxL, l.mx);
    p.MnR = std::min(p.MnR, r.mn);
    p.MxR = std::max(p.MxR, r.mx);
}

} // namespace

TEnvelopeFigures EnvelopeFigures(qint64 L, int channels)
{
    TEnvelopeFigures f;
    f.L = std::max<qint64>(L, 0);
    f.F = std::max<qint64>(f.L / (std::max(channels, 1) * 2), 1);
    f.EnvCount = static_cast<int>(std::max<qint64>(std::min<qint64>(f.F, MaxEnvPoints), 1));
    f.S = std::max<qint64>(static_cast<qint64>(std::ceil(static_cast<double>(f.F) / f.EnvCount)), 1);
    return f;
}

TEnvelopeBuilder::TEnvelopeBuilder(qint64 L, int channels, TProgressProc progress)
    : FFig(EnvelopeFigures(L, channels)), FChannels(std::max(channels, 1)), FProgress(std::move(progress)),
      FPoints(static_cast<size_t>(FFig.EnvCount))
{
}

void TEnvelopeBuilder::FeedScalar(const int16_t *s, qint64 count)
{
    const qint64 last = FFig.EnvCount - 1;
    for (qint64 i = 0; i < count; ++i) {
        TEnvPoint &p = FPoints[static_cast<size_t>(std::min(FFrame / FFig.S, last))];
        if (FChannel == 0) {
            p.MnL = std::min(p.MnL, s[i]);
            p.MxL = std::max(p.MxL, s[i]);
        } else {
            p.MnR = std::min(p.MnR, s[i]);
            p.MxR = std::max(p.MxR, s[i]);
        }
        if (++FChannel == FChannels) {
            FChannel = 0;
            ++FFrame;
        }
    }
}

// Whole frames, starting at a frame boundary: one run per point, with fixed-channel loops.
void TEnvelopeBuilder::FeedFrames(const int16_t *s, qint64 frames)
{
    const qint64 last = FFig.EnvCount - 1;
    while (frames > 0) {
        const qint64 point = std::min(FFrame / FFig.S, last);
        const qint64 run = point == last ? frames : std::min(frames, (point + 1) * FFig.S - FFrame);
        TEnvPoint &p = FPoints[static_cast<size_t>(point)];
        TMinMax l, r;
        if (FChannels == 1) {
            TMinMax odd;
            MinMaxInterleaved2(s, run, l, odd);
            l.mn = std::min(l.mn, odd.mn);
            l.mx = std::max(l.mx, odd.mx);
        } else if (FChannels == 2) {
            MinMaxInterleaved2(s, run * 2, l, r);
        } else {
            const int16_t *f = s;
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
        s += run * FChannels;
        frames -= run;
        FFrame += run;
    }
}

void TEnvelopeBuilder::Feed(const void *data, qint64 n)
{
    if (n <= 0)
        return;
    qint64 count = n / 2;
    std::vector<int16_t> aligned;
    const int16_t *s = static_cast<const int16_t *>(data);
    if (reinterpret_cast<quintptr>(data) % alignof(int16_t) != 0) {
        aligned.resize(static_cast<size_t>(count));
        std::memcpy(aligned.data(), data, static_cast<size_t>(count) * 2);
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

    FBytesRead += n;
    if (FFig.L > 0 && FProgress) {
        // nearbyint rounds halves to the even neighbour in the default rounding mode.
        const int percent = static_cast<int>(std::nearbyint(static_cast<double>(FBytesRead) / FFig.L * 100.0));
        if (percent != FLastPercent) {
            FLastPercent = percent;
            FProgress(percent);
        }
    }
}

TEnvArray TEnvelopeBuilder::Finish()
{
    if (FChannels < 2) {
        for (TEnvPoint &p : FPoints) {
            p.MnR = p.MnL;
            p.MxR = p.MxL;
        }
    }
    if (FProgress)
        FProgress(100);
    return std::make_shared<const std::vector<TEnvPoint>>(std::move(FPoints));
}

TEnvelopeResult BuildEnvelopeFromFile(const QString &path, const TProgressProc &progress)
{
    TEnvelopeResult res;
    TDecodeStream stream;
    if (!stream.Open(path)) {
        res.Error = stream.LastError();
        return res;
    }
    res.SampleRate = stream.SampleRate();
    res.Channels = std::max(stream.Channels(), 1);
    const qint64 L = stream.LengthBytes();
    res.DurationSec = stream.BytesToSeconds(L);
    TEnvelopeBuilder builder(L, res.Channels, progress);
    res.Figures = builder.Figures();
    std::vector<char> buffer(static_cast<size_t>(EnvelopeReadBytes));
    for (;;) {
        const qint64 n = stream.Read(buffer.data(), EnvelopeReadBytes);
        if (n <= 0)
            break;
        builder.Feed(buffer.data(), n);
    }
    res.Envelope = builder.Finish();
    res.EnvCount = static_cast<int>(res.Envelope->size());
    return res;
}
