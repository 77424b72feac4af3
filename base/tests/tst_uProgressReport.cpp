// Whole percentages of work done: both rounding rules, the reports below 100 only, the closing 100 with and
// without a repeat, no total, a cancel answered by the report, and the latch that remembers a stop.
#include "TestMain.h"
#include "uProgressReport.h"

#include <QTest>

Q_DECLARE_METATYPE(TPercentRounding)

class TestProgressReport : public QObject {
    Q_OBJECT
private slots:
    void reportsEachRiseAsItsCallerShowsIt_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<TPercentRounding>("rounding");
        QTest::addColumn<bool>("onlyBelow100");
        QTest::addColumn<QList<qint64>>("done");
        QTest::addColumn<int>("finish");  // -1 none, 0 once, 1 repeated
        QTest::addColumn<QList<int>>("reported");
        const auto even = TPercentRounding::HalfEven, down = TPercentRounding::Down;
        // A pass over 200 bytes: 0.5 % and 2.5 % round to the even neighbour, 99.5 % to 100.
        QTest::newRow("half to even, closing 100 repeated")
            << qint64(200) << even << false << QList<qint64>{1, 3, 5, 199, 200} << 1 << QList<int>{0, 2, 100, 100};
        QTest::newRow("below 100 only, closing 100 once")
            << qint64(200) << even << true << QList<qint64>{1, 3, 199, 200} << 1 << QList<int>{0, 2, 100};
        QTest::newRow("more than the total goes past 100")
            << qint64(100) << even << false << QList<qint64>{100, 150} << -1 << QList<int>{100, 150};
        QTest::newRow("rounded down, capped, 100 not repeated")
            << qint64(3) << down << false << QList<qint64>{1, 2, 3, 4} << 0 << QList<int>{33, 66, 100};
        QTest::newRow("rounded down, 100 added at the end")
            << qint64(3) << down << false << QList<qint64>{1} << 0 << QList<int>{33, 100};
        QTest::newRow("no total: only the closing 100")
            << qint64(0) << even << false << QList<qint64>{5} << 1 << QList<int>{100};
        QTest::newRow("no total and no closing: nothing")
            << qint64(-1) << down << false << QList<qint64>{5} << -1 << QList<int>{};
    }
    void reportsEachRiseAsItsCallerShowsIt()
    {
        QFETCH(qint64, total);
        QFETCH(TPercentRounding, rounding);
        QFETCH(bool, onlyBelow100);
        QFETCH(QList<qint64>, done);
        QFETCH(int, finish);
        QFETCH(QList<int>, reported);
        QList<int> seen;
        TPercentReporter reporter(TProgressProc([&](int APercent) { seen << APercent; }), total, rounding, onlyBelow100);
        for (qint64 d : done)
            QVERIFY(reporter.Report(d));
        if (finish >= 0)
            reporter.Finish(finish == 1);
        QCOMPARE(seen, reported);
    }

    void aCancelStopsAndNoCallbackReportsNothing()
    {
        QList<int> seen;
        TPercentReporter reporter(TCancelProgress([&](int APercent) {
                                      seen << APercent;
                                      return APercent < 50;
                                  }),
                                  4, TPercentRounding::HalfEven);
        QVERIFY(reporter.Report(1));
        QVERIFY(reporter.Report(1));  // no rise: not asked again
        QVERIFY(!reporter.Report(2));
        QCOMPARE(seen, (QList<int>{25, 50}));

        TPercentReporter silent(TProgressProc(), 4, TPercentRounding::HalfEven);
        QVERIFY(silent.Report(4));
        silent.Finish(true);
        QCOMPARE(silent.PercentOf(3), 75);
    }

    // A latch remembers a stop, whether the callback answered it or the flag was set, and asks the callback
    // nothing after it; with neither a callback nor a flag it hands out no callback at all.
    void aCancelLatchRemembersTheStop()
    {
        QList<int> seen;
        TCancelLatch answered(TCancelProgress([&](int APercent) {
            seen << APercent;
            return APercent < 20;
        }));
        const TCancelProgress callback = answered.Callback();
        QVERIFY(callback(10));
        QVERIFY(!answered.Stopped());
        QVERIFY(!callback(20));
        QVERIFY(!callback(30));
        QVERIFY(answered.Stopped());
        QCOMPARE(seen, (QList<int>{10, 20}));

        std::atomic<bool> cancel{false};
        TCancelLatch flagged(TCancelProgress(), &cancel);
        QVERIFY(flagged.Callback());
        QVERIFY(flagged.Report(5));
        cancel = true;
        QVERIFY(flagged.Stopped());
        cancel = false;
        QVERIFY(!flagged.Report(6));

        QVERIFY(!TCancelLatch().Callback());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestProgressReport)
#include "tst_uProgressReport.moc"
