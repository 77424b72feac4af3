// Signal measurement of a recording range: libebur128 for loudness and true peak, our own scan for the rest.
#include "uLoudness.h"

#include "uDecoder.h"
#include "uExportLoop.h"
#include "uPartProgress.h"
#include "uThreadGroup.h"

#include <ebur128.h>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>

namespace {

struct TEburCloser {
    void operator()(ebur128_state *AState) const { ebur128_destroy(&AState); }
};
using TEburState = std::unique_ptr<ebur128_state, TEburCloser>;

constexpr double MinusInf = -std::numeric_limits<double>::infinity();

double ToDb(double ALinear)
{
    return ALinear > 0 ? 20.0 * std::log10(ALinear) : MinusInf;
}

// A loudness figure of libebur128: it answers -HUGE_VAL for silence; anything not finite is -infinity.
template <class TQuery>
double Lufs(ebur128_state *AState, TQuery AQuery)
{
    double v = 0;
    return AQuery(AState, &v) == EBUR128_SUCCESS && std::isfinite(v) ? v : MinusInf;
}

// The true-peak interpolator of libebur128 (1.2): a 49-tap Hann-windowed sinc, 4x oversampling below 96 kHz and
// 2x below 192 kHz (none above); each output is a sum over the last (taps + factor - 1) / factor input frames
// of a channel (13 at 4x, 25 at 2x), weighted by the taps of its phase.
constexpr int InterpolatorTaps = 49;
constexpr int InterpolatorHistory = 25;  // frames kept: at least the window of every factor

// Upper bounds of |output| of that interpolator, from the frames of a channel in the output's window: Gain
// times their largest magnitude P (the largest sum of tap magnitudes over the phases), and, tighter for
// smooth signals, DcGain * P + SlopeGain * D, where D is the largest difference of neighbouring frames there
// (each frame differs from the window's middle one by at most its distance times D; DcGain is the largest
// sum of a phase's taps, SlopeGain the largest sum of |tap| times its distance from the middle). With a
// margin for the interpolator's single-precision samples and outputs. The bounds only decide which work can
// be left out; the peak itself is always libebur128's. Gain 0 when libebur128 is not 1.2, whose interpolator
// this describes: then no work is left out.
struct TInterpolatorBound {
    double Gain = 0;
    double DcGain = 0;
    double SlopeGain = 0;
};

TInterpolatorBound InterpolatorBound(int ASampleRate)
{
    int major = 0, minor = 0, patch = 0;
    ebur128_get_version(&major, &minor, &patch);
    if (major != 1 || minor != 2)
        return {};
    if (ASampleRate >= 192000)
        return {1.0, 1.0, 0.0};  // no oversampling: the true peak is the sample peak
    const int factor = ASampleRate < 96000 ? 4 : 2;
    const double middle = ((InterpolatorTaps + factor - 1) / factor - 1) / 2;
    std::vector<double> gain(static_cast<size_t>(factor)), dc(gain.size()), slope(gain.size());
    for (int j = 0; j < InterpolatorTaps; ++j) {
        const double m = j - (InterpolatorTaps - 1) / 2.0;
        const double x = m * M_PI / factor;
        const double sinc = std::fabs(m) > 1e-6 ? std::sin(x) / x : 1.0;
        const double tap = sinc * 0.5 * (1.0 - std::cos(2.0 * M_PI * j / (InterpolatorTaps - 1)));
        const size_t phase = static_cast<size_t>(j % factor);
        gain[phase] += std::fabs(tap);
        dc[phase] += tap;
        slope[phase] += std::fabs(tap) * std::fabs(j / factor - middle);
    }
    auto largest = [](const std::vector<double> &AValues) {
        double v = 0;
        for (const double a : AValues)
            v = std::max(v, std::fabs(a));
        return v * 1.001;
    };
    return {largest(gain), largest(dc), largest(slope)};
}


// Which of the frames fed a meter count, in blocks of 100 ms from its first frame. One pass counts every
// frame. A part of a measurement in parts is fed the PreBlocks before its start, its OwnBlocks, and a little
// of the next part (see PartOverhangBlocks); only its own blocks count.
struct TMeterPlan {
    qint64 PreBlocks = 0;   // before the part: they fill the windows, the clipping counters and the
                            // interpolator's history, and start the loudness filter
    qint64 OwnBlocks = -1;  // -1: every block after PreBlocks
    qint64 FrameOffset = 0; // frames of the range before the first frame fed (positions count from the range)
    bool JoinAtStart = false;  // a quiet stretch at the first own frame is handed to the join, not counted
    bool JoinAtEnd = false;    // so is a quiet stretch still open at the end of the own blocks
};

// Blocks a part feeds its gating state beyond its own: the 400 ms gating blocks that start in its last 300 ms.
constexpr qint64 PartOverhangBlocks = 3;
// Blocks read before a part's start: the longest window (the 3 s of short-term loudness).
constexpr qint64 PartPreBlocks = 30;
// The short-term blocks of the loudness range start every second (10 blocks) and last 3 s: the state that
// gates a part (fed from its start to PartOverhangBlocks beyond its end) leaves out the two that start in the
// last 2 s of the part before, so a seam state fed [start - 2 s, start + 2 s) measures those two.
constexpr qint64 SeamFromBlocks = 20;  // before the start
constexpr qint64 SeamToBlocks = 20;    // after the start
// A fresh loudness filter takes a few milliseconds to settle: the block energies of the momentary and
// short-term windows come from a state fed since the pre-roll's start for the first second of the part.
constexpr qint64 WarmBlocks = 10;

struct TMeterCore {
    int Rate = 0;
    int Channels = 0;
    double StartSec = 0;
    TMeterPlan Plan;
    qint64 OwnFrom = 0;   // first own frame (frames fed)
    qint64 OwnEnd = -1;   // frame after the last own one, -1 none (all own)
    // Loudness: K-weighting, gating histogram, loudness range; every frame from the part's start on.
    TEburState State;
    TEburState WarmState;  // a part's block energies before and just after its start (only with PreBlocks)
    TEburState SeamState;  // the two short-term blocks that straddle a part's start (only with PreBlocks)
    // True peak: a second state that sees only the blocks whose oversampled peak could exceed the largest one
    // found so far (see PeakMayRise). Its interpolator keeps the frames before a block it is fed: a block that
    // follows a left-out one is preceded by the last InterpolatorHistory frames in a call of their own, whose
    // outputs are not counted. So every output counted is the one a state fed everything computes, and every
    // output left out is at most the maximum: the true peak is exactly that of libebur128 fed everything.
    TEburState PeakState;
    TInterpolatorBound PeakBound;  // Gain 0: every block is fed
    double TruePeak = 0.0;  // largest true peak (linear) of the blocks fed to PeakState
    bool HistoryFed = true;  // PeakState's interpolator holds the frames just before the next block
    std::vector<int16_t> History;  // the last InterpolatorHistory frames seen (zeros before the start)
    int HistoryPeak = 0;  // largest magnitude in History
    // Frames gather into blocks of 100 ms: the cadence at which momentary and short-term loudness are read.
    qint64 BlockFrames = 1;
    std::vector<int16_t> Block;
    size_t BlockFill = 0;
    qint64 Frames = 0;  // frames processed (whole blocks handed on)
    qint64 Blocks = 0;  // blocks processed (the tail counts as one)
    int SilenceLimit = 0;  // a sample is quiet when its magnitude is at most this
    qint64 SilenceMinFrames = 1;
    qint64 QuietStart = -1;  // first frame of the quiet stretch under way, -1 when none
    qint64 SilentFrames = 0;  // all stretches counted together
    // The join of a part: the quiet frames at its start end at LeadQuietEnd (OwnFrom: none), AllQuiet when
    // they last to its end; the stretch open at its end starts at TailQuietStart (-1 none).
    qint64 LeadQuietEnd = 0;
    bool AllQuiet = false;
    qint64 TailQuietStart = -1;
    bool OwnClosed = false;  // the own blocks are done (a part's quiet stretch handed on)
    std::vector<int> ClipRun;  // full-scale samples in a row, per channel
    // Energies of the last 30 blocks of 100 ms (a ring): the momentary window is the last 4, the short-term
    // window all 30. Asking libebur128 for those windows each time reads 0.4 s and 3 s of samples per 100 ms.
    double BlockEnergy[30] = {};
    int BlockCount = 0;  // whole blocks seen (the ring holds the last min(30, BlockCount))
    double MomentaryMax = MinusInf;
    double ShorttermMax = MinusInf;
    int SamplePeak = 0;  // largest magnitude, 32768 for -32768
    TLoudnessResult Result;
    // The loudness work (the states and the block energies above) runs on a worker thread when Parallel is
    // asked: the caller's thread decodes, scans and does the true peak, and queues each block. Same figures.
    static constexpr int QueueBlocks = 16;
    std::vector<int16_t> Queue[QueueBlocks];
    qint64 QueueFrames[QueueBlocks] = {};
    qint64 QueueIndex[QueueBlocks] = {};
    std::mutex QueueLock;
    std::condition_variable QueueFilled;
    std::condition_variable QueueEmptied;
    qint64 Pushed = 0;  // blocks queued; guarded by QueueLock, as are Popped and Closing
    qint64 Popped = 0;  // blocks done
    bool Closing = false;
    std::unique_ptr<TThreadGroup> Worker;  // last: joined (CloseWorker) before anything it uses goes

