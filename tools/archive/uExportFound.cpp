// Export of found recordings into a folder: temporary file, flush, rename without replacing.
#include "uExportFound.h"

#include "uAudioEngine.h"
#include "uReaderData.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Exists(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;  // a dangling link counts: it is a name
}

QString SystemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// A hidden file beside the target, created exclusively (mode by the umask, like any export), and removed
// again unless Keep was called.
class TTempTarget {
public:
    explicit TTempTarget(const QString &target)
    {
        const QFileInfo info(target);
        for (int attempt = 0; attempt < 100 && FPath.isEmpty(); ++attempt) {
            const QString path = info.path() + QStringLiteral("/.") + info.fileName() +
                                 QStringLiteral(".%1-%2.part").arg(::getpid()).arg(attempt);
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                FPath = path;
            } else if (errno != EEXIST) {
                FError = errno;
                return;
            }
        }
    }
    ~TTempTarget()
    {
        if (!FPath.isEmpty() && !FKept)
            ::unlink(QFile::encodeName(FPath).constData());
    }
    TTempTarget(const TTempTarget &) = delete;
    TTempTarget &operator=(const TTempTarget &) = delete;

    const QString &Path() const { return FPath; }
    int Error() const { return FError; }
    void Keep() { FKept = true; }

private:
    QString FPath;
    int FError = EEXIST;
    bool FKept = false;
};

// Flushes the finished file to disk, so the rename never publishes a file a crash would leave empty.
bool Flush(const QString &path, int &err)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        err = errno;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// Renames from onto to unless to exists; EEXIST when it does.
int RenameNoReplace(const QString &from, const QString &to)
{
    const QByteArray f = QFile::encodeName(from), t = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (::link(f.constData(), t.constData()) != 0)
        return errno;
    ::unlink(f.constData());
    return 0;
}

TFoundExport Outcome(TFoundResult result, const QString &target, const QString &detail)
{
    return TFoundExport{result, target, detail};
}

} // namespace

const char *FoundResultName(TFoundResult outcome)
{
    switch (outcome) {
    case TFoundResult::Exported: return "exported";
    case TFoundResult::Skipped: return "skipped";
    case TFoundResult::Failed: break;
    }
    return "failed";
}

QString ExportTargetFor(const TRecInfo &RI, const QString &OutDir, TAudioFormat AFmt)
{
    const QString &name = RI.FileName;
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QString();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot >= 0 ? name.left(dot) : name;
    if (stem.isEmpty() || stem == QLatin1String(".") || stem == QLatin1String(".."))
        return QString();
    QString dir = OutDir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + stem + QLatin1String(FormatExt(AFmt));
}

TFoundExport ExportFoundRecording(TAudioEngine &AEngine, const TRecInfo &RI, const QString &Root, const QString &OutDir,
                                  TAudioFormat AFmt, int ABitrate, const TCancelProgress &AProgress)
{
    const QString target = ExportTargetFor(RI, OutDir, AFmt);
    if (target.isEmpty())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("ongeldige bestandsnaam: ") + RI.FileName);
    if (Exists(target))
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    const QString source = TReaderData::ResolveExistingPath(RI, Root);
    if (!QFileInfo(source).isFile())
        return Outcome(TFoundResult::Failed, target, QStringLiteral("opname niet gevonden: ") + source);
    if (!AEngine.Load(source)) {
        const int code = AEngine.LastError();
        return Outcome(TFoundResult::Failed, target,
                       QStringLiteral("%1 %2: %3").arg(code).arg(AudioErrorText(code), source));
    }

    TTempTarget temp(target);
    if (temp.Path().isEmpty())
        return Outcome(TFoundResult::Failed, target, SystemText(temp.Error()));
    bool stopped = false;
    bool written = false;
    try {
        written = AEngine.ExportRange(temp.Path(), AFmt, ABitrate, 0, 0, [&](int percent) {
            const bool goOn = !AProgress || AProgress(percent);
            stopped = stopped || !goOn;
            return goOn;
        });
    } catch (const EReaderError &e) {
        AEngine.Close();
        return Outcome(TFoundResult::Failed, target, e.Message());
    }
    AEngine.Close();
    if (stopped)
        return Outcome(TFoundResult::Failed, target, QStringLiteral("afgebroken"));
    if (!written)
        return Outcome(TFoundResult::Failed, target, QStringLiteral("export mislukt: ") + source);
    int err = 0;
    if (!Flush(temp.Path(), err))
        return Outcome(TFoundResult::Failed, target, SystemText(err));
    err = RenameNoReplace(temp.Path(), target);
    if (err == EEXIST)
        return Outcome(TFoundResult::Skipped, target, QStringLiteral("bestaat al"));
    if (err != 0)
        return Outcome(TFoundResult::Failed, target, SystemText(err));
    temp.Keep();
    return Outcome(TFoundResult::Exported, target, source);
}
