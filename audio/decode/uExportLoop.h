// The read loop of a range export: blocks from a PCM source to a writer, with percentage reports.
#pragma once

#include "uAudioTypes.h"
#include "uProgressReport.h"

#include <QtGlobal>
#include <vector>

// Size of one block read from the decoding stream.
constexpr qint64 ExportBlockBytes = 262144;

// Reads up to AByteCount bytes in blocks of at most ExportBlockBytes: ARead(buffer, max) returns the
// bytes delivered (0 or less ends the loop), ASink(buffer, count) takes them and returns false to stop (a
// write failure). After each block the whole percentage done / AByteCount × 100 (rounded half to even) is
// reported when it changed since the last report; a report answered with false stops the loop. No closing
// 100 is added. Returns the bytes handed to the sink, including a block the sink refused.
template <class TRead, class TSink>
qint64 ExportReadLoop(TRead &&ARead, qint64 AByteCount, const TCancelProgress &AProgress, TSink &&ASink)
{
    std::vector<char> buffer(static_cast<size_t>(ExportBlockBytes));
    qint64 remaining = AByteCount;
    qint64 done = 0;
    TPercentReporter reporter(AProgress, AByteCount, TPercentRounding::HalfEven);
    while (remaining > 0) {
        const qint64 n = ARead(buffer.data(), qMin(remaining, ExportBlockBytes));
        if (n <= 0)
            break;
        const bool written = ASink(static_cast<const char *>(buffer.data()), n);
        done += n;
        remaining -= n;
        if (!written)
            break;
        if (!reporter.Report(done))
            break;
    }
    return done;
}
