// The playback plan without a sound server: seconds and frames, the choices, the loop and skipped-silence
// jumps, and the position heard at a speed, with the output simulated as the playback thread drives it.
#include "TestMain.h"
#include "uPlaybackPlan.h"

#include <QTest>

#include <cmath>
#include <limits>

namespace {

// 1000 frames a second: a frame is a millisecond, so every expected position is exact.
constexpr int Rate = 1000;

qint64 Ms(double ASec)
{
    return std::llround(ASec * Rate);
}

// A tone of 1 s, 10 s of silence, a tone of 2 s, as envelope points of 0.1 s: the quiet stretch is skipped
// from 1.5 s to 10.5 s.
std::vector<TSecRange> GapSilence()
{
    std::vector<TEnvPoint> env(130, TEnvPoint{-16000, 16000, -16000, 16000});
    for (int i = 10; i < 110; ++i)
        env[size_t(i)] = TEnvPoint{};
    return SilenceSkipRanges(env, 0.1, 13.0);
}

// Plays a plan the way the playback thread does, with the device simulated: reads where the plan says from
// a recording of the plan's length, makes output at the session's speed (output frame o carries input frame
// o * speed, as the time stretch delivers it), and keeps AheadSec of output written beyond what is heard.
class TSimulatedOutput {
public:
    static constexpr double AheadSec = 0.25;

    explicit TSimulatedOutput(TPlaybackPlan &APlan) : FPlan(APlan) {}

    void Start(qint64 AFrom)
    {
        FPos = std::clamp<qint64>(AFrom, 0, FPlan.LengthFrames());
        FPlan.StartSession(FPos);
    }

    // The recording frame heard after ASec of output, with the output fed up to then.
    qint64 HeardAfter(double ASec)
    {
        const qint64 usecs = std::llround(ASec * 1e6);
        FeedUpTo(Ms(ASec + AheadSec));
        FPlan.Prune(usecs);
        return FPlan.Position(usecs);
    }

private:
    // Writes output until AWritten frames are written or the recording has ended.
    void FeedUpTo(qint64 AWritten)
    {
        const double speed = FPlan.Listening().Speed;
        while (FPlan.Written() < AWritten && !FPlan.IsSourceDone()) {
            const TPlannedRead read = FPlan.PlanRead(FPos, 64);
            FPos = read.From;
            const qint64 got = std::min(read.Frames, FPlan.LengthFrames() - FPos);
            if (got <= 0) {
                FPlan.SourceDone(FPos);
                FPlan.SetWritten(std::llround(FPlan.InFed() / speed));  // the stretch's flush
                break;
            }
            FPlan.Fed(got);
            FPos += got;
            FPlan.SetWritten(qint64(std::floor(FPlan.InFed() / speed)));
        }
    }

    TPlaybackPlan &FPlan;
    qint64 FPos = 0;  // where the simulated decoding stream stands
};

} // namespace

class TestPlaybackPlan : public QObject {
    Q_OBJECT

private slots:
    void secondsAndFramesConvertOnePairOfWays_data()
    {
        QTest::addColumn<double>("sec");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("frames");
        QTest::addRow("12.5 s is not one frame less") << 12.5 << 44100 << qint64(551250);
        QTest::addRow("a hair under a frame") << 1.0 / 44100 * 0.999 << 44100 << qint64(0);
        QTest::addRow("an hour at 48 kHz") << 3600.0 << 48000 << qint64(172800000);
        QTest::addRow("negative") << -3.0 << 44100 << qint64(0);
        QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 44100 << qint64(0);
        QTest::addRow("no rate") << 2.0 << 0 << qint64(0);
    }
    void secondsAndFramesConvertOnePairOfWays()
    {
        QFETCH(double, sec);
        QFETCH(int, rate);
        QFETCH(qint64, frames);
        QCOMPARE(SecToFrames(sec, rate), frames);
        // Whole frames come back to the same frame through seconds.
        if (rate > 0)
            QCOMPARE(SecToFrames(FramesToSec(double(frames), rate), rate), frames);
    }

