// Decoding stream: any file the FFmpeg libraries read, delivered as signed 16-bit interleaved PCM
// at the file's own sample rate and channel count (no resampling, no remixing).
#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

// Audio error codes of our audio layer: where decoding (and the output behind the engine) fails.
enum TAudioErrorCode : int {
    aeOK = 0,
    aeMem = 1,
    aeFileOpen = 2,   // file cannot be opened (also: not a regular file)
    aeDriver = 3,     // output device cannot be used
    aeFormat = 6,     // unsupported sample format
    aeInit = 8,       // not initialised
    aeNoChan = 18,    // no free channel
    aeFileForm = 41,  // unsupported file format (no demuxer/decoder, 0 Hz, 0 channels)
    aeCodec = 44,     // codec not available
};
// The Dutch text of an audio error code for messages; "onbekende fout" for a code not listed above.
QString AudioErrorText(int ACode);
// The audio libraries and their versions for the about box, two lines: the decoding and encoding library
// with its parts and codecs, then Qt Multimedia.
QString AudioLibrariesText();

class TDecodeStream {
public:
    TDecodeStream();
    ~TDecodeStream();
    TDecodeStream(const TDecodeStream &) = delete;
    TDecodeStream &operator=(const TDecodeStream &) = delete;

    // Opens the file and settles its exact decoded length. False with LastError set; only a regular file
    // (IsRegularFilePath) is opened, since a FIFO or a device would block the demuxer for ever.
    bool Open(const QString &APath);
    // Opens another stream on the file AOther has open (the same name, byte for byte, also when it is not
    // UTF-8), taking its length instead of counting it again (the parts of a multi-part pass). False when
    // the file no longer has the same rate and channels.
    bool OpenLike(const TDecodeStream &AOther);
    // Opens the file taking AKnownBytes as its exact decoded length instead of counting it (a length known
    // for this very state of the file, such as the envelope cache's); AKnownBytes < 0 counts as Open does.
    bool OpenKnownLength(const QString &APath, qint64 AKnownBytes);
    // True when SeekBytes jumps to its target (with pre-roll and discard): linear PCM, A-law, µ-law, FLAC,
    // MP2, MP3, Vorbis and Opus, each shown bit-exact by the identity tests. Every other codec (ADPCM, AAC,
    // AC3, WMA, ...) gets there by decoding from the start, or on from where the stream stands: its
    // timestamps or its decoder state after a seek do not give the straight decode's bits.
    bool SeeksDirectly() const;
    int LastError() const;

    int SampleRate() const;
    int Channels() const;
    int BlockAlign() const { return Channels() * 2; }  // bytes per frame
    // Exact number of bytes a straight decode delivers (known before the first read).
    qint64 LengthBytes() const;
    // Byte position of a time: whole frames (SecToFrames) times the block size.
    qint64 SecondsToBytes(double ASec) const;
    double BytesToSeconds(qint64 ABytes) const;  // FramesToSec of the bytes over the block size
    // The bytes [AStart, AEnd) of the seconds [AStartSec, AEndSec), each by SecondsToBytes, held within
    // [0, LengthBytes()]: a start of 0 or less is the beginning, an end of 0 or less the end of the data,
    // and AStart is never past AEnd (an empty range has them equal).
    void ByteRange(double AStartSec, double AEndSec, qint64 &AStart, qint64 &AEnd) const;

    // Delivers up to AMaxBytes (a multiple of BlockAlign is advised); 0 at the end, -1 on a read error.
    // When the decoder ends before LengthBytes (damaged or cut-off data), the rest up to LengthBytes is
    // silence, so every reader sees the length it was told; SetPadToLength(false) ends the data there
    // instead (0 from then on).
    qint64 Read(void *ABuffer, qint64 AMaxBytes);
    void SetPadToLength(bool APad);
    // After a seek to APos the next bytes are exactly those a straight decode delivers at APos, in every codec
    // (see SeeksDirectly for what it costs). A direct seek counts on undamaged data before APos: after data
    // the decoder refused or that went missing, a straight decode runs early by what is lost.
    bool SeekBytes(qint64 APos);
    qint64 PositionBytes() const;

    // Damage seen since Open: packets or frames the decoder refused (it skips them and goes on), and
    // bytes of silence Read delivered in place of audio the decoder stopped giving before LengthBytes.
    // Both 0 for a whole file; an audit tells a damaged recording by them.
    int DecodeErrors() const;
    // Frames since Open whose timestamp lies elsewhere than where the samples before them end: data went
    // missing without the decoder refusing any (a lost Ogg page). Counted only where SeeksDirectly.
    int Gaps() const;
    qint64 FilledBytes() const;
    // Refused data or gaps seen since Open: what follows no longer lies where a seek finds it, so a pass in
    // parts that meets it measures again in one pass.
    bool Damaged() const { return DecodeErrors() > 0 || Gaps() > 0; }

private:
    // AKnownFrames -1 and AKnownBytes -1: count them; else the first that is known.
    bool OpenWithLength(const QString &APath, qint64 AKnownFrames, qint64 AKnownBytes = -1);

    struct Impl;
    std::unique_ptr<Impl> d;
};
