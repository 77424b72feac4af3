// Waveform envelope pass: the lowest and highest sample per point of the left and the right channel.
#pragma once

#include "uAudioTypes.h"
#include "uProgressReport.h"

#include <QtGlobal>
#include <vector>

class TDecodeStream;

// Most points an envelope has, whatever the recording's length.
constexpr int MaxEnvPoints = 50000;
// Bytes asked of the decoding stream per read (and the progress cadence: one report per read at most).
constexpr qint64 EnvelopeReadBytes = 262144;

// The figures of one pass, fixed from the decoded length before the first read.
struct TEnvelopeFigures {
    qint64 L = 0;       // decoded length in bytes
    qint64 F = 1;       // frames: L / (channels * 2), at least 1
    int EnvCount = 1;   // min(F, 50000), at least 1
    qint64 S = 1;       // frames per point: F / EnvCount rounded up, at least 1
};
TEnvelopeFigures EnvelopeFigures(qint64 L, int channels);

// Adds samples to the points of an envelope held elsewhere, from a given frame on. Channel 0 feeds the
// left pair, every other channel the right pair; the frame and channel counters run on across feeds, so
// a feed may end inside a frame. Frames beyond F land in the last point. Two accumulators that start at
// different frames may share one array as long as they touch different points.
class TEnvelopeAccumulator {
public:
    TEnvelopeAccumulator(const TEnvelopeFigures &figures, int channels, TEnvPoint *points, qint64 firstFrame = 0);
    // n bytes of interleaved 16-bit samples (n div 2 samples are used).
    void Feed(const void *data, qint64 n);

private:
    void FeedScalar(const int16_t *s, qint64 count);
    void FeedFrames(const int16_t *s, qint64 frames);

    TEnvelopeFigures FFig;
    int FChannels;
    TEnvPoint *FPoints;
    qint64 FFrame;
    int FChannel = 0;
};

// Builds an envelope from the bytes of successive reads (see TEnvelopeAccumulator). After each read the
// whole percentage of L read (ties to even) is reported when it changed; Finish adds the closing report
// of 100.
class TEnvelopeBuilder {
public:
    TEnvelopeBuilder(qint64 L, int channels, TProgressProc progress);
    TEnvelopeBuilder(const TEnvelopeBuilder &) = delete;  // its accumulator points into its own array
    TEnvelopeBuilder &operator=(const TEnvelopeBuilder &) = delete;
    // One read of n bytes (n div 2 samples are used).
    void Feed(const void *data, qint64 n);
    // Copies the left pair to the right for mono, reports 100 and hands the envelope over.
    TEnvArray Finish();
    const TEnvelopeFigures &Figures() const { return FFig; }

private:
    TEnvelopeFigures FFig;
    int FChannels;
    TPercentReporter FReporter;
    std::vector<TEnvPoint> FPoints;
    TEnvelopeAccumulator FAcc;
    qint64 FBytesRead = 0;
};

// The result of a pass over a file.
struct TEnvelopeResult {
    int Error = 0;          // audio error code when the file could not be opened; then EnvCount is 0
    int SampleRate = 0;
    int Channels = 1;       // at least 1
    double DurationSec = 0;
    TEnvArray Envelope;
    int EnvCount = 0;
    TEnvelopeFigures Figures;
};
// Most parts a pass decodes side by side.
constexpr int MaxEnvelopeParts = 8;
// Audio each part gets at least when the pass chooses its own number of parts: below that, opening and
// seeking another decoder costs more than it saves.
constexpr double MinEnvelopePartSec = 30.0;

// Opens a decoding stream on the path and runs the pass over all of it, in reads of 262144 bytes. No
// report at all when the file cannot be opened.
//
// A range count of 1 is the sequential pass: a read failure ends it like the end of the data, and the
// closing 100 follows the loop's reports (100 may come twice). A count N above 1 decodes N ranges side by
// side, each on its own decoding stream from an exact sample (after the seek's pre-roll) and each starting
// on a point boundary; the calling thread decodes the first range and makes every progress report. The
// envelope, length and figures are the sequential pass's, point for point; percentages (of all bytes
// decoded so far) rise strictly, never repeat, and 100 comes once, last. When any range's decoder refuses
// data or finds data missing (a damaged file), every range stops and the pass runs once more from the start in one range (its
// percentages rise on from where they stood), since a straight decode delivers what follows damage early.
// A count of 0 lets the pass choose: the hardware threads (at most 8), fewer so that each range has
// MinEnvelopePartSec of audio. Codecs that do not seek directly (see TDecodeStream::SeeksDirectly) always
// take one range, and no range is shorter than one point.
TEnvelopeResult BuildEnvelopeFromFile(const QString &path, const TProgressProc &progress, int parts = 1);
// The number of parts BuildEnvelopeFromFile uses for a stream that is open at its start.
int EnvelopePartCount(const TDecodeStream &stream, int parts);
