// Waveform envelope pass: the lowest and highest sample per point of the left and the right channel.
#pragma once

#include "uAudioTypes.h"

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

// Builds an envelope from the bytes of successive reads. Channel 0 feeds the left pair, every other
// channel the right pair; the frame and channel counters run on across reads, so a read may end inside
// a frame. Frames beyond F land in the last point. After each read the whole percentage of L read
// (ties to even) is reported when it changed; Finish adds the closing report of 100.
class TEnvelopeBuilder {
public:
    TEnvelopeBuilder(qint64 L, int channels, TProgressProc progress);
    // One read of n bytes (n div 2 samples are used).
    void Feed(const void *data, qint64 n);
    // Copies the left pair to the right for mono, reports 100 and hands the envelope over.
    TEnvArray Finish();
    const TEnvelopeFigures &Figures() const { return FFig; }

private:
    void FeedScalar(const int16_t *s, qint64 count);
    void FeedFrames(const int16_t *s, qint64 frames);

    TEnvelopeFigures FFig;
    int FChannels;
    TProgressProc FProgress;
    std::vector<TEnvPoint> FPoints;
    qint64 FBytesRead = 0;
    qint64 FFrame = 0;
    int FChannel = 0;
    int FLastPercent = -1;
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
// Opens a decoding stream on the path and runs the pass over all of it, in reads of 262144 bytes.
// A read failure ends the pass like the end of the data. No report at all when the file cannot be opened.
TEnvelopeResult BuildEnvelopeFromFile(const QString &path, const TProgressProc &progress);
