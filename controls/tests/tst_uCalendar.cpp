// Month calendar: the 42-day grid, ISO week numbers, highlights, presses and month navigation.
#include "TestMain.h"
#include "uCalendar.h"
#include "uTiles.h"

#include <QImage>
#include <QSignalSpy>
#include <QSignalSpy>
#include <QTest>

namespace {

// A calendar whose today is pinned.
class TFixedCalendar : public TCalendarView {
public:
    explicit TFixedCalendar(QDate AToday) : TCalendarView(nullptr), FFixedToday(AToday)
    {
        SetSelectedDate(AToday);
    }
    QDate FFixedToday;

protected:
    QDate Today() const override { return FFixedToday; }
};

QImage Render(QWidget &AWidget)
{
    QImage img(AWidget.size(), QImage::Format_RGB32);
    img.fill(Qt::magenta);
    AWidget.render(&img);
    return img;
}

// Cell (row 0..5, column 0..6 of the dates) at the default size.
QRect DayCell(int ARow, int ACol) { return TCalendarLayout::For(456, 300).CellRect(ACol + 1, ARow + 1); }

void Press(QWidget &AWidget, QPoint APt, Qt::MouseButton AButton = Qt::LeftButton)
{
    QMouseEvent e(QEvent::MouseButtonPress, APt, AWidget.mapToGlobal(APt), AButton, AButton, Qt::NoModifier);
    QApplication::sendEvent(&AWidget, &e);
}

const QRgb bg = qRgb(30, 30, 30), selFill = qRgb(86, 86, 86), todayLine = qRgb(242, 228, 0);

} // namespace

