// Decoding stream over the FFmpeg libraries: exact decoded length, sample-exact seeking, 16-bit output.
#include "uDecoder.h"

#include "uAvHandles.h"
#include "uPlaybackPlan.h"
#include "uReaderTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Decoding from this far before a seek target makes the samples at the target identical to a straight
// decode for the lossy codecs (MP3 bit reservoir, Vorbis warm-up need up to ~200 ms).
constexpr double SeekPrerollSec = 0.5;
// Opus needs longer: its post-filter is a comb with feedback (gain up to 0.75, period up to 1022
// samples), and a difference in its history dies out only after ~70 periods, about 1.5 s. With 0.5 s a
// sample a few milliseconds after the target was seen one step off.
constexpr double OpusSeekPrerollSec = 2.0;
// A frame timed this many samples or fewer away from where the one before it ended is in place (rounding
// of the container's time base).
constexpr int64_t GapToleranceFrames = 1;
// A decoder that keeps failing on every packet is given up after this many failures in a row.
constexpr int MaxConsecutiveErrors = 1000;

bool IsPcm(AVCodecID AId)
{
    return av_get_bits_per_sample(AId) > 0;  // raw PCM and ADPCM: the container's length is exact
}

// Codecs whose every sample stands on its own: a seek lands on the very sample, without pre-roll.
// (ADPCM is not among them: its samples follow from the ones before, and the WAV demuxer places an
// ADPCM seek seconds away from the target.)
bool IsSampleCodec(AVCodecID AId)
{
    switch (AId) {
    case AV_CODEC_ID_PCM_S16LE: case AV_CODEC_ID_PCM_S16BE: case AV_CODEC_ID_PCM_U8: case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_S24LE: case AV_CODEC_ID_PCM_S24BE: case AV_CODEC_ID_PCM_S32LE: case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE: case AV_CODEC_ID_PCM_F32BE: case AV_CODEC_ID_PCM_F64LE: case AV_CODEC_ID_PCM_F64BE:
    case AV_CODEC_ID_PCM_ALAW: case AV_CODEC_ID_PCM_MULAW:
        return true;
    default:
        return false;
    }
}

// Codecs whose seek with pre-roll and discard gives the straight decode's bits, as the identity tests
// show for each of them. Every other codec seeks by decoding from the start (or on from where it is).
bool SeekLandsExactly(AVCodecID AId)
{
    return IsSampleCodec(AId) || AId == AV_CODEC_ID_FLAC || AId == AV_CODEC_ID_MP3 || AId == AV_CODEC_ID_MP2
           || AId == AV_CODEC_ID_VORBIS || AId == AV_CODEC_ID_OPUS;
}

} // namespace

struct TDecodeStream::Impl {
    QByteArray path;  // the file's name by its bytes (PathBytes), which need not be UTF-8
    int lastError = aeOK;
    bool open = false;

    // Codec objects, in lifetime order: the format context outlives the codec context reading from it.
    TFormatPtr fmt;
    TCodecCtxPtr codec;
    TSwrPtr swr;
    TFramePtr frame = TFramePtr(av_frame_alloc());
    TPacketPtr packet = TPacketPtr(av_packet_alloc());
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    // Layout and format the converter was set up for (rebuilt when a frame differs).
    int swrInFormat = -1;
    int swrInRate = 0;
    AVChannelLayout swrInLayout{};

    int rate = 0;
    int channels = 0;
    int blockAlign = 0;
    qint64 lengthBytes = 0;
    bool exactPreroll = false;  // PCM and FLAC land exactly: no pre-roll needed
    bool exactSeek = false;     // a seek with pre-roll gives the straight decode's bits (else: from the start)
    double prerollSec = SeekPrerollSec;
    bool vorbis = false;
    int64_t firstPts = 0;       // timestamp of the first sample a straight decode delivers

    // Where packets lie (file position, timestamp), noted while counting the frames: given to the demuxer,
    // it makes the first seek of a format without a table of contents (MP3) instant instead of a scan of
    // the file up to the target, in this stream and in every stream opened like it.
    std::vector<AVIndexEntry> index;  // every packet of the stream, ascending by timestamp (from the count)

