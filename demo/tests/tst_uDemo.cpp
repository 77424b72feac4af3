// Demo generator: the tool's run, the catalogue and files it writes, the recorder settings file, a second
// run that recreates the demo, and the refusals that protect a real recorder's files.
#include "TestMain.h"
#include "uDemo.h"
#include "uReaderConfig.h"
#include "uReaderData.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct TToolRun {
    int exitCode = -1;
    QStringList out;
    QString err;
};

TToolRun RunTool(const QStringList &AArgs)
{
    QProcess p;
    p.start(qEnvironmentVariable("VORNAK_TOOL"), AArgs);
    TToolRun r;
    if (!p.waitForFinished(240000))
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QStringList FilesUnder(const QString &ADir)
{
    QStringList files;
    QDirIterator it(ADir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

QByteArray ReadAll(const QString &APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT
private slots:
    void toolWritesCatalogueFilesAndRecorderSettings();
    void realRecorderSettingsAreNeverReplaced();
    void foreignDemoFolderIsLeftAlone();
    void usageWithoutAppDir();
};

void TestDemo::toolWritesCatalogueFilesAndRecorderSettings()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString appDir = tmp.filePath("app");
    const QDate today = QDate::currentDate();
    const TToolRun run = RunTool({"demo", appDir});
    if (QDate::currentDate() != today)
        QSKIP("the date changed while the demo was generated");
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));

    const QString db = appDir + "/demo/Vornak2026.sqlite";
    const QString root = appDir + "/demo/Recordings";
    QCOMPARE(run.out.last(), "demo=" + db);
    QStringList printed;
    for (const QString &line : run.out.mid(0, run.out.size() - 1)) {
        QVERIFY2(line.startsWith("file="), qPrintable(line));
        printed << line.mid(5);
    }
    printed.sort();
    QCOMPARE(printed, FilesUnder(root));

    // The recorder's settings file in the first place the reader looks, adopted by the settings store.
    const QString ini = QString::fromUtf8(ReadAll(appDir + "/Vornak2026.ini"));
    QVERIFY2(ini.contains("[Paths]") && ini.contains("Database=" + db) && ini.contains("RootFolder=" + root),
             qPrintable(ini));
    const TConfig config(appDir);
    QCOMPARE(config.DatabasePath(), db);
    QCOMPARE(config.RecordingsRoot(), root);

    TReaderData data(db);
    QVERIFY(!data.IsReadOnly());
    const QString todayKey = today.toString("yyyy-MM-dd");
    const THourSet hours = data.AvailableHours(todayKey);
    QVERIFY(hours.Count() >= 3);
    int multi = 0;
    for (int h = 0; h < 24; ++h) {
        if (!hours.Contains(h))
            continue;
        TRecList hour;
        data.Search(todayKey, h, QString(), hour);
        QVERIFY(!hour.isEmpty());
        multi += hour.size() >= 2;
    }
    QVERIFY2(multi >= 2, "several hours of today hold two or more recordings");
    for (int back = 1; back <= 3; ++back)
        QVERIFY(!data.AvailableHours(today.addDays(-back).toString("yyyy-MM-dd")).IsEmpty());

    TRecList all;
    data.Search(QString(), -1, QString(), all);
    QCOMPARE(all.size(), printed.size());
    QSet<QString> formats;
    int described = 0, blank = 0;
    for (const TRecInfo &r : all) {
        const QDate d = QDate::fromString(r.RecDate, "yyyy-MM-dd");
        QVERIFY(d.isValid());
        const QString stem = d.toString("ddMMyyyy") + QString("%1").arg(r.RecHour, 2, 10, QChar('0')) +
                             QString::number(r.RecNumber);
        QVERIFY2(QRegularExpression("^" + stem + "\\.(wav|mp3|ogg|opus|flac)$").match(r.FileName).hasMatch(),
                 qPrintable(r.FileName));
        QCOMPARE(r.FilePath, root + "/" + d.toString("yyyy/MM/dd") + "/" + r.FileName);
        QVERIFY(QFileInfo(r.FilePath).size() > 1000);
        QCOMPARE(data.ResolveExistingPath(r, root), r.FilePath);
        QVERIFY2(r.DurationSec >= 20 && r.DurationSec <= 90, qPrintable(r.FileName));
        QVERIFY(r.RecDT.startsWith(r.RecDate + QString(" %1:").arg(r.RecHour, 2, 10, QChar('0'))));
        formats << r.Format;
        if (r.Title.isEmpty() && r.Persons.isEmpty())
            ++blank;
        else if (!r.Title.isEmpty() && r.Persons.contains("\r\n"))
            ++described;
    }
    QCOMPARE(formats, QSet<QString>({"WAV", "MP3", "OGG", "OPUS", "FLAC"}));
    QVERIFY(described > 0);
    QVERIFY(blank > 0);

    // Clean audio in every format: each recording peaks at -3 dBFS or lower and has no clipping run.
    for (const QString &file : printed) {
        const TToolRun level = RunTool({"loudness", file});
        QVERIFY2(level.exitCode == 0, qPrintable(file + ": " + level.err));
        const QStringList peak = level.out.filter(QRegularExpression("^sample_peak_dbfs="));
        QCOMPARE(peak.size(), 1);
        bool isNumber = false;
        const double peakDbfs = peak[0].section(QLatin1Char('='), 1).toDouble(&isNumber);
        QVERIFY2(isNumber && peakDbfs <= -3.0, qPrintable(file + ": " + peak[0]));
        QVERIFY2(level.out.contains("clipped_runs=0"), qPrintable(file + ": " + level.out.join(' ')));
    }

    // A second run recreates the demo: here two days later, with short recordings to keep the test quick.
    TDemoOptions later;
    later.Today = today.addDays(2);
    later.MaxSeconds = 1;
    int reported = 0;
    QCOMPARE(MakeDemo(appDir, [&](const QString &) { ++reported; }, later), db);
    QCOMPARE(FilesUnder(root).size(), reported);
    QVERIFY(!QFileInfo::exists(root + today.addDays(-3).toString("/yyyy/MM/dd")));  // the old days are gone
    TReaderData again(db);
    TRecList now;
    again.Search(QString(), -1, QString(), now);
    QCOMPARE(now.size(), reported);
    QVERIFY(again.AvailableHours(today.addDays(-3).toString("yyyy-MM-dd")).IsEmpty());
    QCOMPARE(again.AvailableHours(later.Today.toString("yyyy-MM-dd")), hours);
    QCOMPARE(TConfig(appDir).DatabasePath(), db);
}

void TestDemo::realRecorderSettingsAreNeverReplaced()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString ini = tmp.filePath("Vornak2026.ini");
    const QByteArray real = "[Paths]\r\nDatabase=/srv/vornak/Vornak2026.sqlite\r\nRootFolder=/srv/vornak/rec\r\n";
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(real);
    f.close();

    const TToolRun run = RunTool({"demo", tmp.path()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("Vornak2026.ini"), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(ReadAll(ini), real);
    QVERIFY(!QFileInfo::exists(tmp.filePath("demo")));
}

void TestDemo::foreignDemoFolderIsLeftAlone()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.filePath("demo")));
    QFile f(tmp.filePath("demo/notes.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("mine");
    f.close();
    QVERIFY_THROWS_EXCEPTION(EReaderError, MakeDemo(tmp.path()));
    QCOMPARE(ReadAll(tmp.filePath("demo/notes.txt")), QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(tmp.filePath("Vornak2026.ini")));
}

void TestDemo::usageWithoutAppDir()
{
    QCOMPARE(RunTool({"demo"}).exitCode, 2);
    QCOMPARE(RunTool({"demo", "a", "b"}).exitCode, 2);
}

VORNAK_TEST_MAIN(TestDemo)
#include "tst_uDemo.moc"
