// Catalogue access: opening (and refusing) files, hours, searches, the stem look-up, path resolution and
// the metadata edit, on catalogues the tests create.
#include "CatalogueFixture.h"
#include "TestMain.h"
#include "uReaderData.h"

#include <QDir>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#include <sys/stat.h>

using namespace fixture;

namespace {

// The day 2025-09-01 as the recorder might leave it, with the odd rows a catalogue can hold.
QList<TRow> DayRows()
{
    QList<TRow> rows{
        Rec(1, "2025-09-01 07:10:00", 7, 1, "01092025071.mp3", 60, "Overleg Jan"),
        Rec(2, "2025-09-01 07:40:00", 7, 2, "01092025072.mp3", 75, QVariant(), "JANSSENS"),
        Rec(3, "2025-09-01 09:00:00", 9, 1, "01092025091.mp3", 60, "Ochtend"),
        Rec(4, "2025-09-01 10:00:00", 10, 1, "01092025101.mp3", 0, "Overleg Jan"),  // no duration
        Rec(5, "2025-09-01 11:00:00", 24, 1, "01092025241.mp3"),
        Rec(6, "2025-09-01 12:00:00", -1, 1, "010920251.mp3"),
        Rec(7, "2025-09-02 08:00:00", 8, 1, "02092025081.mp3", 60, "É test", "100% zeker"),
        Rec(8, "2025-09-01 07:55:00", 7, 10, "010920250710.mp3", 60, "Project_X"),
        Rec(9, "2025-09-01 13:00:00", 0, 1, "01092025131.mp3"),
        Rec(10, "2025-09-01 14:00:00", 0, 1, "01092025141.mp3"),
        Rec(11, "2025-09-01 15:00:00", 15, 1, "01092025151.mp3"),
    };
    rows[8].rec_hour = QVariant();          // NULL hour
    rows[9].rec_hour = QString("abc");      // text in an integer column
    rows[9].rec_number = QString("x1");
    rows[10].duration_sec = QVariant();     // NULL duration: not a recording for the reader
    return rows;
}

QList<int> Ids(const TRecList &AList)
{
    QList<int> ids;
    for (const TRecInfo &ri : AList)
        ids << ri.Id;
    return ids;
}

QString HoursText(const THourSet &ASet)
{
    QStringList l;
    for (int h = 0; h < 24; ++h)
        if (ASet.Contains(h))
            l << QString::number(h);
    return l.join(',');
}

bool WriteFile(const QString &APath, const QByteArray &AData)
{
    QFile f(APath);
    return f.open(QIODevice::WriteOnly) && f.write(AData) == AData.size();
}

// A read-only bind mount of dir onto itself; unmounted on destruction.
struct TReadOnlyMount {
    QByteArray path;
    bool ok = false;
    explicit TReadOnlyMount(const QString &ADir) : path(QFile::encodeName(ADir))
    {
        ok = mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0;
        if (ok && mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            umount2(path.constData(), MNT_DETACH);
            ok = false;
        }
    }
    ~TReadOnlyMount()
    {
        if (ok)
            umount2(path.constData(), MNT_DETACH);
    }
};

// A small tmpfs on dir; unmounted on destruction.
struct TSmallDisk {
    QByteArray path;
    bool ok = false;
    explicit TSmallDisk(const QString &ADir) : path(QFile::encodeName(ADir))
    {
        ok = mount("tmpfs", path.constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~TSmallDisk()
    {
        if (ok)
            umount2(path.constData(), MNT_DETACH);
    }
};

} // namespace

class TestReaderData : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FDb;

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FDb = FDir.filePath("day.sqlite");
        CreateCatalogue(FDb, DayRows());
    }

