// Export records: every key and checksum of a record, what a check of clip and recording finds after a
// change, re-export identity for WAV, nothing left when the record cannot be written, and the checksum line
// accepted by sha256sum; the same through vornak-tool export --record and verify.
#include "ExportFixtures.h"
#include "uEvidence.h"

#include <QtTest>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

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

    TEvidenceExport Job(const QString &ASource, const QString &ADest, TAudioFormat AFmt = TAudioFormat::afWAV)
    {
        TEvidenceExport job;
        job.Source = ASource;
        job.DurationSec = 12;
        job.Dest = ADest;
        job.Format = AFmt;
        job.Bitrate = 64;
        job.StartSec = 2.5;
        job.EndSec = 7.25;
        job.Recording = &FRec;
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
        QString recordPath;
        TExportOutcome outcome;
        QVERIFY(ExportWithRecord(Job(FSource, clip, format), {}, &outcome, &recordPath));
        QCOMPARE(recordPath, clip + ".json");
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
        QVERIFY(ExportWithRecord(Job(src, out), {}, nullptr, nullptr));
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
        QVERIFY(ExportWithRecord(Job(FSource, out, format), {}, nullptr, nullptr));
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
        TExportOutcome outcome;
        QVERIFY(!ExportWithRecord(Job(FSource, out), {}, &outcome, nullptr));
        QVERIFY(!outcome.Error.isEmpty());
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
        TExportOutcome outcome;
        QVERIFY(!ExportWithRecord(Job(src, dest), {}, &outcome, nullptr));
        QCOMPARE(FileSha(src), before);
        QVERIFY(!QFile::exists(dest + ".json"));
    }

    void cancelledExportKeepsNothing()
    {
        QTemporaryDir dir;
        QVERIFY(!ExportWithRecord(Job(FSource, dir.filePath("clip.wav")), [](int) { return false; }, nullptr, nullptr));
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

QTEST_GUILESS_MAIN(TestuEvidence)
#include "tst_uEvidence.moc"
