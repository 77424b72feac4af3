// Export records: SHA-256 checksums, the record beside an exported clip, and the check of a clip against it.
#include "uEvidence.h"

#include "uAudioEngine.h"
#include "uTempFile.h"
#include "uVersion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Read in large blocks: the hash, not the system calls, is what a read of a cached file waits for.
constexpr qint64 HashBlockBytes = 1 << 20;

QString SystemText(int AErr)
{
    return QString::fromLocal8Bit(std::strerror(AErr));
}

QString UserName()
{
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString UtcText(const QDateTime &AWhen)
{
    return AWhen.toUTC().toString(Qt::ISODate);  // "2026-12-10T18:20:00Z"
}

QJsonValue OrNull(bool AHas, const QJsonValue &AValue)
{
    return AHas ? AValue : QJsonValue(QJsonValue::Null);
}

QJsonObject RecordJson(const TEvidenceExport &AJob, const TFileDigest &AClip, const TFileDigest &ASource,
                       double AClipSeconds, double AStart, double AEnd)
{
    const bool bitrate = FormatHasBitrate(AJob.Format);
    QJsonObject clip{{"file", QFileInfo(AJob.Dest).fileName()},
                     {"sha256", QString::fromLatin1(AClip.Hex)},
                     {"bytes", double(AClip.Bytes)},
                     {"format", QString::fromLatin1(FormatName(AJob.Format))},
                     {"bitrate_kbps", OrNull(bitrate, AJob.Bitrate)},
                     {"seconds", AClipSeconds},
                     // The normalisation target a re-export must use too; null: samples unchanged.
                     {"loudness_target_lufs", OrNull(AJob.TargetLufs < 0, AJob.TargetLufs)}};
    QJsonObject source{{"catalogue_id", OrNull(AJob.Recording, AJob.Recording ? AJob.Recording->Id : 0)},
                       {"file_name", QFileInfo(AJob.Source).fileName()},
                       {"path", QFileInfo(AJob.Source).absoluteFilePath()},
                       {"sha256", QString::fromLatin1(ASource.Hex)},
                       {"bytes", double(ASource.Bytes)},
                       {"modified_utc", UtcText(ASource.Modified)}};
    QJsonValue recording(QJsonValue::Null);
    if (const TRecInfo *r = AJob.Recording)
        recording = QJsonObject{{"date", r->RecDate},
                                {"hour", r->RecHour},
                                {"number", r->RecNumber},
                                {"title", r->Title},
                                {"persons", r->Persons}};
    QJsonObject range{{"start_seconds", AStart},
                      {"end_seconds", AEnd},
                      {"start_text", FormatTimeMs(AStart)},
                      {"end_text", FormatTimeMs(AEnd)}};
    QJsonObject program{{"name", AJob.ProgramName},
                        {"version", EvidenceProgramVersion()},
                        {"libraries", EvidenceLibrariesText()}};
    return QJsonObject{{"clip", clip},
                       {"source", source},
                       {"recording", recording},
                       {"range", range},
                       {"exported_utc", UtcText(QDateTime::currentDateTimeUtc())},
                       {"host", QSysInfo::machineHostName()},
                       {"user", UserName()},
                       {"program", program}};
}

// A temporary beside ATarget holding AData, not yet committed. False with AError set.
bool StageFile(TTempFile &ATemp, const QString &ATarget, const QByteArray &AData, QString &AError)
{
    if (!ATemp.Create(QFileInfo(ATarget).path(), ExportTempPrefix, ExportTempSuffix) ||
        !WriteAll(ATemp.Fd(), AData)) {
        AError = QStringLiteral("kan \"%1\" niet schrijven: %2").arg(ATarget, SystemText(ATemp.Error() ? ATemp.Error() : errno));
        ATemp.Discard();
        return false;
    }
    return true;
}

// The file a recording name stands for under ARoot: its day folder first, then any day folder.
QString FindUnderRoot(const QString &ARoot, const QString &AName, const QString &ADate)
{
    if (ARoot.isEmpty() || AName.isEmpty() || AName.contains(QLatin1Char('/')))
        return QString();
    const QString root = QDir::cleanPath(ARoot) + QLatin1Char('/');
    if (ADate.size() == 10) {
        const QString p = root + ADate.mid(0, 4) + QLatin1Char('/') + ADate.mid(5, 2) + QLatin1Char('/') +
                          ADate.mid(8, 2) + QLatin1Char('/') + AName;
        if (QFileInfo(p).isFile())
            return p;
    }
    const QDir::Filters dirs = QDir::Dirs | QDir::NoDotAndDotDot;
    for (const QString &y : QDir(root).entryList(dirs, QDir::Name))
        for (const QString &m : QDir(root + y).entryList(dirs, QDir::Name))
            for (const QString &d : QDir(root + y + QLatin1Char('/') + m).entryList(dirs, QDir::Name)) {
                const QString p = root + y + QLatin1Char('/') + m + QLatin1Char('/') + d + QLatin1Char('/') + AName;
                if (QFileInfo(p).isFile())
                    return p;
            }
    return QString();
}

} // namespace