    TMeterCore(int ASampleRate, int AChannels, const TLoudnessOptions &AOptions, double AStartSec,
               const TMeterPlan &APlan);
    ~TMeterCore() { CloseWorker(); }

    // Seconds from the recording's start: the range's start plus frames of the range, one formula for every
    // part, so that a part's positions are those of one pass to the bit.
    double Sec(qint64 AFrame) const { return StartSec + static_cast<double>(Plan.FrameOffset + AFrame) / Rate; }

    void CountStretch(qint64 AFrom, qint64 ATo)
    {
        ++Result.SilentStretchCount;
        SilentFrames += ATo - AFrom;
        if (Result.SilentStretches.size() < static_cast<size_t>(MaxListedRuns))
            Result.SilentStretches.push_back({Sec(AFrom), Sec(ATo)});
    }

    void EndQuiet(qint64 AEnd)
    {
        if (QuietStart >= 0 && Plan.JoinAtStart && QuietStart == OwnFrom)
            LeadQuietEnd = AEnd;  // may go on from the part before: the join decides
        else if (QuietStart >= 0 && AEnd - QuietStart >= SilenceMinFrames)
            CountStretch(QuietStart, AEnd);
        QuietStart = -1;
    }

    // The end of the own blocks: a stretch open there ends with the range, or goes on in the next part.
    void CloseOwn()
    {
        if (OwnClosed)
            return;
        OwnClosed = true;
        if (!Plan.JoinAtEnd) {
            EndQuiet(Frames < OwnEnd || OwnEnd < 0 ? Frames : OwnEnd);
            return;
        }
        if (QuietStart >= 0 && Plan.JoinAtStart && QuietStart == OwnFrom)
            AllQuiet = true;
        else if (QuietStart >= 0)
            TailQuietStart = QuietStart;
        QuietStart = -1;
    }

