// Export dialog: format, bitrate, target file and scope.
#include "uExport.h"

#include "uDialogKit.h"
#include "uReaderTypes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>

namespace {

// Index just past the last path separator of APath (0 when it has none).
int NameStart(const QString &APath)
{
    return APath.lastIndexOf(QLatin1Char('/')) + 1;
}

} // namespace

TfrmExport::TfrmExport(QWidget *AOwner) : QDialog(AOwner)
{
    setWindowTitle(QStringLiteral("Exporteren"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    setFixedSize(484, 276);  // the loudness row and the record choice below the scope

    ChooseSaveFile = [this](const QString &AStartDir, const QString &AName, const QString &AFilter,
                            const QString &ASuffix) {
        QFileDialog dlg(this);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setNameFilter(AFilter);
        dlg.setDefaultSuffix(ASuffix);
        if (!AStartDir.isEmpty())
            dlg.setDirectory(AStartDir);
        dlg.selectFile(AName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().first();
    };

    lblFormat = new QLabel(QStringLiteral("Formaat:"), this);
    lblFormat->setObjectName(QStringLiteral("lblFormat"));
    PlaceLabel(lblFormat, 16, 20, 44, 15);
    cbFormat = new QComboBox(this);
    cbFormat->setObjectName(QStringLiteral("cbFormat"));
    cbFormat->setGeometry(72, 16, 100, 23);
    lblBitrate = new QLabel(QStringLiteral("Bitrate:"), this);
    lblBitrate->setObjectName(QStringLiteral("lblBitrate"));
    PlaceLabel(lblBitrate, 232, 20, 39, 15);
    cbBitrate = new QComboBox(this);
    cbBitrate->setObjectName(QStringLiteral("cbBitrate"));
    cbBitrate->setEditable(true);
    cbBitrate->setInsertPolicy(QComboBox::NoInsert);
    cbBitrate->setGeometry(280, 16, 80, 23);
    lblKbps = new QLabel(QStringLiteral("kbps"), this);
    lblKbps->setObjectName(QStringLiteral("lblKbps"));
    PlaceLabel(lblKbps, 372, 20, 26, 15);
    lblFile = new QLabel(QStringLiteral("Doelbestand:"), this);
    lblFile->setObjectName(QStringLiteral("lblFile"));
    PlaceLabel(lblFile, 16, 60, 71, 15);
    edFileName = new QLineEdit(this);
    edFileName->setObjectName(QStringLiteral("edFileName"));
    edFileName->setGeometry(16, 80, 368, 23);
    btnBrowse = new QPushButton(QStringLiteral("Bladeren..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setGeometry(392, 79, 76, 25);
    gbScope = new QGroupBox(QStringLiteral("Wat exporteren"), this);
    gbScope->setObjectName(QStringLiteral("gbScope"));
    gbScope->setGeometry(16, 120, 452, 80);
    rbAll = new QRadioButton(QStringLiteral("Volledig bestand"), gbScope);
    rbAll->setObjectName(QStringLiteral("rbAll"));
    rbAll->setGeometry(16, 24, 300, 17);
    rbAll->setChecked(true);
    rbSel = new QRadioButton(QStringLiteral("Selectie"), gbScope);
    rbSel->setObjectName(QStringLiteral("rbSel"));
    rbSel->setGeometry(16, 48, 420, 17);
    lblLoudness = new QLabel(QStringLiteral("Luidheid:"), this);
    lblLoudness->setObjectName(QStringLiteral("lblLoudness"));
    PlaceLabel(lblLoudness, 16, 219, 50, 15);
    cbLoudness = new QComboBox(this);
    cbLoudness->setObjectName(QStringLiteral("cbLoudness"));
    cbLoudness->setGeometry(72, 215, 190, 23);
    // The data of each entry is the target in LUFS; 0 leaves the samples as they are.
    cbLoudness->addItem(QStringLiteral("Niet aanpassen"), 0.0);
    cbLoudness->addItem(QStringLiteral("\u221223 LUFS (EBU R128)"), -23.0);
    cbLoudness->addItem(QStringLiteral("\u221216 LUFS"), -16.0);
    btnOk = new QPushButton(QStringLiteral("Exporteren"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(280, 212, 92, 30);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(380, 212, 88, 30);
    cbEvidence = new QCheckBox(QStringLiteral("Verantwoording bijvoegen"), this);
    cbEvidence->setObjectName(QStringLiteral("cbEvidence"));
    cbEvidence->setGeometry(16, 248, 250, 19);
    cbEvidence->setToolTip(QStringLiteral("Schrijft naast de export een verantwoording (.json) en een controlesom (.sha256)"));

    QWidget *order[] = {cbFormat, cbBitrate, edFileName, btnBrowse, rbAll, rbSel, cbLoudness, cbEvidence, btnOk, btnCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    FormCreate();

    connect(cbFormat, &QComboBox::currentIndexChanged, this, &TfrmExport::cbFormatChange);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmExport::btnBrowseClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmExport::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmExport::FormCreate()
{
    for (int i = 0; i < AudioFormatCount; ++i)
        cbFormat->addItem(QString::fromLatin1(FormatNames[i]));
    cbBitrate->addItems(QStringLiteral("64,96,128,160,192,256,320").split(QLatin1Char(',')));
    cbBitrate->setCurrentText(QStringLiteral("128"));
}

void TfrmExport::Setup(const QString &ADefaultName, bool AHasSel, double ASelStart, double ASelEnd,
                       double ADuration, const QString &ADefaultFolder)
{
    Q_UNUSED(ADuration);
    FDefaultName = ADefaultName.isEmpty() ? QStringLiteral("export") : ADefaultName;
    FSelStart = ASelStart;
    FSelEnd = ASelEnd;

    {
        const QSignalBlocker block(cbFormat);  // cbFormatChange runs once below, after the name is set
        cbFormat->setCurrentIndex(static_cast<int>(TAudioFormat::afMP3));
    }
    cbBitrate->setCurrentIndex(2);
    rbAll->setChecked(true);
    rbSel->setEnabled(AHasSel);
    rbSel->setText(AHasSel ? QStringLiteral("Selectie  (%1 - %2)").arg(FormatDuration(ASelStart), FormatDuration(ASelEnd))
                           : QStringLiteral("Selectie  (geen selectie gemaakt)"));

    QString folder = ADefaultFolder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();  // never the file system's root for want of a folder
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    edFileName->setText(folder + FDefaultName);
    ApplyExtension();
    cbFormatChange();
}

TAudioFormat TfrmExport::CurrentFormat() const
{
    const int i = cbFormat->currentIndex();
    return i >= 0 && i < AudioFormatCount ? static_cast<TAudioFormat>(i) : TAudioFormat::afMP3;
}

QString TfrmExport::WithExtension(const QString &APath, const QString &AExt)
{
    const int nameStart = NameStart(APath);
    const int dot = APath.lastIndexOf(QLatin1Char('.'));
    return (dot >= nameStart ? APath.left(dot) : APath) + AExt;
}

void TfrmExport::ApplyExtension()
{
    edFileName->setText(WithExtension(edFileName->text(), QString::fromLatin1(FormatExt(CurrentFormat()))));
}

void TfrmExport::cbFormatChange()
{
    const bool hasBitrate = FormatHasBitrate(CurrentFormat());
    cbBitrate->setEnabled(hasBitrate);
    lblBitrate->setEnabled(hasBitrate);
    lblKbps->setEnabled(hasBitrate);
    ApplyExtension();
}

void TfrmExport::btnBrowseClick()
{
    const TAudioFormat fmt = CurrentFormat();
    const QString ext = QString::fromLatin1(FormatExt(fmt));
    const QString filter = QStringLiteral("%1-bestand (*%2)").arg(QString::fromLatin1(FormatName(fmt)), ext);
    const QString text = edFileName->text();
    const QString name = text.mid(NameStart(text));
    const QString startDir = text.isEmpty() ? QString() : text.left(NameStart(text));
    const QString chosen = ChooseSaveFile(startDir, name, filter, ext.mid(1));
    if (chosen.isEmpty())
        return;
    edFileName->setText(chosen);
    ApplyExtension();
}

void TfrmExport::SetEvidenceRecord(bool AOn)
{
    cbEvidence->setChecked(AOn);
}

void TfrmExport::btnOkClick()
{
    if (TrimControl(edFileName->text()).isEmpty()) {
        FPrompt->Message(QMessageBox::Warning, QStringLiteral("Geef een bestandsnaam op voor de export."));
        return;
    }
    ApplyExtension();
    Request.Path = edFileName->text();
    Request.Format = CurrentFormat();
    bool ok = false;
    const int bitrate = TrimControl(cbBitrate->currentText()).toInt(&ok);
    Request.Bitrate = ok ? bitrate : 128;
    const bool selection = rbSel->isChecked();
    Request.StartSec = selection ? FSelStart : 0;
    Request.EndSec = selection ? FSelEnd : 0;
    Request.EvidenceRecord = cbEvidence->isChecked();
    Request.TargetLufs = cbLoudness->currentData().toDouble();

    const QString folder = Request.Path.left(NameStart(Request.Path));
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        QDir().mkpath(folder);  // a failure shows when the export writes the file

    // An export onto the recording itself would replace what it reads: refused before anything is asked.
    if (!FRecordingPath.isEmpty() && IsSameFile(Request.Path, FRecordingPath)) {
        FPrompt->Message(QMessageBox::Warning,
                         QStringLiteral("Dit bestand is de geladen opname zelf. Een export kan de opname niet "
                                        "vervangen: kies een ander doelbestand."));
        return;
    }
    const QFileInfo target(Request.Path);
    if (!target.exists() || target.isDir() || FPrompt->Question(QStringLiteral("Het bestand bestaat al. Overschrijven?")))
        accept();
}
