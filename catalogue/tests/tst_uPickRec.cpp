// Recording picker: first row preselected, acceptance by Enter, double click and "Openen", cancel paths,
// cut-off cells shown whole as tooltips.
#include "TestMain.h"
#include "uPickRec.h"
#include "uReportList.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTest>

namespace {

TRecInfo Rec(int AId, int ANumber, const QString &AFormat, const QString &ATitle, const QString &APersons, int ADur)
{
    TRecInfo r;
    r.Id = AId;
    r.RecDate = QStringLiteral("2025-09-01");
    r.RecHour = 14;
    r.RecNumber = ANumber;
    r.Format = AFormat;
    r.FileName = QStringLiteral("0109202514%1.mp3").arg(ANumber);
    r.Title = ATitle;
    r.Persons = APersons;
    r.DurationSec = ADur;
    return r;
}

TRecList ThreeRecordings()
{
    return {Rec(11, 1, "MP3", "Overleg", "Jan\r\nPiet", 65), Rec(12, 7, "WAV", "", "", 3725),
            Rec(13, 3, "OGG", "Melding", "Anouk", 20)};
}

QPoint RowCentre(TReportList *ALv, int ARow)
{
    return ALv->visualItemRect(ALv->topLevelItem(ARow)).center();
}

} // namespace

class TestPickRec : public QObject {
    Q_OBJECT
private slots:
    void opensWithFirstRowSelectedAndEnterAcceptsIt();
    void doubleClickReturnsThatRowsRecord();
    void clickBelowRowsClearsSelectionAndEnterDoesNothing();
    void cellsShowTheRecordsFields();
    void emptyListLeavesOpenenDisabled();
    void executeReturnsChosenRecordOrFalseOnEscape();
    void cutOffCellShowsItsWholeTextAsTooltip_data();
    void cutOffCellShowsItsWholeTextAsTooltip();
};

void TestPickRec::opensWithFirstRowSelectedAndEnterAcceptsIt()
{
    const TRecList list = ThreeRecordings();
    TfrmPick dlg(nullptr);
    dlg.Prepare(list, QStringLiteral("3 opnames in 14:00 - 15:00, kies er een:"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Meerdere opnames"));
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("lblInfo"))->text(), QStringLiteral("3 opnames in 14:00 - 15:00, kies er een:"));
    QVERIFY(dlg.findChild<QLabel *>(QStringLiteral("lblInfo"))->width() >= dlg.findChild<QLabel *>(QStringLiteral("lblInfo"))->sizeHint().width());
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->SelectedIndex(), 0);
    QVERIFY(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    QTest::keyClick(dlg.findChild<TReportList *>(QStringLiteral("lvItems")), Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.Selected(), list[0]);
}

void TestPickRec::doubleClickReturnsThatRowsRecord()
{
    const TRecList list = ThreeRecordings();
    TfrmPick dlg(nullptr);
    dlg.Prepare(list, QStringLiteral("x"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseDClick(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->viewport(), Qt::LeftButton, {}, RowCentre(dlg.findChild<TReportList *>(QStringLiteral("lvItems")), 1));
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.Selected(), list[1]);  // the second record, whatever its number (7)
}

void TestPickRec::clickBelowRowsClearsSelectionAndEnterDoesNothing()
{
    const TRecList list = ThreeRecordings();
    TfrmPick dlg(nullptr);
    dlg.Prepare(list, QStringLiteral("x"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QPoint below(20, dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->viewport()->height() - 5);
    QVERIFY(!dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->itemAt(below));
    QTest::mouseClick(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->SelectedIndex(), -1);
    QVERIFY(!dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    QTest::keyClick(dlg.findChild<TReportList *>(QStringLiteral("lvItems")), Qt::Key_Return);
    dlg.btnOkClick();
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));  // never accepted

    // Clicking a row again enables "Openen".
    QTest::mouseClick(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->viewport(), Qt::LeftButton, {}, RowCentre(dlg.findChild<TReportList *>(QStringLiteral("lvItems")), 2));
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->SelectedIndex(), 2);
    QVERIFY(dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
}

void TestPickRec::cellsShowTheRecordsFields()
{
    const TRecList list = ThreeRecordings();
    TfrmPick dlg(nullptr);
    dlg.Prepare(list, QStringLiteral("x"));
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->columnCount(), 5);
    const QStringList headers = {"Nr", "Type", "Titel", "Namen", "Duur"};
    const int widths[] = {40, 60, 160, 140, 70};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->headerItem()->text(c), headers[c]);
        QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->columnWidth(c), widths[c]);
    }
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->topLevelItemCount(), 3);
    auto row = [&](int ARow) {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->topLevelItem(ARow)->text(c);
        return cells;
    };
    QCOMPARE(row(0), QStringList({"1", "MP3", "Overleg", "Jan, Piet", "01:05"}));
    QCOMPARE(row(1), QStringList({"7", "WAV", "", "", "1:02:05"}));
}

