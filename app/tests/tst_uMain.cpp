// The main window on a catalogue and recordings made here: start-up, browsing, loading, playback, the
// waveform events, the busy guards and the menu commands.
#include "MainWindowTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uAbout.h"
#include "uApplication.h"
#include "uAudioEngine.h"
#include "uCalendar.h"
#include "uEnvelope.h"
#include "uExport.h"
#include "uLoudnessView.h"
#include "uMain.h"
#include "uMeta.h"
#include "uPickRec.h"
#include "uProgress.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uReaderSettings.h"
#include "uReportList.h"
#include "uSearch.h"
#include "uTiles.h"
#include "uVersion.h"
#include "uWaveView.h"

#include <cstring>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTest>

#include <sqlite3.h>

namespace {

void Exec(sqlite3 *ADb, const QString &ASql)
{
    char *err = nullptr;
    if (sqlite3_exec(ADb, ASql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        qWarning("%s", err);
        sqlite3_free(err);
    }
}

QString Sq(const QString &AText)
{
    return QLatin1Char('\'') + QString(AText).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hourGridAndZoomColumn_data();
    void hourGridAndZoomColumn();
    void firstWindowFitsTheScreen_data();
    void firstWindowFitsTheScreen();
    void displayDateUsesTheLocaleSeparator_data();
    void displayDateUsesTheLocaleSeparator();
    void startWithoutCatalogue();
    void startWithCatalogue();
    void oneRecordingLoadsAtOnce();
    void waveformSpansTheRecordingOnTheRuler();
    void severalRecordingsOpenThePicker();
    void lateHourCaptionWrapsToZero();
    void missingFileWarns();
    void undecodableFileKeepsThePreviousRecording();
    void playPauseStop();
    void clickSeeksAndDragSelects();
    void closeWhileAnalysingEndsTheAnalysis();
    void theDayIsAnalysedAhead();
    void loadOpensAtOnceAndTheWaveformFillsIn();
    void exportWholeAndSelection();
    void exportWithRecordNamesTheRowAndTheRecord();
    void exportThatDoesNotCompleteKeepsWhatWasThere_data();
    void exportThatDoesNotCompleteKeepsWhatWasThere();
    void loudnessIsMeasuredAndARowMovesTheCursor();
    void editStoresTitleAndPersons();
    void editWithoutCatalogueSaysSo();
    void settingsReopenCatalogueAndKeepPlaying();
    void searchMovesCalendarAndLoads();
    void aboutShowsSettingsPath();
    void shortcutsRunTheCommands();
    void unhandledErrorIsReported();

private:
    std::unique_ptr<TfrmMain> MakeMain();
    void LoadHour(TfrmMain &AWindow, int AHour);
    QString DayKey(const QDate &ADate) const { return ADate.toString(QStringLiteral("yyyy-MM-dd")); }
    QString RecPath(const QDate &ADate, int AHour, int ANumber, const QString &AExt) const
    {
        return FRoot + ADate.toString(QStringLiteral("/yyyy/MM/dd/")) + ADate.toString(QStringLiteral("ddMMyyyy")) +
               QStringLiteral("%1%2").arg(AHour, 2, 10, QLatin1Char('0')).arg(ANumber) + AExt;
    }

    QTemporaryDir FDir;
    QString FRoot, FDb;
    QDate FToday = QDate::currentDate();
    QDate FOther = QDate(2025, 3, 14);
    TTestPrompt FPrompt;  // the operator of every window: messages recorded, dialogs driven by OnRun
};

void TestMain::initTestCase()
{
    QVERIFY(FDir.isValid());
    FRoot = FDir.filePath(QStringLiteral("rec"));
    FDb = FDir.filePath(QStringLiteral("cat.sqlite"));
    struct TRow {
        QDate Day;
        int Hour, Number;
        QString Ext, Title, Persons;
        int Make;  // 0 none, 1 tone, 2 garbage
    };
    const TRow rows[] = {
        {FToday, 10, 1, QStringLiteral(".wav"), QStringLiteral("Overleg"), QStringLiteral("Jan"), 1},
        {FToday, 14, 1, QStringLiteral(".wav"), QString(), QString(), 1},
        {FToday, 14, 2, QStringLiteral(".wav"), QString(), QStringLiteral("Piet"), 1},
        {FToday, 15, 1, QStringLiteral(".wav"), QString(), QString(), 0},
        {FToday, 16, 1, QStringLiteral(".mp3"), QString(), QString(), 2},
        {FOther, 23, 1, QStringLiteral(".wav"), QString(), QString(), 1},
        {FOther, 23, 2, QStringLiteral(".wav"), QString(), QString(), 1},
    };
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(FDb.toUtf8().constData(), &db), SQLITE_OK);
    Exec(db, QStringLiteral("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, "
                            "rec_hour INTEGER, rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, "
                            "title TEXT, persons TEXT, duration_sec INTEGER)"));
    int id = 0;
    for (const TRow &r : rows) {
        const QString path = RecPath(r.Day, r.Hour, r.Number, r.Ext);
        if (r.Make == 1)
            QVERIFY(MakeTone(path, 3));
        if (r.Make == 2) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, '\x5a'));
        }
        Exec(db, QStringLiteral("INSERT INTO recordings VALUES (%1, %2, %3, %4, %5, %6, %7, %8, %9, %10, 3)")
                     .arg(++id)
                     .arg(Sq(DayKey(r.Day) + QStringLiteral(" %1:00:0%2").arg(r.Hour, 2, 10, QLatin1Char('0')).arg(r.Number)),
                          Sq(DayKey(r.Day)))
                     .arg(r.Hour)
                     .arg(r.Number)
                     .arg(Sq(r.Ext.mid(1).toUpper()), Sq(QFileInfo(path).fileName()),
                          Sq(QStringLiteral("D:\\Opnames\\") + QFileInfo(path).fileName()), Sq(r.Title),
                          Sq(r.Persons)));
    }
    sqlite3_close(db);
}

