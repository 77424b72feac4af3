// INI text with the rules of the classic profile-file functions.
#include "uIniFile.h"

#include "uReaderTypes.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

bool IsBlank(QChar AChar)
{
    return AChar == QLatin1Char(' ') || AChar == QLatin1Char('\t');
}

QString TrimBlanks(const QString &AText)
{
    int b = 0, e = AText.size();
    while (b < e && IsBlank(AText[b]))
        ++b;
    while (e > b && IsBlank(AText[e - 1]))
        --e;
    return AText.mid(b, e - b);
}

bool IsQuoted(const QString &AText)
{
    return AText.size() >= 2 && AText.front() == AText.back() && (AText.front() == QLatin1Char('"') || AText.front() == QLatin1Char('\''));
}

// "[name]" -> name (blanks removed); not a section line -> nothing.
std::optional<QString> SectionName(const QString &ALine)
{
    const QString t = TrimBlanks(ALine);
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const int close = t.indexOf(QLatin1Char(']'));
    return TrimBlanks(t.mid(1, close < 0 ? -1 : close - 1));
}

// "key=value" -> key (blanks removed); a comment or a line without '=' -> nothing.
std::optional<QString> KeyName(const QString &ALine)
{
    const QString t = TrimBlanks(ALine);
    if (t.startsWith(QLatin1Char(';')))
        return std::nullopt;
    const int eq = t.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return TrimBlanks(t.left(eq));
}

bool SameName(const QString &AName, const QString &AOther)
{
    return AName.compare(AOther, Qt::CaseInsensitive) == 0;
}

// The characters of the bytes 0x80..0x9F in Windows-1252; 0 where the code page defines none.
const char16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

} // namespace

QString TIniFile::DecodeCp1252(const QByteArray &ABytes)
{
    QString text(ABytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char ch : ABytes) {
        const auto b = static_cast<unsigned char>(ch);
        // An undefined byte stays its own number, as the system's conversion of that code page does.
        const char16_t high = b >= 0x80 && b <= 0x9F ? Cp1252High[b - 0x80] : 0;
        *out++ = QChar(high ? high : char16_t(b));
    }
    return text;
}

std::optional<QByteArray> TIniFile::EncodeCp1252(const QString &AText)
{
    QByteArray bytes(AText.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar c : AText) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF) || (u <= 0x9F && Cp1252High[u - 0x80] == 0)) {
            *out++ = static_cast<char>(u);
            continue;
        }
        const char16_t *hit = std::find(std::begin(Cp1252High), std::end(Cp1252High), u);
        if (u <= 0x9F || hit == std::end(Cp1252High))
            return std::nullopt;  // a C1 control the code page uses for another character, or no byte at all
        *out++ = static_cast<char>(0x80 + (hit - std::begin(Cp1252High)));
    }
    return bytes;
}

