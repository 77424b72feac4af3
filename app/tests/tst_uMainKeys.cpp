// The main window's keyboard and its menu "Afspelen": transport keys, the day's neighbours, and the
// listening choices kept in the settings file and shown in the status line.
#include "MainWindowTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uApplication.h"
#include "uAudioEngine.h"
#include "uCalendar.h"
#include "uMain.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uTiles.h"
#include "uWaveView.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// A key pressed on whatever has the focus in the window, as the operator's keyboard does.
void Press(QWidget &AWindow, int AKey, Qt::KeyboardModifiers AMods = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &AWindow;
    QTest::keyClick(target, Qt::Key(AKey), AMods);
}

} // namespace

class TestMainKeys : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void seekKeysMoveCursorClockAndPlayback_data();
    void seekKeysMoveCursorClockAndPlayback();
    void zoomKeysActAsTheirTiles_data();
    void zoomKeysActAsTheirTiles();
    void spaceTogglesPlayAndPause();
    void nothingHappensWithoutARecording();
    void keysWaitWhileAModalDialogIsOpen();
    void pageKeysWalkTheDayInCatalogueOrder();
    void pageKeysWorkWhileAnalysing();
    void pageKeysTellAnUnreadableCatalogue();
    void playMenuShowsTheActionsAndShortcuts_data();
    void playMenuShowsTheActionsAndShortcuts();
    void choicesReachEngineStatusAndSurviveARestart();
    void loopFollowsTheSelection();
    void unwritableSettingsKeepTheChoiceAndSaySo();

private:
    std::unique_ptr<TfrmMain> MakeMain();
    // Loads the 40 s recording (09:00 nr 1) and makes the window active again.
    void LoadLong(TfrmMain &AWindow);

    QTemporaryDir FDir;
    QString FRoot, FDb;
    QDate FDay = QDate::currentDate();
    TTestPrompt FPrompt;
};

