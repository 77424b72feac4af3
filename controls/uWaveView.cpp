// Waveform view: two channel lanes of the envelope, time rulers, position bar and overview, with
// zoom, panning, drag selection and click-to-seek.
#include "uWaveView.h"

#include "uDialogKit.h"
#include "uPaint.h"
#include "uReaderTypes.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cmath>

// ---- Window of time ----

double TWaveWindow::ViewLen() const
{
    const double len = ViewEnd - ViewStart;
    return len > 0 ? len : WaveMinViewLen;
}

double TWaveWindow::ViewTimeOfPx(double AX) const
{
    if (Width <= 0)
        return ViewStart;
    return ViewStart + AX / Width * ViewLen();
}

int TWaveWindow::ViewPxOfTime(double ATime) const { return RoundPx((ATime - ViewStart) / ViewLen() * Width); }

double TWaveWindow::OverviewTimeOfPx(double AX) const
{
    if (Width <= 0)
        return 0;
    return AX / Width * Duration;
}

int TWaveWindow::OverviewPxOfTime(double ATime) const
{
    if (Duration <= 0)
        return 0;
    return RoundPx(ATime / Duration * Width);
}

void TWaveWindow::Clamp()
{
    if (Duration <= 0)
        return;
    double len = ViewEnd - ViewStart;
    if (!(len >= WaveMinViewLen))  // also catches NaN
        len = WaveMinViewLen;
    if (len > Duration)
        len = Duration;
    if (!(ViewStart >= 0))
        ViewStart = 0;
    if (ViewStart + len > Duration)
        ViewStart = Duration - len;
    if (ViewStart < 0)
        ViewStart = 0;
    ViewEnd = ViewStart + len;
}

bool TWaveWindow::ZoomAbout(double AAnchor, int AX, double ALen)
{
    if (Duration <= 0)
        return false;
    double n = ALen;
    if (!(n >= WaveMinViewLen))
        n = WaveMinViewLen;
    if (n > Duration)
        n = Duration;
    const double f = Width <= 0 ? 0.5 : static_cast<double>(AX) / Width;
    ViewStart = AAnchor - f * n;
    ViewEnd = ViewStart + n;
    Clamp();
    return true;
}

bool TWaveWindow::CentreOn(double ATime)
{
    if (Duration <= 0)
        return false;
    const double len = ViewLen();
    ViewStart = ATime - len / 2;
    ViewEnd = ViewStart + len;
    Clamp();
    return true;
}

// ---- Envelope points in time ----

namespace {
// A millionth of a point: quotients this close to a whole number count as that number.
constexpr double PointSlack = 1e-6;
} // namespace

double EffectiveSecPerPoint(double ASecPerPoint, double ADuration, int ACount)
{
    if (ASecPerPoint > 0 && std::isfinite(ASecPerPoint))
        return ASecPerPoint;
    if (ACount < 1 || !(ADuration > 0))
        return 0;
    return ADuration / ACount;
}

namespace {
// The point that covers ATime, within 0..ACount - 1 (APointsPerSec = 1 / seconds per point).
int PointAt(double ATime, double APointsPerSec, int ACount)
{
    const double j = std::floor(ATime * APointsPerSec + PointSlack);
    return static_cast<int>(std::clamp(j, 0.0, double(ACount - 1)));
}
} // namespace

// ---- Rulers ----

namespace {
const double RulerLadder[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.25, 0.5, 1, 2, 5, 10,
                              15,    30,    60,    120,  300,  600,  900, 1800, 3600, 7200, 10800, 21600, 43200};

// Decimals a tick step needs so that its ticks' labels differ: 0 from one second on, else 1 to 3.
int RulerDecimals(double AStep)
{
    if (AStep >= 1)
        return 0;
    const long long milli = std::llround(AStep * 1000);
    if (milli % 100 == 0)
        return 1;
    return milli % 10 == 0 ? 2 : 3;
}

// True when AStep is a whole multiple of APart (both ladder rungs, so compared in milliseconds).
bool DividesInto(double AStep, double APart)
{
    const long long step = std::llround(AStep * 1000), part = std::llround(APart * 1000);
    return part > 0 && step % part == 0;
}
} // namespace

double RulerStep(const TWaveWindow &AWin, const TTextWidth &ATextWidth)
{
    if (AWin.Duration <= 0 || AWin.Width <= 0)
        return 1;
    const double pxPerSec = AWin.Width / AWin.ViewLen();
    for (double step : RulerLadder) {
        const QString widest = RulerLabel(AWin.ViewEnd, step);
        const int width = ATextWidth ? ATextWidth(widest) : 6 * int(widest.size());
        if (step * pxPerSec >= width + RulerLabelGap)
            return step;
    }
    return std::end(RulerLadder)[-1];
}

