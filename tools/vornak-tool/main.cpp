// Command-line companion: runs the reader's own code for administrators and scripts.
#include "commands.h"
#include "uVersion.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    const char *usage;
    int (*run)(const QStringList &);
};

const Command commands[] = {
    {"format-duration", "format-duration SEC", CmdFormatDuration},
    {"format-time", "format-time SEC", CmdFormatTime},
    {"hours", "hours DB yyyy-mm-dd", CmdHours},
    {"search", "search DB [--date yyyy-mm-dd] [--hour H] [--name TEXT]", CmdSearch},
    {"find-stem", "find-stem DB STEM", CmdFindStem},
    {"resolve", "resolve DB ID ROOT", CmdResolve},
    {"set-meta", "set-meta DB ID FILENAME TITLE PERSONS", CmdSetMeta},
    {"config", "config APPDIR", CmdConfig},
    {"envelope", "envelope FILE [--progress] [--dump] [--no-cache] [--cache DIR] [--threads N]", CmdEnvelope},
    {"warm", "warm DB ROOT [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--cache DIR] [--progress]", CmdWarm},
    {"devices", "devices", CmdDevices},
    {"play", "play FILE [--device N] [--seconds S] [--speed X] [--channel both|left|right]", CmdPlay},
    {"loudness", "loudness FILE [--start S] [--end E] [--silence-db D] [--silence-min S] [--threads N]", CmdLoudness},
    {"export", "export FILE OUT --format wav|mp3|ogg|opus [--bitrate K] [--start S] [--end E] [--loudness -23|-16] [--record]", CmdExport},
    {"verify", "verify RECORD.json [--root ROOT]", CmdVerify},
    {"demo", "demo APPDIR", CmdDemo},
    {"audit", "audit DB ROOT [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--decode] [--progress] [--signal] [--silence-db D] [--silence-min S] [--clip-runs N] [--loudness-min L] [--loudness-max L] [--fixity MANIFEST]", CmdAudit},
    {"fixity", "fixity DB ROOT MANIFEST [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--progress]", CmdFixity},
    {"export-found", "export-found DB ROOT OUTDIR --format wav|mp3|ogg|opus [--bitrate K] [--date yyyy-mm-dd] [--hour H] [--name TEXT]", CmdExportFound},
    {"serve", "serve DB ROOT [--listen HOST:PORT] [--users FILE] [--access-log FILE] [--cache DIR] [--state DIR] [--static DIR] [--trusted-proxy ADDR]... [--session-hours H]", CmdServe},
    {"user", "user add NAME --role listen|export|edit|admin [--users FILE] | user passwd NAME [--users FILE] [--state DIR] | user remove NAME [--users FILE] [--state DIR] | user list [--users FILE]", CmdUser},
        {"recorder", "recorder DB ROOT [--every SECONDS] [--hold SECONDS] [--mode rollback|wal] [--exclusive] [--count N] [--start yyyy-mm-ddThh:mm:ss [--step SECONDS]]", CmdRecorder},
};

int Usage()
{
    std::fputs("usage: vornak-tool COMMAND ARGS...\ncommands:\n", stderr);
    for (const Command &c : commands)
        std::fprintf(stderr, "  vornak-tool %s\n", c.usage);
    return ExitUsage;
}

} // namespace

int BadArgs(const char *AUsage)
{
    std::fprintf(stderr, "usage: vornak-tool %s\n", AUsage);
    return ExitUsage;
}

int main(int AArgc, char *AArgv[])
{
    QCoreApplication app(AArgc, AArgv);
    const QStringList all = app.arguments();
    if (all.size() < 2)
        return Usage();
    if (all.size() == 2 && all[1] == QLatin1String("--version")) {
        std::printf("vornak-tool %s\n", ReaderVersion().toUtf8().constData());
        return ExitOk;
    }
    for (const Command &c : commands) {
        if (all[1] == QLatin1String(c.name))
            return c.run(all.mid(2));
    }
    return Usage();
}
