// Settings store: first start, adopting the recorder's paths from the five places, an existing settings
// file, the user's folders of a system install, and saves that are refused (bad values, read-only folder,
// full disk) without harming the file.
#include "ConfigTestKit.h"
#include "TestMain.h"
#include "uReaderConfig.h"
#include "uReaderTypes.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

#include <sys/mount.h>

namespace {

QString Documents()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// Mounts something on dir for the life of the object; ok tells whether it worked.
struct TMount {
    QByteArray path;
    bool ok = false;
    ~TMount()
    {
        if (ok)
            umount2(path.constData(), MNT_DETACH);
    }
    bool ReadOnlyBind(const QString &ADir)
    {
        path = QFile::encodeName(ADir);
        ok = mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0;
        if (ok && mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            umount2(path.constData(), MNT_DETACH);
            ok = false;
        }
        return ok;
    }
    bool Tmpfs(const QString &ADir, const char *AOptions)
    {
        path = QFile::encodeName(ADir);
        ok = mount("tmpfs", path.constData(), "tmpfs", 0, AOptions) == 0;
        return ok;
    }
};

// Sets environment variables for the life of the object (an empty value unsets) and restores them after.
struct TEnv {
    QList<QPair<QByteArray, QByteArray>> saved;
    QList<bool> had;
    TEnv(const QList<QPair<QByteArray, QByteArray>> &AValues)
    {
        for (const auto &kv : AValues) {
            had << qEnvironmentVariableIsSet(kv.first.constData());
            saved << qMakePair(kv.first, qgetenv(kv.first.constData()));
            if (kv.second.isEmpty())
                qunsetenv(kv.first.constData());
            else
                qputenv(kv.first.constData(), kv.second);
        }
    }
    ~TEnv()
    {
        for (int i = 0; i < saved.size(); ++i) {
            if (had[i])
                qputenv(saved[i].first.constData(), saved[i].second);
            else
                qunsetenv(saved[i].first.constData());
        }
    }
};

QString ErrorOf(const std::function<void()> &AAction)
{
    try {
        AAction();
    } catch (const EReaderError &e) {
        return e.Message();
    }
    return QString();
}

} // namespace

class TestReaderConfig : public QObject {
    Q_OBJECT

private slots:
    void firstStartWritesTheDefaults()
    {
        QTemporaryDir tmp;
        const QString app = tmp.filePath("app");
        QVERIFY(QDir().mkpath(app));
        const TConfig cfg(app);
        QCOMPARE(cfg.DatabasePath(), app + "/Vornak2026.sqlite");
        QCOMPARE(cfg.RecordingsRoot(), app + "/Recordings");
        QCOMPARE(cfg.ExportFolder(), Documents());
        QCOMPARE(cfg.OutputDevice(), -1);
        QCOMPARE(ReadAll(app + '/' + IniName), ("[Paths]\nDatabase=" + app + "/Vornak2026.sqlite\nRootFolder=" + app +
                                                "/Recordings\nExportFolder=" + Documents() + "\n[Audio]\nOutputDevice=-1\n")
                                                   .toUtf8());
        QCOMPARE(QDir(app).entryList(QDir::Files | QDir::Hidden), QStringList{IniName});
    }

    void recorderFileIsLookedForInFivePlaces_data()
    {
        QTest::addColumn<QString>("appDir");
        QTest::addColumn<QStringList>("candidates");
        const QString n = "Vornak2026.ini";
        QTest::addRow("deep") << "/opt/x/reader/" << QStringList{"/opt/x/reader/" + n, "/opt/Vornak2026/bin/" + n,
                                                                 "/opt/x/Vornak2026/bin/" + n, "/opt/Vornak2026/" + n,
                                                                 "/opt/x/Vornak2026/" + n};
        QTest::addRow("one below the root") << "/reader" << QStringList{"/reader/" + n, "/Vornak2026/bin/" + n,
                                                                        "/Vornak2026/bin/" + n, "/Vornak2026/" + n,
                                                                        "/Vornak2026/" + n};
        QTest::addRow("the root") << "/" << QStringList{"/" + n, "/Vornak2026/bin/" + n, "/Vornak2026/bin/" + n,
                                                        "/Vornak2026/" + n, "/Vornak2026/" + n};
    }
    void recorderFileIsLookedForInFivePlaces()
    {
        QFETCH(QString, appDir);
        QFETCH(QStringList, candidates);
        QCOMPARE(TConfig::RecorderIniCandidates(appDir), candidates);
    }

