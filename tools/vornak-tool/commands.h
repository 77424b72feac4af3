// Sub-commands of vornak-tool. Each takes the arguments after the sub-command's name and returns the
// exit code: 0 success, 1 an error (message on standard error), 2 bad arguments (usage), 3 not found
// (for `verify`: not proven), 4 the audit found something.
#pragma once

#include <QStringList>

enum class TAudioFormat;

enum ToolExit { ExitOk = 0, ExitError = 1, ExitUsage = 2, ExitNotFound = 3, ExitFindings = 4 };
// `verify`: nothing is altered, but the re-export that would prove the clip could not be made.
constexpr ToolExit ExitNotProven = ExitNotFound;

// Writes "usage: vornak-tool " + AUsage to standard error and returns ExitUsage: the answer to arguments a
// sub-command cannot take.
int BadArgs(const char *AUsage);

// A value of a tab-separated key=value output field, the one escaping of every command's lines: backslash,
// tab, CR, LF and NUL escaped as \\ \t \r \n \0, and a byte of a file name that is not UTF-8 (kept by
// PathFromBytes) as \xHH (two upper-case hex digits). Everything else is written as it is.
QString EscapedField(const QString &AValue);

// catalogue and settings (cmd_catalogue.cpp)
int CmdFormatDuration(const QStringList &AArgs);
int CmdFormatTime(const QStringList &AArgs);
int CmdHours(const QStringList &AArgs);
int CmdSearch(const QStringList &AArgs);
int CmdFindStem(const QStringList &AArgs);
int CmdResolve(const QStringList &AArgs);
int CmdSetMeta(const QStringList &AArgs);
int CmdConfig(const QStringList &AArgs);
// audio engine (cmd_audio.cpp)
int CmdEnvelope(const QStringList &AArgs);
int CmdWarm(const QStringList &AArgs);
int CmdDevices(const QStringList &AArgs);
int CmdPlay(const QStringList &AArgs);
int CmdLoudness(const QStringList &AArgs);
// range export (cmd_export.cpp)
int CmdExport(const QStringList &AArgs);
// export record check (cmd_export.cpp)
int CmdVerify(const QStringList &AArgs);
// The value of a --format option (wav, mp3, ogg or opus, any case) into AFormat; false for anything else.
bool ParseFormatOption(const QString &AValue, TAudioFormat &AFormat);
// demo catalogue and recordings (cmd_demo.cpp)
int CmdDemo(const QStringList &AArgs);
// archive audit and export of found recordings (cmd_archive.cpp)
int CmdAudit(const QStringList &AArgs);
int CmdExportFound(const QStringList &AArgs);
int CmdFixity(const QStringList &AArgs);
// recorder stand-in (cmd_recorder.cpp)
int CmdRecorder(const QStringList &AArgs);

// web server and its accounts (cmd_web.cpp)
int CmdServe(const QStringList &AArgs);
int CmdUser(const QStringList &AArgs);
