// INI text: lookups with the profile-file rules, integers, in-place edits that keep every other line,
// encodings and line ends kept, and values that cannot be written safely.
#include "ConfigTestKit.h"
#include "TestMain.h"
#include "uIniFile.h"
#include "uReaderTypes.h"

#include <QTest>

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void valueFollowsProfileRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");  // invalid = missing
        const QByteArray basic = "top=1\n[Paths]\nDatabase=/a.sqlite\nEmpty=\n  Spaced  =  x y  \nQ=\"  q \"\n"
                                 "S='s'\n;Hidden=1\nNoEquals\n[Audio]\nOutputDevice=3\n";
        QTest::addRow("plain") << basic << "Paths" << "Database" << QVariant("/a.sqlite");
        QTest::addRow("case of section and key ignored") << basic << "pATHS" << "DATABASE" << QVariant("/a.sqlite");
        QTest::addRow("present empty value") << basic << "Paths" << "Empty" << QVariant("");
        QTest::addRow("missing key") << basic << "Paths" << "RootFolder" << QVariant();
        QTest::addRow("missing section") << basic << "Other" << "Database" << QVariant();
        QTest::addRow("key of another section") << basic << "Paths" << "OutputDevice" << QVariant();
        QTest::addRow("key before any section") << basic << "" << "top" << QVariant();
        QTest::addRow("blanks around key and value") << basic << "Paths" << "Spaced" << QVariant("x y");
        QTest::addRow("double quotes removed") << basic << "Paths" << "Q" << QVariant("  q ");
        QTest::addRow("single quotes removed") << basic << "Paths" << "S" << QVariant("s");
        QTest::addRow("comment line") << basic << "Paths" << ";Hidden" << QVariant();
        QTest::addRow("duplicate key: first counts") << QByteArray("[P]\nk=1\nk=2\n") << "P" << "k" << QVariant("1");
        QTest::addRow("duplicate section: first counts")
            << QByteArray("[P]\na=1\n[Q]\n[p]\nk=2\n") << "P" << "k" << QVariant();
        QTest::addRow("section name with blanks") << QByteArray(" [ P ] \nk=1\n") << "P" << "k" << QVariant("1");
        QTest::addRow("value with '='") << QByteArray("[P]\nk=a=b\n") << "P" << "k" << QVariant("a=b");
        QTest::addRow("CRLF") << QByteArray("[P]\r\nk=v\r\nl=w\r\n") << "P" << "k" << QVariant("v");
        QTest::addRow("no line end at the end") << QByteArray("[P]\nk=v") << "P" << "k" << QVariant("v");
        QTest::addRow("CR at the end of the file ends the line") << QByteArray("[P]\nk=v\r") << "P" << "k"
                                                                 << QVariant("v");
        QTest::addRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF[P]\nk=caf\xC3\xA9\n") << "P" << "k"
                                        << QVariant(QString::fromUtf8("café"));
        QTest::addRow("UTF-8 without BOM") << QByteArray("[P]\nk=caf\xC3\xA9\n") << "P" << "k"
                                           << QVariant(QString::fromUtf8("café"));
        QTest::addRow("8-bit text") << QByteArray("[P]\nk=caf\xE9\n") << "P" << "k"
                                    << QVariant(QString::fromUtf8("café"));
        QTest::addRow("Windows-1252 punctuation") << QByteArray("[P]\nk=\x80 5 \x96 \x93x\x94 \x92t\n") << "P" << "k"
                                                  << QVariant(QString::fromUtf8("€ 5 – “x” ’t"));
        QTest::addRow("bytes Windows-1252 leaves undefined")
            << QByteArray("[P]\nk=\x81\x8D\x8F\x90\x9D\xE9\n") << "P" << "k"
            << QVariant(QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D\u00E9"));
        QTest::addRow("UTF-16 LE with BOM, CRLF") << Utf16(QString::fromUtf8("[Paths]\r\nDatabase=C:\\é.sqlite\r\n"))
                                                  << "paths" << "database"
                                                  << QVariant(QString::fromUtf8("C:\\é.sqlite"));
        QTest::addRow("2047 characters kept") << "[P]\nk=" + QByteArray(2047, 'a') + "\n" << "P" << "k"
                                              << QVariant(QString(2047, 'a'));
        QTest::addRow("longer value cut at 2047") << "[P]\nk=" + QByteArray(3000, 'a') + "b\n" << "P" << "k"
                                                  << QVariant(QString(2047, 'a'));
    }
    void valueFollowsProfileRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        const TIniFile ini = TIniFile::FromBytes(file);
        const auto v = ini.Value(section, key);
        QCOMPARE(v.has_value(), value.isValid());
        if (v)
            QCOMPARE(*v, value.toString());
        QCOMPARE(ini.ReadString(section, key, "dflt"), value.isValid() ? value.toString() : QString("dflt"));
    }

    void readIntegerTakesDecimalAndHex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");  // with -1 as the default
        QTest::addRow("decimal") << "3" << 3;
        QTest::addRow("negative") << "-2" << -2;
        QTest::addRow("0x") << "0x3" << 3;
        QTest::addRow("0X upper") << "0XfF" << 255;
        QTest::addRow("dollar") << "$10" << 16;
        QTest::addRow("dollar all bits") << "$FFFFFFFF" << -1;
        QTest::addRow("not a number") << "abc" << -1;
        QTest::addRow("digits then text") << "12abc" << -1;
        QTest::addRow("empty") << "" << -1;
        QTest::addRow("too large") << "2147483648" << -1;
        QTest::addRow("smallest") << "-2147483648" << INT_MIN;
        QTest::addRow("hex too large") << "0x100000000" << -1;
        QTest::addRow("bare prefix") << "0x" << -1;
    }
    void readIntegerTakesDecimalAndHex()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        const TIniFile ini = TIniFile::FromBytes("[Audio]\nOutputDevice=" + text.toUtf8() + "\n");
        QCOMPARE(ini.ReadInteger("audio", "outputdevice", -1), value);
    }

    void writeReplacesOrAddsOnlyItsLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");  // after writing Paths/Database=/new
        QTest::addRow("replaced in place, case kept from the writer")
            << QByteArray("; note\n[paths]\nx=1\n DATABASE = old \ny=2\n[Audio]\nOutputDevice=1\n")
            << QByteArray("; note\n[paths]\nx=1\nDatabase=/new\ny=2\n[Audio]\nOutputDevice=1\n");
        QTest::addRow("added at the end of its section, before blank lines")
            << QByteArray("[Paths]\nx=1\n\n[Audio]\nOutputDevice=1\n")
            << QByteArray("[Paths]\nx=1\nDatabase=/new\n\n[Audio]\nOutputDevice=1\n");
        QTest::addRow("section added at the end") << QByteArray("[Audio]\nOutputDevice=1")
                                                  << QByteArray("[Audio]\nOutputDevice=1\n[Paths]\nDatabase=/new\n");
        QTest::addRow("empty file") << QByteArray() << QByteArray("[Paths]\nDatabase=/new\n");
        QTest::addRow("CRLF kept") << QByteArray("[Paths]\r\nx=1\r\n") << QByteArray("[Paths]\r\nx=1\r\nDatabase=/new\r\n");
        QTest::addRow("section ended by a CR at the end of the file")
            << QByteArray("[Paths\r") << QByteArray("[Paths\r\nDatabase=/new\n");
        QTest::addRow("CR at the end of the file after LF lines")
            << QByteArray("[Audio]\nx=1\r") << QByteArray("[Audio]\nx=1\r\n[Paths]\nDatabase=/new\n");
        QTest::addRow("first of duplicate keys") << QByteArray("[Paths]\nDatabase=a\nDatabase=b\n")
                                                 << QByteArray("[Paths]\nDatabase=/new\nDatabase=b\n");
        QTest::addRow("first of duplicate sections") << QByteArray("[Paths]\nx=1\n[Paths]\nDatabase=b\n")
                                                     << QByteArray("[Paths]\nx=1\nDatabase=/new\n[Paths]\nDatabase=b\n");
        QTest::addRow("8-bit line kept") << QByteArray("[Paths]\nName=caf\xE9\n")
                                         << QByteArray("[Paths]\nName=caf\xE9\nDatabase=/new\n");
        QTest::addRow("every byte of Windows-1252 lines kept")
            << QByteArray("[Paths]\r\nName=\x80\x81\x8D\x8F\x90\x92\x96\x9D\x9F\xA0\xFF\r\nDatabase=C:\\\x80\r\n")
            << QByteArray("[Paths]\r\nName=\x80\x81\x8D\x8F\x90\x92\x96\x9D\x9F\xA0\xFF\r\nDatabase=/new\r\n");
        QTest::addRow("UTF-16 stays UTF-16") << Utf16("[Paths]\r\nDatabase=x\r\n") << Utf16("[Paths]\r\nDatabase=/new\r\n");
        QTest::addRow("UTF-8 BOM kept") << QByteArray("\xEF\xBB\xBF[Paths]\n") << QByteArray("\xEF\xBB\xBF[Paths]\nDatabase=/new\n");
        QTest::addRow("unfinished UTF-8 sequence at the end kept")
            << QByteArray("[Paths]\nx=\xC9") << QByteArray("[Paths]\nx=\xC9\nDatabase=/new\n");
        QTest::addRow("second UTF-8 mark kept")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx=1\n[Paths]\n")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx=1\n[Paths]\nDatabase=/new\n");
        QTest::addRow("invalid bytes after a UTF-8 mark kept")
            << QByteArray("\xEF\xBB\xBF[Paths]\nx=th\xF4" "a\n")
            << QByteArray("\xEF\xBB\xBF[Paths]\nx=th\xF4" "a\nDatabase=/new\n");
    }
    void writeReplacesOrAddsOnlyItsLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        TIniFile ini = TIniFile::FromBytes(before);
        ini.WriteString("Paths", "Database", "/new");
        QCOMPARE(ini.ToBytes(), after);
    }

    void writtenValueReadsBackUnchanged_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addRow("empty") << "";
        QTest::addRow("blanks at both ends") << "  /a b/  ";
        QTest::addRow("tab at the end") << "/x\t";
        QTest::addRow("quoted") << "\"/x\"";
        QTest::addRow("single-quoted") << "'x'";
        QTest::addRow("one quote") << "\"";
        QTest::addRow("equals and brackets") << "[a]=b;c";
        QTest::addRow("non-Latin") << QString::fromUtf8("/home/Ĳssel/日本");
        QTest::addRow("2047 characters") << QString(2047, 'z');
        QTest::addRow("Windows-1252 punctuation") << QString::fromUtf8("/srv/€ – ‘x’ Œ™");
        QTest::addRow("a character of an undefined byte") << QString::fromUtf16(u"/a\u0081b");
        QTest::addRow("a C1 control Windows-1252 has no byte for") << QString::fromUtf16(u"/a\u0080b");
    }
    void writtenValueReadsBackUnchanged()
    {
        QFETCH(QString, value);
        for (const QByteArray &start : {QByteArray(), QByteArray("[P]\r\nk=old\r\n"), QByteArray("[P]\nk=caf\xE9\n")}) {
            TIniFile ini = TIniFile::FromBytes(start);
            ini.WriteString("P", "k", value);
            QCOMPARE(TIniFile::FromBytes(ini.ToBytes()).ReadString("P", "k", "missing"), value);
        }
    }

    // What an 8-bit file looks like after writing Paths/Database=value: still Windows-1252 with every other
    // line's bytes, or, when it could not read back the same as 8-bit text, UTF-8 as a whole.
    void eightBitFileStaysEightBitWhileItCan_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::addRow("value in Windows-1252")
            << QByteArray("[Paths]\nName=\x93\x80\x94\nDatabase=old\n") << QString::fromUtf8("/srv/‘€’")
            << QByteArray("[Paths]\nName=\x93\x80\x94\nDatabase=/srv/\x91\x80\x92\n");
        QTest::addRow("value outside Windows-1252: UTF-8")
            << QByteArray("[Paths]\nName=\x80\nDatabase=old\n") << QString::fromUtf8("/日本")
            << QByteArray("[Paths]\nName=\xE2\x82\xAC\nDatabase=/\xE6\x97\xA5\xE6\x9C\xAC\n");
        // "Ã©" is C3 A9 in Windows-1252, which alone would read back as UTF-8 "é".
        QTest::addRow("rest would read as UTF-8 with another meaning")
            << QByteArray("[Paths]\nName=\xC3\xA9\nDatabase=\xE9\n") << "/new"
            << QByteArray("[Paths]\nName=\xC3\x83\xC2\xA9\nDatabase=/new\n");
        QTest::addRow("rest only ASCII: stays as it is") << QByteArray("[Paths]\nName=x\nDatabase=\xE9\n") << "/new"
                                                         << QByteArray("[Paths]\nName=x\nDatabase=/new\n");
    }
    void eightBitFileStaysEightBitWhileItCan()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        TIniFile ini = TIniFile::FromBytes(before);
        const QString name = ini.ReadString("Paths", "Name", "");
        ini.WriteString("Paths", "Database", value);
        QCOMPARE(ini.ToBytes(), after);
        const TIniFile again = TIniFile::FromBytes(after);
        QCOMPARE(again.ReadString("Paths", "Name", "missing"), name);
        QCOMPARE(again.ReadString("Paths", "Database", "missing"), value);
    }

    void valueThatWouldBreakTheFileIsRefused_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addRow("LF") << "/a\n[Audio]\nOutputDevice=7";
        QTest::addRow("CR") << "/a\rb";
        QTest::addRow("NUL") << QString("/a") + QChar(0) + "b";
        QTest::addRow("2048 characters") << QString(2048, 'z');
    }
    void valueThatWouldBreakTheFileIsRefused()
    {
        QFETCH(QString, value);
        const QByteArray before = "[Paths]\nDatabase=old\n";
        TIniFile ini = TIniFile::FromBytes(before);
        QVERIFY(!TIniFile::ValueProblem(value).isEmpty());
        QVERIFY_THROWS_EXCEPTION(EReaderError, ini.WriteString("Paths", "Database", value));
        QCOMPARE(ini.ToBytes(), before);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestIniFile)
#include "tst_uIniFile.moc"
