// The main window tells the truth about what is loaded: the hour mark follows the loaded recording's day,
// a failed load marks nothing, a cleared selection takes its text off the status line, and the export
// button and the tiles say what they do.
#include "MainWindowTestKit.h"
#include "TestMain.h"
#include "TestPrompt.h"
#include "uApplication.h"
#include "uCalendar.h"
#include "uExport.h"
#include "uMain.h"
#include "uProgress.h"
#include "uReaderSettings.h"
#include "uReportList.h"
#include "uSearch.h"
#include "uTheme.h"
#include "uTiles.h"
#include "uWaveView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// The hours whose tiles carry the mark.
QList<int> Marked(const QObject &AWindow)
{
    QList<int> hours;
    for (int i = 0; i < 24; ++i)
        if (HourTile(AWindow, i)->Selected())
            hours << i;
    return hours;
}

// The brightest grey in the export button's picture as the button paints it (on the dark theme the
// button's own face is darker than any line of it).
int BrightestPictureGrey(QPushButton *AButton)
{
    const QImage image = AButton->grab().toImage();
    const QRect picture(QPoint(0, 0), AButton->iconSize());
    int brightest = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (picture.translated(AButton->rect().center() - picture.center()).contains(x, y))
                brightest = qMax(brightest, qGray(image.pixel(x, y)));
    return brightest;
}

} // namespace

class TestMainStatus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hourMarkStaysWithTheLoadedRecordingsDay();
    void failedLoadMarksNothing_data();
    void failedLoadMarksNothing();
    void clearedSelectionGivesItsTextBack_data();
    void clearedSelectionGivesItsTextBack();
    void statusLineKeepsTheLoadedRecording_data();
    void statusLineKeepsTheLoadedRecording();
    void titleAndPersonsAreTwoFields_data();
    void titleAndPersonsAreTwoFields();
    void hourClickDuringAnExportSaysWhy();
    void exportButtonLooksAndIsDisabledWithoutRecording();
    void tilesAndExportButtonHaveDutchTooltips_data();
    void tilesAndExportButtonHaveDutchTooltips();

private:
    QString Rec(const QString &AName) const { return FDir.filePath(QStringLiteral("rec/") + AName); }
    QString HoursText(const QDate &ADay, int ACount) const
    {
        return DisplayDate(ADay) + QStringLiteral(" - %1 opname-uur/uren beschikbaar. Kies een uur.").arg(ACount);
    }
    void SelectDay(TfrmMain &AWindow, const QDate &ADay);
    void ChooseInSearch(const QDate &ADay, int AHour);

    QTemporaryDir FDir;
    QString FDb;
    QDate FToday = QDate::currentDate();
    QDate FYesterday = FToday.addDays(-1);
    TTestPrompt FPrompt;
};

void TestMainStatus::initTestCase()
{
    QVERIFY(FDir.isValid());
    FDb = FDir.filePath(QStringLiteral("cat.sqlite"));
    // Today: 10 plays, 11 has no file, 12 does not decode. Yesterday: 9 plays.
    QVERIFY(MakeTone(Rec(QStringLiteral("ten.wav")), 3));
    QVERIFY(MakeTone(Rec(QStringLiteral("nine.wav")), 3));
    QFile garbage(Rec(QStringLiteral("bad.mp3")));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x5a'));
    garbage.close();
    QString sql = QStringLiteral("CREATE TABLE recordings (id INTEGER PRIMARY KEY, rec_dt TEXT, rec_date TEXT, "
                                 "rec_hour INTEGER, rec_number INTEGER, format TEXT, filename TEXT, filepath TEXT, "
                                 "title TEXT, persons TEXT, duration_sec INTEGER);");
    const struct {
        QDate Day;
        int Hour;
        const char *File, *Format;
    } rows[] = {{FToday, 10, "ten.wav", "WAV"},
                {FToday, 11, "gone.wav", "WAV"},
                {FToday, 12, "bad.mp3", "MP3"},
                {FYesterday, 9, "nine.wav", "WAV"}};
    for (const auto &r : rows) {
        const QString day = r.Day.toString(QStringLiteral("yyyy-MM-dd"));
        sql += QStringLiteral("INSERT INTO recordings VALUES (NULL, '%1 %2:00:00', '%1', %2, 1, '%3', '%4', '%5', '', '', 3);")
                   .arg(day)
                   .arg(r.Hour)
                   .arg(QLatin1String(r.Format), QLatin1String(r.File), Rec(QLatin1String(r.File)));
    }
    QVERIFY(Exec(FDb, sql));
}

