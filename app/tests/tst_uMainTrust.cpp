// The main window when things go wrong: catalogues that cannot be read (at start, after the open, after
// the settings), loads that fail after a good one, the minimum window size, an export that ends early.
#include "MainWindowTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uApplication.h"
#include "uAudioEngine.h"
#include "uCalendar.h"
#include "uExport.h"
#include "uMain.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uReaderSettings.h"
#include "uReportList.h"
#include "uSearch.h"
#include "uTiles.h"
#include "uWaveView.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include <sqlite3.h>

namespace {

const char *const NotOpen = "Database niet geopend: ";
const char *const NotOpenTail = "  (Programma > Instellingen (paden))";

// Second run of this program: holds an exclusive lock on the catalogue until its input ends (or it is
// killed), as a recorder in the middle of a long write would.
int HoldExclusive(const char *APath)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(APath, &db) != SQLITE_OK || sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 1;
    std::puts("locked");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    sqlite3_close(db);
    return 0;
}

class TLockHolder {
public:
    bool Start(const QString &ADb)
    {
        FProc.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-exclusive"), ADb});
        return FProc.waitForReadyRead(10000) && FProc.readLine().trimmed() == "locked";
    }
    ~TLockHolder()
    {
        if (FProc.state() != QProcess::NotRunning) {
            FProc.kill();
            FProc.waitForFinished();
        }
    }

private:
    QProcess FProc;
};

int TilesOn(const QObject &AWindow)
{
    int on = 0;
    for (int i = 0; i < 24; ++i)
        on += HourTile(AWindow, i)->isEnabled() ? 1 : 0;
    return on;
}

// Whether every pixel of AWidget shows: inside each parent up to the window's client area.
bool FullyShown(const QWidget *AWidget, const QWidget *AClient)
{
    QRect r = AWidget->rect();
    for (const QWidget *w = AWidget; w != AClient; w = w->parentWidget()) {
        r = r.translated(w->pos());
        if (!w->parentWidget() || !w->isVisible() || !w->parentWidget()->rect().contains(r))
            return false;
    }
    return true;
}

} // namespace

class TestMainTrust : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsOnAnyCatalogue_data();
    void startsOnAnyCatalogue();
    void settingsNameTheNewCatalogueProblem();
    void catalogueDamagedAfterTheOpen();
    void failedLoadKeepsThePreviousRecording_data();
    void failedLoadKeepsThePreviousRecording();
    void minimumSizeShowsEveryTile();
    void exportOfACutRecordingNamesWhatItHolds();

private:
    std::unique_ptr<TfrmMain> MakeMain();
    QString Rec(const QString &AName) const { return FDir.filePath(QStringLiteral("rec/") + AName); }
    QString Day() const { return FToday.toString(QStringLiteral("yyyy-MM-dd")); }
    void AcceptSettingsWith(const QString &ADb);

    QTemporaryDir FDir;
    QString FDb;
    QDate FToday = QDate::currentDate();
    TTestPrompt FPrompt;
};

