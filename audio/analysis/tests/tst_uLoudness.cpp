// Signal measurement: the EBU test tones and speech against FFmpeg's own ebur128 filter, planted silence and
// clipping found at their places, ranges, pieces that split frames, cancel, and the figures of one libebur128
// state fed everything.
#include "FfmpegKit.h"
#include "TestMain.h"
#include "uLoudness.h"
#include "uWavWriter.h"

#include <QTest>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <ebur128.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

// FFmpeg's reading of a file: integrated loudness, loudness range and true peak from its ebur128 summary.
struct TReference {
    double Integrated = 0, Lra = 0, Tp = 0;
};
bool FfmpegReference(const QString &APath, TReference &ARef)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-hide_banner", "-nostats", "-i", APath, "-af", "ebur128=peak=true", "-f", "null", "-"});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return false;
    const QString out = QString::fromUtf8(p.readAllStandardError());
    const QString summary = out.mid(out.lastIndexOf(QLatin1String("Summary:")));
    auto figure = [&summary](const char *AKey, double &AValue) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("%1:\\s+(-?[0-9.]+|-inf)").arg(QLatin1String(AKey))).match(summary);
        if (!m.hasMatch())
            return false;
        AValue = m.captured(1) == QLatin1String("-inf") ? -INFINITY : m.captured(1).toDouble();
        return true;
    };
    return figure("I", ARef.Integrated) && figure("LRA", ARef.Lra) && figure("Peak", ARef.Tp);
}

// A 1 kHz stereo sine at 48 kHz, the same in both channels, whose peak level steps through (dBFS, seconds)
// pairs, as 16-bit WAV.
QString SineSteps(const QString &ADir, const QString &AName, const QVector<QPair<double, double>> &ASteps)
{
    double until = 0;
    QString amp;
    for (const auto &step : ASteps) {
        until += step.second;
        amp += QStringLiteral("if(lt(t\\,%1)\\,%2\\,").arg(until).arg(std::pow(10.0, step.first / 20.0), 0, 'g', 17);
    }
    amp += QLatin1Char('0') + QString(ASteps.size(), QLatin1Char(')'));
    const QString one = QStringLiteral("%1*sin(2*PI*1000*t)").arg(amp);
    const QString path = ADir + QLatin1Char('/') + AName;
    if (!Ffmpeg({"-f", "lavfi", "-i", QStringLiteral("aevalsrc=exprs='%1|%1':s=48000:d=%2").arg(one).arg(until),
                 "-c:a", "pcm_s16le", path}))
        return {};
    return path;
}

void WritePcm(const QString &APath, int ARate, int AChannels, const std::vector<int16_t> &APcm)
{
    TWavWriter w;
    w.Create(APath, ARate, AChannels);
    w.Write(APcm.data(), static_cast<qint64>(APcm.size() * 2));
    w.Finish();
}

// Where the true-peak work may be left out, a trap that holds the recording's true peak, just above the
// 0.5 reached early, and that a wrong shortcut would miss.
enum class TPeakTrap {
    QuarterSine,  // a 45-degree quarter-rate sine: samples at 0.42, true peak 0.6 (the interpolator's gain)
    SlowSine,     // a 100 Hz sine at 0.52 after silence (the bound for smooth signals)
    JoinedHalves  // a block ending in an alternating pattern at 0.26, a silent block (left out), then a block
                  // starting with the pattern at 0.5, phase-flipped: an interpolator that went on from the first
                  // block without the silent one's frames would join the halves into a false 0.7
};

