// Search dialog: the file-name stem and its search, the database search with its list, acceptance, errors.
#include "tst_uReaderDataFixture.h"
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
#include <QtTest>

using fixture::Rec;

namespace {

const QDateTime Now(QDate(2025, 9, 1), QTime(14, 37, 12));

// A dialog whose messages are recorded instead of shown.
struct TSearchFixture {
    TfrmSearch dlg{nullptr, Now};
    QStringList messages;
    TSearchFixture()
    {
        dlg.ShowMessage = [this](QMessageBox::Icon, const QString &t) { messages << t; };
    }
    bool Accepted() const { return dlg.result() == QDialog::Accepted; }
    QList<int> ListedIds() const
    {
        QList<int> ids;
        for (const TRecInfo &r : dlg.List())
            ids << r.Id;
        return ids;
    }
    QStringList Row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < dlg.lvResults->columnCount(); ++c)
            cells << dlg.lvResults->topLevelItem(r)->text(c);
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
    ReaderData = std::make_unique<TReaderData>(db);
}

void TestSearch::cleanupTestCase()
{
    ReaderData.reset();
}

void TestSearch::opensWithTodayCurrentHourAndNumberOne()
{
    TSearchFixture f;
    QCOMPARE(f.dlg.windowTitle(), QStringLiteral("Opname zoeken"));
    QCOMPARE(f.dlg.size(), QSize(632, 508));
    QCOMPARE(f.dlg.dtpFileDate->date(), Now.date());
    QCOMPARE(f.dlg.dtpDbDate->date(), Now.date());
    QCOMPARE(f.dlg.cbFileHour->currentText(), QStringLiteral("14"));
    QCOMPARE(f.dlg.cbDbHour->currentText(), QStringLiteral("14"));
    QCOMPARE(f.dlg.cbFileHour->count(), 24);
    QCOMPARE(f.dlg.cbFileHour->itemText(0), QStringLiteral("00"));
    QCOMPARE(f.dlg.cbFileNum->count(), 9);
    QCOMPARE(f.dlg.cbFileNum->currentText(), QStringLiteral("1"));
    QCOMPARE(f.dlg.lblStem->text(), QStringLiteral("01092025141"));
    QVERIFY(f.dlg.lblStem->font().bold());
    QVERIFY(!f.dlg.chkDate->isChecked());
    QVERIFY(!f.dlg.chkHour->isChecked());
    QVERIFY(!f.dlg.btnOk->isEnabled());
    QVERIFY(f.dlg.btnOk->isDefault());
}

void TestSearch::stemFollowsDateHourAndNumber()
{
    TSearchFixture f;
    f.dlg.dtpFileDate->setDate(QDate(2024, 12, 31));
    QCOMPARE(f.dlg.lblStem->text(), QStringLiteral("31122024141"));
    f.dlg.cbFileHour->setCurrentIndex(0);
    QCOMPARE(f.dlg.lblStem->text(), QStringLiteral("31122024001"));
    f.dlg.cbFileNum->setCurrentIndex(8);
    QCOMPARE(f.dlg.lblStem->text(), QStringLiteral("31122024009"));
    QCOMPARE(f.dlg.BuildFileStem(), f.dlg.lblStem->text());
}

void TestSearch::fileSearchTakesEarliestMatchAndCloses()
{
    TSearchFixture f;  // stem 01092025141 matches ...141.mp3 and ...1410.mp3; the latter starts earlier
    f.dlg.btnFindFileClick();
    QVERIFY(f.Accepted());
    QVERIFY(f.messages.isEmpty());
    QCOMPARE(f.dlg.Selected().Id, 2);
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), 0);
}

void TestSearch::fileSearchWithoutMatchInformsAndStaysOpen()
{
    TSearchFixture f;
    f.dlg.cbFileNum->setCurrentIndex(4);
    f.dlg.btnFindFileClick();
    QCOMPARE(f.messages, QStringList{"Geen geldige opname gevonden voor bestandsnaam 01092025145."});
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
    f.dlg.chkDate->setChecked(useDate);
    f.dlg.dtpDbDate->setDate(date);
    f.dlg.chkHour->setChecked(useHour);
    f.dlg.cbDbHour->setCurrentIndex(hour);
    f.dlg.edName->setText(name);
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.ListedIds(), ids);
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), ids.size());
    QVERIFY(f.messages.isEmpty());
}

