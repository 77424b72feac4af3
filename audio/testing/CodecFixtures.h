// Test fixtures in every codec the reader is checked on, made by the ffmpeg command line, for the identity
// tests (a seek, a range export and a pass in parts give what a straight decode gives).
#pragma once

#include "FfmpegKit.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

namespace codecs {

using ::Ffmpeg;  // a missing ffmpeg fails the fixtures; it does not skip them

struct TCodecFixture {
    const char *Name;       // row name
    const char *File;       // file name; its extension chooses the container
    QStringList Encode;     // ffmpeg output options
    bool Direct;            // the decoding stream seeks directly (and a pass may run in parts)
    QStringList RefDecoder; // ffmpeg input options for the reference decode (the decoder the reader picks)
};

// The formats a logger writes, lossless and lossy, and the telephony and broadcast codecs.
inline const QList<TCodecFixture> &AllCodecs()
{
    static const QList<TCodecFixture> all = {
        {"pcm wav", "pcm.wav", {"-c:a", "pcm_s16le"}, true, {}},
        {"flac", "tone.flac", {"-c:a", "flac"}, true, {}},
        {"mp3", "tone.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, true, {}},
        {"ogg vorbis", "tone.ogg", {"-c:a", "libvorbis", "-q:a", "3"}, true, {}},
        {"opus", "tone.opus", {"-c:a", "libopus", "-b:a", "64k"}, true, {}},
        {"a-law wav", "alaw.wav", {"-c:a", "pcm_alaw"}, true, {}},
        {"mu-law wav", "mulaw.wav", {"-c:a", "pcm_mulaw"}, true, {}},
        {"mp2", "tone.mp2", {"-c:a", "mp2", "-b:a", "192k"}, true, {"-c:a", "mp2float"}},
        {"ima adpcm wav", "ima.wav", {"-c:a", "adpcm_ima_wav"}, false, {}},
        {"ms adpcm wav", "msadpcm.wav", {"-c:a", "adpcm_ms"}, false, {}},
        {"ac3", "tone.ac3", {"-c:a", "ac3", "-b:a", "192k"}, false, {}},
        {"aac m4a", "tone.m4a", {"-c:a", "aac", "-b:a", "128k"}, false, {}},
        {"aac adts", "tone.aac", {"-c:a", "aac", "-b:a", "96k"}, false, {}},
        {"wma", "tone.wma", {"-c:a", "wmav2", "-b:a", "128k"}, false, {}},
    };
    return all;
}

} // namespace codecs
