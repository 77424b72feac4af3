// Pixel-exact drawing helpers for the owner-drawn controls.
#include "uPaint.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <vector>

void FillLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c)
{
    if (R > L && B > T)
        p.fillRect(QRect(L, T, R - L, B - T), c);
}

namespace {

// Calls f(x, y) for every pixel of the Bresenham line from a to b, b excluded.
template <typename F>
void ForEachLinePixel(QPoint a, QPoint b, F f)
{
    int x = a.x(), y = a.y();
    const int dx = std::abs(b.x() - x), dy = -std::abs(b.y() - y);
    const int sx = x < b.x() ? 1 : -1, sy = y < b.y() ? 1 : -1;
    int err = dx + dy;
    while (x != b.x() || y != b.y()) {
        f(x, y);
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

    TRoundShape(int l, int t, int r, int b, int w, int h) : L(l), T(t), R(r), B(b)
    {
        ew = std::min(std::max(w, 0), R - L);
        eh = std::min(std::max(h, 0), B - T);
    }
    void Span(int y, int &xl, int &xr) const
    {
        xl = L;
        xr = R - 1;
        if (y < T || y >= B) {
            xl = 1;
            xr = 0;
            return;
        }
        if (ew < 2 || eh < 2)
            return;
        const double cyT = T + (eh - 1) / 2.0, cyB = (B - 1) - (eh - 1) / 2.0;
        const double dy = std::max(0.0, std::max(cyT - y, y - cyB));
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
        xl = l;
        xr = (R - 1) - (l - L);
    }
};

// Paints a rounded shape: a border `width` pixels thick (growing inwards) and, when `brush` is
// valid, the inside.
void PaintRoundShape(QPainter &p, const TRoundShape &s, const QColor &pen, int width,
                     const QColor &brush)
{
    if (s.R <= s.L || s.B <= s.T)
        return;
    const int rows = s.B - s.T;
    std::vector<int> xl(rows), xr(rows);
    for (int i = 0; i < rows; ++i)
        s.Span(s.T + i, xl[i], xr[i]);
    for (int i = 0; i < rows; ++i) {
        if (xl[i] > xr[i])
            continue;
        const int y = s.T + i;
        // Inside: `width` pixels away from the row's ends and within the spans `width` rows up/down.
        int il = xl[i] + width, ir = xr[i] - width;
        if (i - width < 0 || i + width >= rows) {
            il = 1;
            ir = 0;
        } else {
            for (int k = 1; k <= width; ++k) {
                il = std::max({il, xl[i - k], xl[i + k]});
                ir = std::min({ir, xr[i - k], xr[i + k]});
            }
        }
        if (il > ir) {
            p.fillRect(QRect(xl[i], y, xr[i] - xl[i] + 1, 1), pen);
            continue;
        }
        p.fillRect(QRect(xl[i], y, il - xl[i], 1), pen);
        p.fillRect(QRect(ir + 1, y, xr[i] - ir, 1), pen);
        if (brush.isValid())
            p.fillRect(QRect(il, y, ir - il + 1, 1), brush);
    }
}

} // namespace

void LineExcl(QPainter &p, QPoint a, QPoint b, const QColor &c)
{
    if (a.x() == b.x()) {
        const int y0 = b.y() < a.y() ? b.y() + 1 : a.y();
        const int y1 = b.y() < a.y() ? a.y() + 1 : b.y();
        if (y1 > y0)
            p.fillRect(QRect(a.x(), y0, 1, y1 - y0), c);
        return;
    }
    if (a.y() == b.y()) {
        const int x0 = b.x() < a.x() ? b.x() + 1 : a.x();
        const int x1 = b.x() < a.x() ? a.x() + 1 : b.x();
        p.fillRect(QRect(x0, a.y(), x1 - x0, 1), c);
        return;
    }
    ForEachLinePixel(a, b, [&](int x, int y) { p.fillRect(QRect(x, y, 1, 1), c); });
}

void WideLineExcl(QPainter &p, QPoint a, QPoint b, const QColor &c, int width, bool dotted)
{
    if (width <= 1 && !dotted) {
        LineExcl(p, a, b, c);
        return;
    }
    width = std::max(width, 1);
    const int off = width / 2;
    int n = 0;
    ForEachLinePixel(a, b, [&](int x, int y) {
        if (!dotted || (n % 2) == 0)
            p.fillRect(QRect(x - off, y - off, width, width), c);
        ++n;
    });
}

void FrameLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c, int width, bool dotted)
{
    if (R <= L || B <= T)
        return;
    width = std::max(width, 1);
    for (int k = 0; k < width; ++k) {
        const int l = L + k, t = T + k, r = R - k, b = B - k;
        if (r <= l || b <= t)
            break;
        if (!dotted) {
            FillLTRB(p, l, t, r, t + 1, c);
            FillLTRB(p, l, b - 1, r, b, c);
            FillLTRB(p, l, t, l + 1, b, c);
            FillLTRB(p, r - 1, t, r, b, c);
            continue;
        }
        // Dots every other pixel, counted along each side from the top left corner.
        for (int x = l; x < r; x += 2) {
            FillLTRB(p, x, t, x + 1, t + 1, c);
            FillLTRB(p, x, b - 1, x + 1, b, c);
        }
        for (int y = t; y < b; y += 2) {
            FillLTRB(p, l, y, l + 1, y + 1, c);
            FillLTRB(p, r - 1, y, r, y + 1, c);
        }
    }
}

void RoundRectLTRB(QPainter &p, int L, int T, int R, int B, int ew, int eh, const QColor &pen,
                   const QColor &brush)
{
    PaintRoundShape(p, TRoundShape(L, T, R, B, ew, eh), pen, 1, brush);
}

void EllipseLTRB(QPainter &p, int L, int T, int R, int B, const QColor &c, int width)
{
    PaintRoundShape(p, TRoundShape(L, T, R, B, R - L, B - T), c, std::max(width, 1), QColor());
}