void TestMainTrust::initTestCase()
{
    QVERIFY(FDir.isValid());
    QVERIFY(QDir().mkpath(FDir.filePath(QStringLiteral("rec"))));
    FDb = FDir.filePath(QStringLiteral("cat.sqlite"));
    // Hour 10 plays; 11 has no file; 12 does not decode; 13 is a FLAC cut to 2/5 of its bytes, so it
    // decodes to less than the 10 s its header announces.
    QVERIFY2(HaveFfmpeg(), "the ffmpeg program makes the fixtures (tools/install.sh installs it)");
    QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-ac", "2", "-ar", "44100", Rec("good.wav")}));
    QFile garbage(Rec("bad.mp3"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x5a'));
    garbage.close();
    QVERIFY(Ffmpeg({"-f", "lavfi", "-i", "anoisesrc=duration=10:amplitude=0.3", "-ac", "2", "-ar", "44100", "-c:a",
                    "flac", Rec("cut.flac")}));
    QVERIFY(QFile(Rec("cut.flac")).resize(QFileInfo(Rec("cut.flac")).size() * 2 / 5));
    QString sql = QStringLiteral("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, "
                                 "rec_hour INTEGER, rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, "
                                 "title TEXT, persons TEXT, duration_sec INTEGER);");
    const struct {
        int Hour;
        const char *File, *Format;
    } rows[] = {{10, "good.wav", "WAV"}, {11, "gone.wav", "WAV"}, {12, "bad.mp3", "MP3"}, {13, "cut.flac", "FLAC"}};
    for (const auto &r : rows)
        sql += QStringLiteral("INSERT INTO recordings VALUES (%1, '%2 %1:00:00', '%2', %1, 1, '%3', '%4', '%5', '', '', 3);")
                   .arg(r.Hour)
                   .arg(Day(), QLatin1String(r.Format), QLatin1String(r.File), Rec(QLatin1String(r.File)));
    QVERIFY(Exec(FDb, sql));
}

void TestMainTrust::init()
{
    StartSettings(FPrompt, FDir.path(), FDb, FDir.filePath(QStringLiteral("rec")),
                  FDir.filePath(QStringLiteral("exports")) + QLatin1Char('/'));
}

void TestMainTrust::cleanup()
{
    EndSettings();
}

std::unique_ptr<TfrmMain> TestMainTrust::MakeMain()
{
    return ShowMain(FPrompt);
}

void TestMainTrust::AcceptSettingsWith(const QString &ADb)
{
    FPrompt.OnRun = [ADb](QDialog &ADialog) {
        if (!qobject_cast<TfrmSettings *>(&ADialog))
            return int(QDialog::Rejected);
        Config->SetDatabasePath(ADb);  // what OK stores
        return int(QDialog::Accepted);
    };
}

void TestMainTrust::startsOnAnyCatalogue_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");  // the start of the reason on the status line
    QTest::addRow("0-byte file") << "empty" << "De database bevat de opnametabel van Vornak 2026 niet.";
    QTest::addRow("text file") << "text" << "Het bestand is geen database.";
    QTest::addRow("SQLite file with another table") << "other" << "De database bevat de opnametabel van Vornak 2026 niet.";
    QTest::addRow("folder") << "folder" << "Databasebestand niet gevonden: ";
    QTest::addRow("missing file") << "missing" << "Databasebestand niet gevonden: ";
    QTest::addRow("held under an exclusive lock") << "locked" << "De database is vergrendeld door de recorder";
}

// The window shows with the reason on the status line and every hour off, asks nothing, and works on
// once the settings name a good catalogue.
void TestMainTrust::startsOnAnyCatalogue()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("bad.sqlite"));
    QFile file(db);
    if (kind == "empty" || kind == "text") {
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind == "text")
            file.write("Dit is geen database.\nMaar een tekst.\n");
        file.close();
    } else if (kind == "other") {
        QVERIFY(Exec(db, QStringLiteral("CREATE TABLE notes (id INTEGER, body TEXT)")));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(db));
    } else if (kind == "locked") {
        QVERIFY(QFile::copy(FDb, db));
    }
    TLockHolder holder;
    if (kind == "locked")
        QVERIFY(holder.Start(db));
    Config->SetDatabasePath(db);

    auto w = MakeMain();
    QVERIFY(w->isVisible());
    QVERIFY(!w->DataOK());
    QVERIFY2(w->StatusText().startsWith(QLatin1String(NotOpen) + reason), qPrintable(w->StatusText()));
    QVERIFY(w->StatusText().endsWith(QLatin1String(NotOpenTail)));
    QCOMPARE(TilesOn(*w), 0);
    QVERIFY(FPrompt.Messages.isEmpty());
    QCOMPARE(FPrompt.Runs, 0);
    // Another day is no different.
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FToday.addDays(-1));
    w->CalendarSelect();
    QVERIFY(w->StatusText().startsWith(QLatin1String(NotOpen) + reason));

    AcceptSettingsWith(FDb);
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FToday);
    w->mnuPathsClick();
    QVERIFY(w->DataOK());
    QCOMPARE(TilesOn(*w), 4);
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    QVERIFY(FPrompt.Messages.isEmpty());
}

// After the settings the status line tells what is wrong with the catalogue chosen there.
void TestMainTrust::settingsNameTheNewCatalogueProblem()
{
    const QString text = FDir.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("geen database\n");
    file.close();
    Config->SetDatabasePath(FDir.filePath(QStringLiteral("missing.sqlite")));
    auto w = MakeMain();
    QVERIFY(w->StatusText().contains(QStringLiteral("niet gevonden")));

    AcceptSettingsWith(text);
    w->mnuPathsClick();
    QVERIFY(!w->DataOK());
    QVERIFY2(w->StatusText().startsWith(QLatin1String(NotOpen) + QStringLiteral("Het bestand is geen database.")),
             qPrintable(w->StatusText()));
    QVERIFY(FPrompt.Messages.isEmpty());

    // From a good catalogue to a bad one: the tiles go off with it.
    AcceptSettingsWith(FDb);
    w->mnuPathsClick();
    QCOMPARE(TilesOn(*w), 4);
    AcceptSettingsWith(FDir.filePath(QStringLiteral("rec")));
    w->mnuPathsClick();
    QVERIFY(w->StatusText().startsWith(QLatin1String(NotOpen) + QStringLiteral("Databasebestand niet gevonden: ")));
    QCOMPARE(TilesOn(*w), 0);
}

