// The catalogue while the recorder holds it: a separate process (this test program started with
// --recorder) takes the recorder's locks, since locks of one process do not exclude each other.
// The recorder lets go when the test says so, never after a set time. After every case the catalogue is
// intact and only the rows that should change did.
#include "CatalogueFixture.h"
#include "TestMain.h"
#include "uReaderData.h"

#include <QProcess>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

using namespace fixture;

namespace {

const char *const RecorderFile = "02092025091.mp3";

// The recorder stand-in: opens the catalogue, takes the lock of AMode, adds one recording inside it, says
// "locked" and holds the lock until it reads a line on standard input; then it commits and says
// "committed". Modes: write (BEGIN IMMEDIATE), exclusive (BEGIN EXCLUSIVE), wal (a write transaction on a
// WAL catalogue, after which it stays connected until its input ends).
int RunRecorder(const QString &APath, const QString &AMode)
{
    try {
        TSqliteDb db(APath, SQLITE_OPEN_READWRITE);
        db.SetBusyTimeout(5000);
        db.Exec(AMode == "exclusive" ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
        db.Exec(QString("INSERT INTO recordings VALUES (1000,'2025-09-02 09:00:00','2025-09-02',9,1,'MP3','%1',"
                        "'/rec/%1',NULL,NULL,42)")
                    .arg(RecorderFile));
        std::puts("locked");
        std::fflush(stdout);
        int c;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
        db.Exec("COMMIT");
        std::puts("committed");
        std::fflush(stdout);
        if (AMode == "wal")
            while (std::getchar() != EOF) {
            }
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
    bool Start(const QString &ADb, const QString &AMode)
    {
        FProc.start(QCoreApplication::applicationFilePath(), {"--recorder", ADb, AMode});
        return ReadLine() == "locked";
    }
    // Lets the recorder commit; true when it did.
    bool Release()
    {
        FProc.write("release\n");
        return ReadLine() == "committed";
    }
    // Ends the recorder (a WAL recorder disconnects); true when it had committed its recording.
    bool Finish()
    {
        FProc.closeWriteChannel();
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
    QByteArray ReadLine()
    {
        for (int attempt = 0; attempt < 300 && !FProc.canReadLine() && FProc.state() != QProcess::NotRunning;
             ++attempt)
            FProc.waitForReadyRead(100);
        return FProc.readLine().trimmed();
    }
    QProcess FProc;
};

// Runs AWork on a thread of its own; Started() is true once the thread is about to call it, and Join waits
// for its end. The recorder is released only after that, so the work meets the recorder's lock.
class TWorker {
public:
    explicit TWorker(std::function<void()> AWork)
        : FThread([this, AWork] {
              {
                  std::lock_guard<std::mutex> lock(FMutex);
                  FStarted = true;
              }
              FCond.notify_all();
              AWork();
              FDone = true;
          })
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FCond.wait(lock, [this] { return FStarted; });
    }
    bool Done() const { return FDone; }
    void Join() { FThread.join(); }
    ~TWorker()
    {
        if (FThread.joinable())
            FThread.join();
    }

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    bool FStarted = false;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

} // namespace

class TestReaderDataLocks : public QObject {
    Q_OBJECT

private slots:
    // The recorder holds a lock (mode) while the reader, waiting up to waitMs, opens the catalogue, lists it
    // and edits recording 1. The recorder lets go (release) during the open, during the edit, or only after
    // the reader is done. Rows: what opens, what the list shows and whether the edit is stored. A wait that
    // ends with a result ended because the lock was released: the recorder's row is in the list or beside
    // the edit. The catalogue is intact afterwards and only the edit changed it.
    void readerWaitsForTheRecorderAtMostItsWait_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<QString>("release");    // "open", "edit" or "after"
        QTest::addColumn<QString>("openError");  // empty = opens read-write
        QTest::addColumn<int>("listed");         // rows the list shows (the recorder's comes with its commit)
        QTest::addColumn<QString>("editError");  // empty = stored
        const QString locked = QString::fromUtf8(LockedRefusalText) + " (SQLite: database is locked)";
        const int longWait = TReaderData::DefaultLockWaitMs;
        QTest::addRow("short write transaction: reads go on, the edit waits")
            << "write" << longWait << "edit" << "" << 2 << "";
        QTest::addRow("WAL, recorder stays connected") << "wal" << longWait << "edit" << "" << 2 << "";
        QTest::addRow("write transaction past the wait: the edit is refused")
            << "write" << 300 << "after" << "" << 2 << locked;
        QTest::addRow("exclusive lock shorter than the wait: opens read-write after it")
            << "exclusive" << longWait << "open" << "" << 3 << "";
        // The read-write attempt and the read-only fall-back share the one wait.
        QTest::addRow("exclusive lock past the whole wait: the open reports")
            << "exclusive" << 300 << "after"
            << "De database is vergrendeld door de recorder (Vornak 2026). (SQLite: database is locked)" << 0
            << "";
    }
    void readerWaitsForTheRecorderAtMostItsWait()
    {
        QFETCH(QString, mode);
        QFETCH(int, waitMs);
        QFETCH(QString, release);
        QFETCH(QString, openError);
        QFETCH(int, listed);
        QFETCH(QString, editError);
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        const bool wal = mode == "wal";
        CreateCatalogue(path, Rows(), wal);
        const QString before = Dump(path);
        TRecorder rec;
        QVERIFY(rec.Start(path, mode));
        bool released = false;
        bool edited = false;
        {
            std::unique_ptr<TReaderData> db;
            QString error;
            {
                TWorker open([&] {
                    try {
                        db = std::make_unique<TReaderData>(path, waitMs);
                    } catch (const EReaderError &e) {
                        error = e.Message();
                    }
                });
                if (release == "open") {
                    QVERIFY(!open.Done());  // it waits for the lock
                    QVERIFY(rec.Release());
                    released = true;
                }
                open.Join();
            }
            QCOMPARE(error, openError);
            if (db) {
                QVERIFY(!db->IsReadOnly());
                TRecList list;
                db->Search("", -1, "", list);
                QCOMPARE(list.size(), listed);
                TWorker edit([&] {
                    try {
                        db->UpdateMeta(1, "01092025071.mp3", "Nieuw", "Piet");
                        edited = true;
                    } catch (const EReaderError &e) {
                        error = e.Message();
                    }
                });
                if (release == "edit") {
                    QVERIFY(!edit.Done());  // it waits for the lock
                    QVERIFY(rec.Release());
                    released = true;
                }
                edit.Join();
                QCOMPARE(error, editError);
            }
        }
        if (!released)
            QVERIFY(rec.Release());
        QVERIFY(rec.Finish());
        QString expected = before;
        if (edited)
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
};

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    if (AArgc == 4 && qstrcmp(AArgv[1], "--recorder") == 0)
        return RunRecorder(QString::fromLocal8Bit(AArgv[2]), QString::fromLatin1(AArgv[3]));
    QCoreApplication app(AArgc, AArgv);
    TestReaderDataLocks tc;
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uReaderDataLocks.moc"
