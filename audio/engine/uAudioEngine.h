// The one audio object: output device, playback of the loaded recording, its envelope, its export.
#pragma once

#include "uAudioTypes.h"
#include "uDecoder.h"
#include "uEnvelopeCache.h"
#include "uExportPipeline.h"
#include "uPlaybackPlan.h"
#include "uReaderTypes.h"
#include "uSilenceSkip.h"

#include <QAudioDevice>
#include <QString>
#include <QStringList>
#include <QList>
#include <QPair>
#include <functional>
#include <memory>
#include <vector>

class TPlayback;      // playback stream on its own thread (uPlayback)
class TAnalyseAhead;  // analysis of other recordings into the cache (uAnalyseAhead)

class TAudioEngine {
public:
    TAudioEngine();
    ~TAudioEngine();  // Close, then release the output
    TAudioEngine(const TAudioEngine &) = delete;
    TAudioEngine &operator=(const TAudioEngine &) = delete;

    // Device numbers: -1 system default, 0 no sound (never listed), 1..n QMediaDevices::audioOutputs().
    void SetInitialDevice(int ADevice);  // ignored once initialised
    bool InitAudio();                    // returns HasOutput
    bool ChangeDevice(int ADevice);      // keeps recording, position and playing state

    // Loads a recording: envelope with progress reports on the calling thread, then a playback stream.
    // The new file is analysed before the previous recording is let go: a load that fails (false; LastError
    // says why, 0 for a missing file) leaves the previous recording loaded exactly as it was: envelope,
    // length, path, playback stream with its position and state. While the analysis runs, the previous
    // recording is still loaded and its transport works. On success the previous recording is closed.
    // The envelope comes from the envelope cache when it holds one for the file's exact state (then the
    // only report is the closing 100); else the pass runs and its result is stored there.
    bool Load(const QString &APath, const TProgressProc &AProgress = {});
    // Opens a recording at once: its format, exact length and playback stream are settled before this
    // returns, and playing, seeking and export work from then on. The envelope comes from the envelope cache
    // when it holds one; otherwise the file is analysed on threads of its own (Analysing) and Envelope() holds
    // the points finished so far (the others 0) as PollAnalysis takes them. Fails, and keeps the previous
    // recording with its analysis, as Load does; on success an analysis still running for the previous
    // recording is cancelled first.
    bool Open(const QString &APath);
    bool Analysing() const { return FAnalysis != nullptr; }
    // Takes what the analysis finished since the last poll: its points into Envelope() and the quiet
    // stretches found so far into SilenceRanges() and playback (points not analysed yet count as loud). At
    // its end the envelope is exactly the one Load makes, and it goes into the envelope cache as Load's does.
    // The user-interface thread calls this, about every 100 ms while Analysing.
    TAnalysisPoll PollAnalysis();
    // Waits for the analysis to end and takes its result (for tools and tests).
    void FinishAnalysis();

    // Analyses APaths into the envelope cache one at a time, in their order, on a thread of the lowest
    // scheduling priority, skipping the ones the cache holds; replaces what was asked before. Waits while
    // the loaded recording is analysed, while an export runs and while held (HoldAhead). No-op without a
    // cache.
    void AnalyseAhead(const QStringList &APaths);
    // Holds (AOn) or releases the analysis ahead around other long work; calls nest.
    void HoldAhead(bool AOn);
    // Nothing left to analyse ahead (all done or dropped) and nothing running.
    bool AheadIdle() const;
    // The envelope cache folder (default TEnvelopeCache::DefaultFolder()) and its size bound; empty = no
    // cache at all.
    void SetEnvelopeCacheFolder(const QString &AFolder,
                                qint64 ALimitBytes = TEnvelopeCache::DefaultLimitBytes);
    // Parts of the envelope pass (see BuildEnvelopeFromFile): 0 = the machine's choice, 1 = sequential.
    void SetEnvelopeParts(int AParts) { FEnvelopeParts = AParts; }
    // What the last load did with the cache.
    TEnvelopeCacheUse LastCacheUse() const { return FLastCacheUse; }
    void Close();

    void Play();
    void Pause();
    void Stop();               // pauses and goes back to the start
    void SeekSec(double ASec);
    // Playing or not and the position being heard (output buffer compensated), read together in one call
    // to the playback thread. A window's timer reads this once per tick; PositionSec, IsPlaying and
    // IsPaused each make that call too.
    TPlaybackSnapshot Snapshot() const;
    double PositionSec() const { return Snapshot().PositionSec; }
    bool IsPlaying() const { return Snapshot().Playing; }
    bool IsPaused() const { return Snapshot().Paused; }

