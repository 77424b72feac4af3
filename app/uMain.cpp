// The reader's main window form.
#include "uMain.h"

#include "uCalendar.h"
#include "uDialogKit.h"
#include "uProgress.h"
#include "uTiles.h"
#include "uVersion.h"
#include "uWaveView.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const DbNotOpenTail = "  (Programma > Instellingen (paden))";

// A panel without a bevel.
QWidget *MakePanel(QWidget *AParent, const char *AName)
{
    auto *w = new QWidget(AParent);
    w->setObjectName(QLatin1String(AName));
    return w;
}

} // namespace

QString SpeedCaption(double ASpeed)
{
    return QString::number(ASpeed, 'g', 4).replace(QLatin1Char('.'), QLatin1Char(',')) + QChar(0x00D7);
}

QString ListeningStatusText(double ASpeed, TChannelMode AChannel)
{
    QStringList parts;
    if (ASpeed != 1.0)
        parts << SpeedCaption(ASpeed);
    if (AChannel == TChannelMode::cmLeft)
        parts << QStringLiteral("alleen links");
    else if (AChannel == TChannelMode::cmRight)
        parts << QStringLiteral("alleen rechts");
    return parts.isEmpty() ? QString() : QStringLiteral("  [") + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString TitlePersonsText(const QString &ATitle, const QString &APersons)
{
    QStringList fields;
    for (const QString &field : {ATitle.trimmed(), APersons.trimmed()})
        if (!field.isEmpty())
            fields << field;
    return fields.join(QStringLiteral(" \u2014 "));
}

QString BusyStatusText(const QString &ABusyTitle)
{
    return QStringLiteral("Even geduld: \u201C%1\u201D loopt nog (zie het voortgangsvenster). "
                          "Kies een uur zodra het klaar is.")
        .arg(ABusyTitle);
}

QRect FitWindowRect(const QSize &AWanted, const QSize &AMinimum, const QMargins &AFrame, const QRect &AAvailable)
{
    const int frameW = AFrame.left() + AFrame.right(), frameH = AFrame.top() + AFrame.bottom();
    const int w = qMax(AMinimum.width(), qMin(AWanted.width(), AAvailable.width() - frameW));
    const int h = qMax(AMinimum.height(), qMin(AWanted.height(), AAvailable.height() - frameH));
    const int x = AAvailable.left() + AFrame.left() + qMax(0, (AAvailable.width() - frameW - w) / 2);
    const int y = AAvailable.top() + AFrame.top() + qMax(0, (AAvailable.height() - frameH - h) / 2);
    return QRect(x, y, w, h);
}

QRect HourTileRect(int AIndex, int APanelW, int APanelH)
{
    const int w = qMax(20, (APanelW - 24) / 4);
    const int h = qMax(16, (APanelH - 40) / 6);
    return QRect((AIndex % 4) * (w + 8), (AIndex / 4) * (h + 8), w, h);
}

QRect ToolTileRect(int AIndex, int APanelW)
{
    const int w = qMax(24, APanelW - 12);
    return QRect(6, 8 + AIndex * 54, w, 46);
}

QPixmap FloppyPixmap(const QColor &ALines)
{
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(ALines, 3);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    // Body with the cut corner at the top right.
    QPolygonF body;
    body << QPointF(8, 6) << QPointF(48, 6) << QPointF(58, 16) << QPointF(58, 58) << QPointF(8, 58);
    p.drawPolygon(body);
    // Metal shutter with its window.
    p.drawRect(QRectF(18, 6, 26, 16));
    p.fillRect(QRectF(34, 10, 6, 9), ALines);
    // Label area.
    p.drawRect(QRectF(16, 32, 34, 26));
    pen.setWidth(2);
    p.setPen(pen);
    p.drawLine(QPointF(21, 40), QPointF(45, 40));
    p.drawLine(QPointF(21, 47), QPointF(45, 47));
    return pm;
}

TfrmMain::TfrmMain(QWidget *AParent) : QMainWindow(AParent)
{
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::BuildMenu()
{
    mnuProgramma = menuBar()->addMenu(QStringLiteral("Programma"));
    mnuSearch = mnuProgramma->addAction(QStringLiteral("Zoeken (naam / bestandsnaam)..."));
    mnuSearch->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuProgramma->addSeparator();
    mnuExport = mnuProgramma->addAction(QStringLiteral("Exporteren..."));
    mnuExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    mnuExport->setEnabled(false);
    mnuLoudness = mnuProgramma->addAction(QStringLiteral("Geluidsniveau meten..."));
    mnuLoudness->setObjectName(QStringLiteral("mnuLoudness"));
    mnuLoudness->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuLoudness->setShortcutContext(Qt::WindowShortcut);
    mnuLoudness->setEnabled(false);
    connect(mnuLoudness, &QAction::triggered, this, [this] { mnuLoudnessClick(); });
    mnuEdit = mnuProgramma->addAction(QStringLiteral("Gegevens bewerken..."));
    mnuEdit->setEnabled(false);
    mnuProgramma->addSeparator();
    mnuPaths = mnuProgramma->addAction(QStringLiteral("Instellingen..."));
    mnuAbout = mnuProgramma->addAction(QStringLiteral("Over Vornak Reader 2026..."));
    mnuProgramma->addSeparator();
    mnuExit = mnuProgramma->addAction(QStringLiteral("Afsluiten"));
    mnuProgramma->setObjectName(QStringLiteral("mnuProgramma"));
    const std::pair<QAction *, const char *> names[] = {{mnuSearch, "mnuSearch"}, {mnuExport, "mnuExport"},
                                                       {mnuEdit, "mnuEdit"},     {mnuPaths, "mnuPaths"},
                                                       {mnuAbout, "mnuAbout"},   {mnuExit, "mnuExit"}};
    for (const auto &n : names)
        n.first->setObjectName(QLatin1String(n.second));
    // The shortcuts work while the menu is closed.
    for (QAction *a : {mnuSearch, mnuExport})
        a->setShortcutContext(Qt::WindowShortcut);
    connect(mnuSearch, &QAction::triggered, this, [this] { mnuSearchClick(); });
    connect(mnuExport, &QAction::triggered, this, [this] { mnuExportClick(); });
    connect(mnuEdit, &QAction::triggered, this, [this] { mnuEditClick(); });
    connect(mnuPaths, &QAction::triggered, this, [this] { mnuPathsClick(); });
    connect(mnuAbout, &QAction::triggered, this, [this] { mnuAboutClick(); });
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExitClick(); });
}