// The recorder's table goes away while the catalogue is open: a calendar selection or an hour click
// reports it as a catalogue that is not open, and the loaded recording stays.
void TestMainTrust::catalogueDamagedAfterTheOpen()
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("cat.sqlite"));
    QVERIFY(QFile::copy(FDb, db));
    Config->SetDatabasePath(db);
    auto w = MakeMain();
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    const QString missingTable = QStringLiteral("De database bevat de opnametabel van Vornak 2026 niet.");

    // Between the calendar selection and the hour click.
    QVERIFY(Exec(db, QStringLiteral("ALTER TABLE recordings RENAME TO old_recordings")));
    w->HourTileClick(HourTile(*w, 13));
    QVERIFY(WaitAnalysed(*w));
    QCOMPARE(FPrompt.Messages.size(), 1);
    QVERIFY2(FPrompt.Messages[0].Text.contains(missingTable), qPrintable(FPrompt.Messages[0].Text));
    QVERIFY(w->StatusText().startsWith(QLatin1String(NotOpen) + missingTable));
    QCOMPARE(TilesOn(*w), 0);
    QCOMPARE(w->Current().RecHour, 10);

    // Before a calendar selection: reopened through the settings, then damaged again.
    QVERIFY(Exec(db, QStringLiteral("ALTER TABLE old_recordings RENAME TO recordings")));
    AcceptSettingsWith(db);
    w->mnuPathsClick();
    QCOMPARE(TilesOn(*w), 4);
    QVERIFY(Exec(db, QStringLiteral("DROP TABLE recordings")));
    w->CalendarSelect();
    QVERIFY(!w->DataOK());
    QVERIFY(w->StatusText().startsWith(QLatin1String(NotOpen) + missingTable));
    QCOMPARE(TilesOn(*w), 0);
    QCOMPARE(FPrompt.Messages.size(), 1);
    QVERIFY(w->HasFile());
}

void TestMainTrust::failedLoadKeepsThePreviousRecording_data()
{
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("bySearch");  // chosen in the search dialog instead of by its hour tile
    QTest::addRow("missing file") << 11 << int(QMessageBox::Warning) << false;
    QTest::addRow("undecodable file") << 12 << int(QMessageBox::Critical) << false;
    QTest::addRow("undecodable file found by search") << 12 << int(QMessageBox::Critical) << true;
}

// View, caption, hour mark, selection, transport and export all stay with the recording that plays on.
void TestMainTrust::failedLoadKeepsThePreviousRecording()
{
    QFETCH(int, hour);
    QFETCH(int, icon);
    QFETCH(bool, bySearch);
    auto w = MakeMain();
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const TWaveBands bands = TWaveBands::For(wave->height());
    const int y = (bands.WaveTop + bands.WaveBottom) / 2;
    QTest::mousePress(wave, Qt::LeftButton, Qt::NoModifier, QPoint(wave->width() / 4, y));
    QTest::mouseMove(wave, QPoint(wave->width() / 2, y));
    QTest::mouseRelease(wave, Qt::LeftButton, Qt::NoModifier, QPoint(wave->width() / 2, y));
    QVERIFY(wave->HasSelection());
    const double selStart = wave->SelStart(), selEnd = wave->SelEnd();
    const bool sound = w->Commands().Engine().HasOutput();
    if (sound)
        w->PlayClick();
    const QString status = w->StatusText(), title = w->windowTitle();
    const int envCount = wave->EnvCount();

    if (bySearch) {
        FPrompt.OnRun = [&](QDialog &ADialog) {
            auto *s = qobject_cast<TfrmSearch *>(&ADialog);
            if (!s)
                return int(QDialog::Rejected);
            s->findChild<QCheckBox *>(QStringLiteral("chkDate"))->setChecked(true);
            s->findChild<QDateEdit *>(QStringLiteral("dtpDbDate"))->setDate(FToday);
            s->findChild<QCheckBox *>(QStringLiteral("chkHour"))->setChecked(true);
            s->findChild<QComboBox *>(QStringLiteral("cbDbHour"))->setCurrentIndex(hour);
            s->findChild<QLineEdit *>(QStringLiteral("edName"))->clear();
            s->btnSearchDbClick();
            s->findChild<TReportList *>(QStringLiteral("lvResults"))->SelectRow(0);
            s->btnOkClick();
            return s->result();
        };
        w->mnuSearchClick();
        FPrompt.OnRun = nullptr;
    } else {
        w->HourTileClick(HourTile(*w, hour));
        QVERIFY(WaitAnalysed(*w));
    }
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(int(FPrompt.Messages[0].Icon), icon);
    QCOMPARE(w->Current().RecHour, 10);
    QVERIFY(w->HasFile());
    QCOMPARE(w->Commands().Engine().LoadedPath(), Rec(QStringLiteral("good.wav")));
    QCOMPARE(wave->EnvCount(), envCount);
    QCOMPARE(wave->Duration(), w->Commands().Engine().DurationSec());
    QCOMPARE(wave->SelStart(), selStart);
    QCOMPARE(wave->SelEnd(), selEnd);
    QCOMPARE(w->StatusText(), status);
    QCOMPARE(w->windowTitle(), title);
    QVERIFY(HourTile(*w, 10)->Selected());
    QVERIFY(!HourTile(*w, hour)->Selected());
    QCOMPARE(Child<TTileButton>(*w, "tilePlay")->isEnabled(), sound);
    QVERIFY(Child<QPushButton>(*w, "btnExport")->isEnabled() && Child<TTileButton>(*w, "tileZoomSel")->isEnabled());

    if (sound) {
        QVERIFY(w->Commands().Engine().IsPlaying());  // played on through the failed load
        w->StopClick();
        w->PlayClick();
        QTRY_VERIFY_WITH_TIMEOUT(w->Commands().Engine().PositionSec() > 0.3, 3000);
        QVERIFY(w->Commands().Engine().IsPlaying());
        w->StopClick();
    }

    const QString target = FDir.filePath(QStringLiteral("kept-%1.wav").arg(hour));
    FPrompt.OnRun = AnswerExport(WavExport(target));
    w->mnuExportClick();
    QCOMPARE(FPrompt.Messages.size(), 2);
    QCOMPARE(FPrompt.Messages[1].Text, QStringLiteral("De export is voltooid:\r\n") + target);
    QCOMPARE(QFileInfo(target).size(), 44 + 3 * 44100 * 4);
}

