// The thread group: every thread joined by Join and on every way out of its scope, an exception included.
#include "TestMain.h"
#include "uThreadGroup.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <stdexcept>

class TestThreadGroup : public QObject {
    Q_OBJECT
private slots:
    void joinsOnEveryWayOut()
    {
        std::atomic<int> finished{0};
        const auto slowWork = [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ++finished;
        };
        try {
            TThreadGroup group;
            for (int i = 0; i < 3; ++i)
                group.Start(slowWork);
            throw std::runtime_error("the owner fails while its threads run");
        } catch (const std::runtime_error &) {
        }
        QCOMPARE(finished.load(), 3);

        TThreadGroup group;
        group.Start(slowWork);
        group.Join();
        QCOMPARE(finished.load(), 4);
        group.Start(slowWork);  // a group goes on after a Join
        group.Join();
        group.Join();
        QCOMPARE(finished.load(), 5);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestThreadGroup)
#include "tst_uThreadGroup.moc"
