// Audio engine: loads and their envelope, error texts, devices, and transport playing for real into the
// null sinks of the test sound server (skipped when there is none).
#include "FfmpegKit.h"
#include "TestMain.h"
#include "uAudioEngine.h"
#include "uEnvelope.h"
#include "uSilenceSkip.h"

#include <QTest>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace {

bool HaveOutputs()
{
    QList<QPair<QString, int>> list;
    ListOutputDevices(list);
    return list.size() >= 3;  // the default entry and the two null sinks
}

} // namespace

class TestAudioEngine : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FTone;   // 20 s stereo 44.1 kHz
    QString FShort;  // 1 s mono mp3
    QString FSix;    // 2 s, six channels
    QString FLong;   // 10 min stereo FLAC: analysed in several ranges
    QString Path(const QString &AName) const { return FDir.filePath(AName); }

private slots:
    void initTestCase()
    {
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program makes the fixtures (tools/install.sh installs it)");
        FTone = Path("tone.ogg");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=20:sample_rate=44100", "-ac", "2", "-c:a",
                        "libvorbis", FTone}));
        FShort = Path("short.mp3");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:duration=1:sample_rate=44100", "-ac", "1", "-c:a",
                        "libmp3lame", FShort}));
        FSix = Path("six.wav");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=exprs='0.1*sin(2*PI*200*t)|0.2*sin(2*PI*200*t)|0|0|0|0.9*sin(2*PI*200*t)':s=8000:d=2",
                        "-c:a", "pcm_s16le", FSix}));
        // A tone with a quiet gap from 100 to 110 s, so that the silence found so far shows.
        FLong = Path("long.flac");
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=exprs='if(between(t,100,110),0,0.5*sin(2*PI*440*t))':s=22050:d=600:c=stereo",
                        "-c:a", "flac", FLong}));
    }

    void errorTextsAreDutch_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addRow("0") << 0 << "geen fout";
        QTest::addRow("2") << 2 << "kan het bestand niet openen";
        QTest::addRow("41") << 41 << "niet-ondersteund bestandsformaat (ontbrekende codec/plugin)";
        QTest::addRow("44") << 44 << "codec niet beschikbaar";
        QTest::addRow("8") << 8 << "de audiobibliotheek is niet geïnitialiseerd";
        QTest::addRow("5") << 5 << "onbekende fout";
        QTest::addRow("42") << 42 << "onbekende fout";
        QTest::addRow("-1") << -1 << "onbekende fout";
    }
    void errorTextsAreDutch()
    {
        QFETCH(int, code);
        QTEST(AudioErrorText(code), "text");
    }

    // Without any output the recording still loads with its envelope; the transport does nothing.
    void loadWithoutOutputBuildsTheEnvelope()
    {
        TAudioEngine e;
        e.SetInitialDevice(0);
        QVERIFY(!e.InitAudio());
        QVERIFY(!e.HasOutput());
        QVERIFY(e.Load(FSix));
        QCOMPARE(e.SampleRate(), 8000);
        QCOMPARE(e.Channels(), 6);
        QCOMPARE(e.DurationSec(), 2.0);
        QCOMPARE(e.EnvCount(), 16000);
        QCOMPARE(e.SecPerPoint(), 1.0 / 8000);  // one frame a point
        QCOMPARE(e.LoadedPath(), FSix);
        // Channel 0 on the left; channels 1 to 5 together on the right (the loudest is channel 5).
        qint16 mxL = 0, mxR = 0;
        for (const TEnvPoint &p : *e.Envelope()) {
            mxL = qMax(mxL, p.MxL);
            mxR = qMax(mxR, p.MxR);
        }
        QVERIFY2(qAbs(mxL - 3277) < 40, qPrintable(QString::number(mxL)));
        QVERIFY2(qAbs(mxR - 29491) < 40, qPrintable(QString::number(mxR)));
        e.Play();
        QVERIFY(!e.IsPlaying());
        QCOMPARE(e.PositionSec(), 0.0);
    }

    void loadReportsProgressAndCopiesMonoToTheRight()
    {
        TAudioEngine e;
        e.SetInitialDevice(0);
        e.InitAudio();
        QList<int> reports;
        QVERIFY(e.Load(FShort, [&](int APercent) { reports.append(APercent); }));
        QCOMPARE(e.Channels(), 1);
        QCOMPARE(e.EnvCount(), 44100);
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), 100);
        for (const TEnvPoint &p : *e.Envelope()) {
            QCOMPARE(p.MnR, p.MnL);
            QCOMPARE(p.MxR, p.MxL);
        }
    }

    // A load that fails leaves the recording before it loaded as it was, playing on where there is sound,
    // and every command acts on it; a missing file gives code 0, an undecodable one its code. The next good
    // load replaces it.
    void failedLoadKeepsThePreviousRecording_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::addRow("missing file") << "missing" << 0;
        QTest::addRow("undecodable file") << "junk" << 41;
        QTest::addRow("a folder") << "folder" << 2;
    }
    void failedLoadKeepsThePreviousRecording()
    {
        QFETCH(QString, kind);
        QFETCH(int, code);
        QString bad = Path("missing.wav");
        if (kind == "junk") {
            bad = Path("junk.mp3");
            QFile junk(bad);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, 'x'));
        } else if (kind == "folder") {
            bad = FDir.path();
        }
        const bool sound = HaveOutputs();
        TAudioEngine e;
        e.SetInitialDevice(sound ? 1 : 0);
        QCOMPARE(e.InitAudio(), sound);
        QVERIFY(e.Load(FTone));
        const TEnvArray env = e.Envelope();
        const int count = e.EnvCount();
        if (sound) {
            e.SeekSec(5.0);
            e.Play();
        }
        QVERIFY(!e.Load(bad));
        QCOMPARE(e.LastError(), code);
        QCOMPARE(e.LoadedPath(), FTone);
        QCOMPARE(e.Envelope(), env);
        QCOMPARE(e.EnvCount(), count);
        QCOMPARE(e.DurationSec(), 20.0);
        QCOMPARE(e.SampleRate(), 44100);
        QCOMPARE(e.Channels(), 2);
        if (sound) {
            QVERIFY(e.IsPlaying());
            const double at = e.PositionSec();
            QVERIFY2(at >= 5.0 && at < 8.0, qPrintable(QString::number(at)));
        }
        TExportRequest kept;
        kept.Path = Path("kept.wav");
        kept.Format = TAudioFormat::afWAV;
        kept.StartSec = 1.0;
        kept.EndSec = 2.0;
        QVERIFY(e.Export(kept).Done());
        QCOMPARE(QFileInfo(Path("kept.wav")).size(), qint64(44 + 44100 * 4));

        QVERIFY(e.Load(FShort));
        QCOMPARE(e.LastError(), 0);
        QCOMPARE(e.LoadedPath(), FShort);
        QCOMPARE(e.Channels(), 1);
        QVERIFY(!e.IsPlaying());
        QCOMPARE(int(env->size()), count);  // the view's reference to the old envelope stays valid
    }

    // Open returns with the recording ready to play; the envelope grows poll by poll (every point that
    // arrives already holds its final value) and ends as the pass in one piece makes it.
    void openAnalysesInTheBackground_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addRow("ogg, one range") << FTone;
        QTest::addRow("flac, ranges side by side") << FLong;
    }
    void openAnalysesInTheBackground()
    {
        QFETCH(QString, file);
        QTemporaryDir cache;
        const TEnvelopeResult whole = BuildEnvelopeFromFile(file, {}, 1);
        QVERIFY(whole.Envelope);
        const bool sound = HaveOutputs();
        TAudioEngine e;
        e.SetEnvelopeCacheFolder(cache.path());
        e.SetInitialDevice(sound ? 1 : 0);
        QCOMPARE(e.InitAudio(), sound);
        QVERIFY(e.Open(file));
        QCOMPARE(e.LoadedPath(), file);
        QCOMPARE(e.DurationSec(), whole.DurationSec);
        QCOMPARE(e.EnvCount(), whole.EnvCount);
        QCOMPARE(e.LastCacheUse(), TEnvelopeCacheUse::Miss);
        const double at = e.DurationSec() / 4;
        if (sound) {
            e.SeekSec(at);
            e.Play();
            QVERIFY(e.IsPlaying());
        }
        QString wrong;  // the first thing a poll found wrong
        // One poll as the window's timer makes it; true once the analysis has ended.
        const auto ended = [&] {
            const TAnalysisPoll poll = e.PollAnalysis();
            if (!poll.Running)
                return true;
            if (poll.Percent < 0 || poll.Percent >= 100)
                wrong = QString("percentage %1 while analysing").arg(poll.Percent);
            const std::vector<TEnvPoint> &now = *e.Envelope();
            for (size_t i = 0; i < now.size() && wrong.isEmpty(); ++i) {
                const TEnvPoint &p = now[i], &w = (*whole.Envelope)[i];
                const bool zero = p.MnL == 0 && p.MxL == 0 && p.MnR == 0 && p.MxR == 0;
                if (!zero && !(p.MnL == w.MnL && p.MxL == w.MxL && p.MnR == w.MnR && p.MxR == w.MxR))
                    wrong = QString("point %1 while analysing").arg(i);
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!wrong.isEmpty() || ended(), 60000);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QVERIFY(!e.Analysing());
        QCOMPARE(e.Envelope()->size(), whole.Envelope->size());
        QVERIFY(std::memcmp(e.Envelope()->data(), whole.Envelope->data(), whole.Envelope->size() * sizeof(TEnvPoint)) == 0);
        const std::vector<TSecRange> silence = SilenceSkipRanges(*whole.Envelope, e.SecPerPoint(), e.DurationSec());
        QCOMPARE(e.SilenceRanges().size(), silence.size());
        if (sound) {
            QVERIFY(e.IsPlaying());
            QVERIFY(e.PositionSec() >= at);
        }
        // The result went into the cache: the next open takes it from there.
        QVERIFY(e.Open(file));
        QCOMPARE(e.LastCacheUse(), TEnvelopeCacheUse::Hit);
        QVERIFY(!e.Analysing());
        QVERIFY(std::memcmp(e.Envelope()->data(), whole.Envelope->data(), whole.Envelope->size() * sizeof(TEnvPoint)) == 0);
    }

    // A second open cancels the first analysis (nothing of it is cached); an open that fails keeps the
    // recording with its analysis going on.
    void newOpenCancelsAndFailedOpenKeeps()
    {
        QTemporaryDir cache;
        TAudioEngine e;
        e.SetEnvelopeCacheFolder(cache.path());
        e.SetInitialDevice(0);
        e.InitAudio();
        QVERIFY(e.Open(FLong));
        QVERIFY(e.Open(FTone));
        QCOMPARE(e.LoadedPath(), FTone);
        QVERIFY(!e.Open(Path("missing.wav")));
        QCOMPARE(e.LoadedPath(), FTone);
        e.FinishAnalysis();
        const TEnvelopeResult tone = BuildEnvelopeFromFile(FTone, {}, 1);
        QVERIFY(std::memcmp(e.Envelope()->data(), tone.Envelope->data(), tone.Envelope->size() * sizeof(TEnvPoint)) == 0);
        const TEnvelopeCache store(cache.path());
        TEnvelopeResult r;
        QVERIFY(store.Lookup(*TEnvelopeCache::KeyOf(FTone), r));
        QVERIFY(!store.Lookup(*TEnvelopeCache::KeyOf(FLong), r));
    }

    // The recordings asked for ahead end up in the cache; an open of one of them is a hit.
    void analysisAheadFillsTheCache()
    {
        QTemporaryDir cache;
        TAudioEngine e;
        e.SetEnvelopeCacheFolder(cache.path());
        e.SetInitialDevice(0);
        e.InitAudio();
        e.AnalyseAhead({FShort, FSix, Path("missing.wav"), FTone});
        QTRY_VERIFY_WITH_TIMEOUT(e.AheadIdle(), 30000);
        const TEnvelopeCache store(cache.path());
        for (const QString &file : {FShort, FSix, FTone}) {
            TEnvelopeResult r;
            QVERIFY2(store.Lookup(*TEnvelopeCache::KeyOf(file), r), qPrintable(file));
        }
        QVERIFY(e.Open(FSix));
        QCOMPARE(e.LastCacheUse(), TEnvelopeCacheUse::Hit);
        QVERIFY(!e.Analysing());
    }

    void deviceListStartsWithTheDefault()
    {
        QList<QPair<QString, int>> list;
        ListOutputDevices(list);
        QVERIFY(!list.isEmpty());
        QCOMPARE(list[0].first, QString("Standaard uitvoerapparaat"));
        QCOMPARE(list[0].second, -1);
        for (int i = 1; i < list.size(); ++i)
            QCOMPARE(list[i].second, i);
    }

    // A configured device that is gone falls back to the default and keeps its number; later
    // SetInitialDevice and InitAudio change nothing.
    void missingDeviceFallsBackToTheDefault()
    {
        if (!HaveOutputs())
            QSKIP("no sound server with outputs (tools/start-sound.sh starts one)");
        TAudioEngine e;
        e.SetInitialDevice(99);
        QVERIFY(e.InitAudio());
        QCOMPARE(e.OutputDevice(), 99);
        e.SetInitialDevice(1);
        QCOMPARE(e.OutputDevice(), 99);
        QVERIFY(e.InitAudio());
    }

    // Transport on a real output. The user-interface thread is blocked (it handles no events) until the
    // position has moved on by 0.4 s: the sound goes on without it. Paused, the position holds while time
    // passes; played again, it moves on.
    void transportPlaysOnItsOwnThread()
    {
        if (!HaveOutputs())
            QSKIP("no sound server with outputs (tools/start-sound.sh starts one)");
        TAudioEngine e;
        e.SetInitialDevice(1);
        QVERIFY(e.InitAudio());
        QVERIFY(e.Load(FTone));
        QVERIFY(!e.IsPlaying());
        QVERIFY(!e.IsPaused());
        e.SeekSec(5.0);
        QCOMPARE(e.PositionSec(), 5.0);
        e.Play();
        QVERIFY(e.IsPlaying());
        QTRY_VERIFY2(e.PositionSec() > 5.2, qPrintable(QString::number(e.PositionSec())));
        const double p0 = e.PositionSec();
        // The user-interface thread is busy: it handles no events until the position has moved on (the
        // deadline only ends the test when it never does).
        bool movedOn = false;
        for (QDeadlineTimer deadline(10000); !movedOn && !deadline.hasExpired();) {
            QThread::yieldCurrentThread();
            movedOn = e.PositionSec() >= p0 + 0.4;
        }
        QVERIFY2(movedOn, qPrintable(QString("%1 -> %2").arg(p0).arg(e.PositionSec())));
        QVERIFY(e.IsPlaying());

        e.Pause();
        QVERIFY(e.IsPaused());
        QVERIFY(!e.IsPlaying());
        const double held = e.PositionSec();
        // The output's own clock runs on: a second engine plays 0.3 s on the same output meanwhile.
        TAudioEngine clock;
        clock.SetInitialDevice(1);
        QVERIFY(clock.InitAudio());
        QVERIFY(clock.Load(FTone));
        clock.Play();
        QTRY_VERIFY(clock.PositionSec() > 0.3);
        clock.Stop();
        QCOMPARE(e.PositionSec(), held);
        e.Play();
        QTRY_VERIFY(e.PositionSec() > held);

        e.SeekSec(-3);
        QVERIFY(e.IsPlaying());
        QVERIFY(e.PositionSec() < 0.2);
        e.Stop();
        QCOMPARE(e.PositionSec(), 0.0);
        QVERIFY(!e.IsPlaying());
        QVERIFY(e.IsPaused());
    }

    // Playing at 12.5 s, a change of device goes on playing at 12.5 s on the new device; the envelope
    // and the loaded path stay.
    void changeDeviceKeepsPositionAndPlaying()
    {
        if (!HaveOutputs())
            QSKIP("no sound server with outputs (tools/start-sound.sh starts one)");
        TAudioEngine e;
        e.SetInitialDevice(1);
        QVERIFY(e.InitAudio());
        QVERIFY(e.Load(FTone));
        const TEnvArray env = e.Envelope();
        e.SeekSec(12.5);
        e.Play();
        QVERIFY(e.ChangeDevice(1));  // the same device: nothing happens
        QVERIFY(e.IsPlaying());
        e.Pause();
        e.SeekSec(12.5);
        e.Play();
        QVERIFY(e.ChangeDevice(2));
        QCOMPARE(e.OutputDevice(), 2);
        QVERIFY(e.IsPlaying());
        QVERIFY2(qAbs(e.PositionSec() - 12.5) < 0.1, qPrintable(QString::number(e.PositionSec())));
        QCOMPARE(e.Envelope(), env);
        QCOMPARE(e.LoadedPath(), FTone);
        // Paused comes back stopped at its position.
        e.Pause();
        const double at = e.PositionSec();
        QVERIFY(e.ChangeDevice(1));
        QVERIFY(!e.IsPlaying());
        QVERIFY(!e.IsPaused());
        QVERIFY(qAbs(e.PositionSec() - at) < 0.001);
    }

    void endOfDataStops()
    {
        if (!HaveOutputs())
            QSKIP("no sound server with outputs (tools/start-sound.sh starts one)");
        TAudioEngine e;
        QVERIFY(e.InitAudio());
        QVERIFY(e.Load(FShort));
        e.SeekSec(0.6);
        e.Play();
        QTRY_VERIFY_WITH_TIMEOUT(!e.IsPlaying(), 3000);
        QVERIFY(!e.IsPaused());
        QVERIFY(qAbs(e.PositionSec() - e.DurationSec()) < 0.001);
    }

    // With no sound server at all: one device entry, loads work, playback refuses (in vornak-tool).
    void noSoundServerStillLoads()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        if (tool.isEmpty())
            QSKIP("VORNAK_TOOL is not set");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", "unix:/nonexistent/pulse");
        auto run = [&](const QStringList &AArgs, QByteArray *AOut) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(tool, AArgs);
            if (!p.waitForFinished(20000)) {
                p.kill();
                return -99;
            }
            *AOut = p.readAllStandardOutput();
            return p.exitCode();
        };
        QByteArray out;
        QCOMPARE(run({"devices"}, &out), 0);
        QCOMPARE(out, QByteArray("-1\tStandaard uitvoerapparaat\n"));
        QCOMPARE(run({"envelope", FShort}, &out), 0);
        QVERIFY(out.contains("rate=44100\nchannels=1\n"));
        QCOMPARE(run({"play", FShort, "--seconds", "1"}, &out), 1);
        QVERIFY(out.contains("error=3"));
    }
};

VORNAK_TEST_MAIN(TestAudioEngine)
#include "tst_uAudioEngine.moc"