void TestMain::init()
{
    StartSettings(FPrompt, FDir.path(), FDb, FRoot, FDir.filePath(QStringLiteral("exports")) + QLatin1Char('/'));
}

void TestMain::cleanup()
{
    EndSettings();
}

std::unique_ptr<TfrmMain> TestMain::MakeMain()
{
    return ShowMain(FPrompt);
}

void TestMain::LoadHour(TfrmMain &AWindow, int AHour)
{
    AWindow.HourTileClick(HourTile(AWindow, AHour));
    QVERIFY(WaitAnalysed(AWindow));
}

void TestMain::hourGridAndZoomColumn_data()
{
    QTest::addColumn<int>("tile");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QRect>("expected");
    QTest::addRow("first tile at design size") << 0 << QSize(520, 300) << QRect(0, 0, 124, 43);
    QTest::addRow("last tile at design size") << 23 << QSize(520, 300) << QRect(3 * 132, 5 * 51, 124, 43);
    QTest::addRow("wider panel, same height") << 5 << QSize(824, 300) << QRect(200 + 8, 51, 200, 43);
    QTest::addRow("tiny panel keeps the minimum") << 7 << QSize(30, 20) << QRect(3 * 28, 24, 20, 16);
    QTest::addRow("zoom fit") << -1 << QSize(64, 0) << QRect(6, 8, 52, 46);
    QTest::addRow("zoom in, narrow column") << -4 << QSize(20, 0) << QRect(6, 170, 24, 46);
}

void TestMain::hourGridAndZoomColumn()
{
    QFETCH(int, tile);
    QFETCH(QSize, panel);
    QFETCH(QRect, expected);
    if (tile >= 0)
        QCOMPARE(HourTileRect(tile, panel.width(), panel.height()), expected);
    else
        QCOMPARE(ToolTileRect(-tile - 1, panel.width()), expected);
}

// The design size 1020 × 786 (client and menu bar), the least size 900 × 680, on screens' available areas
// with the window manager's frame around the window.
void TestMain::firstWindowFitsTheScreen_data()
{
    QTest::addColumn<QMargins>("frame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("expected");
    QTest::addRow("1280 x 800 under a 28 px panel, 30 px title bar")
        << QMargins(1, 30, 1, 1) << QRect(0, 28, 1280, 772) << QRect(130, 58, 1020, 741);
    QTest::addRow("large screen keeps the design size, centred")
        << QMargins(0, 0, 0, 0) << QRect(0, 0, 1920, 1080) << QRect(450, 147, 1020, 786);
    QTest::addRow("second screen right of the first")
        << QMargins(2, 2, 2, 2) << QRect(1920, 0, 1280, 1024) << QRect(2050, 119, 1020, 786);
    QTest::addRow("smaller than the least size: from the top left")
        << QMargins(0, 20, 0, 0) << QRect(0, 0, 800, 600) << QRect(0, 20, 900, 680);
}

void TestMain::firstWindowFitsTheScreen()
{
    QFETCH(QMargins, frame);
    QFETCH(QRect, available);
    QFETCH(QRect, expected);
    const QRect placed = FitWindowRect(QSize(1020, 786), QSize(900, 680), frame, available);
    QCOMPARE(placed, expected);
    if (expected.width() > 900)  // it fits: the framed window lies inside the available area
        QVERIFY(available.contains(placed.marginsAdded(frame)));
}

void TestMain::displayDateUsesTheLocaleSeparator_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("separator");
    QTest::addRow("Dutch") << "nl_NL" << "-";
    QTest::addRow("American") << "en_US" << "/";
    QTest::addRow("German") << "de_DE" << ".";
    QTest::addRow("C") << "C" << "/";
}

void TestMain::displayDateUsesTheLocaleSeparator()
{
    QFETCH(QString, locale);
    QFETCH(QString, separator);
    QCOMPARE(LocaleDateSeparator(QLocale(locale)), separator);
    // The operator's own locale is pinned to Dutch by main().
    QCOMPARE(DisplayDate(QDate(2026, 3, 7)), QStringLiteral("07-03-2026"));
}

