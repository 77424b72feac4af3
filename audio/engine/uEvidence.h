// Export records: SHA-256 checksums of files, the record written beside an exported clip (what was exported,
// from which recording, when, by whom and with what), and the check of a clip against its record.
#pragma once

#include "uAudioExport.h"
#include "uReaderTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The SHA-256 of a file's content, read once from start to end.
struct TFileDigest {
    QByteArray Hex;      // 64 lowercase hexadecimal digits; empty when the file could not be read
    qint64 Bytes = -1;   // bytes read
    QDateTime Modified;  // the file's modification time (UTC) as it was when the read began
    int Error = 0;       // errno of the failure; 0 when Hex is valid
    bool Ok() const { return Error == 0 && !Hex.isEmpty(); }
};
TFileDigest Sha256OfFile(const QString &APath);

// One line of a `sha256sum` listing for AName, with the escape `sha256sum` uses for a name holding a
// backslash or a line break (the line then starts with a backslash). Ends in '\n'.
QByteArray Sha256Line(const QByteArray &AHex, const QString &AName);

// The record's file and the checksum line's file of a clip: "<clip>.json" and "<clip>.sha256".
QString EvidenceRecordPath(const QString &AClip);
QString EvidenceChecksumPath(const QString &AClip);

// The program named in a record: its version, and the libraries whose versions decide the exported bytes.
QString EvidenceProgramVersion();
QString EvidenceLibrariesText();

// One export with its record.
struct TEvidenceExport {
    QString Source;          // the recording file
    double DurationSec = 0;  // its length, as ExportFileRange takes it
    QString Dest;            // the clip
    TAudioFormat Format = TAudioFormat::afWAV;
    int Bitrate = 128;       // kbit/s; not used for WAV
    double StartSec = 0;     // as ExportFileRange takes them
    double EndSec = 0;
    double TargetLufs = 0;   // 0: samples unchanged; -23 or -16: normalised (as ExportFileRange takes it)
    const TRecInfo *Recording = nullptr;  // the catalogue row (borrowed); null: none known
    QString ProgramName;                  // "VornakReader2026", "vornak-tool"
};

// Exports AJob.Source's range to AJob.Dest and writes beside it the record (EvidenceRecordPath, UTF-8 JSON)
// and the checksum line (EvidenceChecksumPath). The clip, the record and the line are each written to a
// temporary file in the clip's folder and renamed into place only when all three are complete: record and
// line first, the clip last. So a failure (also of the record), a cancel or a killed process leaves no new
// clip and no record; an existing clip stays as it was. A clip name that is a symbolic link is followed (the
// file it names is replaced; record and line go beside the link); a clip that is the recording itself, or
// a link to it, is refused. The recording's checksum is taken by a second
// thread reading the whole file while the export runs (a range export seeks and reads only the range).
// True when the clip and its record are in place; ARecordPath then names the record. False otherwise, with
// AOutcome->Error naming the cause when one is known (a cancel leaves it empty). Throws EReaderError as
// ExportFileRange does for a WAV clip that cannot be written; nothing is left behind then either.
bool ExportWithRecord(const TEvidenceExport &AJob, const TCancelProgress &AProgress, TExportOutcome *AOutcome,
                      QString *ARecordPath);

// The outcome of checking a record.
struct TEvidenceCheck {
    enum class TClip { Ok, Altered };                  // Altered also for a clip that is gone
    enum class TSource { Ok, Altered, Unreachable };
    enum class TReexport { Identical, Differs, Skipped };
    TClip Clip = TClip::Altered;
    TSource Source = TSource::Unreachable;
    TReexport Reexport = TReexport::Skipped;
    QString SourcePath;    // the recording that was checked; empty when unreachable
    QString SkipReason;    // why the re-export was skipped (Dutch operator text)
    bool Sound() const
    {
        return Clip == TClip::Ok && Source != TSource::Altered && Reexport != TReexport::Differs;
    }
};

// Checks the record at ARecordPath: the clip (named by the record, in the record's folder) against its
// checksum; the recording, found at its recorded path or else by its file name in a day folder
// ARoot/yyyy/mm/dd/ (ARoot may be empty), against its checksum; and, when the recording is unaltered and
// the audio libraries are those the record names, exports the same range with the same settings into a
// temporary folder and compares it with the clip's recorded checksum. False, with AError (Dutch), when the
// record cannot be read or lacks what the check needs.
bool CheckEvidenceRecord(const QString &ARecordPath, const QString &ARoot, TEvidenceCheck &ACheck,
                         QString &AError);