void TfrmMain::BuildPanels()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *v = new QVBoxLayout(central);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    pnlTop = MakePanel(central, "pnlTop");
    pnlTop->setFixedHeight(330);
    pnlHours = MakePanel(pnlTop, "pnlHours");
    pnlHours->setGeometry(484, 12, 520, 300);
    pnlTop->installEventFilter(this);
    pnlHours->installEventFilter(this);

    pnlWaveHost = MakePanel(central, "pnlWaveHost");
    auto *h = new QHBoxLayout(pnlWaveHost);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(0);
    pnlTools = MakePanel(pnlWaveHost, "pnlTools");
    pnlTools->setFixedWidth(64);
    pnlTools->installEventFilter(this);

    pnlBottom = MakePanel(central, "pnlBottom");
    pnlBottom->setFixedHeight(104);
    pnlBottom->installEventFilter(this);

    v->addWidget(pnlTop);
    v->addWidget(pnlWaveHost, 1);
    v->addWidget(pnlBottom);

    lblStatus = new QLabel(QStringLiteral("Klaar."), pnlBottom);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(16, 4, 986, 16);
    lblStatus->setTextFormat(Qt::PlainText);
    FStatusText = lblStatus->text();

    pnlTime = new QFrame(pnlBottom);
    pnlTime->setObjectName(QStringLiteral("pnlTime"));
    pnlTime->setGeometry(264, 24, 320, 60);
    pnlTime->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlTime->setLineWidth(2);
    pnlTime->setAutoFillBackground(true);
    QPalette tp = pnlTime->palette();
    tp.setColor(QPalette::Window, Qt::black);
    pnlTime->setPalette(tp);
    auto *tl = new QHBoxLayout(pnlTime);
    tl->setContentsMargins(2, 2, 2, 2);
    lblTime = new QLabel(QStringLiteral("00:00.000"), pnlTime);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblTime->setAlignment(Qt::AlignCenter);
    QFont clock(QStringLiteral("Consolas"));
    clock.setStyleHint(QFont::Monospace);
    clock.setFamilies({QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"),
                       QStringLiteral("Liberation Mono"), QStringLiteral("monospace")});
    clock.setPixelSize(35);
    clock.setBold(true);
    lblTime->setFont(clock);
    QPalette lp = lblTime->palette();
    lp.setColor(QPalette::WindowText, QColor(255, 255, 0));
    lp.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 255, 0));
    lblTime->setPalette(lp);
    lblTime->setAttribute(Qt::WA_TranslucentBackground);
    tl->addWidget(lblTime);

    btnExport = new QPushButton(pnlBottom);
    btnExport->setObjectName(QStringLiteral("btnExport"));
    btnExport->setGeometry(896, 18, 106, 70);
    // The style's own disabled picture of white lines stays nearly white on the dark theme: the disabled
    // one is drawn in the grey of a disabled tile's glyph.
    QIcon floppy(FloppyPixmap());
    floppy.addPixmap(FloppyPixmap(TileColours(false, false, false).Fore), QIcon::Disabled);
    btnExport->setIcon(floppy);
    btnExport->setIconSize(QSize(64, 64));
    btnExport->setAccessibleDescription(QStringLiteral("Exporteer deze opname"));
    btnExport->setToolTip(QStringLiteral("Exporteren..."));
    btnExport->setEnabled(false);
    connect(btnExport, &QPushButton::clicked, this, [this] { mnuExportClick(); });
}

TTileButton *TfrmMain::MakeTile(QWidget *APanel, const char *AName, TTileGlyph AGlyph, void (TfrmMain::*AClick)())
{
    auto *t = new TTileButton(APanel);
    t->setObjectName(QLatin1String(AName));
    t->SetGlyph(AGlyph);
    connect(t, &TTileButton::OnClick, this, [this, AClick] { (this->*AClick)(); });
    return t;
}

void TfrmMain::BuildHourTiles()
{
    for (int i = 0; i < 24; ++i) {
        auto *t = new TTileButton(pnlHours);
        t->SetCaption(QStringLiteral("%1 - %2 uur").arg(i).arg((i + 1) % 24));
        t->SetTag(i);
        t->setObjectName(QStringLiteral("tileHour%1").arg(i));
        connect(t, &TTileButton::OnClick, this, [this, t] { HourTileClick(t); });
        FHourTiles[size_t(i)] = t;
    }
    LayoutHourTiles();
}

