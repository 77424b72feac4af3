// Drawing helpers: rectangles exclude their right column and bottom row, lines their end point.
#include "TestMain.h"
#include "uPaint.h"

#include <QImage>
#include <QPainter>
#include <QTest>

class tst_uPaint : public QObject {
    Q_OBJECT

    static QImage Blank(int AWidth = 40, int AHeight = 40)
    {
        QImage img(AWidth, AHeight, QImage::Format_RGB32);
        img.fill(Qt::black);
        return img;
    }
    static int Lit(const QImage &AImg)
    {
        int n = 0;
        for (int y = 0; y < AImg.height(); ++y)
            for (int x = 0; x < AImg.width(); ++x)
                n += AImg.pixel(x, y) != qRgb(0, 0, 0);
        return n;
    }

private slots:
    void roundPxTiesToEven_data()
    {
        QTest::addColumn<double>("v");
        QTest::addColumn<int>("expected");
        QTest::addRow("2.5 down") << 2.5 << 2;
        QTest::addRow("3.5 up") << 3.5 << 4;
        QTest::addRow("-2.5 to -2") << -2.5 << -2;
        QTest::addRow("2.49") << 2.49 << 2;
        QTest::addRow("huge saturates") << 1e300 << 1000000000;
        QTest::addRow("nan is far left") << std::nan("") << -1000000000;
    }
    void roundPxTiesToEven()
    {
        QFETCH(double, v);
        QFETCH(int, expected);
        QCOMPARE(RoundPx(v), expected);
    }

    void fillExcludesRightColumnAndBottomRow()
    {
        QImage img = Blank();
        QPainter p(&img);
        FillLTRB(p, 5, 6, 10, 9, Qt::white);
        p.end();
        QCOMPARE(img.pixel(5, 6), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(9, 8), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(10, 8), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(9, 9), qRgb(0, 0, 0));
        QCOMPARE(Lit(img), 5 * 3);
    }

    void lineExcludesEndPoint_data()
    {
        QTest::addColumn<QPoint>("a");
        QTest::addColumn<QPoint>("b");
        QTest::addColumn<int>("pixels");
        QTest::addRow("down") << QPoint(3, 3) << QPoint(3, 10) << 7;
        QTest::addRow("up") << QPoint(3, 10) << QPoint(3, 3) << 7;
        QTest::addRow("right") << QPoint(3, 3) << QPoint(13, 3) << 10;
        QTest::addRow("left") << QPoint(13, 3) << QPoint(3, 3) << 10;
        QTest::addRow("diagonal") << QPoint(2, 2) << QPoint(12, 12) << 10;
        QTest::addRow("steep") << QPoint(2, 2) << QPoint(5, 20) << 18;
        QTest::addRow("zero length") << QPoint(4, 4) << QPoint(4, 4) << 0;
    }
    void lineExcludesEndPoint()
    {
        QFETCH(QPoint, a);
        QFETCH(QPoint, b);
        QFETCH(int, pixels);
        QImage img = Blank();
        QPainter p(&img);
        LineExcl(p, a, b, Qt::white);
        p.end();
        QCOMPARE(Lit(img), pixels);
        if (pixels > 0) {
            QCOMPARE(img.pixel(a), qRgb(255, 255, 255));
            QCOMPARE(img.pixel(b), qRgb(0, 0, 0));
        }
    }

    void frameCoversOnlyItsEdgeRows()
    {
        QImage img = Blank();
        QPainter p(&img);
        FrameLTRB(p, 4, 4, 14, 10, Qt::white);
        p.end();
        QCOMPARE(img.pixel(4, 4), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(13, 9), qRgb(255, 255, 255));
        QCOMPARE(img.pixel(14, 9), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(13, 10), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(8, 7), qRgb(0, 0, 0));
    }

    void roundRectLeavesCornersAndKeepsEdges()
    {
        QImage img = Blank(96, 40);
        QPainter p(&img);
        RoundRectLTRB(p, 0, 0, 96, 40, 10, 10, QColor(77, 77, 77), QColor(43, 43, 43));
        p.end();
        for (QPoint corner : {QPoint(0, 0), QPoint(95, 0), QPoint(0, 39), QPoint(95, 39)})
            QCOMPARE(img.pixel(corner), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(48, 0), qRgb(77, 77, 77));   // top edge
        QCOMPARE(img.pixel(48, 39), qRgb(77, 77, 77));  // bottom row is the last one
        QCOMPARE(img.pixel(0, 20), qRgb(77, 77, 77));
        QCOMPARE(img.pixel(95, 20), qRgb(77, 77, 77));
        QCOMPARE(img.pixel(48, 20), qRgb(43, 43, 43));
        QCOMPARE(img.pixel(1, 20), qRgb(43, 43, 43));
        // The outline is closed: each row's first lit pixel is border-coloured.
        for (int y = 0; y < 40; ++y) {
            int x = 0;
            while (x < 96 && img.pixel(x, y) == qRgb(0, 0, 0))
                ++x;
            QVERIFY2(x < 10, qPrintable(QString::number(y)));
            QCOMPARE(img.pixel(x, y), qRgb(77, 77, 77));
        }
        // Symmetric left/right and top/bottom.
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 96; ++x) {
                QCOMPARE(img.pixel(x, y), img.pixel(95 - x, y));
                QCOMPARE(img.pixel(x, y), img.pixel(x, 39 - y));
            }
    }
};

VORNAK_TEST_MAIN(tst_uPaint)
#include "tst_uPaint.moc"