void TestMainKeys::initTestCase()
{
    QVERIFY(FDir.isValid());
    FRoot = FDir.filePath(QStringLiteral("rec"));
    FDb = FDir.filePath(QStringLiteral("cat.sqlite"));
    // Today: 09:00 nr 1 (40 s), 09:30 nr 2, 11:00 nr 1, a 0 s entry that no listing shows; yesterday one more.
    struct TRow {
        QDate Day;
        QString Time;
        int Hour, Number, Seconds, Duration;
    };
    const QDate yesterday = FDay.addDays(-1);
    const TRow rows[] = {{FDay, "09:30:00", 9, 2, 3, 3},   {FDay, "11:00:00", 11, 1, 3, 3},
                         {FDay, "09:00:00", 9, 1, 40, 40}, {FDay, "10:00:00", 10, 1, 3, 0},
                         {yesterday, "23:00:00", 23, 1, 3, 3}};
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(FDb.toUtf8().constData(), &db), SQLITE_OK);
    QString sql = QStringLiteral("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, "
                                 "rec_hour INTEGER, rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, "
                                 "title TEXT, persons TEXT, duration_sec INTEGER);");
    for (const TRow &r : rows) {
        const QString name = r.Day.toString(QStringLiteral("ddMMyyyy")) +
                             QStringLiteral("%1%2.wav").arg(r.Hour, 2, 10, QLatin1Char('0')).arg(r.Number);
        const QString path = FRoot + QLatin1Char('/') + name;
        QVERIFY(MakeTone(path, r.Seconds, 8000));
        const QString day = r.Day.toString(QStringLiteral("yyyy-MM-dd"));
        sql += QStringLiteral("INSERT INTO recordings (rec_dt, rec_date, rec_hour, rec_number, format, filename, "
                              "filepath, title, persons, duration_sec) VALUES ('%1 %2', '%1', %3, %4, 'WAV', '%5', "
                              "'%6', '', '', %7);")
                   .arg(day, r.Time)
                   .arg(r.Hour)
                   .arg(r.Number)
                   .arg(name, path)
                   .arg(r.Duration);
    }
    QCOMPARE(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

void TestMainKeys::init()
{
    QFile::remove(FDir.filePath(QStringLiteral("VornakReader2026.ini")));
    StartSettings(FPrompt, FDir.path(), FDb, FRoot);
}

void TestMainKeys::cleanup()
{
    EndSettings();
}

std::unique_ptr<TfrmMain> TestMainKeys::MakeMain()
{
    return ShowMain(FPrompt, true);
}

void TestMainKeys::LoadLong(TfrmMain &AWindow)
{
    TRecList list;
    ReaderData->Search(FDay.toString(QStringLiteral("yyyy-MM-dd")), 9, QString(), list);
    QCOMPARE(list.size(), 2);
    AWindow.LoadRecording(list[0]);
    QVERIFY(AWindow.HasFile());
    QCOMPARE(AWindow.Current().RecNumber, 1);
    QApplication::setActiveWindow(&AWindow);  // so that the keys reach it
    QVERIFY(QTest::qWaitForWindowActive(&AWindow));
}

void TestMainKeys::seekKeysMoveCursorClockAndPlayback_data()
{
    QTest::addColumn<QString>("focus");  // the child that has the focus ("" none)
    QTest::addColumn<double>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<double>("to");
    const int none = Qt::NoModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
    QTest::addRow("Home") << "" << 12.0 << int(Qt::Key_Home) << none << 0.0;
    QTest::addRow("End") << "" << 12.0 << int(Qt::Key_End) << none << 40.0;
    QTest::addRow("Right 5 s") << "" << 12.0 << int(Qt::Key_Right) << none << 17.0;
    QTest::addRow("Left 5 s") << "" << 12.0 << int(Qt::Key_Left) << none << 7.0;
    QTest::addRow("Shift+Right 1 s") << "" << 12.0 << int(Qt::Key_Right) << shift << 13.0;
    QTest::addRow("Shift+Left 1 s") << "" << 12.0 << int(Qt::Key_Left) << shift << 11.0;
    QTest::addRow("Ctrl+Right 30 s") << "" << 5.0 << int(Qt::Key_Right) << ctrl << 35.0;
    QTest::addRow("Ctrl+Left 30 s") << "" << 35.0 << int(Qt::Key_Left) << ctrl << 5.0;
    QTest::addRow("Left stops at the start") << "" << 3.0 << int(Qt::Key_Left) << none << 0.0;
    QTest::addRow("Ctrl+Right stops at the end") << "" << 20.0 << int(Qt::Key_Right) << ctrl << 40.0;
    QTest::addRow("focus on the export button") << "btnExport" << 12.0 << int(Qt::Key_Right) << none << 17.0;
    QTest::addRow("focus on the calendar") << "calendar" << 12.0 << int(Qt::Key_Left) << none << 7.0;
    QTest::addRow("focus on the waveform") << "wave" << 12.0 << int(Qt::Key_End) << none << 40.0;
    QTest::addRow("focus on an hour tile") << "tileHour9" << 12.0 << int(Qt::Key_Home) << none << 0.0;
}

void TestMainKeys::seekKeysMoveCursorClockAndPlayback()
{
    QFETCH(QString, focus);
    QFETCH(double, from);
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(double, to);
    auto w = MakeMain();
    LoadLong(*w);
    if (!focus.isEmpty()) {
        QWidget *f = Child<QWidget>(*w, focus);
        f->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), f);
    }
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    wave->SetPlayPos(from);
    Press(*w, key, Qt::KeyboardModifiers(mods));
    QCOMPARE(wave->PlayPos(), to);
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), FormatTimeMs(to));
    if (w->Commands().Engine().HasOutput())
        QVERIFY2(qAbs(w->Commands().Engine().PositionSec() - to) < 0.05, qPrintable(QString::number(w->Commands().Engine().PositionSec())));
    QCOMPARE(FPrompt.Runs, 0);  // Space or arrows never reach the export button
}