TFileDigest Sha256OfFile(const QString &APath)
{
    TFileDigest d;
    const int fd = ::open(QFile::encodeName(APath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        d.Error = errno;
        return d;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        d.Error = errno ? errno : EINVAL;
        ::close(fd);
        return d;
    }
    d.Modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000,
                                                Qt::UTC);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1) {
        d.Error = ENOMEM;
        ::close(fd);
        return d;
    }
    std::vector<char> buf(HashBlockBytes);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            d.Error = errno;
            ::close(fd);
            return d;
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(hash.get(), buf.data(), size_t(n));
        total += n;
    }
    ::close(fd);
    d.Bytes = total;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(hash.get(), digest, &length);
    d.Hex = QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    return d;
}

QByteArray Sha256Line(const QByteArray &AHex, const QString &AName)
{
    QByteArray name = QFile::encodeName(AName);
    if (!name.contains('\\') && !name.contains('\n') && !name.contains('\r'))
        return AHex + "  " + name + '\n';
    name.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
    return '\\' + AHex + "  " + name + '\n';
}

QString EvidenceRecordPath(const QString &AClip)
{
    return AClip + QStringLiteral(".json");
}

QString EvidenceChecksumPath(const QString &AClip)
{
    return AClip + QStringLiteral(".sha256");
}

QString EvidenceProgramVersion()
{
    return ReaderVersion();
}

QString EvidenceLibrariesText()
{
    return AudioLibrariesText();
}

