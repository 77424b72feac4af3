// Exports and transcodes of the web server.
#include "uWebExport.h"

#include "uEvidence.h"
#include "uExportPipeline.h"
#include "uWebApi.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <zip.h>

namespace {

const char *const ExportsFolder = "exports";
const char *const LockName = ".lock";

// A private folder under StateDir/exports, removed with everything in it when the last holder lets go.
class TExportDir {
public:
    bool Create(const QString &AStateDir)
    {
        const QString base = QDir(AStateDir).filePath(QLatin1String(ExportsFolder));
        if (!QDir().mkpath(base))
            return false;
        QByteArray pattern = PathBytes(base + QStringLiteral("/job-XXXXXX"));
        if (!::mkdtemp(pattern.data()))
            return false;
        FPath = PathFromBytes(pattern);
        FLockFd = ::open(PathBytes(FPath + QLatin1Char('/') + QLatin1String(LockName)).constData(),
                         O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        return FLockFd >= 0 && ::flock(FLockFd, LOCK_EX | LOCK_NB) == 0;
    }
    ~TExportDir()
    {
        if (!FPath.isEmpty())
            QDir(FPath).removeRecursively();
        if (FLockFd >= 0)
            ::close(FLockFd);
    }
    const QString &Path() const { return FPath; }

private:
    QString FPath;
    int FLockFd = -1;
};

class TExportFile : public TBodySource {
public:
    TExportFile(std::unique_ptr<TExportDir> ADir, int AFd) : FDir(std::move(ADir)), FFd(AFd) {}
    ~TExportFile() override { ::close(FFd); }
    qint64 Read(char *ABuffer, qint64 AMax) override
    {
        const ssize_t got = ::read(FFd, ABuffer, static_cast<size_t>(AMax));
        return got < 0 ? -1 : got;
    }
    bool Immediate() const override { return true; }

private:
    std::unique_ptr<TExportDir> FDir;
    int FFd;
};

QByteArray Disposition(const QString &AName)
{
    QByteArray ascii;
    for (const QChar c : AName)
        ascii += (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('"') && c != QLatin1Char('\\'))
                     ? char(c.unicode())
                     : '_';
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + QUrl::toPercentEncoding(AName);
}

} // namespace

bool ParseExportQuery(const QMap<QString, QString> &AQuery, TWebExportJob &AJob, QString &AError)
{
    bool ok = true;
    const auto number = [&](const char *AName, double ADefault) {
        const QString text = AQuery.value(QLatin1String(AName));
        if (text.isEmpty())
            return ADefault;
        bool valid = false;
        const double value = text.toDouble(&valid);
        if (!valid || !std::isfinite(value) || value < 0)
            ok = false;
        return value;
    };
    AJob.StartSec = number("start", 0);
    AJob.EndSec = number("end", 0);
    if (!ok || (AJob.EndSec > 0 && AJob.EndSec <= AJob.StartSec)) {
        AError = QStringLiteral("Ongeldig bereik: start en end in seconden, end na start");
        return false;
    }
    const QString format = AQuery.value(QStringLiteral("format"), QStringLiteral("wav")).toLower();
    bool known = false;
    for (int f = 0; f < AudioFormatCount; ++f) {
        if (format == QString::fromLatin1(FormatNames[f]).toLower()) {
            AJob.Format = static_cast<TAudioFormat>(f);
            known = true;
        }
    }
    if (!known) {
        AError = QStringLiteral("Onbekend formaat: kies wav, mp3, ogg of opus");
        return false;
    }
    const QString bitrate = AQuery.value(QStringLiteral("bitrate"));
    if (!bitrate.isEmpty()) {
        AJob.Bitrate = bitrate.toInt(&ok);
        if (!ok || AJob.Bitrate < 8 || AJob.Bitrate > 320) {
            AError = QStringLiteral("Ongeldige bitsnelheid (8 tot 320 kbit/s)");
            return false;
        }
    }
    const QString loudness = AQuery.value(QStringLiteral("loudness"));
    if (loudness == QLatin1String("-23") || loudness == QLatin1String("-16")) {
        AJob.TargetLufs = loudness.toDouble();
    } else if (!loudness.isEmpty()) {
        AError = QStringLiteral("Luidheid is -23 of -16");
        return false;
    }
    const QString record = AQuery.value(QStringLiteral("record"));
    if (!record.isEmpty() && record != QLatin1String("0") && record != QLatin1String("1")) {
        AError = QStringLiteral("record is 0 of 1");
        return false;
    }
    AJob.Record = record == QLatin1String("1");
    return true;
}

int RemoveExportDebris(const QString &AStateDir)
{
    const QString base = QDir(AStateDir).filePath(QLatin1String(ExportsFolder));
    int removed = 0;
    const QStringList jobs = QDir(base).entryList({QStringLiteral("job-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : jobs) {
        const QString folder = base + QLatin1Char('/') + name;
        const int fd = ::open(PathBytes(folder + QLatin1Char('/') + QLatin1String(LockName)).constData(),
                              O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        // No lock file (killed before it was made) or a lock nobody holds: the folder is debris.
        const bool free = fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (free && QDir(folder).removeRecursively())
            ++removed;
        if (fd >= 0)
            ::close(fd);
    }
    return removed;
}

namespace {

QString NumberText(double AValue)
{
    return QString::number(AValue, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
}

bool ZipFiles(const QString &AZip, const QStringList &AFiles, QString &AError)
{
    int code = 0;
    zip_t *archive = zip_open(PathBytes(AZip).constData(), ZIP_CREATE | ZIP_EXCL, &code);
    if (!archive) {
        AError = QStringLiteral("ZIP-archief kan niet worden gemaakt (libzip-fout %1)").arg(code);
        return false;
    }
    for (const QString &file : AFiles) {
        zip_source_t *source = zip_source_file(archive, PathBytes(file).constData(), 0, -1);
        const QByteArray name = QFileInfo(file).fileName().toUtf8();
        const zip_int64_t index = source ? zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            AError = QStringLiteral("ZIP-archief kan niet worden gemaakt: %1").arg(QString::fromUtf8(zip_strerror(archive)));
            zip_discard(archive);
            return false;
        }
        // Compressed audio does not shrink: stored as it is.
        if (!file.endsWith(QLatin1String(".json")) && !file.endsWith(QLatin1String(".sha256")))
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) {
        AError = QStringLiteral("ZIP-archief kan niet worden geschreven: %1").arg(QString::fromUtf8(zip_strerror(archive)));
        zip_discard(archive);
        return false;
    }
    return true;
}

} // namespace

TWebExportResult RunWebExport(const TWebExportJob &AJob, const std::function<bool()> &AStop)
{
    TWebExportResult result;
    auto dir = std::make_unique<TExportDir>();
    if (!dir->Create(AJob.StateDir)) {
        result.Error = QStringLiteral("Geen plaats voor de export in de statusmap");
        return result;
    }
    const QString stem = QFileInfo(AJob.Recording.FileName).completeBaseName();
    const QString clipName = QStringLiteral("%1_%2-%3%4")
                                 .arg(stem, NumberText(AJob.StartSec),
                                      AJob.EndSec > 0 ? NumberText(AJob.EndSec) : QStringLiteral("einde"),
                                      QLatin1String(FormatExt(AJob.Format)));
    const QString clip = dir->Path() + QLatin1Char('/') + clipName;
    // The one export pipeline, with the options vornak-tool export gives it: the same bytes.
    TExportRequest request;
    request.Source = AJob.Source;
    request.StartSec = AJob.StartSec;
    request.EndSec = AJob.EndSec;
    request.Format = AJob.Format;
    request.Bitrate = AJob.Bitrate;
    request.TargetLufs = AJob.TargetLufs;
    request.EvidenceRecord = AJob.Record;
    request.Path = clip;
    request.Rule = TExportTargetRule::NewFileOnly;
    request.Recording = AJob.Recording;
    request.ProgramName = QStringLiteral("vornak-tool");
    TExportControl control;
    control.Progress = [&AStop](int) { return !AStop(); };
    const TExportOutcome outcome = ExportRecording(request, control);
    if (outcome.Result == TExportResult::Cancelled || AStop()) {
        result.Cancelled = true;
        return result;
    }
    if (!outcome.Done() || !QFileInfo(clip).isFile()) {
        result.Error = outcome.Text.isEmpty() ? QStringLiteral("Export mislukt") : outcome.Text;
        return result;
    }
    const TFileDigest digest = Sha256OfFile(clip);
    result.Sha256 = QString::fromLatin1(digest.Hex);
    QString sendPath = clip;
    QString sendName = clipName;
    result.MediaType = AJob.Format == TAudioFormat::afWAV   ? "audio/wav"
                       : AJob.Format == TAudioFormat::afMP3 ? "audio/mpeg"
                                                            : "audio/ogg";
    if (AJob.Record) {
        sendName = clipName + QStringLiteral(".zip");
        sendPath = dir->Path() + QLatin1Char('/') + sendName;
        if (!ZipFiles(sendPath, {clip, EvidenceRecordPath(clip), EvidenceChecksumPath(clip)}, result.Error))
            return result;
        result.MediaType = "application/zip";
    }
    const int fd = ::open(PathBytes(sendPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.Error = QStringLiteral("Export kan niet worden gelezen");
        return result;
    }
    result.Length = QFileInfo(sendPath).size();
    result.Disposition = Disposition(sendName);
    result.Body = std::make_shared<TExportFile>(std::move(dir), fd);
    result.Ok = true;
    return result;
}

namespace {

// Reads the transcode's pipe; the encoder writes its other end on a thread of its own.
class TOpusTranscode : public TBodySource {
public:
    TOpusTranscode(const QString &ASource, double AStartSec, const std::atomic<bool> *AStopping)
        : FStopping(AStopping)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        FReadFd = fds[0];
        const int writeFd = fds[1];
        FThread = std::thread([this, ASource, AStartSec, writeFd]() {
            const QString dest = QStringLiteral("/proc/self/fd/%1").arg(writeFd);
            TExportRequest request;
            request.Source = ASource;
            request.StartSec = AStartSec;
            request.Format = TAudioFormat::afOPUS;
            request.Bitrate = 64;
            request.Path = dest;
            TExportControl control;
            control.Progress = [this](int) { return !FCancel.load() && !FStopping->load(); };
            control.Cancel = &FCancel;
            try {
                ExportRecording(request, control);
            } catch (const std::exception &) {
            }
            ::close(writeFd);
        });
    }
    ~TOpusTranscode() override
    {
        FCancel = true;
        if (FReadFd >= 0)
            ::close(FReadFd);  // the encoder's next write fails: it ends
        if (FThread.joinable())
            FThread.join();
    }
    qint64 Read(char *ABuffer, qint64 AMax) override
    {
        if (FReadFd < 0)
            return -1;
        for (;;) {
            const ssize_t got = ::read(FReadFd, ABuffer, static_cast<size_t>(AMax));
            if (got >= 0)
                return got;
            if (errno != EINTR)
                return -1;
        }
    }

private:
    const std::atomic<bool> *FStopping;
    std::atomic<bool> FCancel{false};
    int FReadFd = -1;
    std::thread FThread;
};

} // namespace

std::shared_ptr<TBodySource> StartOpusTranscode(const QString &ASource, double AStartSec,
                                                const std::atomic<bool> *AStopping)
{
    return std::make_shared<TOpusTranscode>(ASource, AStartSec, AStopping);
}