void TestMainKeys::zoomKeysActAsTheirTiles_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("tile");
    QTest::addRow("+") << int(Qt::Key_Plus) << "tileZoomIn";
    QTest::addRow("-") << int(Qt::Key_Minus) << "tileZoomOut";
    QTest::addRow("0") << int(Qt::Key_0) << "tileZoomFit";
    QTest::addRow("S") << int(Qt::Key_S) << "tileZoomSel";
}

void TestMainKeys::zoomKeysActAsTheirTiles()
{
    QFETCH(int, key);
    QFETCH(QString, tile);
    auto w = MakeMain();
    LoadLong(*w);
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    // The same starting view for the key and the tile: zoomed in twice, a selection off-centre.
    const auto prepare = [&] {
        w->ZoomFitClick();
        DragSelect(wave, 0.6, 0.7);
        w->ZoomInClick();
        w->ZoomInClick();
        return qMakePair(wave->ViewStart(), wave->ViewEnd());
    };
    const auto before = prepare();
    Press(*w, key);
    const auto byKey = qMakePair(wave->ViewStart(), wave->ViewEnd());
    QVERIFY(byKey != before);
    prepare();
    emit Child<TTileButton>(*w, tile)->OnClick();
    QCOMPARE(byKey, qMakePair(wave->ViewStart(), wave->ViewEnd()));
}

void TestMainKeys::spaceTogglesPlayAndPause()
{
    auto w = MakeMain();
    if (!w->Commands().Engine().HasOutput())
        QSKIP("no sound output (start tools/start-sound.sh)");
    LoadLong(*w);
    Child<QPushButton>(*w, "btnExport")->setFocus();
    Child<TWaveView>(*w, "wave")->SetPlayPos(10);
    Press(*w, Qt::Key_Space);
    QVERIFY(w->Commands().Engine().IsPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(Child<TWaveView>(*w, "wave")->PlayPos() > 10.05, 3000);  // the cursor follows
    Press(*w, Qt::Key_Space);
    QVERIFY(!w->Commands().Engine().IsPlaying());
    QCOMPARE(FPrompt.Runs, 0);
    const QString clock = Child<QLabel>(*w, "lblTime")->text();
    // Time itself must pass here: the paused clock stays put while its timer goes on ticking.
    QVERIFY(WaitClockTicks(*w, 3));
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), clock);
    // Right while playing goes on from the heard position.
    Press(*w, Qt::Key_Space);
    const double heard = w->Commands().Engine().PositionSec();
    Press(*w, Qt::Key_Right);
    QVERIFY(w->Commands().Engine().IsPlaying());
    QVERIFY(w->Commands().Engine().PositionSec() >= heard + 4.9);
    w->StopClick();
}

void TestMainKeys::nothingHappensWithoutARecording()
{
    Config->SetOutputDevice(0);  // no sound either: the export button's Space must stay quiet too
    auto w = MakeMain();
    const QString status = w->StatusText();
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const auto view = qMakePair(wave->ViewStart(), wave->ViewEnd());
    const int keys[] = {Qt::Key_Space, Qt::Key_Home,  Qt::Key_End,    Qt::Key_Left,    Qt::Key_Right,
                        Qt::Key_Plus,  Qt::Key_Minus, Qt::Key_0,      Qt::Key_S,       Qt::Key_PageUp,
                        Qt::Key_PageDown};
    for (int key : keys)
        for (Qt::KeyboardModifiers mods : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                           Qt::KeyboardModifiers(Qt::ControlModifier)})
            Press(*w, key, mods);
    QVERIFY(!w->HasFile());
    QCOMPARE(wave->PlayPos(), 0.0);
    QCOMPARE(qMakePair(wave->ViewStart(), wave->ViewEnd()), view);
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), QStringLiteral("00:00.000"));
    QCOMPARE(w->StatusText(), status);
    QCOMPARE(FPrompt.Runs, 0);
    QVERIFY(FPrompt.Messages.isEmpty());
    for (const char *name : {"mnuPlayPause", "mnuToStart", "mnuForward30", "mnuZoomIn", "mnuZoomSel", "mnuNextRec"})
        QVERIFY2(!Child<QAction>(*w, name)->isEnabled(), name);

    // With a recording but no output, Space (play) stays off and the focused export button is not clicked.
    LoadLong(*w);
    Child<QPushButton>(*w, "btnExport")->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), Child<QPushButton>(*w, "btnExport"));
    Press(*w, Qt::Key_Space);
    QCOMPARE(FPrompt.Runs, 0);
    QVERIFY(!Child<QAction>(*w, "mnuPlayPause")->isEnabled());
    QVERIFY(Child<QAction>(*w, "mnuToEnd")->isEnabled());
}

