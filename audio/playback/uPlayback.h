// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#pragma once

#include "uPlaybackPlan.h"
#include "uSilenceSkip.h"

#include <QAudioDevice>
#include <QString>
#include <memory>
#include <vector>

// A playback stream: the recording is decoded and written to the output device by its own thread, so
// the sound goes on while the calling thread is blocked.
//
// Threads. The playback thread makes the feeder when the stream is made and frees it when the stream is
// destroyed; the feeder makes, uses and frees everything it holds there (decoding stream, plan, time
// stretch, sink and its 10 ms feed timer); only that timer feeds the sink. The transport, the choices and
// Snapshot are called from one other thread (the user-interface thread); each is one call that waits until
// the playback thread has carried it out.
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
    explicit TPlayback(const QAudioDevice &ADevice);
    ~TPlayback();  // stops the sound, frees the feeder on the playback thread and ends that thread
    TPlayback(const TPlayback &) = delete;
    TPlayback &operator=(const TPlayback &) = delete;

    // Opens the decoding stream of the recording. False when it cannot be decoded. AKnownBytes >= 0 is the
    // exact decoded length when it is already known for this state of the file (saves counting it again).
    // ASilence are the recording's quiet stretches, jumped over while the choices skip silence.
    bool Open(const QString &APath, qint64 AKnownBytes, const std::vector<TSecRange> &ASilence,
              const TListening &AListening);

    void Play();                  // start or resume from the current position
    void Pause();                 // keeps the position
    void Stop();                  // pause, then back to the start
    void SeekSec(double ASec);    // negative counts as 0; the playing state is unchanged
    // Playing or not, and the position being heard (the data still buffered in the output is not counted),
    // read together in one call.
    TPlaybackSnapshot Snapshot() const;

    // The choices (see TPlaybackPlan::SetListening): the loop in recording seconds; speed and channel take
    // effect at once while playing; a new loop or silence skipping restarts the output only when what it
    // holds ahead could now be wrong.
    void SetListening(const TListening &AListening);
    // Replaces the quiet stretches given to Open (the ones found so far while the recording is analysed);
    // heard at once like a new loop.
    void SetSilence(const std::vector<TSecRange> &ASilence);

private:
    class TFeeder;
    class TThread;
    // Runs AFunc on the playback thread with the feeder and waits for it.
    template <class F>
    void OnFeeder(F &&AFunc) const;

    std::unique_ptr<TThread> FThread;
    TFeeder *FFeeder = nullptr;  // the playback thread's, alive from construction to destruction
};
