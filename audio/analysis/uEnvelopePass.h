// The envelope pass behind BuildEnvelopeFromFile with a place to watch where it spends CPU time: the seam
// a benchmark measures through. Product code calls BuildEnvelopeFromFile (uEnvelope.h), which passes no
// clock, so the pass reads no clock at all.
#pragma once

#include "uEnvelope.h"

// Told the CPU seconds of each thread of a pass. Opened runs on the calling thread after the stream was
// opened (with the count of its length), whether that succeeded or not; Parts once the pass knows how many
// threads decode; PartSpent from the thread of part APart (0: the calling thread) when its work is done,
// possibly more than once for the same part (the seconds add up). Parts run side by side, each calls only
// with its own index.
class TEnvelopePassClock {
public:
    virtual ~TEnvelopePassClock() = default;
    virtual void Opened(double ACpuSec) = 0;
    virtual void Parts(int ACount) = 0;
    virtual void PartSpent(int APart, double ACpuSec) = 0;
};

// BuildEnvelopeFromFile, telling AClock (when not null) what the pass spent.
TEnvelopeResult RunEnvelopePass(const QString &APath, const TProgressProc &AProgress, int AParts,
                                TEnvelopeWatch *AWatch, qint64 AKnownBytes, TEnvelopePassClock *AClock);
