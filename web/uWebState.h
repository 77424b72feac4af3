// The web server's shared state: sessions, the login throttle and the listen marks, in one SQLite file
// (WAL) in the state folder, so that several server processes on one folder act as one.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class TSqliteDb;

struct TWebSession {
    QByteArray Key;   // the stored key of the session: a hash of its token (the token itself is never stored)
    QString User;
};

// Thread-safe (one connection per thread, SQLite's own locking between threads and processes). Times are seconds since
// the epoch, passed in so that tests can move the clock.
class TWebState {
public:
    // Opens or creates ADir/web-state.sqlite (the folder made when missing). Throws EReaderError (Dutch)
    // when it cannot.
    explicit TWebState(const QString &ADir);
    ~TWebState();

    // A new session for AUser: returns its token (64 hex digits, from the system's random source).
    QByteArray CreateSession(const QString &AUser, qint64 ANow);
    // The session of a token when it exists and was used within AIdleSec; marks it used at ANow (written
    // only when the stored use is a minute old or more).
    bool TouchSession(const QByteArray &AToken, qint64 ANow, qint64 AIdleSec, TWebSession &ASession);
    void EndSession(const QByteArray &AToken);
    // Ends every session of a user (an account removed or its password changed), in every process sharing
    // the folder: their next request answers 401.
    void EndSessionsOf(const QString &AUser);
    // True when ADir holds a state file (without one there are no sessions to end).
    static bool Exists(const QString &ADir);

    // Failed logins within AWindowSec before ANow for the name, and for the address.
    int RecentFailures(const QString &AName, const QString &AAddress, qint64 ANow, qint64 AWindowSec);
    void AddFailure(const QString &AName, const QString &AAddress, qint64 ANow);
    // A successful login forgets the name's failures (the address's stay).
    void ClearNameFailures(const QString &AName);

    // True (and the mark set at ANow) when this session has not listened to this recording within AWindowSec.
    bool MarkListen(const QByteArray &ASessionKey, int ARecordingId, qint64 ANow, qint64 AWindowSec);

private:
    TSqliteDb &Open() const;
    QString FPath;
};

// The stored key of a token.
QByteArray SessionKeyOf(const QByteArray &AToken);