class tst_uCalendar : public QObject {
    Q_OBJECT
private slots:
    void gridStartsOnTheMondayBefore_data()
    {
        QTest::addColumn<QDate>("display");
        QTest::addColumn<QDate>("topLeft");
        QTest::addRow("month begins on a Monday") << QDate(2024, 1, 17) << QDate(2024, 1, 1);
        QTest::addRow("month begins on a Sunday") << QDate(2024, 9, 30) << QDate(2024, 8, 26);
        QTest::addRow("February 2021 begins on a Monday") << QDate(2021, 2, 1) << QDate(2021, 2, 1);
    }
    void gridStartsOnTheMondayBefore()
    {
        QFETCH(QDate, display);
        QFETCH(QDate, topLeft);
        const TCalendarCells cells = BuildCalendarCells(display);
        QCOMPARE(cells[0][0], topLeft);
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 7; ++j)
                QCOMPARE(cells[i][j], topLeft.addDays(7 * i + j));
    }

    void nonLeapFebruaryFillsFourRows()
    {
        const TCalendarCells cells = BuildCalendarCells(QDate(2021, 2, 10));
        QCOMPARE(cells[3][6], QDate(2021, 2, 28));
        QCOMPARE(cells[4][0], QDate(2021, 3, 1));
    }

    // The week number of a row is the ISO week of its Monday.
    void isoWeekNumbersAroundNewYear_data()
    {
        QTest::addColumn<QDate>("display");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("week");
        QTest::addRow("January 2021 opens in week 53") << QDate(2021, 1, 1) << 0 << 53;
        QTest::addRow("January 2022 opens in week 52") << QDate(2022, 1, 1) << 0 << 52;
        QTest::addRow("January 2024 opens in week 1") << QDate(2024, 1, 1) << 0 << 1;
        QTest::addRow("December 2024 ends in week 1") << QDate(2024, 12, 1) << 5 << 1;
        QTest::addRow("December 2026 has week 53") << QDate(2026, 12, 1) << 4 << 53;
    }
    void isoWeekNumbersAroundNewYear()
    {
        QFETCH(QDate, display);
        QFETCH(int, row);
        QTEST(BuildCalendarCells(display)[row][0].weekNumber(), "week");
    }

    void titleAndNames()
    {
        QCOMPARE(CalendarTitle(QDate(2024, 3, 5)), QStringLiteral("MAART 2024"));
        QCOMPARE(QString::fromLatin1(CalendarMonthNames[11]), QStringLiteral("DECEMBER"));
        QCOMPARE(QString::fromLatin1(CalendarDayHeads[0]), QStringLiteral("maa"));
        QCOMPARE(QString::fromLatin1(CalendarDayHeads[6]), QStringLiteral("zon"));
    }

    void gridMetrics_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("rowH");
        QTest::addColumn<int>("cellW");
        QTest::addRow("default") << QSize(456, 300) << 32 << 58;
        QTest::addRow("very small keeps 1 pixel") << QSize(20, 30) << 1 << 1;
    }
    void gridMetrics()
    {
        QFETCH(QSize, size);
        const TCalendarLayout l = TCalendarLayout::For(size.width(), size.height());
        QTEST(l.RowH, "rowH");
        QTEST(l.CellW, "cellW");
    }

    void cellRectangles()
    {
        const TCalendarLayout l = TCalendarLayout::For(456, 300);
        QCOMPARE(l.CellRect(0, 1), QRect(6, 72, 38, 32));
        QCOMPARE(l.CellRect(1, 0), QRect(44, 40, 58, 32));
        QCOMPARE(l.CellRect(7, 6), QRect(44 + 6 * 58, 232, 58, 32));
    }

    void hitTest_data()
    {
        QTest::addColumn<QPoint>("pt");
        QTest::addColumn<int>("row");  // -1: nothing
        QTest::addColumn<int>("col");
        QTest::addRow("first day cell") << QPoint(44, 72) << 0 << 0;
        QTest::addRow("last day cell") << QPoint(44 + 7 * 58 - 1, 263) << 5 << 6;
        QTest::addRow("title band") << QPoint(200, 20) << -1 << -1;
        QTest::addRow("weekday heads") << QPoint(200, 50) << -1 << -1;
        QTest::addRow("week numbers") << QPoint(30, 100) << -1 << -1;
        QTest::addRow("below the grid") << QPoint(200, 264) << -1 << -1;
        QTest::addRow("right of Sunday") << QPoint(44 + 7 * 58, 100) << -1 << -1;
    }
    void hitTest()
    {
        QFETCH(QPoint, pt);
        QFETCH(int, row);
        QFETCH(int, col);
        const auto hit = TCalendarLayout::For(456, 300).HitDay(pt.x(), pt.y());
        QCOMPARE(hit.has_value(), row >= 0);
        if (hit) {
            QCOMPARE(hit->first, row);
            QCOMPARE(hit->second, col);
        }
    }

    void newCalendarShowsTodayAndPlacesTiles()
    {
        TCalendarView cal(nullptr);
        QCOMPARE(cal.size(), QSize(456, 300));
        QCOMPARE(cal.SelectedDate(), QDate::currentDate());
        QCOMPARE(cal.PrevTile()->geometry(), QRect(6, 6, 34, 28));
        QCOMPARE(cal.NextTile()->geometry(), QRect(416, 6, 34, 28));
        QCOMPARE(cal.TodayTile()->geometry(), QRect(168, 268, 120, 30));
        QCOMPARE(cal.PrevTile()->Glyph(), TTileGlyph::tgPrev);
        QCOMPARE(cal.TodayTile()->Caption(), QStringLiteral("Vandaag"));
        cal.resize(500, 320);
        cal.show();  // a hidden widget gets its resize event when shown
        QCOMPARE(cal.NextTile()->geometry(), QRect(460, 6, 34, 28));
        QCOMPARE(cal.TodayTile()->geometry(), QRect(190, 288, 120, 30));
    }

    // 10 March 2027 is a Wednesday in row 1 of March 2027 (which begins on a Monday).
    void selectedAndTodayHighlights()
    {
        TFixedCalendar cal(QDate(2027, 3, 10));
        const QRect today = DayCell(1, 2);
        QCOMPARE(cal.Cells()[1][2], QDate(2027, 3, 10));
        QImage img = Render(cal);
        // Selected today: the grey filled highlight, no yellow outline.
        QCOMPARE(img.pixel(today.left() + 3, today.top() + 16), selFill);
        QCOMPARE(img.pixel(today.left() + 5, today.top() + 16), selFill);
        QCOMPARE(img.pixel(today.left() + 2, today.top() + 16), bg);
        QCOMPARE(img.pixel(today.left() + 30, today.top() + 1), bg);
        QCOMPARE(img.pixel(today.left() + 30, today.top() + 2), selFill);
        QCOMPARE(img.pixel(today.right() - 3, today.top() + 16), selFill);  // R - 3 excluded
        QCOMPARE(img.pixel(today.right() - 2, today.top() + 16), bg);

        cal.SetSelectedDate(QDate(2027, 3, 12));
        img = Render(cal);
        // Today keeps a yellow outline; the selection moves.
        QCOMPARE(img.pixel(today.left() + 3, today.top() + 16), todayLine);
        QCOMPARE(img.pixel(today.left() + 30, today.bottom() - 2), todayLine);
        QCOMPARE(img.pixel(today.left() + 5, today.top() + 16), bg);
        const QRect sel = DayCell(1, 4);
        QCOMPARE(img.pixel(sel.left() + 5, sel.top() + 16), selFill);
    }

    void selectedDateStoresTheDayWithoutNotifying()
    {
        TCalendarView cal(nullptr);
        QSignalSpy spy(&cal, &TCalendarView::OnSelect);
        cal.SetSelectedDate(QDateTime(QDate(2023, 7, 14), QTime(15, 30)));
        QCOMPARE(cal.SelectedDate(), QDate(2023, 7, 14));
        QCOMPARE(cal.DisplayDate().month(), 7);
        QCOMPARE(cal.Cells()[0][0], QDate(2023, 6, 26));
        QCOMPARE(spy.count(), 0);
    }

    void pressOnDaySelectsAndNotifies()
    {
        TFixedCalendar cal(QDate(2027, 3, 10));
        QSignalSpy spy(&cal, &TCalendarView::OnSelect);
        Press(cal, DayCell(2, 3).center());
        QCOMPARE(cal.SelectedDate(), QDate(2027, 3, 18));
        QCOMPARE(spy.count(), 1);
        Press(cal, DayCell(2, 3).center());  // the selected day again: notifies again
        QCOMPARE(spy.count(), 2);
        // A grey day of the next month selects it and moves the calendar there.
        Press(cal, DayCell(5, 0).center());
        QCOMPARE(cal.SelectedDate(), QDate(2027, 4, 5));
        QCOMPARE(cal.DisplayDate().month(), 4);
        QCOMPARE(spy.count(), 3);
    }

    void pressesThatDoNothing_data()
    {
        QTest::addColumn<QPoint>("pt");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addRow("weekday heads") << QPoint(100, 50) << Qt::LeftButton;
        QTest::addRow("week number column") << QPoint(20, 100) << Qt::LeftButton;
        QTest::addRow("right button on a day") << DayCell(2, 3).center() << Qt::RightButton;
    }
    void pressesThatDoNothing()
    {
        QFETCH(QPoint, pt);
        QFETCH(Qt::MouseButton, button);
        TFixedCalendar cal(QDate(2027, 3, 10));
        QSignalSpy spy(&cal, &TCalendarView::OnSelect);
        Press(cal, pt, button);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(cal.SelectedDate(), QDate(2027, 3, 10));
    }

    void navigationKeepsTheSelection()
    {
        TFixedCalendar cal(QDate(2027, 1, 1));
        cal.SetSelectedDate(QDate(2024, 3, 31));
        QSignalSpy spy(&cal, &TCalendarView::OnSelect);
        QTest::mouseClick(cal.PrevTile(), Qt::LeftButton);
        QCOMPARE(cal.DisplayDate().month(), 2);
        QCOMPARE(cal.Cells()[0][0], QDate(2024, 1, 29));
        QCOMPARE(cal.SelectedDate(), QDate(2024, 3, 31));
        // 31 March is not on show, so no cell carries the highlight.
        QImage img = Render(cal);
        QCOMPARE(img.pixel(DayCell(4, 6).left() + 5, DayCell(4, 6).top() + 16), bg);
        QTest::mouseClick(cal.NextTile(), Qt::LeftButton);
        QCOMPARE(cal.DisplayDate().month(), 3);
        img = Render(cal);
        QCOMPARE(cal.Cells()[4][6], QDate(2024, 3, 31));
        QCOMPARE(img.pixel(DayCell(4, 6).left() + 5, DayCell(4, 6).top() + 16), selFill);
        QCOMPARE(spy.count(), 0);
    }

    void todayTileSelectsTodayAndNotifies()
    {
        TFixedCalendar cal(QDate(2027, 3, 10));
        cal.SetSelectedDate(QDate(2020, 5, 5));
        QSignalSpy spy(&cal, &TCalendarView::OnSelect);
        QTest::mouseClick(cal.TodayTile(), Qt::LeftButton);
        QCOMPARE(cal.SelectedDate(), QDate(2027, 3, 10));
        QCOMPARE(cal.DisplayDate().month(), 3);
        QCOMPARE(spy.count(), 1);
    }
};

VORNAK_TEST_MAIN(tst_uCalendar)
#include "tst_uCalendar.moc"
