// vornak-tool audit and export-found as scripts see them: the finding lines and the summary, exit codes,
// a catalogue and folders left exactly as they were, and exports that never overwrite or leave half files.
#include "CatalogueFixture.h"
#include "TestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>
#include <QTest>

#include <algorithm>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#include <utime.h>

using namespace fixture;

namespace {

// A 440 Hz tone as 16-bit PCM WAV; an amplitude beyond 32767 clips, 0 is digital silence.
void WriteToneWav(const QString &APath, double ASeconds, int ARate = 8000, int AChannels = 1, double AAmplitude = 8000)
{
    const qint64 frames = qint64(ASeconds * ARate);
    QByteArray data(int(frames * AChannels * 2), Qt::Uninitialized);
    auto *s = reinterpret_cast<qint16 *>(data.data());
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < AChannels; ++c)
            s[i * AChannels + c] =
                qint16(std::clamp(AAmplitude * std::sin(2 * M_PI * 440 * double(i) / ARate), -32768.0, 32767.0));
    QByteArray h("RIFF\0\0\0\0WAVEfmt ", 16);
    auto u32 = [&](quint32 AValue) { char b[4]; qToLittleEndian(AValue, b); h.append(b, 4); };
    auto u16 = [&](quint16 AValue) { char b[2]; qToLittleEndian(AValue, b); h.append(b, 2); };
    u32(16); u16(1); u16(quint16(AChannels)); u32(quint32(ARate)); u32(quint32(ARate * AChannels * 2));
    u16(quint16(AChannels * 2)); u16(16);
    h.append("data", 4);
    u32(quint32(data.size()));
    qToLittleEndian(quint32(h.size() - 8 + data.size()), h.data() + 4);
    QFile f(APath);
    QVERIFY(QDir().mkpath(QFileInfo(APath).path()));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(h + data);
}

// Whether process APid has APath open (one of its descriptors names it).
bool HoldsOpen(qint64 APid, const QString &APath)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(APid);
    const QString target = QFileInfo(APath).canonicalFilePath();
    for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}

void WriteBytes(const QString &APath, const QByteArray &ABytes)
{
    QVERIFY(QDir().mkpath(QFileInfo(APath).path()));
    QFile f(APath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(ABytes);
}

// Names, sizes and contents of every file under a folder, as one text.
QString TreeDigest(const QString &ADir)
{
    QStringList lines;
    QDirIterator it(ADir, QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi = it.fileInfo();
        lines << path + ' ' + (fi.isDir() ? QString("dir") : QString::fromLatin1(FileHash(path).toHex()));
    }
    lines.sort();
    return lines.join('\n');
}

} // namespace

