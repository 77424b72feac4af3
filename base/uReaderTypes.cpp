// Recording record, export formats, clock texts and the executable's folder.
#include "uReaderTypes.h"

#include <QFileInfo>
#include <cmath>
#include <unistd.h>

bool TRecInfo::operator==(const TRecInfo &o) const
{
    return Id == o.Id && RecDT == o.RecDT && RecDate == o.RecDate && RecHour == o.RecHour
        && RecNumber == o.RecNumber && Format == o.Format && FileName == o.FileName
        && FilePath == o.FilePath && Title == o.Title && Persons == o.Persons
        && DurationSec == o.DurationSec;
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

QString FormatDuration(double Sec)
{
    if (!(Sec > 0))  // negative and NaN count as 0
        Sec = 0;
    return ClockText(RoundHalfEven(Sec), QString());
}

QString FormatTimeMs(double Sec)
{
    if (!(Sec > 0))
        Sec = 0;
    double whole = std::trunc(Sec);
    long long ms = RoundHalfEven((Sec - whole) * 1000.0);
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
