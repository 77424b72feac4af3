// The reader's main window form: calendar, hour tiles, waveform, transport, clock, status line and the
// "Programma" menu; the commands behind them are in uCommands.
#pragma once

#include "uCommands.h"

#include <QColor>
#include <QMargins>
#include <QRect>
#include <QMainWindow>
#include <array>
#include <iterator>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;
class TCalendarView;
class TTileButton;
class TWaveView;
enum class TTileGlyph;

// The client area below the menu bar at the design size.
constexpr int MainClientWidth = 1020;
constexpr int MainClientHeight = 764;
// The least outer size of the window, frame included; it grows in height to show the whole zoom column.
constexpr int MainMinOuterWidth = 900;
constexpr int MainMinOuterHeight = 640;

// The main window's geometry (without its frame) on the screen area AAvailable: the size AWanted shrunk to
// what the area holds with the frame AFrame around it, never below AMinimum; centred in the area, or from
// its top left corner where even the minimum is larger than the area.
QRect FitWindowRect(const QSize &AWanted, const QSize &AMinimum, const QMargins &AFrame, const QRect &AAvailable);

// Hour grid: tile AIndex of 24 in a panel of client size (APanelW × APanelH), four columns and six rows with
// 8 px gaps; tiles at least 20 × 16 px even if the grid then overflows the panel.
QRect HourTileRect(int AIndex, int APanelW, int APanelH);
// Zoom column: tile AIndex (0 fit, 1 selection, 2 out, 3 in) in a column of client width APanelW.
QRect ToolTileRect(int AIndex, int APanelW);
// The floppy-disk picture of the export button: lines of ALines (white when enabled) on a transparent
// background, 64 × 64.
QPixmap FloppyPixmap(const QColor &ALines = Qt::white);

// The status line's tail for the listening choices: empty at 1× with both channels, else for example
// "  [1,5×, alleen links]".
QString ListeningStatusText(double ASpeed, TChannelMode AChannel);
// Title and persons of a recording as the status line shows them: the two fields joined by " — ", an empty
// one left out ("Titel — Personen", "Titel", "Personen", or empty).
QString TitlePersonsText(const QString &ATitle, const QString &APersons);
// The status line's answer to an hour click while a long operation titled ABusyTitle ("Exporteren") runs.
QString BusyStatusText(const QString &ABusyTitle);
// A speed as the menu shows it: "0,5×", "1×", "1,25×".
QString SpeedCaption(double ASpeed);

// Its widgets are private; tests find them by object name: the panels by their names, "lblStatus",
// "lblTime", "btnExport", "calendar", "wave", the hour tiles "tileHour0".."tileHour23", the transport and
// zoom tiles "tilePlay", "tilePause", "tileStop", "tileZoomFit", "tileZoomSel", "tileZoomOut", "tileZoomIn",
// and the menu items by their mnu names. The menu "Afspelen" and its keys act in the whole window, whatever
// child has the focus, and never while a modal dialog is open.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *AParent = nullptr);
    ~TfrmMain() override;  // runs FormDestroy

    // The commands behind the menu and the tiles; their prompt is the one place tests answer the operator.
    TReaderCommands &Commands() const { return *FCommands; }

    // Writes AText as the status line's text; a later selection in the waveform shows over it, and a click
    // that clears that selection shows AText again.
    void SetStatus(const QString &AText);
    QString StatusText() const;  // the whole status text, before the ellipsis
    void ShowTime(double ASec);
    void UpdateCommands();
    void LayoutHourTiles();
    void LayoutToolTiles();

    // Browsing by date and hour.
    // The hours of the calendar's day on the tiles and the status line ("... opname-uur/uren beschikbaar").
    void CalendarSelect();
    // Loads the recording of the clicked hour (through the picker when it holds several). While a long
    // operation runs, says so on the status line and raises its progress window instead.
    void HourTileClick(TTileButton *ASender);
    // Marks the hour tile of the loaded recording while its day is shown, and no tile otherwise.
    void ShowHourMark();

    // Loading and playback.
    // True when RI became the loaded recording; a failed load changes nothing on show.
    bool LoadRecording(const TRecInfo &ARI);
    void UpdateCaption();
    void PlayClick();
    void PauseClick();
    void StopClick();
    void ZoomFitClick();
    void ZoomSelClick();
    void ZoomOutClick();
    void ZoomInClick();
    void WaveSeek(double ASec);
    void WaveSelectionChange();
    void TimerPosTimer();
    // Every 100 ms while the loaded recording is analysed: the points that arrived go into the view, and
    // the status line says "Golfvorm analyseren... N%" (under a selection's text, where it comes back),
    // then the recording's own text once the analysis ended. A text someone else wrote meanwhile stays.
    void TimerAnalysisTimer();

    // Keyboard transport ("Afspelen"): each does what its tile or a click in the waveform does, and
    // nothing where that tile is disabled.
    void PlayPauseToggle();
    void SeekRelative(double ASec);  // from the cursor (the heard position while playing), within the recording
    void SeekAbsolute(double ASec);   // cursor, playback and clock to Sec, clamped to the recording
    // Loads the previous (ADirection -1) or next (+1) recording of the loaded one's day, as the picker would.
    void LoadNeighbour(int ADirection);

    // Listening choices: applied at once, kept in the settings file, shown in the menu and the status line.
    void SpeedChoose(double ASpeed);
    void SpeedStep(int ADirection);  // one of PlaySpeedSteps down (-1) or up (+1); nothing past the ends
    void ChannelChoose(TChannelMode AMode);
    void LoopToggle(bool AOn);
    void SkipSilenceToggle(bool AOn);

    // Menu commands.
    void mnuSearchClick();
    void mnuExportClick();
    void mnuLoudnessClick();
    // Moves the play cursor to ASec (seconds, clamped to the recording) and the view along when it is outside.
    void JumpTo(double ASec);
    void mnuEditClick();
    void mnuPathsClick();
    void mnuAboutClick();
    void mnuExitClick();

    // Read access to the commands' state.
    bool Busy() const { return FCommands->Busy(); }
    bool HasFile() const { return FCommands->HasFile(); }
    bool DataOK() const { return FCommands->DataOK(); }
    const TRecInfo &Current() const { return FCommands->Current(); }

