// INI text read and edited with the rules of the classic profile-file functions: sections and keys match
// without regard to case, the first of duplicate sections or keys counts, a present empty value is present,
// values are cut at 2047 characters, and an edit replaces or adds only its own line.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class TIniFile {
public:
    // Longest value a read returns; longer values are cut.
    static constexpr int MaxValueLength = 2047;

    TIniFile() = default;
    // Parses file content: UTF-16 LE with its byte-order mark, UTF-8 with or without one, else 8-bit text
    // in Windows-1252 (the five bytes that code page leaves undefined, 0x81 0x8D 0x8F 0x90 0x9D, become the
    // characters U+0081 ... of the same number, so every byte comes back); CR LF or LF line ends.
    // ToBytes() writes the same encoding and line ends back, so every line not written to keeps its bytes.
    // The one exception: an 8-bit file that would not read back as the same text becomes UTF-8 as a whole
    // (every line keeps its text, not its bytes), since one file cannot mix two encodings: a value that
    // Windows-1252 cannot hold, or an edit that leaves bytes which all read as UTF-8 with another meaning.
    static TIniFile FromBytes(const QByteArray &AData);
    QByteArray ToBytes() const;
    // Reads a file; false (and an empty file) when it is missing or unreadable.
    bool ReadFile(const QString &APath);

    // The key's value: blanks around it removed, one pair of matching quotes removed, cut at
    // MaxValueLength. Nothing when the section or the key is missing.
    std::optional<QString> Value(const QString &ASection, const QString &AKey) const;
    QString ReadString(const QString &ASection, const QString &AKey, const QString &ADef) const;
    // Decimal, or hexadecimal after "0x" or "$" (optionally signed); a value that is no 32-bit number
    // gives def.
    int ReadInteger(const QString &ASection, const QString &AKey, int ADef) const;

    // Why a value cannot be written so that it reads back the same (a line break, a NUL, too long);
    // empty when it can.
    static QString ValueProblem(const QString &AValue);
    // Replaces the first such key's line of the first such section in place, or adds the key at the end of
    // the section, or the section with the key at the end of the file. Values with blanks at either end or
    // enclosed in quotes are written quoted so they read back unchanged. Throws EReaderError when
    // ValueProblem(value) is not empty.
    void WriteString(const QString &ASection, const QString &AKey, const QString &AValue);
    void WriteInteger(const QString &ASection, const QString &AKey, int AValue);

    static std::optional<int> ParseInteger(const QString &AText);

    // Windows-1252 both ways, with the undefined bytes kept as U+0081 ...; Encode gives nothing for a text
    // with a character the code page has no byte for.
    static QString DecodeCp1252(const QByteArray &ABytes);
    static std::optional<QByteArray> EncodeCp1252(const QString &AText);

private:
    // Cp1252AfterBom: a UTF-8 mark followed by bytes that are not UTF-8, read as 8-bit text after the mark.
    enum class TEncoding { Utf8, Utf8Bom, Utf16LeBom, Cp1252, Cp1252AfterBom };
    struct TLine {
        QString Text;  // without the line end
        QString End;   // "\r\n", "\n", or for the last line "\r" or empty
    };
    // Index of the first section line with this name, or -1; FSectionEnd gives the index after its block.
    int FindSection(const QString &ASection) const;
    int SectionEnd(int ASectionLine) const;
    int FindKey(int ASectionLine, const QString &AKey) const;  // index of the key's line, or -1
    QString NewLineEnd() const;
    // Gives line index a line end before a line is added after it.
    void EndLine(int AIndex, const QString &AEnd);
    static QByteArray EightBitOrUtf8(const QString &AText);

    QList<TLine> FLines;
    TEncoding FEncoding = TEncoding::Utf8;
};