void TestMainStatus::init()
{
    StartSettings(FPrompt, FDir.path(), FDb, FDir.filePath(QStringLiteral("rec")));
    Config->SetPlaySpeed(1.0);  // a test that chose another speed and failed does not pass it on
}

void TestMainStatus::cleanup()
{
    EndSettings();
}

void TestMainStatus::SelectDay(TfrmMain &AWindow, const QDate &ADay)
{
    Child<TCalendarView>(AWindow, "calendar")->SetSelectedDate(ADay);
    AWindow.CalendarSelect();
}

// The search dialog's next run chooses the recording of ADay and AHour.
void TestMainStatus::ChooseInSearch(const QDate &ADay, int AHour)
{
    FPrompt.OnRun = [ADay, AHour](QDialog &ADialog) {
        auto *s = qobject_cast<TfrmSearch *>(&ADialog);
        if (!s)
            return int(QDialog::Rejected);
        s->findChild<QCheckBox *>(QStringLiteral("chkDate"))->setChecked(true);
        s->findChild<QDateEdit *>(QStringLiteral("dtpDbDate"))->setDate(ADay);
        s->findChild<QCheckBox *>(QStringLiteral("chkHour"))->setChecked(true);
        s->findChild<QComboBox *>(QStringLiteral("cbDbHour"))->setCurrentIndex(AHour);
        s->findChild<QLineEdit *>(QStringLiteral("edName"))->clear();
        s->btnSearchDbClick();
        s->findChild<TReportList *>(QStringLiteral("lvResults"))->SelectRow(0);
        s->btnOkClick();
        return s->result();
    };
}

// Every way the day on show changes: the loaded recording's hour is marked on its own day and nowhere else.
void TestMainStatus::hourMarkStaysWithTheLoadedRecordingsDay()
{
    auto w = ShowMain(FPrompt);
    QCOMPARE(Marked(*w), QList<int>{});
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    QCOMPARE(Marked(*w), QList<int>{10});

    SelectDay(*w, FToday);  // a click on the day on show
    QCOMPARE(Marked(*w), QList<int>{10});
    SelectDay(*w, FYesterday);
    QCOMPARE(Marked(*w), QList<int>{});
    QVERIFY(HourTile(*w, 9)->isEnabled());
    SelectDay(*w, FToday);
    QCOMPARE(Marked(*w), QList<int>{10});

    FPrompt.OnRun = [](QDialog &ADialog) {
        return qobject_cast<TfrmSettings *>(&ADialog) ? int(QDialog::Accepted) : 0;
    };
    w->mnuPathsClick();
    QCOMPARE(Marked(*w), QList<int>{10});
    SelectDay(*w, FYesterday);
    w->mnuPathsClick();
    QCOMPARE(Marked(*w), QList<int>{});

    // Found by search on another day: the calendar goes there and marks it; its own day no longer does.
    SelectDay(*w, FToday);
    ChooseInSearch(FYesterday, 9);
    w->mnuSearchClick();
    QCOMPARE(w->Current().RecHour, 9);
    QCOMPARE(Child<TCalendarView>(*w, "calendar")->SelectedDate(), FYesterday);
    QCOMPARE(Marked(*w), QList<int>{9});
    SelectDay(*w, FToday);
    QCOMPARE(Marked(*w), QList<int>{});
    QVERIFY(FPrompt.Messages.isEmpty());
}

