// Audit of the archive: every catalogue row of a date range against the recordings folder, and the
// folder's audio files against the catalogue. Reads only: the catalogue is opened read-only and no file
// is written, moved or removed.
#pragma once

#include "uAudioTypes.h"
#include "uReaderTypes.h"

#include <QList>
#include <QString>
#include <limits>

struct TAuditOptions {
    QString DbPath;
    QString Root;       // recordings root: Root/yyyy/mm/dd/<file name>
    QString From, To;   // yyyy-mm-dd, inclusive; empty = open end
    bool Decode = false;
    int Threads = 0;    // decoding workers; 0 = one per core
    QString Fixity;     // a fixity manifest (uFixity) whose files are checked too; empty = none
    // The signal checks, measured in the decoding pass (Signal implies Decode): a silent stretch of at least
    // SilenceMinSec below SilenceDb dBFS, at least ClipRuns clipping runs, an integrated loudness below
    // LoudnessMin or above LoudnessMax LUFS (NAN: not checked).
    bool Signal = false;
    double SilenceDb = -50;
    double SilenceMinSec = 300;
    int ClipRuns = 10;
    double LoudnessMin = std::numeric_limits<double>::quiet_NaN();
    double LoudnessMax = std::numeric_limits<double>::quiet_NaN();
};

// Silent, Clipped and Loudness come only from the signal checks, Altered and Invalid only from a fixity
// manifest (Invalid: a line whose path is absolute, has a ".." segment or a NUL, or leads out of the root
// through a symbolic link; it is never opened).
enum class TFindingKind {
    Missing, Empty, Duplicate, Undecodable, Duration, Orphan, Altered, Silent, Clipped, Loudness, Invalid
};
constexpr int FindingKindCount = 11;
// "missing", "empty", "duplicate", "undecodable", "duration", "orphan", "altered", "silent", "clipped",
// "loudness", "invalid"
const char *FindingKindName(TFindingKind AKind);

struct TAuditFinding {
    TFindingKind Kind = TFindingKind::Missing;
    int Id = 0;            // catalogue row; meaningless for an orphan
    QString FileName;      // the row's file name, or the orphan's name
    QString File;          // the path looked at
    QString Detail;        // decoder code and text, the two durations, another path tried, or a line's fault
    bool NoRow = false;    // a fixity finding no catalogue row of the range names: Id is meaningless
};

struct TAuditResult {
    int Rows = 0;   // catalogue rows checked
    int Files = 0;  // audio files found in the day folders of the range
    int Counts[FindingKindCount] = {};
    // Row findings in catalogue order (start time, number; per row in the order of TFindingKind),
    // then orphans by path, then with a fixity manifest its entries that are altered or gone, in its order.
    QList<TAuditFinding> Findings;
    bool Clean() const { return Findings.isEmpty(); }
};

// Runs the audit. Progress (whole percentage of the work, rising, 100 last) may come from decoding
// workers, one call at a time. Throws EReaderError when the catalogue or the root cannot be read.
TAuditResult RunAudit(const TAuditOptions &AOptions, const TProgressProc &AProgress = {});

// The catalogue rows the reader lists (a positive duration), in the reader's order, read as the audit reads
// them (read-only, nothing left beside the catalogue). Throws EReaderError when the catalogue is unreadable.
TRecList ReadListedRows(const QString &ADbPath);

// Whether a name is that of an audio file the recorder could have written (by its extension).
bool IsAudioFileName(const QString &AName);
