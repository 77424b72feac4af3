// MP3, OGG (Vorbis) and Opus encoding of 16-bit PCM into a file, through libavcodec and libavformat.
#include "uEncoder.h"

#include "uAvHandles.h"

#include <QFile>
#include <QList>

#include <cmath>
#include <cstdlib>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace {

QString AvErrorText(int AErr)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(AErr, buf, sizeof buf);
    return QString::fromLocal8Bit(buf);
}

struct TFormatSetup {
    const char *codec;
    const char *muxer;
    AVSampleFormat sampleFmt;
};

bool SetupOf(TAudioFormat AFormat, TFormatSetup &ASetup)
{
    switch (AFormat) {
    case TAudioFormat::afMP3: ASetup = {"libmp3lame", "mp3", AV_SAMPLE_FMT_S16P}; return true;
    case TAudioFormat::afOGG: ASetup = {"libvorbis", "ogg", AV_SAMPLE_FMT_FLTP}; return true;
    case TAudioFormat::afOPUS: ASetup = {"libopus", "opus", AV_SAMPLE_FMT_S16}; return true;
    case TAudioFormat::afWAV: break;
    }
    return false;
}

// The rate the encoder will take that is nearest to the source's (the source's own when it is listed).
int NearestRate(const AVCodec *ACodec, int ARate)
{
    if (!ACodec->supported_samplerates)
        return ARate;
    int best = 0;
    for (const int *r = ACodec->supported_samplerates; *r; ++r) {
        if (*r == ARate)
            return ARate;
        if (best == 0 || std::abs(*r - ARate) < std::abs(best - ARate))
            best = *r;
    }
    return best;
}

// Clears the upper halves of the AVX registers. Wide copies on the read path (the C library's memcpy) can
// leave them dirty, and the codec libraries' SSE code then runs at about half speed on AVX-512 machines
// (measured here: an Opus export after a WAV export took 1.9 times as long as the ffmpeg command line;
// with this before each block, 0.95 times).
void ClearUpperVectorState()
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        asm volatile("vzeroupper" ::: "memory");
#endif
}

} // namespace

QByteArray EncoderOptionText(TAudioFormat AFmt, int ABitrate)
{
    switch (AFmt) {
    case TAudioFormat::afMP3:
    case TAudioFormat::afOGG: return QByteArray("-b ") + QByteArray::number(ABitrate);
    case TAudioFormat::afOPUS: return QByteArray("--bitrate ") + QByteArray::number(ABitrate);
    case TAudioFormat::afWAV: break;
    }
    return {};
}

int EncoderOptionBitrate(const QByteArray &AOptions)
{
    const QList<QByteArray> words = AOptions.simplified().split(' ');
    int kbps = 0;
    for (int i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "-b" && words[i] != "--bitrate")
            continue;
        bool ok = false;
        const int v = words[i + 1].toInt(&ok);
        kbps = ok && v > 0 ? v : 0;
        ++i;
    }
    return kbps;
}

struct TEncoder::Impl {
    // Declared in the order of their lifetimes: the file outlives the codec that feeds it.
    TOutputPtr out;
    TCodecCtxPtr codec;
    TSwrPtr swr;
    TFifoPtr fifo;
    TFramePtr frame;
    TPacketPtr packet;
    TSamplesPtr convBuf;  // converted samples before they enter the FIFO
    int convCap = 0;      // frames convBuf holds
    AVSampleFormat outFmt = AV_SAMPLE_FMT_NONE;
    int outChannels = 0;
    int inBlock = 0;        // bytes per input frame
    QByteArray carry;       // a part frame kept from the previous Feed
    int frameSize = 0;      // samples per encoder frame
    int64_t nextPts = 0;
    bool running = false;
    bool headerWritten = false;
    bool failed = false;
    QString error;

    bool Fail(const QString &AWhat, int AErr = 0)
    {
        if (!failed) {
            failed = true;
            error = AErr ? AWhat + QStringLiteral(": ") + AvErrorText(AErr) : AWhat;
        }
        return false;
    }
    bool Convert(const uint8_t *AIn, int AFrames);
    bool EncodeFifo(bool AAll);
    bool Send(const AVFrame *AFrame);
};