    qint64 pos = 0;               // byte position of the next byte Read delivers
    std::vector<uint8_t> pending; // converted bytes not delivered yet
    size_t pendingOff = 0;
    qint64 discardBytes = 0;      // bytes still to drop after a seek
    bool drained = false;         // end of packets sent to the decoder
    bool eof = false;             // the decoder has nothing more
    bool padToLength = true;      // silence from an early end of the decoder up to lengthBytes
    int decodeErrors = 0;         // packets or frames refused since Open
    int gaps = 0;                 // frames not timed where the samples before them end, since Open
    int64_t nextSample = -1;      // where the next frame's timestamp should be (samples), -1 unknown
    int64_t offTime = 0;          // how far the last timed frame lay from nextSample, when offTimed
    bool offTimed = false;
    qint64 filledBytes = 0;       // silence delivered in place of missing audio since Open

    ~Impl() { av_channel_layout_uninit(&swrInLayout); }

    int OpenContexts();
    qint64 CountFrames();
    void ApplyIndex(int64_t ATimestamp);  // gives the demuxer the packet at or before ATimestamp
    int NextFrame();
    void NoteFrameTime();
    bool ConvertFrame(uint8_t *AOut);
    void ResetState();
    bool DecodeFirst();
    bool Reopen();
    bool RestartAt(qint64 ATarget);
};

// Opens the container and the decoder; returns an error code (aeOK on success).
int TDecodeStream::Impl::OpenContexts()
{
    codec.reset();
    fmt.reset();
    swr.reset();
    swrInFormat = -1;
    AVFormatContext *raw = nullptr;
    int r = avformat_open_input(&raw, path.constData(), nullptr, nullptr);
    if (r < 0)
        return r == AVERROR(ENOENT) || r == AVERROR(EACCES) || r == AVERROR(EISDIR) ? aeFileOpen : aeFileForm;
    fmt.reset(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0)
        return aeFileForm;
    const AVCodec *dec = nullptr;
    r = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &dec, 0);
    if (r == AVERROR_DECODER_NOT_FOUND)
        return aeCodec;
    if (r < 0 || !dec)
        return aeFileForm;
    // MP2: the fixed-point decoder carries its rounding error from sample to sample through the whole
    // file, so no seek can give its bits again; the floating-point one keeps no such state.
    if (dec->id == AV_CODEC_ID_MP2) {
        if (const AVCodec *flt = avcodec_find_decoder_by_name("mp2float"))
            dec = flt;
    }
    streamIndex = r;
    AVStream *st = fmt->streams[streamIndex];
    timeBase = st->time_base;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVCodecParameters *par = st->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0)
        return aeFileForm;  // random bytes "open" like this
    codec.reset(avcodec_alloc_context3(dec));
    if (!codec)
        return aeMem;
    if (avcodec_parameters_to_context(codec.get(), par) < 0)
        return aeCodec;
    codec->thread_count = 1;  // more threads make FLAC slower
    codec->pkt_timebase = st->time_base;
    if (avcodec_open2(codec.get(), dec, nullptr) < 0)
        return aeCodec;
    return aeOK;
}

