// Listening choices heard for real: speed with kept pitch, channel solo, loop and silence skipping,
// played into a null sink of the test sound server and recorded back from its monitor.
#include "FfmpegKit.h"
#include "TestMain.h"
#include "uAudioEngine.h"

#include <QTest>

#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Rate = 44100;

QString Pactl(const QStringList &AArgs)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), AArgs);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// What the monitor of a sink heard: 16-bit stereo at 44.1 kHz.
class TMonitor {
public:
    explicit TMonitor(const QString &ASink)
    {
        FRec.start(QStringLiteral("parec"), {"-d", ASink + ".monitor", "--raw", "--format=s16le",
                                             "--rate=44100", "--channels=2", "--latency-msec=20"});
    }
    ~TMonitor()
    {
        FRec.kill();
        FRec.waitForFinished(2000);
    }
    // True once the recorder delivers data (the monitor sends silence while nothing plays).
    bool WaitReady()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            FRec.waitForReadyRead(100);
            if (FRec.bytesAvailable() > 0) {
                FRec.readAll();
                return true;
            }
        }
        return false;
    }
    // Forgets what was recorded so far.
    void Skip()
    {
        FRec.waitForReadyRead(50);
        FRec.readAll();
        FTaken.clear();
    }
    // Waits for the next data from the monitor (at most AMs) and keeps it; returns the seconds of sound
    // recorded since Skip: the output's own clock.
    double Collect(int AMs)
    {
        FRec.waitForReadyRead(AMs);
        FTaken += FRec.readAll();
        return double(FTaken.size() / 4) / Rate;
    }
    // Seconds recorded since Skip in which sound was heard (10 ms windows above -30 dBFS on either channel):
    // under load the output may start late or run dry for a moment, and the monitor then records silence.
    double SoundSeconds() const
    {
        const auto *s = reinterpret_cast<const int16_t *>(FTaken.constData());
        const qsizetype frames = FTaken.size() / 4, win = Rate / 100;
        qsizetype loud = 0;
        for (qsizetype at = 0; at + win <= frames; at += win) {
            double energy = 0;
            for (qsizetype i = at; i < at + win; ++i)
                energy += double(s[2 * i]) * s[2 * i] + double(s[2 * i + 1]) * s[2 * i + 1];
            if (std::sqrt(energy / (2.0 * win)) / 32768.0 > 0.03)
                loud += win;
        }
        return double(loud) / Rate;
    }
    // Everything recorded since Skip, as left and right samples.
    void Take(std::vector<double> &ALeft, std::vector<double> &ARight)
    {
        Collect(100);
        const QByteArray raw = FTaken;
        FTaken.clear();
        const auto *s = reinterpret_cast<const int16_t *>(raw.constData());
        ALeft.clear();
        ARight.clear();
        for (qsizetype i = 0; i + 1 < raw.size() / 2; i += 2) {
            ALeft.push_back(s[i] / 32768.0);
            ARight.push_back(s[i + 1] / 32768.0);
        }
    }

private:
    QProcess FRec;
    QByteArray FTaken;  // 16-bit stereo frames recorded since Skip
};

double Rms(const std::vector<double> &ASamples, size_t AFrom, size_t ACount)
{
    double e = 0;
    for (size_t i = AFrom; i < AFrom + ACount && i < ASamples.size(); ++i)
        e += ASamples[i] * ASamples[i];
    return std::sqrt(e / double(std::max<size_t>(ACount, 1)));
}

// Frequency of the loudest tone in the sound, from the upward zero crossings of its loud part: the mean of
// the middle half of the periods between crossings, so that a dropout of the monitor under load (one long
// period) or a few periods of what played before cannot pull it away from the tone.
double ToneHz(const std::vector<double> &ASamples)
{
    const size_t win = Rate / 20;
    size_t first = SIZE_MAX, last = 0;
    for (size_t i = 0; i + win <= ASamples.size(); i += win)
        if (Rms(ASamples, i, win) > 0.03) {
            first = std::min(first, i);
            last = i + win;
        }
    if (first == SIZE_MAX)
        return 0;
    std::vector<double> periods;
    double previousAt = -1;
    for (size_t i = first + 1; i < last; ++i)
        if (ASamples[i - 1] < 0 && ASamples[i] >= 0) {
            // The crossing between the two samples, so that periods are not whole samples only.
            const double at = double(i - 1) + ASamples[i - 1] / (ASamples[i - 1] - ASamples[i]);
            if (previousAt >= 0)
                periods.push_back(at - previousAt);
            previousAt = at;
        }
    if (periods.size() < 4)
        return 0;
    std::sort(periods.begin(), periods.end());
    const size_t from = periods.size() / 4, to = periods.size() - periods.size() / 4;
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += periods[i];
    return Rate * double(to - from) / sum;
}

