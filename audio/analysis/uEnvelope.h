// Waveform envelope pass: the lowest and highest sample per point of the left and the right channel.
#pragma once

#include "uAudioTypes.h"
#include "uProgressReport.h"

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class TDecodeStream;

// Most points an envelope has, whatever the recording's length.
constexpr int MaxEnvPoints = 50000;
// Bytes asked of the decoding stream per read (and the progress cadence: one report per read at most).
constexpr qint64 EnvelopeReadBytes = 262144;

// The figures of one pass, fixed from the decoded length before the first read.
struct TEnvelopeFigures {
    qint64 LengthBytes = 0;     // decoded length in bytes
    qint64 Frames = 1;          // LengthBytes / (channels * 2), at least 1
    int EnvCount = 1;           // min(Frames, 50000), at least 1
    qint64 FramesPerPoint = 1;  // Frames / EnvCount rounded up, at least 1
};
TEnvelopeFigures EnvelopeFigures(qint64 ALengthBytes, int AChannels);

// Adds samples to the points of an envelope held elsewhere, from a given frame on. Channel 0 feeds the
// left pair, every other channel the right pair; the frame and channel counters run on across feeds, so
// a feed may end inside a frame. Frames beyond AFigures.Frames land in the last point. Two accumulators
// that start at different frames may share one array as long as they touch different points.
class TEnvelopeAccumulator {
public:
    TEnvelopeAccumulator(const TEnvelopeFigures &AFigures, int AChannels, TEnvPoint *APoints, qint64 AFirstFrame = 0);
    // AByteCount bytes of interleaved 16-bit samples (AByteCount div 2 samples are used).
    void Feed(const void *AData, qint64 AByteCount);

private:
    void FeedScalar(const int16_t *ASamples, qint64 ACount);
    void FeedFrames(const int16_t *ASamples, qint64 AFrames);

    TEnvelopeFigures FFig;
    int FChannels;
    TEnvPoint *FPoints;
    qint64 FFrame;
    int FChannel = 0;
};

// Builds an envelope from the bytes of successive reads (see TEnvelopeAccumulator). After each read the
// whole percentage of ALengthBytes read (ties to even) is reported when it changed; Finish adds the closing report
// of 100.
class TEnvelopeBuilder {
public:
    TEnvelopeBuilder(qint64 ALengthBytes, int AChannels, TProgressProc AProgress);
    TEnvelopeBuilder(const TEnvelopeBuilder &) = delete;  // its accumulator points into its own array
    TEnvelopeBuilder &operator=(const TEnvelopeBuilder &) = delete;
    // One read of AByteCount bytes (AByteCount div 2 samples are used).
    void Feed(const void *AData, qint64 AByteCount);
    // Copies the left pair to the right for mono, reports 100 and hands the envelope over.
    TEnvArray Finish();
    const TEnvelopeFigures &Figures() const { return FFig; }
    const TEnvPoint *Points() const { return FPoints.data(); }  // until Finish

private:
    TEnvelopeFigures FFig;
    int FChannels;
    TPercentReporter FReporter;
    std::vector<TEnvPoint> FPoints;
    TEnvelopeAccumulator FAcc;
    qint64 FBytesRead = 0;
};

// What a pass running on another thread shares with the thread that shows the envelope as it grows: the
// points finished so far, a request to stop and a pause. Made by the caller and handed to one pass.
class TEnvelopeWatch {
public:
    // Any thread. The pass stops after the read in hand and returns with Cancelled set.
    void Cancel();
    bool Cancelled() const { return FCancel.load(); }
    // Any thread. A paused pass waits between two reads until it is resumed or cancelled.
    void SetPaused(bool AOn);

    // The showing thread: APoints becomes the envelope as far as it is finished (EnvCount points, the ones
    // not finished yet 0) and AKnown marks the finished ones with 1. Returns the number of finished points,
    // -1 (and leaves both alone) before the pass began and after it ended: its result is then the pass's
    // own. A pass that starts over (damage found part-way) finishes its points anew, so the count may fall.
    int TakeFinished(std::vector<TEnvPoint> &APoints, std::vector<char> &AKnown);

    // ---- Called by the pass.
    // Points into the pass's own array; part k fills the frames [AStarts[k], AStarts[k + 1]) (the last
    // entry -1: to the end of the data). A second Begin (starting over) forgets what the first published.
    void Begin(const TEnvPoint *APoints, const TEnvelopeFigures &AFig, int AChannels,
               const std::vector<qint64> &AStarts);
    // Part APart has written every frame before AFrame (a point is finished once its last frame is).
    void Reached(int APart, qint64 AFrame);
    void End();  // before the pass's array is handed over
    // Between two reads: waits while paused; true when the pass is to stop.
    bool Checkpoint();

private:
    std::atomic<bool> FCancel{false};
    std::mutex FMutex;
    std::condition_variable FResume;
    bool FPaused = false;
    const TEnvPoint *FPoints = nullptr;  // null outside Begin..End
    TEnvelopeFigures FFig;
    int FChannels = 1;
    std::vector<qint64> FStarts;
    std::unique_ptr<std::atomic<qint64>[]> FReached;
};

// The result of a pass over a file.
struct TEnvelopeResult {
    int Error = 0;          // audio error code when the file could not be opened; then EnvCount is 0
    bool Cancelled = false; // stopped through its watch: the envelope is incomplete and must not be kept
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
//
// With a watch the pass publishes its finished points there, can be paused and cancelled, and splits the
// file into more ranges than it runs at once (four per thread, each at least MinEnvelopePartSec), taken in
// order from the start, so that the envelope fills in from the start. AKnownBytes >= 0 is the exact decoded
// length when the caller already knows it for this state of the file (saves counting it again).
TEnvelopeResult BuildEnvelopeFromFile(const QString &APath, const TProgressProc &AProgress, int AParts = 1,
                                      TEnvelopeWatch *AWatch = nullptr, qint64 AKnownBytes = -1);
// The number of parts BuildEnvelopeFromFile uses for a stream that is open at its start.
int EnvelopePartCount(const TDecodeStream &AStream, int AParts);