void TestMain::startWithoutCatalogue()
{
    Config->SetDatabasePath(FDir.filePath(QStringLiteral("missing.sqlite")));
    auto w = MakeMain();
    QVERIFY(!w->DataOK());
    QVERIFY(w->StatusText().startsWith(QStringLiteral("Database niet geopend: Databasebestand niet gevonden: ")));
    QVERIFY(w->StatusText().endsWith(QStringLiteral("missing.sqlite  (Programma > Instellingen (paden))")));
    for (int i = 0; i < 24; ++i)
        QVERIFY(!HourTile(*w, i)->isEnabled());
    QVERIFY(FPrompt.Messages.isEmpty());
    QCOMPARE(FPrompt.Runs, 0);
    // Nothing loaded: transport, zoom and export are off, the other menu items on.
    for (QWidget *c : {static_cast<QWidget *>(Child<TTileButton>(*w, "tilePlay")), static_cast<QWidget *>(Child<TTileButton>(*w, "tileZoomFit")),
                       static_cast<QWidget *>(Child<TTileButton>(*w, "tileZoomSel")), static_cast<QWidget *>(Child<QPushButton>(*w, "btnExport"))})
        QVERIFY(!c->isEnabled());
    QVERIFY(!Child<QAction>(*w, "mnuExport")->isEnabled() && !Child<QAction>(*w, "mnuEdit")->isEnabled());
    QVERIFY(Child<QAction>(*w, "mnuSearch")->isEnabled() && Child<QAction>(*w, "mnuPaths")->isEnabled() && Child<QAction>(*w, "mnuAbout")->isEnabled());
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), QStringLiteral("00:00.000"));
    QCOMPARE(HourTile(*w, 23)->Caption(), QStringLiteral("23 - 0 uur"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Vornak Reader 2026"));
    // An hour click does nothing without a catalogue.
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(FPrompt.Messages.isEmpty());
}

void TestMain::startWithCatalogue()
{
    auto w = MakeMain();
    QVERIFY(w->DataOK());
    QCOMPARE(w->StatusText(), DisplayDate(FToday) + QStringLiteral(" - 4 opname-uur/uren beschikbaar. Kies een uur."));
    for (int i = 0; i < 24; ++i)
        QCOMPARE(HourTile(*w, i)->isEnabled(), i == 10 || i == 14 || i == 15 || i == 16);
    QVERIFY(FPrompt.Messages.isEmpty());
    // The client area below the menu bar has the design size, and the tiles follow the window's width.
    QCOMPARE(w->centralWidget()->size(), QSize(MainClientWidth, MainClientHeight));
    QCOMPARE(HourTile(*w, 0)->geometry(), QRect(0, 0, 124, 43));
    QCOMPARE(Child<TWaveView>(*w, "wave")->size(), QSize(956, 330));
    w->resize(w->width() + 200, w->height());
    QTRY_COMPARE(HourTile(*w, 0)->width(), 174);
    QCOMPARE(HourTile(*w, 0)->height(), 43);
    QCOMPARE(Child<QPushButton>(*w, "btnExport")->geometry().right() + 1, w->centralWidget()->width() - 18);
}

void TestMain::oneRecordingLoadsAtOnce()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QCOMPARE(FPrompt.Runs, 0);
    QVERIFY2(w->HasFile(), FPrompt.Messages.isEmpty() ? "" : qPrintable(FPrompt.Messages.first().Text));
    QVERIFY(HourTile(*w, 10)->Selected());
    QCOMPARE(w->StatusText(), DayKey(FToday) + QStringLiteral("  10-11 uur  nr 1  -  WAV  -  duur 00:03  -  Overleg \u2014 Jan"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Vornak Reader 2026  -  ") + QFileInfo(RecPath(FToday, 10, 1, ".wav")).fileName());
    QVERIFY(Child<TTileButton>(*w, "tileZoomFit")->isEnabled() && Child<TTileButton>(*w, "tileZoomIn")->isEnabled() && !Child<TTileButton>(*w, "tileZoomSel")->isEnabled());
    QVERIFY(Child<QPushButton>(*w, "btnExport")->isEnabled() && Child<QAction>(*w, "mnuExport")->isEnabled() && Child<QAction>(*w, "mnuEdit")->isEnabled());
    QCOMPARE(Child<TTileButton>(*w, "tilePlay")->isEnabled(), w->Commands().Engine().HasOutput());
    QVERIFY(Child<TWaveView>(*w, "wave")->EnvCount() > 0);
    // Another day keeps the recording but clears the hour mark.
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FOther);
    w->CalendarSelect();
    QVERIFY(!HourTile(*w, 10)->Selected());
    QVERIFY(w->HasFile());
    QVERIFY(w->windowTitle().endsWith(QStringLiteral(".wav")));
}

// The loaded envelope reaches its empty tail (3 s at 44100 Hz: 3 frames a point, sound in 44,100 of the
// 50,000 points): the view gets the seconds per point with it and draws the tone up to the last column.
void TestMain::waveformSpansTheRecordingOnTheRuler()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    auto *wave = Child<TWaveView>(*w, "wave");
    QCOMPARE(wave->EnvCount(), 50000);
    QCOMPARE(wave->SecPerPoint(), 3.0 / 44100);
    wave->SetPlayPos(-1);
    const QImage img = wave->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int laneTop = TWaveBands::For(wave->height()).CentreL - 4;  // the tone reaches about 8 rows up
    for (int x : {1, wave->width() / 2, wave->width() * 9 / 10, wave->width() - 1})
        QVERIFY2(img.pixel(x, laneTop) == qRgb(40, 220, 60), qPrintable(QString::number(x)));
}

void TestMain::severalRecordingsOpenThePicker()
{
    auto w = MakeMain();
    QString caption;
    int offered = 0;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *pick = qobject_cast<TfrmPick *>(&ADialog);
        if (!pick)
            return int(QDialog::Rejected);
        caption = pick->findChild<QLabel *>(QStringLiteral("lblInfo"))->text();
        offered = pick->findChild<TReportList *>(QStringLiteral("lvItems"))->topLevelItemCount();
        if (FPrompt.Runs == 1)
            return int(QDialog::Rejected);  // first time: cancelled
        pick->findChild<TReportList *>(QStringLiteral("lvItems"))->SelectRow(1);
        pick->btnOkClick();
        return pick->result();
    };
    LoadHour(*w, 14);
    QCOMPARE(FPrompt.Runs, 1);
    QCOMPARE(caption, DisplayDate(FToday) + QStringLiteral(", 14-15 uur: 2 opnames gevonden. Kies er een:"));
    QCOMPARE(offered, 2);
    QVERIFY(!w->HasFile());
    QVERIFY(!HourTile(*w, 14)->Selected());
    LoadHour(*w, 14);  // asked again, no caching
    QCOMPARE(FPrompt.Runs, 2);
    QVERIFY(w->HasFile());
    QCOMPARE(w->Current().RecNumber, 2);
    QVERIFY(w->StatusText().endsWith(QStringLiteral("duur 00:03  -  Piet")));  // persons only: no stray space
}

