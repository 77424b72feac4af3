// Pixel-exact drawing helpers for the owner-drawn controls: rectangles exclude their right column
// and bottom row, lines exclude their end point, pixel positions round half to even.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <cmath>

class QPainter;

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4). Out-of-range input saturates.
inline int RoundPx(double AValue)
{
    if (!(AValue > -1e9))
        return -1000000000;
    if (AValue > 1e9)
        return 1000000000;
    return static_cast<int>(std::lrint(AValue));
}

// A rectangle by its edges: covers columns ALeft..ARight-1 and rows ATop..ABottom-1 (empty when
// ARight <= ALeft or ABottom <= ATop).
inline QRect RectLTRB(int ALeft, int ATop, int ARight, int ABottom)
{
    return QRect(ALeft, ATop, ARight - ALeft, ABottom - ATop);
}

// Fills (ALeft, ATop)-(ARight, ABottom), right column and bottom row excluded. Ignores the painter's pen and brush.
void FillLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor);
inline void FillLTRB(QPainter &APainter, const QRect &ARect, const QColor &AColor)
{
    FillLTRB(APainter, ARect.left(), ARect.top(), ARect.left() + ARect.width(), ARect.top() + ARect.height(),
             AColor);
}

// One-pixel line from AFrom to ATo in AColor; AFrom is drawn, ATo is not. Any direction (Bresenham).
void LineExcl(QPainter &APainter, QPoint AFrom, QPoint ATo, const QColor &AColor);

// Line with a square pen AWidth pixels wide: every pixel of the one-pixel line AFrom->ATo (ATo excluded)
// stamped as an AWidth x AWidth square reaching AWidth/2 pixels up and left of it. With ADotted, only
// every other pixel of the one-pixel line is stamped. Width 1 is the same as LineExcl.
void WideLineExcl(QPainter &APainter, QPoint AFrom, QPoint ATo, const QColor &AColor, int AWidth,
                  bool ADotted = false);

// Outline of (ALeft, ATop)-(ARight, ABottom): columns ALeft and ARight-1 and rows ATop and ABottom-1; a
// wider pen grows inwards, so the outline never leaves the box. ADotted draws every other pixel along each side. Inside untouched.
void FrameLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor,
               int AWidth = 1, bool ADotted = false);

// Rounded rectangle over (ALeft, ATop)-(ARight, ABottom), corners rounded by an ellipse AEw x AEh. APen is
// the 1-pixel border, ABrush the inside; an invalid ABrush leaves the inside transparent.
// Pixels outside the rounded shape are left untouched.
void RoundRectLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, int AEw, int AEh,
                   const QColor &APen, const QColor &ABrush);

// Ellipse in the box (ALeft, ATop)-(ARight, ABottom), outline only, pen AWidth pixels wide growing inwards.
void EllipseLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor,
                 int AWidth = 1);
