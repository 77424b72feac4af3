// The first main window on a screen lower than the window's design size: it fits the screen's available
// area with its frame, on a virtual screen of 1280 × 780 whose windows get a frame.
#include "MainWindowTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uApplication.h"
#include "uMain.h"

#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

class TestMainFit : public QObject {
    Q_OBJECT
private slots:
    void firstWindowFitsTheAvailableAreaWithItsFrame();
};

void TestMainFit::firstWindowFitsTheAvailableAreaWithItsFrame()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TTestPrompt prompt;
    StartSettings(prompt, dir.path(), dir.filePath(QStringLiteral("none.sqlite")), dir.path());
    TfrmMain w;
    w.Commands().SetPrompt(prompt);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect available = w.screen()->availableGeometry();
    QCOMPARE(available, QRect(0, 0, 1280, 780));
    QTRY_VERIFY2(w.frameGeometry() != w.geometry(), "the virtual screen gives windows no frame");
    QTRY_VERIFY2(available.contains(w.frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(w.frameGeometry().x()).arg(w.frameGeometry().y())
                                .arg(w.frameGeometry().width()).arg(w.frameGeometry().height())));
    QCOMPARE(w.width(), MainClientWidth);  // wide enough: only the height gave way
    QVERIFY(w.height() >= w.minimumHeight());
    QCOMPARE(w.frameGeometry().center().x(), available.center().x());
    EndSettings();
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    QTemporaryDir config;
    QFile json(config.filePath(QStringLiteral("screen.json")));
    if (!json.open(QIODevice::WriteOnly) ||
        json.write(R"({"windowFrameMargins": true, "screens": [{"name": "low", "x": 0, "y": 0, "width": 1280,)"
                   R"( "height": 780, "logicalDpi": 96}]})") <= 0)
        qFatal("screen configuration not written");
    json.close();
    qputenv("QT_QPA_PLATFORM", QFile::encodeName(QStringLiteral("offscreen:configfile=") + json.fileName()));
    TReaderApplication app(AArgc, AArgv);
    TestMainFit tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uMainFit.moc"