void TfrmMain::BuildToolTiles()
{
    FPlay = MakeTile(pnlBottom, "tilePlay", TTileGlyph::tgPlay, &TfrmMain::PlayClick);
    FPause = MakeTile(pnlBottom, "tilePause", TTileGlyph::tgPause, &TfrmMain::PauseClick);
    FStop = MakeTile(pnlBottom, "tileStop", TTileGlyph::tgStop, &TfrmMain::StopClick);
    FZoomFit = MakeTile(pnlTools, "tileZoomFit", TTileGlyph::tgZoomFit, &TfrmMain::ZoomFitClick);
    FZoomSel = MakeTile(pnlTools, "tileZoomSel", TTileGlyph::tgSelect, &TfrmMain::ZoomSelClick);
    FZoomOut = MakeTile(pnlTools, "tileZoomOut", TTileGlyph::tgZoomOut, &TfrmMain::ZoomOutClick);
    FZoomIn = MakeTile(pnlTools, "tileZoomIn", TTileGlyph::tgZoomIn, &TfrmMain::ZoomInClick);
    FPlay->setGeometry(16, 24, 68, 60);
    FPause->setGeometry(92, 24, 68, 60);
    FStop->setGeometry(168, 24, 68, 60);
    // Each tile's hint is the caption of its menu item ("Afspelen / pauzeren" is two tiles).
    const std::pair<TTileButton *, const char *> hints[] = {{FPlay, "Afspelen"},
                                                           {FPause, "Pauzeren"},
                                                           {FStop, "Stoppen"},
                                                           {FZoomFit, "Volledige opname tonen"},
                                                           {FZoomSel, "Inzoomen op selectie"},
                                                           {FZoomOut, "Uitzoomen"},
                                                           {FZoomIn, "Inzoomen"}};
    for (const auto &h : hints) {
        h.first->SetHint(QString::fromUtf8(h.second));
        h.first->SetShowHint(true);
    }
}

void TfrmMain::FormCreate()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ReaderTitle());
    setFont(WindowFont());
    BuildMenu();
    BuildPanels();

    FCommands = std::make_unique<TReaderCommands>(this);
    FCommands->ShowStatus = [this](const QString &AText) { SetStatus(AText); };
    FCommands->ShowPosition = [this](double ASec) { JumpTo(ASec); };
    FCommands->ApplyListening();
    BuildPlayMenu();

    FCalendar = new TCalendarView(pnlTop);
    FCalendar->setObjectName(QStringLiteral("calendar"));
    FCalendar->setGeometry(16, 12, 456, 300);
    connect(FCalendar, &TCalendarView::OnSelect, this, [this] { CalendarSelect(); });

    BuildHourTiles();

    FWave = new TWaveView(pnlWaveHost);
    FWave->setObjectName(QStringLiteral("wave"));
    static_cast<QHBoxLayout *>(pnlWaveHost->layout())->addWidget(FWave, 1);
    static_cast<QHBoxLayout *>(pnlWaveHost->layout())->addWidget(pnlTools);
    connect(FWave, &TWaveView::OnSeek, this, [this](double ASec) { WaveSeek(ASec); });
    connect(FWave, &TWaveView::OnSelectionChange, this, [this] { WaveSelectionChange(); });

    BuildToolTiles();
    LayoutToolTiles();

    if (!FCommands->OpenCatalogue())
        SetStatus(DataNotOpenText());
    FCalendar->SetSelectedDate(QDate::currentDate());
    CalendarSelect();
    UpdateCommands();
    ShowTime(0);

    TimerPos = new QTimer(this);
    TimerPos->setObjectName(QStringLiteral("TimerPos"));
    TimerPos->setInterval(50);
    connect(TimerPos, &QTimer::timeout, this, [this] { TimerPosTimer(); });
    TimerPos->start();
    TimerAnalysis = new QTimer(this);
    TimerAnalysis->setInterval(100);
    connect(TimerAnalysis, &QTimer::timeout, this, [this] { TimerAnalysisTimer(); });

    // The design's client area lies below the menu bar; Qt counts the menu bar inside the window.
    ApplyMinimumSize();
    const QSize design(MainClientWidth, MainClientHeight + menuBar()->sizeHint().height());
    resize(design);
    if (const QScreen *scr = screen())
        setGeometry(FitWindowRect(design, minimumSize(), QMargins(), scr->availableGeometry()));
}

void TfrmMain::FitToScreenWithFrame()
{
    if (FFittedWithFrame || !isVisible())
        return;
    const QRect outer = frameGeometry(), inner = geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    if (frame.isNull())
        return;  // not known yet (or there is none: the window was fitted without one)
    FFittedWithFrame = true;
    const QScreen *scr = screen();
    if (!scr || scr->availableGeometry().contains(outer))
        return;
    setGeometry(FitWindowRect(size(), minimumSize(), frame, scr->availableGeometry()));
}

void TfrmMain::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    if (TimerPos)
        TimerPos->stop();
    if (TimerAnalysis)
        TimerAnalysis->stop();
    FCommands.reset();  // stops and frees the engine, then the catalogue connection
}