// Noise whose level changes every 100 ms (at most 0.25; a quiet stretch), a 0-degree quarter-rate sine at 0.5
// at 1 s, and the trap at 8 s. Interleaved 16-bit, 10 s.
std::vector<int16_t> PeakyNoise(int ARate, int AChannels, TPeakTrap ATrap)
{
    std::vector<int16_t> pcm;
    pcm.reserve(size_t(ARate) * AChannels * 10);
    quint32 seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (int(seed >> 16) - 32768) / 32768.0;
    };
    const qint64 frames = qint64(ARate) * 10;
    const qint64 block = ARate / 10;
    const qint64 trapAt = 80 * block;  // 8.0 s; the trap's blocks are [7.9 s, 8.5 s)
    double level = 0;
    for (qint64 f = 0; f < frames; ++f) {
        const double t = double(f) / ARate;
        if (f % block == 0)
            level = t >= 4.0 && t < 6.0 ? 0.0 : 0.02 + 0.23 * std::fabs(noise());
        for (int c = 0; c < AChannels; ++c) {
            double v = level * noise();
            if (t >= 1.0 && t < 1.2) {
                v = 0.5 * std::sin(M_PI / 2 * double(f));
            } else if (f >= trapAt - block && f < trapAt + 5 * block) {
                const qint64 beforeJoin = trapAt - 1 - f, afterSilence = f - (trapAt + block);
                switch (ATrap) {
                case TPeakTrap::QuarterSine:
                    v = f >= trapAt && c == AChannels - 1 ? 0.6 * std::sin(M_PI / 2 * double(f) + M_PI / 4) : 0.0;
                    break;
                case TPeakTrap::SlowSine:
                    v = f >= trapAt ? 0.52 * std::sin(2 * M_PI * 100 * double(f - trapAt) / ARate) : 0.0;
                    break;
                case TPeakTrap::JoinedHalves:
                    v = f == trapAt - block / 2                   ? 0.45  // so that the first block is fed
                        : beforeJoin >= 0 && beforeJoin < 7       ? (beforeJoin % 2 == 0 ? 0.26 : -0.26)
                        : afterSilence >= 0 && afterSilence < 6 ? (afterSilence % 2 == 0 ? 0.5 : -0.5)
                                                                  : 0.0;
                    break;
                }
            }
            pcm.push_back(int16_t(std::lrint(std::clamp(v, -1.0, 0.99997) * 32768)));
        }
    }
    return pcm;
}

struct TEburFree {
    void operator()(ebur128_state *AState) const { ebur128_destroy(&AState); }
};

// What is placed across the boundaries of the parts.
enum class TAcross {
    Silence,    // 3 s of digital silence from 1.5 s before each boundary: two halves too short to count alone
    Clipping,   // full-scale runs of three whose third sample lies on or just after each boundary, one running
                // from 3.5 s before the first boundary (longer than a part reads before its start), and a
                // loud tone burst from 0.2 s before each boundary (the momentary maximum)
    QuietPart,  // silence from 1 s before the first boundary to 1 s after the second: a whole part is quiet
    Edges       // 2.5 s of silence that starts exactly on a boundary, or ends exactly on one
};

// Noise at 16 kHz stereo whose level changes every 100 ms (a loudness range to measure), with the pieces of
// AAcross placed at the boundaries (seconds). 61 s.
std::vector<int16_t> AcrossBoundaries(TAcross AAcross, const std::vector<double> &ABoundaries)
{
    const int rate = 16000;
    const qint64 frames = qint64(rate) * 61;
    std::vector<int16_t> pcm(size_t(frames) * 2);
    quint32 seed = 777;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (int(seed >> 16) - 32768) / 32768.0;
    };
    double level = 0;
    for (qint64 f = 0; f < frames; ++f) {
        if (f % (rate / 10) == 0)
            level = 0.01 + 0.2 * std::fabs(noise()) * (1 + std::sin(double(f) / rate / 7.0));
        for (int c = 0; c < 2; ++c)
            pcm[size_t(f * 2 + c)] = int16_t(std::lrint(level * noise() * 32767));
    }
    auto at = [rate](double ASec) { return qint64(std::llround(ASec * rate)); };
    auto fill = [&](qint64 AFrom, qint64 ATo, int AChannel, auto AValue) {
        for (qint64 f = std::max<qint64>(AFrom, 0); f < std::min(ATo, frames); ++f)
            for (int c = 0; c < 2; ++c)
                if (AChannel < 0 || c == AChannel)
                    pcm[size_t(f * 2 + c)] = int16_t(AValue(f));
    };
    auto value = [](int AValue) { return [AValue](qint64) { return AValue; }; };
    for (size_t i = 0; i < ABoundaries.size(); ++i) {
        const qint64 b = at(ABoundaries[i]);
        switch (AAcross) {
        case TAcross::Silence:
            fill(b - at(1.5), b + at(1.5), -1, value(0));
            break;
        case TAcross::Clipping:
            fill(b - at(0.2), b + at(0.3), -1, [rate](qint64 AFrame) {
                return std::lrint(0.9 * 32767 * std::sin(2 * M_PI * 997 * double(AFrame) / rate));
            });
            fill(b - 2, b + 1, 0, value(32767));
            if (i == 0)
                fill(b - at(3.5), b + at(0.5), 1, value(32767));
            else
                fill(b - 1, b + 2, 1, value(-32768));
            break;
        case TAcross::QuietPart:
            if (i == 0)
                fill(b - at(1), (ABoundaries.size() > 1 ? at(ABoundaries[1]) : b + at(8)) + at(1), -1, value(0));
            break;
        case TAcross::Edges:
            if (i % 2 == 0) {
                fill(b - 1, b, -1, value(1000));
                fill(b, b + at(2.5), -1, value(0));
            } else {
                fill(b - at(2.5), b, -1, value(0));
                fill(b, b + 1, -1, value(1000));
            }
            break;
        }
    }
    return pcm;
}

} // namespace

