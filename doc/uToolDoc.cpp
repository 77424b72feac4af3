// The reference text of vornak-tool turned into its manual page, its bash completion and the copy in the
// documentation (docs/vornak-tool.md).
#include "uToolDoc.h"

#include <QRegularExpression>

const char *const ToolReferenceBeginMarker =
    "<!-- vornak-tool reference: a copy of doc/vornak-tool.md, made by tools/update-readme.sh; edit that file -->";
const char *const ToolReferenceEndMarker = "<!-- end of the vornak-tool reference -->";

namespace {

const QString ToolName = QStringLiteral("vornak-tool");

// "#### `vornak-tool ...`": the heading that introduces one sub-command.
const QRegularExpression CommandHeading(QStringLiteral("^#### `(vornak-tool [^`]+)`\\s*$"));

// roff for one character of running text; non-ASCII goes as a named code point so that man needs no
// guess at the file's encoding.
QString RoffChar(char32_t AChar)
{
    if (AChar == U'\\')
        return QStringLiteral("\\e");
    if (AChar < 0x80)
        return QString(QChar(char16_t(AChar)));
    return QStringLiteral("\\[u") + QString::number(uint(AChar), 16).toUpper().rightJustified(4, QLatin1Char('0')) +
           QLatin1Char(']');
}

// Literal text (code, option names): every '-' is a minus, so that options survive copy and paste.
QString RoffLiteral(const QString &AText)
{
    QString out;
    for (char32_t c : AText.toUcs4())
        out += c == U'-' ? QStringLiteral("\\-") : RoffChar(c);
    return out;
}

// A line that starts with '.' or '\'' would be read as a request.
QString GuardLineStart(const QString &ALine)
{
    if (ALine.startsWith(QLatin1Char('.')) || ALine.startsWith(QLatin1Char('\'')))
        return QStringLiteral("\\&") + ALine;
    return ALine;
}

// The synopsis with the command words and options in bold and the operator's values in italics; a line
// breaks only between bracketed groups, never inside one.
QString RoffSynopsis(const QString &ASynopsis)
{
    QString out;
    int depth = 0;
    const QStringList tokens = ASynopsis.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int i = 0; i < tokens.size(); ++i) {
        QString t = tokens[i];
        int open = 0, close = 0;
        while (t.startsWith(QLatin1Char('['))) { t.remove(0, 1); ++open; }
        while (t.endsWith(QLatin1Char(']'))) { t.chop(1); ++close; }
        if (i > 0)
            out += depth > 0 ? QStringLiteral("\\ ") : QStringLiteral(" ");
        depth += open - close;
        const bool literal = i < 2 || t.startsWith(QLatin1String("--")) || t.contains(QLatin1Char('|'));
        out += QString(open, QLatin1Char('[')) + (literal ? QStringLiteral("\\fB") : QStringLiteral("\\fI")) +
               RoffLiteral(t) + QStringLiteral("\\fR") + QString(close, QLatin1Char(']'));
    }
    return out;
}

bool IsBlank(const QString &ALine)
{
    return ALine.trimmed().isEmpty();
}

[[noreturn]] void Refuse(int ALine, const QString &AWhy)
{
    throw EToolDocError(QStringLiteral("regel %1: %2").arg(ALine).arg(AWhy).toStdString());
}

} // namespace

TToolCommand ParseSynopsis(const QString &ASynopsis)
{
    TToolCommand cmd;
    const QString s = ASynopsis.simplified();
    const QStringList tokens = s.split(QLatin1Char(' '));
    if (tokens.size() < 2 || tokens[0] != ToolName)
        return cmd;
    cmd.Name = tokens[1];
    cmd.Synopsis = s;
    // An option, then its value when the next word is not another option or a closing bracket.
    static const QRegularExpression option(QStringLiteral("(--[a-z][a-z0-9-]*)(?: ([^\\s\\[\\]]+))?"));
    for (auto it = option.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1), value = m.captured(2);
        if (cmd.Options.contains(name))
            continue;
        cmd.Options << name;
        if (value.isEmpty() || value.startsWith(QLatin1String("--")))
            continue;
        cmd.ValueOptions << name;
        static const QRegularExpression choice(QStringLiteral("^[a-z0-9]+(\\|[a-z0-9]+)+$"));
        if (choice.match(value).hasMatch())
            cmd.Choices.insert(name, value.split(QLatin1Char('|')));
    }
    return cmd;
}

QList<TToolCommand> ToolDocCommands(const QString &AMarkdown)
{
    QList<TToolCommand> list;
    for (const QString &line : AMarkdown.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = CommandHeading.match(line);
        if (m.hasMatch())
            list << ParseSynopsis(m.captured(1));
    }
    return list;
}

