// vornak-tool fixity and audit --fixity: a manifest sha256sum itself verifies, runs that add only what is
// new and settled, changed and vanished files found again, two runs at once leaving one whole manifest,
// files named by their bytes, and nothing read that lies outside the recordings root.
#include "CatalogueFixture.h"
#include "TestMain.h"
#include "uReaderTypes.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>
#include <utime.h>

using namespace fixture;

namespace {

struct TRun {
    int Code = -1;
    QString Out, Err;
};

TRun Run(const QString &AProgram, const QStringList &AArgs, const QString &ADir = QString())
{
    QProcess p;
    if (!ADir.isEmpty())
        p.setWorkingDirectory(ADir);
    p.start(AProgram, AArgs);
    TRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TRun Tool(const QStringList &AArgs)
{
    return Run(qEnvironmentVariable("VORNAK_TOOL"), AArgs);
}

// A file with AContent whose last change lies AAgeSec in the past; the path by its bytes (PathBytes).
void WriteAged(const QString &APath, const QByteArray &AContent, int AAgeSec)
{
    QVERIFY(QDir().mkpath(QFileInfo(APath).path()));
    const QByteArray path = PathBytes(APath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    const bool written = ::write(fd, AContent.constData(), size_t(AContent.size())) == AContent.size();
    QVERIFY(::close(fd) == 0 && written);
    const time_t when = time(nullptr) - AAgeSec;
    utimbuf t{when, when};
    QVERIFY(::utime(path.constData(), &t) == 0);
}

void Link(const QString &ATarget, const QString &ALink)
{
    QVERIFY(QDir().mkpath(QFileInfo(ALink).path()));
    QVERIFY2(::symlink(PathBytes(ATarget).constData(), PathBytes(ALink).constData()) == 0, qPrintable(ALink));
}

void WriteFile(const QString &APath, const QByteArray &AContent)
{
    QFile f(APath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(AContent), AContent.size());
}

QByteArray Sha(const QByteArray &AContent)
{
    return QCryptographicHash::hash(AContent, QCryptographicHash::Sha256).toHex();
}

QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Whether process APid waits for a file lock another process holds (a "->" line of /proc/locks).
bool WaitsForALock(qint64 APid)
{
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray pid = ' ' + QByteArray::number(APid) + ' ';
    for (const QByteArray &line : locks.readAll().split('\n'))
        if (line.contains("->") && line.contains(pid))
            return true;
    return false;
}

} // namespace

class TestuFixity : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;
    QString FDb, FRoot;

    QString Root(const QString &ARel) const { return FRoot + "/" + ARel; }

private slots:
    // Rows: two settled files, one still being written (recent), one with no duration, one whose file is gone.
    void init()
    {
        QVERIFY(FDir.isValid());
        const QString dir = FDir.filePath(QString::fromUtf8(QTest::currentTestFunction()) + '-' +
                                          QString::fromUtf8(QTest::currentDataTag()));
        FDb = dir + "/cat.sqlite";
        FRoot = dir + "/root";
        QVERIFY(QDir().mkpath(FRoot));
        CreateCatalogue(FDb, {Rec(1, "2025-09-01 07:01:00", 7, 1, "01092025071.wav", 60),
                              Rec(2, "2025-09-01 07:02:00", 7, 2, "01092025072.wav", 60),
                              Rec(3, "2025-09-02 08:01:00", 8, 1, "02092025081.wav", 0),
                              Rec(4, "2025-09-02 08:02:00", 8, 2, "02092025082.wav", 60),
                              Rec(5, "2025-09-03 09:01:00", 9, 1, "03092025091.wav", 60)});
        WriteAged(Root("2025/09/01/01092025071.wav"), "first", 600);
        WriteAged(Root("2025/09/01/01092025072.wav"), "second", 121);
        WriteAged(Root("2025/09/02/02092025081.wav"), "no duration", 600);
        WriteAged(Root("2025/09/02/02092025082.wav"), "recent", 30);
    }

    void manifestIsVerifiedBySha256sumAndGrowsOnlyByNewFiles()
    {
        const QString manifest = FDir.filePath("manifest-a.sha256");
        TRun r = Tool({"fixity", FDb, FRoot, manifest});
        QCOMPARE(r.Code, 0);
        QCOMPARE(r.Out, QStringLiteral("added=2 listed=0 recent=1 missing=1 unreadable=0\n"));
        const QByteArray first = Sha("first") + "  2025/09/01/01092025071.wav\n" + Sha("second") +
                                 "  2025/09/01/01092025072.wav\n";
        QCOMPARE(ReadAll(manifest), first);
        r = Run("sha256sum", {"-c", manifest}, FRoot);
        QCOMPARE(r.Code, 0);

        // The recording settles; the next run adds it and keeps every earlier line as it was.
        WriteAged(Root("2025/09/02/02092025082.wav"), "recent", 300);
        r = Tool({"fixity", FDb, FRoot, manifest, "--progress"});
        QCOMPARE(r.Code, 0);
        QVERIFY2(r.Out.endsWith("progress=100\nadded=1 listed=2 recent=0 missing=1 unreadable=0\n"), qPrintable(r.Out));
        QCOMPARE(ReadAll(manifest), first + Sha("recent") + "  2025/09/02/02092025082.wav\n");
        QCOMPARE(Run("sha256sum", {"-c", manifest}, FRoot).Code, 0);
        // A range limits what is looked at.
        QCOMPARE(Tool({"fixity", FDb, FRoot, manifest, "--from", "2025-09-02", "--to", "2025-09-02"}).Out,
                 QStringLiteral("added=0 listed=1 recent=0 missing=0 unreadable=0\n"));
        QVERIFY(!QDir(FDir.path()).entryList({".vornak-fixity-*"}, QDir::Files | QDir::Hidden).size());
    }

    void auditFindsAlteredAndVanishedFiles()
    {
        const QString manifest = FDir.filePath("manifest-b.sha256");
        QCOMPARE(Tool({"fixity", FDb, FRoot, manifest}).Code, 0);
        TRun r = Tool({"audit", FDb, FRoot, "--fixity", manifest});
        QCOMPARE(r.Code, 4);  // the row whose file is gone
        QVERIFY2(r.Out.endsWith("orphan=0 altered=0\n"), qPrintable(r.Out));
        QVERIFY(!Tool({"audit", FDb, FRoot}).Out.contains("altered"));

        WriteAged(Root("2025/09/01/01092025072.wav"), "changed", 600);
        QVERIFY(QFile::remove(Root("2025/09/01/01092025071.wav")));
        r = Tool({"audit", FDb, FRoot, "--fixity", manifest});
        QCOMPARE(r.Code, 4);
        const QStringList lines = r.Out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.contains("finding=altered\tid=2\tfilename=01092025072.wav\tfile=" +
                                Root("2025/09/01/01092025072.wav") + "\tdetail=manifest=" + Sha("second") +
                                " nu=" + Sha("changed")),
                 qPrintable(r.Out));
        // Gone: reported once, by its row.
        QCOMPARE(lines.filter(QRegularExpression("^finding=missing\tid=1\t")).size(), 1);
        QVERIFY2(lines.last().endsWith("missing=2 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0 altered=1"),
                 qPrintable(lines.last()));
        // A listed file no row of the range names any more is still missing when it is gone.
        QFile::remove(Root("2025/09/01/01092025072.wav"));
        CreateCatalogue(FDir.filePath("empty.sqlite"), {});
        r = Tool({"audit", FDir.filePath("empty.sqlite"), FRoot, "--fixity", manifest});
        QCOMPARE(r.Out.count("finding=missing\tid=\t"), 2);
        QCOMPARE(Tool({"audit", FDb, FRoot, "--fixity", FDir.filePath("none")}).Code, 1);
    }

