// Silence skipping: the stretches of a recording that playback jumps over, found from its envelope.
#include "uSilenceSkip.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool Quiet(const TEnvPoint &p)
{
    // int arithmetic: -32768 has no 16-bit absolute value.
    const int peak = std::max({std::abs(int(p.MnL)), std::abs(int(p.MxL)), std::abs(int(p.MnR)), std::abs(int(p.MxR))});
    return peak <= SilencePeakLimit;
}

} // namespace

std::vector<TSecRange> SilenceSkipRanges(const std::vector<TEnvPoint> &envelope, double secPerPoint,
                                         double durationSec)
{
    std::vector<TSecRange> ranges;
    if (secPerPoint <= 0)
        return ranges;
    const size_t n = envelope.size();
    size_t i = 0;
    while (i < n) {
        if (!Quiet(envelope[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && Quiet(envelope[j]))
            ++j;
        const double start = double(i) * secPerPoint;
        const double end = j == n ? durationSec : std::min(double(j) * secPerPoint, durationSec);
        if (end - start > SilenceMinSec)
            ranges.push_back({start + SilenceKeepSec, end - SilenceKeepSec});
        i = j;
    }
    return ranges;
}
