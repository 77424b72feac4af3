// The reader's commands: catalogue, load, export, edit, search, settings, about and the busy bracket.
#include "uCommands.h"

#include "uAbout.h"
#include "uAudioEngine.h"
#include "uExport.h"
#include "uLoudness.h"
#include "uLoudnessView.h"
#include "uMeta.h"
#include "uPickRec.h"
#include "uProgress.h"
#include "uReaderConfig.h"
#include "uReaderSettings.h"
#include "uSearch.h"
#include "uVersion.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTime>
#include <QTimer>
#include <QWidget>
#include <utility>

namespace {


QString DayKey(const QDate &ADay)
{
    return ADay.toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

QString LocaleDateSeparator(const QLocale &ALocale)
{
    const QString fmt = ALocale.dateFormat(QLocale::ShortFormat);
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

TReaderCommands::TReaderCommands(QWidget *AOwner)
    : FOwner(AOwner), FBoxPrompt(AOwner, ReaderTitle()), FEngine(std::make_unique<TAudioEngine>())
{
    FEngine->SetInitialDevice(Config ? Config->OutputDevice() : -1);
    FEngine->InitAudio();
    ApplyCache();
}

void TReaderCommands::ApplyCache()
{
    if (!Config)
        return;
    const QString folder = Config->CacheFolder().isEmpty() ? TEnvelopeCache::DefaultFolder() : Config->CacheFolder();
    const qint64 limit = qint64(Config->CacheMaxMB()) * 1024 * 1024;
    if (folder == FCacheFolder && limit == FCacheLimit)
        return;  // as it is: an analysis ahead goes on
    FCacheFolder = folder;
    FCacheLimit = limit;
    FEngine->SetEnvelopeCacheFolder(folder, limit);
}

TReaderCommands::~TReaderCommands()
{
    FHasFile = false;
    FEngine->Stop();
    FEngine.reset();
    ReaderData.reset();
}

bool TReaderCommands::OpenCatalogue()
{
    ReaderData.reset();
    FDataError.clear();
    FDataOK = false;
    try {
        ReaderData = std::make_unique<TReaderData>(Config->DatabasePath());
        UseCatalogueIndex();
        FDataOK = true;
        return true;
    } catch (const EReaderError &e) {
        FDataError = e.Message();
    } catch (const std::exception &e) {
        FDataError = QString::fromLocal8Bit(e.what());
    }
    ReaderData.reset();
    return false;
}

void TReaderCommands::UseCatalogueIndex()
{
    // The index lives in the cache folder. A large catalogue's index is built on a thread of its own: the
    // look-ups read the catalogue itself meanwhile and the status line says why they are slower. A small
    // catalogue (up to about 200,000 recordings) is indexed in less time than the status line could show
    // it, by its first look-up.
    constexpr qint64 BackgroundIndexBytes = 32LL * 1024 * 1024;
    const QString folder = Config->CacheFolder().isEmpty() ? TEnvelopeCache::DefaultFolder() : Config->CacheFolder();
    const TIndexBuild build = QFileInfo(Config->DatabasePath()).size() < BackgroundIndexBytes ? TIndexBuild::InQuery
                                                                                              : TIndexBuild::InBackground;
    QWidget *window = FOwner;
    const std::function<void(const QString &)> show = ShowStatus;
    ReaderData->UseIndex(folder, build, [window, show](TIndexBuildEvent AEvent) {
        if (!show || !window)
            return;
        const QString text =
            AEvent == TIndexBuildEvent::Started
                ? QStringLiteral("De index van de database wordt opgebouwd; zoeken gaat intussen trager.")
            : AEvent == TIndexBuildEvent::Built
                ? QStringLiteral("De index van de database is klaar.")
                : QStringLiteral("De index van de database kan niet in de cachemap worden gemaakt; zoeken leest "
                                 "de database zelf (trager).");
        QMetaObject::invokeMethod(window, [show, text] { show(text); }, Qt::QueuedConnection);
    });
}

THourSet TReaderCommands::AvailableHours(const QDate &ADay)
{
    if (!FDataOK || !ReaderData)
        return THourSet();
    AnalyseDayAhead(ADay, false);
    try {
        return ReaderData->AvailableHours(DayKey(ADay));
    } catch (const EReaderError &e) {
        DropCatalogue(e.Message());
    } catch (const std::exception &e) {
        DropCatalogue(QString::fromLocal8Bit(e.what()));
    }
    return THourSet();
}

void TReaderCommands::DropCatalogue(const QString &AReason)
{
    ReaderData.reset();
    FDataOK = false;
    FDataError = AReason;
}

bool TReaderCommands::ChooseInHour(const QDate &ADay, int AHour, TRecInfo &ARI)
{
    if (FBusy || !FDataOK || !ReaderData)
        return false;
    TRecList list;
    try {
        ReaderData->Search(DayKey(ADay), AHour, QString(), list);
    } catch (const EReaderError &e) {
        DropCatalogue(e.Message());
        FPrompt->Message(QMessageBox::Warning, QStringLiteral("De database kon niet gelezen worden:\r\n") + e.Message());
        return false;
    }
    if (list.isEmpty()) {
        FPrompt->Message(QMessageBox::Information, QStringLiteral("Geen geldige opname voor dit uur."));
        return false;
    }
    if (list.size() == 1) {
        ARI = list.first();
        return true;
    }
    TfrmPick picker(FOwner);
    const QString caption = QStringLiteral("%1, %2-%3 uur: %4 opnames gevonden. Kies er een:")
                                .arg(DisplayDate(ADay))
                                .arg(AHour, 2, 10, QLatin1Char('0'))
                                .arg((AHour + 1) % 24, 2, 10, QLatin1Char('0'))
                                .arg(list.size());
    picker.Prepare(list, caption);
    if (FPrompt->Run(picker) != QDialog::Accepted)
        return false;
    ARI = picker.Selected();
    return true;
}

bool TReaderCommands::Load(const TRecInfo &ARI)
{
    if (FBusy)
        return false;
    const QString path = TReaderData::FindExistingPath(ARI, Config->RecordingsRoot());
    if (path.isEmpty()) {
        FPrompt->Message(QMessageBox::Warning, QStringLiteral("Het geluidsbestand werd niet teruggevonden:\r\n") + ARI.FilePath);
        return false;
    }
    // No stop before the open: the engine keeps the previous recording playing until the new one is
    // open, and keeps it as it was when the new one fails. The waveform fills in afterwards (PollAnalysis).
    const bool ok = FEngine->Open(path);
    if (ok) {
        FCurrent = ARI;
        FHasFile = true;
        AnalyseDayAhead(QDate::fromString(ARI.RecDate, QStringLiteral("yyyy-MM-dd")), true);
    } else {
        const int code = FEngine->LastError();
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("Kon de opname niet laden:\r\n%1\r\n\r\n%2 (audiofout %3).")
                                                    .arg(path, AudioErrorText(code))
                                                    .arg(code));
    }
    return ok;
}

TAnalysisPoll TReaderCommands::PollAnalysis()
{
    return FEngine->PollAnalysis();
}

bool TReaderCommands::Analysing() const
{
    return FEngine->Analysing();
}

void TReaderCommands::AnalyseDayAhead(const QDate &ADay, bool AForce)
{
    if (!ADay.isValid() || (!AForce && ADay == FAheadDay) || !FDataOK || !ReaderData || !Config)
        return;
    FAheadDay = ADay;
    TRecList day;
    try {
        ReaderData->Search(DayKey(ADay), -1, QString(), day);
    } catch (const EReaderError &) {
        return;  // the next command that reads the catalogue tells the operator
    }
    // Nearest to the loaded recording's hour first (to this hour of the clock on a day without it).
    const bool loadedThatDay = FHasFile && FCurrent.RecDate == DayKey(ADay);
    const int hour = loadedThatDay ? FCurrent.RecHour : QTime::currentTime().hour();
    std::stable_sort(day.begin(), day.end(), [hour](const TRecInfo &ALeft, const TRecInfo &ARight) {
        return std::abs(ALeft.RecHour - hour) < std::abs(ARight.RecHour - hour);
    });
    QStringList paths;
    for (const TRecInfo &rec : day) {
        if (loadedThatDay && rec.Id == FCurrent.Id)
            continue;
        const QString path = TReaderData::FindExistingPath(rec, Config->RecordingsRoot());
        if (!path.isEmpty())
            paths.append(path);
    }
    FEngine->AnalyseAhead(paths);
}

bool TReaderCommands::AheadIdle() const
{
    return FEngine->AheadIdle();
}

bool TReaderCommands::Export(const TWaveSelection &ASelection)
{
    if (FBusy || !FHasFile)
        return false;
    FEngine->Stop();
    TExportRequest request;
    {
        TfrmExport dlg(FOwner);
        dlg.SetPrompt(*FPrompt);
        dlg.Setup(QFileInfo(FCurrent.FileName).completeBaseName(), !ASelection.IsEmpty(), ASelection.Start,
                  ASelection.End, FEngine->DurationSec(), Config->ExportFolder());
        dlg.SetRecordingPath(FEngine->LoadedPath());
        dlg.SetEvidenceRecord(Config->EvidenceRecord());
        if (FPrompt->Run(dlg) != QDialog::Accepted)
            return false;
        request = dlg.Request;
    }
    // The record names the catalogue row the loaded recording came from.
    if (FCurrent.Id > 0)
        request.Recording = FCurrent;
    request.ProgramName = QStringLiteral("VornakReader2026");
    Config->SetEvidenceRecord(request.EvidenceRecord);

    // The status line tells how this export ended; a failure also says why, in a message.
    TExportOutcome outcome;
    RunUnderProgress(QStringLiteral("Exporteren"), QStringLiteral("Exporteren..."), true,
                     [&](const TCancelProgress &AReport) {
                         TExportControl control;
                         control.Progress = AReport;
                         outcome = FEngine->Export(request, control);
                         return outcome.Done();
                     });
    if (outcome.Done()) {
        // Only an export that went through moves the folder the next one proposes.
        const int slash = request.Path.lastIndexOf(QLatin1Char('/'));
        Config->SetExportFolder(slash >= 0 ? request.Path.left(slash + 1) : QDir::currentPath() + QLatin1Char('/'));
    }
    SaveListening();  // a choice that cannot be remembered is told; the export is done either way
    if (outcome.Result == TExportResult::Cancelled) {
        // The operator's own Annuleren: no warning, only the status line.
        if (ShowStatus)
            ShowStatus(QStringLiteral("Export afgebroken: ") + request.Path);
    } else if (!outcome.Done()) {
        if (ShowStatus)
            ShowStatus(QStringLiteral("Export mislukt: ") + request.Path);
        FPrompt->Message(QMessageBox::Warning, outcome.Text);
    } else {
        if (ShowStatus)
            ShowStatus(QStringLiteral("Export voltooid: ") + request.Path);
        QString done = QStringLiteral("De export is voltooid:\r\n") + request.Path;
        if (request.EvidenceRecord)
            done += QStringLiteral("\r\n\r\nVerantwoording:\r\n") + outcome.RecordPath;
        // A damaged or cut-off recording decodes to less than its announced length; only that was written.
        if (outcome.EndedEarly)
            done += QStringLiteral("\r\n\r\nDe opname eindigt eerder dan verwacht: er is %1 geëxporteerd.")
                        .arg(FormatDuration(outcome.Seconds));
        // A normalised export says how loud the written file reads, and why when the true peak held it back.
        if (request.TargetLufs < 0 && outcome.GainLowered)
            done += QStringLiteral("\r\n\r\nLuidheid %1 LUFS: lager gehouden om de piek onder \u22121 dBTP te houden.")
                        .arg(DutchFigure(outcome.LoudnessLufs));
        else if (request.TargetLufs < 0)
            done += QStringLiteral("\r\n\r\nLuidheid van het bestand: %1 LUFS.").arg(DutchFigure(outcome.LoudnessLufs));
        FPrompt->Message(QMessageBox::Information, done);
    }
    CloseIfRequested();
    return outcome.Done();
}

bool TReaderCommands::MeasureLoudness(const TWaveSelection &ASelection)
{
    if (FBusy || !FHasFile)
        return false;
    const double start = ASelection.IsEmpty() ? 0 : ASelection.Start;
    const double end = ASelection.IsEmpty() ? 0 : ASelection.End;
    TLoudnessResult result;
    const QString path = FEngine->LoadedPath();
    FEngine->HoldAhead(true);
    const bool ok = RunUnderProgress(QStringLiteral("Geluidsniveau meten"), QStringLiteral("Geluidsniveau meten..."),
                                     true, [&](const TCancelProgress &AReport) {
                                         result = MeasureFileRange(path, start, end, TLoudnessOptions{}, AReport);
                                         return result.Error == 0 && !result.Cancelled;
                                     });
    FEngine->HoldAhead(false);
    if (!ok) {
        if (result.Error != 0)
            FPrompt->Message(QMessageBox::Warning, QStringLiteral("Het geluidsniveau kan niet worden gemeten: %1")
                                                       .arg(AudioErrorText(result.Error)));
        else if (ShowStatus)
            ShowStatus(QStringLiteral("Meting afgebroken"));
        CloseIfRequested();
        return false;
    }
    TfrmLoudness dlg(FOwner);
    // The clock times of the places count from the recording's start as the recorder stored it.
    QDateTime recStart = QDateTime::fromString(FCurrent.RecDT, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!recStart.isValid())
        recStart = QDateTime::fromString(FCurrent.RecDT, Qt::ISODate);
    dlg.Setup(result, recStart);
    QObject::connect(&dlg, &TfrmLoudness::OnJump, &dlg, [this](double ASec) {
        if (ShowPosition)
            ShowPosition(ASec);
    });
    FPrompt->Run(dlg);
    CloseIfRequested();
    return true;
}

bool TReaderCommands::Edit()
{
    if (FBusy || !FHasFile)
        return false;
    if (!ReaderData) {
        FPrompt->Message(QMessageBox::Information,
                         QStringLiteral("De database is niet geopend. Kies een database via Programma > Instellingen."));
        return false;
    }
    if (ReaderData->IsReadOnly()) {
        FPrompt->Message(QMessageBox::Information,
                         QStringLiteral("De database is alleen-lezen geopend omdat de recorder (Vornak 2026) actief is. "
                                        "Sluit de recorder om gegevens te kunnen bewerken."));
        return false;
    }
    TfrmMeta dlg(FOwner);
    dlg.Setup(FCurrent.Title, FCurrent.Persons);
    if (FPrompt->Run(dlg) != QDialog::Accepted)
        return false;
    const QString title = dlg.ResultTitle();
    const QString persons = dlg.ResultPersons();
    try {
        ReaderData->UpdateMeta(FCurrent.Id, FCurrent.FileName, title, persons);
        FCurrent.Title = title;
        FCurrent.Persons = persons;
        return true;
    } catch (const EReaderError &e) {
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("Opslaan mislukt: ") + e.Message());
    } catch (const std::exception &e) {
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("Opslaan mislukt: ") + QString::fromLocal8Bit(e.what()));
    }
    return false;
}

