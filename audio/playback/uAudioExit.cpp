// The exit guard of a process that used audio output: it ends before Qt Multimedia's sound server teardown.
#include "uAudioExit.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

// An on_exit handler (glibc): it receives the status that exit was given or main returned.
void EndBeforeAudioTeardown(int AStatus, void *)
{
    std::fflush(nullptr);
    std::_Exit(AStatus);
}

std::once_flag DeviceQueryGuard;
std::once_flag SinkStartGuard;

} // namespace

void GuardAudioExit(TAudioUse AUse)
{
    std::call_once(AUse == TAudioUse::auSinkStart ? SinkStartGuard : DeviceQueryGuard,
                   [] { on_exit(EndBeforeAudioTeardown, nullptr); });
}
