// Signal measurement of long recordings against a plain decode of the same file by the same decoding stream:
// the measurement on one thread (CPU seconds) and on two (wall seconds, the loudness work on a second thread),
// each against the decode (median and minimum of the rounds), the measurement's peak memory above the process
// before it, and its figures. The goal is 1.3 times the decode on one core. Then where the time goes: the first
// ten minutes of the WAV and the Opus fixture in memory, through libebur128 mode by mode and through the meter.
//   bench_loudness [FIXTURE_DIR] [ROUNDS]   (default bench/fixtures and 3; files from the fixture script)
#include "uDecoder.h"
#include "uLoudness.h"

#include <ebur128.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double WallSec()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double CpuSec()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

long StatusKb(const char *AKey)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(AKey))
            return line.mid(int(qstrlen(AKey))).trimmed().split(' ').value(0).toLong();
    return -1;
}

void ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// The decode alone, in the measurement's own read size. Returns the bytes delivered.
qint64 Decode(const QString &APath)
{
    TDecodeStream s;
    if (!s.Open(APath))
        return -1;
    s.SetPadToLength(false);
    std::vector<char> buf(262144);
    qint64 total = 0;
    for (qint64 n; (n = s.Read(buf.data(), qint64(buf.size()))) > 0;)
        total += n;
    return total;
}

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues[AValues.size() / 2];
}

