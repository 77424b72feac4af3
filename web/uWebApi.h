// The web server's JSON API over the archive: login and sessions, roles, days, hours, recordings, search,
// peaks, audio, export, the title/persons edit, the access log and the page's static files. A request goes
// in as a value and its answer comes out as one; the connection handling is in uWebServer.
#pragma once

#include "uHttpHead.h"
#include "uWebUsers.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

struct TWebConfig {
    QString DbPath;         // the catalogue
    QString Root;           // the recordings; never written
    QString UsersPath;      // the accounts file
    QString AccessLogPath;
    QString CacheDir;       // the envelope cache folder (shared with the reader)
    QString StateDir;       // sessions, the login throttle, exports in progress
    QString StaticDir;      // the page's files, served at "/"; empty: none
    QStringList TrustedProxies = {QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    qint64 SessionIdleSec = 8 * 3600;
    int LockWaitMs = 3000;  // how long the title/persons edit waits for the recorder's lock
    int ExportsPerUser = 2;
    int FailedLoginLimit = 5;
    qint64 FailedLoginWindowSec = 15 * 60;
    qint64 ListenLogWindowSec = 10 * 60;
};

// The folder of the page's files as installed beside the program: <prefix>/share/vornak-reader/web.
QString DefaultStaticDir();

class TWebApi {
public:
    // Opens the state, the access log and the accounts. Throws EReaderError (Dutch) when one cannot be used.
    explicit TWebApi(const TWebConfig &AConfig);
    ~TWebApi();
    TWebApi(const TWebApi &) = delete;
    TWebApi &operator=(const TWebApi &) = delete;

    // The number of accounts as the file holds them now.
    int UserCount();
    // Answers one request. Runs on a worker thread; any number at once. Never throws.
    TWebResponse Handle(const TWebRequest &ARequest);
    // From now on running exports and transcodes stop at their next step (the server is going down).
    void CancelAll() { FStopping = true; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
    std::atomic<bool> FStopping{false};
};

// Removes what exports of a killed server left in AStateDir (folders no live process holds). Returns how
// many it removed.
int RemoveExportDebris(const QString &AStateDir);