bool TReaderCommands::Search(TRecInfo &ARI)
{
    if (FBusy)
        return false;
    if (!FDataOK && !OpenCatalogue()) {
        FPrompt->Message(QMessageBox::Warning, QStringLiteral("De database kon niet geopend worden:\r\n") + FDataError);
        return false;
    }
    TfrmSearch dlg(FOwner, ReaderData.get());
    dlg.SetPrompt(*FPrompt);
    if (FPrompt->Run(dlg) != QDialog::Accepted)
        return false;
    ARI = dlg.Selected();
    return true;
}

bool TReaderCommands::Settings()
{
    if (FBusy)
        return false;
    QList<QPair<QString, int>> devices;
    ListOutputDevices(devices);
    TfrmSettings dlg(FOwner, *Config, devices);
    dlg.SetPrompt(*FPrompt);
    if (FPrompt->Run(dlg) != QDialog::Accepted)
        return false;
    OpenCatalogue();
    if (Config->OutputDevice() != FEngine->OutputDevice())
        FEngine->ChangeDevice(Config->OutputDevice());
    ApplyCache();
    return true;
}

void TReaderCommands::About()
{
    TfrmAbout dlg(FOwner, Config->IniPath());
    FPrompt->Run(dlg);
}

bool TReaderCommands::RunUnderProgress(const QString &ATitle, const QString &AText, bool AAllowCancel,
                                       const std::function<bool(const TCancelProgress &)> &AWork)
{
    FBusy = true;
    FBusyTitle = ATitle;
    bool ok = false;
    try {
        TfrmProgress prog(FOwner);
        prog.SetAllowCancel(AAllowCancel);
        prog.setWindowTitle(ATitle);
        prog.SetProgress(0, AText);
        prog.show();
        const TCancelProgress report = [this, &prog, &AText](int APercent) {
            prog.SetProgress(APercent, AText);
            ProcessPendingEvents();
            return !prog.Cancelled();
        };
        // Data written before a cancel still counts as not completed for the operator.
        ok = AWork(report) && !prog.Cancelled();
    } catch (...) {
        FBusy = false;
        FBusyTitle.clear();
        CloseIfRequested();
        throw;
    }
    FBusy = false;
    FBusyTitle.clear();
    return ok;
}

