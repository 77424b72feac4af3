// Pixel-exact drawing helpers for the owner-drawn controls: rectangles exclude their right column
// and bottom row, lines exclude their end point, pixel positions round half to even.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <cmath>

class QPainter;

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4). Out-of-range input saturates.
inline int RoundPx(double AV)
{
    if (!(AV > -1e9))
        return -1000000000;
    if (AV > 1e9)
        return 1000000000;
    return static_cast<int>(std::lrint(AV));
}

// A rectangle by its edges: covers columns L..R-1 and rows T..B-1 (empty when R <= L or B <= T).
inline QRect RectLTRB(int AL, int AT, int AR, int AB) { return QRect(AL, AT, AR - AL, AB - AT); }

// Fills (L, T)-(R, B), right column and bottom row excluded. Ignores the painter's pen and brush.
void FillLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC);
inline void FillLTRB(QPainter &AP, const QRect &AR, const QColor &AC)
{
    FillLTRB(AP, AR.left(), AR.top(), AR.left() + AR.width(), AR.top() + AR.height(), AC);
}

// One-pixel line from a to b in colour c; a is drawn, b is not. Any direction (Bresenham).
void LineExcl(QPainter &AP, QPoint AA, QPoint AB, const QColor &AC);

// Line with a square pen `width` pixels wide: every pixel of the one-pixel line a->b (b excluded)
// stamped as a width x width square reaching width/2 pixels up and left of it. With `dotted`, only
// every other pixel of the one-pixel line is stamped. Width 1 is the same as LineExcl.
void WideLineExcl(QPainter &AP, QPoint AA, QPoint AB, const QColor &AC, int AWidth, bool ADotted = false);

// Outline of (L, T)-(R, B): columns L and R-1 and rows T and B-1; a wider pen grows inwards, so the
// outline never leaves the box. `dotted` draws every other pixel along each side. Inside untouched.
void FrameLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC, int AWidth = 1,
               bool ADotted = false);

// Rounded rectangle over (L, T)-(R, B), corners rounded by an ellipse ew x eh. `pen` is the
// 1-pixel border, `brush` the inside; an invalid `brush` leaves the inside transparent.
// Pixels outside the rounded shape are left untouched.
void RoundRectLTRB(QPainter &AP, int AL, int AT, int AR, int AB, int AEw, int AEh, const QColor &APen,
                   const QColor &ABrush);

// Ellipse in the box (L, T)-(R, B), outline only, pen `width` pixels wide growing inwards.
void EllipseLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC, int AWidth = 1);
