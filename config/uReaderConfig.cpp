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
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<TConfig> Config;

namespace {

const char *const IniName = "VornakReader2026.ini";
const char *const PlaybackSection = "Playback";
const char *const RecorderIniName = "Vornak2026.ini";

QString WithSlash(const QString &dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

// The folder that holds dir (dir ends in '/'), with a trailing '/'; the root stays the root.
QString ParentDir(const QString &dir)
{
    QString d = dir;
    while (d.endsWith(QLatin1Char('/')))
        d.chop(1);
    const int slash = d.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : d.left(slash + 1);
}

bool FileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool WriteAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Replaces the file at path by data: a temporary file ".<name>.XXXXXX" in the same folder, written in full,
// flushed to disk and renamed over the old one; the folder is flushed too. The old file stays whole on any
// failure. Temporaries of this file that a killed save left behind are removed once they are a minute old
// (a younger one may be another save's, still going).
bool ReplaceFile(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
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
    if (!WriteAll(tmp.Fd(), data) || ::fchmod(tmp.Fd(), mode) != 0)
        return false;
    return tmp.Commit(info.absoluteFilePath(), true);
}

const char *ChannelText(TChannelMode m)
{
    switch (m) {
    case TChannelMode::cmLeft: return "left";
    case TChannelMode::cmRight: return "right";
    default: return "both";
    }
}

TChannelMode ChannelOfText(const QString &text)
{
    if (text.compare(QLatin1String("left"), Qt::CaseInsensitive) == 0)
        return TChannelMode::cmLeft;
    if (text.compare(QLatin1String("right"), Qt::CaseInsensitive) == 0)
        return TChannelMode::cmRight;
    return TChannelMode::cmBoth;
}

} // namespace

QString TConfig::SpeedText(double speed)
{
    return QString::number(speed, 'g', 4);
}

double TConfig::SpeedOfText(const QString &text)
{
    bool ok = false;
    // A hand-edited file may hold a decimal comma.
    const double v = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !(v >= MinPlaySpeed && v <= MaxPlaySpeed))
        return 1.0;
    double best = 1.0;
    for (double step : PlaySpeedSteps)
        if (std::abs(step - v) < std::abs(best - v))
            best = step;
    return best;
}

TConfig::TConfig() : TConfig(AppDir()) {}

TConfig::TConfig(const QString &appDir)
{
    FAppDir = WithSlash(appDir);
    FIniPath = FAppDir + QLatin1String(IniName);
    FDatabasePath = FAppDir + QStringLiteral("Vornak2026.sqlite");
    FRecordingsRoot = FAppDir + QStringLiteral("Recordings");
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
        if (FileExists(FDatabasePath))
            return;
    }
    ImportRecorderIni();
    Save();
}

QStringList TConfig::RecorderIniCandidates(const QString &appDir)
{
    const QString app = WithSlash(appDir);
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
    for (const QString &c : RecorderIniCandidates(FAppDir))
        if (TryRecorderIni(c))
            return;
}

bool TConfig::TryRecorderIni(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    TIniFile ini;
    if (!ini.ReadFile(path))
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
    auto writePlayback = [&](const QString &key, const QString &value, bool isDefault) {
        if (!isDefault || ini.Value(play, key))
            ini.WriteString(play, key, value);
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
    if (!ReplaceFile(FIniPath, ini.ToBytes()))
        throw EReaderError(QStringLiteral("Unable to write to %1").arg(FIniPath));
}
