// Placeholder while the test is written.
#include <QtTest>
class Placeholder : public QObject { Q_OBJECT };
QTEST_MAIN(Placeholder)
#include "tst_uSearch.moc"