// Counts the frames a straight decode delivers, from the packets alone, without decoding.
// Ogg (Vorbis, Opus): the demuxer trims the last packet to the final granule, so the decoded length is the
// end of the last packet less the stream's start. MPEG audio, AAC and AC3 (one codec frame in each packet):
// each packet decodes to the codec's frame size. Others: each packet to its duration. Less, in both, the
// samples the decoder is told to trim at the start (encoder delay) and the end (padding). Returns -1 when
// a packet carries no duration, or one that is no whole number of samples (a raw AC3 file's 1/90000 s
// time base; WMA's milliseconds, where one packet holds several frames): the caller counts by decoding.
qint64 TDecodeStream::Impl::CountFrames()
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.constData(), nullptr, nullptr) < 0)
        return -1;
    TFormatPtr scan(raw);
    if (avformat_find_stream_info(scan.get(), nullptr) < 0 || streamIndex >= static_cast<int>(scan->nb_streams))
        return -1;
    for (unsigned i = 0; i < scan->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex)
            scan->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream *st = scan->streams[streamIndex];
    const AVRational tb = st->time_base;
    const AVRational sampleTb{1, rate};
    const AVCodecID id = st->codecpar->codec_id;
    const bool byGranule = id == AV_CODEC_ID_VORBIS || id == AV_CODEC_ID_OPUS;
    const bool framePerPacket = id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3
                                || id == AV_CODEC_ID_AAC || id == AV_CODEC_ID_AC3;
    int frameSize = framePerPacket ? st->codecpar->frame_size : 0;
    if (id == AV_CODEC_ID_AC3 && frameSize <= 0)
        frameSize = 1536;  // six blocks of 256 samples, in every AC3 frame
    TPacketPtr pkt(av_packet_alloc());
    int64_t trimmed = 0;     // samples
    int64_t durationTs = 0;  // summed in the stream's time base, converted once (no rounding drift)
    int64_t frameSamples = 0;
    int64_t endTs = AV_NOPTS_VALUE;
    while (av_read_frame(scan.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == streamIndex) {
            if (pkt->duration <= 0 && (byGranule || frameSize <= 0)) {
                av_packet_unref(pkt.get());
                return -1;
            }
            if (byGranule) {
                if (pkt->pts != AV_NOPTS_VALUE && (endTs == AV_NOPTS_VALUE || pkt->pts + pkt->duration > endTs))
                    endTs = pkt->pts + pkt->duration;
            } else if (frameSize > 0) {
                frameSamples += frameSize;
            } else {
                if (pkt->duration * tb.num * rate % tb.den != 0) {
                    av_packet_unref(pkt.get());
                    return -1;
                }
                durationTs += pkt->duration;
            }
            size_t size = 0;
            const uint8_t *side = av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (side && size >= 10 && !byGranule) {
                uint32_t skipStart, skipEnd;
                std::memcpy(&skipStart, side, 4);
                std::memcpy(&skipEnd, side + 4, 4);
                trimmed += static_cast<int64_t>(skipStart) + static_cast<int64_t>(skipEnd);
            }
        }
        av_packet_unref(pkt.get());
    }
    AVStream *scanned = scan->streams[streamIndex];
    const int entries = avformat_index_get_entries_count(scanned);
    index.clear();
    index.reserve(static_cast<size_t>(std::max(entries, 0)));
    for (int i = 0; i < entries; ++i)
        index.push_back(*avformat_index_get_entry(scanned, i));
    if (byGranule) {
        if (endTs == AV_NOPTS_VALUE)
            return 0;
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        return std::max<int64_t>(av_rescale_q(endTs - start, tb, sampleTb), 0);
    }
    return std::max<int64_t>(frameSamples + av_rescale_q(durationTs, tb, sampleTb) - trimmed, 0);
}

void TDecodeStream::Impl::ApplyIndex(int64_t ATimestamp)
{
    // Only the packet a seek lands on: the demuxer puts every packet it reads into the index as well, and
    // one that held the whole file had it insert each one in its middle, moving the rest (a tenth of an
    // MP3 pass). Reading on from a single entry only appends.
    const auto after = std::upper_bound(index.begin(), index.end(), ATimestamp,
                                        [](int64_t ATs, const AVIndexEntry &AEntry) { return ATs < AEntry.timestamp; });
    if (after == index.begin())
        return;
    const AVIndexEntry &e = *(after - 1);
    av_add_index_entry(fmt->streams[streamIndex], e.pos, e.timestamp, e.size, e.min_distance, e.flags);
}

void TDecodeStream::Impl::ResetState()
{
    pos = 0;
    pending.clear();
    pendingOff = 0;
    discardBytes = 0;
    drained = false;
    eof = false;
    nextSample = -1;
    offTimed = false;
}

