// Envelope cache: entry files with a version, the file's key, the pass's figures, the points and a checksum.
#include "uEnvelopeCache.h"

#include "uReaderTypes.h"
#include "uTempFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Entry layout, all numbers little-endian:
//   magic[8] "VRENVC\r\n", u32 version,
//   key: i64 size, i64 mtime s, digest[32], u32 name length, name bytes,
//   pass: i32 rate, i32 channels, i64 L (decoded bytes), f64 duration (bit pattern), i64 S, i32 EnvCount,
//   EnvCount points of four i16 (MnL MxL MnR MxR),
//   SHA-256 of everything before it.
// A new layout or a change in how the pass computes its points needs a new version: old entries then miss.
const char Magic[8] = {'V', 'R', 'E', 'N', 'V', 'C', '\r', '\n'};
// Version 2: entries of version 1 may hold envelopes made in parts that did not line up (ADPCM, damaged
// files) and MP2 envelopes of the fixed-point decoder. Version 3: the key no longer names the path, device
// and inode but the file's name, size, whole seconds and a digest of its ends.
constexpr quint32 FormatVersion = 3;
constexpr qint64 KeyEndBytes = 65536;
constexpr int DigestBytes = 32;
constexpr int ChecksumBytes = 32;
const char EntrySuffix[] = ".venv";
const char TempPrefix[] = ".venv-tmp-";
// A temporary file this old was left by a writer that died; a live writer needs milliseconds.
constexpr qint64 StaleTempSec = 3600;
// The folder's usage count (see TEnvelopeCache::Account): "<bytes> <seconds since the epoch of the last
// scan>\n". Not an entry and not a temporary file, so a scan neither counts nor removes it.
const char UsageName[] = ".venv-usage";
// The count is checked against a scan of the folder at least this often.
constexpr qint64 RescanSec = 3600;
// How long a store waits for another process's count (its scan takes 0.1 s at 10,000 entries) before it
// leaves its entry uncounted until the next scan.
constexpr int UsageLockWaitMs = 1000;

class TWriter {
public:
    template <class T>
    void Num(T AValue)
    {
        const T le = qToLittleEndian(AValue);
        FData.append(reinterpret_cast<const char *>(&le), sizeof(le));
    }
    void Bytes(const QByteArray &ABytes) { FData.append(ABytes); }
    QByteArray &Data() { return FData; }

private:
    QByteArray FData;
};

class TReader {
public:
    explicit TReader(const QByteArray &AData, qsizetype AEnd) : FData(AData), FEnd(AEnd) {}
    template <class T>
    bool Num(T &AValue)
    {
        if (FEnd - FPos < qsizetype(sizeof(T)))
            return false;
        AValue = qFromLittleEndian<T>(FData.constData() + FPos);
        FPos += sizeof(T);
        return true;
    }
    bool Bytes(qsizetype ACount, QByteArray &AOut)
    {
        if (ACount < 0 || FEnd - FPos < ACount)
            return false;
        AOut = FData.mid(FPos, ACount);
        FPos += ACount;
        return true;
    }
    qsizetype Left() const { return FEnd - FPos; }

private:
    const QByteArray &FData;
    qsizetype FEnd;
    qsizetype FPos = 0;
};

// Largest entry there can be: header, a path of PATH_MAX, 50000 points, checksum.
constexpr qint64 MaxEntryBytes = 256 + PATH_MAX + qint64(MaxEnvPoints) * 8 + ChecksumBytes;

QByteArray ReadWhole(const QString &APath)
{
    // Without blocking: opening a FIFO (or a device) put in the folder in place of an entry would wait for
    // a writer for ever. Only a regular file is read.
    const int fd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= MaxEntryBytes) {
        data.resize(static_cast<qsizetype>(st.st_size));
        qint64 done = 0;
        while (done < data.size()) {
            const ssize_t r = ::read(fd, data.data() + done, static_cast<size_t>(data.size() - done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            done += r;
        }
        if (done != data.size())
            data.clear();
    }
    ::close(fd);
    return data;
}

} // namespace

