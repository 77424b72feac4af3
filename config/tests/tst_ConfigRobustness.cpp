// Settings file under faults: the process killed at every write, sync and rename of a save, a full disk,
// and leftover temporary files. The settings are loaded and saved by `vornak-tool config APPDIR`, the
// same code the reader runs at start-up, so the process can be killed from outside.
#include "ConfigTestKit.h"
#include "TestMain.h"

#include <QTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <ctime>
#include <utime.h>

namespace {

// The reader's own file before the save: its database is missing, so loading adopts the recorder's paths
// and saves. Comments, unknown keys and sections must come through the save unchanged.
const QByteArray OldIni = "; kept by the operator\n"
                          "[Paths]\n"
                          "Database=/old/missing.sqlite\n"
                          "RootFolder=/old/root\n"
                          "Extra=keep me\n"
                          "ExportFolder=/old/export\n"
                          "\n"
                          "[Audio]\n"
                          "OutputDevice=2\n"
                          "[Other]\n"
                          "Foo=bar\n";

QByteArray RecorderIni(const QByteArray &ADatabase)
{
    return "[Paths]\nDatabase=" + ADatabase + "\nRootFolder=/new/recordings\n";
}

QString Tool()
{
    return qEnvironmentVariable("VORNAK_TOOL");
}

struct TRun {
    int exitCode = -1;
    bool crashed = false;
    QByteArray out, err;
};

TRun Run(const QString &AProgram, const QStringList &AArgs, const QStringList &AEnv = {})
{
    TRun r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : AEnv)
        env.insert(kv.section('=', 0, 0), kv.section('=', 1));
    p.setProcessEnvironment(env);
    p.start(AProgram, AArgs);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitCode();
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Files in the folder other than the two settings files: temporary files a killed save left behind.
QStringList Leftovers(const QString &ADir)
{
    QStringList names = QDir(ADir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeAll(IniName);
    names.removeAll("Vornak2026.ini");
    return names;
}

} // namespace

class TestConfigRobustness : public QObject {
    Q_OBJECT

    QByteArray FNewIni;  // what an undisturbed save writes from OldIni

private slots:
    void initTestCase()
    {
        if (Tool().isEmpty() || !QFile::exists(Tool()))
            QSKIP("VORNAK_TOOL is not set");
        QTemporaryDir tmp;
        QVERIFY(WriteAll(tmp.filePath(IniName), OldIni));
        QVERIFY(WriteAll(tmp.filePath("Vornak2026.ini"), RecorderIni("/new/catalogue.sqlite")));
        const TRun r = Run(Tool(), {"config", tmp.path()});
        if (r.err.contains("not available in this build"))
            QSKIP("vornak-tool config is not in this build");
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("Database=/new/catalogue.sqlite"), r.out.constData());
        FNewIni = ReadAll(tmp.filePath(IniName));
        QVERIFY(FNewIni != OldIni);
        QVERIFY(FNewIni.contains("Database=/new/catalogue.sqlite"));
        QVERIFY2(FNewIni.contains("; kept by the operator\n") && FNewIni.contains("Extra=keep me\n") &&
                     FNewIni.contains("[Other]\nFoo=bar\n"),
                 FNewIni.constData());
        QVERIFY(Leftovers(tmp.path()).isEmpty());
    }