// Counts a gap when frames are timed elsewhere than where the frames before them end: data went missing in
// between (a lost Ogg page), or came again (timestamps that run backwards), and a straight decode delivers
// what follows elsewhere than a seek finds it. Only codecs that seek directly are checked: their parts and
// seeks go by these timestamps. The Ogg demuxer guesses the length of a Vorbis packet that starts a page
// from its block sizes and can time that one packet off by up to half a block while the next is in place
// again; so a gap is counted when the next timed frame lies just as far off, never for one frame alone.
void TDecodeStream::Impl::NoteFrameTime()
{
    if (!exactSeek || nextSample < 0)
        return;
    if (frame->pts != AV_NOPTS_VALUE) {
        const int64_t at = av_rescale_q(frame->pts - firstPts, timeBase, AVRational{1, rate});
        const int64_t off = at - nextSample;
        if (std::llabs(off) <= GapToleranceFrames) {
            offTimed = false;
        } else if (offTimed && std::llabs(off - offTime) <= GapToleranceFrames) {
            ++gaps;
            nextSample = at;
            offTimed = false;
        } else {
            offTime = off;
            offTimed = true;
        }
    }
    nextSample += frame->nb_samples;
}

// Next decoded frame into `frame`: 1 a frame, 0 the end (also after unrecoverable errors).
int TDecodeStream::Impl::NextFrame()
{
    int errors = 0;
    for (;;) {
        int r = avcodec_receive_frame(codec.get(), frame.get());
        if (r >= 0) {
            if (frame->nb_samples > 0) {
                NoteFrameTime();
                return 1;
            }
            av_frame_unref(frame.get());
            continue;
        }
        if (r == AVERROR_EOF || drained)
            return 0;
        if (r != AVERROR(EAGAIN)) {
            ++decodeErrors;
            if (++errors > MaxConsecutiveErrors)
                return 0;
        }
        r = av_read_frame(fmt.get(), packet.get());
        if (r < 0) {
            avcodec_send_packet(codec.get(), nullptr);
            drained = true;
            continue;
        }
        if (packet->stream_index == streamIndex) {
            r = avcodec_send_packet(codec.get(), packet.get());
            if (r < 0 && r != AVERROR(EAGAIN)) {
                ++decodeErrors;
                if (++errors > MaxConsecutiveErrors) {
                    av_packet_unref(packet.get());
                    return 0;
                }
            }
            if (r >= 0)
                errors = 0;
        }
        av_packet_unref(packet.get());
    }
}

// Converts `frame` to interleaved 16-bit samples with our channel count into AOut (room for
// frame->nb_samples * blockAlign bytes). No resampling: a frame at another rate is taken as it is.
bool TDecodeStream::Impl::ConvertFrame(uint8_t *AOut)
{
    const bool sameLayout = av_channel_layout_compare(&frame->ch_layout, &swrInLayout) == 0;
    if (!swr || frame->format != swrInFormat || frame->sample_rate != swrInRate || !sameLayout) {
        swr.reset();
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, channels);
        AVChannelLayout inLayout{};
        if (frame->ch_layout.nb_channels > 0)
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        else
            av_channel_layout_default(&inLayout, channels);
        SwrContext *s = nullptr;
        // Same rate on both sides: the rate of the frame is what we deliver, never resampled.
        const int r = swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, frame->sample_rate > 0 ? frame->sample_rate : rate,
                                          &inLayout, static_cast<AVSampleFormat>(frame->format),
                                          frame->sample_rate > 0 ? frame->sample_rate : rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (r < 0 || !s) {
            av_channel_layout_uninit(&inLayout);
            swr_free(&s);
            return false;
        }
        if (inLayout.nb_channels != channels)
            av_opt_set_int(s, "rematrix_maxval", 1, 0);
        swr.reset(s);
        if (swr_init(swr.get()) < 0) {
            av_channel_layout_uninit(&inLayout);
            swr.reset();
            return false;
        }
        av_channel_layout_uninit(&swrInLayout);
        swrInLayout = inLayout;  // takes over
        swrInFormat = frame->format;
        swrInRate = frame->sample_rate;
    }
    uint8_t *outPlanes[1] = {AOut};
    const int n = swr_convert(swr.get(), outPlanes, frame->nb_samples,
                              const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (n < frame->nb_samples)
        std::memset(AOut + static_cast<size_t>(std::max(n, 0)) * blockAlign, 0,
                    static_cast<size_t>(frame->nb_samples - std::max(n, 0)) * blockAlign);
    return true;
}

