// Metadata editor: trimming at both ends only, CR LF between the persons' lines, Enter in each field.
#include "TestMain.h"
#include "uMeta.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTest>

class TestMeta : public QObject {
    Q_OBJECT
private slots:
    void resultTitleTrimsControlCharacters_data();
    void resultTitleTrimsControlCharacters();
    void resultPersonsJoinsLinesWithCrLf_data();
    void resultPersonsJoinsLinesWithCrLf();
    void setupShowsTextsUnchanged();
    void enterInTitleAcceptsAndEnterInPersonsAddsALine();
    void escapeAndAnnulerenCancel();
};

void TestMeta::resultTitleTrimsControlCharacters_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addRow("blanks around") << "  Jan " << "Jan";
    QTest::addRow("inner blanks stay") << " Overleg  Jan de Vries\t" << "Overleg  Jan de Vries";
    QTest::addRow("only blanks") << "   " << "";
    QTest::addRow("nbsp stays") << QString(QChar(0xA0)) + "Jan" << QString(QChar(0xA0)) + "Jan";
    QTest::addRow("case and separators kept") << "jAN; piet," << "jAN; piet,";
}

void TestMeta::resultTitleTrimsControlCharacters()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    TfrmMeta dlg(nullptr);
    dlg.findChild<QLineEdit *>(QStringLiteral("edTitle"))->setText(typed);
    QCOMPARE(dlg.ResultTitle(), result);
    QCOMPARE(dlg.ResultTitle(), result);  // reading twice gives the same text
}

void TestMeta::resultPersonsJoinsLinesWithCrLf_data()
{
    QTest::addColumn<QString>("typed");  // as typed into the memo (Enter = \n)
    QTest::addColumn<QString>("result");
    QTest::addRow("empty line in the middle stays, trailing break goes") << "Jan\n\nPiet\n" << "Jan\r\n\r\nPiet";
    QTest::addRow("leading tab removed") << "\tJan" << "Jan";
    QTest::addRow("leading nbsp kept") << QString(QChar(0xA0)) + "Jan" << QString(QChar(0xA0)) + "Jan";
    QTest::addRow("blanks inside lines kept") << "  Jan ,  Piet  \n Kees " << "Jan ,  Piet  \r\n Kees";
    QTest::addRow("empty") << "" << "";
}

void TestMeta::resultPersonsJoinsLinesWithCrLf()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    TfrmMeta dlg(nullptr);
    dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons"))->setFocus();
    for (const QChar c : typed) {
        if (c == QLatin1Char('\n'))
            QTest::keyClick(dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons")), Qt::Key_Return);
        else
            dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons"))->insertPlainText(QString(c));
    }
    QCOMPARE(dlg.ResultPersons(), result);
}

void TestMeta::setupShowsTextsUnchanged()
{
    TfrmMeta dlg(nullptr);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Gegevens bewerken"));
    QCOMPARE(dlg.size(), QSize(440, 260));
    dlg.Setup(QStringLiteral(" Titel "), QStringLiteral("Jan\r\nPiet"));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("edTitle"))->text(), QStringLiteral(" Titel "));
    QCOMPARE(dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons"))->document()->blockCount(), 2);
    QCOMPARE(dlg.ResultPersons(), QStringLiteral("Jan\r\nPiet"));
}

void TestMeta::enterInTitleAcceptsAndEnterInPersonsAddsALine()
{
    {
        TfrmMeta dlg(nullptr);
        dlg.Setup(QStringLiteral("Jan"), QString());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons")), Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.findChild<QPlainTextEdit *>(QStringLiteral("mmPersons"))->document()->blockCount(), 2);
        QTest::keyClick(dlg.findChild<QLineEdit *>(QStringLiteral("edTitle")), Qt::Key_Return);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }
    {
        TfrmMeta dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnOk")), Qt::LeftButton); });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    }
}

void TestMeta::escapeAndAnnulerenCancel()
{
    {
        TfrmMeta dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(dlg.findChild<QLineEdit *>(QStringLiteral("edTitle")), Qt::Key_Escape); });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    }
    {
        TfrmMeta dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton); });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    }
    {
        TfrmMeta dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { dlg.close(); });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    }
}

VORNAK_TEST_MAIN(TestMeta)
#include "tst_uMeta.moc"