    void twoRunsAtOnceLeaveOneWholeManifest()
    {
        const QString manifest = FDir.filePath("manifest-c.sha256");
        QList<TRow> rows;
        for (int i = 1; i <= 60; ++i) {
            const QString name = QString("05092025%1.wav").arg(i, 3, 10, QChar('0'));
            rows << Rec(i, QString("2025-09-05 10:%1:00").arg(i % 60, 2, 10, QChar('0')), 10, i, name, 60);
            WriteAged(Root("2025/09/05/" + name), QByteArray(200000, char(i)), 600);
        }
        CreateCatalogue(FDb + "-many", rows);
        QProcess a, b;
        const QStringList args{"fixity", FDb + "-many", FRoot, manifest};
        a.start(qEnvironmentVariable("VORNAK_TOOL"), args);
        b.start(qEnvironmentVariable("VORNAK_TOOL"), args);
        QVERIFY(a.waitForFinished(120000) && b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        const QString outs = QString::fromUtf8(a.readAllStandardOutput() + b.readAllStandardOutput());
        QVERIFY2(outs.contains("added=60 listed=0") && outs.contains("added=0 listed=60"), qPrintable(outs));
        const QList<QByteArray> lines = ReadAll(manifest).split('\n');
        QCOMPARE(lines.size(), 61);  // 60 lines and the empty rest after the last line break
        QCOMPARE(Run("sha256sum", {"-c", "--quiet", manifest}, FRoot).Code, 0);
    }

    // The lock is an flock: a run waits while another process holds it, and goes on once that process dies.
    void runWaitsForTheLockAndAKilledHolderLeavesNoStaleLock()
    {
        const QString manifest = FDir.filePath("manifest-d.sha256");
        QProcess holder;
        // -o: the lock stays with flock itself, not with the command it runs; "locked" once it holds it
        holder.start("flock", {"-o", manifest + ".lock", "sh", "-c", "echo locked; exec cat"});
        QVERIFY(holder.waitForStarted());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += holder.readAllStandardOutput()).contains("locked"),
                                  qPrintable(said + holder.readAllStandardError()), 30000);
        QProcess run;
        run.start(qEnvironmentVariable("VORNAK_TOOL"), {"fixity", FDb, FRoot, manifest});
        QVERIFY(run.waitForStarted());
        // The run blocks on the lock: the kernel lists it as the lock's waiter.
        QTRY_VERIFY_WITH_TIMEOUT(WaitsForALock(run.processId()) || run.state() != QProcess::Running, 30000);
        QCOMPARE(run.state(), QProcess::Running);
        QVERIFY(!QFile::exists(manifest));
        holder.kill();
        holder.waitForFinished();
        QVERIFY(run.waitForFinished(120000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()),
                 QStringLiteral("added=2 listed=0 recent=1 missing=1 unreadable=0\n"));
    }

    // A file whose name is not UTF-8 is hashed and listed like any other, under its own bytes and escaped as
    // sha256sum escapes (a backslash starts the line), so that sha256sum verifies it and a later run and
    // the audit find it listed.
    void namesThatAreNotUtf8AreListedByTheirBytes()
    {
        const QString foreign = PathFromBytes("l\xE9.wav"), slashed = PathFromBytes("r\\\xE9.wav");
        const QString db = FDb + "-bytes", manifest = FDir.filePath("manifest-e.sha256");
        CreateCatalogue(db, {Rec(1, "2025-09-06 07:01:00", 7, 1, foreign, 60),
                             Rec(2, "2025-09-06 07:02:00", 7, 2, slashed, 60)});
        // Qt's own removal of the temporary folder cannot name these files: they go by their bytes.
        const auto removeByBytes = qScopeGuard([&] {
            for (const QString &name : {foreign, slashed})
                ::unlink(PathBytes(Root("2025/09/06/") + name).constData());
        });
        WriteAged(Root("2025/09/06/") + foreign, "foreign", 600);
        WriteAged(Root("2025/09/06/") + slashed, "slashed", 600);
        QCOMPARE(Tool({"fixity", db, FRoot, manifest}).Out,
                 QStringLiteral("added=2 listed=0 recent=0 missing=0 unreadable=0\n"));
        QCOMPARE(ReadAll(manifest), Sha("foreign") + "  2025/09/06/l\xE9.wav\n\\" + Sha("slashed") +
                                        "  2025/09/06/r\\\\\xE9.wav\n");
        QCOMPARE(Run("sha256sum", {"-c", "--quiet", manifest}, FRoot).Code, 0);
        QCOMPARE(Tool({"fixity", db, FRoot, manifest}).Out,
                 QStringLiteral("added=0 listed=2 recent=0 missing=0 unreadable=0\n"));
        const TRun audit = Tool({"audit", db, FRoot, "--from", "2025-09-06", "--fixity", manifest});
        QVERIFY2(audit.Code == 0, qPrintable(audit.Out));
        QVERIFY2(audit.Out.endsWith(" missing=0 empty=0 duplicate=0 undecodable=0 duration=0 orphan=0 altered=0\n"),
                 qPrintable(audit.Out));
    }

    // Manifest lines that are absolute, climb out with "..", hold a NUL or name a link out of the root are
    // reported as invalid and never read: neither a match nor a difference with the outside file shows.
    void manifestLinesLeadingOutOfTheRootAreInvalidAndNeverRead()
    {
        const QString outside = FDir.filePath("outside-f/secret.wav");
        WriteAged(outside, "secret", 600);
        Link(outside, Root("2025/09/01/link.wav"));
        const QString manifest = FDir.filePath("manifest-f.sha256");
        WriteFile(manifest, Sha("first") + "  2025/09/01/01092025071.wav\n" +
                                 Sha("secret") + "  2025/09/01/../../../../outside-f/secret.wav\n" +
                                 Sha("other") + "  2025/09/01/../../../../outside-f/secret.wav\n" +
                                 Sha("other") + "  " + outside.toUtf8() + "\n" +
                                 Sha("other") + "  2025/09/01/01092025071.wav" + QByteArray(1, '\0') + "x\n" +
                                 Sha("other") + "  2025/09/01/link.wav\n");
        const TRun r = Tool({"audit", FDb, FRoot, "--fixity", manifest});
        QCOMPARE(r.Code, 4);
        QVERIFY2(!r.Out.contains(Sha("secret")), qPrintable(r.Out));
        const QStringList invalid = r.Out.split('\n').filter(QRegularExpression("^finding=invalid\t"));
        QCOMPARE(invalid, (QStringList{
            "finding=invalid\tid=\tfilename=secret.wav\tfile=" + manifest +
                "\tdetail=regel 2: pad met '..': 2025/09/01/../../../../outside-f/secret.wav",
            "finding=invalid\tid=\tfilename=secret.wav\tfile=" + manifest +
                "\tdetail=regel 3: pad met '..': 2025/09/01/../../../../outside-f/secret.wav",
            "finding=invalid\tid=\tfilename=secret.wav\tfile=" + manifest + "\tdetail=regel 4: absoluut pad: " + outside,
            "finding=invalid\tid=\tfilename=01092025071.wav\\0x\tfile=" + manifest +
                "\tdetail=regel 5: NUL in het pad: 2025/09/01/01092025071.wav\\0x",
            "finding=invalid\tid=\tfilename=link.wav\tfile=" + Root("2025/09/01/link.wav") +
                "\tdetail=regel 6: leidt buiten de opnamemap"}));
        QVERIFY2(!r.Out.contains("finding=altered"), qPrintable(r.Out));
        QVERIFY2(r.Out.endsWith(" orphan=1 altered=0 invalid=5\n"), qPrintable(r.Out));
    }

    // fixity follows a symbolic link that stays inside the root and skips, with a count, one that leads out
    // of it: a linked file or a linked day folder.
    void fixityReadsNothingALinkLeadsToOutsideTheRoot()
    {
        const QString db = FDb + "-links", manifest = FDir.filePath("manifest-g.sha256");
        CreateCatalogue(db, {Rec(1, "2025-09-07 07:01:00", 7, 1, "07092025071.wav", 60),
                             Rec(2, "2025-09-07 07:02:00", 7, 2, "07092025072.wav", 60),
                             Rec(3, "2025-09-08 08:01:00", 8, 1, "08092025081.wav", 60)});
        WriteAged(FDir.filePath("outside-g/secret.wav"), "secret", 600);
        WriteAged(FDir.filePath("outside-g/day/08092025081.wav"), "secret day", 600);
        Link(FDir.filePath("outside-g/secret.wav"), Root("2025/09/07/07092025071.wav"));
        Link("../01/01092025071.wav", Root("2025/09/07/07092025072.wav"));  // inside the root
        Link(FDir.filePath("outside-g/day"), Root("2025/09/08"));
        const TRun r = Tool({"fixity", db, FRoot, manifest});
        QCOMPARE(r.Code, 0);
        QCOMPARE(r.Out, QStringLiteral("added=1 listed=0 recent=0 missing=0 unreadable=0 outside=2\n"));
        QCOMPARE(ReadAll(manifest), Sha("first") + "  2025/09/07/07092025072.wav\n");
    }

    void badArgumentsAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addRow("no manifest") << QStringList{"fixity", "db", "root"};
        QTest::addRow("from after to") << QStringList{"fixity", "db", "root", "m", "--from", "2025-09-02", "--to", "2025-09-01"};
        QTest::addRow("no such day") << QStringList{"fixity", "db", "root", "m", "--from", "2025-02-30"};
        QTest::addRow("audit without a manifest name") << QStringList{"audit", "db", "root", "--fixity"};
    }
    void badArgumentsAreRefused()
    {
        QFETCH(QStringList, args);
        QCOMPARE(Tool(args).Code, 2);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestuFixity)
#include "tst_uFixity.moc"