void TestMainKeys::keysWaitWhileAModalDialogIsOpen()
{
    auto w = MakeMain();
    LoadLong(*w);
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    wave->SetPlayPos(12);
    QDialog dialog(w.get());
    dialog.setModal(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(w.get(), Qt::Key_Right);
    QTest::keyClick(&dialog, Qt::Key_Home);
    QTest::keyClick(w.get(), Qt::Key_L);
    QCOMPARE(wave->PlayPos(), 12.0);
    QVERIFY(!Child<QAction>(*w, "mnuLoop")->isChecked());
    dialog.close();
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_Right);
    QCOMPARE(wave->PlayPos(), 17.0);
}

void TestMainKeys::pageKeysWalkTheDayInCatalogueOrder()
{
    auto w = MakeMain();
    auto *calendar = Child<TCalendarView>(*w, "calendar");
    // The day shown is another one: the keys still walk the loaded recording's day and show it.
    LoadLong(*w);
    calendar->SetSelectedDate(FDay.addDays(-3));
    w->CalendarSelect();
    const auto at = [&] { return qMakePair(w->Current().RecHour, w->Current().RecNumber); };
    Press(*w, Qt::Key_PageUp);  // the first of the day: nothing before it
    QCOMPARE(at(), qMakePair(9, 1));
    Press(*w, Qt::Key_PageDown);
    QCOMPARE(at(), qMakePair(9, 2));
    QCOMPARE(calendar->SelectedDate(), FDay);
    QVERIFY(Child<TTileButton>(*w, "tileHour9")->Selected());
    QCOMPARE(Child<QLabel>(*w, "lblTime")->text(), QStringLiteral("00:00.000"));
    QVERIFY(WaitAnalysed(*w));  // until then the status line shows the analysis
    QVERIFY(w->StatusText().contains(QStringLiteral("09-10 uur  nr 2")));
    QApplication::setActiveWindow(w.get());
    Press(*w, Qt::Key_PageDown);  // the 0 s entry at ten is not listed; yesterday is another day
    QCOMPARE(at(), qMakePair(11, 1));
    QVERIFY(Child<TTileButton>(*w, "tileHour11")->Selected() && !Child<TTileButton>(*w, "tileHour9")->Selected());
    QApplication::setActiveWindow(w.get());
    Press(*w, Qt::Key_PageDown);  // the last of the day
    QCOMPARE(at(), qMakePair(11, 1));
    Press(*w, Qt::Key_PageUp);
    QCOMPARE(at(), qMakePair(9, 2));
    QCOMPARE(FPrompt.Runs, 0);
    QVERIFY(FPrompt.Messages.isEmpty());
}

void TestMainKeys::pageKeysWorkWhileAnalysing()
{
    auto w = MakeMain();
    LoadLong(*w);
    // No waiting for the analysis: the next recording opens at once and the first one's analysis ends.
    Child<QAction>(*w, "mnuNextRec")->trigger();
    QCOMPARE(w->Current().RecNumber, 2);
    QVERIFY(WaitAnalysed(*w));
    QCOMPARE(FPrompt.Runs, 0);
    QVERIFY(FPrompt.Messages.isEmpty());
}