TEncoder::TEncoder()
    : d(std::make_unique<Impl>())
{
}

TEncoder::~TEncoder()
{
    Stop();
}

bool TEncoder::Running() const
{
    return d->running;
}

QString TEncoder::ErrorText() const
{
    return d->error;
}

bool TEncoder::Start(TAudioFormat AFmt, const QByteArray &AOptions, int ASampleRate, int AChannels,
                     const QString &APath)
{
    Stop();
    d = std::make_unique<Impl>();
    Impl &e = *d;
    TFormatSetup setup;
    if (!SetupOf(AFmt, setup))
        return e.Fail(QStringLiteral("no encoder for this format"));
    const int kbps = EncoderOptionBitrate(AOptions);
    if (kbps <= 0)
        return e.Fail(QStringLiteral("no bitrate in the options \"%1\"").arg(QString::fromLatin1(AOptions)));
    if (ASampleRate <= 0 || AChannels <= 0)
        return e.Fail(QStringLiteral("no audio format"));
    const AVCodec *codec = avcodec_find_encoder_by_name(setup.codec);
    if (!codec)
        return e.Fail(QStringLiteral("encoder %1 not available").arg(QLatin1String(setup.codec)));
    const AVOutputFormat *muxer = av_guess_format(setup.muxer, nullptr, nullptr);
    if (!muxer)
        return e.Fail(QStringLiteral("muxer %1 not available").arg(QLatin1String(setup.muxer)));

    e.outFmt = setup.sampleFmt;
    e.outChannels = qMin(AChannels, 2);
    const int outRate = AFmt == TAudioFormat::afOPUS ? 48000 : NearestRate(codec, ASampleRate);
    e.inBlock = AChannels * 2;

    const bool globalHeader = muxer->flags & AVFMT_GLOBALHEADER;
    auto open = [&](int ATryKbps, int *AErrOut) {
        TCodecCtxPtr c(avcodec_alloc_context3(codec));
        if (!c) {
            *AErrOut = AVERROR(ENOMEM);
            return c;
        }
        c->bit_rate = static_cast<int64_t>(ATryKbps) * 1000;
        c->sample_rate = outRate;
        c->sample_fmt = e.outFmt;
        av_channel_layout_default(&c->ch_layout, e.outChannels);
        c->time_base = AVRational{1, outRate};
        if (globalHeader)
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        *AErrOut = avcodec_open2(c.get(), codec, nullptr);
        if (*AErrOut < 0)
            c.reset();
        return c;
    };
    // libopus takes at most 256 kbit/s per channel; nothing here goes beyond 2048.
    const int asked = qMin(kbps, AFmt == TAudioFormat::afOPUS ? 256 * e.outChannels : 2048);
    int err = 0;
    e.codec = open(asked, &err);
    if (!e.codec && err != AVERROR(ENOMEM)) {
        // The bitrate is outside what the encoder does at this rate and channel count (Vorbis has a
        // narrow band at low rates): take the accepted bitrate nearest to the one asked for. Steps that
        // grow by a quarter octave on both sides find one, then halving steps close in on the edge.
        const int level = av_log_get_level();
        av_log_set_level(AV_LOG_FATAL);
        int good = 0, scratch = 0;
        for (int k = 1; k <= 48 && !good; ++k) {
            const double f = std::exp2(k / 4.0);
            for (double v : {asked / f, asked * f}) {
                const int n = static_cast<int>(std::lround(qBound(1.0, v, 2048.0)));
                if (!good && n != asked && open(n, &scratch))
                    good = n;
            }
        }
        if (good) {
            // The accepted bitrates form one band: the edge lies between the asked one and good.
            int bad = asked;
            while (std::abs(good - bad) > 1) {
                const int mid = (good + bad) / 2;
                if (open(mid, &scratch))
                    good = mid;
                else
                    bad = mid;
            }
            e.codec = open(good, &err);
        }
        av_log_set_level(level);
    }
    if (!e.codec)
        return e.Fail(QStringLiteral("cannot open encoder %1").arg(QLatin1String(setup.codec)), err);
    AVCodecContext *c = e.codec.get();
    e.frameSize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || c->frame_size <= 0 ? 4096
                                                                                                  : c->frame_size;

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, AChannels);
    SwrContext *swr = nullptr;
    err = swr_alloc_set_opts2(&swr, &c->ch_layout, e.outFmt, outRate, &inLayout, AV_SAMPLE_FMT_S16, ASampleRate, 0,
                              nullptr);
    av_channel_layout_uninit(&inLayout);
    e.swr.reset(swr);
    if (err < 0 || (err = swr_init(swr)) < 0)
        return e.Fail(QStringLiteral("cannot set up the sample conversion"), err);
    e.fifo.reset(av_audio_fifo_alloc(e.outFmt, e.outChannels, e.frameSize * 2));
    e.frame.reset(av_frame_alloc());
    e.packet.reset(av_packet_alloc());
    if (!e.fifo || !e.frame || !e.packet)
        return e.Fail(QStringLiteral("out of memory"));
    AVFrame *f = e.frame.get();
    f->format = e.outFmt;
    f->sample_rate = outRate;
    f->nb_samples = e.frameSize;
    if ((err = av_channel_layout_copy(&f->ch_layout, &c->ch_layout)) < 0 || (err = av_frame_get_buffer(f, 0)) < 0)
        return e.Fail(QStringLiteral("out of memory"), err);

    AVFormatContext *oc = nullptr;
    err = avformat_alloc_output_context2(&oc, muxer, nullptr, nullptr);
    if (err < 0 || !oc)
        return e.Fail(QStringLiteral("cannot set up the %1 muxer").arg(QLatin1String(setup.muxer)), err);
    e.out.reset(oc);
    // The Ogg muxer draws each stream's serial number at random unless asked to be bit-exact: the same range
    // exported twice must give the same bytes, so that a clip can be checked by exporting it again.
    if (AFmt == TAudioFormat::afOGG || AFmt == TAudioFormat::afOPUS)
        oc->flags |= AVFMT_FLAG_BITEXACT;
    AVStream *st = avformat_new_stream(oc, nullptr);
    if (!st)
        return e.Fail(QStringLiteral("out of memory"));
    if ((err = avcodec_parameters_from_context(st->codecpar, c)) < 0)
        return e.Fail(QStringLiteral("cannot describe the stream"), err);
    st->time_base = c->time_base;
    // "file:" keeps a colon in the name from being read as a protocol.
    const QByteArray url = QByteArray("file:") + PathBytes(APath);
    if ((err = avio_open(&oc->pb, url.constData(), AVIO_FLAG_WRITE)) < 0)
        return e.Fail(QStringLiteral("cannot create file \"%1\"").arg(APath), err);
    e.running = true;  // from here on Stop closes the file
    err = avformat_write_header(oc, nullptr);
    if (err >= 0 && oc->pb->error < 0)
        err = oc->pb->error;
    if (err < 0) {
        e.Fail(QStringLiteral("cannot write the file header"), err);
        Stop();
        return false;
    }
    e.headerWritten = true;
    return true;
}

