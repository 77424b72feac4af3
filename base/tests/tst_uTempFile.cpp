// Temporary files beside their target: commit with and without replacing, removal on every other way out,
// the names they get, and the removal of stale ones a killed process left.
#include "TestMain.h"
#include "uTempFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFile(const QString &APath, const QByteArray &AData)
{
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(AData) == AData.size();
}

// Sets a file's modification time ASeconds into the past.
bool Age(const QString &APath, int ASeconds)
{
    struct utimbuf t;
    t.actime = t.modtime = ::time(nullptr) - ASeconds;
    return ::utime(QFile::encodeName(APath).constData(), &t) == 0;
}

QStringList Entries(const QString &ADir)
{
    QStringList names = QDir(ADir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

class TestTempFile : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

private slots:
    void commitPublishesOnlyWhatTheRuleAllows_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("committed");
        QTest::addRow("new name, replacing") << false << true << true;
        QTest::addRow("new name, not replacing") << false << false << true;
        QTest::addRow("existing file, replacing") << true << true << true;
        QTest::addRow("existing file, not replacing") << true << false << false;
    }
    void commitPublishesOnlyWhatTheRuleAllows()
    {
        QFETCH(bool, targetExists);
        QFETCH(bool, replace);
        QFETCH(bool, committed);
        const QString dir = FDir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(dir));
        const QString target = dir + "/out.bin";
        if (targetExists)
            QVERIFY(WriteFile(target, "old"));
        TTempFile temp;
        QVERIFY(temp.Create(dir, ".t-", ".part"));
        QVERIFY(temp.Fd() >= 0);
        QCOMPARE(::write(temp.Fd(), "new", 3), ssize_t(3));
        QCOMPARE(temp.Commit(target, replace), committed);
        QCOMPARE(ReadAll(target), QByteArray(committed ? "new" : "old"));
        if (!committed)
            QCOMPARE(temp.Error(), EEXIST);
        // Nothing but the target is left in the folder.
        QCOMPARE(Entries(dir), QStringList{"out.bin"});
    }

    // Data written through another descriptor (as the writers and libavformat do) is what is committed.
    void commitTakesDataWrittenByPath()
    {
        const QString dir = FDir.filePath("by-path");
        QVERIFY(QDir().mkpath(dir));
        TTempFile temp;
        QVERIFY(temp.Create(dir, ".t-", ""));
        QVERIFY(WriteFile(temp.Path(), "written by path"));
        QVERIFY(temp.Commit(dir + "/x", true));
        QCOMPARE(ReadAll(dir + "/x"), QByteArray("written by path"));
    }

    void aTemporaryIsRemovedOnEveryOtherWayOut()
    {
        const QString dir = FDir.filePath("removed");
        QVERIFY(QDir().mkpath(dir));
        {
            TTempFile temp;
            QVERIFY(temp.Create(dir, ".t-", ".part"));
            QVERIFY(QFile::exists(temp.Path()));
        }
        TTempFile discarded;
        QVERIFY(discarded.Create(dir, ".t-", ".part"));
        discarded.Discard();
        QVERIFY(discarded.Path().isEmpty());
        // A commit into a folder that is gone fails and leaves no temporary.
        TTempFile failed;
        QVERIFY(failed.Create(dir, ".t-", ".part"));
        QVERIFY(!failed.Commit(dir + "/no-such-folder/x", true));
        QCOMPARE(failed.Error(), ENOENT);
        QCOMPARE(Entries(dir), QStringList());
    }

    // The name stays short whatever the target, and matches the pattern it is found again by.
    void namesAreShortAndRecognised()
    {
        const QString dir = FDir.filePath("names");
        QVERIFY(QDir().mkpath(dir));
        TTempFile temp;
        QVERIFY(temp.Create(dir, ".vornak-export-", ".part"));
        const QByteArray name = QFile::encodeName(QFileInfo(temp.Path()).fileName());
        QCOMPARE(name.size(), 26);
        QVERIFY(IsTemporaryName(name, ".vornak-export-", ".part"));
        QVERIFY(!IsTemporaryName(name, ".other-", ".part"));
        QVERIFY(!IsTemporaryName(".vornak-export-abc.part", ".vornak-export-", ".part"));
        QVERIFY(!IsTemporaryName(".vornak-export-ab_de!.part", ".vornak-export-", ".part"));
        QVERIFY(!IsTemporaryName(".vornak-export-abcdef.part.wav", ".vornak-export-", ".part"));
        QVERIFY(IsTemporaryName(".VornakReader2026.ini.a1B2c3", ".VornakReader2026.ini.", ""));
        // Made in a folder that does not exist: an error, no path.
        TTempFile missing;
        QVERIFY(!missing.Create(dir + "/missing", ".t-", ""));
        QCOMPARE(missing.Error(), ENOENT);
        QVERIFY(missing.Path().isEmpty());
    }

    // Only our own names, only regular files, only once they are old enough.
    void staleTemporariesAreRemovedAndNothingElse()
    {
        const QString dir = FDir.filePath("stale");
        QVERIFY(QDir().mkpath(dir));
        const auto ours = [](const QByteArray &AName) { return IsTemporaryName(AName, ".t-", ".part"); };
        QVERIFY(WriteFile(dir + "/.t-aaaaaa.part", "old"));
        QVERIFY(Age(dir + "/.t-aaaaaa.part", 120));
        QVERIFY(WriteFile(dir + "/.t-bbbbbb.part", "fresh"));
        QVERIFY(Age(dir + "/.t-bbbbbb.part", 30));
        QVERIFY(WriteFile(dir + "/.t-cccccc.other", "not ours"));
        QVERIFY(Age(dir + "/.t-cccccc.other", 120));
        QVERIFY(WriteFile(dir + "/keep.wav", "target"));
        QVERIFY(Age(dir + "/keep.wav", 120));
        QVERIFY(QDir().mkpath(dir + "/.t-dddddd.part"));  // a folder of that name
        QVERIFY(QFile::link(dir + "/keep.wav", dir + "/.t-eeeeee.part"));  // a link of that name
        QCOMPARE(RemoveStaleTemporaries(dir, ours), 1);
        QCOMPARE(Entries(dir), (QStringList{".t-bbbbbb.part", ".t-cccccc.other", ".t-dddddd.part", ".t-eeeeee.part",
                                            "keep.wav"}));
        QCOMPARE(ReadAll(dir + "/keep.wav"), QByteArray("target"));
        QCOMPARE(RemoveStaleTemporaries(dir + "/missing", ours), 0);
    }
};

VORNAK_TEST_GUILESS_MAIN(TestTempFile)
#include "tst_uTempFile.moc"