    // Kills the save before its Nth call of the traced system calls, for N = 1, 2, ... until a run goes
    // through. After every kill the settings file is the old or the new file, whole; the next start reads
    // it (never a leftover temporary file) and completes the save.
    void saveKilledAtEveryStepLeavesOldOrNewFile_data()
    {
        QTest::addColumn<QString>("calls");
        QTest::addRow("write") << "write,writev,pwrite64";
        QTest::addRow("fsync") << "fsync,fdatasync";
        QTest::addRow("rename") << "rename,renameat,renameat2";
    }
    void saveKilledAtEveryStepLeavesOldOrNewFile()
    {
        QFETCH(QString, calls);
        const QString strace = QStandardPaths::findExecutable("strace");
        QVERIFY2(!strace.isEmpty(), "strace is not installed (tools/install.sh --no-build installs it)");
        QTemporaryDir tmp;
        const QString log = tmp.filePath("strace.log");
        const QString app = tmp.filePath("app");
        QVERIFY(QDir().mkpath(app));
        QVERIFY(WriteAll(app + "/Vornak2026.ini", RecorderIni("/new/catalogue.sqlite")));

        int kills = 0, oldSeen = 0, newSeen = 0;
        for (int n = 1; n <= 200; ++n) {
            QVERIFY(WriteAll(app + '/' + IniName, OldIni));
            QStringList args{"-f", "-o", log, "-e", "trace=" + calls};
            for (const QString &call : calls.split(','))
                args << "-e" << QString("inject=%1:signal=SIGKILL:when=%2").arg(call).arg(n);
            args << Tool() << "config" << app;
            const TRun r = Run(strace, args);
            const QByteArray trace = ReadAll(log);
            if (trace.contains("Operation not permitted") && trace.size() < 200)
                QSKIP("ptrace is not permitted here");
            const bool killed = r.crashed || trace.contains("killed by SIGKILL");
            const QByteArray now = ReadAll(app + '/' + IniName);
            QVERIFY2(now == OldIni || now == FNewIni,
                     qPrintable(QString("killed at %1 #%2, settings file is neither old nor new:\n%3")
                                    .arg(calls).arg(n).arg(QString::fromUtf8(now))));
            (now == OldIni ? oldSeen : newSeen)++;
            if (!killed) {
                QCOMPARE(r.exitCode, 0);
                QCOMPARE(now, FNewIni);
                break;
            }
            ++kills;
            // Plant bogus content in whatever the kill left behind: a later start must not read it.
            for (const QString &name : Leftovers(app))
                QVERIFY(WriteAll(app + '/' + name, "[Paths]\nDatabase=/bogus/leftover.sqlite\n"));
            const TRun again = Run(Tool(), {"config", app});
            QCOMPARE(again.exitCode, 0);
            QVERIFY2(!again.out.contains("/bogus/"), again.out.constData());
            QCOMPARE(ReadAll(app + '/' + IniName), FNewIni);
        }
        qInfo("%s: %d kills survived (old file kept %d times, new file %d times)", qPrintable(calls), kills,
              oldSeen, newSeen);
        QVERIFY2(kills > 0, qPrintable("a save made no " + calls + " call"));
    }