    void availableHoursCountsOnlyFindableHoursWithDuration_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("hours");
        // Hour 10 has only a 0-second row; 24, -1, NULL and text hours light no tile.
        QTest::addRow("busy day") << "2025-09-01" << "7,9";
        QTest::addRow("other day") << "2025-09-02" << "8";
        QTest::addRow("empty day") << "2025-09-03" << "";
        QTest::addRow("date as other text") << "01-09-2025" << "";
    }
    void availableHoursCountsOnlyFindableHoursWithDuration()
    {
        QFETCH(QString, date);
        QFETCH(QString, hours);
        TReaderData db(FDb);
        QVERIFY(!db.IsReadOnly());
        QCOMPARE(HoursText(db.AvailableHours(date)), hours);
    }

    void searchFiltersAndOrders_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<int>("hour");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<int>>("ids");
        QTest::addRow("everything, by rec_dt") << "" << -1 << "" << QList<int>{1, 2, 8, 3, 5, 6, 9, 10, 7};
        QTest::addRow("date and hour") << "2025-09-01" << 7 << "" << QList<int>{1, 2, 8};
        QTest::addRow("hour 24 without a date") << "" << 24 << "" << QList<int>{5};
        QTest::addRow("date only") << "2025-09-02" << -1 << "" << QList<int>{7};
        QTest::addRow("name in title or persons, ASCII case ignored") << "" << -1 << "jan" << QList<int>{1, 2};
        QTest::addRow("name é does not match É") << "" << -1 << "é" << QList<int>{};
        QTest::addRow("name with a percent sign") << "" << -1 << "100%" << QList<int>{7};
        QTest::addRow("_ is a wildcard") << "" << -1 << "O_erleg" << QList<int>{1};
        QTest::addRow("quote in a name is only text") << "" << -1 << "' OR 1=1 --" << QList<int>{};
        QTest::addRow("all three") << "2025-09-01" << 7 << "project" << QList<int>{8};
    }
    void searchFiltersAndOrders()
    {
        QFETCH(QString, date);
        QFETCH(int, hour);
        QFETCH(QString, name);
        QFETCH(QList<int>, ids);
        TReaderData db(FDb);
        TRecList list{TRecInfo{}};  // cleared first
        db.Search(date, hour, name, list);
        QCOMPARE(Ids(list), ids);
    }

    void rowsMapByNameWithNullAndTextAsEmpty()
    {
        TReaderData db(FDb);
        TRecList list;
        db.Search("2025-09-01", -1, "", list);
        const TRecInfo first = list.value(0);
        QCOMPARE(first.Id, 1);
        QCOMPARE(first.RecDT, QString("2025-09-01 07:10:00"));
        QCOMPARE(first.RecDate, QString("2025-09-01"));
        QCOMPARE(first.RecHour, 7);
        QCOMPARE(first.RecNumber, 1);
        QCOMPARE(first.Format, QString("MP3"));
        QCOMPARE(first.FileName, QString("01092025071.mp3"));
        QCOMPARE(first.FilePath, QString("/nonexistent/01092025071.mp3"));
        QCOMPARE(first.Title, QString("Overleg Jan"));
        QVERIFY(first.Persons.isEmpty());  // NULL
        QCOMPARE(first.DurationSec, 60);
        const TRecInfo odd = list.value(list.size() - 1);
        QCOMPARE(odd.Id, 10);
        QCOMPARE(odd.RecHour, 0);    // 'abc'
        QCOMPARE(odd.RecNumber, 0);  // 'x1'
    }

    void findByFilenameStemTakesEarliestPrefixMatch_data()
    {
        QTest::addColumn<QString>("stem");
        QTest::addColumn<int>("id");  // 0 = none
        QTest::addRow("number 1 also matches 10, earliest wins") << "01092025071" << 1;
        QTest::addRow("number 10") << "010920250710" << 8;
        QTest::addRow("zero duration is never found") << "01092025101" << 0;
        QTest::addRow("no such stem") << "31122030231" << 0;
        QTest::addRow("case of ASCII ignored") << "01092025071.MP" << 1;
    }
    void findByFilenameStemTakesEarliestPrefixMatch()
    {
        QFETCH(QString, stem);
        QFETCH(int, id);
        TReaderData db(FDb);
        TRecInfo ri;
        QCOMPARE(db.FindByFilenameStem(stem, ri), id != 0);
        if (id)
            QCOMPARE(ri.Id, id);
    }

    // Whatever the file holds, a catalogue that cannot be queried does not open: one failure path for the
    // callers, with a Dutch explanation in front of SQLite's text. The file is left as it was.
    void openRefusesWhatIsNoCatalogue_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");  // "{path}" stands for the catalogue's path
        const QString notFound = "Databasebestand niet gevonden: {path}";
        const QString noTable = "De database bevat de opnametabel van Vornak 2026 niet. (SQLite: no such table: recordings)";
        const QString notADb = "Het bestand is geen database. (SQLite: file is not a database)";
        QTest::addRow("missing file") << "missing" << notFound;
        QTest::addRow("empty path") << "empty" << notFound;
        QTest::addRow("a folder") << "folder" << notFound;
        QTest::addRow("a FIFO") << "fifo" << notFound;
        QTest::addRow("a device") << "device" << notFound;
        QTest::addRow("zero bytes") << "zero" << noTable;
        QTest::addRow("random bytes") << "random" << notADb;
        QTest::addRow("a text file") << "text" << notADb;
        QTest::addRow("no recordings table") << "notable" << noTable;
        QTest::addRow("missing column")
            << "nocolumn" << "De opnametabel heeft niet alle kolommen van Vornak 2026. (SQLite: no such column: persons)";
    }
    void openRefusesWhatIsNoCatalogue()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString path = dir.filePath("cat.sqlite");
        if (kind == "empty")
            path.clear();
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        else if (kind == "device")
            path = "/dev/zero";
        else if (kind == "zero")
            QVERIFY(WriteFile(path, QByteArray()));
        else if (kind == "random") {
            QByteArray junk;
            for (int i = 0; i < 4096; ++i)
                junk += char((i * 7919 + 13) % 251);
            QVERIFY(WriteFile(path, junk));
        } else if (kind == "text") {
            QVERIFY(WriteFile(path, "[Paths]\r\nDatabase=C:\\Vornak2026\\Vornak2026.sqlite\r\n"));
        } else if (kind == "notable") {
            TSqliteDb db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            db.Exec("CREATE TABLE other (id INTEGER)");
        } else if (kind == "nocolumn") {
            TSqliteDb db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            db.Exec("CREATE TABLE recordings (id INTEGER, rec_dt TEXT, rec_date TEXT, rec_hour INTEGER, "
                    "rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, title TEXT, "
                    "duration_sec INTEGER)");
        }
        const bool regular = QFileInfo(path).isFile();  // (reading a FIFO would wait for ever)
        const QByteArray before = regular ? FileHash(path) : QByteArray();
        QString message;
        try {
            TReaderData db(path);
            QFAIL("opened");
        } catch (const EReaderError &e) {
            message = e.Message();
        }
        QCOMPARE(message, QString(error).replace("{path}", path));
        if (regular)
            QCOMPARE(FileHash(path), before);
    }

    // A damaged file may pass the open's look at the table; the query that meets the damage says so.
    void damagedCatalogueFailsWithItsExplanation()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        QList<TRow> rows;
        for (int i = 1; i <= 2000; ++i)
            rows << Rec(i, QString("2025-09-01 %1").arg(i, 6, 10, QChar('0')), i % 24, 1, QString("f%1.mp3").arg(i), 10,
                        QString(200, 'x'));
        CreateCatalogue(path, rows);
        QFile f(path);
        QVERIFY(f.resize(f.size() / 2));
        QString message;
        try {
            TReaderData db(path);
            TRecList list;
            db.Search("", -1, "", list);
            QFAIL("the search worked");
        } catch (const EReaderError &e) {
            message = e.Message();
        }
        QCOMPARE(message, QString("Het databasebestand is beschadigd. (SQLite: database disk image is malformed)"));
    }

    // The operator's text of every SQLite failure: an explanation for the common causes, SQLite's own text
    // after it, and SQLite's text alone for the rest.
    void sqliteFailuresAreExplainedInDutch_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("text");
        QTest::addRow("disk full") << SQLITE_FULL << "database or disk is full"
                                   << "De schijf met de database is vol. (SQLite: database or disk is full)";
        QTest::addRow("locked") << SQLITE_BUSY << "database is locked"
                                << "De database is vergrendeld door de recorder (Vornak 2026). (SQLite: database is "
                                   "locked)";
        QTest::addRow("read-only") << SQLITE_READONLY << "attempt to write a readonly database"
                                   << "De database is alleen-lezen: het bestand of zijn map is schrijfbeveiligd. "
                                      "(SQLite: attempt to write a readonly database)";
        QTest::addRow("cannot open") << SQLITE_CANTOPEN << "unable to open database file"
                                     << "Het databasebestand kan niet worden geopend. (SQLite: unable to open database "
                                        "file)";
        QTest::addRow("another table missing is not the recorder's") << SQLITE_ERROR << "no such table: other"
                                                                      << "no such table: other";
        QTest::addRow("other error stays as SQLite says it") << SQLITE_ERROR << "near \"x\": syntax error"
                                                             << "near \"x\": syntax error";
    }
    void sqliteFailuresAreExplainedInDutch()
    {
        QFETCH(int, code);
        QFETCH(QString, sqlite);
        QFETCH(QString, text);
        QCOMPARE(SqliteErrorText(code, sqlite), text);
    }

    void resolveExistingPathFollowsThreeRules_data()
    {
        QTest::addColumn<QString>("stored");  // relative to the test folder, "" = empty
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("expected");
        QTest::addRow("stored path exists, copy under root") << "stored/A.mp3" << "2025-09-01" << "A.mp3" << "root"
                                                             << "stored/A.mp3";
        QTest::addRow("stale path, file under root") << "gone/A.mp3" << "2025-09-01" << "A.mp3" << "root"
                                                     << "root/2025/09/01/A.mp3";
        QTest::addRow("root with trailing slash") << "gone/A.mp3" << "2025-09-01" << "A.mp3" << "root/"
                                                  << "root/2025/09/01/A.mp3";
        QTest::addRow("empty stored path") << "" << "2025-09-01" << "A.mp3" << "root" << "root/2025/09/01/A.mp3";
        QTest::addRow("stored path is a folder") << "stored" << "2025-09-01" << "A.mp3" << "root"
                                                 << "root/2025/09/01/A.mp3";
        QTest::addRow("not under root either") << "gone/B.mp3" << "2025-09-01" << "B.mp3" << "root"
                                               << "gone/B.mp3";
        QTest::addRow("date of 9 characters") << "gone/A.mp3" << "2025-9-01" << "A.mp3" << "root" << "gone/A.mp3";
        QTest::addRow("date of 11 characters") << "gone/A.mp3" << "2025-09-011" << "A.mp3" << "root"
                                               << "gone/A.mp3";
        QTest::addRow("empty file name") << "gone/A.mp3" << "2025-09-01" << "" << "root" << "gone/A.mp3";
        QTest::addRow("file name leaving the day folder") << "gone/A.mp3" << "2025-09-01" << "../01/A.mp3"
                                                          << "root" << "gone/A.mp3";
        QTest::addRow("date leaving the root") << "gone/A.mp3" << "../../..../" << "A.mp3" << "root/x/y"
                                               << "gone/A.mp3";
        // A NUL ends the name where the system would read it: what comes before it is not the file.
        const QString nul(QChar(0));
        QTest::addRow("stored path holding NUL after a file's name")
            << "stored/A.mp3" + nul + "x" << "2025-09-01" << "B.mp3" << "root" << "stored/A.mp3" + nul + "x";
        QTest::addRow("file name holding NUL after a file's name") << "gone/A.mp3" << "2025-09-01" << "A.mp3" + nul + "x"
                                                                  << "root" << "gone/A.mp3";
        QTest::addRow("file name not UTF-8, under root") << "gone/A.mp3" << "2025-09-01"
                                                          << PathFromBytes("L\xE9.mp3") << "root"
                                                          << "root/2025/09/01/" + PathFromBytes("L\xE9.mp3");
    }
    void resolveExistingPathFollowsThreeRules()
    {
        QFETCH(QString, stored);
        QFETCH(QString, date);
        QFETCH(QString, file);
        QFETCH(QString, root);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString base = dir.path() + '/';
        QVERIFY(QDir().mkpath(base + "root/2025/09/01"));
        QVERIFY(QDir().mkpath(base + "stored"));
        QVERIFY(WriteFile(base + "root/2025/09/01/A.mp3", "a"));
        QVERIFY(WriteFile(base + "stored/A.mp3", "a"));
        const QByteArray latin1 = PathBytes(base) + "root/2025/09/01/L\xE9.mp3";
        QVERIFY(::close(::open(latin1.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        TRecInfo ri;
        ri.FilePath = stored.isEmpty() ? QString() : base + stored;
        ri.RecDate = date;
        ri.FileName = file;
        const QString want = expected.isEmpty() ? QString() : base + expected;
        QCOMPARE(TReaderData::ResolveExistingPath(ri, base + root), want);
        // The same search, telling "none" apart: empty where it falls back to the stored path.
        QCOMPARE(TReaderData::FindExistingPath(ri, base + root), IsRegularFilePath(want) ? want : QString());
    }

    // Names are read by their bytes: a file name that is not UTF-8 and a text holding a NUL come back
    // whole, the file is found, and the edit finds its row again by that name.
    void namesAreReadAndMatchedByTheirBytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        const QString latin1 = PathFromBytes("01092025071\xE9.wav");
        TRow row = Rec(1, "2025-09-01 07:10:00", 7, 1, latin1, 60, QString("a") + QChar(0) + "b");
        row.filepath = dir.filePath("gone") + QChar(0) + "x";
        CreateCatalogue(path, {row});
        {
            TSqliteDb db(path, SQLITE_OPEN_READONLY);
            TSqliteStmt q(db, "SELECT hex(filename), hex(title) FROM recordings");
            QVERIFY(q.Step());
            QCOMPARE(q.ColumnText(0), QString("3031303932303235303731E92E776176"));
            QCOMPARE(q.ColumnText(1), QString("610062"));
        }
        QVERIFY(QDir().mkpath(dir.filePath("root/2025/09/01")));
        const QByteArray onDisk = PathBytes(dir.filePath("root/2025/09/01/")) + "01092025071\xE9.wav";
        QVERIFY(::close(::open(onDisk.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        QVERIFY(WriteFile(dir.filePath("gone"), "the part before the NUL"));

        TReaderData db(path);
        TRecList list;
        db.Search("", -1, "", list);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].FileName, latin1);
        QCOMPARE(list[0].FilePath, row.filepath.toString());
        QCOMPARE(list[0].Title, QString("a") + QChar(0) + "b");
        QCOMPARE(PathBytes(TReaderData::ResolveExistingPath(list[0], dir.filePath("root"))), onDisk);
        db.UpdateMeta(1, list[0].FileName, "Nieuw", "Piet");
        db.Search("", -1, "", list);
        QCOMPARE(list[0].Title, QString("Nieuw"));
    }

    // Opened for reading only, the catalogue answers searches and refuses the edit with the read-only text.
    void readOnlyAccessOnlyReads()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        CreateCatalogue(path, DayRows());
        const QString before = Dump(path);
        TReaderData db(path, 1000, TCatalogueAccess::ReadOnly);
        QVERIFY(db.IsReadOnly());
        TRecList list;
        db.Search("", -1, "", list);
        QCOMPARE(list.size(), 9);
        QVERIFY_THROWS_EXCEPTION(EReaderError, db.UpdateMeta(1, "01092025071.mp3", "T", "P"));
        QCOMPARE(Dump(path), before);
    }

    void updateMetaChangesOnlyTheAddressedRecording()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        CreateCatalogue(path, DayRows());
        const QString before = Dump(path);
        {
            TReaderData db(path);
            db.UpdateMeta(2, "01092025072.mp3", "Nieuw %_' titel", "Piet\r\nMarie");
        }
        QString expected = before;
        expected.replace("2|'2025-09-01 07:40:00'|'2025-09-01'|7|2|'MP3'|'01092025072.mp3'|"
                         "'/nonexistent/01092025072.mp3'|NULL|'JANSSENS'",
                         "2|'2025-09-01 07:40:00'|'2025-09-01'|7|2|'MP3'|'01092025072.mp3'|"
                         "'/nonexistent/01092025072.mp3'|'Nieuw %_'' titel'|'Piet\r\nMarie'");
        QVERIFY(expected != before);
        QCOMPARE(Dump(path), expected);
    }

    void updateMetaOfAVanishedRecordingFailsAndStoresNothing_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("file");
        QTest::addRow("id now holds another recording") << 2 << "01092025071.mp3";
        QTest::addRow("id gone") << 99 << "01092025072.mp3";
        QTest::addRow("file name differs in case only") << 2 << "01092025072.MP3";
    }
    void updateMetaOfAVanishedRecordingFailsAndStoresNothing()
    {
        QFETCH(int, id);
        QFETCH(QString, file);
        QTemporaryDir dir;
        const QString path = dir.filePath("cat.sqlite");
        CreateCatalogue(path, DayRows());
        const QString before = Dump(path);
        TReaderData db(path);
        try {
            db.UpdateMeta(id, file, "T", "P");
            QFAIL("reported success");
        } catch (const EReaderError &e) {
            QVERIFY2(e.Message().contains("staat niet meer in de database") && e.Message().contains(file),
                     qPrintable(e.Message()));
        }
        QCOMPARE(Dump(path), before);
    }

    // A file the system write-protects opens for reading only without failing: the edit meets SQLite's
    // read-only error.
    void writeProtectedCatalogueRefusesTheEdit()
    {
        QTemporaryDir dir;
        const QString sub = dir.filePath("ro");
        QVERIFY(QDir().mkpath(sub));
        const QString path = sub + "/cat.sqlite";
        CreateCatalogue(path, DayRows());
        const QString before = Dump(path);
        TReadOnlyMount ro(sub);
        if (!ro.ok)
            QSKIP("cannot make a read-only bind mount here (needs root)");
        TReaderData db(path);
        QVERIFY(!db.IsReadOnly());
        TRecList list;
        db.Search("", -1, "", list);
        QCOMPARE(list.size(), 9);
        QString message;
        try {
            db.UpdateMeta(1, "01092025071.mp3", "T", "P");
        } catch (const EReaderError &e) {
            message = e.Message();
        }
        QCOMPARE(message, QString("De database is alleen-lezen: het bestand of zijn map is schrijfbeveiligd. "
                                  "(SQLite: attempt to write a readonly database)"));
        QCOMPARE(Dump(path), before);
    }

    // An edit that needs room on a full disk fails with the disk named and stores nothing.
    void editOnAFullDiskFailsAndStoresNothing()
    {
        QTemporaryDir dir;
        const QString sub = dir.filePath("small");
        QVERIFY(QDir().mkpath(sub));
        TSmallDisk disk(sub);
        if (!disk.ok)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        const QString path = sub + "/cat.sqlite";
        CreateCatalogue(path, DayRows());
        const QString before = Dump(path);
        {
            QFile filler(sub + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size()) {
            }
        }
        QString message;
        try {
            TReaderData db(path);
            db.UpdateMeta(1, "01092025071.mp3", QString(100000, 'x'), "P");
        } catch (const EReaderError &e) {
            message = e.Message();
        }
        QCOMPARE(message, QString("De schijf met de database is vol. (SQLite: database or disk is full)"));
        QFile::remove(sub + "/filler");
        QCOMPARE(Dump(path), before);
        QCOMPARE(IntegrityCheck(path), QString("ok"));
    }

    // Opening, reading and editing leave a WAL catalogue in WAL mode.
    void connectKeepsTheRecordersJournalMode()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("wal.sqlite");
        CreateCatalogue(path, DayRows(), true);
        {
            TReaderData db(path);
            TRecList list;
            db.Search("", -1, "jan", list);
            QCOMPARE(list.size(), 2);
            db.UpdateMeta(1, "01092025071.mp3", "T", "P");
        }
        TSqliteDb check(path, SQLITE_OPEN_READONLY);
        TSqliteStmt q(check, "PRAGMA journal_mode");
        QVERIFY(q.Step());
        QCOMPARE(q.ColumnText(0), QString("wal"));
        QCOMPARE(IntegrityCheck(path), QString("ok"));
    }
};

VORNAK_TEST_GUILESS_MAIN(TestReaderData)
#include "tst_uReaderData.moc"