protected:
    void resizeEvent(QResizeEvent *) override;
    void moveEvent(QMoveEvent *) override;
    void showEvent(QShowEvent *) override;
    void closeEvent(QCloseEvent *) override;
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormResize();
    void ApplyMinimumSize();
    // The first window was fitted into the screen's available area without its frame (unknown before it
    // shows); once the window manager's frame is known, and only that once, it is fitted again with it
    // where the framed window would reach outside that area.
    void FitToScreenWithFrame();
    void BuildMenu();
    void BuildPlayMenu();
    void UpdatePlayMenu();  // enabled states of the transport items, radio and check marks of the choices
    TWaveSelection Selection() const;
    void BuildPanels();
    TTileButton *MakeTile(QWidget *APanel, const char *AName, TTileGlyph AGlyph, void (TfrmMain::*AClick)());
    void BuildHourTiles();
    void BuildToolTiles();
    QString DataNotOpenText() const;
    // The calendar's day on the hour tiles and the hour mark, without touching the status line; the number
    // of hours with recordings.
    int ShowDayHours();
    // The status line shows AText (cut with an ellipsis), whoever wrote it; SetStatus and the selection
    // text go through here.
    void ShowStatus(const QString &AText);

    // What the status line shows, to put back after a command changed it and then did not happen.
    struct TStatusShown {
        QString Text;             // the status line's own text, without the listening tail
        QString BeforeSelection;  // the text a cleared selection gives back
        bool Selection = false;   // Text is the selection's text
    };
    TStatusShown StatusShown() const;
    void RestoreStatus(const TStatusShown &AShown);
    // After a long operation: the status line it found comes back when the busy text of an hour click
    // (BusyStatusText) is still all it says, the operation having written nothing of its own.
    void EndBusyStatus();

    std::unique_ptr<TReaderCommands> FCommands;  // freed in FormDestroy, while the window still exists
    QWidget *pnlTop = nullptr;
    QWidget *pnlHours = nullptr;
    QWidget *pnlWaveHost = nullptr;
    QWidget *pnlTools = nullptr;
    QWidget *pnlBottom = nullptr;
    QLabel *lblStatus = nullptr;
    QFrame *pnlTime = nullptr;
    QLabel *lblTime = nullptr;
    QPushButton *btnExport = nullptr;
    QTimer *TimerPos = nullptr;
    QTimer *TimerAnalysis = nullptr;
    QMenu *mnuProgramma = nullptr;
    QAction *mnuSearch = nullptr;
    QAction *mnuExport = nullptr;
    QAction *mnuLoudness = nullptr;
    QAction *mnuEdit = nullptr;
    QAction *mnuPaths = nullptr;
    QAction *mnuAbout = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuAfspelen = nullptr;
    QAction *mnuPlayPause = nullptr;
    std::array<QAction *, 8> FSeekActions{};  // start, end, then back and forward by 5, 1 and 30 s
    QAction *mnuZoomIn = nullptr;
    QAction *mnuZoomOut = nullptr;
    QAction *mnuZoomFit = nullptr;
    QAction *mnuZoomSel = nullptr;
    QAction *mnuPrevRec = nullptr;
    QAction *mnuNextRec = nullptr;
    std::array<QAction *, std::size(PlaySpeedSteps)> FSpeedActions{};
    std::array<QAction *, 3> FChannelActions{};  // both, left, right
    QAction *mnuLoop = nullptr;
    QAction *mnuSkipSilence = nullptr;
    TWaveView *FWave = nullptr;          // owned by the window (Qt parent)
    TCalendarView *FCalendar = nullptr;  // owned by the window (Qt parent)
    std::array<TTileButton *, 24> FHourTiles{};
    TTileButton *FPlay = nullptr;
    TTileButton *FPause = nullptr;
    TTileButton *FStop = nullptr;
    TTileButton *FZoomFit = nullptr;
    TTileButton *FZoomSel = nullptr;
    TTileButton *FZoomOut = nullptr;
    TTileButton *FZoomIn = nullptr;
    QString FStatusText;  // the whole status line, without the listening tail; the label shows it elided
    QString FStatusBeforeSelection;  // the text written before the selection's text covered it
    bool FSelectionShown = false;     // the status line shows the selection's text
    QString FRecordingStatus;         // the loaded recording's own status text (UpdateCaption)
    QString FAnalysisStatus;          // the last text the analysis wrote; empty when it wrote none
    QString FBusyStatus;              // the busy text an hour click wrote during a long operation, else empty
    TStatusShown FStatusBeforeBusy;   // what the status line showed before that text
    bool FDestroyed = false;
    bool FFittedWithFrame = false;  // FitToScreenWithFrame has seen the frame
};
