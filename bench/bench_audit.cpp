// Archive audit speed. Without decoding: generated catalogues of 25,000, 50,000 and 100,000 rows with as
// many small files under a temporary root (goal for 100,000: under 2 s, growing linearly). With decoding:
// the one-hour benchmark fixtures audited on one worker and on every core, against the waveform pass over
// the same files one after the other in the same run (goal: about 1 / cores of it).
//   bench_audit [--fixtures DIR] [--short] [--rows N] [--repeat N]
// --short takes the ten-minute fixtures (fx10*); --rows 0 leaves out the part without decoding.
#include "uAudit.h"
#include "uDecoder.h"
#include "uEnvelope.h"
#include "uSqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct TTimes {
    double Wall = 0, Cpu = 0;  // seconds
};

double CpuSec()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

template <class F>
TTimes Timed(F &&ABody)
{
    QElapsedTimer wall;
    const double cpu0 = CpuSec();
    wall.start();
    ABody();
    return TTimes{wall.nsecsElapsed() / 1e9, CpuSec() - cpu0};
}

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues[AValues.size() / 2];
}

void CreateTable(TSqliteDb &ADb)
{
    ADb.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, rec_hour INTEGER, "
            "rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, title TEXT, persons TEXT, "
            "duration_sec INTEGER)");
}

