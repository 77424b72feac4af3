// The reader's settings store.
#include "uReaderConfig.h"

#include "uIniFile.h"
#include "uReaderTypes.h"
#include "uTempFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<TConfig> Config;

namespace {

const char *const IniName = "VornakReader2026.ini";
const char *const PlaybackSection = "Playback";
const char *const RecorderIniName = "Vornak2026.ini";
const char *const UserFolderName = "VornakReader2026/";
const char *const SystemRecorderIni = "/etc/Vornak2026/Vornak2026.ini";

QString WithSlash(const QString &ADir)
{
    return ADir.endsWith(QLatin1Char('/')) ? ADir : ADir + QLatin1Char('/');
}

// The folder that holds dir (dir ends in '/'), with a trailing '/'; the root stays the root.
QString ParentDir(const QString &ADir)
{
    QString d = ADir;
    while (d.endsWith(QLatin1Char('/')))
        d.chop(1);
    const int slash = d.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : d.left(slash + 1);
}

// The user's home folder: $HOME when it is absolute, else the password database's entry.
QString HomeDir()
{
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')))
        return home;
    const passwd *pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? QFile::decodeName(pw->pw_dir) : QStringLiteral("/");
}

// $AVariable when it holds an absolute path (a relative one is to be ignored), else ~/AFallback.
QString XdgDir(const char *AVariable, const char *AFallback)
{
    const QString value = QFile::decodeName(qgetenv(AVariable));
    if (value.startsWith(QLatin1Char('/')))
        return WithSlash(value);
    return WithSlash(HomeDir()) + QLatin1String(AFallback);
}

bool FileExists(const QString &APath)
{
    return !APath.isEmpty() && QFileInfo(APath).isFile();
}

// Replaces the file at path by data: a temporary file ".<name>.XXXXXX" in the same folder, written in full,
// flushed to disk and renamed over the old one; the folder is flushed too. The old file stays whole on any
// failure. Temporaries of this file that a killed save left behind are removed once they are a minute old
// (a younger one may be another save's, still going).
bool ReplaceFile(const QString &APath, const QByteArray &AData)
{
    const QFileInfo info(APath);
    const QString dir = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray prefix = "." + QFile::encodeName(info.fileName()) + ".";
    RemoveStaleTemporaries(dir, [&prefix](const QByteArray &AName) { return IsTemporaryName(AName, prefix, {}); });

    // The old file's permissions; a new file gets the usual rw-r--r--.
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    TTempFile tmp;
    if (!tmp.Create(dir, prefix, {}))
        return false;
    // Every byte written (a short write on a full disk fails here), then on the disk, before the rename.
    if (!WriteAll(tmp.Fd(), AData) || ::fchmod(tmp.Fd(), mode) != 0)
        return false;
    return tmp.Commit(info.absoluteFilePath(), true);
}

const char *ChannelText(TChannelMode AMode)
{
    switch (AMode) {
    case TChannelMode::cmLeft: return "left";
    case TChannelMode::cmRight: return "right";
    default: return "both";
    }
}

TChannelMode ChannelOfText(const QString &AText)
{
    if (AText.compare(QLatin1String("left"), Qt::CaseInsensitive) == 0)
        return TChannelMode::cmLeft;
    if (AText.compare(QLatin1String("right"), Qt::CaseInsensitive) == 0)
        return TChannelMode::cmRight;
    return TChannelMode::cmBoth;
}

} // namespace

TSettingsPlaces SettingsPlaces(const QString &AAppDir, bool AAppDirWritable)
{
    TSettingsPlaces places;
    places.AppDir = WithSlash(AAppDir);
    places.RecorderIniCandidates = TConfig::RecorderIniCandidates(places.AppDir);
    places.Portable = AAppDirWritable;
    if (AAppDirWritable) {
        places.SettingsDir = places.AppDir;
        places.DemoDir = places.AppDir;
    } else {
        places.SettingsDir = XdgDir("XDG_CONFIG_HOME", ".config/") + QLatin1String(UserFolderName);
        places.DemoDir = XdgDir("XDG_DATA_HOME", ".local/share/") + QLatin1String(UserFolderName);
        places.RecorderIniCandidates << QLatin1String(SystemRecorderIni)
                                     << places.DemoDir + QLatin1String(RecorderIniName);
    }
    return places;
}