void TestMainStatus::failedLoadMarksNothing_data()
{
    QTest::addColumn<int>("hour");
    QTest::addColumn<bool>("loadedBefore");  // hour 10 is loaded first
    QTest::addColumn<bool>("bySearch");
    QTest::addRow("missing file, nothing loaded") << 11 << false << false;
    QTest::addRow("undecodable file, nothing loaded") << 12 << false << false;
    QTest::addRow("missing file, one loaded") << 11 << true << false;
    QTest::addRow("undecodable file, one loaded") << 12 << true << false;
    QTest::addRow("undecodable file found by search, nothing loaded") << 12 << false << true;
    QTest::addRow("undecodable file found by search, one loaded") << 12 << true << true;
}

// Neither while its message is open nor after it: the mark is the recording's that stays loaded, if any. A load
// from the search keeps the day on show until it succeeded.
void TestMainStatus::failedLoadMarksNothing()
{
    QFETCH(int, hour);
    QFETCH(bool, loadedBefore);
    QFETCH(bool, bySearch);
    auto w = ShowMain(FPrompt);
    if (loadedBefore) {
        w->HourTileClick(HourTile(*w, 10));
        QVERIFY(WaitAnalysed(*w));
        QVERIFY(w->HasFile());
    }
    const QList<int> expected = loadedBefore ? QList<int>{10} : QList<int>{};
    QList<int> whileOpen{-1};
    FPrompt.OnMessage = [&] { whileOpen = Marked(*w); };
    QList<int> expectedWhileOpen = expected;
    if (bySearch) {
        SelectDay(*w, FYesterday);
        expectedWhileOpen = {};  // the search's failed load leaves the window on the day it showed
        ChooseInSearch(FToday, hour);
        w->mnuSearchClick();
        QCOMPARE(Child<TCalendarView>(*w, "calendar")->SelectedDate(), loadedBefore ? FYesterday : FToday);
        SelectDay(*w, FToday);
    } else {
        w->HourTileClick(HourTile(*w, hour));
        QVERIFY(WaitAnalysed(*w));
    }
    QCOMPARE(FPrompt.Messages.size(), 1);
    QCOMPARE(whileOpen, expectedWhileOpen);
    QCOMPARE(Marked(*w), expected);
    QCOMPARE(w->HasFile(), loadedBefore);
    QCOMPARE(Child<QPushButton>(*w, "btnExport")->isEnabled(), loadedBefore);
}

void TestMainStatus::clearedSelectionGivesItsTextBack_data()
{
    QTest::addColumn<QString>("before");  // what happens before the selection
    QTest::addColumn<QString>("between");  // what happens while it is shown
    QTest::addColumn<QString>("after");  // the status text the clearing click leaves: "caption", "hours"
    QTest::addRow("after the load") << "" << "" << "caption";
    QTest::addRow("after a day was chosen") << "day" << "" << "hours";
    QTest::addRow("a second selection over the first") << "" << "select again" << "caption";
    QTest::addRow("a day chosen while selected") << "" << "day" << "hours";
    QTest::addRow("a failed load while selected") << "" << "failed search" << "caption";
    QTest::addRow("another speed while selected") << "" << "speed" << "caption";
    QTest::addRow("another speed, then a failed load while selected") << "" << "speed, failed search" << "caption";
}

// A plain click in the waveform clears the selection and "Selectie: ..." with it; what the status line
// said before comes back, unless something else has written it since.
void TestMainStatus::clearedSelectionGivesItsTextBack()
{
    QFETCH(QString, before);
    QFETCH(QString, between);
    QFETCH(QString, after);
    auto w = ShowMain(FPrompt);
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    const QString caption = w->StatusText();
    QVERIFY(caption.contains(QStringLiteral("10-11 uur  nr 1")));
    if (before == "day")
        SelectDay(*w, FYesterday);
    TWaveView *wave = Child<TWaveView>(*w, "wave");
    DragSelect(wave, 0.2, 0.5);
    QVERIFY(wave->HasSelection());
    QVERIFY(w->StatusText().startsWith(QStringLiteral("Selectie: ")));
    QString tail;
    if (between == "select again")
        DragSelect(wave, 0.6, 0.8);
    if (between == "day")
        SelectDay(*w, FYesterday);
    if (between.startsWith(QLatin1String("speed"))) {
        w->SpeedChoose(1.5);
        tail = QStringLiteral("  [1,5×]");
    }
    if (between.endsWith(QLatin1String("failed search"))) {
        const QString shown = w->StatusText();  // the listening tail once
        ChooseInSearch(FToday, 12);
        w->mnuSearchClick();
        QCOMPARE(FPrompt.Messages.size(), 1);
        QCOMPARE(w->StatusText(), shown);
    }
    QVERIFY(wave->HasSelection());
    DragSelect(wave, 0.3, 0.3);
    QVERIFY(!wave->HasSelection());
    QCOMPARE(w->StatusText(), (after == "caption" ? caption : HoursText(FYesterday, 1)) + tail);
}

