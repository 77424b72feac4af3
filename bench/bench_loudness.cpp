// Signal measurement of long recordings against a plain decode of the same file by the same decoding stream,
// on one core: CPU time of each (median of the rounds), their ratio, and the measurement's peak memory above
// the process before it. The measurement's budget is 1.3 times the decode.
//   bench_loudness [FIXTURE_DIR] [ROUNDS]   (default bench/fixtures and 3; files from the fixture script)
#include "uDecoder.h"
#include "uLoudness.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("bench/fixtures");
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const char *const files[] = {"fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus", "fx60.flac",
                                 "fx60.wav"};
    std::printf("%-18s %9s %9s %7s %9s  %s\n", "file", "decode_s", "measure_s", "ratio", "peak_kB", "integrated/tp");
    for (const char *name : files) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        if (!QFileInfo::exists(path)) {
            std::printf("%-18s missing (make them with the fixture script)\n", name);
            continue;
        }
        std::vector<double> dec, mea;
        long peakKb = 0;
        TLoudnessResult r;
        for (int i = 0; i < rounds; ++i) {
            double t = CpuSec();
            Decode(path);
            dec.push_back(CpuSec() - t);
            ResetPeak();
            const long before = StatusKb("VmHWM:");
            t = CpuSec();
            r = MeasureFileRange(path, 0, 0, TLoudnessOptions{});
            mea.push_back(CpuSec() - t);
            peakKb = std::max(peakKb, StatusKb("VmHWM:") - before);
        }
        const double d = Median(dec), m = Median(mea);
        std::printf("%-18s %9.2f %9.2f %7.2f %9ld  %.1f LUFS / %.1f dBTP\n", name, d, m, m / d, peakKb,
                    r.IntegratedLufs, r.TruePeakDbtp);
        std::printf("  I=%.9f LRA=%.9f TP=%.9f SP=%.9f M=%.9f S=%.9f clip=%lld silent=%lld/%.6f\n", r.IntegratedLufs,
                    r.RangeLu, r.TruePeakDbtp, r.SamplePeakDbfs, r.MomentaryMaxLufs, r.ShorttermMaxLufs,
                    (long long)r.ClipRunCount, (long long)r.SilentStretchCount, r.SilentSeconds);
        std::fflush(stdout);
    }
    return 0;
}