    // What a change of choices asks of a running session; the loop's end past the recording is its end.
    void choicesSayWhatARunningSessionNeeds_data()
    {
        QTest::addColumn<bool>("silence");  // the recording has the gap's quiet stretch
        QTest::addColumn<double>("speed");
        QTest::addColumn<int>("channel");
        QTest::addColumn<double>("loopStart");
        QTest::addColumn<double>("loopEnd");
        QTest::addColumn<bool>("skip");
        QTest::addColumn<int>("change");
        QTest::addColumn<qint64>("loopEndFrame");
        const int none = int(TPlaybackPlan::TChange::None), jumps = int(TPlaybackPlan::TChange::Jumps),
                  restart = int(TPlaybackPlan::TChange::Restart);
        QTest::addRow("the same choices") << true << 1.0 << 0 << -1.0 << -1.0 << false << none << qint64(-1);
        QTest::addRow("another speed") << true << 1.5 << 0 << -1.0 << -1.0 << false << restart << qint64(-1);
        QTest::addRow("a speed below the range") << true << 0.2 << 0 << -1.0 << -1.0 << false << restart << qint64(-1);
        QTest::addRow("another channel") << true << 1.0 << 2 << -1.0 << -1.0 << false << restart << qint64(-1);
        QTest::addRow("a loop") << true << 1.0 << 0 << 4.0 << 4.6 << false << jumps << Ms(4.6);
        QTest::addRow("a loop past the end") << true << 1.0 << 0 << 4.0 << 99.0 << false << jumps << Ms(13.0);
        QTest::addRow("a loop after the end") << true << 1.0 << 0 << 14.0 << 15.0 << false << none << qint64(-1);
        QTest::addRow("an empty loop") << true << 1.0 << 0 << 4.0 << 4.0 << false << none << qint64(-1);
        QTest::addRow("skipping silence") << true << 1.0 << 0 << -1.0 << -1.0 << true << jumps << qint64(-1);
        QTest::addRow("skipping where nothing is quiet") << false << 1.0 << 0 << -1.0 << -1.0 << true << none
                                                         << qint64(-1);
        QTest::addRow("speed and loop together") << true << 2.0 << 0 << 4.0 << 4.6 << false << restart << Ms(4.6);
    }
    void choicesSayWhatARunningSessionNeeds()
    {
        QFETCH(bool, silence);
        QFETCH(double, speed);
        QFETCH(int, channel);
        QFETCH(double, loopStart);
        QFETCH(double, loopEnd);
        QFETCH(bool, skip);
        QFETCH(int, change);
        QFETCH(qint64, loopEndFrame);
        TPlaybackPlan plan(Rate, Ms(13.0), silence ? GapSilence() : std::vector<TSecRange>());
        TListening choices;
        choices.Speed = speed;
        choices.Channel = TChannelMode(channel);
        choices.LoopStartSec = loopStart;
        choices.LoopEndSec = loopEnd;
        choices.SkipSilence = skip;
        QCOMPARE(int(plan.SetListening(choices)), change);
        QCOMPARE(plan.Listening().Speed, std::clamp(speed, MinPlaySpeed, MaxPlaySpeed));
        QCOMPARE(plan.LoopEndFrame(), loopEndFrame);
        QCOMPARE(plan.LoopActive(), loopEndFrame >= 0);
        QCOMPARE(int(plan.SetListening(choices)), int(TPlaybackPlan::TChange::None));
    }

