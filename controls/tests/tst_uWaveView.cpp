// Waveform view: mappings, clamping and zoom, lane extremes, the painted bands, and the mouse.
#include "TestMain.h"
#include "uPaint.h"
#include "uWaveView.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSignalSpy>
#include <QTest>
#include <numeric>

namespace {

TEnvArray MakeEnv(int ACount, TEnvPoint APt)
{
    return std::make_shared<const std::vector<TEnvPoint>>(ACount, APt);
}

TEnvArray RandomEnv(int ACount, quint32 ASeed)
{
    QRandomGenerator rng(ASeed);
    std::vector<TEnvPoint> v(ACount);
    for (TEnvPoint &p : v) {
        const int a = rng.bounded(-32768, 32768), b = rng.bounded(-32768, 32768);
        const int c = rng.bounded(-32768, 32768), d = rng.bounded(-32768, 32768);
        p.MnL = int16_t(std::min(a, b));
        p.MxL = int16_t(std::max(a, b));
        p.MnR = int16_t(std::min(c, d));
        p.MxR = int16_t(std::max(c, d));
    }
    return std::make_shared<const std::vector<TEnvPoint>>(std::move(v));
}

// Compares two renders of a 260-row view except the ruler bands, whose label text is smoothed
// differently per image format.
bool SameOutsideRulers(const QImage &AFirst, const QImage &ASecond)
{
    for (int y = 0; y < 260; ++y) {
        if ((y >= 14 && y < 30) || (y >= 230 && y < 246))
            continue;
        for (int x = 0; x < 700; ++x)
            if (AFirst.pixel(x, y) != ASecond.pixel(x, y)) {
                qWarning("differs at %d, %d", x, y);
                return false;
            }
    }
    return true;
}

QImage Render(TWaveView &AWaveView)
{
    QImage img(AWaveView.size(), QImage::Format_RGB32);
    img.fill(Qt::magenta);
    AWaveView.render(&img);
    return img;
}

void Mouse(TWaveView &AWaveView, QEvent::Type AType, QPoint APt)
{
    const Qt::MouseButtons held = AType == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = AType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(AType, APt, AWaveView.mapToGlobal(APt), button, held, Qt::NoModifier);
    QApplication::sendEvent(&AWaveView, &e);
}
void Drag(TWaveView &AWaveView, int AY, const QList<int> &AXs)
{
    Mouse(AWaveView, QEvent::MouseButtonPress, QPoint(AXs.first(), AY));
    for (int i = 1; i < AXs.size(); ++i)
        Mouse(AWaveView, QEvent::MouseMove, QPoint(AXs[i], AY));
    Mouse(AWaveView, QEvent::MouseButtonRelease, QPoint(AXs.last(), AY));
}
// A wheel turn of delta (vertical), or of angle (both directions); true when the view took the event.
bool Wheel(TWaveView &AWaveView, int AX, QPoint AAngle)
{
    const QPointF pos(AX, 100);
    QWheelEvent e(pos, AWaveView.mapToGlobal(pos), QPoint(), AAngle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&AWaveView, &e);
    return e.isAccepted();
}
bool Wheel(TWaveView &AWaveView, int AX, int ADelta)
{
    return Wheel(AWaveView, AX, QPoint(0, ADelta));
}

const QRgb clWaveBg = qRgb(16, 16, 16), clGreen = qRgb(40, 220, 60), clCentre = qRgb(56, 56, 56),
           clSel = qRgb(34, 60, 85), clEdge = qRgb(64, 128, 192), clCursor = qRgb(240, 48, 48),
           clPosBar = qRgb(24, 80, 168), clMark = qRgb(96, 176, 232), clRuler = qRgb(26, 26, 26),
           clTick = qRgb(96, 96, 96), clOverview = qRgb(6, 40, 6), clFrame = qRgb(176, 176, 176);

// A 700 x 260 view of a 100-second recording (7 pixels a second at full view), its envelope's points
// spread evenly over the duration unless the seconds per point are given.
struct TViewFixture {
    TWaveView view{nullptr};
    explicit TViewFixture(TEnvArray AEnv = MakeEnv(1000, TEnvPoint()), double ADur = 100, double ASecPerPoint = 0)
    {
        view.SetData(AEnv, int(AEnv->size()), ADur, ASecPerPoint > 0 ? ASecPerPoint : ADur / double(AEnv->size()));
    }
};

// A recording of AFrames frames at ARate Hz with a tone where AToneFrames (pairs of first frame, end
// frame) say and silence elsewhere, reduced to an envelope by the waveform pass's rules: EnvCount =
// min(F, 50000) points of S = F / EnvCount (rounded up) frames each, the points past the sound empty.
struct TPlantedRecording {
    qint64 Frames = 0;
    int Rate = 44100;
    qint64 FramesPerPoint = 1;
    TEnvArray Env;
    QList<QPair<double, double>> Tones;  // seconds

    TPlantedRecording(qint64 AFrames, int ARate, const QList<qint64> &AToneFrames) : Frames(AFrames), Rate(ARate)
    {
        const int count = int(std::min<qint64>(AFrames, 50000));
        FramesPerPoint = (AFrames + count - 1) / count;
        std::vector<TEnvPoint> v(static_cast<size_t>(count));
        for (int i = 0; i + 1 < AToneFrames.size(); i += 2) {
            const qint64 a = AToneFrames[i], b = AToneFrames[i + 1];
            Tones.append({double(a) / ARate, double(b) / ARate});
            for (qint64 j = a / FramesPerPoint; j <= (b - 1) / FramesPerPoint && j < count; ++j)
                v[size_t(j)] = TEnvPoint{-16384, 16383, -16384, 16383};
        }
        Env = std::make_shared<const std::vector<TEnvPoint>>(std::move(v));
    }
    double Duration() const { return double(Frames) / Rate; }
    double SecPerPoint() const { return double(FramesPerPoint) / Rate; }
    // -1: [AFrom, ATo) lies wholly in a tone; 1: it keeps more than one point away from every tone; 0: neither.
    int Classify(double AFrom, double ATo) const
    {
        const double margin = SecPerPoint();
        bool apart = true;
        for (const auto &t : Tones) {
            if (AFrom >= t.first && ATo <= t.second)
                return -1;
            if (ATo + margin > t.first && AFrom - margin < t.second)
                apart = false;
        }
        return apart ? 1 : 0;
    }
};

} // namespace

class tst_uWaveView : public QObject {
    Q_OBJECT
private slots:
    // ---- window of time ----

    void mappingsRoundHalfToEven()
    {
        TWaveWindow w{100, 0, 100, 700};
        QCOMPARE(w.ViewTimeOfPx(350), 50.0);
        QCOMPARE(w.ViewTimeOfPx(-70), -10.0);  // extrapolated outside the control
        QCOMPARE(w.ViewPxOfTime(50), 350);
        const TWaveWindow quarter{1, 0, 1, 4};
        QCOMPARE(quarter.ViewPxOfTime(0.125), 0);  // 0.5 -> 0
        QCOMPARE(quarter.ViewPxOfTime(0.375), 2);  // 1.5 -> 2
        QCOMPARE(quarter.ViewPxOfTime(0.625), 2);  // 2.5 -> 2
        QCOMPARE(w.OverviewTimeOfPx(175), 25.0);
        QCOMPARE(w.OverviewPxOfTime(25), 175);
        const TWaveWindow none{0, 0, 0, 0};
        QCOMPARE(none.ViewLen(), 0.05);
        QCOMPARE(none.ViewTimeOfPx(10), 0.0);
        QCOMPARE(none.OverviewPxOfTime(3), 0);
        QCOMPARE(none.OverviewTimeOfPx(3), 0.0);
    }