bool ExportWithRecord(const TEvidenceExport &AJob, const TCancelProgress &AProgress, TExportOutcome *AOutcome,
                      QString *ARecordPath)
{
    TExportOutcome local;
    TExportOutcome &outcome = AOutcome ? *AOutcome : local;
    outcome = TExportOutcome{};
    const QFileInfo target(AJob.Dest);
    if (target.exists() && !target.isFile()) {
        outcome.Error = QStringLiteral("geen gewoon bestand: %1").arg(AJob.Dest);
        return false;
    }
    // The clip replaces its target by a rename, so a target that is the recording (or a link to it) would
    // replace the recording: refused before anything is made.
    struct stat src {}, dst {};
    if (::stat(QFile::encodeName(AJob.Source).constData(), &src) == 0 &&
        ::stat(QFile::encodeName(AJob.Dest).constData(), &dst) == 0 && src.st_dev == dst.st_dev &&
        src.st_ino == dst.st_ino) {
        outcome.Error = QStringLiteral("de export zou de opname zelf vervangen: %1").arg(AJob.Dest);
        return false;
    }
    // A symbolic link is followed, as the plain export does: the clip replaces the file it names.
    const QString clipPath = target.isSymLink() && target.exists() ? target.canonicalFilePath() : AJob.Dest;
    // The clip goes to a name of our own first; the export renames its complete file onto it.
    TTempFile clip;
    const QString clipDir = QFileInfo(clipPath).path();
    if (!clip.Create(clipDir, ExportTempPrefix, ExportTempSuffix)) {
        outcome.Error = QStringLiteral("kan geen bestand maken in %1: %2").arg(clipDir, SystemText(clip.Error()));
        return false;
    }
    struct stat old {};
    if (::stat(QFile::encodeName(clipPath).constData(), &old) == 0)
        ::fchmod(clip.Fd(), old.st_mode & 07777);

    TFileDigest source;
    std::thread hashing([&] { source = Sha256OfFile(AJob.Source); });
    struct TJoin {
        std::thread &Thread;
        ~TJoin()
        {
            if (Thread.joinable())
                Thread.join();
        }
    } join{hashing};

    bool cancelled = false;
    TCancelProgress progress;
    if (AProgress)
        progress = [&](int APercent) {
            const bool goOn = AProgress(APercent);
            cancelled = cancelled || !goOn;
            return goOn;
        };
    const bool written = ExportFileRange(AJob.Source, AJob.DurationSec, clip.Path(), AJob.Format, AJob.Bitrate,
                                         AJob.StartSec, AJob.EndSec, progress, &outcome,
                                         TExportTargetRule::ReplaceWhenComplete, AJob.TargetLufs);
    hashing.join();
    if (!written || cancelled)
        return false;  // the reserved name is removed with `clip`
    if (!source.Ok()) {
        outcome.Error = QStringLiteral("kan de opname niet lezen voor de controlesom: %1: %2")
                            .arg(AJob.Source, SystemText(source.Error));
        return false;
    }
    const TFileDigest clipDigest = Sha256OfFile(clip.Path());
    if (!clipDigest.Ok()) {
        outcome.Error = QStringLiteral("kan de export niet teruglezen: %1").arg(SystemText(clipDigest.Error));
        return false;
    }
    const double start = qMax(0.0, AJob.StartSec);
    const double end = AJob.EndSec <= 0 || AJob.EndSec >= AJob.DurationSec ? AJob.DurationSec : AJob.EndSec;
    const QByteArray json =
        QJsonDocument(RecordJson(AJob, clipDigest, source, outcome.Seconds, start, end)).toJson(QJsonDocument::Indented);
    const QString recordPath = EvidenceRecordPath(AJob.Dest);
    const QString sumPath = EvidenceChecksumPath(AJob.Dest);
    TTempFile record, sum;
    if (!StageFile(record, recordPath, json, outcome.Error) ||
        !StageFile(sum, sumPath, Sha256Line(clipDigest.Hex, target.fileName()), outcome.Error))
        return false;
    if (!record.Commit(recordPath, true)) {
        outcome.Error = QStringLiteral("kan \"%1\" niet schrijven: %2").arg(recordPath, SystemText(record.Error()));
        return false;
    }
    if (!sum.Commit(sumPath, true)) {
        outcome.Error = QStringLiteral("kan \"%1\" niet schrijven: %2").arg(sumPath, SystemText(sum.Error()));
        QFile::remove(recordPath);
        return false;
    }
    if (!clip.Commit(clipPath, true)) {
        outcome.Error = QStringLiteral("kan \"%1\" niet schrijven: %2").arg(AJob.Dest, SystemText(clip.Error()));
        QFile::remove(recordPath);
        QFile::remove(sumPath);
        return false;
    }
    if (ARecordPath)
        *ARecordPath = recordPath;
    return true;
}

