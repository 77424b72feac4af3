// The reader's main window: calendar, hour tiles, waveform, transport, clock, status line and the
// "Programma" menu with its commands.
#pragma once

#include "uReaderTypes.h"

#include <QDate>
#include <QMainWindow>
#include <QMessageBox>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;
class TAudioEngine;
class TCalendarView;
class TTileButton;
class TfrmProgress;
class TWaveView;
enum class TTileGlyph;

// The client area below the menu bar at the design size.
constexpr int MainClientWidth = 1020;
constexpr int MainClientHeight = 764;

// Hour grid: tile i of 24 in a panel of client size (APanelW × APanelH), four columns and six rows with
// 8 px gaps; tiles at least 20 × 16 px even if the grid then overflows the panel.
QRect HourTileRect(int i, int APanelW, int APanelH);
// Zoom column: tile i (0 fit, 1 selection, 2 out, 3 in) in a column of client width APanelW.
QRect ToolTileRect(int i, int APanelW);
// "dd/mm/yyyy" with the operator's date separator in place of each '/'.
QString DisplayDate(const QDate &ADate);
// The regional date separator, taken from the locale's short date format ("/" when it has none).
QString LocaleDateSeparator();
// The floppy-disk picture of the export button: white lines on a transparent background, 64 × 64.
QPixmap FloppyPixmap();

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *AParent = nullptr);
    ~TfrmMain() override;  // runs FormDestroy

    // Operations shared by the commands.
    bool OpenCatalogue();
    void SetStatus(const QString &AText);
    QString StatusText() const;  // the whole status text, before the ellipsis
    void ShowTime(double Sec);
    void UpdateCommands();
    void LayoutHourTiles();
    void LayoutToolTiles();

    // Browsing by date and hour.
    void CalendarSelect();
    void HourTileClick(TTileButton *Sender);
    void ClearHourSelection();

    // Loading and playback.
    void LoadRecording(const TRecInfo &RI);
    void UpdateCaption();
    void PlayClick();
    void PauseClick();
    void StopClick();
    void ZoomFitClick();
    void ZoomSelClick();
    void ZoomOutClick();
    void ZoomInClick();
    void WaveSeek(double Sec);
    void WaveSelectionChange();
    void TimerPosTimer();

    // Menu commands.
    void mnuSearchClick();
    void mnuExportClick();
    void mnuEditClick();
    void mnuPathsClick();
    void mnuAboutClick();
    void mnuExitClick();

    // Read access for the commands' callers and for tests.
    bool Busy() const { return FBusy; }
    bool HasFile() const { return FHasFile; }
    bool DataOK() const { return FDataOK; }
    const QString &DataError() const { return FDataError; }
    const TRecInfo &Current() const { return FCurrent; }
    TAudioEngine *Engine() const { return FEngine.get(); }
    TWaveView *Wave() const { return FWave; }
    TCalendarView *Calendar() const { return FCalendar; }
    TTileButton *HourTile(int i) const { return FHourTiles[size_t(i)]; }
    TTileButton *PlayTile() const { return FPlay; }
    TTileButton *PauseTile() const { return FPause; }
    TTileButton *StopTile() const { return FStop; }
    TTileButton *ZoomFitTile() const { return FZoomFit; }
    TTileButton *ZoomSelTile() const { return FZoomSel; }
    TTileButton *ZoomOutTile() const { return FZoomOut; }
    TTileButton *ZoomInTile() const { return FZoomIn; }

    // Message boxes (icon, text; one OK button). Replaceable so tests can read the texts.
    std::function<void(QMessageBox::Icon, const QString &)> ShowMessage;
    // Runs a modal dialog and returns its result; replaceable so tests can drive the dialogs.
    std::function<int(QDialog &)> ExecDialog;
    // Runs once on every progress report of a load or an export, after pending events ran (tests only).
    std::function<void()> OnProgressReport;

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
    QMenu *mnuProgramma = nullptr;
    QAction *mnuSearch = nullptr;
    QAction *mnuExport = nullptr;
    QAction *mnuEdit = nullptr;
    QAction *mnuPaths = nullptr;
    QAction *mnuAbout = nullptr;
    QAction *mnuExit = nullptr;

protected:
    void resizeEvent(QResizeEvent *) override;
    void closeEvent(QCloseEvent *) override;
    bool eventFilter(QObject *AWatched, QEvent *AEvent) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormResize();
    void BuildMenu();
    void BuildPanels();
    TTileButton *MakeTile(QWidget *APanel, TTileGlyph AGlyph, void (TfrmMain::*AClick)());
    void BuildHourTiles();
    void BuildToolTiles();
    void ProcessPendingEvents();
    // Runs a long operation with FBusy set under a modeless progress dialog made for it; the dialog is
    // gone and FBusy cleared when this returns, also when the operation throws.
    bool RunUnderProgress(const QString &title, const QString &text, bool allowCancel,
                          const std::function<bool(TfrmProgress &)> &work);
    void CloseIfRequested();

    std::unique_ptr<TAudioEngine> FEngine;
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
    TRecInfo FCurrent;
    bool FHasFile = false;
    bool FDataOK = false;
    bool FBusy = false;
    bool FCloseRequested = false;  // a close arrived while a load or an export ran
    bool FDestroyed = false;
    QString FDataError;
};