QString TEnvelopeCache::DefaultFolder()
{
    // Only an absolute XDG_CACHE_HOME counts; a relative one is to be ignored.
    QString base = QFile::decodeName(qgetenv("XDG_CACHE_HOME"));
    if (!base.startsWith(QLatin1Char('/'))) {
        const QString home = QFile::decodeName(qgetenv("HOME"));
        if (!home.startsWith(QLatin1Char('/')))
            return QString();  // no home folder: no cache
        base = home + QStringLiteral("/.cache");
    }
    return base + QStringLiteral("/VornakReader2026");
}

TEnvelopeCache::TEnvelopeCache(QString AFolder, qint64 ALimitBytes) : FFolder(std::move(AFolder)), FLimitBytes(ALimitBytes)
{
}

bool TEnvelopeCache::Usable() const
{
    if (FFolder.isEmpty())
        return false;
    QFileInfo info(FFolder);
    if (info.isDir())
        return true;
    return QDir().mkpath(FFolder) && QFileInfo(FFolder).isDir();
}

std::optional<TEnvelopeCacheKey> TEnvelopeCache::UsableKeyOf(const QString &APath) const
{
    return Usable() ? KeyOf(APath) : std::nullopt;
}

std::optional<TEnvelopeCacheKey> TEnvelopeCache::KeyOf(const QString &APath)
{
    QByteArray bytes;
    if (!PathBytesOf(APath, bytes))
        return std::nullopt;
    // Without blocking: a FIFO is not waited for; only a regular file is read.
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    std::optional<TEnvelopeCacheKey> key;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        QCryptographicHash digest(QCryptographicHash::Sha256);
        const qint64 size = static_cast<qint64>(st.st_size);
        const qint64 part = std::min(size, KeyEndBytes);
        QByteArray buffer(static_cast<qsizetype>(part), '\0');
        bool ok = true;
        for (const qint64 at : {qint64(0), size - part}) {
            qint64 done = 0;
            while (ok && done < part) {
                const ssize_t n = ::pread(fd, buffer.data() + done, size_t(part - done), off_t(at + done));
                if (n < 0 && errno == EINTR)
                    continue;
                ok = n > 0;
                done += n > 0 ? n : 0;
            }
            digest.addData(QByteArrayView(buffer.constData(), part));
        }
        if (ok) {
            key = TEnvelopeCacheKey();
            // The name of the file itself: a symbolic link to it is the same recording.
            char resolved[PATH_MAX];
            const QByteArray real = ::realpath(bytes.constData(), resolved) ? QByteArray(resolved) : bytes;
            const qsizetype slash = real.lastIndexOf('/');
            key->Name = slash < 0 ? real : real.mid(slash + 1);
            key->Size = size;
            key->MTimeSec = static_cast<qint64>(st.st_mtim.tv_sec);
            key->Digest = digest.result();
        }
    }
    ::close(fd);
    return key;
}

QString TEnvelopeCache::EntryPath(const TEnvelopeCacheKey &AKey) const
{
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(AKey.Name);
    h.addData(QByteArray(1, '\0'));
    h.addData(QByteArray::number(AKey.Size) + ' ' + QByteArray::number(AKey.MTimeSec) + ' ');
    h.addData(AKey.Digest);
    return FFolder + QLatin1Char('/') + QString::fromLatin1(h.result().toHex()) + QLatin1String(EntrySuffix);
}