void TestMain::lateHourCaptionWrapsToZero()
{
    auto w = MakeMain();
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FOther);
    w->CalendarSelect();
    for (int i = 0; i < 24; ++i)
        QCOMPARE(HourTile(*w, i)->isEnabled(), i == 23);
    QString caption;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        if (auto *pick = qobject_cast<TfrmPick *>(&ADialog))
            caption = pick->findChild<QLabel *>(QStringLiteral("lblInfo"))->text();
        return int(QDialog::Rejected);
    };
    LoadHour(*w, 23);
    QCOMPARE(caption, DisplayDate(FOther) + QStringLiteral(", 23-00 uur: 2 opnames gevonden. Kies er een:"));
}

void TestMain::missingFileWarns()
{
    auto w = MakeMain();
    LoadHour(*w, 15);
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Warning);
    QCOMPARE(FPrompt.Messages[0].Text, QStringLiteral("Het geluidsbestand werd niet teruggevonden:\r\nD:\\Opnames\\") +
                                    QFileInfo(RecPath(FToday, 15, 1, ".wav")).fileName());
    QVERIFY(!HourTile(*w, 15)->Selected());  // a failed load marks nothing
    QVERIFY(!w->HasFile());
    QVERIFY(!w->Busy());
}

void TestMain::undecodableFileKeepsThePreviousRecording()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    const QString status = w->StatusText();
    const QString title = w->windowTitle();
    LoadHour(*w, 16);
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Critical);
    const QString expected = QStringLiteral("Kon de opname niet laden:\r\n%1\r\n\r\n%2 (audiofout %3).")
                                 .arg(RecPath(FToday, 16, 1, ".mp3"), AudioErrorText(w->Commands().Engine().LastError()))
                                 .arg(w->Commands().Engine().LastError());
    QCOMPARE(FPrompt.Messages[0].Text, expected);
    QVERIFY(w->Commands().Engine().LastError() != 0);
    QCOMPARE(w->Current().RecHour, 10);
    QCOMPARE(w->StatusText(), status);
    QCOMPARE(w->windowTitle(), title);
    QVERIFY(w->HasFile());
    QVERIFY(!w->Busy());
    QVERIFY(!w->findChild<TfrmProgress *>());  // the progress dialog is gone
}

void TestMain::playPauseStop()
{
    auto w = MakeMain();
    if (!w->Commands().Engine().HasOutput())
        QSKIP("no sound output (start tools/start-sound.sh)");
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    w->PlayClick();
    QTRY_VERIFY_WITH_TIMEOUT(Child<QLabel>(*w, "lblTime")->text() != QStringLiteral("00:00.000"), 3000);
    QVERIFY(Child<TWaveView>(*w, "wave")->PlayPos() > 0);
    w->PauseClick();
    QTRY_VERIFY(!w->Commands().Engine().IsPlaying());
    QVERIFY(WaitClockTicks(*w, 1));  // a tick that was due shows its last position
    const QString frozen = Child<QLabel>(*w, "lblTime")->text();
    // Time itself must pass here: the paused clock stays put while its timer goes on ticking.
    QVERIFY(WaitClockTicks(*w, 3));
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), frozen);
    w->StopClick();
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), QStringLiteral("00:00.000"));
    QCOMPARE(Child<TWaveView>(*w, "wave")->PlayPos(), 0.0);
}

void TestMain::clickSeeksAndDragSelects()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    const QString caption = w->StatusText();
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const TWaveBands b = TWaveBands::For(wave->height());
    const int y = (b.WaveTop + b.WaveBottom) / 2;
    const int x = wave->width() / 2;
    SendMouse(wave, QEvent::MouseButtonPress, QPoint(x, y), Qt::LeftButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseButtonRelease, QPoint(x, y), Qt::LeftButton, Qt::NoButton);
    QVERIFY(wave->PlayPos() > 1.0 && wave->PlayPos() < 2.0);
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), FormatTimeMs(wave->PlayPos()));
    QCOMPARE(w->Commands().Engine().PositionSec() > 1.0, true);

    const int x0 = wave->width() / 3, x1 = wave->width() * 2 / 3;
    SendMouse(wave, QEvent::MouseButtonPress, QPoint(x0, y), Qt::LeftButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseMove, QPoint((x0 + x1) / 2, y), Qt::NoButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseMove, QPoint(x1, y), Qt::NoButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseButtonRelease, QPoint(x1, y), Qt::LeftButton, Qt::NoButton);
    QVERIFY(wave->HasSelection());
    QCOMPARE(w->StatusText(), QStringLiteral("Selectie: %1 - %2  (%3)")
                                  .arg(FormatDuration(wave->SelStart()), FormatDuration(wave->SelEnd()),
                                       FormatDuration(wave->SelEnd() - wave->SelStart())));
    QVERIFY(Child<TTileButton>(*w, "tileZoomSel")->isEnabled());
    w->ZoomSelClick();
    QCOMPARE(wave->ViewStart(), wave->SelStart());
    w->ZoomFitClick();
    QCOMPARE(wave->ViewEnd(), wave->Duration());
    // A plain click clears the selection, and its text with it: the recording's particulars are back.
    SendMouse(wave, QEvent::MouseButtonPress, QPoint(x, y), Qt::LeftButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseButtonRelease, QPoint(x, y), Qt::LeftButton, Qt::NoButton);
    QVERIFY(!wave->HasSelection());
    QVERIFY(!Child<TTileButton>(*w, "tileZoomSel")->isEnabled());
    QCOMPARE(w->StatusText(), caption);
}