// Where a measurement's time goes: the PCM of a file (at most ASeconds) in memory, fed in 100 ms blocks to
// libebur128 in growing modes, then to the meter on one thread. CPU seconds per hour of audio, median of rounds.
void Breakdown(const QString &APath, double ASeconds, int ARounds)
{
    TDecodeStream s;
    if (!s.Open(APath))
        return;
    s.SetPadToLength(false);
    const int rate = s.SampleRate(), channels = s.Channels();
    std::vector<int16_t> pcm(static_cast<size_t>(ASeconds * rate) * size_t(channels));
    const qint64 bytes = s.Read(reinterpret_cast<char *>(pcm.data()), qint64(pcm.size() * 2));
    pcm.resize(size_t(std::max<qint64>(0, bytes)) / 2);
    const size_t frames = pcm.size() / size_t(channels);
    const size_t block = size_t(rate / 10);
    const double perHour = 3600.0 * rate / double(std::max<size_t>(1, frames));
    auto ebur = [&](int AMode, bool AWindow, size_t ABlock = 0) {
        ebur128_state *st = ebur128_init(unsigned(channels), unsigned(rate), AMode);
        const size_t step = ABlock > 0 ? ABlock : block;
        for (size_t at = 0; at < frames; at += step) {
            const size_t n = std::min(step, frames - at);
            ebur128_add_frames_short(st, pcm.data() + at * size_t(channels), n);
            double v = 0;
            if (AWindow)
                ebur128_loudness_window(st, 100, &v);
        }
        ebur128_destroy(&st);
    };
    struct TStep {
        const char *Name;
        std::function<void()> Run;
    };
    const std::vector<TStep> steps = {
        {"K-weighting alone (mode M)", [&] { ebur(EBUR128_MODE_M, false); }},
        {"+ gating blocks (mode I, histogram)", [&] { ebur(EBUR128_MODE_I | EBUR128_MODE_HISTOGRAM, false); }},
        {"+ loudness range (mode I|LRA, histogram)",
         [&] { ebur(EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM, false); }},
        {"  (the same fed 10 s per call, not 100 ms)",
         [&] { ebur(EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM, false, block * 100); }},
        {"+ our 100 ms block energies (the worker's share)",
         [&] { ebur(EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM, true); }},
        {"true peak of every block (mode TRUE_PEAK)", [&] { ebur(EBUR128_MODE_TRUE_PEAK, false); }},
        {"the meter, one thread (everything)",
         [&] {
             TLoudnessOptions o;
             o.Parallel = false;
             TLoudnessMeter m(rate, channels, o);
             m.Feed(pcm.data(), qint64(pcm.size() * 2));
             m.Finish();
         }},
    };
    std::printf("\nwhere the time goes, %s (%.0f s in memory, %d Hz, %d ch): CPU s per hour, median (min)\n",
                qPrintable(QFileInfo(APath).fileName()), double(frames) / rate, rate, channels);
    for (const TStep &step : steps) {
        std::vector<double> t;
        for (int i = 0; i < ARounds; ++i) {
            const double c = CpuSec();
            step.Run();
            t.push_back((CpuSec() - c) * perHour);
        }
        std::printf("  %-50s %6.2f (%.2f)\n", step.Name, Median(t), *std::min_element(t.begin(), t.end()));
        std::fflush(stdout);
    }
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    const QString dir = AArgc > 1 ? QString::fromLocal8Bit(AArgv[1]) : QStringLiteral("bench/fixtures");
    const int rounds = AArgc > 2 ? std::max(1, atoi(AArgv[2])) : 3;
    const char *const files[] = {"fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus", "fx60.flac",
                                 "fx60.wav"};
    std::printf("seconds: median (min) of %d rounds; one thread = CPU time with Parallel off, two threads = wall\n",
                rounds);
    std::printf("%-16s %13s %13s %13s %13s %7s %7s %8s\n", "file", "decode_cpu", "decode_wall", "one_thread",
                "two_threads", "ratio1", "ratio2", "peak_kB");
    for (const char *name : files) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        if (!QFileInfo::exists(path)) {
            std::printf("%-16s missing (make them with the fixture script)\n", name);
            continue;
        }
        std::vector<double> decCpu, decWall, oneCpu, twoWall, twoCpu;
        long peakKb = 0;
        TLoudnessResult one, two;
        for (int i = 0; i < rounds; ++i) {
            double c = CpuSec(), w = WallSec();
            Decode(path);
            decCpu.push_back(CpuSec() - c);
            decWall.push_back(WallSec() - w);
            TLoudnessOptions serial;
            serial.Parallel = false;
            c = CpuSec();
            one = MeasureFileRange(path, 0, 0, serial);
            oneCpu.push_back(CpuSec() - c);
            ResetPeak();
            const long before = StatusKb("VmHWM:");
            c = CpuSec();
            w = WallSec();
            two = MeasureFileRange(path, 0, 0, TLoudnessOptions{});
            twoWall.push_back(WallSec() - w);
            twoCpu.push_back(CpuSec() - c);
            peakKb = std::max(peakKb, StatusKb("VmHWM:") - before);
        }
        auto cell = [](const std::vector<double> &AValues) {
            static char buf[8][32];
            static int next = 0;
            char *b = buf[next++ % 8];
            std::snprintf(b, 32, "%.2f (%.2f)", Median(AValues), *std::min_element(AValues.begin(), AValues.end()));
            return b;
        };
        std::printf("%-16s %13s %13s %13s %13s %7.2f %7.2f %8ld\n", name, cell(decCpu), cell(decWall), cell(oneCpu),
                    cell(twoWall), Median(oneCpu) / Median(decCpu), Median(twoWall) / Median(decWall), peakKb);
        std::printf("  two threads: %.2f s CPU; figures I=%.9f LRA=%.9f TP=%.9f SP=%.9f M=%.9f S=%.9f clip=%lld "
                    "silent=%lld/%.6f%s\n",
                    Median(twoCpu), two.IntegratedLufs, two.RangeLu, two.TruePeakDbtp, two.SamplePeakDbfs,
                    two.MomentaryMaxLufs, two.ShorttermMaxLufs, static_cast<long long>(two.ClipRunCount),
                    static_cast<long long>(two.SilentStretchCount), two.SilentSeconds,
                    one.IntegratedLufs == two.IntegratedLufs && one.RangeLu == two.RangeLu
                            && one.TruePeakDbtp == two.TruePeakDbtp && one.MomentaryMaxLufs == two.MomentaryMaxLufs
                            && one.ShorttermMaxLufs == two.ShorttermMaxLufs
                        ? ""
                        : "  (ONE THREAD DIFFERS)");
        std::fflush(stdout);
    }
    for (const char *name : {"fx60.wav", "fx60_m48.opus"})
        if (QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(name)))
            Breakdown(dir + QLatin1Char('/') + QLatin1String(name), 600, rounds);
    return 0;
}
