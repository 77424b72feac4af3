// FFmpeg's headers for the audio library's precompiled header (C headers, so wrapped as its sources wrap them).
#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}
