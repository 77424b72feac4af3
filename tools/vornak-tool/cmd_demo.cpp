// vornak-tool demo APPDIR: generated demo recordings, their catalogue and a recorder settings file.
#include "commands.h"

#include "uDemo.h"
#include "uReaderTypes.h"

#include <cstdio>

int CmdDemo(const QStringList &AArgs)
{
    if (AArgs.size() != 1 || AArgs[0].isEmpty() || AArgs[0].startsWith(QLatin1String("--"))) {
        std::fputs("usage: vornak-tool demo APPDIR\n", stderr);
        return ExitUsage;
    }
    try {
        const QString db = MakeDemo(AArgs[0], [](const QString &APath) {
            std::printf("file=%s\n", qPrintable(APath));
            std::fflush(stdout);
        });
        std::printf("demo=%s\n", qPrintable(db));
        return ExitOk;
    } catch (const EReaderError &e) {
        std::fprintf(stderr, "vornak-tool demo: %s\n", qPrintable(e.Message()));
        return ExitError;
    }
}
