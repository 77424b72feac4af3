// The catalogue while the recorder writes into it: a separate recorder process (vornak-tool recorder) makes a
// thousand recordings, each under its own write transaction, while the reader opens, lists, searches and
// edits. Afterwards nothing is lost: the recorder failed no insert, the file is intact, its journal mode is
// the recorder's, and only the edited recording's title and persons differ from what the recorder wrote.
#include "TestMain.h"
#include "uReaderData.h"

#include <QTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <csignal>
#include <memory>

namespace {

QString Tool()
{
    return qEnvironmentVariable("VORNAK_TOOL");
}

// The test's own look at the file, independent of the reader's code.
struct TCheckDb {
    sqlite3 *db = nullptr;
    explicit TCheckDb(const QString &APath)
    {
        sqlite3_open_v2(QFile::encodeName(APath).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_busy_timeout(db, 10000);
    }
    ~TCheckDb() { sqlite3_close_v2(db); }
    TCheckDb(const TCheckDb &) = delete;
    TCheckDb &operator=(const TCheckDb &) = delete;

    QStringList Rows(const char *ASql)
    {
        QStringList rows;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, ASql, -1, &st, nullptr) != SQLITE_OK)
            return {QString("error: ") + sqlite3_errmsg(db)};
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList cols;
            for (int c = 0; c < sqlite3_column_count(st); ++c)
                cols << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, c)));
            rows << cols.join('|');
        }
        sqlite3_finalize(st);
        return rows;
    }
    QString One(const char *ASql)
    {
        const QStringList r = Rows(ASql);
        return r.isEmpty() ? QString() : r.first();
    }
};

// A running recorder stand-in; stopped with SIGTERM (and waited for) when it goes out of scope.
class TRecorderProcess {
public:
    bool Start(const QStringList &AArgs)
    {
        FProc.setProgram(Tool());
        FProc.setArguments(QStringList{"recorder"} + AArgs);
        FProc.start();
        if (!FProc.waitForStarted(5000))
            return false;
        // The first line tells the catalogue is open and its table exists.
        for (int attempt = 0; attempt < 100 && !FOut.contains("ready ") && FProc.state() == QProcess::Running;
             ++attempt) {
            FProc.waitForReadyRead(100);
            FOut += FProc.readAllStandardOutput();
        }
        return FOut.contains("ready ");
    }
    // QProcess learns of the end and of new output only through its events.
    bool Running()
    {
        Poll();
        return FProc.state() == QProcess::Running;
    }
    // Waits up to 100 ms for new output (returns at once when some comes).
    void WaitForOutput()
    {
        FProc.waitForReadyRead(100);
        Poll();
    }
    void Poll()
    {
        FProc.waitForFinished(0);
        FOut += FProc.readAllStandardOutput();
    }
    bool Finish(int AMs)
    {
        FProc.waitForFinished(AMs);
        FOut += FProc.readAllStandardOutput();
        return FProc.state() == QProcess::NotRunning;
    }
    void Terminate()
    {
        if (FProc.state() == QProcess::Running)
            ::kill(static_cast<pid_t>(FProc.processId()), SIGTERM);
    }
    int ExitCode() const { return FProc.exitStatus() == QProcess::NormalExit ? FProc.exitCode() : -1; }
    QString Output() const { return QString::fromUtf8(FOut); }
    QString Errors() { return QString::fromUtf8(FProc.readAllStandardError()); }
    int Inserted() const { return FOut.count("inserted="); }
    ~TRecorderProcess()
    {
        Terminate();
        if (!FProc.waitForFinished(15000))
            FProc.kill();
        FProc.waitForFinished();
    }

private:
    QProcess FProc;
    QByteArray FOut;
};

bool HasHour(const THourSet &ASet, int AHour)
{
    return ASet.Contains(AHour);
}

} // namespace

