// Fixity manifest of the archive: settled recordings hashed on every core and appended under a lock.
#include "uFixity.h"

#include "uAudit.h"
#include "uTempFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char FixityTempPrefix[] = ".vornak-fixity-";
constexpr char FixityTempSuffix[] = ".part";
// Files hashed between two rewrites of the manifest: what an interrupted run can lose at most.
constexpr int BatchFiles = 16;

QString SystemText(int AErr)
{
    return QString::fromLocal8Bit(std::strerror(AErr));
}

bool IsFixityTempName(const QByteArray &AName)
{
    return IsTemporaryName(AName, FixityTempPrefix, FixityTempSuffix);
}

// An exclusive flock on a file, held for the holder's life.
class TFileLock {
public:
    explicit TFileLock(const QString &APath)
    {
        FFd = ::open(QFile::encodeName(APath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (FFd < 0)
            throw EReaderError(QStringLiteral("Kan het slot %1 niet maken: %2").arg(APath, SystemText(errno)));
        while (::flock(FFd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int err = errno;
                ::close(FFd);
                throw EReaderError(QStringLiteral("Kan het slot %1 niet nemen: %2").arg(APath, SystemText(err)));
            }
        }
    }
    ~TFileLock() { ::close(FFd); }
    TFileLock(const TFileLock &) = delete;
    TFileLock &operator=(const TFileLock &) = delete;

private:
    int FFd = -1;
};

bool InRange(const QString &ADate, const QString &AFrom, const QString &ATo)
{
    return (AFrom.isEmpty() || ADate >= AFrom) && (ATo.isEmpty() || ADate <= ATo);
}

bool IsHex64(const QByteArray &AText)
{
    if (AText.size() != 64)
        return false;
    for (char c : AText)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// The text of the manifest, read whole; empty when there is none yet.
QByteArray ReadWhole(const QString &APath)
{
    QFile f(APath);
    if (!f.exists())
        return {};
    if (!f.open(QIODevice::ReadOnly))
        throw EReaderError(QStringLiteral("Kan de lijst %1 niet lezen: %2").arg(APath, f.errorString()));
    return f.readAll();
}

QList<TManifestEntry> ParseManifest(const QByteArray &AText)
{
    QList<TManifestEntry> out;
    for (QByteArray line : AText.split('\n')) {
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        if (line.size() < 67 || (line[64] != ' ') || (line[65] != ' ' && line[65] != '*'))
            continue;
        const QByteArray hex = line.left(64).toLower();
        if (!IsHex64(hex))
            continue;
        QByteArray name = line.mid(66);
        if (escaped) {
            QByteArray plain;
            for (int i = 0; i < name.size(); ++i) {
                if (name[i] == '\\' && i + 1 < name.size()) {
                    const char n = name[++i];
                    plain += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
                } else {
                    plain += name[i];
                }
            }
            name = plain;
        }
        out.append(TManifestEntry{hex, QFile::decodeName(name)});
    }
    return out;
}

// Replaces the manifest by AText through a temporary file in its folder and a rename.
void WriteManifest(const QString &APath, const QByteArray &AText)
{
    TTempFile temp;
    const QString dir = QFileInfo(APath).absolutePath();
    bool ok = temp.Create(dir, FixityTempPrefix, FixityTempSuffix);
    const char *p = AText.constData();
    qint64 left = AText.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(temp.Fd(), p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        p += n;
        left -= n;
    }
    const int err = errno;
    if (!ok || !temp.Commit(APath, true))
        throw EReaderError(QStringLiteral("Kan de lijst %1 niet schrijven: %2")
                               .arg(APath, SystemText(temp.Error() ? temp.Error() : err)));
}

} // namespace

QString ManifestPathOf(const QString &ARecDate, const QString &AFileName)
{
    if (ARecDate.size() != 10 || ARecDate[4] != QLatin1Char('-') || ARecDate[7] != QLatin1Char('-') ||
        AFileName.isEmpty() || AFileName == QLatin1String(".") || AFileName == QLatin1String("..") ||
        AFileName.contains(QLatin1Char('/')) || AFileName.contains(QChar(0)))
        return QString();
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!ARecDate[i].isDigit())
            return QString();
    return ARecDate.mid(0, 4) + QLatin1Char('/') + ARecDate.mid(5, 2) + QLatin1Char('/') + ARecDate.mid(8, 2) +
           QLatin1Char('/') + AFileName;
}

QList<TManifestEntry> ReadManifest(const QString &APath)
{
    if (!QFileInfo(APath).isFile())
        throw EReaderError(QStringLiteral("Kan de lijst %1 niet lezen").arg(APath));
    return ParseManifest(ReadWhole(APath));
}

std::vector<TFileDigest> HashFiles(const QStringList &APaths, int AThreads, const TProgressProc &AProgress)
{
    std::vector<TFileDigest> out(size_t(APaths.size()));
    const int threads = AThreads > 0 ? AThreads : int(std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<int> next{0};
    std::mutex progressMutex;
    int done = 0, last = -1;
    auto worker = [&] {
        for (int i; (i = next.fetch_add(1)) < APaths.size();) {
            out[size_t(i)] = Sha256OfFile(APaths[i]);
            if (AProgress) {
                std::lock_guard<std::mutex> lock(progressMutex);
                const int percent = int(qint64(++done) * 100 / APaths.size());
                if (percent > last)
                    AProgress(last = percent);
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min(threads, int(APaths.size())); ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread &t : pool)
        t.join();
    return out;
}

TFixityResult RunFixity(const TFixityOptions &AOptions, const TProgressProc &AProgress)
{
    if (!QFileInfo(AOptions.Root).isDir())
        throw EReaderError(QStringLiteral("Opnamemap niet gevonden: %1").arg(AOptions.Root));
    const QString root = QDir::cleanPath(AOptions.Root) + QLatin1Char('/');
    const TRecList rows = ReadListedRows(AOptions.DbPath);

    TFileLock lock(AOptions.Manifest + QStringLiteral(".lock"));
    RemoveStaleTemporaries(QFileInfo(AOptions.Manifest).absolutePath(), IsFixityTempName);
    QByteArray text = ReadWhole(AOptions.Manifest);
    QSet<QString> listed;
    for (const TManifestEntry &e : ParseManifest(text))
        listed.insert(e.RelPath);

    TFixityResult result;
    QStringList todo;  // relative paths, catalogue order
    QSet<QString> planned;
    struct TItem {
        QString Rel;
        qint64 Bytes;
    };
    std::vector<TItem> items;
    const qint64 settledBefore = QDateTime::currentSecsSinceEpoch() - AOptions.MinAgeSec;
    for (const TRecInfo &r : rows) {
        if (!InRange(r.RecDate, AOptions.From, AOptions.To))
            continue;
        const QString rel = ManifestPathOf(r.RecDate, r.FileName);
        if (rel.isEmpty() || planned.contains(rel))
            continue;
        if (listed.contains(rel)) {
            ++result.Listed;
            continue;
        }
        struct stat st {};
        if (::stat(QFile::encodeName(root + rel).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            ++result.Missing;
            continue;
        }
        if (st.st_mtime > settledBefore) {
            ++result.Recent;
            continue;
        }
        planned.insert(rel);
        items.push_back(TItem{rel, qint64(st.st_size)});
    }

    qint64 total = 0, done = 0;
    for (const TItem &i : items)
        total += i.Bytes;
    int lastPercent = -1;
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    for (size_t first = 0; first < items.size(); first += BatchFiles) {
        const size_t end = std::min(items.size(), first + BatchFiles);
        QStringList paths;
        for (size_t i = first; i < end; ++i)
            paths << root + items[i].Rel;
        const std::vector<TFileDigest> digests = HashFiles(paths, AOptions.Threads);
        int added = 0;
        for (size_t i = first; i < end; ++i) {
            const TFileDigest &d = digests[i - first];
            done += items[i].Bytes;
            if (!d.Ok()) {
                ++result.Failed;
                continue;
            }
            text += Sha256Line(d.Hex, items[i].Rel);
            ++added;
        }
        if (added > 0)
            WriteManifest(AOptions.Manifest, text);
        result.Added += added;
        if (AProgress) {
            const int percent = int(done * 100 / std::max<qint64>(total, 1));
            if (percent > lastPercent)
                AProgress(lastPercent = percent);
        }
    }
    if (!QFileInfo::exists(AOptions.Manifest))
        WriteManifest(AOptions.Manifest, text);  // an empty listing: sha256sum -c finds nothing to fail
    if (AProgress && lastPercent < 100)
        AProgress(100);
    return result;
}