bool TEncoder::Impl::Convert(const uint8_t *AIn, int AFrames)
{
    const int need = swr_get_out_samples(swr.get(), AFrames);
    if (need < 0)
        return Fail(QStringLiteral("sample conversion failed"), need);
    if (need > convCap) {
        uint8_t *buf = nullptr;
        const int planes = av_sample_fmt_is_planar(outFmt) ? outChannels : 1;
        std::vector<uint8_t *> ptrs(static_cast<size_t>(planes));
        int lineSize = 0;
        const int err = av_samples_alloc(ptrs.data(), &lineSize, outChannels, need, outFmt, 0);
        if (err < 0)
            return Fail(QStringLiteral("out of memory"), err);
        buf = ptrs[0];
        convBuf.reset(buf);
        convCap = need;
    }
    uint8_t *planesOut[AV_NUM_DATA_POINTERS] = {};
    av_samples_fill_arrays(planesOut, nullptr, convBuf.get(), outChannels, convCap, outFmt, 0);
    const uint8_t *inPlanes[1] = {AIn};
    const int got = swr_convert(swr.get(), planesOut, convCap, AIn ? inPlanes : nullptr, AFrames);
    if (got < 0)
        return Fail(QStringLiteral("sample conversion failed"), got);
    if (got > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void **>(planesOut), got) < got)
        return Fail(QStringLiteral("out of memory"));
    return true;
}

