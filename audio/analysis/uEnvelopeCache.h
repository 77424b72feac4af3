// Envelope cache: the finished waveform envelope of a file, kept per exact file state in a per-user
// folder, so that opening the same recording again skips the decoding pass.
#pragma once

#include "uEnvelope.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One recording's state, the same on every machine that reads it: a copy, or the file seen through another
// mount or path, has the same key; a file that is changed, grown, touched to another second or still being
// written has another key by the next load, so it is never served an old envelope.
struct TEnvelopeCacheKey {
    QByteArray Name;     // the file's own name (no folder; symbolic links resolved), as its bytes
    qint64 Size = 0;     // bytes
    qint64 MTimeSec = 0; // modification time, whole seconds since the epoch (file systems keep finer parts
                         // differently)
    QByteArray Digest;   // SHA-256 of the first 64 KiB followed by the last 64 KiB (a shorter file: twice whole)

    bool operator==(const TEnvelopeCacheKey &AOther) const
    {
        return Name == AOther.Name && Size == AOther.Size && MTimeSec == AOther.MTimeSec && Digest == AOther.Digest;
    }
    bool operator!=(const TEnvelopeCacheKey &AOther) const { return !(*this == AOther); }
};

// What a load did with the cache: Off when it could not be used (switched off, its folder cannot be made,
// or it held no entry and the pass's result could not be stored: a folder that cannot be written); Miss
// when it held no usable entry, so the pass ran and its result was stored (or not, when the file changed
// during the pass); Hit when it served the envelope.
enum class TEnvelopeCacheUse { Off, Miss, Hit };

// A cache folder holding one entry file per key (the entry's key must match the file's state exactly). One
// folder may serve several machines (a network share): entries are named by the key alone, written whole
// by rename and checked by their checksum, and no lock is held that a dead machine could leave behind. Entries are written to a temporary file and renamed into place, and carry a format version and
// a checksum: a truncated, damaged or foreign entry is a miss, never trusted, and is overwritten by the next
// store. The folder is kept under a size bound by removing the least recently used entries, without
// listing the folder at every store (see Account). Entries are opened without blocking and only regular
// files are read, so a FIFO or a device in the folder is a miss, not a hang. Any failure
// (folder cannot be made, disk full, read-only) makes the cache a no-op: the caller works as without it.
// Not tied to a thread; several processes may share the folder.
class TEnvelopeCache {
public:
    static constexpr qint64 DefaultLimitBytes = 256LL * 1024 * 1024;
    // $XDG_CACHE_HOME/VornakReader2026 when that variable holds an absolute path, else
    // $HOME/.cache/VornakReader2026; empty (no cache) when neither is an absolute path.
    static QString DefaultFolder();

    explicit TEnvelopeCache(QString AFolder, qint64 ALimitBytes = DefaultLimitBytes);

    const QString &Folder() const { return FFolder; }
    // The folder exists or could be created now.
    bool Usable() const;

    // The state of a regular file (reads its first and last 64 KiB); nullopt when it is not one or cannot
    // be read.
    static std::optional<TEnvelopeCacheKey> KeyOf(const QString &APath);
    // KeyOf when the folder is usable, else nullopt: a cache whose folder cannot be used is not asked.
    std::optional<TEnvelopeCacheKey> UsableKeyOf(const QString &APath) const;
    // The entry file that belongs to a key.
    QString EntryPath(const TEnvelopeCacheKey &AKey) const;

    // A whole, intact entry for exactly this key: true and the result as the pass made it (Error 0).
    // A hit marks the entry as the most recently used.
    bool Lookup(const TEnvelopeCacheKey &AKey, TEnvelopeResult &AResult) const;
    // Stores a successful pass under the key, then trims the folder to its bound. False when nothing
    // could be stored (the cache stays as it was).
    bool Store(const TEnvelopeCacheKey &AKey, const TEnvelopeResult &AResult) const;
    // What StoreAfterPass did with a pass's result.
    enum class TPassStore { Stored, Changed, Refused };
    // Stores the result of a pass over APath under AKey, the file's key taken before the pass, unless the
    // file changed during the pass (a recording still being written: Changed, nothing stored). Refused when
    // Store refuses it (a failed or cancelled pass, a folder that cannot take it).
    TPassStore StoreAfterPass(const QString &APath, const TEnvelopeCacheKey &AKey, const TEnvelopeResult &AResult) const;

private:
    // Adds a stored entry's bytes to the folder's usage count and scans (Trim) only when the count passes
    // the bound, is an hour old, or is missing or unreadable. The count lives in a small file in the folder,
    // updated under an exclusive lock on it, so that processes sharing the folder add up; it errs only
    // upwards (a replaced or hand-removed entry stays counted until the next scan) or by the entry of a
    // writer that died between its rename and its count, and each scan sets it right. A store never waits
    // for the lock more than a second: it then leaves its entry to the next scan.
    void Account(qint64 AAddedBytes) const;
    // Scans the folder: removes temporary files of dead writers and, when the entries together exceed the
    // bound, the least recently used ones until they hold a sixteenth less than it. Returns the bytes of
    // the entries left.
    qint64 Trim() const;

    QString FFolder;
    qint64 FLimitBytes;
};