class TestVornakToolArchive : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    struct TRun {
        int code = -1;
        QString out, err;
    };
    TRun Run(const QStringList &AArgs)
    {
        QProcess p;
        p.start(qEnvironmentVariable("VORNAK_TOOL"), Expand(AArgs));
        TRun r;
        if (!p.waitForFinished(120000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QString Expand(QString AText) const
    {
        return AText.replace("{dir}", FDir.path()).replace("{root}", FDir.filePath("root"));
    }
    QStringList Expand(QStringList AArgs) const
    {
        for (QString &a : AArgs)
            a = Expand(a);
        return AArgs;
    }
    QString Root(const QString &ARel) const { return FDir.filePath("root/" + ARel); }

private slots:
    // One catalogue with a row of each finding kind, and rows and files that must not be reported.
    void initTestCase()
    {
        if (!QFile::exists(qEnvironmentVariable("VORNAK_TOOL")))
            QSKIP("VORNAK_TOOL is not set");
        auto rec = [](int AId, const QString &AFile, int ADuration, const QString &ADate = "2025-09-01") {
            return Rec(AId, ADate + QString(" 07:%1:00").arg(AId, 2, 10, QChar('0')), 7, AId, AFile, ADuration);
        };
        TRow stored = rec(1, "01092025071.wav", 5, "2025-09-01");
        stored.filepath = FDir.filePath("stored/01092025071.wav");
        stored.title = "Klacht Jansen";
        TRow stale = rec(2, "01092025072.wav", 4);  // 5.0 s decoded: exactly 1 s off is still right
        stale.title = "Klacht Jansen";
        TRow refused = rec(7, "01092025076.mp3", 5);
        refused.title = "Klacht Jansen";
        TRow clean = rec(12, "04092025071.wav", 5, "2025-09-04");
        CreateCatalogue(FDir.filePath("cat.sqlite"),
                        {stored, stale, rec(3, "01092025073.wav", 5), rec(4, "01092025074.wav", 5),
                         rec(5, "01092025075.wav", 5), rec(6, "01092025075.wav", 5), refused,
                         rec(8, "01092025077.ogg", 5), rec(9, "01092025078.wav", 3),
                         rec(10, "01092025079.wav", 0), rec(11, "02092025071.wav", 5, "2025-09-02"), clean,
                         rec(13, "../02092025072.wav", 5, "2025-09-02"),
                         // The signal checks: a loud tone, a silent recording, a tone driven into clipping.
                         rec(14, "05092025071.wav", 5, "2025-09-05"), rec(15, "05092025072.wav", 5, "2025-09-05"),
                         rec(16, "05092025073.wav", 5, "2025-09-05")});
        WriteToneWav(Root("2025/09/05/05092025071.wav"), 5);
        WriteToneWav(Root("2025/09/05/05092025072.wav"), 5, 8000, 1, 0);
        WriteToneWav(Root("2025/09/05/05092025073.wav"), 5, 8000, 1, 80000);
        WriteToneWav(FDir.filePath("stored/01092025071.wav"), 5);
        WriteToneWav(Root("2025/09/01/01092025072.wav"), 5);
        WriteBytes(Root("2025/09/01/01092025074.wav"), QByteArray());
        WriteToneWav(Root("2025/09/01/01092025075.wav"), 5);
        QByteArray noise(20000, Qt::Uninitialized);
        QRandomGenerator gen(16);
        gen.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        WriteBytes(Root("2025/09/01/01092025076.mp3"), noise);
        WriteToneWav(Root("2025/09/01/01092025078.wav"), 5);
        WriteToneWav(Root("2025/09/01/01092025079.wav"), 2);  // its row is not listed (0 s): still named
        WriteToneWav(Root("2025/09/01/01092025099.wav"), 1);  // the orphan
        WriteBytes(Root("2025/09/01/notes.txt"), "not audio");
        WriteToneWav(Root("2025/09/01/.hidden.wav"), 1);
        WriteToneWav(Root("2025/09/misc/x.wav"), 1);          // not a day folder
        WriteToneWav(Root("2025/09/03/03092025071.wav"), 1);  // an orphan of another day
        WriteToneWav(Root("2025/09/04/04092025071.wav"), 5);
        WriteToneWav(Root("2025/09/02092025072.wav"), 5);  // where row 13's name leads: the reader never looks there

        // A recording damaged part-way: an Ogg file (made by our own export) with a page in its middle garbled.
        WriteToneWav(FDir.filePath("src.wav"), 5, 44100, 2);
        const TRun made = Run({"export", "{dir}/src.wav", "{dir}/src.ogg", "--format", "ogg"});
        QCOMPARE(made.code, 0);
        QFile ogg(FDir.filePath("src.ogg"));
        QVERIFY(ogg.open(QIODevice::ReadOnly));
        QByteArray bytes = ogg.readAll();
        for (int i = bytes.size() / 2 - 200; i < bytes.size() / 2 + 200; ++i)
            bytes[i] = char(bytes[i] ^ 0x5a);
        WriteBytes(Root("2025/09/01/01092025077.ogg"), bytes);
        QFile::remove(FDir.filePath("src.wav"));
        QFile::remove(FDir.filePath("src.ogg"));
    }

    // warm: newest first, each recording once, then every one a hit; failures named and counted.
    void warmFillsTheCacheNewestFirst()
    {
        const QStringList day5 = {"warm", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-05", "--to",
                                  "2025-09-05", "--cache", "{dir}/warmcache"};
        const TRun first = Run(day5);
        QCOMPARE(first.code, 0);
        QStringList lines = first.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const int id = 16 - i;
            QCOMPARE(lines[i], QString("id=%1\tfile=%2\tresult=analysed\tdetail=")
                                   .arg(id)
                                   .arg(Expand(QString("{root}/2025/09/05/0509202507%1.wav").arg(id - 13))));
        }
        QCOMPARE(lines[3], QString("hit=0 analysed=3 failed=0"));
        const TRun again = Run(day5);
        QCOMPARE(again.code, 0);
        QVERIFY(again.out.endsWith("hit=3 analysed=0 failed=0\n"));
        QCOMPARE(again.out.count("\tresult=hit\tdetail=\n"), 3);

        // A day with a missing, an empty and a refused file: named, counted, exit 4.
        const TRun day1 = Run({"warm", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-01", "--to", "2025-09-01",
                               "--cache", "{dir}/warmcache"});
        QCOMPARE(day1.code, 4);
        QVERIFY(day1.out.contains("result=failed\tdetail=Het geluidsbestand werd niet teruggevonden."));
        QVERIFY(day1.out.contains(QRegularExpression("result=failed\tdetail=[^\n]+\\(audiofout \\d+\\)")));
        QVERIFY(day1.out.contains(QRegularExpression("\nhit=\\d+ analysed=\\d+ failed=[1-9]\\d*\n$")));
    }

    void warmRefusesBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addRow("no root") << QStringList{"warm", "{dir}/cat.sqlite"} << 2;
        QTest::addRow("no such day") << QStringList{"warm", "{dir}/cat.sqlite", "{root}", "--from", "2025-02-30"} << 2;
        QTest::addRow("unknown option") << QStringList{"warm", "{dir}/cat.sqlite", "{root}", "--fast"} << 2;
        QTest::addRow("cache without folder") << QStringList{"warm", "{dir}/cat.sqlite", "{root}", "--cache"} << 2;
        QTest::addRow("not a catalogue") << QStringList{"warm", "{root}/2025/09/01/notes.txt", "{root}"} << 1;
    }
    void warmRefusesBadInput()
    {
        QFETCH(QStringList, args);
        const TRun r = Run(args);
        QTEST(r.code, "code");
        QVERIFY(r.out.isEmpty());
    }

    void auditReportsEachFindingOnce_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("lines");  // a line ending in '*' matches as a prefix
        const QString missing = "finding=missing\tid=3\tfilename=01092025073.wav\tfile=/nonexistent/01092025073.wav\t"
                                "detail=ook gezocht: {root}/2025/09/01/01092025073.wav";
        const QString empty = "finding=empty\tid=4\tfilename=01092025074.wav\tfile={root}/2025/09/01/01092025074.wav\tdetail=";
        const QString dup5 = "finding=duplicate\tid=5\tfilename=01092025075.wav\tfile={root}/2025/09/01/01092025075.wav\t"
                             "detail=2 rijen";
        const QString dup6 = QString(dup5).replace("id=5", "id=6");
        const QString refused = "finding=undecodable\tid=7\tfilename=01092025076.mp3\tfile={root}/2025/09/01/01092025076.mp3\t"
                                "detail=41 niet-ondersteund bestandsformaat (ontbrekende codec/plugin)";
        const QString damaged = "finding=undecodable\tid=8\tfilename=01092025077.ogg\tfile={root}/2025/09/01/01092025077.ogg\t"
                                "detail=beschadigd: *";
        const QString duration = "finding=duration\tid=9\tfilename=01092025078.wav\tfile={root}/2025/09/01/01092025078.wav\t"
                                 "detail=decoded=5.000 duration_sec=3";
        const QString orphan = "finding=orphan\tid=\tfilename=01092025099.wav\tfile={root}/2025/09/01/01092025099.wav\tdetail=";
        const QString otherDayMissing = "finding=missing\tid=11\tfilename=02092025071.wav\tfile=/nonexistent/02092025071.wav\t"
                                        "detail=ook gezocht: {root}/2025/09/02/02092025071.wav";
        const QString outsideItsFolder = "finding=missing\tid=13\tfilename=../02092025072.wav\t"
                                         "file=/nonexistent/../02092025072.wav\tdetail=";
        const QString otherDayOrphan = "finding=orphan\tid=\tfilename=03092025071.wav\tfile={root}/2025/09/03/03092025071.wav\tdetail=";
        const QStringList day{"audit", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-01", "--to", "2025-09-01"};

        QTest::addRow("one day without decoding")
            << day << 4
            << QStringList{missing, empty, dup5, dup6, orphan,
                           "rows=9 files=8 missing=1 empty=1 duplicate=2 undecodable=0 duration=0 orphan=1"};
        QTest::addRow("one day decoded")
            << day + QStringList{"--decode"} << 4
            << QStringList{missing, empty, dup5, dup6, refused, damaged, duration, orphan,
                           "rows=9 files=8 missing=1 empty=1 duplicate=2 undecodable=2 duration=1 orphan=1"};
        QTest::addRow("whole archive")
            << QStringList{"audit", "{dir}/cat.sqlite", "{root}/"} << 4
            << QStringList{missing, empty, dup5, dup6, otherDayMissing, outsideItsFolder, orphan, otherDayOrphan,
                           "rows=15 files=13 missing=3 empty=1 duplicate=2 undecodable=0 duration=0 orphan=2"};
        QTest::addRow("clean day decoded")
            << QStringList{"audit", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-04", "--to", "2025-09-04", "--decode"}
            << 0 << QStringList{"rows=1 files=1 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0"};
        QTest::addRow("open end")
            << QStringList{"audit", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-03"} << 4
            << QStringList{otherDayOrphan, "rows=4 files=5 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=1"};
        const QStringList signalDay{"audit", "{dir}/cat.sqlite", "{root}", "--from", "2025-09-05", "--to", "2025-09-05"};
        const QString file = "filename=0509202507%1.wav\tfile={root}/2025/09/05/0509202507%1.wav\tdetail=";
        QTest::addRow("signal day decoded without --signal")
            << signalDay + QStringList{"--decode"} << 0
            << QStringList{"rows=3 files=3 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0"};
        QTest::addRow("signal day with --signal")
            << signalDay + QStringList{"--signal", "--silence-min", "2", "--loudness-max", "-20"} << 4
            << QStringList{"finding=loudness\tid=14\t" + file.arg(1) + "geïntegreerde luidheid -1*",
                           "finding=silent\tid=15\t" + file.arg(2) + "de hele opname is stil (5,0 s onder -50,0 dBFS)",
                           "finding=clipped\tid=16\t" + file.arg(3) + "oversturing: 4400 keer; de eerste op 00:00.000 (kanaal 1)",
                           "finding=loudness\tid=16\t" + file.arg(3) + "geïntegreerde luidheid *",
                           "rows=3 files=3 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0 "
                           "silent=1 clipped=1 loudness=2"};
        QTest::addRow("signal day with the default minimum and no loudness bounds")
            << signalDay + QStringList{"--signal", "--clip-runs", "100000"} << 0
            << QStringList{"rows=3 files=3 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0 "
                           "silent=0 clipped=0 loudness=0"};
    }
    void auditReportsEachFindingOnce()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, lines);
        const TRun r = Run(args);
        QCOMPARE(r.code, code);
        QStringList out = r.out.split('\n');
        QCOMPARE(out.takeLast(), QString());  // every line ends in a line feed
        QCOMPARE(out.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QString want = Expand(lines[i]);
            if (want.endsWith('*'))
                QVERIFY2(out[i].startsWith(want.chopped(1)), qPrintable(out[i]));
            else
                QCOMPARE(out[i], want);
        }
    }

    void auditRefusesBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("err");  // a part of standard error
        const QStringList base{"audit", "{dir}/cat.sqlite", "{root}"};
        QTest::addRow("to before from") << base + QStringList{"--from", "2025-09-02", "--to", "2025-09-01"} << 2 << "usage";
        QTest::addRow("no such day") << base + QStringList{"--from", "2025-02-30"} << 2 << "usage";
        QTest::addRow("date without value") << base + QStringList{"--to"} << 2 << "usage";
        QTest::addRow("unknown option") << base + QStringList{"--fix"} << 2 << "usage";
        QTest::addRow("no root") << QStringList{"audit", "{dir}/cat.sqlite"} << 2 << "usage";
        QTest::addRow("missing catalogue") << QStringList{"audit", "{dir}/none.sqlite", "{root}"} << 1
                                           << "Databasebestand niet gevonden: {dir}/none.sqlite";
        QTest::addRow("not a catalogue") << QStringList{"audit", "{root}/2025/09/01/notes.txt", "{root}"} << 1
                                         << "not a database";
        QTest::addRow("missing root") << QStringList{"audit", "{dir}/cat.sqlite", "{dir}/none"} << 1
                                      << "Opnamemap niet gevonden: {dir}/none";
    }
    void auditRefusesBadInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, err);
        const TRun r = Run(args);
        QCOMPARE(r.code, code);
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.contains(Expand(err)), qPrintable(r.err));
    }

    void auditChangesNothingAndReportsRisingProgress()
    {
        const QString before = TreeDigest(FDir.path());
        const TRun r = Run({"audit", "{dir}/cat.sqlite", "{root}", "--decode", "--progress"});
        QCOMPARE(r.code, 4);
        QCOMPARE(TreeDigest(FDir.path()), before);
        int last = -1;
        for (const QString &line : r.out.split('\n')) {
            if (!line.startsWith("progress="))
                continue;
            const int percent = line.mid(9).toInt();
            QVERIFY2(percent > last, qPrintable(line));
            last = percent;
        }
        QCOMPARE(last, 100);
        QVERIFY(r.out.indexOf("progress=100") < r.out.indexOf("finding="));
    }

    void auditLeavesNothingBesideAWalCatalogue()
    {
        QTemporaryDir dir;
        CreateCatalogue(dir.filePath("wal.sqlite"), {Rec(1, "2025-09-04 07:01:00", 7, 1, "04092025071.wav", 5)}, true);
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        const TRun r = Run({"audit", dir.filePath("wal.sqlite"), "{root}", "--from", "2025-09-04", "--to", "2025-09-04"});
        QCOMPARE(r.out, QString("rows=1 files=1 missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    // A NUL in a name or a stored path, and a name that is not UTF-8: each recording keeps its own line
    // (\0, \xHH), a stored path holding a NUL is missing (the file named by the part before the NUL is
    // neither checked nor decoded nor exported), and the foreign name is found, decoded and exported under
    // its own bytes. Neither command writes into the envelope cache.
    void nulAndForeignNamesStayOnTheirLinesAndTheCacheIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString nul(QChar(0));
        TRow nulRow = Rec(1, "2025-09-06 07:01:00", 7, 1, "a" + nul + "b.wav", 1);
        nulRow.filepath = dir.filePath("x") + nul + "y";
        TRow foreign = Rec(2, "2025-09-06 07:02:00", 7, 2, PathFromBytes("l\xE9.wav"), 1);
        CreateCatalogue(dir.filePath("cat.sqlite"), {nulRow, foreign});
        WriteToneWav(dir.filePath("x"), 1);
        WriteToneWav(dir.filePath("root/2025/09/06/tone.wav"), 1);
        const QByteArray dayFolder = PathBytes(dir.filePath("root/2025/09/06/"));
        QCOMPARE(::rename((dayFolder + "tone.wav").constData(), (dayFolder + "l\xE9.wav").constData()), 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        auto run = [&](const QStringList &AArgs, int *ACode) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(qEnvironmentVariable("VORNAK_TOOL"), AArgs);
            *ACode = p.waitForFinished(120000) ? p.exitCode() : -1;
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        const QString d = dir.path();
        int code = 0;
        QCOMPARE(run({"audit", d + "/cat.sqlite", d + "/root", "--decode"}, &code),
                 "finding=missing\tid=1\tfilename=a\\0b.wav\tfile=" + d + "/x\\0y\tdetail=\n"
                 "rows=2 files=1 missing=1 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0\n");
        QCOMPARE(code, 4);
        QCOMPARE(run({"export-found", d + "/cat.sqlite", d + "/root", d + "/out", "--format", "wav"}, &code),
                 "id=1\tfile=\tresult=failed\tdetail=ongeldige bestandsnaam: a\\0b.wav\n"
                 "id=2\tfile=" + d + "/out/l\\xE9.wav\tresult=exported\tdetail=" + d + "/root/2025/09/06/l\\xE9.wav\n"
                 "exported=1 skipped=0 failed=1\n");
        QCOMPARE(code, 1);
        QStringList written;  // by the bytes of the names: Qt's own listing cannot name a foreign one
        DIR *out = ::opendir(PathBytes(d + "/out").constData());
        QVERIFY(out);
        while (const dirent *e = ::readdir(out))
            if (e->d_name[0] != '.' || (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0))
                written << QString::fromLatin1(QByteArray(e->d_name).toHex());
        ::closedir(out);
        QCOMPARE(written, QStringList{QString::fromLatin1(QByteArray("l\xE9.wav").toHex())});
        QVERIFY(!QFileInfo::exists(d + "/cache"));
    }

    // SIGTERM ends export-found also while it reads a long recording: the whole run reads it only for the
    // export, with the stop seen from the start (a 3.4-hour recording, stopped once the tool has it open).
    void exportFoundEndsOnSigtermWhileReading()
    {
        QTemporaryDir dir;
        CreateCatalogue(dir.filePath("cat.sqlite"), {Rec(1, "2025-09-07 07:01:00", 7, 1, "07092025071.wav", 12000)});
        QVERIFY(QDir().mkpath(dir.filePath("root/2025/09/07")));
        const quint32 bytes = 2000000000;  // 44.1 kHz stereo, 16-bit: 3.15 hours of silence, written sparse
        QByteArray h("RIFF\0\0\0\0WAVEfmt ", 16);
        auto u32 = [&](quint32 AValue) { char b[4]; qToLittleEndian(AValue, b); h.append(b, 4); };
        auto u16 = [&](quint16 AValue) { char b[2]; qToLittleEndian(AValue, b); h.append(b, 2); };
        u32(16); u16(1); u16(2); u32(44100); u32(44100 * 4); u16(4); u16(16);
        h.append("data", 4);
        u32(bytes);
        qToLittleEndian(quint32(h.size() - 8 + bytes), h.data() + 4);
        QFile wav(dir.filePath("root/2025/09/07/07092025071.wav"));
        QVERIFY(wav.open(QIODevice::WriteOnly));
        wav.write(h);
        QVERIFY(wav.resize(h.size() + bytes));
        wav.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("VORNAK_TOOL"),
                {"export-found", dir.filePath("cat.sqlite"), dir.filePath("root"), dir.filePath("out"), "--format", "wav"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(HoldsOpen(p.processId(), wav.fileName()) || p.state() != QProcess::Running, 60000);
        QCOMPARE(p.state(), QProcess::Running);
        p.terminate();
        const bool ended = p.waitForFinished(120000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        QVERIFY2(ended, "export-found did not end on SIGTERM");
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).endsWith("exported=0 skipped=0 failed=1\n"));
        QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Exports whole recordings into a new folder; an existing target is kept as it is, a recording that
    // cannot be read fails without leaving a file, and a second run exports nothing again.
    void exportFoundNeverOverwritesNorLeavesPartialFiles()
    {
        const QString out = FDir.filePath("out/nested");
        WriteBytes(out + "/01092025072.wav", "keep me");
        const QStringList args{"export-found", "{dir}/cat.sqlite", "{root}", "{dir}/out/nested", "--format", "wav",
                               "--name", "jansen"};
        const QString catalogue = TreeDigest(FDir.filePath("root")) + FileHash(FDir.filePath("cat.sqlite")).toHex();

        TRun r = Run(args);
        QCOMPARE(r.code, 1);
        QCOMPARE(r.out, Expand("id=1\tfile={dir}/out/nested/01092025071.wav\tresult=exported\tdetail={dir}/stored/01092025071.wav\n"
                               "id=2\tfile={dir}/out/nested/01092025072.wav\tresult=skipped\tdetail=bestaat al\n"
                               "id=7\tfile={dir}/out/nested/01092025076.wav\tresult=failed\tdetail=41 niet-ondersteund "
                               "bestandsformaat (ontbrekende codec/plugin): {root}/2025/09/01/01092025076.mp3\n"
                               "exported=1 skipped=1 failed=1\n"));
        QDir dir(out);
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), (QStringList{"01092025071.wav", "01092025072.wav"}));
        QFile exported(out + "/01092025071.wav");
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.size(), 44 + 5 * 8000 * 2);
        QCOMPARE(exported.read(4), QByteArray("RIFF"));
        QFile kept(out + "/01092025072.wav");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep me"));

        const QString afterFirst = TreeDigest(out);
        r = Run(args);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.endsWith("exported=0 skipped=2 failed=1\n"), qPrintable(r.out));
        QCOMPARE(TreeDigest(out), afterFirst);
        QCOMPARE(TreeDigest(FDir.filePath("root")) + FileHash(FDir.filePath("cat.sqlite")).toHex(), catalogue);
    }

    void exportFoundSucceedsWhenNoneFails()
    {
        const TRun r = Run({"export-found", "{dir}/cat.sqlite", "{root}", "{dir}/out-ogg", "--format", "ogg",
                            "--bitrate", "64", "--date", "2025-09-04"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, Expand("id=12\tfile={dir}/out-ogg/04092025071.ogg\tresult=exported\t"
                               "detail={root}/2025/09/04/04092025071.wav\nexported=1 skipped=0 failed=0\n"));
        QFile ogg(FDir.filePath("out-ogg/04092025071.ogg"));
        QVERIFY(ogg.open(QIODevice::ReadOnly));
        QCOMPARE(ogg.read(4), QByteArray("OggS"));
    }

    // An export stopped half-way (SIGTERM while its temporary file is being written) leaves no file at all.
    void exportFoundInterruptedLeavesNoPartialFile()
    {
        QTemporaryDir dir;
        CreateCatalogue(dir.filePath("cat.sqlite"), {Rec(1, "2025-09-05 07:01:00", 7, 1, "05092025071.wav", 180)});
        WriteToneWav(dir.filePath("root/2025/09/05/05092025071.wav"), 180);
        const QString out = dir.filePath("out");
        QProcess p;
        p.start(qEnvironmentVariable("VORNAK_TOOL"), {"export-found", dir.filePath("cat.sqlite"), dir.filePath("root"),
                                                      out, "--format", "opus"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty() ||
                                     p.state() != QProcess::Running,
                                 60000);
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 1);  // the temporary file, being written
        p.terminate();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 "id=1\tfile=" + out + "/05092025071.opus\tresult=failed\tdetail=afgebroken\nexported=0 skipped=0 failed=1\n");
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Runs killed (SIGKILL) while writing leave their hidden temporaries; a later run removes those that
    // are a minute old, earlier versions' names included, keeps a younger one (a run may still be writing
    // it), and leaves only the exported file.
    void exportFoundKilledRunsLeaveNoDebrisAfterACleanRun()
    {
        QTemporaryDir dir;
        CreateCatalogue(dir.filePath("cat.sqlite"), {Rec(1, "2025-09-05 07:01:00", 7, 1, "05092025071.wav", 180)});
        WriteToneWav(dir.filePath("root/2025/09/05/05092025071.wav"), 180);
        const QString out = dir.filePath("out");
        const QStringList args{"export-found", dir.filePath("cat.sqlite"), dir.filePath("root"), out, "--format", "opus"};
        for (int kill = 0; kill < 3; ++kill) {
            const int before = QDir(out).entryList(QDir::Files | QDir::Hidden).size();
            QProcess p;
            p.start(qEnvironmentVariable("VORNAK_TOOL"), args);
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(QDir(out).entryList(QDir::Files | QDir::Hidden).size() != before ||
                                         p.state() != QProcess::Running,
                                     60000);
            p.kill();
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        }
        QStringList left = QDir(out).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.size(), 3);
        for (const QString &name : left)
            QVERIFY2(QRegularExpression("^\\.vornak-export-[A-Za-z0-9]{6}\\.part$").match(name).hasMatch(),
                     qPrintable(name));
        WriteBytes(out + "/.05092025071.opus.4242-0.part", "an earlier version's");
        struct utimbuf aged;
        aged.actime = aged.modtime = ::time(nullptr) - 120;
        for (const QString &name : QDir(out).entryList(QDir::Files | QDir::Hidden))
            QVERIFY(::utime(QFile::encodeName(out + '/' + name).constData(), &aged) == 0);
        WriteBytes(out + "/.vornak-export-Young1.part", "a run still writing");

        const TRun r = Run(args);
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.endsWith("exported=1 skipped=0 failed=0\n"), qPrintable(r.out));
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{".vornak-export-Young1.part", "05092025071.opus"}));
    }

    // A file name of 255 bytes, the most a name can have, is exported: the temporary's name is short.
    void exportFoundTakesTheLongestFileName()
    {
        QTemporaryDir dir;
        const QString name = "06092025071-" + QString(239, 'x') + ".wav";
        QCOMPARE(QFile::encodeName(name).size(), 255);
        CreateCatalogue(dir.filePath("cat.sqlite"), {Rec(1, "2025-09-06 07:01:00", 7, 1, name, 2)});
        WriteToneWav(dir.filePath("root/2025/09/06/") + name, 2);
        for (const char *format : {"wav", "mp3"}) {
            const QString out = dir.filePath(QString("out-") + format);
            const QString target = out + '/' + name.chopped(3) + format;
            const TRun r = Run({"export-found", dir.filePath("cat.sqlite"), dir.filePath("root"), out, "--format", format});
            QCOMPARE(r.code, 0);
            QCOMPARE(r.out, "id=1\tfile=" + target + "\tresult=exported\tdetail=" + dir.filePath("root/2025/09/06/") +
                                name + "\nexported=1 skipped=0 failed=0\n");
            QVERIFY(QFileInfo(target).size() > 1000);
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
    }

    // A disk that fills up: each encoded export fails with its cause in the detail and leaves no file.
    void exportFoundOntoAFullDiskNamesTheCause()
    {
        QTemporaryDir dir;
        CreateCatalogue(dir.filePath("cat.sqlite"), {Rec(1, "2025-09-05 07:01:00", 7, 1, "05092025071.wav", 180)});
        WriteToneWav(dir.filePath("root/2025/09/05/05092025071.wav"), 180, 44100, 2);
        const QString out = dir.filePath("disk");
        QVERIFY(QDir().mkpath(out));
        const QByteArray mountPoint = QFile::encodeName(out);
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=200k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        struct TUnmount {
            QByteArray path;
            ~TUnmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{mountPoint};
        for (const char *format : {"mp3", "ogg", "opus"}) {
            const TRun r = Run({"export-found", dir.filePath("cat.sqlite"), dir.filePath("root"), out, "--format", format});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.out.contains("\tresult=failed\tdetail=export mislukt: ") &&
                         r.out.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                     qPrintable(r.out + r.err));
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
    }

    void exportFoundRefusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        const QStringList base{"export-found", "{dir}/cat.sqlite", "{root}", "{dir}/never"};
        QTest::addRow("no format") << base;
        QTest::addRow("unknown format") << base + QStringList{"--format", "flac"};
        QTest::addRow("bitrate 0") << base + QStringList{"--format", "mp3", "--bitrate", "0"};
        QTest::addRow("bad date") << base + QStringList{"--format", "wav", "--date", "1-9-2025"};
        QTest::addRow("hour not a number") << base + QStringList{"--format", "wav", "--hour", "x"};
        QTest::addRow("option without value") << base + QStringList{"--format", "wav", "--name"};
    }
    void exportFoundRefusesBadArguments()
    {
        QFETCH(QStringList, args);
        const TRun r = Run(args);
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains("usage"));
        QVERIFY(!QFileInfo::exists(FDir.filePath("never")));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestVornakToolArchive)
#include "tst_VornakToolArchive.moc"
