// Clock texts, format tables, the executable's folder, and file names by their bytes.
#include "TestMain.h"
#include "uReaderTypes.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

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

    // Any bytes survive PathFromBytes and PathBytes; valid UTF-8 reads as UTF-8, and every other byte
    // becomes one escape of its own (so two different foreign names never read alike).
    void pathBytesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const auto esc = [](int AByte) { return QString(QChar(char16_t(0xDC00 + AByte))); };
        QTest::addRow("ascii") << QByteArray("/srv/a.wav") << QStringLiteral("/srv/a.wav");
        QTest::addRow("utf-8 of every length") << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5")
                                             << QString::fromUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
        QTest::addRow("latin-1 name") << QByteArray("l\xE9.wav") << "l" + esc(0xE9) + ".wav";
        QTest::addRow("cut-off sequence") << QByteArray("a\xE2\x82") << "a" + esc(0xE2) + esc(0x82);
        QTest::addRow("overlong slash") << QByteArray("\xC0\xAF") << esc(0xC0) + esc(0xAF);
        QTest::addRow("encoded surrogate") << QByteArray("\xED\xB2\x80") << esc(0xED) + esc(0xB2) + esc(0x80);
        QTest::addRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << esc(0xF4) + esc(0x90) + esc(0x80) + esc(0x80);
        QTest::addRow("four-byte character then a lone byte")
            << QByteArray("\xF0\x9F\x8E\xB5\x80") << QString::fromUtf8("\xF0\x9F\x8E\xB5") + esc(0x80);
        QTest::addRow("embedded NUL") << QByteArray("x\0y", 3) << QString("x") + QChar(0) + "y";
        QTest::addRow("empty") << QByteArray() << QString();
    }
    void pathBytesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(PathFromBytes(bytes), text);
        QCOMPARE(PathBytes(text), bytes);
    }

    // A name that is not UTF-8 names its file; a path holding a NUL names none, even when the part before
    // the NUL is a file.
    void regularFilesAreFoundByTheirBytes()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        for (const QByteArray &name : {QByteArray("/l\xE9.wav"), QByteArray("/x")}) {
            const int fd = ::open((folder + name).constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "abc", 3), ssize_t(3));
            ::close(fd);
        }
        qint64 size = 0;
        QVERIFY(IsRegularFilePath(PathFromBytes(folder + "/l\xE9.wav"), &size));
        QCOMPARE(size, 3);
        QVERIFY(!IsRegularFilePath(PathFromBytes(folder + "/l\xE8.wav")));
        QVERIFY(IsRegularFilePath(dir.filePath("x")));
        QVERIFY(!IsRegularFilePath(dir.filePath("x") + QChar(0) + "y"));
        QVERIFY(!IsRegularFilePath(dir.path()));
        QVERIFY(!IsRegularFilePath(QString()));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestReaderTypes)
#include "tst_uReaderTypes.moc"