void TestPickRec::emptyListLeavesOpenenDisabled()
{
    const TRecList empty;
    TfrmPick dlg(nullptr);
    dlg.Prepare(empty, QStringLiteral("x"));
    QCOMPARE(dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->topLevelItemCount(), 0);
    QVERIFY(!dlg.findChild<QPushButton *>(QStringLiteral("btnOk"))->isEnabled());
    dlg.btnOkClick();
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void TestPickRec::executeReturnsChosenRecordOrFalseOnEscape()
{
    const TRecList list = ThreeRecordings();
    {
        TfrmPick dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] {
            dlg.findChild<TReportList *>(QStringLiteral("lvItems"))->SelectRow(2);
            QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnOk")), Qt::LeftButton);
        });
        TRecInfo ri;
        QVERIFY(dlg.Execute(list, QStringLiteral("x"), ri));
        QCOMPARE(ri, list[2]);
    }
    {
        TfrmPick dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Escape); });
        TRecInfo ri;
        QVERIFY(!dlg.Execute(list, QStringLiteral("x"), ri));
    }
    {
        TfrmPick dlg(nullptr);
        QTimer::singleShot(0, &dlg, [&] { dlg.close(); });  // the close box
        TRecInfo ri;
        QVERIFY(!dlg.Execute(list, QStringLiteral("x"), ri));
    }
}

void TestPickRec::cutOffCellShowsItsWholeTextAsTooltip_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("tip");  // empty: the cell shows whole and has no tooltip
    const QString longTitle = QStringLiteral("Overleg over de begroting van het volgende jaar met de afdelingen");
    QTest::addRow("long title") << 0 << 2 << longTitle;
    QTest::addRow("persons of several lines, joined and cut") << 0 << 3
                                                              << QStringLiteral("Jan Jansen, Piet Pietersen, Anouk de Vries");
    QTest::addRow("short title") << 1 << 2 << QString();
    QTest::addRow("number") << 0 << 0 << QString();
    QTest::addRow("empty cell") << 1 << 3 << QString();
}

// The picker's and the search dialog's lists are one kind of list: what it cuts off, it shows whole on hover.
void TestPickRec::cutOffCellShowsItsWholeTextAsTooltip()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, tip);
    const TRecList list = {
        Rec(11, 1, "MP3", "Overleg over de begroting van het volgende jaar met de afdelingen",
            "Jan Jansen\r\nPiet Pietersen\r\nAnouk de Vries", 65),
        Rec(12, 2, "WAV", "Kort", "", 20)};
    TfrmPick dlg(nullptr);
    dlg.Prepare(list, QStringLiteral("x"));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    TReportList *lv = dlg.findChild<TReportList *>(QStringLiteral("lvItems"));
    QCOMPARE(lv->CutOffText(row, column), tip);

    const QRect cell = lv->visualItemRect(lv->topLevelItem(row)).intersected(
        QRect(lv->header()->sectionViewportPosition(column), 0, lv->columnWidth(column), lv->viewport()->height()));
    QHelpEvent help(QEvent::ToolTip, cell.center(), lv->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(lv->viewport(), &help);
    if (tip.isEmpty()) {
        QVERIFY(!QToolTip::isVisible());
    } else {
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), tip);
    }
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
}

VORNAK_TEST_MAIN(TestPickRec)
#include "tst_uPickRec.moc"
