// The one audio object: output device, playback of the loaded recording, its envelope, range export.
#pragma once

#include "uAudioTypes.h"
#include "uDecoder.h"
#include "uEnvelopeCache.h"
#include "uReaderTypes.h"

#include <QAudioDevice>
#include <QString>
#include <QStringList>
#include <QList>
#include <QPair>
#include <memory>

class TPlayback;  // playback stream on its own thread (uPlayback)

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
    // The envelope comes from the envelope cache when it holds one for the file's exact state (then the
    // only report is the closing 100); else the pass runs and its result is stored there.
    bool Load(const QString &APath, const TProgressProc &AProgress = {});
    // The envelope cache folder (default TEnvelopeCache::DefaultFolder()); empty = no cache at all.
    void SetEnvelopeCacheFolder(const QString &AFolder);
    // Parts of the envelope pass (see BuildEnvelopeFromFile): 0 = the machine's choice, 1 = sequential.
    void SetEnvelopeParts(int AParts) { FEnvelopeParts = AParts; }
    // What the last load did with the cache.
    TEnvelopeCacheUse LastCacheUse() const { return FLastCacheUse; }
    void Close();

    void Play();
    void Pause();
    void Stop();               // pauses and goes back to the start
    void SeekSec(double Sec);
    double PositionSec() const;  // the position being heard (output buffer compensated)
    bool IsPlaying() const;
    bool IsPaused() const;

    // Writes the loaded recording, or [AStartSec, AEndSec), to ADest. True when any audio went through
    // (also when cancelled). Throws EReaderError for a WAV target that cannot be created or written.
    bool ExportRange(const QString &ADest, TAudioFormat AFmt, int ABitrate, double AStartSec,
                     double AEndSec, const TCancelProgress &AProgress = {});

    bool HasOutput() const { return FHasOutput; }
    int OutputDevice() const { return FDevice; }
    int LastError() const { return FLastError; }
    double DurationSec() const { return FDurationSec; }
    int SampleRate() const { return FSampleRate; }
    int Channels() const { return FChannels; }
    const TEnvArray &Envelope() const { return FEnvelope; }
    int EnvCount() const { return FEnvCount; }
    QString LoadedPath() const { return FLoadedPath; }

private:
    void BuildEnvelope(const QString &APath, const TProgressProc &AProgress);
    void OpenPlayStream();  // on FLoadedPath and FOutput; leaves FPlayStream null when it fails
    bool WriteWav(TDecodeStream &AStream, const QString &ADest, qint64 C, const TCancelProgress &AProgress);
    bool EncodeToFile(TDecodeStream &AStream, const QString &ADest, qint64 C, TAudioFormat AFmt,
                      int ABitrate, const TCancelProgress &AProgress);

    bool FInited = false;
    bool FHasOutput = false;
    std::unique_ptr<TPlayback> FPlayStream;  // null = none
    TEnvArray FEnvelope;
    int FEnvCount = 0;
    double FDurationSec = 0;
    int FSampleRate = 0;
    int FChannels = 1;
    QString FLoadedPath;
    int FLastError = 0;
    int FDevice = -1;
    QAudioDevice FOutput;  // the device FDevice resolved to; null = no sound
    std::unique_ptr<TEnvelopeCache> FEnvCache;  // null = no cache
    int FEnvelopeParts = 0;
    TEnvelopeCacheUse FLastCacheUse = TEnvelopeCacheUse::Off;
};

QString AudioErrorText(int ACode);
// Fills the list: "Standaard uitvoerapparaat" (-1) first, then each output device (1..n) by name.
void ListOutputDevices(QList<QPair<QString, int>> &AList);
