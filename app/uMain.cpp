// The reader's main window and its commands.
#include "uMain.h"

#include "uAbout.h"
#include "uAudioEngine.h"
#include "uCalendar.h"
#include "uExport.h"
#include "uMeta.h"
#include "uPickRec.h"
#include "uProgress.h"
#include "uReaderConfig.h"
#include "uReaderData.h"
#include "uReaderSettings.h"
#include "uSearch.h"
#include "uTiles.h"
#include "uWaveView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const AppTitle = "Vornak Reader 2026";
const char *const DbNotOpenTail = "  (Programma > Instellingen (paden))";

QFont UiFont()
{
    QFont f(QStringLiteral("Segoe UI"));
    f.setPixelSize(12);
    return f;
}

// A panel without a bevel.
QWidget *MakePanel(QWidget *AParent, const char *AName)
{
    auto *w = new QWidget(AParent);
    w->setObjectName(QLatin1String(AName));
    return w;
}

} // namespace

QRect HourTileRect(int i, int APanelW, int APanelH)
{
    const int w = qMax(20, (APanelW - 24) / 4);
    const int h = qMax(16, (APanelH - 40) / 6);
    return QRect((i % 4) * (w + 8), (i / 4) * (h + 8), w, h);
}

QRect ToolTileRect(int i, int APanelW)
{
    const int w = qMax(24, APanelW - 12);
    return QRect(6, 8 + i * 54, w, 46);
}

QString LocaleDateSeparator()
{
    const QString fmt = QLocale::system().dateFormat(QLocale::ShortFormat);
    // The separator is the first character of the pattern that is not a field letter, quote or space.
    for (const QChar c : fmt)
        if (!c.isLetter() && c != QLatin1Char('\'') && !c.isSpace())
            return QString(c);
    // A format of words and spaces only ("d MMM yyyy") has no numeric separator: keep the slash.
    return QStringLiteral("/");
}

QString DisplayDate(const QDate &ADate)
{
    const QString sep = LocaleDateSeparator();
    return QStringLiteral("%1%2%3%2%4")
        .arg(ADate.day(), 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(ADate.month(), 2, 10, QLatin1Char('0'))
        .arg(ADate.year(), 4, 10, QLatin1Char('0'));
}

QPixmap FloppyPixmap()
{
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(Qt::white, 3);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    // Body with the cut corner at the top right.
    QPolygonF body;
    body << QPointF(8, 6) << QPointF(48, 6) << QPointF(58, 16) << QPointF(58, 58) << QPointF(8, 58);
    p.drawPolygon(body);
    // Metal shutter with its window.
    p.drawRect(QRectF(18, 6, 26, 16));
    p.fillRect(QRectF(34, 10, 6, 9), Qt::white);
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
    ShowMessage = [this](QMessageBox::Icon AIcon, const QString &AText) {
        QString shown = AText;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QMessageBox box(AIcon, QLatin1String(AppTitle), shown, QMessageBox::Ok, this);
        box.exec();
    };
    ExecDialog = [](QDialog &ADialog) { return ADialog.exec(); };
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
    mnuEdit = mnuProgramma->addAction(QStringLiteral("Gegevens bewerken..."));
    mnuEdit->setEnabled(false);
    mnuProgramma->addSeparator();
    mnuPaths = mnuProgramma->addAction(QStringLiteral("Instellingen..."));
    mnuAbout = mnuProgramma->addAction(QStringLiteral("Over Vornak Reader 2026..."));
    mnuProgramma->addSeparator();
    mnuExit = mnuProgramma->addAction(QStringLiteral("Afsluiten"));
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
    lblStatus->setProperty("fullText", lblStatus->text());

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
    btnExport->setIcon(QIcon(FloppyPixmap()));
    btnExport->setIconSize(QSize(64, 64));
    btnExport->setAccessibleDescription(QStringLiteral("Exporteer deze opname"));
    btnExport->setEnabled(false);
    connect(btnExport, &QPushButton::clicked, this, [this] { mnuExportClick(); });
}

TTileButton *TfrmMain::MakeTile(QWidget *APanel, TTileGlyph AGlyph, void (TfrmMain::*AClick)())
{
    auto *t = new TTileButton(APanel);
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
        connect(t, &TTileButton::OnClick, this, [this, t] { HourTileClick(t); });
        FHourTiles[size_t(i)] = t;
    }
    LayoutHourTiles();
}

