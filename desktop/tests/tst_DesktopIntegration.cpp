// The reader on the desktop: its icons, desktop entry and metainfo, the menu entry of the current user that
// tools/run.sh keeps current, and the portable folder that `cmake --install` makes.
#include "TestMain.h"
#include "uAbout.h"
#include "uVersion.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString ReaderId = QStringLiteral("nl.vornak.VornakReader2026");

struct TRun {
    int Code = -1;
    QString Out, Err;
};

TRun Run(const QString &AProgram, const QStringList &AArgs, const QStringList &AEnv = {},
         const QString &AWorkDir = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : AEnv)
        env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    if (!AWorkDir.isEmpty())
        p.setWorkingDirectory(AWorkDir);
    p.start(AProgram, AArgs);
    TRun r;
    if (!p.waitForFinished(240000))
        return r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString ReadText(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString EntryValue(const QString &AEntry, const QString &AKey)
{
    const QRegularExpression re(QStringLiteral("^%1=(.*)$").arg(AKey), QRegularExpression::MultilineOption);
    return re.match(AEntry).captured(1);
}

bool Have(const char *AProgram)
{
    return !QStandardPaths::findExecutable(QLatin1String(AProgram)).isEmpty();
}

// Any remark of a validator counts as a fault, a hint as much as an error (desktop-file-validate: "error:",
// "warning:", "hint:"; appstreamcli: "E:", "W:", "I:"; its pedantic remarks stay silent).
void VerifyValidates(const QString &AProgram, const QStringList &AArgs)
{
    const TRun r = Run(AProgram, AArgs);
    static const QRegularExpression remark(QStringLiteral("^\\s*[EWI]: |error|warning|hint"),
                                           QRegularExpression::CaseInsensitiveOption);
    QString remarks;
    for (const QString &line : (r.Out + r.Err).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (remark.match(line).hasMatch())
            remarks += line + QLatin1Char('\n');
    QVERIFY2(r.Code == 0 && remarks.isEmpty(), qPrintable(AProgram + QStringLiteral(": ") + remarks));
}

} // namespace

class TestDesktopIntegration : public QObject {
    Q_OBJECT

    QString FSource;
    QString FIcons;  // desktop/icons/hicolor of the checkout

    QStringList IconFiles(const QString &AHicolor)
    {
        QStringList files;
        for (QDirIterator it(AHicolor, {ReaderId + QStringLiteral(".*")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            files << QDir(AHicolor).relativeFilePath(it.next());
        files.sort();
        return files;
    }

private slots:
    void initTestCase()
    {
        FSource = qEnvironmentVariable("VORNAK_SOURCE_DIR");
        FIcons = FSource + QStringLiteral("/desktop/icons/hicolor");
        QVERIFY(QFileInfo::exists(FIcons));
    }

    // Icon themes pick a picture by its folder; one of another size is drawn blurred or not at all.
    void iconsHaveTheSizeOfTheirFolder()
    {
        QList<int> sizes;
        for (const QString &file : IconFiles(FIcons)) {
            if (file.startsWith(QLatin1String("scalable/")))
                continue;
            const int size = file.section(QLatin1Char('x'), 0, 0).toInt();
            const QImage image(FIcons + QLatin1Char('/') + file);
            QCOMPARE(image.size(), QSize(size, size));
            // The rounded corner shows the desktop through: the picture was not flattened onto a background.
            QVERIFY2(image.hasAlphaChannel() && qAlpha(image.pixel(0, 0)) < 64, qPrintable(file));
            sizes << size;
        }
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, (QList<int>{16, 22, 24, 32, 48, 64, 128, 256}));
        QVERIFY(QFileInfo::exists(FIcons + QStringLiteral("/scalable/apps/") + ReaderId + QStringLiteral(".svg")));
        // The window and the about box draw the same pictures, built into the program.
        QList<int> built;
        for (const QSize &s : ReaderIcon().availableSizes())
            built << s.width();
        std::sort(built.begin(), built.end());
        QCOMPARE(built, sizes);
    }

    void entryAndMetainfoValidate()
    {
        QVERIFY2(Have("desktop-file-validate") && Have("appstreamcli"),
                 "desktop-file-validate or appstreamcli missing (tools/install.sh --no-build installs them)");
        QTemporaryDir dir;
        // A checkout in a folder whose name needs quoting in Exec.
        const QString reader = dir.path() + QStringLiteral("/my \"checkout\" $HOME 100%/VornakReader2026");
        const QString entry = dir.filePath(ReaderId + QStringLiteral(".desktop"));
        QCOMPARE(Run(QStringLiteral("bash"), {FSource + QStringLiteral("/desktop/write-entry.sh"),
                                              FSource + QStringLiteral("/desktop/") + ReaderId + QStringLiteral(".desktop.in"),
                                              reader, entry})
                     .Code,
                 0);
        const QString text = ReadText(entry);
        QCOMPARE(EntryValue(text, QStringLiteral("Exec")),
                 QLatin1Char('"') + dir.path() +
                     QStringLiteral("/my \\\\\"checkout\\\\\" \\\\$HOME 100%%/VornakReader2026\""));
        QCOMPARE(EntryValue(text, QStringLiteral("TryExec")), reader);
        QCOMPARE(EntryValue(text, QStringLiteral("Categories")), QStringLiteral("AudioVideo;Audio;"));
        VerifyValidates(QStringLiteral("desktop-file-validate"), {entry});
        VerifyValidates(QStringLiteral("appstreamcli"),
                        {QStringLiteral("validate"), QStringLiteral("--no-net"),
                         FSource + QStringLiteral("/desktop/") + ReaderId + QStringLiteral(".metainfo.xml")});
    }

    void userEntryIsKeptCurrent()
    {
        QTemporaryDir data;
        const QStringList env{QStringLiteral("XDG_DATA_HOME=") + data.path()};
        const QString script = FSource + QStringLiteral("/tools/desktop-user.sh");
        const QString entry = data.filePath(QStringLiteral("applications/") + ReaderId + QStringLiteral(".desktop"));
        const QString icons = data.filePath(QStringLiteral("icons/hicolor"));
        auto install = [&] { return Run(QStringLiteral("bash"), {script, QStringLiteral("install")}, env).Code; };

        QCOMPARE(install(), 0);
        QCOMPARE(EntryValue(ReadText(entry), QStringLiteral("TryExec")),
                 QDir(FSource).canonicalPath() + QStringLiteral("/build/app/VornakReader2026"));
        QCOMPARE(IconFiles(icons), IconFiles(FIcons));
        const QString first = ReadText(entry);

        // Unchanged files are not rewritten.
        const QDateTime old = QDateTime::currentDateTime().addDays(-1);
        {
            QFile f(entry);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QCOMPARE(install(), 0);
        QCOMPARE(QFileInfo(entry).lastModified(), old);

        // A stale entry (a moved checkout) and a lost icon are put right.
        {
            QFile f(entry);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[Desktop Entry]\nExec=/old/place\n") > 0);
        }
        const QString lost = icons + QStringLiteral("/48x48/apps/") + ReaderId + QStringLiteral(".png");
        QVERIFY(QFile::remove(lost));
        QCOMPARE(install(), 0);
        QCOMPARE(ReadText(entry), first);
        QVERIFY(QFileInfo::exists(lost));

        QCOMPARE(Run(QStringLiteral("bash"), {script, QStringLiteral("remove")}, env).Code, 0);
        QVERIFY(!QFileInfo::exists(entry));
        QCOMPARE(IconFiles(icons), QStringList());
    }

    // A relative prefix with a space, as an operator might type it.
    void installedFolderWorks()
    {
        QTemporaryDir dir;
        const TRun r = Run(qEnvironmentVariable("VORNAK_CMAKE"),
                           {QStringLiteral("--install"), qEnvironmentVariable("VORNAK_BINARY_DIR"),
                            QStringLiteral("--prefix"), QStringLiteral("Vornak Reader")},
                           {}, dir.path());
        QVERIFY2(r.Code == 0, qPrintable(r.Out + r.Err));
        const QString root = dir.filePath(QStringLiteral("Vornak Reader"));
        for (const QString &file :
             {QStringLiteral("bin/VornakReader2026"), QStringLiteral("bin/vornak-tool"),
              QStringLiteral("share/applications/") + ReaderId + QStringLiteral(".desktop"),
              QStringLiteral("share/metainfo/") + ReaderId + QStringLiteral(".metainfo.xml"),
              QStringLiteral("share/icons/hicolor/16x16/apps/") + ReaderId + QStringLiteral(".png"),
              QStringLiteral("share/icons/hicolor/256x256/apps/") + ReaderId + QStringLiteral(".png"),
              QStringLiteral("share/icons/hicolor/scalable/apps/") + ReaderId + QStringLiteral(".svg"),
              QStringLiteral("share/man/man1/vornak-tool.1"), QStringLiteral("share/man/man1/VornakReader2026.1"),
              QStringLiteral("share/bash-completion/completions/vornak-tool")})
            QVERIFY2(QFileInfo(root + QLatin1Char('/') + file).isFile(), qPrintable(file));

        const TRun tool = Run(root + QStringLiteral("/bin/vornak-tool"), {QStringLiteral("format-duration"), QStringLiteral("61")});
        QCOMPARE(tool.Out, QStringLiteral("01:01\n"));
        QCOMPARE(tool.Code, 0);
        // The installed tool tells the version the reader's about box shows.
        const TRun version = Run(root + QStringLiteral("/bin/vornak-tool"), {QStringLiteral("--version")});
        QCOMPARE(version.Out, QStringLiteral("vornak-tool ") + ReaderVersion() + QLatin1Char('\n'));
        QCOMPARE(version.Code, 0);

        const QString entry = root + QStringLiteral("/share/applications/") + ReaderId + QStringLiteral(".desktop");
        const QString reader = root + QStringLiteral("/bin/VornakReader2026");
        QCOMPARE(EntryValue(ReadText(entry), QStringLiteral("TryExec")), reader);
        QVERIFY(QFileInfo(reader).isExecutable());
        if (Have("desktop-file-validate"))
            VerifyValidates(QStringLiteral("desktop-file-validate"), {entry});
        // The metainfo's launchable names a desktop entry that the folder holds.
        if (Have("appstreamcli"))
            VerifyValidates(QStringLiteral("appstreamcli"), {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), root});
    }
};

VORNAK_TEST_MAIN(TestDesktopIntegration)
#include "tst_DesktopIntegration.moc"
