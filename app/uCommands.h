// The reader's commands without a form: catalogue connection, the loaded recording, load, export, edit,
// search, settings and about, and the busy bracket around the two long operations.
#pragma once

#include "uAudioTypes.h"
#include "uPlaybackPlan.h"
#include "uPrompt.h"
#include "uReaderData.h"
#include "uReaderTypes.h"

#include <QDate>
#include <QLocale>
#include <functional>
#include <memory>

class QWidget;
class TAudioEngine;

// "dd/mm/yyyy" with the operator's date separator in place of each '/'.
QString DisplayDate(const QDate &ADate);
// The regional date separator, taken from the short date format of ALocale ("/" when it has none).
QString LocaleDateSeparator(const QLocale &ALocale = QLocale::system());

// The part of the waveform view an export looks at: the selection in seconds (both -1 = none).
struct TWaveSelection {
    double Start = -1;
    double End = -1;
    bool IsEmpty() const { return Start < 0 || End <= Start; }
};

// Talks to the operator only through its prompt and keeps no widgets: the owner given to the
// constructor is the parent of the dialogs it opens and of the progress dialog, nothing more.
// Only this layer and the start-up touch the shared Config and ReaderData.
class TReaderCommands {
public:
    // AOwner (borrowed, outlives the commands) owns the dialogs; the prompt defaults to message boxes
    // over it with the reader's title. Makes the audio engine and initialises its output from Config.
    explicit TReaderCommands(QWidget *AOwner);
    ~TReaderCommands();  // stops and frees the engine, then frees ReaderData
    TReaderCommands(const TReaderCommands &) = delete;
    TReaderCommands &operator=(const TReaderCommands &) = delete;

    // Replaces the operator (borrowed; tests record what was asked and answer the dialogs).
    void SetPrompt(TPrompt &APrompt) { FPrompt = &APrompt; }
    TPrompt &Prompt() const { return *FPrompt; }

    // (Re)opens ReaderData on Config's catalogue path and returns DataOK; on failure ReaderData stays null
    // and DataError holds the reason. No message is shown.
    bool OpenCatalogue();
    // The hours of ADay that hold recordings; none while no catalogue is open. A catalogue that can no
    // longer be read (damaged or replaced after the open) is closed, DataError saying why; nothing throws.
    THourSet AvailableHours(const QDate &ADay);

    // The recordings of ADay and AHour: none is said to the operator; one is taken at once; several are
    // offered in the picker; a catalogue that cannot be read is told and closed. True with ARI set when one was chosen.
    bool ChooseInHour(const QDate &ADay, int AHour, TRecInfo &ARI);
    // Resolves the file (under Config's recordings root when the stored path is gone) and opens it at once
    // (TAudioEngine::Open): no progress window and no busy state; the waveform fills in while PollAnalysis
    // reports. True when ARI became the loaded recording (not playing); the other recordings of its day are
    // then analysed ahead, nearest hour first. A missing file or a recording that cannot be opened is told
    // to the operator and keeps the previous recording as it was: view data, position, playing or not,
    // export, and its analysis. False while busy.
    bool Load(const TRecInfo &ARI);
    // The background analysis of the loaded recording (TAudioEngine::PollAnalysis): the owner polls it about
    // every 100 ms while Analysing and shows what changed.
    TAnalysisPoll PollAnalysis();
    bool Analysing() const;
    // Has the recordings of ADay analysed into the envelope cache in the background, nearest hour to the
    // loaded recording first (to the clock's hour on another day), the loaded one left out; what was asked
    // before is dropped. Only when ADay differs from the day last asked, unless AForce. AvailableHours asks
    // for the day it lists; a load for the loaded recording's day.
    void AnalyseDayAhead(const QDate &ADay, bool AForce);
    bool AheadIdle() const;  // nothing left to analyse ahead
    // Asks for format, target and scope and exports the loaded recording (or ASelection) under a
    // cancellable progress dialog; the export folder is remembered in Config. True when completed; the
    // operator is told either way, a completed export also on the status line, and one that holds less
    // than asked because the recording's decoding ended early with the length it holds.
    bool Export(const TWaveSelection &ASelection);
    // Measures the loudness, peaks, clipping and silence of ASelection (the whole loaded recording when it is
    // empty) under a cancellable progress dialog, then shows them in the measurement dialog; a double-click
    // on a row there calls ShowPosition with its position. False while busy, without a recording, when
    // cancelled (said on the status line) or when the file cannot be read (said to the operator).
    bool MeasureLoudness(const TWaveSelection &ASelection);
    // Edits title and persons of the loaded recording in the catalogue. True when stored.
    bool Edit();
    // Opens the catalogue when needed and runs the search dialog. True with ARI set when one was chosen.
    bool Search(TRecInfo &ARI);
    // The day a search result belongs to, from its "yyyy-mm-dd" date (an unreadable year, month or day is
    // taken as this year, January, the 1st). A date of another length gives a null ADay and true; a date that
    // names no day is shown as an error and gives false.
    bool SearchResultDay(const QString &ARecDate, QDate &ADay);
    // Runs the settings dialog; after OK reopens the catalogue and switches the output device. True after OK.
    bool Settings();
    void About();

