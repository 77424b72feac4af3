// The exit guard of a process that used audio output: it ends before Qt Multimedia's sound server teardown.
#pragma once

// Qt Multimedia 6.4 (Debian 12) holds two connections to the PulseAudio server that it closes only in
// static destructors, after main has returned: the device list's (made by the first device query) and the
// one all its audio sinks share (made by the first sink start, on the thread that starts it). That teardown
// disconnects without the lock of the connection's event thread, which still runs: when the server sends
// an event at that moment (any program's stream starting or stopping, a device added or removed) the
// process dies with SIGSEGV inside libpulse, after everything else has ended.
//
// GuardAudioExit registers an exit handler (once per kind of use) and is called right after each such
// first use. Exit handlers and static destructors run in the reverse order of their registration, so the
// guard registered last runs before the teardown of every connection made before it: it flushes the C
// output streams and ends the process at once with the exit status, leaving the connections to the
// operating system. What was registered before it (Qt's own teardown, libraries' caches) does not run; what
// was registered after it runs as before. Callers close their own files and catalogue connections before
// main returns (the reader does). Any thread may call it; a process that ends through quick_exit, _exit or
// a signal is not affected.
enum class TAudioUse { auDeviceQuery, auSinkStart };
void GuardAudioExit(TAudioUse AUse);