double RulerMinorStep(const TWaveWindow &AWin, double AStep)
{
    if (AWin.Width <= 0)
        return 0;
    const double pxPerSec = AWin.Width / AWin.ViewLen();
    for (double part : RulerLadder) {
        if (part >= AStep)
            break;
        if (part * pxPerSec >= RulerMinorPx && DividesInto(AStep, part))
            return part;
    }
    return 0;
}

QString RulerLabel(double ATime, double AStep)
{
    const int decimals = RulerDecimals(AStep);
    if (decimals == 0)
        return FormatDuration(ATime);
    // In thousandths, so that a tick time like 10.499999 still reads 10,5.
    const long long milli = std::llround(std::max(ATime, 0.0) * 1000);
    const QString whole = FormatDuration(double(milli / 1000));
    const int frac = static_cast<int>(milli % 1000);
    static const int divisor[] = {1000, 100, 10, 1};
    return whole + QLatin1Char(',') + QStringLiteral("%1").arg(frac / divisor[decimals], decimals, 10, QLatin1Char('0'));
}

std::vector<TRulerTick> RulerTicks(const TWaveWindow &AWin, const TTextWidth &ATextWidth)
{
    std::vector<TRulerTick> ticks;
    if (AWin.Duration <= 0)
        return ticks;
    const double step = RulerStep(AWin, ATextWidth);
    const double minor = RulerMinorStep(AWin, step);
    // Every tick on the finer grid; whole multiples of the step carry the labels.
    const double grid = minor > 0 ? minor : step;
    const long long perStep = std::llround(step / grid);
    int lastRight = INT_MIN;  // one past the last column of the previous label written
    // Tick times are whole multiples of the grid, so that repeated additions cannot drift.
    for (double i = std::trunc(AWin.ViewStart / grid);; i += 1) {
        const double t = i * grid;
        if (t > AWin.ViewEnd)
            break;
        if (t < AWin.ViewStart)
            continue;
        TRulerTick tick;
        tick.Time = t;
        tick.X = AWin.ViewPxOfTime(t);
        if (static_cast<long long>(i) % perStep != 0) {
            tick.Minor = true;
            tick.HasLabel = false;
            ticks.push_back(std::move(tick));
            continue;
        }
        tick.Label = RulerLabel(t, step);
        const int width = ATextWidth ? ATextWidth(tick.Label) : 0;
        tick.LabelX = std::min(tick.X + 2, AWin.Width - 1 - width);
        tick.HasLabel = tick.LabelX >= 0 && (lastRight == INT_MIN || tick.LabelX >= lastRight + 4);
        if (tick.HasLabel)
            lastRight = tick.LabelX + width;
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

TWaveBands TWaveBands::For(int AHeight)
{
    TWaveBands b;
    const int H = AHeight;
    const int B = std::max(H - 30, 34);
    b.PosTop = 0;
    b.PosBottom = 14;
    b.RulerTop = 14;
    b.RulerBottom = 30;
    b.WaveTop = 30;
    b.WaveBottom = B;
    b.Ruler2Top = B;
    b.Ruler2Bottom = B + 16;
    b.OverTop = H - 14;
    b.OverBottom = H;
    const int h = b.WaveBottom - b.WaveTop;
    const int half = h / 2, q = half / 2, r = (h - half) / 2;
    b.CentreL = b.WaveTop + q;
    b.AmpL = std::max(q - 2, 1);
    b.CentreR = b.WaveTop + half + r;
    b.AmpR = std::max(r - 2, 1);
    return b;
}

// ---- Envelope per column ----

namespace {

// ColumnPointRange with the points per second (1 / seconds per point, > 0) worked out by the caller.
TPointRange ColumnPoints(const TWaveWindow &AWin, int ACount, double APointsPerSec, int AX)
{
    TPointRange r;
    // Points j with j / pps < t1 and (j + 1) / pps > t0, for the column's seconds [t0, t1).
    const double p0 = std::floor(AWin.ViewTimeOfPx(AX) * APointsPerSec + PointSlack);
    const double p1 = std::ceil(AWin.ViewTimeOfPx(AX + 1) * APointsPerSec - PointSlack) - 1;
    const double last = ACount - 1;
    // The window never passes the recording, whose sound ends in the last point with sound; the
    // limits only guard rounding and a seconds-per-point that is too small for the envelope.
    r.J0 = static_cast<int>(std::clamp(p0, 0.0, last));
    r.J1 = static_cast<int>(std::clamp(p1, 0.0, last));
    if (r.J1 < r.J0)
        r.J1 = r.J0;
    return r;
}

} // namespace

TPointRange ColumnPointRange(const TWaveWindow &AWin, int ACount, double ASecPerPoint, int AX)
{
    const double spp = EffectiveSecPerPoint(ASecPerPoint, AWin.Duration, ACount);
    if (ACount < 1 || AWin.Duration <= 0 || spp <= 0)
        return TPointRange();
    return ColumnPoints(AWin, ACount, 1 / spp, AX);
}

void ComputeLaneColumns(const TWaveWindow &AWin, const TEnvPoint *AEnv, int ACount, double ASecPerPoint,
                        std::vector<TColumnExtremes> &AOut, std::vector<int> *AVisits)
{
    const int W = std::max(AWin.Width, 0);
    AOut.assign(W, TColumnExtremes());
    const double spp = EffectiveSecPerPoint(ASecPerPoint, AWin.Duration, ACount);
    if (W == 0 || ACount < 1 || AWin.Duration <= 0 || !AEnv || spp <= 0)
        return;
    const double pointsPerSec = 1 / spp;
    for (int x = 0; x < W; ++x) {
        const TPointRange r = ColumnPoints(AWin, ACount, pointsPerSec, x);
        AOut[x].J0 = r.J0;
        AOut[x].J1 = r.J1;
    }
    // Both range ends grow with x. Cut the points at every range start and every range end, so
    // that each piece lies wholly inside the columns that hold it: each piece's extremes are taken
    // once (every point read once), and each column folds the few pieces it covers.
    thread_local std::vector<int> cuts;
    thread_local std::vector<TColumnExtremes> pieces;
    cuts.clear();
    const TColumnExtremes *col = AOut.data();
    for (int a = 0, b = 0; a < W || b < W;) {
        // merge the two nondecreasing sequences J0[a] and J1[b] + 1
        const int next = (b >= W || (a < W && col[a].J0 <= col[b].J1 + 1)) ? col[a++].J0 : col[b++].J1 + 1;
        if (cuts.empty() || cuts.back() != next)
            cuts.push_back(next);
    }
    const int nPieces = static_cast<int>(cuts.size()) - 1;
    pieces.assign(std::max(nPieces, 0), TColumnExtremes());
    for (int k = 0; k < nPieces; ++k) {
        int loL = 0, hiL = 0, loR = 0, hiR = 0;
        for (int j = cuts[k]; j < cuts[k + 1]; ++j) {
            const TEnvPoint &pt = AEnv[j];
            loL = std::min<int>(loL, pt.MnL);
            hiL = std::max<int>(hiL, pt.MxL);
            loR = std::min<int>(loR, pt.MnR);
            hiR = std::max<int>(hiR, pt.MxR);
        }
        if (AVisits)
            for (int j = cuts[k]; j < cuts[k + 1]; ++j)
                ++(*AVisits)[j];
        pieces[k] = TColumnExtremes{loL, hiL, loR, hiR, cuts[k], cuts[k + 1] - 1};
    }
    int k0 = 0;
    for (int x = 0; x < W; ++x) {
        TColumnExtremes &c = AOut[x];
        while (k0 < nPieces && pieces[k0].J0 < c.J0)
            ++k0;
        for (int k = k0; k < nPieces && pieces[k].J0 <= c.J1; ++k) {
            const TColumnExtremes &q = pieces[k];
            c.LoL = std::min(c.LoL, q.LoL);
            c.HiL = std::max(c.HiL, q.HiL);
            c.LoR = std::min(c.LoR, q.LoR);
            c.HiR = std::max(c.HiR, q.HiR);
        }
    }
}

// ---- Painting ----

namespace {

const QColor clPosBar(24, 80, 168), clPosMark(96, 176, 232), clRuler(26, 26, 26),
    clRulerText(176, 176, 176), clTick(96, 96, 96), clWave(16, 16, 16), clSel(34, 60, 85),
    clCentre(56, 56, 56), clMessage(160, 160, 160), clSelEdge(64, 128, 192), clCursor(240, 48, 48),
    clOverview(6, 40, 6), clFrame(176, 176, 176);
const QRgb rgbGreen = qRgb(40, 220, 60);

// Vertical runs of one colour, one per column: rows Top[i] to Bottom[i] - 1 of column X0 + i.
// Written straight into the image when there is one, else through the painter.
class TColumnRuns {
public:
    void Reset(int AX0, int ACount)
    {
        FX0 = AX0;
        FTop.assign(std::max(ACount, 0), 0);
        FBottom.assign(std::max(ACount, 0), 0);
    }
    // Column i from y0 to y1, y1 excluded, in either direction (an end-exclusive line).
    void Set(int AColumn, int AY0, int AY1)
    {
        if (AY1 < AY0) {
            const int t = AY1 + 1;
            AY1 = AY0 + 1;
            AY0 = t;
        }
        FTop[AColumn] = AY0;
        FBottom[AColumn] = AY1;
    }
    void Paint(QPainter &APainter, QRgb AColor) const;
    // Rows that any run covers: yMin to yMax - 1 (empty when yMax <= yMin).
    void RowRange(int &AYMin, int &AYMax) const;
    // Writes c into row[i] for the columns i in [iFrom, iTo) whose run covers row y.
    void OverlayRow(quint32 *ARow, int AY, int AIFrom, int AITo, quint32 AColor) const;

private:
    int FX0 = 0;
    std::vector<int> FTop, FBottom;
};

void TColumnRuns::RowRange(int &AYMin, int &AYMax) const
{
    AYMin = INT_MAX;
    AYMax = INT_MIN;
    for (size_t i = 0; i < FTop.size(); ++i)
        if (FBottom[i] > FTop[i]) {
            AYMin = std::min(AYMin, FTop[i]);
            AYMax = std::max(AYMax, FBottom[i]);
        }
}

void TColumnRuns::OverlayRow(quint32 *ARow, int AY, int AIFrom, int AITo, quint32 AColor) const
{
    const int *top = FTop.data(), *bottom = FBottom.data();
    int i = AIFrom;
#ifdef __SSE2__
    const __m128i yv = _mm_set1_epi32(AY), y1v = _mm_set1_epi32(AY + 1), cv = _mm_set1_epi32(int(AColor));
    for (; i + 4 <= AITo; i += 4) {
        const __m128i tv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(top + i));
        const __m128i bv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + i));
        // all ones where top <= y (top < y + 1) and y < bottom
        const __m128i m = _mm_and_si128(_mm_cmpgt_epi32(y1v, tv), _mm_cmpgt_epi32(bv, yv));
        __m128i *dst = reinterpret_cast<__m128i *>(ARow + i);
        const __m128i old = _mm_loadu_si128(dst);
        _mm_storeu_si128(dst, _mm_or_si128(_mm_and_si128(m, cv), _mm_andnot_si128(m, old)));
    }
#endif
    for (; i < AITo; ++i)
        if (top[i] <= AY && AY < bottom[i])
            ARow[i] = AColor;
}

