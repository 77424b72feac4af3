// The one place that turns work done into whole percentages and reports them to a progress callback.
#pragma once

#include "uAudioTypes.h"

#include <QtGlobal>

#include <atomic>

// How work done becomes a whole percentage of the total.
enum class TPercentRounding {
    HalfEven,  // done / total × 100 rounded to the nearest, halves to the even neighbour; may pass 100
    Down,      // done × 100 / total rounded down, never above 100
};

// Reports each rise of the whole percentage of done in ATotal; a total of 0 or less reports nothing
// before Finish. With AOnlyBelow100 a percentage of 100 or more is never reported by Report: the closing
// 100 is Finish's. One owner; a caller on several threads serialises its calls.
class TPercentReporter {
public:
    TPercentReporter(const TCancelProgress &AReport, qint64 ATotal, TPercentRounding ARounding,
                     bool AOnlyBelow100 = false);
    TPercentReporter(const TProgressProc &AReport, qint64 ATotal, TPercentRounding ARounding,
                     bool AOnlyBelow100 = false);

    // The percentage of ADone, reported when it rose above the last one reported. False when the report
    // answered false (the operator cancelled); true otherwise, also when nothing was reported.
    bool Report(qint64 ADone);
    // Reports 100: with ARepeat also when 100 was the last report, else only when it was not.
    void Finish(bool ARepeat);
    // The whole percentage of ADone as this reporter's rounding makes it.
    int PercentOf(qint64 ADone) const;

private:
    TCancelProgress FReport;
    qint64 FTotal;
    TPercentRounding FRounding;
    bool FOnlyBelow100;
    int FLast = -1;
};

// A progress callback whose stop is remembered: once the callback answered false, or the cancel flag (when
// given; any thread may set it) was seen set, Stopped() is true and Report answers false without calling
// the callback again. One owner; a caller on several threads serialises its calls.
class TCancelLatch {
public:
    explicit TCancelLatch(const TCancelProgress &AReport = {}, const std::atomic<bool> *ACancel = nullptr);

    // Passes APercent to the callback; false once stopped.
    bool Report(int APercent);
    // True once stopped (also when the flag was set since the last report).
    bool Stopped();
    // Report as a callback, valid while this latch lives; empty when there is neither a callback nor a flag,
    // so that work with no one to report to skips its reports.
    TCancelProgress Callback();

private:
    TCancelProgress FReport;
    const std::atomic<bool> *FCancel;
    bool FStopped = false;
};
