// Export records: SHA-256 checksums and the record beside an exported clip.
#include "uEvidence.h"

#include "uDecoder.h"
#include "uOwnedFd.h"
#include "uVersion.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Read in large blocks: the hash, not the system calls, is what a read of a cached file waits for.
constexpr qint64 HashBlockBytes = 1 << 20;

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

QJsonObject RecordJson(const TEvidenceFacts &AJob, const TFileDigest &AClip, const TFileDigest &ASource)
{
    const bool bitrate = FormatHasBitrate(AJob.Format);
    QJsonObject clip{{"file", QFileInfo(AJob.Clip).fileName()},
                     {"sha256", QString::fromLatin1(AClip.Hex)},
                     {"bytes", double(AClip.Bytes)},
                     {"format", QString::fromLatin1(FormatName(AJob.Format))},
                     {"bitrate_kbps", OrNull(bitrate, AJob.Bitrate)},
                     {"seconds", AJob.ClipSeconds},
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
    QJsonObject range{{"start_seconds", AJob.StartSec},
                      {"end_seconds", AJob.EndSec},
                      {"start_text", FormatTimeMs(AJob.StartSec)},
                      {"end_text", FormatTimeMs(AJob.EndSec)}};
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

} // namespace

TFileDigest Sha256OfFile(const QString &APath)
{
    TFileDigest d;
    const TOwnedFd file(::open(PathBytes(APath).constData(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        d.Error = errno;
        return d;
    }
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        d.Error = errno ? errno : EINVAL;
        return d;
    }
    d.Modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000,
                                                Qt::UTC);
    ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1) {
        d.Error = ENOMEM;
        return d;
    }
    std::vector<char> buf(HashBlockBytes);
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(file.Get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            d.Error = errno;
            return d;
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(hash.get(), buf.data(), size_t(n));
        total += n;
    }
    d.Bytes = total;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(hash.get(), digest, &length);
    d.Hex = QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    return d;
}

QByteArray Sha256Line(const QByteArray &AHex, const QString &AName)
{
    QByteArray name = PathBytes(AName);
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

QByteArray EvidenceRecordText(const TEvidenceFacts &AFacts, const TFileDigest &AClip, const TFileDigest &ASource)
{
    return QJsonDocument(RecordJson(AFacts, AClip, ASource)).toJson(QJsonDocument::Indented);
}
