// Silence skipping: the stretches of a recording that playback jumps over, found from its envelope.
#pragma once

#include "uAudioTypes.h"

#include <vector>

// A stretch of the recording in seconds from its start, StartSec < EndSec.
struct TSecRange {
    double StartSec = 0;
    double EndSec = 0;
    bool operator==(const TSecRange &AOther) const { return StartSec == AOther.StartSec && EndSec == AOther.EndSec; }
};

// A stretch is quiet while every channel stays below -40 dBFS (|sample| <= 327 of 32768); a quiet
// stretch longer than 2 s is skipped except for 0.5 s of quiet at each side.
constexpr int SilencePeakLimit = 327;
constexpr double SilenceMinSec = 2.0;
constexpr double SilenceKeepSec = 0.5;

// The ranges to skip, ascending and apart, from an envelope whose point i covers the seconds
// [i * ASecPerPoint, (i + 1) * ASecPerPoint), the last point ending at ADurationSec. A point counts as quiet
// when its four extremes do; a run of quiet points of more than SilenceMinSec gives the range from its
// start + SilenceKeepSec to its end - SilenceKeepSec (also at the start and at the end of the recording).
std::vector<TSecRange> SilenceSkipRanges(const std::vector<TEnvPoint> &AEnvelope, double ASecPerPoint,
                                         double ADurationSec);