void TestMain::loadOpensAtOnceAndTheWaveformFillsIn()
{
    QTemporaryDir cache;
    auto w = MakeMain();
    w->Commands().Engine().SetEnvelopeCacheFolder(cache.path());
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FToday);
    // No progress window and no busy state: the click returns with the recording open.
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(w->HasFile());
    QVERIFY(!w->Busy());
    QVERIFY(!w->findChild<TfrmProgress *>());
    QCOMPARE(w->Commands().Engine().LastCacheUse(), TEnvelopeCacheUse::Miss);
    auto *wave = Child<TWaveView>(*w, "wave");
    QCOMPARE(wave->Duration(), w->Commands().DurationSec());
    if (w->Commands().Analysing())
        QVERIFY(w->StatusText().startsWith(QStringLiteral("Golfvorm analyseren... ")));
    QVERIFY(WaitAnalysed(*w));
    QCOMPARE(w->StatusText(), DayKey(FToday) + QStringLiteral("  10-11 uur  nr 1  -  WAV  -  duur 00:03  -  Overleg \u2014 Jan"));
    // The view holds the whole envelope: the one a pass in one piece makes.
    const TEnvelopeResult whole = BuildEnvelopeFromFile(w->Commands().Engine().LoadedPath(), {}, 1);
    const TEnvArray first = w->Commands().Engine().Envelope();
    QVERIFY(first && whole.Envelope && first->size() == whole.Envelope->size());
    QVERIFY(std::memcmp(first->data(), whole.Envelope->data(), first->size() * sizeof(TEnvPoint)) == 0);
    QCOMPARE(wave->Envelope(), first);

    // Again: from the cache, with nothing left to analyse.
    w->HourTileClick(HourTile(*w, 10));
    QCOMPARE(w->Commands().Engine().LastCacheUse(), TEnvelopeCacheUse::Hit);
    QVERIFY(!w->Commands().Analysing());
    const TEnvArray second = w->Commands().Engine().Envelope();
    QVERIFY(second && second != first);  // a new envelope, not the one still held
    QCOMPARE(second->size(), first->size());
    QVERIFY(std::memcmp(second->data(), first->data(), first->size() * sizeof(TEnvPoint)) == 0);
    QVERIFY(FPrompt.Messages.isEmpty());
}

void TestMain::theDayIsAnalysedAhead()
{
    QTemporaryDir cache;
    auto w = MakeMain();
    w->Commands().Engine().SetEnvelopeCacheFolder(cache.path());
    LoadHour(*w, 10);
    QTRY_VERIFY_WITH_TIMEOUT(w->Commands().AheadIdle(), 30000);
    // The next recording of the day was analysed meanwhile: it opens from the cache.
    Child<QAction>(*w, "mnuNextRec")->trigger();
    QVERIFY(w->Current().RecHour != 10);
    QCOMPARE(w->Commands().Engine().LastCacheUse(), TEnvelopeCacheUse::Hit);
    QVERIFY(!w->Commands().Analysing());
}

void TestMain::closeWhileAnalysingEndsTheAnalysis()
{
    auto w = MakeMain();
    w->Commands().Engine().SetEnvelopeCacheFolder(QString());
    Child<TCalendarView>(*w, "calendar")->SetSelectedDate(FToday);
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(w->HasFile());
    // Everything else works at once, a close too: the analysis is cancelled with the window.
    w->HourTileClick(HourTile(*w, 14));  // the picker
    QCOMPARE(FPrompt.Runs, 1);
    w->close();
    QTRY_VERIFY(!w->isVisible());
}

void TestMain::exportWithRecordNamesTheRowAndTheRecord()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    Config->SetEvidenceRecord(true);
    const QString target = FDir.filePath(QStringLiteral("evidence/whole.wav"));
    QDir().mkpath(QFileInfo(target).path());
    bool offered = false;
    TExportRequest request = WavExport(target);
    request.EvidenceRecord = true;
    FPrompt.OnRun = AnswerExport(request, [&](TfrmExport &ADialog) {
        offered = ADialog.findChild<QCheckBox *>(QStringLiteral("cbEvidence"))->isChecked();  // the kept choice
    });
    w->mnuExportClick();
    QVERIFY(offered);
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Text, QStringLiteral("De export is voltooid:\r\n") + target +
                                           QStringLiteral("\r\n\r\nVerantwoording:\r\n") + target + ".json");
    QFile f(target + ".json");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject rec = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(rec["source"].toObject()["catalogue_id"].toInt(), w->Commands().Current().Id);
    QCOMPARE(rec["recording"].toObject()["hour"].toInt(), 10);
    QCOMPARE(rec["program"].toObject()["name"].toString(), QStringLiteral("VornakReader2026"));
    QVERIFY(QFile::exists(target + ".sha256"));
    QVERIFY(TConfig(FDir.path()).EvidenceRecord());  // saved
}