QList<TToolCommand> ToolUsageCommands(const QString &AUsage)
{
    QList<TToolCommand> list;
    for (const QString &line : AUsage.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("  ")))
            continue;
        const TToolCommand c = ParseSynopsis(line);
        if (!c.Name.isEmpty())
            list << c;
    }
    return list;
}

QString ManInline(const QString &AText)
{
    const QList<uint> text = AText.toUcs4();
    QString out;
    bool bold = false;
    for (int i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c == U'`') {
            int j = i + 1;
            while (j < text.size() && text[j] != U'`')
                ++j;
            if (j == text.size())
                throw EToolDocError("een ` zonder sluitende `");
            QString code;
            for (int k = i + 1; k < j; ++k)
                code += QString::fromUcs4(reinterpret_cast<const char32_t *>(&text[k]), 1);
            out += QStringLiteral("\\fB") + RoffLiteral(code) + (bold ? QStringLiteral("\\fB") : QStringLiteral("\\fR"));
            i = j;
        } else if (c == U'*' && i + 1 < text.size() && text[i + 1] == U'*') {
            bold = !bold;
            out += bold ? QStringLiteral("\\fB") : QStringLiteral("\\fR");
            ++i;
        } else if (c == U'-' && i + 1 < text.size() && text[i + 1] >= U'0' && text[i + 1] <= U'9' &&
                   (i == 0 || text[i - 1] == U' ' || text[i - 1] == U'(')) {
            out += QStringLiteral("\\-");  // a negative number, not a hyphen
        } else {
            out += RoffChar(c);
        }
    }
    if (bold)
        throw EToolDocError("** zonder sluitende **");
    return GuardLineStart(out);
}

QString ToolDocToMan(const QString &AMarkdown, const QString &AVersion)
{
    const QStringList lines = AMarkdown.split(QLatin1Char('\n'));
    static const QRegularExpression nameDirective(QStringLiteral("^<!-- name: (\\S+) - (.*\\S)\\s*-->\\s*$"));
    QString nameLine;
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = nameDirective.match(line);
        if (m.hasMatch())
            nameLine = RoffLiteral(m.captured(1)) + QStringLiteral(" \\- ") + ManInline(m.captured(2));
    }
    if (nameLine.isEmpty())
        throw EToolDocError("de regel <!-- name: vornak-tool - ... --> ontbreekt");

    QString out;
    out += QStringLiteral(".\\\" Manual page of vornak-tool, made from doc/vornak-tool.md by vornak-doc; edit that file.\n");
    out += QStringLiteral(".TH VORNAK\\-TOOL 1 \"\" \"Vornak Reader 2026 %1\" \"User Commands\"\n").arg(AVersion);
    out += QStringLiteral(".nh\n.ad l\n.SH NAME\n") + nameLine + QLatin1Char('\n');
    out += QStringLiteral(".SH SYNOPSIS\n.PP\n");
    const QList<TToolCommand> commands = ToolDocCommands(AMarkdown);
    for (int i = 0; i < commands.size(); ++i)
        out += (i ? QStringLiteral(".br\n") : QString()) + RoffSynopsis(commands[i].Synopsis) + QLatin1Char('\n');

    enum { Outside, Paragraph, ListItem, Code } block = Outside;
    bool inSection = false;
    QStringList pendingCode;  // code lines, blank ones kept until the block is known to go on
    auto endCode = [&] {
        if (block == Code) {
            while (!pendingCode.isEmpty() && IsBlank(pendingCode.last()))
                pendingCode.removeLast();
            out += QStringLiteral(".PP\n.RS 4\n.nf\n");
            for (const QString &c : pendingCode)
                out += GuardLineStart(RoffLiteral(c)) + QLatin1Char('\n');
            out += QStringLiteral(".fi\n.RE\n");
            pendingCode.clear();
        }
    };
    int lineNo = 0;
    auto inlineAt = [&](const QString &AText) {
        try {
            return ManInline(AText);
        } catch (const EToolDocError &e) {
            Refuse(lineNo, QString::fromUtf8(e.what()));
        }
    };
    for (const QString &line : lines) {
        ++lineNo;
        if (block == Code) {
            if (line.startsWith(QLatin1String("    ")) || IsBlank(line)) {
                pendingCode << line.mid(4);
                continue;
            }
            endCode();
            block = Outside;
        }
        if (IsBlank(line)) {
            block = Outside;
            continue;
        }
        if (line.startsWith(QLatin1String("<!--"))) {
            if (!line.trimmed().endsWith(QLatin1String("-->")))
                Refuse(lineNo, QStringLiteral("een commentaar over meer regels"));
            continue;
        }
        if (line.startsWith(QLatin1Char('#'))) {
            int level = 0;
            while (level < line.size() && line[level] == QLatin1Char('#'))
                ++level;
            const QString text = line.mid(level).trimmed();
            if (level == 2)
                continue;  // the reference's own title
            if (level == 3) {
                out += QStringLiteral(".SH\n") + inlineAt(text.toUpper()) + QLatin1Char('\n');
            } else if (level == 4) {
                const QRegularExpressionMatch m = CommandHeading.match(line);
                out += QStringLiteral(".SS\n") + (m.hasMatch() ? RoffSynopsis(m.captured(1)) : inlineAt(text)) +
                       QLatin1Char('\n');
            } else {
                Refuse(lineNo, QStringLiteral("alleen kopjes ##, ### en #### worden ondersteund"));
            }
            inSection = true;
            block = Outside;
            continue;
        }
        static const QRegularExpression unsupported(QStringLiteral("^(\\s*\\||\\s*```|\\s*~~~|>|\\d+[.)] |[*+] )"));
        if (unsupported.match(line).hasMatch())
            Refuse(lineNo, QStringLiteral("tabellen, omheinde code, citaten, genummerde lijsten en lijsten "
                                          "met * of + kan de handleiding niet weergeven"));
        if (block == Outside && line.startsWith(QLatin1String("    "))) {
            block = Code;
            pendingCode << line.mid(4);
            continue;
        }
        if (line.startsWith(QLatin1String("- "))) {
            out += QStringLiteral(".IP \\(bu 2\n") + inlineAt(line.mid(2).trimmed()) + QLatin1Char('\n');
            block = ListItem;
            continue;
        }
        if (block == Outside) {
            if (!inSection) {
                out += QStringLiteral(".SH DESCRIPTION\n");
                inSection = true;
            }
            out += QStringLiteral(".PP\n");
            block = Paragraph;
        }
        out += inlineAt(line.trimmed()) + QLatin1Char('\n');
    }
    endCode();
    return out;
}

