// The web server's access log: one JSON object per line, each appended with one write (so that a killed
// server leaves only whole lines) and flushed to disk by the log's own thread as soon as it is written.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// The default file: $XDG_STATE_HOME/VornakReader2026/access.log (an absolute XDG_STATE_HOME only), else
// $HOME/.local/state/VornakReader2026/access.log; empty when neither is an absolute path.
QString DefaultAccessLogPath();
// The default state folder: the same base, VornakReader2026/web.
QString DefaultWebStateDir();

// One entry. Empty texts, Id 0 and negative Start/End are left out of the line.
struct TAccessEntry {
    QString User;
    QString Address;
    QString Action;   // login, login_failed, logout, listen, peaks, export, edit, search, denied
    int Id = 0;
    double Start = -1;
    double End = -1;
    QString Format;
    QString Sha256;
    int Status = 0;
};

// Thread-safe; several processes may append to one file (O_APPEND, one write per line).
class TAccessLog {
public:
    // Opens (creates, mode 0600, the folder made when missing) the file for appending. Throws EReaderError.
    explicit TAccessLog(const QString &APath);
    ~TAccessLog();
    TAccessLog(const TAccessLog &) = delete;
    TAccessLog &operator=(const TAccessLog &) = delete;

    // Appends one line with the time ATime (local time with its zone offset). False when the write failed.
    // The line is in the file when this returns; the flush to disk follows on the log's thread, so that an
    // answer does not wait for the disk (a busy disk took 5-100 ms per flush).
    bool Append(const TAccessEntry &AEntry, const QDateTime &ATime = QDateTime::currentDateTime());
    // The entries whose time lies in [AFrom, ATo] (an invalid bound is open), oldest first, at most AMax;
    // ATruncated tells that more matched. Lines that are no JSON object are skipped.
    QList<QJsonObject> Read(const QDateTime &AFrom, const QDateTime &ATo, int AMax, bool &ATruncated) const;

private:
    void FlushLoop();

    QString FPath;
    int FFd = -1;
    std::mutex FFlushMutex;
    std::condition_variable FFlushWake;
    bool FUnflushed = false;
    bool FClosing = false;
    std::thread FFlusher;
};