// At the least size the window allows, every tile shows whole and takes the click at its centre.
void TestMainTrust::minimumSizeShowsEveryTile()
{
    auto w = MakeMain();
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    const QSize frame = w->frameGeometry().size() - w->size();
    QVERIFY(w->minimumWidth() + frame.width() >= MainMinOuterWidth);
    QVERIFY(w->minimumHeight() + frame.height() >= MainMinOuterHeight);
    w->resize(w->minimumSize());
    QTRY_COMPARE(w->size(), w->minimumSize());
    QTRY_COMPARE(w->centralWidget()->height(), w->height() - w->menuBar()->height());
    QStringList names{"tilePlay", "tilePause", "tileStop", "tileZoomFit", "tileZoomSel", "tileZoomOut", "tileZoomIn", "btnExport"};
    for (int i = 0; i < 24; ++i)
        names << QStringLiteral("tileHour%1").arg(i);
    for (const QString &name : names) {
        auto *tile = Child<QWidget>(*w, name);
        QVERIFY2(FullyShown(tile, w->centralWidget()), qPrintable(name));
        const QPoint centre = tile->mapTo(w.get(), tile->rect().center());
        QCOMPARE(w->childAt(centre), tile);
    }
    // The last zoom tile works from there.
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const double before = wave->ViewLen();
    auto *zoomIn = Child<TTileButton>(*w, "tileZoomIn");
    QTest::mouseClick(zoomIn, Qt::LeftButton, Qt::NoModifier, zoomIn->rect().center());
    QVERIFY(wave->ViewLen() < before);
}

// A recording that decodes to less than it announces: the export holds what decodes, and says so.
void TestMainTrust::exportOfACutRecordingNamesWhatItHolds()
{
    auto w = MakeMain();
    w->HourTileClick(HourTile(*w, 13));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    const QString target = FDir.filePath(QStringLiteral("cut.wav"));
    FPrompt.OnRun = AnswerExport(WavExport(target));
    w->mnuExportClick();
    const double held = double(QFileInfo(target).size() - 44) / (44100 * 4);  // what the WAV file holds
    QVERIFY2(held > 1 && held < w->Commands().Engine().DurationSec() - 1, qPrintable(QString::number(held)));
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Information);
    QCOMPARE(FPrompt.Messages[0].Text,
             QStringLiteral("De export is voltooid:\r\n%1\r\n\r\nDe opname eindigt eerder dan verwacht: er is %2 "
                            "geëxporteerd.")
                 .arg(target, FormatDuration(held)));
    QCOMPARE(w->StatusText(), QStringLiteral("Export voltooid: ") + target);
    QCOMPARE(QFileInfo(target).size(), 44 + qRound64(held * 44100) * 4);
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    if (AArgc == 3 && qstrcmp(AArgv[1], "--hold-exclusive") == 0)
        return HoldExclusive(AArgv[2]);
    qputenv("LC_ALL", "nl_NL.UTF-8");
    TReaderApplication app(AArgc, AArgv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMainTrust tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uMainTrust.moc"