bool TEnvelopeCache::Lookup(const TEnvelopeCacheKey &AKey, TEnvelopeResult &AResult) const
{
    if (FFolder.isEmpty())
        return false;
    const QString path = EntryPath(AKey);
    const QByteArray data = ReadWhole(path);
    if (data.size() <= ChecksumBytes)
        return false;
    const qsizetype body = data.size() - ChecksumBytes;
    if (QCryptographicHash::hash(QByteArrayView(data.constData(), body), QCryptographicHash::Sha256)
        != data.mid(body))
        return false;

    TReader in(data, body);
    QByteArray magic;
    quint32 version = 0, nameLen = 0;
    TEnvelopeCacheKey stored;
    qint32 rate = 0, channels = 0, envCount = 0;
    qint64 lengthBytes = 0, framesPerPoint = 0;
    quint64 durationBits = 0;
    if (!in.Bytes(sizeof(Magic), magic) || magic != QByteArray(Magic, sizeof(Magic)) || !in.Num(version)
        || version != FormatVersion || !in.Num(stored.Size) || !in.Num(stored.MTimeSec)
        || !in.Bytes(DigestBytes, stored.Digest) || !in.Num(nameLen) || !in.Bytes(nameLen, stored.Name) || !in.Num(rate)
        || !in.Num(channels) || !in.Num(lengthBytes) || !in.Num(durationBits) || !in.Num(framesPerPoint)
        || !in.Num(envCount))
        return false;
    if (stored != AKey)
        return false;
    // The figures must be the ones the pass derives from the stored length: a foreign writer's entry with
    // a valid checksum still has to describe a possible pass.
    if (channels < 1 || rate < 0 || lengthBytes < 0)
        return false;
    const TEnvelopeFigures figures = EnvelopeFigures(lengthBytes, channels);
    if (figures.EnvCount != envCount || figures.FramesPerPoint != framesPerPoint
        || in.Left() != qsizetype(envCount) * 8)
        return false;

    auto points = std::make_shared<std::vector<TEnvPoint>>(static_cast<size_t>(envCount));
    for (TEnvPoint &p : *points) {
        in.Num(p.MnL);
        in.Num(p.MxL);
        in.Num(p.MnR);
        in.Num(p.MxR);
    }
    double duration;
    std::memcpy(&duration, &durationBits, sizeof(duration));

    AResult = TEnvelopeResult();
    AResult.SampleRate = rate;
    AResult.Channels = channels;
    AResult.DurationSec = duration;
    AResult.Figures = figures;
    AResult.Envelope = std::move(points);
    AResult.EnvCount = envCount;
    // Used now: the least recently used entries are the first to go when the folder is trimmed.
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
    return true;
}

TEnvelopeCache::TPassStore TEnvelopeCache::StoreAfterPass(const QString &APath, const TEnvelopeCacheKey &AKey,
                                                           const TEnvelopeResult &AResult) const
{
    if (KeyOf(APath) != AKey)
        return TPassStore::Changed;
    return Store(AKey, AResult) ? TPassStore::Stored : TPassStore::Refused;
}

