// Temporary files written beside their target and renamed onto it only when complete, and the removal of
// temporaries that a killed process left behind.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// How long a temporary must have stayed unchanged before a later run takes it for debris, in seconds. A
// live writer changes its file far more often than that.
constexpr int StaleTemporarySeconds = 60;

// One temporary file in a folder, named APrefix + six random letters or digits + ASuffix. The caller keeps
// prefix and suffix short and free of the target's own name, which may already take the 255 bytes a name
// can have. Created exclusively with mode 0666 less the umask, and open for writing until Commit or
// Discard. Removed on destruction (also while an exception unwinds) unless committed. One owner, one thread.
class TTempFile {
public:
    TTempFile() = default;
    ~TTempFile();
    TTempFile(const TTempFile &) = delete;
    TTempFile &operator=(const TTempFile &) = delete;

    // False, with Error() set, when no file could be made in ADir.
    bool Create(const QString &ADir, const QByteArray &APrefix, const QByteArray &ASuffix);
    // Empty before Create and after Discard or Commit.
    const QString &Path() const { return FPath; }
    // The descriptor Create opened (write only); -1 when none is open. Data written to the file through any
    // other descriptor is flushed by Commit just the same.
    int Fd() const { return FFd; }
    // The errno of the last failure; 0 when none.
    int Error() const { return FError; }

    // Flushes the file's data to disk, closes it, renames it onto ATarget and flushes the folder. With
    // AReplace false an existing ATarget is kept and the commit fails with EEXIST. On any failure the
    // temporary is removed, ATarget is as it was, and the result is false with Error() set.
    bool Commit(const QString &ATarget, bool AReplace);
    // Closes and removes the file now.
    void Discard();

private:
    void CloseFd();

    QString FPath;
    int FFd = -1;
    int FError = 0;
};

// Writes all of AData to AFd, again after an interrupted or short write. False (errno set) when a write
// fails or writes nothing, a full disk for one; how much of AData reached the file is then unknown.
bool WriteAll(int AFd, const QByteArray &AData);

// True when AName (a file name's bytes) is APrefix + six letters or digits + ASuffix: a name TTempFile
// makes with that prefix and suffix.
bool IsTemporaryName(const QByteArray &AName, const QByteArray &APrefix, const QByteArray &ASuffix);

// Removes the regular files in ADir whose names (bytes) AIsOurs accepts and whose content has not changed
// for at least AMinAgeSec seconds: temporaries left by a process that was killed before it could remove
// them. Links, folders and other kinds of file are left alone; an unreadable folder removes nothing.
// Returns how many files were removed.
int RemoveStaleTemporaries(const QString &ADir, const std::function<bool(const QByteArray &)> &AIsOurs,
                           int AMinAgeSec = StaleTemporarySeconds);
