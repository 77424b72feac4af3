// The one export pipeline: a recording's range written as WAV, MP3, OGG or Opus, normalised when asked, with
// its record beside it when asked. One request value in, one outcome value out; no widgets, no engine.
#pragma once

#include "uAudioTypes.h"
#include "uReaderTypes.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <limits>
#include <optional>

// How the clip's target is treated.
enum class TExportTargetRule {
    // The reader's export: a complete export replaces the target; a cancelled one keeps what it wrote under
    // the target's name only when no file of that name existed (and no record was asked for). Temporaries of
    // a killed export left in the target's folder for StaleTemporarySeconds are removed first.
    ReplaceWhenComplete,
    // Only a complete export is kept, and only under a name still free when it completes (else the outcome
    // is Failed with TargetTaken).
    NewFileOnly,
};

// One export, as the dialog answers it, as vornak-tool and the web server ask for it.
struct TExportRequest {
    QString Source;            // the recording file
    double StartSec = 0;       // <= 0: the start
    double EndSec = 0;         // <= 0, or at or after the decoded end: the end
    TAudioFormat Format = TAudioFormat::afMP3;
    int Bitrate = 128;         // kbit/s (not used for WAV)
    double TargetLufs = 0;     // 0: samples unchanged; -23 or -16: normalised to that integrated loudness
    bool EvidenceRecord = false;  // the record (EvidenceRecordPath) and checksum line beside the clip
    QString Path;              // the clip: the target with the format's extension
    TExportTargetRule Rule = TExportTargetRule::ReplaceWhenComplete;
    // For the record: the catalogue row of the recording (none known: null in the record) and the program
    // that names itself in it ("VornakReader2026", "vornak-tool").
    std::optional<TRecInfo> Recording;
    QString ProgramName;
};

// How a caller follows and stops an export. Both may be left empty.
struct TExportControl {
    // Each whole percentage once, rising, on the exporting thread; false stops the export (a cancel).
    TCancelProgress Progress;
    // Set from any thread to stop the export (a cancel, as a false answer of Progress): it is seen at the next
    // block read (ExportBlockBytes) and between the steps. Borrowed; must outlive the call.
    const std::atomic<bool> *Cancel = nullptr;
};

enum class TExportResult { Done, Cancelled, Failed };

struct TExportOutcome {
    TExportResult Result = TExportResult::Failed;
    // Failed: what the operator reads ("De export is mislukt:" and the cause) and the cause alone, one line
    // in Dutch (vornak-tool's detail=). Empty otherwise.
    QString Text;
    QString Detail;
    // The WAV writer's own text when it raised its error (as vornak-tool has always put it on standard error).
    QString Raised;
    // The decoder's error code (TAudioErrorCode) when the recording could not be opened or holds no audio
    // (aeFileForm then); 0 otherwise.
    int OpenError = 0;
    // Done: the clip as the request named it, and with a record the record's and the checksum line's paths.
    // A cancelled plain export that kept its part under a new name names the clip too.
    QString ClipPath;
    QString RecordPath;
    QString ChecksumPath;
    double Seconds = 0;        // audio written; less than the range when it ended early or was cancelled
    bool EndedEarly = false;   // the decoding ended before the range's end (a cancel does not set it)
    bool TargetTaken = false;  // NewFileOnly: a file of the target's name appeared meanwhile; nothing kept
    // A normalised export: the integrated loudness (LUFS) the written file reads (NAN when not normalised,
    // -infinity for a silent range, which gets no gain), and whether the gain was lowered to keep the true
    // peak at ExportPeakCeilingDbtp.
    double LoudnessLufs = std::numeric_limits<double>::quiet_NaN();
    bool GainLowered = false;
    bool Done() const { return Result == TExportResult::Done; }
};

// The highest true peak a normalised export leaves (dBTP).
constexpr double ExportPeakCeilingDbtp = -1.0;
// A normalised file that reads further than this from its target (LU) is written once more, its gain
// corrected by what it was off (unless the true peak holds the gain back).
constexpr double ExportLoudnessToleranceLu = 0.2;

// Runs one export on the calling thread (any thread; nothing is shared between two calls).
//
// Range: the recording is decoded afresh (its own decoding stream; its length is the decoded length), from
// SecondsToBytes(StartSec) to SecondsToBytes(EndSec), whole frames (SecToFrames) for every codec. Refused
// (Failed) before anything is made: a target that is the recording itself (also by a symbolic or hard
// link), an empty range, a WAV range beyond 4 GiB, a recording that does not open. A recording whose
// decoding ends before the range's end is written only as far as it decodes (EndedEarly; no silence added).
//
// Normalising (TargetLufs < 0): the range is measured, written with one gain that brings it to the target
// (lowered where the true peak would pass ExportPeakCeilingDbtp; lossy formats keep half a dB for their
// encoders' overshoot), and the written file is measured; when it reads more than ExportLoudnessToleranceLu
// off (an encoder's low-pass removes energy the loudness counts), it is written once more with the gain
// corrected and measured again. LoudnessLufs is what the file reads. Progress: 0-20 the measurement, 20-55
// the writing, 55-60 its measurement, 60-95 and 95-100 the second writing and its measurement.
//
// Files: every output (clip; with a record also the record and the checksum line) is written to its own
// temporary in its folder (ExportTempPrefix, six letters or digits, ExportTempSuffix), flushed to disk and
// renamed into place once, and only when all are complete: record and line first, the clip last. So a
// failure, a cancel or a killed process never leaves a cut-off file in place of one that existed, and a
// failed export leaves no file. A clip name that is a symbolic link is followed (the file it names is
// replaced). A plain export onto a target that is no regular file (a device, a pipe) writes it directly
// (its loudness then is the figure the gain aimed at: it cannot be read back); with a record it is refused.
// The recording's checksum for the record is taken by a second thread while the export runs.
TExportOutcome ExportRecording(const TExportRequest &ARequest, const TExportControl &AControl = {});

// The parts of the export's temporary names (short: a target's own name may take all 255 bytes).
inline constexpr char ExportTempPrefix[] = ".vornak-export-";
inline constexpr char ExportTempSuffix[] = ".part";
// True for a name the export gives its temporaries.
bool IsExportTempName(const QByteArray &AName);
