// Recording record, export formats, clock texts and the executable's folder.
#include "uReaderTypes.h"

#include <QFileInfo>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool TRecInfo::operator==(const TRecInfo &AOther) const
{
    return Id == AOther.Id && RecDT == AOther.RecDT && RecDate == AOther.RecDate && RecHour == AOther.RecHour
        && RecNumber == AOther.RecNumber && Format == AOther.Format && FileName == AOther.FileName
        && FilePath == AOther.FilePath && Title == AOther.Title && Persons == AOther.Persons
        && DurationSec == AOther.DurationSec;
}

const char *const FormatNames[AudioFormatCount] = {"WAV", "MP3", "OGG", "OPUS"};
const char *const FormatExts[AudioFormatCount] = {".wav", ".mp3", ".ogg", ".opus"};

bool FormatHasBitrate(TAudioFormat AFmt) { return AFmt != TAudioFormat::afWAV; }

long long RoundHalfEven(double AValue)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even by default
    return static_cast<long long>(std::nearbyint(AValue));
}

namespace {

QString ClockText(long long ASeconds, const QString &AMsPart)
{
    const long long hours = ASeconds / 3600;
    const int minutes = static_cast<int>((ASeconds % 3600) / 60);
    const int seconds = static_cast<int>(ASeconds % 60);
    const QString mmss = QStringLiteral("%1:%2").arg(minutes, 2, 10, QLatin1Char('0')).arg(seconds, 2, 10, QLatin1Char('0'));
    if (hours == 0)
        return mmss + AMsPart;
    return QStringLiteral("%1:").arg(hours) + mmss + AMsPart;
}

} // namespace

QString FormatDuration(double ASec)
{
    if (!(ASec > 0))  // negative and NaN count as 0
        ASec = 0;
    return ClockText(RoundHalfEven(ASec), QString());
}

QString FormatTimeMs(double ASec)
{
    if (!(ASec > 0))
        ASec = 0;
    double whole = std::trunc(ASec);
    long long ms = RoundHalfEven((ASec - whole) * 1000.0);
    long long s = static_cast<long long>(whole);
    if (ms >= 1000) {
        ms = 0;
        ++s;
    }
    return ClockText(s, QStringLiteral(".%1").arg(ms, 3, 10, QLatin1Char('0')));
}

QString TrimControl(const QString &AText)
{
    int b = 0, e = AText.size();
    while (b < e && AText[b].unicode() <= 32)
        ++b;
    while (e > b && AText[e - 1].unicode() <= 32)
        --e;
    return AText.mid(b, e - b);
}

QString AppDir()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    QString dir;
    if (n > 0) {
        buf[n] = '\0';
        dir = QFileInfo(QString::fromLocal8Bit(buf)).absolutePath();
    }
    while (dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir + QLatin1Char('/');
}

EReaderError::EReaderError(const QString &AMessage)
    : std::runtime_error(AMessage.toStdString()), FMessage(AMessage)
{
}

namespace {

// Length of the valid UTF-8 sequence at ABytes[AAt], or 0 when the byte there does not start one
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
int Utf8SequenceAt(const QByteArray &ABytes, qsizetype AAt)
{
    const auto byte = [&](qsizetype AIndex) { return static_cast<unsigned char>(ABytes[AIndex]); };
    const unsigned char lead = byte(AAt);
    int n = 0;
    unsigned lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (ABytes.size() - AAt < n || byte(AAt + 1) < lo || byte(AAt + 1) > hi)
        return 0;
    for (int k = 2; k < n; ++k)
        if (byte(AAt + k) < 0x80 || byte(AAt + k) > 0xBF)
            return 0;
    return n;
}

bool IsEscapedByte(const QString &AText, qsizetype AAt)
{
    const char16_t c = AText[AAt].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (AAt == 0 || !AText[AAt - 1].isHighSurrogate());
}

} // namespace

QString PathFromBytes(const QByteArray &ABytes)
{
    QString out;
    out.reserve(ABytes.size());
    qsizetype run = 0;  // start of the valid stretch not yet appended
    for (qsizetype i = 0; i < ABytes.size();) {
        const int n = Utf8SequenceAt(ABytes, i);
        if (n > 0) {
            i += n;
            continue;
        }
        out += QString::fromUtf8(ABytes.constData() + run, i - run);
        out += QChar(char16_t(0xDC00 + static_cast<unsigned char>(ABytes[i])));
        run = ++i;
    }
    out += QString::fromUtf8(ABytes.constData() + run, ABytes.size() - run);
    return out;
}

QByteArray PathBytes(const QString &APath)
{
    QByteArray out;
    qsizetype run = 0;
    for (qsizetype i = 0; i < APath.size(); ++i) {
        if (!IsEscapedByte(APath, i))
            continue;
        out += QStringView(APath).mid(run, i - run).toUtf8();
        out += static_cast<char>(APath[i].unicode() - 0xDC00);
        run = i + 1;
    }
    if (run == 0)
        return APath.toUtf8();
    out += QStringView(APath).mid(run).toUtf8();
    return out;
}

bool PathBytesOf(const QString &APath, QByteArray &ABytes)
{
    if (APath.isEmpty() || APath.contains(QChar(0)))
        return false;
    ABytes = PathBytes(APath);
    return true;
}

bool IsSameFile(const QString &AFirst, const QString &ASecond)
{
    QByteArray first, second;
    struct stat firstStat {}, secondStat {};
    if (!PathBytesOf(AFirst, first) || !PathBytesOf(ASecond, second) || ::stat(first.constData(), &firstStat) != 0 ||
        ::stat(second.constData(), &secondStat) != 0)
        return false;
    return firstStat.st_dev == secondStat.st_dev && firstStat.st_ino == secondStat.st_ino;
}

namespace {

// A name that stays in its folder: not empty, no separator, no dot folder, no NUL.
bool IsPlainName(const QString &AName)
{
    return !AName.isEmpty() && AName != QLatin1String(".") && AName != QLatin1String("..") &&
           !AName.contains(QLatin1Char('/')) && !AName.contains(QChar(0));
}

} // namespace

QString RecordingPathUnderRoot(const QString &ARoot, const QString &ARecDate, const QString &AFileName)
{
    if (ARecDate.size() != 10)
        return QString();
    const QString year = ARecDate.mid(0, 4), month = ARecDate.mid(5, 2), day = ARecDate.mid(8, 2);
    if (!IsPlainName(year) || !IsPlainName(month) || !IsPlainName(day) || !IsPlainName(AFileName))
        return QString();
    const QString root = ARoot.endsWith(QLatin1Char('/')) ? ARoot : ARoot + QLatin1Char('/');
    return root + year + QLatin1Char('/') + month + QLatin1Char('/') + day + QLatin1Char('/') + AFileName;
}

QString SystemText(int AErrno)
{
    return QString::fromLocal8Bit(std::strerror(AErrno));
}

bool IsRegularFilePath(const QString &APath, qint64 *ASize)
{
    QByteArray bytes;
    struct stat st {};
    if (!PathBytesOf(APath, bytes) || ::stat(bytes.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (ASize)
        *ASize = static_cast<qint64>(st.st_size);
    return true;
}
