// Request targets, ranges and cookies as the API reads them.
#include "TestMain.h"
#include "uHttpHead.h"

#include <QTest>

class TestuHttpHead : public QObject {
    Q_OBJECT
private slots:
    void targetSplitsIntoPathAndQuery_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("queryName");
        QTest::addColumn<QString>("queryValue");
        QTest::addRow("plain path") << QByteArray("/api/days?month=2026-12") << true << QByteArray("/api/days")
                                    << "month" << "2026-12";
        QTest::addRow("escaped query with plus") << QByteArray("/api/search?name=Jan+de%20Vr%C3%AEs") << true
                                                 << QByteArray("/api/search") << "name" << QString::fromUtf8("Jan de Vrîs");
        QTest::addRow("dot dot") << QByteArray("/api/../etc/passwd") << false << QByteArray() << "" << "";
        QTest::addRow("escaped dot dot") << QByteArray("/%2e%2e/%2E%2E/etc/passwd") << false << QByteArray() << "" << "";
        QTest::addRow("single dot") << QByteArray("/./index.html") << false << QByteArray() << "" << "";
        QTest::addRow("escaped NUL in path") << QByteArray("/index.html%00.png") << false << QByteArray() << "" << "";
        QTest::addRow("escaped NUL in query") << QByteArray("/api/search?name=a%00b") << false << QByteArray() << "" << "";
        QTest::addRow("broken escape") << QByteArray("/api/search?name=%4") << false << QByteArray() << "" << "";
        QTest::addRow("escape at the end") << QByteArray("/a%") << false << QByteArray() << "" << "";
        QTest::addRow("backslash") << QByteArray("/..%5c..%5cetc") << false << QByteArray() << "" << "";
        QTest::addRow("not absolute") << QByteArray("api/days") << false << QByteArray() << "" << "";
        QTest::addRow("absolute URL") << QByteArray("http://evil/api/days") << false << QByteArray() << "" << "";
        QTest::addRow("dots inside a name are fine") << QByteArray("/app..js") << true << QByteArray("/app..js") << "" << "";
    }
    void targetSplitsIntoPathAndQuery()
    {
        QFETCH(QByteArray, target);
        QFETCH(bool, ok);
        QByteArray path;
        QMap<QString, QString> query;
        QCOMPARE(SplitTarget(target, path, query), ok);
        if (ok) {
            QTEST(path, "path");
            QFETCH(QString, queryName);
            if (!queryName.isEmpty())
                QTEST(query.value(queryName), "queryValue");
        }
    }

    void rangeSelectsOneSpanOrIsRefused_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("result");  // TRangeResult
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        const int whole = int(TRangeResult::Whole), ok = int(TRangeResult::Satisfiable),
                  refused = int(TRangeResult::Unsatisfiable);
        QTest::addRow("none") << QByteArray() << whole << qint64(0) << qint64(0);
        QTest::addRow("first and last") << QByteArray("bytes=10-19") << ok << qint64(10) << qint64(19);
        QTest::addRow("open end") << QByteArray("bytes=990-") << ok << qint64(990) << qint64(999);
        QTest::addRow("suffix") << QByteArray("bytes=-100") << ok << qint64(900) << qint64(999);
        QTest::addRow("suffix longer than the file") << QByteArray("bytes=-5000") << ok << qint64(0) << qint64(999);
        QTest::addRow("last beyond the end") << QByteArray("bytes=500-5000") << ok << qint64(500) << qint64(999);
        QTest::addRow("first at the end") << QByteArray("bytes=1000-") << refused << qint64(0) << qint64(0);
        QTest::addRow("reversed") << QByteArray("bytes=20-10") << refused << qint64(0) << qint64(0);
        QTest::addRow("negative") << QByteArray("bytes=-5-10") << refused << qint64(0) << qint64(0);
        QTest::addRow("zero suffix") << QByteArray("bytes=-0") << refused << qint64(0) << qint64(0);
        QTest::addRow("several ranges") << QByteArray("bytes=0-1,5-6,9-10") << refused << qint64(0) << qint64(0);
        QTest::addRow("number too long") << QByteArray("bytes=0-99999999999999999999999") << refused << qint64(0) << qint64(0);
        QTest::addRow("other unit") << QByteArray("items=0-1") << refused << qint64(0) << qint64(0);
        QTest::addRow("no dash") << QByteArray("bytes=5") << refused << qint64(0) << qint64(0);
        QTest::addRow("sign") << QByteArray("bytes=+5-10") << refused << qint64(0) << qint64(0);
    }
    void rangeSelectsOneSpanOrIsRefused()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, result);
        qint64 first = 0, last = 0;
        QCOMPARE(int(ParseRange(header, 1000, first, last)), result);
        if (result == int(TRangeResult::Satisfiable)) {
            QTEST(first, "first");
            QTEST(last, "last");
        }
    }

    void emptyFileHasNoSatisfiableRange()
    {
        qint64 first = 0, last = 0;
        QCOMPARE(ParseRange("bytes=0-", 0, first, last), TRangeResult::Unsatisfiable);
        QCOMPARE(ParseRange("bytes=-1", 0, first, last), TRangeResult::Unsatisfiable);
    }

    void gzipIsTakenUnlessRefused_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("takes");
        QTest::addRow("none") << QByteArray() << false;
        QTest::addRow("browser") << QByteArray("gzip, deflate, br, zstd") << true;
        QTest::addRow("weighted") << QByteArray("br;q=1.0, gzip;q=0.8") << true;
        QTest::addRow("upper case, spaces") << QByteArray(" GZIP ; Q=0.5") << true;
        QTest::addRow("x-gzip") << QByteArray("x-gzip") << true;
        QTest::addRow("refused") << QByteArray("gzip;q=0") << false;
        QTest::addRow("refused beside any") << QByteArray("*, gzip;q=0.000") << false;
        QTest::addRow("any") << QByteArray("*") << true;
        QTest::addRow("any refused") << QByteArray("*;q=0") << false;
        QTest::addRow("identity only") << QByteArray("identity") << false;
        QTest::addRow("a name containing it") << QByteArray("gzipped, notgzip") << false;
        QTest::addRow("bad weight") << QByteArray("gzip;q=abc") << false;
    }
    void gzipIsTakenUnlessRefused()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, takes);
        QCOMPARE(AcceptsGzip(header), takes);
    }

    void cookieIsFoundAmongOthers()
    {
        QCOMPARE(CookieValue("a=1; vornak_session=abc; b=2", "vornak_session"), QByteArray("abc"));
        QCOMPARE(CookieValue("xvornak_session=abc", "vornak_session"), QByteArray());
        QCOMPARE(CookieValue("", "vornak_session"), QByteArray());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestuHttpHead)
#include "tst_uHttpHead.moc"