    // The recording next to the loaded one (AStep -1 before, +1 after) among the recordings of its day, in
    // the catalogue's order. False while busy, without a recording or catalogue, and at the day's ends. A
    // catalogue that cannot be read is told and closed, as in ChooseInHour.
    bool NeighbourInDay(int AStep, TRecInfo &ARI);

    // The listening choices of Config, given to the engine (at start).
    void ApplyListening();
    // Each choice goes to the engine at once and into the settings file; a file that cannot be written
    // is told to the operator and the choice still holds until the reader ends.
    void SetPlaySpeed(double ASpeed);
    void SetPlayChannel(TChannelMode AMode);
    void SetLoopSelection(bool AOn, const TWaveSelection &ASelection);
    bool LoopSelection() const;
    void SetSkipSilence(bool AOn);
    // The loop range follows ASelection while the loop is chosen; without a selection there is none.
    void FollowSelection(const TWaveSelection &ASelection);

    // The hour whose tile carries the mark while ADay is shown: the loaded recording's hour on its own
    // day, -1 on every other day and while nothing is loaded. Only a load that succeeded moves it.
    int MarkedHourOn(const QDate &ADay) const;

    bool Busy() const { return FBusy; }
    // The title of the long operation running while Busy ("Exporteren", "Geluidsniveau meten"), else empty.
    const QString &BusyTitle() const { return FBusyTitle; }
    bool HasFile() const { return FHasFile; }
    bool DataOK() const { return FDataOK; }
    const QString &DataError() const { return FDataError; }
    const TRecInfo &Current() const { return FCurrent; }
    TAudioEngine &Engine() const { return *FEngine; }

    // Playback, for the form: it reads and drives the engine only through these.
    bool HasOutput() const;
    double DurationSec() const;
    const TEnvArray &Envelope() const;
    int EnvCount() const;
    double SecPerPoint() const;
    // Plays from ASec when a recording is loaded and there is an output; otherwise does nothing.
    void PlayFrom(double ASec);
    void Pause();
    void Stop();
    void SeekTo(double ASec);
    // One reading of playing and the position heard, taken together (one cross-thread call).
    TPlaybackSnapshot Snapshot() const;
    bool IsPlaying() const;
    double PositionSec() const;
    double Speed() const;
    TChannelMode ChannelMode() const;
    bool SkipSilence() const;

    // A close of the owner that arrived while busy: the owner is closed once the operation has returned.
    void DeferClose() { FCloseRequested = true; }

    // Shows a line on the owner's status line (set by the owner).
    std::function<void(const QString &)> ShowStatus;
    // Moves the play cursor to a position in seconds and lets the view follow (set by the owner).
    std::function<void(double)> ShowPosition;
    // Runs once on every progress report of an export or a measurement, after pending events ran (tests only).
    std::function<void()> OnProgressReport;

private:
    // Runs a long operation with FBusy set under a modeless progress dialog made for it, titled ATitle and
    // showing AText. AWork gets the report to hand to the engine: it shows the percentage, lets pending events
    // run and returns false once the operator cancelled (possible only with AAllowCancel). True when AWork
    // succeeded and no cancel came; the dialog is gone and FBusy cleared when this returns, also when AWork
    // throws.
    bool RunUnderProgress(const QString &ATitle, const QString &AText, bool AAllowCancel,
                          const std::function<bool(const TCancelProgress &)> &AWork);
    void DropCatalogue(const QString &AReason);
    void ProcessPendingEvents();
    void CloseIfRequested();
    // Saves Config; a file that cannot be written is told to the operator and the choice holds until the
    // reader ends. Nothing throws.
    void SaveListening();
    // Keeps the open catalogue's index in the cache folder of Config's "Cache" section; a large catalogue's
    // is built in the background and the status line tells while it is built.
    void UseCatalogueIndex();
    // Gives the engine the envelope cache of Config's "Cache" section, when it differs from the one given.
    void ApplyCache();

    QWidget *FOwner;
    TBoxPrompt FBoxPrompt;
    TPrompt *FPrompt = &FBoxPrompt;
    std::unique_ptr<TAudioEngine> FEngine;
    TRecInfo FCurrent;
    bool FHasFile = false;
    bool FDataOK = false;
    bool FBusy = false;
    QString FBusyTitle;  // the running long operation's title, while FBusy
    bool FCloseRequested = false;
    QString FDataError;
    QDate FAheadDay;  // the day last analysed ahead
    QString FCacheFolder;  // the cache last given to the engine
    qint64 FCacheLimit = 0;
};
