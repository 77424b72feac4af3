// Test fixtures of the range export: a noise bed with tone bursts at irregular times, as PCM in memory or
// a WAV file, and the burst onsets found again in decoded audio.
#pragma once

#include "uDecoder.h"
#include "uWavWriter.h"

#include <QFile>
#include <QVector>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <sys/mount.h>
#include <vector>

namespace fixtures {

// Onsets (seconds) of the 0.4 s, 440 Hz bursts; irregular so that a shifted file cannot match by chance.
inline const std::vector<double> &BurstOnsets()
{
    static const std::vector<double> onsets{0.7, 2.3, 5.1, 8.8, 11.4, 13.2, 16.9, 19.5, 23.3, 27.0};
    return onsets;
}

// Interleaved 16-bit PCM: noise of about -25 dBFS on every channel, bursts at about -9 dBFS on top.
inline std::vector<int16_t> BurstPcm(int ARate, int AChannels, double ASeconds)
{
    const qint64 frames = static_cast<qint64>(std::llround(ARate * ASeconds));
    std::vector<int16_t> pcm(static_cast<size_t>(frames * AChannels));
    uint32_t seed = 12345;
    size_t k = 0;
    for (qint64 i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / ARate;
        double tone = 0;
        for (double on : BurstOnsets())
            if (t >= on && t < on + 0.4)
                tone = 12000 * std::sin(2 * M_PI * 440 * (t - on));
        for (int c = 0; c < AChannels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 16) % 6001) - 3000;
            pcm[k++] = static_cast<int16_t>(std::lrint(tone) + noise);
        }
    }
    return pcm;
}

inline void WriteBurstWav(const QString &APath, int ARate, int AChannels, double ASeconds)
{
    const std::vector<int16_t> pcm = BurstPcm(ARate, AChannels, ASeconds);
    TWavWriter w;
    w.Create(APath, ARate, AChannels);
    w.Write(pcm.data(), static_cast<qint64>(pcm.size() * 2));
    w.Finish();
}

struct TDecoded {
    bool ok = false;
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> pcm;
    double Seconds() const { return channels && rate ? double(pcm.size()) / channels / rate : 0; }
};

// The whole file through our own decoding stream.
inline TDecoded DecodeAll(const QString &APath)
{
    TDecoded d;
    TDecodeStream s;
    if (!s.Open(APath))
        return d;
    d.rate = s.SampleRate();
    d.channels = s.Channels();
    std::vector<char> buf(262144);
    std::vector<char> all;
    for (;;) {
        const qint64 n = s.Read(buf.data(), static_cast<qint64>(buf.size()));
        if (n <= 0) {
            d.ok = n == 0;
            break;
        }
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
    d.pcm.resize(all.size() / 2);
    std::memcpy(d.pcm.data(), all.data(), d.pcm.size() * 2);
    return d;
}

// Times (seconds) where the first channel's level in 10 ms windows rises above the bursts' threshold.
inline std::vector<double> FindOnsets(const TDecoded &ADecoded)
{
    std::vector<double> onsets;
    const qint64 win = ADecoded.rate / 100;
    const qint64 frames = static_cast<qint64>(ADecoded.pcm.size()) / qMax(ADecoded.channels, 1);
    bool above = false;
    for (qint64 w0 = 0; w0 + win <= frames; w0 += win) {
        double sum = 0;
        for (qint64 i = w0; i < w0 + win; ++i) {
            const double v = ADecoded.pcm[static_cast<size_t>(i * ADecoded.channels)];
            sum += v * v;
        }
        const bool now = std::sqrt(sum / win) > 5000;
        if (now && !above)
            onsets.push_back(static_cast<double>(w0) / ADecoded.rate);
        above = now;
    }
    return onsets;
}

// The source's onsets inside [AFrom, ATo), moved to the start of that range.
inline std::vector<double> ExpectedOnsets(double AFrom, double ATo)
{
    std::vector<double> r;
    for (double on : BurstOnsets())
        if (on >= AFrom && on + 0.4 <= ATo)
            r.push_back(on - AFrom);
    return r;
}

// A small tmpfs mounted for one test, unmounted (lazily) at the end of the scope.
struct TSmallDisk {
    QByteArray path;
    bool mounted = false;
    TSmallDisk(const QString &ADir, const char *AOptions, unsigned long AFlags = 0)
        : path(QFile::encodeName(ADir))
    {
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", AFlags, AOptions) == 0;
    }
    ~TSmallDisk()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
};

// Little-endian unsigned value of AByteCount bytes at offset AAt.
inline quint32 LE(const QByteArray &ABytes, int AAt, int AByteCount)
{
    quint32 v = 0;
    for (int i = AByteCount - 1; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(ABytes[AAt + i]);
    return v;
}

inline QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace fixtures
