// Search dialog: the file-name stem and its search, the database search with its list, acceptance, errors.
#include "CatalogueFixture.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uReaderData.h"
#include "uReportList.h"
#include "uSearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

using fixture::Rec;

namespace {

const QDateTime Now(QDate(2025, 9, 1), QTime(14, 37, 12));

// The catalogue the searches run on.
std::unique_ptr<TReaderData> Data;

// A dialog on ACatalogue whose messages are recorded instead of shown.
struct TSearchFixture {
    TTestPrompt prompt;
    TfrmSearch dlg;
    explicit TSearchFixture(TReaderData *ACatalogue = Data.get()) : dlg(nullptr, ACatalogue, Now)
    {
        dlg.SetPrompt(prompt);
    }
    QStringList Messages() const { return prompt.Texts(); }
    bool Accepted() const { return dlg.result() == QDialog::Accepted; }
    QList<int> ListedIds() const
    {
        QList<int> ids;
        for (const TRecInfo &r : dlg.List())
            ids << r.Id;
        return ids;
    }
    QStringList Row(int ARow) const
    {
        QStringList cells;
        for (int c = 0; c < dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->columnCount(); ++c)
            cells << dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItem(ARow)->text(c);
        return cells;
    }
};

} // namespace

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void opensWithTodayCurrentHourAndNumberOne();
    void stemFollowsDateHourAndNumber();
    void fileSearchTakesEarliestMatchAndCloses();
    void fileSearchWithoutMatchInformsAndStaysOpen();
    void databaseSearchByCriteria_data();
    void databaseSearchByCriteria();
    void resultRowsShowTheRecordsFields();
    void emptyResultInformsAndEmptiesTheList();
    void openenNeedsASelectedRowAndReturnsIt();
    void doubleClickReturnsThatRow();
    void catalogueErrorIsShownAndDialogStaysOpen();

private:
    QTemporaryDir FTmp;
};

void TestSearch::initTestCase()
{
    QVERIFY(FTmp.isValid());
    const QString db = FTmp.filePath("catalogue.sqlite");
    fixture::CreateCatalogue(
        db, {Rec(1, "2025-09-01 14:05:00", 14, 1, "01092025141.mp3", 65, "Overleg Jan", ""),
             Rec(2, "2025-09-01 14:02:00", 14, 10, "010920251410.mp3", 30, "", "PIET"),  // also matches stem ...141
             Rec(3, "2025-09-01 09:10:00", 9, 1, "01092025091.wav", 3725, "", "JANSSENS\r\nKees"),
             Rec(4, "2025-08-31 09:30:00", 9, 2, "31082025092.ogg", 20, "Melding", "Anouk"),
             Rec(5, "2025-08-31 09:30:00", 9, 1, "31082025091.ogg", 21, "Melding", "Anouk"),
             Rec(6, "2025-08-31 10:00:00", 10, 1, "31082025101.flac", 0, "Leeg", "")});  // 0 s: never listed
    Data = std::make_unique<TReaderData>(db);
}

void TestSearch::cleanupTestCase()
{
    Data.reset();
}

