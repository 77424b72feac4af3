// Catalogue look-ups on a generated catalogue without an index of its own (as a recorder may leave it):
// median milliseconds per call of the hours of a day, the days of a month, a file-name search and a date +
// hour + name search, through our own index against the catalogue alone, with the time the index takes to
// build and the size of its file. Goal: at most 20 ms per look-up through the index and a build of at most
// 3 s at a million rows. Run by hand: bench_catalogue [ROWS] (default 1,000,000).
#include "uCatalogueIndex.h"
#include "uReaderData.h"
#include "uSqlite.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace {

const char *const Names[] = {"Jan", "Marie", "Piet", "Anna", "Kees", "Fatima", "Mohamed", "Sanne", "Lars", "Eva"};
constexpr int PerHour = 11;  // channels: one file an hour each
constexpr int PerDay = 24 * PerHour;
const QDate First(2016, 1, 1);

// The file name of row ARow (from 0), as the recorder names its files: ddMMyyyyHHnn.mp3.
QString FileNameOf(int ARow)
{
    const QDate d = First.addDays(ARow / PerDay);
    const int hour = (ARow % PerDay) / PerHour, number = ARow % PerHour + 1;
    return d.toString("ddMMyyyy") + QString("%1%2.mp3").arg(hour, 2, 10, QChar('0')).arg(number, 2, 10, QChar('0'));
}

void Generate(const QString &APath, int ARows)
{
    TSqliteDb db(APath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY AUTOINCREMENT, rec_dt TEXT NOT NULL, rec_date TEXT NOT "
            "NULL, rec_hour INTEGER NOT NULL, rec_number INTEGER NOT NULL, format TEXT NOT NULL, filename TEXT NOT "
            "NULL, filepath TEXT NOT NULL, title TEXT NOT NULL DEFAULT '', persons TEXT NOT NULL DEFAULT '', "
            "duration_sec INTEGER NOT NULL DEFAULT 0)");
    db.Exec("BEGIN");
    QRandomGenerator rng(42);
    TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,:dt,:d,:h,:n,'MP3',:f,:p,:t,:ps,:dur)");
    for (int i = 0; i < ARows; ++i) {
        const QDate d = First.addDays(i / PerDay);
        const int hour = (i % PerDay) / PerHour, number = i % PerHour + 1;
        const QString date = d.toString("yyyy-MM-dd");
        const QString file = FileNameOf(i);
        q.Reset();
        q.BindInt(":id", i + 1);
        q.BindText(":dt", date + QString(" %1:00:%2").arg(hour, 2, 10, QChar('0')).arg(number, 2, 10, QChar('0')));
        q.BindText(":d", date);
        q.BindInt(":h", hour);
        q.BindInt(":n", number);
        q.BindText(":f", file);
        q.BindText(":p", "/srv/recordings/" + d.toString("yyyy/MM/dd/") + file);
        q.BindText(":t", QString("Gesprek %1").arg(i));
        q.BindText(":ps", QString("%1\r\n%2").arg(Names[rng.bounded(10)], Names[rng.bounded(10)]));
        q.BindInt(":dur", rng.bounded(20) == 0 ? 0 : 30 + rng.bounded(3600));
        q.Step();
    }
    db.Exec("COMMIT");
}

// CPU seconds this process has used so far (user + system): on a shared machine the wall time of one
// build says more about the other processes than about the build.
double CpuSec()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

double ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct TMedian {
    double WallMs = 0, CpuMs = 0;
};

