// Clock texts, format tables and the executable's folder.
#include "uReaderTypes.h"

#include <QtTest>

class TestReaderTypes : public QObject {
    Q_OBJECT
private slots:
    void formatDurationRoundsHalfToEvenAndShowsHoursUnbounded_data()
    {
        QTest::addColumn<double>("sec");
        QTest::addColumn<QString>("text");
        QTest::addRow("zero") << 0.0 << "00:00";
        QTest::addRow("59.4") << 59.4 << "00:59";
        QTest::addRow("59.5 to even 60") << 59.5 << "01:00";
        QTest::addRow("2.5 to even 2") << 2.5 << "00:02";
        QTest::addRow("3.5 to even 4") << 3.5 << "00:04";
        QTest::addRow("3599") << 3599.0 << "59:59";
        QTest::addRow("3599.5") << 3599.5 << "1:00:00";
        QTest::addRow("one hour") << 3600.0 << "1:00:00";
        QTest::addRow("ten hours") << 36000.0 << "10:00:00";
        QTest::addRow("hundred hours") << 360000.0 << "100:00:00";
        QTest::addRow("negative") << -5.0 << "00:00";
    }
    void formatDurationRoundsHalfToEvenAndShowsHoursUnbounded()
    {
        QFETCH(double, sec);
        QFETCH(QString, text);
        QCOMPARE(FormatDuration(sec), text);
    }

    void formatTimeMsCarriesRoundedMilliseconds_data()
    {
        QTest::addColumn<double>("sec");
        QTest::addColumn<QString>("text");
        QTest::addRow("zero") << 0.0 << "00:00.000";
        QTest::addRow("12.5") << 12.5 << "00:12.500";
        QTest::addRow("61.25") << 61.25 << "01:01.250";
        QTest::addRow("62.5 ms to even") << 2.0625 << "00:02.062";
        QTest::addRow("carry into seconds") << 1.9996 << "00:02.000";
        QTest::addRow("carry into hours") << 3599.9996 << "1:00:00.000";
        QTest::addRow("hours and ms") << 3723.004 << "1:02:03.004";
        QTest::addRow("negative") << -1.0 << "00:00.000";
    }
    void formatTimeMsCarriesRoundedMilliseconds()
    {
        QFETCH(double, sec);
        QFETCH(QString, text);
        QCOMPARE(FormatTimeMs(sec), text);
    }

    void formatTablesFollowTheOrdinals()
    {
        QCOMPARE(QString(FormatName(TAudioFormat::afOPUS)), QString("OPUS"));
        QCOMPARE(QString(FormatExt(TAudioFormat::afOGG)), QString(".ogg"));
        QVERIFY(!FormatHasBitrate(TAudioFormat::afWAV));
        QVERIFY(FormatHasBitrate(TAudioFormat::afMP3));
        QVERIFY(FormatHasBitrate(TAudioFormat::afOGG));
        QVERIFY(FormatHasBitrate(TAudioFormat::afOPUS));
    }

    void appDirIsTheExecutablesFolderWithOneSeparator()
    {
        const QString dir = AppDir();
        QVERIFY(dir.endsWith('/'));
        QVERIFY(!dir.endsWith("//"));
        QCOMPARE(dir, QCoreApplication::applicationDirPath() + '/');
    }
};

QTEST_GUILESS_MAIN(TestReaderTypes)
#include "tst_uReaderTypes.moc"