// The raster image under a painter, when pixels can be written into it directly.
struct TDirectTarget {
    uchar *Bits = nullptr;
    qsizetype Bpl = 0;
    int Dx = 0, Dy = 0;  // painter coordinates + (Dx, Dy) = image pixel
    QRect Clip;          // writable pixels, in painter coordinates
};

bool DirectTarget(QPainter &APainter, TDirectTarget &ADirectTarget)
{
    QPaintEngine *engine = APainter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return false;
    QPaintDevice *dev = engine->paintDevice();
    if (!dev || dev->devType() != QInternal::Image)
        return false;
    auto *img = static_cast<QImage *>(dev);
    if (img->format() != QImage::Format_RGB32 && img->format() != QImage::Format_ARGB32_Premultiplied)
        return false;  // the formats that take a plain 0xffRRGGBB word per pixel
    const QTransform m = APainter.deviceTransform();
    if (m.type() > QTransform::TxTranslate || m.dx() != std::floor(m.dx()) || m.dy() != std::floor(m.dy()))
        return false;
    ADirectTarget.Dx = static_cast<int>(m.dx());
    ADirectTarget.Dy = static_cast<int>(m.dy());
    // Writable: the image, within the painter's system clip (the region being repainted) when it
    // is one rectangle, and within the painter's own clip.
    QRect devClip(0, 0, img->width(), img->height());
    const QRegion sys = engine->systemClip();
    if (!sys.isEmpty()) {
        if (sys.rectCount() != 1)
            return false;
        devClip &= sys.boundingRect();
    }
    if (APainter.hasClipping()) {
        const QRegion cr = APainter.clipRegion();
        if (cr.rectCount() > 1)
            return false;
        devClip &= m.mapRect(cr.boundingRect());
    }
    ADirectTarget.Clip = devClip.translated(-ADirectTarget.Dx, -ADirectTarget.Dy);
    ADirectTarget.Bits = img->bits();
    ADirectTarget.Bpl = img->bytesPerLine();
    return true;
}

