// Signal measurement of a recording range: libebur128 for loudness and true peak, our own scan for the rest.
#include "uLoudness.h"

#include "uDecoder.h"
#include "uExportLoop.h"
#include "uThreadGroup.h"

#include <ebur128.h>

#include <algorithm>
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

} // namespace

struct TLoudnessMeter::Impl {
    int Rate = 0;
    int Channels = 0;
    double StartSec = 0;
    TEburState State;  // loudness: K-weighting, gating histogram, loudness range; every frame
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
    int SilenceLimit = 0;  // a sample is quiet when its magnitude is at most this
    qint64 SilenceMinFrames = 1;
    qint64 QuietStart = -1;  // first frame of the quiet stretch under way, -1 when none
    std::vector<int> ClipRun;  // full-scale samples in a row, per channel
    // Energies of the last 30 blocks of 100 ms (a ring): the momentary window is the last 4, the short-term
    // window all 30. Asking libebur128 for those windows each time reads 0.4 s and 3 s of samples per 100 ms.
    double BlockEnergy[30] = {};
    int BlockCount = 0;  // whole blocks seen (the ring holds the last min(30, BlockCount))
    double MomentaryMax = MinusInf;
    double ShorttermMax = MinusInf;
    int SamplePeak = 0;  // largest magnitude, 32768 for -32768
    TLoudnessResult R;
    // The loudness work (State and the block energies above) runs on a worker thread when Parallel is asked:
    // the caller's thread decodes, scans and does the true peak, and queues each block. Same figures.
    static constexpr int QueueBlocks = 16;
    std::vector<int16_t> Queue[QueueBlocks];
    qint64 QueueFrames[QueueBlocks] = {};
    std::mutex QueueLock;
    std::condition_variable QueueFilled;
    std::condition_variable QueueEmptied;
    qint64 Pushed = 0;  // blocks queued; guarded by QueueLock, as are Popped and Closing
    qint64 Popped = 0;  // blocks done
    bool Closing = false;
    std::unique_ptr<TThreadGroup> Worker;  // last: joined (CloseWorker) before anything it uses goes

    double Sec(qint64 AFrame) const { return StartSec + static_cast<double>(AFrame) / Rate; }

    void EndQuiet(qint64 AEnd)
    {
        if (QuietStart >= 0 && AEnd - QuietStart >= SilenceMinFrames) {
            ++R.SilentStretchCount;
            R.SilentSeconds += static_cast<double>(AEnd - QuietStart) / Rate;
            if (R.SilentStretches.size() < static_cast<size_t>(MaxListedRuns))
                R.SilentStretches.push_back({Sec(QuietStart), Sec(AEnd)});
        }
        QuietStart = -1;
    }

    // The outputs of the interpolator while a block is fed depend on the block and the InterpolatorHistory
    // frames before it; none of them exceeds PeakBound's bounds over those frames.
    bool PeakMayRise(const int16_t *AS, qint64 AFrames, int ABlockPeak) const
    {
        if (PeakBound.Gain <= 0)
            return true;
        const double peak = std::max(ABlockPeak, HistoryPeak) / 32768.0;
        if (PeakBound.Gain * peak <= TruePeak)
            return false;
        return PeakBound.DcGain * peak + PeakBound.SlopeGain * LargestStep(AS, AFrames) / 32768.0 > TruePeak;
    }

    // The largest difference of neighbouring frames of a channel in History followed by the block.
    int LargestStep(const int16_t *AS, qint64 AFrames) const
    {
        const size_t ch = static_cast<size_t>(Channels);
        const size_t n = static_cast<size_t>(AFrames) * ch;
        int step = 0;
        for (size_t i = ch; i < History.size(); ++i)
            step = std::max(step, std::abs(History[i] - History[i - ch]));
        for (size_t c = 0; c < ch && c < n; ++c)
            step = std::max(step, std::abs(AS[c] - History[History.size() - ch + c]));
        for (size_t i = ch; i < n; ++i)
            step = std::max(step, std::abs(AS[i] - AS[i - ch]));
        return step;
    }

