// The catalogue's own index in the cache folder: look-ups through it answer exactly as the catalogue does,
// stay current when the recorder appends, deletes or replaces, survive a damaged index file and a cache
// folder that cannot be written, and two processes may build it at once.
#include "CatalogueFixture.h"
#include "TestMain.h"
#include "uCatalogueIndex.h"
#include "uReaderData.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <mutex>

using namespace fixture;

namespace {

// Answers of every look-up kind as one text, so an indexed and a plain catalogue can be compared.
QString Describe(const TRecList &AList)
{
    QStringList lines;
    for (const TRecInfo &ri : AList)
        lines << QStringList{QString::number(ri.Id), ri.RecDT, ri.RecDate, QString::number(ri.RecHour),
                             QString::number(ri.RecNumber), ri.FileName, ri.Title, ri.Persons,
                             QString::number(ri.DurationSec)}
                     .join(QLatin1Char('|'));
    return lines.join(QLatin1Char('\n'));
}

enum class TLookup { Hours, Days, Search, Stem };

QString Ask(TReaderData &ADb, TLookup AKind, const QString &ADate, int AHour, const QString &AText)
{
    switch (AKind) {
    case TLookup::Hours: return QString::number(ADb.AvailableHours(ADate).Bits(), 2);
    case TLookup::Days: return ADb.DaysOfMonth(ADate).join(QLatin1Char(','));
    case TLookup::Search: {
        TRecList list;
        ADb.Search(ADate, AHour, AText, list);
        return Describe(list);
    }
    case TLookup::Stem: {
        TRecInfo ri;
        return ADb.FindByFilenameStem(AText, ri) ? Describe({ri}) : QStringLiteral("none");
    }
    }
    return QString();
}

QStringList FilesIn(const QString &AFolder)
{
    return QDir(AFolder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestCatalogueIndex : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FDb, FCache;

    // The usual catalogue: two days and a day of another month, with the rows a look-up must leave out or
    // keep apart (no duration, an hour that is text or NULL, ties in rec_dt, wildcards and case in names).
    QList<TRow> Rows() const
    {
        QList<TRow> rows = {
            Rec(1, "2025-09-01 07:10:00", 7, 1, "01092025071.mp3", 60, "Overleg Jan", "Jan\r\nMarie"),
            Rec(2, "2025-09-01 07:10:00", 7, 2, "01092025072.MP3", 75, "Overleg 50%", "Piet"),
            Rec(3, "2025-09-01 09:00:00", 9, 1, "01092025091.mp3", 0, "Leeg", "Jan"),
            Rec(4, "2025-09-02 23:59:00", 23, 1, "02092025231.mp3", 10, "Laat", "Marié"),
            Rec(5, "2025-09-02 11:00:00", 11, 1, "Ab_c.mp3", 20, "Naam met liggend streepje", ""),
            Rec(6, "2025-10-01 00:00:00", 0, 1, "01102025001.mp3", 30, "Oktober", "Eva"),
            Rec(7, "2025-09-03 05:00:00", 5, 1, "03092025051.mp3", 0, "Alleen leeg", "")};
        TRow textHour = Rec(8, "2025-09-03 06:00:00", 6, 1, "03092025061.mp3", 5, "Uur als tekst", "");
        textHour.rec_hour = QStringLiteral("zes");
        TRow nullHour = Rec(9, "2025-09-03 07:00:00", 7, 1, "03092025071.mp3", 5, "Uur leeg", "");
        nullHour.rec_hour = QVariant();
        return rows << textHour << nullHour;
    }

    // A new catalogue file at FDb, with a fresh cache folder.
    void Fresh(const QList<TRow> &ARows)
    {
        QFile::remove(FDb);
        QDir(FCache).removeRecursively();
        CreateCatalogue(FDb, ARows);
    }

    static void Exec(const QString &APath, const QString &ASql)
    {
        TSqliteDb db(APath, SQLITE_OPEN_READWRITE);
        db.Exec(ASql);
    }

private slots:
    void initTestCase()
    {
        FDb = FDir.filePath("cat.sqlite");
        FCache = FDir.filePath("cache");
    }

    void lookupThroughIndexAnswersAsTheCatalogue_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("date");
        QTest::addColumn<int>("hour");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *AName, TLookup AKind, const QString &ADate, int AHour, const QString &AText) {
            QTest::addRow("%s", AName) << int(AKind) << ADate << AHour << AText;
        };
        row("hours of a day", TLookup::Hours, "2025-09-01", -1, "");
        row("hours: text and NULL hours light nothing", TLookup::Hours, "2025-09-03", -1, "");
        row("hours of a day without recordings", TLookup::Hours, "2025-08-31", -1, "");
        row("days of a month", TLookup::Days, "2025-09", -1, "");
        row("days of another month", TLookup::Days, "2025-10", -1, "");
        row("days of an empty month", TLookup::Days, "2024-02", -1, "");
        row("days: a date whose first rows have no duration", TLookup::Days, "2025-11", -1, "");
        row("search a day, ties by number", TLookup::Search, "2025-09-01", -1, "");
        row("search a day and hour", TLookup::Search, "2025-09-01", 7, "");
        row("search day and name in persons", TLookup::Search, "2025-09-01", -1, "marie");
        row("search day, hour and name with %", TLookup::Search, "2025-09-01", 7, "50%");
        row("search name over all dates", TLookup::Search, "", -1, "overleg");
        row("stem, case folded", TLookup::Stem, "", -1, "010920250");
        row("stem, upper case asked", TLookup::Stem, "", -1, "AB");
        row("stem with _ as wildcard", TLookup::Stem, "", -1, "Ab_");
        row("stem starting with a wildcard", TLookup::Stem, "", -1, "%2025091");
        row("stem of a recording without duration", TLookup::Stem, "", -1, "01092025091");
        row("stem matching nothing", TLookup::Stem, "", -1, "99");
    }
    void lookupThroughIndexAnswersAsTheCatalogue()
    {
        QFETCH(int, kind);
        QFETCH(QString, date);
        QFETCH(int, hour);
        QFETCH(QString, text);
        // A day whose first rows in the index's order (by hour) are all without duration, and one with none
        // that has a duration.
        QList<TRow> rows = Rows();
        for (int i = 0; i < 5; ++i)
            rows << Rec(20 + i, QStringLiteral("2025-11-05 0%1:00:00").arg(i + 1), i + 1, 1,
                        QStringLiteral("0511202510%1.mp3").arg(i), i == 4 ? 15 : 0);
        for (int i = 0; i < 6; ++i)
            rows << Rec(30 + i, "2025-11-06 08:00:00", 8, i + 1, QStringLiteral("0611202508%1.mp3").arg(i), 0);
        Fresh(rows);
        TReaderData plain(FDb);
        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        const QString expected = Ask(plain, TLookup(kind), date, hour, text);
        QCOMPARE(Ask(indexed, TLookup(kind), date, hour, text), expected);
        // Only a name search over all dates and a stem without a literal start cannot be narrowed.
        const bool narrowable = !(TLookup(kind) == TLookup::Search && date.isEmpty()) && !text.startsWith('%');
        QCOMPARE(indexed.LastLookupIndexed(), narrowable);
        QCOMPARE(QFileInfo::exists(TCatalogueIndex::IndexPathOf(FDb, FCache)), narrowable);
    }