    // The executable's folder decides: writable, everything beside it as ever; not writable (a system
    // install), the user's configuration and data folders, and two more places for the recorder's file.
    void placesFollowWhetherTheExecutablesFolderIsWritable_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QByteArray>("xdgConfig");
        QTest::addColumn<QByteArray>("xdgData");
        QTest::addColumn<QString>("settingsDir");
        QTest::addColumn<QString>("demoDir");
        const QString app = "/opt/x/reader/";
        QTest::addRow("writable folder") << true << QByteArray("/cfg") << QByteArray("/data") << app << app;
        QTest::addRow("unwritable, XDG set") << false << QByteArray("/cfg") << QByteArray("/data/")
                                             << "/cfg/VornakReader2026/" << "/data/VornakReader2026/";
        QTest::addRow("unwritable, XDG unset") << false << QByteArray() << QByteArray()
                                               << "/home/op/.config/VornakReader2026/"
                                               << "/home/op/.local/share/VornakReader2026/";
        QTest::addRow("unwritable, XDG relative is ignored") << false << QByteArray("cfg") << QByteArray("data")
                                                             << "/home/op/.config/VornakReader2026/"
                                                             << "/home/op/.local/share/VornakReader2026/";
    }
    void placesFollowWhetherTheExecutablesFolderIsWritable()
    {
        QFETCH(bool, writable);
        QFETCH(QByteArray, xdgConfig);
        QFETCH(QByteArray, xdgData);
        QFETCH(QString, demoDir);
        const TEnv env({{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", xdgConfig}, {"XDG_DATA_HOME", xdgData}});
        const TSettingsPlaces places = SettingsPlaces("/opt/x/reader", writable);
        QCOMPARE(places.AppDir, QString("/opt/x/reader/"));
        QTEST(places.SettingsDir, "settingsDir");
        QCOMPARE(places.DemoDir, demoDir);
        QCOMPARE(places.Portable, writable);
        QStringList candidates = TConfig::RecorderIniCandidates("/opt/x/reader/");
        if (!writable)
            candidates << "/etc/Vornak2026/Vornak2026.ini" << demoDir + "Vornak2026.ini";
        QCOMPARE(places.RecorderIniCandidates, candidates);
    }

    // A system install: the settings file is made in the user's folder (and that folder with it), nothing
    // beside the executable; a recorder in the five places comes before the demo's own file.
    void systemInstallKeepsItsSettingsInTheUsersFolder_data()
    {
        QTest::addColumn<bool>("besideTheExecutable");  // a recorder file at candidate 1 as well
        QTest::addColumn<QString>("database");
        QTest::addRow("the demo's file alone") << false << "/demo.sqlite";
        QTest::addRow("a recorder beside the executable first") << true << "/rec.sqlite";
    }
    void systemInstallKeepsItsSettingsInTheUsersFolder()
    {
        QFETCH(bool, besideTheExecutable);
        QFETCH(QString, database);
        QTemporaryDir tmp;
        const QString app = tmp.filePath("usr/bin/");
        QVERIFY(QDir().mkpath(app));
        const TEnv env({{"XDG_CONFIG_HOME", QFile::encodeName(tmp.filePath("cfg"))},
                        {"XDG_DATA_HOME", QFile::encodeName(tmp.filePath("data"))}});
        const TSettingsPlaces places = SettingsPlaces(app, false);
        QVERIFY(WriteAll(places.DemoDir + "Vornak2026.ini", "[Paths]\nDatabase=/demo.sqlite\n"));
        if (besideTheExecutable)
            QVERIFY(WriteAll(app + "Vornak2026.ini", "[Paths]\nDatabase=/rec.sqlite\n"));
        const TConfig cfg(places);
        QCOMPARE(cfg.IniPath(), tmp.filePath("cfg/VornakReader2026/") + IniName);
        QCOMPARE(cfg.DatabasePath(), database);
        QVERIFY(ReadAll(cfg.IniPath()).contains(("Database=" + database + "\n").toUtf8()));
        QVERIFY(!QFileInfo::exists(app + IniName));
        // The next start reads the same file.
        QVERIFY(WriteAll(tmp.filePath("cat.sqlite"), "x"));
        {
            TConfig again(places);
            again.SetDatabasePath(tmp.filePath("cat.sqlite"));
            again.Save();
        }
        QCOMPARE(TConfig(places).DatabasePath(), tmp.filePath("cat.sqlite"));
    }

    void recorderPathsAreAdoptedOnFirstStart_data()
    {
        // Files: candidate number (1..5) -> content. The application folder is G/P/app.
        QTest::addColumn<QList<int>>("where");
        QTest::addColumn<QList<QByteArray>>("contents");
        QTest::addColumn<QString>("database");  // "" = the default
        QTest::addColumn<QString>("root");
        const QByteArray both = "[Paths]\nDatabase=/rec/db.sqlite\nRootFolder=/rec/root\n";
        QTest::addRow("only at candidate 3") << QList<int>{3} << QList<QByteArray>{both} << "/rec/db.sqlite"
                                             << "/rec/root";
        QTest::addRow("root from 1, both from 2")
            << QList<int>{1, 2} << QList<QByteArray>{"[Paths]\nRootFolder=/one/root\n", "[paths]\ndatabase=/two.sqlite\nrootfolder=/two/root\n"}
            << "/two.sqlite" << "/two/root";
        QTest::addRow("root from 1, nothing else") << QList<int>{1} << QList<QByteArray>{"[Paths]\nRootFolder=/one/root\n"}
                                                   << "" << "/one/root";
        QTest::addRow("earlier candidate wins")
            << QList<int>{4, 5} << QList<QByteArray>{"[Paths]\nDatabase=/four.sqlite\n", "[Paths]\nDatabase=/five.sqlite\n"}
            << "/four.sqlite" << "";
        QTest::addRow("empty database value goes on")
            << QList<int>{2, 5} << QList<QByteArray>{"[Paths]\nDatabase=\nRootFolder=/two/root\n", "[Paths]\nDatabase=/five.sqlite\n"}
            << "/five.sqlite" << "/two/root";
        QTest::addRow("UTF-16 file with CRLF")
            << QList<int>{1} << QList<QByteArray>{Utf16(QString::fromUtf8("[Paths]\r\nDatabase=/é.sqlite\r\n"))}
            << QString::fromUtf8("/é.sqlite") << "";
    }
    void recorderPathsAreAdoptedOnFirstStart()
    {
        QFETCH(QList<int>, where);
        QFETCH(QList<QByteArray>, contents);
        QFETCH(QString, database);
        QFETCH(QString, root);
        QTemporaryDir tmp;
        const QString app = tmp.filePath("G/P/app/");
        QVERIFY(QDir().mkpath(app));
        const QStringList candidates = TConfig::RecorderIniCandidates(app);
        for (int i = 0; i < where.size(); ++i)
            QVERIFY(WriteAll(candidates[where[i] - 1], contents[i]));
        const TConfig cfg(app);
        QCOMPARE(cfg.DatabasePath(), database.isEmpty() ? app + "Vornak2026.sqlite" : database);
        QCOMPARE(cfg.RecordingsRoot(), root.isEmpty() ? app + "Recordings" : root);
        const QByteArray ini = ReadAll(app + IniName);
        QVERIFY(ini.contains(("Database=" + cfg.DatabasePath() + "\n").toUtf8()));
        QVERIFY(ini.contains(("RootFolder=" + cfg.RecordingsRoot() + "\n").toUtf8()));
    }

    void existingSettingsWithTheirDatabaseAreOnlyRead()
    {
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + "cat.sqlite", "x"));
        const QByteArray ini = "[PATHS]\r\ndatabase = " + QFile::encodeName(app) + "cat.sqlite\r\nRootFolder=\r\n"
                               "[Audio]\r\nOutputDevice=0x3\r\n";
        QVERIFY(WriteAll(app + IniName, ini));
        QVERIFY(WriteAll(app + "Vornak2026.ini", "[Paths]\nDatabase=/rec.sqlite\n"));
        // Dated back, so that any rewrite shows in the time stamp without waiting for the clock to move on.
        QFile dated(app + IniName);
        QVERIFY(dated.open(QIODevice::ReadWrite));
        QVERIFY(dated.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000, Qt::UTC), QFileDevice::FileModificationTime));
        dated.close();
        const QDateTime stamp = QFileInfo(app + IniName).lastModified();
        const TConfig cfg(app);
        QCOMPARE(cfg.DatabasePath(), app + "cat.sqlite");
        QCOMPARE(cfg.RecordingsRoot(), QString());  // present and empty
        QCOMPARE(cfg.ExportFolder(), Documents());  // missing: the default
        QCOMPARE(cfg.OutputDevice(), 3);
        QCOMPARE(ReadAll(app + IniName), ini);
        QCOMPARE(QFileInfo(app + IniName).lastModified(), stamp);
    }

    void missingDatabaseAdoptsRecorderPathsAndKeepsTheRest_data()
    {
        QTest::addColumn<QByteArray>("database");  // the value in the settings file
        QTest::addColumn<QByteArray>("recorder");  // empty = no recorder file
        QTest::addColumn<QByteArray>("paths");     // the two path lines after the load
        QTest::addRow("recorder with database only") << QByteArray("/missing.sqlite")
                                                     << QByteArray("[Paths]\nDatabase=/rec.sqlite\n")
                                                     << QByteArray("Database=/rec.sqlite\nRootFolder=/old/root\n");
        QTest::addRow("no recorder file") << QByteArray("/missing.sqlite") << QByteArray()
                                          << QByteArray("Database=/missing.sqlite\nRootFolder=/old/root\n");
        QTest::addRow("empty database value counts as missing")
            << QByteArray("") << QByteArray("[Paths]\nDatabase=/rec.sqlite\nRootFolder=/rec/root\n")
            << QByteArray("Database=/rec.sqlite\nRootFolder=/rec/root\n");
    }
    void missingDatabaseAdoptsRecorderPathsAndKeepsTheRest()
    {
        QFETCH(QByteArray, database);
        QFETCH(QByteArray, recorder);
        QFETCH(QByteArray, paths);
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + IniName, "; operator's note\n[Paths]\nDatabase=" + database +
                                            "\nRootFolder=/old/root\nExtra=1\nExportFolder=/exp\n\n[Audio]\n"
                                            "OutputDevice=$10\n"));
        if (!recorder.isEmpty())
            QVERIFY(WriteAll(app + "Vornak2026.ini", recorder));
        const TConfig cfg(app);
        QCOMPARE(cfg.ExportFolder(), QString("/exp"));
        QCOMPARE(cfg.OutputDevice(), 16);
        QCOMPARE(ReadAll(app + IniName), "; operator's note\n[Paths]\n" + paths +
                                             "Extra=1\nExportFolder=/exp\n\n[Audio]\nOutputDevice=16\n");
    }

    void saveRefusesAValueThatWouldInjectKeys_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addRow("line break") << "/x\n[Audio]\nOutputDevice=9";
        QTest::addRow("carriage return") << "/x\rDatabase=/evil";
        QTest::addRow("NUL") << QString("/x") + QChar(0) + "y";
    }
    void saveRefusesAValueThatWouldInjectKeys()
    {
        QFETCH(QString, value);
        QTemporaryDir tmp;
        TConfig cfg(tmp.path());
        const QByteArray before = ReadAll(tmp.filePath(IniName));
        cfg.SetExportFolder(value);
        const QString error = ErrorOf([&] { cfg.Save(); });
        QVERIFY2(error.contains("ExportFolder"), qPrintable(error));
        QCOMPARE(ReadAll(tmp.filePath(IniName)), before);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{IniName});
    }

    // The listening choices are saved into [Playback] and read back; every other line, unknown keys of
    // the section included, stays as it was, and a reader that never changed them writes no such section.
    void playbackChoicesRoundTripKeepingOtherLines()
    {
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + "cat.sqlite", "x"));
        const QByteArray head = "; note\r\n[Paths]\r\nDatabase=" + QFile::encodeName(app) +
                                "cat.sqlite\r\nRootFolder=/r\r\nExportFolder=/e\r\n[Audio]\r\nOutputDevice=2\r\n";
        QVERIFY(WriteAll(app + IniName, head + "[Playback]\r\nVolume=7\r\n[Later]\r\nKey=v\r\n"));
        {
            TConfig cfg(app);
            QCOMPARE(cfg.PlaySpeed(), 1.0);
            QCOMPARE(cfg.PlayChannel(), TChannelMode::cmBoth);
            cfg.SetPlaySpeed(0.75);
            cfg.SetPlayChannel(TChannelMode::cmRight);
            cfg.SetLoopSelection(true);
            cfg.Save();
        }
        QCOMPARE(ReadAll(app + IniName), head + "[Playback]\r\nVolume=7\r\nSpeed=0.75\r\nChannel=right\r\nLoop=1\r\n"
                                                "[Later]\r\nKey=v\r\n");
        {
            TConfig cfg(app);
            QCOMPARE(cfg.PlaySpeed(), 0.75);
            QCOMPARE(cfg.PlayChannel(), TChannelMode::cmRight);
            QVERIFY(cfg.LoopSelection());
            QVERIFY(!cfg.SkipSilence());
            // Back to the defaults: keys that are there are rewritten, the missing one stays missing.
            cfg.SetPlaySpeed(1.0);
            cfg.SetPlayChannel(TChannelMode::cmBoth);
            cfg.SetLoopSelection(false);
            cfg.Save();
        }
        QCOMPARE(ReadAll(app + IniName), head + "[Playback]\r\nVolume=7\r\nSpeed=1\r\nChannel=both\r\nLoop=0\r\n"
                                                "[Later]\r\nKey=v\r\n");
        TConfig cfg(app);
        cfg.SetSkipSilence(true);
        cfg.SetPlaySpeed(2.0);
        cfg.Save();
        const TConfig again(app);
        QVERIFY(again.SkipSilence());
        QCOMPARE(again.PlaySpeed(), 2.0);
        QCOMPARE(again.DatabasePath(), app + "cat.sqlite");
        QCOMPARE(again.OutputDevice(), 2);
    }

    void evidenceRecordChoiceIsWrittenOnceSetAndReadBack()
    {
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + "cat.sqlite", "x"));
        const QByteArray head = "[Paths]\nDatabase=" + QFile::encodeName(app) + "cat.sqlite\n";
        QVERIFY(WriteAll(app + IniName, head));
        {
            TConfig cfg(app);
            QVERIFY(!cfg.EvidenceRecord());
            cfg.Save();
            QVERIFY(!ReadAll(app + IniName).contains("Export]"));  // off and never set: no section
            cfg.SetEvidenceRecord(true);
            cfg.Save();
        }
        QVERIFY(ReadAll(app + IniName).contains("[Export]\nEvidenceRecord=1\n"));
        TConfig cfg(app);
        QVERIFY(cfg.EvidenceRecord());
        cfg.SetEvidenceRecord(false);
        cfg.Save();
        QVERIFY(ReadAll(app + IniName).contains("[Export]\nEvidenceRecord=0\n"));
        QVERIFY(!TConfig(app).EvidenceRecord());
    }

    void playbackValuesAreReadForgivingly_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<double>("speed");
        QTest::addColumn<TChannelMode>("channel");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("skip");
        const auto both = TChannelMode::cmBoth;
        QTest::addRow("none") << QByteArray() << 1.0 << both << false << false;
        QTest::addRow("every step") << QByteArray("Speed=1.25\nChannel=left\nLoop=1\nSkipSilence=1\n") << 1.25
                                    << TChannelMode::cmLeft << true << true;
        QTest::addRow("decimal comma, capitals") << QByteArray("speed=0,5\nCHANNEL=Right\n") << 0.5
                                                 << TChannelMode::cmRight << false << false;
        QTest::addRow("between steps: the nearest") << QByteArray("Speed=1.3\n") << 1.25 << both << false << false;
        QTest::addRow("too fast") << QByteArray("Speed=3\n") << 1.0 << both << false << false;
        QTest::addRow("too slow") << QByteArray("Speed=0.25\n") << 1.0 << both << false << false;
        QTest::addRow("not a number") << QByteArray("Speed=snel\nLoop=ja\nSkipSilence=\n") << 1.0 << both << false
                                      << false;
        QTest::addRow("unknown channel") << QByteArray("Channel=mono\n") << 1.0 << both << false << false;
        QTest::addRow("other numbers are on") << QByteArray("Loop=2\nSkipSilence=-1\n") << 1.0 << both << true << true;
    }
    void playbackValuesAreReadForgivingly()
    {
        QFETCH(QByteArray, lines);
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + "cat.sqlite", "x"));
        QVERIFY(WriteAll(app + IniName, "[Paths]\nDatabase=" + QFile::encodeName(app) + "cat.sqlite\n[Playback]\n" + lines));
        const TConfig cfg(app);
        QTEST(cfg.PlaySpeed(), "speed");
        QTEST(cfg.PlayChannel(), "channel");
        QTEST(cfg.LoopSelection(), "loop");
        QTEST(cfg.SkipSilence(), "skip");
    }

    void cacheSectionIsReadForgivinglyAndKept_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("maxMB");
        QTest::addRow("none: the per-user folder, 256 MB") << QByteArray() << QString() << 256;
        QTest::addRow("a shared folder and a bound") << QByteArray("Folder=/srv/vornak/cache\nMaxMB=2048\n")
                                                     << "/srv/vornak/cache" << 2048;
        QTest::addRow("bound not a number") << QByteArray("MaxMB=veel\n") << QString() << 256;
        QTest::addRow("bound below 1") << QByteArray("MaxMB=0\n") << QString() << 256;
    }
    void cacheSectionIsReadForgivinglyAndKept()
    {
        QFETCH(QByteArray, lines);
        QTemporaryDir tmp;
        const QString app = tmp.path() + '/';
        QVERIFY(WriteAll(app + "cat.sqlite", "x"));
        QVERIFY(WriteAll(app + IniName, "[Paths]\nDatabase=" + QFile::encodeName(app) + "cat.sqlite\n[Cache]\n" + lines));
        TConfig cfg(app);
        QTEST(cfg.CacheFolder(), "folder");
        QTEST(cfg.CacheMaxMB(), "maxMB");
        cfg.Save();  // a save keeps what was read
        const TConfig again(app);
        QTEST(again.CacheFolder(), "folder");
        QTEST(again.CacheMaxMB(), "maxMB");
    }

    // A real read-only folder (a bind mount: as root, file modes do not stop writes). The executable's
    // folder read-only: the settings go to the user's folder; that one read-only too: the start fails.
    void unwritableFolderRaisesUnableToWrite()
    {
        QTemporaryDir tmp;
        const QString app = tmp.filePath("app");
        const QString old = tmp.filePath("old");
        const QString cfg = tmp.filePath("cfg");
        for (const QString &dir : {app, old, cfg})
            QVERIFY(QDir().mkpath(dir));
        TConfig existing(old);
        const QByteArray before = ReadAll(old + '/' + IniName);
        TMount roApp, roOld;
        if (!roApp.ReadOnlyBind(app) || !roOld.ReadOnlyBind(old))
            QSKIP("cannot make a read-only bind mount here (needs root)");
        QVERIFY(!FolderWritable(app));
        const TEnv env({{"XDG_CONFIG_HOME", QFile::encodeName(cfg)}});
        // First start of a system install: the settings file lands in the user's folder.
        QCOMPARE(TConfig(app).IniPath(), cfg + "/VornakReader2026/" + IniName);
        QVERIFY(QFileInfo::exists(cfg + "/VornakReader2026/" + IniName));
        QVERIFY(QDir(app).entryList(QDir::Files | QDir::Hidden).isEmpty());
        // The user's folder cannot be written either: the settings file cannot be created.
        QVERIFY(QDir(cfg + "/VornakReader2026").removeRecursively());
        TMount roCfg;
        QVERIFY(roCfg.ReadOnlyBind(cfg));
        QCOMPARE(ErrorOf([&] { TConfig c(app); }), "Unable to write to " + cfg + "/VornakReader2026/" + IniName);
        QVERIFY(QDir(cfg).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
        // A later save: the old file stays.
        existing.SetOutputDevice(5);
        QCOMPARE(ErrorOf([&] { existing.Save(); }), "Unable to write to " + old + '/' + IniName);
        QCOMPARE(ReadAll(old + '/' + IniName), before);
    }

    void fullDiskRaisesUnableToWriteAndKeepsTheOldFile()
    {
        QTemporaryDir tmp;
        const QString disk = tmp.filePath("disk");
        QVERIFY(QDir().mkpath(disk));
        TMount m;
        if (!m.Tmpfs(disk, "size=32k"))
            QSKIP("cannot mount a small tmpfs here (needs root)");
        TConfig cfg(disk);
        const QByteArray before = ReadAll(disk + '/' + IniName);
        {
            QFile filler(disk + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(512, 'f');
            while (filler.write(block) == block.size()) {
            }
            while (filler.write("f", 1) == 1) {
            }
        }
        cfg.SetExportFolder("/" + QString(2000, 'e'));
        QCOMPARE(ErrorOf([&] { cfg.Save(); }), "Unable to write to " + disk + '/' + IniName);
        QCOMPARE(ReadAll(disk + '/' + IniName), before);
        const QStringList files = QDir(disk).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(QSet<QString>(files.begin(), files.end()), (QSet<QString>{IniName, "filler"}));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestReaderConfig)
#include "tst_uReaderConfig.moc"
