// Open benchmark: how soon an uncached one-hour recording can be seen and heard, how soon its waveform is
// complete, and whether playback keeps up while the day is analysed ahead.
//
//   bench_open [FIXTURE_DIR] [--file NAME] [--device N] [--seconds S]
//
// NAME defaults to fx60_cbr128.mp3 in FIXTURE_DIR (default bench/fixtures; files from the fixture script).
// The recording is copied under a new name into a fresh cache, so nothing of it is cached. Measured from
// the call that opens it (what a click on an hour tile does after its catalogue lookup):
//   first paint: the waveform view (offscreen, 955 x 300) painted with the whole length and rulers;
//   first audio: Play returned, which writes the first block to output N (default 1, the first listed);
//   complete envelope: the background analysis ended (polled every 10 ms), against a plain decode of the
//   same file on one thread measured in the same run (two cores on the reference machine).
// A new load during an analysis: the open of the (now cached) first copy while another one is analysed.
// Then S wall seconds (default 20) of playback at 2x of another uncached copy while its own analysis and
// the analysis ahead of three more copies run: the output underruns counted by the playback stream.
#include "uAudioEngine.h"
#include "uDecoder.h"
#include "uWaveView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

namespace {

double DecodeSeconds(const QString &APath)
{
    QElapsedTimer t;
    t.start();
    TDecodeStream s;
    if (!s.Open(APath))
        return -1;
    std::vector<char> buf(262144);
    while (s.Read(buf.data(), qint64(buf.size())) > 0) {
    }
    return t.nsecsElapsed() / 1e9;
}

double Ms(const QElapsedTimer &AClock)
{
    return AClock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(AArgc, AArgv);
    QString dir = QStringLiteral("bench/fixtures"), name = QStringLiteral("fx60_cbr128.mp3");
    int device = 1;
    double seconds = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--file" && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == "--device" && i + 1 < args.size())
            device = args[++i].toInt();
        else if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = args[++i].toDouble();
        else if (!args[i].startsWith("--"))
            dir = args[i];
        else {
            std::fprintf(stderr, "usage: bench_open [FIXTURE_DIR] [--file NAME] [--device N] [--seconds S]\n");
            return 2;
        }
    }
    const QString source = QDir(dir).filePath(name);
    QTemporaryDir work;
    const auto copy = [&](const QString &ATag) {
        const QString to = work.filePath(ATag + QLatin1Char('-') + name);
        return QFile::copy(source, to) ? to : QString();
    };
    const QString first = copy(QStringLiteral("first"));
    if (first.isEmpty()) {
        std::fprintf(stderr, "bench_open: cannot read %s\n", qPrintable(source));
        return 1;
    }
    const double decode = DecodeSeconds(first);

    TAudioEngine e;
    e.SetEnvelopeCacheFolder(work.filePath(QStringLiteral("cache")));
    e.SetInitialDevice(device);
    if (!e.InitAudio())
        std::fprintf(stderr, "bench_open: no output %d; first audio not measured\n", device);

    QElapsedTimer clock;
    clock.start();
    if (!e.Open(first)) {
        std::fprintf(stderr, "bench_open: cannot open %s (audio error %d)\n", qPrintable(first), e.LastError());
        return 1;
    }
    TWaveView view;
    view.resize(955, 300);
    view.SetData(e.Envelope(), e.EnvCount(), e.DurationSec(), e.SecPerPoint());
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const double paintMs = Ms(clock);
    e.Play();
    const double audioMs = Ms(clock);
    while (e.PollAnalysis().Running)
        QThread::msleep(10);
    const double completeSec = clock.nsecsElapsed() / 1e9;
    e.Stop();

    // A new load while the analysis runs: the open of a cached recording (a few ms) cancels it.
    const QString played = copy(QStringLiteral("played"));
    e.Open(played);
    QThread::msleep(500);
    QElapsedTimer cancel;
    cancel.start();
    e.Open(first);
    const double cancelMs = Ms(cancel);

    // Playback at 2x while two analyses share the cores: the loaded one's and the one ahead.
    QStringList ahead;
    for (const char *tag : {"ahead1", "ahead2", "ahead3"})
        ahead << copy(QString::fromLatin1(tag));
    e.Open(played);
    e.SetSpeed(2.0);
    e.Play();
    e.AnalyseAhead(ahead);
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        e.PollAnalysis();  // as the window does
        QThread::msleep(100);
    }
    const TPlaybackSnapshot end = e.Snapshot();

    std::printf("file                       %s (%.0f s)\n", qPrintable(name), e.DurationSec());
    std::printf("first paint, whole length  %8.1f ms   (goal <= 300)\n", paintMs);
    if (e.HasOutput())
        std::printf("first audio after Play     %8.1f ms   (goal <= 300)\n", audioMs);
    std::printf("complete envelope          %8.2f s    plain decode, one thread %.2f s: %.2fx (goal <= 0.6)\n",
                completeSec, decode, completeSec / decode);
    std::printf("new load while analysing   %8.1f ms   (cancel and open from the cache; goal <= 50)\n", cancelMs);
    std::printf("underruns at 2x, %2.0f s      %8d      (goal 0; position reached %.1f s, playing %s)\n", seconds,
                end.Underruns, end.PositionSec, end.Playing ? "yes" : "no");
    return 0;
}