void TReaderCommands::ProcessPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (OnProgressReport)
        OnProgressReport();
}

void TReaderCommands::CloseIfRequested()
{
    if (FCloseRequested && !FBusy) {
        FCloseRequested = false;
        QTimer::singleShot(0, FOwner, [owner = FOwner] { owner->close(); });
    }
}

int TReaderCommands::MarkedHourOn(const QDate &ADay) const
{
    if (!FHasFile || !ADay.isValid() || FCurrent.RecDate != DayKey(ADay))
        return -1;
    return FCurrent.RecHour >= 0 && FCurrent.RecHour <= 23 ? FCurrent.RecHour : -1;
}

bool TReaderCommands::NeighbourInDay(int AStep, TRecInfo &ARI)
{
    if (FBusy || !FHasFile || !FDataOK || !ReaderData)
        return false;
    TRecList day;
    try {
        ReaderData->Search(FCurrent.RecDate, -1, QString(), day);
    } catch (const EReaderError &e) {
        DropCatalogue(e.Message());
        FPrompt->Message(QMessageBox::Warning, QStringLiteral("De database kon niet gelezen worden:\r\n") + e.Message());
        return false;
    }
    int at = -1;
    for (int i = 0; i < day.size(); ++i)
        if (day[i].Id == FCurrent.Id)
            at = i;
    int target = at + AStep;
    if (at < 0) {
        // The loaded recording left the listing (edited or removed): its place in the catalogue's order.
        const auto key = [](const TRecInfo &ARec) { return std::make_pair(ARec.RecDT, ARec.RecNumber); };
        target = AStep > 0 ? int(day.size()) : -1;
        for (int i = 0; i < day.size(); ++i) {
            if (AStep > 0 && key(day[i]) > key(FCurrent)) {
                target = i;
                break;
            }
            if (AStep < 0 && key(day[i]) < key(FCurrent))
                target = i;
        }
    }
    if (target < 0 || target >= day.size())
        return false;
    ARI = day[target];
    return true;
}

