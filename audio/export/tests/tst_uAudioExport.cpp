// Range export of the loaded recording: the byte range and the WAV file it gives, cancelling, encoded
// files checked by decoding them back, a file replaced only by a complete export, targets that cannot be
// written, the companion command, and every codec's ranges against its straight decode.
#include "CodecFixtures.h"
#include "ExportFixtures.h"
#include "TestMain.h"
#include "uAudioEngine.h"
#include "uExportLoop.h"
#include "uExportPipeline.h"
#include "uLoudness.h"

#include <QTest>
#include <QtEndian>

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace fixtures;

namespace {

QByteArray Sha(const QString &APath)
{
    return QCryptographicHash::hash(ReadAll(APath), QCryptographicHash::Sha256);
}

// FFmpeg's own meter on a file: the integrated loudness (LUFS) of its summary; NAN when it gives none.
double FfmpegIntegratedLufs(const QString &APath)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-nostats", "-i", APath, "-af", "ebur128", "-f", "null", "-"});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return std::nan("");
    const QString text = QString::fromUtf8(p.readAllStandardError());
    const int summary = text.lastIndexOf(QStringLiteral("Summary:"));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("I:\\s+(-?[0-9.]+|-inf) LUFS")).match(text, qMax(summary, 0));
    return m.hasMatch() ? m.captured(1).toDouble() : std::nan("");
}

} // namespace

