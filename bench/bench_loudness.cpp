// Signal measurement of long recordings, side by side in one run: a plain decode of the file by the same
// decoding stream, our measurement in one pass on one thread (CPU seconds), our measurement in parts on every
// core (wall seconds), and FFmpeg's own meter (the ebur128 filter with peak=true, through libavfilter, one
// thread, CPU seconds) on its own decode; medians (and minima) of the rounds, the ratios, the measurement's
// peak memory above the process before it, and whether one pass and the parts print the same figures. Then
// where the time goes: the first ten minutes of the WAV and the Opus fixture in memory, through libebur128
// mode by mode and through the meter (left out with a third argument "quick").
//   bench_loudness [FIXTURE_DIR] [ROUNDS] [quick]   (default bench/fixtures and 3; files from the fixture script)
#include "uDecoder.h"
#include "uLoudness.h"

#include <ebur128.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdarg>
#include <functional>
#include <mutex>
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

// FFmpeg's meter: the lines its ebur128 filter logs at the information level (its summary when the graph goes).
std::mutex LogLock;
QString FilterLog;

void KeepInfoLines(void *AContext, int ALevel, const char *AFormat, va_list AArgs)
{
    if (ALevel > AV_LOG_INFO)
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line(AContext, ALevel, AFormat, AArgs, line, sizeof line, &prefix);
    std::lock_guard<std::mutex> lock(LogLock);
    FilterLog += QString::fromUtf8(line);
}

struct TFfmpegFigures {
    bool Ok = false;
    double Integrated = 0, Lra = 0, Tp = 0;
};

// Decodes the file with libavcodec (one thread) into abuffer -> ebur128=peak=true -> abuffersink (the graph
// on one thread, a format conversion inserted as the ffmpeg program inserts it) and reads the summary.
TFfmpegFigures FfmpegMeter(const QString &APath)
{
    TFfmpegFigures figures;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, APath.toUtf8().constData(), nullptr, nullptr) < 0)
        return figures;
    AVCodecContext *codec = nullptr;
    AVFilterGraph *graph = nullptr;
    AVFrame *frame = av_frame_alloc();
    AVFrame *out = av_frame_alloc();
    AVPacket *packet = av_packet_alloc();
    const AVCodec *decoder = nullptr;
    int index = -1;
    AVFilterContext *source = nullptr, *meter = nullptr, *sink = nullptr;
    auto drain = [&] {
        while (av_buffersink_get_frame(sink, out) >= 0)
            av_frame_unref(out);
    };
    auto give = [&](AVFrame *AFrame) {
        if (av_buffersrc_add_frame(source, AFrame) < 0)
            return false;
        drain();
        return true;
    };
    auto decoded = [&] {
        while (avcodec_receive_frame(codec, frame) >= 0)
            if (!give(frame))
                return false;
        return true;
    };
    bool ok = avformat_find_stream_info(fmt, nullptr) >= 0
              && (index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0)) >= 0;
    if (ok) {
        codec = avcodec_alloc_context3(decoder);
        ok = codec && avcodec_parameters_to_context(codec, fmt->streams[index]->codecpar) >= 0;
    }
    if (ok) {
        codec->thread_count = 1;
        codec->pkt_timebase = fmt->streams[index]->time_base;
        ok = avcodec_open2(codec, decoder, nullptr) >= 0;
    }
    if (ok) {
        graph = avfilter_graph_alloc();
        graph->nb_threads = 1;
        AVChannelLayout layout{};
        if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, codec->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&layout, &codec->ch_layout);
        char layoutText[128];
        av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
        av_channel_layout_uninit(&layout);
        const QByteArray args = QStringLiteral("time_base=1/%1:sample_rate=%1:sample_fmt=%2:channel_layout=%3")
                                    .arg(codec->sample_rate)
                                    .arg(QString::fromLatin1(av_get_sample_fmt_name(codec->sample_fmt)),
                                         QString::fromLatin1(layoutText))
                                    .toLatin1();
        ok = avfilter_graph_create_filter(&source, avfilter_get_by_name("abuffer"), "in", args.constData(), nullptr,
                                          graph) >= 0
             && avfilter_graph_create_filter(&meter, avfilter_get_by_name("ebur128"), "meter", "peak=true", nullptr,
                                             graph) >= 0
             && avfilter_graph_create_filter(&sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr,
                                             graph) >= 0
             && avfilter_link(source, 0, meter, 0) >= 0 && avfilter_link(meter, 0, sink, 0) >= 0
             && avfilter_graph_config(graph, nullptr) >= 0;
    }
    while (ok && av_read_frame(fmt, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0)
            ok = decoded();
        av_packet_unref(packet);
    }
    if (ok) {
        avcodec_send_packet(codec, nullptr);
        ok = decoded() && give(nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(LogLock);
        FilterLog.clear();
    }
    avfilter_graph_free(&graph);  // the filter logs its summary as it goes
    avcodec_free_context(&codec);
    avformat_close_input(&fmt);
    av_frame_free(&frame);
    av_frame_free(&out);
    av_packet_free(&packet);
    std::lock_guard<std::mutex> lock(LogLock);
    const QString summary = FilterLog.mid(FilterLog.lastIndexOf(QLatin1String("Summary:")));
    auto figure = [&summary](const char *AKey, double &AValue) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("%1:\\s+(-?[0-9.]+|-inf)").arg(QLatin1String(AKey))).match(summary);
        if (m.hasMatch())
            AValue = m.captured(1) == QLatin1String("-inf") ? -INFINITY : m.captured(1).toDouble();
        return m.hasMatch();
    };
    figures.Ok = ok && figure("I", figures.Integrated) && figure("LRA", figures.Lra) && figure("Peak", figures.Tp);
    return figures;
}

