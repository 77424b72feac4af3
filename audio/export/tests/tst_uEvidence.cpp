// Export records: every key and checksum of a record, what a check of clip and recording finds after a
// change, re-export identity for WAV, nothing left when the record cannot be written, and the checksum line
// accepted by sha256sum; the same through vornak-tool export --record and verify.
#include "ExportFixtures.h"
#include "TestMain.h"
#include "uEvidence.h"
#include "uEvidenceCheck.h"
#include "uExportPipeline.h"

#include <QTest>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

QByteArray FileSha(const QString &APath)
{
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

QJsonObject ReadJson(const QString &APath)
{
    QFile f(APath);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

void FlipByte(const QString &APath, qint64 AAt)
{
    QFile f(APath);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(AAt);
    char c = 0;
    f.getChar(&c);
    f.seek(AAt);
    f.putChar(char(c ^ 0x01));
}

struct TRun {
    int Code = -1;
    QString Out;
};

TRun RunTool(const QStringList &AArgs, const QString &ADir = QString())
{
    QProcess p;
    if (!ADir.isEmpty())
        p.setWorkingDirectory(ADir);
    p.start(qEnvironmentVariable("VORNAK_TOOL"), AArgs);
    TRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    return r;
}

QStringList Visible(const QString &ADir)
{
    return QDir(ADir).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestuEvidence : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QString FSource;  // 12 s, 8 kHz stereo WAV
    TRecInfo FRec;

    QString Path(const QString &AName) const { return FDir.filePath(AName); }

    TExportRequest Job(const QString &ASource, const QString &ADest, TAudioFormat AFmt = TAudioFormat::afWAV)
    {
        TExportRequest job;
        job.Source = ASource;
        job.Path = ADest;
        job.Format = AFmt;
        job.Bitrate = 64;
        job.StartSec = 2.5;
        job.EndSec = 7.25;
        job.EvidenceRecord = true;
        job.Recording = FRec;
        job.ProgramName = QStringLiteral("test");
        return job;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FSource = Path("10122026093.wav");
        fixtures::WriteBurstWav(FSource, 8000, 2, 12);
        FRec.Id = 812;
        FRec.RecDate = QStringLiteral("2026-12-10");
        FRec.RecHour = 9;
        FRec.RecNumber = 3;
        FRec.FileName = QStringLiteral("10122026093.wav");
        FRec.Title = QStringLiteral("Melding \u00e9\u00e9n");
        FRec.Persons = QStringLiteral("de Vries\r\nJansen");
    }

    void recordHoldsEveryKeyAndChecksum_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        QTest::addRow("wav") << TAudioFormat::afWAV;
        QTest::addRow("mp3") << TAudioFormat::afMP3;
    }
    void recordHoldsEveryKeyAndChecksum()
    {
        QFETCH(TAudioFormat, format);
        const QString clip = Path(QStringLiteral("clip") + QLatin1String(FormatExt(format)));
        const TExportOutcome outcome = ExportRecording(Job(FSource, clip, format));
        QVERIFY(outcome.Done());
        const QString recordPath = outcome.RecordPath;
        QCOMPARE(recordPath, clip + ".json");
        QCOMPARE(outcome.ChecksumPath, clip + ".sha256");
        const QJsonObject rec = ReadJson(recordPath);
        QCOMPARE(QStringList(rec.keys()), (QStringList{"clip", "exported_utc", "host", "program", "range",
                                                        "recording", "source", "user"}));

        const QJsonObject c = rec["clip"].toObject();
        QCOMPARE(QStringList(c.keys()), (QStringList{"bitrate_kbps", "bytes", "file", "format", "loudness_target_lufs", "seconds",
                                                     "sha256"}));
        QVERIFY(c["loudness_target_lufs"].isNull());  // samples unchanged
        QCOMPARE(c["file"].toString(), QFileInfo(clip).fileName());
        QCOMPARE(c["sha256"].toString().toLatin1(), FileSha(clip));
        QCOMPARE(qint64(c["bytes"].toDouble()), QFileInfo(clip).size());
        QCOMPARE(c["format"].toString(), QLatin1String(FormatName(format)));
        if (format == TAudioFormat::afWAV)
            QVERIFY(c["bitrate_kbps"].isNull());
        else
            QCOMPARE(c["bitrate_kbps"].toInt(), 64);
        QCOMPARE(c["seconds"].toDouble(), 4.75);

        const QJsonObject s = rec["source"].toObject();
        QCOMPARE(QStringList(s.keys()), (QStringList{"bytes", "catalogue_id", "file_name", "modified_utc", "path", "sha256"}));
        QCOMPARE(s["catalogue_id"].toInt(), 812);
        QCOMPARE(s["file_name"].toString(), QStringLiteral("10122026093.wav"));
        QCOMPARE(s["path"].toString(), QFileInfo(FSource).absoluteFilePath());
        QCOMPARE(s["sha256"].toString().toLatin1(), FileSha(FSource));
        QCOMPARE(qint64(s["bytes"].toDouble()), QFileInfo(FSource).size());
        QCOMPARE(s["modified_utc"].toString(),
                 QFileInfo(FSource).lastModified().toUTC().toString(Qt::ISODate));

        const QJsonObject r = rec["recording"].toObject();
        QCOMPARE(r["date"].toString(), FRec.RecDate);
        QCOMPARE(r["hour"].toInt(), 9);
        QCOMPARE(r["number"].toInt(), 3);
        QCOMPARE(r["title"].toString(), FRec.Title);
        QCOMPARE(r["persons"].toString(), FRec.Persons);

        const QJsonObject g = rec["range"].toObject();
        QCOMPARE(g["start_seconds"].toDouble(), 2.5);
        QCOMPARE(g["end_seconds"].toDouble(), 7.25);
        QCOMPARE(g["start_text"].toString(), QStringLiteral("00:02.500"));
        QCOMPARE(g["end_text"].toString(), QStringLiteral("00:07.250"));

        const QDateTime when = QDateTime::fromString(rec["exported_utc"].toString(), Qt::ISODate);
        QVERIFY(rec["exported_utc"].toString().endsWith(QLatin1Char('Z')));
        QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTimeUtc())) < 120);
        QVERIFY(!rec["host"].toString().isEmpty());
        QVERIFY(!rec["user"].toString().isEmpty());
        const QJsonObject p = rec["program"].toObject();
        QCOMPARE(p["name"].toString(), QStringLiteral("test"));
        QVERIFY(!p["version"].toString().isEmpty());
        QCOMPARE(p["libraries"].toString(), EvidenceLibrariesText());

        QFile sum(clip + ".sha256");
        QVERIFY(sum.open(QIODevice::ReadOnly));
        QCOMPARE(sum.readAll(), FileSha(clip) + "  " + QFileInfo(clip).fileName().toUtf8() + "\n");
        // The receiver's check with no program of ours.
        QProcess check;
        check.setWorkingDirectory(FDir.path());
        check.start(QStringLiteral("sha256sum"), {QStringLiteral("-c"), QFileInfo(clip).fileName() + ".sha256"});
        QVERIFY(check.waitForFinished());
        QCOMPARE(check.exitCode(), 0);
    }

    void checkFindsWhatChanged_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("clip");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("reexport");
        using C = TEvidenceCheck;
        QTest::addRow("nothing changed: WAV re-exports identical")
            << "" << int(C::TClip::Ok) << int(C::TSource::Ok) << int(C::TReexport::Identical);
        QTest::addRow("byte flipped in the clip")
            << "clip" << int(C::TClip::Altered) << int(C::TSource::Ok) << int(C::TReexport::Identical);
        QTest::addRow("byte flipped in the recording")
            << "source" << int(C::TClip::Ok) << int(C::TSource::Altered) << int(C::TReexport::Skipped);
        QTest::addRow("recording removed")
            << "remove" << int(C::TClip::Ok) << int(C::TSource::Unreachable) << int(C::TReexport::Skipped);
        QTest::addRow("recording moved into its day folder under the root")
            << "move" << int(C::TClip::Ok) << int(C::TSource::Ok) << int(C::TReexport::Identical);
    }
    void checkFindsWhatChanged()
    {
        QFETCH(QString, change);
        QFETCH(int, clip);
        QFETCH(int, source);
        QFETCH(int, reexport);
        QTemporaryDir dir;
        const QString src = dir.filePath("10122026093.wav");
        QVERIFY(QFile::copy(FSource, src));
        const QString out = dir.filePath("out/clip.wav");
        QVERIFY(QDir().mkpath(dir.filePath("out")));
        QVERIFY(ExportRecording(Job(src, out)).Done());
        const QString root = dir.filePath("root");
        if (change == "clip")
            FlipByte(out, 100);
        else if (change == "source")
            FlipByte(src, 5000);
        else if (change == "remove")
            QVERIFY(QFile::remove(src));
        else if (change == "move") {
            QVERIFY(QDir().mkpath(root + "/2026/12/10"));
            QVERIFY(QFile::rename(src, root + "/2026/12/10/10122026093.wav"));
        }
        TEvidenceCheck check;
        QString error;
        QVERIFY(CheckEvidenceRecord(out + ".json", root, check, error));
        QCOMPARE(int(check.Clip), clip);
        QCOMPARE(int(check.Source), source);
        QCOMPARE(int(check.Reexport), reexport);
        QCOMPARE(check.Sound(), change.isEmpty() || change == "move" || change == "remove");
    }

    // The Ogg muxer's random stream serial once made OGG and Opus differ on every export.
    void everyFormatReexportsIdentical_data()
    {
        QTest::addColumn<TAudioFormat>("format");
        for (int f = 0; f < AudioFormatCount; ++f)
            QTest::addRow("%s", FormatNames[f]) << TAudioFormat(f);
    }
    void everyFormatReexportsIdentical()
    {
        QFETCH(TAudioFormat, format);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("clip") + QLatin1String(FormatExt(format)));
        QVERIFY(ExportRecording(Job(FSource, out, format)).Done());
        TEvidenceCheck check;
        QString error;
        QVERIFY(CheckEvidenceRecord(out + ".json", QString(), check, error));
        QCOMPARE(int(check.Reexport), int(TEvidenceCheck::TReexport::Identical));
    }

    void recordThatCannotBeWrittenLeavesNothing_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addRow("new clip") << false;
        QTest::addRow("clip that existed stays as it was") << true;
    }
    void recordThatCannotBeWrittenLeavesNothing()
    {
        QFETCH(bool, existing);
        QTemporaryDir dir;
        const QString out = dir.filePath("clip.wav");
        if (existing) {
            QFile f(out);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QVERIFY(QDir().mkdir(out + ".json"));  // a folder where the record should go
        const TExportOutcome outcome = ExportRecording(Job(FSource, out));
        QCOMPARE(int(outcome.Result), int(TExportResult::Failed));
        QVERIFY(!outcome.Detail.isEmpty());
        QStringList expected{"clip.wav.json"};
        if (existing)
            expected.prepend("clip.wav");
        QCOMPARE(Visible(dir.path()), expected);
        if (existing) {
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("old"));
        }
    }

    void exportOntoTheRecordingItselfIsRefused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addRow("the same name") << "same";
        QTest::addRow("a symbolic link to it") << "symlink";
        QTest::addRow("a hard link to it") << "hardlink";
    }
    void exportOntoTheRecordingItselfIsRefused()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString src = dir.filePath("rec.wav");
        QVERIFY(QFile::copy(FSource, src));
        const QByteArray before = FileSha(src);
        QString dest = src;
        if (how == "symlink")
            QVERIFY(QFile::link(src, dest = dir.filePath("link.wav")));
        else if (how == "hardlink")
            QVERIFY(::link(QFile::encodeName(src).constData(), QFile::encodeName(dest = dir.filePath("hard.wav")).constData()) == 0);
        const TExportOutcome outcome = ExportRecording(Job(src, dest));
        QCOMPARE(int(outcome.Result), int(TExportResult::Failed));
        QCOMPARE(FileSha(src), before);
        QVERIFY(!QFile::exists(dest + ".json"));
    }

    void cancelledExportKeepsNothing()
    {
        QTemporaryDir dir;
        const TExportOutcome outcome = ExportRecording(Job(FSource, dir.filePath("clip.wav")), {[](int) { return false; }});
        QCOMPARE(int(outcome.Result), int(TExportResult::Cancelled));
        QCOMPARE(Visible(dir.path()), QStringList());
    }

    // The cancel flag a caller on another thread sets (a web client that went away): the export stops at its
    // next block and keeps nothing, set before the start or while it runs.
    void cancelFlagStopsTheExport_data()
    {
        QTest::addColumn<bool>("record");
        QTest::addColumn<int>("setAt");  // the progress at which the flag is set; -1 before the start
        QTest::addRow("plain, set before the start") << false << -1;
        QTest::addRow("with record, set before the start") << true << -1;
        QTest::addRow("with record, set while it runs") << true << 1;
    }
    void cancelFlagStopsTheExport()
    {
        QFETCH(bool, record);
        QFETCH(int, setAt);
        QTemporaryDir dir;
        TExportRequest request = Job(FSource, dir.filePath("clip.wav"));
        request.EvidenceRecord = record;
        request.StartSec = 0;
        request.EndSec = 0;
        std::atomic<bool> stop{setAt < 0};
        int last = -1;
        TExportControl control;
        control.Cancel = &stop;
        control.Progress = [&](int APercent) {
            last = APercent;
            if (APercent >= setAt && setAt >= 0)
                std::thread([&stop] { stop = true; }).join();
            return true;
        };
        const TExportOutcome outcome = ExportRecording(request, control);
        QCOMPARE(int(outcome.Result), int(TExportResult::Cancelled));
        QVERIFY2(last < 100, qPrintable(QString::number(last)));
        QCOMPARE(Visible(dir.path()), QStringList());
    }

    void toolWritesRecordAndVerifyReportsIt()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("part.wav");
        TRun r = RunTool({"export", FSource, out, "--format", "wav", "--start", "1", "--end", "3", "--record"});
        QCOMPARE(r.Code, 0);
        QVERIFY2(r.Out.endsWith("result=true\nrecord=" + out + ".json\n"), qPrintable(r.Out));
        const QJsonObject rec = ReadJson(out + ".json");
        QVERIFY(rec["recording"].isNull());
        QVERIFY(rec["source"].toObject()["catalogue_id"].isNull());
        QCOMPARE(rec["program"].toObject()["name"].toString(), QStringLiteral("vornak-tool"));

        r = RunTool({"verify", out + ".json"});
        QCOMPARE(r.Code, 0);
        QCOMPARE(r.Out, QStringLiteral("clip=ok\nsource=ok\nreexport=identical\n"));
        FlipByte(out, 60);
        r = RunTool({"verify", out + ".json"});
        QCOMPARE(r.Code, 4);
        QCOMPARE(r.Out, QStringLiteral("clip=altered\nsource=ok\nreexport=identical\n"));
        // Not a record, and bad arguments.
        QCOMPARE(RunTool({"verify", out}).Code, 1);
        QCOMPARE(RunTool({"verify", dir.filePath("none.json")}).Code, 1);
        QCOMPARE(RunTool({"verify"}).Code, 2);
        QCOMPARE(RunTool({"verify", out + ".json", "--root"}).Code, 2);
    }

    // verify's exit code: 0 only when the re-export proves the clip, 4 when anything is altered or differs,
    // 3 ("niet bewezen") when nothing is altered but no re-export could be compared.
    void verifyExitSaysWhatIsProven_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lines");
        QTest::addRow("nothing changed") << "" << 0 << "clip=ok\nsource=ok\nreexport=identical\n";
        QTest::addRow("libraries changed in the record")
            << "libraries" << 3 << "clip=ok\nsource=ok\nreexport=skipped\ndetail=andere bibliotheekversies";
        QTest::addRow("recording out of reach")
            << "remove" << 3 << "clip=ok\nsource=unreachable\nreexport=skipped\ndetail=opname niet bereikbaar\n";
        QTest::addRow("clip replaced, record made to match, libraries changed")
            << "replaced" << 4 << "clip=altered\nsource=ok\nreexport=skipped\n";
        QTest::addRow("clip, record and checksum line all made to match, libraries changed")
            << "replaced-all" << 3 << "clip=ok\nsource=ok\nreexport=skipped\n";
        QTest::addRow("checksum line names another file")
            << "line-name" << 4 << "clip=altered\nsource=ok\nreexport=identical\n";
        QTest::addRow("checksum line names another hash")
            << "line-hash" << 4 << "clip=altered\nsource=ok\nreexport=identical\n";
        QTest::addRow("byte flipped in the clip") << "clip" << 4 << "clip=altered\nsource=ok\nreexport=identical\n";
    }
    void verifyExitSaysWhatIsProven()
    {
        QFETCH(QString, change);
        QFETCH(int, code);
        QFETCH(QString, lines);
        QTemporaryDir dir;
        const QString src = dir.filePath("10122026093.wav");
        QVERIFY(QFile::copy(FSource, src));
        const QString out = dir.filePath("part.wav");
        QCOMPARE(RunTool({"export", src, out, "--format", "wav", "--start", "1", "--end", "3", "--record"}).Code, 0);
        QJsonObject rec = ReadJson(out + ".json");
        auto writeRecord = [&] {
            QFile f(out + ".json");
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QJsonDocument(rec).toJson());
        };
        auto writeLine = [&](const QByteArray &ALine) {
            QFile f(out + ".sha256");
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(ALine);
        };
        const QByteArray hash = FileSha(out);
        if (change == "libraries" || change.startsWith("replaced")) {
            QJsonObject program = rec["program"].toObject();
            program["libraries"] = QStringLiteral("FFmpeg 1.0");
            rec["program"] = program;
        }
        if (change.startsWith("replaced")) {
            // Another export in the clip's place, the record's checksum and size made to match it.
            const QString other = dir.filePath("other.wav");
            QCOMPARE(RunTool({"export", src, other, "--format", "wav", "--start", "4", "--end", "6"}).Code, 0);
            QVERIFY(QFile::remove(out));
            QVERIFY(QFile::rename(other, out));
            QJsonObject clip = rec["clip"].toObject();
            clip["sha256"] = QString::fromLatin1(FileSha(out));
            clip["bytes"] = double(QFileInfo(out).size());
            rec["clip"] = clip;
            if (change == "replaced-all")
                writeLine(FileSha(out) + "  part.wav\n");
        }
        writeRecord();
        if (change == "remove")
            QVERIFY(QFile::remove(src));
        else if (change == "line-name")
            writeLine(hash + "  other.wav\n");
        else if (change == "line-hash")
            writeLine(QByteArray(64, 'a') + "  part.wav\n");
        else if (change == "clip")
            FlipByte(out, 60);
        const TRun r = RunTool({"verify", out + ".json"});
        QVERIFY2(r.Out.startsWith(lines), qPrintable(r.Out));
        QCOMPARE(r.Code, code);
    }

    // A normalised clip names its target in the record, so the re-export normalises alike.
    void normalisedClipReexportsIdentical()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath("loud.wav");
        TRun r = RunTool({"export", FSource, out, "--format", "wav", "--loudness", "-23", "--record"});
        QCOMPARE(r.Code, 0);
        QVERIFY2(r.Out.contains("loudness_lufs="), qPrintable(r.Out));
        QCOMPARE(ReadJson(out + ".json")["clip"].toObject()["loudness_target_lufs"].toDouble(), -23.0);
        r = RunTool({"verify", out + ".json"});
        QCOMPARE(r.Out, QStringLiteral("clip=ok\nsource=ok\nreexport=identical\n"));
        QCOMPARE(r.Code, 0);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestuEvidence)
#include "tst_uEvidence.moc"