class TestAudioExport : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FStereo;  // 30 s, 44.1 kHz stereo
    QString FMono;    // 12 s, 8 kHz mono
    QString FCutFlac;          // FStereo as FLAC, cut to 2/5 of its bytes
    double FCutSeconds = 0;    // what of it decodes
    QString Path(const QString &AName) const { return FDir.filePath(AName); }
    QString CodecPath(const codecs::TCodecFixture &ACodec) const
    {
        return Path(QStringLiteral("codec/") + ACodec.File);
    }

    // The outcome of the last Export / ExportFile.
    TExportOutcome FLast;
    // One export through the pipeline, of the engine's loaded recording or of a file. True when any audio went
    // through (also when cancelled); the WAV writer's raised text is raised again, as the tests check it.
    bool Export(TAudioEngine &AEngine, const QString &ADest, TAudioFormat AFormat, int ABitrate, double AStartSec,
                double AEndSec, const TCancelProgress &AProgress = {})
    {
        FLast = AEngine.Export(Request(QString(), ADest, AFormat, ABitrate, AStartSec, AEndSec), {AProgress});
        return Wrote();
    }
    bool ExportFile(const QString &ASource, const QString &ADest, TAudioFormat AFormat, int ABitrate, double AStartSec,
                    double AEndSec, const TCancelProgress &AProgress = {}, double ATargetLufs = 0)
    {
        TExportRequest request = Request(ASource, ADest, AFormat, ABitrate, AStartSec, AEndSec);
        request.TargetLufs = ATargetLufs;
        FLast = ExportRecording(request, {AProgress});
        return Wrote();
    }
    static TExportRequest Request(const QString &ASource, const QString &ADest, TAudioFormat AFormat, int ABitrate,
                                  double AStartSec, double AEndSec)
    {
        TExportRequest request;
        request.Source = ASource;
        request.Path = ADest;
        request.Format = AFormat;
        request.Bitrate = ABitrate;
        request.StartSec = AStartSec;
        request.EndSec = AEndSec;
        return request;
    }
    bool Wrote() const
    {
        if (!FLast.Raised.isEmpty())
            throw EReaderError(FLast.Raised);
        return FLast.Done() || (FLast.Result == TExportResult::Cancelled && FLast.Seconds > 0);
    }

    void LoadOrFail(TAudioEngine &AEngine, const QString &APath)
    {
        QVERIFY2(AEngine.Load(APath), qPrintable(QString("cannot load %1: error %2").arg(APath).arg(AEngine.LastError())));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FStereo = Path("stereo.wav");
        FMono = Path("mono.wav");
        WriteBurstWav(FStereo, 44100, 2, 30.0);
        WriteBurstWav(FMono, 8000, 1, 12.0);
        // FLAC announces its length in its header; cut off, it decodes to less than it announces.
        QVERIFY2(HaveFfmpeg(), "the ffmpeg program makes the FLAC fixture (tools/install.sh installs it)");
        QVERIFY(Ffmpeg({"-i", FStereo, "-c:a", "flac", Path("whole.flac")}));
        {
            FCutFlac = Path("cut.flac");
            QVERIFY(QFile::copy(Path("whole.flac"), FCutFlac));
            QVERIFY(QFile(FCutFlac).resize(QFileInfo(FCutFlac).size() * 2 / 5));
            // What decodes of it, counted without the silence the decoding stream adds for the waveform.
            TDecodeStream s;
            QVERIFY(s.Open(FCutFlac));
            s.SetPadToLength(false);
            std::vector<char> buf(65536);
            qint64 total = 0;
            for (qint64 n; (n = s.Read(buf.data(), qint64(buf.size()))) > 0;)
                total += n;
            FCutSeconds = s.BytesToSeconds(total);
            QVERIFY2(FCutSeconds > 6 && FCutSeconds < 20, qPrintable(QString::number(FCutSeconds)));
        }
        // FStereo in every codec, for the identity rows.
        QVERIFY(QDir(FDir.path()).mkdir("codec"));
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QVERIFY2(codecs::Ffmpeg(QStringList{"-i", FStereo} + c.Encode + QStringList{CodecPath(c)}), c.Name);
    }

    void nothingLoadedExportsNothing()
    {
        TAudioEngine engine;
        QVERIFY(!Export(engine, Path("none.wav"), TAudioFormat::afWAV, 0, 0, 0));
        QVERIFY(!QFile::exists(Path("none.wav")));
    }

    // The range in bytes and the WAV file written for it: data from the right place, sizes that match.
    void wavExportWritesTheRange_data()
    {
        QTest::addColumn<double>("startSec");
        QTest::addColumn<double>("endSec");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("C");
        const qint64 T = 30LL * 44100 * 4;
        QTest::addRow("whole file, end 0") << 0.0 << 0.0 << qint64(0) << T;
        QTest::addRow("whole file, end = duration") << 0.0 << 30.0 << qint64(0) << T;
        QTest::addRow("negative start, end beyond") << -5.0 << 99.0 << qint64(0) << T;
        QTest::addRow("10 s to 20 s") << 10.0 << 20.0 << 10LL * 44100 * 4 << 10LL * 44100 * 4;
        QTest::addRow("25 s to the end") << 25.0 << 0.0 << 25LL * 44100 * 4 << 5LL * 44100 * 4;
        QTest::addRow("cut to whole frames") << 1.00001 << 1.5 << 44100LL * 4 << 22050LL * 4;
    }
    void wavExportWritesTheRange()
    {
        QFETCH(double, startSec);
        QFETCH(double, endSec);
        QFETCH(qint64, start);
        QFETCH(qint64, C);
        TAudioEngine engine;
        LoadOrFail(engine, FStereo);
        const QString dest = Path("range.wav");
        QList<int> reports;
        QVERIFY(Export(engine, dest, TAudioFormat::afWAV, 0, startSec, endSec, [&](int APercent) {
            reports << APercent;
            return true;
        }));
        const QByteArray out = ReadAll(dest);
        QCOMPARE(qint64(out.size()), C + 44);
        QCOMPARE(qint64(LE(out, 4, 4)), C + 36);
        QCOMPARE(qint64(LE(out, 40, 4)), C);
        QCOMPARE(LE(out, 22, 2), 2u);
        QCOMPARE(LE(out, 24, 4), 44100u);
        QCOMPARE(LE(out, 28, 4), 44100u * 4);
        QCOMPARE(LE(out, 32, 2), 4u);
        QVERIFY(out.mid(44) == ReadAll(FStereo).mid(44 + start, C));
        QCOMPARE(FLast.Seconds, C / (44100.0 * 4));
        QVERIFY(!FLast.EndedEarly);
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), 100);
        for (int i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i] > reports[i - 1]);
    }

    // In every codec, a range exported as WAV holds exactly the bytes a straight decode of the recording
    // has there: near the start, in the middle (where ADPCM once gave audio from seconds earlier) and up
    // to the end.
    void rangeHoldsTheStraightDecode_data()
    {
        QTest::addColumn<QString>("source");
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            QTest::addRow("%s", c.Name) << CodecPath(c);
    }
    void rangeHoldsTheStraightDecode()
    {
        QFETCH(QString, source);
        const TDecoded straight = DecodeAll(source);
        QVERIFY(straight.ok);
        const qint64 B = straight.channels * 2;
        const QByteArray all(reinterpret_cast<const char *>(straight.pcm.data()), int(straight.pcm.size() * 2));
        const QList<QPair<double, double>> ranges = {{10.408, 12.408}, {0.96, 2.96}, {27.5, 0.0}, {0.0, 1.0}};
        for (const auto &range : ranges) {
            const QString dest = Path("identity.wav");
            QFile::remove(dest);
            QVERIFY(ExportFile(source, dest, TAudioFormat::afWAV, 0, range.first, range.second));
            QVERIFY(!FLast.EndedEarly);
            const qint64 start = static_cast<qint64>(std::floor(range.first * straight.rate + 1e-7)) * B;
            const qint64 end = range.second > 0 ? static_cast<qint64>(std::floor(range.second * straight.rate + 1e-7)) * B
                                                : qint64(all.size());
            const QByteArray out = ReadAll(dest);
            QCOMPARE(qint64(out.size()) - 44, end - start);
            QVERIFY2(out.mid(44) == all.mid(int(start), int(end - start)),
                     qPrintable(QString("range %1 s to %2 s differs").arg(range.first).arg(range.second)));
        }
    }

    // One seconds -> frames rule for every codec: at start times that fall between two frames, the range of
    // an ADPCM, MP2 or AC3 recording starts where the same range of the PCM recording starts. ADPCM is
    // compared with PCM directly (the lag at which the two ranges agree best must be 0); MP2 and AC3 carry
    // their encoders' delay, so each is compared with its own straight decode from the PCM range's frame.
    void everyCodecStartsOnTheSameFrame_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<double>("startSec");
        for (const char *codec : {"ima adpcm wav", "ms adpcm wav", "mp2", "ac3"})
            for (double start : {10.408, 3.0000113, 7.12345, 21.99999})  // frames .8, .5, .1, .6 (at 44.1 kHz)
                QTest::addRow("%s from %g s", codec, start) << QString(codec) << start;
    }
    void everyCodecStartsOnTheSameFrame()
    {
        QFETCH(QString, codec);
        QFETCH(double, startSec);
        QString source;
        for (const codecs::TCodecFixture &c : codecs::AllCodecs())
            if (codec == c.Name)
                source = CodecPath(c);
        const double endSec = startSec + 1.5;
        auto rangeOf = [&](const QString &ASource, const QString &AName) {
            const QString dest = Path(AName);
            QFile::remove(dest);
            [&] { QVERIFY(ExportFile(ASource, dest, TAudioFormat::afWAV, 0, startSec, endSec)); }();
            const QByteArray bytes = ReadAll(dest).mid(44);
            std::vector<int16_t> left(size_t(bytes.size() / 4));
            for (size_t i = 0; i < left.size(); ++i)
                left[i] = qFromLittleEndian<qint16>(bytes.constData() + i * 4);
            return left;
        };
        const qint64 frame = static_cast<qint64>(std::floor(startSec * 44100 + 1e-7));
        const std::vector<int16_t> pcm = rangeOf(CodecPath(codecs::AllCodecs().first()), "frame-pcm.wav");
        const std::vector<int16_t> other = rangeOf(source, "frame-other.wav");
        QCOMPARE(other.size(), pcm.size());
        QCOMPARE(qint64(pcm.size()), static_cast<qint64>(std::floor(endSec * 44100 + 1e-7)) - frame);
        if (codec.contains("adpcm")) {
            // The lag (frames) at which the ADPCM range agrees best with the PCM range.
            int bestLag = 99;
            double best = 1e300;
            for (int lag = -3; lag <= 3; ++lag) {
                double sum = 0;
                for (size_t i = 8; i + 8 < pcm.size(); ++i)
                    sum += std::pow(double(other[i]) - double(pcm[size_t(qint64(i) + lag)]), 2);
                if (sum < best) {
                    best = sum;
                    bestLag = lag;
                }
            }
            QCOMPARE(bestLag, 0);
        } else {
            const TDecoded straight = DecodeAll(source);
            QVERIFY(straight.ok);
            for (size_t i = 0; i < other.size(); ++i)
                if (other[i] != straight.pcm[size_t(frame + qint64(i)) * 2])
                    QFAIL(qPrintable(QString("frame %1 of the range differs from the straight decode").arg(i)));
        }
    }

    void emptyRangeGivesFalseAndNoFile_data()
    {
        QTest::addColumn<double>("startSec");
        QTest::addColumn<double>("endSec");
        QTest::addRow("start beyond the end") << 40.0 << 0.0;
        QTest::addRow("end before start") << 20.0 << 10.0;
        QTest::addRow("start = end") << 10.0 << 10.0;
        QTest::addRow("less than one frame") << 10.0 << 10.00001;
    }
    void emptyRangeGivesFalseAndNoFile()
    {
        QFETCH(double, startSec);
        QFETCH(double, endSec);
        TAudioEngine engine;
        LoadOrFail(engine, FStereo);
        for (TAudioFormat f : {TAudioFormat::afWAV, TAudioFormat::afMP3}) {
            const QString dest = Path(QString("empty%1").arg(FormatExt(f)));
            QVERIFY(!Export(engine, dest, f, 128, startSec, endSec));
            QVERIFY(!QFile::exists(dest));
        }
    }

    void monoWavHasOneChannelHeader()
    {
        TAudioEngine engine;
        LoadOrFail(engine, FMono);
        QVERIFY(Export(engine, Path("mono-out.wav"), TAudioFormat::afWAV, 0, 0, 0));
        const QByteArray out = ReadAll(Path("mono-out.wav"));
        QCOMPARE(LE(out, 22, 2), 1u);
        QCOMPARE(LE(out, 24, 4), 8000u);
        QCOMPARE(LE(out, 28, 4), 16000u);
        QCOMPARE(LE(out, 32, 2), 2u);
        QCOMPARE(LE(out, 40, 4), 12u * 16000);
        QVERIFY(out.mid(44) == ReadAll(FMono).mid(44));
    }

    // A range whose 16-bit data would not fit the WAV size fields is refused before any file exists; a
    // shorter range of the same recording is written. The recording is 8-bit (decoded to twice its size)
    // and sparse, so it takes no disk.
    void wavRangeTooLongForTheSizeFieldsIsRefused()
    {
        const QString source = Path("huge-u8.wav");
        const quint32 data = 2200000000u;  // 8 kHz mono u8: 76 hours, 4.4 GB as 16-bit
        QByteArray h = WavHeader(8000, 1, data);
        h[28] = char(0x40); h[29] = char(0x1F); h[30] = 0; h[31] = 0;  // 8000 bytes per second
        h[32] = 1;                                                     // one byte per frame
        h[34] = 8;                                                     // bits per sample
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(h) == 44 && f.resize(44 + qint64(data)));
        }
        TAudioEngine engine;
        LoadOrFail(engine, source);
        QVERIFY(!Export(engine, Path("huge.wav"), TAudioFormat::afWAV, 0, 0, 0));
        QVERIFY(!QFile::exists(Path("huge.wav")));
        QVERIFY(Export(engine, Path("huge-part.wav"), TAudioFormat::afWAV, 0, 3600, 3610));
        QCOMPARE(QFileInfo(Path("huge-part.wav")).size(), qint64(44 + 10 * 8000 * 2));
        QFile::remove(source);
    }

    // Cancelled at the first report: one block in the file, sizes that say so, and still a success.
    void cancelAtTheFirstReportKeepsOneBlock()
    {
        TAudioEngine engine;
        LoadOrFail(engine, FStereo);
        QList<int> reports;
        QVERIFY(Export(engine, Path("cancelled.wav"), TAudioFormat::afWAV, 0, 0, 0, [&](int APercent) {
            reports << APercent;
            return false;
        }));
        QCOMPARE(reports.size(), 1);
        const QByteArray out = ReadAll(Path("cancelled.wav"));
        QCOMPARE(qint64(out.size()), ExportBlockBytes + 44);
        QCOMPARE(qint64(LE(out, 4, 4)), ExportBlockBytes + 36);
        QCOMPARE(qint64(LE(out, 40, 4)), ExportBlockBytes);
        QCOMPARE(FLast.Seconds, ExportBlockBytes / (44100.0 * 4));
        QVERIFY(!FLast.EndedEarly);  // a cancel is no early end of the recording
    }

    // An export onto a file that exists replaces it only when complete: cancelled or failing on a full disk,
    // the old file stays byte for byte (and no temporary is left beside it); complete, the new file takes
    // its place with its permissions, also through a symbolic link that names it.
    void anExistingFileIsReplacedOnlyByACompleteExport_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<QString>("how");  // "complete", "cancelled", "full disk", "through a link"
        for (TAudioFormat f : {TAudioFormat::afWAV, TAudioFormat::afMP3, TAudioFormat::afOGG, TAudioFormat::afOPUS}) {
            for (const char *how : {"complete", "cancelled", "full disk"})
                QTest::addRow("%s, %s", FormatName(f), how) << f << QString(how);
        }
        QTest::addRow("wav, through a link") << TAudioFormat::afWAV << "through a link";
    }
    void anExistingFileIsReplacedOnlyByACompleteExport()
    {
        QFETCH(TAudioFormat, format);
        QFETCH(QString, how);
        const QString dir = Path(QString("replace-%1-%2").arg(FormatName(format), how).replace(' ', '-'));
        QVERIFY(QDir().mkpath(dir));
        std::unique_ptr<TSmallDisk> disk;
        if (how == "full disk") {
            disk = std::make_unique<TSmallDisk>(dir, "size=200k");
            if (!disk->mounted)
                QSKIP("cannot mount a small tmpfs here (needs root)");
        }
        const QString old = dir + "/old" + FormatExt(format);
        QByteArray oldBytes(60000, '\0');
        for (int i = 0; i < oldBytes.size(); ++i)
            oldBytes[i] = char(i * 7 + 3);
        {
            QFile f(old);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(oldBytes) == oldBytes.size());
        }
        QVERIFY(QFile::setPermissions(old, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QString dest = old;
        if (how == "through a link") {
            dest = Path("link-to-old.wav");
            QFile::remove(dest);
            QVERIFY(QFile::link(old, dest));
        }
        TAudioEngine engine;
        LoadOrFail(engine, FStereo);
        bool result = false;
        QString raised;
        try {
            result = Export(engine, dest, format, 128, 0, 0,
                            [&](int APercent) { return how != "cancelled" || APercent < 30; });
        } catch (const EReaderError &e) {
            raised = e.Message();
        }
        // Only the target is left in its folder: no temporary, no second file.
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(old).fileName()});
        if (how == "complete" || how == "through a link") {
            QVERIFY2(result && raised.isEmpty(), qPrintable(raised));
            const TDecoded d = DecodeAll(old);
            QVERIFY(d.ok);
            QVERIFY2(std::abs(d.Seconds() - 30.0) < 0.1, qPrintable(QString::number(d.Seconds())));
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(old).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 07777, mode_t(0640));
            if (how == "through a link")
                QVERIFY(QFileInfo(dest).isSymLink());
            return;
        }
        QCOMPARE(ReadAll(old), oldBytes);
        if (how == "cancelled") {
            QVERIFY(result);  // audio went through; the caller knows it cancelled
        } else if (format == TAudioFormat::afWAV) {
            QCOMPARE(raised, QString("Stream write error"));
        } else {
            QVERIFY2(raised.isEmpty(), qPrintable(raised));
            QVERIFY(!result);
            // The cause is named, not only logged.
            QVERIFY2(FLast.Detail.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                     qPrintable(FLast.Detail));
        }
    }

    // A recording whose decoding ends early (a FLAC file cut off: its header announces 30 s): the export
    // writes what decodes and no silent tail, the WAV sizes match, and the engine tells the shorter length.
    // The waveform pass still covers the announced length.
    void recordingThatEndsEarlyExportsWhatDecodes_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<double>("startSec");  // negative: seconds before the end of what decodes
        QTest::addColumn<double>("endSec");    // the same; 0 = the end
        QTest::addColumn<bool>("result");
        QTest::addColumn<double>("seconds");   // written; negative: all that decodes from the start
        QTest::addColumn<bool>("early");
        QTest::addRow("WAV, whole") << TAudioFormat::afWAV << 0.0 << 0.0 << true << -1.0 << true;
        QTest::addRow("WAV, range across the end of the data") << TAudioFormat::afWAV << -2.0 << 29.0 << true << 2.0
                                                               << true;
        QTest::addRow("WAV, range inside the data") << TAudioFormat::afWAV << 1.0 << 4.0 << true << 3.0 << false;
        QTest::addRow("WAV, range after the data") << TAudioFormat::afWAV << 29.0 << 29.5 << false << 0.0 << true;
        QTest::addRow("MP3, whole") << TAudioFormat::afMP3 << 0.0 << 0.0 << true << -1.0 << true;
    }
    void recordingThatEndsEarlyExportsWhatDecodes()
    {
        QFETCH(TAudioFormat, format);
        QFETCH(double, startSec);
        QFETCH(double, endSec);
        QFETCH(bool, result);
        QFETCH(double, seconds);
        QFETCH(bool, early);
        if (startSec < 0)
            startSec += FCutSeconds;
        if (seconds < 0)
            seconds = FCutSeconds - startSec;
        TAudioEngine engine;
        LoadOrFail(engine, FCutFlac);
        QCOMPARE(engine.DurationSec(), 30.0);
        const QString dest = Path(QString("from-cut") + FormatExt(format));
        QList<int> reports;
        QCOMPARE(Export(engine, dest, format, 128, startSec, endSec, [&](int APercent) {
            reports << APercent;
            return true;
        }),
                 result);
        QVERIFY2(qAbs(FLast.Seconds - seconds) < 1e-6, qPrintable(QString::number(FLast.Seconds)));
        QCOMPARE(FLast.EndedEarly, early);
        if (!result)
            return;
        if (format == TAudioFormat::afWAV) {
            const QByteArray out = ReadAll(dest);
            const qint64 C = std::llround(seconds * 44100) * 4;
            QCOMPARE(qint64(out.size()), C + 44);
            QCOMPARE(qint64(LE(out, 4, 4)), C + 36);
            QCOMPARE(qint64(LE(out, 40, 4)), C);
            const qint64 start = static_cast<qint64>(std::floor(startSec * 44100 + 1e-7)) * 4;
            QVERIFY(out.mid(44) == ReadAll(FStereo).mid(44 + start, C));  // lossless: the source's samples
        } else {
            const TDecoded d = DecodeAll(dest);
            QVERIFY2(std::abs(d.Seconds() - seconds) < 0.1, qPrintable(QString::number(d.Seconds())));
        }
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last() == 100, !early);
    }

    // Every encoded file decoded back through our own decoding stream: format, length, bitrate, and
    // the bursts where the source has them.
    void encodedExportDecodesBackToTheSource_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<int>("kbps");
        QTest::addColumn<double>("startSec");
        QTest::addColumn<double>("endSec");
        QTest::addColumn<int>("rate");      // expected rate of the file
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("slack");  // one codec frame plus the codec's delay, in seconds
        const double mp3 = (1152 + 1105) / 44100.0, ogg = 2048 / 44100.0, opus = (960 + 312) / 48000.0;
        QTest::addRow("MP3 128, 10 s to 20 s") << FStereo << TAudioFormat::afMP3 << 128 << 10.0 << 20.0 << 44100 << 2
                                               << mp3;
        QTest::addRow("MP3 320, whole") << FStereo << TAudioFormat::afMP3 << 320 << 0.0 << 0.0 << 44100 << 2 << mp3;
        QTest::addRow("OGG 96, 10 s to 20 s") << FStereo << TAudioFormat::afOGG << 96 << 10.0 << 20.0 << 44100 << 2
                                              << ogg;
        QTest::addRow("OGG 64, whole") << FStereo << TAudioFormat::afOGG << 64 << 0.0 << 0.0 << 44100 << 2 << ogg;
        QTest::addRow("Opus 64, 10 s to 20 s") << FStereo << TAudioFormat::afOPUS << 64 << 10.0 << 20.0 << 48000 << 2
                                               << opus;
        QTest::addRow("Opus 96, whole") << FStereo << TAudioFormat::afOPUS << 96 << 0.0 << 0.0 << 48000 << 2 << opus;
        QTest::addRow("MP3 32, 8 kHz mono") << FMono << TAudioFormat::afMP3 << 32 << 0.0 << 0.0 << 8000 << 1
                                            << (576 + 1105) / 8000.0;
        QTest::addRow("Opus 24, 8 kHz mono") << FMono << TAudioFormat::afOPUS << 24 << 0.0 << 0.0 << 48000 << 1 << opus;
    }
    void encodedExportDecodesBackToTheSource()
    {
        QFETCH(QString, source);
        QFETCH(TAudioFormat, format);
        QFETCH(int, kbps);
        QFETCH(double, startSec);
        QFETCH(double, endSec);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(double, slack);
        TAudioEngine engine;
        LoadOrFail(engine, source);
        const double from = startSec;
        const double to = endSec > 0 ? endSec : engine.DurationSec();
        const QString dest = Path(QString("enc-%1-%2%3").arg(kbps).arg(from).arg(FormatExt(format)));
        QVERIFY(Export(engine, dest, format, kbps, startSec, endSec));
        const TDecoded d = DecodeAll(dest);
        QVERIFY(d.ok);
        QCOMPARE(d.rate, rate);
        QCOMPARE(d.channels, channels);
        const double length = to - from;
        QVERIFY2(std::abs(d.Seconds() - length) <= slack,
                 qPrintable(QString("decoded %1 s of %2 s").arg(d.Seconds()).arg(length)));
        const double bitrate = QFileInfo(dest).size() * 8.0 / length / 1000.0;
        QVERIFY2(std::abs(bitrate - kbps) <= 0.15 * kbps, qPrintable(QString("%1 kbit/s").arg(bitrate)));
        const std::vector<double> want = ExpectedOnsets(from, to);
        const std::vector<double> got = FindOnsets(d);
        QCOMPARE(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            QVERIFY2(std::abs(got[i] - want[i]) < 0.03, qPrintable(QString("burst at %1 s, source %2 s")
                                                                       .arg(got[i]).arg(want[i])));
    }

    // Targets that cannot take the export: the WAV writer raises its error, the encoders answer false,
    // nothing is claimed, and the recording stays as it was.
    void unwritableTargetsAreNeverASuccess_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("error");  // raised message, begins with; empty: none raised
        for (TAudioFormat f : {TAudioFormat::afWAV, TAudioFormat::afMP3, TAudioFormat::afOGG, TAudioFormat::afOPUS}) {
            const bool wav = f == TAudioFormat::afWAV;
            const char *n = FormatName(f);
            QTest::addRow("%s, missing folder", n) << f << "missing" << (wav ? "Cannot create file" : "");
            QTest::addRow("%s, read-only folder", n) << f << "read-only" << (wav ? "Cannot create file" : "");
            QTest::addRow("%s, full disk", n) << f << "full" << (wav ? "Stream write error" : "");
            QTest::addRow("%s, the recording itself", n) << f << "source" << "";
            QTest::addRow("%s, symbolic link to the recording", n) << f << "symlink" << "";
            QTest::addRow("%s, hard link to the recording", n) << f << "hardlink" << "";
        }
    }
    void unwritableTargetsAreNeverASuccess()
    {
        QFETCH(TAudioFormat, format);
        QFETCH(QString, target);
        QFETCH(QString, error);
        const QString source = Path("victim.wav");
        if (!QFile::exists(source))
            QVERIFY(QFile::copy(FStereo, source));
        const QByteArray before = Sha(source);
        const QString tag = QString("%1-%2").arg(target).arg(static_cast<int>(format));
        std::unique_ptr<TSmallDisk> disk;
        QString dest;
        if (target == "missing") {
            dest = Path("no-such-folder/out" + QString(FormatExt(format)));
        } else if (target == "read-only" || target == "full") {
            QDir().mkpath(Path(tag));
            disk = std::make_unique<TSmallDisk>(Path(tag), "size=200k", target == "full" ? 0 : MS_RDONLY);
            if (!disk->mounted)
                QSKIP("cannot mount a small tmpfs here (needs root)");
            dest = Path(tag) + "/out" + FormatExt(format);
        } else if (target == "source") {
            dest = source;
        } else if (target == "symlink") {
            dest = Path(tag + ".wav");
            QVERIFY(QFile::link(source, dest));
        } else {
            dest = Path(tag + ".wav");
            QVERIFY(::link(QFile::encodeName(source).constData(), QFile::encodeName(dest).constData()) == 0);
        }
        TAudioEngine engine;
        LoadOrFail(engine, source);
        bool result = true;
        QString raised;
        try {
            result = Export(engine, dest, format, 128, 0, 0);
        } catch (const EReaderError &e) {
            raised = e.Message();
        }
        if (error.isEmpty()) {
            QVERIFY2(raised.isEmpty(), qPrintable(raised));
            QVERIFY(!result);
        } else {
            QVERIFY2(raised.startsWith(error), qPrintable(raised));
            if (error.startsWith("Cannot"))
                QVERIFY2(raised.contains('"' + dest + "\". "), qPrintable(raised));
        }
        if (target == "missing" || target == "read-only" || target == "full")
            QVERIFY(!QFile::exists(dest));
        if (target == "full") {
            // A failed export leaves nothing behind, not even its temporary.
            QCOMPARE(QDir(Path(tag)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
            if (error.isEmpty())
                QVERIFY2(FLast.Detail.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                         qPrintable(FLast.Detail));
        }
        QCOMPARE(Sha(source), before);
    }

    // A normalised export lands at its target in every format, read by FFmpeg's own meter on the written
    // file, and the outcome names what that file reads. Noise reaching to the top of the band: an MP3
    // encoder's low-pass takes energy the loudness counts, so only measuring what it wrote lands it.
    void normalisedExportLandsAtItsTarget_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("target");
        QTest::addColumn<bool>("peaky");  // short full-scale clicks: the true peak must hold the gain back
        for (int f = 0; f < AudioFormatCount; ++f)
            for (double target : {-23.0, -16.0})
                QTest::addRow("%s at %g", FormatNames[f], target) << f << target << false;
        QTest::addRow("wav with clicks") << int(TAudioFormat::afWAV) << -16.0 << true;
        QTest::addRow("mp3 with clicks") << int(TAudioFormat::afMP3) << -16.0 << true;
    }
    void normalisedExportLandsAtItsTarget()
    {
        QFETCH(int, format);
        QFETCH(double, target);
        QFETCH(bool, peaky);
        // 20 s of white noise and a tone (about -30 LUFS); with clicks, a 1 ms burst near full scale every 2 s.
        const QString src = Path(peaky ? "norm-clicks.wav" : "norm-noise.wav");
        const QString clicks = peaky ? "+0.85*lt(mod(t\\,2)\\,0.001)*sin(2*PI*2000*t)" : "";
        if (!QFile::exists(src))
            QVERIFY(Ffmpeg({"-f", "lavfi", "-i",
                            QStringLiteral("aevalsrc=exprs='0.04*(random(0)-0.5)+0.02*sin(2*PI*1000*t)%1|"
                                           "0.04*(random(1)-0.5)+0.02*sin(2*PI*700*t)%1':s=44100:d=20").arg(clicks),
                            "-c:a", "pcm_s16le", src}));
        const auto fmt = static_cast<TAudioFormat>(format);
        const QString out = Path(QStringLiteral("norm-%1.%2").arg(QTest::currentDataTag()).arg(FormatNames[format]))
                                .replace(' ', '_');
        QVector<int> reports;
        QVERIFY(ExportFile(src, out, fmt, 128, 0, 0, [&reports](int APercent) {
            reports << APercent;
            return true;
        }, target));
        const TExportOutcome outcome = FLast;
        QVERIFY(std::adjacent_find(reports.begin(), reports.end(), std::greater_equal<int>()) == reports.end());
        QCOMPARE(reports.last(), 100);
        const double read = FfmpegIntegratedLufs(out);
        QVERIFY2(std::isfinite(read), "FFmpeg's meter gave no figure");
        QVERIFY2(std::fabs(outcome.LoudnessLufs - read) <= 0.1,
                 qPrintable(QStringLiteral("outcome %1, FFmpeg reads %2").arg(outcome.LoudnessLufs).arg(read)));
        QCOMPARE(outcome.GainLowered, peaky);
        const double expected = peaky ? outcome.LoudnessLufs : target;
        if (peaky)
            QVERIFY(outcome.LoudnessLufs < target - 0.5);
        QVERIFY2(std::fabs(read - expected) <= 0.5, qPrintable(QStringLiteral("%1 for %2").arg(read).arg(expected)));
        const TLoudnessResult again = MeasureFileRange(out, 0, 0, {});
        QVERIFY2(again.TruePeakDbtp <= ExportPeakCeilingDbtp, qPrintable(QString::number(again.TruePeakDbtp)));
    }

    // The companion command: a line per report, the result, and the exit code that goes with it.
    void toolExportReportsProgressAndResult()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        if (tool.isEmpty() || !QFile::exists(tool))
            QSKIP("VORNAK_TOOL is not set");
        QProcess p;
        p.start(tool, {"export", FMono, Path("tool.ogg"), "--format", "ogg", "--bitrate", "48", "--start", "2",
                       "--end", "8"});
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(p.exitCode() == 0, qPrintable(out + QString::fromUtf8(p.readAllStandardError())));
        QVERIFY2(out.startsWith("progress="), qPrintable(out));
        QVERIFY2(out.endsWith("progress=100\nresult=true\n"), qPrintable(out));
        const TDecoded d = DecodeAll(Path("tool.ogg"));
        QVERIFY(std::abs(d.Seconds() - 6.0) < 0.05);

        // A recording that ends early: one more line names the length written.
        if (!FCutFlac.isEmpty()) {
            p.start(tool, {"export", FCutFlac, Path("tool-cut.wav"), "--format", "wav"});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            const QString cutOut = QString::fromUtf8(p.readAllStandardOutput());
            QVERIFY2(cutOut.endsWith(QString("result=true\ndecoded=%1\n").arg(FCutSeconds, 0, 'f', 3)),
                     qPrintable(cutOut));
        }

        p.start(tool, {"export", FMono, Path("no-such-folder/x.wav"), "--format", "wav"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("Cannot create file"));

        p.start(tool, {"export", FMono, Path("x.mp3"), "--format", "flac"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestAudioExport)
#include "tst_uAudioExport.moc"