bool CheckEvidenceRecord(const QString &ARecordPath, const QString &ARoot, TEvidenceCheck &ACheck, QString &AError)
{
    ACheck = TEvidenceCheck{};
    QFile f(ARecordPath);
    if (!f.open(QIODevice::ReadOnly)) {
        AError = QStringLiteral("kan de verantwoording niet lezen: %1: %2").arg(ARecordPath, f.errorString());
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    const QJsonObject rec = doc.object();
    const QJsonObject clip = rec.value(QLatin1String("clip")).toObject();
    const QJsonObject source = rec.value(QLatin1String("source")).toObject();
    const QJsonObject range = rec.value(QLatin1String("range")).toObject();
    const QString clipName = clip.value(QLatin1String("file")).toString();
    const QByteArray clipSha = clip.value(QLatin1String("sha256")).toString().toLatin1();
    TAudioFormat format = TAudioFormat::afWAV;
    bool knownFormat = false;
    for (int i = 0; i < AudioFormatCount; ++i)
        if (clip.value(QLatin1String("format")).toString() == QLatin1String(FormatNames[i])) {
            format = TAudioFormat(i);
            knownFormat = true;
        }
    if (parseError.error != QJsonParseError::NoError || !doc.isObject() || clipName.isEmpty() ||
        clipName.contains(QLatin1Char('/')) || clipSha.size() != 64 || !knownFormat ||
        !range.value(QLatin1String("start_seconds")).isDouble() || !range.value(QLatin1String("end_seconds")).isDouble()) {
        AError = QStringLiteral("geen geldige verantwoording: %1").arg(ARecordPath);
        return false;
    }

    const QString clipPath = QFileInfo(ARecordPath).absolutePath() + QLatin1Char('/') + clipName;
    const TFileDigest clipNow = Sha256OfFile(clipPath);
    ACheck.Clip = clipNow.Ok() && clipNow.Hex == clipSha ? TEvidenceCheck::TClip::Ok : TEvidenceCheck::TClip::Altered;

    QString sourcePath = source.value(QLatin1String("path")).toString();
    if (sourcePath.isEmpty() || !QFileInfo(sourcePath).isFile())
        sourcePath = FindUnderRoot(ARoot, source.value(QLatin1String("file_name")).toString(),
                                   rec.value(QLatin1String("recording")).toObject().value(QLatin1String("date")).toString());
    if (sourcePath.isEmpty()) {
        ACheck.SkipReason = QStringLiteral("opname niet bereikbaar");
        return true;
    }
    const TFileDigest sourceNow = Sha256OfFile(sourcePath);
    if (!sourceNow.Ok()) {
        ACheck.SkipReason = QStringLiteral("opname niet leesbaar: %1").arg(SystemText(sourceNow.Error));
        return true;
    }
    ACheck.SourcePath = sourcePath;
    ACheck.Source = sourceNow.Hex == source.value(QLatin1String("sha256")).toString().toLatin1()
                        ? TEvidenceCheck::TSource::Ok
                        : TEvidenceCheck::TSource::Altered;
    if (ACheck.Source != TEvidenceCheck::TSource::Ok) {
        ACheck.SkipReason = QStringLiteral("opname gewijzigd");
        return true;
    }
    const QString libraries = rec.value(QLatin1String("program")).toObject().value(QLatin1String("libraries")).toString();
    if (libraries != EvidenceLibrariesText()) {
        ACheck.SkipReason = QStringLiteral("andere bibliotheekversies: %1 (nu %2)")
                                .arg(libraries, EvidenceLibrariesText())
                                .replace(QLatin1Char('\n'), QLatin1String("; "));
        return true;
    }

    // The same path as the export itself: the engine's load gives the length the range is measured against.
    TAudioEngine engine;
    QTemporaryDir dir;
    if (!dir.isValid() || !engine.Load(sourcePath)) {
        ACheck.SkipReason = QStringLiteral("opnieuw exporteren niet mogelijk");
        return true;
    }
    const QString again = dir.filePath(QStringLiteral("reexport") + QLatin1String(FormatExt(format)));
    bool written = false;
    try {
        written = engine.ExportRange(again, format, clip.value(QLatin1String("bitrate_kbps")).toInt(128),
                                     range.value(QLatin1String("start_seconds")).toDouble(),
                                     range.value(QLatin1String("end_seconds")).toDouble(), {},
                                     clip.value(QLatin1String("loudness_target_lufs")).toDouble(0));
    } catch (const EReaderError &) {
        written = false;
    }
    const TFileDigest againDigest = written ? Sha256OfFile(again) : TFileDigest{};
    ACheck.Reexport = againDigest.Ok() && againDigest.Hex == clipSha ? TEvidenceCheck::TReexport::Identical
                                                                     : TEvidenceCheck::TReexport::Differs;
    return true;
}