void TestMainKeys::pageKeysTellAnUnreadableCatalogue()
{
    auto w = MakeMain();
    LoadLong(*w);
    // Another program takes the table away after the load: the next read of the day fails.
    const auto renameTable = [&](const char *AFrom, const char *ATo) {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(FDb.toUtf8().constData(), &db), SQLITE_OK);
        const QByteArray sql = QByteArray("ALTER TABLE ") + AFrom + " RENAME TO " + ATo;
        QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    renameTable("recordings", "recordings_away");
    Press(*w, Qt::Key_PageDown);
    renameTable("recordings_away", "recordings");
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Warning);
    QVERIFY2(FPrompt.Messages[0].Text.startsWith(QStringLiteral("De database kon niet gelezen worden:\r\n")),
             qPrintable(FPrompt.Messages[0].Text));
    // The window stays usable: the loaded recording stays, the keys still act on it.
    QVERIFY(w->HasFile());
    QCOMPARE(w->Current().RecNumber, 1);
    QApplication::setActiveWindow(w.get());
    Press(*w, Qt::Key_End);
    QVERIFY(Child<QLabel>(*w, "lblTime")->text() != QStringLiteral("00:00.000"));
    Press(*w, Qt::Key_PageDown);  // the catalogue was closed: nothing more is asked or told
    QCOMPARE(w->Current().RecNumber, 1);
    QCOMPARE(FPrompt.Messages.size(), 1);
}

void TestMainKeys::playMenuShowsTheActionsAndShortcuts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    const QString play = QStringLiteral("mnuAfspelen");
    QTest::addRow("play/pause") << "mnuPlayPause" << play << "Afspelen / pauzeren" << "Space";
    QTest::addRow("start") << "mnuToStart" << play << "Naar het begin" << "Home";
    QTest::addRow("end") << "mnuToEnd" << play << "Naar het einde" << "End";
    QTest::addRow("back 5") << "mnuBack5" << play << "5 s terug" << "Left";
    QTest::addRow("forward 5") << "mnuForward5" << play << "5 s vooruit" << "Right";
    QTest::addRow("back 1") << "mnuBack1" << play << "1 s terug" << "Shift+Left";
    QTest::addRow("forward 1") << "mnuForward1" << play << "1 s vooruit" << "Shift+Right";
    QTest::addRow("back 30") << "mnuBack30" << play << "30 s terug" << "Ctrl+Left";
    QTest::addRow("forward 30") << "mnuForward30" << play << "30 s vooruit" << "Ctrl+Right";
    QTest::addRow("zoom in") << "mnuZoomIn" << play << "Inzoomen" << "+";
    QTest::addRow("zoom out") << "mnuZoomOut" << play << "Uitzoomen" << "-";
    QTest::addRow("whole") << "mnuZoomFit" << play << "Volledige opname tonen" << "0";
    QTest::addRow("selection") << "mnuZoomSel" << play << "Inzoomen op selectie" << "S";
    QTest::addRow("previous") << "mnuPrevRec" << play << "Vorige opname van de dag" << "PgUp";
    QTest::addRow("next") << "mnuNextRec" << play << "Volgende opname van de dag" << "PgDown";
    QTest::addRow("loop") << "mnuLoop" << play << "Selectie herhalen" << "L";
    QTest::addRow("skip silence") << "mnuSkipSilence" << play << "Stiltes overslaan" << "K";
    const QString speed = QStringLiteral("mnuSpeed");
    QTest::addRow("0.5x") << "mnuSpeed50" << speed << "0,5×" << "";
    QTest::addRow("0.75x") << "mnuSpeed75" << speed << "0,75×" << "";
    QTest::addRow("1x") << "mnuSpeed100" << speed << "1×" << "";
    QTest::addRow("1.25x") << "mnuSpeed125" << speed << "1,25×" << "";
    QTest::addRow("1.5x") << "mnuSpeed150" << speed << "1,5×" << "";
    QTest::addRow("2x") << "mnuSpeed200" << speed << "2×" << "";
    QTest::addRow("slower") << "mnuSlower" << speed << "Langzamer" << "[";
    QTest::addRow("faster") << "mnuFaster" << speed << "Sneller" << "]";
    const QString channel = QStringLiteral("mnuChannel");
    QTest::addRow("both") << "mnuChannelBoth" << channel << "Beide" << "";
    QTest::addRow("left") << "mnuChannelLeft" << channel << "Alleen links" << "";
    QTest::addRow("right") << "mnuChannelRight" << channel << "Alleen rechts" << "";
}