    // The outputs of the interpolator while a block is fed depend on the block and the InterpolatorHistory
    // frames before it; none of them exceeds PeakBound's bounds over those frames.
    bool PeakMayRise(const int16_t *ASamples, qint64 AFrames, int ABlockPeak) const
    {
        if (PeakBound.Gain <= 0)
            return true;
        const double peak = std::max(ABlockPeak, HistoryPeak) / 32768.0;
        if (PeakBound.Gain * peak <= TruePeak)
            return false;
        return PeakBound.DcGain * peak + PeakBound.SlopeGain * LargestStep(ASamples, AFrames) / 32768.0 > TruePeak;
    }

    // The largest difference of neighbouring frames of a channel in History followed by the block.
    int LargestStep(const int16_t *ASamples, qint64 AFrames) const
    {
        const size_t ch = static_cast<size_t>(Channels);
        const size_t n = static_cast<size_t>(AFrames) * ch;
        int step = 0;
        for (size_t i = ch; i < History.size(); ++i)
            step = std::max(step, std::abs(History[i] - History[i - ch]));
        for (size_t c = 0; c < ch && c < n; ++c)
            step = std::max(step, std::abs(ASamples[c] - History[History.size() - ch + c]));
        for (size_t i = ch; i < n; ++i)
            step = std::max(step, std::abs(ASamples[i] - ASamples[i - ch]));
        return step;
    }

    // AOwn false: the block only becomes the history of the next one.
    void PeakPass(const int16_t *ASamples, qint64 AFrames, int ABlockPeak, bool AOwn)
    {
        const size_t ch = static_cast<size_t>(Channels);
        if (AOwn && PeakMayRise(ASamples, AFrames, ABlockPeak)) {
            if (!HistoryFed)
                ebur128_add_frames_short(PeakState.get(), History.data(), InterpolatorHistory);
            ebur128_add_frames_short(PeakState.get(), ASamples, static_cast<size_t>(AFrames));
            for (int c = 0; c < Channels; ++c) {
                double v = 0;
                if (ebur128_prev_true_peak(PeakState.get(), static_cast<unsigned>(c), &v) == EBUR128_SUCCESS)
                    TruePeak = std::max(TruePeak, v);
            }
            HistoryFed = true;
        } else {
            HistoryFed = false;
        }
        // History := the last InterpolatorHistory frames of (History, block).
        const size_t keep = static_cast<size_t>(std::min<qint64>(AFrames, InterpolatorHistory));
        const size_t old = InterpolatorHistory - keep;
        std::memmove(History.data(), History.data() + keep * ch, old * ch * sizeof(int16_t));
        std::memcpy(History.data() + old * ch, ASamples + (static_cast<size_t>(AFrames) - keep) * ch,
                    keep * ch * sizeof(int16_t));
        HistoryPeak = 0;
        for (const int16_t s : History)
            HistoryPeak = std::max(HistoryPeak, s < 0 ? -int(s) : int(s));
    }