    // Listening choices. All are called from the user-interface thread like the transport; playback
    // itself stays on its own thread. They are held here, in Listening(), and handed whole to the playback
    // stream. Speed, channel and silence skipping hold for every recording until changed (a load keeps
    // them); a change while playing is heard at once. Positions, seeking and the loop range stay in the
    // recording's own seconds at every speed.
    //
    // Speed factor, clamped to MinPlaySpeed..MaxPlaySpeed (0.5..2); the pitch is kept. Default 1.
    void SetSpeed(double ASpeed);
    double Speed() const { return FListening.Speed; }
    // cmLeft / cmRight play that channel alone on both outputs; a mono recording is unaffected.
    void SetChannelMode(TChannelMode AMode);
    TChannelMode ChannelMode() const { return FListening.Channel; }
    // Loop of [AStart, AEnd) seconds: playback that reaches AEnd continues at AStart (an end past the
    // recording counts as its end); playback started after AEnd plays on to the end. AStart < 0 (use -1,
    // as for "no selection") or AEnd <= AStart clears it; a load or Close clears it too.
    void SetLoopRange(double AStart, double AEnd);
    double LoopStart() const { return FListening.LoopStartSec; }  // -1 = no loop
    double LoopEnd() const { return FListening.LoopEndSec; }      // -1 = no loop
    // Skips quiet stretches during playback: every channel below -40 dBFS for more than 2 s, keeping
    // 0.5 s of quiet at each side. The stretches come from the envelope of the load (no second decode).
    // Within a loop, a quiet stretch that reaches the loop's end is played, so the loop is never left.
    void SetSkipSilence(bool AOn);
    bool SkipSilence() const { return FListening.SkipSilence; }
    const TListening &Listening() const { return FListening; }
    // The stretches of the loaded recording that are skipped while SkipSilence is on (seconds, ascending).
    const std::vector<TSecRange> &SilenceRanges() const { return FSilenceRanges; }

    // Exports the loaded recording through the export pipeline (ExportRecording): ARequest.Source is set to
    // the loaded recording's path; the analysis ahead is held meanwhile; the playback stream and its position
    // stay as they are. Failed ("geen opname geladen") when nothing is loaded.
    TExportOutcome Export(TExportRequest ARequest, const TExportControl &AControl = {});

    bool HasOutput() const { return FHasOutput; }
    int OutputDevice() const { return FDevice; }
    int LastError() const { return FLastError; }
    double DurationSec() const { return FDurationSec; }
    int SampleRate() const { return FSampleRate; }
    int Channels() const { return FChannels; }
    const TEnvArray &Envelope() const { return FEnvelope; }
    int EnvCount() const { return FEnvCount; }
    // Seconds each envelope point covers: frames per point / SampleRate. Point i holds the seconds
    // [i, i + 1) times this; the points past DurationSec (the envelope's empty tail) hold nothing. 0
    // without a recording.
    double SecPerPoint() const { return FSecPerPoint; }
    QString LoadedPath() const { return FLoadedPath; }

private:
    struct TAnalysis;  // a running analysis of the loaded recording
    void CancelAnalysis();
    // Lets the previous recording go (its analysis too) and makes AResult's file the loaded recording.
    void Adopt(const QString &APath, TEnvelopeResult &AResult);
    // Opens AStream on a file that exists for its format and exact length; false (LastError says why) when
    // it cannot be decoded or holds no audio. The loaded recording is not touched.
    bool OpenForLength(const QString &APath, TDecodeStream &AStream);
    // Lets the previous recording go and takes AStream's format and length, without envelope or playback.
    void AdoptStream(const QString &APath, const TDecodeStream &AStream);
    void UpdateAheadPause();
    void SetSilenceRanges(std::vector<TSecRange> ARanges);  // and hands them to playback when they changed
    void OpenPlayStream();  // on FLoadedPath and FOutput with the listening choices; null when it fails
    void ListeningChanged();  // hands FListening to the playback stream

    bool FInited = false;
    bool FHasOutput = false;
    std::unique_ptr<TPlayback> FPlayStream;  // null = none
    TEnvArray FEnvelope;
    int FEnvCount = 0;
    double FSecPerPoint = 0;
    double FDurationSec = 0;
    int FSampleRate = 0;
    int FChannels = 1;
    QString FLoadedPath;
    int FLastError = 0;
    int FDevice = -1;
    QAudioDevice FOutput;  // the device FDevice resolved to; null = no sound
    TListening FListening;  // the listener's choices, the one copy on this side of the playback thread
    std::vector<TSecRange> FSilenceRanges;  // of the loaded recording
    std::shared_ptr<const TEnvelopeCache> FEnvCache;  // null = no cache; shared with the analysis threads
    std::unique_ptr<TAnalysis> FAnalysis;              // null = none running
    std::unique_ptr<TAnalyseAhead> FAhead;             // made on the first AnalyseAhead
    int FAheadHolds = 0;
    int FEnvelopeParts = 0;
    TEnvelopeCacheUse FLastCacheUse = TEnvelopeCacheUse::Off;
    qint64 FLengthBytes = 0;  // decoded length of the loaded recording, as the load settled it
};

// Fills the list: "Standaard uitvoerapparaat" (-1) first, then each output device (1..n) by name.
void ListOutputDevices(QList<QPair<QString, int>> &AList);
