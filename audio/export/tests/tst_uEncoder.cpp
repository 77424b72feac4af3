// The export's building blocks fed from memory: the WAV header and writer, the read loop's reports and
// stops, the encoders' option texts, and encoders and writer that meet a full disk.
#include "ExportFixtures.h"
#include "TestMain.h"
#include "uEncoder.h"
#include "uExportLoop.h"
#include "uWavWriter.h"

#include <QTest>

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

using namespace fixtures;

class TestEncoder : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString Path(const QString &AName) const { return FDir.filePath(AName); }

private slots:
    void wavHeaderHoldsTheFormatAndSizes_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<quint32>("data");
        QTest::addRow("44.1 kHz stereo") << 44100 << 2 << quint32(1764000);
        QTest::addRow("8 kHz mono") << 8000 << 1 << quint32(16000);
        QTest::addRow("largest size") << 48000 << 2 << quint32(WavMaxDataBytes);
    }
    void wavHeaderHoldsTheFormatAndSizes()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(quint32, data);
        const QByteArray h = WavHeader(rate, channels, data);
        QCOMPARE(h.size(), 44);
        QCOMPARE(h.left(4), QByteArray("RIFF"));
        QCOMPARE(LE(h, 4, 4), data + 36);
        QCOMPARE(h.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(LE(h, 16, 4), 16u);
        QCOMPARE(LE(h, 20, 2), 1u);
        QCOMPARE(LE(h, 22, 2), quint32(channels));
        QCOMPARE(LE(h, 24, 4), quint32(rate));
        QCOMPARE(LE(h, 28, 4), quint32(rate * channels * 2));
        QCOMPARE(LE(h, 32, 2), quint32(channels * 2));
        QCOMPARE(LE(h, 34, 2), 16u);
        QCOMPARE(h.mid(36, 4), QByteArray("data"));
        QCOMPARE(LE(h, 40, 4), data);
    }

    // Sizes stay 0 while writing and are patched by Finish; a writer given up on keeps them at 0.
    void wavWriterPatchesSizesOnlyWhenFinished()
    {
        const QByteArray samples(1000, '\x11');
        {
            TWavWriter w;
            w.Create(Path("open.wav"), 8000, 1);
            w.Write(samples.constData(), samples.size());
            const QByteArray midway = ReadAll(Path("open.wav"));
            QCOMPARE(midway.size(), 1044);
            QCOMPARE(LE(midway, 4, 4), 0u);
            QCOMPARE(LE(midway, 40, 4), 0u);
            w.Finish();
        }
        const QByteArray done = ReadAll(Path("open.wav"));
        QCOMPARE(LE(done, 4, 4), 1036u);
        QCOMPARE(LE(done, 40, 4), 1000u);
        QCOMPARE(done.mid(44), samples);
        {
            TWavWriter w;
            w.Create(Path("open.wav"), 8000, 1);  // replaces the finished file
            w.Write(samples.constData(), 10);
        }
        const QByteArray dropped = ReadAll(Path("open.wav"));
        QCOMPARE(dropped.size(), 54);
        QCOMPARE(LE(dropped, 4, 4), 0u);
        QCOMPARE(LE(dropped, 40, 4), 0u);
    }

    void wavWriterNamesTheFileAndTheCauseWhenItCannotCreate_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("cause");
        QTest::addRow("missing folder") << "missing/x.wav" << QString::fromLocal8Bit(std::strerror(ENOENT));
        QTest::addRow("read-only folder") << "ro/x.wav" << QString::fromLocal8Bit(std::strerror(EROFS));
    }
    void wavWriterNamesTheFileAndTheCauseWhenItCannotCreate()
    {
        QFETCH(QString, target);
        QFETCH(QString, cause);
        QDir().mkpath(Path("ro"));
        TSmallDisk ro(Path("ro"), "size=64k", MS_RDONLY);
        if (target.startsWith("ro/") && !ro.mounted)
            QSKIP("cannot mount a read-only tmpfs here (needs root)");
        const QString path = Path(target);
        try {
            TWavWriter w;
            w.Create(path, 44100, 2);
            QFAIL("no error raised");
        } catch (const EReaderError &e) {
            QCOMPARE(e.Message(), QString("Cannot create file \"%1\". %2").arg(path, cause));
        }
        QVERIFY(!QFile::exists(path));
    }

    // A disk that fills up: "Stream write error", and the header never claims the data.
    void wavWriterOnAFullDiskRaisesStreamWriteError()
    {
        QDir().mkpath(Path("full-wav"));
        TSmallDisk disk(Path("full-wav"), "size=200k");
        if (!disk.mounted)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        const QString path = Path("full-wav/x.wav");
        const std::vector<int16_t> pcm = BurstPcm(44100, 2, 2.0);
        QString message;
        try {
            TWavWriter w;
            w.Create(path, 44100, 2);
            w.Write(pcm.data(), static_cast<qint64>(pcm.size() * 2));
            w.Finish();
        } catch (const EReaderError &e) {
            message = e.Message();
        }
        QCOMPARE(message, QString("Stream write error"));
        const QByteArray h = ReadAll(path).left(44);
        QCOMPARE(LE(h, 4, 4), 0u);
        QCOMPARE(LE(h, 40, 4), 0u);
    }

    // The loop reports each whole percentage once, as it changes; a false answer, a refusing writer or
    // a source that runs dry each end it, and C caps what is read.
    void readLoopReportsAndStops_data()
    {
        QTest::addColumn<qint64>("available");  // bytes the source can deliver
        QTest::addColumn<qint64>("C");
        QTest::addColumn<int>("cancelAt");      // report after which the callback answers false; -1 never
        QTest::addColumn<int>("refuseBlock");   // block the writer refuses (1-based); 0 none
        QTest::addColumn<qint64>("done");
        QTest::addColumn<QList<int>>("reports");
        const qint64 K = ExportBlockBytes;
        QTest::addRow("four blocks") << 4 * K << 4 * K << -1 << 0 << 4 * K << QList<int>{25, 50, 75, 100};
        QTest::addRow("C below what is there") << 10 * K << 2 * K + 100 << -1 << 0 << 2 * K + 100
                                               << QList<int>{50, 100};
        QTest::addRow("cancel at the first report") << 4 * K << 4 * K << 1 << 0 << K << QList<int>{25};
        QTest::addRow("source runs dry") << 2 * K + 6 << 4 * K << -1 << 0 << 2 * K + 6 << QList<int>{25, 50};
        QTest::addRow("writer refuses") << 4 * K << 4 * K << -1 << 2 << 2 * K << QList<int>{25};
        QTest::addRow("one small block") << qint64(40) << qint64(40) << -1 << 0 << qint64(40) << QList<int>{100};
    }
    void readLoopReportsAndStops()
    {
        QFETCH(qint64, available);
        QFETCH(qint64, C);
        QFETCH(int, cancelAt);
        QFETCH(int, refuseBlock);
        QFETCH(qint64, done);
        QFETCH(QList<int>, reports);
        qint64 left = available;
        int blocks = 0;
        qint64 largest = 0;
        QList<int> seen;
        const qint64 got = ExportReadLoop(
            [&](char *ABuf, qint64 AMax) {
                const qint64 n = qMin(AMax, left);
                std::memset(ABuf, 1, static_cast<size_t>(n));
                left -= n;
                return n;
            },
            C,
            [&](int APercent) {
                seen << APercent;
                return seen.size() != cancelAt;
            },
            [&](const char *, qint64 ACount) {
                largest = qMax(largest, ACount);
                return ++blocks != refuseBlock;
            });
        QCOMPARE(got, done);
        QCOMPARE(seen, reports);
        QVERIFY(largest <= ExportBlockBytes);
    }

    void optionTextCarriesTheBitrate_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<int>("kbps");
        QTest::addColumn<QByteArray>("text");
        QTest::addRow("Opus 96") << TAudioFormat::afOPUS << 96 << QByteArray("--bitrate 96");
        QTest::addRow("MP3 320") << TAudioFormat::afMP3 << 320 << QByteArray("-b 320");
        QTest::addRow("OGG 64") << TAudioFormat::afOGG << 64 << QByteArray("-b 64");
    }
    void optionTextCarriesTheBitrate()
    {
        QFETCH(TAudioFormat, format);
        QFETCH(int, kbps);
        QFETCH(QByteArray, text);
        QCOMPARE(EncoderOptionText(format, kbps), text);
        QCOMPARE(EncoderOptionBitrate(text), kbps);
    }

    void optionTextWithoutABitrateIsRefused()
    {
        QCOMPARE(EncoderOptionBitrate("-b"), 0);
        QCOMPARE(EncoderOptionBitrate("-b x"), 0);
        QCOMPARE(EncoderOptionBitrate("-b -5"), 0);
        QCOMPARE(EncoderOptionBitrate(""), 0);
        TEncoder e;
        QVERIFY(!e.Start(TAudioFormat::afMP3, "-q 2", 44100, 2, Path("nobitrate.mp3")));
        QVERIFY(!QFile::exists(Path("nobitrate.mp3")));
    }

    // Whatever the format, audio that no longer fits on the disk is never reported as written.
    void encoderOnAFullDiskReportsFailure_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addRow("MP3") << TAudioFormat::afMP3;
        QTest::addRow("OGG") << TAudioFormat::afOGG;
        QTest::addRow("Opus") << TAudioFormat::afOPUS;
    }
    void encoderOnAFullDiskReportsFailure()
    {
        QFETCH(TAudioFormat, format);
        const QString dir = Path(QString("full-%1").arg(static_cast<int>(format)));
        QDir().mkpath(dir);
        TSmallDisk disk(dir, "size=100k");
        if (!disk.mounted)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        const std::vector<int16_t> pcm = BurstPcm(44100, 2, 20.0);
        TEncoder e;
        QVERIFY(e.Start(format, EncoderOptionText(format, 128), 44100, 2, dir + "/x"));
        bool fed = true;
        for (size_t at = 0; at < pcm.size() && fed; at += 65536)
            fed = e.Feed(pcm.data() + at, static_cast<qint64>(qMin<size_t>(65536, pcm.size() - at) * 2));
        const bool stopped = e.Stop();
        QVERIFY2(!(fed && stopped), "a full disk was reported as a complete file");
        QVERIFY(!e.ErrorText().isEmpty());
    }

    // A bitrate the encoder cannot do at this rate and channel count gives the nearest one it can,
    // not a failed export.
    void encoderTakesTheNearestBitrateItCan_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("kbps");
        QTest::addRow("OGG 320 at 8 kHz mono") << TAudioFormat::afOGG << 8000 << 1 << 320;
        QTest::addRow("OGG 8 at 44.1 kHz stereo") << TAudioFormat::afOGG << 44100 << 2 << 8;
        QTest::addRow("Opus 320 mono") << TAudioFormat::afOPUS << 16000 << 1 << 320;
        QTest::addRow("Opus 5000 stereo") << TAudioFormat::afOPUS << 44100 << 2 << 5000;
        QTest::addRow("MP3 320 at 8 kHz mono") << TAudioFormat::afMP3 << 8000 << 1 << 320;
        QTest::addRow("MP3 1") << TAudioFormat::afMP3 << 44100 << 2 << 1;
    }
    void encoderTakesTheNearestBitrateItCan()
    {
        QFETCH(TAudioFormat, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, kbps);
        const std::vector<int16_t> pcm = BurstPcm(rate, channels, 2.0);
        const QString path = Path(QString("nearest-%1-%2-%3%4").arg(rate).arg(channels).arg(kbps).arg(FormatExt(format)));
        TEncoder e;
        QVERIFY2(e.Start(format, EncoderOptionText(format, kbps), rate, channels, path), qPrintable(e.ErrorText()));
        QVERIFY(e.Feed(pcm.data(), static_cast<qint64>(pcm.size() * 2)));
        QVERIFY(e.Stop());
        const TDecoded d = DecodeAll(path);
        QVERIFY(d.ok);
        QCOMPARE(d.channels, channels);
        QVERIFY2(std::abs(d.Seconds() - 2.0) < 0.1, qPrintable(QString::number(d.Seconds())));
    }

    void encoderCannotStartInAMissingFolder()
    {
        TEncoder e;
        QVERIFY(!e.Start(TAudioFormat::afOGG, "-b 64", 44100, 2, Path("missing/x.ogg")));
        QVERIFY(!e.ErrorText().isEmpty());
        QVERIFY(!e.Stop());
    }

    // Odd-sized pieces (part frames across calls) give the same decoded audio as one piece.
    void encoderTakesPartFramesAcrossCalls()
    {
        const std::vector<int16_t> pcm = BurstPcm(22050, 2, 3.0);
        TEncoder e;
        QVERIFY(e.Start(TAudioFormat::afMP3, "-b 64", 22050, 2, Path("pieces.mp3")));
        const char *p = reinterpret_cast<const char *>(pcm.data());
        const qint64 total = static_cast<qint64>(pcm.size() * 2);
        for (qint64 at = 0, step = 1; at < total; at += step, step = step * 3 % 10007 + 1)
            QVERIFY(e.Feed(p + at, qMin(step, total - at)));
        QVERIFY(e.Stop());
        const TDecoded d = DecodeAll(Path("pieces.mp3"));
        QVERIFY(d.ok);
        QCOMPARE(d.rate, 22050);
        QCOMPARE(d.channels, 2);
        QVERIFY2(std::abs(d.Seconds() - 3.0) < 0.11, qPrintable(QString::number(d.Seconds())));
        const std::vector<double> want = ExpectedOnsets(0, 3.0);
        const std::vector<double> got = FindOnsets(d);
        QCOMPARE(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            QVERIFY2(std::abs(got[i] - want[i]) < 0.03, qPrintable(QString("%1 vs %2").arg(got[i]).arg(want[i])));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestEncoder)
#include "tst_uEncoder.moc"
