// The reference text of vornak-tool (Markdown) turned into its manual page, its bash completion and the
// copy in the documentation (docs/vornak-tool.md), so they never drift apart.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <stdexcept>

// A construct the manual page cannot express, with the 1-based line of the reference text.
class EToolDocError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One sub-command as its synopsis names it: "vornak-tool export FILE OUT --format wav|mp3 [--bitrate K]".
struct TToolCommand {
    QString Name;                        // "export"
    QString Synopsis;                    // the whole synopsis, "vornak-tool " included
    QStringList Options;                 // "--format", "--bitrate", in the order of the synopsis
    QStringList ValueOptions;            // the options followed by a value ("--bitrate K")
    QMap<QString, QStringList> Choices;  // options whose value is a choice: "--format" -> wav, mp3
};

// Reads a synopsis "vornak-tool NAME ARGS..."; an empty Name when the text is not one.
TToolCommand ParseSynopsis(const QString &ASynopsis);
// The sub-commands of the reference text: every "#### `vornak-tool ...`" heading, in order.
QList<TToolCommand> ToolDocCommands(const QString &AMarkdown);
// The sub-commands of vornak-tool's own usage text: every line "  vornak-tool NAME ARGS...".
QList<TToolCommand> ToolUsageCommands(const QString &AUsage);

// One line of Markdown text with its inline code and bold turned into roff (escapes included).
QString ManInline(const QString &AText);
// The manual page vornak-tool(1) in man(7) roff. Throws EToolDocError on tables, fenced code, numbered
// lists, quotes and unbalanced backticks, which the page would otherwise garble silently.
QString ToolDocToMan(const QString &AMarkdown, const QString &AVersion);
// A bash completion script for the sub-commands, their options and the choices of option values.
QString ToolDocToBashCompletion(const QString &AMarkdown);

// The lines that fence the copy of the reference text inside docs/vornak-tool.md.
extern const char *const ToolReferenceBeginMarker;
extern const char *const ToolReferenceEndMarker;
// The text between the two marker lines of APage (the reference text when in sync); a null QString when
// a marker is missing.
QString ToolReferenceCopy(const QString &APage);
