// Signal measurement dialog: its Dutch figures, the places in time order, and the jump from a row.
#include "TestMain.h"
#include "uLoudnessView.h"

#include <QSignalSpy>
#include <QTest>

#include <QLabel>
#include <QTreeWidget>
#include <limits>

class TestuLoudnessView : public QObject {
    Q_OBJECT
private slots:
    void figuresAreDutch_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addRow("negative, rounded") << -23.44 << QStringLiteral("\u221223,4");
        QTest::addRow("positive") << 6.24 << QStringLiteral("6,2");
        QTest::addRow("minus zero") << -0.04 << QStringLiteral("0,0");
        QTest::addRow("silence") << -std::numeric_limits<double>::infinity() << QStringLiteral("\u2212\u221E");
    }
    void figuresAreDutch()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(DutchFigure(value), text);
    }

    void dialogShowsTheMeasurementAndJumpsFromARow()
    {
        TLoudnessResult r;
        r.IntegratedLufs = -23.4;
        r.RangeLu = 6.2;
        r.TruePeakDbtp = -1.3;
        r.SamplePeakDbfs = -1.9;
        r.MomentaryMaxLufs = -15;
        r.ShorttermMaxLufs = -18;
        r.ClipRunCount = 1;
        r.ClipRuns = {{3725.5, 1}};
        r.SilentStretchCount = 2;
        r.SilentStretches = {{12.0, 17.0}, {4000.0, 4010.0}};
        r.SilentSeconds = 15;
        TfrmLoudness dlg(nullptr);
        dlg.Setup(r, QDateTime(QDate(2026, 12, 10), QTime(23, 30, 0)));
        auto text = [&dlg](const char *AName) { return dlg.findChild<QLabel *>(AName)->text(); };
        QCOMPARE(text("lblIntegrated"), QStringLiteral("Geïntegreerde luidheid: \u221223,4 LUFS"));
        QCOMPARE(text("lblRange"), QStringLiteral("Luidheidsbereik: 6,2 LU"));
        QCOMPARE(text("lblTruePeak"), QStringLiteral("Echte piek: \u22121,3 dBTP"));

        auto *list = dlg.findChild<QTreeWidget *>("lvPlaces");
        QVERIFY(list);
        QCOMPARE(list->topLevelItemCount(), 3);
        QStringList clocks, positions;
        for (int i = 0; i < 3; ++i) {
            clocks << list->topLevelItem(i)->text(0);
            positions << list->topLevelItem(i)->text(1);
        }
        QCOMPARE(clocks, (QStringList{"23:30:12", "00:32:05", "00:36:40"}));  // past midnight
        QCOMPARE(positions, (QStringList{"00:12.000", "1:02:05.500", "1:06:40.000"}));
        QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("Oversturing"));
        QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("kanaal 2"));
        QCOMPARE(list->topLevelItem(2)->text(3), QStringLiteral("00:10"));

        QSignalSpy jumps(&dlg, &TfrmLoudness::OnJump);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        list->scrollToItem(list->topLevelItem(1));
        const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
        // A double-click is a click followed by a double-click event, as a real mouse delivers it.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(jumps.count(), 1);
        QCOMPARE(jumps.first().first().toDouble(), 3725.5);
    }
};

VORNAK_TEST_MAIN(TestuLoudnessView)
#include "tst_uLoudnessView.moc"
