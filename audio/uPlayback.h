// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#pragma once

#include "uAudioTypes.h"
#include "uSilenceSkip.h"

#include <QAudioDevice>
#include <QString>
#include <QThread>
#include <memory>
#include <vector>

// A playback stream: the recording is decoded and written to the output device by its own thread, so
// the sound goes on while the calling thread is blocked. All methods are called from one thread (the
// user-interface thread); each waits briefly for the playback thread to carry it out.
//
// States: a new stream is stopped at 0; Play makes it playing; Pause (only while playing) makes it paused
// and keeps the position; reaching the end of the data makes it stopped at the end.
//
// The chain from the decoder to the sink: jumps (loop, skipped silence) -> channel choice -> time stretch
// (only at a speed other than 1). Every position, in and out, is in the recording's own seconds, whatever
// the speed and the jumps. A change of speed or channel while playing takes effect at once: playback goes
// on from the position being heard (a short gap while the output restarts).
class TPlayback {
public:
    explicit TPlayback(const QAudioDevice &device);
    ~TPlayback();
    TPlayback(const TPlayback &) = delete;
    TPlayback &operator=(const TPlayback &) = delete;

    // Opens the decoding stream of the recording. False when it cannot be decoded. AKnownBytes >= 0 is the
    // exact decoded length when it is already known for this state of the file (saves counting it again).
    bool Open(const QString &path, qint64 AKnownBytes = -1);

    void Play();                // start or resume from the current position
    void Pause();               // keeps the position
    void Stop();                // pause, then back to the start
    void SeekSec(double sec);   // negative counts as 0; the playing state is unchanged
    // The position being heard, in seconds: the data still buffered in the output is not counted.
    double PositionSec() const;
    bool IsPlaying() const;
    bool IsPaused() const;

    // Playback speed, clamped to MinPlaySpeed..MaxPlaySpeed; the pitch stays. Default 1.
    void SetSpeed(double speed);
    void SetChannelMode(TChannelMode mode);  // default cmBoth
    // While a range is set, playback that reaches endSec continues at startSec (seconds; an end past the
    // recording counts as its end). startSec < 0 or endSec <= startSec clears it. Playback that starts
    // after the range plays on to the end.
    void SetLoopRange(double startSec, double endSec);
    // Ranges playback jumps over (SilenceSkipRanges); empty = none. Inside a set loop, a range that reaches
    // the loop's end is played, so the loop is never jumped out of.
    void SetSkipRanges(const std::vector<TSecRange> &ranges);

    struct Worker;  // lives on the playback thread

private:
    QThread FThread;
    Worker *FWorker = nullptr;  // owned; created and destroyed on the playback thread
};