bool TfrmMain::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    if (AWatched == btnExport && (AEvent->type() == QEvent::KeyPress || AEvent->type() == QEvent::KeyRelease)) {
        // Space is the window's play/pause key: while that is off it must not click the export button.
        const auto *key = static_cast<QKeyEvent *>(AEvent);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier)
            return true;
    }
    if (AEvent->type() == QEvent::Resize) {
        if (AWatched == pnlTop && pnlHours) {
            // Anchored left, top and right: the right edge stays 16 px from the window's right edge.
            pnlHours->setGeometry(484, 12, qMax(0, pnlTop->width() - 484 - 16), 300);
        } else if (AWatched == pnlBottom && lblStatus && btnExport) {
            lblStatus->setGeometry(16, 4, qMax(0, pnlBottom->width() - 16 - 18), 16);
            btnExport->move(pnlBottom->width() - 18 - btnExport->width(), 18);
            ShowStatus(FStatusText);
        } else if (AWatched == pnlHours) {
            LayoutHourTiles();
        } else if (AWatched == pnlTools) {
            LayoutToolTiles();
        }
    }
    return QMainWindow::eventFilter(AWatched, AEvent);
}

void TfrmMain::resizeEvent(QResizeEvent *AEvent)
{
    QMainWindow::resizeEvent(AEvent);
    ApplyMinimumSize();  // the window manager's frame may be known by now
    FormResize();
    FitToScreenWithFrame();
}

void TfrmMain::moveEvent(QMoveEvent *AEvent)
{
    QMainWindow::moveEvent(AEvent);
    FitToScreenWithFrame();  // the window manager's frame may be known by now
}

void TfrmMain::showEvent(QShowEvent *AEvent)
{
    QMainWindow::showEvent(AEvent);
    ApplyMinimumSize();
    FitToScreenWithFrame();
}

void TfrmMain::ApplyMinimumSize()
{
    if (!pnlTop || !pnlBottom || !pnlTools)
        return;
    // The minimum counts the frame the window manager adds (none before the window is shown, none
    // offscreen), and never cuts the zoom column: its last tile keeps the column's top margin below it.
    const QSize frame = (frameGeometry().size() - geometry().size()).expandedTo(QSize(0, 0));
    const int toolColumn = ToolTileRect(3, pnlTools->minimumWidth()).bottom() + 1 + ToolTileRect(0, 0).top();
    const int tilesFit = menuBar()->sizeHint().height() + pnlTop->minimumHeight() + toolColumn + pnlBottom->minimumHeight();
    const QSize least(MainMinOuterWidth - frame.width(), qMax(MainMinOuterHeight - frame.height(), tilesFit));
    if (minimumSize() != least)
        setMinimumSize(least);
}

void TfrmMain::FormResize()
{
    LayoutHourTiles();
    LayoutToolTiles();
}

void TfrmMain::LayoutHourTiles()
{
    if (!FHourTiles[0])
        return;
    for (int i = 0; i < 24; ++i)
        FHourTiles[size_t(i)]->setGeometry(HourTileRect(i, pnlHours->width(), pnlHours->height()));
}

void TfrmMain::LayoutToolTiles()
{
    if (!FZoomFit)
        return;
    TTileButton *const tiles[] = {FZoomFit, FZoomSel, FZoomOut, FZoomIn};
    for (int i = 0; i < 4; ++i)
        tiles[i]->setGeometry(ToolTileRect(i, pnlTools->width()));
}

void TfrmMain::closeEvent(QCloseEvent *AEvent)
{
    if (FCommands && FCommands->Busy()) {
        // A load or an export runs below us on this thread: close once it has returned.
        FCommands->DeferClose();
        AEvent->ignore();
        return;
    }
    AEvent->accept();
}

QString TfrmMain::DataNotOpenText() const
{
    return QStringLiteral("Database niet geopend: ") + FCommands->DataError() + QLatin1String(DbNotOpenTail);
}

void TfrmMain::SetStatus(const QString &AText)
{
    FSelectionShown = false;
    FStatusBeforeSelection.clear();
    ShowStatus(AText);
}

TfrmMain::TStatusShown TfrmMain::StatusShown() const
{
    return {FStatusText, FStatusBeforeSelection, FSelectionShown};
}

void TfrmMain::RestoreStatus(const TStatusShown &AShown)
{
    ShowStatus(AShown.Text);
    FStatusBeforeSelection = AShown.BeforeSelection;
    FSelectionShown = AShown.Selection;
}

void TfrmMain::ShowStatus(const QString &AText)
{
    // FStatusText keeps the whole text (its one owner); the label shows it, cut with an ellipsis at its
    // end where it does not fit. Persons are stored one per line; the status shows them separated by commas.
    FStatusText = AText;
    QString shown = StatusText();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(", ")).replace(QLatin1Char('\n'), QStringLiteral(", "));
    shown.remove(QLatin1Char('\r'));
    const QFontMetrics fm(lblStatus->font());
    lblStatus->setText(fm.elidedText(shown, Qt::ElideRight, lblStatus->width()));
    lblStatus->setToolTip(QString());
}

QString TfrmMain::StatusText() const
{
    const QString tail = FCommands ? ListeningStatusText(FCommands->Speed(), FCommands->ChannelMode())
                                   : QString();
    return FStatusText + tail;
}

void TfrmMain::ShowTime(double ASec)
{
    lblTime->setText(FormatTimeMs(ASec));
}

