// Month calendar with ISO week numbers, month navigation tiles and a "Vandaag" tile.
#include "uCalendar.h"

#include "uDialogKit.h"
#include "uPaint.h"
#include "uTiles.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

const char *const CalendarMonthNames[12] = {"JANUARI", "FEBRUARI", "MAART",     "APRIL",
                                            "MEI",     "JUNI",     "JULI",      "AUGUSTUS",
                                            "SEPTEMBER", "OKTOBER", "NOVEMBER", "DECEMBER"};
const char *const CalendarDayHeads[7] = {"maa", "din", "woe", "don", "vri", "zat", "zon"};

TCalendarCells BuildCalendarCells(const QDate &ADisplay)
{
    TCalendarCells cells;
    if (!ADisplay.isValid())
        return cells;
    const QDate first(ADisplay.year(), ADisplay.month(), 1);
    const QDate start = first.addDays(-(first.dayOfWeek() - 1));  // dayOfWeek: Monday 1..Sunday 7
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 7; ++j)
            cells[i][j] = start.addDays(7 * i + j);
    return cells;
}

QString CalendarTitle(const QDate &ADisplay)
{
    if (!ADisplay.isValid())
        return QString();
    return QString::fromLatin1(CalendarMonthNames[ADisplay.month() - 1]) + QLatin1Char(' ')
        + QString::number(ADisplay.year());
}

TCalendarLayout TCalendarLayout::For(int AWidth, int AHeight)
{
    TCalendarLayout l;
    l.Width = AWidth;
    l.Height = AHeight;
    l.RowH = std::max(1, (AHeight - 40 - 36) / 7);
    l.CellW = std::max(1, (AWidth - 6 - 38 - 6) / 7);
    return l;
}

QRect TCalendarLayout::CellRect(int AColumn, int ARow) const
{
    const int t = Top + ARow * RowH;
    if (AColumn == 0)
        return RectLTRB(Left, t, Left + WeekW, t + RowH);
    const int l = Left + WeekW + (AColumn - 1) * CellW;
    return RectLTRB(l, t, l + CellW, t + RowH);
}

std::optional<std::pair<int, int>> TCalendarLayout::HitDay(int AX, int AY) const
{
    if (AY < Top || AX < Left + WeekW)
        return std::nullopt;
    const int row = (AY - Top) / RowH;
    const int col = (AX - Left - WeekW) / CellW;
    if (row < 1 || row > 6 || col < 0 || col > 6)
        return std::nullopt;
    return std::make_pair(row - 1, col);
}

void PaintCalendar(QPainter &APainter, const TCalendarLayout &ACalendarLayout, const TCalendarLook &ALook)
{
    APainter.save();
    APainter.setRenderHint(QPainter::Antialiasing, false);
    APainter.setBrush(Qt::NoBrush);
    FillLTRB(APainter, 0, 0, ACalendarLayout.Width, ACalendarLayout.Height, QColor(30, 30, 30));
    const int align = Qt::AlignCenter | Qt::TextSingleLine;

    QFont title = InterfaceFont();
    title.setPointSize(11);
    title.setBold(true);
    APainter.setFont(title);
    APainter.setPen(QColor(230, 230, 230));
    APainter.drawText(ACalendarLayout.TitleRect(), align, CalendarTitle(ALook.Display));

    QFont body = InterfaceFont();
    body.setPointSize(10);
    APainter.setFont(body);
    APainter.setPen(QColor(160, 160, 160));
    for (int c = 1; c <= 7; ++c)
        APainter.drawText(ACalendarLayout.CellRect(c, 0), align, QString::fromLatin1(CalendarDayHeads[c - 1]));

    const QColor dayFore(230, 230, 230), greyFore(119, 119, 119), mark(86, 86, 86),
        todayMark(242, 228, 0);
    for (int r = 1; r <= 6; ++r) {
        APainter.setPen(greyFore);
        APainter.drawText(ACalendarLayout.CellRect(0, r), align, QString::number(ALook.Cells[r - 1][0].weekNumber()));
        for (int c = 1; c <= 7; ++c) {
            const QDate date = ALook.Cells[r - 1][c - 1];
            const QRect cell = ACalendarLayout.CellRect(c, r);
            const int cl = cell.left(), ct = cell.top();
            const int cr = cl + cell.width(), cb = ct + cell.height();
            const bool selected = date == ALook.Selected;
            if (selected)
                RoundRectLTRB(APainter, cl + 3, ct + 2, cr - 3, cb - 2, 8, 8, mark, mark);
            else if (date == ALook.Today)
                RoundRectLTRB(APainter, cl + 3, ct + 2, cr - 3, cb - 2, 8, 8, todayMark, QColor());
            APainter.setPen(selected || date.month() == ALook.Display.month() ? dayFore : greyFore);
            APainter.drawText(cell, align, QString::number(date.day()));
        }
    }
    APainter.restore();
}

TCalendarView::TCalendarView(QWidget *AOwner) : QWidget(AOwner)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    FPrev = new TTileButton(this);
    FPrev->SetGlyph(TTileGlyph::tgPrev);
    FNext = new TTileButton(this);
    FNext->SetGlyph(TTileGlyph::tgNext);
    FToday = new TTileButton(this);
    FToday->SetCaption(QStringLiteral("Vandaag"));
    connect(FPrev, &TTileButton::OnClick, this, &TCalendarView::PrevClick);
    connect(FNext, &TTileButton::OnClick, this, &TCalendarView::NextClick);
    connect(FToday, &TTileButton::OnClick, this, &TCalendarView::GoToday);
    FDisplay = FSelected = QDate::currentDate();
    FCells = BuildCalendarCells(FDisplay);
    resize(456, 300);
    PlaceTiles();
}

void TCalendarView::SetSelectedDate(const QDate &AValue) { SelectDate(AValue, false); }

void TCalendarView::GoToday() { SelectDate(Today(), true); }

void TCalendarView::SelectDate(const QDate &ADate, bool ANotify)
{
    if (!ADate.isValid())
        return;  // an invalid date would leave the grid without a month
    FSelected = ADate;
    FDisplay = ADate;
    BuildGrid();
    if (ANotify)
        emit OnSelect();
}

void TCalendarView::BuildGrid()
{
    FCells = BuildCalendarCells(FDisplay);
    update();
}

void TCalendarView::PrevClick()
{
    FDisplay = FDisplay.addMonths(-1);  // the day is clamped to the shorter month
    BuildGrid();
}

void TCalendarView::NextClick()
{
    FDisplay = FDisplay.addMonths(1);
    BuildGrid();
}

void TCalendarView::PlaceTiles()
{
    const TCalendarLayout l = TCalendarLayout::For(width(), height());
    FPrev->setGeometry(l.PrevRect());
    FNext->setGeometry(l.NextRect());
    FToday->setGeometry(l.TodayRect());
}

void TCalendarView::resizeEvent(QResizeEvent *)
{
    PlaceTiles();
    update();
}

void TCalendarView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    TCalendarLook look;
    look.Display = FDisplay;
    look.Selected = FSelected;
    look.Today = Today();
    look.Cells = FCells;
    PaintCalendar(p, TCalendarLayout::For(width(), height()), look);
}

void TCalendarView::mousePressEvent(QMouseEvent *AEvent)
{
    AEvent->accept();
    if (AEvent->button() != Qt::LeftButton)
        return;
    const QPoint pt = AEvent->position().toPoint();
    const auto hit = TCalendarLayout::For(width(), height()).HitDay(pt.x(), pt.y());
    if (hit)
        SelectDate(FCells[hit->first][hit->second], true);
}
