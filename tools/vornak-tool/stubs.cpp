// Sub-commands not built yet. Each layer moves its commands out of here into its own cmd_*.cpp.
#include "commands.h"

#include <cstdio>

namespace {
int NotYet()
{
    std::fputs("vornak-tool: this command is not available in this build\n", stderr);
    return ExitError;
}
} // namespace

int CmdEnvelope(const QStringList &) { return NotYet(); }
int CmdDevices(const QStringList &) { return NotYet(); }
int CmdPlay(const QStringList &) { return NotYet(); }
int CmdExport(const QStringList &) { return NotYet(); }
int CmdDemo(const QStringList &) { return NotYet(); }
