// vornak-tool demo APPDIR: generated demo recordings, their catalogue and a recorder settings file.
#include "commands.h"

#include "uDemo.h"
#include "uReaderTypes.h"

#include <cstdio>

int CmdDemo(const QStringList &args)
{
    if (args.size() != 1 || args[0].isEmpty() || args[0].startsWith(QLatin1String("--"))) {
        std::fputs("usage: vornak-tool demo APPDIR\n", stderr);
        return ExitUsage;
    }
    try {
        const QString db = MakeDemo(args[0], [](const QString &path) {
            std::printf("file=%s\n", qPrintable(path));
            std::fflush(stdout);
        });
        std::printf("demo=%s\n", qPrintable(db));
        return ExitOk;
    } catch (const EReaderError &e) {
        std::fprintf(stderr, "vornak-tool demo: %s\n", qPrintable(e.Message()));
        return ExitError;
    }
}