void TestMainStatus::statusLineKeepsTheLoadedRecording_data()
{
    QTest::addColumn<QString>("action");
    QTest::addRow("failed load from the search") << "failed search";
    QTest::addRow("settings saved") << "settings";
    QTest::addRow("settings saved during playback") << "settings, playing";
    QTest::addRow("settings saved over a selection") << "settings, selection";
}

// The loaded recording's own text (or the selection's over it) stays on the status line, also while a
// message about the action is open, and after it.
void TestMainStatus::statusLineKeepsTheLoadedRecording()
{
    QFETCH(QString, action);
    auto w = ShowMain(FPrompt);
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(w->HasFile());
    if (action.contains(QLatin1String("playing"))) {
        if (!w->Commands().HasOutput())
            QSKIP("no sound output (start tools/start-sound.sh)");
        w->PlayClick();
        QTRY_VERIFY(w->Commands().IsPlaying());
    }
    if (action.contains(QLatin1String("selection")))
        DragSelect(Child<TWaveView>(*w, "wave"), 0.2, 0.5);
    const QString shown = w->StatusText();
    QVERIFY(shown.contains(QStringLiteral("10-11 uur  nr 1")) || shown.startsWith(QStringLiteral("Selectie: ")));
    QStringList whileOpen;
    FPrompt.OnMessage = [&] { whileOpen << w->StatusText(); };
    if (action == "failed search") {
        ChooseInSearch(FToday, 12);
        w->mnuSearchClick();
        QCOMPARE(whileOpen, QStringList{shown});
    } else {
        FPrompt.OnRun = [](QDialog &ADialog) {
            return qobject_cast<TfrmSettings *>(&ADialog) ? int(QDialog::Accepted) : 0;
        };
        w->mnuPathsClick();
        QVERIFY(FPrompt.Messages.isEmpty());
    }
    QCOMPARE(w->StatusText(), shown);
    QCOMPARE(w->Current().RecHour, 10);
    if (action.contains(QLatin1String("selection"))) {  // and the recording's text under it comes back
        DragSelect(Child<TWaveView>(*w, "wave"), 0.3, 0.3);
        QVERIFY(w->StatusText().contains(QStringLiteral("10-11 uur  nr 1")));
    }
    w->StopClick();
}

void TestMainStatus::titleAndPersonsAreTwoFields_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("persons");
    QTest::addColumn<QString>("shown");
    QTest::addRow("both") << "Overleg" << "Jan" << "Overleg \u2014 Jan";
    QTest::addRow("several persons") << "Overleg" << "Piet\r\nKlaas" << "Overleg \u2014 Piet\r\nKlaas";
    QTest::addRow("title only") << "Overleg" << "" << "Overleg";
    QTest::addRow("persons only") << "" << "Jan" << "Jan";
    QTest::addRow("blanks around both") << "  Overleg " << " Jan\r\n" << "Overleg \u2014 Jan";
    QTest::addRow("neither") << " " << "" << "";
}

void TestMainStatus::titleAndPersonsAreTwoFields()
{
    QFETCH(QString, title);
    QFETCH(QString, persons);
    QTEST(TitlePersonsText(title, persons), "shown");
}