// Decodes the first frame of a freshly opened stream, notes where the straight decode begins and keeps
// the frame's samples as the first bytes to deliver. False when the stream holds no audio at all.
bool TDecodeStream::Impl::DecodeFirst()
{
    ResetState();
    if (NextFrame() != 1) {
        eof = true;
        return false;
    }
    int64_t ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    firstPts = ts != AV_NOPTS_VALUE ? ts : 0;
    nextSample = frame->nb_samples;
    pending.resize(static_cast<size_t>(frame->nb_samples) * blockAlign);
    pendingOff = 0;
    if (!ConvertFrame(pending.data()))
        pending.clear();
    av_frame_unref(frame.get());
    return true;
}

bool TDecodeStream::Impl::Reopen()
{
    if (OpenContexts() != aeOK)
        return false;
    DecodeFirst();
    return true;
}

bool TDecodeStream::Impl::RestartAt(qint64 ATarget)
{
    if (!Reopen()) {
        open = false;
        lastError = aeFileOpen;
        return false;
    }
    discardBytes = ATarget;
    pos = ATarget;
    return true;
}

TDecodeStream::TDecodeStream() : d(new Impl) {}
TDecodeStream::~TDecodeStream() = default;

bool TDecodeStream::Open(const QString &APath)
{
    d->index.clear();
    return OpenWithLength(APath, -1);
}

bool TDecodeStream::OpenKnownLength(const QString &APath, qint64 AKnownBytes)
{
    if (AKnownBytes < 0)
        return Open(APath);
    d->index.clear();
    return OpenWithLength(APath, -1, AKnownBytes);
}

bool TDecodeStream::OpenLike(const TDecodeStream &AOther)
{
    if (!AOther.d->open)
        return false;
    d->index = AOther.d->index;
    if (!OpenWithLength(PathFromBytes(AOther.d->path), AOther.d->lengthBytes / AOther.d->blockAlign))
        return false;
    if (d->rate != AOther.d->rate || d->channels != AOther.d->channels) {
        d->open = false;
        d->lastError = aeFileForm;
        return false;
    }
    return true;
}

bool TDecodeStream::SeeksDirectly() const { return d->exactSeek; }

