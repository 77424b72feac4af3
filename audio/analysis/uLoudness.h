// Signal measurement of a recording range: EBU R128 loudness and peaks, clipping runs and silent stretches.
#pragma once

#include "uAudioTypes.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <vector>

// A run of at least ClipRunMinSamples consecutive full-scale samples (32767 or -32768) in one channel.
constexpr int ClipRunMinSamples = 3;
// The positions kept of clipping runs and of silent stretches; runs beyond these are counted, not listed,
// so the result stays small whatever the recording holds.
constexpr int MaxListedRuns = 10000;
// Silence defaults: quieter than -50 dBFS for at least 2 s (the reader's own choice).
constexpr double DefaultSilenceDb = -50.0;
constexpr double DefaultSilenceMinSec = 2.0;

// A clipping run: where it starts (seconds from the start of the recording) and in which channel (0 first).
struct TClipRun {
    double StartSec = 0;
    int Channel = 0;
};

// A silent stretch in seconds from the start of the recording, StartSec < EndSec.
struct TSilentStretch {
    double StartSec = 0;
    double EndSec = 0;
};

struct TLoudnessOptions {
    // A frame is quiet while the magnitude of every channel's sample stays below 10^(SilenceDb/20) full scale.
    double SilenceDb = DefaultSilenceDb;
    // Shorter quiet stretches are no silence (seconds, at least one frame).
    double SilenceMinSec = DefaultSilenceMinSec;
    // The loudness work on a second thread beside the caller's (decode, scans, true peak); the figures are the
    // same either way. Off: everything on the caller's thread. A measurement in parts runs each part on one
    // thread.
    bool Parallel = true;
    // MeasureFileRange: how many parts of the range are measured side by side, each on its own decoder and
    // thread. 0: one per core (at most MaxLoudnessParts, each part at least MinLoudnessPartSec); 1: one pass;
    // N: at most N (each part at least MinAskedLoudnessPartSec). See LoudnessPartStarts for when a range is
    // measured in one pass whatever is asked.
    int Parts = 0;
};

// Most parts a measurement runs side by side.
constexpr int MaxLoudnessParts = 8;
// Audio each part gets at least when the measurement chooses its own number of parts (opening and seeking
// another decoder, and the 3 s each part reads before its start, cost more than they save below it), and
// when a number is asked.
constexpr double MinLoudnessPartSec = 30.0;
constexpr double MinAskedLoudnessPartSec = 5.0;

// The figures of one measurement. Loudness in LUFS and peaks in dB are -infinity for digital silence (and
// the loudness figures also for a range shorter than their window: 400 ms momentary, 3 s short-term).
// The integrated loudness and the loudness range follow ITU-R BS.1770-4 / EBU R128 (gated, through
// libebur128 in its constant-memory histogram mode); the maxima of momentary and short-term loudness are
// read every 100 ms, as the EBU meters do.
struct TLoudnessResult {
    int Error = 0;            // audio error code when the file could not be opened or read; figures then empty
    bool Cancelled = false;   // the progress callback said stop; the figures cover what was read
    int Parts = 1;            // the parts it was measured in (1: one pass, also after damage made it one)
    int SampleRate = 0;
    int Channels = 0;
    double StartSec = 0;      // the range measured, in seconds from the start of the recording
    double EndSec = 0;
    double IntegratedLufs = 0;
    double RangeLu = 0;
    double MomentaryMaxLufs = 0;
    double ShorttermMaxLufs = 0;
    double TruePeakDbtp = 0;
    double SamplePeakDbfs = 0;
    qint64 ClipRunCount = 0;             // every run; ClipRuns lists the first MaxListedRuns in time order
    std::vector<TClipRun> ClipRuns;
    qint64 SilentStretchCount = 0;       // every stretch; SilentStretches lists the first MaxListedRuns
    std::vector<TSilentStretch> SilentStretches;
    double SilentSeconds = 0;            // all stretches together
};

// Measures interleaved 16-bit PCM fed in any pieces (a piece may end inside a frame). Memory does not grow
// with the length fed. Not thread-safe: one thread feeds and finishes (with AOptions.Parallel the meter runs
// a worker thread of its own, joined in Finish or the destructor); one meter per measurement.
class TLoudnessMeter {
public:
    // AStartSec: the recording time of the first frame fed, added to every position reported.
    TLoudnessMeter(int ASampleRate, int AChannels, const TLoudnessOptions &AOptions, double AStartSec = 0);
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter &) = delete;
    TLoudnessMeter &operator=(const TLoudnessMeter &) = delete;
    // False when libebur128 refuses the format (no channels, rate out of its range).
    bool IsValid() const;
    void Feed(const void *AData, qint64 ABytes);
    // The figures of all frames fed; the meter may not be fed after this.
    TLoudnessResult Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The first frame of each part of a range of AFrames frames at ARate, counted from the range's start (the first
// entry is 0), for AParts asked as in TLoudnessOptions::Parts and AThreads hardware threads. Parts start on
// whole seconds of the range, so that the 100 ms blocks and the 1 s steps of the short-term loudness line up
// with one pass; a rate that is no multiple of 10 has no such grid and is measured in one pass ({0}).
std::vector<qint64> LoudnessPartStarts(qint64 AFrames, int ARate, int AParts, int AThreads);

// Decodes [AStartSec, AEndSec) of the file once and measures it. AStartSec <= 0 is the start; AEndSec <= 0 or
// beyond the decoded length is the end. Progress as the range export reports it (whole percent of the range
// read, when it changed; a false answer stops and sets Cancelled). A recording that decodes shorter than its
// length is measured as far as it decodes (no silence is made up). Error aeFileOpen / aeFileForm / aeCodec
// when it cannot be opened; an empty range gives the figures of nothing (-infinity, no runs).
// In parts (AOptions.Parts; codecs that seek directly only, see TDecodeStream::SeeksDirectly) each part reads
// the 3 s before its start as well, so that every window of 400 ms and 3 s is measured once, whole, in the
// part where it starts; runs and stretches across a boundary are joined. The figures are those of one pass
// (integrated loudness and loudness range within 0.01 LU: the first block of a part starts its loudness filter
// afresh). A part that meets damage (see TDecodeStream::Damaged) makes the whole range measured again in one
// pass; progress then goes on rising from where it stood.
TLoudnessResult MeasureFileRange(const QString &APath, double AStartSec, double AEndSec,
                                 const TLoudnessOptions &AOptions, const TCancelProgress &AProgress = {});
