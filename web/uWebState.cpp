// The web server's shared state in SQLite (WAL): sessions, failed logins, listen marks.
#include "uWebState.h"

#include "uSqlite.h"

#include <QDir>
#include <QFile>
#include <map>
#include <sodium.h>

namespace {

constexpr int StateBusyMs = 5000;
// A session's last use is written at most once a minute (its idle end is that much later at most).
constexpr qint64 TouchResolutionSec = 60;

const char *const StateSchema =
    "CREATE TABLE IF NOT EXISTS sessions (key TEXT PRIMARY KEY, user TEXT NOT NULL, created INTEGER NOT NULL,"
    " used INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS failures (name TEXT NOT NULL, address TEXT NOT NULL, time INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS failures_name ON failures (name, time);"
    "CREATE INDEX IF NOT EXISTS failures_address ON failures (address, time);"
    "CREATE TABLE IF NOT EXISTS listens (session TEXT NOT NULL, recording INTEGER NOT NULL, time INTEGER NOT NULL,"
    " PRIMARY KEY (session, recording));";

} // namespace

QByteArray SessionKeyOf(const QByteArray &AToken)
{
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(AToken.constData()),
                       static_cast<unsigned long long>(AToken.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char *>(hash), sizeof hash).toHex();
}

TWebState::TWebState(const QString &ADir)
{
    if (sodium_init() < 0)
        throw EReaderError(QStringLiteral("De willekeurbron van het systeem is niet beschikbaar"));
    if (!QDir().mkpath(ADir))
        throw EReaderError(QStringLiteral("Statusmap kan niet worden gemaakt: %1").arg(ADir));
    FPath = QDir(ADir).filePath(QStringLiteral("web-state.sqlite"));
    TSqliteDb &db = Open();
    db.Exec(QString::fromLatin1(StateSchema));
    QFile::setPermissions(FPath, QFile::ReadOwner | QFile::WriteOwner);
}

TWebState::~TWebState() = default;