bool TEncoder::Impl::Send(const AVFrame *AFrame)
{
    int err = avcodec_send_frame(codec.get(), AFrame);
    if (err < 0)
        return Fail(QStringLiteral("encoding failed"), err);
    AVFormatContext *oc = out.get();
    for (;;) {
        err = avcodec_receive_packet(codec.get(), packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return true;
        if (err < 0)
            return Fail(QStringLiteral("encoding failed"), err);
        av_packet_rescale_ts(packet.get(), codec->time_base, oc->streams[0]->time_base);
        packet->stream_index = 0;
        err = av_write_frame(oc, packet.get());
        av_packet_unref(packet.get());
        if (err >= 0 && oc->pb->error < 0)
            err = oc->pb->error;
        if (err < 0)
            return Fail(QStringLiteral("cannot write to the file"), err);
    }
}

// Encodes every whole frame in the FIFO; with all also the part frame left at the end.
bool TEncoder::Impl::EncodeFifo(bool AAll)
{
    AVFrame *f = frame.get();
    for (;;) {
        const int avail = av_audio_fifo_size(fifo.get());
        if (avail <= 0 || (avail < frameSize && !AAll))
            return true;
        const int n = qMin(avail, frameSize);
        f->nb_samples = frameSize;
        int err = av_frame_make_writable(f);
        if (err < 0)
            return Fail(QStringLiteral("out of memory"), err);
        if (av_audio_fifo_read(fifo.get(), reinterpret_cast<void **>(f->data), n) < n)
            return Fail(QStringLiteral("sample buffer failed"));
        f->nb_samples = n;
        f->pts = nextPts;
        nextPts += n;
        if (!Send(f))
            return false;
    }
}

bool TEncoder::Feed(const void *APcm, qint64 ABytes)
{
    Impl &e = *d;
    if (!e.running || e.failed)
        return false;
    ClearUpperVectorState();
    const uint8_t *p = static_cast<const uint8_t *>(APcm);
    if (!e.carry.isEmpty()) {
        const qint64 take = qMin<qint64>(e.inBlock - e.carry.size(), ABytes);
        e.carry.append(reinterpret_cast<const char *>(p), static_cast<int>(take));
        p += take;
        ABytes -= take;
        if (e.carry.size() < e.inBlock)
            return true;
        if (!e.Convert(reinterpret_cast<const uint8_t *>(e.carry.constData()), 1))
            return false;
        e.carry.clear();
    }
    // Whole frames in pieces small enough for an int frame count.
    const qint64 maxChunk = qint64(1) << 20;
    qint64 frames = ABytes / e.inBlock;
    while (frames > 0) {
        const int n = static_cast<int>(qMin(frames, maxChunk));
        if (!e.Convert(p, n) || !e.EncodeFifo(false))
            return false;
        p += qint64(n) * e.inBlock;
        frames -= n;
    }
    const qint64 rest = ABytes % e.inBlock;
    if (rest > 0)
        e.carry = QByteArray(reinterpret_cast<const char *>(p), static_cast<int>(rest));
    return true;
}

bool TEncoder::Stop()
{
    Impl &e = *d;
    if (!e.running)
        return false;
    e.running = false;
    if (!e.failed) {
        // Samples still inside the resampler, the last part frame, then the encoder's own delay.
        if (e.Convert(nullptr, 0) && e.EncodeFifo(true))
            e.Send(nullptr);
    }
    AVFormatContext *oc = e.out.get();
    if (e.headerWritten) {
        const int err = av_write_trailer(oc);
        if (err < 0)
            e.Fail(QStringLiteral("cannot complete the file"), err);
    }
    avio_flush(oc->pb);
    if (oc->pb->error < 0)
        e.Fail(QStringLiteral("cannot write to the file"), oc->pb->error);
    const int err = avio_closep(&oc->pb);
    if (err < 0)
        e.Fail(QStringLiteral("cannot close the file"), err);
    e.out.reset();
    e.codec.reset();
    return !e.failed;
}
