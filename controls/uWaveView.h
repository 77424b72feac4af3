// Waveform view: two channel lanes of the envelope, time rulers, position bar and overview, with
// zoom, panning, drag selection and click-to-seek.
#pragma once

#include "uAudioTypes.h"

#include <QString>
#include <QWidget>
#include <functional>
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
    int Width = 0;

    // ViewEnd - ViewStart, or 0.05 when that is 0 or less.
    double ViewLen() const;
    // ViewStart + AX / Width * ViewLen; ViewStart when Width <= 0. AX may lie outside 0..Width. Pixel column x
    // shows the seconds from ViewTimeOfPx(x) up to ViewTimeOfPx(x + 1).
    double ViewTimeOfPx(double AX) const;
    // round((ATime - ViewStart) / ViewLen * Width)
    int ViewPxOfTime(double ATime) const;
    // AX / Width * Duration (the whole recording over the full width); 0 when Width <= 0.
    double OverviewTimeOfPx(double AX) const;
    // round(ATime / Duration * Width); 0 when Duration <= 0.
    int OverviewPxOfTime(double ATime) const;

    // Keeps the window inside the recording, at least 0.05 s (or the whole recording when shorter).
    // Does nothing while Duration <= 0.
    void Clamp();
    // New length ALen (limited to 0.05..Duration) with time AAnchor staying under pixel AX, then Clamp.
    // Returns false (nothing changed) while Duration <= 0.
    bool ZoomAbout(double AAnchor, int AX, double ALen);
    // Same length, centred on ATime, then Clamp. False while Duration <= 0.
    bool CentreOn(double ATime);
};

// Where the envelope's points lie in time. Point j holds the frames j * S to (j + 1) * S - 1, S frames
// per point at the recording's sample rate, so it covers the seconds [j * SecPerPoint, (j + 1) *
// SecPerPoint). Because S is rounded up, the points with sound end at the recording's end and the rest
// of the envelope stays empty; those points lie past the end and are never drawn. A SecPerPoint that is
// not a positive number spreads the ACount points evenly over the duration instead.
// A time within a millionth of a point of a point's start counts as that start, so that rounding in a
// pixel's time never moves a sound's edge by a point. The overview shows, per column, the point that
// covers the column's start time.
double EffectiveSecPerPoint(double ASecPerPoint, double ADuration, int ACount);

// Gives a label's width in pixels.
using TTextWidth = std::function<int(const QString &)>;

// Ruler ticks lie on the rungs of one ladder, in seconds: 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.25,
// 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200.

// Free pixels between the end of one ruler label and the tick of the next at the chosen step.
constexpr int RulerLabelGap = 32;
// Least distance in pixels between minor ticks.
constexpr int RulerMinorPx = 10;

// Labelled tick step of the window: the first rung whose ticks lie at least the width of the label of the
// window's end time (the widest at that rung) plus RulerLabelGap pixels apart, the last rung when none
// does. Every label then fits between its tick and the next one, so a view of W pixels shows about
// W / (label + gap) labels: at the deepest zoom (0.05 s over 956 px) labels every 0.005 s. Without
// ATextWidth a label counts 6 pixels a character. 1 when Duration <= 0 or W <= 0.
double RulerStep(const TWaveWindow &AWin, const TTextWidth &ATextWidth);
// Unlabelled tick step between the labelled ones: the smallest rung below AStep that divides it into whole
// parts lying at least RulerMinorPx pixels apart in AWin; 0 when none does (no minor ticks).
double RulerMinorStep(const TWaveWindow &AWin, double AStep);

// Label of the ruler tick at ATime for tick step AStep (seconds). Whole seconds as the clock text
// ("00:10", "1:00:10"); under one second a step adds the decimals it needs after a comma: tenths for 0.1
// and 0.5 ("00:10,5"), hundredths for 0.25, 0.05, 0.02 and 0.01 ("00:05,25"), thousandths for 0.005, 0.002
// and 0.001 ("00:05,005"), so that neighbouring ticks differ.
QString RulerLabel(double ATime, double AStep);

