// The reader's settings: catalogue file, recordings root, export folder, output device and the listening
// choices, kept in "VornakReader2026.ini" beside the executable (or, for a system install, in the user's
// configuration folder), with the recorder's paths adopted on first use.
#pragma once

#include "uAudioTypes.h"

#include <QString>
#include <QStringList>
#include <memory>

// Where the reader keeps its settings file and makes its first-run demo, and where it looks for the
// recorder's "Vornak2026.ini". Every folder ends in '/'.
struct TSettingsPlaces {
    QString AppDir;       // the executable's folder
    QString SettingsDir;  // holds "VornakReader2026.ini"
    QString DemoDir;      // the demo generator's folder: it makes demo/ and a "Vornak2026.ini" in it
    QStringList RecorderIniCandidates;  // tried in this order
    bool Portable = true;  // everything beside the executable
};

// A portable folder (AAppDirWritable): settings, demo and the first recorder candidate all in AAppDir,
// then the other four of TConfig::RecorderIniCandidates. A system install (the executable's folder cannot
// be written): settings in $XDG_CONFIG_HOME/VornakReader2026/, the demo in $XDG_DATA_HOME/VornakReader2026/
// (only an absolute value of either counts; else ~/.config and ~/.local/share, ~ being $HOME when it is
// absolute, else the user's home from the password database), and as recorder candidates the five places,
// then "/etc/Vornak2026/Vornak2026.ini", then the demo's own "Vornak2026.ini" in DemoDir.
TSettingsPlaces SettingsPlaces(const QString &AAppDir, bool AAppDirWritable);
// Whether this process may create files in ADir (access(2): a read-only file system or a missing folder
// counts as not; as root, file modes do not stop writes).
bool FolderWritable(const QString &ADir);
// SettingsPlaces for AAppDir, with FolderWritable deciding.
TSettingsPlaces SettingsPlacesFor(const QString &AAppDir);

class TConfig {
public:
    // Sets the defaults for the executable's folder AppDir() and loads the settings file (see Load).
    // Throws EReaderError("Unable to write to <file>") when the settings file must be written and cannot be.
    TConfig();
    // The same as if the executable lay in AAppDir (a folder; a trailing '/' is optional), with the places
    // of SettingsPlacesFor. Used by tests and by `vornak-tool config APPDIR`.
    explicit TConfig(const QString &AAppDir);
    // The same with the places given (tests decide there whether the executable's folder is writable).
    explicit TConfig(const TSettingsPlaces &APlaces);

    const QString &DatabasePath() const { return FDatabasePath; }
    void SetDatabasePath(const QString &AValue) { FDatabasePath = AValue; }
    const QString &RecordingsRoot() const { return FRecordingsRoot; }  // no trailing separator by default
    void SetRecordingsRoot(const QString &AValue) { FRecordingsRoot = AValue; }
    const QString &ExportFolder() const { return FExportFolder; }
    void SetExportFolder(const QString &AValue) { FExportFolder = AValue; }
    int OutputDevice() const { return FOutputDevice; }  // -1 = the system's default output
    void SetOutputDevice(int AValue) { FOutputDevice = AValue; }

    // Listening choices, section "Playback": "Speed" (one of PlaySpeedSteps, written as 0.75; a value
    // between two steps reads as the nearest, one outside 0.5..2 or no number as 1), "Channel" ("both",
    // "left" or "right"; anything else reads as both), "Loop" and "SkipSilence" (0 or 1; any other
    // number counts as 1, no number as 0).
    double PlaySpeed() const { return FPlaySpeed; }
    void SetPlaySpeed(double AValue) { FPlaySpeed = AValue; }
    TChannelMode PlayChannel() const { return FPlayChannel; }
    void SetPlayChannel(TChannelMode AValue) { FPlayChannel = AValue; }
    bool LoopSelection() const { return FLoopSelection; }
    void SetLoopSelection(bool AValue) { FLoopSelection = AValue; }
    bool SkipSilence() const { return FSkipSilence; }
    void SetSkipSilence(bool AValue) { FSkipSilence = AValue; }

    // Section "Export", key "EvidenceRecord" (0 or 1; any other number counts as 1, no number as 0): whether
    // an export writes its record beside the clip. Written once set, or when the file holds the key.
    bool EvidenceRecord() const { return FEvidenceRecord; }
    void SetEvidenceRecord(bool AOn) { FEvidenceRecord = AOn; }

    // Section "Cache": key "Folder", the envelope cache folder (empty: the per-user folder; a folder on a
    // network share serves every reader that points at it), and key "MaxMB", its size bound in megabytes
    // (a number below 1 or no number: 256). Written once set, or when the file holds the key.
    const QString &CacheFolder() const { return FCacheFolder; }
    void SetCacheFolder(const QString &AValue) { FCacheFolder = AValue; }
    int CacheMaxMB() const { return FCacheMaxMB; }
    void SetCacheMaxMB(int AValue) { FCacheMaxMB = AValue >= 1 ? AValue : DefaultCacheMaxMB; }
    static constexpr int DefaultCacheMaxMB = 256;

    // The text a speed is written as ("0.75", "1", "1.5"), and the step a text stands for (see above).
    static QString SpeedText(double ASpeed);
    static double SpeedOfText(const QString &AText);

    // Full path of the settings file in use ("VornakReader2026.ini" in TSettingsPlaces::SettingsDir).
    const QString &IniPath() const { return FIniPath; }

    // Writes the four keys into the settings file, and each "Playback" key that the file already holds or
    // whose value differs from the default (so a reader that never changed them writes the four keys
    // alone), keeping every other line of it. The new content goes to
    // a temporary file in the same folder, is flushed to disk and renamed over the old file, so the file
    // holds either its old or its new content. For a system install the settings folder is made first
    // when missing. Throws EReaderError: "Unable to write to <file>" when the
    // platform refuses the write, or a refusal naming the key when a value holds a line break or NUL or
    // is longer than 2047 characters (it could not be read back; nothing is written).
    void Save();

    // The five places, in order, where the recorder's "Vornak2026.ini" is looked for, for an application
    // folder AAppDir (ending in '/'): AAppDir, then under the grandparent G and the parent P of AAppDir
    // "Vornak2026/bin/" (G, then P) and "Vornak2026/" (G, then P). At the root, P and G are the root.
    static QStringList RecorderIniCandidates(const QString &AAppDir);

private:
    void Load();
    void ImportRecorderIni();
    bool TryRecorderIni(const QString &APath);

    TSettingsPlaces FPlaces;
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
    QString FCacheFolder;
    int FCacheMaxMB = DefaultCacheMaxMB;
};

// The one settings store of the process: created before the QApplication, freed last. Null before that.
extern std::unique_ptr<TConfig> Config;
