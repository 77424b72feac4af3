// Envelope cache: served only for the file's exact state, damaged entries and unusable folders change
// nothing but speed, the folder stays within its bound without a scan at every store, FIFOs and folders
// that cannot be written, concurrent writers, the tool's cache line, and the tool's end on SIGTERM.
#include "TestMain.h"
#include "uAudioEngine.h"
#include "uEnvelopeCache.h"

#include <QTest>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

namespace {

// A 16-bit PCM WAV of noise, written here so that the test needs no encoder.
bool WriteWav(const QString &APath, int ARate, int AChannels, int AFrames, quint32 ASeed)
{
    QByteArray data(AFrames * AChannels * 2, '\0');
    QRandomGenerator rng(ASeed);
    for (int i = 0; i < AFrames * AChannels; ++i)
        qToLittleEndian<qint16>(static_cast<qint16>(rng.bounded(-20000, 20000)), data.data() + 2 * i);
    QByteArray h;
    auto u32 = [&h](quint32 AValue) { char b[4]; qToLittleEndian(AValue, b); h.append(b, 4); };
    auto u16 = [&h](quint16 AValue) { char b[2]; qToLittleEndian(AValue, b); h.append(b, 2); };
    h.append("RIFF");
    u32(36 + data.size());
    h.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(AChannels);
    u32(ARate);
    u32(ARate * AChannels * 2);
    u16(AChannels * 2);
    u16(16);
    h.append("data");
    u32(data.size());
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(h + data) == h.size() + data.size();
}

bool SameEnvelope(const TEnvArray &AFirst, const TEnvArray &ASecond)
{
    if (!AFirst || !ASecond || AFirst->size() != ASecond->size())
        return false;
    for (size_t i = 0; i < AFirst->size(); ++i) {
        const TEnvPoint &p = (*AFirst)[i], &q = (*ASecond)[i];
        if (p.MnL != q.MnL || p.MxL != q.MxL || p.MnR != q.MnR || p.MxR != q.MxR)
            return false;
    }
    return true;
}

void SetMTime(const QString &APath, qint64 ASec, long ANsec)
{
    const timespec times[2] = {{ASec, ANsec}, {ASec, ANsec}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(APath).constData(), times, 0) == 0);
}

// One load through an engine without sound, with the cache in AFolder (empty: none).
struct TLoad {
    bool ok = false;
    TEnvelopeCacheUse use = TEnvelopeCacheUse::Off;
    TEnvArray envelope;
    double duration = 0;
    int rate = 0;
    int channels = 0;
    QList<int> reports;
};
TLoad LoadThrough(const QString &AFolder, const QString &AFile)
{
    TAudioEngine e;
    e.SetInitialDevice(0);
    e.InitAudio();
    e.SetEnvelopeCacheFolder(AFolder);
    TLoad r;
    r.ok = e.Load(AFile, [&r](int APercent) { r.reports.append(APercent); });
    r.use = e.LastCacheUse();
    r.envelope = e.Envelope();
    r.duration = e.DurationSec();
    r.rate = e.SampleRate();
    r.channels = e.Channels();
    return r;
}

} // namespace