void TfrmMain::UpdateCommands()
{
    const bool hasFile = FCommands->HasFile();
    const bool transport = hasFile && FCommands->HasOutput();
    FPlay->setEnabled(transport);
    FPause->setEnabled(transport);
    FStop->setEnabled(transport);
    btnExport->setEnabled(hasFile);
    FZoomFit->setEnabled(hasFile);
    FZoomOut->setEnabled(hasFile);
    FZoomIn->setEnabled(hasFile);
    FZoomSel->setEnabled(hasFile && FWave->HasSelection());
    mnuExport->setEnabled(hasFile);
    mnuLoudness->setEnabled(hasFile);
    mnuEdit->setEnabled(hasFile);
    UpdatePlayMenu();
}

// ---- browsing by date and hour ----

void TfrmMain::ShowHourMark()
{
    const int hour = FCommands->MarkedHourOn(FCalendar->SelectedDate());
    for (int i = 0; i < 24; ++i)
        FHourTiles[size_t(i)]->SetSelected(i == hour);
}

int TfrmMain::ShowDayHours()
{
    ShowHourMark();
    const THourSet hours = FCommands->AvailableHours(FCalendar->SelectedDate());
    int count = 0;
    for (int i = 0; i < 24; ++i) {
        const bool on = hours.Contains(i);
        FHourTiles[size_t(i)]->setEnabled(on);
        if (on)
            ++count;
    }
    return count;
}

void TfrmMain::CalendarSelect()
{
    const int count = ShowDayHours();
    if (FCommands->DataOK())
        SetStatus(QStringLiteral("%1 - %2 opname-uur/uren beschikbaar. Kies een uur.")
                      .arg(DisplayDate(FCalendar->SelectedDate()))
                      .arg(count));
    else
        SetStatus(DataNotOpenText());
}

void TfrmMain::HourTileClick(TTileButton *ASender)
{
    if (!ASender)
        return;
    if (FCommands->Busy()) {
        // The long operation's progress window may be hidden, minimised or behind another window: say why
        // nothing loads, and bring that window up.
        if (FStatusText != FBusyStatus)
            FStatusBeforeBusy = StatusShown();
        FBusyStatus = BusyStatusText(FCommands->BusyTitle());
        SetStatus(FBusyStatus);
        if (auto *progress = findChild<TfrmProgress *>()) {
            progress->setWindowState(progress->windowState() & ~Qt::WindowMinimized);
            progress->show();
            progress->raise();
            progress->activateWindow();
        }
        return;
    }
    TRecInfo choice;
    if (!FCommands->ChooseInHour(FCalendar->SelectedDate(), int(ASender->Tag()), choice)) {
        if (!FCommands->DataOK())  // the catalogue could not be read
            CalendarSelect();
        return;
    }
    // The mark moves only with a load that succeeds: a failed one keeps the previous recording and its mark.
    LoadRecording(choice);
}

// ---- loading and playback ----

bool TfrmMain::LoadRecording(const TRecInfo &ARI)
{
    if (!FCommands->Load(ARI))
        return false;
    FWave->SetData(FCommands->Envelope(), FCommands->EnvCount(), FCommands->DurationSec(), FCommands->SecPerPoint());
    UpdateCaption();
    UpdateCommands();
    ShowTime(0);
    ShowHourMark();
    FAnalysisStatus.clear();
    if (FCommands->Analysing()) {
        FAnalysisStatus = FStatusText;  // the progress replaces the recording's text until the end
        TimerAnalysisTimer();
        TimerAnalysis->start();
    } else {
        TimerAnalysis->stop();
    }
    return true;
}

void TfrmMain::TimerAnalysisTimer()
{
    if (!FCommands)
        return;
    const TAnalysisPoll poll = FCommands->PollAnalysis();
    if (poll.EnvelopeChanged)
        FWave->SetEnvelope(FCommands->Envelope(), FCommands->EnvCount());
    if (!poll.Running)
        TimerAnalysis->stop();
    if (FAnalysisStatus.isEmpty())
        return;
    const QString text = poll.Running ? QStringLiteral("Golfvorm analyseren... %1%").arg(poll.Percent) : FRecordingStatus;
    if (FSelectionShown) {
        if (FStatusBeforeSelection == FAnalysisStatus)
            FStatusBeforeSelection = text;
    } else if (FStatusText == FAnalysisStatus) {
        ShowStatus(text);
    }
    FAnalysisStatus = poll.Running ? text : QString();
}

void TfrmMain::UpdateCaption()
{
    if (!FCommands->HasFile())
        return;
    const TRecInfo &rec = FCommands->Current();
    QString status = QStringLiteral("%1  %2-%3 uur  nr %4  -  %5  -  duur %6")
                         .arg(rec.RecDate)
                         .arg(rec.RecHour, 2, 10, QLatin1Char('0'))
                         .arg((rec.RecHour + 1) % 24, 2, 10, QLatin1Char('0'))
                         .arg(rec.RecNumber)
                         .arg(rec.Format, FormatDuration(FCommands->DurationSec()));
    const QString extra = TitlePersonsText(rec.Title, rec.Persons);
    if (!extra.isEmpty())
        status += QStringLiteral("  -  ") + extra;
    setWindowTitle(ReaderTitle() + QStringLiteral("  -  ") + rec.FileName);
    FRecordingStatus = status;
    SetStatus(status);
}