bool FolderWritable(const QString &ADir)
{
    return ::access(QFile::encodeName(ADir).constData(), W_OK | X_OK) == 0;
}

TSettingsPlaces SettingsPlacesFor(const QString &AAppDir)
{
    return SettingsPlaces(AAppDir, FolderWritable(AAppDir));
}

QString TConfig::SpeedText(double ASpeed)
{
    return QString::number(ASpeed, 'g', 4);
}

double TConfig::SpeedOfText(const QString &AText)
{
    bool ok = false;
    // A hand-edited file may hold a decimal comma.
    const double v = QString(AText).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !(v >= MinPlaySpeed && v <= MaxPlaySpeed))
        return 1.0;
    double best = 1.0;
    for (double step : PlaySpeedSteps)
        if (std::abs(step - v) < std::abs(best - v))
            best = step;
    return best;
}

TConfig::TConfig() : TConfig(AppDir()) {}

TConfig::TConfig(const QString &AAppDir) : TConfig(SettingsPlacesFor(AAppDir)) {}

TConfig::TConfig(const TSettingsPlaces &APlaces) : FPlaces(APlaces)
{
    FIniPath = FPlaces.SettingsDir + QLatin1String(IniName);
    FDatabasePath = FPlaces.AppDir + QStringLiteral("Vornak2026.sqlite");
    FRecordingsRoot = FPlaces.AppDir + QStringLiteral("Recordings");
    FExportFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    FOutputDevice = -1;
    Load();
}

void TConfig::Load()
{
    if (QFileInfo::exists(FIniPath)) {
        TIniFile ini;
        ini.ReadFile(FIniPath);
        FDatabasePath = ini.ReadString(QStringLiteral("Paths"), QStringLiteral("Database"), FDatabasePath);
        FRecordingsRoot = ini.ReadString(QStringLiteral("Paths"), QStringLiteral("RootFolder"), FRecordingsRoot);
        FExportFolder = ini.ReadString(QStringLiteral("Paths"), QStringLiteral("ExportFolder"), FExportFolder);
        FOutputDevice = ini.ReadInteger(QStringLiteral("Audio"), QStringLiteral("OutputDevice"), FOutputDevice);
        const QString play = QLatin1String(PlaybackSection);
        FPlaySpeed = SpeedOfText(ini.ReadString(play, QStringLiteral("Speed"), SpeedText(FPlaySpeed)));
        FPlayChannel = ChannelOfText(ini.ReadString(play, QStringLiteral("Channel"), ChannelText(FPlayChannel)));
        FLoopSelection = ini.ReadInteger(play, QStringLiteral("Loop"), FLoopSelection) != 0;
        FSkipSilence = ini.ReadInteger(play, QStringLiteral("SkipSilence"), FSkipSilence) != 0;
        FEvidenceRecord = ini.ReadInteger(QStringLiteral("Export"), QStringLiteral("EvidenceRecord"), FEvidenceRecord) != 0;
        FCacheFolder = ini.ReadString(QStringLiteral("Cache"), QStringLiteral("Folder"), FCacheFolder).trimmed();
        SetCacheMaxMB(ini.ReadInteger(QStringLiteral("Cache"), QStringLiteral("MaxMB"), FCacheMaxMB));
        if (FileExists(FDatabasePath))
            return;
    }
    ImportRecorderIni();
    Save();
}