// Rows [from, to), about 140 a day, each with a small file under root/yyyy/mm/dd/ and a stored path that
// no longer exists (the slower case: every row is resolved through the root).
bool Generate(const QString &ADir, int AFrom, int ATo)
{
    TSqliteDb db(ADir + "/cat.sqlite", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (AFrom == 0)
        CreateTable(db);
    db.Exec("BEGIN");
    const QDate first(2020, 1, 1);
    const QByteArray content(64, 'x');
    QString lastFolder;
    for (int i = AFrom; i < ATo; ++i) {
        const QDate day = first.addDays(i / 140);
        const int hour = (i % 140) / 6, number = i % 6 + 1;
        const QString name = day.toString("ddMMyyyy") + QString("%1%2.mp3").arg(hour, 2, 10, QChar('0')).arg(number);
        const QString folder = ADir + "/root/" + day.toString("yyyy/MM/dd");
        if (folder != lastFolder && !QDir().mkpath(folder))
            return false;
        lastFolder = folder;
        QFile f(folder + '/' + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return false;
        TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,:dt,:d,:h,:n,'MP3',:f,:p,'','',60)");
        q.BindInt(":id", i + 1);
        q.BindText(":dt", day.toString("yyyy-MM-dd") + QString(" %1:%2:00").arg(hour, 2, 10, QChar('0')).arg(number * 9, 2, 10, QChar('0')));
        q.BindText(":d", day.toString("yyyy-MM-dd"));
        q.BindInt(":h", hour);
        q.BindInt(":n", number);
        q.BindText(":f", name);
        q.BindText(":p", "/old-disk/" + day.toString("yyyy/MM/dd/") + name);
        q.Step();
    }
    db.Exec("COMMIT");
    return true;
}

int FindingCount(const TAuditResult &AResult) { return int(AResult.Findings.size()); }

TAuditOptions Options(const QString &ADir, bool ADecode = false, int AThreads = 0)
{
    TAuditOptions o;
    o.DbPath = ADir + "/cat.sqlite";
    o.Root = ADir + "/root";
    o.Decode = ADecode;
    o.Threads = AThreads;
    return o;
}

// Returns false when the 100,000-row goal is missed.
bool BenchWithoutDecoding(int AMaxRows, int ARepeat)
{
    std::printf("audit without decoding (all stored paths stale, resolved through the root)\n");
    std::printf("%8s %8s %10s %10s %14s %9s\n", "rows", "files", "wall ms", "cpu ms", "ms/1000 rows", "findings");
    bool ok = true;
    QTemporaryDir dir;  // grows from one size to the next
    int made = 0;
    for (int rows : {AMaxRows / 4, AMaxRows / 2, AMaxRows}) {
        if (!Generate(dir.path(), made, rows)) {
            std::printf("cannot generate %d rows in %s\n", rows, qPrintable(dir.path()));
            return false;
        }
        made = rows;
        std::vector<double> walls, cpus;
        TAuditResult result;
        for (int r = 0; r < ARepeat; ++r) {
            const TTimes t = Timed([&] { result = RunAudit(Options(dir.path())); });
            walls.push_back(t.Wall);
            cpus.push_back(t.Cpu);
        }
        const double wall = Median(walls);
        std::printf("%8d %8d %10.0f %10.0f %14.2f %9d\n", result.Rows, result.Files, wall * 1000, Median(cpus) * 1000,
                    wall * 1000 / (rows / 1000.0), FindingCount(result));
        if (rows == AMaxRows && AMaxRows >= 100000 && wall >= 2.0)
            ok = false;
        if (result.Rows != rows || result.Files != rows || FindingCount(result) != 0)
            ok = false;
    }
    return ok;
}

void BenchDecoding(const QString &AFixtures, bool AShortOnes, int ARepeat)
{
    QStringList files;
    for (const char *name : {"fx60.wav", "fx60.flac", "fx60_cbr128.mp3", "fx60_vbrV4.mp3", "fx60_q2.ogg", "fx60_m48.opus"}) {
        const QString file = AShortOnes ? QString(name).replace("fx60", "fx10") : QString(name);
        if (QFile::exists(AFixtures + '/' + file))
            files << QDir(AFixtures).absoluteFilePath(file);
    }
    if (files.isEmpty()) {
        std::printf("\nno fixtures in %s: decoding not measured\n", qPrintable(AFixtures));
        return;
    }
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/root");
    {
        TSqliteDb db(dir.path() + "/cat.sqlite", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        CreateTable(db);
        for (int i = 0; i < files.size(); ++i) {
            TDecodeStream s;
            const int seconds = s.Open(files[i]) ? int(s.BytesToSeconds(s.LengthBytes()) + 0.5) : 1;
            TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,'2025-01-01 00:00:00','2025-01-01',0,:id,'',:f,:p,'','',:s)");
            q.BindInt(":id", i + 1);
            q.BindText(":f", QFileInfo(files[i]).fileName());
            q.BindText(":p", files[i]);
            q.BindInt(":s", seconds);
            q.Step();
        }
    }
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<double> ref, refCpu, one, all, oneCpu, allCpu;
    std::vector<std::vector<double>> fileCpu(size_t(files.size()));
    int findings = 0;
    for (int r = 0; r < ARepeat; ++r) {
        TTimes t;
        for (int i = 0; i < files.size(); ++i) {
            const TTimes f = Timed([&] { BuildEnvelopeFromFile(files[i], {}); });
            t.Wall += f.Wall;
            t.Cpu += f.Cpu;
            fileCpu[size_t(i)].push_back(f.Cpu);
        }
        ref.push_back(t.Wall);
        refCpu.push_back(t.Cpu);
        t = Timed([&] { findings = FindingCount(RunAudit(Options(dir.path(), true, 1))); });
        one.push_back(t.Wall);
        oneCpu.push_back(t.Cpu);
        t = Timed([&] { findings += FindingCount(RunAudit(Options(dir.path(), true, cores))); });
        all.push_back(t.Wall);
        allCpu.push_back(t.Cpu);
    }
    QStringList names;
    for (const QString &f : files)
        names << QFileInfo(f).fileName();
    std::printf("\naudit --decode of %lld %s fixtures (%s), median of %d\n", static_cast<long long>(files.size()),
                AShortOnes ? "ten-minute" : "one-hour", qPrintable(names.join(' ')), ARepeat);
    const double refWall = Median(ref);
    std::printf("  waveform pass, one after the other: %7.2f s wall %7.2f s cpu\n", refWall, Median(refCpu));
    std::printf("  audit on 1 worker:                 %7.2f s wall %7.2f s cpu  ratio %.2f\n", Median(one), Median(oneCpu),
                Median(one) / refWall);
    std::printf("  audit on %d workers:                %7.2f s wall %7.2f s cpu  ratio %.2f (goal about %.2f)\n", cores,
                Median(all), Median(allCpu), Median(all) / refWall, 1.0 / cores);
    std::printf("  findings on the clean fixtures: %d\n", findings);
    // Where other programs keep the cores busy, the kernel gives this process a fixed share of them and a
    // second worker cannot shorten the wall time. The files' CPU times, handed out as the audit hands them
    // out (longest first, each to the first free worker), tell what an idle machine would take; the order
    // is the one the benchmark's timings show, the best the audit's estimate can reach.
    std::vector<size_t> order(size_t(files.size()));
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t ALeft, size_t ARight) { return Median(fileCpu[ALeft]) > Median(fileCpu[ARight]); });
    std::vector<double> busy(size_t(cores), 0.0);
    for (size_t i : order)
        *std::min_element(busy.begin(), busy.end()) += Median(fileCpu[i]);
    const double projected = *std::max_element(busy.begin(), busy.end());
    std::printf("  on an idle machine (from the files' CPU times): %.2f s on %d workers, ratio %.2f to the pass's CPU\n",
                projected, cores, projected / Median(refCpu));
    for (size_t i : order)
        std::printf("    %-18s %7.2f s cpu\n", qPrintable(QFileInfo(files[int(i)]).fileName()), Median(fileCpu[i]));
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    QString fixtures = "bench/fixtures";
    int rows = 100000, repeat = 3;
    bool shortOnes = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--short")
            shortOnes = true;
        else if (args[i] == "--fixtures" && i + 1 < args.size())
            fixtures = args[++i];
        else if (args[i] == "--rows" && i + 1 < args.size())
            rows = std::max(0, args[++i].toInt());
        else if (args[i] == "--repeat" && i + 1 < args.size())
            repeat = std::max(1, args[++i].toInt());
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come, also into a file
    const bool ok = rows < 4 || BenchWithoutDecoding(rows, repeat);
    BenchDecoding(fixtures, shortOnes, repeat);
    return ok ? 0 : 1;
}
