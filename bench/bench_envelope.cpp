// Envelope pass of long recordings against a plain FFmpeg decode of the same file to 16-bit samples,
// both measured in this run (CPU time of the process, seconds), with the peak memory of the pass above the
// idle process.
//   bench_envelope [FIXTURE_DIR]   (default bench/fixtures; files from the bench fixture script)
#include "uDecoder.h"
#include "uEnvelope.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

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
long long PlainDecode(const QString &path)
{
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
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

// CPU time of the process in seconds: both sides run on this one thread, and unlike the wall clock it
// is not stretched by other programs competing for the cores.
double CpuSec()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

long StatusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

} // namespace

int main(int argc, char *argv[])
{
    av_log_set_level(AV_LOG_ERROR);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("bench/fixtures");
    const char *const files[] = {"fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus", "fx60.flac",
                                 "fx60.wav"};
    const int rounds = 2;
    std::printf("%-18s %10s %12s %7s %8s %10s %8s %6s\n", "file", "decode cpu", "envelope cpu", "ratio", "open cpu",
                "peak MB", "points", "S");
    bool allOk = true;
    for (const char *name : files) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(name));
        if (!QFileInfo::exists(path)) {
            std::printf("%-18s missing (run the bench fixture script)\n", name);
            continue;
        }
        PlainDecode(path);  // warm the page cache
        double plain = 1e9, env = 1e9, open = 1e9;
        long peakKb = 0;
        TEnvelopeResult r;
        for (int i = 0; i < rounds; ++i) {
            double c0 = CpuSec();
            const long long bytes = PlainDecode(path);
            plain = std::min(plain, CpuSec() - c0);
            if (bytes < 0)
                std::printf("%-18s plain decode failed\n", name);

            {
                // Opening alone: container, decoder and the count of the decoded length.
                const double o0 = CpuSec();
                TDecodeStream probe;
                probe.Open(path);
                open = std::min(open, CpuSec() - o0);
            }
            const long idle = StatusKb("VmRSS:");
            ResetPeak();
            c0 = CpuSec();
            r = BuildEnvelopeFromFile(path, [](int) {});
            env = std::min(env, CpuSec() - c0);
            peakKb = std::max(peakKb, StatusKb("VmHWM:") - idle);
        }
        const double ratio = env / plain;
        allOk = allOk && ratio <= 1.10 && peakKb < 64 * 1024;
        std::printf("%-18s %10.3f %12.3f %7.3f %8.3f %10.1f %8d %6lld\n", name, plain, env, ratio, open, peakKb / 1024.0,
                    r.EnvCount, static_cast<long long>(r.Figures.S));
        std::fflush(stdout);
    }
    std::printf("goal: envelope within 1.10x of the plain decode, peak under 64 MB: %s\n", allOk ? "met" : "NOT met");
    return 0;
}
