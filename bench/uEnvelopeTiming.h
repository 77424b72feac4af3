// Timing of the waveform envelope pass, for the benchmarks only: no product code reads it. It watches the
// pass through its clock seam (uEnvelopePass.h).
#pragma once

#include "uEnvelope.h"

#include <vector>

// Where a pass spent its CPU time, per thread (seconds): opening (with the length count) comes first on the
// calling thread; the parts then run side by side. On an idle machine with a core per part the pass takes
// about OpenCpu + the largest PartCpu.
struct TEnvelopePassTimes {
    double OpenCpu = 0;
    std::vector<double> PartCpu;
};

// BuildEnvelopeFromFile that also fills *times (when not null) with what the pass spent.
TEnvelopeResult BuildEnvelopeFromFileTimed(const QString &APath, const TProgressProc &AProgress, int AParts,
                                           TEnvelopePassTimes *ATimes, TEnvelopeWatch *AWatch = nullptr,
                                           qint64 AKnownBytes = -1);
