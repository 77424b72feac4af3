// Playback benchmark: CPU cost of playing a 44.1 kHz stereo speech recording at 1x and 1.5x (and the other
// speeds), per second of audio, against a plain decode of the same audio measured in the same run.
//
//   bench_playback [--file PATH] [--device N] [--seconds S]
//
// PATH defaults to bench/fixtures/fx10.wav of the source tree (make-fixtures.sh), else a two-minute speech
// recording made on the spot with espeak-ng and ffmpeg. Two measurements per speed:
//   chain: decode + time stretch as fast as it goes (no output), CPU per audio second;
//   live:  the engine playing into output N (default: the first listed) for S wall seconds (default 6);
//          CPU of the whole process (all threads: decoder, stretch, Qt Multimedia, sound-server client)
//          divided by the audio seconds the position advanced, and as a share of the wall time.
// The references of the same run: the plain decode for the chain, live playback at 1x for the live figures.
// Exits 1 when live playback at 1.5x costs 5 % of one core or more.
#include "uAudioEngine.h"
#include "uDecoder.h"
#include "uTimeStretch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double CpuSeconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

bool Run(const QString &AProgram, const QStringList &AArgs)
{
    QProcess p;
    p.start(AProgram, AArgs);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Two minutes of Dutch speech, 44.1 kHz stereo (the voice on the left, a quieter copy on the right).
QString MakeSpeech(const QString &ADir)
{
    const QString voice = ADir + "/voice.wav", out = ADir + "/speech.wav";
    const QString text = QStringLiteral(
        "Goedemorgen, u spreekt met de meldkamer. Kunt u mij vertellen waar u zich bevindt? Ik sta op de hoek van de "
        "Stationsstraat en de Kerkweg, er is een aanrijding gebeurd. Blijf bij het slachtoffer, de ambulance is "
        "onderweg en zal over ongeveer zes minuten bij u zijn.");
    if (!Run("espeak-ng", {"-v", "nl", "-w", voice, text}))
        return QString();
    if (!Run("ffmpeg", {"-v", "error", "-y", "-stream_loop", "-1", "-i", voice, "-t", "120", "-af",
                        "aresample=44100,pan=stereo|c0=c0|c1=0.5*c0", "-c:a", "pcm_s16le", out}))
        return QString();
    return out;
}

// CPU seconds per audio second of decoding ASeconds of the file, with the time stretch at ASpeed
// (0 = decode only).
double ChainCost(const QString &APath, double ASpeed, double ASeconds)
{
    TDecodeStream s;
    if (!s.Open(APath))
        return -1;
    std::unique_ptr<TTimeStretch> stretch;
    if (ASpeed > 0)
        stretch = std::make_unique<TTimeStretch>(s.SampleRate(), s.Channels(), ASpeed);
    const int frames = 2048;
    std::vector<int16_t> in(size_t(frames) * s.Channels()), out(size_t(frames) * 4 * s.Channels());
    const qint64 limit = s.SecondsToBytes(ASeconds);
    qint64 done = 0;
    const double cpu0 = CpuSeconds();
    while (done < limit) {
        const qint64 n = s.Read(in.data(), qint64(in.size()) * 2);
        if (n <= 0)
            break;
        done += n;
        if (stretch) {
            stretch->Put(in.data(), int(n / s.BlockAlign()));
            while (stretch->Receive(out.data(), frames * 4) > 0) {
            }
        }
    }
    return (CpuSeconds() - cpu0) / s.BytesToSeconds(done);
}

// CPU seconds per audio second of the engine playing at ASpeed for AWallSec.
double LiveCost(TAudioEngine &AEngine, double ASpeed, double AWallSec, double *AAdvanced)
{
    AEngine.Stop();
    AEngine.SetSpeed(ASpeed);
    AEngine.SeekSec(1.0);
    AEngine.Play();
    QThread::msleep(300);  // past the start of the output
    const double p0 = AEngine.PositionSec();
    const double cpu0 = CpuSeconds();
    QThread::msleep(static_cast<unsigned long>(AWallSec * 1000));
    const double cpu = CpuSeconds() - cpu0;
    *AAdvanced = AEngine.PositionSec() - p0;
    AEngine.Stop();
    return *AAdvanced > 0 ? cpu / *AAdvanced : -1;
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    QString file = QDir(QStringLiteral(VORNAK_SOURCE_DIR)).filePath("bench/fixtures/fx10.wav");
    int device = 1;
    double wallSec = 6;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--file" && i + 1 < args.size())
            file = args[++i];
        else if (args[i] == "--device" && i + 1 < args.size())
            device = args[++i].toInt();
        else if (args[i] == "--seconds" && i + 1 < args.size())
            wallSec = args[++i].toDouble();
        else {
            std::fprintf(stderr, "usage: bench_playback [--file PATH] [--device N] [--seconds S]\n");
            return 2;
        }
    }
    QTemporaryDir tmp;
    if (!QFileInfo::exists(file)) {
        file = MakeSpeech(tmp.path());
        if (file.isEmpty()) {
            std::fprintf(stderr, "no fixture: needs bench/fixtures/fx10.wav or espeak-ng and ffmpeg\n");
            return 1;
        }
    }
    std::printf("file %s\n", qPrintable(file));

    const double chainSeconds = 120;
    const double decode = ChainCost(file, 0, chainSeconds);
    std::printf("decode only        %6.3f %% of one core per audio second\n", 100 * decode);

    TAudioEngine engine;
    engine.SetInitialDevice(device);
    const bool live = engine.InitAudio() && engine.Load(file);
    if (!live)
        std::printf("no output device: live playback not measured (tools/start-sound.sh starts one)\n");

    // Live playback at 1x is the reference of the live figures: what the output alone costs.
    struct TResult {
        double speed, chain, live, advanced;
    };
    std::vector<TResult> results;
    double live1 = -1, live15 = -1;
    for (double speed : PlaySpeedSteps) {
        TResult r{speed, speed == 1.0 ? decode : ChainCost(file, speed, chainSeconds), -1, 0};
        if (live)
            r.live = LiveCost(engine, speed, wallSec, &r.advanced);
        if (speed == 1.0)
            live1 = r.live;
        if (speed == 1.5)
            live15 = r.live;
        results.push_back(r);
    }
    std::printf("%-6s %10s %10s %10s %10s %14s %12s\n", "speed", "chain %", "vs decode", "live %", "vs live 1x",
                "live % of wall", "audio s");
    for (const TResult &r : results)
        std::printf("%-6.2f %10.3f %10.2f %10.3f %10.2f %14.3f %12.2f\n", r.speed, 100 * r.chain, r.chain / decode,
                    100 * r.live, r.live / live1, 100 * r.live * r.advanced / wallSec, r.advanced);
    if (live15 >= 0.05) {
        std::printf("goal missed: live playback at 1.5x costs %.2f %% of one core (goal under 5 %%)\n", 100 * live15);
        return 1;
    }
    return 0;
}
