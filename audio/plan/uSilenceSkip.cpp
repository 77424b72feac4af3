// Silence skipping: the stretches of a recording that playback jumps over, found from its envelope.
#include "uSilenceSkip.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool Quiet(const TEnvPoint &APoint)
{
    // int arithmetic: -32768 has no 16-bit absolute value.
    const int peak = std::max(
        {std::abs(int(APoint.MnL)), std::abs(int(APoint.MxL)), std::abs(int(APoint.MnR)), std::abs(int(APoint.MxR))});
    return peak <= SilencePeakLimit;
}

} // namespace

std::vector<TSecRange> SilenceSkipRanges(const std::vector<TEnvPoint> &AEnvelope, double ASecPerPoint,
                                         double ADurationSec)
{
    std::vector<TSecRange> ranges;
    if (ASecPerPoint <= 0)
        return ranges;
    const size_t n = AEnvelope.size();
    size_t i = 0;
    while (i < n) {
        if (!Quiet(AEnvelope[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && Quiet(AEnvelope[j]))
            ++j;
        const double start = double(i) * ASecPerPoint;
        const double end = j == n ? ADurationSec : std::min(double(j) * ASecPerPoint, ADurationSec);
        if (end - start > SilenceMinSec)
            ranges.push_back({start + SilenceKeepSec, end - SilenceKeepSec});
        i = j;
    }
    return ranges;
}
