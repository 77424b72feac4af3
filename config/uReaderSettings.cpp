// Settings dialog: catalogue file, recordings folder and output device.
#include "uReaderSettings.h"

#include "uDialogKit.h"
#include "uReaderConfig.h"
#include "uReaderTypes.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TfrmSettings::TfrmSettings(QWidget *AOwner, TConfig &AConfig, const QList<QPair<QString, int>> &ADevices)
    : QDialog(AOwner), FConfig(AConfig)
{
    setWindowTitle(QStringLiteral("Instellingen"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    setFixedSize(560, 244);

    ChooseFile = [this](const QString &AStartDir, const QStringList &AFilters) {
        return QFileDialog::getOpenFileName(this, QString(), AStartDir, AFilters.join(QStringLiteral(";;")));
    };
    ChooseFolder = [this](const QString &APrompt, const QString &AStartDir) {
        return QFileDialog::getExistingDirectory(this, APrompt, AStartDir, QFileDialog::ShowDirsOnly);
    };

    lblDb = new QLabel(QStringLiteral("Databasebestand:"), this);
    lblDb->setObjectName(QStringLiteral("lblDb"));
    PlaceLabel(lblDb, 16, 16, 96, 15);
    edDb = new QLineEdit(this);
    edDb->setObjectName(QStringLiteral("edDb"));
    edDb->setGeometry(16, 36, 448, 23);
    btnDbBrowse = new QPushButton(QStringLiteral("Bladeren..."), this);
    btnDbBrowse->setObjectName(QStringLiteral("btnDbBrowse"));
    btnDbBrowse->setGeometry(472, 35, 76, 25);
    lblRoot = new QLabel(QStringLiteral("Map met opnames:"), this);
    lblRoot->setObjectName(QStringLiteral("lblRoot"));
    PlaceLabel(lblRoot, 16, 72, 96, 15);
    edRoot = new QLineEdit(this);
    edRoot->setObjectName(QStringLiteral("edRoot"));
    edRoot->setGeometry(16, 92, 448, 23);
    btnRootBrowse = new QPushButton(QStringLiteral("Bladeren..."), this);
    btnRootBrowse->setObjectName(QStringLiteral("btnRootBrowse"));
    btnRootBrowse->setGeometry(472, 91, 76, 25);
    lblDevice = new QLabel(QStringLiteral("Uitvoerapparaat (geluidskaart):"), this);
    lblDevice->setObjectName(QStringLiteral("lblDevice"));
    PlaceLabel(lblDevice, 16, 128, 168, 15);
    cbDevice = new QComboBox(this);
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    cbDevice->setGeometry(16, 148, 532, 23);
    btnOk = new QPushButton(QStringLiteral("Opslaan"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(356, 200, 92, 30);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(456, 200, 92, 30);

    QWidget *order[] = {edDb, btnDbBrowse, edRoot, btnRootBrowse, cbDevice, btnOk, btnCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    edDb->setFocus();

    FormCreate(ADevices);

    connect(btnDbBrowse, &QPushButton::clicked, this, &TfrmSettings::btnDbBrowseClick);
    connect(btnRootBrowse, &QPushButton::clicked, this, &TfrmSettings::btnRootBrowseClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSettings::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSettings::FormCreate(const QList<QPair<QString, int>> &ADevices)
{
    edDb->setText(FConfig.DatabasePath());
    edRoot->setText(FConfig.RecordingsRoot());
    cbDevice->clear();
    for (const auto &d : ADevices)
        cbDevice->addItem(d.first, d.second);
    cbDevice->setCurrentIndex(cbDevice->count() > 0 ? 0 : -1);
    for (int i = 0; i < cbDevice->count(); ++i) {
        if (cbDevice->itemData(i).toInt() == FConfig.OutputDevice()) {
            cbDevice->setCurrentIndex(i);
            break;
        }
    }
}

void TfrmSettings::btnDbBrowseClick()
{
    QString startDir;
    const QString text = TrimControl(edDb->text());
    if (!text.isEmpty()) {
        const QString folder = QFileInfo(text).absolutePath();
        if (QFileInfo(folder).isDir())
            startDir = folder;  // a folder that is gone leaves the choice to the platform
    }
    const QString chosen = ChooseFile(
        startDir, {QStringLiteral("SQLite database (*.sqlite)"), QStringLiteral("Alle bestanden (*)")});
    if (!chosen.isEmpty())
        edDb->setText(QFileInfo(chosen).absoluteFilePath());
}

void TfrmSettings::btnRootBrowseClick()
{
    const QString current = TrimControl(edRoot->text());
    const QString startDir = !current.isEmpty() && QFileInfo(current).isDir() ? current : QString();
    const QString chosen = ChooseFolder(QStringLiteral("Kies de map met opnames"), startDir);
    if (!chosen.isEmpty())
        edRoot->setText(chosen);
}

void TfrmSettings::btnOkClick()
{
    FConfig.SetDatabasePath(TrimControl(edDb->text()));
    FConfig.SetRecordingsRoot(TrimControl(edRoot->text()));
    if (cbDevice->currentIndex() >= 0)
        FConfig.SetOutputDevice(cbDevice->currentData().toInt());
    try {
        FConfig.Save();
    } catch (const EReaderError &e) {
        FPrompt->Message(QMessageBox::Critical, e.Message());
        return;  // stays open; the new values are in memory only
    }
    accept();
}
