// Range export of a recording file: the range decoded afresh, then written as WAV or encoded.
#pragma once

#include "uAudioTypes.h"
#include "uReaderTypes.h"

#include <QString>

// Writes ASource, or [AStartSec, AEndSec) of it, to ADest. AStartSec <= 0 is the start; AEndSec <= 0 or at
// or beyond ADurationSec (the source's length in seconds) is the end. Refuses (false) a target that is the
// source itself, an empty range and a WAV range beyond 4 GiB. True when any audio went through (also when
// cancelled). Throws EReaderError for a WAV target that cannot be created or written.
// A source whose decoding ends before the range's end (damaged or cut off) is written only as far as it
// decodes, with no silence added (a WAV header counts exactly the data written); the export still succeeds,
// and AOutcome (when given) says how much it holds.
struct TExportOutcome {
    double Seconds = 0;       // audio read through to the writer; less than the range when cut short
    bool EndedEarly = false;  // the decoding ended before the range's end (a cancel does not set it)
};
bool ExportFileRange(const QString &ASource, double ADurationSec, const QString &ADest, TAudioFormat AFmt,
                     int ABitrate, double AStartSec, double AEndSec, const TCancelProgress &AProgress,
                     TExportOutcome *AOutcome = nullptr);
