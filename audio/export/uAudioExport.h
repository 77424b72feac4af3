// Range export of a recording file: the range decoded afresh, then written as WAV or encoded.
#pragma once

#include "uAudioTypes.h"
#include "uReaderTypes.h"

#include <QString>
#include <limits>

// Writes ASource, or [AStartSec, AEndSec) of it, to ADest. AStartSec <= 0 is the start; AEndSec <= 0 or at
// or beyond ADurationSec (the source's length in seconds) is the end. Refuses (false) a target that is the
// source itself, an empty range and a WAV range beyond 4 GiB. True when any audio went through (also when
// cancelled). Throws EReaderError for a WAV target that cannot be created or written.
// A source whose decoding ends before the range's end (damaged or cut off) is written only as far as it
// decodes, with no silence added (a WAV header counts exactly the data written); the export still succeeds,
// and AOutcome (when given) says how much it holds.
//
// A regular (or missing) target is written as a hidden temporary file in its folder (ExportTempPrefix, six
// letters or digits, ExportTempSuffix; a symbolic link is followed to the file it names), flushed to disk
// and renamed onto the target only as ARule allows; otherwise the temporary is removed. So a failure, a
// cancel or a killed process never leaves a cut-off file in place of one that existed, and a failed export
// leaves no file. A target that is no regular file (a device, a pipe) is written directly.
enum class TExportTargetRule {
    // The reader's export: a complete export replaces the target; a cancelled one keeps what it wrote under
    // the target's name only when no file of that name existed. Temporaries of a killed export left in the
    // target's folder for StaleTemporarySeconds are removed first.
    ReplaceWhenComplete,
    // Only a complete export is kept, and only under a name still free when it completes (else
    // TExportOutcome::TargetTaken and false).
    NewFileOnly,
};
struct TExportOutcome {
    double Seconds = 0;       // audio read through to the writer; less than the range when cut short
    bool EndedEarly = false;  // the decoding ended before the range's end (a cancel does not set it)
    bool TargetTaken = false; // NewFileOnly: a file of the target's name appeared meanwhile; nothing kept
    QString Error;            // why an MP3, OGG or Opus export failed (a full disk names its cause); else empty
    // A normalised export: the integrated loudness (LUFS) the written audio has by the measurement and the
    // gain (NAN when not normalised, -infinity for a silent range, which gets no gain), and whether the gain
    // was lowered to keep the true peak at ExportPeakCeilingDbtp.
    double LoudnessLufs = std::numeric_limits<double>::quiet_NaN();
    bool GainLowered = false;
};
// The highest true peak a normalised export leaves (dBTP).
constexpr double ExportPeakCeilingDbtp = -1.0;
// ATargetLufs 0 writes the samples as they are; a negative target (-23, -16) normalises: the range is measured
// first (the first half of the progress), then written with one gain that brings its integrated loudness to
// the target, lowered where the true peak would pass ExportPeakCeilingDbtp (lossy formats keep a margin for
// the overshoot their encoders add).
bool ExportFileRange(const QString &ASource, double ADurationSec, const QString &ADest, TAudioFormat AFmt,
                     int ABitrate, double AStartSec, double AEndSec, const TCancelProgress &AProgress,
                     TExportOutcome *AOutcome = nullptr,
                     TExportTargetRule ARule = TExportTargetRule::ReplaceWhenComplete, double ATargetLufs = 0);

// The parts of the range export's temporary names (short: a target's own name may take all 255 bytes).
inline constexpr char ExportTempPrefix[] = ".vornak-export-";
inline constexpr char ExportTempSuffix[] = ".part";
// True for a name the range export gives its temporaries.
bool IsExportTempName(const QByteArray &AName);