void TReaderCommands::ApplyListening()
{
    if (!Config)
        return;
    FEngine->SetSpeed(Config->PlaySpeed());
    FEngine->SetChannelMode(Config->PlayChannel());
    FEngine->SetSkipSilence(Config->SkipSilence());
}

void TReaderCommands::SetPlaySpeed(double ASpeed)
{
    FEngine->SetSpeed(ASpeed);
    Config->SetPlaySpeed(FEngine->Speed());
    SaveListening();
}

void TReaderCommands::SetPlayChannel(TChannelMode AMode)
{
    FEngine->SetChannelMode(AMode);
    Config->SetPlayChannel(AMode);
    SaveListening();
}

void TReaderCommands::SetLoopSelection(bool AOn, const TWaveSelection &ASelection)
{
    Config->SetLoopSelection(AOn);
    FollowSelection(ASelection);
    SaveListening();
}

bool TReaderCommands::LoopSelection() const
{
    return Config && Config->LoopSelection();
}

void TReaderCommands::SetSkipSilence(bool AOn)
{
    FEngine->SetSkipSilence(AOn);
    Config->SetSkipSilence(AOn);
    SaveListening();
}

void TReaderCommands::FollowSelection(const TWaveSelection &ASelection)
{
    if (Config && Config->LoopSelection() && FHasFile && !ASelection.IsEmpty())
        FEngine->SetLoopRange(ASelection.Start, ASelection.End);
    else
        FEngine->SetLoopRange(-1, -1);
}

