// Sub-commands not built yet. Each layer moves its commands out of here into its own cmd_*.cpp.
#include "commands.h"

#include <cstdio>

namespace {
[[maybe_unused]] int NotYet()
{
    std::fputs("vornak-tool: this command is not available in this build\n", stderr);
    return ExitError;
}
} // namespace

