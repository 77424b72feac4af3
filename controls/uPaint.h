// Pixel-exact drawing helpers for the owner-drawn controls: rectangles exclude their right column
// and bottom row, lines exclude their end point, pixel positions round half to even.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <cmath>

class QPainter;

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4). Out-of-range input saturates.
inline int RoundPx(double v)
{
    if (!(v > -1e9))
        return -1000000000;
    if (v > 1e9)
        return 1000000000;
    return static_cast<int>(std::lrint(v));
}

// A rectangle by its edges: covers columns L..R-1 and rows T..B-1 (empty when R <= L or B <= T).
inline QRect RectLTRB(int L, int T, int R, int B) { return QRect(L, T, R - L, B - T); }

// Fills (L, T)-(R, B), right column and bottom row excluded. Ignores the painter's pen and brush.
void FillLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c);
inline void FillLTRB(QPainter &p, const QRect &r, const QColor &c)
{
    FillLTRB(p, r.left(), r.top(), r.left() + r.width(), r.top() + r.height(), c);
}

// One-pixel line from a to b in colour c; a is drawn, b is not. Any direction (Bresenham).
void LineExcl(QPainter &p, QPoint a, QPoint b, const QColor &c);

// Line with a square pen `width` pixels wide: every pixel of the one-pixel line a->b (b excluded)
// stamped as a width x width square reaching width/2 pixels up and left of it. With `dotted`, only
// every other pixel of the one-pixel line is stamped. Width 1 is the same as LineExcl.
void WideLineExcl(QPainter &p, QPoint a, QPoint b, const QColor &c, int width, bool dotted = false);

// Outline of (L, T)-(R, B): columns L and R-1 and rows T and B-1; a wider pen grows inwards, so the
// outline never leaves the box. `dotted` draws every other pixel along each side. Inside untouched.
void FrameLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c, int width = 1,
               bool dotted = false);

// Rounded rectangle over (L, T)-(R, B), corners rounded by an ellipse ew x eh. `pen` is the
// 1-pixel border, `brush` the inside; an invalid `brush` leaves the inside transparent.
// Pixels outside the rounded shape are left untouched.
void RoundRectLTRB(QPainter &p, int L, int T, int R, int B, int ew, int eh, const QColor &pen,
                   const QColor &brush);

// Ellipse in the box (L, T)-(R, B), outline only, pen `width` pixels wide growing inwards.
void EllipseLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c, int width = 1);
