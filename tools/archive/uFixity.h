// Fixity manifest of the archive: the SHA-256 of every settled recording in `sha256sum`'s format, paths
// relative to the recordings root, extended by appending through a temporary file and a rename under a lock.
#pragma once

#include "uAudioTypes.h"
#include "uEvidence.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

struct TFixityOptions {
    QString DbPath;
    QString Root;          // recordings root: Root/yyyy/mm/dd/<file name>
    QString Manifest;      // the listing; a missing file is an empty listing
    QString From, To;      // yyyy-mm-dd, inclusive; empty = open end
    int Threads = 0;       // hashing workers; 0 = one per core
    int MinAgeSec = 120;   // a file changed more recently may still be written by the recorder
};

struct TFixityResult {
    int Added = 0;    // lines appended by this run
    int Listed = 0;   // recordings of the range the manifest already listed
    int Recent = 0;   // files changed less than MinAgeSec ago: left for a later run
    int Missing = 0;  // no file ROOT/yyyy/mm/dd/<file name>
    int Failed = 0;   // files that could not be read
    int Outside = 0;  // paths that a symbolic link leads out of the root: skipped, never read
};

// Appends a line for every recording of the range whose catalogue row has a positive duration, whose file
// lies in its day folder under Root (after symbolic links: one that leads out of Root is counted Outside and
// never read), has not changed for MinAgeSec and is not listed yet; in catalogue
// order. Holds an exclusive flock on "<Manifest>.lock" (made when missing, never removed) for the whole
// run, so runs at once take turns; the kernel releases it when a process dies. The manifest is replaced by
// a temporary file in its folder and a rename after every batch of files, so an interrupted run keeps every
// line it had completed. Progress: the whole percentage of the bytes hashed, rising. Throws EReaderError
// (catalogue not readable, Root not a folder, manifest or its folder not readable or writable).
TFixityResult RunFixity(const TFixityOptions &AOptions, const TProgressProc &AProgress = {});

// One line of a manifest.
struct TManifestEntry {
    QByteArray Hex;   // 64 lowercase hexadecimal digits
    QString RelPath;  // relative to the root, unescaped, by its bytes (PathFromBytes)
    int Line = 0;     // its line number in the manifest, from 1
    QString Invalid;  // why the path cannot name a file under the root (Dutch); empty for a valid path
};
// The entries of a manifest in file order; lines that are no `sha256sum` line are left out. An entry whose
// path is absolute, has a ".." segment or holds a NUL is kept with Invalid set: such a path is never opened.
// Throws EReaderError when the file cannot be read.
QList<TManifestEntry> ReadManifest(const QString &APath);

// Where paths under a recordings root really are, symbolic links resolved: a link (of the file or of a
// folder on the way) may lead out of the root, and what lies there is not the archive's to read.
class TRootPlaces {
public:
    // The root as it really is; a root that does not exist holds nothing.
    explicit TRootPlaces(const QString &ARoot);
    enum class TPlace { Inside, Outside, Missing };
    // Where APath (by its bytes) leads. For Inside, its real path into AReal when given: open that one, so
    // that what was checked is what is read.
    TPlace Locate(const QString &APath, QString *AReal = nullptr) const;

private:
    QByteArray FRealRoot;  // ends in '/'; empty when the root does not exist
};

// The SHA-256 of every path (by its bytes), each file read once, on AThreads workers (0 = one per core); in
// input order. AProgress gets each rise of the whole percentage of the files done (rounded down), from the
// workers one call at a time.
std::vector<TFileDigest> HashFiles(const QStringList &APaths, int AThreads, const TProgressProc &AProgress = {});

// The manifest's path of a recording: "yyyy/mm/dd/<file name>" (the name by its bytes, as PathFromBytes
// keeps them), or empty when the date or name cannot make one.
QString ManifestPathOf(const QString &ARecDate, const QString &AFileName);