QString ToolDocToBashCompletion(const QString &AMarkdown)
{
    const QList<TToolCommand> commands = ToolDocCommands(AMarkdown);
    QStringList names;
    for (const TToolCommand &c : commands)
        names << c.Name;

    QString out;
    out += QStringLiteral(
        "# bash completion for vornak-tool; made from doc/vornak-tool.md by vornak-doc, edit that file.\n"
        "_vornak_tool()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} options=\n"
        "    COMPREPLY=()\n"
        "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"%1\" -- \"$cur\")\n"
        "        return 0\n"
        "    fi\n"
        "    case ${COMP_WORDS[1]} in\n")
               .arg(names.join(QLatin1Char(' ')));
    for (const TToolCommand &c : commands) {
        if (c.Options.isEmpty())
            continue;
        out += QStringLiteral("        %1)\n            options=\"%2\"\n").arg(c.Name, c.Options.join(QLatin1Char(' ')));
        if (!c.ValueOptions.isEmpty()) {
            out += QStringLiteral("            case $prev in\n");
            QStringList typed;  // values the operator types: nothing to offer
            for (const QString &o : c.ValueOptions) {
                if (c.Choices.contains(o))
                    out += QStringLiteral("                %1) mapfile -t COMPREPLY < <(compgen -W \"%2\" -- \"$cur\"); "
                                          "return 0 ;;\n")
                               .arg(o, c.Choices.value(o).join(QLatin1Char(' ')));
                else
                    typed << o;
            }
            if (!typed.isEmpty())
                out += QStringLiteral("                %1) return 0 ;;\n").arg(typed.join(QLatin1Char('|')));
            out += QStringLiteral("            esac\n");
        }
        out += QStringLiteral("            ;;\n");
    }
    out += QStringLiteral(
        "    esac\n"
        "    if [[ $cur == -* ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
        "        return 0\n"
        "    fi\n"
        "    # Databases, recordings, folders: the arguments that are not options are paths.\n"
        "    compopt -o filenames 2>/dev/null\n"
        "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
        "}\n"
        "complete -F _vornak_tool vornak-tool\n");
    return out;
}

QString ToolReferenceCopy(const QString &APage)
{
    const QString begin = QLatin1String(ToolReferenceBeginMarker) + QLatin1Char('\n');
    const QString end = QLatin1Char('\n') + QLatin1String(ToolReferenceEndMarker);
    const qsizetype from = APage.indexOf(begin);
    if (from < 0)
        return QString();
    const qsizetype start = from + begin.size();
    const qsizetype to = APage.indexOf(end, start - 1);
    if (to < 0)
        return QString();
    return APage.mid(start, to + 1 - start);
}
