// The dark palette file: what is accepted and what makes a file invalid. Qt's own texts in Dutch under the
// reader's application object, on a machine whose locale is English.
#include "TestMain.h"
#include "uApplication.h"
#include "uTheme.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestTheme : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void loadStyleFileIgnoresBadFilesSilently();
    void standardButtonsAreDutch_data();
    void standardButtonsAreDutch();
    void fileDialogIsDutch();
};

void TestTheme::parse_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("windowColour");  // expected Window colour (Active) when valid

    QTest::addRow("header only keeps the dark face") << QByteArray("VornakReaderTheme 1\n") << true << "#2b2b2b";
    QTest::addRow("one role, CR LF, comment")
        << QByteArray("VornakReaderTheme 1\r\n; comment\r\n\r\nWindow = #102030\r\n") << true << "#102030";
    QTest::addRow("group after plain role") << QByteArray("VornakReaderTheme 1\nWindow.Disabled=#000000\nWindow=#a0b0c0\n")
                                             << true << "#a0b0c0";
    QTest::addRow("missing header") << QByteArray("Window=#102030\n") << false << "";
    QTest::addRow("wrong version") << QByteArray("VornakReaderTheme 2\n") << false << "";
    QTest::addRow("empty file") << QByteArray() << false << "";
    QTest::addRow("unknown role") << QByteArray("VornakReaderTheme 1\nBackdrop=#102030\n") << false << "";
    QTest::addRow("unknown group") << QByteArray("VornakReaderTheme 1\nWindow.Normal=#102030\n") << false << "";
    QTest::addRow("short colour") << QByteArray("VornakReaderTheme 1\nWindow=#123\n") << false << "";
    QTest::addRow("named colour") << QByteArray("VornakReaderTheme 1\nWindow=red\n") << false << "";
    QTest::addRow("role twice") << QByteArray("VornakReaderTheme 1\nWindow=#111111\nWindow=#222222\n") << false << "";
    QTest::addRow("not UTF-8") << QByteArray("VornakReaderTheme 1\n\xff\xfe=#111111\n") << false << "";
    QTest::addRow("binary theme of another program") << QByteArray("TPF0\x00\x01\x02", 7) << false << "";
    QTest::addRow("too large") << (QByteArray("VornakReaderTheme 1\n") + QByteArray(70000, ';')) << false << "";
}

void TestTheme::parse()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, valid);
    QFETCH(QString, windowColour);
    QPalette p;
    p.setColor(QPalette::Window, QColor(1, 2, 3));
    QCOMPARE(ParseThemeFile(data, p), valid);
    if (valid)
        QCOMPARE(p.color(QPalette::Active, QPalette::Window).name(), windowColour);
    else
        QCOMPARE(p.color(QPalette::Window), QColor(1, 2, 3));  // untouched
}

void TestTheme::loadStyleFileIgnoresBadFilesSilently()
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    QVERIFY(app);
    QVERIFY(ApplyDarkTheme(*app));
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(43, 43, 43));
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(ThemeFileName));
    QVERIFY(!LoadStyleFile(*app, path));  // missing
    QFile bad(path);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("VornakReaderTheme 1\nWindow=#zzzzzz\n");
    bad.close();
    QVERIFY(!LoadStyleFile(*app, path));
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(43, 43, 43));
    QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
    bad.write("VornakReaderTheme 1\nWindow=#303540\n");
    bad.close();
    QVERIFY(LoadStyleFile(*app, path));
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(0x30, 0x35, 0x40));
}

void TestTheme::standardButtonsAreDutch_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text");
    QTest::addRow("Cancel") << int(QDialogButtonBox::Cancel) << "Annuleren";
    QTest::addRow("Save") << int(QDialogButtonBox::Save) << "Opslaan";
    QTest::addRow("Open") << int(QDialogButtonBox::Open) << "Openen";
    QTest::addRow("Yes") << int(QDialogButtonBox::Yes) << "Ja";
    QTest::addRow("No") << int(QDialogButtonBox::No) << "Nee";
    QTest::addRow("Close") << int(QDialogButtonBox::Close) << "Sluiten";
}

void TestTheme::standardButtonsAreDutch()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    const auto which = static_cast<QDialogButtonBox::StandardButton>(button);
    QDialogButtonBox box{which};
    QCOMPARE(box.button(which)->text().remove('&'), text);
}

// A file dialog made as the reader makes it is Qt's own, whatever the desktop offers, and labels its
// fields in Dutch.
void TestTheme::fileDialogIsDutch()
{
    QFileDialog dlg(nullptr, QStringLiteral("Exporteren naar"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    QVERIFY(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));  // no desktop dialog in English
    const auto *lookIn = dlg.findChild<QLabel *>(QStringLiteral("lookInLabel"));
    const auto *fileName = dlg.findChild<QLabel *>(QStringLiteral("fileNameLabel"));
    QVERIFY(lookIn && fileName);
    QCOMPARE(fileName->text().remove('&'), QString("Bestandsnaam:"));
    QVERIFY2(!lookIn->text().contains("Look in"), qPrintable(lookIn->text()));
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    // An English machine: the Dutch comes from the reader, not from the locale.
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    qputenv("LANGUAGE", "en");
    TReaderApplication app(AArgc, AArgv);
    TestTheme tc;
    return QTest::qExec(&tc, AArgc, AArgv);
}
#include "tst_uTheme.moc"