void TColumnRuns::Paint(QPainter &APainter, QRgb AColor) const
{
    const int n = static_cast<int>(FTop.size());
    TDirectTarget t;
    if (!DirectTarget(APainter, t)) {
        std::vector<QRect> rects;
        rects.reserve(n);
        for (int i = 0; i < n; ++i)
            if (FBottom[i] > FTop[i])
                rects.push_back(QRect(FX0 + i, FTop[i], 1, FBottom[i] - FTop[i]));
        APainter.save();
        APainter.setPen(Qt::NoPen);
        APainter.setBrush(QColor(AColor));
        APainter.drawRects(rects.data(), static_cast<int>(rects.size()));
        APainter.restore();
        return;
    }
    // Row by row: a column's run would step through the image at the row stride, which for
    // common widths lands on few cache sets.
    const int iFrom = std::max(0, t.Clip.left() - FX0);
    const int iTo = std::min(n, t.Clip.left() + t.Clip.width() - FX0);
    int yMin, yMax;
    RowRange(yMin, yMax);
    yMin = std::max(yMin, t.Clip.top());
    yMax = std::min(yMax, t.Clip.top() + t.Clip.height());
    if (iTo <= iFrom)
        return;
    for (int y = yMin; y < yMax; ++y)
        OverlayRow(reinterpret_cast<quint32 *>(t.Bits + qsizetype(y + t.Dy) * t.Bpl) + FX0 + t.Dx, y,
                   iFrom, iTo, AColor);
}

