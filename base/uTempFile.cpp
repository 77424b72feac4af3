// Temporary files written beside their target and renamed onto it only when complete, and the removal of
// temporaries that a killed process left behind.
#include "uTempFile.h"

#include "uReaderTypes.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int RandomLength = 6;
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsAlnum(char AChar)
{
    return (AChar >= 'A' && AChar <= 'Z') || (AChar >= 'a' && AChar <= 'z') || (AChar >= '0' && AChar <= '9');
}

QByteArray FolderOf(const QByteArray &APath)
{
    const int slash = APath.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    return slash == 0 ? QByteArray("/") : APath.left(slash);
}

void FlushFolder(const QByteArray &ADir)
{
    const int fd = ::open(ADir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);  // best effort: the rename itself has happened
        ::close(fd);
    }
}

// Renames from onto to unless to exists: EEXIST then. 0 on success, else an errno.
int RenameNoReplace(const QByteArray &AFrom, const QByteArray &ATo)
{
    if (::renameat2(AT_FDCWD, AFrom.constData(), AT_FDCWD, ATo.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (::link(AFrom.constData(), ATo.constData()) != 0)
        return errno;
    ::unlink(AFrom.constData());
    return 0;
}

} // namespace

TTempFile::~TTempFile()
{
    Discard();
}

bool TTempFile::Create(const QString &ADir, const QByteArray &APrefix, const QByteArray &ASuffix)
{
    Discard();
    FError = 0;
    QByteArray dir = PathBytes(ADir);
    if (dir.isEmpty())
        dir = ".";
    if (!dir.endsWith('/'))
        dir += '/';
    QRandomGenerator *random = QRandomGenerator::global();
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = APrefix;
        for (int i = 0; i < RandomLength; ++i)
            name += Alphabet[random->bounded(int(sizeof Alphabet) - 1)];
        name += ASuffix;
        const QByteArray path = dir + name;
        int fd;
        do {
            fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            FFd = fd;
            FPath = PathFromBytes(path);
            return true;
        }
        if (errno != EEXIST) {
            FError = errno;
            return false;
        }
    }
    FError = EEXIST;
    return false;
}

void TTempFile::CloseFd()
{
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

void TTempFile::Discard()
{
    CloseFd();
    if (!FPath.isEmpty()) {
        ::unlink(PathBytes(FPath).constData());
        FPath.clear();
    }
}

bool TTempFile::Commit(const QString &ATarget, bool AReplace)
{
    if (FPath.isEmpty()) {
        FError = ENOENT;
        return false;
    }
    const QByteArray from = PathBytes(FPath);
    const QByteArray to = PathBytes(ATarget);
    int err = 0;
    // Every byte on the disk before the name points at it: a crash then leaves the old file or the new one.
    if (FFd < 0) {
        const int fd = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            err = errno;
        else {
            if (::fsync(fd) != 0)
                err = errno;
            ::close(fd);
        }
    } else {
        if (::fsync(FFd) != 0)
            err = errno;
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0 && errno != EINTR && err == 0)
            err = errno;
    }
    if (err == 0) {
        if (AReplace)
            err = ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
        else
            err = RenameNoReplace(from, to);
    }
    if (err != 0) {
        FError = err;
        Discard();
        return false;
    }
    FPath.clear();
    FlushFolder(FolderOf(to));
    return true;
}

bool IsTemporaryName(const QByteArray &AName, const QByteArray &APrefix, const QByteArray &ASuffix)
{
    if (AName.size() != APrefix.size() + RandomLength + ASuffix.size() || !AName.startsWith(APrefix) ||
        !AName.endsWith(ASuffix))
        return false;
    for (int i = 0; i < RandomLength; ++i)
        if (!IsAlnum(AName[APrefix.size() + i]))
            return false;
    return true;
}

int RemoveStaleTemporaries(const QString &ADir, const std::function<bool(const QByteArray &)> &AIsOurs,
                           int AMinAgeSec)
{
    QByteArray dir = PathBytes(ADir);
    if (dir.isEmpty())
        dir = ".";
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return 0;
    if (!dir.endsWith('/'))
        dir += '/';
    const time_t now = std::time(nullptr);
    int removed = 0;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (!AIsOurs(name))
            continue;
        const QByteArray path = dir + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (now - st.st_mtime < AMinAgeSec)
            continue;  // perhaps still being written
        if (::unlink(path.constData()) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

bool WriteAll(int AFd, const QByteArray &AData)
{
    const char *at = AData.constData();
    qsizetype left = AData.size();
    while (left > 0) {
        const ssize_t written = ::write(AFd, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}
