// Build helper: writes vornak-tool's manual page or bash completion from its reference text.
//   vornak-doc man SOURCE.md OUT VERSION
//   vornak-doc completion SOURCE.md OUT
#include "uToolDoc.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

int main(int AArgc, char *AArgv[])
{
    // No application object: the helper runs during the build, also in the sanitizer build.
    QStringList args;
    for (int i = 1; i < AArgc; ++i)
        args << QString::fromLocal8Bit(AArgv[i]);
    const bool man = args.size() == 4 && args[0] == QLatin1String("man");
    const bool completion = args.size() == 3 && args[0] == QLatin1String("completion");
    if (!man && !completion) {
        std::fputs("gebruik: vornak-doc man BRON.md UITVOER VERSIE | vornak-doc completion BRON.md UITVOER\n", stderr);
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vornak-doc: %s: %s\n", qPrintable(args[1]), qPrintable(source.errorString()));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());
    QString text;
    try {
        text = man ? ToolDocToMan(markdown, args[3]) : ToolDocToBashCompletion(markdown);
    } catch (const EToolDocError &e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[1]), e.what());
        return 1;
    }
    QSaveFile out(args[2]);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0 || !out.commit()) {
        std::fprintf(stderr, "vornak-doc: %s: %s\n", qPrintable(args[2]), qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