void TestMain::exportWholeAndSelection()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    const QString folder = FDir.filePath(QStringLiteral("out/sub"));
    QDir().mkpath(folder);
    QString defaultName;
    QString target = folder + QStringLiteral("/whole.wav");
    FPrompt.OnRun = AnswerExport(WavExport(target), [&](TfrmExport &ADialog) {
        defaultName = ADialog.findChild<QLineEdit *>(QStringLiteral("edFileName"))->text();
    });
    w->mnuExportClick();
    QVERIFY(defaultName.contains(QFileInfo(RecPath(FToday, 10, 1, "")).fileName()));
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Text, QStringLiteral("De export is voltooid:\r\n") + target);
    QCOMPARE(w->StatusText(), QStringLiteral("Export voltooid: ") + target);
    QCOMPARE(Config->ExportFolder(), folder + QLatin1Char('/'));
    QCOMPARE(TConfig(FDir.path()).ExportFolder(), folder + QLatin1Char('/'));  // saved
    const qint64 whole = QFileInfo(target).size();
    QVERIFY(whole > 44);

    // Select the middle third and export only that.
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const int y = (TWaveBands::For(wave->height()).WaveTop + TWaveBands::For(wave->height()).WaveBottom) / 2;
    SendMouse(wave, QEvent::MouseButtonPress, QPoint(wave->width() / 3, y), Qt::LeftButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseMove, QPoint(wave->width() * 2 / 3, y), Qt::NoButton, Qt::LeftButton);
    SendMouse(wave, QEvent::MouseButtonRelease, QPoint(wave->width() * 2 / 3, y), Qt::LeftButton, Qt::NoButton);
    QVERIFY(wave->HasSelection());
    target = folder + QStringLiteral("/part.wav");
    TExportRequest selectionExport = WavExport(target);
    selectionExport.StartSec = wave->SelStart();
    selectionExport.EndSec = wave->SelEnd();
    FPrompt.OnRun = AnswerExport(selectionExport);
    w->mnuExportClick();
    QCOMPARE(FPrompt.Messages.size(), 2);
    const double part = double(QFileInfo(target).size() - 44) / double(whole - 44);
    const double expected = (wave->SelEnd() - wave->SelStart()) / w->Commands().Engine().DurationSec();
    QVERIFY2(qAbs(part - expected) < 0.01, qPrintable(QStringLiteral("%1 vs %2").arg(part).arg(expected)));
}

void TestMain::loudnessIsMeasuredAndARowMovesTheCursor()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QAction *measure = Child<QAction>(*w, "mnuLoudness");
    QVERIFY(measure->isEnabled());
    QCOMPARE(measure->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    for (int i = 0; i < 4; ++i)
        wave->ZoomIn();
    const double target = w->Commands().Engine().DurationSec() * 0.8;
    QVERIFY(target > wave->ViewEnd());
    QString integrated;
    int rows = -1;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *dlg = qobject_cast<TfrmLoudness *>(&ADialog);
        if (!dlg)
            return int(QDialog::Rejected);
        integrated = Child<QLabel>(ADialog, "lblIntegrated")->text();
        rows = Child<QTreeWidget>(ADialog, "lvPlaces")->topLevelItemCount();
        emit dlg->OnJump(target);  // what a double-click on a row says
        return int(QDialog::Accepted);
    };
    measure->trigger();
    QCOMPARE(FPrompt.Runs, 1);
    // The fixture is a steady tone at the lavfi sine's 1/8 amplitude (-18 dBFS), mixed to both channels.
    QVERIFY2(integrated.startsWith(QStringLiteral("Geïntegreerde luidheid: \u2212")) && integrated.endsWith(" LUFS"),
             qPrintable(integrated));
    QCOMPARE(rows, 0);
    QCOMPARE(wave->PlayPos(), target);
    QVERIFY(wave->ViewStart() <= target && target < wave->ViewEnd());
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), FormatTimeMs(target));
    QVERIFY(!w->Busy());
}

// An export that does not complete: cancelled from the progress dialog, refused (the loaded recording itself,
// written another way) or raising its error (a WAV target that cannot be created). It says so in a message or
// by the error it raises, and in the status line; what the target held before stays (a new name keeps what
// was written); no temporary file is left and the window is free again.
void TestMain::exportThatDoesNotCompleteKeepsWhatWasThere_data()
{
    QTest::addColumn<QString>("target");     // under the test folder; "<loaded>": the loaded recording
    QTest::addColumn<QByteArray>("before");  // what the target holds first (empty: it does not exist)
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("status");     // the status line without the target
    QTest::addColumn<QString>("warning");    // start of the warning's reason ("%1": the target); empty: none
    QTest::addRow("cancelled, new name: what was written is kept")
        << "cancelled.wav" << QByteArray() << true << "Export afgebroken: " << "";
    QTest::addRow("cancelled over an existing file: the old file stays")
        << "cancelled.wav" << QByteArray("oud bestand") << true << "Export afgebroken: " << "";
    QTest::addRow("the loaded recording itself, written another way")
        << "<loaded>" << QByteArray() << false << "Export mislukt: " << "de export zou de opname zelf vervangen";
    QTest::addRow("a folder that does not exist says why")
        << "no-such-folder/x.wav" << QByteArray() << false << "Export mislukt: "
        << "kan het bestand \"%1\" niet maken: ";
}

