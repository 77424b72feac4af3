// Waveform view: two channel lanes of the envelope, time rulers, position bar and overview, with
// zoom, panning, drag selection and click-to-seek.
#pragma once

#include "uAudioTypes.h"

#include <QWidget>
#include <vector>

class QPainter;

// ---- Layout and state (no widget) ----

constexpr double WaveMinViewLen = 0.05;  // seconds: the shortest window of time

// The visible window of time over a recording of Duration seconds, mapped onto W pixel columns.
// All times are seconds from the start of the recording; pixel positions round half to even.
struct TWaveWindow {
    double Duration = 0;   // 0 without data
    double ViewStart = 0;
    double ViewEnd = 0;
    int W = 0;

    // ViewEnd - ViewStart, or 0.05 when that is 0 or less.
    double ViewLen() const;
    // ViewStart + x / W * ViewLen; ViewStart when W <= 0. x may lie outside 0..W.
    double ViewTimeOfPx(double x) const;
    // round((t - ViewStart) / ViewLen * W)
    int ViewPxOfTime(double t) const;
    // x / W * Duration (the whole recording over the full width); 0 when W <= 0.
    double OverviewTimeOfPx(double x) const;
    // round(t / Duration * W); 0 when Duration <= 0.
    int OverviewPxOfTime(double t) const;

    // Keeps the window inside the recording, at least 0.05 s (or the whole recording when shorter).
    // Does nothing while Duration <= 0.
    void Clamp();
    // New length n (limited to 0.05..Duration) with time a staying under pixel x, then Clamp.
    // Returns false (nothing changed) while Duration <= 0.
    bool ZoomAbout(double a, int x, double n);
    // Same length, centred on t, then Clamp. False while Duration <= 0.
    bool CentreOn(double t);
};

// Ruler tick step for a window of ViewLen seconds: first of 0.1, 0.25, 0.5, 1, 2, 5, 10, 15, 30, 60,
// 120, 300 above ViewLen / 8, else 600.
double RulerStep(double AViewLen);

// The five bands for a view of H rows, B = max(H - 30, 34); bottoms excluded.
struct TWaveBands {
    int PosTop = 0, PosBottom = 14;
    int RulerTop = 14, RulerBottom = 30;
    int WaveTop = 30, WaveBottom = 230;
    int Ruler2Top = 230, Ruler2Bottom = 246;
    int OverTop = 246, OverBottom = 260;
    // Lane centres and amplitudes inside the waveform area.
    int CentreL = 80, AmpL = 48;
    int CentreR = 180, AmpR = 48;

    static TWaveBands For(int AHeight);
};

// One column of a lane: the extremes over the envelope points of the column, both starting at 0.
struct TColumnExtremes {
    int LoL = 0, HiL = 0;
    int LoR = 0, HiR = 0;
    int J0 = 0, J1 = -1;  // the column's envelope points (see ColumnPointRange)
};

// Envelope points of pixel column x (both ends included, neighbours share boundary points).
struct TPointRange {
    int J0 = 0;
    int J1 = 0;
};
TPointRange ColumnPointRange(const TWaveWindow &AWin, int ACount, int x);

// Extremes of both lanes for every column 0..W-1 (resized to W); equal to taking min/max over
// ColumnPointRange per column, but each envelope point of the window is read exactly once, also
// when the window is zoomed so far that one point spans many columns. When AVisits is given
// (ACount entries), the reads of each point are counted into it.
void ComputeLaneColumns(const TWaveWindow &AWin, const TEnvPoint *AEnv, int ACount,
                        std::vector<TColumnExtremes> &AOut, std::vector<int> *AVisits = nullptr);

// Everything a waveform paint depends on. Env may be null when EnvCount is 0.
struct TWaveLook {
    TWaveWindow Win;
    const TEnvPoint *Env = nullptr;
    int EnvCount = 0;
    double SelStart = -1;
    double SelEnd = -1;
    double PlayPos = 0;
    int H = 0;
};

// ---- Painting ----

// Paints all five bands over (0, 0)-(W, H). AScratch is reused between paints to avoid allocation.
// When the painter draws onto an RGB32 or ARGB32_Premultiplied image (a widget's backing store,
// an offscreen render) with a whole-pixel offset, the waveform area and the overview columns are
// written straight into the image's rows; otherwise everything goes through the painter. Both give
// the same pixels.
void PaintWave(QPainter &p, const TWaveLook &ALook, std::vector<TColumnExtremes> &AScratch);

// ---- The control ----

// Opaque, double-buffered view, 700 x 260 when created, without data.
// Owner contract: SetPlayPos does not repaint; call update() afterwards. The view never changes the
// envelope it is given and keeps only a shared reference to it.
class TWaveView : public QWidget {
    Q_OBJECT
public:
    explicit TWaveView(QWidget *AOwner = nullptr);

    // Shows the whole recording, no selection, cursor 0; fires OnViewChange only.
    // ACount is limited to the envelope's length. ADuration <= 0 shows a window of 0..0.05.
    void SetData(TEnvArray AEnv, int ACount, double ADuration);
    // Back to no data; fires nothing.
    void ClearData();

    void ZoomIn();           // about the middle, ViewLen / 1.6
    void ZoomOut();          // about the middle, ViewLen * 1.6
    void ZoomAll();          // 0..Duration; fires OnViewChange also without data
    void ZoomToSelection();  // only with a selection
    void ClearSelection();   // fires OnSelectionChange, also when there was none
    // Centres the view on ASec (seconds) when it lies outside the view; the zoom stays.
    void Reveal(double ASec);

    // A selection exists exactly when SelStart >= 0 and SelEnd > SelStart; -1, -1 means none.
    bool HasSelection() const { return FSelStart >= 0 && FSelEnd > FSelStart; }
    double Duration() const { return FDuration; }
    double ViewStart() const { return FViewStart; }
    double ViewEnd() const { return FViewEnd; }
    double ViewLen() const;
    double SelStart() const { return FSelStart; }
    double SelEnd() const { return FSelEnd; }
    int EnvCount() const { return FEnvCount; }
    double PlayPos() const { return FPlayPos; }
    void SetPlayPos(double Value) { FPlayPos = Value; }

signals:
    void OnSeek(double Sec);  // a click in the waveform area; after OnSelectionChange
    void OnSelectionChange();
    void OnViewChange();      // after SetData, every zoom and every pan step

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void wheelEvent(QWheelEvent *) override;

private:
    TWaveWindow Window() const;
    void SetWindow(const TWaveWindow &AWin);  // store, repaint, fire OnViewChange
    void ZoomAbout(double a, int x, double n);
    void CentreOn(double t);

    TEnvArray FEnv;
    int FEnvCount = 0;
    double FDuration = 0;
    double FViewStart = 0;
    double FViewEnd = 0;
    double FSelStart = -1;
    double FSelEnd = -1;
    double FPlayPos = 0;
    bool FDragging = false;
    bool FPanning = false;
    double FDragAnchor = 0;
    int FMouseDownX = 0;
    bool FMoved = false;
    std::vector<TColumnExtremes> FColumns;  // paint scratch
};
