// Waveform envelope and progress callback types shared by the audio engine and the waveform view.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One envelope point: lowest and highest 16-bit sample of the left and of the right channel
// over a run of consecutive frames. Mono files carry the same pair in both channels.
struct TEnvPoint {
    int16_t MnL = 0;
    int16_t MxL = 0;
    int16_t MnR = 0;
    int16_t MxR = 0;
};

// An envelope, at most 50000 points. Once filled it never changes, so the view and the engine
// share it: a new load makes a new array rather than touching this one.
using TEnvArray = std::shared_ptr<const std::vector<TEnvPoint>>;

// One look at the background analysis of the loaded recording (the engine's PollAnalysis).
struct TAnalysisPoll {
    bool Running = false;         // still analysing after this poll
    int Percent = 100;            // of the recording's decoded bytes
    bool EnvelopeChanged = false; // Envelope() holds more (or, at the end, the final) points since the last poll
};

// Percentage 0..100 done; no result. May be empty (no reports).
using TProgressProc = std::function<void(int APercent)>;
// Percentage 0..100 done; returns true to go on, false to stop. May be empty.
using TCancelProgress = std::function<bool(int APercent)>;

// Which channel playback lets through: both as recorded, or one channel alone on every output
// (a mono recording sounds the same in all three).
enum class TChannelMode { cmBoth, cmLeft, cmRight };

// The speeds the reader offers, slowest first; 1 is the recording's own speed. Playback accepts any
// speed from the first to the last and keeps the pitch.
constexpr double PlaySpeedSteps[] = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0};
constexpr double MinPlaySpeed = 0.5;
constexpr double MaxPlaySpeed = 2.0;
