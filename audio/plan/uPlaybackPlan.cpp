// The playback plan: seconds <-> frames, the listening choices, the jumps and the output-to-recording map.
#include "uPlaybackPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>

qint64 SecToFrames(double ASec, int ARate)
{
    if (ARate <= 0 || !(ASec > 0))
        return 0;
    return static_cast<qint64>(std::floor(ASec * ARate + 1e-7));
}

double FramesToSec(double AFrames, int ARate)
{
    return ARate > 0 ? AFrames / ARate : 0.0;
}

TPlaybackPlan::TPlaybackPlan(int ARate, qint64 ALengthFrames, const std::vector<TSecRange> &ASilence)
    : FRate(ARate), FLength(std::max<qint64>(ALengthFrames, 0))
{
    SetSilence(ASilence);
}

TPlaybackPlan::TChange TPlaybackPlan::SetSilence(const std::vector<TSecRange> &ASilence)
{
    FSilence.clear();
    for (const TSecRange &r : ASilence) {
        const qint64 a = FramesOf(std::max(r.StartSec, 0.0));
        const qint64 b = std::min(FramesOf(r.EndSec), FLength);
        if (b > a)
            FSilence.emplace_back(a, b);
    }
    return SetListening(FListening);
}

TPlaybackPlan::TChange TPlaybackPlan::SetListening(const TListening &AListening)
{
    TListening next = AListening;
    next.Speed = std::clamp(next.Speed, MinPlaySpeed, MaxPlaySpeed);
    qint64 a = -1, b = -1;
    if (next.LoopStartSec >= 0 && next.LoopEndSec > next.LoopStartSec) {
        a = FramesOf(next.LoopStartSec);
        b = std::min(FramesOf(next.LoopEndSec), FLength);
        if (b <= a)
            a = b = -1;
    }
    std::vector<std::pair<qint64, qint64>> skips = next.SkipSilence ? FSilence : std::vector<std::pair<qint64, qint64>>();

    TChange change = TChange::None;
    if (a != FLoopStart || b != FLoopEnd || skips != FSkips)
        change = TChange::Jumps;
    if (next.Speed != FListening.Speed || next.Channel != FListening.Channel)
        change = TChange::Restart;
    FListening = next;
    FLoopStart = a;
    FLoopEnd = b;
    FSkips = std::move(skips);
    return change;
}

bool TPlaybackPlan::SkipApplies(qint64 APos, const std::pair<qint64, qint64> &ARange) const
{
    return !(LoopActive() && APos < FLoopEnd && ARange.second >= FLoopEnd);
}

qint64 TPlaybackPlan::JumpTarget(qint64 APos) const
{
    if (LoopActive() && APos == FLoopEnd)
        return FLoopStart;
    for (const auto &r : FSkips)
        if (APos >= r.first && APos < r.second && SkipApplies(APos, r))
            return r.second;
    return -1;
}

qint64 TPlaybackPlan::NextBoundary(qint64 APos) const
{
    qint64 b = std::numeric_limits<qint64>::max();
    if (LoopActive() && APos < FLoopEnd)
        b = FLoopEnd;
    for (const auto &r : FSkips)
        if (r.first > APos && SkipApplies(APos, r)) {
            b = std::min(b, r.first);
            break;  // ascending: the first that applies is the nearest
        }
    return b;
}

void TPlaybackPlan::StartSession(qint64 AFrom)
{
    FInSession = true;
    FSessionSpeed = FListening.Speed;
    FSegments.assign(1, TSegment{0, AFrom});
    FInFed = 0;
    FWritten = 0;
    FSourceDone = false;
    FEndFrame = 0;
}

void TPlaybackPlan::EndSession(qint64 AProcessedUSecs)
{
    if (!FInSession)
        return;
    FPlaced = Position(AProcessedUSecs);
    FInSession = false;
}

TPlannedRead TPlaybackPlan::PlanRead(qint64 APos, qint64 AMaxFrames)
{
    qint64 pos = APos;
    for (int jumps = 0;; ++jumps) {
        const qint64 target = jumps < 4 ? JumpTarget(pos) : -1;
        if (target >= 0 && target != pos) {
            // Input from here on comes from the target.
            if (!FSegments.empty() && FSegments.back().InFrame == FInFed)
                FSegments.back().SrcFrame = target;
            else
                FSegments.push_back({FInFed, target});
            pos = target;
            continue;
        }
        return {pos, std::min(AMaxFrames, jumps < 4 ? NextBoundary(pos) - pos : AMaxFrames)};
    }
}

void TPlaybackPlan::Fed(qint64 AFrames)
{
    FInFed += AFrames;
}

void TPlaybackPlan::SetWritten(qint64 AFrames)
{
    FWritten = AFrames;
}

void TPlaybackPlan::SourceDone(qint64 AEndFrame)
{
    if (!FSourceDone) {
        FSourceDone = true;
        FEndFrame = AEndFrame;
    }
}

qint64 TPlaybackPlan::HeardOut(qint64 AProcessedUSecs) const
{
    return std::min(FWritten, FramesOf(double(AProcessedUSecs) / 1e6));
}

qint64 TPlaybackPlan::InputOfOutput(qint64 AOut) const
{
    const qint64 in = FSessionSpeed != 1.0 ? std::llround(double(AOut) * FSessionSpeed) : AOut;
    return std::min(in, FInFed);
}

qint64 TPlaybackPlan::SourceOfOutput(qint64 AOut) const
{
    if (FSegments.empty())
        return FPlaced;
    const qint64 in = std::max<qint64>(InputOfOutput(AOut), 0);
    auto seg = std::upper_bound(FSegments.begin(), FSegments.end(), in,
                                [](qint64 AFrame, const TSegment &ASegment) { return AFrame < ASegment.InFrame; });
    --seg;  // the first segment starts at input 0
    return seg->SrcFrame + (in - seg->InFrame);
}

qint64 TPlaybackPlan::Position(qint64 AProcessedUSecs) const
{
    if (!FInSession)
        return FPlaced;
    const qint64 heard = HeardOut(AProcessedUSecs);
    return FSourceDone && heard >= FWritten ? FEndFrame : SourceOfOutput(heard);
}

void TPlaybackPlan::Place(qint64 AFrame)
{
    FPlaced = std::clamp<qint64>(AFrame, 0, FLength);
}

void TPlaybackPlan::Prune(qint64 AProcessedUSecs)
{
    if (FSegments.size() < 2)
        return;
    const qint64 heardIn = InputOfOutput(HeardOut(AProcessedUSecs));
    while (FSegments.size() > 1 && FSegments[1].InFrame <= heardIn)
        FSegments.pop_front();
}

bool TPlaybackPlan::AheadChanged(qint64 AHeard, qint64 AReadFrame) const
{
    return FSegments.size() > 1 || JumpTarget(AHeard) >= 0 || NextBoundary(AHeard) <= AReadFrame;
}