// Overview window marker: xs, xe of the window, at least 3 pixels apart.
void WindowMarker(const TWaveWindow &AWaveWindow, int &AXs, int &AXe)
{
    AXs = AWaveWindow.OverviewPxOfTime(AWaveWindow.ViewStart);
    AXe = AWaveWindow.OverviewPxOfTime(AWaveWindow.ViewEnd);
    if (AXe - AXs < 3)
        AXe = AXs + 3;
}

QFont RulerFont()
{
    QFont f = InterfaceFont();
    f.setPointSize(7);
    return f;
}

// Widths of ruler labels, from the advance of each character: labels hold only digits, ':' and ','
// (no kerning between them), so a paint shapes no text to measure it. Measured once per resolution.
struct TLabelWidths {
    int Dpi = -1;
    int Advance[128] = {};
    int Of(const QString &ALabel) const
    {
        int sum = 0;
        for (QChar c : ALabel)
            sum += c.unicode() < 128 ? Advance[c.unicode()] : Advance[int('0')];
        return sum;
    }
};

const TLabelWidths &RulerLabelWidths(QPaintDevice *ADevice)
{
    thread_local TLabelWidths cache;
    const int dpi = ADevice ? ADevice->logicalDpiY() : 0;
    if (cache.Dpi != dpi) {
        const QFontMetrics m = ADevice ? QFontMetrics(RulerFont(), ADevice) : QFontMetrics(RulerFont());
        for (int c = 0; c < 128; ++c)
            cache.Advance[c] = m.horizontalAdvance(QChar(c));
        cache.Dpi = dpi;
    }
    return cache;
}