    // The recorder's changes between two look-ups of one reader, each made by another connection.
    // A recorder's own table definition: hours kept as text compare as the catalogue compares them.
    void catalogueWithTextHoursAnswersAsTheCatalogue()
    {
        QFile::remove(FDb);
        QDir(FCache).removeRecursively();
        {
            TSqliteDb db(FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            db.Exec("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, rec_hour TEXT, "
                    "rec_number TEXT, format TEXT, filename TEXT, filepath TEXT, title TEXT, persons TEXT, "
                    "duration_sec INTEGER);"
                    "INSERT INTO recordings VALUES (1, '2025-09-01 07:00:00', '2025-09-01', 7, 1, 'MP3', 'a.mp3', "
                    "'/x', '', '', 60), (2, '2025-09-01 08:00:00', '2025-09-01', '08', 1, 'MP3', 'b.mp3', '/x', '', '', 60)");
        }
        TReaderData plain(FDb);
        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        for (const int hour : {7, 8}) {
            QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-01", hour, ""), Ask(plain, TLookup::Search, "2025-09-01", hour, ""));
            QVERIFY(indexed.LastLookupIndexed());
        }
        QCOMPARE(Ask(indexed, TLookup::Hours, "2025-09-01", -1, ""), Ask(plain, TLookup::Hours, "2025-09-01", -1, ""));
    }

    void changedCatalogueIsFollowedByTheNextLookup_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("date");
        QTest::addRow("row appended") << "INSERT INTO recordings VALUES (10, '2025-09-01 12:00:00', '2025-09-01', 12, 1, "
                                         "'MP3', '01092025121.mp3', '/x', 'Nieuw', '', 40)"
                                      << "2025-09-01";
        QTest::addRow("row appended on a new day") << "INSERT INTO recordings VALUES (10, '2025-09-20 12:00:00', "
                                                      "'2025-09-20', 12, 1, 'MP3', '20092025121.mp3', '/x', '', '', 40)"
                                                   << "2025-09-20";
        QTest::addRow("row deleted in the middle") << "DELETE FROM recordings WHERE id = 2" << "2025-09-01";
        QTest::addRow("last row deleted") << "DELETE FROM recordings WHERE id = 9" << "2025-09-03";
        QTest::addRow("last id reused by another row")
            << "DELETE FROM recordings WHERE id = 9; INSERT INTO recordings VALUES (9, '2025-09-03 08:00:00', "
               "'2025-09-03', 8, 1, 'MP3', '03092025081.mp3', '/x', 'Ander', '', 40)"
            << "2025-09-03";
        QTest::addRow("row moved to another day in place")
            << "UPDATE recordings SET rec_date = '2025-09-02', rec_dt = '2025-09-02 07:10:00' WHERE id = 1"
            << "2025-09-01";
        QTest::addRow("title edited") << "UPDATE recordings SET title = 'Bewerkt' WHERE id = 1" << "2025-09-01";
        QTest::addRow("duration filled in") << "UPDATE recordings SET duration_sec = 12 WHERE id = 3" << "2025-09-01";
    }
    void changedCatalogueIsFollowedByTheNextLookup()
    {
        QFETCH(QString, change);
        QFETCH(QString, date);
        Fresh(Rows());
        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        Ask(indexed, TLookup::Search, date, -1, "");
        QVERIFY(indexed.LastLookupIndexed());

        Exec(FDb, change);
        TReaderData plain(FDb);
        for (const TLookup kind : {TLookup::Search, TLookup::Hours}) {
            QCOMPARE(Ask(indexed, kind, date, -1, ""), Ask(plain, kind, date, -1, ""));
            QCOMPARE(Ask(indexed, TLookup::Days, "2025-09", -1, ""), Ask(plain, TLookup::Days, "2025-09", -1, ""));
        }
        // The day a moved row went to, and then every look-up again through an index that follows.
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-02", -1, ""), Ask(plain, TLookup::Search, "2025-09-02", -1, ""));
        QCOMPARE(Ask(indexed, TLookup::Search, date, -1, ""), Ask(plain, TLookup::Search, date, -1, ""));
        QVERIFY(indexed.LastLookupIndexed());
    }