class TestuLoudness : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void ebuTonesAndSpeechReadAsFfmpegReadsThem_data();
    void ebuTonesAndSpeechReadAsFfmpegReadsThem();
    void plantedGapIsTheOneSilentStretch_data();
    void plantedGapIsTheOneSilentStretch();
    void clippingRunsAreFoundAtTheirPlacesWhateverThePieces();
    void figuresAreThoseOfOneStateFedEverything_data();
    void figuresAreThoseOfOneStateFedEverything();
    void partsGiveTheFiguresOfOnePass_data();
    void partsGiveTheFiguresOfOnePass();
    void damagedFileIsMeasuredInOnePass_data();
    void damagedFileIsMeasuredInOnePass();
    void rangeReportsRecordingTimesAndCancelStops();
    void unreadableFileIsAnError();
    void toolPrintsTheFiguresAndTheStretches_data();
    void toolPrintsTheFiguresAndTheStretches();

private:
    QTemporaryDir FDir;
};

void TestuLoudness::initTestCase()
{
    QVERIFY(FDir.isValid());
}

void TestuLoudness::ebuTonesAndSpeechReadAsFfmpegReadsThem_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("expected");  // NAN: only against FFmpeg
    const QString d = FDir.path();
    QTest::addRow("sine -23 dBFS") << SineSteps(d, "a.wav", {{-23, 20}}) << -23.0;
    QTest::addRow("sine -33 dBFS") << SineSteps(d, "b.wav", {{-33, 20}}) << -33.0;
    QTest::addRow("-36/-23/-36 dBFS") << SineSteps(d, "c.wav", {{-36, 10}, {-23, 60}, {-36, 10}}) << -23.0;
    QTest::addRow("-26/-20/-26 dBFS") << SineSteps(d, "e.wav", {{-26, 20}, {-20, 20.1}, {-26, 20}}) << -23.0;
    // Speech with pauses, long enough for a loudness range of its own.
    const QString speech = d + "/speech.wav";
    QVERIFY(QProcess::execute("espeak-ng", {"-v", "nl", "-s", "150", "-w", d + "/raw.wav",
                                            QString("Goedemorgen, dit is het nieuws van negen uur. Het regent vandaag "
                                                    "in het hele land, morgen wordt het droog en zonnig. ")
                                                .repeated(4)}) == 0);
    QVERIFY(Ffmpeg({"-i", d + "/raw.wav", "-af", "aresample=48000", "-ac", "2", "-c:a", "pcm_s16le",
                    speech}));
    QTest::addRow("speech") << speech << double(NAN);
}

void TestuLoudness::ebuTonesAndSpeechReadAsFfmpegReadsThem()
{
    QFETCH(QString, path);
    QFETCH(double, expected);
    QVERIFY2(!path.isEmpty(), "the ffmpeg program must make the fixture");
    const TLoudnessResult r = MeasureFileRange(path, 0, 0, {});
    QCOMPARE(r.Error, 0);
    if (!std::isnan(expected))
        QVERIFY2(std::fabs(r.IntegratedLufs - expected) <= 0.1, qPrintable(QString::number(r.IntegratedLufs)));
    TReference ref;
    QVERIFY(FfmpegReference(path, ref));
    QVERIFY2(std::fabs(r.IntegratedLufs - ref.Integrated) <= 0.1,
             qPrintable(QStringLiteral("%1 vs %2").arg(r.IntegratedLufs).arg(ref.Integrated)));
    QVERIFY2(std::fabs(r.RangeLu - ref.Lra) <= 0.3, qPrintable(QStringLiteral("%1 vs %2").arg(r.RangeLu).arg(ref.Lra)));
    QVERIFY2(std::fabs(r.TruePeakDbtp - ref.Tp) <= 0.3,
             qPrintable(QStringLiteral("%1 vs %2").arg(r.TruePeakDbtp).arg(ref.Tp)));
    QVERIFY(r.SamplePeakDbfs <= r.TruePeakDbtp + 0.01);
    QVERIFY2(r.MomentaryMaxLufs >= r.ShorttermMaxLufs - 0.05 && r.ShorttermMaxLufs >= r.IntegratedLufs - 0.05,
             qPrintable(QStringLiteral("M %1 S %2 I %3").arg(r.MomentaryMaxLufs).arg(r.ShorttermMaxLufs).arg(r.IntegratedLufs)));
    QCOMPARE(r.ClipRunCount, qint64(0));
}

