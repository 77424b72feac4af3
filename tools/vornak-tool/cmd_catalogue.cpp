// vornak-tool sub-commands of the catalogue and the settings store: clock texts, hours, searches, path
// resolution, the metadata edit and the settings as the reader loads them.
#include "commands.h"

#include "uEnvelopeCache.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uReaderTypes.h"

#include <QRegularExpression>
#include <cstdio>
#include <functional>

namespace {

void Out(const QString &ALine)
{
    std::fputs((ALine + QLatin1Char('\n')).toUtf8().constData(), stdout);
}

// The look-ups of hours, searches and file names go through the catalogue's index in the per-user cache
// folder (built by the first command that needs it; without a usable folder they read the catalogue alone).
void UseIndex(TReaderData &ADb)
{
    ADb.UseIndex(TEnvelopeCache::DefaultFolder(), TIndexBuild::InQuery);
}

// Runs body and turns an error into its message on standard error and exit code 1.
int Guarded(const std::function<int()> &ABody)
{
    try {
        return ABody();
    } catch (const EReaderError &e) {
        std::fputs((e.Message() + QLatin1Char('\n')).toUtf8().constData(), stderr);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    return ExitError;
}

bool ParseSeconds(const QStringList &AArgs, double &ASec)
{
    if (AArgs.size() != 1)
        return false;
    bool ok = false;
    ASec = AArgs[0].toDouble(&ok);
    return ok;
}

bool IsDate(const QString &AText)
{
    static const QRegularExpression re(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return re.match(AText).hasMatch();
}

QString RecLine(const TRecInfo &ARi)
{
    const QStringList fields{
        QStringLiteral("id=") + QString::number(ARi.Id),
        QStringLiteral("rec_dt=") + EscapedField(ARi.RecDT),
        QStringLiteral("rec_date=") + EscapedField(ARi.RecDate),
        QStringLiteral("rec_hour=") + QString::number(ARi.RecHour),
        QStringLiteral("rec_number=") + QString::number(ARi.RecNumber),
        QStringLiteral("format=") + EscapedField(ARi.Format),
        QStringLiteral("filename=") + EscapedField(ARi.FileName),
        QStringLiteral("filepath=") + EscapedField(ARi.FilePath),
        QStringLiteral("title=") + EscapedField(ARi.Title),
        QStringLiteral("persons=") + EscapedField(ARi.Persons),
        QStringLiteral("duration_sec=") + QString::number(ARi.DurationSec),
    };
    return fields.join(QLatin1Char('\t'));
}

bool ParseInt(const QString &AText, int &AValue)
{
    bool ok = false;
    AValue = AText.toInt(&ok);
    return ok;
}

} // namespace

QString EscapedField(const QString &AValue)
{
    QString r;
    r.reserve(AValue.size());
    for (qsizetype i = 0; i < AValue.size(); ++i) {
        const char16_t c = AValue[i].unicode();
        switch (c) {
        case '\\': r += QLatin1String("\\\\"); break;
        case '\t': r += QLatin1String("\\t"); break;
        case '\r': r += QLatin1String("\\r"); break;
        case '\n': r += QLatin1String("\\n"); break;
        case 0: r += QLatin1String("\\0"); break;
        default:
            // A byte of a file name that is not UTF-8 (see PathFromBytes), so that standard output stays
            // UTF-8 and the line keeps the name's bytes.
            if (c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !AValue[i - 1].isHighSurrogate())) {
                const char *const hex = "0123456789ABCDEF";
                r += QLatin1String("\\x");
                r += QLatin1Char(hex[(c >> 4) & 0xF]);
                r += QLatin1Char(hex[c & 0xF]);
            } else {
                r += AValue[i];
            }
        }
    }
    return r;
}

namespace {

// The two clock-text commands: one argument SEC, one line of text.
int ClockTextCommand(const QStringList &AArgs, const char *AUsage, QString (*AClockText)(double))
{
    double sec = 0;
    if (!ParseSeconds(AArgs, sec))
        return BadArgs(AUsage);
    Out(AClockText(sec));
    return ExitOk;
}

} // namespace

int CmdFormatDuration(const QStringList &AArgs)
{
    return ClockTextCommand(AArgs, "format-duration SEC", FormatDuration);
}

int CmdFormatTime(const QStringList &AArgs)
{
    return ClockTextCommand(AArgs, "format-time SEC", FormatTimeMs);
}

int CmdHours(const QStringList &AArgs)
{
    if (AArgs.size() != 2 || !IsDate(AArgs[1]))
        return BadArgs("hours DB yyyy-mm-dd");
    return Guarded([&] {
        TReaderData db(AArgs[0]);
        UseIndex(db);
        const THourSet hours = db.AvailableHours(AArgs[1]);
        QStringList list;
        for (int h = 0; h < 24; ++h)
            if (hours.Contains(h))
                list << QString::number(h);
        Out(list.join(QLatin1Char(',')));
        return int(ExitOk);
    });
}

int CmdSearch(const QStringList &AArgs)
{
    const char *usage = "search DB [--date yyyy-mm-dd] [--hour H] [--name TEXT]";
    if (AArgs.isEmpty())
        return BadArgs(usage);
    QString date, name;
    int hour = -1;
    for (int i = 1; i < AArgs.size(); i += 2) {
        if (i + 1 >= AArgs.size())
            return BadArgs(usage);
        const QString &opt = AArgs[i], &val = AArgs[i + 1];
        if (opt == QLatin1String("--date") && (val.isEmpty() || IsDate(val)))
            date = val;
        else if (opt == QLatin1String("--hour") && ParseInt(val, hour))
            continue;
        else if (opt == QLatin1String("--name"))
            name = val;
        else
            return BadArgs(usage);
    }
    return Guarded([&] {
        TReaderData db(AArgs[0]);
        UseIndex(db);
        TRecList list;
        db.Search(date, hour, name, list);
        for (const TRecInfo &ri : list)
            Out(RecLine(ri));
        return int(ExitOk);
    });
}

int CmdFindStem(const QStringList &AArgs)
{
    if (AArgs.size() != 2)
        return BadArgs("find-stem DB STEM");
    return Guarded([&] {
        TReaderData db(AArgs[0]);
        UseIndex(db);
        TRecInfo ri;
        if (!db.FindByFilenameStem(AArgs[1], ri))
            return int(ExitNotFound);
        Out(RecLine(ri));
        return int(ExitOk);
    });
}

int CmdResolve(const QStringList &AArgs)
{
    int id = 0;
    if (AArgs.size() != 3 || !ParseInt(AArgs[1], id))
        return BadArgs("resolve DB ID ROOT");
    return Guarded([&] {
        TReaderData db(AArgs[0]);
        TRecList list;
        db.Search(QString(), -1, QString(), list);
        for (const TRecInfo &ri : list) {
            if (ri.Id == id) {
                // The path's own bytes, so that a script can use the line as a file name; only a NUL, which
                // no file name holds, is written as \0 to keep the line whole.
                QByteArray line = PathBytes(TReaderData::ResolveExistingPath(ri, AArgs[2]));
                line.replace('\0', QByteArrayLiteral("\\0"));
                line += '\n';
                std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
                return int(ExitOk);
            }
        }
        std::fprintf(stderr, "no recording with id %d\n", id);
        return int(ExitNotFound);
    });
}

int CmdSetMeta(const QStringList &AArgs)
{
    int id = 0;
    if (AArgs.size() != 5 || !ParseInt(AArgs[1], id))
        return BadArgs("set-meta DB ID FILENAME TITLE PERSONS");
    return Guarded([&] {
        TReaderData db(AArgs[0]);
        db.UpdateMeta(id, AArgs[2], AArgs[3], AArgs[4]);
        return int(ExitOk);
    });
}

int CmdConfig(const QStringList &AArgs)
{
    if (AArgs.size() != 1 || AArgs[0].isEmpty())
        return BadArgs("config APPDIR");
    return Guarded([&] {
        const TConfig cfg(AArgs[0]);
        Out(QStringLiteral("Database=") + cfg.DatabasePath());
        Out(QStringLiteral("RootFolder=") + cfg.RecordingsRoot());
        Out(QStringLiteral("ExportFolder=") + cfg.ExportFolder());
        Out(QStringLiteral("OutputDevice=") + QString::number(cfg.OutputDevice()));
        return int(ExitOk);
    });
}
