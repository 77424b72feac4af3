// The playback plan: seconds <-> frames, the listening choices, the jumps (loop, skipped silence) and the
// map from the output's position to the recording's, as data and arithmetic (no device, no thread).
#pragma once

#include "uAudioTypes.h"
#include "uSilenceSkip.h"

#include <QtGlobal>
#include <deque>
#include <utility>
#include <vector>

// The one pair of conversions between seconds and frames of a recording at ARate frames per second.
// SecToFrames gives whole frames, truncated (a small allowance keeps 12.5 s from becoming one frame less
// through rounding of the product); a time that is not positive (or NaN) and a rate <= 0 give 0.
qint64 SecToFrames(double ASec, int ARate);
// AFrames may hold a fraction (a byte count over the frame size); a rate <= 0 gives 0.
double FramesToSec(double AFrames, int ARate);

// The listener's choices. The engine holds them (they hold for every recording until changed) and hands
// them whole to its playback stream.
struct TListening {
    double Speed = 1.0;                           // MinPlaySpeed..MaxPlaySpeed; the pitch is kept
    TChannelMode Channel = TChannelMode::cmBoth;
    double LoopStartSec = -1;                     // loop of [LoopStartSec, LoopEndSec); -1 for both = none
    double LoopEndSec = -1;
    bool SkipSilence = false;                     // jump over the recording's silence ranges
};

// One reading of the transport, taken together.
struct TPlaybackSnapshot {
    bool Playing = false;
    bool Paused = false;
    double PositionSec = 0;  // the position being heard, in the recording's seconds
    int Underruns = 0;       // times the output ran dry before the recording's end, since it was opened
};

// One read the plan asks for: Frames frames of the recording from frame From on.
struct TPlannedRead {
    qint64 From = 0;
    qint64 Frames = 0;
};

// The plan of one recording's playback, in recording frames. A session is one run of the output: input
// frames are taken from the recording (PlanRead, Fed), possibly stretched in time, and written to the output
// (SetWritten); the plan remembers where each run of input came from, so that the output frame being heard
// (from the output's processed time) maps back to the recording frame it carries. Between sessions the
// position is a plain frame (Place). Not thread-safe: the playback thread owns it.
class TPlaybackPlan {
public:
    // A recording of ALengthFrames frames at ARate Hz; ASilence are its quiet stretches (SilenceSkipRanges),
    // skipped only while the choices say so. The choices start as TListening's defaults.
    explicit TPlaybackPlan(int ARate = 0, qint64 ALengthFrames = 0, const std::vector<TSecRange> &ASilence = {});

    int Rate() const { return FRate; }
    qint64 LengthFrames() const { return FLength; }
    qint64 FramesOf(double ASec) const { return SecToFrames(ASec, FRate); }
    double SecondsOf(qint64 AFrames) const { return FramesToSec(double(AFrames), FRate); }

    // ---- Choices.
    // What a change of choices asks of a running session.
    enum class TChange {
        None,     // nothing that playback uses changed
        Jumps,    // the loop or the skipped ranges changed: restart only when AheadChanged says so
        Restart,  // the speed or the channel changed: what was made ahead is wrong, play on from the heard frame
    };
    // Speed is clamped to MinPlaySpeed..MaxPlaySpeed. The loop's end past the recording counts as its end;
    // a start < 0, or an end (so clamped) <= the start, is no loop. The silence is skipped, within a loop,
    // except for a range that reaches the loop's end (while playback has not passed it), so the loop is never
    // jumped out of.
    TChange SetListening(const TListening &AListening);
    const TListening &Listening() const { return FListening; }
    bool LoopActive() const { return FLoopStart >= 0 && FLoopEnd > FLoopStart; }
    qint64 LoopStartFrame() const { return FLoopStart; }  // -1 = no loop
    qint64 LoopEndFrame() const { return FLoopEnd; }      // -1 = no loop
    // The ranges jumped over, [first, second) frames, ascending; empty while SkipSilence is off.
    const std::vector<std::pair<qint64, qint64>> &SkipFrames() const { return FSkips; }
    // Replaces the recording's quiet stretches (while its analysis proceeds, the ones found so far).
    // Returns Jumps when the ranges skipped now differ, else None.
    TChange SetSilence(const std::vector<TSecRange> &ASilence);

