// The exit guard: a process that used audio output ends with its own status and output, and the teardown
// registered before the guard (where Qt Multimedia's sound server connections are closed) does not run.
#include "TestMain.h"
#include "uAudioExit.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

// Second run of this program. Exit handlers stand in for static destructors: "first" was registered
// before any audio use, "sink" after the device query and before the first sink start (as the sinks'
// server connection is), "late" after both guards. Prints "main" without a newline and ends with
// AStatus, from main or from exit.
int RunChild(int AStatus, bool AFromExit)
{
    std::atexit([] { std::fputs(" first", stdout); });
    GuardAudioExit(TAudioUse::auDeviceQuery);
    std::atexit([] { std::fputs(" sink", stdout); });
    GuardAudioExit(TAudioUse::auSinkStart);
    GuardAudioExit(TAudioUse::auDeviceQuery);  // registered once: nothing changes
    std::atexit([] { std::fputs(" late", stdout); });
    std::fputs("main", stdout);
    if (AFromExit)
        std::exit(AStatus);
    return AStatus;
}

} // namespace

class TestAudioExit : public QObject {
    Q_OBJECT
private slots:
    void endsWithItsStatusBeforeTheEarlierTeardown_data();
    void endsWithItsStatusBeforeTheEarlierTeardown();
};

void TestAudioExit::endsWithItsStatusBeforeTheEarlierTeardown_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("fromExit");
    QTest::addRow("main returns 0") << 0 << false;
    QTest::addRow("main returns 3") << 3 << false;
    QTest::addRow("exit(5) called") << 5 << true;
}

void TestAudioExit::endsWithItsStatusBeforeTheEarlierTeardown()
{
    QFETCH(int, status);
    QFETCH(bool, fromExit);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--exit-child"), QString::number(status), fromExit ? QStringLiteral("exit") : QString()});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), status);
    // Unflushed output is written; what was registered after the guard runs; nothing registered before it.
    QCOMPARE(child.readAllStandardOutput(), QByteArray("main late"));
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    if (AArgc == 4 && qstrcmp(AArgv[1], "--exit-child") == 0)
        return RunChild(std::atoi(AArgv[2]), qstrcmp(AArgv[3], "exit") == 0);
    QCoreApplication app(AArgc, AArgv);
    TestAudioExit tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uAudioExit.moc"
