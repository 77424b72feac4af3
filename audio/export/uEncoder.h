// MP3, OGG (Vorbis) and Opus encoding of 16-bit PCM into a file, through libavcodec and libavformat.
#pragma once

#include "uReaderTypes.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

// The option text an encoder is started with, the bitrate in kbit/s put into the format's pattern:
// "-b %d" for MP3 and OGG, "--bitrate %d" for Opus. Empty for WAV.
QByteArray EncoderOptionText(TAudioFormat AFmt, int ABitrate);
// The bitrate in kbit/s an option text asks for ("-b N" or "--bitrate N", the last one wins);
// 0 when the text names none or a value that is not a positive whole number.
int EncoderOptionBitrate(const QByteArray &AOptions);

// One encoder writing one file. Input is signed 16-bit interleaved PCM at the rate and channel count
// given to Start. MP3 goes through libmp3lame (mono or stereo, rates up to 48 kHz: more channels are
// mixed down to stereo, other rates resampled to the nearest rate it takes), OGG through libvorbis
// (mono or stereo), Opus through libopus in an Ogg stream at 48 kHz (mono or stereo).
// Every write to the file is checked: a failed muxer write, trailer or close makes Feed or Stop false.
class TEncoder {
public:
    TEncoder();
    ~TEncoder();  // stops a running encoder (its result is lost: call Stop to see it)
    TEncoder(const TEncoder &) = delete;
    TEncoder &operator=(const TEncoder &) = delete;

    // Sets up the encoder from the option text and creates the file (replacing one of that name).
    // False when the format has no encoder, the options name no bitrate, the encoder refuses the
    // settings or the file cannot be created or its header written; ErrorText says why.
    bool Start(TAudioFormat AFmt, const QByteArray &AOptions, int ASampleRate, int AChannels,
               const QString &APath);
    // Encodes whole frames of PCM (a trailing part frame is kept for the next call). False once
    // anything failed; the encoder then takes no more input.
    bool Feed(const void *APcm, qint64 ABytes);
    // Flushes the encoder, writes the trailer and closes the file; false when any step or any earlier
    // write failed. Does nothing more on a second call.
    bool Stop();
    bool Running() const;
    QString ErrorText() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