void TestSearch::opensWithTodayCurrentHourAndNumberOne()
{
    TSearchFixture f;
    QCOMPARE(f.dlg.windowTitle(), QStringLiteral("Opname zoeken"));
    QCOMPARE(f.dlg.size(), QSize(632, 508));
    QCOMPARE(f.dlg.findChild<QDateEdit *>(QStringLiteral("dtpFileDate"))->date(), Now.date());
    QCOMPARE(f.dlg.findChild<QDateEdit *>(QStringLiteral("dtpDbDate"))->date(), Now.date());
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileHour"))->currentText(), QStringLiteral("14"));
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbDbHour"))->currentText(), QStringLiteral("14"));
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileHour"))->count(), 24);
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileHour"))->itemText(0), QStringLiteral("00"));
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileNum"))->count(), 9);
    QCOMPARE(f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileNum"))->currentText(), QStringLiteral("1"));
    QCOMPARE(f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->text(), QStringLiteral("01092025141"));
    QVERIFY(f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->font().bold());
    QVERIFY(!f.dlg.findChild<QCheckBox *>(QStringLiteral("chkDate"))->isChecked());
    QVERIFY(!f.dlg.findChild<QCheckBox *>(QStringLiteral("chkHour"))->isChecked());
    QVERIFY(!f.dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    QVERIFY(f.dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isDefault());
}

void TestSearch::stemFollowsDateHourAndNumber()
{
    TSearchFixture f;
    f.dlg.findChild<QDateEdit *>(QStringLiteral("dtpFileDate"))->setDate(QDate(2024, 12, 31));
    QCOMPARE(f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->text(), QStringLiteral("31122024141"));
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileHour"))->setCurrentIndex(0);
    QCOMPARE(f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->text(), QStringLiteral("31122024001"));
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileNum"))->setCurrentIndex(8);
    QCOMPARE(f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->text(), QStringLiteral("31122024009"));
    QCOMPARE(f.dlg.BuildFileStem(), f.dlg.findChild<QLabel *>(QStringLiteral("lblStem"))->text());
}

void TestSearch::fileSearchTakesEarliestMatchAndCloses()
{
    TSearchFixture f;  // stem 01092025141 matches ...141.mp3 and ...1410.mp3; the latter starts earlier
    f.dlg.btnFindFileClick();
    QVERIFY(f.Accepted());
    QVERIFY(f.Messages().isEmpty());
    QCOMPARE(f.dlg.Selected().Id, 2);
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), 0);
}

void TestSearch::fileSearchWithoutMatchInformsAndStaysOpen()
{
    TSearchFixture f;
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbFileNum"))->setCurrentIndex(4);
    f.dlg.btnFindFileClick();
    QCOMPARE(f.Messages(), QStringList{"Geen geldige opname gevonden voor bestandsnaam 01092025145."});
    QVERIFY(!f.Accepted());
}

void TestSearch::databaseSearchByCriteria_data()
{
    QTest::addColumn<bool>("useDate");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<bool>("useHour");
    QTest::addColumn<int>("hour");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("ids");
    const QDate d = Now.date();
    QTest::addRow("nothing: every recording") << false << d << false << 0 << "" << QList<int>{5, 4, 3, 2, 1};
    QTest::addRow("blank name counts as none") << false << d << false << 0 << " \t " << QList<int>{5, 4, 3, 2, 1};
    QTest::addRow("hour 09 of every date") << false << d << true << 9 << "" << QList<int>{5, 4, 3};
    QTest::addRow("date only") << true << QDate(2025, 8, 31) << false << 0 << "" << QList<int>{5, 4};
    QTest::addRow("date and hour") << true << d << true << 14 << "" << QList<int>{2, 1};
    QTest::addRow("unchecked values ignored") << false << QDate(2000, 1, 1) << false << 3 << "" << QList<int>{5, 4, 3, 2, 1};
    QTest::addRow("name in title or persons, any case") << false << d << false << 0 << " jan " << QList<int>{3, 1};
}

void TestSearch::databaseSearchByCriteria()
{
    QFETCH(bool, useDate);
    QFETCH(QDate, date);
    QFETCH(bool, useHour);
    QFETCH(int, hour);
    QFETCH(QString, name);
    QFETCH(QList<int>, ids);
    TSearchFixture f;
    f.dlg.findChild<QCheckBox *>(QStringLiteral("chkDate"))->setChecked(useDate);
    f.dlg.findChild<QDateEdit *>(QStringLiteral("dtpDbDate"))->setDate(date);
    f.dlg.findChild<QCheckBox *>(QStringLiteral("chkHour"))->setChecked(useHour);
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbDbHour"))->setCurrentIndex(hour);
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edName"))->setText(name);
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.ListedIds(), ids);
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), ids.size());
    QVERIFY(f.Messages().isEmpty());
}

