// Benchmark of the fixity run: N one-hour MP3 recordings listed by vornak-tool's fixity code on one worker
// and on every core, against the machine's own `sha256sum` over the same files in the same run.
//   bench_fixity [--fixture FILE.mp3] [--files N] [--repeat N] [--copies]
// The fixture defaults to bench/fixtures/fx60_cbr128.mp3 (see docs/benchmarks.md); a shorter file is
// repeated to one hour (MP3 frames concatenate). Files are hard links to one file (every read then comes
// from the page cache: the hashing speed) unless --copies makes real copies.
#include "uFixity.h"
#include "uSqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace {

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues[AValues.size() / 2];
}

// One hour of MP3 from AFixture: the file repeated until it is at least 3600 s at 128 kbit/s long.
bool MakeHour(const QString &AFixture, const QString &AOut)
{
    QFile in(AFixture);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = in.readAll();
    const qint64 hourBytes = qint64(3600) * 128000 / 8;
    QFile out(AOut);
    if (data.isEmpty() || !out.open(QIODevice::WriteOnly))
        return false;
    for (qint64 written = 0; written < hourBytes; written += data.size())
        if (out.write(data) != data.size())
            return false;
    return true;
}

} // namespace

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    QString fixture = "bench/fixtures/fx60_cbr128.mp3";
    int files = 100, repeat = 3;
    bool copies = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--fixture" && i + 1 < args.size())
            fixture = args[++i];
        else if (args[i] == "--files" && i + 1 < args.size())
            files = std::max(1, args[++i].toInt());
        else if (args[i] == "--repeat" && i + 1 < args.size())
            repeat = std::max(1, args[++i].toInt());
        else if (args[i] == "--copies")
            copies = true;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir dir;
    const QString day = dir.path() + "/root/2025/01/01";
    const QString hour = dir.path() + "/hour.mp3";
    if (!QDir().mkpath(day) || !MakeHour(fixture, hour)) {
        std::printf("no fixture %s\n", qPrintable(fixture));
        return 1;
    }
    const qint64 size = QFileInfo(hour).size();
    QStringList paths;
    {
        TSqliteDb db(dir.path() + "/cat.sqlite", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, rec_hour INTEGER, "
                "rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, title TEXT, persons TEXT, "
                "duration_sec INTEGER)");
        db.Exec("BEGIN");
        const time_t old = time(nullptr) - 3600;
        for (int i = 0; i < files; ++i) {
            const QString name = QString("01012025%1.mp3").arg(i + 1, 3, 10, QChar('0'));
            const QString path = day + '/' + name;
            const bool ok = copies ? QFile::copy(hour, path)
                                   : ::link(QFile::encodeName(hour).constData(), QFile::encodeName(path).constData()) == 0;
            if (!ok) {
                std::printf("cannot make %s\n", qPrintable(path));
                return 1;
            }
            utimbuf t{old, old};
            ::utime(QFile::encodeName(path).constData(), &t);
            paths << path;
            TSqliteStmt q(db, "INSERT INTO recordings VALUES (:id,'2025-01-01 00:00:00','2025-01-01',0,:id,'MP3',:f,'','','',3600)");
            q.BindInt(":id", i + 1);
            q.BindText(":f", name);
            q.Step();
        }
        db.Exec("COMMIT");
    }
    const double totalMb = double(size) * files / 1e6;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    std::printf("fixity of %d one-hour MP3 files (%.1f MB each, %s), %d cores, median of %d\n", files, size / 1e6,
                copies ? "copies" : "hard links, page cache", cores, repeat);

    std::vector<double> sums, one, all;
    for (int r = 0; r < repeat; ++r) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start("sha256sum", paths);
        p.waitForFinished(-1);
        sums.push_back(t.nsecsElapsed() / 1e9);
        for (int threads : {1, 0}) {
            const QString manifest = dir.path() + QString("/manifest-%1-%2").arg(r).arg(threads);
            TFixityOptions o;
            o.DbPath = dir.path() + "/cat.sqlite";
            o.Root = dir.path() + "/root";
            o.Manifest = manifest;
            o.Threads = threads;
            t.restart();
            const TFixityResult res = RunFixity(o);
            (threads == 1 ? one : all).push_back(t.nsecsElapsed() / 1e9);
            if (res.Added != files)
                std::printf("  run listed %d of %d files\n", res.Added, files);
        }
    }
    const double s = Median(sums), o1 = Median(one), oa = Median(all);
    std::printf("  sha256sum (one process, one core) %7.2f s  %7.1f MB/s\n", s, totalMb / s);
    std::printf("  fixity, 1 worker                  %7.2f s  %7.1f MB/s  (%.2fx sha256sum)\n", o1, totalMb / o1, s / o1);
    std::printf("  fixity, every core (%d)            %7.2f s  %7.1f MB/s  (%.2fx sha256sum)\n", cores, oa, totalMb / oa,
                s / oa);
    return 0;
}
