// Sub-commands of vornak-tool. Each takes the arguments after the sub-command's name and returns the
// exit code: 0 success, 1 an error (message on standard error), 2 bad arguments (usage), 3 not found,
// 4 the audit found something.
#pragma once

#include <QStringList>

enum class TAudioFormat;

enum ToolExit { ExitOk = 0, ExitError = 1, ExitUsage = 2, ExitNotFound = 3, ExitFindings = 4 };

// A value of a tab-separated key=value output field, the one escaping of every command's lines: backslash,
// tab, CR, LF and NUL escaped as \\ \t \r \n \0, and a byte of a file name that is not UTF-8 (kept by
// PathFromBytes) as \xHH (two upper-case hex digits). Everything else is written as it is.
QString EscapedField(const QString &AValue);

// catalogue and settings (cmd_catalogue.cpp)
int CmdFormatDuration(const QStringList &args);
int CmdFormatTime(const QStringList &args);
int CmdHours(const QStringList &args);
int CmdSearch(const QStringList &args);
int CmdFindStem(const QStringList &args);
int CmdResolve(const QStringList &args);
int CmdSetMeta(const QStringList &args);
int CmdConfig(const QStringList &args);
// audio engine (cmd_audio.cpp)
int CmdEnvelope(const QStringList &args);
int CmdWarm(const QStringList &args);
int CmdDevices(const QStringList &args);
int CmdPlay(const QStringList &args);
int CmdLoudness(const QStringList &args);
// range export (cmd_export.cpp)
int CmdExport(const QStringList &args);
// export record check (cmd_export.cpp)
int CmdVerify(const QStringList &args);
// The value of a --format option (wav, mp3, ogg or opus, any case) into AFormat; false for anything else.
bool ParseFormatOption(const QString &AValue, TAudioFormat &AFormat);
// demo catalogue and recordings (cmd_demo.cpp)
int CmdDemo(const QStringList &args);
// archive audit and export of found recordings (cmd_archive.cpp)
int CmdAudit(const QStringList &args);
int CmdExportFound(const QStringList &args);
int CmdFixity(const QStringList &args);
// recorder stand-in (cmd_recorder.cpp)
int CmdRecorder(const QStringList &args);
