// Playback of one recording on a thread of its own, through a Qt Multimedia audio sink.
#pragma once

#include <QAudioDevice>
#include <QString>
#include <QThread>
#include <memory>

// A playback stream: the recording is decoded and written to the output device by its own thread, so
// the sound goes on while the calling thread is blocked. All methods are called from one thread (the
// user-interface thread); each waits briefly for the playback thread to carry it out.
//
// States: a new stream is stopped at 0; Play makes it playing; Pause (only while playing) makes it paused
// and keeps the position; reaching the end of the data makes it stopped at the end.
class TPlayback {
public:
    explicit TPlayback(const QAudioDevice &device);
    ~TPlayback();
    TPlayback(const TPlayback &) = delete;
    TPlayback &operator=(const TPlayback &) = delete;

    // Opens the decoding stream of the recording. False when it cannot be decoded.
    bool Open(const QString &path);

    void Play();                // start or resume from the current position
    void Pause();               // keeps the position
    void Stop();                // pause, then back to the start
    void SeekSec(double sec);   // negative counts as 0; the playing state is unchanged
    // The position being heard, in seconds: the data still buffered in the output is not counted.
    double PositionSec() const;
    bool IsPlaying() const;
    bool IsPaused() const;

    struct Worker;  // lives on the playback thread

private:
    QThread FThread;
    Worker *FWorker = nullptr;  // owned; created and destroyed on the playback thread
};