    // The position heard while the output holds AheadSec written beyond it, sampled at output times: the
    // rules the listening tests hear through a sink (loop at 1x and 2x, silence skipped to the kept margin,
    // the position heard, the end).
    void positionHeardFollowsTheJumps_data()
    {
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("speed");
        QTest::addColumn<double>("loopStart");
        QTest::addColumn<double>("loopEnd");
        QTest::addColumn<bool>("skip");
        QTest::addColumn<double>("from");
        QTest::addColumn<QList<double>>("at");     // output seconds, rising
        QTest::addColumn<QList<double>>("heard");  // the recording's seconds heard then
        QTest::addRow("1x: the buffered output is not heard yet")
            << 20.0 << 1.0 << -1.0 << -1.0 << false << 2.0 << QList<double>{0, 0.1, 0.5, 1.0}
            << QList<double>{2.0, 2.1, 2.5, 3.0};
        QTest::addRow("2x: the recording's time runs twice as fast")
            << 20.0 << 2.0 << -1.0 << -1.0 << false << 2.0 << QList<double>{0, 0.1, 0.5, 1.0}
            << QList<double>{2.0, 2.2, 3.0, 4.0};
        QTest::addRow("loop at 1x") << 20.0 << 1.0 << 4.0 << 4.6 << false << 3.8
                                    << QList<double>{0.1, 0.799, 0.8, 1.1, 1.399, 1.4}
                                    << QList<double>{3.9, 4.599, 4.0, 4.3, 4.599, 4.0};
        QTest::addRow("loop at 2x") << 20.0 << 2.0 << 4.0 << 4.6 << false << 3.8
                                    << QList<double>{0.1, 0.3, 0.4, 0.55, 0.7} << QList<double>{4.0, 4.4, 4.0, 4.3, 4.0};
        QTest::addRow("loop end past the recording")
            << 5.0 << 1.0 << 4.4 << 99.0 << false << 4.2 << QList<double>{0.5, 0.8, 1.0} << QList<double>{4.7, 4.4, 4.6};
        QTest::addRow("started after the loop: plays on")
            << 20.0 << 1.0 << 4.0 << 4.6 << false << 5.0 << QList<double>{0.5, 1.0} << QList<double>{5.5, 6.0};
        QTest::addRow("silence skipped to the kept margin")
            << 13.0 << 1.0 << -1.0 << -1.0 << true << 0.6 << QList<double>{0.5, 0.899, 0.9, 1.0, 1.5}
            << QList<double>{1.1, 1.499, 10.5, 10.6, 11.1};
        QTest::addRow("silence skipped at 2x")
            << 13.0 << 2.0 << -1.0 << -1.0 << true << 0.6 << QList<double>{0.2, 0.45, 0.5} << QList<double>{1.0, 10.5, 10.6};
        QTest::addRow("silence not skipped: played")
            << 13.0 << 1.0 << -1.0 << -1.0 << false << 0.6 << QList<double>{0.9, 2.0} << QList<double>{1.5, 2.6};
        QTest::addRow("silence reaching the loop's end is played")
            << 13.0 << 1.0 << 1.0 << 5.0 << true << 1.2 << QList<double>{0.5, 3.7, 3.8} << QList<double>{1.7, 4.9, 1.0};
        QTest::addRow("silence inside the loop is skipped")
            << 13.0 << 1.0 << 0.5 << 12.0 << true << 1.2 << QList<double>{0.2, 0.3, 1.8} << QList<double>{1.4, 10.5, 0.5};
        QTest::addRow("loop start inside skipped silence jumps twice")
            << 13.0 << 1.0 << 2.0 << 11.0 << true << 10.6 << QList<double>{0.3, 0.4, 0.5} << QList<double>{10.9, 10.5, 10.6};
        QTest::addRow("end at 1x: the end once all is heard")
            << 5.0 << 1.0 << -1.0 << -1.0 << false << 4.5 << QList<double>{0.4, 0.5, 0.7} << QList<double>{4.9, 5.0, 5.0};
        QTest::addRow("end at 2x") << 5.0 << 2.0 << -1.0 << -1.0 << false << 4.5 << QList<double>{0.125, 0.25, 0.5}
                                   << QList<double>{4.75, 5.0, 5.0};
    }
    void positionHeardFollowsTheJumps()
    {
        QFETCH(double, length);
        QFETCH(double, speed);
        QFETCH(double, loopStart);
        QFETCH(double, loopEnd);
        QFETCH(bool, skip);
        QFETCH(double, from);
        QFETCH(QList<double>, at);
        QFETCH(QList<double>, heard);
        TPlaybackPlan plan(Rate, Ms(length), GapSilence());
        TListening choices;
        choices.Speed = speed;
        choices.LoopStartSec = loopStart;
        choices.LoopEndSec = loopEnd;
        choices.SkipSilence = skip;
        plan.SetListening(choices);
        TSimulatedOutput output(plan);
        output.Start(Ms(from));
        for (int i = 0; i < at.size(); ++i)
            QVERIFY2(output.HeardAfter(at[i]) == Ms(heard[i]),
                     qPrintable(QString("at %1 s heard %2, want %3")
                                    .arg(at[i])
                                    .arg(plan.SecondsOf(plan.Position(std::llround(at[i] * 1e6))))
                                    .arg(heard[i])));
        if (loopEnd > 0 && from < loopEnd)
            QVERIFY(plan.Position(std::llround(at.last() * 1e6)) <= plan.LoopEndFrame());
    }