void PaintRuler(QPainter &APainter, const TWaveWindow &AWaveWindow, const std::vector<TRulerTick> &ATicks, int ATop, int ABottom)
{
    FillLTRB(APainter, 0, ATop, AWaveWindow.Width, ABottom, clRuler);
    if (AWaveWindow.Duration <= 0)
        return;
    APainter.setFont(RulerFont());
    APainter.setPen(clRulerText);
    for (const TRulerTick &tick : ATicks) {
        FillLTRB(APainter, tick.X, ATop, tick.X + 1, ATop + (tick.Minor ? 2 : 4), clTick);
        if (tick.HasLabel)
            APainter.drawText(QRect(tick.LabelX, ATop + 2, 200, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                       tick.Label);
    }
}

// The lanes' columns as runs (both extremes start at 0, so each run covers its centre line).
void LaneRuns(const TWaveLook &ALook, const TWaveBands &AWaveBands, std::vector<TColumnExtremes> &ACols,
              TColumnRuns &ALeft, TColumnRuns &ARight)
{
    const int W = ALook.Win.Width;
    ComputeLaneColumns(ALook.Win, ALook.Env, ALook.EnvCount, ALook.SecPerPoint, ACols);
    const double kL = AWaveBands.AmpL / 32768.0, kR = AWaveBands.AmpR / 32768.0;
    ALeft.Reset(0, W);
    ARight.Reset(0, W);
    for (int x = 0; x < W; ++x) {
        const TColumnExtremes &c = ACols[x];
        ALeft.Set(x, AWaveBands.CentreL - RoundPx(c.HiL * kL), AWaveBands.CentreL - RoundPx(c.LoL * kL) + 1);
        ARight.Set(x, AWaveBands.CentreR - RoundPx(c.HiR * kR), AWaveBands.CentreR - RoundPx(c.LoR * kR) + 1);
    }
}

// row[a..b) = c, four pixels a store where the processor has the instructions for it.
inline void FillRow(quint32 *ARow, int AFrom, int AEnd, quint32 AColor)
{
    int i = AFrom;
#ifdef __SSE2__
    const __m128i cv = _mm_set1_epi32(int(AColor));
    for (; i + 4 <= AEnd; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(ARow + i), cv);
#endif
    for (; i < AEnd; ++i)
        ARow[i] = AColor;
}

// The waveform area in one pass over its rows, straight into the image: background, selection
// band, upper centre line and lane, lower centre line and lane, in that order per pixel. Each
// row is written once while it is in the cache instead of being filled first and revisited.
void ComposeWaveArea(const TDirectTarget &ADirectTarget, int AWidth, int AY0, int AY1, int ASelX1, int ASelX2,
                     const TWaveBands &AWaveBands, const TColumnRuns &ALeft, const TColumnRuns &ARight)
{
    const int xa = std::max(0, ADirectTarget.Clip.left()), xb = std::min(AWidth, ADirectTarget.Clip.left() + ADirectTarget.Clip.width());
    const int ya = std::max(AY0, ADirectTarget.Clip.top()), yb = std::min(AY1, ADirectTarget.Clip.top() + ADirectTarget.Clip.height());
    if (xb <= xa)
        return;
    const int sa = std::max(xa, ASelX1), sb = std::min(xb, ASelX2);
    int lMin, lMax, rMin, rMax;
    ALeft.RowRange(lMin, lMax);
    ARight.RowRange(rMin, rMax);
    const quint32 bg = clWave.rgb(), sel = clSel.rgb(), centre = clCentre.rgb();
    for (int y = ya; y < yb; ++y) {
        quint32 *row = reinterpret_cast<quint32 *>(ADirectTarget.Bits + qsizetype(y + ADirectTarget.Dy) * ADirectTarget.Bpl) + ADirectTarget.Dx;
        if (y == AWaveBands.CentreL) {
            FillRow(row, xa, xb, centre);
        } else {
            FillRow(row, xa, xb, bg);
            if (sb > sa)
                FillRow(row, sa, sb, sel);
        }
        if (y >= lMin && y < lMax)
            ALeft.OverlayRow(row, y, xa, xb, rgbGreen);
        if (y == AWaveBands.CentreR)
            FillRow(row, xa, xb, centre);
        if (y >= rMin && y < rMax)
            ARight.OverlayRow(row, y, xa, xb, rgbGreen);
    }
}

void PaintOverviewColumns(QPainter &APainter, const TWaveLook &ALook, int ATop, int ABottom)
{
    const TWaveWindow &w = ALook.Win;
    const int centre = (ATop + ABottom) / 2;
    const double k = std::max((ABottom - ATop) / 2 - 1, 1) / 32768.0;
    // Overview time of column x in points: x / W * Duration / seconds per point.
    const double spp = EffectiveSecPerPoint(ALook.SecPerPoint, w.Duration, ALook.EnvCount);
    const double pointsPerPx = w.Duration / w.Width / spp;
    thread_local TColumnRuns runs;
    runs.Reset(0, w.Width);
    for (int x = 0; x < w.Width; ++x) {
        // One point per column, the one at the column's start time, not starting from 0.
        const TEnvPoint &pt = ALook.Env[PointAt(x, pointsPerPx, ALook.EnvCount)];
        const int hi = std::max(pt.MxL, pt.MxR), lo = std::min(pt.MnL, pt.MnR);
        runs.Set(x, centre - RoundPx(hi * k), centre - RoundPx(lo * k) + 1);
    }
    runs.Paint(APainter, rgbGreen);
}

} // namespace