bool TEnvelopeCache::Store(const TEnvelopeCacheKey &AKey, const TEnvelopeResult &AResult) const
{
    if (AResult.Error != 0 || AResult.Cancelled || AResult.EnvCount <= 0 || !AResult.Envelope
        || AResult.Envelope->size() != static_cast<size_t>(AResult.EnvCount) || !Usable())
        return false;
    TWriter out;
    out.Bytes(QByteArray(Magic, sizeof(Magic)));
    out.Num(FormatVersion);
    if (AKey.Digest.size() != DigestBytes)
        return false;
    out.Num(AKey.Size);
    out.Num(AKey.MTimeSec);
    out.Bytes(AKey.Digest);
    out.Num(static_cast<quint32>(AKey.Name.size()));
    out.Bytes(AKey.Name);
    out.Num(static_cast<qint32>(AResult.SampleRate));
    out.Num(static_cast<qint32>(AResult.Channels));
    out.Num(AResult.Figures.LengthBytes);
    quint64 durationBits;
    std::memcpy(&durationBits, &AResult.DurationSec, sizeof(durationBits));
    out.Num(durationBits);
    out.Num(AResult.Figures.FramesPerPoint);
    out.Num(static_cast<qint32>(AResult.EnvCount));
    QByteArray &data = out.Data();
    data.reserve(data.size() + AResult.EnvCount * 8 + ChecksumBytes);
    for (const TEnvPoint &p : *AResult.Envelope) {
        out.Num(p.MnL);
        out.Num(p.MxL);
        out.Num(p.MnR);
        out.Num(p.MxR);
    }
    data.append(QCryptographicHash::hash(data, QCryptographicHash::Sha256));

    // A temporary file of our own, renamed over the entry: a reader sees the old entry or the new one,
    // and two writers of the same entry leave one whole entry. No fsync: after a crash an entry that
    // lost its data fails its checksum and is written again.
    QByteArray temp = QFile::encodeName(FFolder + QLatin1Char('/') + QLatin1String(TempPrefix) + QStringLiteral("XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, data);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.constData(), QFile::encodeName(EntryPath(AKey)).constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    Account(data.size());
    return true;
}

void TEnvelopeCache::Account(qint64 AAddedBytes) const
{
    const QByteArray name = QFile::encodeName(FFolder + QLatin1Char('/') + QLatin1String(UsageName));
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        Trim();  // no count can be kept here: the folder is scanned at every store
        return;
    }
    bool locked = false;
    for (int waited = 0; !(locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0) && waited < UsageLockWaitMs; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!locked) {
        ::close(fd);  // another process holds the count for long: this entry is counted by the next scan
        return;
    }
    char text[64] = {};
    long long counted = -1, scannedSec = 0;
    const ssize_t n = ::pread(fd, text, sizeof(text) - 1, 0);
    if (n <= 0 || std::sscanf(text, "%lld %lld", &counted, &scannedSec) != 2 || counted < 0)
        counted = -1;
    const qint64 nowSec = QDateTime::currentSecsSinceEpoch();
    qint64 total = counted + AAddedBytes;
    if (counted < 0 || total > FLimitBytes || nowSec - scannedSec >= RescanSec || nowSec < scannedSec) {
        total = Trim();
        scannedSec = nowSec;
    }
    const int len = std::snprintf(text, sizeof(text), "%lld %lld\n", static_cast<long long>(total), scannedSec);
    if (::pwrite(fd, text, static_cast<size_t>(len), 0) != len || ::ftruncate(fd, len) != 0)
        ::ftruncate(fd, 0);  // a count that may be wrong is no count: the next store scans
    ::close(fd);  // releases the lock
}

qint64 TEnvelopeCache::Trim() const
{
    struct TEntry {
        QString path;
        qint64 size;
        qint64 usedNs;
    };
    std::vector<TEntry> entries;
    qint64 total = 0;
    const qint64 nowSec = QDateTime::currentSecsSinceEpoch();
    const QDir dir(FFolder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (name.startsWith(QLatin1String(TempPrefix))) {
            if (nowSec - st.st_mtim.tv_sec > StaleTempSec)
                ::unlink(QFile::encodeName(path).constData());
            continue;
        }
        if (!name.endsWith(QLatin1String(EntrySuffix)))
            continue;  // not ours: left alone and not counted
        entries.push_back({path, static_cast<qint64>(st.st_size),
                           static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec});
        total += st.st_size;
    }
    if (total <= FLimitBytes)
        return total;
    // Down to a sixteenth below the bound, so that the next scans are many stores away.
    const qint64 target = FLimitBytes - FLimitBytes / 16;
    std::sort(entries.begin(), entries.end(),
              [](const TEntry &ALeft, const TEntry &ARight) { return ALeft.usedNs < ARight.usedNs; });
    for (const TEntry &e : entries) {
        if (total <= target)
            break;
        // Another reader may have removed it already; either way it no longer counts.
        ::unlink(QFile::encodeName(e.path).constData());
        total -= e.size;
    }
    return total;
}