bool TDecodeStream::OpenWithLength(const QString &APath, qint64 AKnownFrames, qint64 AKnownBytes)
{
    d->open = false;
    d->lastError = aeOK;
    d->decodeErrors = 0;
    d->gaps = 0;
    d->filledBytes = 0;
    d->path = PathBytes(APath);  // a name by its bytes, also when they are not UTF-8
    // A FIFO or a device would block the demuxer for ever: only regular files are read.
    if (!IsRegularFilePath(APath)) {
        d->lastError = aeFileOpen;
        return false;
    }
    const int err = d->OpenContexts();
    if (err != aeOK) {
        d->lastError = err;
        d->codec.reset();
        d->fmt.reset();
        return false;
    }
    const AVStream *stream = d->fmt->streams[d->streamIndex];
    d->rate = d->codec->sample_rate > 0 ? d->codec->sample_rate : stream->codecpar->sample_rate;
    d->channels = stream->codecpar->ch_layout.nb_channels;
    d->blockAlign = d->channels * 2;
    const AVCodecID id = stream->codecpar->codec_id;
    d->exactPreroll = IsSampleCodec(id) || id == AV_CODEC_ID_FLAC;
    d->prerollSec = id == AV_CODEC_ID_OPUS ? OpusSeekPrerollSec : SeekPrerollSec;
    d->vorbis = id == AV_CODEC_ID_VORBIS;
    d->exactSeek = SeekLandsExactly(id);
    // A sample codec's seek is a byte position from the header's byte rate and block size: a header whose
    // fields disagree with the rate and channels (a damaged rate field) puts it elsewhere than the samples
    // a straight decode counts, with timestamps that agree with the seek. Such a file is decoded straight.
    if (IsSampleCodec(id)) {
        const AVCodecParameters *par = stream->codecpar;
        const int64_t frameBytes = int64_t(d->channels) * av_get_bits_per_sample(id) / 8;
        if ((par->bit_rate > 0 && par->bit_rate != int64_t(d->rate) * frameBytes * 8)
            || (par->block_align > 0 && par->block_align != frameBytes))
            d->exactSeek = false;
    }

    // The exact decoded length: PCM and FLAC (its stream header counts the samples) say it; for the
    // others count the packets.
    qint64 frames = AKnownFrames;
    // A length in bytes stands only when it is whole frames of this file's channel count.
    if (frames < 0 && AKnownBytes >= 0 && AKnownBytes % d->blockAlign == 0)
        frames = AKnownBytes / d->blockAlign;
    const bool known = stream->duration > 0 && stream->duration != AV_NOPTS_VALUE;
    if (frames < 0 && (IsPcm(id) || id == AV_CODEC_ID_FLAC) && known)
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, d->rate});
    // Ogg: the demuxer reads the final granule position, the exact end; Opus counts its pre-skip in it.
    if (frames < 0 && known && !std::strcmp(d->fmt->iformat->name, "ogg") && (id == AV_CODEC_ID_VORBIS || id == AV_CODEC_ID_OPUS)) {
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, d->rate});
        if (id == AV_CODEC_ID_OPUS)
            frames -= stream->codecpar->initial_padding;
        if (frames < 0)
            frames = -1;
    }
    if (frames < 0)
        frames = d->CountFrames();
    d->DecodeFirst();
    if (frames < 0) {
        // No packet durations: count by decoding (slow, rare), then start again.
        frames = static_cast<qint64>(d->pending.size() / d->blockAlign);
        while (d->NextFrame() == 1) {
            frames += d->frame->nb_samples;
            av_frame_unref(d->frame.get());
        }
        if (!d->Reopen()) {
            d->lastError = aeFileOpen;
            return false;
        }
    }
    d->lengthBytes = frames * d->blockAlign;
    d->open = true;
    return true;
}

int TDecodeStream::LastError() const { return d->lastError; }
int TDecodeStream::SampleRate() const { return d->rate; }
int TDecodeStream::Channels() const { return d->channels; }
qint64 TDecodeStream::LengthBytes() const { return d->lengthBytes; }
qint64 TDecodeStream::PositionBytes() const { return d->pos; }
int TDecodeStream::DecodeErrors() const { return d->decodeErrors; }
int TDecodeStream::Gaps() const { return d->gaps; }
qint64 TDecodeStream::FilledBytes() const { return d->filledBytes; }

qint64 TDecodeStream::SecondsToBytes(double ASec) const
{
    return SecToFrames(ASec, d->rate) * d->blockAlign;
}

void TDecodeStream::ByteRange(double AStartSec, double AEndSec, qint64 &AStart, qint64 &AEnd) const
{
    const qint64 length = LengthBytes();
    AEnd = AEndSec <= 0 ? length : std::min(SecondsToBytes(AEndSec), length);
    AStart = AStartSec <= 0 ? 0 : std::min(SecondsToBytes(AStartSec), AEnd);
}

double TDecodeStream::BytesToSeconds(qint64 ABytes) const
{
    if (d->blockAlign <= 0)
        return 0;
    return FramesToSec(static_cast<double>(ABytes) / d->blockAlign, d->rate);
}