// How far the position moved per second of sound heard, from 0.5 s of sound heard to the last reading.
double RecordingSecondsPerSecondHeard(const QList<double> &APositions, const QList<double> &ASoundSeconds)
{
    const qsizetype from =
        std::find_if(ASoundSeconds.begin(), ASoundSeconds.end(), [](double AHeard) { return AHeard >= 0.5; })
        - ASoundSeconds.begin();
    if (from >= ASoundSeconds.size() || ASoundSeconds.last() <= ASoundSeconds[from])
        return 0;
    return (APositions.last() - APositions[from]) / (ASoundSeconds.last() - ASoundSeconds[from]);
}

// The last ASeconds of a recording.
std::vector<double> Tail(const std::vector<double> &ASamples, double ASeconds)
{
    const size_t keep = std::min(ASamples.size(), static_cast<size_t>(ASeconds * Rate));
    return std::vector<double>(ASamples.end() - static_cast<std::ptrdiff_t>(keep), ASamples.end());
}

// The longest run of quiet (below -40 dBFS in 10 ms windows) between two loud stretches, in seconds.
double LongestInnerGapSec(const std::vector<double> &ASamples)
{
    const size_t win = Rate / 100;
    bool seenLoud = false;
    size_t quiet = 0, longest = 0;
    for (size_t i = 0; i + win <= ASamples.size(); i += win) {
        if (Rms(ASamples, i, win) > 0.01) {
            if (seenLoud)
                longest = std::max(longest, quiet);
            seenLoud = true;
            quiet = 0;
        } else {
            quiet += win;
        }
    }
    return double(longest) / Rate;
}

} // namespace