    // Clipping and silence of whole frames, then the same frames to libebur128. One block (or the tail).
    void Process(const int16_t *ASamples, qint64 AFrames)
    {
        const qint64 index = Blocks++;
        const bool own = index >= Plan.PreBlocks && (Plan.OwnBlocks < 0 || index < Plan.PreBlocks + Plan.OwnBlocks);
        if (!own && index >= Plan.PreBlocks)
            CloseOwn();
        const int ch = Channels;
        int blockPeak = 0;
        if (index < Plan.PreBlocks) {
            // Before the part: only the clipping counters go on (a run is counted where its third sample lies).
            for (qint64 f = 0; f < AFrames; ++f)
                for (int c = 0; c < ch; ++c) {
                    const int s = ASamples[f * ch + c];
                    ClipRun[size_t(c)] = s == 32767 || s == -32768 ? std::min(ClipRun[size_t(c)] + 1, ClipRunMinSamples) : 0;
                }
        } else if (own) {
            for (qint64 f = 0; f < AFrames; ++f) {
                const int16_t *frame = ASamples + f * ch;
                bool quiet = true;
                for (int c = 0; c < ch; ++c) {
                    const int s = frame[c];
                    const int mag = s < 0 ? -s : s;
                    quiet = quiet && mag <= SilenceLimit;
                    if (mag > blockPeak)
                        blockPeak = mag;
                    if (s == 32767 || s == -32768) {
                        if (++ClipRun[c] == ClipRunMinSamples) {
                            ++Result.ClipRunCount;
                            if (Result.ClipRuns.size() < static_cast<size_t>(MaxListedRuns))
                                Result.ClipRuns.push_back({Sec(Frames + f - (ClipRunMinSamples - 1)), c});
                        }
                    } else {
                        ClipRun[c] = 0;
                    }
                }
                if (quiet) {
                    if (QuietStart < 0)
                        QuietStart = Frames + f;
                } else if (QuietStart >= 0) {
                    EndQuiet(Frames + f);
                }
            }
            SamplePeak = std::max(SamplePeak, blockPeak);
        }
        if (index < Plan.PreBlocks || own)
            PeakPass(ASamples, AFrames, blockPeak, own);
        Frames += AFrames;
        if (Worker)
            Submit(ASamples, AFrames, index);
        else
            LoudnessBlock(ASamples, AFrames, index);
    }

    // The loudness of a block: on the worker thread when there is one, else on the caller's.
    void LoudnessBlock(const int16_t *ASamples, qint64 AFrames, qint64 AIndex)
    {
        const qint64 pre = Plan.PreBlocks;
        if (AIndex >= pre)
            ebur128_add_frames_short(State.get(), ASamples, static_cast<size_t>(AFrames));
        if (WarmState && AIndex < pre + WarmBlocks)
            ebur128_add_frames_short(WarmState.get(), ASamples, static_cast<size_t>(AFrames));
        if (SeamState && AIndex >= pre - SeamFromBlocks && AIndex < pre + SeamToBlocks)
            ebur128_add_frames_short(SeamState.get(), ASamples, static_cast<size_t>(AFrames));
        if (AFrames != BlockFrames)
            return;  // the tail of the range: no whole block
        if (Plan.OwnBlocks >= 0 && AIndex >= pre + Plan.OwnBlocks)
            return;  // beyond the part: its windows are the next part's
        // The block's energy from its K-weighted loudness over exactly its own 100 ms.
        ebur128_state *source = WarmState && AIndex < pre + WarmBlocks ? WarmState.get() : State.get();
        double v = 0;
        const double energy = ebur128_loudness_window(source, 100, &v) == EBUR128_SUCCESS && std::isfinite(v)
                                  ? std::pow(10.0, (v + 0.691) / 10.0)
                                  : 0.0;
        BlockEnergy[BlockCount % 30] = energy;
        ++BlockCount;
        if (AIndex < pre)
            return;  // windows that end before the part are the part's before
        auto loudness = [this](int ABlocks) {
            double sum = 0;
            for (int i = 1; i <= ABlocks; ++i)
                sum += BlockEnergy[(BlockCount - i) % 30];
            return sum > 0 ? -0.691 + 10.0 * std::log10(sum / ABlocks) : MinusInf;
        };
        if (BlockCount >= 4)
            MomentaryMax = std::max(MomentaryMax, loudness(4));
        if (BlockCount >= 30)
            ShorttermMax = std::max(ShorttermMax, loudness(30));
    }

    // Hands a copy of the block to the worker; waits while the queue is full.
    void Submit(const int16_t *ASamples, qint64 AFrames, qint64 AIndex)
    {
        std::unique_lock<std::mutex> lock(QueueLock);
        QueueEmptied.wait(lock, [this] { return Pushed - Popped < QueueBlocks; });
        const size_t slot = static_cast<size_t>(Pushed % QueueBlocks);
        lock.unlock();
        std::memcpy(Queue[slot].data(), ASamples, static_cast<size_t>(AFrames * Channels) * sizeof(int16_t));
        QueueFrames[slot] = AFrames;
        QueueIndex[slot] = AIndex;
        lock.lock();
        ++Pushed;
        lock.unlock();
        QueueFilled.notify_one();
    }