void TestSearch::resultRowsShowTheRecordsFields()
{
    TSearchFixture f;
    f.dlg.chkHour->setChecked(true);
    f.dlg.cbDbHour->setCurrentIndex(9);
    f.dlg.btnSearchDbClick();
    const QStringList headers = {"Datum", "Uur", "Nr", "Type", "Titel", "Namen", "Duur"};
    const int widths[] = {90, 56, 36, 56, 150, 130, 60};
    QCOMPARE(f.dlg.lvResults->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        QCOMPARE(f.dlg.lvResults->headerItem()->text(c), headers[c]);
        QCOMPARE(f.dlg.lvResults->columnWidth(c), widths[c]);
    }
    QCOMPARE(f.Row(0), QStringList({"2025-08-31", "09:00", "1", "MP3", "Melding", "Anouk", "00:21"}));
    QCOMPARE(f.Row(2), QStringList({"2025-09-01", "09:00", "1", "MP3", "", "JANSSENS, Kees", "1:02:05"}));
}

void TestSearch::emptyResultInformsAndEmptiesTheList()
{
    TSearchFixture f;
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), 5);
    f.dlg.edName->setText(QStringLiteral("niemand"));
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.messages, QStringList{"Geen opnames gevonden met deze criteria."});
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), 0);
    QVERIFY(!f.dlg.btnOk->isEnabled());
}

void TestSearch::openenNeedsASelectedRowAndReturnsIt()
{
    TSearchFixture f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    f.dlg.btnSearchDbClick();
    QVERIFY(!f.dlg.btnOk->isEnabled());
    QTest::keyClick(f.dlg.lvResults, Qt::Key_Return);  // Enter with no row selected does nothing
    f.dlg.btnOkClick();
    QVERIFY(f.dlg.isVisible());
    QVERIFY(!f.Accepted());

    QTest::mouseClick(f.dlg.lvResults->viewport(), Qt::LeftButton, {},
                      f.dlg.lvResults->visualItemRect(f.dlg.lvResults->topLevelItem(3)).center());
    QVERIFY(f.dlg.btnOk->isEnabled());
    QTest::keyClick(f.dlg.lvResults, Qt::Key_Return);
    QVERIFY(f.Accepted());
    QCOMPARE(f.dlg.Selected(), f.dlg.List()[3]);
}

void TestSearch::doubleClickReturnsThatRow()
{
    TSearchFixture f;
    TRecInfo ri;
    QTimer::singleShot(0, &f.dlg, [&] {
        f.dlg.btnSearchDbClick();
        QTest::mouseDClick(f.dlg.lvResults->viewport(), Qt::LeftButton, {},
                           f.dlg.lvResults->visualItemRect(f.dlg.lvResults->topLevelItem(1)).center());
    });
    QVERIFY(f.dlg.Execute(ri));
    QCOMPARE(ri.Id, 4);
    QCOMPARE(ri.FileName, QStringLiteral("31082025092.ogg"));
}

void TestSearch::catalogueErrorIsShownAndDialogStaysOpen()
{
    TSearchFixture f;
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), 5);

    // A catalogue whose table is gone after it was opened.
    const QString other = FTmp.filePath("vanishing.sqlite");
    fixture::CreateCatalogue(other, {Rec(1, "2025-09-01 14:05:00", 14, 1, "01092025141.mp3")});
    std::unique_ptr<TReaderData> kept = std::move(ReaderData);
    ReaderData = std::make_unique<TReaderData>(other);
    { TSqliteDb db(other, SQLITE_OPEN_READWRITE); db.Exec("DROP TABLE recordings"); }
    f.dlg.btnSearchDbClick();
    f.dlg.btnFindFileClick();
    ReaderData = std::move(kept);

    QCOMPARE(f.messages.size(), 2);
    QVERIFY2(f.messages[0].contains("recordings"), qPrintable(f.messages[0]));
    QVERIFY(!f.Accepted());
    QCOMPARE(f.dlg.lvResults->topLevelItemCount(), 5);  // the previous rows stay on show
    f.dlg.lvResults->SelectRow(4);
    f.dlg.btnOkClick();  // beyond the emptied results: nothing happens
    QCOMPARE(f.dlg.List().size(), 0);
    QVERIFY(!f.Accepted());

    kept = std::move(ReaderData);  // no catalogue open at all
    f.dlg.btnSearchDbClick();
    QCOMPARE(f.messages.last(), QStringLiteral("De database is niet geopend."));
    ReaderData = std::move(kept);
}

QTEST_MAIN(TestSearch)
#include "tst_uSearch.moc"