void TestMainKeys::playMenuShowsTheActionsAndShortcuts()
{
    QFETCH(QString, name);
    QFETCH(QString, menu);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    auto w = MakeMain();
    // "Afspelen" follows "Programma" in the same menu bar; "Snelheid" and "Kanaal" are its submenus.
    QStringList bar;
    for (QAction *a : w->menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, (QStringList{QStringLiteral("Programma"), QStringLiteral("Afspelen")}));
    auto *play = Child<QMenu>(*w, "mnuAfspelen");
    QCOMPARE(Child<QMenu>(*w, "mnuSpeed")->menuAction()->text(), QStringLiteral("Snelheid"));
    QCOMPARE(Child<QMenu>(*w, "mnuChannel")->menuAction()->text(), QStringLiteral("Kanaal"));
    QVERIFY(play->actions().contains(Child<QMenu>(*w, "mnuSpeed")->menuAction()));
    QVERIFY(play->actions().contains(Child<QMenu>(*w, "mnuChannel")->menuAction()));

    auto *action = Child<QAction>(*w, name);
    QVERIFY(Child<QMenu>(*w, menu)->actions().contains(action));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut().toString(QKeySequence::PortableText), shortcut);
}

void TestMainKeys::choicesReachEngineStatusAndSurviveARestart()
{
    {
        auto w = MakeMain();
        LoadLong(*w);
        const QString status = w->StatusText();
        QVERIFY(Child<QAction>(*w, "mnuSpeed100")->isChecked() && Child<QAction>(*w, "mnuChannelBoth")->isChecked());
        Press(*w, Qt::Key_BracketRight);
        Press(*w, Qt::Key_BracketRight);
        QCOMPARE(w->Commands().Engine().Speed(), 1.5);
        QVERIFY(Child<QAction>(*w, "mnuSpeed150")->isChecked() && !Child<QAction>(*w, "mnuSpeed100")->isChecked());
        QCOMPARE(w->StatusText(), status + QStringLiteral("  [1,5×]"));
        Child<QAction>(*w, "mnuChannelLeft")->trigger();
        QCOMPARE(w->Commands().Engine().ChannelMode(), TChannelMode::cmLeft);
        QCOMPARE(w->StatusText(), status + QStringLiteral("  [1,5×, alleen links]"));
        QVERIFY(Child<QLabel>(*w, "lblStatus")->text().endsWith(QStringLiteral("[1,5×, alleen links]")));
        // A selection's text gets the same tail; a restore to 1× and both channels takes it away.
        DragSelect(Child<TWaveView>(*w, "wave"), 0.2, 0.4);
        QVERIFY(w->StatusText().startsWith(QStringLiteral("Selectie: ")));
        QVERIFY(w->StatusText().endsWith(QStringLiteral(")  [1,5×, alleen links]")));
        Press(*w, Qt::Key_K);
        Press(*w, Qt::Key_L);
        QVERIFY(w->Commands().Engine().SkipSilence());
        QVERIFY(Child<QAction>(*w, "mnuSkipSilence")->isChecked() && Child<QAction>(*w, "mnuLoop")->isChecked());
        for (int i = 0; i < 5; ++i)
            Press(*w, Qt::Key_BracketLeft);  // past the slowest: stays there
        QCOMPARE(w->Commands().Engine().Speed(), 0.5);
        QVERIFY(Child<QAction>(*w, "mnuSpeed50")->isChecked());
        QCOMPARE(FPrompt.Messages.size(), 0);
    }
    Config = std::make_unique<TConfig>(FDir.path());  // a new start on the same settings file
    {
        auto w = MakeMain();
        QCOMPARE(w->Commands().Engine().Speed(), 0.5);
        QCOMPARE(w->Commands().Engine().ChannelMode(), TChannelMode::cmLeft);
        QVERIFY(w->Commands().Engine().SkipSilence());
        for (const char *on : {"mnuSpeed50", "mnuChannelLeft", "mnuLoop", "mnuSkipSilence"})
            QVERIFY2(Child<QAction>(*w, on)->isChecked(), on);
        QVERIFY(w->StatusText().endsWith(QStringLiteral("  [0,5×, alleen links]")));
        // Back to 1× and both channels: the status line is exactly what it was.
        Child<QAction>(*w, "mnuSpeed100")->trigger();
        Child<QAction>(*w, "mnuChannelBoth")->trigger();
        QCOMPARE(w->StatusText(), DisplayDate(FDay) + QStringLiteral(" - 2 opname-uur/uren beschikbaar. Kies een uur."));
    }
    const TConfig saved(FDir.path());
    QCOMPARE(saved.PlaySpeed(), 1.0);
    QCOMPARE(saved.PlayChannel(), TChannelMode::cmBoth);
    QVERIFY(saved.LoopSelection() && saved.SkipSilence());
}

