// Recorder stand-in: a separate process that records into a catalogue the way the recorder does.
//
// Each recording: open a write transaction (BEGIN IMMEDIATE, or BEGIN EXCLUSIVE), create the file
// ROOT/yyyy/mm/dd/<ddmmyyyy><hh><n>.wav and let it grow in pieces for --hold seconds, complete its header,
// then insert its row and commit. Between recordings the catalogue is left alone until the next one starts
// (--every seconds after the previous start). One line "inserted=ID file=PATH" per committed row on
// standard output; at the end "failed=N" with the number of recordings whose row could not be stored.
// SIGTERM and SIGINT finish the recording in progress and end the run. With --start the recordings are
// dated from that moment on, --step seconds apart (default --every), instead of by the clock.
#include "commands.h"
#include "uRecorderSchema.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) { stopRequested = true; }

struct DbCloser {
    void operator()(sqlite3 *ADb) const { sqlite3_close_v2(ADb); }
};
using TDbHandle = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
    void operator()(sqlite3_stmt *ASt) const { sqlite3_finalize(ASt); }
};
using TStmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct TRecorderOptions {
    QString db;
    QString root;
    double every = 1.0;   // seconds from one recording's start to the next
    double hold = 0.2;    // seconds the write transaction is held while the file grows
    bool wal = false;
    bool modeGiven = false;  // without --mode an existing catalogue keeps its journal mode
    bool exclusive = false;
    int count = 0;        // 0 = until stopped
    QDateTime start;      // invalid = the real clock
    double step = -1;     // with --start: catalogue seconds between recordings (-1 = --every)
};

int RecorderUsage(const char *AWhy)
{
    std::fprintf(stderr, "vornak-tool recorder: %s\n"
                         "usage: vornak-tool recorder DB ROOT [--every SECONDS] [--hold SECONDS] "
                         "[--mode rollback|wal] [--exclusive] [--count N] [--start yyyy-mm-ddThh:mm:ss [--step SECONDS]]\n",
                 AWhy);
    return ExitUsage;
}

bool ParseOptions(const QStringList &AArgs, TRecorderOptions &AOptions, QString &AWhy)
{
    QStringList plain;
    for (int i = 0; i < AArgs.size(); ++i) {
        const QString &a = AArgs[i];
        auto value = [&](QString &AOut) {
            if (i + 1 >= AArgs.size()) {
                AWhy = a + " needs a value";
                return false;
            }
            AOut = AArgs[++i];
            return true;
        };
        QString v;
        bool ok = true;
        if (a == QLatin1String("--every")) {
            if (!value(v)) return false;
            AOptions.every = v.toDouble(&ok);
            ok = ok && AOptions.every >= 0 && AOptions.every < 86400;
        } else if (a == QLatin1String("--hold")) {
            if (!value(v)) return false;
            AOptions.hold = v.toDouble(&ok);
            ok = ok && AOptions.hold >= 0 && AOptions.hold < 86400;
        } else if (a == QLatin1String("--mode")) {
            if (!value(v)) return false;
            ok = v == QLatin1String("rollback") || v == QLatin1String("wal");
            AOptions.wal = v == QLatin1String("wal");
            AOptions.modeGiven = true;
        } else if (a == QLatin1String("--exclusive")) {
            AOptions.exclusive = true;
        } else if (a == QLatin1String("--count")) {
            if (!value(v)) return false;
            AOptions.count = v.toInt(&ok);
            ok = ok && AOptions.count >= 0;
        } else if (a == QLatin1String("--step")) {
            if (!value(v)) return false;
            AOptions.step = v.toDouble(&ok);
            ok = ok && AOptions.step >= 0 && AOptions.step < 86400;
        } else if (a == QLatin1String("--start")) {
            if (!value(v)) return false;
            AOptions.start = QDateTime::fromString(v, Qt::ISODate);
            ok = AOptions.start.isValid();
        } else if (a.startsWith(QLatin1String("--"))) {
            AWhy = "unknown option " + a;
            return false;
        } else {
            plain << a;
            continue;
        }
        if (!ok) {
            AWhy = "bad value for " + a + ": " + v;
            return false;
        }
    }
    if (plain.size() != 2) {
        AWhy = "DB and ROOT are needed";
        return false;
    }
    AOptions.db = plain[0];
    AOptions.root = plain[1];
    return true;
}

bool Exec(sqlite3 *ADb, const char *ASql)
{
    char *err = nullptr;
    if (sqlite3_exec(ADb, ASql, nullptr, nullptr, &err) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "vornak-tool recorder: %s: %s\n", ASql, err ? err : sqlite3_errmsg(ADb));
    sqlite3_free(err);
    return false;
}

// Sleeps until the deadline or a stop request, whichever comes first.
void SleepUntil(const QElapsedTimer &AClock, qint64 ADeadlineMs)
{
    while (!stopRequested && AClock.elapsed() < ADeadlineMs)
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(20, ADeadlineMs - AClock.elapsed())));
}

