// The catalogue while the recorder holds it: a separate process (this test program started with
// --recorder) takes the recorder's locks, since locks of one process do not exclude each other.
// After every case the catalogue is intact and only the rows that should change did.
#include "tst_uReaderDataFixture.h"
#include "uReaderData.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>
#include <cstdio>

using namespace fixture;

namespace {

const char *const RecorderFile = "02092025091.mp3";

// The recorder stand-in: opens the catalogue, takes the lock of `mode`, adds one recording inside it,
// says "locked", holds the lock for holdMs and commits. Modes: write (BEGIN IMMEDIATE), exclusive
// (BEGIN EXCLUSIVE), wal (a write transaction on a WAL catalogue, then stays connected for holdMs more).
int RunRecorder(const QString &path, const QString &mode, int holdMs)
{
    try {
        TSqliteDb db(path, SQLITE_OPEN_READWRITE);
        db.SetBusyTimeout(5000);
        db.Exec(mode == "exclusive" ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
        db.Exec(QString("INSERT INTO recordings VALUES (1000,'2025-09-02 09:00:00','2025-09-02',9,1,'MP3','%1',"
                        "'/rec/%1',NULL,NULL,42)")
                    .arg(RecorderFile));
        std::puts("locked");
        std::fflush(stdout);
        QThread::msleep(holdMs);
        db.Exec("COMMIT");
        if (mode == "wal")
            QThread::msleep(holdMs);
        return 0;
    } catch (const EReaderError &e) {
        std::fprintf(stderr, "recorder: %s\n", qPrintable(e.Message()));
        return 1;
    }
}

QList<TRow> Rows()
{
    return {Rec(1, "2025-09-01 07:10:00", 7, 1, "01092025071.mp3", 60, "Oud"),
            Rec(2, "2025-09-01 08:10:00", 8, 1, "01092025081.mp3", 60, "Ander")};
}

// Row 1 after the reader's edit, and the recorder's row, as Dump shows them.
const char *const EditedRow1 = "1|'2025-09-01 07:10:00'|'2025-09-01'|7|1|'MP3'|'01092025071.mp3'|"
                               "'/nonexistent/01092025071.mp3'|'Nieuw'|'Piet'|60\n";
const char *const RecorderRow = "1000|'2025-09-02 09:00:00'|'2025-09-02'|9|1|'MP3'|'02092025091.mp3'|"
                                "'/rec/02092025091.mp3'|NULL|NULL|42\n";

class TRecorder {
public:
    bool Start(const QString &db, const QString &mode, int holdMs)
    {
        FProc.start(QCoreApplication::applicationFilePath(), {"--recorder", db, mode, QString::number(holdMs)});
        QElapsedTimer t;
        t.start();
        while (!FProc.canReadLine() && t.elapsed() < 10000)
            FProc.waitForReadyRead(100);
        return FProc.readLine().trimmed() == "locked";
    }
    // Waits for the end; true when the recorder committed its recording.
    bool Finish()
    {
        if (!FProc.waitForFinished(30000))
            return false;
        return FProc.exitStatus() == QProcess::NormalExit && FProc.exitCode() == 0;
    }
    ~TRecorder()
    {
        if (FProc.state() != QProcess::NotRunning) {
            FProc.kill();
            FProc.waitForFinished();
        }
    }

private:
    QProcess FProc;
};

} // namespace

class TestReaderDataLocks : public QObject {
    Q_OBJECT

private slots:
    // A short write transaction: reads go on, the edit waits for the commit and then succeeds.
    void shortWriteTransactionIsWaitedFor_data()
    {
        QTest::addColumn<bool>("wal");
        QTest::addRow("rollback journal") << false;
        QTest::addRow("WAL, recorder stays connected") << true;
    }
    void shortWriteTransactionIsWaitedFor()
    {
        QFETCH(bool, wal);
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        CreateCatalogue(path, Rows(), wal);
        const QString before = Dump(path);
        TRecorder rec;
        QVERIFY(rec.Start(path, wal ? "wal" : "write", 3000));
        {
            QElapsedTimer t;
            t.start();
            TReaderData db(path);
            QVERIFY(!db.IsReadOnly());
            TRecList list;
            db.Search("", -1, "", list);
            QCOMPARE(list.size(), 2);  // the recorder's row is not committed yet
            QVERIFY(t.elapsed() < 1500);
            db.UpdateMeta(1, "01092025071.mp3", "Nieuw", "Piet");
            QVERIFY2(t.elapsed() >= 1500, "the edit did not wait for the recorder");
        }
        QVERIFY(rec.Finish());
        QString expected = before;
        expected.replace(0, expected.indexOf('\n') + 1, EditedRow1);
        QCOMPARE(Dump(path), expected + RecorderRow);
        QCOMPARE(IntegrityCheck(path), QString("ok"));
        if (wal) {
            TSqliteDb check(path, SQLITE_OPEN_READONLY);
            TSqliteStmt q(check, "PRAGMA journal_mode");
            QVERIFY(q.Step());
            QCOMPARE(q.ColumnText(0), QString("wal"));
        }
    }

