// Envelope pass of long recordings against a plain FFmpeg decode of the same file to 16-bit samples, all
// measured in this run: the plain decode, the sequential pass, the pass in 2..N parts (N the hardware
// threads, at most 8) and a cached re-open, with wall and CPU time (median of the rounds), the peak memory
// of a pass above the idle process, and whether the parts gave the sequential envelope point for point.
// The cached re-open is measured as whole processes: `vornak-tool envelope FILE` served from a warm cache
// against the tool's own start-up (`vornak-tool format-time 0`).
// The "background" row is the pass a first open runs while the recording already plays: watched, on every
// hardware thread, in up to four ranges per thread taken in order from the start.
//   bench_envelope [FIXTURE_DIR] [ROUNDS]   (default bench/fixtures and 3; files from the fixture script)
#include "uDecoder.h"
#include "uEnvelope.h"
#include "uEnvelopeCache.h"
#include "uEnvelopeTiming.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The reference: the shortest decode loop there is — packets in, frames out, converted to interleaved
// 16-bit at the file's own rate and channels. Returns the bytes produced, -1 on failure.
long long PlainDecode(const QString &APath)
{
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(APath).constData(), nullptr, nullptr) < 0)
        return -1;
    long long total = -1;
    const AVCodec *dec = nullptr;
    AVCodecContext *cc = nullptr;
    SwrContext *swr = nullptr;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<uint8_t> out;
    int idx = -1;
    if (avformat_find_stream_info(fmt, nullptr) >= 0
        && (idx = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &dec, 0)) >= 0
        && (cc = avcodec_alloc_context3(dec)) != nullptr
        && avcodec_parameters_to_context(cc, fmt->streams[idx]->codecpar) >= 0
        && (cc->thread_count = 1, cc->pkt_timebase = fmt->streams[idx]->time_base, avcodec_open2(cc, dec, nullptr)) >= 0
        && swr_alloc_set_opts2(&swr, &cc->ch_layout, AV_SAMPLE_FMT_S16, cc->sample_rate, &cc->ch_layout,
                               cc->sample_fmt, cc->sample_rate, 0, nullptr) >= 0
        && swr_init(swr) >= 0) {
        total = 0;
        const int ch = cc->ch_layout.nb_channels;
        auto drain = [&] {
            while (avcodec_receive_frame(cc, frame) >= 0) {
                out.resize(static_cast<size_t>(frame->nb_samples) * ch * 2);
                uint8_t *o[1] = {out.data()};
                const int n = swr_convert(swr, o, frame->nb_samples, const_cast<const uint8_t **>(frame->extended_data),
                                          frame->nb_samples);
                total += static_cast<long long>(n) * ch * 2;
                av_frame_unref(frame);
            }
        };
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == idx && avcodec_send_packet(cc, pkt) >= 0)
                drain();
            av_packet_unref(pkt);
        }
        avcodec_send_packet(cc, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    swr_free(&swr);
    avcodec_free_context(&cc);
    avformat_close_input(&fmt);
    return total;
}

// CPU time of the process in seconds, all threads together: unlike the wall clock it is not stretched by
// other programs competing for the cores.
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
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(AKey))
            return line.mid(int(qstrlen(AKey))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

double WallSec()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? 0 : AValues[AValues.size() / 2];
}

struct TTimes {
    std::vector<double> wall, cpu;
    void Add(double AWallSec, double ACpuSec)
    {
        wall.push_back(AWallSec);
        cpu.push_back(ACpuSec);
    }
};

template <class F>
void Timed(TTimes &ATimes, F &&AWork)
{
    const double w0 = WallSec(), c0 = CpuSec();
    AWork();
    ATimes.Add(WallSec() - w0, CpuSec() - c0);
}

bool SameEnvelope(const TEnvelopeResult &AFirst, const TEnvelopeResult &ASecond)
{
    if (AFirst.Error || ASecond.Error || AFirst.EnvCount != ASecond.EnvCount
        || AFirst.Figures.LengthBytes != ASecond.Figures.LengthBytes
        || AFirst.Figures.FramesPerPoint != ASecond.Figures.FramesPerPoint || AFirst.DurationSec != ASecond.DurationSec)
        return false;
    for (size_t i = 0; i < AFirst.Envelope->size(); ++i) {
        const TEnvPoint &p = (*AFirst.Envelope)[i], &q = (*ASecond.Envelope)[i];
        if (p.MnL != q.MnL || p.MxL != q.MxL || p.MnR != q.MnR || p.MxR != q.MxR)
            return false;
    }
    return true;
}

