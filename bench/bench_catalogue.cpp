// Catalogue look-ups on a generated catalogue of 100,000 recordings, with and without an index on
// rec_date: median milliseconds per call of AvailableHours and Search. The hour tiles need the indexed
// AvailableHours well under 20 ms. Run by hand: bench_catalogue [ROWS]
#include "uReaderData.h"
#include "uSqlite.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char *const Names[] = {"Jan", "Marie", "Piet", "Anna", "Kees", "Fatima", "Mohamed", "Sanne", "Lars", "Eva"};

void Generate(const QString &APath, int ARows, bool AIndex)
{
    TSqliteDb db(APath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, rec_hour INTEGER, "
            "rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, title TEXT, persons TEXT, "
            "duration_sec INTEGER)");
    db.Exec("BEGIN");
    QRandomGenerator rng(42);
    const QDate first(2024, 1, 1);
    const int perDay = 140;  // 100,000 rows cover about two years
    for (int i = 0; i < ARows; ++i) {
        const QDate d = first.addDays(i / perDay);
        const int hour = (i % perDay) * 24 / perDay;
        const int number = (i % perDay) - (hour * perDay + 23) / 24 + 1;
        const QString date = d.toString("yyyy-MM-dd");
        const QString file = d.toString("ddMMyyyy") + QString("%1%2.mp3").arg(hour, 2, 10, QChar('0')).arg(number);
        TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,:dt,:d,:h,:n,'MP3',:f,:p,:t,:ps,:dur)");
        q.BindInt(":id", i + 1);
        q.BindText(":dt", date + QString(" %1:%2:00").arg(hour, 2, 10, QChar('0')).arg(number % 60, 2, 10, QChar('0')));
        q.BindText(":d", date);
        q.BindInt(":h", hour);
        q.BindInt(":n", number);
        q.BindText(":f", file);
        q.BindText(":p", "/srv/recordings/" + d.toString("yyyy/MM/dd/") + file);
        q.BindText(":t", QString("Gesprek %1").arg(i));
        q.BindText(":ps", QString("%1\r\n%2").arg(Names[rng.bounded(10)], Names[rng.bounded(10)]));
        q.BindInt(":dur", 30 + rng.bounded(3600));
        q.Step();
    }
    db.Exec("COMMIT");
    if (AIndex)
        db.Exec("CREATE INDEX idx_rec_date ON recordings(rec_date)");
}

double MedianMs(int ACalls, const std::function<void(int)> &ACall)
{
    std::vector<double> ms;
    for (int i = 0; i < ACalls; ++i) {
        QElapsedTimer t;
        t.start();
        ACall(i);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    const int rows = AArgc > 1 ? atoi(AArgv[1]) : 100000;
    QTemporaryDir dir;
    const QDate first(2024, 1, 1);
    const int days = rows / 140;
    std::printf("catalogue of %d rows (%d days)\n", rows, days);
    std::printf("%-34s %14s %14s\n", "median per call (ms)", "no index", "rec_date index");
    double result[2][4] = {};
    for (int indexed = 0; indexed < 2; ++indexed) {
        const QString path = dir.filePath(indexed ? "indexed.sqlite" : "plain.sqlite");
        Generate(path, rows, indexed);
        TReaderData db(path);
        const auto date = [&](int AI) { return first.addDays((AI * 37) % std::max(days, 1)).toString("yyyy-MM-dd"); };
        TRecList list;
        result[indexed][0] = MedianMs(41, [&](int AI) { db.AvailableHours(date(AI)); });
        result[indexed][1] = MedianMs(41, [&](int AI) { db.Search(date(AI), AI % 24, "", list); });
        result[indexed][2] = MedianMs(11, [&](int AI) { db.Search("", -1, AI % 2 ? "marie" : "gesprek 4711", list); });
        result[indexed][3] = MedianMs(41, [&](int AI) { db.Search(date(AI), -1, "piet", list); });
    }
    const char *labels[] = {"AvailableHours(date)", "Search(date, hour)", "Search(name) over all dates",
                            "Search(date, name)"};
    for (int k = 0; k < 4; ++k)
        std::printf("%-34s %14.3f %14.3f   (%.1fx)\n", labels[k], result[0][k], result[1][k],
                    result[1][k] > 0 ? result[0][k] / result[1][k] : 0.0);
    const bool ok = result[1][0] < 20.0;
    std::printf("indexed AvailableHours: %.3f ms per call, goal < 20 ms: %s\n", result[1][0], ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}
