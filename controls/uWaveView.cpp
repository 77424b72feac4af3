// Waveform view: two channel lanes of the envelope, time rulers, position bar and overview, with
// zoom, panning, drag selection and click-to-seek.
#include "uWaveView.h"

#include "uPaint.h"
#include "uReaderTypes.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

// ---- Window of time ----

double TWaveWindow::ViewLen() const
{
    const double len = ViewEnd - ViewStart;
    return len > 0 ? len : WaveMinViewLen;
}

double TWaveWindow::ViewTimeOfPx(double x) const
{
    if (W <= 0)
        return ViewStart;
    return ViewStart + x / W * ViewLen();
}

int TWaveWindow::ViewPxOfTime(double t) const { return RoundPx((t - ViewStart) / ViewLen() * W); }

double TWaveWindow::OverviewTimeOfPx(double x) const
{
    if (W <= 0)
        return 0;
    return x / W * Duration;
}

int TWaveWindow::OverviewPxOfTime(double t) const
{
    if (Duration <= 0)
        return 0;
    return RoundPx(t / Duration * W);
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

bool TWaveWindow::ZoomAbout(double a, int x, double n)
{
    if (Duration <= 0)
        return false;
    if (!(n >= WaveMinViewLen))
        n = WaveMinViewLen;
    if (n > Duration)
        n = Duration;
    const double f = W <= 0 ? 0.5 : static_cast<double>(x) / W;
    ViewStart = a - f * n;
    ViewEnd = ViewStart + n;
    Clamp();
    return true;
}

bool TWaveWindow::CentreOn(double t)
{
    if (Duration <= 0)
        return false;
    const double len = ViewLen();
    ViewStart = t - len / 2;
    ViewEnd = ViewStart + len;
    Clamp();
    return true;
}

double RulerStep(double AViewLen)
{
    static const double ladder[] = {0.1, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300};
    const double q = AViewLen / 8;
    for (double step : ladder)
        if (step > q)
            return step;
    return 600;
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

TPointRange ColumnPointRange(const TWaveWindow &AWin, int ACount, int x)
{
    TPointRange r;
    if (ACount < 1 || AWin.Duration <= 0)
        return r;
    const double scale = ACount / AWin.Duration;
    const double p0 = std::floor(AWin.ViewTimeOfPx(x) * scale);
    const double p1 = std::ceil(AWin.ViewTimeOfPx(x + 1) * scale);
    const double last = ACount - 1;
    // The window never passes the recording; the upper limit on J0 only guards rounding.
    r.J0 = static_cast<int>(std::clamp(p0, 0.0, last));
    r.J1 = static_cast<int>(std::clamp(p1, 0.0, last));
    if (r.J1 < r.J0)
        r.J1 = r.J0;
    return r;
}

void ComputeLaneColumns(const TWaveWindow &AWin, const TEnvPoint *AEnv, int ACount,
                        std::vector<TColumnExtremes> &AOut, std::vector<int> *AVisits)
{
    const int W = std::max(AWin.W, 0);
    AOut.assign(W, TColumnExtremes());
    if (W == 0 || ACount < 1 || AWin.Duration <= 0 || !AEnv)
        return;
    for (int x = 0; x < W; ++x) {
        const TPointRange r = ColumnPointRange(AWin, ACount, x);
        AOut[x].J0 = r.J0;
        AOut[x].J1 = r.J1;
    }
    // Both range ends grow with x, so the columns holding point j are a run starting at the first
    // column whose range has not ended before j. Each point is read once and folded into that run.
    TColumnExtremes *col = AOut.data();
    int xa = 0;
    const int jLast = col[W - 1].J1;
    for (int j = col[0].J0; j <= jLast; ++j) {
        const TEnvPoint pt = AEnv[j];
        if (AVisits)
            ++(*AVisits)[j];
        while (col[xa].J1 < j)
            ++xa;
        for (int x = xa; x < W && col[x].J0 <= j; ++x) {
            TColumnExtremes &c = col[x];
            c.LoL = std::min<int>(c.LoL, pt.MnL);
            c.HiL = std::max<int>(c.HiL, pt.MxL);
            c.LoR = std::min<int>(c.LoR, pt.MnR);
            c.HiR = std::max<int>(c.HiR, pt.MxR);
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

// Writes column x from row y0 to row y1 (y1 excluded, either direction, like an end-exclusive
// line) straight into the image, clipped to it.
inline void VRun(uchar *bits, qsizetype bpl, int w, int h, int x, int y0, int y1, QRgb c)
{
    if (y1 < y0) {  // upwards: y0 down to y1 + 1
        const int t = y1 + 1;
        y1 = y0 + 1;
        y0 = t;
    }
    if (x < 0 || x >= w)
        return;
    y0 = std::max(y0, 0);
    y1 = std::min(y1, h);
    uchar *row = bits + y0 * bpl + x * 4;
    for (int y = y0; y < y1; ++y, row += bpl)
        *reinterpret_cast<QRgb *>(row) = c;
}

// Overview window marker: xs, xe of the window, at least 3 pixels apart.
void WindowMarker(const TWaveWindow &w, int &xs, int &xe)
{
    xs = w.OverviewPxOfTime(w.ViewStart);
    xe = w.OverviewPxOfTime(w.ViewEnd);
    if (xe - xs < 3)
        xe = xs + 3;
}

void PaintRuler(QPainter &p, const TWaveLook &look, int top, int bottom)
{
    const TWaveWindow &w = look.Win;
    FillLTRB(p, 0, top, w.W, bottom, clRuler);
    if (w.Duration <= 0)
        return;
    const double step = RulerStep(w.ViewLen());
    QFont f(QStringLiteral("Segoe UI"));
    f.setPointSize(7);
    p.setFont(f);
    p.setPen(clRulerText);
    // Tick times are whole multiples of the step, so that repeated additions cannot drift.
    for (double i = std::trunc(w.ViewStart / step);; i += 1) {
        const double t = i * step;
        if (t > w.ViewEnd)
            break;
        if (t < w.ViewStart)
            continue;
        const int x = w.ViewPxOfTime(t);
        FillLTRB(p, x, top, x + 1, top + 4, clTick);
        p.drawText(QRect(x + 2, top + 2, 200, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   FormatDuration(t));
    }
}

void PaintLaneColumns(QImage &img, const TWaveLook &look, const TWaveBands &b,
                      std::vector<TColumnExtremes> &cols)
{
    const int W = std::min(look.Win.W, img.width()), H = img.height();
    ComputeLaneColumns(look.Win, look.Env, look.EnvCount, cols);
    uchar *bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    const double kL = b.AmpL / 32768.0, kR = b.AmpR / 32768.0;
    for (int x = 0; x < W; ++x) {
        const TColumnExtremes &c = cols[x];
        // Both extremes start at 0, so each run covers its lane's centre line.
        VRun(bits, bpl, W, H, x, b.CentreL - RoundPx(c.HiL * kL), b.CentreL - RoundPx(c.LoL * kL) + 1,
             rgbGreen);
        VRun(bits, bpl, W, H, x, b.CentreR - RoundPx(c.HiR * kR), b.CentreR - RoundPx(c.LoR * kR) + 1,
             rgbGreen);
    }
}

void PaintOverviewColumns(QImage &img, const TWaveLook &look, int top, int bottom)
{
    const TWaveWindow &w = look.Win;
    const int W = std::min(w.W, img.width()), H = img.height();
    const int centre = (top + bottom) / 2;
    const double k = std::max((bottom - top) / 2 - 1, 1) / 32768.0;
    uchar *bits = img.bits();
    const qsizetype bpl = img.bytesPerLine();
    for (int x = 0; x < W; ++x) {
        // One point per column, not starting from 0.
        const double pos = std::floor(static_cast<double>(x) / w.W * look.EnvCount);
        const int idx = static_cast<int>(std::clamp(pos, 0.0, double(look.EnvCount - 1)));
        const TEnvPoint &pt = look.Env[idx];
        const int hi = std::max(pt.MxL, pt.MxR), lo = std::min(pt.MnL, pt.MnR);
        VRun(bits, bpl, W, H, x, centre - RoundPx(hi * k), centre - RoundPx(lo * k) + 1, rgbGreen);
    }
}

} // namespace

void PaintWave(QImage &AImage, const TWaveLook &ALook, std::vector<TColumnExtremes> &AScratch)
{
    const TWaveWindow &w = ALook.Win;
    const int W = w.W;
    if (W <= 0 || ALook.H <= 0 || AImage.isNull() || AImage.depth() != 32)
        return;
    const TWaveBands b = TWaveBands::For(ALook.H);
    const bool hasData = ALook.EnvCount > 0 && w.Duration > 0 && ALook.Env;
    const bool hasSel = ALook.SelStart >= 0 && ALook.SelEnd > ALook.SelStart;
    const int y0 = b.WaveTop, y1 = b.WaveBottom;
    {
        QPainter p(&AImage);
        p.setRenderHint(QPainter::Antialiasing, false);
        // 1. Position bar
        FillLTRB(p, 0, b.PosTop, W, b.PosBottom, clPosBar);
        if (w.Duration > 0) {
            int xs, xe;
            WindowMarker(w, xs, xe);
            FillLTRB(p, xs, 2, xe, 12, clPosMark);
        }
        // 2. Upper ruler
        PaintRuler(p, ALook, b.RulerTop, b.RulerBottom);
        // 3. Waveform area: background, selection band, the lanes' centre lines
        FillLTRB(p, 0, y0, W, y1, clWave);
        if (hasSel) {
            int x1 = w.ViewPxOfTime(ALook.SelStart), x2 = w.ViewPxOfTime(ALook.SelEnd);
            if (x2 < x1)
                std::swap(x1, x2);
            x1 = std::max(x1, 0);
            x2 = std::min(x2, W);
            if (x2 > x1)
                FillLTRB(p, x1, y0, x2, y1, clSel);
        }
        FillLTRB(p, 0, b.CentreL, W, b.CentreL + 1, clCentre);
        FillLTRB(p, 0, b.CentreR, W, b.CentreR + 1, clCentre);
    }
    if (hasData)
        PaintLaneColumns(AImage, ALook, b, AScratch);
    {
        QPainter p(&AImage);
        p.setRenderHint(QPainter::Antialiasing, false);
        if (!hasData) {
            QFont f(QStringLiteral("Segoe UI"));
            f.setPointSize(10);
            p.setFont(f);
            p.setPen(clMessage);
            p.drawText(QRect(12, (y0 + y1) / 2 - 8, std::max(W - 12, 1), 40),
                       Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                       QStringLiteral("Geen opname geladen."));
        } else {
            if (hasSel) {  // edges at the unclamped pixels
                const int xs = w.ViewPxOfTime(ALook.SelStart), xe = w.ViewPxOfTime(ALook.SelEnd);
                FillLTRB(p, xs, y0, xs + 1, y1, clSelEdge);
                FillLTRB(p, xe, y0, xe + 1, y1, clSelEdge);
            }
            if (w.ViewStart <= ALook.PlayPos && ALook.PlayPos <= w.ViewEnd) {
                const int x = w.ViewPxOfTime(ALook.PlayPos);
                FillLTRB(p, x, y0, x + 1, y1, clCursor);
            }
        }
        // 4. Lower ruler
        PaintRuler(p, ALook, b.Ruler2Top, b.Ruler2Bottom);
        // 5. Overview background
        FillLTRB(p, 0, b.OverTop, W, b.OverBottom, clOverview);
    }
    if (hasData) {
        PaintOverviewColumns(AImage, ALook, b.OverTop, b.OverBottom);
        QPainter p(&AImage);
        int xs, xe;
        WindowMarker(w, xs, xe);
        FrameLTRB(p, xs, b.OverTop, xe, b.OverBottom, clFrame);
    }
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
    w.W = width();
    return w;
}

void TWaveView::SetWindow(const TWaveWindow &AWin)
{
    FViewStart = AWin.ViewStart;
    FViewEnd = AWin.ViewEnd;
    update();
    emit OnViewChange();
}

void TWaveView::SetData(TEnvArray AEnv, int ACount, double ADuration)
{
    FEnv = std::move(AEnv);
    const int available = FEnv ? static_cast<int>(FEnv->size()) : 0;
    FEnvCount = std::clamp(ACount, 0, available);
    // A length that is not a positive finite number counts as no length at all.
    FDuration = (ADuration > 0 && std::isfinite(ADuration)) ? ADuration : 0;
    FViewStart = 0;
    FViewEnd = FDuration > 0 ? FDuration : WaveMinViewLen;
    FSelStart = FSelEnd = -1;
    FPlayPos = 0;
    FDragging = FPanning = FMoved = false;
    update();
    emit OnViewChange();
}

void TWaveView::ClearData()
{
    FEnv.reset();
    FEnvCount = 0;
    FDuration = 0;
    FViewStart = FViewEnd = 0;
    FPlayPos = 0;
    FSelStart = FSelEnd = -1;
    FDragging = FPanning = FMoved = false;
    update();
}

void TWaveView::ZoomAbout(double a, int x, double n)
{
    TWaveWindow w = Window();
    if (w.ZoomAbout(a, x, n))
        SetWindow(w);
}

void TWaveView::CentreOn(double t)
{
    TWaveWindow w = Window();
    if (w.CentreOn(t))
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
    if (width() <= 0 || height() <= 0)
        return;
    if (FBuffer.size() != size())
        FBuffer = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    TWaveLook look;
    look.Win = Window();
    look.Env = FEnv ? FEnv->data() : nullptr;
    look.EnvCount = FEnv ? FEnvCount : 0;
    look.SelStart = FSelStart;
    look.SelEnd = FSelEnd;
    look.PlayPos = FPlayPos;
    look.H = height();
    PaintWave(FBuffer, look, FColumns);
    QPainter p(this);
    p.drawImage(0, 0, FBuffer);
}

void TWaveView::mousePressEvent(QMouseEvent *e)
{
    e->accept();
    if (e->button() != Qt::LeftButton || FDuration <= 0)
        return;
    const int x = static_cast<int>(std::floor(e->position().x()));
    const int y = static_cast<int>(std::floor(e->position().y()));
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

void TWaveView::mouseMoveEvent(QMouseEvent *e)
{
    e->accept();
    const int x = static_cast<int>(std::floor(e->position().x()));
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

void TWaveView::mouseReleaseEvent(QMouseEvent *e)
{
    e->accept();
    if (e->button() != Qt::LeftButton)
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
    const int x = static_cast<int>(std::floor(e->position().x()));
    const double t = std::clamp(Window().ViewTimeOfPx(x), 0.0, FDuration);
    FSelStart = FSelEnd = -1;
    FPlayPos = t;
    update();
    emit OnSelectionChange();
    emit OnSeek(t);
}

void TWaveView::wheelEvent(QWheelEvent *e)
{
    e->accept();
    if (FDuration <= 0)
        return;
    const QPoint d = e->angleDelta();
    const int delta = d.y() != 0 ? d.y() : d.x();
    const int x = static_cast<int>(std::floor(e->position().x()));
    const double a = Window().ViewTimeOfPx(x);
    ZoomAbout(a, x, delta > 0 ? ViewLen() / 1.4 : ViewLen() * 1.4);
}