QStringList TConfig::RecorderIniCandidates(const QString &AAppDir)
{
    const QString app = WithSlash(AAppDir);
    const QString p = ParentDir(app);
    const QString g = ParentDir(p);
    const QString name = QLatin1String(RecorderIniName);
    return {
        app + name,
        g + QStringLiteral("Vornak2026/bin/") + name,
        p + QStringLiteral("Vornak2026/bin/") + name,
        g + QStringLiteral("Vornak2026/") + name,
        p + QStringLiteral("Vornak2026/") + name,
    };
}

void TConfig::ImportRecorderIni()
{
    for (const QString &c : FPlaces.RecorderIniCandidates)
        if (TryRecorderIni(c))
            return;
}

bool TConfig::TryRecorderIni(const QString &APath)
{
    if (!QFileInfo(APath).isFile())
        return false;
    TIniFile ini;
    if (!ini.ReadFile(APath))
        return false;
    const QString db = ini.ReadString(QStringLiteral("Paths"), QStringLiteral("Database"), QString());
    const QString root = ini.ReadString(QStringLiteral("Paths"), QStringLiteral("RootFolder"), QString());
    if (!db.isEmpty())
        FDatabasePath = db;
    if (!root.isEmpty())
        FRecordingsRoot = root;
    return !db.isEmpty();
}

void TConfig::Save()
{
    // Edits in memory first: a value that would break the file's layout is refused before anything is written.
    TIniFile ini;
    if (QFileInfo::exists(FIniPath) && !ini.ReadFile(FIniPath))
        throw EReaderError(QStringLiteral("Unable to write to %1").arg(FIniPath));
    ini.WriteString(QStringLiteral("Paths"), QStringLiteral("Database"), FDatabasePath);
    ini.WriteString(QStringLiteral("Paths"), QStringLiteral("RootFolder"), FRecordingsRoot);
    ini.WriteString(QStringLiteral("Paths"), QStringLiteral("ExportFolder"), FExportFolder);
    ini.WriteInteger(QStringLiteral("Audio"), QStringLiteral("OutputDevice"), FOutputDevice);
    const QString play = QLatin1String(PlaybackSection);
    auto writePlayback = [&](const QString &AKey, const QString &AValue, bool AIsDefault) {
        if (!AIsDefault || ini.Value(play, AKey))
            ini.WriteString(play, AKey, AValue);
    };
    writePlayback(QStringLiteral("Speed"), SpeedText(FPlaySpeed), FPlaySpeed == 1.0);
    writePlayback(QStringLiteral("Channel"), QLatin1String(ChannelText(FPlayChannel)),
                  FPlayChannel == TChannelMode::cmBoth);
    writePlayback(QStringLiteral("Loop"), FLoopSelection ? QStringLiteral("1") : QStringLiteral("0"), !FLoopSelection);
    writePlayback(QStringLiteral("SkipSilence"), FSkipSilence ? QStringLiteral("1") : QStringLiteral("0"),
                  !FSkipSilence);
    if (FEvidenceRecord || ini.Value(QStringLiteral("Export"), QStringLiteral("EvidenceRecord")))
        ini.WriteString(QStringLiteral("Export"), QStringLiteral("EvidenceRecord"),
                        FEvidenceRecord ? QStringLiteral("1") : QStringLiteral("0"));
    if (!FCacheFolder.isEmpty() || ini.Value(QStringLiteral("Cache"), QStringLiteral("Folder")))
        ini.WriteString(QStringLiteral("Cache"), QStringLiteral("Folder"), FCacheFolder);
    if (FCacheMaxMB != DefaultCacheMaxMB || ini.Value(QStringLiteral("Cache"), QStringLiteral("MaxMB")))
        ini.WriteInteger(QStringLiteral("Cache"), QStringLiteral("MaxMB"), FCacheMaxMB);
    // The user's settings folder of a system install may not exist yet.
    if (!FPlaces.Portable)
        QDir().mkpath(FPlaces.SettingsDir);
    if (!ReplaceFile(FIniPath, ini.ToBytes()))
        throw EReaderError(QStringLiteral("Unable to write to %1").arg(FIniPath));
}
