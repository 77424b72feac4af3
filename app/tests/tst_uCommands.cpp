// Tests of TReaderCommands without a window: the search result's day and playback with nothing loaded,
// every message read through TTestPrompt.
#include "TestMain.h"
#include "TestPrompt.h"
#include "uCommands.h"

#include <QTest>

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void SearchResultDay_data();
    void SearchResultDay();
    void PlaybackWithoutRecording();
};

void TestCommands::SearchResultDay_data()
{
    QTest::addColumn<QString>("recDate");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QDate>("day");
    QTest::newRow("plain") << "2025-03-14" << true << QDate(2025, 3, 14);
    QTest::newRow("unreadable day is the 1st") << "2025-03-xx" << true << QDate(2025, 3, 1);
    QTest::newRow("unreadable month is January") << "2025-xx-14" << true << QDate(2025, 1, 14);
    QTest::newRow("unreadable year is this year") << "xxxx-03-14" << true << QDate(QDate::currentDate().year(), 3, 14);
    QTest::newRow("other length: no day") << "2025-3-14" << true << QDate();
    QTest::newRow("no such day") << "2025-02-30" << false << QDate();
    QTest::newRow("month 13") << "2025-13-01" << false << QDate();
}

void TestCommands::SearchResultDay()
{
    QFETCH(QString, recDate);
    QFETCH(bool, ok);
    QFETCH(QDate, day);
    TReaderCommands commands(nullptr);
    TTestPrompt prompt;
    commands.SetPrompt(prompt);
    QDate got(2000, 1, 1);
    QCOMPARE(commands.SearchResultDay(recDate, got), ok);
    QCOMPARE(got, day);
    if (ok) {
        QVERIFY(prompt.Messages.isEmpty());
    } else {
        QCOMPARE(prompt.Messages.size(), 1);
        QCOMPARE(prompt.Messages[0].Icon, QMessageBox::Critical);
        QCOMPARE(prompt.Messages[0].Text, QStringLiteral("'%1' is geen geldige datum.").arg(recDate));
    }
}

void TestCommands::PlaybackWithoutRecording()
{
    TReaderCommands commands(nullptr);
    TTestPrompt prompt;
    commands.SetPrompt(prompt);
    QVERIFY(!commands.HasFile());
    commands.PlayFrom(3);  // nothing loaded: does nothing
    QVERIFY(!commands.IsPlaying());
    QVERIFY(!commands.Snapshot().Playing);
    commands.Pause();
    commands.Stop();
    QVERIFY(!commands.IsPlaying());
    QCOMPARE(commands.DurationSec(), 0.0);
    QVERIFY(prompt.Messages.isEmpty());
}

VORNAK_TEST_MAIN(TestCommands)
#include "tst_uCommands.moc"
