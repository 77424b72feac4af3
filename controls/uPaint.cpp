// Pixel-exact drawing helpers for the owner-drawn controls.
#include "uPaint.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

void FillLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC)
{
    if (AR > AL && AB > AT)
        AP.fillRect(QRect(AL, AT, AR - AL, AB - AT), AC);
}

namespace {

// Calls f(x, y) for every pixel of the Bresenham line from a to b, b excluded.
template <typename F>
void ForEachLinePixel(QPoint AA, QPoint AB, F AF)
{
    int x = AA.x(), y = AA.y();
    const int dx = std::abs(AB.x() - x), dy = -std::abs(AB.y() - y);
    const int sx = x < AB.x() ? 1 : -1, sy = y < AB.y() ? 1 : -1;
    int err = dx + dy;
    while (x != AB.x() || y != AB.y()) {
        AF(x, y);
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
    int L, T, R, B;
    double ew, eh;

    TRoundShape(int AL, int AT, int AR, int AB, int AW, int AH) : L(AL), T(AT), R(AR), B(AB)
    {
        ew = std::min(std::max(AW, 0), R - L);
        eh = std::min(std::max(AH, 0), B - T);
    }
    void Span(int AY, int &AXl, int &AXr) const
    {
        AXl = L;
        AXr = R - 1;
        if (AY < T || AY >= B) {
            AXl = 1;
            AXr = 0;
            return;
        }
        if (ew < 2 || eh < 2)
            return;
        const double cyT = T + (eh - 1) / 2.0, cyB = (B - 1) - (eh - 1) / 2.0;
        const double dy = std::max(0.0, std::max(cyT - AY, AY - cyB));
        if (dy <= 0)
            return;
        const double ry = eh / 2.0, rx = ew / 2.0;
        const double k = 1.0 - (dy / ry) * (dy / ry);
        const double cxL = L + (ew - 1) / 2.0;
        const double allowed = k > 0 ? rx * std::sqrt(k) : 0.0;
        int l = static_cast<int>(std::floor(cxL - allowed)) + 1;
        if (cxL - allowed == std::floor(cxL - allowed))
            l = static_cast<int>(cxL - allowed) + 1;  // on the boundary counts as outside
        l = std::max(l, L);
        AXl = l;
        AXr = (R - 1) - (l - L);
    }
};

// Paints a rounded shape: a border `width` pixels thick (growing inwards) and, when `brush` is
// valid, the inside.
void PaintRoundShape(QPainter &AP, const TRoundShape &AS, const QColor &APen, int AWidth,
                     const QColor &ABrush)
{
    if (AS.R <= AS.L || AS.B <= AS.T)
        return;
    const int rows = AS.B - AS.T;
    std::vector<int> xl(rows), xr(rows);
    for (int i = 0; i < rows; ++i)
        AS.Span(AS.T + i, xl[i], xr[i]);
    for (int i = 0; i < rows; ++i) {
        if (xl[i] > xr[i])
            continue;
        const int y = AS.T + i;
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
            AP.fillRect(QRect(xl[i], y, xr[i] - xl[i] + 1, 1), APen);
            continue;
        }
        AP.fillRect(QRect(xl[i], y, il - xl[i], 1), APen);
        AP.fillRect(QRect(ir + 1, y, xr[i] - ir, 1), APen);
        if (ABrush.isValid())
            AP.fillRect(QRect(il, y, ir - il + 1, 1), ABrush);
    }
}

} // namespace

void LineExcl(QPainter &AP, QPoint AA, QPoint AB, const QColor &AC)
{
    if (AA.x() == AB.x()) {
        const int y0 = AB.y() < AA.y() ? AB.y() + 1 : AA.y();
        const int y1 = AB.y() < AA.y() ? AA.y() + 1 : AB.y();
        if (y1 > y0)
            AP.fillRect(QRect(AA.x(), y0, 1, y1 - y0), AC);
        return;
    }
    if (AA.y() == AB.y()) {
        const int x0 = AB.x() < AA.x() ? AB.x() + 1 : AA.x();
        const int x1 = AB.x() < AA.x() ? AA.x() + 1 : AB.x();
        AP.fillRect(QRect(x0, AA.y(), x1 - x0, 1), AC);
        return;
    }
    ForEachLinePixel(AA, AB, [&](int AX, int AY) { AP.fillRect(QRect(AX, AY, 1, 1), AC); });
}

void WideLineExcl(QPainter &AP, QPoint AA, QPoint AB, const QColor &AC, int AWidth, bool ADotted)
{
    if (AWidth <= 1 && !ADotted) {
        LineExcl(AP, AA, AB, AC);
        return;
    }
    AWidth = std::max(AWidth, 1);
    const int off = AWidth / 2;
    int n = 0;
    ForEachLinePixel(AA, AB, [&](int AX, int AY) {
        if (!ADotted || (n % 2) == 0)
            AP.fillRect(QRect(AX - off, AY - off, AWidth, AWidth), AC);
        ++n;
    });
}

void FrameLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC, int AWidth, bool ADotted)
{
    if (AR <= AL || AB <= AT)
        return;
    AWidth = std::max(AWidth, 1);
    for (int k = 0; k < AWidth; ++k) {
        const int l = AL + k, t = AT + k, r = AR - k, b = AB - k;
        if (r <= l || b <= t)
            break;
        if (!ADotted) {
            FillLTRB(AP, l, t, r, t + 1, AC);
            FillLTRB(AP, l, b - 1, r, b, AC);
            FillLTRB(AP, l, t, l + 1, b, AC);
            FillLTRB(AP, r - 1, t, r, b, AC);
            continue;
        }
        // Dots every other pixel, counted along each side from the top left corner.
        for (int x = l; x < r; x += 2) {
            FillLTRB(AP, x, t, x + 1, t + 1, AC);
            FillLTRB(AP, x, b - 1, x + 1, b, AC);
        }
        for (int y = t; y < b; y += 2) {
            FillLTRB(AP, l, y, l + 1, y + 1, AC);
            FillLTRB(AP, r - 1, y, r, y + 1, AC);
        }
    }
}

void RoundRectLTRB(QPainter &AP, int AL, int AT, int AR, int AB, int AEw, int AEh, const QColor &APen,
                   const QColor &ABrush)
{
    PaintRoundShape(AP, TRoundShape(AL, AT, AR, AB, AEw, AEh), APen, 1, ABrush);
}

void EllipseLTRB(QPainter &AP, int AL, int AT, int AR, int AB, const QColor &AC, int AWidth)
{
    PaintRoundShape(AP, TRoundShape(AL, AT, AR, AB, AR - AL, AB - AT), AC, std::max(AWidth, 1), QColor());
}
