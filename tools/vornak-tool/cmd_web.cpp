// vornak-tool serve and user: the web server over the archive, and its accounts.
#include "commands.h"

#include "uAccessLog.h"
#include "uEnvelopeCache.h"
#include "uReaderData.h"
#include "uWebApi.h"
#include "uWebServer.h"
#include "uWebState.h"
#include "uWebUsers.h"

#include <QFileInfo>
#include <malloc.h>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

const char *const ServeUsage =
    "serve DB ROOT [--listen HOST:PORT] [--users FILE] [--access-log FILE] [--cache DIR] [--state DIR] "
    "[--static DIR] [--trusted-proxy ADDR]... [--session-hours H]";
const char *const UserUsage =
    "user add NAME --role listen|export|edit|admin [--users FILE] | user passwd NAME [--users FILE] [--state DIR] | "
    "user remove NAME [--users FILE] [--state DIR] | user list [--users FILE]";


void Err(const QString &AText)
{
    std::fputs((AText + QLatin1Char('\n')).toUtf8().constData(), stderr);
}

} // namespace

int CmdServe(const QStringList &AArgs)
{
    if (AArgs.size() < 2 || AArgs[0].startsWith(QLatin1String("--")) || AArgs[1].startsWith(QLatin1String("--")))
        return BadArgs(ServeUsage);
    TWebConfig config;
    config.DbPath = AArgs[0];
    config.Root = AArgs[1];
    config.UsersPath = DefaultUsersPath();
    config.AccessLogPath = DefaultAccessLogPath();
    config.StateDir = DefaultWebStateDir();
    config.CacheDir = TEnvelopeCache::DefaultFolder();
    config.StaticDir = DefaultStaticDir();
    QString listen = QStringLiteral("127.0.0.1:8480");
    QStringList proxies;
    for (int i = 2; i < AArgs.size(); i += 2) {
        if (i + 1 >= AArgs.size())
            return BadArgs(ServeUsage);
        const QString &key = AArgs[i];
        const QString &value = AArgs[i + 1];
        if (key == QLatin1String("--listen"))
            listen = value;
        else if (key == QLatin1String("--users"))
            config.UsersPath = value;
        else if (key == QLatin1String("--access-log"))
            config.AccessLogPath = value;
        else if (key == QLatin1String("--cache"))
            config.CacheDir = value;
        else if (key == QLatin1String("--state"))
            config.StateDir = value;
        else if (key == QLatin1String("--static"))
            config.StaticDir = value;
        else if (key == QLatin1String("--trusted-proxy"))
            proxies.append(value);
        else if (key == QLatin1String("--session-hours")) {
            bool ok = false;
            const double hours = value.toDouble(&ok);
            if (!ok || hours <= 0)
                return BadArgs(ServeUsage);
            config.SessionIdleSec = static_cast<qint64>(hours * 3600);
        } else
            return BadArgs(ServeUsage);
    }
    if (!proxies.isEmpty())
        config.TrustedProxies = proxies;
    if (config.UsersPath.isEmpty() || config.AccessLogPath.isEmpty() || config.StateDir.isEmpty()) {
        Err(QStringLiteral("Geen thuismap: geef --users, --access-log en --state op"));
        return ExitUsage;
    }
    try {
        // The catalogue must open now: a wrong path is told at the start, not at the first request.
        { TReaderData probe(config.DbPath, TReaderData::DefaultLockWaitMs, TCatalogueAccess::ReadOnly); }
        TWebApi api(config);
        if (api.UserCount() == 0) {
            Err(QStringLiteral("Geen gebruikers in %1: maak eerst een account met "
                               "vornak-tool user add NAAM --role listen|export|edit|admin")
                    .arg(config.UsersPath));
            return ExitUsage;
        }
        // Many threads each take a chunk at a time: without a bound glibc gives each its own arena, and the
        // memory of freed chunks stays with the arenas (measured: bench_serve).
        ::mallopt(M_ARENA_MAX, 2);
        TWebServer server(api);
        QString error;
        if (!server.Listen(listen, error)) {
            Err(error);
            return ExitError;
        }
        server.Run(true, [&server]() {
            std::printf("listening=%s\n", server.Url().toUtf8().constData());
            std::fflush(stdout);
        });
        return ExitOk;
    } catch (const EReaderError &e) {
        Err(e.Message());
    } catch (const std::exception &e) {
        Err(QString::fromLocal8Bit(e.what()));
    }
    return ExitError;
}