    void walCatalogueAppendedByAnotherConnectionIsFound()
    {
        QFile::remove(FDb);
        QDir(FCache).removeRecursively();
        CreateCatalogue(FDb, Rows(), true);
        TSqliteDb recorder(FDb, SQLITE_OPEN_READWRITE);  // stays open, as the recorder does
        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        QCOMPARE(Ask(indexed, TLookup::Hours, "2025-09-01", -1, ""), QString::number(1 << 7, 2));
        recorder.Exec("INSERT INTO recordings VALUES (10, '2025-09-01 12:00:00', '2025-09-01', 12, 1, 'MP3', "
                      "'01092025121.mp3', '/x', '', '', 40)");
        QCOMPARE(Ask(indexed, TLookup::Hours, "2025-09-01", -1, ""), QString::number(1 << 7 | 1 << 12, 2));
        QVERIFY(indexed.LastLookupIndexed());
    }

    void catalogueReplacedByAnotherFileIsNoticed_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addRow("another file renamed over it") << false;
        QTest::addRow("written over in place, same inode") << true;
    }
    void catalogueReplacedByAnotherFileIsNoticed()
    {
        QFETCH(bool, inPlace);
        Fresh(Rows());
        {
            TReaderData indexed(FDb);
            indexed.UseIndex(FCache, TIndexBuild::InQuery);
            QCOMPARE(Ask(indexed, TLookup::Hours, "2025-09-01", -1, ""), QString::number((1 << 7), 2));
        }
        const QString other = FDir.filePath("other.sqlite");
        QFile::remove(other);
        CreateCatalogue(other, {Rec(1, "2025-09-01 15:00:00", 15, 1, "other.mp3", 60, "Ander", "")});
        if (inPlace) {
            QFile source(other), target(FDb);
            QVERIFY(source.open(QIODevice::ReadOnly));
            QVERIFY(target.open(QIODevice::ReadWrite | QIODevice::Truncate));
            target.write(source.readAll());
        } else {
            QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(FDb).constData()) == 0);
        }
        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        QCOMPARE(Ask(indexed, TLookup::Hours, "2025-09-01", -1, ""), QString::number((1 << 15), 2));
        QCOMPARE(Ask(indexed, TLookup::Stem, "", -1, "0109"), QStringLiteral("none"));
        QVERIFY(indexed.LastLookupIndexed());
    }

    void damagedIndexFileIsRebuilt_data()
    {
        QTest::addColumn<QByteArray>("damage");
        QTest::addRow("random bytes") << QByteArray("garbage, not a database at all").repeated(200);
        QTest::addRow("cut in half") << QByteArray("half");
        QTest::addRow("empty file") << QByteArray();
        QTest::addRow("pages overwritten") << QByteArray("pages");
    }
    void damagedIndexFileIsRebuilt()
    {
        QFETCH(QByteArray, damage);
        QList<TRow> rows = Rows();
        for (int i = 0; i < 2000; ++i)  // enough pages that a cut or an overwrite hits the index's own
            rows << Rec(100 + i, "2025-09-04 10:00:00", 10, i + 1, QStringLiteral("x%1.mp3").arg(i), 10);
        Fresh(rows);
        TReaderData plain(FDb);
        const QString expected = Ask(plain, TLookup::Search, "2025-09-01", -1, "");
        {
            TReaderData first(FDb);
            first.UseIndex(FCache, TIndexBuild::InQuery);
            Ask(first, TLookup::Search, "2025-09-01", -1, "");
        }
        const QString index = TCatalogueIndex::IndexPathOf(FDb, FCache);
        QFile file(index);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        if (damage == "half") {
            QVERIFY(file.resize(size / 2));
        } else if (damage == "pages") {
            file.seek(4096);  // every page after the first: the header stays whole
            file.write(QByteArray(int(size - 4096), '\x5a'));
        } else {
            QVERIFY(file.resize(0));
            file.write(damage);
        }
        file.close();

        TReaderData indexed(FDb);
        indexed.UseIndex(FCache, TIndexBuild::InQuery);
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-01", -1, ""), expected);
        // At the latest the look-up after the one that met the damage goes through a new whole index.
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-01", -1, ""), expected);
        QVERIFY(indexed.LastLookupIndexed());
        QCOMPARE(FilesIn(TCatalogueIndex::IndexFolder(FCache)), QStringList{QFileInfo(index).fileName()});
    }

    void unwritableCacheFolderLeavesEveryLookupWorking()
    {
        Fresh(Rows());
        // A folder that cannot be made: its parent is a file.
        const QString blocker = FDir.filePath("blocker");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        TReaderData plain(FDb);
        TReaderData indexed(FDb);
        indexed.UseIndex(blocker + QStringLiteral("/cache"), TIndexBuild::InQuery);
        for (const TLookup kind : {TLookup::Hours, TLookup::Search}) {
            QCOMPARE(Ask(indexed, kind, "2025-09-01", -1, ""), Ask(plain, kind, "2025-09-01", -1, ""));
            QVERIFY(!indexed.LastLookupIndexed());
        }
        QCOMPARE(Ask(indexed, TLookup::Stem, "", -1, "0109"), Ask(plain, TLookup::Stem, "", -1, "0109"));
        QCOMPARE(QFileInfo(blocker).size(), qint64(0));
    }

    void backgroundBuildAnswersFromTheCatalogueMeanwhile()
    {
        Fresh(Rows());
        TReaderData plain(FDb);
        TReaderData indexed(FDb);
        QList<TIndexBuildEvent> reports;
        std::mutex reportsLock;
        indexed.UseIndex(FCache, TIndexBuild::InBackground, [&](TIndexBuildEvent AEvent) {
            std::lock_guard<std::mutex> lock(reportsLock);
            reports << AEvent;
        });
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-01", -1, ""), Ask(plain, TLookup::Search, "2025-09-01", -1, ""));
        QVERIFY(!indexed.LastLookupIndexed());
        indexed.WaitForIndexBuild();
        QVERIFY(reports == (QList<TIndexBuildEvent>{TIndexBuildEvent::Started, TIndexBuildEvent::Built}));
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-01", -1, ""), Ask(plain, TLookup::Search, "2025-09-01", -1, ""));
        QVERIFY(indexed.LastLookupIndexed());
    }

    void twoProcessesBuildingAtOnceBothAnswerAndLeaveOneIndex()
    {
        const QString tool = qEnvironmentVariable("VORNAK_TOOL");
        QVERIFY2(QFile::exists(tool), "VORNAK_TOOL is not set");
        QList<TRow> rows;
        for (int i = 0; i < 30000; ++i)
            rows << Rec(i + 1, QStringLiteral("2025-09-%1 %2:00:00").arg(1 + i / 1000, 2, 10, QChar('0')).arg(i % 24, 2, 10, QChar('0')),
                        i % 24, i, QStringLiteral("f%1.mp3").arg(i), i % 7 == 0 ? 0 : 5);
        Fresh(rows);
        TReaderData plain(FDb);
        QStringList expected;
        const THourSet set = plain.AvailableHours("2025-09-02");
        for (int h = 0; h < 24; ++h)
            if (set.Contains(h))
                expected << QString::number(h);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CACHE_HOME", FCache);
        QProcess first, second;
        for (QProcess *p : {&first, &second}) {
            p->setProcessEnvironment(env);
            p->start(tool, {"hours", FDb, "2025-09-02"});
        }
        QStringList outputs;
        for (QProcess *p : {&first, &second}) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
            outputs << QString::fromUtf8(p->readAllStandardOutput()).trimmed();
        }
        QCOMPARE(outputs[0], expected.join(QLatin1Char(',')));
        QCOMPARE(outputs[1], outputs[0]);
        // One whole index and nothing else; it serves a reader.
        const QString userCache = FCache + QStringLiteral("/VornakReader2026");
        QCOMPARE(FilesIn(TCatalogueIndex::IndexFolder(userCache)),
                 QStringList{QFileInfo(TCatalogueIndex::IndexPathOf(FDb, userCache)).fileName()});
        TReaderData indexed(FDb);
        indexed.UseIndex(userCache, TIndexBuild::InQuery);
        QCOMPARE(Ask(indexed, TLookup::Search, "2025-09-02", 5, ""), Ask(plain, TLookup::Search, "2025-09-02", 5, ""));
        QVERIFY(indexed.LastLookupIndexed());
    }
};

VORNAK_TEST_GUILESS_MAIN(TestCatalogueIndex)
#include "tst_uCatalogueIndex.moc"