qint64 TDecodeStream::Read(void *ABuffer, qint64 AMaxBytes)
{
    if (!d->open)
        return -1;
    uint8_t *out = static_cast<uint8_t *>(ABuffer);
    const qint64 limit = std::min(AMaxBytes, d->lengthBytes - d->pos);
    qint64 done = 0;
    while (done < limit) {
        if (d->pendingOff < d->pending.size()) {
            qint64 n = static_cast<qint64>(d->pending.size() - d->pendingOff);
            if (d->discardBytes > 0) {
                const qint64 drop = std::min(n, d->discardBytes);
                d->pendingOff += static_cast<size_t>(drop);
                d->discardBytes -= drop;
                continue;
            }
            n = std::min(n, limit - done);
            std::memcpy(out + done, d->pending.data() + d->pendingOff, static_cast<size_t>(n));
            d->pendingOff += static_cast<size_t>(n);
            done += n;
            continue;
        }
        if (d->eof) {
            // The decoder gave less than the length counted beforehand (damaged data): silence fills up,
            // so that every reader sees exactly the length it was told, unless the reader wants only what
            // decodes.
            if (d->padToLength) {
                std::memset(out + done, 0, static_cast<size_t>(limit - done));
                d->filledBytes += limit - done;
                done = limit;
            }
            break;
        }
        if (d->NextFrame() != 1) {
            d->eof = true;
            continue;
        }
        const qint64 frameBytes = static_cast<qint64>(d->frame->nb_samples) * d->blockAlign;
        if (d->discardBytes >= frameBytes) {
            d->discardBytes -= frameBytes;
        } else if (d->discardBytes == 0 && frameBytes <= limit - done) {
            if (!d->ConvertFrame(out + done))
                std::memset(out + done, 0, static_cast<size_t>(frameBytes));
            done += frameBytes;
        } else {
            d->pending.resize(static_cast<size_t>(frameBytes));
            d->pendingOff = 0;
            if (!d->ConvertFrame(d->pending.data()))
                std::memset(d->pending.data(), 0, d->pending.size());
        }
        av_frame_unref(d->frame.get());
    }
    d->pos += done;
    return done;
}

void TDecodeStream::SetPadToLength(bool APad) { d->padToLength = APad; }