void PaintWave(QPainter &APainter, const TWaveLook &ALook, std::vector<TColumnExtremes> &AScratch)
{
    const TWaveWindow &w = ALook.Win;
    const int W = w.Width;
    if (W <= 0 || ALook.Height <= 0)
        return;
    APainter.save();
    APainter.setRenderHint(QPainter::Antialiasing, false);
    const TWaveBands b = TWaveBands::For(ALook.Height);
    const bool hasData = ALook.EnvCount > 0 && w.Duration > 0 && ALook.Env;
    const bool hasSel = ALook.SelStart >= 0 && ALook.SelEnd > ALook.SelStart;
    const int y0 = b.WaveTop, y1 = b.WaveBottom;

    // 1. Position bar
    FillLTRB(APainter, 0, b.PosTop, W, b.PosBottom, clPosBar);
    if (w.Duration > 0) {
        int xs, xe;
        WindowMarker(w, xs, xe);
        FillLTRB(APainter, xs, 2, xe, 12, clPosMark);
    }
    // 2. Upper ruler
    std::vector<TRulerTick> ticks;
    if (w.Duration > 0) {
        const TLabelWidths &widths = RulerLabelWidths(APainter.device());
        ticks = RulerTicks(w, [&](const QString &ALabel) { return widths.Of(ALabel); });
    }
    PaintRuler(APainter, w, ticks, b.RulerTop, b.RulerBottom);
    // 3. Waveform area: background, selection band, lanes, then message or edges and cursor
    int selX1 = 0, selX2 = 0;  // the band, x2 > x1 when there is one
    if (hasSel) {
        selX1 = w.ViewPxOfTime(ALook.SelStart);
        selX2 = w.ViewPxOfTime(ALook.SelEnd);
        if (selX2 < selX1)
            std::swap(selX1, selX2);
        selX1 = std::max(selX1, 0);
        selX2 = std::min(selX2, W);
    }
    thread_local TColumnRuns left, right;
    if (hasData)
        LaneRuns(ALook, b, AScratch, left, right);
    TDirectTarget direct;
    if (hasData && DirectTarget(APainter, direct)) {
        ComposeWaveArea(direct, W, y0, y1, selX1, selX2, b, left, right);
    } else {
        FillLTRB(APainter, 0, y0, W, y1, clWave);
        if (selX2 > selX1)
            FillLTRB(APainter, selX1, y0, selX2, y1, clSel);
        FillLTRB(APainter, 0, b.CentreL, W, b.CentreL + 1, clCentre);
        if (hasData)
            left.Paint(APainter, rgbGreen);
        FillLTRB(APainter, 0, b.CentreR, W, b.CentreR + 1, clCentre);
        if (hasData)
            right.Paint(APainter, rgbGreen);
    }
    if (!hasData) {
        QFont f = InterfaceFont();
        f.setPointSize(10);
        APainter.setFont(f);
        APainter.setPen(clMessage);
        APainter.drawText(QRect(12, (y0 + y1) / 2 - 8, std::max(W - 12, 1), 40),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   QStringLiteral("Geen opname geladen."));
    } else {
        if (hasSel) {  // edges at the unclamped pixels
            const int xs = w.ViewPxOfTime(ALook.SelStart), xe = w.ViewPxOfTime(ALook.SelEnd);
            FillLTRB(APainter, xs, y0, xs + 1, y1, clSelEdge);
            FillLTRB(APainter, xe, y0, xe + 1, y1, clSelEdge);
        }
        if (w.ViewStart <= ALook.PlayPos && ALook.PlayPos <= w.ViewEnd) {
            const int x = w.ViewPxOfTime(ALook.PlayPos);
            FillLTRB(APainter, x, y0, x + 1, y1, clCursor);
        }
    }
    // 4. Lower ruler
    PaintRuler(APainter, w, ticks, b.Ruler2Top, b.Ruler2Bottom);
    // 5. Overview
    FillLTRB(APainter, 0, b.OverTop, W, b.OverBottom, clOverview);
    if (hasData) {
        PaintOverviewColumns(APainter, ALook, b.OverTop, b.OverBottom);
        int xs, xe;
        WindowMarker(w, xs, xe);
        FrameLTRB(APainter, xs, b.OverTop, xe, b.OverBottom, clFrame);
    }
    APainter.restore();
}

// ---- The control ----

TWaveView::TWaveView(QWidget *AOwner) : QWidget(AOwner)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(700, 260);
}

double TWaveView::ViewLen() const { return Window().ViewLen(); }

TWaveWindow TWaveView::Window() const
{
    TWaveWindow w;
    w.Duration = FDuration;
    w.ViewStart = FViewStart;
    w.ViewEnd = FViewEnd;
    w.Width = width();
    return w;
}

void TWaveView::SetWindow(const TWaveWindow &AWin)
{
    FViewStart = AWin.ViewStart;
    FViewEnd = AWin.ViewEnd;
    update();
    emit OnViewChange();
}

void TWaveView::SetData(TEnvArray AEnv, int ACount, double ADuration, double ASecPerPoint)
{
    FEnv = std::move(AEnv);
    const int available = FEnv ? static_cast<int>(FEnv->size()) : 0;
    FEnvCount = std::clamp(ACount, 0, available);
    // A length that is not a positive finite number counts as no length at all.
    FDuration = (ADuration > 0 && std::isfinite(ADuration)) ? ADuration : 0;
    FSecPerPoint = (ASecPerPoint > 0 && std::isfinite(ASecPerPoint)) ? ASecPerPoint : 0;
    FViewStart = 0;
    FViewEnd = FDuration > 0 ? FDuration : WaveMinViewLen;
    FSelStart = FSelEnd = -1;
    FPlayPos = 0;
    FDragging = FPanning = FMoved = false;
    update();
    emit OnViewChange();
}

void TWaveView::SetEnvelope(TEnvArray AEnv, int ACount)
{
    FEnv = std::move(AEnv);
    const int available = FEnv ? static_cast<int>(FEnv->size()) : 0;
    FEnvCount = std::clamp(ACount, 0, available);
    update();
}