TIniFile TIniFile::FromBytes(const QByteArray &AData)
{
    TIniFile ini;
    QString text;
    if (AData.startsWith("\xFF\xFE")) {
        ini.FEncoding = TEncoding::Utf16LeBom;
        QStringDecoder dec(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = dec(AData.mid(2));
    } else if (AData.startsWith("\xEF\xBB\xBF")) {
        // Stateless: an unfinished sequence at the end is an error, not silently dropped bytes.
        // ConvertInitialBom: the file's own mark is already cut off; a second one is text to keep.
        QStringDecoder dec(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = dec(AData.mid(3));
        ini.FEncoding = TEncoding::Utf8Bom;
        if (dec.hasError()) {
            // Not UTF-8 after all: 8-bit text, every byte kept rather than rewritten as U+FFFD on save.
            ini.FEncoding = TEncoding::Cp1252AfterBom;
            text = DecodeCp1252(AData.mid(3));
        }
    } else {
        QStringDecoder dec(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = dec(AData);
        if (dec.hasError()) {
            // 8-bit text as a Windows program writes it: the system code page of a Western installation.
            ini.FEncoding = TEncoding::Cp1252;
            text = DecodeCp1252(AData);
        }
    }
    int pos = 0;
    while (pos < text.size()) {
        const int nl = text.indexOf(QLatin1Char('\n'), pos);
        TLine line;
        if (nl < 0) {
            line.Text = text.mid(pos);
            pos = text.size();
            // A CR that ends the file ends its last line, as it will once a line follows it.
            if (line.Text.endsWith(QLatin1Char('\r'))) {
                line.Text.chop(1);
                line.End = QStringLiteral("\r");
            }
        } else {
            const bool crlf = nl > pos && text[nl - 1] == QLatin1Char('\r');
            line.Text = text.mid(pos, nl - pos - (crlf ? 1 : 0));
            line.End = crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
            pos = nl + 1;
        }
        ini.FLines.append(line);
    }
    return ini;
}

// 8-bit text stays 8-bit while it reads back as 8-bit: every character has its byte, and the bytes do not
// happen to form UTF-8 with more than ASCII (an edit can remove the one line that was not UTF-8). Otherwise
// the whole text becomes UTF-8, which reads back the same.
QByteArray TIniFile::EightBitOrUtf8(const QString &AText)
{
    const std::optional<QByteArray> bytes = EncodeCp1252(AText);
    if (!bytes)
        return AText.toUtf8();
    QStringDecoder dec(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString asUtf8 = dec(*bytes);
    if (!dec.hasError() && asUtf8 != AText)
        return AText.toUtf8();
    return *bytes;
}

QByteArray TIniFile::ToBytes() const
{
    QString text;
    for (const TLine &l : FLines)
        text += l.Text + l.End;
    switch (FEncoding) {
    case TEncoding::Utf16LeBom: {
        QStringEncoder enc(QStringConverter::Utf16LE);
        return QByteArray("\xFF\xFE") + QByteArray(enc(text));
    }
    case TEncoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case TEncoding::Cp1252AfterBom:
        return QByteArray("\xEF\xBB\xBF") + EightBitOrUtf8(text);
    case TEncoding::Cp1252:
        return EightBitOrUtf8(text);
    case TEncoding::Utf8:
        break;
    }
    return text.toUtf8();
}

bool TIniFile::ReadFile(const QString &APath)
{
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly)) {
        *this = TIniFile();
        return false;
    }
    *this = FromBytes(f.readAll());
    return true;
}

int TIniFile::FindSection(const QString &ASection) const
{
    const QString want = TrimBlanks(ASection);
    for (int i = 0; i < FLines.size(); ++i) {
        const auto name = SectionName(FLines[i].Text);
        if (name && SameName(*name, want))
            return i;
    }
    return -1;
}

int TIniFile::SectionEnd(int ASectionLine) const
{
    int i = ASectionLine + 1;
    while (i < FLines.size() && !SectionName(FLines[i].Text))
        ++i;
    return i;
}

int TIniFile::FindKey(int ASectionLine, const QString &AKey) const
{
    const QString want = TrimBlanks(AKey);
    const int end = SectionEnd(ASectionLine);
    for (int i = ASectionLine + 1; i < end; ++i) {
        const auto name = KeyName(FLines[i].Text);
        if (name && SameName(*name, want))
            return i;
    }
    return -1;
}

std::optional<QString> TIniFile::Value(const QString &ASection, const QString &AKey) const
{
    const int s = FindSection(ASection);
    if (s < 0)
        return std::nullopt;
    const int k = FindKey(s, AKey);
    if (k < 0)
        return std::nullopt;
    const QString &line = FLines[k].Text;
    QString value = TrimBlanks(line.mid(line.indexOf(QLatin1Char('=')) + 1));
    if (IsQuoted(value))
        value = value.mid(1, value.size() - 2);
    return value.left(MaxValueLength);
}

QString TIniFile::ReadString(const QString &ASection, const QString &AKey, const QString &ADef) const
{
    return Value(ASection, AKey).value_or(ADef);
}

std::optional<int> TIniFile::ParseInteger(const QString &AText)
{
    QString t = AText;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.front() == QLatin1Char('-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t.remove(0, 1);
    } else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    }
    if (t.isEmpty() || t.size() > 20)
        return std::nullopt;
    unsigned long long magnitude = 0;
    for (QChar c : t) {
        const int d = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
                      : (base == 16 && c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                          ? c.toLower().unicode() - 'a' + 10
                          : -1;
        if (d < 0)
            return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > 0xFFFFFFFFull)
            return std::nullopt;
    }
    long long v = static_cast<long long>(magnitude);
    if (base == 16)
        v = static_cast<int32_t>(static_cast<uint32_t>(magnitude));  // hexadecimal covers the 32 bits: $FFFFFFFF is -1
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return int(v);
}

int TIniFile::ReadInteger(const QString &ASection, const QString &AKey, int ADef) const
{
    const auto v = Value(ASection, AKey);
    if (!v)
        return ADef;
    return ParseInteger(*v).value_or(ADef);
}

QString TIniFile::ValueProblem(const QString &AValue)
{
    if (AValue.contains(QLatin1Char('\r')) || AValue.contains(QLatin1Char('\n')))
        return QStringLiteral("bevat een regeleinde");
    if (AValue.contains(QChar(0)))
        return QStringLiteral("bevat een NUL-teken");
    if (AValue.size() > MaxValueLength)
        return QStringLiteral("is langer dan %1 tekens").arg(MaxValueLength);
    return QString();
}

QString TIniFile::NewLineEnd() const
{
    for (const TLine &l : FLines)
        if (l.End.endsWith(QLatin1Char('\n')))
            return l.End;
    return QStringLiteral("\n");
}

void TIniFile::EndLine(int AIndex, const QString &AEnd)
{
    QString &e = FLines[AIndex].End;
    if (e.isEmpty())
        e = AEnd;
    else if (e == QLatin1String("\r"))
        e = QStringLiteral("\r\n");  // the CR that ended the file stays, and is now a CR LF
}

void TIniFile::WriteString(const QString &ASection, const QString &AKey, const QString &AValue)
{
    const QString problem = ValueProblem(AValue);
    if (!problem.isEmpty())
        throw EReaderError(QStringLiteral("De waarde van %1/%2 %3 en kan niet worden opgeslagen.")
                               .arg(ASection, AKey, problem));
    QString stored = AValue;
    if (!AValue.isEmpty() && (IsBlank(AValue.front()) || IsBlank(AValue.back()) || IsQuoted(AValue)))
        stored = QLatin1Char('"') + AValue + QLatin1Char('"');
    const QString keyLine = AKey + QLatin1Char('=') + stored;
    const QString end = NewLineEnd();

    const int s = FindSection(ASection);
    if (s >= 0) {
        const int k = FindKey(s, AKey);
        if (k >= 0) {
            FLines[k].Text = keyLine;
            return;
        }
        // After the section's last line that is not blank, so blank separator lines stay before the next.
        int at = SectionEnd(s);
        while (at > s + 1 && TrimBlanks(FLines[at - 1].Text).isEmpty())
            --at;
        EndLine(at - 1, end);
        FLines.insert(at, TLine{keyLine, end});
        return;
    }
    if (!FLines.isEmpty())
        EndLine(FLines.size() - 1, end);
    FLines.append(TLine{QLatin1Char('[') + ASection + QLatin1Char(']'), end});
    FLines.append(TLine{keyLine, end});
}

void TIniFile::WriteInteger(const QString &ASection, const QString &AKey, int AValue)
{
    WriteString(ASection, AKey, QString::number(AValue));
}