    // A save killed between writing its temporary file and the rename leaves that file behind; a later save
    // removes it once it is a minute old, and keeps one that is younger (it may be another save's, running).
    void killedSavesLeftoverIsRemovedByALaterSave()
    {
        const QString strace = QStandardPaths::findExecutable("strace");
        QVERIFY2(!strace.isEmpty(), "strace is not installed (tools/install.sh --no-build installs it)");
        QTemporaryDir tmp;
        const QString log = tmp.filePath("strace.log");
        const QString app = tmp.filePath("app");
        QVERIFY(QDir().mkpath(app));
        QVERIFY(WriteAll(app + "/Vornak2026.ini", RecorderIni("/new/catalogue.sqlite")));
        QVERIFY(WriteAll(app + '/' + IniName, OldIni));
        QStringList args{"-f", "-o", log, "-e", "trace=rename,renameat,renameat2"};
        for (const char *call : {"rename", "renameat", "renameat2"})
            args << "-e" << QString("inject=%1:signal=SIGKILL:when=1").arg(call);
        const TRun killed = Run(strace, QStringList(args) << Tool() << "config" << app);
        if (ReadAll(log).contains("Operation not permitted") && ReadAll(log).size() < 200)
            QSKIP("ptrace is not permitted here");
        QVERIFY(killed.crashed || ReadAll(log).contains("killed by SIGKILL"));
        QCOMPARE(ReadAll(app + '/' + IniName), OldIni);
        const QStringList left = Leftovers(app);
        QCOMPARE(left.size(), 1);
        QVERIFY2(QRegularExpression(QString("^\\.%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(IniName)))
                     .match(left[0])
                     .hasMatch(),
                 qPrintable(left[0]));

        // Made old; a fresh one of the same pattern beside it, and an old file of another name.
        struct utimbuf old;
        old.actime = old.modtime = ::time(nullptr) - 120;
        QVERIFY(::utime(QFile::encodeName(app + '/' + left[0]).constData(), &old) == 0);
        const QString fresh = "." + QString(IniName) + ".Fresh1";
        const QString other = "." + QString(IniName) + ".swp";
        QVERIFY(WriteAll(app + '/' + fresh, "x"));
        QVERIFY(WriteAll(app + '/' + other, "x"));
        QVERIFY(::utime(QFile::encodeName(app + '/' + other).constData(), &old) == 0);
        const TRun r = Run(Tool(), {"config", app});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(ReadAll(app + '/' + IniName), FNewIni);
        QStringList now = Leftovers(app);
        now.sort();
        QCOMPARE(now, (QStringList{fresh, other}));
    }

    // A first start killed in the middle of creating the file: the next start must not take a leftover
    // temporary file for the settings.
    void leftoverTemporaryFileIsNeverReadAsSettings()
    {
        QTemporaryDir tmp;
        QVERIFY(WriteAll(tmp.filePath("Vornak2026.ini"), RecorderIni("/new/catalogue.sqlite")));
        for (const QString &name : {QString(IniName) + ".tmp", QString(IniName) + ".XyZ123", QString(IniName) + "~",
                                    "." + QString(IniName) + ".swp"})
            QVERIFY(WriteAll(tmp.filePath(name), "[Paths]\nDatabase=/bogus/leftover.sqlite\n"));
        const TRun r = Run(Tool(), {"config", tmp.path()});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("Database=/new/catalogue.sqlite"), r.out.constData());
        QVERIFY(!ReadAll(tmp.filePath(IniName)).contains("/bogus/"));
    }

    // `vornak-tool config` decides as the reader does: an APPDIR it cannot write (a read-only bind mount;
    // as root, file modes do not stop writes) keeps its settings in the user's configuration folder.
    void toolKeepsTheSettingsOfAnUnwritableFolderInTheUsersFolder()
    {
        QTemporaryDir tmp;
        const QString app = tmp.filePath("bin");
        QVERIFY(QDir().mkpath(app));
        QVERIFY(WriteAll(app + "/Vornak2026.ini", RecorderIni("/new/catalogue.sqlite")));
        if (mount(QFile::encodeName(app).constData(), QFile::encodeName(app).constData(), nullptr, MS_BIND, nullptr) != 0)
            QSKIP("cannot make a read-only bind mount here (needs root)");
        struct Unmount {
            QByteArray path;
            ~Unmount() { umount2(path.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(app)};
        QVERIFY(mount(nullptr, QFile::encodeName(app).constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0);

        const TRun r = Run(Tool(), {"config", app}, {"XDG_CONFIG_HOME=" + tmp.filePath("cfg")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("Database=/new/catalogue.sqlite\nRootFolder=/new/recordings\n"), r.out.constData());
        QVERIFY(ReadAll(tmp.filePath("cfg/VornakReader2026/") + IniName).contains("Database=/new/catalogue.sqlite\n"));
        QCOMPARE(QDir(app).entryList(QDir::Files | QDir::Hidden), QStringList{"Vornak2026.ini"});
    }

    // A disk with no room left: the save fails with "Unable to write to <file>" and the old file stays.
    void fullDiskRaisesUnableToWriteAndKeepsOldFile()
    {
        QTemporaryDir tmp;
        const QString disk = tmp.filePath("disk");
        QVERIFY(QDir().mkpath(disk));
        if (mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        struct Unmount {
            QByteArray path;
            ~Unmount() { umount2(path.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(disk)};

        const QString ini = disk + '/' + IniName;
        QVERIFY(WriteAll(ini, OldIni));
        // A long database path makes the new file larger than the old one.
        QVERIFY(WriteAll(disk + "/Vornak2026.ini", RecorderIni("/new/" + QByteArray(1500, 'x') + ".sqlite")));
        {
            QFile filler(disk + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(512, 'f');
            while (filler.write(block) == block.size()) {
            }
            const QByteArray byte(1, 'f');
            while (filler.write(byte) == 1) {
            }
        }
        const TRun r = Run(Tool(), {"config", disk});
        QVERIFY2(!r.crashed, r.err.constData());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("Unable to write to ") && r.err.contains(IniName), r.err.constData());
        QCOMPARE(ReadAll(ini), OldIni);
        QVERIFY2(Leftovers(disk) == QStringList{"filler"}, qPrintable(Leftovers(disk).join(", ")));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestConfigRobustness)
#include "tst_ConfigRobustness.moc"