    // A recorder that holds its lock past the reader's busy timeout T (short here; 10 s in the reader):
    // a held write lock fails the edit after the wait; an exclusive lock held into the read-only connect
    // lets that one in, so the reader runs read-only and refuses edits with the recorder as the cause; an
    // exclusive lock that outlasts both connects fails the open. SQLite's message is shown in the failures.
    // Nothing but the recorder's row is ever stored.
    void lockHeldPastTheBusyTimeout_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<double>("holdT");      // how long the recorder holds its lock, in T
        QTest::addColumn<QString>("outcome");   // "edit fails", "read-only" or "open fails"
        QTest::addColumn<double>("minWaitT");   // the least time the reader must have waited, in T
        QTest::addRow("write lock: the edit fails") << "write" << 2.5 << "edit fails" << 0.9;
        QTest::addRow("exclusive lock into the read-only connect") << "exclusive" << 1.5 << "read-only" << 0.9;
        QTest::addRow("exclusive lock past both connects") << "exclusive" << 3.0 << "open fails" << 1.9;
    }
    void lockHeldPastTheBusyTimeout()
    {
        QFETCH(QString, mode);
        QFETCH(double, holdT);
        QFETCH(QString, outcome);
        QFETCH(double, minWaitT);
        constexpr int T = 2000;
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        CreateCatalogue(path, Rows());
        const QString before = Dump(path);
        TRecorder rec;
        QVERIFY(rec.Start(path, mode, int(holdT * T)));
        QElapsedTimer t;
        t.start();
        QString error;
        try {
            TReaderData db(path, T);
            QCOMPARE(db.IsReadOnly(), outcome == "read-only");
            if (outcome == "read-only") {
                TRecList list;
                db.Search("", -1, "", list);
                QCOMPARE(list.size(), 3);
            } else {
                t.restart();  // the open itself did not wait
            }
            db.UpdateMeta(1, "01092025071.mp3", "Nieuw", "Piet");
            QFAIL("edit stored");
        } catch (const EReaderError &e) {
            error = e.Message();
        }
        QVERIFY2(t.elapsed() >= qint64(minWaitT * T), qPrintable(QString::number(t.elapsed())));
        QCOMPARE(error, outcome == "read-only" ? QString::fromUtf8(ReadOnlyRefusalText) : QString("database is locked"));
        QVERIFY(rec.Finish());
        QCOMPARE(Dump(path), before + RecorderRow);
        QCOMPARE(IntegrityCheck(path), QString("ok"));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--recorder") == 0)
        return RunRecorder(QString::fromLocal8Bit(argv[2]), QString::fromLatin1(argv[3]), atoi(argv[4]));
    QCoreApplication app(argc, argv);
    TestReaderDataLocks tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_uReaderDataLocks.moc"