class TestCatalogueRobustness : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Tool().isEmpty() || !QFile::exists(Tool()))
            QSKIP("VORNAK_TOOL is not set");
    }

    // A thousand recordings, each a lock/unlock cycle, against the reader's queries and edits.
    void nothingLostAfterAThousandLockCyclesAgainstTheReader_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("exclusive");
        QTest::addRow("rollback journal") << "rollback" << false;
        QTest::addRow("rollback journal, exclusive lock") << "rollback" << true;
        QTest::addRow("WAL") << "wal" << false;
    }
    void nothingLostAfterAThousandLockCyclesAgainstTheReader()
    {
        QFETCH(QString, mode);
        QFETCH(bool, exclusive);
        QTemporaryDir tmp;
        const QString db = tmp.filePath("Vornak2026.sqlite");
        const QString root = tmp.filePath("Recordings");
        const QString journal = mode == "wal" ? "wal" : "delete";

        // Three recordings at 12:00 exist before the reader starts; the second is the one edited.
        {
            TRecorderProcess first;
            QVERIFY(first.Start({db, root, "--mode", mode, "--count", "3", "--every", "0", "--hold", "0",
                                 "--start", "2025-09-01T12:00:00", "--step", "60"}));
            QVERIFY(first.Finish(30000));
            QCOMPARE(first.ExitCode(), 0);
        }
        const int editId = 2;
        const QString editName = "01092025122.wav";

        TRecorderProcess rec;
        QStringList args{db, root, "--mode", mode, "--count", "1000", "--every", "0.006", "--hold", "0.001",
                         "--start", "2025-09-01T13:00:00", "--step", "10"};
        if (exclusive)
            args << "--exclusive";
        QVERIFY(rec.Start(args));

        std::unique_ptr<TReaderData> reader;
        int opens = 0, openFailures = 0, queries = 0, queryFailures = 0, edits = 0, editFailures = 0;
        int lastCount = 0;
        QString title, persons;  // what the last edit that claimed success stored
        QStringList messages;
        for (int i = 0; rec.Running() || i == 0; ++i) {
            rec.Poll();
            try {
                if (!reader || i % 97 == 0) {
                    reader.reset();
                    ++opens;
                    reader = std::make_unique<TReaderData>(db);
                }
                const THourSet hours = reader->AvailableHours("2025-09-01");
                QVERIFY(HasHour(hours, 12));
                TRecList list;
                reader->Search("2025-09-01", -1, "", list);
                ++queries;
                // Rows only ever grow, and a row appears only with its complete file.
                QVERIFY2(list.size() >= lastCount, qPrintable(QString("%1 < %2").arg(list.size()).arg(lastCount)));
                lastCount = list.size();
                const TRecInfo newest = list.last();
                QCOMPARE(QFileInfo(newest.FilePath).size(), 44 + 16000);
                QVERIFY(HasHour(reader->AvailableHours("2025-09-01"), newest.RecHour));
                TRecInfo found;
                QVERIFY(reader->FindByFilenameStem("01092025121", found));
                QCOMPARE(found.Id, 1);
            } catch (const EReaderError &e) {
                // Only a lock may stop the reader, and it must say so; it may not have opened at all.
                QVERIFY2(!e.Message().trimmed().isEmpty(), "an error without a message");
                messages << e.Message();
                (reader ? queryFailures : openFailures)++;
                reader.reset();
                continue;
            }
            if (i % 13 == 0) {
                const QString t = QString("Overleg %1").arg(i), p = QString("Jan\r\nPiet %1").arg(i);
                try {
                    reader->UpdateMeta(editId, editName, t, p);
                    ++edits;
                    title = t;
                    persons = p;
                } catch (const EReaderError &e) {
                    QVERIFY2(!e.Message().trimmed().isEmpty(), "a refused edit without a message");
                    messages << e.Message();
                    ++editFailures;
                }
            }
        }
        reader.reset();
        QVERIFY(rec.Finish(60000));
        qInfo("%s%s: %d recordings; reader opened %d times (%d failed), %d listings (%d failed), %d edits "
              "stored, %d refused",
              qPrintable(mode), exclusive ? " exclusive" : "", rec.Inserted(), opens, openFailures, queries,
              queryFailures, edits, editFailures);
        if (!messages.isEmpty())
            qInfo("first refusal: %s", qPrintable(messages.first()));

        // The recorder lost nothing.
        QVERIFY2(rec.ExitCode() == 0 && rec.Output().contains("failed=0"), qPrintable(rec.Output().right(300)));
        QCOMPARE(rec.Inserted(), 1000);
        QVERIFY(queries > 0);
        if (!exclusive)
            QCOMPARE(openFailures + queryFailures, 0);

        TCheckDb check(db);
        QCOMPARE(check.One("PRAGMA integrity_check"), QString("ok"));
        QCOMPARE(check.One("PRAGMA journal_mode"), journal);
        QCOMPARE(check.One("SELECT count(*) FROM recordings"), QString("1003"));
        QCOMPARE(check.Rows("SELECT id FROM recordings WHERE id <> 2 AND (title <> '' OR persons <> '')"),
                 QStringList());
        QCOMPARE(check.One("SELECT title || '|' || persons FROM recordings WHERE id = 2"),
                 title + '|' + persons);
        // Every file the recorder announced is complete.
        QCOMPARE(check.One("SELECT count(DISTINCT filepath) FROM recordings"), QString("1003"));

        // A new reader lists the new hours at once.
        TReaderData after(db);
        const THourSet hours = after.AvailableHours("2025-09-01");
        for (int h : {12, 13, 14, 15})
            QVERIFY2(HasHour(hours, h), qPrintable(QString("hour %1 missing").arg(h)));
        TRecList list;
        after.Search("2025-09-01", 15, "", list);
        QCOMPARE(list.size(), 280);
    }

    // The stand-in ends cleanly on SIGTERM: the recording in progress is completed and stored.
    void recorderStandInEndsCleanlyOnTerminate()
    {
        QTemporaryDir tmp;
        const QString db = tmp.filePath("live.sqlite");
        TRecorderProcess rec;
        QVERIFY(rec.Start({db, tmp.filePath("root"), "--every", "0.05", "--hold", "0.2"}));
        for (int attempt = 0; attempt < 100 && rec.Inserted() < 3 && rec.Running(); ++attempt)
            rec.WaitForOutput();
        rec.Terminate();
        QVERIFY(rec.Finish(10000));
        QCOMPARE(rec.ExitCode(), 0);
        const int inserted = rec.Inserted();
        QVERIFY(inserted >= 3);
        QVERIFY2(rec.Output().contains(QString("recorded=%1 failed=0").arg(inserted)), qPrintable(rec.Output()));
        TCheckDb check(db);
        QCOMPARE(check.One("SELECT count(*) FROM recordings"), QString::number(inserted));
        QCOMPARE(check.One("PRAGMA journal_mode"), QString("delete"));
        for (const QString &path : check.Rows("SELECT filepath FROM recordings"))
            QCOMPARE(QFileInfo(path).size(), 44 + 16000);
        QCOMPARE(QDir(tmp.path()).entryList({"*-journal"}, QDir::Files), QStringList());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestCatalogueRobustness)
#include "tst_CatalogueRobustness.moc"