void TestMain::exportThatDoesNotCompleteKeepsWhatWasThere()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, before);
    QFETCH(bool, cancel);
    QFETCH(QString, status);
    QFETCH(QString, warning);
    auto w = MakeMain();
    LoadHour(*w, 10);
    const QString own = RecPath(FToday, 10, 1, ".wav");
    QString path = FDir.filePath(target);
    if (target == QLatin1String("<loaded>")) {
        path = QFileInfo(own).absolutePath() + QStringLiteral("/./") + QFileInfo(own).fileName();
        QFile f(own);
        QVERIFY(f.open(QIODevice::ReadOnly));
        before = f.readAll();
    } else if (before.isEmpty()) {
        QFile::remove(path);
    } else {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(old.write(before), qint64(before.size()));
    }
    FPrompt.OnRun = AnswerExport(WavExport(path));
    if (cancel)
        w->Commands().OnProgressReport = [&] {
            if (auto *prog = w->findChild<TfrmProgress *>())
                if (auto *btn = prog->findChild<QPushButton *>(QStringLiteral("btnCancel")); btn->isVisible())
                    btn->click();
        };
    const QString folderBefore = Config->ExportFolder();
    w->mnuExportClick();
    if (warning.isEmpty()) {
        // The operator's own Annuleren is no warning: the status line tells it.
        QCOMPARE(FPrompt.Messages.size(), 0);
    } else {
        QCOMPARE(FPrompt.Messages.size(), 1);
        QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Warning);
        const QString head = QStringLiteral("De export is mislukt:\r\n") + QString(warning).replace("%1", path);
        QVERIFY2(FPrompt.Messages[0].Text.startsWith(head), qPrintable(FPrompt.Messages[0].Text));
    }
    QCOMPARE(w->StatusText(), status + path);
    // Only an export that went through moves the folder the next one proposes.
    QCOMPARE(Config->ExportFolder(), folderBefore);
    QVERIFY(!w->Busy());
    QVERIFY(!w->findChild<TfrmProgress *>());
    if (cancel && before.isEmpty()) {
        QVERIFY(QFileInfo(path).size() > 44);
    } else if (!before.isEmpty()) {
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), before);
    }
    QCOMPARE(QDir(FDir.path()).entryList({QStringLiteral(".vornak-export-*")}, QDir::Files | QDir::Hidden), QStringList());
}

void TestMain::editStoresTitleAndPersons()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    const QString caption = w->windowTitle();
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *m = qobject_cast<TfrmMeta *>(&ADialog);
        if (!m)
            return int(QDialog::Rejected);
        m->findChild<QLineEdit *>(QStringLiteral("edTitle"))->setText(QStringLiteral("  Nieuw overleg "));
        m->findChild<QPlainTextEdit *>(QStringLiteral("mmPersons"))->setPlainText(QStringLiteral("Piet\nKlaas"));
        return int(QDialog::Accepted);
    };
    w->mnuEditClick();
    QVERIFY2(FPrompt.Messages.isEmpty(), FPrompt.Messages.isEmpty() ? "" : qPrintable(FPrompt.Messages.first().Text));
    QCOMPARE(w->Current().Title, QStringLiteral("Nieuw overleg"));
    QCOMPARE(w->Current().Persons, QStringLiteral("Piet\r\nKlaas"));
    QVERIFY(w->StatusText().endsWith(QStringLiteral("  -  Nieuw overleg \u2014 Piet\r\nKlaas")));
    QVERIFY(Child<QLabel>(*w, "lblStatus")->text().endsWith(QStringLiteral("Nieuw overleg \u2014 Piet, Klaas")));  // shown on one line
    QCOMPARE(w->windowTitle(), caption);
    TRecList list;
    ReaderData->Search(DayKey(FToday), 10, QString(), list);
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].Title, QStringLiteral("Nieuw overleg"));
    QCOMPARE(list[0].Persons, QStringLiteral("Piet\r\nKlaas"));
    // Put it back for the other tests.
    ReaderData->UpdateMeta(list[0].Id, list[0].FileName, QStringLiteral("Overleg"), QStringLiteral("Jan"));
}

void TestMain::editWithoutCatalogueSaysSo()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    // The settings were confirmed with a catalogue that cannot be opened.
    Config->SetDatabasePath(FDir.filePath(QStringLiteral("gone.sqlite")));
    FPrompt.OnRun = [](QDialog &ADialog) {
        return qobject_cast<TfrmSettings *>(&ADialog) ? int(QDialog::Accepted) : 0;
    };
    w->mnuPathsClick();
    QVERIFY(!w->DataOK());
    QVERIFY(w->StatusText().startsWith(QStringLiteral("Database niet geopend: ")));
    QVERIFY(w->HasFile());
    FPrompt.Runs = 0;
    w->mnuEditClick();
    QCOMPARE(FPrompt.Runs, 0);
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Text,
             QStringLiteral("De database is niet geopend. Kies een database via Programma > Instellingen."));
}

void TestMain::settingsReopenCatalogueAndKeepPlaying()
{
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
    const bool output = w->Commands().Engine().HasOutput();
    QList<QPair<QString, int>> devices;
    ListOutputDevices(devices);
    int other = w->Commands().Engine().OutputDevice();
    for (const auto &d : devices)
        if (d.second != w->Commands().Engine().OutputDevice() && d.second >= 0)
            other = d.second;
    // The second half needs sound and a second output (tools/start-sound.sh starts a server with two).
    QVERIFY2(output && other != -1,
             "needs a sound server with two outputs (tools/start-sound.sh starts one)");
    w->PlayClick();
    QTRY_VERIFY(w->Commands().Engine().PositionSec() > 0.2);
    const double before = w->Commands().Engine().PositionSec();
    const QString caption = w->StatusText();
    w->SetStatus(QStringLiteral("iets anders"));
    QString firstDevice;
    int firstDeviceNumber = 0;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *settings = qobject_cast<TfrmSettings *>(&ADialog);
        if (!settings)
            return int(QDialog::Rejected);
        firstDevice = settings->findChild<QComboBox *>(QStringLiteral("cbDevice"))->itemText(0);
        firstDeviceNumber = settings->findChild<QComboBox *>(QStringLiteral("cbDevice"))->itemData(0).toInt();
        Config->SetOutputDevice(other);  // what OK stores
        return int(QDialog::Accepted);
    };
    w->mnuPathsClick();
    // The dialog offers the engine's device list, the default entry first.
    QCOMPARE(firstDevice, QStringLiteral("Standaard uitvoerapparaat"));
    QCOMPARE(firstDeviceNumber, -1);
    QVERIFY(w->DataOK());
    QCOMPARE(w->StatusText(), caption);  // the loaded recording's, not the day's
    QVERIFY(caption.contains(QStringLiteral("10-11 uur  nr 1")));
    QVERIFY(w->HasFile());
    QCOMPARE(w->Commands().Engine().OutputDevice(), other);
    QVERIFY(w->Commands().Engine().IsPlaying());
    QVERIFY(w->Commands().Engine().PositionSec() >= before - 0.1);
    w->StopClick();
}