int CmdUser(const QStringList &AArgs)
{
    if (AArgs.isEmpty())
        return BadArgs(UserUsage);
    const QString action = AArgs[0];
    QString name;
    int next = 1;
    if (action != QLatin1String("list")) {
        if (AArgs.size() < 2 || AArgs[1].startsWith(QLatin1String("--")))
            return BadArgs(UserUsage);
        name = AArgs[1];
        next = 2;
    }
    QString usersPath = DefaultUsersPath();
    QString stateDir = DefaultWebStateDir();
    QString roleText;
    for (int i = next; i < AArgs.size(); i += 2) {
        if (i + 1 >= AArgs.size())
            return BadArgs(UserUsage);
        if (AArgs[i] == QLatin1String("--users"))
            usersPath = AArgs[i + 1];
        else if (AArgs[i] == QLatin1String("--role") && action == QLatin1String("add"))
            roleText = AArgs[i + 1];
        else if (AArgs[i] == QLatin1String("--state")
                 && (action == QLatin1String("passwd") || action == QLatin1String("remove")))
            stateDir = AArgs[i + 1];
        else
            return BadArgs(UserUsage);
    }
    TWebRole role = TWebRole::Listen;
    if (action == QLatin1String("add") && !ParseRole(roleText, role))
        return BadArgs(UserUsage);
    if (action != QLatin1String("add") && action != QLatin1String("passwd") && action != QLatin1String("remove")
        && action != QLatin1String("list"))
        return BadArgs(UserUsage);
    if (usersPath.isEmpty()) {
        Err(QStringLiteral("Geen thuismap: geef --users op"));
        return ExitUsage;
    }
    TWebUsers users(usersPath);
    QString error;
    if (!users.Load(error)) {
        Err(error);
        return ExitError;
    }
    if (action == QLatin1String("list")) {
        for (const TWebUser &user : users.Users())
            std::printf("user=%s\trole=%s\n", EscapedField(user.Name).toUtf8().constData(), RoleName(user.Role));
        std::fflush(stdout);
        return ExitOk;
    }
    const TWebUser *existing = users.Find(name);
    if (action == QLatin1String("remove")) {
        if (!existing) {
            Err(QStringLiteral("Gebruiker bestaat niet: %1").arg(name));
            return ExitNotFound;
        }
        users.Remove(name);
    } else {
        if (action == QLatin1String("passwd")) {
            if (!existing) {
                Err(QStringLiteral("Gebruiker bestaat niet: %1").arg(name));
                return ExitNotFound;
            }
            role = existing->Role;
        } else if (existing) {
            Err(QStringLiteral("Gebruiker bestaat al: %1 (wachtwoord wijzigen: user passwd)").arg(name));
            return ExitError;
        }
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!users.Set(name, role, QByteArray::fromStdString(line), error)) {
            Err(error);
            return ExitError;
        }
    }
    if (!users.Save(error)) {
        Err(error);
        return ExitError;
    }
    // A changed password or a removed account ends the account's open sessions in every server process
    // sharing the state folder; after the file is saved, so that no login with the old password comes
    // between.
    if (action != QLatin1String("add") && !stateDir.isEmpty() && TWebState::Exists(stateDir)) {
        try {
            TWebState(stateDir).EndSessionsOf(name);
        } catch (const EReaderError &e) {
            Err(QStringLiteral("Account gewijzigd, maar de open sessies zijn niet beëindigd: %1").arg(e.Message()));
            return ExitError;
        }
    }
    return ExitOk;
}