void PutLE(QByteArray &ABytes, int AOffset, quint32 AValue, int AByteCount)
{
    for (int i = 0; i < AByteCount; ++i)
        ABytes[AOffset + i] = static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

// 44-byte PCM WAV header; sizes 0 while the file grows, as a recorder leaves them until it closes.
QByteArray WavHeader(int ARate, int AChannels, quint32 ADataBytes)
{
    QByteArray h(44, '\0');
    std::memcpy(h.data(), "RIFF", 4);
    PutLE(h, 4, ADataBytes ? 36 + ADataBytes : 0, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutLE(h, 16, 16, 4);
    PutLE(h, 20, 1, 2);
    PutLE(h, 22, static_cast<quint32>(AChannels), 2);
    PutLE(h, 24, static_cast<quint32>(ARate), 4);
    PutLE(h, 28, static_cast<quint32>(ARate * AChannels * 2), 4);
    PutLE(h, 32, static_cast<quint32>(AChannels * 2), 2);
    PutLE(h, 34, 16, 2);
    std::memcpy(h.data() + 36, "data", 4);
    PutLE(h, 40, ADataBytes, 4);
    return h;
}

class TRecorder {
public:
    explicit TRecorder(const TRecorderOptions &AOptions) : FOpt(AOptions) {}

    bool Open()
    {
        if (!QFileInfo(FOpt.db).absoluteDir().exists() && !QDir().mkpath(QFileInfo(FOpt.db).absolutePath())) {
            std::fprintf(stderr, "vornak-tool recorder: cannot create the folder of %s\n", qPrintable(FOpt.db));
            return false;
        }
        sqlite3 *raw = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(FOpt.db).constData(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        FDb.reset(raw);  // adopted before the check: a failed open still needs closing
        if (rc != SQLITE_OK) {
            std::fprintf(stderr, "vornak-tool recorder: %s: %s\n", qPrintable(FOpt.db),
                         raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
            return false;
        }
        // The reader's statements hold locks only briefly; the recorder waits for them.
        sqlite3_busy_timeout(FDb.get(), 10000);
        if (FOpt.modeGiven &&
            !Exec(FDb.get(), FOpt.wal ? "PRAGMA journal_mode = WAL" : "PRAGMA journal_mode = DELETE"))
            return false;
        return Exec(FDb.get(), RecorderTableSql);
    }

    // Records one file and stores its row; false when the row could not be stored.
    bool RecordOne(const QDateTime &AAt)
    {
        if (!Exec(FDb.get(), FOpt.exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE"))
            return false;
        const bool ok = WriteAndInsert(AAt);
        if (ok && Exec(FDb.get(), "COMMIT"))
            return true;
        if (!sqlite3_get_autocommit(FDb.get()))
            Exec(FDb.get(), "ROLLBACK");
        return false;
    }

private:
    bool WriteAndInsert(const QDateTime &AAt)
    {
        const QString date = AAt.toString(QStringLiteral("yyyy-MM-dd"));
        const int hour = AAt.time().hour();
        const int number = NextNumber(date, hour);
        if (number <= 0)
            return false;
        const QString dir = FOpt.root + '/' + AAt.toString(QStringLiteral("yyyy/MM/dd"));
        const QString name = AAt.toString(QStringLiteral("ddMMyyyy")) + QStringLiteral("%1%2.wav")
                                                                           .arg(hour, 2, 10, QLatin1Char('0'))
                                                                           .arg(number);
        const QString path = QDir(dir).absoluteFilePath(name);
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "vornak-tool recorder: cannot create %s\n", qPrintable(dir));
            return false;
        }
        const int seconds = WriteGrowingWav(path);
        if (seconds <= 0)
            return false;

        sqlite3_stmt *raw = nullptr;
        const char *sql = "INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number, format, filename,"
                          " filepath, title, persons, duration_sec)"
                          " VALUES (:dt, :d, :h, :n, 'WAV', :f, :p, '', '', :s)";
        if (sqlite3_prepare_v2(FDb.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "vornak-tool recorder: %s\n", sqlite3_errmsg(FDb.get()));
            return false;
        }
        TStmtHandle st(raw);
        const QByteArray dt = AAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
        const QByteArray d = date.toUtf8(), f = name.toUtf8(), p = path.toUtf8();
        auto idx = [&](const char *AName) { return sqlite3_bind_parameter_index(st.get(), AName); };
        sqlite3_bind_text(st.get(), idx(":dt"), dt.constData(), dt.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st.get(), idx(":d"), d.constData(), d.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(st.get(), idx(":h"), hour);
        sqlite3_bind_int(st.get(), idx(":n"), number);
        sqlite3_bind_text(st.get(), idx(":f"), f.constData(), f.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st.get(), idx(":p"), p.constData(), p.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(st.get(), idx(":s"), seconds);
        if (sqlite3_step(st.get()) != SQLITE_DONE) {
            std::fprintf(stderr, "vornak-tool recorder: insert: %s\n", sqlite3_errmsg(FDb.get()));
            return false;
        }
        FLastId = sqlite3_last_insert_rowid(FDb.get());
        FLastPath = path;
        return true;
    }

    int NextNumber(const QString &ADate, int AHour)
    {
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(FDb.get(),
                               "SELECT COALESCE(MAX(rec_number), 0) + 1 FROM recordings"
                               " WHERE rec_date = :d AND rec_hour = :h",
                               -1, &raw, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "vornak-tool recorder: %s\n", sqlite3_errmsg(FDb.get()));
            return -1;
        }
        TStmtHandle st(raw);
        const QByteArray d = ADate.toUtf8();
        sqlite3_bind_text(st.get(), 1, d.constData(), d.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int(st.get(), 2, AHour);
        if (sqlite3_step(st.get()) != SQLITE_ROW) {
            std::fprintf(stderr, "vornak-tool recorder: %s\n", sqlite3_errmsg(FDb.get()));
            return -1;
        }
        return sqlite3_column_int(st.get(), 0);
    }

    // One second of 8 kHz mono tone per recording, written in ten pieces spread over the hold time.
    // Returns the length in whole seconds, 0 on a write error.
    int WriteGrowingWav(const QString &APath)
    {
        constexpr int rate = 8000, pieces = 10, frames = rate / pieces;
        QFile file(APath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            std::fprintf(stderr, "vornak-tool recorder: %s: %s\n", qPrintable(APath), qPrintable(file.errorString()));
            return 0;
        }
        const QByteArray header = WavHeader(rate, 1, 0);
        if (file.write(header) != header.size())
            return 0;
        QElapsedTimer clock;
        clock.start();
        QByteArray piece(frames * 2, '\0');
        for (int p = 0; p < pieces; ++p) {
            for (int i = 0; i < frames; ++i) {
                const int n = p * frames + i;
                const auto s = static_cast<qint16>(std::lround(8000.0 * std::sin(2 * M_PI * 440.0 * n / rate)));
                piece[2 * i] = static_cast<char>(s & 0xFF);
                piece[2 * i + 1] = static_cast<char>((s >> 8) & 0xFF);
            }
            if (file.write(piece) != piece.size()) {
                std::fprintf(stderr, "vornak-tool recorder: %s: %s\n", qPrintable(APath), qPrintable(file.errorString()));
                return 0;
            }
            // A stop request shortens the hold; the file is still completed.
            SleepUntil(clock, static_cast<qint64>(FOpt.hold * 1000.0 * (p + 1) / pieces));
        }
        const QByteArray done = WavHeader(rate, 1, rate * 2);
        if (!file.seek(0) || file.write(done) != done.size() || !file.flush()) {
            std::fprintf(stderr, "vornak-tool recorder: %s: %s\n", qPrintable(APath), qPrintable(file.errorString()));
            return 0;
        }
        return 1;
    }

public:
    QString JournalMode()
    {
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(FDb.get(), "PRAGMA journal_mode", -1, &raw, nullptr) != SQLITE_OK)
            return QString();
        TStmtHandle st(raw);
        if (sqlite3_step(st.get()) != SQLITE_ROW)
            return QString();
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st.get(), 0)));
    }

    sqlite3_int64 FLastId = 0;
    QString FLastPath;

private:
    TRecorderOptions FOpt;
    TDbHandle FDb;
};

} // namespace

int CmdRecorder(const QStringList &AArgs)
{
    TRecorderOptions opt;
    QString why;
    if (!ParseOptions(AArgs, opt, why))
        return RecorderUsage(qPrintable(why));

    stopRequested = false;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    TRecorder rec(opt);
    if (!rec.Open())
        return ExitError;
    std::printf("ready db=%s journal=%s\n", qPrintable(opt.db), qPrintable(rec.JournalMode()));
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    int failed = 0, made = 0;
    for (int i = 0; !stopRequested && (opt.count == 0 || i < opt.count); ++i) {
        const qint64 startMs = static_cast<qint64>(opt.every * 1000.0 * i);
        if (i > 0)
            SleepUntil(clock, startMs);
        if (stopRequested)
            break;
        const double step = opt.step >= 0 ? opt.step : opt.every;
        const QDateTime at = opt.start.isValid() ? opt.start.addMSecs(static_cast<qint64>(step * 1000.0 * i))
                                                 : QDateTime::currentDateTime();
        if (rec.RecordOne(at)) {
            ++made;
            std::printf("inserted=%lld file=%s\n", static_cast<long long>(rec.FLastId), qPrintable(rec.FLastPath));
        } else {
            ++failed;
            std::printf("failed insert at %s\n", qPrintable(at.toString(Qt::ISODateWithMs)));
        }
        std::fflush(stdout);
    }
    std::printf("recorded=%d failed=%d\n", made, failed);
    std::fflush(stdout);
    return failed ? ExitError : ExitOk;
}