void TfrmMain::PlayClick()
{
    FCommands->PlayFrom(FWave->PlayPos());
}

void TfrmMain::PauseClick()
{
    FCommands->Pause();
}

void TfrmMain::StopClick()
{
    FCommands->Stop();
    FWave->SetPlayPos(0);
    FWave->update();
    ShowTime(0);
}

void TfrmMain::ZoomFitClick()
{
    FWave->ZoomAll();
}

void TfrmMain::ZoomSelClick()
{
    FWave->ZoomToSelection();
}

void TfrmMain::ZoomOutClick()
{
    FWave->ZoomOut();
}

void TfrmMain::ZoomInClick()
{
    FWave->ZoomIn();
}

void TfrmMain::WaveSeek(double ASec)
{
    FCommands->SeekTo(ASec);
    ShowTime(ASec);
}

void TfrmMain::WaveSelectionChange()
{
    FZoomSel->setEnabled(FCommands->HasFile() && FWave->HasSelection());
    mnuZoomSel->setEnabled(FZoomSel->isEnabled());
    FCommands->FollowSelection(Selection());
    if (FWave->HasSelection()) {
        if (!FSelectionShown)
            FStatusBeforeSelection = FStatusText;
        ShowStatus(QStringLiteral("Selectie: %1 - %2  (%3)")
                       .arg(FormatDuration(FWave->SelStart()), FormatDuration(FWave->SelEnd()),
                            FormatDuration(FWave->SelEnd() - FWave->SelStart())));
        FSelectionShown = true;
    } else if (FSelectionShown) {
        // The selection is gone, and with it its text: what was shown before it comes back.
        const QString before = FStatusBeforeSelection;  // SetStatus clears the field
        SetStatus(before);
    }
}

void TfrmMain::TimerPosTimer()
{
    // The timer may still fire while the window is being destroyed, after the commands are gone.
    if (!FCommands || !FCommands->HasFile())
        return;
    // One reading of the playback per tick: playing and the position heard, taken together.
    const TPlaybackSnapshot now = FCommands->Snapshot();
    if (now.Playing) {
        FWave->SetPlayPos(now.PositionSec);
        FWave->update();
        ShowTime(FWave->PlayPos());
    }
}

// ---- menu commands ----

void TfrmMain::mnuSearchClick()
{
    TRecInfo RI;
    if (!FCommands->Search(RI))
        return;
    QDate day;
    if (!FCommands->SearchResultDay(RI.RecDate, day))
        return;
    // The load comes first: one that fails tells why over the window as it was (day, hour mark, the loaded
    // recording's status line), and the previous recording stays with all of it.
    const bool loaded = LoadRecording(RI);
    if (!loaded && FCommands->HasFile())
        return;
    // The result's day, also after a failed load while nothing was loaded.
    if (day.isValid())
        FCalendar->SetSelectedDate(day);
    if (loaded)
        ShowDayHours();  // the recording's own text stays on the status line
    else
        CalendarSelect();
}

void TfrmMain::mnuExportClick()
{
    TWaveSelection selection;
    if (FWave->HasSelection())
        selection = {FWave->SelStart(), FWave->SelEnd()};
    FCommands->Export(selection);
    EndBusyStatus();
}

void TfrmMain::mnuLoudnessClick()
{
    TWaveSelection selection;
    if (FWave->HasSelection())
        selection = {FWave->SelStart(), FWave->SelEnd()};
    FCommands->MeasureLoudness(selection);
    EndBusyStatus();
}

void TfrmMain::EndBusyStatus()
{
    if (!FBusyStatus.isEmpty() && FStatusText == FBusyStatus)
        RestoreStatus(FStatusBeforeBusy);
    FBusyStatus.clear();
}

void TfrmMain::mnuEditClick()
{
    if (FCommands->Edit())
        UpdateCaption();
}

void TfrmMain::mnuPathsClick()
{
    const TStatusShown shown = StatusShown();
    if (!FCommands->Settings())
        return;
    CalendarSelect();
    // A loaded recording keeps its text on the status line (under a selection's, or the analysis's progress
    // while that runs), as long as the catalogue opened.
    if (FCommands->HasFile() && FCommands->DataOK()) {
        if (shown.Selection || (!FAnalysisStatus.isEmpty() && shown.Text == FAnalysisStatus))
            RestoreStatus(shown);
        else
            SetStatus(FRecordingStatus);
    }
    UpdateCommands();
}

void TfrmMain::mnuAboutClick()
{
    FCommands->About();
}

void TfrmMain::mnuExitClick()
{
    close();
}

// ---- menu "Afspelen": keyboard transport and listening choices ----

