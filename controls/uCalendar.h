// Month calendar with ISO week numbers, month navigation tiles and a "Vandaag" tile.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QRect>
#include <QWidget>
#include <array>
#include <optional>

class QPainter;
class TTileButton;

// ---- Layout and state (no widget) ----

// The 42 dates on show: 6 rows Monday..Sunday, row 0 column 0 the Monday on or before the 1st.
using TCalendarCells = std::array<std::array<QDate, 7>, 6>;
TCalendarCells BuildCalendarCells(const QDate &ADisplay);

extern const char *const CalendarMonthNames[12];  // "JANUARI".."DECEMBER"
extern const char *const CalendarDayHeads[7];     // "maa".."zon"

// Grid metrics for a control of AWidth x AHeight (integer divisions):
// top 40, rowH = (H - 76) / 7 >= 1, left 6, week column 38 wide, cellW = (W - 50) / 7 >= 1.
struct TCalendarLayout {
    int Width = 456;
    int Height = 300;
    int Top = 40;
    int RowH = 32;
    int Left = 6;
    int WeekW = 38;
    int CellW = 58;

    static TCalendarLayout For(int AWidth, int AHeight);
    // Column c: 0 week numbers, 1..7 Monday..Sunday; row r: 0 weekday heads, 1..6 weeks.
    QRect CellRect(int AColumn, int ARow) const;
    QRect TitleRect() const { return QRect(0, 6, Width, 28); }
    QRect PrevRect() const { return QRect(6, 6, 34, 28); }
    QRect NextRect() const { return QRect(Width - 40, 6, 34, 28); }
    QRect TodayRect() const { return QRect((Width - 120) / 2, Height - 32, 120, 30); }
    // The day cell under a left press at (x, y): row 0..5 and column 0..6 of the cells, or none
    // (title band, weekday heads, week numbers, below the grid, right of Sunday).
    std::optional<std::pair<int, int>> HitDay(int AX, int AY) const;
};

// Title text, e.g. "MAART 2024".
QString CalendarTitle(const QDate &ADisplay);

// ---- Painting ----

struct TCalendarLook {
    QDate Display;
    QDate Selected;
    QDate Today;
    TCalendarCells Cells;
};
// Paints everything except the child tiles.
void PaintCalendar(QPainter &APainter, const TCalendarLayout &ACalendarLayout, const TCalendarLook &ALook);

// ---- The control ----

// Opaque, double-buffered calendar, 456 x 300 when created, showing and selecting today.
// A left press on a day cell selects it at once (on the press) and fires OnSelect.
class TCalendarView : public QWidget {
    Q_OBJECT
public:
    explicit TCalendarView(QWidget *AOwner = nullptr);

    QDate SelectedDate() const { return FSelected; }
    // Selects the date (the time of day dropped) and shows its month; fires no OnSelect.
    // An invalid date is ignored.
    void SetSelectedDate(const QDate &AValue);
    void SetSelectedDate(const QDateTime &AValue) { SetSelectedDate(AValue.date()); }
    // Selects today's date and fires OnSelect.
    void GoToday();

    QDate DisplayDate() const { return FDisplay; }
    const TCalendarCells &Cells() const { return FCells; }
    TTileButton *PrevTile() const { return FPrev; }
    TTileButton *NextTile() const { return FNext; }
    TTileButton *TodayTile() const { return FToday; }

signals:
    void OnSelect();

protected:
    // Today's local date; the clock reading is virtual so a test can pin it.
    virtual QDate Today() const { return QDate::currentDate(); }

    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void mousePressEvent(QMouseEvent *) override;

private:
    void SelectDate(const QDate &ADate, bool ANotify);
    void BuildGrid();
    void PlaceTiles();
    void PrevClick();
    void NextClick();

    TTileButton *FPrev = nullptr;
    TTileButton *FNext = nullptr;
    TTileButton *FToday = nullptr;
    QDate FDisplay;
    QDate FSelected;
    TCalendarCells FCells;
};