    // ---- Jumps.
    // Where playback standing at APos continues: -1 = right here. At the loop's end: the loop's start;
    // inside a skipped range: its end.
    qint64 JumpTarget(qint64 APos) const;
    // The next frame after APos at which a jump can happen (INT64 max when none).
    qint64 NextBoundary(qint64 APos) const;

    // ---- Session.
    // Starts a session at recording frame AFrom at the current speed; nothing fed or written yet.
    void StartSession(qint64 AFrom);
    // Ends it: the position becomes the frame being heard at AProcessedUSecs of output.
    void EndSession(qint64 AProcessedUSecs);
    bool InSession() const { return FInSession; }
    // The next read when the recording's stream stands at APos: jumps are followed (a loop start inside a
    // skipped range makes two in a row; after four the data is read as it comes, so a wrong setting cannot
    // hang playback) and the read stops at the next boundary, at most AMaxFrames. A jump is remembered for
    // the map from here on; the caller moves its stream to From when it differs from APos.
    TPlannedRead PlanRead(qint64 APos, qint64 AMaxFrames);
    void Fed(qint64 AFrames);                   // input frames taken by the planned read
    void SetWritten(qint64 AFrames);            // output frames written to the output so far in the session
    void SourceDone(qint64 AEndFrame);          // the recording ended at AEndFrame (once; later calls keep it)
    bool IsSourceDone() const { return FSourceDone; }
    qint64 EndFrame() const { return FEndFrame; }
    qint64 InFed() const { return FInFed; }
    qint64 Written() const { return FWritten; }
    // Output frames heard: the output's processed time in whole frames, at most what was written (the output
    // buffered beyond it is not heard yet).
    qint64 HeardOut(qint64 AProcessedUSecs) const;
    // Written but not yet heard.
    qint64 Ahead(qint64 AProcessedUSecs) const { return FWritten - HeardOut(AProcessedUSecs); }
    // The recording frame that output frame AOut of the session carries: the time stretch delivers input
    // frame AOut * speed at output frame AOut (it has no leading delay), clamped to the input fed.
    qint64 SourceOfOutput(qint64 AOut) const;
    // The recording frame being heard: in a session, the source of the output heard (the end of the
    // recording once it all was heard); else the placed position.
    qint64 Position(qint64 AProcessedUSecs) const;
    // Outside a session: the position, clamped to 0..LengthFrames. A session starts from it.
    void Place(qint64 AFrame);
    qint64 Placed() const { return FPlaced; }
    // Forgets where input came from before what is being heard (keeps the map short).
    void Prune(qint64 AProcessedUSecs);
    // After a change of loop or skips: true when the output made ahead of AHeard, read up to AReadFrame,
    // could now be wrong (it holds a jump, or passes a point where a jump now is).
    bool AheadChanged(qint64 AHeard, qint64 AReadFrame) const;

private:
    // From input frame InFrame of a session on, the input comes from recording frame SrcFrame on.
    struct TSegment {
        qint64 InFrame;
        qint64 SrcFrame;
    };
    bool SkipApplies(qint64 APos, const std::pair<qint64, qint64> &ARange) const;
    qint64 InputOfOutput(qint64 AOut) const;

    int FRate = 0;
    qint64 FLength = 0;
    std::vector<std::pair<qint64, qint64>> FSilence;  // the recording's quiet stretches in frames
    TListening FListening;
    qint64 FLoopStart = -1, FLoopEnd = -1;
    std::vector<std::pair<qint64, qint64>> FSkips;    // FSilence while skipping, else empty

    qint64 FPlaced = 0;         // the position outside a session
    bool FInSession = false;
    double FSessionSpeed = 1.0;
    std::deque<TSegment> FSegments;  // never empty in a session; the first starts at input 0
    qint64 FInFed = 0;
    qint64 FWritten = 0;
    bool FSourceDone = false;
    qint64 FEndFrame = 0;
};