    void WorkerLoop()
    {
        for (;;) {
            std::unique_lock<std::mutex> lock(QueueLock);
            QueueFilled.wait(lock, [this] { return Popped < Pushed || Closing; });
            if (Popped == Pushed)
                return;  // closing, and every block is done
            const size_t slot = static_cast<size_t>(Popped % QueueBlocks);
            lock.unlock();
            LoudnessBlock(Queue[slot].data(), QueueFrames[slot], QueueIndex[slot]);
            lock.lock();
            ++Popped;
            lock.unlock();
            QueueEmptied.notify_one();
        }
    }

    // Lets the worker finish the blocks queued and waits for it. Idempotent.
    void CloseWorker()
    {
        if (!Worker)
            return;
        {
            std::lock_guard<std::mutex> lock(QueueLock);
            Closing = true;
        }
        QueueFilled.notify_one();
        Worker->Join();
        Worker.reset();
    }

    void Feed(const void *AData, qint64 ABytes);
    // Hands on the tail, closes the stretches and the worker, and fills in every figure of this meter's own
    // frames but the integrated loudness and the loudness range (those come from State, and SeamState).
    void Close();
};

TMeterCore::TMeterCore(int ASampleRate, int AChannels, const TLoudnessOptions &AOptions, double AStartSec,
                       const TMeterPlan &APlan)
    : Rate(ASampleRate), Channels(AChannels), StartSec(AStartSec), Plan(APlan)
{
    Result.SampleRate = ASampleRate;
    Result.Channels = AChannels;
    Result.StartSec = AStartSec;
    Result.EndSec = AStartSec;
    if (ASampleRate <= 0 || AChannels <= 0)
        return;
    const unsigned channels = static_cast<unsigned>(AChannels);
    const unsigned long rate = static_cast<unsigned long>(ASampleRate);
    State.reset(ebur128_init(channels, rate, EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA
                                                 | EBUR128_MODE_HISTOGRAM));
    PeakState.reset(ebur128_init(channels, rate, EBUR128_MODE_TRUE_PEAK));
    if (Plan.PreBlocks > 0) {
        WarmState.reset(ebur128_init(channels, rate, EBUR128_MODE_M));
        if (Plan.PreBlocks >= SeamFromBlocks)
            SeamState.reset(ebur128_init(channels, rate, EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM));
        if (!WarmState || (Plan.PreBlocks >= SeamFromBlocks && !SeamState))
            PeakState.reset();
    }
    if (!PeakState)
        State.reset();
    PeakBound = InterpolatorBound(ASampleRate);
    History.assign(static_cast<size_t>(InterpolatorHistory * AChannels), 0);
    BlockFrames = std::max<qint64>(1, ASampleRate / 10);
    Block.resize(static_cast<size_t>(BlockFrames * AChannels));
    OwnFrom = Plan.PreBlocks * BlockFrames;
    LeadQuietEnd = OwnFrom;
    OwnEnd = Plan.OwnBlocks < 0 ? -1 : (Plan.PreBlocks + Plan.OwnBlocks) * BlockFrames;
    ClipRun.assign(static_cast<size_t>(AChannels), 0);
    const double limit = 32768.0 * std::pow(10.0, AOptions.SilenceDb / 20.0);
    // Quieter than the limit: magnitudes strictly below it.
    SilenceLimit = static_cast<int>(std::min(32768.0, std::ceil(limit) - 1));
    SilenceMinFrames = std::max<qint64>(1, std::llround(AOptions.SilenceMinSec * ASampleRate));
    if (State && AOptions.Parallel) {
        for (std::vector<int16_t> &slot : Queue)
            slot.resize(Block.size());
        Worker = std::make_unique<TThreadGroup>();
        Worker->Start([this] { WorkerLoop(); });
    }
}

void TMeterCore::Feed(const void *AData, qint64 ABytes)
{
    if (!State)
        return;
    const int16_t *s = static_cast<const int16_t *>(AData);
    qint64 samples = ABytes / 2;
    const size_t blockSamples = Block.size();
    // Whole blocks straight from the caller's buffer when nothing is pending.
    while (samples > 0) {
        if (BlockFill == 0 && static_cast<size_t>(samples) >= blockSamples) {
            Process(s, BlockFrames);
            s += blockSamples;
            samples -= static_cast<qint64>(blockSamples);
            continue;
        }
        const size_t take = std::min(blockSamples - BlockFill, static_cast<size_t>(samples));
        std::memcpy(Block.data() + BlockFill, s, take * 2);
        BlockFill += take;
        s += take;
        samples -= static_cast<qint64>(take);
        if (BlockFill == blockSamples) {
            Process(Block.data(), BlockFrames);
            BlockFill = 0;
        }
    }
}

void TMeterCore::Close()
{
    TLoudnessResult &r = Result;
    r.IntegratedLufs = r.RangeLu = r.MomentaryMaxLufs = r.ShorttermMaxLufs = MinusInf;
    r.TruePeakDbtp = r.SamplePeakDbfs = MinusInf;
    if (!State)
        return;
    const qint64 tailFrames = static_cast<qint64>(BlockFill) / Channels;  // a partial last frame is dropped
    if (tailFrames > 0)
        Process(Block.data(), tailFrames);
    BlockFill = 0;
    CloseOwn();
    CloseWorker();
    r.EndSec = Sec(OwnEnd < 0 ? Frames : std::min(Frames, OwnEnd));
    r.SilentSeconds = static_cast<double>(SilentFrames) / Rate;
    r.MomentaryMaxLufs = MomentaryMax;
    r.ShorttermMaxLufs = ShorttermMax;
    // libebur128 reports the larger of the oversampled and the sample peak.
    r.TruePeakDbtp = ToDb(std::max(TruePeak, SamplePeak / 32768.0));
    r.SamplePeakDbfs = ToDb(SamplePeak / 32768.0);
}

} // namespace