void TfrmMain::BuildToolTiles()
{
    FPlay = MakeTile(pnlBottom, TTileGlyph::tgPlay, &TfrmMain::PlayClick);
    FPause = MakeTile(pnlBottom, TTileGlyph::tgPause, &TfrmMain::PauseClick);
    FStop = MakeTile(pnlBottom, TTileGlyph::tgStop, &TfrmMain::StopClick);
    FZoomFit = MakeTile(pnlTools, TTileGlyph::tgZoomFit, &TfrmMain::ZoomFitClick);
    FZoomSel = MakeTile(pnlTools, TTileGlyph::tgSelect, &TfrmMain::ZoomSelClick);
    FZoomOut = MakeTile(pnlTools, TTileGlyph::tgZoomOut, &TfrmMain::ZoomOutClick);
    FZoomIn = MakeTile(pnlTools, TTileGlyph::tgZoomIn, &TfrmMain::ZoomInClick);
    FPlay->setGeometry(16, 24, 68, 60);
    FPause->setGeometry(92, 24, 68, 60);
    FStop->setGeometry(168, 24, 68, 60);
    const std::pair<TTileButton *, const char *> hints[] = {{FZoomFit, "Volledige opname tonen"},
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
    setWindowTitle(QLatin1String(AppTitle));
    setFont(UiFont());
    BuildMenu();
    BuildPanels();

    FEngine = std::make_unique<TAudioEngine>();
    FEngine->SetInitialDevice(Config ? Config->OutputDevice() : -1);
    FEngine->InitAudio();

    FCalendar = new TCalendarView(pnlTop);
    FCalendar->setGeometry(16, 12, 456, 300);
    connect(FCalendar, &TCalendarView::OnSelect, this, [this] { CalendarSelect(); });

    BuildHourTiles();

    FWave = new TWaveView(pnlWaveHost);
    static_cast<QHBoxLayout *>(pnlWaveHost->layout())->addWidget(FWave, 1);
    static_cast<QHBoxLayout *>(pnlWaveHost->layout())->addWidget(pnlTools);
    connect(FWave, &TWaveView::OnSeek, this, [this](double Sec) { WaveSeek(Sec); });
    connect(FWave, &TWaveView::OnSelectionChange, this, [this] { WaveSelectionChange(); });

    BuildToolTiles();
    LayoutToolTiles();

    FDataOK = OpenCatalogue();
    if (!FDataOK)
        SetStatus(QStringLiteral("Database niet geopend: ") + FDataError + QLatin1String(DbNotOpenTail));
    FCalendar->SetSelectedDate(QDate::currentDate());
    CalendarSelect();
    UpdateCommands();
    ShowTime(0);

    TimerPos = new QTimer(this);
    TimerPos->setInterval(50);
    connect(TimerPos, &QTimer::timeout, this, [this] { TimerPosTimer(); });
    TimerPos->start();

    // The design's client area lies below the menu bar; Qt counts the menu bar inside the window.
    setMinimumSize(900, 640);
    resize(MainClientWidth, MainClientHeight + menuBar()->sizeHint().height());
    if (const QScreen *scr = screen()) {
        const QRect avail = scr->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
}

void TfrmMain::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    if (TimerPos)
        TimerPos->stop();
    FHasFile = false;
    if (FEngine) {
        FEngine->Stop();
        FEngine.reset();
    }
    ReaderData.reset();
}

bool TfrmMain::eventFilter(QObject *AWatched, QEvent *AEvent)
{
    if (AEvent->type() == QEvent::Resize) {
        if (AWatched == pnlTop && pnlHours) {
            // Anchored left, top and right: the right edge stays 16 px from the window's right edge.
            pnlHours->setGeometry(484, 12, qMax(0, pnlTop->width() - 484 - 16), 300);
        } else if (AWatched == pnlBottom && lblStatus && btnExport) {
            lblStatus->setGeometry(16, 4, qMax(0, pnlBottom->width() - 16 - 18), 16);
            btnExport->move(pnlBottom->width() - 18 - btnExport->width(), 18);
            SetStatus(lblStatus->property("fullText").toString());
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
    FormResize();
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
    if (FBusy) {
        // A load or an export runs below us on this thread: close once it has returned.
        FCloseRequested = true;
        AEvent->ignore();
        return;
    }
    AEvent->accept();
}

void TfrmMain::CloseIfRequested()
{
    if (FCloseRequested && !FBusy) {
        FCloseRequested = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

bool TfrmMain::RunUnderProgress(const QString &title, const QString &text, bool allowCancel,
                                const std::function<bool(TfrmProgress &)> &work)
{
    FBusy = true;
    bool ok = false;
    try {
        TfrmProgress prog(this);
        prog.SetAllowCancel(allowCancel);
        prog.setWindowTitle(title);
        prog.SetProgress(0, text);
        prog.show();
        ok = work(prog);
    } catch (...) {
        FBusy = false;
        CloseIfRequested();
        throw;
    }
    FBusy = false;
    return ok;
}

void TfrmMain::ProcessPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (OnProgressReport)
        OnProgressReport();
}

bool TfrmMain::OpenCatalogue()
{
    ReaderData.reset();
    FDataError.clear();
    try {
        ReaderData = std::make_unique<TReaderData>(Config->DatabasePath());
        return true;
    } catch (const EReaderError &e) {
        FDataError = e.Message();
    } catch (const std::exception &e) {
        FDataError = QString::fromLocal8Bit(e.what());
    }
    ReaderData.reset();
    return false;
}

void TfrmMain::SetStatus(const QString &AText)
{
    // The label keeps the whole text; what does not fit is cut with an ellipsis at its end.
    // Persons are stored one per line; the one-line status shows them separated by commas.
    lblStatus->setProperty("fullText", AText);
    QString shown = AText;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(", ")).replace(QLatin1Char('\n'), QStringLiteral(", "));
    shown.remove(QLatin1Char('\r'));
    const QFontMetrics fm(lblStatus->font());
    lblStatus->setText(fm.elidedText(shown, Qt::ElideRight, lblStatus->width()));
    lblStatus->setToolTip(QString());
}

QString TfrmMain::StatusText() const
{
    return lblStatus->property("fullText").toString();
}

void TfrmMain::ShowTime(double Sec)
{
    lblTime->setText(FormatTimeMs(Sec));
}

void TfrmMain::UpdateCommands()
{
    const bool transport = FHasFile && FEngine && FEngine->HasOutput();
    FPlay->setEnabled(transport);
    FPause->setEnabled(transport);
    FStop->setEnabled(transport);
    btnExport->setEnabled(FHasFile);
    FZoomFit->setEnabled(FHasFile);
    FZoomOut->setEnabled(FHasFile);
    FZoomIn->setEnabled(FHasFile);
    FZoomSel->setEnabled(FHasFile && FWave->HasSelection());
    mnuExport->setEnabled(FHasFile);
    mnuEdit->setEnabled(FHasFile);
}

// ---- browsing by date and hour ----

void TfrmMain::ClearHourSelection()
{
    for (TTileButton *t : FHourTiles)
        t->SetSelected(false);
}

void TfrmMain::CalendarSelect()
{
    ClearHourSelection();
    const QDate day = FCalendar->SelectedDate();
    THourSet hours;
    if (FDataOK && ReaderData)
        hours = ReaderData->AvailableHours(day.toString(QStringLiteral("yyyy-MM-dd")));
    int count = 0;
    for (int i = 0; i < 24; ++i) {
        const bool on = hours.Contains(i);
        FHourTiles[size_t(i)]->setEnabled(on);
        if (on)
            ++count;
    }
    if (FDataOK)
        SetStatus(QStringLiteral("%1 - %2 opname-uur/uren beschikbaar. Kies een uur.").arg(DisplayDate(day)).arg(count));
    else
        SetStatus(QStringLiteral("Database niet geopend: ") + FDataError + QLatin1String(DbNotOpenTail));
}

void TfrmMain::HourTileClick(TTileButton *Sender)
{
    if (FBusy || !FDataOK || !ReaderData || !Sender)
        return;
    const int h = int(Sender->Tag());
    const QDate day = FCalendar->SelectedDate();
    TRecList list;
    ReaderData->Search(day.toString(QStringLiteral("yyyy-MM-dd")), h, QString(), list);
    if (list.isEmpty()) {
        ShowMessage(QMessageBox::Information, QStringLiteral("Geen geldige opname voor dit uur."));
        return;
    }
    TRecInfo choice;
    bool chosen = false;
    if (list.size() == 1) {
        choice = list.first();
        chosen = true;
    } else {
        TfrmPick picker(this);
        const QString caption = QStringLiteral("%1, %2-%3 uur: %4 opnames gevonden. Kies er een:")
                                    .arg(DisplayDate(day))
                                    .arg(h, 2, 10, QLatin1Char('0'))
                                    .arg((h + 1) % 24, 2, 10, QLatin1Char('0'))
                                    .arg(list.size());
        picker.Prepare(list, caption);
        if (ExecDialog(picker) == QDialog::Accepted) {
            choice = picker.Selected();
            chosen = true;
        }
    }
    if (!chosen)
        return;
    ClearHourSelection();
    Sender->SetSelected(true);
    LoadRecording(choice);
}

// ---- loading and playback ----

void TfrmMain::LoadRecording(const TRecInfo &RI)
{
    const QString path = ReaderData ? ReaderData->ResolveExistingPath(RI)
                                    : TReaderData::ResolveExistingPath(RI, Config->RecordingsRoot());
    if (!QFileInfo(path).isFile()) {
        ShowMessage(QMessageBox::Warning, QStringLiteral("Het geluidsbestand werd niet teruggevonden:\r\n") + path);
        return;
    }
    FEngine->Stop();
    const QString analysing = QStringLiteral("Golfvorm analyseren...");
    const bool ok = RunUnderProgress(QStringLiteral("Opname laden"), analysing, false, [&](TfrmProgress &prog) {
        const TProgressProc progress = [this, &prog, &analysing](int p) {
            prog.SetProgress(p, analysing);
            ProcessPendingEvents();
        };
        return FEngine->Load(path, progress);
    });
    if (ok) {
        FCurrent = RI;
        FHasFile = true;
        FWave->SetData(FEngine->Envelope(), FEngine->EnvCount(), FEngine->DurationSec());
        UpdateCaption();
        UpdateCommands();
        ShowTime(0);
    } else {
        const int code = FEngine->LastError();
        ShowMessage(QMessageBox::Critical, QStringLiteral("Kon de opname niet laden:\r\n%1\r\n\r\n%2 (audiofout %3).")
                                               .arg(path, AudioErrorText(code))
                                               .arg(code));
    }
    CloseIfRequested();
}

void TfrmMain::UpdateCaption()
{
    if (!FHasFile)
        return;
    QString status = QStringLiteral("%1  %2-%3 uur  nr %4  -  %5  -  duur %6")
                         .arg(FCurrent.RecDate)
                         .arg(FCurrent.RecHour, 2, 10, QLatin1Char('0'))
                         .arg((FCurrent.RecHour + 1) % 24, 2, 10, QLatin1Char('0'))
                         .arg(FCurrent.RecNumber)
                         .arg(FCurrent.Format, FormatDuration(FEngine->DurationSec()));
    const QString extra = (FCurrent.Title + QLatin1Char(' ') + FCurrent.Persons).trimmed();
    if (!FCurrent.Title.isEmpty() || !FCurrent.Persons.isEmpty())
        status += QStringLiteral("  -  ") + extra;
    setWindowTitle(QLatin1String(AppTitle) + QStringLiteral("  -  ") + FCurrent.FileName);
    SetStatus(status);
}

void TfrmMain::PlayClick()
{
    if (FHasFile && FEngine->HasOutput()) {
        FEngine->SeekSec(FWave->PlayPos());
        FEngine->Play();
    }
}

void TfrmMain::PauseClick()
{
    FEngine->Pause();
}

void TfrmMain::StopClick()
{
    FEngine->Stop();
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

void TfrmMain::WaveSeek(double Sec)
{
    FEngine->SeekSec(Sec);
    ShowTime(Sec);
}

void TfrmMain::WaveSelectionChange()
{
    FZoomSel->setEnabled(FHasFile && FWave->HasSelection());
    if (FWave->HasSelection())
        SetStatus(QStringLiteral("Selectie: %1 - %2  (%3)")
                      .arg(FormatDuration(FWave->SelStart()), FormatDuration(FWave->SelEnd()),
                           FormatDuration(FWave->SelEnd() - FWave->SelStart())));
}

void TfrmMain::TimerPosTimer()
{
    if (FHasFile && FEngine && FEngine->IsPlaying()) {
        FWave->SetPlayPos(FEngine->PositionSec());
        FWave->update();
        ShowTime(FWave->PlayPos());
    }
}

// ---- menu commands ----

void TfrmMain::mnuSearchClick()
{
    if (FBusy)
        return;
    if (!FDataOK) {
        FDataOK = OpenCatalogue();
        if (!FDataOK) {
            ShowMessage(QMessageBox::Warning, QStringLiteral("De database kon niet geopend worden:\r\n") + FDataError);
            return;
        }
    }
    TRecInfo RI;
    {
        TfrmSearch dlg(this);
        dlg.ShowMessage = ShowMessage;
        if (ExecDialog(dlg) != QDialog::Accepted)
            return;
        RI = dlg.Selected();
    }
    if (RI.RecDate.length() == 10) {
        bool okY = false, okM = false, okD = false;
        int y = RI.RecDate.mid(0, 4).toInt(&okY);
        int m = RI.RecDate.mid(5, 2).toInt(&okM);
        int d = RI.RecDate.mid(8, 2).toInt(&okD);
        if (!okY)
            y = QDate::currentDate().year();
        if (!okM)
            m = 1;
        if (!okD)
            d = 1;
        const QDate date(y, m, d);
        if (!date.isValid())
            throw EReaderError(QStringLiteral("'%1' is geen geldige datum.").arg(RI.RecDate));
        FCalendar->SetSelectedDate(date);
    }
    CalendarSelect();
    if (RI.RecHour >= 0 && RI.RecHour <= 23)
        FHourTiles[size_t(RI.RecHour)]->SetSelected(true);
    LoadRecording(RI);
}

void TfrmMain::mnuExportClick()
{
    if (FBusy || !FHasFile)
        return;
    FEngine->Stop();
    TfrmExport dlg(this);
    dlg.ShowMessage = ShowMessage;
    dlg.Setup(QFileInfo(FCurrent.FileName).completeBaseName(), FWave->HasSelection(), FWave->SelStart(),
              FWave->SelEnd(), FEngine->DurationSec(), Config->ExportFolder());
    if (ExecDialog(dlg) != QDialog::Accepted)
        return;
    double start = 0, end = FEngine->DurationSec();
    if (dlg.UseSelection) {
        start = FWave->SelStart();
        end = FWave->SelEnd();
    }
    const int slash = dlg.ChosenPath.lastIndexOf(QLatin1Char('/'));
    Config->SetExportFolder(slash >= 0 ? dlg.ChosenPath.left(slash + 1)
                                       : QDir::currentPath() + QLatin1Char('/'));
    Config->Save();

    const QString exporting = QStringLiteral("Exporteren...");
    const bool ok = RunUnderProgress(QStringLiteral("Exporteren"), exporting, true, [&](TfrmProgress &prog) {
        const TCancelProgress progress = [this, &prog, &exporting](int p) {
            prog.SetProgress(p, exporting);
            ProcessPendingEvents();
            return !prog.Cancelled();
        };
        // Data written before a cancel still counts as not completed for the operator.
        return FEngine->ExportRange(dlg.ChosenPath, dlg.ChosenFormat, dlg.ChosenBitrate, start, end, progress)
            && !prog.Cancelled();
    });
    if (ok) {
        SetStatus(QStringLiteral("Export voltooid: ") + dlg.ChosenPath);
        ShowMessage(QMessageBox::Information, QStringLiteral("De export is voltooid:\r\n") + dlg.ChosenPath);
    } else {
        ShowMessage(QMessageBox::Warning, QStringLiteral("De export is niet voltooid (afgebroken of mislukt)."));
    }
    CloseIfRequested();
}

void TfrmMain::mnuEditClick()
{
    if (FBusy || !FHasFile)
        return;
    if (!ReaderData) {
        ShowMessage(QMessageBox::Information,
                    QStringLiteral("De database is niet geopend. Kies een database via Programma > Instellingen."));
        return;
    }
    if (ReaderData->IsReadOnly()) {
        ShowMessage(QMessageBox::Information,
                    QStringLiteral("De database is alleen-lezen geopend omdat de recorder (Vornak 2026) actief is. "
                                   "Sluit de recorder om gegevens te kunnen bewerken."));
        return;
    }
    TfrmMeta dlg(this);
    dlg.Setup(FCurrent.Title, FCurrent.Persons);
    if (ExecDialog(dlg) != QDialog::Accepted)
        return;
    const QString title = dlg.ResultTitle();
    const QString persons = dlg.ResultPersons();
    try {
        ReaderData->UpdateMeta(FCurrent.Id, FCurrent.FileName, title, persons);
        FCurrent.Title = title;
        FCurrent.Persons = persons;
        UpdateCaption();
    } catch (const EReaderError &e) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Opslaan mislukt: ") + e.Message());
    } catch (const std::exception &e) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Opslaan mislukt: ") + QString::fromLocal8Bit(e.what()));
    }
}

void TfrmMain::mnuPathsClick()
{
    if (FBusy)
        return;
    QList<QPair<QString, int>> devices;
    ListOutputDevices(devices);
    TfrmSettings dlg(this, devices);
    dlg.ShowMessage = ShowMessage;
    if (ExecDialog(dlg) != QDialog::Accepted)
        return;
    FDataOK = OpenCatalogue();
    CalendarSelect();
    if (Config->OutputDevice() != FEngine->OutputDevice())
        FEngine->ChangeDevice(Config->OutputDevice());
    UpdateCommands();
}

void TfrmMain::mnuAboutClick()
{
    TfrmAbout dlg(this);
    ExecDialog(dlg);
}

void TfrmMain::mnuExitClick()
{
    close();
}
