// Owning holders for the FFmpeg C handles of the decoder and the encoders (private to audio_core).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <memory>

// One deleter for the FFmpeg free functions that take the address of the pointer.
template <class T, void (*Free)(T **)>
struct TAvFree {
    void operator()(T *AHandle) const { Free(&AHandle); }
};

inline void FreeFifo(AVAudioFifo **AHandle)
{
    av_audio_fifo_free(*AHandle);
}
inline void FreeSamples(uint8_t **AHandle)
{
    av_freep(AHandle);
}

using TCodecCtxPtr = std::unique_ptr<AVCodecContext, TAvFree<AVCodecContext, avcodec_free_context>>;
using TFramePtr = std::unique_ptr<AVFrame, TAvFree<AVFrame, av_frame_free>>;
using TPacketPtr = std::unique_ptr<AVPacket, TAvFree<AVPacket, av_packet_free>>;
using TSwrPtr = std::unique_ptr<SwrContext, TAvFree<SwrContext, swr_free>>;
using TFifoPtr = std::unique_ptr<AVAudioFifo, TAvFree<AVAudioFifo, FreeFifo>>;
using TSamplesPtr = std::unique_ptr<uint8_t, TAvFree<uint8_t, FreeSamples>>;

// An input file opened by avformat_open_input.
using TFormatPtr = std::unique_ptr<AVFormatContext, TAvFree<AVFormatContext, avformat_close_input>>;

// An output file: the muxer context and its file. Closing is explicit so its result can be checked; the
// deleter only releases what is left after an error.
struct TOutputFree {
    void operator()(AVFormatContext *AHandle) const
    {
        if (AHandle->pb)
            avio_closep(&AHandle->pb);
        avformat_free_context(AHandle);
    }
};
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputFree>;