struct TLoudnessMeter::Impl : TMeterCore {
    using TMeterCore::TMeterCore;
};

TLoudnessMeter::TLoudnessMeter(int ASampleRate, int AChannels, const TLoudnessOptions &AOptions, double AStartSec)
    : d(std::make_unique<Impl>(ASampleRate, AChannels, AOptions, AStartSec, TMeterPlan{}))
{
}

TLoudnessMeter::~TLoudnessMeter() = default;

bool TLoudnessMeter::IsValid() const
{
    return d->State != nullptr;
}

void TLoudnessMeter::Feed(const void *AData, qint64 ABytes)
{
    d->Feed(AData, ABytes);
}

TLoudnessResult TLoudnessMeter::Finish()
{
    d->Close();
    TLoudnessResult &r = d->Result;
    if (!d->State)
        return r;
    double v = 0;
    r.IntegratedLufs = Lufs(d->State.get(), ebur128_loudness_global);
    r.RangeLu = ebur128_loudness_range(d->State.get(), &v) == EBUR128_SUCCESS && std::isfinite(v) ? v : 0;
    return r;
}

std::vector<qint64> LoudnessPartStarts(qint64 AFrames, int ARate, int AParts, int AThreads)
{
    if (ARate <= 0 || ARate % 10 != 0 || AParts == 1 || AFrames <= 0)
        return {0};
    const qint64 seconds = AFrames / ARate;
    const int wanted = AParts <= 0 ? std::clamp(AThreads, 1, MaxLoudnessParts) : std::min(AParts, MaxLoudnessParts);
    const double minSec = AParts <= 0 ? MinLoudnessPartSec : MinAskedLoudnessPartSec;
    const qint64 parts = std::min<qint64>(wanted, std::max<qint64>(1, static_cast<qint64>(seconds / minSec)));
    std::vector<qint64> starts;
    for (qint64 k = 0; k < parts; ++k)
        starts.push_back(seconds * k / parts * ARate);
    return starts;
}