class TestPlaybackChoices : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FSink;         // a null sink of our own, so other players on the server are not heard
    int FDevice = 0;       // its engine device number
    QString FModule;
    std::unique_ptr<TMonitor> FMonitor;  // records the sink for the whole run (starting it takes seconds)
    QString FStereo;       // 20 s: 440 Hz left, 1000 Hz right
    QString FMono;         // 5 s of 440 Hz
    QString FGap;          // 1 s of 440 Hz, 10 s of silence, 2 s of 1000 Hz
    QString Path(const QString &AName) const { return FDir.filePath(AName); }

    // Plays from `from` for `ms` recorded by the monitor (the output's clock, not the wall clock); the
    // positions seen at each delivery of the monitor (about every 20 ms) go to `positions`, with the seconds
    // of sound heard by then in `times` (silence the output made while it started or ran dry not counted).
    // With `soundMs`, plays on until that much sound was heard.
    void PlayAndRecord(TAudioEngine &AEngine, double AFrom, int AMs, std::vector<double> &ALeft, std::vector<double> &ARight,
                       QList<double> *APositions = nullptr, QList<double> *ATimes = nullptr, int ASoundMs = 0)
    {
        FMonitor->Skip();
        AEngine.SeekSec(AFrom);
        AEngine.Play();
        double heard = 0;
        for (int reading = 0; reading < 10 * AMs && (heard < AMs / 1000.0 || FMonitor->SoundSeconds() < ASoundMs / 1000.0);
             ++reading) {
            heard = FMonitor->Collect(20);
            if (APositions)
                APositions->append(AEngine.PositionSec());
            if (ATimes)
                ATimes->append(FMonitor->SoundSeconds());
            QCoreApplication::processEvents();
        }
        AEngine.Pause();
        // The last of the sound reaches the monitor: 150 ms more of what it records.
        for (int reading = 0; reading < 100 && FMonitor->Collect(20) < heard + 0.15; ++reading) {
        }
        FMonitor->Take(ALeft, ARight);
    }

    bool Engine(TAudioEngine &AEngine, const QString &AFile)
    {
        AEngine.SetInitialDevice(FDevice);
        return AEngine.InitAudio() && AEngine.Load(AFile);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program makes the fixtures (tools/install.sh installs it)");
        QVERIFY2(!QStandardPaths::findExecutable("parec").isEmpty(),
                 "parec is not installed (tools/install.sh installs it)");
        if (Pactl({"info"}).isEmpty())
            QSKIP("needs a sound server (tools/start-sound.sh starts one)");
        FSink = QStringLiteral("listen%1").arg(QCoreApplication::applicationPid());
        FModule = Pactl({"load-module", "module-null-sink", "sink_name=" + FSink,
                         "sink_properties=device.description=" + FSink});
        QVERIFY(!FModule.isEmpty());
        // The device list follows the server; wait for the new sink to show.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QList<QAudioDevice> outs = QMediaDevices::audioOutputs();
                for (int i = 0; i < outs.size(); ++i)
                    if (outs[i].id() == FSink.toUtf8())
                        FDevice = i + 1;
                return FDevice > 0;
            }(),
            5000);
        FMonitor = std::make_unique<TMonitor>(FSink);
        QVERIFY(FMonitor->WaitReady());
        FStereo = Path("stereo.wav");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*1000*t):s=44100:d=20",
                        "-c:a", "pcm_s16le", FStereo}));
        FMono = Path("mono.wav");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=5:sample_rate=44100", "-c:a", "pcm_s16le",
                        FMono}));
        FGap = Path("gap.ogg");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=0.5*sin(2*PI*440*t)*lt(t\\,1)+0.5*sin(2*PI*1000*t)*gte(t\\,11):s=44100:d=13",
                        "-ac", "2", "-c:a", "libvorbis", FGap}));
    }

    void cleanupTestCase()
    {
        FMonitor.reset();
        if (!FModule.isEmpty())
            Pactl({"unload-module", FModule});
    }

    // The pitch stays whatever the speed; the position runs at the speed, in the recording's own time.
    void speedKeepsPitchAndAdvancesAtThatSpeed_data()
    {
        QTest::addColumn<double>("speed");
        QTest::addRow("0.5x") << 0.5;
        QTest::addRow("1x") << 1.0;
        QTest::addRow("1.5x") << 1.5;
        QTest::addRow("2x") << 2.0;
    }
    void speedKeepsPitchAndAdvancesAtThatSpeed()
    {
        QFETCH(double, speed);
        TAudioEngine e;
        QVERIFY(Engine(e, FStereo));
        e.SetSpeed(speed);
        QCOMPARE(e.Speed(), speed);
        std::vector<double> left, right;
        QList<double> positions, times;
        PlayAndRecord(e, 2.0, 1500, left, right, &positions, &times, 1500);
        QVERIFY2(qAbs(ToneHz(left) - 440) < 8, qPrintable(QString::number(ToneHz(left))));
        QVERIFY2(qAbs(ToneHz(right) - 1000) < 15, qPrintable(QString::number(ToneHz(right))));
        // Recording seconds per second of sound heard, from 0.5 s of sound on (the output has started) to the
        // last reading.
        const double rate = RecordingSecondsPerSecondHeard(positions, times);
        QVERIFY2(qAbs(rate / speed - 1) < 0.1, qPrintable(QString::number(rate)));
        // The position heard never runs ahead: after a pause it is where the sound stopped.
        const double paused = e.PositionSec();
        QVERIFY2(paused > 2.0 && paused < 2.0 + 1.8 * speed, qPrintable(QString::number(paused)));
    }

    void soloPlaysOneChannelOnBothOutputs_data()
    {
        QTest::addColumn<bool>("mono");
        QTest::addColumn<TChannelMode>("mode");
        QTest::addColumn<double>("leftHz");
        QTest::addColumn<double>("rightHz");
        QTest::addRow("both") << false << TChannelMode::cmBoth << 440.0 << 1000.0;
        QTest::addRow("left alone") << false << TChannelMode::cmLeft << 440.0 << 440.0;
        QTest::addRow("right alone") << false << TChannelMode::cmRight << 1000.0 << 1000.0;
        QTest::addRow("mono, right chosen") << true << TChannelMode::cmRight << 440.0 << 440.0;
    }
    void soloPlaysOneChannelOnBothOutputs()
    {
        QFETCH(bool, mono);
        QFETCH(TChannelMode, mode);
        QFETCH(double, leftHz);
        QFETCH(double, rightHz);
        TAudioEngine e;
        QVERIFY(Engine(e, mono ? FMono : FStereo));
        e.SetChannelMode(mode);
        std::vector<double> left, right;
        PlayAndRecord(e, 1.0, 600, left, right);
        QVERIFY2(qAbs(ToneHz(left) - leftHz) < leftHz * 0.015, qPrintable(QString::number(ToneHz(left))));
        QVERIFY2(qAbs(ToneHz(right) - rightHz) < rightHz * 0.015, qPrintable(QString::number(ToneHz(right))));
    }

    // A solo chosen while playing is heard at once, together with a speed: the choices combine.
    void choicesChangedWhilePlayingAreHeardAtOnce()
    {
        TAudioEngine e;
        QVERIFY(Engine(e, FStereo));
        e.SeekSec(3.0);
        e.Play();
        QTRY_VERIFY(e.PositionSec() > 3.1);  // the choices change while playback is under way
        e.SetSpeed(1.5);
        e.SetChannelMode(TChannelMode::cmRight);
        QVERIFY(e.IsPlaying());
        const double at = e.PositionSec();
        QVERIFY2(at > 3.0 && at < 3.6, qPrintable(QString::number(at)));
        // Half a second of sound by the output's own clock (under load the recorder's data comes late), of
        // which the last quarter second: what was already on its way to the output before the change is
        // not the change's fault.
        FMonitor->Skip();
        for (int reading = 0; reading < 200 && FMonitor->Collect(50) < 0.5; ++reading) {
        }
        std::vector<double> left, right;
        FMonitor->Take(left, right);
        QVERIFY2(double(left.size()) / Rate >= 0.5, qPrintable(QString::number(double(left.size()) / Rate)));
        const double leftHz = ToneHz(Tail(left, 0.25)), rightHz = ToneHz(Tail(right, 0.25));
        QVERIFY2(qAbs(leftHz - 1000) < 15, qPrintable(QString::number(leftHz)));
        QVERIFY2(qAbs(rightHz - 1000) < 15, qPrintable(QString::number(rightHz)));
    }

    // The choices belong to the engine, not to one playback stream: they hold on another device too.
    void choicesSurviveADeviceChange()
    {
        if (QMediaDevices::audioOutputs().size() < 2)
            QSKIP("needs a second output");
        TAudioEngine e;
        QVERIFY(Engine(e, FStereo));
        e.SetSpeed(2.0);
        e.SetChannelMode(TChannelMode::cmLeft);
        QVERIFY(e.ChangeDevice(FDevice == 1 ? 2 : 1));
        QVERIFY(e.ChangeDevice(FDevice));
        std::vector<double> left, right;
        QList<double> positions, times;
        PlayAndRecord(e, 2.0, 1200, left, right, &positions, &times, 1200);
        QVERIFY2(qAbs(ToneHz(right) - 440) < 8, qPrintable(QString::number(ToneHz(right))));
        const double rate = RecordingSecondsPerSecondHeard(positions, times);
        QVERIFY2(qAbs(rate / 2.0 - 1) < 0.1, qPrintable(QString::number(rate)));
    }

    // Playback that reaches the loop's end continues at its start, at any speed and also when the range
    // reaches past the end of the recording; after the loop is cleared it plays on past the end.
    void loopContinuesAtTheRangeStart_data()
    {
        QTest::addColumn<bool>("mono");  // the 5 s file, else the 20 s one
        QTest::addColumn<double>("speed");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addRow("1x") << false << 1.0 << 4.0 << 4.6;
        QTest::addRow("2x") << false << 2.0 << 4.0 << 4.6;
        QTest::addRow("end past the recording") << true << 1.0 << 4.4 << 99.0;
    }
    void loopContinuesAtTheRangeStart()
    {
        QFETCH(bool, mono);
        QFETCH(double, speed);
        QFETCH(double, start);
        QFETCH(double, end);
        TAudioEngine e;
        QVERIFY(Engine(e, mono ? FMono : FStereo));
        e.SetSpeed(speed);
        e.SetLoopRange(start, end);
        QCOMPARE(e.LoopEnd(), end);
        const double loopEnd = std::min(end, e.DurationSec());
        e.SeekSec(start - 0.2);
        e.Play();
        QList<double> positions;
        for (int reading = 0; reading < 80; ++reading) {  // 1.6 s of playing: time passes
            positions.append(e.PositionSec());
            QTest::qWait(20);
        }
        int wraps = 0;
        for (int i = 1; i < positions.size(); ++i) {
            QVERIFY2(positions[i] <= loopEnd + 0.05, qPrintable(QString::number(positions[i])));
            if (positions[i] < positions[i - 1] - 0.3) {
                ++wraps;
                QVERIFY2(positions[i] < start + 0.2, qPrintable(QString::number(positions[i])));
            }
        }
        QVERIFY2(wraps >= int(1.4 * speed / (loopEnd - start)) - 1, qPrintable(QString::number(wraps)));
        QVERIFY(e.IsPlaying());
        e.SetLoopRange(-1, -1);
        QCOMPARE(e.LoopStart(), -1.0);
        if (mono)
            QTRY_VERIFY_WITH_TIMEOUT(!e.IsPlaying(), 2000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(e.PositionSec() > loopEnd + 0.2, 2000);
        e.Stop();
    }

    // The end of the recording stops playback at the end, with the time stretch too.
    void endStopsAtTheEndAtAnySpeed()
    {
        TAudioEngine e;
        QVERIFY(Engine(e, FMono));
        e.SetSpeed(2.0);
        e.SeekSec(4.5);
        e.Play();
        QTRY_VERIFY_WITH_TIMEOUT(!e.IsPlaying(), 3000);
        QVERIFY(!e.IsPaused());
        QCOMPARE(e.PositionSec(), e.DurationSec());
    }

    // A tone, 10 s of silence, a tone: playback jumps from 0.5 s into the silence to 0.5 s before its end,
    // and the listener hears about 1 s of quiet between the tones.
    void silenceLongerThanTwoSecondsIsSkipped()
    {
        TAudioEngine e;
        QVERIFY(Engine(e, FGap));
        QCOMPARE(int(e.SilenceRanges().size()), 1);
        QVERIFY2(qAbs(e.SilenceRanges()[0].StartSec - 1.5) < 0.05 && qAbs(e.SilenceRanges()[0].EndSec - 10.5) < 0.05,
                 qPrintable(QString("%1-%2").arg(e.SilenceRanges()[0].StartSec).arg(e.SilenceRanges()[0].EndSec)));
        e.SetSkipSilence(true);
        std::vector<double> left, right;
        QList<double> positions;
        // Until both tones were heard: 0.4 s of the first and most of the second (an output that starts late
        // under load records silence first).
        PlayAndRecord(e, 0.6, 2200, left, right, &positions, nullptr, 1400);
        for (double p : positions)
            QVERIFY2(p < 1.6 || p > 10.45, qPrintable(QString::number(p)));
        QVERIFY2(positions.last() > 11.0, qPrintable(QString::number(positions.last())));
        const double gap = LongestInnerGapSec(left);
        QVERIFY2(gap > 0.8 && gap < 1.3, qPrintable(QString::number(gap)));
        // Off again: the silence is played.
        e.SetSkipSilence(false);
        e.SeekSec(2.0);
        e.Play();
        // Played on into the silence, it does not jump over it.
        QTRY_VERIFY(e.PositionSec() > 2.2);
        QVERIFY2(e.PositionSec() < 3.0, qPrintable(QString::number(e.PositionSec())));
        e.Stop();
    }

    // The command line plays through the same chain: positions stay in the recording's time.
    void toolPlaysAtSpeedInRecordingTime()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        if (tool.isEmpty())
            QSKIP("VORNAK_TOOL is not set");
        QProcess p;
        p.start(tool, {"play", FStereo, "--device", QString::number(FDevice), "--seconds", "2", "--speed", "1.5",
                       "--channel", "left"});
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 4);
        QVERIFY(lines.last().startsWith("position="));
        const double last = lines.last().mid(9).toDouble();
        QVERIFY2(qAbs(last - 3.0) < 0.35, qPrintable(lines.last()));
    }

    void toolRefusesBadChoices_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addRow("speed below 0.5") << QStringList{"--speed", "0.4"};
        QTest::addRow("speed above 2") << QStringList{"--speed", "2.01"};
        QTest::addRow("speed not a number") << QStringList{"--speed", "snel"};
        QTest::addRow("speed without value") << QStringList{"--speed"};
        QTest::addRow("unknown channel") << QStringList{"--channel", "middle"};
        QTest::addRow("channel in capitals") << QStringList{"--channel", "Left"};
    }
    void toolRefusesBadChoices()
    {
        QFETCH(QStringList, args);
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        if (tool.isEmpty())
            QSKIP("VORNAK_TOOL is not set");
        QProcess p;
        p.start(tool, QStringList{"play", FMono} + args);
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY(p.readAllStandardError().contains("--speed X"));
    }
};

VORNAK_TEST_MAIN(TestPlaybackChoices)
#include "tst_uPlaybackChoices.moc"
