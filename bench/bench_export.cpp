// Export benchmark: one hour exported to WAV, MP3 128k, OGG 96k and Opus 64k through the audio engine,
// each against the ffmpeg command line doing the same conversion with the same encoder library and
// bitrate, measured in the same run. Prints wall and CPU seconds and the ratios (goal: at most 1.10).
//
//   bench_export [--fixtures DIR] [--source NAME] [--short] [--format wav,mp3,ogg,opus] [--repeat N]
//
// DIR defaults to bench/fixtures of the source tree (made by make-fixtures.sh), NAME to fx60.wav
// (fx10.wav with --short). Each measurement keeps the best of N runs (default 1).
#include "uAudioEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

struct TTime {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds(int AWho)
{
    struct rusage ru;
    getrusage(AWho, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

template <class F>
TTime Measure(int AWho, F &&ARun)
{
    const double cpu0 = CpuSeconds(AWho);
    QElapsedTimer t;
    t.start();
    ARun();
    return {t.nsecsElapsed() / 1e9, CpuSeconds(AWho) - cpu0};
}

TTime Best(const TTime &AFirst, const TTime &ASecond)
{
    return {qMin(AFirst.wall, ASecond.wall), qMin(AFirst.cpu, ASecond.cpu)};
}

struct TRow {
    const char *name;
    TAudioFormat format;
    int kbps;
    QStringList ffmpegCodec;
};

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    QString fixtures = QStringLiteral(VORNAK_SOURCE_DIR "/bench/fixtures");
    QString source;
    bool shortRun = false;
    int repeat = 1;
    QString only;  // formats to run, comma-separated ("wav,mp3,ogg,opus"); empty: all
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--fixtures" && i + 1 < args.size())
            fixtures = args[++i];
        else if (args[i] == "--source" && i + 1 < args.size())
            source = args[++i];
        else if (args[i] == "--short")
            shortRun = true;
        else if (args[i] == "--format" && i + 1 < args.size())
            only = args[++i];
        else if (args[i] == "--repeat" && i + 1 < args.size())
            repeat = qMax(1, args[++i].toInt());
        else {
            std::fprintf(stderr, "usage: bench_export [--fixtures DIR] [--source NAME] [--short] [--format F,...] [--repeat N]\n");
            return 2;
        }
    }
    if (source.isEmpty())
        source = shortRun ? "fx10.wav" : "fx60.wav";
    const QString path = QDir(fixtures).filePath(source);
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "missing %s: run make-fixtures.sh (see docs/benchmarks.md)\n", qPrintable(path));
        return 1;
    }
    TAudioEngine engine;
    if (!engine.Load(path)) {
        std::fprintf(stderr, "cannot load %s (error %d)\n", qPrintable(path), engine.LastError());
        return 1;
    }
    QTemporaryDir out;
    std::printf("source %s, %.1f s, %d Hz, %d channels\n", qPrintable(source), engine.DurationSec(),
                engine.SampleRate(), engine.Channels());
    std::printf("%-10s %9s %9s %9s %9s %7s %7s\n", "format", "ours s", "ours cpu", "ffmpeg s", "ffm cpu",
                "wall x", "cpu x");

    const TRow rows[] = {
        {"WAV", TAudioFormat::afWAV, 0, {"-c:a", "pcm_s16le"}},
        {"MP3 128k", TAudioFormat::afMP3, 128, {"-c:a", "libmp3lame", "-b:a", "128k"}},
        {"OGG 96k", TAudioFormat::afOGG, 96, {"-c:a", "libvorbis", "-b:a", "96k"}},
        {"Opus 64k", TAudioFormat::afOPUS, 64, {"-c:a", "libopus", "-b:a", "64k"}},
    };
    for (const TRow &row : rows) {
        if (!only.isEmpty() && !only.split(',').contains(QLatin1String(FormatName(row.format)), Qt::CaseInsensitive))
            continue;
        const QString ours = out.filePath(QStringLiteral("ours") + FormatExt(row.format));
        const QString theirs = out.filePath(QStringLiteral("ffmpeg") + FormatExt(row.format));
        TTime best{1e9, 1e9}, bestRef{1e9, 1e9};
        bool ok = true;
        auto runOurs = [&] {
            best = Best(best, Measure(RUSAGE_SELF, [&] {
                TExportRequest request;
                request.Path = ours;
                request.Format = row.format;
                request.Bitrate = row.kbps;
                ok = engine.Export(request).Done();
            }));
        };
        auto runFfmpeg = [&] {
            bestRef = Best(bestRef, Measure(RUSAGE_CHILDREN, [&] {
                QProcess p;
                p.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y", "-i", path, "-map", "0:a"} +
                                      row.ffmpegCodec + QStringList{theirs});
                ok = ok && p.waitForFinished(-1) && p.exitCode() == 0;
            }));
        };
        // Alternating which goes first spreads a change in the machine's load over both.
        for (int r = 0; r < repeat && ok; ++r) {
            if (r % 2 == 0) {
                runOurs();
                runFfmpeg();
            } else {
                runFfmpeg();
                runOurs();
            }
            if (r == 0)
                std::fprintf(stderr, "%s: ours %lld bytes, ffmpeg %lld bytes\n", row.name,
                             static_cast<long long>(QFileInfo(ours).size()),
                             static_cast<long long>(QFileInfo(theirs).size()));
            QFile::remove(ours);
            QFile::remove(theirs);
        }
        if (!ok) {
            std::printf("%-10s failed\n", row.name);
            continue;
        }
        std::printf("%-10s %9.2f %9.2f %9.2f %9.2f %7.3f %7.3f\n", row.name, best.wall, best.cpu, bestRef.wall,
                    bestRef.cpu, best.wall / bestRef.wall, best.cpu / bestRef.cpu);
        std::fflush(stdout);
    }
    return 0;
}