void TestuLoudness::plantedGapIsTheOneSilentStretch_data()
{
    QTest::addColumn<double>("minSec");
    QTest::addColumn<int>("stretches");
    QTest::addRow("gap longer than the minimum") << 2.0 << 1;
    QTest::addRow("gap exactly the minimum") << 5.0 << 1;
    QTest::addRow("gap shorter than the minimum") << 5.5 << 0;
}

void TestuLoudness::plantedGapIsTheOneSilentStretch()
{
    QFETCH(double, minSec);
    QFETCH(int, stretches);
    // 3 s of a -20 dBFS tone, 5 s of noise at about -60 dBFS, 3 s of the tone, at 8 kHz mono.
    const int rate = 8000;
    std::vector<int16_t> pcm;
    uint32_t seed = 7;
    for (int i = 0; i < rate * 11; ++i) {
        const double t = double(i) / rate;
        seed = seed * 1664525u + 1013904223u;
        const bool gap = i >= rate * 3 && i < rate * 8;
        pcm.push_back(gap ? int16_t(int((seed >> 16) % 61) - 30)
                          : int16_t(std::lrint(3277 * std::sin(2 * M_PI * 440 * t))));
    }
    const QString path = FDir.filePath("gap.wav");
    WritePcm(path, rate, 1, pcm);
    TLoudnessOptions o;
    o.SilenceMinSec = minSec;
    const TLoudnessResult r = MeasureFileRange(path, 0, 0, o);
    QCOMPARE(r.SilentStretchCount, qint64(stretches));
    QCOMPARE(int(r.SilentStretches.size()), stretches);
    if (stretches) {
        // The tone's zero crossings around the gap are quiet too: at most one sample either side.
        QVERIFY(std::fabs(r.SilentStretches[0].StartSec - 3.0) <= 1.5 / rate);
        QVERIFY(std::fabs(r.SilentStretches[0].EndSec - 8.0) <= 1.5 / rate);
        QVERIFY(std::fabs(r.SilentSeconds - 5.0) <= 2.0 / rate);
    }
}

void TestuLoudness::clippingRunsAreFoundAtTheirPlacesWhateverThePieces()
{
    // A stereo 1 kHz tone at 0.9 full scale, driven four times harder for 10 ms at 1.25 s in the left and at
    // 2.5 s in the right channel: each half period there clips for more than three samples. A run of only
    // two full-scale samples at 0.5 s is no clipping.
    const int rate = 48000;
    std::vector<int16_t> pcm;
    for (int i = 0; i < rate * 3; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < 2; ++c) {
            const double at = c == 0 ? 1.25 : 2.5;
            const double drive = t >= at && t < at + 0.01 ? 4.0 : 1.0;
            const double v = std::clamp(0.9 * drive * std::sin(2 * M_PI * 1000 * t), -1.0, 1.0);
            pcm.push_back(int16_t(std::clamp(std::lrint(v * 32768), -32768L, 32767L)));
        }
    }
    pcm[size_t(rate / 2) * 2] = pcm[size_t(rate / 2 + 1) * 2] = 32767;
    // Pieces of one sample, of an odd number of samples (frames split) and larger than a 100 ms block.
    for (qint64 piece : {qint64(1), qint64(4099), qint64(131072)}) {
        TLoudnessMeter meter(rate, 2, {});
        const char *bytes = reinterpret_cast<const char *>(pcm.data());
        const qint64 total = qint64(pcm.size() * 2);
        for (qint64 at = 0; at < total; at += piece * 2)
            meter.Feed(bytes + at, std::min(piece * 2, total - at));
        const TLoudnessResult r = meter.Finish();
        QCOMPARE(r.ClipRunCount, qint64(40));  // 10 periods, a positive and a negative run each, per place
        QCOMPARE(r.ClipRuns.front().Channel, 0);
        QVERIFY(r.ClipRuns.front().StartSec >= 1.25 && r.ClipRuns.front().StartSec < 1.2505);
        QCOMPARE(r.ClipRuns.back().Channel, 1);
        QVERIFY(r.ClipRuns.back().StartSec >= 2.509 && r.ClipRuns.back().StartSec < 2.51);
        QCOMPARE(r.ClipRuns[20].Channel, 1);
        QVERIFY(r.ClipRuns[20].StartSec >= 2.5 && r.ClipRuns[20].StartSec < 2.5005);
        QCOMPARE(r.SamplePeakDbfs, 0.0);
        QVERIFY(r.TruePeakDbtp > 0.0);
    }
}