void TfrmMain::BuildPlayMenu()
{
    mnuAfspelen = menuBar()->addMenu(QStringLiteral("Afspelen"));
    mnuAfspelen->setObjectName(QStringLiteral("mnuAfspelen"));
    // Window-wide keys: they act whatever child has the focus (calendar, tiles, waveform, export button),
    // and not while a modal dialog is the active window.
    const auto add = [this](QMenu *AMenu, const char *AName, const QString &AText, const QKeySequence &AKey,
                            const std::function<void()> &AAction) {
        QAction *a = AMenu->addAction(AText);
        a->setObjectName(QLatin1String(AName));
        a->setShortcut(AKey);
        a->setShortcutContext(Qt::WindowShortcut);
        if (AAction)
            connect(a, &QAction::triggered, this, [AAction] {
                if (!QApplication::activeModalWidget())
                    AAction();
            });
        return a;
    };
    mnuPlayPause = add(mnuAfspelen, "mnuPlayPause", QStringLiteral("Afspelen / pauzeren"), QKeySequence(Qt::Key_Space),
                       [this] { PlayPauseToggle(); });
    FSeekActions[0] = add(mnuAfspelen, "mnuToStart", QStringLiteral("Naar het begin"), QKeySequence(Qt::Key_Home),
                          [this] { SeekAbsolute(0); });
    FSeekActions[1] = add(mnuAfspelen, "mnuToEnd", QStringLiteral("Naar het einde"), QKeySequence(Qt::Key_End),
                          [this] { SeekAbsolute(FWave->Duration()); });
    struct TStep {
        const char *Back, *Forward;
        Qt::KeyboardModifiers Modifiers;
        int Sec;
    };
    const TStep steps[] = {{"mnuBack5", "mnuForward5", Qt::NoModifier, 5},
                           {"mnuBack1", "mnuForward1", Qt::ShiftModifier, 1},
                           {"mnuBack30", "mnuForward30", Qt::ControlModifier, 30}};
    int n = 2;
    for (const TStep &st : steps) {
        const Qt::KeyboardModifiers mods = st.Modifiers;
        FSeekActions[size_t(n++)] = add(mnuAfspelen, st.Back, QStringLiteral("%1 s terug").arg(st.Sec),
                                        QKeySequence(mods | Qt::Key_Left), [this, st] { SeekRelative(-st.Sec); });
        FSeekActions[size_t(n++)] = add(mnuAfspelen, st.Forward, QStringLiteral("%1 s vooruit").arg(st.Sec),
                                        QKeySequence(mods | Qt::Key_Right), [this, st] { SeekRelative(st.Sec); });
    }
    mnuAfspelen->addSeparator();
    mnuZoomIn = add(mnuAfspelen, "mnuZoomIn", QStringLiteral("Inzoomen"), QKeySequence(Qt::Key_Plus),
                    [this] { if (FZoomIn->isEnabled()) ZoomInClick(); });
    mnuZoomOut = add(mnuAfspelen, "mnuZoomOut", QStringLiteral("Uitzoomen"), QKeySequence(Qt::Key_Minus),
                     [this] { if (FZoomOut->isEnabled()) ZoomOutClick(); });
    mnuZoomFit = add(mnuAfspelen, "mnuZoomFit", QStringLiteral("Volledige opname tonen"), QKeySequence(Qt::Key_0),
                     [this] { if (FZoomFit->isEnabled()) ZoomFitClick(); });
    mnuZoomSel = add(mnuAfspelen, "mnuZoomSel", QStringLiteral("Inzoomen op selectie"), QKeySequence(Qt::Key_S),
                     [this] { if (FZoomSel->isEnabled()) ZoomSelClick(); });
    mnuAfspelen->addSeparator();
    mnuPrevRec = add(mnuAfspelen, "mnuPrevRec", QStringLiteral("Vorige opname van de dag"),
                     QKeySequence(Qt::Key_PageUp), [this] { LoadNeighbour(-1); });
    mnuNextRec = add(mnuAfspelen, "mnuNextRec", QStringLiteral("Volgende opname van de dag"),
                     QKeySequence(Qt::Key_PageDown), [this] { LoadNeighbour(+1); });
    mnuAfspelen->addSeparator();

    QMenu *speed = mnuAfspelen->addMenu(QStringLiteral("Snelheid"));
    speed->setObjectName(QStringLiteral("mnuSpeed"));
    auto *speedGroup = new QActionGroup(speed);
    for (size_t i = 0; i < FSpeedActions.size(); ++i) {
        const double v = PlaySpeedSteps[i];
        QAction *a = speed->addAction(SpeedCaption(v));
        a->setObjectName(QStringLiteral("mnuSpeed%1").arg(qRound(v * 100)));
        a->setCheckable(true);
        speedGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, v] { SpeedChoose(v); });
        FSpeedActions[i] = a;
    }
    speed->addSeparator();
    add(speed, "mnuSlower", QStringLiteral("Langzamer"), QKeySequence(Qt::Key_BracketLeft), [this] { SpeedStep(-1); });
    add(speed, "mnuFaster", QStringLiteral("Sneller"), QKeySequence(Qt::Key_BracketRight), [this] { SpeedStep(+1); });

    QMenu *channel = mnuAfspelen->addMenu(QStringLiteral("Kanaal"));
    channel->setObjectName(QStringLiteral("mnuChannel"));
    auto *channelGroup = new QActionGroup(channel);
    const std::pair<const char *, const char *> channels[] = {
        {"mnuChannelBoth", "Beide"}, {"mnuChannelLeft", "Alleen links"}, {"mnuChannelRight", "Alleen rechts"}};
    for (size_t i = 0; i < FChannelActions.size(); ++i) {
        QAction *a = channel->addAction(QString::fromUtf8(channels[i].second));
        a->setObjectName(QLatin1String(channels[i].first));
        a->setCheckable(true);
        channelGroup->addAction(a);
        const auto mode = TChannelMode(int(i));
        connect(a, &QAction::triggered, this, [this, mode] { ChannelChoose(mode); });
        FChannelActions[i] = a;
    }

    mnuLoop = add(mnuAfspelen, "mnuLoop", QStringLiteral("Selectie herhalen"), QKeySequence(Qt::Key_L), {});
    mnuSkipSilence = add(mnuAfspelen, "mnuSkipSilence", QStringLiteral("Stiltes overslaan"), QKeySequence(Qt::Key_K), {});
    for (QAction *a : {mnuLoop, mnuSkipSilence})
        a->setCheckable(true);
    // A held key repeats seeking, zooming and speed steps, but must not flip a toggle or load on and on.
    for (QAction *a : {mnuPlayPause, mnuPrevRec, mnuNextRec, mnuLoop, mnuSkipSilence})
        a->setAutoRepeat(false);
    // A checkable item toggles itself before triggered arrives; under a modal dialog it is put back.
    connect(mnuLoop, &QAction::triggered, this, [this](bool AOn) {
        if (QApplication::activeModalWidget())
            UpdatePlayMenu();
        else
            LoopToggle(AOn);
    });
    connect(mnuSkipSilence, &QAction::triggered, this, [this](bool AOn) {
        if (QApplication::activeModalWidget())
            UpdatePlayMenu();
        else
            SkipSilenceToggle(AOn);
    });
    btnExport->installEventFilter(this);
    UpdatePlayMenu();
}