class TestEnvelopeCache : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FWav;      // 3 s stereo noise
    QString FCache;    // a fresh cache folder per test
    TLoad FUncached;   // FWav loaded without any cache
    QString Path(const QString &AName) const { return FDir.filePath(AName); }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FWav = Path("noise.wav");
        QVERIFY(WriteWav(FWav, 44100, 2, 3 * 44100, 1));
        FUncached = LoadThrough(QString(), FWav);
        QVERIFY(FUncached.ok);
        QCOMPARE(FUncached.use, TEnvelopeCacheUse::Off);
    }
    void init()
    {
        static int n = 0;
        FCache = Path(QStringLiteral("cache%1/VornakReader2026").arg(++n));
    }

    void defaultFolderFollowsXdgCacheHome_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<bool>("hasHome");
        QTest::addColumn<QString>("expected");
        const QString home = qEnvironmentVariable("HOME");
        QTest::addRow("absolute") << QByteArray("/srv/cache") << true << "/srv/cache/VornakReader2026";
        QTest::addRow("relative is ignored") << QByteArray("rel/cache") << true << home + "/.cache/VornakReader2026";
        QTest::addRow("unset") << QByteArray() << true << home + "/.cache/VornakReader2026";
        QTest::addRow("unset, no home: no cache") << QByteArray() << false << QString();
    }
    void defaultFolderFollowsXdgCacheHome()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(bool, hasHome);
        const QByteArray savedXdg = qgetenv("XDG_CACHE_HOME"), savedHome = qgetenv("HOME");
        if (xdg.isEmpty())
            qunsetenv("XDG_CACHE_HOME");
        else
            qputenv("XDG_CACHE_HOME", xdg);
        if (!hasHome)
            qunsetenv("HOME");
        const QString folder = TEnvelopeCache::DefaultFolder();
        qputenv("XDG_CACHE_HOME", savedXdg);
        qputenv("HOME", savedHome);
        QTEST(folder, "expected");
    }

    // The second load is served from the cache with exactly what the pass made, reporting only 100.
    void secondLoadIsServedWithThePassResult()
    {
        const TLoad first = LoadThrough(FCache, FWav);
        QCOMPARE(first.use, TEnvelopeCacheUse::Miss);
        const TLoad second = LoadThrough(FCache, FWav);
        QCOMPARE(second.use, TEnvelopeCacheUse::Hit);
        QCOMPARE(second.reports, QList<int>{100});
        for (const TLoad *l : {&first, &second}) {
            QVERIFY(SameEnvelope(l->envelope, FUncached.envelope));
            QCOMPARE(l->duration, FUncached.duration);
            QCOMPARE(l->rate, 44100);
            QCOMPARE(l->channels, 2);
        }
        // Reached through a symbolic link, the file is the same file.
        QVERIFY(QFile::link(FWav, Path("link.wav")));
        QCOMPARE(LoadThrough(FCache, Path("link.wav")).use, TEnvelopeCacheUse::Hit);
    }

    // Any change of the file's state misses, also one that keeps size and second; the new state is then
    // served in its turn.
    void changedFileMisses_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addRow("touched to another second") << "touch";
        QTest::addRow("grown by the recorder") << "append";
        QTest::addRow("a byte changed at the start, same size and second") << "start";
        QTest::addRow("a byte changed at the end, same size and second") << "end";
    }
    void changedFileMisses()
    {
        QFETCH(QString, change);
        const QString file = Path("changing.wav");
        QFile::remove(file);
        QVERIFY(QFile::copy(FWav, file));
        SetMTime(file, 1700000000, 100);
        QCOMPARE(LoadThrough(FCache, file).use, TEnvelopeCacheUse::Miss);
        QCOMPARE(LoadThrough(FCache, file).use, TEnvelopeCacheUse::Hit);
        if (change == "touch") {
            SetMTime(file, 1700000001, 100);
        } else if (change == "append") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::Append));
            f.write(QByteArray(4000, '\0'));  // past the data chunk: the audio is unchanged
            f.close();
            SetMTime(file, 1700000000, 100);
        } else {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const qint64 at = change == "start" ? 1000 : f.size() - 10;
            QVERIFY(f.seek(at));
            const char old = f.peek(1).at(0);
            QVERIFY(f.putChar(char(old ^ 0x55)));
            f.close();
            SetMTime(file, 1700000000, 100);
        }
        QCOMPARE(LoadThrough(FCache, file).use, TEnvelopeCacheUse::Miss);
        QCOMPARE(LoadThrough(FCache, file).use, TEnvelopeCacheUse::Hit);
    }

    // The key holds on every machine: a copy with the same name, size and second at another path hits,
    // as does the file touched within its second (file systems keep finer parts differently); another
    // name misses.
    void copiesOfARecordingShareTheEntry()
    {
        const QString file = Path("rec-a/shared.wav"), copy = Path("rec-b/shared.wav"), renamed = Path("rec-b/other.wav");
        QVERIFY(QDir().mkpath(Path("rec-a")) && QDir().mkpath(Path("rec-b")));
        for (const QString &f : {file, copy, renamed}) {
            QFile::remove(f);
            QVERIFY(QFile::copy(FWav, f));
            SetMTime(f, 1700000000, 100);
        }
        QCOMPARE(LoadThrough(FCache, file).use, TEnvelopeCacheUse::Miss);
        QCOMPARE(LoadThrough(FCache, copy).use, TEnvelopeCacheUse::Hit);
        SetMTime(copy, 1700000000, 999999);
        QCOMPARE(LoadThrough(FCache, copy).use, TEnvelopeCacheUse::Hit);
        QCOMPARE(LoadThrough(FCache, renamed).use, TEnvelopeCacheUse::Miss);
    }

    // An entry that is not whole and ours is a miss: the load gives the pass's result and writes the
    // entry again, so the next load is a hit.
    void damagedEntryIsIgnoredAndRewritten_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addRow("truncated to half") << "half";
        QTest::addRow("empty") << "empty";
        QTest::addRow("one point flipped") << "flip";
        QTest::addRow("checksum cut off") << "nosum";
        QTest::addRow("another file's entry") << "foreign";
        QTest::addRow("not an entry at all") << "text";
    }
    void damagedEntryIsIgnoredAndRewritten()
    {
        QFETCH(QString, damage);
        QVERIFY(LoadThrough(FCache, FWav).ok);
        const TEnvelopeCache cache(FCache);
        const QString entry = cache.EntryPath(*TEnvelopeCache::KeyOf(FWav));
        QFile f(entry);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        if (damage == "half")
            bytes.truncate(bytes.size() / 2);
        else if (damage == "empty")
            bytes.clear();
        else if (damage == "flip")
            bytes[bytes.size() - 32 - 1000] = char(bytes[bytes.size() - 32 - 1000] ^ 0x40);
        else if (damage == "nosum")
            bytes.chop(32);
        else if (damage == "text")
            bytes = "not a cache entry\n";
        else {
            // A whole, valid entry of another file under this file's entry name.
            const QString other = Path("other.wav");
            QVERIFY(WriteWav(other, 44100, 2, 44100, 2));
            QVERIFY(LoadThrough(FCache, other).ok);
            QFile o(cache.EntryPath(*TEnvelopeCache::KeyOf(other)));
            QVERIFY(o.open(QIODevice::ReadOnly));
            bytes = o.readAll();
        }
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();

        TEnvelopeResult r;
        QVERIFY(!cache.Lookup(*TEnvelopeCache::KeyOf(FWav), r));
        const TLoad again = LoadThrough(FCache, FWav);
        QCOMPARE(again.use, TEnvelopeCacheUse::Miss);
        QVERIFY(SameEnvelope(again.envelope, FUncached.envelope));
        QCOMPARE(again.duration, FUncached.duration);
        QCOMPARE(LoadThrough(FCache, FWav).use, TEnvelopeCacheUse::Hit);
    }

    // A cache folder that cannot be made: the load is the uncached one, without the cache.
    void unusableFolderLoadsWithoutCache()
    {
        QFile blocker(Path("plainfile"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString folder = Path("plainfile/VornakReader2026");
        for (int i = 0; i < 2; ++i) {
            const TLoad l = LoadThrough(folder, FWav);
            QVERIFY(l.ok);
            QCOMPARE(l.use, TEnvelopeCacheUse::Off);
            QVERIFY(SameEnvelope(l.envelope, FUncached.envelope));
            QCOMPARE(l.reports.last(), 100);
            QVERIFY(l.reports.size() > 1);  // the pass ran, with its reports
        }
        // A file that cannot be decoded is neither stored nor served.
        QFile junk(Path("junk.mp3"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        QVERIFY(!LoadThrough(FCache, junk.fileName()).ok);
        QVERIFY(!LoadThrough(FCache, junk.fileName()).ok);
        QCOMPARE(QDir(FCache).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    // Over its bound the folder loses its least recently used entries; a hit counts as a use.
    void boundRemovesTheLeastRecentlyUsed()
    {
        QVERIFY(QDir().mkpath(FCache));
        TEnvelopeResult r;
        r.SampleRate = 44100;
        r.Channels = 2;
        r.Figures = EnvelopeFigures(50000 * 4, 2);
        r.EnvCount = r.Figures.EnvCount;
        r.Envelope = std::make_shared<const std::vector<TEnvPoint>>(size_t(r.EnvCount), TEnvPoint{-5, 5, -6, 6});
        const qint64 entryBytes = 400000 + 200;  // points plus header, path and checksum (at most)
        // Room for three and a half: a trim goes a sixteenth below the bound, which still holds three.
        const TEnvelopeCache cache(FCache, 3 * entryBytes + entryBytes / 2);
        QList<TEnvelopeCacheKey> keys;
        for (int i = 0; i < 4; ++i) {
            const QString file = Path(QStringLiteral("lru%1.wav").arg(i));
            QVERIFY(WriteWav(file, 8000, 1, 10, 3));
            keys.append(*TEnvelopeCache::KeyOf(file));
            QVERIFY(cache.Store(keys[i], r));
            SetMTime(cache.EntryPath(keys[i]), 1700000000 + i, 0);  // stored in this order
            if (i == 2) {
                TEnvelopeResult got;
                QVERIFY(cache.Lookup(keys[0], got));  // 0 is now the most recently used
                QVERIFY(SameEnvelope(got.Envelope, r.Envelope));
            }
        }
        TEnvelopeResult got;
        QVERIFY(cache.Lookup(keys[0], got));
        QVERIFY(!cache.Lookup(keys[1], got));
        QVERIFY(cache.Lookup(keys[2], got));
        QVERIFY(cache.Lookup(keys[3], got));
    }

    // Two writers of one entry and a reader at the same time: every hit is whole, one entry remains,
    // and no temporary file is left behind.
    void concurrentWritersLeaveOneWholeEntry()
    {
        QVERIFY(LoadThrough(FCache, FWav).ok);
        const TEnvelopeCache cache(FCache);
        const TEnvelopeCacheKey key = *TEnvelopeCache::KeyOf(FWav);
        TEnvelopeResult stored;
        QVERIFY(cache.Lookup(key, stored));
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0}, hits{0};
        auto writer = [&] {
            for (int i = 0; i < 40; ++i)
                cache.Store(key, stored);
        };
        std::thread reader([&] {
            while (!stop) {
                TEnvelopeResult r;
                if (cache.Lookup(key, r)) {
                    ++hits;
                    if (!SameEnvelope(r.Envelope, stored.Envelope))
                        ++bad;
                }
            }
        });
        std::thread w1(writer), w2(writer);
        w1.join();
        w2.join();
        stop = true;
        reader.join();
        QCOMPARE(bad.load(), 0);
        QVERIFY(hits.load() > 0);
        QCOMPARE(QDir(FCache).entryList({"*.venv", ".venv-tmp-*"}, QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(cache.EntryPath(key)).fileName()});
    }

    // A store lists the folder only when its usage count asks for it: passing the bound, an hour after the
    // last scan, or without a count. Stores from several threads (each its own lock, as processes have)
    // add up exactly.
    void storesCountTheFolderWithoutScanningIt()
    {
        QVERIFY(QDir().mkpath(FCache));
        TEnvelopeResult r;
        r.SampleRate = 8000;
        r.Channels = 1;
        r.Figures = EnvelopeFigures(2000, 1);
        r.EnvCount = r.Figures.EnvCount;
        r.Envelope = std::make_shared<const std::vector<TEnvPoint>>(size_t(r.EnvCount), TEnvPoint{-5, 5, -5, 5});
        const TEnvelopeCache cache(FCache);
        const QString usage = FCache + "/.venv-usage";
        auto key = [&](int AIndex) {
            const QString file = Path(QStringLiteral("count%1.wav").arg(AIndex));
            if (!QFileInfo::exists(file))
                WriteWav(file, 8000, 1, 10, 3);
            return *TEnvelopeCache::KeyOf(file);
        };
        auto entryBytes = [&] {
            qint64 total = 0;
            for (const QFileInfo &i : QDir(FCache).entryInfoList({"*.venv"}, QDir::Files))
                total += i.size();
            return total;
        };
        auto counted = [&] {
            QFile f(usage);
            return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toLongLong() : -1;
        };
        auto plantStaleTemp = [&] {
            QFile t(FCache + "/.venv-tmp-dead01");
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.close();
            SetMTime(t.fileName(), QDateTime::currentSecsSinceEpoch() - 7200, 0);
        };
        QVERIFY(cache.Store(key(0), r));
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back([&, t] {
                for (int i = 0; i < 10; ++i)
                    cache.Store(key(1 + t * 10 + i), r);
            });
        for (std::thread &t : writers)
            t.join();
        QCOMPARE(QDir(FCache).entryList({"*.venv"}, QDir::Files).size(), 41);
        QCOMPARE(counted(), entryBytes());

        // Under the bound and scanned just now: a dead writer's temporary file is not even seen.
        plantStaleTemp();
        QVERIFY(cache.Store(key(41), r));
        QVERIFY(QFileInfo::exists(FCache + "/.venv-tmp-dead01"));
        QCOMPARE(counted(), entryBytes());
        // The last scan an hour ago: this store scans and removes it.
        QFile f(usage);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::number(counted()) + ' ' + QByteArray::number(QDateTime::currentSecsSinceEpoch() - 3601));
        f.close();
        QVERIFY(cache.Store(key(42), r));
        QVERIFY(!QFileInfo::exists(FCache + "/.venv-tmp-dead01"));
        // Without a count (removed, damaged): the store scans and counts afresh.
        for (const QByteArray &content : {QByteArray(), QByteArray("garbage")}) {
            plantStaleTemp();
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(content);
            f.close();
            QVERIFY(cache.Store(key(43), r));
            QVERIFY(!QFileInfo::exists(FCache + "/.venv-tmp-dead01"));
            QCOMPARE(counted(), entryBytes());
        }
        // A count past the bound makes the store scan and trim to below it.
        const qint64 bound = entryBytes() / 2;
        const TEnvelopeCache small(FCache, bound);
        QVERIFY(small.Store(key(44), r));
        QVERIFY(entryBytes() <= bound - bound / 16);
        QVERIFY(entryBytes() > 0);
        QCOMPARE(counted(), entryBytes());
    }

    // A FIFO, a device-like or any other non-regular file where an entry or the usage count belongs
    // neither blocks a load nor is read: the load misses and stores, and finishes.
    void nonRegularFilesInTheFolderDoNotBlock()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        QVERIFY2(!tool.isEmpty(), "VORNAK_TOOL is not set");
        QVERIFY(QDir().mkpath(FCache));
        const TEnvelopeCache cache(FCache);
        const QString entry = cache.EntryPath(*TEnvelopeCache::KeyOf(FWav));
        QVERIFY(::mkfifo(QFile::encodeName(entry).constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(FCache + "/.venv-usage").constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(FCache + "/other.venv").constData(), 0600) == 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", QFileInfo(FCache).path());
        for (const char *expected : {"cache=miss", "cache=hit"}) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(tool, {"envelope", FWav});
            const bool finished = p.waitForFinished(20000);
            if (!finished)
                p.kill();
            QVERIFY2(finished, "vornak-tool envelope hangs on a FIFO in the cache folder");
            QCOMPARE(p.exitCode(), 0);
            QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).split('\n').contains(expected));
        }
        QVERIFY(QFileInfo(entry).isFile());  // the FIFO was replaced by a whole entry
    }

    // A folder that exists but cannot be written (here one of the kernel's, which nobody can write) is
    // no cache: the load says Off, not Miss, and works as without a cache; so does the tool.
    void unwritableFolderIsOff()
    {
        QVERIFY(QDir().mkpath(QFileInfo(FCache).path()));
        QVERIFY(QFile::link("/proc", FCache));
        const TLoad l = LoadThrough(FCache, FWav);
        QVERIFY(l.ok);
        QCOMPARE(l.use, TEnvelopeCacheUse::Off);
        QVERIFY(SameEnvelope(l.envelope, FUncached.envelope));
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        QVERIFY2(!tool.isEmpty(), "VORNAK_TOOL is not set");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", QFileInfo(FCache).path());
        p.setProcessEnvironment(env);
        p.start(tool, {"envelope", FWav});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).split('\n').value(6), QStringLiteral("cache=off"));
    }

    // vornak-tool envelope: the cache line after frames_per_point=, before the dump; --no-cache neither
    // reads nor writes; --threads gives the same envelope.
    void toolReportsItsCacheUse()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        if (tool.isEmpty())
            QSKIP("VORNAK_TOOL is not set");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", QFileInfo(FCache).path());
        auto run = [&](const QStringList &AArgs, int *ACode = nullptr) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(tool, QStringList{"envelope", FWav} + AArgs);
            p.waitForFinished(60000);
            if (ACode)
                *ACode = p.exitCode();
            return QString::fromUtf8(p.readAllStandardOutput()).split('\n');
        };
        const QStringList off = run({"--no-cache", "--dump"});
        QVERIFY(!QFileInfo::exists(FCache));
        const QStringList miss = run({"--dump", "--threads", "3"});
        const QStringList hit = run({"--dump"});
        QCOMPARE(off.indexOf("cache=off"), off.indexOf(QRegularExpression("^frames_per_point=\\d+$")) + 1);
        QCOMPARE(miss.indexOf("cache=miss"), 6);
        QCOMPARE(hit.indexOf("cache=hit"), 6);
        QVERIFY(off.size() > 50000);
        for (const QStringList *l : {&miss, &hit})
            QVERIFY(l->mid(0, 6) == off.mid(0, 6) && l->mid(7) == off.mid(7));
        int code = 0;
        for (const QStringList &bad : {QStringList{"--threads"}, QStringList{"--threads", "0"},
                                       QStringList{"--threads", "two"}, QStringList{"--cache"}}) {
            run(bad, &code);
            QCOMPARE(code, 2);
        }
    }

    // One cache folder shared by two users (two home folders, as two workstations): what one stored the
    // other is served, for its own copy of the recording too.
    void sharedFolderServesTwoHomes()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        QVERIFY2(!tool.isEmpty(), "VORNAK_TOOL is not set");
        const QString shared = Path("share/cache");
        QVERIFY(QDir().mkpath(Path("home1")) && QDir().mkpath(Path("home2")));
        const QString own = Path("home2/noise.wav");
        QFile::remove(own);
        QVERIFY(QFile::copy(FWav, own));
        SetMTime(own, QFileInfo(FWav).lastModified().toSecsSinceEpoch(), 0);
        auto run = [&](const QString &AHome, const QString &AFile) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", AHome);
            env.remove("XDG_CACHE_HOME");
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(tool, {"envelope", AFile, "--cache", shared});
            p.waitForFinished(60000);
            return QString::fromUtf8(p.readAllStandardOutput()).split('\n');
        };
        QVERIFY(run(Path("home1"), FWav).contains("cache=miss"));
        QVERIFY(run(Path("home2"), FWav).contains("cache=hit"));
        QVERIFY(run(Path("home2"), own).contains("cache=hit"));
        QVERIFY(!QFileInfo::exists(Path("home1/.cache")) && !QFileInfo::exists(Path("home2/.cache")));
    }

    // SIGTERM during a long pass ends vornak-tool envelope at once (a 3.15-hour recording of silence,
    // written sparse; stopped at its first progress line).
    void toolEndsPromptlyOnSigtermDuringThePass()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        QVERIFY2(!tool.isEmpty(), "VORNAK_TOOL is not set");
        const quint32 bytes = 2000000000;
        QByteArray h;
        auto u32 = [&h](quint32 AValue) { char b[4]; qToLittleEndian(AValue, b); h.append(b, 4); };
        auto u16 = [&h](quint16 AValue) { char b[2]; qToLittleEndian(AValue, b); h.append(b, 2); };
        h.append("RIFF");
        u32(36 + bytes);
        h.append("WAVEfmt ");
        u32(16); u16(1); u16(2); u32(44100); u32(44100 * 4); u16(4); u16(16);
        h.append("data");
        u32(bytes);
        QFile wav(Path("long.wav"));
        QVERIFY(wav.open(QIODevice::WriteOnly));
        wav.write(h);
        QVERIFY(wav.resize(h.size() + bytes));
        wav.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", QFileInfo(FCache).path());
        p.setProcessEnvironment(env);
        p.start(tool, {"envelope", wav.fileName(), "--progress", "--threads", "1"});
        QVERIFY(p.waitForStarted());
        QDeadlineTimer deadline(60000);
        while (!p.canReadLine() && p.state() == QProcess::Running && !deadline.hasExpired())
            p.waitForReadyRead(100);
        QCOMPARE(p.readLine().left(9), QByteArray("progress="));
        p.terminate();
        const bool ended = p.waitForFinished(3000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        QVERIFY2(ended, "vornak-tool envelope did not end within 3 s of SIGTERM");
        QVERIFY(!p.readAllStandardOutput().contains("cache="));  // stopped, not finished
        QFile::remove(wav.fileName());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestEnvelopeCache)
#include "tst_uEnvelopeCache.moc"
