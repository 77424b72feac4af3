// Fixity manifest of the archive: settled recordings hashed on every core and appended under a lock.
#include "uFixity.h"

#include "uAudit.h"
#include "uProgressReport.h"
#include "uReaderData.h"
#include "uTempFile.h"
#include "uThreadGroup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
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

bool IsFixityTempName(const QByteArray &AName)
{
    return IsTemporaryName(AName, FixityTempPrefix, FixityTempSuffix);
}

// An exclusive flock on a file, held for the holder's life.
class TFileLock {
public:
    explicit TFileLock(const QString &APath)
    {
        FFd = ::open(PathBytes(APath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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

// Why a manifest path cannot name a file under the root, in Dutch; empty when it can.
QString PathFault(const QByteArray &APath)
{
    if (APath.contains('\0'))
        return QStringLiteral("NUL in het pad");
    if (APath.startsWith('/'))
        return QStringLiteral("absoluut pad");
    for (const QByteArray &segment : APath.split('/'))
        if (segment == "..")
            return QStringLiteral("pad met '..'");
    return QString();
}

QList<TManifestEntry> ParseManifest(const QByteArray &AText)
{
    QList<TManifestEntry> out;
    int lineNumber = 0;
    for (QByteArray line : AText.split('\n')) {
        ++lineNumber;
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
        out.append(TManifestEntry{hex, PathFromBytes(name), lineNumber, PathFault(name)});
    }
    return out;
}

// Replaces the manifest by AText through a temporary file in its folder and a rename.
void WriteManifest(const QString &APath, const QByteArray &AText)
{
    TTempFile temp;
    const QString dir = QFileInfo(APath).absolutePath();
    const bool ok = temp.Create(dir, FixityTempPrefix, FixityTempSuffix) && WriteAll(temp.Fd(), AText);
    const int err = errno;
    if (!ok || !temp.Commit(APath, true))
        throw EReaderError(QStringLiteral("Kan de lijst %1 niet schrijven: %2")
                               .arg(APath, SystemText(temp.Error() ? temp.Error() : err)));
}

} // namespace

QString ManifestPathOf(const QString &ARecDate, const QString &AFileName)
{
    if (ARecDate.size() != 10 || ARecDate[4] != QLatin1Char('-') || ARecDate[7] != QLatin1Char('-'))
        return QString();
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!ARecDate[i].isDigit())
            return QString();
    TRecInfo recording;
    recording.RecDate = ARecDate;
    recording.FileName = AFileName;
    // The day folder's path as the catalogue makes it, relative: under the root "/", less that slash.
    return TReaderData::PathUnderRoot(recording, QStringLiteral("/")).mid(1);
}

QList<TManifestEntry> ReadManifest(const QString &APath)
{
    if (!QFileInfo(APath).isFile())
        throw EReaderError(QStringLiteral("Kan de lijst %1 niet lezen").arg(APath));
    return ParseManifest(ReadWhole(APath));
}

TRootPlaces::TRootPlaces(const QString &ARoot)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(PathBytes(ARoot).constData(), nullptr),
                                                          &std::free);
    if (real && !ARoot.isEmpty()) {
        FRealRoot = real.get();
        if (!FRealRoot.endsWith('/'))
            FRealRoot += '/';
    }
}

TRootPlaces::TPlace TRootPlaces::Locate(const QString &APath, QString *AReal) const
{
    QByteArray bytes;
    if (FRealRoot.isEmpty() || !PathBytesOf(APath, bytes))
        return TPlace::Missing;
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(bytes.constData(), nullptr), &std::free);
    if (!real)
        return TPlace::Missing;
    const QByteArray realPath(real.get());
    if (!realPath.startsWith(FRealRoot))
        return TPlace::Outside;
    if (AReal)
        *AReal = PathFromBytes(realPath);
    return TPlace::Inside;
}

std::vector<TFileDigest> HashFiles(const QStringList &APaths, int AThreads, const TProgressProc &AProgress)
{
    std::vector<TFileDigest> out(size_t(APaths.size()));
    const int threads = AThreads > 0 ? AThreads : int(std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<int> next{0};
    std::mutex progressMutex;
    TPercentReporter reporter(AProgress, APaths.size(), TPercentRounding::Down);
    int done = 0;
    auto worker = [&] {
        for (int i; (i = next.fetch_add(1)) < APaths.size();) {
            out[size_t(i)] = Sha256OfFile(APaths[i]);
            const std::lock_guard<std::mutex> lock(progressMutex);
            reporter.Report(++done);
        }
    };
    TThreadGroup pool;
    for (int t = 1; t < std::min(threads, int(APaths.size())); ++t)
        pool.Start(worker);
    worker();
    pool.Join();
    return out;
}

TFixityResult RunFixity(const TFixityOptions &AOptions, const TProgressProc &AProgress)
{
    if (!QFileInfo(AOptions.Root).isDir())
        throw EReaderError(QStringLiteral("Opnamemap niet gevonden: %1").arg(AOptions.Root));
    const QString root = QDir::cleanPath(AOptions.Root) + QLatin1Char('/');
    const TRootPlaces places(root);
    const TRecList rows = ReadListedRows(AOptions.DbPath);

    TFileLock lock(AOptions.Manifest + QStringLiteral(".lock"));
    RemoveStaleTemporaries(QFileInfo(AOptions.Manifest).absolutePath(), IsFixityTempName);
    QByteArray text = ReadWhole(AOptions.Manifest);
    QSet<QString> listed;
    for (const TManifestEntry &e : ParseManifest(text))
        if (e.Invalid.isEmpty())
            listed.insert(e.RelPath);

    TFixityResult result;
    QSet<QString> planned;
    struct TItem {
        QString Rel;
        QString Real;  // where it really is: the file that is read
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
        QString real;
        const TRootPlaces::TPlace place = places.Locate(root + rel, &real);
        if (place == TRootPlaces::TPlace::Outside) {
            ++result.Outside;
            continue;
        }
        struct stat st {};
        if (place == TRootPlaces::TPlace::Missing || ::stat(PathBytes(real).constData(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
            ++result.Missing;
            continue;
        }
        if (st.st_mtime > settledBefore) {
            ++result.Recent;
            continue;
        }
        planned.insert(rel);
        items.push_back(TItem{rel, real, qint64(st.st_size)});
    }

    qint64 total = 0, done = 0;
    for (const TItem &i : items)
        total += i.Bytes;
    TPercentReporter reporter(AProgress, std::max<qint64>(total, 1), TPercentRounding::Down);
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    for (size_t first = 0; first < items.size(); first += BatchFiles) {
        const size_t end = std::min(items.size(), first + BatchFiles);
        QStringList paths;
        for (size_t i = first; i < end; ++i)
            paths << items[i].Real;
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
        reporter.Report(done);
    }
    if (!QFileInfo::exists(AOptions.Manifest))
        WriteManifest(AOptions.Manifest, text);  // an empty listing: sha256sum -c finds nothing to fail
    reporter.Finish(false);
    return result;
}
