// Settings file round trip. Input: the file's bytes, then (after a byte 0x1D) writes separated by 0x1E, each
// one byte choosing the section and key (the settings' own, in varied letter case) and the value's bytes.
// Checked: a write either is refused (EReaderError, the text unchanged) or its value reads back exactly,
// also after writing the bytes out and parsing them again; every line that is not a written key's line is
// still there; a file with no write comes back byte for byte.
#include "uIniFile.h"
#include "uReaderTypes.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringDecoder>

#include <cstdio>
#include <cstdlib>

namespace {

struct TName {
    const char *section;
    const char *key;
};
const TName Names[] = {
    {"Paths", "Database"},     {"Paths", "RootFolder"}, {"Paths", "ExportFolder"}, {"Audio", "OutputDevice"},
    {"PATHS", "database"},     {"paths", "ROOTFOLDER"}, {"audio", "outputdevice"}, {"Other", "Key"},
};
constexpr int NameCount = sizeof Names / sizeof Names[0];

[[noreturn]] void Fail(const char *AWhat, const QByteArray &ADetail)
{
    std::fprintf(stderr, "fuzz_ini: %s\n%s\n", AWhat, ADetail.constData());
    std::abort();
}

// Windows-1252, written out here on its own so the check does not lean on the code it checks: the bytes
// 0x80..0x9F as the code page defines them, and the five it leaves undefined as their own numbers.
QString Cp1252(const QByteArray &ABytes)
{
    static const char16_t high[32] = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021,
                                      0x02c6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008d, 0x017d, 0x008f,
                                      0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
                                      0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};
    QString text;
    for (const char c : ABytes) {
        const auto b = static_cast<unsigned char>(c);
        text += QChar(b >= 0x80 && b <= 0x9f ? high[b - 0x80] : char16_t(b));
    }
    return text;
}

// The text of a settings file, decoded by the rules the reader documents: UTF-16 LE after its byte-order
// mark; otherwise (after a UTF-8 mark, if any) UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString Decode(const QByteArray &ABytes)
{
    if (ABytes.startsWith("\xff\xfe"))
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(ABytes.constData() + 2), (ABytes.size() - 2) / 2);
    const QByteArray body = ABytes.startsWith("\xef\xbb\xbf") ? ABytes.mid(3) : ABytes;
    QStringDecoder dec(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = dec(body);
    return dec.hasError() ? Cp1252(body) : text;
}

QList<QByteArray> Lines(const QByteArray &ABytes)
{
    // Lines end at LF; CRs at a line's end belong to its line end (a last line's CR becomes one when a
    // line is added after it).
    QList<QByteArray> out;
    for (QString l : Decode(ABytes).split('\n')) {
        while (l.endsWith('\r'))
            l.chop(1);
        out << l.toUtf8();
    }
    return out;
}

bool IsLineOfKey(const QByteArray &ALine, const QHash<QByteArray, bool> &AKeys)
{
    const int eq = ALine.indexOf('=');
    return eq >= 0 && AKeys.contains(ALine.left(eq).trimmed().toLower());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *AData, size_t ASize)
{
    const QByteArray input(reinterpret_cast<const char *>(AData), int(ASize));
    const int split = input.indexOf('\x1d');
    const QByteArray file = split < 0 ? input : input.left(split);
    const QList<QByteArray> writes = split < 0 ? QList<QByteArray>() : input.mid(split + 1).split('\x1e');

    TIniFile ini = TIniFile::FromBytes(file);
    const QByteArray original = ini.ToBytes();
    // (A UTF-16 file of odd length is malformed: its last half character cannot come back.)
    const bool oddUtf16 = file.startsWith("\xff\xfe") && file.size() % 2 != 0;
    if (writes.isEmpty() && !oddUtf16 && original != file)
        Fail("a file read and written back without a change differs", file.toHex());

    QHash<QByteArray, bool> writtenKeys;  // lower-case key names that were written
    QHash<QByteArray, QString> expected;  // lower-case "section/key" -> the value that must read back
    for (const QByteArray &w : writes) {
        if (w.isEmpty())
            continue;
        const TName &n = Names[static_cast<unsigned char>(w[0]) % NameCount];
        const QString value = QString::fromUtf8(w.mid(1));
        const QByteArray before = ini.ToBytes();
        const QString problem = TIniFile::ValueProblem(value);
        try {
            ini.WriteString(n.section, n.key, value);
        } catch (const EReaderError &) {
            if (problem.isEmpty())
                Fail("a write was refused without a problem", value.toUtf8());
            if (ini.ToBytes() != before)
                Fail("a refused write changed the text", value.toUtf8());
            continue;
        }
        if (!problem.isEmpty())
            Fail("a value with a problem was written", value.toUtf8());
        writtenKeys.insert(QByteArray(n.key).toLower(), true);
        expected.insert(QByteArray(n.section).toLower() + '/' + QByteArray(n.key).toLower(), value);
    }

    const QByteArray out = ini.ToBytes();
    const TIniFile again = TIniFile::FromBytes(out);
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        const QList<QByteArray> sk = it.key().split('/');
        const auto direct = ini.Value(QString::fromUtf8(sk[0]), QString::fromUtf8(sk[1]));
        const auto reread = again.Value(QString::fromUtf8(sk[0]), QString::fromUtf8(sk[1]));
        if (!direct || *direct != it.value())
            Fail("a written value does not read back", it.key() + " = " + it.value().toUtf8() + "\n" + out);
        if (!reread || *reread != it.value())
            Fail("a written value does not read back from the saved bytes",
                 it.key() + " = " + it.value().toUtf8() + "\n" + out.toHex());
    }

    // Every line that is not a written key's line survives (as many times as it was there).
    QHash<QByteArray, int> count;
    for (const QByteArray &l : Lines(out))
        count[l]++;
    for (const QByteArray &l : Lines(original)) {
        if (IsLineOfKey(l, writtenKeys))
            continue;
        if (--count[l] < 0)
            Fail("a line that was not written to is gone", l + "\n--- before\n" + original + "\n--- after\n" + out);
    }
    return 0;
}
