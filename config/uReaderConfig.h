// The reader's settings: catalogue file, recordings root, export folder, output device and the listening
// choices, kept in "VornakReader2026.ini" beside the executable, with the recorder's paths adopted on first use.
#pragma once

#include "uAudioTypes.h"

#include <QString>
#include <QStringList>
#include <memory>

class TConfig {
public:
    // Sets the defaults for the executable's folder AppDir() and loads the settings file (see Load).
    // Throws EReaderError("Unable to write to <file>") when the settings file must be written and cannot be.
    TConfig();
    // The same as if the executable lay in appDir (a folder; a trailing '/' is optional). Used by tests and
    // by `vornak-tool config APPDIR`.
    explicit TConfig(const QString &appDir);

    const QString &DatabasePath() const { return FDatabasePath; }
    void SetDatabasePath(const QString &v) { FDatabasePath = v; }
    const QString &RecordingsRoot() const { return FRecordingsRoot; }  // no trailing separator by default
    void SetRecordingsRoot(const QString &v) { FRecordingsRoot = v; }
    const QString &ExportFolder() const { return FExportFolder; }
    void SetExportFolder(const QString &v) { FExportFolder = v; }
    int OutputDevice() const { return FOutputDevice; }  // -1 = the system's default output
    void SetOutputDevice(int v) { FOutputDevice = v; }

    // Listening choices, section "Playback": "Speed" (one of PlaySpeedSteps, written as 0.75; a value
    // between two steps reads as the nearest, one outside 0.5..2 or no number as 1), "Channel" ("both",
    // "left" or "right"; anything else reads as both), "Loop" and "SkipSilence" (0 or 1; any other
    // number counts as 1, no number as 0).
    double PlaySpeed() const { return FPlaySpeed; }
    void SetPlaySpeed(double v) { FPlaySpeed = v; }
    TChannelMode PlayChannel() const { return FPlayChannel; }
    void SetPlayChannel(TChannelMode v) { FPlayChannel = v; }
    bool LoopSelection() const { return FLoopSelection; }
    void SetLoopSelection(bool v) { FLoopSelection = v; }
    bool SkipSilence() const { return FSkipSilence; }
    void SetSkipSilence(bool v) { FSkipSilence = v; }

    // Section "Export", key "EvidenceRecord" (0 or 1; any other number counts as 1, no number as 0): whether
    // an export writes its record beside the clip. Written once set, or when the file holds the key.
    bool EvidenceRecord() const { return FEvidenceRecord; }
    void SetEvidenceRecord(bool v) { FEvidenceRecord = v; }

    // The text a speed is written as ("0.75", "1", "1.5"), and the step a text stands for (see above).
    static QString SpeedText(double speed);
    static double SpeedOfText(const QString &text);

    // Full path of the settings file ("VornakReader2026.ini" in the application folder).
    const QString &IniPath() const { return FIniPath; }

    // Writes the four keys into the settings file, and each "Playback" key that the file already holds or
    // whose value differs from the default (so a reader that never changed them writes the four keys
    // alone), keeping every other line of it. The new content goes to
    // a temporary file in the same folder, is flushed to disk and renamed over the old file, so the file
    // holds either its old or its new content. Throws EReaderError: "Unable to write to <file>" when the
    // platform refuses the write, or a refusal naming the key when a value holds a line break or NUL or
    // is longer than 2047 characters (it could not be read back; nothing is written).
    void Save();

    // The five places, in order, where the recorder's "Vornak2026.ini" is looked for, for an application
    // folder appDir (ending in '/'): appDir, then under the grandparent G and the parent P of appDir
    // "Vornak2026/bin/" (G, then P) and "Vornak2026/" (G, then P). At the root, P and G are the root.
    static QStringList RecorderIniCandidates(const QString &appDir);

private:
    void Load();
    void ImportRecorderIni();
    bool TryRecorderIni(const QString &path);

    QString FAppDir;  // with a trailing '/'
    QString FIniPath;
    QString FDatabasePath;
    QString FRecordingsRoot;
    QString FExportFolder;
    int FOutputDevice = -1;
    double FPlaySpeed = 1.0;
    TChannelMode FPlayChannel = TChannelMode::cmBoth;
    bool FLoopSelection = false;
    bool FSkipSilence = false;
    bool FEvidenceRecord = false;
};

// The one settings store of the process: created before the QApplication, freed last. Null before that.
extern std::unique_ptr<TConfig> Config;