void TReaderCommands::SaveListening()
{
    try {
        Config->Save();
    } catch (const EReaderError &e) {
        FPrompt->Message(QMessageBox::Warning,
                         QStringLiteral("De keuze geldt tot het programma sluit, maar kon niet bewaard worden:\r\n") +
                             e.Message());
    }
}

// ---- playback, for the form ----

bool TReaderCommands::HasOutput() const { return FEngine->HasOutput(); }
double TReaderCommands::DurationSec() const { return FEngine->DurationSec(); }
const TEnvArray &TReaderCommands::Envelope() const { return FEngine->Envelope(); }
int TReaderCommands::EnvCount() const { return FEngine->EnvCount(); }
double TReaderCommands::SecPerPoint() const { return FEngine->SecPerPoint(); }

void TReaderCommands::PlayFrom(double ASec)
{
    if (!FHasFile || !FEngine->HasOutput())
        return;
    FEngine->SeekSec(ASec);
    FEngine->Play();
}

void TReaderCommands::Pause() { FEngine->Pause(); }
void TReaderCommands::Stop() { FEngine->Stop(); }
void TReaderCommands::SeekTo(double ASec) { FEngine->SeekSec(ASec); }
TPlaybackSnapshot TReaderCommands::Snapshot() const { return FEngine->Snapshot(); }
bool TReaderCommands::IsPlaying() const { return FEngine->IsPlaying(); }
double TReaderCommands::PositionSec() const { return FEngine->PositionSec(); }
double TReaderCommands::Speed() const { return FEngine->Speed(); }
TChannelMode TReaderCommands::ChannelMode() const { return FEngine->ChannelMode(); }
bool TReaderCommands::SkipSilence() const { return FEngine->SkipSilence(); }

bool TReaderCommands::SearchResultDay(const QString &ARecDate, QDate &ADay)
{
    ADay = QDate();
    if (ARecDate.length() != 10)
        return true;
    bool okY = false, okM = false, okD = false;
    int y = ARecDate.mid(0, 4).toInt(&okY);
    int m = ARecDate.mid(5, 2).toInt(&okM);
    int d = ARecDate.mid(8, 2).toInt(&okD);
    if (!okY)
        y = QDate::currentDate().year();
    if (!okM)
        m = 1;
    if (!okD)
        d = 1;
    const QDate date(y, m, d);
    if (!date.isValid()) {
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("'%1' is geen geldige datum.").arg(ARecDate));
        return false;
    }
    ADay = date;
    return true;
}
