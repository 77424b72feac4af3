// vornak-tool's reference text: the manual page and completion made from it, and the copies that must
// agree with it (the tool's own usage text, the documentation's copy in docs/vornak-tool.md).
#include "TestMain.h"
#include "uToolDoc.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString ReadText(const QString &APath)
{
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

bool WriteText(const QString &APath, const QString &AText)
{
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(AText.toUtf8()) >= 0;
}

struct TRun {
    int Code = -1;
    QString Out, Err;
};

TRun Run(const QString &AProgram, const QStringList &AArgs, const QStringList &AEnv = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : AEnv)
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.start(AProgram, AArgs);
    TRun r;
    if (!p.waitForFinished(60000))
        return r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// "name: --a --b" per command, sorted by name, so that a difference shows which command and option.
QStringList CommandSummary(const QList<TToolCommand> &ACommands)
{
    QStringList out;
    for (const TToolCommand &c : ACommands) {
        QStringList options = c.Options;
        for (const QString &o : c.Choices.keys())
            options.replace(options.indexOf(o), o + QLatin1Char('=') + c.Choices.value(o).join(QLatin1Char('|')));
        std::sort(options.begin(), options.end());
        out << c.Name + QStringLiteral(": ") + options.join(QLatin1Char(' '));
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

class TestToolDoc : public QObject {
    Q_OBJECT

    QString FSourceDir;
    QString FReference;
    QTemporaryDir FDir;

    QStringList ToolCommandNames()
    {
        const TRun r = Run(qEnvironmentVariable("VORNAK_TOOL"), {});
        QStringList names;
        for (const TToolCommand &c : ToolUsageCommands(r.Err))
            names << c.Name;
        return names;
    }

    // The completion's answer for the words typed so far (the last one is being completed).
    QStringList Complete(const QStringList &AWords)
    {
        const QString script = FDir.filePath(QStringLiteral("vornak-tool.bash"));
        if (!QFile::exists(script))
            WriteText(script, ToolDocToBashCompletion(FReference));
        const TRun r = Run(QStringLiteral("bash"),
                           QStringList{QStringLiteral("-c"),
                                       QStringLiteral("source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                                      "_vornak_tool; printf '%s\\n' \"${COMPREPLY[@]}\""),
                                       QStringLiteral("bash"), script} +
                               AWords);
        return r.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        FSourceDir = qEnvironmentVariable("VORNAK_SOURCE_DIR");
        FReference = ReadText(FSourceDir + QStringLiteral("/doc/vornak-tool.md"));
        QVERIFY2(!FReference.isEmpty(), "doc/vornak-tool.md not readable");
        QVERIFY(FDir.isValid());
    }

    void manInline_data()
    {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("roff");
        QTest::addRow("options in code are minus signs") << "`--format wav|mp3`" << "\\fB\\-\\-format wav|mp3\\fR";
        QTest::addRow("backslashes in code") << "a `\\\\` b" << "a \\fB\\e\\e\\fR b";
        QTest::addRow("backslash in text") << "C:\\x" << "C:\\ex";
        QTest::addRow("bold word") << "id **and** name" << "id \\fBand\\fR name";
        QTest::addRow("code inside bold stays bold") << "**a `b` c**" << "\\fBa \\fBb\\fB c\\fR";
        QTest::addRow("negative number") << "(default -1), -1 is" << "(default \\-1), \\-1 is";
        QTest::addRow("hyphen inside a word") << "read-only, h-1" << "read-only, h-1";
        QTest::addRow("non-ASCII as code points") << "a … b — c" << "a \\[u2026] b \\[u2014] c";
        QTest::addRow("outside the basic plane") << QString::fromUtf8("\xF0\x9F\x98\x80") << "\\[u1F600]";
        QTest::addRow("leading dot is no request") << ".ini file" << "\\&.ini file";
        QTest::addRow("leading quote is no request") << "'x' y" << "\\&'x' y";
        QTest::addRow("leading code with a dot") << "`.vornak-demo`" << "\\fB.vornak\\-demo\\fR";
    }

    void manInline()
    {
        QFETCH(QString, markdown);
        QFETCH(QString, roff);
        QCOMPARE(ManInline(markdown), roff);
    }

    void unsupportedMarkdownIsRefused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addRow("table") << "| a | b |";
        QTest::addRow("fenced code") << "```";
        QTest::addRow("numbered list") << "1. first";
        QTest::addRow("quote") << "> said";
        QTest::addRow("star list") << "* item";
        QTest::addRow("unbalanced backtick") << "a `b";
        QTest::addRow("unbalanced bold") << "**a";
        QTest::addRow("deep heading") << "##### x";
        QTest::addRow("comment over lines") << "<!-- a";
    }

    void unsupportedMarkdownIsRefused()
    {
        QFETCH(QString, line);
        const QString md = QStringLiteral("<!-- name: t - x -->\n\n") + line + QStringLiteral("\nmore\n");
        try {
            ToolDocToMan(md, QStringLiteral("1"));
            QFAIL("not refused");
        } catch (const EToolDocError &e) {
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(QLatin1String("regel 3: ")), e.what());
        }
    }

    void manPageRendersWithoutWarnings()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty(),
                 "man is not installed (tools/install.sh --no-build installs it)");
        const QString page = FDir.filePath(QStringLiteral("vornak-tool.1"));
        QVERIFY(WriteText(page, ToolDocToMan(FReference, QStringLiteral("1.0"))));
        const TRun r = Run(QStringLiteral("man"), {QStringLiteral("--warnings=w"), QStringLiteral("-l"), page},
                           {QStringLiteral("MANWIDTH=80"), QStringLiteral("MANPAGER=cat"), QStringLiteral("LC_ALL=C.UTF-8")});
        QVERIFY2(r.Code == 0 && r.Err.isEmpty(), qPrintable(r.Err));
        const QString text = r.Out.simplified();
        for (const QString &heading : {QStringLiteral("NAME vornak-tool - run the"), QStringLiteral("SYNOPSIS"),
                                       QStringLiteral("DESCRIPTION"), QStringLiteral("EXIT STATUS"),
                                       QStringLiteral("RECORDING LINES"), QStringLiteral("staat niet meer in de database …"),
                                       QStringLiteral("a backslash is written \\\\, a tab \\t")})
            QVERIFY2(text.contains(heading), qPrintable(heading));
        for (const TToolCommand &c : ToolDocCommands(FReference))
            QVERIFY2(text.contains(QStringLiteral("vornak-tool ") + c.Name), qPrintable(c.Name));
        for (const QString &line : r.Out.split(QLatin1Char('\n')))
            QVERIFY2(line.size() <= 80, qPrintable(line));

        // apropos and whatis read the NAME section through lexgrog.
        if (!QStandardPaths::findExecutable(QStringLiteral("lexgrog")).isEmpty()) {
            const TRun g = Run(QStringLiteral("lexgrog"), {page});
            QVERIFY2(g.Code == 0 && g.Out.contains(QLatin1String("vornak-tool - run the")), qPrintable(g.Out + g.Err));
        }
    }

    // The reference, the manual page and the completion name the sub-commands and options the tool takes.
    void referenceNamesTheToolsCommandsAndOptions()
    {
        const TRun r = Run(qEnvironmentVariable("VORNAK_TOOL"), {});
        QCOMPARE(r.Code, 2);
        const QList<TToolCommand> tool = ToolUsageCommands(r.Err);
        QVERIFY2(!tool.isEmpty(), qPrintable(r.Err));
        QCOMPARE(CommandSummary(ToolDocCommands(FReference)), CommandSummary(tool));
    }

    void docsPageCarriesTheReference()
    {
        const QString section = ToolReferenceCopy(ReadText(FSourceDir + QStringLiteral("/docs/vornak-tool.md")));
        QVERIFY2(!section.isNull(), "docs/vornak-tool.md lacks the marker lines of the vornak-tool reference");
        QVERIFY2(section == FReference, "docs/vornak-tool.md's copy differs from doc/vornak-tool.md: "
                                        "run tools/update-readme.sh");
    }

    void completionOffersTheToolsCommands()
    {
        QStringList offered = Complete({QStringLiteral("vornak-tool"), QString()});
        QStringList names = ToolCommandNames();
        QVERIFY(!names.isEmpty());
        offered.sort();
        names.sort();
        QCOMPARE(offered, names);
    }

    void completion_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("offered");
        const QString t = QStringLiteral("vornak-tool");
        QTest::addRow("commands by prefix") << QStringList{t, "format-"} << QStringList{"format-duration", "format-time"};
        QTest::addRow("options of the command") << QStringList{t, "envelope", "a.wav", "--"}
                                                << QStringList{"--progress", "--dump", "--no-cache", "--cache", "--threads"};
        QTest::addRow("option by prefix") << QStringList{t, "search", "db", "--h"} << QStringList{"--hour"};
        QTest::addRow("no options of other commands") << QStringList{t, "hours", "--"} << QStringList{};
        QTest::addRow("choice of values") << QStringList{t, "export", "a", "b", "--format", ""}
                                          << QStringList{"wav", "mp3", "ogg", "opus"};
        QTest::addRow("choice by prefix") << QStringList{t, "recorder", "db", "root", "--mode", "w"} << QStringList{"wal"};
        QTest::addRow("typed value offers nothing") << QStringList{t, "search", "db", "--hour", ""} << QStringList{};
        QTest::addRow("value nested in brackets") << QStringList{t, "recorder", "db", "root", "--step", ""}
                                                  << QStringList{};
        QTest::addRow("paths as arguments") << QStringList{t, "hours", "@DIR@/cat"} << QStringList{"@DIR@/catalogue.sqlite"};
        QTest::addRow("path after a choice") << QStringList{t, "export", "a", "--format", "wav", "@DIR@/cat"}
                                             << QStringList{"@DIR@/catalogue.sqlite"};
    }

    void completion()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, offered);
        QVERIFY(WriteText(FDir.filePath(QStringLiteral("catalogue.sqlite")), QString()));
        words.replaceInStrings(QStringLiteral("@DIR@"), FDir.path());
        offered.replaceInStrings(QStringLiteral("@DIR@"), FDir.path());
        QCOMPARE(Complete(words), offered);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestToolDoc)
#include "tst_uToolDoc.moc"