    // A speed chosen while playing: the session ends where it was heard (not where the output was made
    // to), and the next one goes on from there at the new speed.
    void speedChangeMidStreamGoesOnFromTheHeardPosition()
    {
        TPlaybackPlan plan(Rate, Ms(20.0));
        TSimulatedOutput output(plan);
        output.Start(Ms(3.0));
        QCOMPARE(output.HeardAfter(0.3), Ms(3.3));
        QVERIFY(plan.Written() >= Ms(3.3 - 3.0 + TSimulatedOutput::AheadSec));
        TListening faster = plan.Listening();
        faster.Speed = 1.5;
        QCOMPARE(int(plan.SetListening(faster)), int(TPlaybackPlan::TChange::Restart));
        plan.EndSession(300000);
        QVERIFY(!plan.InSession());
        QCOMPARE(plan.Position(0), Ms(3.3));
        output.Start(plan.Placed());
        QCOMPARE(output.HeardAfter(0.2), Ms(3.6));
        QCOMPARE(output.HeardAfter(1.0), Ms(4.8));
    }

    // A new loop or skip restarts a running output only when what it made ahead could now be wrong.
    void aheadChangedOnlyWhenTheOutputMadeAheadIsWrong_data()
    {
        QTest::addColumn<double>("loopStart");
        QTest::addColumn<double>("loopEnd");
        QTest::addColumn<bool>("changed");
        QTest::addRow("loop end beyond what was read") << 1.0 << 3.0 << false;
        QTest::addRow("loop end inside what was read") << 1.0 << 1.4 << true;
        QTest::addRow("loop end at what is heard") << 0.5 << 1.2 << true;
        QTest::addRow("no loop") << -1.0 << -1.0 << false;
    }
    void aheadChangedOnlyWhenTheOutputMadeAheadIsWrong()
    {
        QFETCH(double, loopStart);
        QFETCH(double, loopEnd);
        QFETCH(bool, changed);
        TPlaybackPlan plan(Rate, Ms(20.0));
        TSimulatedOutput output(plan);
        output.Start(Ms(1.0));
        QCOMPARE(output.HeardAfter(0.2), Ms(1.2));  // read up to about 1.45
        TListening choices = plan.Listening();
        choices.LoopStartSec = loopStart;
        choices.LoopEndSec = loopEnd;
        plan.SetListening(choices);
        QCOMPARE(plan.AheadChanged(Ms(1.2), Ms(1.2 + TSimulatedOutput::AheadSec)), changed);
    }

    // Outside a session the position is a placed frame within the recording.
    void placedPositionStaysWithinTheRecording_data()
    {
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<qint64>("placed");
        QTest::addRow("before the start") << qint64(-5) << qint64(0);
        QTest::addRow("inside") << Ms(2.5) << Ms(2.5);
        QTest::addRow("past the end") << Ms(99.0) << Ms(13.0);
    }
    void placedPositionStaysWithinTheRecording()
    {
        QFETCH(qint64, frame);
        QFETCH(qint64, placed);
        TPlaybackPlan plan(Rate, Ms(13.0));
        plan.Place(frame);
        QCOMPARE(plan.Position(123456), placed);
        QCOMPARE(plan.SecondsOf(plan.Position(0)), double(placed) / Rate);
    }
};

VORNAK_TEST_APPLESS_MAIN(TestPlaybackPlan)
#include "tst_uPlaybackPlan.moc"
