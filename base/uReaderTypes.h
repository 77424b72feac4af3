// Recording record, export formats, clock texts, rounding, operator-text trimming, the executable's folder
// and the error type: the vocabulary every layer shares (Qt Core only).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <stdexcept>
#include <string>

// One row of the recorder's `recordings` table. An empty record has empty strings and zeros.
struct TRecInfo {
    int Id = 0;
    QString RecDT;      // start date-time as the recorder stored it; only a sort key
    QString RecDate;    // yyyy-mm-dd
    int RecHour = 0;    // 0..23
    int RecNumber = 0;  // sequence within the hour, from 1
    QString Format;     // recorder's format label, shown unchanged
    QString FileName;   // file name without folder; begins with the stem ddmmyyyy + hh + number
    QString FilePath;   // full path as stored at recording time
    QString Title;
    QString Persons;    // may hold several lines (CR LF)
    int DurationSec = 0;

    bool operator==(const TRecInfo &AOther) const;
    bool operator!=(const TRecInfo &AOther) const { return !(*this == AOther); }
};

// Ordered list of recordings; keeps the order rows were appended in.
using TRecList = QList<TRecInfo>;

enum class TAudioFormat { afWAV = 0, afMP3 = 1, afOGG = 2, afOPUS = 3 };
constexpr int AudioFormatCount = 4;

extern const char *const FormatNames[AudioFormatCount];  // "WAV", "MP3", "OGG", "OPUS"
extern const char *const FormatExts[AudioFormatCount];   // ".wav", ".mp3", ".ogg", ".opus"
inline const char *FormatName(TAudioFormat AFmt) { return FormatNames[static_cast<int>(AFmt)]; }
inline const char *FormatExt(TAudioFormat AFmt) { return FormatExts[static_cast<int>(AFmt)]; }
bool FormatHasBitrate(TAudioFormat AFmt);  // false only for WAV

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
long long RoundHalfEven(double AValue);

// Clock text of a span in whole seconds: "mm:ss", or "h:mm:ss" from one hour on (hours unbounded).
// Negative input counts as 0; the seconds are rounded half to even.
QString FormatDuration(double ASec);
// Clock text of a position with milliseconds: "mm:ss.zzz", or "h:mm:ss.zzz" from one hour on.
// Milliseconds are rounded half to even and a rounded 1000 carries into the seconds.
QString FormatTimeMs(double ASec);

// Text typed by the operator with the characters of code 32 and below removed at both ends
// (nothing else is changed).
QString TrimControl(const QString &AText);

// File names by their bytes. The file system names a file by bytes, which need not be UTF-8; a QString
// made by PathFromBytes keeps every byte that is not part of valid UTF-8 as the lone surrogate
// U+DC00 + byte (U+DC80..U+DCFF), which valid UTF-8 can never produce, and PathBytes gives the bytes back
// exactly (an embedded NUL included). Valid UTF-8 decodes as QString::fromUtf8 does, and a QString without
// such surrogates encodes as toUtf8 does.
QString PathFromBytes(const QByteArray &ABytes);
QByteArray PathBytes(const QString &APath);
// The bytes of APath when it can name a file at all; false for an empty path and for one holding a NUL,
// which no file name can hold (the system would see only the part before it).
bool PathBytesOf(const QString &APath, QByteArray &ABytes);
// APath names a regular file (after symbolic links); its size in ASize when asked. False for an empty path
// and a path holding a NUL, as for one that does not exist.
bool IsRegularFilePath(const QString &APath, qint64 *ASize = nullptr);
// Both paths name one existing file (device and inode after symbolic links), so a symbolic or a hard link
// to a file counts as the file itself. False when either does not exist or cannot name a file.
bool IsSameFile(const QString &AFirst, const QString &ASecond);
// Where the recorder files a recording under a recordings root: ARoot/yyyy/mm/dd/AFileName for ARecDate
// (yyyy-mm-dd), whether it exists or not; one '/' is put between ARoot and the year unless ARoot ends in
// one. Empty when ARecDate has another length, or a part of it or the name would leave its folder (a
// separator, a dot folder, a NUL).
QString RecordingPathUnderRoot(const QString &ARoot, const QString &ARecDate, const QString &AFileName);

// The system's text for an errno value (strerror), decoded from the locale's encoding.
QString SystemText(int AErrno);

// Folder of the running executable, always ending in exactly one '/'.
QString AppDir();

// The one error type of the catalogue and the settings store: carries the operator's message text.
class EReaderError : public std::runtime_error {
public:
    explicit EReaderError(const QString &AMessage);
    QString Message() const { return FMessage; }

private:
    QString FMessage;
};