void TfrmMain::UpdatePlayMenu()
{
    if (!mnuAfspelen)
        return;
    const bool hasFile = FCommands->HasFile();
    mnuPlayPause->setEnabled(hasFile && FCommands->HasOutput());
    for (QAction *a : FSeekActions)
        a->setEnabled(hasFile);
    for (QAction *a : {mnuZoomIn, mnuZoomOut, mnuZoomFit})
        a->setEnabled(hasFile);
    mnuZoomSel->setEnabled(hasFile && FWave && FWave->HasSelection());
    mnuPrevRec->setEnabled(hasFile && FCommands->DataOK());
    mnuNextRec->setEnabled(hasFile && FCommands->DataOK());
    const TReaderCommands &commands = *FCommands;
    for (size_t i = 0; i < FSpeedActions.size(); ++i)
        FSpeedActions[i]->setChecked(PlaySpeedSteps[i] == commands.Speed());
    for (size_t i = 0; i < FChannelActions.size(); ++i)
        FChannelActions[i]->setChecked(TChannelMode(int(i)) == commands.ChannelMode());
    mnuLoop->setChecked(FCommands->LoopSelection());
    mnuSkipSilence->setChecked(commands.SkipSilence());
}

TWaveSelection TfrmMain::Selection() const
{
    if (!FWave->HasSelection())
        return {};
    return {FWave->SelStart(), FWave->SelEnd()};
}

void TfrmMain::PlayPauseToggle()
{
    if (!mnuPlayPause->isEnabled())
        return;
    if (FCommands->IsPlaying())
        PauseClick();
    else
        PlayClick();
}

void TfrmMain::SeekRelative(double ASec)
{
    if (!FCommands->HasFile())
        return;
    const TReaderCommands &commands = *FCommands;
    // While playing, the cursor lags the heard position by up to one timer tick.
    SeekAbsolute((commands.IsPlaying() ? commands.PositionSec() : FWave->PlayPos()) + ASec);
}

void TfrmMain::SeekAbsolute(double ASec)
{
    if (!FCommands->HasFile())
        return;
    ASec = qBound(0.0, ASec, FWave->Duration());
    FWave->SetPlayPos(ASec);
    FWave->update();
    WaveSeek(ASec);
}

void TfrmMain::JumpTo(double ASec)
{
    SeekAbsolute(ASec);
    FWave->Reveal(FWave->PlayPos());
}

void TfrmMain::LoadNeighbour(int ADirection)
{
    TRecInfo RI;
    if (!FCommands->NeighbourInDay(ADirection, RI))
        return;
    // As after a search: the calendar shows the recording's day and its hour tile is marked.
    const QDate day = QDate::fromString(RI.RecDate, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid() && day != FCalendar->SelectedDate()) {
        FCalendar->SetSelectedDate(day);
        CalendarSelect();
    }
    LoadRecording(RI);
}

void TfrmMain::SpeedChoose(double ASpeed)
{
    FCommands->SetPlaySpeed(ASpeed);
    UpdatePlayMenu();
    ShowStatus(FStatusText);
}

void TfrmMain::SpeedStep(int ADirection)
{
    const double now = FCommands->Speed();
    if (ADirection > 0) {
        for (double v : PlaySpeedSteps)
            if (v > now) {
                SpeedChoose(v);
                return;
            }
    } else {
        for (auto it = std::rbegin(PlaySpeedSteps); it != std::rend(PlaySpeedSteps); ++it)
            if (*it < now) {
                SpeedChoose(*it);
                return;
            }
    }
}

void TfrmMain::ChannelChoose(TChannelMode AMode)
{
    FCommands->SetPlayChannel(AMode);
    UpdatePlayMenu();
    ShowStatus(FStatusText);
}

void TfrmMain::LoopToggle(bool AOn)
{
    FCommands->SetLoopSelection(AOn, Selection());
    UpdatePlayMenu();
}

void TfrmMain::SkipSilenceToggle(bool AOn)
{
    FCommands->SetSkipSilence(AOn);
    UpdatePlayMenu();
}
