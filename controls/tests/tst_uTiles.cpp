// Tile button: colour states, corner transparency, glyph pixels, hot tracking, clicks, repaints.
#include "TestMain.h"
#include "uTiles.h"

#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QSignalSpy>
#include <QTest>

namespace {

const QRgb parentBg = qRgb(1, 2, 3);

// A parent with a known background and one tile at (10, 10).
struct TTileFixture {
    QWidget parent;
    TTileButton *tile;
    TTileFixture(int AWidth = 96, int AHeight = 40)
    {
        parent.resize(AWidth + 20, AHeight + 20);
        parent.setAutoFillBackground(true);
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, QColor(parentBg));
        parent.setPalette(pal);
        tile = new TTileButton(&parent);
        tile->move(10, 10);
        tile->resize(AWidth, AHeight);
    }
    // Pixel at tile coordinates, as composed on the parent.
    QImage Render()
    {
        QImage img(parent.size(), QImage::Format_RGB32);
        img.fill(Qt::magenta);
        parent.render(&img);
        return img.copy(10, 10, tile->width(), tile->height());
    }
};

void Enter(QWidget *AWidget)
{
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(AWidget, &e);
}
void Leave(QWidget *AWidget)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(AWidget, &e);
}

// Counts paints so that "no repaint" can be checked.
class TCountingTile : public TTileButton {
public:
    using TTileButton::TTileButton;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *AEvent) override
    {
        ++paints;
        TTileButton::paintEvent(AEvent);
    }
};

} // namespace

class tst_uTiles : public QObject {
    Q_OBJECT
private slots:
    void newTileHasDefaults()
    {
        TTileButton t(nullptr);
        QCOMPARE(t.size(), QSize(96, 40));
        QCOMPARE(t.Radius(), 10);
        QCOMPARE(t.Glyph(), TTileGlyph::tgNone);
        QVERIFY(t.Caption().isEmpty());
        QVERIFY(!t.Selected());
        QCOMPARE(t.focusPolicy(), Qt::NoFocus);
        QVERIFY(!t.testAttribute(Qt::WA_NativeWindow));
    }