// The figures as vornak-tool loudness prints them (two decimals; counts; the lists).
QString Lines(const TLoudnessResult &AResult)
{
    auto fig = [](double AValue) {
        return std::isinf(AValue) ? QStringLiteral("-inf") : QString::number(AValue, 'f', 2);
    };
    QString s = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                    .arg(fig(AResult.IntegratedLufs), fig(AResult.RangeLu), fig(AResult.TruePeakDbtp),
                         fig(AResult.SamplePeakDbfs), fig(AResult.MomentaryMaxLufs), fig(AResult.ShorttermMaxLufs))
                    .arg(AResult.ClipRunCount)
                    .arg(AResult.SilentStretchCount)
                    .arg(AResult.SilentSeconds, 0, 'f', 3);
    for (const TSilentStretch &st : AResult.SilentStretches)
        s += QStringLiteral(" s%1-%2").arg(st.StartSec, 0, 'f', 3).arg(st.EndSec, 0, 'f', 3);
    for (const TClipRun &c : AResult.ClipRuns)
        s += QStringLiteral(" c%1/%2").arg(c.StartSec, 0, 'f', 3).arg(c.Channel);
    return s;
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
    const bool quick = AArgc > 3 && QByteArray(AArgv[3]) == "quick";
    av_log_set_callback(KeepInfoLines);
    const char *const files[] = {"fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus", "fx60.flac",
                                 "fx60.wav"};
    std::printf("seconds, median (min) of %d rounds, %d hardware threads; decode = one-thread plain decode (CPU\n"
                "and wall); one = our measurement in one pass on one thread (CPU); cores = in parts on every core\n"
                "(wall, and its CPU); ffmpeg = ebur128=peak=true through libavfilter on one thread (CPU); ratios\n"
                "CPU to CPU, wall to wall\n",
                rounds, QThread::idealThreadCount());
    std::printf("%-16s %13s %13s %13s %13s %13s %13s %7s %7s %7s %7s %8s\n", "file", "decode_cpu", "decode_wall",
                "one", "cores_wall", "cores_cpu", "ffmpeg", "one/dec", "cor/dec", "one/ff", "corc/ff", "peak_kB");
    for (const char *name : files) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        if (!QFileInfo::exists(path)) {
            std::printf("%-16s missing (make them with the fixture script)\n", name);
            continue;
        }
        std::vector<double> decCpu, decWall, oneCpu, coresWall, coresCpu, ffCpu;
        long peakKb = 0;
        TLoudnessResult one, cores;
        TFfmpegFigures ff;
        for (int i = 0; i < rounds; ++i) {
            double c = CpuSec();
            const double w0 = WallSec();
            Decode(path);
            decCpu.push_back(CpuSec() - c);
            decWall.push_back(WallSec() - w0);
            TLoudnessOptions serial;
            serial.Parallel = false;
            serial.Parts = 1;
            c = CpuSec();
            one = MeasureFileRange(path, 0, 0, serial);
            oneCpu.push_back(CpuSec() - c);
            ResetPeak();
            const long before = StatusKb("VmHWM:");
            c = CpuSec();
            const double w = WallSec();
            cores = MeasureFileRange(path, 0, 0, TLoudnessOptions{});
            coresWall.push_back(WallSec() - w);
            coresCpu.push_back(CpuSec() - c);
            peakKb = std::max(peakKb, StatusKb("VmHWM:") - before);
            c = CpuSec();
            ff = FfmpegMeter(path);
            ffCpu.push_back(CpuSec() - c);
        }
        auto cell = [](const std::vector<double> &AValues) {
            static char buf[8][32];
            static int next = 0;
            char *b = buf[next++ % 8];
            std::snprintf(b, 32, "%.2f (%.2f)", Median(AValues), *std::min_element(AValues.begin(), AValues.end()));
            return b;
        };
        std::printf("%-16s %13s %13s %13s %13s %13s %13s %7.2f %7.2f %7.2f %7.2f %8ld\n", name, cell(decCpu),
                    cell(decWall), cell(oneCpu), cell(coresWall), cell(coresCpu), cell(ffCpu),
                    Median(oneCpu) / Median(decCpu), Median(coresWall) / Median(decWall),
                    Median(oneCpu) / Median(ffCpu), Median(coresCpu) / Median(ffCpu), peakKb);
        const bool same = Lines(one) == Lines(cores);
        std::printf("  one pass I=%.4f LRA=%.4f TP=%.4f; parts I=%.4f LRA=%.4f TP=%.4f; ffmpeg I=%.1f LRA=%.1f "
                    "TP=%.1f%s; printed lines of one pass and parts %s\n",
                    one.IntegratedLufs, one.RangeLu, one.TruePeakDbtp, cores.IntegratedLufs, cores.RangeLu,
                    cores.TruePeakDbtp, ff.Integrated, ff.Lra, ff.Tp, ff.Ok ? "" : " (NOT READ)",
                    same ? "equal" : "DIFFER");
        if (!same)
            std::printf("    one:   %s\n    parts: %s\n", qPrintable(Lines(one).left(300)),
                        qPrintable(Lines(cores).left(300)));
        std::fflush(stdout);
    }
    if (!quick)
        for (const char *name : {"fx60.wav", "fx60_m48.opus"})
            if (QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(name)))
                Breakdown(dir + QLatin1Char('/') + QLatin1String(name), 600, rounds);
    return 0;
}