void TWaveView::ClearData()
{
    FEnv.reset();
    FEnvCount = 0;
    FSecPerPoint = 0;
    FDuration = 0;
    FViewStart = FViewEnd = 0;
    FPlayPos = 0;
    FSelStart = FSelEnd = -1;
    FDragging = FPanning = FMoved = false;
    update();
}

void TWaveView::ZoomAbout(double AAnchor, int AX, double ALen)
{
    TWaveWindow w = Window();
    if (w.ZoomAbout(AAnchor, AX, ALen))
        SetWindow(w);
}

void TWaveView::Reveal(double ASec)
{
    if (ASec < FViewStart || ASec >= FViewEnd)
        CentreOn(ASec);
}

void TWaveView::CentreOn(double ATime)
{
    TWaveWindow w = Window();
    if (w.CentreOn(ATime))
        SetWindow(w);
}

void TWaveView::ZoomIn()
{
    ZoomAbout((FViewStart + FViewEnd) / 2, width() / 2, ViewLen() / 1.6);
}

void TWaveView::ZoomOut()
{
    ZoomAbout((FViewStart + FViewEnd) / 2, width() / 2, ViewLen() * 1.6);
}

void TWaveView::ZoomAll()
{
    TWaveWindow w = Window();
    w.ViewStart = 0;
    w.ViewEnd = FDuration;
    w.Clamp();
    SetWindow(w);
}

void TWaveView::ZoomToSelection()
{
    if (!HasSelection())
        return;
    TWaveWindow w = Window();
    w.ViewStart = FSelStart;
    w.ViewEnd = FSelEnd;
    w.Clamp();
    SetWindow(w);
}

void TWaveView::ClearSelection()
{
    FSelStart = FSelEnd = -1;
    update();
    emit OnSelectionChange();
}

void TWaveView::paintEvent(QPaintEvent *)
{
    TWaveLook look;
    look.Win = Window();
    look.Env = FEnv ? FEnv->data() : nullptr;
    look.EnvCount = FEnv ? FEnvCount : 0;
    look.SecPerPoint = FSecPerPoint;
    look.SelStart = FSelStart;
    look.SelEnd = FSelEnd;
    look.PlayPos = FPlayPos;
    look.Height = height();
    QPainter p(this);
    PaintWave(p, look, FColumns);
}

void TWaveView::mousePressEvent(QMouseEvent *AEvent)
{
    AEvent->accept();
    if (AEvent->button() != Qt::LeftButton || FDuration <= 0)
        return;
    const int x = static_cast<int>(std::floor(AEvent->position().x()));
    const int y = static_cast<int>(std::floor(AEvent->position().y()));
    if (y < 14 || y >= height() - 14) {
        FPanning = true;
        FDragging = false;
        CentreOn(Window().OverviewTimeOfPx(x));
        return;
    }
    FPanning = false;
    FDragging = true;
    FMoved = false;
    FMouseDownX = x;
    FDragAnchor = Window().ViewTimeOfPx(x);
}

void TWaveView::mouseMoveEvent(QMouseEvent *AEvent)
{
    AEvent->accept();
    const int x = static_cast<int>(std::floor(AEvent->position().x()));
    if (FPanning) {
        CentreOn(Window().OverviewTimeOfPx(x));
        return;
    }
    if (!FDragging)
        return;
    if (std::abs(x - FMouseDownX) > 3)
        FMoved = true;
    if (!FMoved)
        return;
    const double t = Window().ViewTimeOfPx(x);
    FSelStart = std::max(std::min(t, FDragAnchor), 0.0);
    FSelEnd = std::min(std::max(t, FDragAnchor), FDuration);
    update();
    emit OnSelectionChange();
}

void TWaveView::mouseReleaseEvent(QMouseEvent *AEvent)
{
    AEvent->accept();
    if (AEvent->button() != Qt::LeftButton)
        return;
    if (FPanning) {
        FPanning = false;
        return;
    }
    if (!FDragging)
        return;
    FDragging = false;
    if (FMoved)
        return;
    const int x = static_cast<int>(std::floor(AEvent->position().x()));
    const double t = std::clamp(Window().ViewTimeOfPx(x), 0.0, FDuration);
    FSelStart = FSelEnd = -1;
    FPlayPos = t;
    update();
    emit OnSelectionChange();
    emit OnSeek(t);
}

void TWaveView::wheelEvent(QWheelEvent *AEvent)
{
    AEvent->accept();
    if (FDuration <= 0)
        return;
    // Only the vertical part zooms: sideways scrolling (tilt wheel, touchpad) is no zoom step.
    const int delta = AEvent->angleDelta().y();
    if (delta == 0)
        return;
    const int x = static_cast<int>(std::floor(AEvent->position().x()));
    const double a = Window().ViewTimeOfPx(x);
    ZoomAbout(a, x, delta > 0 ? ViewLen() / 1.4 : ViewLen() * 1.4);
}