    // Labels of 6 pixels a character: the step is the first rung whose ticks lie the window's end label
    // plus 32 pixels apart.
    void rulerStep_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("len");
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("step");
        QTest::addColumn<double>("minor");
        QTest::addRow("deepest zoom, 956 px") << 5.0 << 0.05 << 956 << 0.005 << 0.001;
        QTest::addRow("one zoom step out") << 5.0 << 0.08 << 956 << 0.01 << 0.001;
        QTest::addRow("deepest zoom, 700 px") << 5.0 << 0.05 << 700 << 0.01 << 0.001;
        QTest::addRow("a second") << 5.0 << 1.0 << 956 << 0.1 << 0.02;
        QTest::addRow("hundredths") << 5.0 << 0.5 << 956 << 0.05 << 0.01;
        QTest::addRow("80 s in 700 px") << 0.0 << 80.0 << 700 << 10.0 << 2.0;
        QTest::addRow("an hour") << 0.0 << 3600.0 << 956 << 300.0 << 60.0;
        QTest::addRow("a day") << 0.0 << 86400.0 << 1920 << 3600.0 << 600.0;
        QTest::addRow("past the ladder's top") << 0.0 << 7 * 86400.0 << 100 << 43200.0 << 0.0;
    }
    void rulerStep()
    {
        QFETCH(double, start);
        QFETCH(double, len);
        QFETCH(int, width);
        const TWaveWindow w{std::max(start + len, 4200.0), start, start + len, width};
        const double step = RulerStep(w, [](const QString &ALabel) { return 6 * int(ALabel.size()); });
        QTEST(step, "step");
        QTEST(RulerMinorStep(w, step), "minor");
    }

    // Whole views at known zooms: the first labels, and the minor ticks between them carry none.
    void rulerLabelsAtKnownZooms_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("len");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("firstLabels");
        QTest::addRow("deepest zoom") << 5.0 << 0.05 << 956 << QStringList{"00:05,000", "00:05,005", "00:05,010"};
        QTest::addRow("hundredths") << 5.2 << 0.5 << 956 << QStringList{"00:05,20", "00:05,25", "00:05,30"};
        QTest::addRow("tenths, window not on a tick") << 10.03 << 1.0 << 956 << QStringList{"00:10,1", "00:10,2"};
        QTest::addRow("quarters past an hour") << 3610.0 << 2.5 << 956 << QStringList{"1:00:10,00", "1:00:10,25"};
        QTest::addRow("whole seconds") << 10.0 << 12.0 << 956 << QStringList{"00:10", "00:11"};
        QTest::addRow("minutes past an hour") << 0.0 << 4200.0 << 956 << QStringList{"00:00", "10:00"};
        QTest::addRow("narrow view") << 0.0 << 20.0 << 100 << QStringList{"00:00"};
    }
    void rulerLabelsAtKnownZooms()
    {
        QFETCH(double, start);
        QFETCH(double, len);
        QFETCH(int, width);
        QFETCH(QStringList, firstLabels);
        const TWaveWindow w{std::max(start + len, 4200.0), start, start + len, width};
        const std::vector<TRulerTick> ticks = RulerTicks(w, [](const QString &ALabel) { return 6 * int(ALabel.size()); });
        QStringList labels;
        for (const TRulerTick &t : ticks) {
            QCOMPARE(t.Minor, t.Label.isEmpty());
            if (t.HasLabel)
                labels << t.Label;
        }
        QCOMPARE(labels.mid(0, firstLabels.size()), firstLabels);
    }

    // Every zoom the view can show, from the shortest window to more than an hour, at the start and deep into
    // a recording, in the narrowest and the widest views: at least two labels, none alike, 4 pixels apart
    // at least, inside the ruler, every tick at its time's pixel and on the step's grid.
    void rulerHasTwoLabelsAtEveryZoom_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("start");
        QTest::addRow("836 px from 0") << 836 << 0.0;
        QTest::addRow("956 px from 0") << 956 << 0.0;
        QTest::addRow("956 px after 59:59") << 956 << 3599.987;
        QTest::addRow("1920 px from 5 s") << 1920 << 5.0;
    }
    void rulerHasTwoLabelsAtEveryZoom()
    {
        QFETCH(int, width);
        QFETCH(double, start);
        const auto textWidth = [](const QString &ALabel) { return 6 * int(ALabel.size()); };
        for (double len = WaveMinViewLen; len < 4300; len *= 1.6) {
            const TWaveWindow w{start + 4300, start, start + len, width};
            const double step = RulerStep(w, textWidth);
            const std::vector<TRulerTick> ticks = RulerTicks(w, textWidth);
            QStringList labels;
            int lastRight = -1000;
            for (const TRulerTick &t : ticks) {
                QCOMPARE(t.X, w.ViewPxOfTime(t.Time));
                if (!t.HasLabel)
                    continue;
                const double onGrid = t.Time / step;
                QVERIFY2(std::abs(onGrid - std::round(onGrid)) < 1e-6, qPrintable(t.Label));
                QVERIFY2(!labels.contains(t.Label), qPrintable(t.Label));
                labels << t.Label;
                QVERIFY(t.LabelX >= 0 && t.LabelX <= t.X + 2);
                QVERIFY2(t.LabelX + textWidth(t.Label) <= width - 1, qPrintable(t.Label));
                QVERIFY(t.LabelX >= lastRight + 4);
                lastRight = t.LabelX + textWidth(t.Label);
            }
            QVERIFY2(labels.size() >= 2, qPrintable(QStringLiteral("%1 s: %2").arg(len).arg(labels.join(' '))));
        }
    }

    void rulerLabelOfATick_data()
    {
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("step");
        QTest::addColumn<QString>("label");
        QTest::addRow("tenths") << 10.5 << 0.5 << "00:10,5";
        QTest::addRow("hundredths") << 10.25 << 0.25 << "00:10,25";
        QTest::addRow("a tick time just below its value") << 104 * 0.1 << 0.1 << "00:10,4";
        QTest::addRow("whole second under a tenths step") << 11.0 << 0.1 << "00:11,0";
        QTest::addRow("whole seconds") << 70.0 << 10.0 << "01:10";
        QTest::addRow("from an hour on") << 3725.75 << 0.25 << "1:02:05,75";
        QTest::addRow("hundredths of a 0.05 step") << 5.25 << 0.05 << "00:05,25";
        QTest::addRow("hundredths of a 0.01 step") << 5.07 << 0.01 << "00:05,07";
        QTest::addRow("thousandths of a 0.005 step") << 1001 * 0.005 << 0.005 << "00:05,005";
        QTest::addRow("thousandths of a 0.001 step") << 5.999 << 0.001 << "00:05,999";
        QTest::addRow("thousandths on a whole second") << 6.0 << 0.002 << "00:06,000";
    }
    void rulerLabelOfATick()
    {
        QFETCH(double, time);
        QFETCH(double, step);
        QTEST(RulerLabel(time, step), "label");
    }

    void bands_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<QList<int>>("expected");  // WaveBottom, OverTop, CentreL, AmpL, CentreR, AmpR
        QTest::addRow("default 260") << 260 << QList<int>{230, 246, 80, 48, 180, 48};
        QTest::addRow("odd 101") << 101 << QList<int>{71, 87, 40, 8, 60, 8};
        QTest::addRow("tiny 40 overlaps") << 40 << QList<int>{34, 26, 31, 1, 33, 1};
    }
    void bands()
    {
        QFETCH(int, height);
        QFETCH(QList<int>, expected);
        const TWaveBands b = TWaveBands::For(height);
        QCOMPARE((QList<int>{b.WaveBottom, b.OverTop, b.CentreL, b.AmpL, b.CentreR, b.AmpR}), expected);
    }

    void zoomAndClamp_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("op");  // 0 clamp, 1 zoom about (a, x, n), 2 centre on a
        QTest::addColumn<double>("a");
        QTest::addColumn<int>("x");
        QTest::addColumn<double>("n");
        QTest::addColumn<double>("newStart");
        QTest::addColumn<double>("newEnd");
        QTest::addRow("anchor stays under its pixel") << 100.0 << 0.0 << 100.0 << 1 << 25.0 << 175 << 50.0 << 12.5 << 62.5;
        QTest::addRow("zoom clamped at the end") << 100.0 << 0.0 << 100.0 << 1 << 99.0 << 350 << 10.0 << 90.0 << 100.0;
        QTest::addRow("zoom clamped at the start") << 100.0 << 0.0 << 100.0 << 1 << 1.0 << 350 << 10.0 << 0.0 << 10.0;
        QTest::addRow("zoom in stops at 0.05") << 100.0 << 50.0 << 50.06 << 1 << 50.03 << 350 << 0.0375 << 50.005 << 50.055;
        QTest::addRow("zoom out stops at the recording") << 100.0 << 0.0 << 100.0 << 1 << 50.0 << 350 << 160.0 << 0.0 << 100.0;
        QTest::addRow("recording shorter than 0.05") << 0.03 << 0.0 << 0.03 << 1 << 0.015 << 350 << 0.01 << 0.0 << 0.03;
        QTest::addRow("short selection moved back from the end") << 100.0 << 99.975 << 99.995 << 0 << 0.0 << 0 << 0.0 << 99.95 << 100.0;
        QTest::addRow("short selection keeps its start") << 100.0 << 50.0 << 50.02 << 0 << 0.0 << 0 << 0.0 << 50.0 << 50.05;
        QTest::addRow("centre near the end") << 100.0 << 0.0 << 10.0 << 2 << 99.0 << 0 << 0.0 << 90.0 << 100.0;
        QTest::addRow("centre in the middle") << 100.0 << 0.0 << 10.0 << 2 << 50.0 << 0 << 0.0 << 45.0 << 55.0;
        QTest::addRow("no data does nothing") << 0.0 << 0.0 << 0.0 << 1 << 5.0 << 350 << 10.0 << 0.0 << 0.0;
    }
    void zoomAndClamp()
    {
        QFETCH(double, duration);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, op);
        QFETCH(double, a);
        QFETCH(int, x);
        QFETCH(double, n);
        QFETCH(double, newStart);
        QFETCH(double, newEnd);
        TWaveWindow w{duration, start, end, 700};
        if (op == 0)
            w.Clamp();
        else if (op == 1)
            w.ZoomAbout(a, x, n);
        else
            w.CentreOn(a);
        QVERIFY2(qAbs(w.ViewStart - newStart) < 1e-9, qPrintable(QString::number(w.ViewStart, 'g', 12)));
        QVERIFY2(qAbs(w.ViewEnd - newEnd) < 1e-9, qPrintable(QString::number(w.ViewEnd, 'g', 12)));
    }

    // ---- lane extremes ----

    // The one-pass column extremes equal a plain min/max per column, and each point is read once.
    void laneColumnsMatchPerColumnScan_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("secPerPoint");
        const double hour = 3176.0 / 44100;  // an hour at 44100 Hz: the last 12 points empty
        QTest::addRow("full view, many points a column") << 50000 << 3600.0 << 0.0 << 3600.0 << 1920 << hour;
        QTest::addRow("full view, fewer points than columns") << 300 << 10.0 << 0.0 << 10.0 << 700 << 10.0 / 300;
        QTest::addRow("zoomed in") << 50000 << 3600.0 << 1000.0 << 1360.0 << 1920 << hour;
        QTest::addRow("zoomed deep, a point spans many columns") << 50000 << 3600.0 << 1800.0 << 1800.05 << 700 << hour;
        QTest::addRow("window at the end, empty tail") << 50000 << 3600.0 << 3590.0 << 3600.0 << 955 << hour;
        QTest::addRow("window at the end, evenly spread") << 4999 << 77.7 << 70.0 << 77.7 << 333 << 0.0;
        QTest::addRow("single point") << 1 << 2.0 << 0.0 << 2.0 << 50 << 0.0;
    }
    void laneColumnsMatchPerColumnScan()
    {
        QFETCH(int, count);
        QFETCH(double, duration);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, width);
        QFETCH(double, secPerPoint);
        const TEnvArray env = RandomEnv(count, 7);
        const TWaveWindow w{duration, start, end, width};
        std::vector<TColumnExtremes> cols;
        std::vector<int> visits(count, 0);
        ComputeLaneColumns(w, env->data(), count, secPerPoint, cols, &visits);
        QCOMPARE(int(cols.size()), width);
        for (int x = 0; x < width; ++x) {
            const TPointRange r = ColumnPointRange(w, count, secPerPoint, x);
            int loL = 0, hiL = 0, loR = 0, hiR = 0;
            for (int j = r.J0; j <= r.J1; ++j) {
                const TEnvPoint &p = (*env)[j];
                loL = std::min<int>(loL, p.MnL);
                hiL = std::max<int>(hiL, p.MxL);
                loR = std::min<int>(loR, p.MnR);
                hiR = std::max<int>(hiR, p.MxR);
            }
            QCOMPARE(cols[x].LoL, loL);
            QCOMPARE(cols[x].HiL, hiL);
            QCOMPARE(cols[x].LoR, loR);
            QCOMPARE(cols[x].HiR, hiR);
        }
        QVERIFY(*std::max_element(visits.begin(), visits.end()) <= 1);
        const TPointRange first = ColumnPointRange(w, count, secPerPoint, 0);
        const TPointRange last = ColumnPointRange(w, count, secPerPoint, width - 1);
        QCOMPARE(std::accumulate(visits.begin(), visits.end(), 0), last.J1 - first.J0 + 1);
    }

    // A column holds the points whose seconds overlap its own: a point that straddles two columns is in
    // both, one that only touches a column's end is not, and the envelope's empty tail is never reached.
    void columnPointRange_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("secPerPoint");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("j0");
        QTest::addColumn<int>("j1");
        QTest::addRow("boundaries meet, first column") << 10.0 << 0.0 << 10.0 << 10 << 100 << 0.1 << 0 << 0 << 9;
        QTest::addRow("boundaries meet, second column") << 10.0 << 0.0 << 10.0 << 10 << 100 << 0.1 << 1 << 10 << 19;
        QTest::addRow("straddling point in the first") << 10.0 << 0.0 << 10.0 << 10 << 34 << 0.3 << 0 << 0 << 3;
        QTest::addRow("straddling point in the second") << 10.0 << 0.0 << 10.0 << 10 << 34 << 0.3 << 1 << 3 << 6;
        QTest::addRow("20 s, S = 18: last column ends at the sound")
            << 20.0 << 0.0 << 20.0 << 955 << 50000 << 18.0 / 44100 << 954 << 48948 << 48999;
        QTest::addRow("20 s, S = 18: the tone's return at 12 s")
            << 20.0 << 0.0 << 20.0 << 955 << 50000 << 18.0 / 44100 << 573 << 29400 << 29451;
        QTest::addRow("an hour zoomed deep: one point")
            << 3600.0 << 1800.0 << 1800.05 << 700 << 50000 << 3176.0 / 44100 << 350 << 24994 << 24994;
        QTest::addRow("evenly spread when not given") << 10.0 << 0.0 << 10.0 << 10 << 100 << 0.0 << 9 << 90 << 99;
    }
    void columnPointRange()
    {
        QFETCH(double, duration);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, width);
        QFETCH(int, count);
        QFETCH(double, secPerPoint);
        QFETCH(int, x);
        const TPointRange r = ColumnPointRange(TWaveWindow{duration, start, end, width}, count, secPerPoint, x);
        QTEST(r.J0, "j0");
        QTEST(r.J1, "j1");
    }

    // ---- painting ----

    void withoutDataPaintsEmptyBands()
    {
        TWaveView v(nullptr);
        QCOMPARE(v.size(), QSize(700, 260));
        const QImage img = Render(v);
        QCOMPARE(img.pixel(5, 7), clPosBar);
        QCOMPARE(img.pixel(5, 20), clRuler);
        QCOMPARE(img.pixel(5, 40), clWaveBg);
        QCOMPARE(img.pixel(600, 80), clCentre);
        QCOMPARE(img.pixel(600, 180), clCentre);
        QCOMPARE(img.pixel(600, 81), clWaveBg);
        QCOMPARE(img.pixel(600, 236), clRuler);
        QCOMPARE(img.pixel(5, 250), clOverview);
        QCOMPARE(img.pixel(5, 259), clOverview);
    }

    void silentRecordingShowsOnePixelLines()
    {
        TViewFixture f;
        f.view.SetPlayPos(-1);  // keep the cursor out of the way
        const QImage img = Render(f.view);
        for (int x : {0, 100, 699}) {
            QCOMPARE(img.pixel(x, 80), clGreen);
            QCOMPARE(img.pixel(x, 180), clGreen);
            QCOMPARE(img.pixel(x, 79), clWaveBg);
            QCOMPARE(img.pixel(x, 81), clWaveBg);
            QCOMPARE(img.pixel(x, 181), clWaveBg);
        }
    }

    void fullScaleLeftChannelFillsItsLane()
    {
        TViewFixture f(MakeEnv(1000, TEnvPoint{-32768, 32767, 0, 0}));
        f.view.SetPlayPos(-1);
        const QImage img = Render(f.view);
        for (int x : {1, 350, 699}) {
            QCOMPARE(img.pixel(x, 31), clWaveBg);
            QCOMPARE(img.pixel(x, 32), clGreen);   // 80 - 48
            QCOMPARE(img.pixel(x, 128), clGreen);  // 80 + 48
            QCOMPARE(img.pixel(x, 129), clWaveBg);
            QCOMPARE(img.pixel(x, 179), clWaveBg);
            QCOMPARE(img.pixel(x, 180), clGreen);  // the silent right channel
        }
        // Overview: centre 253, amplitude 6, one point a column, under the full-view frame.
        QCOMPARE(img.pixel(100, 246), clFrame);
        QCOMPARE(img.pixel(100, 247), clGreen);
        QCOMPARE(img.pixel(100, 258), clGreen);
        QCOMPARE(img.pixel(100, 259), clFrame);
        QCOMPARE(img.pixel(0, 250), clFrame);
        QCOMPARE(img.pixel(699, 250), clFrame);
    }

    void monoRecordingShowsTwoIdenticalLanes()
    {
        QRandomGenerator rng(3);
        std::vector<TEnvPoint> v(5000);
        for (TEnvPoint &p : v) {
            const int a = rng.bounded(0, 32768);
            p = TEnvPoint{int16_t(-a), int16_t(a / 2), int16_t(-a), int16_t(a / 2)};
        }
        TViewFixture f(std::make_shared<const std::vector<TEnvPoint>>(std::move(v)));
        f.view.SetPlayPos(-1);
        const QImage img = Render(f.view);
        for (int x = 0; x < 700; ++x)
            for (int k = -49; k <= 49; ++k)
                QCOMPARE(img.pixel(x, 80 + k), img.pixel(x, 180 + k));
    }

    // 80 seconds over 700 pixels: labelled ticks every 10 s (87.5 px) 4 pixels long, minor ticks every 2 s
    // (17.5 px) 2 pixels long.
    void rulerTicksAtKnownZoom()
    {
        TViewFixture f(MakeEnv(800, TEnvPoint()), 80);
        const QImage img = Render(f.view);
        for (int top : {14, 230}) {
            for (int x : {88, 175, 262, 350, 438, 525, 612}) {  // 262.5 and 612.5 round to even
                QCOMPARE(img.pixel(x, top), clTick);
                QCOMPARE(img.pixel(x, top + 3), clTick);
                QCOMPARE(img.pixel(x, top + 4), clRuler);
                QCOMPARE(img.pixel(x - 1, top), clRuler);
                QCOMPARE(img.pixel(x + 1, top), clRuler);
            }
            for (int x : {52, 70}) {  // 4 s (52.5 rounds to even) and 8 s, clear of the labels
                QCOMPARE(img.pixel(x, top + 1), clTick);
                QCOMPARE(img.pixel(x, top + 2), clRuler);
                QCOMPARE(img.pixel(x + 1, top), clRuler);
            }
        }
    }

    // A recording whose envelope has an empty tail (S rounded up) is drawn on the ruler's time axis: in the
    // lanes and in the overview, every column inside a tone is green, every column more than a point away
    // from a tone shows no sound, and each edge of a tone lies within a pixel of its time's ruler pixel.
    void plantedGapLiesOnTheRuler_data()
    {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<QList<qint64>>("tones");  // first frame, end frame, ...
        QTest::addColumn<double>("start");         // the window, -1: the whole recording
        QTest::addColumn<double>("end");
        QTest::addColumn<int>("width");
        const QList<qint64> gap{0, 6 * 44100, 12 * 44100, 20 * 44100};  // tone 0-6 s, silence, tone 12-20 s
        QTest::addRow("20 s whole in 955 px (S = 18)") << qint64(20 * 44100) << gap << -1.0 << -1.0 << 955;
        QTest::addRow("20 s zoomed onto the return") << qint64(20 * 44100) << gap << 11.0 << 13.0 << 955;
        QTest::addRow("20 s zoomed onto the end") << qint64(20 * 44100) << gap << 19.9 << 20.0 << 700;
        QTest::addRow("2.6 s of tone, S = 3, whole") << qint64(113520) << QList<qint64>{0, 113520} << -1.0 << -1.0 << 955;
        // An hour: S = 3176 frames (72 ms), sound in 49,988 of the 50,000 points; the edges on point boundaries.
        const qint64 hour = qint64(3600) * 44100;
        const QList<qint64> hourGap{0, 49860LL * 3176, 49930LL * 3176, hour};  // silence 3590.7-3595.8 s
        QTest::addRow("an hour's last 10 s") << hour << hourGap << 3590.0 << 3600.0 << 955;
        QTest::addRow("an hour whole") << hour << hourGap << -1.0 << -1.0 << 1920;
    }
    void plantedGapLiesOnTheRuler()
    {
        QFETCH(qint64, frames);
        QFETCH(QList<qint64>, tones);
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(int, width);
        const TPlantedRecording rec(frames, 44100, tones);
        const bool whole = start < 0;
        TWaveLook look;
        look.Win = TWaveWindow{rec.Duration(), whole ? 0 : start, whole ? rec.Duration() : end, width};
        look.Env = rec.Env->data();
        look.EnvCount = int(rec.Env->size());
        look.SecPerPoint = rec.SecPerPoint();
        look.PlayPos = -1;
        look.Height = 260;
        QImage img(width, 260, QImage::Format_RGB32);
        std::vector<TColumnExtremes> scratch;
        {
            QPainter p(&img);
            PaintWave(p, look, scratch);
        }
        if (whole) {  // the widget hands the same figures to the paint
            TViewFixture f(rec.Env, rec.Duration(), rec.SecPerPoint());
            f.view.resize(width, 260);
            f.view.SetPlayPos(-1);
            QCOMPARE(Render(f.view), img);
        }
        const TWaveWindow &w = look.Win;
        // Lane: row 68 is green where the column holds a point of tone (amplitude 24 of 48 above 80).
        // Overview: row 251 is green where the point at the column's start time holds tone.
        int xsFrame, xeFrame;
        xsFrame = w.OverviewPxOfTime(w.ViewStart);
        xeFrame = std::max(w.OverviewPxOfTime(w.ViewEnd), xsFrame + 3);
        QList<int> laneEdges, overEdges;  // columns where sound starts or stops, after the first
        for (int x = 0; x < width; ++x) {
            const bool lane = img.pixel(x, 68) == clGreen;
            QVERIFY2(lane || img.pixel(x, 68) == clWaveBg, qPrintable(QString::number(x)));
            const int kind = rec.Classify(w.ViewTimeOfPx(x), w.ViewTimeOfPx(x + 1));
            if (kind != 0)
                QVERIFY2(lane == (kind < 0), qPrintable(QStringLiteral("lane column %1").arg(x)));
            if (x > 0 && lane != (img.pixel(x - 1, 68) == clGreen))
                laneEdges << x;
            if (!whole || x == xsFrame || x == xeFrame - 1)  // the overview as the whole view has it
                continue;
            const bool over = img.pixel(x, 251) == clGreen;
            const double t0 = w.OverviewTimeOfPx(x);
            const int overKind = rec.Classify(t0, t0 + 1e-9);  // the point that holds t0
            if (overKind != 0)
                QVERIFY2(over == (overKind < 0), qPrintable(QStringLiteral("overview column %1").arg(x)));
            if (x > 0 && x - 1 != xsFrame && x - 1 != xeFrame - 1 && over != (img.pixel(x - 1, 251) == clGreen))
                overEdges << x;
        }
        // Each edge inside the window is within a pixel of the ruler's pixel of its time.
        QList<int> laneWant, overWant;
        for (const auto &t : rec.Tones)
            for (double edge : {t.first, t.second}) {
                if (edge > w.ViewStart && edge < w.ViewEnd)
                    laneWant << w.ViewPxOfTime(edge);
                if (whole && edge > 0 && edge < rec.Duration())
                    overWant << w.OverviewPxOfTime(edge);
            }
        QCOMPARE(laneEdges.size(), laneWant.size());
        for (int i = 0; i < laneEdges.size(); ++i)
            QVERIFY2(qAbs(laneEdges[i] - laneWant[i]) <= 1,
                     qPrintable(QStringLiteral("lane edge at %1, ruler at %2").arg(laneEdges[i]).arg(laneWant[i])));
        QCOMPARE(overEdges.size(), overWant.size());
        for (int i = 0; i < overEdges.size(); ++i)
            QVERIFY2(qAbs(overEdges[i] - overWant[i]) <= 1,
                     qPrintable(QStringLiteral("overview edge at %1, ruler at %2").arg(overEdges[i]).arg(overWant[i])));
        // The sound reaches the window's end when a tone does.
        if (rec.Classify(w.ViewTimeOfPx(width - 1), w.ViewEnd) < 0)
            QCOMPARE(img.pixel(width - 1, 68), clGreen);
    }

    // Clicking and dragging give the time under the pointer, so what is drawn is what is chosen: a click on
    // the first column drawn with the returning tone seeks to within a pixel of its start, and a drag over
    // the silence as drawn selects silence only.
    void hitTestsFollowTheDrawing_data()
    {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<QList<qint64>>("tones");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("zoomToGap");
        QTest::addRow("20 s whole") << qint64(20 * 44100) << QList<qint64>{0, 6 * 44100, 12 * 44100, 20 * 44100} << 955 << false;
        const qint64 hour = qint64(3600) * 44100;
        QTest::addRow("an hour zoomed onto its last gap")
            << hour << QList<qint64>{0, 49860LL * 3176, 49930LL * 3176, hour} << 955 << true;
    }
    void hitTestsFollowTheDrawing()
    {
        QFETCH(qint64, frames);
        QFETCH(QList<qint64>, tones);
        QFETCH(int, width);
        QFETCH(bool, zoomToGap);
        const TPlantedRecording rec(frames, 44100, tones);
        const double gapStart = rec.Tones[0].second, gapEnd = rec.Tones[1].first;
        TViewFixture f(rec.Env, rec.Duration(), rec.SecPerPoint());
        f.view.resize(width, 260);
        f.view.SetPlayPos(-1);
        if (zoomToGap) {  // select 3 s (at least 3 pixels) around the gap and zoom to it, twice (finer the second time)
            for (int i = 0; i < 2; ++i) {
                const TWaveWindow w{rec.Duration(), f.view.ViewStart(), f.view.ViewEnd(), width};
                const double margin = std::max(3.0, 3 * w.ViewLen() / width);
                Drag(f.view, 100, {w.ViewPxOfTime(gapStart - margin), w.ViewPxOfTime(gapEnd + margin)});
                f.view.ZoomToSelection();
            }
            f.view.ClearSelection();
            QVERIFY2(f.view.ViewStart() < gapStart && f.view.ViewEnd() > gapEnd && f.view.ViewLen() < 12,
                     qPrintable(QStringLiteral("%1..%2").arg(f.view.ViewStart()).arg(f.view.ViewEnd())));
        }
        const TWaveWindow w{rec.Duration(), f.view.ViewStart(), f.view.ViewEnd(), width};
        const QImage img = Render(f.view);
        // The silent run between the tones, as drawn in the upper lane.
        int first = -1, last = -1;
        for (int x = w.ViewPxOfTime(gapStart) - 20; x < width; ++x) {
            const bool silent = img.pixel(x, 68) != clGreen;
            if (silent && first < 0)
                first = x;
            if (!silent && first >= 0) {
                last = x - 1;
                break;
            }
        }
        QVERIFY(first > 0 && last > first);
        const double pxSec = w.ViewLen() / width;
        // Click on the first column of the returning tone.
        QSignalSpy seek(&f.view, &TWaveView::OnSeek);
        Drag(f.view, 100, {last + 1, last + 1});
        QCOMPARE(seek.count(), 1);
        const double t = seek.first().first().toDouble();
        QVERIFY2(qAbs(t - gapEnd) < pxSec + 1e-9, qPrintable(QStringLiteral("seek %1, tone from %2").arg(t).arg(gapEnd)));
        // Drag over the silence as drawn.
        Drag(f.view, 100, {first, last});
        QVERIFY(f.view.HasSelection());
        QVERIFY2(f.view.SelStart() >= gapStart - 1e-9 && f.view.SelEnd() <= gapEnd + 1e-9,
                 qPrintable(QStringLiteral("%1..%2 in a gap of %3..%4")
                                .arg(f.view.SelStart(), 0, 'f', 4).arg(f.view.SelEnd(), 0, 'f', 4)
                                .arg(gapStart, 0, 'f', 4).arg(gapEnd, 0, 'f', 4)));
        QVERIFY(f.view.SelEnd() - f.view.SelStart() > (gapEnd - gapStart) - 3 * pxSec);
        // A press on the overview where the tone returns centres the window on that time (zoomed in far
        // enough that the window is not held at an end).
        for (int i = 0; i < 3; ++i)
            f.view.ZoomIn();
        const TWaveWindow all{rec.Duration(), 0, rec.Duration(), width};
        int overX = all.OverviewPxOfTime(gapStart) + 1;
        while (Render(f.view).pixel(overX, 251) != clGreen)
            ++overX;
        Mouse(f.view, QEvent::MouseButtonPress, QPoint(overX, 255));
        Mouse(f.view, QEvent::MouseButtonRelease, QPoint(overX, 255));
        QVERIFY(f.view.ViewStart() > 0 && f.view.ViewEnd() < rec.Duration());
        const double centre = (f.view.ViewStart() + f.view.ViewEnd()) / 2;
        QVERIFY2(qAbs(centre - gapEnd) < rec.Duration() / width + rec.SecPerPoint() + 1e-9,
                 qPrintable(QStringLiteral("centred on %1, tone from %2").arg(centre).arg(gapEnd)));
    }


    void positionBarAndOverviewFrame_data()
    {
        QTest::addColumn<bool>("zoomed");
        QTest::addColumn<int>("xs");
        QTest::addColumn<int>("xe");
        QTest::addRow("full view") << false << 0 << 700;
        QTest::addRow("window 25..50 s") << true << 175 << 350;
    }
    void positionBarAndOverviewFrame()
    {
        QFETCH(bool, zoomed);
        QFETCH(int, xs);
        QFETCH(int, xe);
        TViewFixture f;
        if (zoomed) {
            Drag(f.view, 100, {175, 350});
            f.view.ZoomToSelection();
            QCOMPARE(f.view.ViewStart(), 25.0);
        }
        const QImage img = Render(f.view);
        QCOMPARE(img.pixel(xs, 2), clMark);
        QCOMPARE(img.pixel(xe - 1, 11), clMark);
        QCOMPARE(img.pixel(xs + 1, 1), clPosBar);
        QCOMPARE(img.pixel(xs + 1, 12), clPosBar);
        QCOMPARE(img.pixel(xs, 253), clFrame);
        QCOMPARE(img.pixel(xe - 1, 253), clFrame);
        QCOMPARE(img.pixel(xs + 2, 246), clFrame);
        QCOMPARE(img.pixel(xs + 2, 259), clFrame);
        if (zoomed) {
            QCOMPARE(img.pixel(xs - 1, 5), clPosBar);
            QCOMPARE(img.pixel(xe, 5), clPosBar);
            QCOMPARE(img.pixel(xs - 1, 250), clOverview);
            QCOMPARE(img.pixel(xe, 250), clOverview);
        }
    }

    void positionMarkerIsAtLeastThreePixels()
    {
        TViewFixture f(MakeEnv(1000, TEnvPoint()), 3600);
        for (int i = 0; i < 40; ++i)
            f.view.ZoomIn();
        QCOMPARE(f.view.ViewLen(), 0.05);
        const int xs = RoundPx(f.view.ViewStart() / 3600 * 700);
        const QImage img = Render(f.view);
        QCOMPARE(img.pixel(xs + 2, 5), clMark);
        QCOMPARE(img.pixel(xs + 3, 5), clPosBar);
    }

    void selectionBandAndEdges()
    {
        TViewFixture f;
        Drag(f.view, 100, {175, 350});  // 25..50 s
        QVERIFY(f.view.HasSelection());
        f.view.SetPlayPos(-1);
        const QImage img = Render(f.view);
        QCOMPARE(img.pixel(174, 50), clWaveBg);
        QCOMPARE(img.pixel(175, 50), clEdge);
        QCOMPARE(img.pixel(176, 50), clSel);
        QCOMPARE(img.pixel(349, 50), clSel);
        QCOMPARE(img.pixel(350, 50), clEdge);
        QCOMPARE(img.pixel(351, 50), clWaveBg);
        QCOMPARE(img.pixel(200, 30), clSel);
        QCOMPARE(img.pixel(200, 229), clSel);
        QCOMPARE(img.pixel(200, 29), clRuler);
        QCOMPARE(img.pixel(200, 80), clGreen);  // the lanes are drawn over the band
    }

    void selectionOutsideOrAroundTheWindow_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("wheelX");
        QTest::addColumn<QRgb>("area");
        QTest::addRow("wholly outside") << 420 << 490 << 0 << clWaveBg;   // 60..70 s, window 0..51 s
        QTest::addRow("enclosing the window") << 70 << 630 << 350 << clSel;  // 10..90 s, window 24.5..75.5 s
    }
    void selectionOutsideOrAroundTheWindow()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, wheelX);
        QFETCH(QRgb, area);
        TViewFixture f;
        Drag(f.view, 100, {from, to});
        Wheel(f.view, wheelX, 120);
        Wheel(f.view, wheelX, 120);
        f.view.SetPlayPos(-1);
        const QImage img = Render(f.view);
        for (int x = 0; x < 700; ++x)
            QCOMPARE(img.pixel(x, 50), area);  // no band and no edge line, or band all over
    }

    void cursorAtTheWindowEdges_data()
    {
        QTest::addColumn<double>("pos");
        QTest::addColumn<int>("x");  // -1: no cursor
        QTest::addRow("at the window start") << 25.0 << 0;
        QTest::addRow("just before the window") << 24.99 << -1;
        QTest::addRow("last column") << 25.0 + 699.0 / 700 * 25 << 699;
        QTest::addRow("at the window end (pixel 700)") << 50.0 << -1;
        QTest::addRow("after the window") << 50.01 << -1;
    }
    void cursorAtTheWindowEdges()
    {
        QFETCH(double, pos);
        QFETCH(int, x);
        TViewFixture f;
        Drag(f.view, 100, {175, 350});
        f.view.ZoomToSelection();
        f.view.ClearSelection();
        f.view.SetPlayPos(pos);
        const QImage img = Render(f.view);
        for (int c = 0; c < 700; ++c)
            QCOMPARE(img.pixel(c, 50) == clCursor, c == x);
    }

    // Straight writes into a 32-bit image and the painter's own drawing give the same pixels, at
    // any offset and within the region being repainted.
    void directAndPainterPathsAgree()
    {
        TViewFixture f(RandomEnv(20000, 11), 600);
        Drag(f.view, 100, {100, 400});
        Wheel(f.view, 300, 120);
        f.view.SetPlayPos(f.view.ViewStart() + 3);
        const QImage direct = Render(f.view);

        QImage rgb888(f.view.size(), QImage::Format_RGB888);  // no straight writes into this one
        rgb888.fill(Qt::magenta);
        f.view.render(&rgb888);
        QVERIFY(SameOutsideRulers(rgb888.convertToFormat(QImage::Format_RGB32), direct));

        QImage shifted(760, 300, QImage::Format_ARGB32_Premultiplied);
        shifted.fill(Qt::magenta);
        f.view.render(&shifted, QPoint(13, 7));
        QCOMPARE(shifted.copy(13, 7, 700, 260).convertToFormat(QImage::Format_RGB32), direct);
        QCOMPARE(shifted.pixel(12, 100), QColor(Qt::magenta).rgb());

        QImage part(f.view.size(), QImage::Format_RGB32);
        part.fill(Qt::magenta);
        const QRect region(100, 40, 300, 100);
        f.view.render(&part, region.topLeft(), QRegion(region));
        for (int y = 0; y < 260; y += 7)
            for (int x = 0; x < 700; x += 5) {
                const QPoint pt(x, y);
                QCOMPARE(part.pixel(pt), region.contains(pt) ? direct.pixel(pt) : QColor(Qt::magenta).rgb());
            }
    }

    // Below 64 rows the bands overlap; every size must paint inside the control and nowhere else.
    void tinySizesPaintInsideTheControl_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addRow("1 x 1") << QSize(1, 1);
        QTest::addRow("narrow") << QSize(3, 100);
        QTest::addRow("low") << QSize(50, 20);
        QTest::addRow("bands overlapping") << QSize(120, 40);
    }
    void tinySizesPaintInsideTheControl()
    {
        QFETCH(QSize, size);
        TViewFixture f(RandomEnv(500, 5), 10);
        Drag(f.view, 100, {100, 400});
        f.view.resize(size);
        QImage img(size + QSize(20, 20), QImage::Format_RGB32);
        img.fill(Qt::magenta);
        f.view.render(&img, QPoint(10, 10));
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const bool inside = QRect(QPoint(10, 10), size).contains(x, y);
                QCOMPARE(img.pixel(x, y) == QColor(Qt::magenta).rgb(), !inside);
            }
    }

    // ---- mouse ----

    void clickAndDrag_data()
    {
        QTest::addColumn<QList<int>>("xs");  // press, moves..., release at the last
        QTest::addColumn<bool>("selection");
        QTest::addColumn<double>("selStart");
        QTest::addColumn<double>("selEnd");
        QTest::addRow("click within 3 pixels") << QList<int>{350, 353} << false << -1.0 << -1.0;
        QTest::addRow("drag of 4 pixels") << QList<int>{350, 354} << true << 50.0 << 354 / 7.0;
        QTest::addRow("right to left") << QList<int>{350, 210} << true << 30.0 << 50.0;
        QTest::addRow("past the left edge") << QList<int>{350, -70} << true << 0.0 << 50.0;
        QTest::addRow("past the right edge") << QList<int>{350, 770} << true << 50.0 << 100.0;
        QTest::addRow("back onto the press point") << QList<int>{350, 360, 350} << false << 50.0 << 50.0;
    }
    void clickAndDrag()
    {
        QFETCH(QList<int>, xs);
        QFETCH(bool, selection);
        QFETCH(double, selStart);
        QFETCH(double, selEnd);
        TViewFixture f;
        QStringList events;
        connect(&f.view, &TWaveView::OnSelectionChange, [&] { events << QStringLiteral("selection"); });
        connect(&f.view, &TWaveView::OnSeek, [&](double ASeconds) { events << QStringLiteral("seek %1").arg(ASeconds); });
        Drag(f.view, 100, xs);
        QCOMPARE(f.view.HasSelection(), selection);
        QVERIFY(qAbs(f.view.SelStart() - selStart) < 1e-9);
        QVERIFY(qAbs(f.view.SelEnd() - selEnd) < 1e-9);
        const bool click = qAbs(xs.last() - xs.first()) <= 3 && xs.size() == 2;
        if (click) {
            QCOMPARE(f.view.PlayPos(), xs.last() / 7.0);
            QCOMPARE(events, (QStringList{QStringLiteral("selection"),
                                          QStringLiteral("seek %1").arg(xs.last() / 7.0)}));
        } else {
            QCOMPARE(f.view.PlayPos(), 0.0);
            QVERIFY(!events.isEmpty());
            QVERIFY(!events.join(' ').contains(QStringLiteral("seek")));
        }
    }

    void dragPastTheRightEdgeFollowsTheExtrapolatedTime()
    {
        TViewFixture f;
        Drag(f.view, 100, {0, 350});  // 0..50 s
        f.view.ZoomToSelection();
        Drag(f.view, 100, {350, 840});  // 25 s to 60 s, beyond the window
        QCOMPARE(f.view.SelStart(), 25.0);
        QCOMPARE(f.view.SelEnd(), 60.0);
        QCOMPARE(f.view.ViewStart(), 0.0);  // the window does not scroll while selecting
    }

    void realClickSeeks()
    {
        TViewFixture f;
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QSignalSpy seek(&f.view, &TWaveView::OnSeek);
        QTest::mouseClick(&f.view, Qt::LeftButton, Qt::NoModifier, QPoint(70, 100));
        QCOMPARE(seek.count(), 1);
        QCOMPARE(seek.first().first().toDouble(), 10.0);
        QTest::mouseClick(&f.view, Qt::RightButton, Qt::NoModifier, QPoint(140, 100));
        QCOMPARE(seek.count(), 1);
    }

    void panningInTheBands_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<double>("start");  // window start after the press (10 s window)
        QTest::addRow("position bar, middle") << QPoint(350, 5) << 45.0;
        QTest::addRow("position bar, last row") << QPoint(350, 13) << 45.0;
        QTest::addRow("overview, left end") << QPoint(0, 255) << 0.0;
        QTest::addRow("overview, first row, right end") << QPoint(699, 246) << 90.0;
        QTest::addRow("upper ruler does not pan") << QPoint(350, 14) << 20.0;
        QTest::addRow("row above the overview does not pan") << QPoint(350, 245) << 20.0;
    }
    void panningInTheBands()
    {
        QFETCH(QPoint, press);
        QFETCH(double, start);
        TViewFixture f;
        Drag(f.view, 100, {140, 210});  // 20..30 s
        f.view.ZoomToSelection();
        QSignalSpy view(&f.view, &TWaveView::OnViewChange);
        Mouse(f.view, QEvent::MouseButtonPress, press);
        QVERIFY(qAbs(f.view.ViewStart() - start) < 1e-9);
        QVERIFY(qAbs(f.view.ViewLen() - 10) < 1e-9);
        QCOMPARE(view.count(), start == 20.0 ? 0 : 1);
        Mouse(f.view, QEvent::MouseButtonRelease, press);
    }

    void panningContinuesOutsideTheBand()
    {
        TViewFixture f;
        Drag(f.view, 100, {140, 210});
        f.view.ZoomToSelection();
        f.view.ClearSelection();
        Mouse(f.view, QEvent::MouseButtonPress, QPoint(350, 5));
        Mouse(f.view, QEvent::MouseMove, QPoint(140, 100));  // into the waveform area
        QCOMPARE(f.view.ViewStart(), 15.0);
        Mouse(f.view, QEvent::MouseMove, QPoint(-50, 100));  // left of the control
        QCOMPARE(f.view.ViewStart(), 0.0);
        Mouse(f.view, QEvent::MouseButtonRelease, QPoint(-50, 100));
        QVERIFY(!f.view.HasSelection());
        QCOMPARE(f.view.PlayPos(), 0.0);
    }

    void wheelZoomsAboutThePointer()
    {
        TViewFixture f;
        QSignalSpy view(&f.view, &TWaveView::OnViewChange);
        Wheel(f.view, 175, 120);
        QVERIFY(qAbs(f.view.ViewLen() - 100 / 1.4) < 1e-9);
        const TWaveWindow w{100, f.view.ViewStart(), f.view.ViewEnd(), 700};
        QVERIFY(qAbs(w.ViewTimeOfPx(175) - 25) < 1e-9);
        Wheel(f.view, 175, 15);  // a small delta is still one step
        QVERIFY(qAbs(f.view.ViewLen() - 100 / 1.4 / 1.4) < 1e-9);
        Wheel(f.view, 175, -120);
        QVERIFY(qAbs(f.view.ViewLen() - 100 / 1.4) < 1e-9);
        QCOMPARE(view.count(), 3);
        // Sideways scrolling (a tilt wheel, a touchpad) is no zoom step, but still handled here.
        const double start = f.view.ViewStart();
        QVERIFY(Wheel(f.view, 175, QPoint(120, 0)));
        QVERIFY(Wheel(f.view, 175, QPoint(-120, 0)));
        QCOMPARE(f.view.ViewStart(), start);
        QVERIFY(qAbs(f.view.ViewLen() - 100 / 1.4) < 1e-9);
        QCOMPARE(view.count(), 3);
        // A diagonal turn zooms by its vertical part.
        Wheel(f.view, 175, QPoint(-120, 120));
        QVERIFY(qAbs(f.view.ViewLen() - 100 / 1.4 / 1.4) < 1e-9);
    }

    void zoomLimits()
    {
        TViewFixture f;
        QSignalSpy view(&f.view, &TWaveView::OnViewChange);
        f.view.ZoomOut();  // from the full view: stays, still notifies
        QCOMPARE(f.view.ViewStart(), 0.0);
        QCOMPARE(f.view.ViewLen(), 100.0);
        QCOMPARE(view.count(), 1);
        for (int i = 0; i < 30; ++i)
            f.view.ZoomIn();
        QVERIFY(qAbs(f.view.ViewLen() - 0.05) < 1e-12);
        QVERIFY(qAbs(f.view.ViewStart() + 0.025 - 50) < 1e-9);

        TViewFixture tiny(MakeEnv(3, TEnvPoint()), 0.03);
        tiny.view.ZoomIn();
        QCOMPARE(tiny.view.ViewStart(), 0.0);
        QVERIFY(qAbs(tiny.view.ViewLen() - 0.03) < 1e-12);
    }

    void zoomToSelectionNeedsASelection()
    {
        TViewFixture f;
        QSignalSpy view(&f.view, &TWaveView::OnViewChange);
        f.view.ZoomToSelection();
        QCOMPARE(view.count(), 0);
        Drag(f.view, 100, {350, 420});
        f.view.ZoomToSelection();
        QCOMPARE(view.count(), 1);
        QCOMPARE(f.view.ViewStart(), 50.0);
        QCOMPARE(f.view.ViewLen(), 10.0);
        f.view.ZoomAll();
        QCOMPARE(f.view.ViewLen(), 100.0);
    }

    void setDataResetsTheView()
    {
        TViewFixture f;
        Drag(f.view, 100, {350, 420});
        f.view.SetPlayPos(12);
        QSignalSpy view(&f.view, &TWaveView::OnViewChange);
        QSignalSpy sel(&f.view, &TWaveView::OnSelectionChange);
        const TEnvArray env = MakeEnv(10, TEnvPoint());
        f.view.SetData(env, 99, 40, 4.5);  // a count beyond the envelope is cut to its length
        QCOMPARE(f.view.EnvCount(), 10);
        QCOMPARE(f.view.SecPerPoint(), 4.5);
        QCOMPARE(f.view.ViewStart(), 0.0);
        QCOMPARE(f.view.ViewEnd(), 40.0);
        QCOMPARE(f.view.SelStart(), -1.0);
        QCOMPARE(f.view.PlayPos(), 0.0);
        QCOMPARE(view.count(), 1);
        QCOMPARE(sel.count(), 0);
        QCOMPARE(env.use_count(), 2);  // the view shares the envelope, it does not copy it
        f.view.SetData(env, 10, 0, std::nan(""));
        QCOMPARE(f.view.ViewEnd(), 0.05);
        QCOMPARE(f.view.SecPerPoint(), 0.0);  // not a number: the points spread evenly
        f.view.ClearData();
        QCOMPARE(env.use_count(), 1);
        QCOMPARE(view.count(), 2);
    }

    void withoutDataOnlyZoomAllAndClearSelectionNotify()
    {
        TWaveView v(nullptr);
        QSignalSpy view(&v, &TWaveView::OnViewChange);
        QSignalSpy sel(&v, &TWaveView::OnSelectionChange);
        QSignalSpy seek(&v, &TWaveView::OnSeek);
        Drag(v, 100, {100, 300});
        Drag(v, 5, {100, 300});
        Wheel(v, 100, 120);
        v.ZoomIn();
        v.ZoomOut();
        v.ZoomToSelection();
        QCOMPARE(view.count() + sel.count() + seek.count(), 0);
        QVERIFY(!v.HasSelection());
        v.ZoomAll();
        QCOMPARE(view.count(), 1);
        v.ClearSelection();
        QCOMPARE(sel.count(), 1);
    }
};

VORNAK_TEST_MAIN(tst_uWaveView)
#include "tst_uWaveView.moc"
