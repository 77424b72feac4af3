// vornak-tool's catalogue and settings commands as scripts see them: exact output lines, escaping and
// exit codes (0 ok, 1 error with its message on standard error, 2 bad arguments, 3 not found).
#include "CatalogueFixture.h"
#include "TestMain.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace fixture;

class TestReaderDataTool : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FDb;

    struct TRun {
        int code = -1;
        QString out, err;
    };
    TRun Run(const QStringList &AArgs)
    {
        QProcess p;
        p.start(qEnvironmentVariable("VORNAK_TOOL"), AArgs);
        TRun r;
        if (!p.waitForFinished(30000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QStringList Expand(QStringList AArgs) const
    {
        for (QString &a : AArgs)
            a.replace("{db}", FDb).replace("{dir}", FDir.path());
        return AArgs;
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(qEnvironmentVariable("VORNAK_TOOL")))
            QSKIP("VORNAK_TOOL is not set");
        FDb = FDir.filePath("cat.sqlite");
        TRow odd = Rec(3, "2025-09-01 09:00:00", 9, 1, "01092025091.mp3", 3600, "a\tb\\c", "Piet\r\nMarie");
        odd.filepath = FDir.filePath("stored.mp3");
        CreateCatalogue(FDb, {Rec(1, "2025-09-01 07:10:00", 7, 1, "01092025071.mp3", 60, "Overleg Jan"),
                              Rec(2, "2025-09-01 07:40:00", 7, 2, "01092025072.mp3", 75), odd});
        QFile stored(FDir.filePath("stored.mp3"));
        QVERIFY(stored.open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(FDir.filePath("root/2025/09/01")));
        QFile underRoot(FDir.filePath("root/2025/09/01/01092025071.mp3"));
        QVERIFY(underRoot.open(QIODevice::WriteOnly));
        QFile empty(FDir.filePath("empty.sqlite"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        QFile text(FDir.filePath("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Geen database, maar een notitie van een paar regels.\n");
    }

    void commandsPrintTheirContract_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");  // a part of standard error
        const QString line1 = "id=1\trec_dt=2025-09-01 07:10:00\trec_date=2025-09-01\trec_hour=7\trec_number=1\t"
                              "format=MP3\tfilename=01092025071.mp3\tfilepath=/nonexistent/01092025071.mp3\t"
                              "title=Overleg Jan\tpersons=\tduration_sec=60\n";
        const QString line2 = "id=2\trec_dt=2025-09-01 07:40:00\trec_date=2025-09-01\trec_hour=7\trec_number=2\t"
                              "format=MP3\tfilename=01092025072.mp3\tfilepath=/nonexistent/01092025072.mp3\t"
                              "title=\tpersons=\tduration_sec=75\n";
        const QString line3 = "id=3\trec_dt=2025-09-01 09:00:00\trec_date=2025-09-01\trec_hour=9\trec_number=1\t"
                              "format=MP3\tfilename=01092025091.mp3\tfilepath={dir}/stored.mp3\t"
                              "title=a\\tb\\\\c\tpersons=Piet\\r\\nMarie\tduration_sec=3600\n";
        QTest::addRow("format-duration") << QStringList{"format-duration", "3599.5"} << 0 << "1:00:00\n" << "";
        QTest::addRow("format-time") << QStringList{"format-time", "2.0625"} << 0 << "00:02.062\n" << "";
        QTest::addRow("format-time not a number") << QStringList{"format-time", "x"} << 2 << "" << "usage";
        QTest::addRow("hours") << QStringList{"hours", "{db}", "2025-09-01"} << 0 << "7,9\n" << "";
        QTest::addRow("hours none") << QStringList{"hours", "{db}", "2025-09-02"} << 0 << "\n" << "";
        QTest::addRow("hours bad date") << QStringList{"hours", "{db}", "1-9-2025"} << 2 << "" << "usage";
        QTest::addRow("hours missing catalogue") << QStringList{"hours", "{dir}/none.sqlite", "2025-09-01"} << 1 << ""
                                                 << "Databasebestand niet gevonden: {dir}/none.sqlite";
        QTest::addRow("hours on an empty file") << QStringList{"hours", "{dir}/empty.sqlite", "2025-09-01"} << 1 << ""
                                                << "De database bevat de opnametabel van Vornak 2026 niet. (SQLite: "
                                                   "no such table: recordings)\n";
        QTest::addRow("search on a text file") << QStringList{"search", "{dir}/notes.txt"} << 1 << ""
                                               << "Het bestand is geen database. (SQLite: file is not a database)\n";
        QTest::addRow("search all") << QStringList{"search", "{db}"} << 0 << line1 + line2 + line3 << "";
        QTest::addRow("search date and hour") << QStringList{"search", "{db}", "--date", "2025-09-01", "--hour", "7"}
                                              << 0 << line1 + line2 << "";
        QTest::addRow("search name, escaped values") << QStringList{"search", "{db}", "--name", "marie"} << 0 << line3
                                                     << "";
        QTest::addRow("search nothing") << QStringList{"search", "{db}", "--name", "zzz"} << 0 << "" << "";
        QTest::addRow("search unknown option") << QStringList{"search", "{db}", "--what", "1"} << 2 << "" << "usage";
        QTest::addRow("find-stem") << QStringList{"find-stem", "{db}", "0109202507"} << 0 << line1 << "";
        QTest::addRow("find-stem none") << QStringList{"find-stem", "{db}", "0209202507"} << 3 << "" << "";
        QTest::addRow("resolve stored path") << QStringList{"resolve", "{db}", "3", "{dir}/root"} << 0
                                             << "{dir}/stored.mp3\n" << "";
        QTest::addRow("resolve under root") << QStringList{"resolve", "{db}", "1", "{dir}/root"} << 0
                                            << "{dir}/root/2025/09/01/01092025071.mp3\n" << "";
        QTest::addRow("resolve neither") << QStringList{"resolve", "{db}", "2", "{dir}/root"} << 0
                                         << "/nonexistent/01092025072.mp3\n" << "";
        QTest::addRow("resolve unknown id") << QStringList{"resolve", "{db}", "9", "{dir}/root"} << 3 << "" << "";
        QTest::addRow("set-meta wrong file") << QStringList{"set-meta", "{db}", "1", "01092025072.mp3", "T", "P"} << 1
                                             << "" << "staat niet meer in de database";
        QTest::addRow("set-meta bad id") << QStringList{"set-meta", "{db}", "x", "f", "T", "P"} << 2 << "" << "usage";
        QTest::addRow("no arguments") << QStringList{"hours"} << 2 << "" << "usage";
    }
    void commandsPrintTheirContract()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const TRun r = Run(Expand(args));
        QVERIFY2(r.err.contains(Expand({err})[0]), qPrintable(r.err));
        QCOMPARE(r.out, Expand({out})[0]);
        QCOMPARE(r.code, code);
    }

    void setMetaStoresThroughTheReadersEdit()
    {
        const TRun r = Run({"set-meta", FDb, "2", "01092025072.mp3", "Nieuw", "Piet\nMarie"});
        QCOMPARE(r.code, 0);
        QVERIFY(Run({"search", FDb, "--hour", "7"}).out.contains("title=Nieuw\tpersons=Piet\\nMarie\t"));
        QCOMPARE(IntegrityCheck(FDb), QString("ok"));
    }

    void configPrintsTheLoadedSettings()
    {
        QTemporaryDir app;
        QFile rec(app.filePath("Vornak2026.ini"));
        QVERIFY(rec.open(QIODevice::WriteOnly));
        rec.write("[Paths]\r\nDatabase=/srv/cat.sqlite\r\nRootFolder=/srv/rec\r\n");
        rec.close();
        const TRun r = Run({"config", app.path()});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QString("Database=/srv/cat.sqlite"));
        QCOMPARE(lines[1], QString("RootFolder=/srv/rec"));
        QVERIFY(lines[2].startsWith("ExportFolder="));
        QCOMPARE(lines[3], QString("OutputDevice=-1"));
        QVERIFY(QFile::exists(app.filePath("VornakReader2026.ini")));
    }

    // A NUL in any text, or a file name that is not UTF-8, keeps every recording on a line of its own
    // (\0 and \xHH, as \t and \n); a stored path holding a NUL is one that does not exist (the part
    // before the NUL is not followed), and resolve prints a found name by its own bytes.
    void nulAndForeignBytesKeepEveryLineWhole()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath("odd.sqlite");
        const QString nul(QChar(0));
        TRow nulRow = Rec(1, "2025-09-02 07:10:00", 7, 1, "a" + nul + "b.wav", 60, "t" + nul + "t", "p" + nul);
        nulRow.filepath = dir.filePath("x") + nul + "y";
        TRow latin1 = Rec(2, "2025-09-02 07:20:00", 7, 2, PathFromBytes("l\xE9.wav"), 60);
        CreateCatalogue(db, {nulRow, latin1});
        QFile prefix(dir.filePath("x"));
        QVERIFY(prefix.open(QIODevice::WriteOnly));
        prefix.close();
        QVERIFY(QDir().mkpath(dir.filePath("root/2025/09/02")));
        const QByteArray onDisk = PathBytes(dir.filePath("root/2025/09/02/")) + "l\xE9.wav";
        QVERIFY(::close(::open(onDisk.constData(), O_WRONLY | O_CREAT, 0644)) == 0);

        const TRun search = Run({"search", db});
        QCOMPARE(search.code, 0);
        QCOMPARE(search.out,
                 "id=1\trec_dt=2025-09-02 07:10:00\trec_date=2025-09-02\trec_hour=7\trec_number=1\tformat=MP3\t"
                 "filename=a\\0b.wav\tfilepath=" + dir.filePath("x") + "\\0y\ttitle=t\\0t\tpersons=p\\0\tduration_sec=60\n"
                 "id=2\trec_dt=2025-09-02 07:20:00\trec_date=2025-09-02\trec_hour=7\trec_number=2\tformat=MP3\t"
                 "filename=l\\xE9.wav\tfilepath=/nonexistent/l\\xE9.wav\ttitle=\tpersons=\tduration_sec=60\n");
        auto resolve = [&](const QString &AId) {
            QProcess p;
            p.start(qEnvironmentVariable("VORNAK_TOOL"), {"resolve", db, AId, dir.filePath("root")});
            return p.waitForFinished(30000) && p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray("failed");
        };
        QCOMPARE(resolve("1"), PathBytes(dir.filePath("x")) + "\\0y\n");
        QCOMPARE(resolve("2"), onDisk + '\n');
    }
};

VORNAK_TEST_GUILESS_MAIN(TestReaderDataTool)
#include "tst_uReaderDataTool.moc"