// Median wall and CPU milliseconds per call (each median on its own).
TMedian MedianMs(int ACalls, const std::function<void(int)> &ACall)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < ACalls; ++i) {
        QElapsedTimer t;
        t.start();
        const double cpuStart = ThreadCpuMs();
        ACall(i);
        cpu.push_back(ThreadCpuMs() - cpuStart);
        wall.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    const int rows = std::max(AArgc > 1 ? atoi(AArgv[1]) : 1000000, PerDay);
    const int days = rows / PerDay;
    QTemporaryDir dir;
    const QString path = dir.filePath("catalogue.sqlite"), cache = dir.filePath("cache");
    std::printf("catalogue of %d rows (%d days, %d recordings an hour), no index in the catalogue\n", rows, days,
                PerHour);
    Generate(path, rows);

    // The first build, as the first use makes it.
    QElapsedTimer buildTimer;
    buildTimer.start();
    const double cpuBefore = CpuSec();
    bool built = false;
    built = TCatalogueIndex::Build(path, cache);
    const double buildMs = buildTimer.nsecsElapsed() / 1e6;
    const double buildCpuMs = (CpuSec() - cpuBefore) * 1000;
    const qint64 indexBytes = QFileInfo(TCatalogueIndex::IndexPathOf(path, cache)).size();
    const qint64 catalogueBytes = QFileInfo(path).size();
    if (!built) {
        std::printf("the index could not be built\n");
        return 1;
    }

    TReaderData plain(path);
    TReaderData indexed(path);
    indexed.UseIndex(cache, TIndexBuild::InQuery);
    const auto date = [&](int ARun) { return First.addDays((ARun * 37) % std::max(days, 1)).toString("yyyy-MM-dd"); };
    const auto month = [&](int ARun) { return First.addDays((ARun * 37) % std::max(days, 1)).toString("yyyy-MM"); };
    const auto stem = [&](int ARun) { return FileNameOf(int((ARun * 7919LL) % rows)).left(10); };
    const char *labels[] = {"hours of a day", "days of a month", "file-name search (stem)",
                            "date + hour + name search"};
    TMedian result[2][4] = {};
    bool allIndexed = true;
    for (int through = 0; through < 2; ++through) {
        TReaderData &db = through ? indexed : plain;
        TRecList list;
        TRecInfo ri;
        result[through][0] = MedianMs(41, [&](int ARun) { db.AvailableHours(date(ARun)); });
        allIndexed = allIndexed && (!through || db.LastLookupIndexed());
        result[through][1] = MedianMs(21, [&](int ARun) { db.DaysOfMonth(month(ARun)); });
        allIndexed = allIndexed && (!through || db.LastLookupIndexed());
        result[through][2] = MedianMs(21, [&](int ARun) { db.FindByFilenameStem(stem(ARun), ri); });
        allIndexed = allIndexed && (!through || db.LastLookupIndexed());
        result[through][3] =
            MedianMs(41, [&](int ARun) { db.Search(date(ARun), ARun % 24, ARun % 2 ? "marie" : "piet", list); });
        allIndexed = allIndexed && (!through || db.LastLookupIndexed());
    }
    // The CPU columns say what a call costs when the machine is shared; the goal is on the wall time.
    std::printf("%-30s %12s %12s %12s %12s\n", "median per call (ms)", "catalogue", "our index", "cat. CPU",
                "index CPU");
    bool ok = allIndexed;
    for (int k = 0; k < 4; ++k) {
        std::printf("%-30s %12.3f %12.3f %12.3f %12.3f   (%.0fx)\n", labels[k], result[0][k].WallMs,
                    result[1][k].WallMs, result[0][k].CpuMs, result[1][k].CpuMs,
                    result[1][k].WallMs > 0 ? result[0][k].WallMs / result[1][k].WallMs : 0.0);
        ok = ok && result[1][k].WallMs <= 20.0;
    }
    std::printf("index build: %.0f ms, %.0f ms of CPU (goal <= 3000 ms at 1,000,000 rows)\n", buildMs, buildCpuMs);
    std::printf("index file: %.1f MB (catalogue %.1f MB, %.2fx)\n", indexBytes / 1e6, catalogueBytes / 1e6,
                catalogueBytes > 0 ? double(indexBytes) / double(catalogueBytes) : 0.0);
    std::printf("look-ups through the index: %s; goal <= 20 ms each: %s\n", allIndexed ? "all" : "NOT ALL",
                ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}
