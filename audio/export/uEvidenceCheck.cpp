// The check of an exported clip against its record, with a re-export through the export pipeline.
#include "uEvidenceCheck.h"

#include "uEvidence.h"
#include "uExportPipeline.h"
#include "uReaderTypes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

// The file a recording name stands for under ARoot: its day folder first, then any day folder.
QString FindUnderRoot(const QString &ARoot, const QString &AName, const QString &ADate)
{
    if (ARoot.isEmpty() || AName.isEmpty() || AName.contains(QLatin1Char('/')))
        return QString();
    const QString root = QDir::cleanPath(ARoot) + QLatin1Char('/');
    const QString inDayFolder = RecordingPathUnderRoot(root, ADate, AName);
    if (!inDayFolder.isEmpty() && IsRegularFilePath(inDayFolder))
        return inDayFolder;
    const QDir::Filters dirs = QDir::Dirs | QDir::NoDotAndDotDot;
    for (const QString &y : QDir(root).entryList(dirs, QDir::Name))
        for (const QString &m : QDir(root + y).entryList(dirs, QDir::Name))
            for (const QString &d : QDir(root + y + QLatin1Char('/') + m).entryList(dirs, QDir::Name)) {
                const QString p = root + y + QLatin1Char('/') + m + QLatin1Char('/') + d + QLatin1Char('/') + AName;
                if (IsRegularFilePath(p))
                    return p;
            }
    return QString();
}

// True when the checksum file at APath is missing, or holds only lines naming AName with AHex (as
// Sha256Line writes them, `sha256sum`'s binary marker '*' also taken); false for any other content.
bool ChecksumLineAgrees(const QString &APath, const QByteArray &AHex, const QString &AName)
{
    QFile f(APath);
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = f.read(1 << 16);
    bool any = false;
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        if (line.size() < 66 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
            return false;
        QByteArray name = line.mid(66);
        if (escaped) {
            QByteArray plain;
            for (int i = 0; i < name.size(); ++i) {
                if (name.at(i) == '\\' && i + 1 < name.size()) {
                    const char next = name.at(++i);
                    plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
                } else {
                    plain += name.at(i);
                }
            }
            name = plain;
        }
        if (line.left(64).toLower() != AHex || name != QFile::encodeName(AName))
            return false;
        any = true;
    }
    return any;
}

} // namespace

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
    ACheck.Clip = clipNow.Ok() && clipNow.Hex == clipSha && ChecksumLineAgrees(EvidenceChecksumPath(clipPath), clipSha, clipName)
                      ? TEvidenceCheck::TClip::Ok
                      : TEvidenceCheck::TClip::Altered;

    QString sourcePath = source.value(QLatin1String("path")).toString();
    if (!IsRegularFilePath(sourcePath))
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

    // The same pipeline as the export itself, into a folder of our own; the decoder tells the length.
    QTemporaryDir dir;
    if (!dir.isValid()) {
        ACheck.SkipReason = QStringLiteral("opnieuw exporteren niet mogelijk");
        return true;
    }
    TExportRequest again;
    again.Source = sourcePath;
    again.Format = format;
    again.Bitrate = clip.value(QLatin1String("bitrate_kbps")).toInt(128);
    again.StartSec = range.value(QLatin1String("start_seconds")).toDouble();
    again.EndSec = range.value(QLatin1String("end_seconds")).toDouble();
    again.TargetLufs = clip.value(QLatin1String("loudness_target_lufs")).toDouble(0);
    again.Path = dir.filePath(QStringLiteral("reexport") + QLatin1String(FormatExt(format)));
    const TExportOutcome outcome = ExportRecording(again);
    const TFileDigest againDigest = outcome.Done() ? Sha256OfFile(again.Path) : TFileDigest{};
    if (!againDigest.Ok()) {
        // Nothing to compare with: the clip is not proven either way.
        ACheck.SkipReason = QStringLiteral("opnieuw exporteren niet mogelijk");
        if (!outcome.Detail.isEmpty())
            ACheck.SkipReason += QStringLiteral(": ") + outcome.Detail;
        return true;
    }
    ACheck.Reexport = againDigest.Hex == clipSha ? TEvidenceCheck::TReexport::Identical
                                                 : TEvidenceCheck::TReexport::Differs;
    return true;
}
