// Export of found recordings, whole, through the reader's own export, each into a folder under its own
// file-name stem: an existing file is never overwritten and a failed export leaves no file behind.
#pragma once

#include "uAudioTypes.h"
#include "uReaderTypes.h"

#include <QString>

enum class TFoundResult { Exported, Skipped, Failed };
// "exported", "skipped", "failed"
const char *FoundResultName(TFoundResult AOutcome);

struct TFoundExport {
    TFoundResult Result = TFoundResult::Failed;
    QString Target;  // OutDir/<stem><format's extension>; empty when the file name gives no stem
    QString Detail;  // the source for an export, otherwise the reason
};

// The target of a recording: OutDir/<file name without its last extension><format's extension>, or empty
// when the file name is empty, holds a '/', or leaves no stem (".", "..", ".mp3").
QString ExportTargetFor(const TRecInfo &ARI, const QString &AOutDir, TAudioFormat AFmt);

// Resolves the recording's file as the reader does (stored path, else Root/yyyy/mm/dd/<file name>) and
// exports all of it through the export pipeline (no waveform pass, nothing in the envelope cache) with the
// rule NewFileOnly: a hidden temporary file in OutDir (the export's short name, whatever the target's length)
// is flushed to disk and renamed onto the target only if no file of that name exists by then, and removed
// otherwise. AProgress as the pipeline's, and asked once (with 0) before the export starts; an export it stops
// counts as failed. OutDir must exist.
TFoundExport ExportFoundRecording(const TRecInfo &ARI, const QString &ARoot, const QString &AOutDir, TAudioFormat AFmt,
                                  int ABitrate, const TCancelProgress &AProgress = {});

// Removes the temporaries that killed runs left in OutDir (this export's own names, and those of earlier
// versions, ".<target name>.<pid>-<n>.part") once they are StaleTemporarySeconds old; a younger one may
// belong to a run still going. Returns how many were removed. Called once per run, before the first export.
int RemoveFoundLeftovers(const QString &AOutDir);
