// Paint cost of the waveform view at 1920 x 600 with a 50,000-point envelope, and how often one
// paint reads each envelope point of the window. Run by hand: bench_waveview [paints]
// Prints the median and 95th percentile of a full paint per case, its ratio to a reference paint
// measured in the same run (a paint without data: the band fills and the message), and
// the largest number of reads of one envelope point. Exits 1 when a median reaches 2 ms or a point
// is read more than twice.
#include "uWaveView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr int W = 1920, H = 600, Points = 50000;
constexpr double Duration = 3600;  // one hour at 44100 Hz: 3176 frames (72 ms) per point
constexpr int Rate = 44100, FramesPerPoint = 3176;
constexpr double SecPerPoint = double(FramesPerPoint) / Rate;
constexpr int SoundPoints = 49988;  // the points the hour reaches; the last 12 stay empty

// Speech-like envelope: bursts of varying loudness with pauses, left and right different.
TEnvArray MakeEnvelope()
{
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<TEnvPoint> v(Points);
    double level = 0.3;
    for (int i = 0; i < SoundPoints; ++i) {
        if (i % 40 == 0)
            level = u(rng) < 0.25 ? 0.01 : 0.1 + 0.9 * u(rng);
        const double l = level * (0.6 + 0.4 * u(rng)), r = level * (0.4 + 0.6 * u(rng));
        v[i] = TEnvPoint{int16_t(-32768 * l), int16_t(32767 * l * 0.9), int16_t(-32768 * r * 0.8),
                         int16_t(32767 * r)};
    }
    return std::make_shared<const std::vector<TEnvPoint>>(std::move(v));
}

struct TCase {
    const char *name;
    double start, end;
};

double Percentile(std::vector<double> AValues, double AFraction)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues[std::min(AValues.size() - 1, static_cast<size_t>(AFraction * (AValues.size() - 1) + 0.5))];
}

template <typename F>
std::vector<double> TimeRuns(int ARuns, F APaint)
{
    for (int i = 0; i < 20; ++i)
        APaint(i);
    std::vector<double> ms;
    ms.reserve(ARuns);
    QElapsedTimer t;
    for (int i = 0; i < ARuns; ++i) {
        t.start();
        APaint(i);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
}

} // namespace

int main(int AArgc, char **AArgv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(AArgc, AArgv);
    const int runs = AArgc > 1 ? std::max(10, std::atoi(AArgv[1])) : 400;

    const TEnvArray env = MakeEnvelope();
    // The view paints straight into the window's backing store, an image of this format.
    QImage img(W, H, QImage::Format_ARGB32_Premultiplied);
    std::vector<TColumnExtremes> scratch;

    const TCase cases[] = {
        {"full view (1 h)", 0, Duration},
        {"zoomed 6 min", 1200, 1560},
        {"zoomed 20 s", 1800, 1820},
        {"zoomed 0.05 s", 1800, 1800.05},
    };

    // Reference: the band fills alone (what a paint of an empty view costs).
    const std::vector<double> ref = TimeRuns(runs, [&](int) {
        TWaveLook look;
        look.Win = TWaveWindow{0, 0, 0, W};
        look.Height = H;
        QPainter p(&img);
        PaintWave(p, look, scratch);
    });
    const double refMedian = Percentile(ref, 0.5);
    std::printf("bench_waveview: %d x %d, %d points, %.0f s, %d paints per case\n", W, H, Points,
                Duration, runs);
    std::printf("  %-18s median %.3f ms  p95 %.3f ms\n", "reference (no data)", refMedian,
                Percentile(ref, 0.95));

    bool ok = true;
    for (const TCase &c : cases) {
        TWaveLook look;
        look.Win = TWaveWindow{Duration, c.start, c.end, W};
        look.Env = env->data();
        look.EnvCount = Points;
        look.SecPerPoint = SecPerPoint;
        look.SelStart = c.start + (c.end - c.start) * 0.3;
        look.SelEnd = c.start + (c.end - c.start) * 0.6;
        look.Height = H;
        const std::vector<double> ms = TimeRuns(runs, [&](int ARun) {
            // The play cursor moves every tick, as while playing.
            look.PlayPos = c.start + (c.end - c.start) * ((ARun % 100) / 100.0);
            QPainter p(&img);
            PaintWave(p, look, scratch);
        });
        std::vector<int> visits(Points, 0);
        ComputeLaneColumns(look.Win, env->data(), Points, SecPerPoint, scratch, &visits);
        const int maxVisits = *std::max_element(visits.begin(), visits.end());
        const long total = std::accumulate(visits.begin(), visits.end(), 0L);
        const long inWindow = std::count_if(visits.begin(), visits.end(), [](int AVisits) { return AVisits > 0; });
        const double median = Percentile(ms, 0.5);
        std::printf("  %-18s median %.3f ms  p95 %.3f ms  ratio %.2f  points %ld  reads %ld  "
                    "max reads of a point %d (+%d overview reads)\n",
                    c.name, median, Percentile(ms, 0.95), median / refMedian, inWindow, total,
                    maxVisits, W);
        if (median >= 2.0 || maxVisits > 2)
            ok = false;
    }
    std::printf("%s\n", ok ? "OK: every median under 2 ms, no point read more than twice"
                           : "FAILED: a median reached 2 ms or a point was read more than twice");
    return ok ? 0 : 1;
}
