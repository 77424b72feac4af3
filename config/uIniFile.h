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
    // Parses file content: UTF-16 LE with its byte-order mark, UTF-8 with or without one, else Latin-1;
    // CR LF or LF line ends. ToBytes() writes the same encoding and line ends back.
    static TIniFile FromBytes(const QByteArray &data);
    QByteArray ToBytes() const;
    // Reads a file; false (and an empty file) when it is missing or unreadable.
    bool ReadFile(const QString &path);

    // The key's value: blanks around it removed, one pair of matching quotes removed, cut at
    // MaxValueLength. Nothing when the section or the key is missing.
    std::optional<QString> Value(const QString &section, const QString &key) const;
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // Decimal, or hexadecimal after "0x" or "$" (optionally signed); a value that is no 32-bit number
    // gives def.
    int ReadInteger(const QString &section, const QString &key, int def) const;

    // Why a value cannot be written so that it reads back the same (a line break, a NUL, too long);
    // empty when it can.
    static QString ValueProblem(const QString &value);
    // Replaces the first such key's line of the first such section in place, or adds the key at the end of
    // the section, or the section with the key at the end of the file. Values with blanks at either end or
    // enclosed in quotes are written quoted so they read back unchanged. Throws EReaderError when
    // ValueProblem(value) is not empty.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);

    static std::optional<int> ParseInteger(const QString &text);

private:
    // Latin1AfterBom: a UTF-8 mark followed by bytes that are not UTF-8, kept byte for byte.
    enum class TEncoding { Utf8, Utf8Bom, Utf16LeBom, Latin1, Latin1AfterBom };
    struct TLine {
        QString Text;  // without the line end
        QString End;   // "\r\n", "\n" or empty for a last line without one
    };
    // Index of the first section line with this name, or -1; FSectionEnd gives the index after its block.
    int FindSection(const QString &section) const;
    int SectionEnd(int sectionLine) const;
    int FindKey(int sectionLine, const QString &key) const;  // index of the key's line, or -1
    QString NewLineEnd() const;

    QList<TLine> FLines;
    TEncoding FEncoding = TEncoding::Utf8;
};