void TestuLoudness::figuresAreThoseOfOneStateFedEverything_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<bool>("parallel");
    QTest::addColumn<int>("trap");
    QTest::newRow("quarter sine, 44.1 kHz stereo") << 44100 << 2 << true << int(TPeakTrap::QuarterSine);
    QTest::newRow("quarter sine, 96 kHz stereo, 2x") << 96000 << 2 << true << int(TPeakTrap::QuarterSine);
    QTest::newRow("quarter sine, 8 kHz mono, one thread") << 8000 << 1 << false << int(TPeakTrap::QuarterSine);
    QTest::newRow("slow sine, 44.1 kHz stereo") << 44100 << 2 << true << int(TPeakTrap::SlowSine);
    QTest::newRow("slow sine, 96 kHz mono, 2x") << 96000 << 1 << true << int(TPeakTrap::SlowSine);
    QTest::newRow("joined halves, 48 kHz mono") << 48000 << 1 << true << int(TPeakTrap::JoinedHalves);
    QTest::newRow("joined halves, 44.1 kHz stereo, one thread") << 44100 << 2 << false
                                                               << int(TPeakTrap::JoinedHalves);
}

void TestuLoudness::figuresAreThoseOfOneStateFedEverything()
{
    // The meter leaves true-peak work out where it cannot matter and may do the loudness on a thread of its
    // own; the figures must still be exactly those of libebur128 fed every frame in one state with every mode.
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(bool, parallel);
    QFETCH(int, trap);
    const std::vector<int16_t> pcm = PeakyNoise(rate, channels, TPeakTrap(trap));
    const size_t frames = pcm.size() / size_t(channels);
    std::unique_ptr<ebur128_state, TEburFree> ref(
        ebur128_init(unsigned(channels), unsigned(rate),
                     EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM));
    QVERIFY(ref);
    QCOMPARE(ebur128_add_frames_short(ref.get(), pcm.data(), frames), EBUR128_SUCCESS);
    double integrated = 0, range = 0, peak = 0;
    QCOMPARE(ebur128_loudness_global(ref.get(), &integrated), EBUR128_SUCCESS);
    QCOMPARE(ebur128_loudness_range(ref.get(), &range), EBUR128_SUCCESS);
    for (int c = 0; c < channels; ++c) {
        double v = 0;
        QCOMPARE(ebur128_true_peak(ref.get(), unsigned(c), &v), EBUR128_SUCCESS);
        peak = std::max(peak, v);
    }
    QVERIFY2(peak > 0.5 && peak < 0.65, qPrintable(QString::number(peak)));  // the trap holds the maximum

    TLoudnessOptions options;
    options.Parallel = parallel;
    const char *bytes = reinterpret_cast<const char *>(pcm.data());
    const qint64 total = qint64(pcm.size() * 2);
    {
        TLoudnessMeter unfinished(rate, channels, options);  // its worker must stop without a Finish
        unfinished.Feed(bytes, total / 2);
    }
    TLoudnessMeter meter(rate, channels, options);
    for (qint64 at = 0; at < total; at += 5003 * 2)
        meter.Feed(bytes + at, std::min<qint64>(5003 * 2, total - at));
    const TLoudnessResult r = meter.Finish();
    QCOMPARE(r.IntegratedLufs, integrated);
    QCOMPARE(r.RangeLu, range);
    QCOMPARE(r.TruePeakDbtp, 20.0 * std::log10(peak));
}

void TestuLoudness::partsGiveTheFiguresOfOnePass_data()
{
    QTest::addColumn<int>("parts");
    QTest::addColumn<int>("across");
    const char *names[] = {"silence", "clipping", "a quiet part", "silence to and from"};
    for (const int parts : {2, 3, 8})
        for (const TAcross across : {TAcross::Silence, TAcross::Clipping, TAcross::QuietPart, TAcross::Edges})
            QTest::addRow("%s across %d parts", names[int(across)], parts) << parts << int(across);
}