TSqliteDb &TWebState::Open() const
{
    // One connection per thread and file, kept: opening one per request cost more than the request.
    thread_local std::map<QString, std::unique_ptr<TSqliteDb>> connections;
    std::unique_ptr<TSqliteDb> &db = connections[FPath];
    if (!db) {
        db = std::make_unique<TSqliteDb>(FPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
        db->SetBusyTimeout(StateBusyMs);
        db->Exec(QStringLiteral("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"));
    }
    return *db;
}

QByteArray TWebState::CreateSession(const QString &AUser, qint64 ANow)
{
    unsigned char random[32];
    randombytes_buf(random, sizeof random);
    const QByteArray token = QByteArray(reinterpret_cast<const char *>(random), sizeof random).toHex();
    TSqliteDb &db = Open();
    {
        TSqliteStmt ins(db, QStringLiteral("INSERT INTO sessions (key, user, created, used) VALUES (:k, :u, :n, :n)"));
        ins.BindText(":k", QString::fromLatin1(SessionKeyOf(token)));
        ins.BindText(":u", AUser);
        ins.BindInt(":n", ANow);
        ins.Step();
    }
    // Old sessions go now and then; a session ended by time is refused before this anyway.
    TSqliteStmt old(db, QStringLiteral("DELETE FROM sessions WHERE used < :t"));
    old.BindInt(":t", ANow - 7 * 24 * 3600);
    old.Step();
    return token;
}

bool TWebState::TouchSession(const QByteArray &AToken, qint64 ANow, qint64 AIdleSec, TWebSession &ASession)
{
    if (AToken.size() != 64)
        return false;
    const QByteArray key = SessionKeyOf(AToken);
    TSqliteDb &db = Open();
    qint64 used = 0;
    {
        TSqliteStmt q(db, QStringLiteral("SELECT user, used FROM sessions WHERE key = :k"));
        q.BindText(":k", QString::fromLatin1(key));
        if (!q.Step())
            return false;
        used = q.ColumnInt("used");
        if (used < ANow - AIdleSec)
            return false;
        ASession.Key = key;
        ASession.User = q.ColumnText("user");
    }
    if (used + TouchResolutionSec > ANow)
        return true;  // marked used less than a minute ago: no write
    TSqliteStmt up(db, QStringLiteral("UPDATE sessions SET used = :n WHERE key = :k AND used < :n"));
    up.BindText(":k", QString::fromLatin1(key));
    up.BindInt(":n", ANow);
    up.Step();
    return true;
}

void TWebState::EndSession(const QByteArray &AToken)
{
    TSqliteDb &db = Open();
    const QString key = QString::fromLatin1(SessionKeyOf(AToken));
    {
        TSqliteStmt del(db, QStringLiteral("DELETE FROM sessions WHERE key = :k"));
        del.BindText(":k", key);
        del.Step();
    }
    TSqliteStmt del(db, QStringLiteral("DELETE FROM listens WHERE session = :k"));
    del.BindText(":k", key);
    del.Step();
}

void TWebState::EndSessionsOf(const QString &AUser)
{
    TSqliteDb &db = Open();
    db.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        {
            TSqliteStmt del(db, QStringLiteral("DELETE FROM listens WHERE session IN"
                                               " (SELECT key FROM sessions WHERE user = :u)"));
            del.BindText(":u", AUser);
            del.Step();
        }
        TSqliteStmt del(db, QStringLiteral("DELETE FROM sessions WHERE user = :u"));
        del.BindText(":u", AUser);
        del.Step();
    } catch (...) {
        db.Exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    db.Exec(QStringLiteral("COMMIT"));
}

bool TWebState::Exists(const QString &ADir)
{
    return QFile::exists(QDir(ADir).filePath(QStringLiteral("web-state.sqlite")));
}

int TWebState::RecentFailures(const QString &AName, const QString &AAddress, qint64 ANow, qint64 AWindowSec)
{
    TSqliteDb &db = Open();
    int most = 0;
    for (const char *column : {"name", "address"}) {
        TSqliteStmt q(db, QStringLiteral("SELECT count(*) FROM failures WHERE %1 = :v AND time > :t")
                               .arg(QLatin1String(column)));
        q.BindText(":v", column[0] == 'n' ? AName : AAddress);
        q.BindInt(":t", ANow - AWindowSec);
        if (q.Step())
            most = std::max(most, static_cast<int>(q.ColumnInt(0)));
    }
    return most;
}

void TWebState::AddFailure(const QString &AName, const QString &AAddress, qint64 ANow)
{
    TSqliteDb &db = Open();
    {
        TSqliteStmt ins(db, QStringLiteral("INSERT INTO failures (name, address, time) VALUES (:n, :a, :t)"));
        ins.BindText(":n", AName);
        ins.BindText(":a", AAddress);
        ins.BindInt(":t", ANow);
        ins.Step();
    }
    TSqliteStmt old(db, QStringLiteral("DELETE FROM failures WHERE time < :t"));
    old.BindInt(":t", ANow - 24 * 3600);
    old.Step();
}

void TWebState::ClearNameFailures(const QString &AName)
{
    TSqliteDb &db = Open();
    TSqliteStmt del(db, QStringLiteral("DELETE FROM failures WHERE name = :n"));
    del.BindText(":n", AName);
    del.Step();
}

bool TWebState::MarkListen(const QByteArray &ASessionKey, int ARecordingId, qint64 ANow, qint64 AWindowSec)
{
    TSqliteDb &db = Open();
    {
        // Most range requests find the mark set: a read, no write.
        TSqliteStmt q(db, QStringLiteral("SELECT time FROM listens WHERE session = :s AND recording = :r"));
        q.BindText(":s", QString::fromLatin1(ASessionKey));
        q.BindInt(":r", ARecordingId);
        if (q.Step() && q.ColumnInt(0) > ANow - AWindowSec)
            return false;
    }
    // One statement decides and marks, so that two processes cannot both log the same listen.
    TSqliteStmt up(db, QStringLiteral(
                            "INSERT INTO listens (session, recording, time) VALUES (:s, :r, :n)"
                            " ON CONFLICT (session, recording) DO UPDATE SET time = excluded.time"
                            " WHERE listens.time <= :t"));
    up.BindText(":s", QString::fromLatin1(ASessionKey));
    up.BindInt(":r", ARecordingId);
    up.BindInt(":n", ANow);
    up.BindInt(":t", ANow - AWindowSec);
    up.Step();
    return db.Changes() > 0;
}
