// The one place that turns work done into whole percentages and reports them to a progress callback.
#include "uProgressReport.h"

#include <algorithm>
#include <cmath>

TPercentReporter::TPercentReporter(const TCancelProgress &AReport, qint64 ATotal, TPercentRounding ARounding,
                                   bool AOnlyBelow100)
    : FReport(AReport), FTotal(ATotal), FRounding(ARounding), FOnlyBelow100(AOnlyBelow100)
{
}

TPercentReporter::TPercentReporter(const TProgressProc &AReport, qint64 ATotal, TPercentRounding ARounding,
                                   bool AOnlyBelow100)
    : FTotal(ATotal), FRounding(ARounding), FOnlyBelow100(AOnlyBelow100)
{
    if (AReport)
        FReport = [AReport](int APercent) {
            AReport(APercent);
            return true;
        };
}

int TPercentReporter::PercentOf(qint64 ADone) const
{
    if (FTotal <= 0)
        return 0;
    if (FRounding == TPercentRounding::Down)
        return int(std::min<qint64>(ADone * 100 / FTotal, 100));
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    return static_cast<int>(std::nearbyint(static_cast<double>(ADone) / FTotal * 100.0));
}

bool TPercentReporter::Report(qint64 ADone)
{
    if (!FReport || FTotal <= 0)
        return true;
    const int percent = PercentOf(ADone);
    if (percent <= FLast || (FOnlyBelow100 && percent >= 100))
        return true;
    FLast = percent;
    return FReport(percent);
}

void TPercentReporter::Finish(bool ARepeat)
{
    if (!FReport || (!ARepeat && FLast == 100))
        return;
    FLast = 100;
    FReport(100);
}

TCancelLatch::TCancelLatch(const TCancelProgress &AReport, const std::atomic<bool> *ACancel)
    : FReport(AReport), FCancel(ACancel)
{
}

bool TCancelLatch::Report(int APercent)
{
    if (Stopped())
        return false;
    if (FReport)
        FStopped = !FReport(APercent);
    return !FStopped;
}

bool TCancelLatch::Stopped()
{
    if (!FStopped && FCancel && FCancel->load(std::memory_order_relaxed))
        FStopped = true;
    return FStopped;
}

TCancelProgress TCancelLatch::Callback()
{
    if (!FReport && !FCancel)
        return {};
    return [this](int APercent) { return Report(APercent); };
}
