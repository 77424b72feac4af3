// Decoding stream: exact length, the same bytes as a straight decode, exact seeking, failure codes.
#include "CodecFixtures.h"
#include "TestMain.h"
#include "uDecoder.h"
#include "uReaderTypes.h"

#include <QTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Test signal: two different tones and some noise, so that any shift of samples shows.
const char *const Signal =
    "aevalsrc=exprs='0.4*sin(2*PI*440*t)+0.1*random(0)|0.3*sin(2*PI*317*t)+0.05*random(1)':s=44100:d=3";

using codecs::Ffmpeg;

// All the bytes a straight decode delivers, in reads of an odd size to cross frame boundaries.
QByteArray ReadAll(TDecodeStream &AStream)
{
    QByteArray all;
    QByteArray buf(65538, '\0');
    for (;;) {
        const qint64 n = AStream.Read(buf.data(), buf.size());
        if (n <= 0)
            break;
        all.append(buf.constData(), static_cast<int>(n));
    }
    return all;
}

} // namespace

class TestDecoder : public QObject {
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
            QStringList args;
        };
        const QList<TFixture> fixtures = {
            {"tone.wav", {"-c:a", "pcm_s16le"}},
            {"tone.flac", {"-c:a", "flac"}},
            {"cbr.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}},
            {"vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}},
            {"tone.ogg", {"-c:a", "libvorbis", "-q:a", "3"}},
            {"tone.opus", {"-c:a", "libopus", "-b:a", "64k"}},
            {"tone.m4a", {"-c:a", "aac", "-b:a", "128k"}},
            {"mono8k.mp3", {"-ac", "1", "-ar", "8000", "-c:a", "libmp3lame", "-b:a", "32k"}},
            {"six.wav", {"-ac", "6", "-c:a", "pcm_s16le"}},
            {"high.flac", {"-ar", "192000", "-c:a", "flac"}},
        };
        for (const TFixture &f : fixtures)
            QVERIFY2(Ffmpeg(QStringList{"-f", "lavfi", "-i", Signal} + f.args + QStringList{Path(f.name)}), f.name);
        // Noise bursts over quiet tones: the Vorbis encoder switches block sizes at each burst, and the Ogg
        // demuxer times the packet that starts a page off by half a block now and then.
        QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                        "aevalsrc=exprs='0.6*random(0)*lt(mod(t\\,0.37)\\,0.03)+0.2*sin(2*PI*220*t)|"
                        "0.5*random(1)*lt(mod(t\\,0.29)\\,0.02)+0.1*sin(2*PI*330*t)':s=44100:d=3",
                        "-c:a", "libvorbis", "-q:a", "2", Path("bursts.ogg")}));
        QVERIFY(QDir(FDir.path()).mkdir("codec"));
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QVERIFY2(Ffmpeg(QStringList{"-f", "lavfi", "-i", Signal} + c.Encode + QStringList{Path(CodecFile(c))}), c.Name);
    }

    // The length is known before the first read and is what a straight decode delivers, byte for byte
    // the samples that the ffmpeg command line decodes from the file.
    void straightDecodeMatchesLengthAndContent_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("refDecoder");
        QTest::addRow("wav") << "tone.wav" << 44100 << 2 << QStringList();
        QTest::addRow("flac") << "tone.flac" << 44100 << 2 << QStringList();
        QTest::addRow("mp3 cbr") << "cbr.mp3" << 44100 << 2 << QStringList();
        QTest::addRow("mp3 vbr") << "vbr.mp3" << 44100 << 2 << QStringList();
        QTest::addRow("ogg vorbis") << "tone.ogg" << 44100 << 2 << QStringList();
        QTest::addRow("ogg vorbis, switching block sizes") << "bursts.ogg" << 44100 << 2 << QStringList();
        QTest::addRow("opus") << "tone.opus" << 48000 << 2 << QStringList();
        QTest::addRow("m4a aac") << "tone.m4a" << 44100 << 2 << QStringList();
        QTest::addRow("mono 8 kHz mp3") << "mono8k.mp3" << 8000 << 1 << QStringList();
        QTest::addRow("six channels") << "six.wav" << 44100 << 6 << QStringList();
        QTest::addRow("192 kHz flac") << "high.flac" << 192000 << 2 << QStringList();
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QTest::addRow("%s", c.Name) << CodecFile(c) << (CodecFile(c).endsWith(".opus") ? 48000 : 44100) << 2
                                        << c.RefDecoder;
    }
    void straightDecodeMatchesLengthAndContent()
    {
        QFETCH(QString, file);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, refDecoder);
        TDecodeStream s;
        QVERIFY2(s.Open(Path(file)), qPrintable(QString::number(s.LastError())));
        QCOMPARE(s.SampleRate(), rate);
        QCOMPARE(s.Channels(), channels);
        QCOMPARE(s.BlockAlign(), channels * 2);
        const qint64 length = s.LengthBytes();
        const QByteArray ours = ReadAll(s);
        QByteArray reference;
        QVERIFY(Ffmpeg(refDecoder + QStringList{"-i", Path(file), "-f", "s16le", "-c:a", "pcm_s16le", "-"}, &reference));
        QCOMPARE(length, qint64(reference.size()));
        QCOMPARE(qint64(ours.size()), length);
        QVERIFY2(ours == reference, "decoded samples differ from the reference decode");
        QCOMPARE(s.DecodeErrors(), 0);
        QCOMPARE(s.Gaps(), 0);
        QCOMPARE(s.Read(const_cast<char *>(ours.constData()), 4096), qint64(0));
    }

    // After SeekBytes(p) the next bytes are those a straight decode delivers at p, in every format,
    // forwards and backwards, including a position inside a frame. The codecs that seek directly are
    // exactly those whose seek with pre-roll proves bit-exact here; the others (ADPCM, whose WAV seek lands
    // seconds away; AC3 and WMA, whose timestamps after a seek are frames off; AAC and AC3, whose decoders
    // draw noise or dither from a generator that runs on from the start) decode from the start.
    void seekDeliversTheBytesOfAStraightDecode_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("direct");
        for (const char *f : {"tone.wav", "tone.flac", "cbr.mp3", "vbr.mp3", "tone.ogg", "bursts.ogg", "tone.opus",
                              "mono8k.mp3", "six.wav"})
            QTest::addRow("%s", f) << QString::fromLatin1(f) << true;
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QTest::addRow("%s", c.Name) << CodecFile(c) << c.Direct;
    }
    void seekDeliversTheBytesOfAStraightDecode()
    {
        QFETCH(QString, file);
        TDecodeStream straight;
        QVERIFY(straight.Open(Path(file)));
        const QByteArray all = ReadAll(straight);
        const qint64 ba = straight.BlockAlign();

        TDecodeStream s;
        QVERIFY(s.Open(Path(file)));
        QTEST(s.SeeksDirectly(), "direct");
        // Positions in seconds, in this order: forwards, backwards, near the start, near the end.
        const QList<double> seconds = {1.3, 0.7, 2.77, 0.05, 2.2, 0.0, 1.9999, 2.95};
        QByteArray buf(32768, '\0');
        for (double sec : seconds) {
            const qint64 p = s.SecondsToBytes(sec);
            QCOMPARE(p % ba, qint64(0));
            QVERIFY(s.SeekBytes(p));
            QCOMPARE(s.PositionBytes(), p);
            const qint64 n = s.Read(buf.data(), buf.size());
            const qint64 expect = qMin<qint64>(buf.size(), all.size() - p);
            QCOMPARE(n, expect);
            QVERIFY2(QByteArray(buf.constData(), int(n)) == all.mid(int(p), int(n)),
                     qPrintable(QString("bytes after a seek to %1 s differ").arg(sec)));
        }
        // Inside a frame, and then reading on to the very end.
        const qint64 odd = s.SecondsToBytes(1.1) + 1;
        QVERIFY(s.SeekBytes(odd));
        QVERIFY(ReadAll(s) == all.mid(int(odd)));
        // At and past the end: nothing more.
        QVERIFY(s.SeekBytes(all.size() + 1000));
        QCOMPARE(s.Read(buf.data(), buf.size()), qint64(0));
        // Whole data seen as whole after every seek (damage would split a pass into one part).
        QCOMPARE(s.DecodeErrors(), 0);
        QCOMPARE(s.Gaps(), 0);
    }

    // Damage is told: data the decoder refuses, and data gone missing without a refusal (an Ogg page).
    void damageIsTold_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("cut");  // "bytes": garbage over 3000 bytes at 40 %; "page": an Ogg page out
        QTest::addColumn<bool>("errors");
        QTest::addColumn<bool>("gaps");
        QTest::addRow("mp3 with garbage") << "cbr.mp3" << "bytes" << true << true;
        QTest::addRow("ogg without a page") << "long.ogg" << "page" << false << true;
        QTest::addRow("opus without a page") << "long.opus" << "page" << false << true;
    }
    void damageIsTold()
    {
        QFETCH(QString, file);
        QFETCH(QString, cut);
        if (file.startsWith("long.")) {  // 20 s: pages enough after the lost one for its loss to show
            const QString signal = QString::fromLatin1(Signal).replace(":d=3", ":d=20");
            QVERIFY(Ffmpeg({"-f", "lavfi", "-i", signal, Path(file)}));
        }
        QFile in(Path(file));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QByteArray bytes = in.readAll();
        if (cut == "bytes") {
            QRandomGenerator garbage(7);
            for (int i = 0; i < 3000; ++i)
                bytes[bytes.size() * 2 / 5 + i] = char(garbage.bounded(256));
        } else {
            // A page in the middle: its loss shows in the timestamps of the page after the next.
            QList<int> pages;
            for (int at = bytes.indexOf("OggS"); at >= 0; at = bytes.indexOf("OggS", at + 4))
                pages << at;
            QVERIFY(pages.size() >= 8);
            const int k = pages.size() / 2;
            bytes.remove(pages[k], pages[k + 1] - pages[k]);
        }
        const QString damaged = Path("damaged-" + file);
        QFile out(damaged);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();
        TDecodeStream s;
        QVERIFY(s.Open(damaged));
        ReadAll(s);
        QTEST(s.DecodeErrors() > 0, "errors");
        QTEST(s.Gaps() > 0, "gaps");
    }

    void secondsAndBytesConvertInWholeFrames()
    {
        TDecodeStream s;
        QVERIFY(s.Open(Path("tone.wav")));
        QCOMPARE(s.SecondsToBytes(12.5), qint64(12.5 * 44100) * 4);
        QCOMPARE(s.SecondsToBytes(1.0 / 44100 * 0.999), qint64(0));
        QCOMPARE(s.SecondsToBytes(-3), qint64(0));
        QCOMPARE(s.BytesToSeconds(44100 * 4), 1.0);
    }

    // Seconds to a byte range within the decoded length: 0 or less means the start or the end, an end past
    // the data stops at its end, and a start past the end gives an empty range.
    void secondsGiveAByteRangeWithinTheData_data()
    {
        QTest::addColumn<double>("startSec");
        QTest::addColumn<double>("endSec");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");  // -1: the decoded length
        QTest::addRow("all") << 0.0 << 0.0 << qint64(0) << qint64(-1);
        QTest::addRow("negatives are all") << -1.0 << -2.0 << qint64(0) << qint64(-1);
        QTest::addRow("a stretch, whole frames") << 1.0 << 2.5 << qint64(44100 * 4) << qint64(110250 * 4);
        QTest::addRow("from a time to the end") << 2.0 << 0.0 << qint64(88200 * 4) << qint64(-1);
        QTest::addRow("end past the data") << 1.0 << 99.0 << qint64(44100 * 4) << qint64(-1);
        QTest::addRow("start after end") << 2.0 << 1.0 << qint64(44100 * 4) << qint64(44100 * 4);
        QTest::addRow("start past the data") << 50.0 << 0.0 << qint64(-1) << qint64(-1);
    }
    void secondsGiveAByteRangeWithinTheData()
    {
        QFETCH(double, startSec);
        QFETCH(double, endSec);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        TDecodeStream s;
        QVERIFY(s.Open(Path("tone.wav")));
        qint64 gotStart = -2, gotEnd = -2;
        s.ByteRange(startSec, endSec, gotStart, gotEnd);
        QCOMPARE(gotStart, start < 0 ? s.LengthBytes() : start);
        QCOMPARE(gotEnd, end < 0 ? s.LengthBytes() : end);
    }

    // A second stream opens on the very name the first has open, byte for byte, also when it is not UTF-8
    // (the parts of a pass), and decodes the same bytes.
    void aSecondStreamOpensOnTheSameName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addRow("utf-8") << QByteArray("toon \xc3\xa9\xc3\xa9n.mp3");
        QTest::addRow("latin-1, not utf-8") << QByteArray("toon \xe9\xe9n.mp3");
    }
    void aSecondStreamOpensOnTheSameName()
    {
        QFETCH(QByteArray, name);
        const QByteArray path = PathBytes(FDir.path()) + '/' + name;
        QCOMPARE(::link(PathBytes(Path("cbr.mp3")).constData(), path.constData()), 0);
        TDecodeStream first;
        QVERIFY(first.Open(PathFromBytes(path)));
        TDecodeStream second;
        QVERIFY(second.OpenLike(first));
        QCOMPARE(second.LengthBytes(), first.LengthBytes());
        QCOMPARE(ReadAll(second), ReadAll(first));
    }

    // Files that cannot be read fail with a code and never hang (a FIFO would block the demuxer).
    void unreadableFilesFailWithTheirCode_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("code");
        auto bytes = [&](const QString &AName, const QByteArray &AData) {
            QFile f(Path(AName));
            if (f.open(QIODevice::WriteOnly))
                f.write(AData);
            return Path(AName);
        };
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        mkfifo(QFile::encodeName(Path("fifo.mp3")).constData(), 0600);
        QTest::addRow("missing") << Path("none.wav") << int(aeFileOpen);
        QTest::addRow("folder") << FDir.path() << int(aeFileOpen);
        QTest::addRow("FIFO") << Path("fifo.mp3") << int(aeFileOpen);
        QTest::addRow("device") << "/dev/zero" << int(aeFileOpen);
        QTest::addRow("zero length") << bytes("empty.mp3", {}) << int(aeFileForm);
        QTest::addRow("random bytes .mp3") << bytes("random.mp3", random) << int(aeFileForm);
        QTest::addRow("text named .ogg") << bytes("text.ogg", QByteArray("hello\n").repeated(100)) << int(aeFileForm);
    }
    void unreadableFilesFailWithTheirCode()
    {
        QFETCH(QString, file);
        QFETCH(int, code);
        TDecodeStream s;
        QVERIFY(!s.Open(file));
        QCOMPARE(s.LastError(), code);
        char buf[16];
        QCOMPARE(s.Read(buf, sizeof buf), qint64(-1));
    }

    // A cut-off file delivers exactly the length it announced (the missing tail, if any, is silence).
    void truncatedFilesKeepTheirPromise_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *f : {"tone.wav", "cbr.mp3", "vbr.mp3", "tone.ogg", "tone.opus", "tone.flac"})
            QTest::addRow("%s", f) << QString::fromLatin1(f);
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QTest::addRow("%s", c.Name) << CodecFile(c);
    }
    void truncatedFilesKeepTheirPromise()
    {
        QFETCH(QString, file);
        QFile in(Path(file));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray half = in.readAll().left(int(in.size() / 2));
        const QString cut = Path("cut-" + QFileInfo(file).fileName());
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(half);
        out.close();
        TDecodeStream s;
        if (!s.Open(cut)) {
            QVERIFY(s.LastError() != 0);
            return;
        }
        QVERIFY(s.SampleRate() > 0 && s.Channels() > 0);
        QCOMPARE(qint64(ReadAll(s).size()), s.LengthBytes());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestDecoder)
#include "tst_uDecoder.moc"