    void PeakPass(const int16_t *AS, qint64 AFrames, int ABlockPeak)
    {
        const size_t ch = static_cast<size_t>(Channels);
        if (PeakMayRise(AS, AFrames, ABlockPeak)) {
            if (!HistoryFed)
                ebur128_add_frames_short(PeakState.get(), History.data(), InterpolatorHistory);
            ebur128_add_frames_short(PeakState.get(), AS, static_cast<size_t>(AFrames));
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
        std::memcpy(History.data() + old * ch, AS + (static_cast<size_t>(AFrames) - keep) * ch,
                    keep * ch * sizeof(int16_t));
        HistoryPeak = 0;
        for (const int16_t s : History)
            HistoryPeak = std::max(HistoryPeak, s < 0 ? -int(s) : int(s));
    }

    // Clipping and silence of whole frames, then the same frames to libebur128.
    void Process(const int16_t *AS, qint64 AFrames)
    {
        const int ch = Channels;
        int blockPeak = 0;
        for (qint64 f = 0; f < AFrames; ++f) {
            const int16_t *frame = AS + f * ch;
            bool quiet = true;
            for (int c = 0; c < ch; ++c) {
                const int s = frame[c];
                const int mag = s < 0 ? -s : s;
                quiet = quiet && mag <= SilenceLimit;
                if (mag > blockPeak)
                    blockPeak = mag;
                if (s == 32767 || s == -32768) {
                    if (++ClipRun[c] == ClipRunMinSamples) {
                        ++R.ClipRunCount;
                        if (R.ClipRuns.size() < static_cast<size_t>(MaxListedRuns))
                            R.ClipRuns.push_back({Sec(Frames + f - (ClipRunMinSamples - 1)), c});
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
        PeakPass(AS, AFrames, blockPeak);
        Frames += AFrames;
        if (Worker)
            Submit(AS, AFrames);
        else
            LoudnessBlock(AS, AFrames);
    }

    // The loudness of a block: on the worker thread when there is one, else on the caller's.
    void LoudnessBlock(const int16_t *AS, qint64 AFrames)
    {
        ebur128_add_frames_short(State.get(), AS, static_cast<size_t>(AFrames));
        if (AFrames != BlockFrames)
            return;  // the tail of the range: no whole block
        // The block's energy from its K-weighted loudness over exactly its own 100 ms.
        double v = 0;
        const double energy = ebur128_loudness_window(State.get(), 100, &v) == EBUR128_SUCCESS && std::isfinite(v)
                                  ? std::pow(10.0, (v + 0.691) / 10.0)
                                  : 0.0;
        BlockEnergy[BlockCount % 30] = energy;
        ++BlockCount;
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
    void Submit(const int16_t *AS, qint64 AFrames)
    {
        std::unique_lock<std::mutex> lock(QueueLock);
        QueueEmptied.wait(lock, [this] { return Pushed - Popped < QueueBlocks; });
        const size_t slot = static_cast<size_t>(Pushed % QueueBlocks);
        lock.unlock();
        std::memcpy(Queue[slot].data(), AS, static_cast<size_t>(AFrames * Channels) * sizeof(int16_t));
        QueueFrames[slot] = AFrames;
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
            LoudnessBlock(Queue[slot].data(), QueueFrames[slot]);
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

    ~Impl() { CloseWorker(); }
};

TLoudnessMeter::TLoudnessMeter(int ASampleRate, int AChannels, const TLoudnessOptions &AOptions, double AStartSec)
    : d(std::make_unique<Impl>())
{
    d->Rate = ASampleRate;
    d->Channels = AChannels;
    d->StartSec = AStartSec;
    d->R.SampleRate = ASampleRate;
    d->R.Channels = AChannels;
    d->R.StartSec = AStartSec;
    d->R.EndSec = AStartSec;
    if (ASampleRate <= 0 || AChannels <= 0)
        return;
    d->State.reset(ebur128_init(static_cast<unsigned>(AChannels), static_cast<unsigned long>(ASampleRate),
                                EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_I | EBUR128_MODE_LRA
                                    | EBUR128_MODE_HISTOGRAM));
    d->PeakState.reset(ebur128_init(static_cast<unsigned>(AChannels), static_cast<unsigned long>(ASampleRate),
                                    EBUR128_MODE_TRUE_PEAK));
    if (!d->PeakState)
        d->State.reset();
    d->PeakBound = InterpolatorBound(ASampleRate);
    d->History.assign(static_cast<size_t>(InterpolatorHistory * AChannels), 0);
    d->BlockFrames = std::max<qint64>(1, ASampleRate / 10);
    d->Block.resize(static_cast<size_t>(d->BlockFrames * AChannels));
    d->ClipRun.assign(static_cast<size_t>(AChannels), 0);
    const double limit = 32768.0 * std::pow(10.0, AOptions.SilenceDb / 20.0);
    // Quieter than the limit: magnitudes strictly below it.
    d->SilenceLimit = static_cast<int>(std::min(32768.0, std::ceil(limit) - 1));
    d->SilenceMinFrames = std::max<qint64>(1, std::llround(AOptions.SilenceMinSec * ASampleRate));
    if (d->State && AOptions.Parallel) {
        for (std::vector<int16_t> &slot : d->Queue)
            slot.resize(d->Block.size());
        d->Worker = std::make_unique<TThreadGroup>();
        Impl *impl = d.get();
        d->Worker->Start([impl] { impl->WorkerLoop(); });
    }
}

TLoudnessMeter::~TLoudnessMeter() = default;

bool TLoudnessMeter::IsValid() const
{
    return d->State != nullptr;
}

void TLoudnessMeter::Feed(const void *AData, qint64 ABytes)
{
    if (!d->State)
        return;
    const int16_t *s = static_cast<const int16_t *>(AData);
    qint64 samples = ABytes / 2;
    const size_t blockSamples = d->Block.size();
    // Whole blocks straight from the caller's buffer when nothing is pending.
    while (samples > 0) {
        if (d->BlockFill == 0 && static_cast<size_t>(samples) >= blockSamples) {
            d->Process(s, d->BlockFrames);
            s += blockSamples;
            samples -= static_cast<qint64>(blockSamples);
            continue;
        }
        const size_t take = std::min(blockSamples - d->BlockFill, static_cast<size_t>(samples));
        std::memcpy(d->Block.data() + d->BlockFill, s, take * 2);
        d->BlockFill += take;
        s += take;
        samples -= static_cast<qint64>(take);
        if (d->BlockFill == blockSamples) {
            d->Process(d->Block.data(), d->BlockFrames);
            d->BlockFill = 0;
        }
    }
}

TLoudnessResult TLoudnessMeter::Finish()
{
    Impl &m = *d;
    TLoudnessResult &r = m.R;
    r.IntegratedLufs = r.RangeLu = r.MomentaryMaxLufs = r.ShorttermMaxLufs = MinusInf;
    r.TruePeakDbtp = r.SamplePeakDbfs = MinusInf;
    if (!m.State)
        return r;
    const qint64 tailFrames = static_cast<qint64>(m.BlockFill) / m.Channels;  // a partial last frame is dropped
    if (tailFrames > 0)
        m.Process(m.Block.data(), tailFrames);
    m.BlockFill = 0;
    m.EndQuiet(m.Frames);
    m.CloseWorker();
    r.EndSec = m.Sec(m.Frames);
    double v = 0;
    r.IntegratedLufs = Lufs(m.State.get(), ebur128_loudness_global);
    r.RangeLu = ebur128_loudness_range(m.State.get(), &v) == EBUR128_SUCCESS && std::isfinite(v) ? v : 0;
    r.MomentaryMaxLufs = m.MomentaryMax;
    r.ShorttermMaxLufs = m.ShorttermMax;
    // libebur128 reports the larger of the oversampled and the sample peak.
    r.TruePeakDbtp = ToDb(std::max(m.TruePeak, m.SamplePeak / 32768.0));
    r.SamplePeakDbfs = ToDb(m.SamplePeak / 32768.0);
    return r;
}

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
    const qint64 T = stream.LengthBytes();
    qint64 start = AStartSec <= 0 ? 0 : stream.SecondsToBytes(AStartSec) / B * B;
    qint64 end = AEndSec <= 0 ? T : stream.SecondsToBytes(AEndSec) / B * B;
    end = std::min(end, T);
    start = std::min(start, end);
    TLoudnessMeter meter(stream.SampleRate(), stream.Channels(), AOptions, stream.BytesToSeconds(start));
    if (!meter.IsValid()) {
        TLoudnessResult r = meter.Finish();
        r.Error = aeFileForm;
        return r;
    }
    if (start > 0 && end > start && !stream.SeekBytes(start)) {
        TLoudnessResult r = meter.Finish();
        r.Error = aeFileForm;
        return r;
    }
    bool cancelled = false;
    if (end > start) {
        TCancelProgress progress;
        if (AProgress)
            progress = [&AProgress, &cancelled](int APercent) {
                const bool goOn = AProgress(APercent);
                cancelled = cancelled || !goOn;
                return goOn;
            };
        ExportReadLoop([&stream](char *ABuf, qint64 AMax) { return stream.Read(ABuf, AMax); }, end - start, progress,
                       [&meter](const char *AData, qint64 AN) {
                           meter.Feed(AData, AN);
                           return true;
                       });
    }
    TLoudnessResult r = meter.Finish();
    r.Cancelled = cancelled;
    return r;
}
