// Pixel-exact drawing helpers for the owner-drawn controls.
#include "uPaint.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

void FillLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor)
{
    if (ARight > ALeft && ABottom > ATop)
        APainter.fillRect(QRect(ALeft, ATop, ARight - ALeft, ABottom - ATop), AColor);
}

namespace {

// Calls f(x, y) for every pixel of the Bresenham line from a to b, b excluded.
template <typename F>
void ForEachLinePixel(QPoint AFrom, QPoint ATo, F AVisit)
{
    int x = AFrom.x(), y = AFrom.y();
    const int dx = std::abs(ATo.x() - x), dy = -std::abs(ATo.y() - y);
    const int sx = x < ATo.x() ? 1 : -1, sy = y < ATo.y() ? 1 : -1;
    int err = dx + dy;
    while (x != ATo.x() || y != ATo.y()) {
        AVisit(x, y);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// Horizontal span [xl, xr] of a rounded rectangle in row y (xl > xr when the row is outside).
// The corners follow an ellipse ew x eh whose pixel squares are tested at their centres.
struct TRoundShape {
    int Left, Top, Right, Bottom;
    double ew, eh;

    TRoundShape(int ALeft, int ATop, int ARight, int ABottom, int AWidth, int AHeight) : Left(ALeft), Top(ATop), Right(ARight), Bottom(ABottom)
    {
        ew = std::min(std::max(AWidth, 0), Right - Left);
        eh = std::min(std::max(AHeight, 0), Bottom - Top);
    }
    void Span(int AY, int &AXl, int &AXr) const
    {
        AXl = Left;
        AXr = Right - 1;
        if (AY < Top || AY >= Bottom) {
            AXl = 1;
            AXr = 0;
            return;
        }
        if (ew < 2 || eh < 2)
            return;
        const double cyT = Top + (eh - 1) / 2.0, cyB = (Bottom - 1) - (eh - 1) / 2.0;
        const double dy = std::max(0.0, std::max(cyT - AY, AY - cyB));
        if (dy <= 0)
            return;
        const double ry = eh / 2.0, rx = ew / 2.0;
        const double k = 1.0 - (dy / ry) * (dy / ry);
        const double cxL = Left + (ew - 1) / 2.0;
        const double allowed = k > 0 ? rx * std::sqrt(k) : 0.0;
        int l = static_cast<int>(std::floor(cxL - allowed)) + 1;
        if (cxL - allowed == std::floor(cxL - allowed))
            l = static_cast<int>(cxL - allowed) + 1;  // on the boundary counts as outside
        l = std::max(l, Left);
        AXl = l;
        AXr = (Right - 1) - (l - Left);
    }
};

// Paints a rounded shape: a border `width` pixels thick (growing inwards) and, when `brush` is
// valid, the inside.
void PaintRoundShape(QPainter &APainter, const TRoundShape &ARoundShape, const QColor &APen, int AWidth,
                     const QColor &ABrush)
{
    if (ARoundShape.Right <= ARoundShape.Left || ARoundShape.Bottom <= ARoundShape.Top)
        return;
    const int rows = ARoundShape.Bottom - ARoundShape.Top;
    std::vector<int> xl(rows), xr(rows);
    for (int i = 0; i < rows; ++i)
        ARoundShape.Span(ARoundShape.Top + i, xl[i], xr[i]);
    for (int i = 0; i < rows; ++i) {
        if (xl[i] > xr[i])
            continue;
        const int y = ARoundShape.Top + i;
        // Inside: `width` pixels away from the row's ends and within the spans `width` rows up/down.
        int il = xl[i] + AWidth, ir = xr[i] - AWidth;
        if (i - AWidth < 0 || i + AWidth >= rows) {
            il = 1;
            ir = 0;
        } else {
            for (int k = 1; k <= AWidth; ++k) {
                il = std::max({il, xl[i - k], xl[i + k]});
                ir = std::min({ir, xr[i - k], xr[i + k]});
            }
        }
        if (il > ir) {
            APainter.fillRect(QRect(xl[i], y, xr[i] - xl[i] + 1, 1), APen);
            continue;
        }
        APainter.fillRect(QRect(xl[i], y, il - xl[i], 1), APen);
        APainter.fillRect(QRect(ir + 1, y, xr[i] - ir, 1), APen);
        if (ABrush.isValid())
            APainter.fillRect(QRect(il, y, ir - il + 1, 1), ABrush);
    }
}

} // namespace

void LineExcl(QPainter &APainter, QPoint AFrom, QPoint ATo, const QColor &AColor)
{
    if (AFrom.x() == ATo.x()) {
        const int y0 = ATo.y() < AFrom.y() ? ATo.y() + 1 : AFrom.y();
        const int y1 = ATo.y() < AFrom.y() ? AFrom.y() + 1 : ATo.y();
        if (y1 > y0)
            APainter.fillRect(QRect(AFrom.x(), y0, 1, y1 - y0), AColor);
        return;
    }
    if (AFrom.y() == ATo.y()) {
        const int x0 = ATo.x() < AFrom.x() ? ATo.x() + 1 : AFrom.x();
        const int x1 = ATo.x() < AFrom.x() ? AFrom.x() + 1 : ATo.x();
        APainter.fillRect(QRect(x0, AFrom.y(), x1 - x0, 1), AColor);
        return;
    }
    ForEachLinePixel(AFrom, ATo, [&](int AX, int AY) { APainter.fillRect(QRect(AX, AY, 1, 1), AColor); });
}

void WideLineExcl(QPainter &APainter, QPoint AFrom, QPoint ATo, const QColor &AColor, int AWidth, bool ADotted)
{
    if (AWidth <= 1 && !ADotted) {
        LineExcl(APainter, AFrom, ATo, AColor);
        return;
    }
    AWidth = std::max(AWidth, 1);
    const int off = AWidth / 2;
    int n = 0;
    ForEachLinePixel(AFrom, ATo, [&](int AX, int AY) {
        if (!ADotted || (n % 2) == 0)
            APainter.fillRect(QRect(AX - off, AY - off, AWidth, AWidth), AColor);
        ++n;
    });
}

void FrameLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor, int AWidth, bool ADotted)
{
    if (ARight <= ALeft || ABottom <= ATop)
        return;
    AWidth = std::max(AWidth, 1);
    for (int k = 0; k < AWidth; ++k) {
        const int l = ALeft + k, t = ATop + k, r = ARight - k, b = ABottom - k;
        if (r <= l || b <= t)
            break;
        if (!ADotted) {
            FillLTRB(APainter, l, t, r, t + 1, AColor);
            FillLTRB(APainter, l, b - 1, r, b, AColor);
            FillLTRB(APainter, l, t, l + 1, b, AColor);
            FillLTRB(APainter, r - 1, t, r, b, AColor);
            continue;
        }
        // Dots every other pixel, counted along each side from the top left corner.
        for (int x = l; x < r; x += 2) {
            FillLTRB(APainter, x, t, x + 1, t + 1, AColor);
            FillLTRB(APainter, x, b - 1, x + 1, b, AColor);
        }
        for (int y = t; y < b; y += 2) {
            FillLTRB(APainter, l, y, l + 1, y + 1, AColor);
            FillLTRB(APainter, r - 1, y, r, y + 1, AColor);
        }
    }
}

void RoundRectLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, int AEw, int AEh, const QColor &APen,
                   const QColor &ABrush)
{
    PaintRoundShape(APainter, TRoundShape(ALeft, ATop, ARight, ABottom, AEw, AEh), APen, 1, ABrush);
}

void EllipseLTRB(QPainter &APainter, int ALeft, int ATop, int ARight, int ABottom, const QColor &AColor, int AWidth)
{
    PaintRoundShape(APainter, TRoundShape(ALeft, ATop, ARight, ABottom, ARight - ALeft, ABottom - ATop), AColor, std::max(AWidth, 1), QColor());
}
