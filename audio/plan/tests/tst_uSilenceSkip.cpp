// Silence skipping: which stretches of an envelope are jumped over.
#include "TestMain.h"
#include "uSilenceSkip.h"

#include <QTest>

namespace {

// One envelope point per character: '.' silent, 'q' at the quiet limit (+-327 on both channels),
// 'L' +328 on the left, 'n' -328 on the left, 'r' +328 on the right only, 'X' -32768 on the left.
std::vector<TEnvPoint> Env(const QString &APattern)
{
    std::vector<TEnvPoint> env;
    for (QChar c : APattern) {
        TEnvPoint p;
        switch (c.toLatin1()) {
        case 'q': p = {-327, 327, -327, 327}; break;
        case 'L': p.MxL = 328; break;
        case 'n': p.MnL = -328; break;
        case 'r': p.MxR = 328; break;
        case 'X': p.MnL = -32768; break;
        default: break;
        }
        env.push_back(p);
    }
    return env;
}

QString Text(const std::vector<TSecRange> &ARanges)
{
    QStringList parts;
    for (const TSecRange &r : ARanges)
        parts << QString::asprintf("%.2f-%.2f", r.StartSec, r.EndSec);
    return parts.join(' ');
}

} // namespace

class TestSilenceSkip : public QObject {
    Q_OBJECT

private slots:
    // Points of 0.25 s unless the row says otherwise; the duration is points x 0.25 s unless given.
    void quietStretchesLongerThanTwoSecondsAreSkippedKeepingHalfASecond_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<double>("secPerPoint");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("skipped");
        QTest::addRow("nothing loaded") << "" << 0.25 << 0.0 << "";
        QTest::addRow("all loud") << "LLLLLLLLLLLL" << 0.25 << 3.0 << "";
        QTest::addRow("exactly 2 s of quiet is played") << "L........L" << 0.25 << 2.5 << "";
        QTest::addRow("2.25 s of quiet") << "L.........L" << 0.25 << 2.75 << "0.75-2.00";
        QTest::addRow("327 counts as quiet") << "LqqqqqqqqqL" << 0.25 << 2.75 << "0.75-2.00";
        QTest::addRow("-328 breaks the quiet") << "L....n....L" << 0.25 << 2.75 << "";
        QTest::addRow("the right channel alone breaks it") << "L....r....L" << 0.25 << 2.75 << "";
        QTest::addRow("-32768 is loud") << "L....X....L" << 0.25 << 2.75 << "";
        QTest::addRow("quiet at the start") << "..........L" << 0.25 << 2.75 << "0.50-2.00";
        QTest::addRow("quiet to a short last point") << "L........." << 0.25 << 2.4 << "0.75-1.90";
        QTest::addRow("two stretches") << "L.........L..........." << 0.25 << 5.5 << "0.75-2.00 3.25-5.00";
        QTest::addRow("whole recording quiet") << "...................." << 0.25 << 5.0 << "0.50-4.50";
        QTest::addRow("tone, 10 s, tone at 0.5 s points") << "LLLL....................LLLL" << 0.5 << 14.0
                                                           << "2.50-11.50";
        QTest::addRow("no point length") << "........." << 0.0 << 0.0 << "";
    }
    void quietStretchesLongerThanTwoSecondsAreSkippedKeepingHalfASecond()
    {
        QFETCH(QString, pattern);
        QFETCH(double, secPerPoint);
        QFETCH(double, duration);
        QTEST(Text(SilenceSkipRanges(Env(pattern), secPerPoint, duration)), "skipped");
    }
};

VORNAK_TEST_APPLESS_MAIN(TestSilenceSkip)
#include "tst_uSilenceSkip.moc"
