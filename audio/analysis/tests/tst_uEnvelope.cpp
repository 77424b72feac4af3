// Envelope pass on samples in memory (figures, channel mapping, reads that split frames, progress) and
// over files: several parts and the cache give the sequential pass's envelope in every format.
#include "CodecFixtures.h"
#include "TestMain.h"
#include "uDecoder.h"
#include "uEnvelope.h"
#include "uEnvelopeCache.h"
#include "uReaderTypes.h"

#include <QTest>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <utility>
#include <unistd.h>

namespace {

using codecs::Ffmpeg;

// Two tones and noise, so that a part that starts a sample off or decodes differently after its seek
// changes points.
const char *const TonesAndNoise = "0.4*sin(2*PI*440*t)+0.1*random(0)|0.3*sin(2*PI*317*t)+0.05*random(1)";
// Short noise bursts over quiet tones: the Vorbis encoder switches block sizes at each burst.
const char *const Bursts = "0.6*random(0)*lt(mod(t\\,0.37)\\,0.03)+0.2*sin(2*PI*220*t)|"
                           "0.5*random(1)*lt(mod(t\\,0.29)\\,0.02)+0.1*sin(2*PI*330*t)";

QString Signal(const char *AExprs, int ARate, double ASeconds)
{
    return QStringLiteral("aevalsrc=exprs='%1':s=%2:d=%3").arg(QLatin1String(AExprs)).arg(ARate).arg(ASeconds);
}

// An Ogg file into which a stretch of its own pages (from 30 % to 45 % of its bytes) was spliced again at
// 70 %: the timestamps run backwards there, and a straight decode delivers everything after it late.
bool SpliceOgg(const QString &AFrom, const QString &ATo)
{
    QFile in(AFrom);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = in.readAll();
    const int from = bytes.indexOf("OggS", bytes.size() * 3 / 10);
    const int to = bytes.indexOf("OggS", bytes.size() * 45 / 100);
    const int at = bytes.indexOf("OggS", bytes.size() * 7 / 10);
    if (from < 0 || to <= from || at <= to)
        return false;
    bytes.insert(at, bytes.mid(from, to - from));
    QFile out(ATo);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

// A PCM WAV whose sample rate field says half the rate its byte rate field says.
bool DamageWavRate(const QString &AFrom, const QString &ATo)
{
    QFile in(AFrom);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = in.readAll();
    const int fmt = bytes.indexOf("fmt ");
    if (fmt < 0)
        return false;
    quint32 rate = 0;
    std::memcpy(&rate, bytes.constData() + fmt + 12, 4);
    rate /= 2;
    std::memcpy(bytes.data() + fmt + 12, &rate, 4);
    QFile out(ATo);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

void CompareResults(const TEnvelopeResult &AGot, const TEnvelopeResult &AWant, const char *AWhat)
{
    QVERIFY2(AGot.Error == 0, AWhat);
    QCOMPARE(AGot.SampleRate, AWant.SampleRate);
    QCOMPARE(AGot.Channels, AWant.Channels);
    QCOMPARE(AGot.DurationSec, AWant.DurationSec);
    QCOMPARE(AGot.Figures.LengthBytes, AWant.Figures.LengthBytes);
    QCOMPARE(AGot.Figures.FramesPerPoint, AWant.Figures.FramesPerPoint);
    QCOMPARE(AGot.EnvCount, AWant.EnvCount);
    QCOMPARE(AGot.Envelope->size(), AWant.Envelope->size());
    for (size_t i = 0; i < AWant.Envelope->size(); ++i) {
        const TEnvPoint &a = (*AGot.Envelope)[i], &b = (*AWant.Envelope)[i];
        if (a.MnL != b.MnL || a.MxL != b.MxL || a.MnR != b.MnR || a.MxR != b.MxR)
            QFAIL(qPrintable(QStringLiteral("%1: point %2 differs").arg(AWhat).arg(i)));
    }
}

// The pass written sample by sample, as plainly as it is described, to compare the fast one against.
std::vector<TEnvPoint> PlainPass(const std::vector<int16_t> &ASamples, qint64 ALengthBytes, int AChannels)
{
    const TEnvelopeFigures f = EnvelopeFigures(ALengthBytes, AChannels);
    std::vector<TEnvPoint> pts(static_cast<size_t>(f.EnvCount));
    qint64 frame = 0;
    int ch = 0;
    for (int16_t s : ASamples) {
        TEnvPoint &p = pts[static_cast<size_t>(std::min<qint64>(frame / f.FramesPerPoint, f.EnvCount - 1))];
        if (ch == 0) {
            p.MnL = std::min(p.MnL, s);
            p.MxL = std::max(p.MxL, s);
        } else {
            p.MnR = std::min(p.MnR, s);
            p.MxR = std::max(p.MxR, s);
        }
        if (++ch == AChannels) {
            ch = 0;
            ++frame;
        }
    }
    if (AChannels < 2)
        for (TEnvPoint &p : pts) {
            p.MnR = p.MnL;
            p.MxR = p.MxL;
        }
    return pts;
}

bool Same(const TEnvPoint &AFirst, const TEnvPoint &ASecond)
{
    return AFirst.MnL == ASecond.MnL && AFirst.MxL == ASecond.MxL && AFirst.MnR == ASecond.MnR
        && AFirst.MxR == ASecond.MxR;
}

} // namespace

class TestEnvelope : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString Path(const QString &AName) const { return FDir.filePath(AName); }
    static QString CodecFile(const codecs::TCodecFixture &ACodec) { return QStringLiteral("codec/") + ACodec.File; }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(),
                 "the ffmpeg command line makes the fixtures (tools/install.sh installs it)");
        QVERIFY(FDir.isValid());
        struct TFixture {
            const char *name;
            int rate;
            double seconds;
            QStringList args;
            const char *exprs = TonesAndNoise;
        };
        const QList<TFixture> fixtures = {
            {"tone.wav", 44100, 3, {"-c:a", "pcm_s16le"}},
            {"tone.flac", 44100, 3, {"-c:a", "flac"}},
            {"cbr.mp3", 44100, 3, {"-c:a", "libmp3lame", "-b:a", "128k"}},
            {"vbr.mp3", 44100, 3, {"-c:a", "libmp3lame", "-q:a", "4"}},
            {"tone.ogg", 44100, 3, {"-c:a", "libvorbis", "-q:a", "3"}},
            {"clicks.ogg", 44100, 20, {"-c:a", "libvorbis", "-q:a", "2"}, Bursts},
            {"tone.opus", 48000, 6, {"-c:a", "libopus", "-b:a", "64k"}},
            {"six.wav", 44100, 3, {"-ac", "6", "-c:a", "pcm_s16le"}},
            {"mono8k.mp3", 8000, 10, {"-ac", "1", "-c:a", "libmp3lame", "-b:a", "32k"}},
            {"odd22k.mp3", 22050, 15, {"-c:a", "libmp3lame", "-b:a", "64k"}},
            {"tone.m4a", 44100, 3, {"-c:a", "aac", "-b:a", "128k"}},
            {"long.wav", 44100, 30, {"-c:a", "pcm_s16le"}},
            {"frames3.wav", 44100, 1, {"-af", "atrim=end_sample=3", "-c:a", "pcm_s16le"}},
        };
        for (const TFixture &f : fixtures) {
            QVERIFY2(Ffmpeg(QStringList{"-f", "lavfi", "-i", Signal(f.exprs, f.rate, f.seconds)} + f.args
                            + QStringList{Path(f.name)}),
                     f.name);
        }
        QVERIFY(QDir(FDir.path()).mkdir("codec"));
        for (const codecs::TCodecFixture &c : codecs::AllCodecs()) {
            QVERIFY2(Ffmpeg(QStringList{"-f", "lavfi", "-i", Signal(TonesAndNoise, 44100, 3)} + c.Encode
                            + QStringList{Path(CodecFile(c))}),
                     c.Name);
        }
        // An MP3 with three stretches of garbage: its decoder refuses frames, and a straight decode delivers
        // what follows each one early.
        QFile mp3(Path("long.mp3"));
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", Signal(TonesAndNoise, 44100, 40), "-c:a", "libmp3lame", "-b:a", "128k",
                        mp3.fileName()}));
        QVERIFY(mp3.open(QIODevice::ReadOnly));
        QByteArray bytes = mp3.readAll();
        QRandomGenerator garbage(19);
        for (double at : {0.3, 0.55, 0.8})
            for (int i = 0; i < 3000; ++i)
                bytes[int(bytes.size() * at) + i] = char(garbage.bounded(256));
        QFile damaged(Path("damaged.mp3"));
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(bytes) == bytes.size());
        damaged.close();
        // An Ogg file that lost a page: no decoder error, but what follows comes early in a straight decode.
        QFile ogg(Path("long.ogg"));
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i", Signal(TonesAndNoise, 44100, 20), "-c:a", "libvorbis", "-q:a", "3",
                        ogg.fileName()}));
        QVERIFY(ogg.open(QIODevice::ReadOnly));
        bytes = ogg.readAll();
        const int page = bytes.indexOf("OggS", bytes.size() * 2 / 5);
        const int next = bytes.indexOf("OggS", page + 4);
        QVERIFY(page > 0 && next > page);
        bytes.remove(page, next - page);
        QFile lost(Path("lostpage.ogg"));
        QVERIFY(lost.open(QIODevice::WriteOnly) && lost.write(bytes) == bytes.size());
        lost.close();
        QVERIFY(SpliceOgg(ogg.fileName(), Path("spliced.ogg")));
        QVERIFY(DamageWavRate(Path("long.wav"), Path("badrate.wav")));
    }

    // Every format, decoded in 2, 3 and 8 parts side by side and read back from the cache, gives what
    // the sequential pass gives: every point, the length and the figures. Codecs that do not seek directly
    // take one part; a damaged file is split, and still gives the sequential envelope.
    void partsAndCacheGiveTheSequentialEnvelope_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("framesPerPoint");  // of the fixture
        QTest::addColumn<bool>("direct");  // split into the parts asked for
        QTest::addRow("wav") << "tone.wav" << qint64(3) << true;
        QTest::addRow("flac") << "tone.flac" << qint64(3) << true;
        QTest::addRow("mp3 cbr") << "cbr.mp3" << qint64(3) << true;
        QTest::addRow("mp3 vbr") << "vbr.mp3" << qint64(3) << true;
        QTest::addRow("ogg vorbis") << "tone.ogg" << qint64(3) << true;
        QTest::addRow("ogg vorbis, switching block sizes") << "clicks.ogg" << qint64(18) << true;
        QTest::addRow("opus") << "tone.opus" << qint64(6) << true;
        QTest::addRow("six channels") << "six.wav" << qint64(3) << true;
        QTest::addRow("mono 8 kHz mp3") << "mono8k.mp3" << qint64(2) << true;
        QTest::addRow("odd point size, 22.05 kHz mp3") << "odd22k.mp3" << qint64(7) << true;
        QTest::addRow("damaged mp3") << "damaged.mp3" << qint64(35) << true;
        QTest::addRow("ogg that lost a page") << "lostpage.ogg" << qint64(18) << true;
        QTest::addRow("ogg with a stretch of itself spliced in") << "spliced.ogg" << qint64(18) << true;
        QTest::addRow("wav with a damaged rate field") << "badrate.wav" << qint64(27) << false;
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QTest::addRow("%s", c.Name) << CodecFile(c) << qint64(3) << c.Direct;
    }
    void partsAndCacheGiveTheSequentialEnvelope()
    {
        QFETCH(QString, file);
        QFETCH(bool, direct);
        const QString path = Path(file);
        const TEnvelopeResult sequential = BuildEnvelopeFromFile(path, {}, 1);
        QCOMPARE(sequential.Error, 0);
        QTEST(sequential.Figures.FramesPerPoint, "framesPerPoint");
        for (int parts : {2, 3, 8}) {
            TDecodeStream probe;
            QVERIFY(probe.Open(path));
            QCOMPARE(EnvelopePartCount(probe, parts), direct ? parts : 1);
            const QByteArray what = QByteArray::number(parts) + " parts";
            CompareResults(BuildEnvelopeFromFile(path, {}, parts), sequential, what.constData());
        }
        const TEnvelopeCache cache(Path("cache-" + QFileInfo(file).fileName()));
        const TEnvelopeCacheKey key = *TEnvelopeCache::KeyOf(path);
        QVERIFY(cache.Store(key, sequential));
        TEnvelopeResult cached;
        QVERIFY(cache.Lookup(key, cached));
        CompareResults(cached, sequential, "from the cache");
    }

    // Parts only where seeking is bit-exact, never more than 8 or than points with samples; the pass's
    // own choice keeps one part for a short recording.
    void partCountFollowsCodecAndLength_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("parts");
        QTest::addRow("aac decodes from the start") << "tone.m4a" << 8 << 1;
        QTest::addRow("adpcm decodes from the start") << "codec/ima.wav" << 8 << 1;
        QTest::addRow("short recording, own choice") << "tone.wav" << 0 << 1;
        QTest::addRow("at most 8") << "tone.wav" << 20 << 8;
        QTest::addRow("three frames") << "frames3.wav" << 8 << 3;
    }
    void partCountFollowsCodecAndLength()
    {
        QFETCH(QString, file);
        QFETCH(int, asked);
        TDecodeStream probe;
        QVERIFY(probe.Open(Path(file)));
        QTEST(EnvelopePartCount(probe, asked), "parts");
        CompareResults(BuildEnvelopeFromFile(Path(file), {}, asked), BuildEnvelopeFromFile(Path(file), {}, 1),
                       "asked parts");
    }

    // A recording whose name is not UTF-8 is decoded in parts like any other: while the calling thread
    // (the first part) is held at its first report, the other thread finishes points of the second part.
    // A part that could not open the file would leave that to the calling thread, after the first part.
    void partsRunWhateverBytesTheNameHas_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addRow("utf-8") << QByteArray("lang \xc3\xa9\xc3\xa9n.wav");
        QTest::addRow("latin-1, not utf-8") << QByteArray("lang \xe9\xe9n.wav");
    }
    void partsRunWhateverBytesTheNameHas()
    {
        QFETCH(QByteArray, name);
        const QByteArray path = PathBytes(FDir.path()) + '/' + name;
        QCOMPARE(::link(PathBytes(Path("long.wav")).constData(), path.constData()), 0);
        TEnvelopeWatch watch;
        bool held = false, secondPartSeen = false;
        std::vector<TEnvPoint> points;
        std::vector<char> known;
        const TEnvelopeResult r = BuildEnvelopeFromFile(PathFromBytes(path), [&](int) {
            if (std::exchange(held, true))
                return;
            // Points of the second half can only come from the other thread while this one waits here; the
            // deadline only ends the test when they never come.
            for (QDeadlineTimer deadline(30000); !secondPartSeen && !deadline.hasExpired();) {
                watch.TakeFinished(points, known);
                secondPartSeen = std::find(known.begin() + std::ptrdiff_t(known.size() / 2), known.end(), 1) != known.end();
                QThread::yieldCurrentThread();
            }
        }, 2, &watch);
        QVERIFY(secondPartSeen);
        CompareResults(r, BuildEnvelopeFromFile(Path("long.wav"), {}, 1), "in parts");
    }

    // A pass in parts reports on the calling thread, percentages rising, none twice, and 100 once, last.
    // Also when damage makes the parts give way to one sequential pass.
    void multiPartProgressRisesAndEndsWithOneHundred_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("parts");
        QTest::addRow("2 parts") << "long.wav" << 2;
        QTest::addRow("3 parts") << "long.wav" << 3;
        QTest::addRow("8 parts") << "long.wav" << 8;
        QTest::addRow("4 parts, damaged") << "damaged.mp3" << 4;
    }
    void multiPartProgressRisesAndEndsWithOneHundred()
    {
        QFETCH(QString, file);
        QFETCH(int, parts);
        QList<int> reports;
        bool onCaller = true;
        QThread *caller = QThread::currentThread();
        const TEnvelopeResult r = BuildEnvelopeFromFile(Path(file), [&](int APercent) {
            reports.append(APercent);
            onCaller = onCaller && QThread::currentThread() == caller;
        }, parts);
        QCOMPARE(r.Error, 0);
        QVERIFY(onCaller);
        QVERIFY2(reports.size() >= 5, qPrintable(QString::number(reports.size())));  // 20 reads' worth
        QCOMPARE(reports.last(), 100);
        for (int i = 1; i < reports.size(); ++i)
            QVERIFY2(reports[i] > reports[i - 1], qPrintable(QStringLiteral("report %1 after %2").arg(reports[i]).arg(reports[i - 1])));
        QVERIFY(reports.first() >= 0);
    }

    void figuresFollowTheDecodedLength_data()
    {
        QTest::addColumn<qint64>("lengthBytes");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("envCount");
        QTest::addColumn<qint64>("framesPerPoint");
        QTest::addRow("1000 stereo frames") << qint64(4000) << 2 << qint64(1000) << 1000 << qint64(1);
        QTest::addRow("one hour 44.1 kHz stereo") << qint64(3600LL * 44100 * 4) << 2 << qint64(3600LL * 44100) << 50000
                                                  << qint64(3176);
        QTest::addRow("ten minutes 44.1 kHz mono") << qint64(600LL * 44100 * 2) << 1 << qint64(600LL * 44100) << 50000
                                                   << qint64(530);
        QTest::addRow("no bytes") << qint64(0) << 2 << qint64(1) << 1 << qint64(1);
        QTest::addRow("half a frame") << qint64(2) << 2 << qint64(1) << 1 << qint64(1);
        QTest::addRow("six channels") << qint64(12 * 100000) << 6 << qint64(100000) << 50000 << qint64(2);
    }
    void figuresFollowTheDecodedLength()
    {
        QFETCH(qint64, lengthBytes);
        QFETCH(int, channels);
        const TEnvelopeFigures f = EnvelopeFigures(lengthBytes, channels);
        QTEST(f.Frames, "frames");
        QTEST(f.EnvCount, "envCount");
        QTEST(f.FramesPerPoint, "framesPerPoint");
    }

    // 1000 stereo frames: one frame per point, 0 on the side of zero the sample is not on.
    void oneFramePerPointKeepsZeroOnTheOtherSide()
    {
        std::vector<int16_t> s;
        for (int i = 0; i < 1000; ++i) {
            s.push_back(static_cast<int16_t>(i * 7 - 3500));
            s.push_back(static_cast<int16_t>(3000 - i * 5));
        }
        TEnvelopeBuilder b(4000, 2, {});
        b.Feed(s.data(), 4000);
        const TEnvArray env = b.Finish();
        QCOMPARE(int(env->size()), 1000);
        for (int i = 0; i < 1000; ++i) {
            const TEnvPoint &p = (*env)[size_t(i)];
            const int16_t l = s[size_t(2 * i)], r = s[size_t(2 * i + 1)];
            QCOMPARE(p.MnL, std::min<int16_t>(l, 0));
            QCOMPARE(p.MxL, std::max<int16_t>(l, 0));
            QCOMPARE(p.MnR, std::min<int16_t>(r, 0));
            QCOMPARE(p.MxR, std::max<int16_t>(r, 0));
        }
    }

    // The fast pass gives what the plain sample-by-sample pass gives, for any channel count and any
    // split of the data into reads (reads may end inside a frame, even inside a sample pair).
    void fastPassEqualsPlainPass_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("extraFrames");  // delivered beyond the announced length
        QTest::addRow("mono") << 1 << 123457 << 0;
        QTest::addRow("stereo") << 2 << 200003 << 0;
        QTest::addRow("three channels") << 3 << 77777 << 0;
        QTest::addRow("six channels") << 6 << 60001 << 0;
        QTest::addRow("stereo, more than announced") << 2 << 90000 << 1234;
        QTest::addRow("stereo, fewer frames than points") << 2 << 700 << 0;
    }
    void fastPassEqualsPlainPass()
    {
        QFETCH(int, channels);
        QFETCH(int, frames);
        QFETCH(int, extraFrames);
        QRandomGenerator rng(static_cast<quint32>(channels * 1000 + frames));
        std::vector<int16_t> s(static_cast<size_t>(frames + extraFrames) * channels);
        for (int16_t &v : s)
            v = static_cast<int16_t>(rng.bounded(-32768, 32768));
        const qint64 lengthBytes = qint64(frames) * channels * 2;
        const std::vector<TEnvPoint> expect = PlainPass(s, lengthBytes, channels);

        TEnvelopeBuilder b(lengthBytes, channels, {});
        const char *bytes = reinterpret_cast<const char *>(s.data());
        const qint64 total = qint64(s.size()) * 2;
        qint64 at = 0;
        while (at < total) {
            const qint64 n = std::min<qint64>(total - at, 2 * rng.bounded(1, 40000));
            b.Feed(bytes + at, n);
            at += n;
        }
        const TEnvArray env = b.Finish();
        QCOMPARE(env->size(), expect.size());
        for (size_t i = 0; i < expect.size(); ++i)
            QVERIFY2(Same((*env)[i], expect[i]), qPrintable(QString("point %1").arg(i)));
    }

    // One hour at 44.1 kHz stereo: samples reach point 49987; the last 12 points stay all 0. A mono
    // file copies its left pair to the right; a point of only positive samples has minimum 0.
    void anHourLeavesTheLastTwelvePointsEmpty()
    {
        const qint64 lengthBytes = 3600LL * 44100 * 4;
        std::vector<int16_t> block(131072, 5);
        TEnvelopeBuilder b(lengthBytes, 2, {});
        for (qint64 done = 0; done < lengthBytes; done += 262144)
            b.Feed(block.data(), std::min<qint64>(262144, lengthBytes - done));
        const TEnvArray env = b.Finish();
        QCOMPARE(int(env->size()), 50000);
        QCOMPARE((*env)[49987].MxL, int16_t(5));
        QCOMPARE((*env)[49987].MnL, int16_t(0));
        for (int i = 49988; i < 50000; ++i)
            QVERIFY(Same((*env)[size_t(i)], TEnvPoint{}));
    }

    void monoCopiesLeftToRight()
    {
        std::vector<int16_t> s = {100, -200, 300, -50, 7};
        TEnvelopeBuilder b(10, 1, {});
        b.Feed(s.data(), 10);
        const TEnvArray env = b.Finish();
        for (const TEnvPoint &p : *env) {
            QCOMPARE(p.MnR, p.MnL);
            QCOMPARE(p.MxR, p.MxL);
        }
        QCOMPARE((*env)[1].MnL, int16_t(-200));
        QCOMPARE((*env)[0].MnL, int16_t(0));
    }

    // Six channels: channel 0 is left; the right pair holds the extremes of channels 1 to 5 together.
    void channelsPastTheFirstFeedTheRightPair()
    {
        const std::vector<int16_t> frame = {10, -1, 2, -30000, 4, 25000};
        TEnvelopeBuilder b(12, 6, {});
        b.Feed(frame.data(), 12);
        const TEnvPoint p = (*b.Finish())[0];
        QCOMPARE(p.MnL, int16_t(0));
        QCOMPARE(p.MxL, int16_t(10));
        QCOMPARE(p.MnR, int16_t(-30000));
        QCOMPARE(p.MxR, int16_t(25000));
    }

    // Reports after each read when the rounded percentage changes, then the closing 100.
    void progressReportsFollowTheReads_data()
    {
        QTest::addColumn<qint64>("lengthBytes");
        QTest::addColumn<QList<qint64>>("reads");
        QTest::addColumn<QList<int>>("reports");
        QTest::addRow("600000 bytes") << qint64(600000) << QList<qint64>{262144, 262144, 75712}
                                      << QList<int>{44, 87, 100, 100};
        QTest::addRow("no bytes") << qint64(0) << QList<qint64>{} << QList<int>{100};
        QTest::addRow("same percentage twice") << qint64(100000000) << QList<qint64>{262144, 262144, 262144}
                                               << QList<int>{0, 1, 100};
        QTest::addRow("half ties to even") << qint64(800) << QList<qint64>{20, 8} << QList<int>{2, 4, 100};
        QTest::addRow("more than announced") << qint64(4) << QList<qint64>{4, 4} << QList<int>{100, 200, 100};
    }
    void progressReportsFollowTheReads()
    {
        QFETCH(qint64, lengthBytes);
        QFETCH(QList<qint64>, reads);
        QList<int> got;
        TEnvelopeBuilder b(lengthBytes, 2, [&](int APct) { got.append(APct); });
        std::vector<char> zeros(262144);
        for (qint64 n : reads)
            b.Feed(zeros.data(), n);
        b.Finish();
        QTEST(got, "reports");
    }
};

VORNAK_TEST_GUILESS_MAIN(TestEnvelope)
#include "tst_uEnvelope.moc"