void TestuLoudness::partsGiveTheFiguresOfOnePass()
{
    // Each part reads the 3 s before its start and counts the windows, runs and stretches that start in it;
    // what straddles a boundary is measured once. The figures are those of one pass: integrated loudness and
    // loudness range within 0.01 LU, everything else exactly.
    QFETCH(int, parts);
    QFETCH(int, across);
    const int rate = 16000;
    const std::vector<qint64> starts = LoudnessPartStarts(qint64(rate) * 61, rate, parts, 1);
    QCOMPARE(int(starts.size()), parts);
    std::vector<double> boundaries;
    for (size_t k = 1; k < starts.size(); ++k)
        boundaries.push_back(double(starts[k]) / rate);
    const QString path = FDir.filePath(QStringLiteral("across-%1-%2.wav").arg(parts).arg(across));
    WritePcm(path, rate, 2, AcrossBoundaries(TAcross(across), boundaries));

    TLoudnessOptions one;
    one.Parts = 1;
    TLoudnessOptions inParts;
    inParts.Parts = parts;
    const TLoudnessResult a = MeasureFileRange(path, 0, 0, one);
    std::vector<int> reports;
    const TLoudnessResult b = MeasureFileRange(path, 0, 0, inParts, [&reports](int APercent) {
        reports.push_back(APercent);
        return true;
    });
    QCOMPARE(b.Error, 0);
    QVERIFY(!b.Cancelled);
    QCOMPARE(a.Parts, 1);
    QCOMPARE(b.Parts, parts);
    QVERIFY2(std::fabs(a.IntegratedLufs - b.IntegratedLufs) <= 0.01,
             qPrintable(QStringLiteral("%1 %2").arg(a.IntegratedLufs).arg(b.IntegratedLufs)));
    QVERIFY2(std::fabs(a.RangeLu - b.RangeLu) <= 0.01, qPrintable(QStringLiteral("%1 %2").arg(a.RangeLu).arg(b.RangeLu)));
    QCOMPARE(b.TruePeakDbtp, a.TruePeakDbtp);
    QCOMPARE(b.SamplePeakDbfs, a.SamplePeakDbfs);
    QCOMPARE(b.MomentaryMaxLufs, a.MomentaryMaxLufs);
    QCOMPARE(b.ShorttermMaxLufs, a.ShorttermMaxLufs);
    QCOMPARE(b.StartSec, a.StartSec);
    QCOMPARE(b.EndSec, a.EndSec);
    QCOMPARE(b.ClipRunCount, a.ClipRunCount);
    QCOMPARE(b.ClipRuns.size(), a.ClipRuns.size());
    for (size_t i = 0; i < a.ClipRuns.size(); ++i) {
        QCOMPARE(b.ClipRuns[i].StartSec, a.ClipRuns[i].StartSec);
        QCOMPARE(b.ClipRuns[i].Channel, a.ClipRuns[i].Channel);
    }
    QCOMPARE(b.SilentStretchCount, a.SilentStretchCount);
    QCOMPARE(b.SilentSeconds, a.SilentSeconds);
    QCOMPARE(b.SilentStretches.size(), a.SilentStretches.size());
    for (size_t i = 0; i < a.SilentStretches.size(); ++i) {
        QCOMPARE(b.SilentStretches[i].StartSec, a.SilentStretches[i].StartSec);
        QCOMPARE(b.SilentStretches[i].EndSec, a.SilentStretches[i].EndSec);
    }
    // What was placed is found: one stretch or run per boundary at least.
    const qint64 placed = qint64(boundaries.size());
    if (TAcross(across) == TAcross::Silence)
        QCOMPARE(a.SilentStretchCount, placed);
    if (TAcross(across) == TAcross::Clipping)
        QCOMPARE(a.ClipRunCount, 2 * placed);
    if (TAcross(across) == TAcross::Edges)
        QCOMPARE(a.SilentStretchCount, placed);
    if (TAcross(across) == TAcross::QuietPart)
        QCOMPARE(a.SilentStretchCount, qint64(1));
    // Progress rises to 100 and never repeats.
    QVERIFY(!reports.empty());
    QCOMPARE(reports.back(), 100);
    QVERIFY(std::is_sorted(reports.begin(), reports.end()));
    QVERIFY(std::adjacent_find(reports.begin(), reports.end()) == reports.end());
}