// An export runs with its progress window hidden: an hour click loads nothing, says why on the status line
// and brings the progress window up; once the export ends, its own text replaces that.
void TestMainStatus::hourClickDuringAnExportSaysWhy()
{
    auto w = ShowMain(FPrompt);
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    const QString target = FDir.filePath(QStringLiteral("uit.wav"));
    FPrompt.OnRun = [&](QDialog &ADialog) {
        auto *e = qobject_cast<TfrmExport *>(&ADialog);
        if (!e)
            return int(QDialog::Rejected);
        e->Request.Path = target;
        e->Request.Format = TAudioFormat::afWAV;
        return int(QDialog::Accepted);
    };
    QString whileBusy;
    bool progressShownAgain = false;
    int clicks = 0;
    w->Commands().OnProgressReport = [&] {
        auto *progress = w->findChild<TfrmProgress *>();
        if (!progress || clicks++ > 0)
            return;
        progress->hide();
        w->HourTileClick(HourTile(*w, 12));
        whileBusy = w->StatusText();
        progressShownAgain = progress->isVisible();
    };
    w->mnuExportClick();
    w->Commands().OnProgressReport = nullptr;
    QCOMPARE(clicks > 0, true);
    QCOMPARE(whileBusy, BusyStatusText(QStringLiteral("Exporteren")));
    QVERIFY(whileBusy.contains(QStringLiteral("Exporteren")));
    QVERIFY(progressShownAgain);
    QCOMPARE(w->Current().RecHour, 10);  // nothing else was loaded
    QVERIFY(w->StatusText() != whileBusy);
    QVERIFY(QFileInfo(target).size() > 44);
}

// Disabled as the menu item is, and drawn so: its picture is grey, not the white of an enabled one.
void TestMainStatus::exportButtonLooksAndIsDisabledWithoutRecording()
{
    auto w = ShowMain(FPrompt);
    auto *button = Child<QPushButton>(*w, "btnExport");
    QVERIFY(!button->isEnabled());
    QVERIFY(!Child<QAction>(*w, "mnuExport")->isEnabled());
    const int disabledGrey = BrightestPictureGrey(button);
    QVERIFY2(disabledGrey <= 128, qPrintable(QString::number(disabledGrey)));
    w->HourTileClick(HourTile(*w, 11));  // a failed load enables nothing
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(!button->isEnabled());
    w->HourTileClick(HourTile(*w, 10));
    QVERIFY(WaitAnalysed(*w));
    QVERIFY(button->isEnabled());
    const int enabledGrey = BrightestPictureGrey(button);
    QVERIFY2(enabledGrey >= 240, qPrintable(QString::number(enabledGrey)));
}

void TestMainStatus::tilesAndExportButtonHaveDutchTooltips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    QTest::addRow("play") << "tilePlay" << "Afspelen";
    QTest::addRow("pause") << "tilePause" << "Pauzeren";
    QTest::addRow("stop") << "tileStop" << "Stoppen";
    QTest::addRow("zoom fit") << "tileZoomFit" << "Volledige opname tonen";
    QTest::addRow("zoom selection") << "tileZoomSel" << "Inzoomen op selectie";
    QTest::addRow("zoom out") << "tileZoomOut" << "Uitzoomen";
    QTest::addRow("zoom in") << "tileZoomIn" << "Inzoomen";
    QTest::addRow("export") << "btnExport" << "Exporteren...";
}

void TestMainStatus::tilesAndExportButtonHaveDutchTooltips()
{
    QFETCH(QString, name);
    QFETCH(QString, tip);
    auto w = ShowMain(FPrompt);
    QCOMPARE(Child<QWidget>(*w, name)->toolTip(), tip);
}

VORNAK_TEST_ENTRY(AArgc, AArgv)
{
    qputenv("LC_ALL", "nl_NL.UTF-8");
    TReaderApplication app(AArgc, AArgv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (!ApplyDarkTheme(app))  // the export button's picture is judged on the operator's background
        qFatal("dark theme not applied");
    TestMainStatus tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, AArgc, AArgv);
}

#include "tst_uMainStatus.moc"