namespace {

// Measures [AStart, AEnd) bytes of a stream open at its start in one pass.
TLoudnessResult MeasureOnePass(TDecodeStream &AStream, qint64 AStart, qint64 AEnd, const TLoudnessOptions &AOptions,
                               const TCancelProgress &AProgress)
{
    TLoudnessMeter meter(AStream.SampleRate(), AStream.Channels(), AOptions, AStream.BytesToSeconds(AStart));
    if (!meter.IsValid()) {
        TLoudnessResult r = meter.Finish();
        r.Error = aeFileForm;
        return r;
    }
    if (AStart > 0 && AEnd > AStart && !AStream.SeekBytes(AStart)) {
        TLoudnessResult r = meter.Finish();
        r.Error = aeFileForm;
        return r;
    }
    TCancelLatch cancel(AProgress);
    if (AEnd > AStart) {
        ExportReadLoop([&AStream](char *ABuf, qint64 AMax) { return AStream.Read(ABuf, AMax); }, AEnd - AStart,
                       cancel.Callback(), [&meter](const char *AData, qint64 AByteCount) {
                           meter.Feed(AData, AByteCount);
                           return true;
                       });
    }
    TLoudnessResult r = meter.Finish();
    r.Cancelled = cancel.Stopped();
    return r;
}

// One part of a measurement in parts: frames of the range it reads and its meter.
struct TPart {
    qint64 ReadFrom = 0;
    qint64 ReadTo = 0;
    std::unique_ptr<TMeterCore> Meter;
    bool Failed = false;  // its stream could not be opened or placed, read short, or met damage
};

// The figures of the parts together: the loudness from their states through libebur128's functions for
// several states, the peaks and maxima by maximum, runs and stretches in time order, stretches across a
// boundary joined.
TLoudnessResult CombineParts(std::vector<TPart> &AParts)
{
    TMeterCore &first = *AParts.front().Meter;
    TLoudnessResult result = first.Result;
    result.EndSec = AParts.back().Meter->Result.EndSec;
    result.ClipRunCount = 0;
    result.ClipRuns.clear();
    result.SilentStretchCount = 0;
    result.SilentStretches.clear();
    qint64 silentFrames = 0;
    std::vector<ebur128_state *> gating;
    std::vector<ebur128_state *> ranging;
    const auto listed = static_cast<size_t>(MaxListedRuns);
    auto count = [&](qint64 AFrom, qint64 ATo) {
        if (ATo - AFrom < first.SilenceMinFrames)
            return;
        ++result.SilentStretchCount;
        silentFrames += ATo - AFrom;
        if (result.SilentStretches.size() < listed)
            result.SilentStretches.push_back({first.Sec(AFrom), first.Sec(ATo)});  // FrameOffset 0: range frames
    };
    qint64 carry = -1;  // range frame where a quiet stretch open at the last boundary began
    for (TPart &part : AParts) {
        TMeterCore &meter = *part.Meter;
        const TLoudnessResult &own = meter.Result;
        result.TruePeakDbtp = std::max(result.TruePeakDbtp, own.TruePeakDbtp);
        result.SamplePeakDbfs = std::max(result.SamplePeakDbfs, own.SamplePeakDbfs);
        result.MomentaryMaxLufs = std::max(result.MomentaryMaxLufs, own.MomentaryMaxLufs);
        result.ShorttermMaxLufs = std::max(result.ShorttermMaxLufs, own.ShorttermMaxLufs);
        result.ClipRunCount += own.ClipRunCount;
        for (size_t i = 0; i < own.ClipRuns.size() && result.ClipRuns.size() < listed; ++i)
            result.ClipRuns.push_back(own.ClipRuns[i]);
        const qint64 base = meter.Plan.FrameOffset;
        if (meter.Plan.JoinAtStart) {
            if (meter.AllQuiet) {
                if (carry < 0)
                    carry = base + meter.OwnFrom;
                gating.push_back(meter.State.get());
                ranging.push_back(meter.State.get());
                if (meter.SeamState)
                    ranging.push_back(meter.SeamState.get());
                continue;
            }
            if (carry >= 0 || meter.LeadQuietEnd > meter.OwnFrom)
                count(carry >= 0 ? carry : base + meter.OwnFrom, base + meter.LeadQuietEnd);
        }
        result.SilentStretchCount += own.SilentStretchCount;
        silentFrames += meter.SilentFrames;
        for (size_t i = 0; i < own.SilentStretches.size() && result.SilentStretches.size() < listed; ++i)
            result.SilentStretches.push_back(own.SilentStretches[i]);
        carry = meter.TailQuietStart >= 0 ? base + meter.TailQuietStart : -1;
        gating.push_back(meter.State.get());
        ranging.push_back(meter.State.get());
        if (meter.SeamState)
            ranging.push_back(meter.SeamState.get());
    }
    result.SilentSeconds = static_cast<double>(silentFrames) / first.Rate;
    double value = 0;
    result.IntegratedLufs = ebur128_loudness_global_multiple(gating.data(), gating.size(), &value) == EBUR128_SUCCESS
                               && std::isfinite(value)
                           ? value
                           : MinusInf;
    result.RangeLu = ebur128_loudness_range_multiple(ranging.data(), ranging.size(), &value) == EBUR128_SUCCESS
                        && std::isfinite(value)
                    ? value
                    : 0;
    return result;
}

// Measures [AStart, AEnd) bytes of a stream open at its start in the parts that start at APartStarts (frames
// of the range), each part on its own thread (the first on the caller's, on AStream). AReporter reports into
// ACancel, whose stop ends every part. False when a part failed: the caller measures again in one pass.
bool MeasureParts(TDecodeStream &AStream, qint64 AStart, qint64 AEnd, const std::vector<qint64> &APartStarts,
                  const TLoudnessOptions &AOptions, TPercentReporter &AReporter, TCancelLatch &ACancel,
                  TLoudnessResult &AResult)
{
    const qint64 blockAlign = AStream.BlockAlign();
    const qint64 frames = (AEnd - AStart) / blockAlign;
    const qint64 blockFrames = AStream.SampleRate() / 10;
    const int count = static_cast<int>(APartStarts.size());
    TLoudnessOptions options = AOptions;
    options.Parallel = false;  // every part has a thread of its own
    const double startSec = AStream.BytesToSeconds(AStart);
    std::vector<TPart> parts(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        TPart &part = parts[size_t(k)];
        const qint64 from = APartStarts[size_t(k)];
        const bool last = k + 1 == count;
        const qint64 to = last ? frames : APartStarts[size_t(k) + 1];
        part.ReadFrom = std::max<qint64>(0, from - PartPreBlocks * blockFrames);
        part.ReadTo = last ? frames : std::min(frames, to + PartOverhangBlocks * blockFrames);
        TMeterPlan plan;
        plan.PreBlocks = (from - part.ReadFrom) / blockFrames;
        plan.OwnBlocks = last ? -1 : (to - from) / blockFrames;
        plan.FrameOffset = part.ReadFrom;
        plan.JoinAtStart = k > 0;
        plan.JoinAtEnd = !last;
        part.Meter = std::make_unique<TMeterCore>(AStream.SampleRate(), AStream.Channels(), options, startSec, plan);
        if (!part.Meter->State)
            return false;
    }
    TPartProgress read;
    std::atomic<bool> stop{false};
    // Reads part k from a stream that stands at its first frame.
    auto run = [&](TDecodeStream &APartStream, TPart &APart, bool AReports) {
        std::vector<char> buffer(static_cast<size_t>(ExportBlockBytes));
        qint64 left = (APart.ReadTo - APart.ReadFrom) * blockAlign;
        while (left > 0 && !stop.load(std::memory_order_relaxed)) {
            const qint64 n = APartStream.Read(buffer.data(), std::min(left, ExportBlockBytes));
            if (n <= 0)
                break;
            APart.Meter->Feed(buffer.data(), n);
            left -= n;
            read.Add(n);
            if (AReports && !AReporter.Report(read.Done()))
                stop = true;
        }
        // A part that reads short or meets damage no longer stands where a straight decode would.
        if ((left > 0 && !stop.load()) || APartStream.Damaged()) {
            APart.Failed = true;
            stop = true;
        }
        APart.Meter->Close();
    };
    {
        TThreadGroup workers;
        for (int k = 1; k < count; ++k) {
            workers.Start([&, k] {
                TPart &part = parts[size_t(k)];
                TDecodeStream stream;
                stream.SetPadToLength(false);  // as the first: a short decode reads short, and falls back
                if (!stream.OpenLike(AStream) || !stream.SeekBytes(AStart + part.ReadFrom * blockAlign)) {
                    part.Failed = true;
                    stop = true;
                } else {
                    run(stream, part, false);
                }
                read.PartFinished();
            });
        }
        if (AStart > 0 && !AStream.SeekBytes(AStart)) {
            parts[0].Failed = true;
            stop = true;
        } else {
            run(AStream, parts[0], true);
        }
        qint64 seen = read.Done();
        for (bool all = false; !all;) {
            seen = read.WaitBeyond(seen, count - 1, all);
            if (!ACancel.Stopped() && !AReporter.Report(seen))
                stop = true;
        }
    }
    const bool cancelled = ACancel.Stopped();
    if (!cancelled) {
        for (const TPart &part : parts)
            if (part.Failed)
                return false;
    }
    AResult = CombineParts(parts);
    AResult.Cancelled = cancelled;
    AResult.Parts = count;
    return true;
}

} // namespace