void TestuLoudness::damagedFileIsMeasuredInOnePass_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("parts");  // the parts it is measured in when asked for 3
    const QString d = FDir.path();
    const QString signal = QStringLiteral("aevalsrc=exprs='0.4*sin(2*PI*440*t)*lt(mod(t\\,7)\\,5)+0.1*random(0)|"
                                          "0.3*sin(2*PI*317*t)+0.05*random(1)':s=44100:d=40");
    auto damaged = [&](const QString &AName, const QStringList &AEncode, auto ADamage) {
        const QString whole = d + QStringLiteral("/whole-") + AName;
        if (!Ffmpeg(QStringList{"-f", "lavfi", "-i", signal} + AEncode + QStringList{whole}))
            return QString();
        QFile in(whole);
        if (!in.open(QIODevice::ReadOnly))
            return QString();
        QByteArray bytes = in.readAll();
        ADamage(bytes);
        QFile out(d + QLatin1Char('/') + AName);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() ? out.fileName() : QString();
    };
    // A stretch of its own pages spliced in again: timestamps run backwards there.
    QTest::addRow("ogg with a stretch of itself spliced in")
        << damaged("spliced.ogg", {"-c:a", "libvorbis", "-q:a", "3"}, [](QByteArray &ABytes) {
               const int from = ABytes.indexOf("OggS", ABytes.size() * 3 / 10);
               const int to = ABytes.indexOf("OggS", ABytes.size() * 45 / 100);
               ABytes.insert(ABytes.indexOf("OggS", ABytes.size() * 7 / 10), ABytes.mid(from, to - from));
           })
        << 1;
    // The sample rate field says half the byte rate: its seeks would land elsewhere.
    QTest::addRow("wav with a damaged rate field")
        << damaged("badrate.wav", {"-c:a", "pcm_s16le"}, [](QByteArray &ABytes) {
               const int fmt = ABytes.indexOf("fmt ");
               quint32 rate = 0;
               std::memcpy(&rate, ABytes.constData() + fmt + 12, 4);
               rate /= 2;
               std::memcpy(ABytes.data() + fmt + 12, &rate, 4);
           })
        << 1;
    // Garbage the decoder refuses.
    QTest::addRow("mp3 with garbage") << damaged("garbage.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"},
                                                 [](QByteArray &ABytes) {
                                                     for (int i = 0; i < 3000; ++i)
                                                         ABytes[ABytes.size() * 3 / 5 + i] = char(i * 7919 % 251);
                                                 })
                                      << 1;
}

void TestuLoudness::damagedFileIsMeasuredInOnePass()
{
    // A part that meets damage (or a file that does not seek exactly) makes the whole range one pass: the
    // figures are those of one pass to the last bit.
    QFETCH(QString, path);
    QVERIFY(!path.isEmpty());
    TLoudnessOptions one;
    one.Parts = 1;
    TLoudnessOptions three;
    three.Parts = 3;
    const TLoudnessResult a = MeasureFileRange(path, 0, 0, one);
    const TLoudnessResult b = MeasureFileRange(path, 0, 0, three);
    QCOMPARE(a.Error, 0);
    QTEST(b.Parts, "parts");
    QCOMPARE(b.IntegratedLufs, a.IntegratedLufs);
    QCOMPARE(b.RangeLu, a.RangeLu);
    QCOMPARE(b.TruePeakDbtp, a.TruePeakDbtp);
    QCOMPARE(b.ShorttermMaxLufs, a.ShorttermMaxLufs);
    QCOMPARE(b.EndSec, a.EndSec);
    QCOMPARE(b.SilentStretchCount, a.SilentStretchCount);
}

void TestuLoudness::rangeReportsRecordingTimesAndCancelStops()
{
    // 4 s of tone, 3 s of digital silence, 3 s of tone at 8 kHz stereo.
    const int rate = 8000;
    std::vector<int16_t> pcm;
    for (int i = 0; i < rate * 10; ++i) {
        const bool gap = i >= rate * 4 && i < rate * 7;
        const int16_t v = gap ? 0 : int16_t(std::lrint(8000 * std::sin(2 * M_PI * 300.0 * i / rate)));
        pcm.push_back(v);
        pcm.push_back(v);
    }
    const QString path = FDir.filePath("range.wav");
    WritePcm(path, rate, 2, pcm);

    QVector<int> reports;
    const TLoudnessResult r = MeasureFileRange(path, 3.0, 8.0, {}, [&reports](int APercent) {
        reports << APercent;
        return true;
    });
    QCOMPARE(r.StartSec, 3.0);
    QCOMPARE(r.EndSec, 8.0);
    QCOMPARE(r.SilentStretchCount, qint64(1));
    QVERIFY(std::fabs(r.SilentStretches[0].StartSec - 4.0) <= 1.0 / rate);
    QVERIFY(std::fabs(r.SilentStretches[0].EndSec - 7.0) <= 1.0 / rate);
    QCOMPARE(reports.last(), 100);

    const TLoudnessResult silent = MeasureFileRange(path, 4.5, 6.5, {});
    QVERIFY(std::isinf(silent.IntegratedLufs) && silent.IntegratedLufs < 0);
    QVERIFY(std::isinf(silent.TruePeakDbtp) && std::isinf(silent.SamplePeakDbfs));
    QCOMPARE(silent.SilentSeconds, 2.0);

    const TLoudnessResult cancelled = MeasureFileRange(path, 0, 0, {}, [](int) { return false; });
    QVERIFY(cancelled.Cancelled);
    QVERIFY(cancelled.EndSec < 10.0);
}