// Wall time of one run of the tool, seconds; -1 when it failed or was not served from the cache.
double ToolRun(const QString &ATool, const QStringList &AArgs, const QProcessEnvironment &AEnv)
{
    QProcess p;
    p.setProcessEnvironment(AEnv);
    const double w0 = WallSec();
    p.start(ATool, AArgs);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return -1;
    const double w = WallSec() - w0;
    return p.readAllStandardOutput().contains("cache=miss") ? -1 : w;
}

QByteArray LoadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("?");
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    av_log_set_level(AV_LOG_ERROR);
    const QString dir = AArgc > 1 ? QString::fromLocal8Bit(AArgv[1]) : QStringLiteral("bench/fixtures");
    const int rounds = AArgc > 2 ? std::max(1, std::atoi(AArgv[2])) : 3;
    const char *const files[] = {"fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus", "fx60.flac",
                                 "fx60.wav"};
    const int hwThreads = std::clamp(QThread::idealThreadCount(), 1, MaxEnvelopeParts);
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/vornak-tool");
    QTemporaryDir cacheHome;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome.path());

    std::printf("hardware threads %d, rounds %d (median), load average at start: %s\n", QThread::idealThreadCount(),
                rounds, LoadAverage().constData());
    std::printf("%-16s %-12s %8s %8s %9s %8s %8s %9s %8s %5s\n", "file", "run", "wall s", "cpu s", "wall/plain",
                "cpu/plain", "path s", "path/plain", "peak MB", "same");
    bool partsOk = true, wallOk = true, pathOk = true, cacheOk = true, sameOk = true;
    for (const char *name : files) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(name));
        if (!QFileInfo::exists(path)) {
            std::printf("%-16s missing (run the bench fixture script)\n", name);
            continue;
        }
        PlainDecode(path);  // warm the page cache
        TTimes plain, open, sequential, background;
        std::vector<double> backgroundCritical;
        long backgroundKb = 0;
        bool backgroundSame = true;
        std::vector<TTimes> parts(static_cast<size_t>(hwThreads) + 1);
        std::vector<long> peakKb(static_cast<size_t>(hwThreads) + 1, 0);
        std::vector<bool> same(static_cast<size_t>(hwThreads) + 1, true);
        // Critical path: opening on the calling thread, then the slowest part (CPU seconds of each thread),
        // the wall time the pass takes on an idle machine with a core per part.
        std::vector<std::vector<double>> critical(static_cast<size_t>(hwThreads) + 1);
        TEnvelopeResult reference;
        for (int i = 0; i < rounds; ++i) {
            Timed(plain, [&] { PlainDecode(path); });
            Timed(open, [&] {
                // Opening alone: container, decoder and the count of the decoded length.
                TDecodeStream probe;
                probe.Open(path);
            });
            for (int n = 1; n <= hwThreads; ++n) {
                const long idle = StatusKb("VmRSS:");
                ResetPeak();
                TEnvelopeResult r;
                TEnvelopePassTimes spent;
                Timed(n == 1 ? sequential : parts[size_t(n)],
                      [&] { r = BuildEnvelopeFromFileTimed(path, [](int) {}, n, &spent); });
                critical[size_t(n)].push_back(spent.OpenCpu
                                          + *std::max_element(spent.PartCpu.begin(), spent.PartCpu.end()));
                peakKb[size_t(n)] = std::max(peakKb[size_t(n)], StatusKb("VmHWM:") - idle);
                if (n == 1)
                    reference = r;
                else
                    same[size_t(n)] = same[size_t(n)] && SameEnvelope(r, reference);
            }
            // The pass a first open runs in the background: watched, in up to four ranges per thread.
            const long idle = StatusKb("VmRSS:");
            ResetPeak();
            TEnvelopeResult r;
            TEnvelopePassTimes spent;
            TEnvelopeWatch watch;
            Timed(background, [&] { r = BuildEnvelopeFromFileTimed(path, [](int) {}, hwThreads, &spent, &watch); });
            backgroundCritical.push_back(spent.OpenCpu + *std::max_element(spent.PartCpu.begin(), spent.PartCpu.end()));
            backgroundKb = std::max(backgroundKb, StatusKb("VmHWM:") - idle);
            backgroundSame = backgroundSame && SameEnvelope(r, reference);
        }
        const double plainWall = Median(plain.wall), plainCpu = Median(plain.cpu);
        auto row = [&](const char *ARun, const TTimes &ATimes, const std::vector<double> &ACritical, long AKb,
                       const char *ASameText) {
            std::printf("%-16s %-12s %8.3f %8.3f %9.3f %8.3f", name, ARun, Median(ATimes.wall), Median(ATimes.cpu),
                        Median(ATimes.wall) / plainWall, Median(ATimes.cpu) / plainCpu);
            if (ACritical.empty())
                std::printf(" %8s %9s %8s %5s\n", "", "", "", ASameText);
            else
                std::printf(" %8.3f %9.3f %8.1f %5s\n", Median(ACritical), Median(ACritical) / plainCpu, AKb / 1024.0,
                            ASameText);
        };
        row("plain", plain, {}, 0, "");
        row("open/count", open, {}, 0, "");
        row("sequential", sequential, critical[1], peakKb[1], "");
        for (int n = 2; n <= hwThreads; ++n) {
            const QByteArray label = QByteArray::number(n) + " parts";
            row(label.constData(), parts[size_t(n)], critical[size_t(n)], peakKb[size_t(n)], same[size_t(n)] ? "yes" : "NO");
            sameOk = sameOk && same[size_t(n)];
            partsOk = partsOk && peakKb[size_t(n)] < 64 * 1024;
            if (n == 2) {
                wallOk = wallOk && Median(parts[2].wall) <= 0.6 * plainWall;
                pathOk = pathOk && Median(critical[2]) <= 0.6 * plainCpu;
            }
        }
        if (hwThreads > 1) {
            row("background", background, backgroundCritical, backgroundKb, backgroundSame ? "yes" : "NO");
            sameOk = sameOk && backgroundSame;
        }

        // Cached re-open: one load through the tool fills the cache, then whole processes are timed.
        {
            TEnvelopeResult r;
            TEnvelopeCache cache(cacheHome.filePath(QStringLiteral("VornakReader2026")));
            const TEnvelopeCacheKey key = *TEnvelopeCache::KeyOf(path);
            TTimes lookup;
            ToolRun(tool, {QStringLiteral("envelope"), path}, env);  // the first load fills the cache
            for (int i = 0; i < rounds; ++i)
                Timed(lookup, [&] { cache.Lookup(key, r); });
            std::vector<double> startup, hit;
            for (int i = 0; i < std::max(rounds, 5); ++i) {
                startup.push_back(ToolRun(tool, {QStringLiteral("format-time"), QStringLiteral("0")}, env));
                hit.push_back(ToolRun(tool, {QStringLiteral("envelope"), path}, env));
            }
            const double over = Median(hit) - Median(startup);
            const bool served = *std::min_element(hit.begin(), hit.end()) >= 0 && SameEnvelope(r, reference);
            std::printf("%-16s %-12s %8.3f %8.3f %9s %8s %8s %9s %8s %5s  (lookup in-process %.1f ms; tool start-up %.3f s, "
                        "cached envelope %.3f s)\n",
                        name, "cached", over, Median(lookup.cpu), "", "", "", "", "", served ? "yes" : "NO",
                        Median(lookup.wall) * 1000, Median(startup), Median(hit));
            cacheOk = cacheOk && served && over <= 0.050;
        }
        std::fflush(stdout);
    }
    std::printf("load average at end: %s\n", LoadAverage().constData());
    std::printf("goal: 2 parts within 0.6x the plain decode: wall %s, critical path %s\n", wallOk ? "met" : "NOT met",
                pathOk ? "met" : "NOT met");
    std::printf("goal: peak under 64 MB above idle: %s\n", partsOk ? "met" : "NOT met");
    std::printf("goal: cached re-open within 50 ms of the tool's start-up: %s\n", cacheOk ? "met" : "NOT met");
    std::printf("parts give the sequential envelope: %s\n", sameOk ? "yes" : "NO");
    return 0;
}