// One tick of a time ruler: at pixel X, its label written from LabelX (HasLabel false: tick only). A minor
// tick (between labelled ones, at RulerMinorStep) is shorter and never has a label.
struct TRulerTick {
    double Time = 0;
    int X = 0;
    QString Label;
    int LabelX = 0;
    bool HasLabel = true;
    bool Minor = false;
};
// The ticks of the window in time order: every whole multiple of RulerStep from ViewStart to ViewEnd, both
// included, at ViewPxOfTime, with the minor ticks between them. A label starts 2 pixels right of its tick.
// A label that would reach the last column (W - 1, kept free as a margin) moves left until it ends before
// it; a label that would then come closer than 4 pixels to the previous label, or start left of column 0,
// is left out (its tick stays). Empty while Duration <= 0.
std::vector<TRulerTick> RulerTicks(const TWaveWindow &AWin, const TTextWidth &ATextWidth);

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
// Envelope points of pixel column AX: every point whose seconds overlap the column's seconds (see
// EffectiveSecPerPoint), within 0..ACount - 1. A point that straddles the boundary of two columns
// belongs to both; a point that only touches a column's end does not.
TPointRange ColumnPointRange(const TWaveWindow &AWin, int ACount, double ASecPerPoint, int AX);

// Extremes of both lanes for every column 0..AWin.Width-1 (AOut resized to AWin.Width); equal to taking min/max over
// ColumnPointRange per column, but each envelope point of the window is read exactly once, also
// when the window is zoomed so far that one point spans many columns. When AVisits is given
// (ACount entries), the reads of each point are counted into it.
void ComputeLaneColumns(const TWaveWindow &AWin, const TEnvPoint *AEnv, int ACount, double ASecPerPoint,
                        std::vector<TColumnExtremes> &AOut, std::vector<int> *AVisits = nullptr);

// Everything a waveform paint depends on. Env may be null when EnvCount is 0.
struct TWaveLook {
    TWaveWindow Win;
    const TEnvPoint *Env = nullptr;
    int EnvCount = 0;
    double SecPerPoint = 0;  // see EffectiveSecPerPoint
    double SelStart = -1;
    double SelEnd = -1;
    double PlayPos = 0;
    int Height = 0;
};

// ---- Painting ----

// Paints all five bands over (0, 0)-(W, H). AScratch is reused between paints to avoid allocation.
// When the painter draws onto an RGB32 or ARGB32_Premultiplied image (a widget's backing store,
// an offscreen render) with a whole-pixel offset, the waveform area and the overview columns are
// written straight into the image's rows; otherwise everything goes through the painter. Both give
// the same pixels.
void PaintWave(QPainter &APainter, const TWaveLook &ALook, std::vector<TColumnExtremes> &AScratch);

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
    // ASecPerPoint: seconds each envelope point covers (frames per point / sample rate), which puts
    // the envelope's points on the time axis (see EffectiveSecPerPoint; 0 spreads them evenly).
    void SetData(TEnvArray AEnv, int ACount, double ADuration, double ASecPerPoint);
    // New points for the same recording (its analysis went on): view, selection and cursor stay.
    void SetEnvelope(TEnvArray AEnv, int ACount);
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
    double SecPerPoint() const { return FSecPerPoint; }
    const TEnvArray &Envelope() const { return FEnv; }  // as given to SetData or SetEnvelope  // as given to SetData; 0 without data
    double PlayPos() const { return FPlayPos; }
    void SetPlayPos(double AValue) { FPlayPos = AValue; }

signals:
    void OnSeek(double ASec);  // a click in the waveform area; after OnSelectionChange
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
    void ZoomAbout(double AAnchor, int AX, double ALen);
    void CentreOn(double ATime);

    TEnvArray FEnv;
    int FEnvCount = 0;
    double FSecPerPoint = 0;
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
