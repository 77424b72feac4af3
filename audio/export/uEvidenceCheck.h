// The check of an exported clip against its record: the clip's and the recording's checksums, the checksum
// line beside the record, and a re-export of the same range through the export pipeline.
#pragma once

#include <QString>

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
    // Nothing found altered or different (an unreachable recording or a skipped re-export is neither).
    bool Sound() const
    {
        return Clip == TClip::Ok && Source != TSource::Altered && Reexport != TReexport::Differs;
    }
    // The clip is proven: sound, and the re-export is identical.
    bool Proven() const { return Sound() && Reexport == TReexport::Identical; }
};

// Checks the record at ARecordPath:
// - the clip (named by the record, in the record's folder) against its checksum, and the checksum line beside
//   it (EvidenceChecksumPath of the clip, when there is one) against the record: a line naming another file
//   or another checksum makes the clip Altered;
// - the recording, found at its recorded path or else by its file name in a day folder ARoot/yyyy/mm/dd/
//   (ARoot may be empty), against its checksum;
// - when the recording is unaltered and the audio libraries are those the record names, the same range
//   exported again through the export pipeline (its length learnt from the decoder) with the same settings
//   into a temporary folder, compared with the clip's recorded checksum. A re-export that cannot be made is
//   Skipped with its reason.
// False, with AError (Dutch), when the record cannot be read or lacks what the check needs.
bool CheckEvidenceRecord(const QString &ARecordPath, const QString &ARoot, TEvidenceCheck &ACheck,
                         QString &AError);