void TestMainKeys::loopFollowsTheSelection()
{
    auto w = MakeMain();
    LoadLong(*w);
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    const auto loop = [&] { return qMakePair(w->Commands().Engine().LoopStart(), w->Commands().Engine().LoopEnd()); };
    const auto selection = [&] { return qMakePair(wave->SelStart(), wave->SelEnd()); };
    Press(*w, Qt::Key_L);  // chosen without a selection: no loop yet
    QCOMPARE(loop(), qMakePair(-1.0, -1.0));
    DragSelect(wave, 0.2, 0.4);
    QCOMPARE(loop(), selection());
    DragSelect(wave, 0.5, 0.9);  // a new selection moves the loop
    QCOMPARE(loop(), selection());
    QVERIFY(loop().first > 15);
    Press(*w, Qt::Key_L);  // off: no loop although the selection stays
    QVERIFY(wave->HasSelection());
    QCOMPARE(loop(), qMakePair(-1.0, -1.0));
    Press(*w, Qt::Key_L);  // on again with the selection there
    QCOMPARE(loop(), selection());
    DragSelect(wave, 0.5, 0.5);  // a plain click clears the selection and the loop
    QVERIFY(!wave->HasSelection());
    QCOMPARE(loop(), qMakePair(-1.0, -1.0));
}

void TestMainKeys::unwritableSettingsKeepTheChoiceAndSaySo()
{
    QTemporaryDir gone;
    Config = std::make_unique<TConfig>(gone.path());
    Config->SetDatabasePath(FDb);
    Config->SetRecordingsRoot(FRoot);
    Config->SetOutputDevice(-1);
    auto w = MakeMain();
    QVERIFY(gone.remove());  // the settings file's folder is gone: every save fails
    Press(*w, Qt::Key_BracketRight);
    QCOMPARE(w->Commands().Engine().Speed(), 1.25);
    QVERIFY(Child<QAction>(*w, "mnuSpeed125")->isChecked());
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(FPrompt.Messages[0].Icon, QMessageBox::Warning);
    QVERIFY2(FPrompt.Messages[0].Text.startsWith(
                 QStringLiteral("De keuze geldt tot het programma sluit, maar kon niet bewaard worden:\r\n")),
             qPrintable(FPrompt.Messages[0].Text));
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    qputenv("LC_ALL", "nl_NL.UTF-8");
    TReaderApplication app(AArgc, AArgv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMainKeys tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uMainKeys.moc"
