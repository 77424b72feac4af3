// The catalogue while the recorder holds it: a separate process (this test program started with
// --recorder) takes the recorder's locks, since locks of one process do not exclude each other.
// After every case the catalogue is intact and only the rows that should change did.
#include "CatalogueFixture.h"
#include "uReaderData.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QtTest>
#include <cstdio>
#include <memory>

using namespace fixture;

namespace {

const char *const RecorderFile = "02092025091.mp3";

// The recorder stand-in: opens the catalogue, takes the lock of `mode`, adds one recording inside it,
// says "locked", holds the lock for holdMs and commits. Modes: write (BEGIN IMMEDIATE), exclusive
// (BEGIN EXCLUSIVE), wal (a write transaction on a WAL catalogue, then stays connected for holdMs more).
int RunRecorder(const QString &APath, const QString &AMode, int AHoldMs)
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
        QThread::msleep(AHoldMs);
        db.Exec("COMMIT");
        if (AMode == "wal")
            QThread::msleep(AHoldMs);
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
    bool Start(const QString &ADb, const QString &AMode, int AHoldMs)
    {
        FProc.start(QCoreApplication::applicationFilePath(), {"--recorder", ADb, AMode, QString::number(AHoldMs)});
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
    // The recorder holds a lock (mode) for holdMs while the reader, waiting up to waitMs, opens the
    // catalogue, lists it and edits recording 1. Rows: what opens, how long it waits, what the list shows
    // and whether the edit is stored. The catalogue is intact afterwards and only the edit changed it.
    void readerWaitsForTheRecorderAtMostItsWait_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<QString>("openError");  // empty = opens read-write
        QTest::addColumn<int>("openMinMs");
        QTest::addColumn<int>("openMaxMs");
        QTest::addColumn<int>("listed");         // rows the list shows (the recorder's comes with its commit)
        QTest::addColumn<QString>("editError");  // empty = stored
        QTest::addColumn<int>("editMinMs");      // from the start of the open
        const QString locked = QString::fromUtf8(LockedRefusalText) + " (SQLite: database is locked)";
        QTest::addRow("short write transaction: reads go on, the edit waits")
            << "write" << 3000 << TReaderData::DefaultLockWaitMs << "" << 0 << 1500 << 2 << "" << 1500;
        QTest::addRow("WAL, recorder stays connected") << "wal" << 3000 << TReaderData::DefaultLockWaitMs << "" << 0
                                                       << 1500 << 2 << "" << 1500;
        QTest::addRow("write transaction past the wait: the edit is refused")
            << "write" << 6000 << 1500 << "" << 0 << 1400 << 2 << locked << 1400;
        QTest::addRow("exclusive lock shorter than the wait: opens read-write after it")
            << "exclusive" << 2000 << TReaderData::DefaultLockWaitMs << "" << 1500 << 8000 << 3 << "" << 1500;
        // The read-write attempt and the read-only fall-back share the one wait.
        QTest::addRow("exclusive lock past the whole wait: the open reports after one wait")
            << "exclusive" << 14000 << TReaderData::DefaultLockWaitMs
            << "De database is vergrendeld door de recorder (Vornak 2026). (SQLite: database is locked)" << 9500
            << 12500 << 0 << "" << 0;
    }
    void readerWaitsForTheRecorderAtMostItsWait()
    {
        QFETCH(QString, mode);
        QFETCH(int, holdMs);
        QFETCH(int, waitMs);
        QFETCH(QString, openError);
        QFETCH(int, openMinMs);
        QFETCH(int, openMaxMs);
        QFETCH(int, listed);
        QFETCH(QString, editError);
        QFETCH(int, editMinMs);
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        const bool wal = mode == "wal";
        CreateCatalogue(path, Rows(), wal);
        const QString before = Dump(path);
        TRecorder rec;
        QVERIFY(rec.Start(path, mode, holdMs));
        bool edited = false;
        {
            QElapsedTimer t;
            t.start();
            std::unique_ptr<TReaderData> db;
            QString error;
            try {
                db = std::make_unique<TReaderData>(path, waitMs);
            } catch (const EReaderError &e) {
                error = e.Message();
            }
            const qint64 opened = t.elapsed();
            QCOMPARE(error, openError);
            QVERIFY2(opened >= openMinMs && opened < openMaxMs, qPrintable(QString("open took %1 ms").arg(opened)));
            if (db) {
                QVERIFY(!db->IsReadOnly());
                TRecList list;
                db->Search("", -1, "", list);
                QCOMPARE(list.size(), listed);
                try {
                    db->UpdateMeta(1, "01092025071.mp3", "Nieuw", "Piet");
                    edited = true;
                } catch (const EReaderError &e) {
                    error = e.Message();
                }
                QCOMPARE(error, editError);
                QVERIFY2(t.elapsed() >= editMinMs, qPrintable(QString("edit done after %1 ms").arg(t.elapsed())));
            }
        }
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

int main(int AArgc, char *AArgv[])
{
    if (AArgc == 5 && qstrcmp(AArgv[1], "--recorder") == 0)
        return RunRecorder(QString::fromLocal8Bit(AArgv[2]), QString::fromLatin1(AArgv[3]), atoi(AArgv[4]));
    QCoreApplication app(AArgc, AArgv);
    TestReaderDataLocks tc;
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uReaderDataLocks.moc"
