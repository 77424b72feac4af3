// Timing of the waveform envelope pass for the benchmarks, through the pass's clock seam.
#include "uEnvelopeTiming.h"

#include "uEnvelopePass.h"

namespace {

// Notes what the pass tells into a TEnvelopePassTimes; each part writes only its own slot.
class TTimesClock : public TEnvelopePassClock {
public:
    explicit TTimesClock(TEnvelopePassTimes &ATimes) : FTimes(ATimes) {}
    void Opened(double ACpuSec) override { FTimes.OpenCpu = ACpuSec; }
    void Parts(int ACount) override { FTimes.PartCpu.assign(static_cast<size_t>(ACount), 0.0); }
    void PartSpent(int APart, double ACpuSec) override { FTimes.PartCpu[static_cast<size_t>(APart)] += ACpuSec; }

private:
    TEnvelopePassTimes &FTimes;
};

} // namespace

TEnvelopeResult BuildEnvelopeFromFileTimed(const QString &APath, const TProgressProc &AProgress, int AParts,
                                           TEnvelopePassTimes *ATimes, TEnvelopeWatch *AWatch, qint64 AKnownBytes)
{
    if (!ATimes)
        return RunEnvelopePass(APath, AProgress, AParts, AWatch, AKnownBytes, nullptr);
    *ATimes = TEnvelopePassTimes{};
    TTimesClock clock(*ATimes);
    return RunEnvelopePass(APath, AProgress, AParts, AWatch, AKnownBytes, &clock);
}