bool TDecodeStream::SeekBytes(qint64 APos)
{
    if (!d->open)
        return false;
    APos = std::clamp<qint64>(APos, 0, d->lengthBytes);
    if (!d->exactSeek) {
        // The bytes at pos are only sure from a decode that came all the way from the start: go on from
        // here when pos lies ahead, else start again.
        if (APos >= d->pos) {
            d->discardBytes += APos - d->pos;
            d->pos = APos;
            return true;
        }
        return d->RestartAt(APos);
    }
    const qint64 targetFrame = APos / d->blockAlign;
    const qint64 preroll = d->exactPreroll ? 0 : SecToFrames(d->prerollSec, d->rate);
    qint64 back = preroll;
    const AVRational sampleTb{1, d->rate};
    for (int attempt = 0; attempt < 8; ++attempt) {
        const qint64 start = targetFrame - back;
        if (start <= 0)
            break;
        const int64_t ts = d->firstPts + av_rescale_q(start, sampleTb, d->timeBase);
        d->ApplyIndex(ts);
        if (av_seek_frame(d->fmt.get(), d->streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
            break;
        avcodec_flush_buffers(d->codec.get());
        d->ResetState();
        // A frame with a timestamp tells where the decoder landed; frames before it are dropped. After a
        // seek the Ogg demuxer may misplace the first Vorbis packet (its length depends on the block before
        // it, which was not read; seen off by hundreds of samples), and it can time a packet that starts a
        // page off by half a block while the next is in place again: so for Vorbis the first timed frame is
        // dropped with the rest of the pre-roll, and a frame counts as the landing only once the next timed
        // frame lies where its samples (and any untimed ones after it) end. (An Opus packet's length is in
        // its own first byte, so the first one is placed right; its second timestamp can be a page away.)
        qint64 landing = -1;
        int untrusted = d->vorbis ? 1 : 0;
        std::vector<uint8_t> held;  // converted samples from the candidate landing on (Vorbis)
        qint64 candidate = -1;
        for (int i = 0; i < 64; ++i) {
            if (d->NextFrame() != 1)
                break;
            const int64_t fts = d->frame->pts != AV_NOPTS_VALUE ? d->frame->pts : d->frame->best_effort_timestamp;
            const qint64 at = fts != AV_NOPTS_VALUE ? av_rescale_q(fts - d->firstPts, d->timeBase, sampleTb) : -1;
            if (fts != AV_NOPTS_VALUE && untrusted-- > 0) {
                av_frame_unref(d->frame.get());
                continue;
            }
            if (!d->vorbis && fts != AV_NOPTS_VALUE) {
                landing = at;
                break;
            }
            if (d->vorbis) {
                const qint64 heldFrames = static_cast<qint64>(held.size()) / d->blockAlign;
                if (fts != AV_NOPTS_VALUE && candidate >= 0 && std::llabs(at - (candidate + heldFrames)) <= GapToleranceFrames) {
                    landing = candidate;
                    break;
                }
                if (fts != AV_NOPTS_VALUE) {
                    candidate = at;
                    held.clear();
                }
                if (candidate >= 0) {
                    const size_t from = held.size();
                    held.resize(from + static_cast<size_t>(d->frame->nb_samples) * d->blockAlign);
                    if (!d->ConvertFrame(held.data() + from))
                        std::memset(held.data() + from, 0, held.size() - from);
                }
            }
            av_frame_unref(d->frame.get());
        }
        if (landing < 0 || landing > start) {
            // Landed after the point asked for (or nowhere): go further back.
            av_frame_unref(d->frame.get());
            back = back > 0 ? back * 2 : d->rate;
            continue;
        }
        // The landing frame (and for Vorbis the frames held since it) are the first bytes to deliver.
        const qint64 frameBytes = static_cast<qint64>(d->frame->nb_samples) * d->blockAlign;
        d->pending = std::move(held);
        const size_t from = d->pending.size();
        d->pending.resize(from + static_cast<size_t>(frameBytes));
        if (!d->ConvertFrame(d->pending.data() + from))
            std::memset(d->pending.data() + from, 0, static_cast<size_t>(frameBytes));
        d->nextSample = landing + static_cast<qint64>(d->pending.size()) / d->blockAlign;
        av_frame_unref(d->frame.get());
        d->pendingOff = 0;
        d->discardBytes = APos - landing * d->blockAlign;
        d->pos = APos;
        return true;
    }
    // Near the start, or the container cannot seek: decode from the beginning and skip to the target.
    return d->RestartAt(APos);
}

namespace {

QString LibVersion(unsigned AVersion)
{
    return QStringLiteral("%1.%2").arg(AVersion >> 16).arg((AVersion >> 8) & 0xff);
}

} // namespace

QString AudioErrorText(int ACode)
{
    switch (ACode) {
    case aeOK: return QStringLiteral("geen fout");
    case aeMem: return QStringLiteral("geheugenfout");
    case aeFileOpen: return QStringLiteral("kan het bestand niet openen");
    case aeDriver: return QStringLiteral("kan het uitvoerapparaat niet gebruiken");
    case aeFormat: return QStringLiteral("niet-ondersteund audioformaat");
    case aeInit: return QStringLiteral("de audiobibliotheek is niet geïnitialiseerd");
    case aeNoChan: return QStringLiteral("kan geen vrij kanaal openen");
    case aeFileForm: return QStringLiteral("niet-ondersteund bestandsformaat (ontbrekende codec/plugin)");
    case aeCodec: return QStringLiteral("codec niet beschikbaar");
    default: return QStringLiteral("onbekende fout");
    }
}

QString AudioLibrariesText()
{
    return QStringLiteral("FFmpeg %1 (libavformat %2, libavcodec %3, libswresample %4) "
                          "met libmp3lame, libvorbis, libopus\n"
                          "Qt Multimedia %5")
        .arg(QString::fromLatin1(av_version_info()).section(QLatin1Char('-'), 0, 0),
             LibVersion(avformat_version()), LibVersion(avcodec_version()), LibVersion(swresample_version()),
             QString::fromLatin1(qVersion()));
}