    void glyphGeometry_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("cx");
        QTest::addColumn<int>("cy");
        QTest::addColumn<int>("s");
        QTest::addColumn<int>("h");
        QTest::addRow("default tile") << QSize(96, 40) << 48 << 20 << 16 << 8;
        QTest::addRow("calendar navigation") << QSize(34, 28) << 17 << 14 << 10 << 5;
        QTest::addRow("under 16 pixels keeps s 4") << QSize(12, 30) << 6 << 15 << 4 << 2;
        QTest::addRow("odd size truncates") << QSize(33, 27) << 16 << 13 << 9 << 4;
    }
    void glyphGeometry()
    {
        QFETCH(QSize, size);
        const TGlyphGeom g = GlyphGeometry(QRect(QPoint(0, 0), size));
        QTEST(g.cx, "cx");
        QTEST(g.cy, "cy");
        QTEST(g.s, "s");
        QTEST(g.h, "h");
    }

    void stateColours_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("hot");
        QTest::addColumn<QColor>("border");
        QTest::addColumn<QColor>("fill");
        QTest::addRow("normal") << true << false << false << QColor(77, 77, 77) << QColor(43, 43, 43);
        QTest::addRow("hot") << true << false << true << QColor(77, 77, 77) << QColor(60, 60, 60);
        QTest::addRow("selected") << true << true << false << QColor(242, 228, 0) << QColor(242, 228, 0);
        QTest::addRow("selected under pointer stays selected")
            << true << true << true << QColor(242, 228, 0) << QColor(242, 228, 0);
        QTest::addRow("disabled") << false << false << false << QColor(51, 51, 51) << QColor(35, 35, 35);
        QTest::addRow("disabled selected") << false << true << false << QColor(51, 51, 51)
                                           << QColor(35, 35, 35);
    }
    void stateColours()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, selected);
        QFETCH(bool, hot);
        QFETCH(QColor, border);
        QFETCH(QColor, fill);
        TTileFixture f;
        f.tile->SetSelected(selected);
        if (hot)
            Enter(f.tile);
        f.tile->setEnabled(enabled);
        const QImage img = f.Render();
        QCOMPARE(img.pixel(48, 0), border.rgb());
        QCOMPARE(img.pixel(48, 39), border.rgb());
        QCOMPARE(img.pixel(0, 20), border.rgb());
        QCOMPARE(img.pixel(95, 20), border.rgb());
        QCOMPARE(img.pixel(48, 20), fill.rgb());
        QCOMPARE(img.pixel(1, 20), fill.rgb());
        // The corners outside the rounded shape show the parent.
        for (QPoint c : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(95, 0), QPoint(0, 39),
                         QPoint(95, 39)})
            QCOMPARE(img.pixel(c), parentBg);
    }

    void hotTrackingFollowsEnabledState()
    {
        TTileFixture f;
        Enter(f.tile);
        QCOMPARE(f.Render().pixel(48, 20), qRgb(60, 60, 60));
        f.tile->setEnabled(false);  // under the pointer: disabled colours at once
        QCOMPARE(f.Render().pixel(48, 20), qRgb(35, 35, 35));
        f.tile->setEnabled(true);   // pointer still there: hot again
        QCOMPARE(f.Render().pixel(48, 20), qRgb(60, 60, 60));
        Leave(f.tile);
        QCOMPARE(f.Render().pixel(48, 20), qRgb(43, 43, 43));
        f.tile->setEnabled(false);
        Enter(f.tile);              // entering a disabled tile does not make it hot
        f.tile->setEnabled(true);
        QCOMPARE(f.Render().pixel(48, 20), qRgb(43, 43, 43));
    }

    // Pixels of the default 96 x 40 tile (cx 48, cy 20, s 16, h 8) in the normal state.
    void glyphPixels_data()
    {
        QTest::addColumn<TTileGlyph>("glyph");
        QTest::addColumn<QPoint>("pt");
        QTest::addColumn<QColor>("expected");
        const QColor fore(230, 230, 230), fill(43, 43, 43);
        QTest::addRow("play inside") << TTileGlyph::tgPlay << QPoint(48, 20) << fore;
        QTest::addRow("play near its upright") << TTileGlyph::tgPlay << QPoint(36, 20) << fore;
        QTest::addRow("play left of it") << TTileGlyph::tgPlay << QPoint(31, 20) << fill;
        QTest::addRow("play right of tip") << TTileGlyph::tgPlay << QPoint(66, 20) << fill;
        QTest::addRow("pause left bar") << TTileGlyph::tgPause << QPoint(33, 4) << fore;
        QTest::addRow("pause left bar last column") << TTileGlyph::tgPause << QPoint(45, 35) << fore;
        QTest::addRow("pause gap") << TTileGlyph::tgPause << QPoint(46, 20) << fill;
        QTest::addRow("pause right bar") << TTileGlyph::tgPause << QPoint(50, 20) << fore;
        QTest::addRow("pause right bar excluded column") << TTileGlyph::tgPause << QPoint(63, 20) << fill;
        QTest::addRow("pause bottom row excluded") << TTileGlyph::tgPause << QPoint(40, 36) << fill;
        QTest::addRow("stop top left") << TTileGlyph::tgStop << QPoint(32, 4) << fore;
        QTest::addRow("stop bottom right") << TTileGlyph::tgStop << QPoint(63, 35) << fore;
        QTest::addRow("stop right column excluded") << TTileGlyph::tgStop << QPoint(64, 20) << fill;
        QTest::addRow("stop bottom row excluded") << TTileGlyph::tgStop << QPoint(48, 36) << fill;
        QTest::addRow("save outline") << TTileGlyph::tgSave << QPoint(32, 20) << fore;
        QTest::addRow("save shutter") << TTileGlyph::tgSave << QPoint(45, 10) << fore;
        QTest::addRow("save between") << TTileGlyph::tgSave << QPoint(48, 20) << fill;
        QTest::addRow("save label") << TTileGlyph::tgSave << QPoint(48, 28) << QColor(43, 43, 43);
        QTest::addRow("zoom fit hollow") << TTileGlyph::tgZoomFit << QPoint(46, 19) << fill;
        QTest::addRow("zoom fit ring") << TTileGlyph::tgZoomFit << QPoint(34, 18) << fore;
        QTest::addRow("zoom fit handle") << TTileGlyph::tgZoomFit << QPoint(61, 33) << fore;
        QTest::addRow("zoom out minus") << TTileGlyph::tgZoomOut << QPoint(46, 19) << fore;
        QTest::addRow("zoom out no upright") << TTileGlyph::tgZoomOut << QPoint(46, 13) << fill;
        QTest::addRow("zoom in minus") << TTileGlyph::tgZoomIn << QPoint(40, 19) << fore;
        QTest::addRow("zoom in upright") << TTileGlyph::tgZoomIn << QPoint(46, 13) << fore;
        QTest::addRow("select cross bar") << TTileGlyph::tgSelect << QPoint(55, 32) << fore;
        QTest::addRow("select cross upright") << TTileGlyph::tgSelect << QPoint(59, 25) << fore;
        QTest::addRow("select inside empty") << TTileGlyph::tgSelect << QPoint(44, 16) << fill;
        QTest::addRow("prev vertex") << TTileGlyph::tgPrev << QPoint(40, 20) << fore;
        QTest::addRow("prev upper arm") << TTileGlyph::tgPrev << QPoint(48, 12) << fore;
        QTest::addRow("prev open side") << TTileGlyph::tgPrev << QPoint(56, 20) << fill;
        QTest::addRow("next vertex") << TTileGlyph::tgNext << QPoint(56, 20) << fore;
        QTest::addRow("next lower arm") << TTileGlyph::tgNext << QPoint(48, 28) << fore;
        QTest::addRow("next open side") << TTileGlyph::tgNext << QPoint(40, 20) << fill;
    }
    void glyphPixels()
    {
        QFETCH(TTileGlyph, glyph);
        QFETCH(QPoint, pt);
        QFETCH(QColor, expected);
        TTileFixture f;
        f.tile->SetGlyph(glyph);
        QCOMPARE(f.Render().pixel(pt), expected.rgb());
    }

    void saveLabelStaysDarkOnSelectedTile()
    {
        TTileFixture f;
        f.tile->SetGlyph(TTileGlyph::tgSave);
        f.tile->SetSelected(true);
        const QImage img = f.Render();
        QCOMPARE(img.pixel(48, 28), qRgb(43, 43, 43));
        QCOMPARE(img.pixel(45, 10), qRgb(32, 32, 32));    // shutter in the selected foreground
        QCOMPARE(img.pixel(48, 20), qRgb(242, 228, 0));
    }

    void glyphHidesCaption()
    {
        TTileFixture withCaption, without;
        withCaption.tile->SetGlyph(TTileGlyph::tgPlay);
        withCaption.tile->SetCaption(QStringLiteral("Afspelen"));
        without.tile->SetGlyph(TTileGlyph::tgPlay);
        QCOMPARE(withCaption.Render(), without.Render());
    }

    void emptyTileShowsOnlyTheRoundedRectangle()
    {
        TTileFixture f;
        const QImage img = f.Render();
        for (int y = 1; y < 39; ++y)
            for (int x = 3; x < 93; ++x)
                QCOMPARE(img.pixel(x, y), qRgb(43, 43, 43));
    }

    void smallTileClipsItsGlyph()
    {
        TTileFixture f(10, 10);  // s stays 4 and the glyph reaches past the edges
        f.tile->SetGlyph(TTileGlyph::tgStop);
        const QImage all = [&] {
            QImage img(f.parent.size(), QImage::Format_RGB32);
            f.parent.render(&img);
            return img;
        }();
        QCOMPARE(all.pixel(5, 5), parentBg);       // the square is clipped at the tile
        QCOMPARE(all.pixel(11, 11), qRgb(230, 230, 230));  // (cx - s, cy - s) = (1, 1)
    }

    void sameValueCausesNoRepaint_data()
    {
        QTest::addColumn<int>("property");
        QTest::addRow("Caption") << 0;
        QTest::addRow("Glyph") << 1;
        QTest::addRow("Selected") << 2;
    }
    void sameValueCausesNoRepaint()
    {
        QFETCH(int, property);
        QWidget parent;
        parent.resize(200, 100);
        auto *tile = new TCountingTile(&parent);
        tile->SetCaption(QStringLiteral("A"));
        tile->SetGlyph(TTileGlyph::tgStop);
        tile->SetSelected(true);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        QCoreApplication::processEvents();
        tile->paints = 0;
        auto set = [&](bool ASame) {
            switch (property) {
            case 0: tile->SetCaption(ASame ? QStringLiteral("A") : QStringLiteral("B")); break;
            case 1: tile->SetGlyph(ASame ? TTileGlyph::tgStop : TTileGlyph::tgPlay); break;
            default: tile->SetSelected(ASame); break;
            }
        };
        // A repaint is a posted event: handling the pending events delivers it, if one was asked for.
        set(true);
        QCoreApplication::processEvents();
        QCOMPARE(tile->paints, 0);
        set(false);
        QCoreApplication::processEvents();
        QVERIFY(tile->paints > 0);
    }

    void clickFiresOnReleaseInside_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("releaseAt");
        QTest::addColumn<int>("clicks");
        QTest::addRow("left inside") << true << Qt::LeftButton << QPoint(50, 20) << 1;
        QTest::addRow("released outside") << true << Qt::LeftButton << QPoint(120, 20) << 0;
        QTest::addRow("right button") << true << Qt::RightButton << QPoint(50, 20) << 0;
        QTest::addRow("disabled") << false << Qt::LeftButton << QPoint(50, 20) << 0;
    }
    void clickFiresOnReleaseInside()
    {
        QFETCH(bool, enabled);
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, releaseAt);
        TTileButton tile(nullptr);
        tile.setEnabled(enabled);
        QSignalSpy spy(&tile, &TTileButton::OnClick);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(40, 20), QPointF(40, 20), button,
                          button, Qt::NoModifier);
        QApplication::sendEvent(&tile, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, releaseAt, releaseAt, button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&tile, &release);
        QTEST(int(spy.count()), "clicks");
    }

    void hintShownOnlyWithShowHint()
    {
        TTileButton tile(nullptr);
        tile.SetHint(QStringLiteral("Inzoomen"));
        QVERIFY(tile.toolTip().isEmpty());
        tile.SetShowHint(true);
        QCOMPARE(tile.toolTip(), QStringLiteral("Inzoomen"));
        tile.SetTag(23);
        QCOMPARE(tile.Tag(), qint64(23));
    }
};

VORNAK_TEST_MAIN(tst_uTiles)
#include "tst_uTiles.moc"