TLoudnessResult MeasureFileRange(const QString &APath, double AStartSec, double AEndSec,
                                 const TLoudnessOptions &AOptions, const TCancelProgress &AProgress)
{
    TDecodeStream stream;
    if (!stream.Open(APath)) {
        TLoudnessResult r;
        r.Error = stream.LastError() ? stream.LastError() : aeFileOpen;
        return r;
    }
    // A damaged recording is measured as far as it decodes: a made-up silent tail would read as dead air.
    stream.SetPadToLength(false);
    const qint64 B = stream.BlockAlign();
    qint64 start = 0, end = 0;
    stream.ByteRange(AStartSec, AEndSec, start, end);
    const std::vector<qint64> partStarts =
        stream.SeeksDirectly() ? LoudnessPartStarts((end - start) / std::max<qint64>(B, 1), stream.SampleRate(),
                                                    AOptions.Parts, QThread::idealThreadCount())
                               : std::vector<qint64>{0};
    if (partStarts.size() <= 1)
        return MeasureOnePass(stream, start, end, AOptions, AProgress);
    // The parts read the 3 s before their starts too: progress counts every byte read.
    qint64 total = 0;
    {
        const qint64 frames = (end - start) / B;
        const qint64 pre = PartPreBlocks * (stream.SampleRate() / 10);
        const qint64 over = PartOverhangBlocks * (stream.SampleRate() / 10);
        for (size_t k = 0; k < partStarts.size(); ++k) {
            const qint64 to = k + 1 < partStarts.size() ? std::min(frames, partStarts[k + 1] + over) : frames;
            total += (to - std::max<qint64>(0, partStarts[k] - pre)) * B;
        }
    }
    int lastPercent = -1;
    TCancelProgress noted;
    if (AProgress)
        noted = [&AProgress, &lastPercent](int APercent) {
            if (APercent <= lastPercent)
                return true;  // a measurement begun again goes on from where it stood
            lastPercent = APercent;
            return AProgress(APercent);
        };
    TCancelLatch cancel(noted);
    TPercentReporter reporter(cancel.Callback(), total, TPercentRounding::HalfEven);
    TLoudnessResult r;
    if (MeasureParts(stream, start, end, partStarts, AOptions, reporter, cancel, r))
        return r;
    // Damage in a part: one pass from the range's start.
    if (!stream.SeekBytes(0)) {
        r = TLoudnessResult{};
        r.Error = aeFileOpen;
        return r;
    }
    return MeasureOnePass(stream, start, end, AOptions, noted);
}