void TestSearch::resultRowsShowTheRecordsFields()
{
    TSearchFixture f;
    f.dlg.findChild<QCheckBox *>(QStringLiteral("chkHour"))->setChecked(true);
    f.dlg.findChild<QComboBox *>(QStringLiteral("cbDbHour"))->setCurrentIndex(9);
    f.dlg.btnSearchDbClick();
    const QStringList headers = {"Datum", "Uur", "Nr", "Type", "Titel", "Namen", "Duur"};
    const int widths[] = {90, 56, 36, 56, 150, 130, 60};
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->headerItem()->text(c), headers[c]);
        QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->columnWidth(c), widths[c]);
    }
    QCOMPARE(f.Row(0), QStringList({"2025-08-31", "09:00", "1", "MP3", "Melding", "Anouk", "00:21"}));
    QCOMPARE(f.Row(2), QStringList({"2025-09-01", "09:00", "1", "MP3", "", "JANSSENS, Kees", "1:02:05"}));
}

void TestSearch::emptyResultInformsAndEmptiesTheList()
{
    TSearchFixture f;
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), 5);
    f.dlg.findChild<QLineEdit *>(QStringLiteral("edName"))->setText(QStringLiteral("niemand"));
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.Messages(), QStringList{"Geen opnames gevonden met deze criteria."});
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), 0);
    QVERIFY(!f.dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
}

void TestSearch::openenNeedsASelectedRowAndReturnsIt()
{
    TSearchFixture f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    f.dlg.btnSearchDbClick();
    QVERIFY(!f.dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    QTest::keyClick(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults")), Qt::Key_Return);  // Enter with no row selected does nothing
    f.dlg.btnOkClick();
    QVERIFY(f.dlg.isVisible());
    QVERIFY(!f.Accepted());

    QTest::mouseClick(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->viewport(), Qt::LeftButton, {},
                      f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->visualItemRect(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItem(3)).center());
    QVERIFY(f.dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    QTest::keyClick(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults")), Qt::Key_Return);
    QVERIFY(f.Accepted());
    QCOMPARE(f.dlg.Selected(), f.dlg.List()[3]);
}

void TestSearch::doubleClickReturnsThatRow()
{
    TSearchFixture f;
    TRecInfo ri;
    QTimer::singleShot(0, &f.dlg, [&] {
        f.dlg.btnSearchDbClick();
        QTest::mouseDClick(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->viewport(), Qt::LeftButton, {},
                           f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->visualItemRect(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItem(1)).center());
    });
    QVERIFY(f.dlg.Execute(ri));
    QCOMPARE(ri.Id, 4);
    QCOMPARE(ri.FileName, QStringLiteral("31082025092.ogg"));
}

void TestSearch::catalogueErrorIsShownAndDialogStaysOpen()
{
    // A copy of the catalogue that loses the recorder's table while the dialog is open.
    const QString copy = FTmp.filePath("losing.sqlite");
    QFile::remove(copy);
    QVERIFY(QFile::copy(FTmp.filePath("catalogue.sqlite"), copy));
    TReaderData losing(copy);
    TSearchFixture f(&losing);
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), 5);
    { TSqliteDb db(copy, SQLITE_OPEN_READWRITE); db.Exec("ALTER TABLE recordings RENAME TO x"); }
    f.dlg.btnSearchDbClick();
    f.dlg.btnFindFileClick();

    QCOMPARE(f.Messages().size(), 2);
    QVERIFY2(f.Messages()[0].contains("recordings"), qPrintable(f.Messages()[0]));
    QVERIFY(!f.Accepted());
    QCOMPARE(f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount(), 5);  // the previous rows stay on show
    f.dlg.findChild<TReportList *>(QStringLiteral("lvResults"))->SelectRow(4);
    f.dlg.btnOkClick();  // beyond the emptied results: nothing happens
    QCOMPARE(f.dlg.List().size(), 0);
    QVERIFY(!f.Accepted());

    TSearchFixture none(nullptr);  // no catalogue open at all
    none.dlg.btnSearchDbClick();
    none.dlg.btnFindFileClick();
    QCOMPARE(none.Messages(), QStringList(2, QStringLiteral("De database is niet geopend.")));
}

VORNAK_TEST_MAIN(TestSearch)
#include "tst_uSearch.moc"