void TestMain::searchMovesCalendarAndLoads()
{
    auto w = MakeMain();
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *s = qobject_cast<TfrmSearch *>(&ADialog);
        if (!s)
            return int(QDialog::Rejected);
        s->findChild<QCheckBox *>(QStringLiteral("chkDate"))->setChecked(true);
        s->findChild<QDateEdit *>(QStringLiteral("dtpDbDate"))->setDate(FOther);
        s->findChild<QCheckBox *>(QStringLiteral("chkHour"))->setChecked(true);
        s->findChild<QComboBox *>(QStringLiteral("cbDbHour"))->setCurrentIndex(23);
        s->findChild<QLineEdit *>(QStringLiteral("edName"))->clear();
        s->btnSearchDbClick();
        if (s->findChild<TReportList *>(QStringLiteral("lvResults"))->topLevelItemCount() != 2)
            return int(QDialog::Rejected);
        s->findChild<TReportList *>(QStringLiteral("lvResults"))->SelectRow(1);
        s->btnOkClick();
        return s->result();
    };
    w->mnuSearchClick();
    QVERIFY2(w->HasFile(), FPrompt.Messages.isEmpty() ? "" : qPrintable(FPrompt.Messages.first().Text));
    QCOMPARE(Child<TCalendarView>(*w, "calendar")->SelectedDate(), FOther);
    QVERIFY(HourTile(*w, 23)->Selected());
    QVERIFY(HourTile(*w, 23)->isEnabled() && !HourTile(*w, 10)->isEnabled());
    QCOMPARE(w->Current().RecNumber, 2);
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->StatusText().startsWith(DayKey(FOther) + QStringLiteral("  23-00 uur  nr 2")));
}

void TestMain::aboutShowsSettingsPath()
{
    auto w = MakeMain();
    QString path, libs, version;
    QWidget *owner = nullptr;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        if (auto *a = qobject_cast<TfrmAbout *>(&ADialog)) {
            path = a->findChild<QLabel *>(QStringLiteral("lblIniPath"))->text();
            version = a->findChild<QLabel *>(QStringLiteral("lblVersion"))->text();
            libs = a->findChild<QLabel *>(QStringLiteral("lblLibs"))->text();
            owner = a->parentWidget();
        }
        return int(QDialog::Accepted);
    };
    w->mnuAboutClick();
    QCOMPARE(owner, static_cast<QWidget *>(w.get()));
    QVERIFY(!w->findChild<TfrmAbout *>());  // destroyed when the command ends
    // The settings file in use, wherever it lies (here the test's folder, not the executable's).
    QCOMPARE(path, QDir(FDir.path()).filePath(QStringLiteral("VornakReader2026.ini")));
    QCOMPARE(version, QStringLiteral("Versie ") + ReaderVersion());
    QVERIFY(version.contains(QLatin1Char('.')));
    QVERIFY(libs.contains(QStringLiteral("libavformat")) && libs.contains(QStringLiteral("SQLite")));
    QVERIFY(!libs.contains(QStringLiteral("BASS")));
}

void TestMain::shortcutsRunTheCommands()
{
    auto w = MakeMain();
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QStringList opened;
    FPrompt.OnRun = [&](QDialog &ADialog) {
        opened << QString::fromLatin1(ADialog.metaObject()->className());
        return int(QDialog::Rejected);
    };
    QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);  // nothing loaded: nothing happens
    QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(opened, QStringList{QStringLiteral("TfrmSearch")});
    LoadHour(*w, 10);
    QApplication::setActiveWindow(w.get());  // the progress window took the focus for a moment
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(opened, (QStringList{QStringLiteral("TfrmSearch"), QStringLiteral("TfrmExport")}));
    QVERIFY(!w->findChild<QDialog *>());  // every dialog destroyed when its command ended
}

// A handler that throws: the application reports the message and the window keeps working.
class TThrower : public QObject {
public:
    bool event(QEvent *AEvent) override
    {
        if (AEvent->type() == QEvent::User)
            throw EReaderError(QStringLiteral("Kapot: test"));
        return QObject::event(AEvent);
    }
};

void TestMain::unhandledErrorIsReported()
{
    auto *app = qobject_cast<TReaderApplication *>(QCoreApplication::instance());
    QVERIFY(app);
    QStringList shown;
    const auto old = app->ShowError;
    app->ShowError = [&](const QString &AText) { shown << AText; };
    TThrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE(shown, QStringList{QStringLiteral("Kapot: test")});
    app->ShowError = old;
    auto w = MakeMain();
    LoadHour(*w, 10);
    QVERIFY(w->HasFile());
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    // The dates in the status line and the picker follow the operator's locale: pin a Dutch one.
    qputenv("LC_ALL", "nl_NL.UTF-8");
    TReaderApplication app(AArgc, AArgv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMain tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uMain.moc"