void TestuLoudness::unreadableFileIsAnError()
{
    const QString path = FDir.filePath("noise.mp3");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    QVERIFY(MeasureFileRange(path, 0, 0, {}).Error != 0);
    QVERIFY(MeasureFileRange(FDir.filePath("missing.wav"), 0, 0, {}).Error != 0);
}

void TestuLoudness::toolPrintsTheFiguresAndTheStretches_data()
{
    QTest::addColumn<QStringList>("args");  // after the file
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");
    // The file: 2 s of a -6 dBFS stereo tone, 3 s of digital silence, 3 s of the tone.
    const QString head = "range_lu=4.70\ntrue_peak_dbtp=-6.02\nsample_peak_dbfs=-6.02\nmomentary_max_lufs=-6.01\n"
                         "shortterm_max_lufs=-6.01\nclipped_runs=0\n";
    QTest::addRow("whole file") << QStringList{} << 0
                                << "integrated_lufs=-6.32\n" + head + "silence_runs=1\nsilence_seconds=3.000\n"
                                   "silence=2.000\t5.000\n";
    QTest::addRow("silent range") << QStringList{"--start", "2.5", "--end", "4.5"} << 0
                                  << "integrated_lufs=-inf\nrange_lu=0.00\ntrue_peak_dbtp=-inf\n"
                                     "sample_peak_dbfs=-inf\nmomentary_max_lufs=-inf\nshortterm_max_lufs=-inf\n"
                                     "clipped_runs=0\nsilence_runs=1\nsilence_seconds=2.000\nsilence=2.500\t4.500\n";
    QTest::addRow("minimum longer than the gap") << QStringList{"--silence-min", "3.5"} << 0
                                                 << "integrated_lufs=-6.32\n" + head
                                                        + "silence_runs=0\nsilence_seconds=0.000\n";
    QTest::addRow("one pass") << QStringList{"--threads", "1"} << 0
                              << "integrated_lufs=-6.32\n" + head + "silence_runs=1\nsilence_seconds=3.000\n"
                                 "silence=2.000\t5.000\n";
    QTest::addRow("no threads") << QStringList{"--threads", "0"} << 2 << "";
    QTest::addRow("threads no number") << QStringList{"--threads", "2.5"} << 2 << "";
    QTest::addRow("end before start") << QStringList{"--start", "3", "--end", "2"} << 2 << "";
    QTest::addRow("level no number") << QStringList{"--silence-db", "x"} << 2 << "";
    QTest::addRow("level above full scale") << QStringList{"--silence-db", "3"} << 2 << "";
    QTest::addRow("unknown option") << QStringList{"--loud", "1"} << 2 << "";
    QTest::addRow("missing file") << QStringList{"missing"} << 1 << "";
}

void TestuLoudness::toolPrintsTheFiguresAndTheStretches()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    const QString path = FDir.filePath("tool.wav");
    if (!QFile::exists(path))
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=exprs='0.5*sin(2*PI*1000*t)*not(between(t\\,2\\,5))|"
                        "0.5*sin(2*PI*1000*t)*not(between(t\\,2\\,5))':s=48000:d=8",
                        "-c:a", "pcm_s16le", path}));
    QStringList all{"loudness", path};
    if (args.value(0) == QLatin1String("missing"))
        all = QStringList{"loudness", FDir.filePath("missing.wav")};
    else
        all += args;
    QProcess p;
    p.start(qEnvironmentVariable("VORNAK_TOOL"), all);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), code);
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), out);
}

VORNAK_TEST_GUILESS_MAIN(TestuLoudness)
#include "tst_uLoudness.moc"
