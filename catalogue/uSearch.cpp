// Search dialog: by file-name stem or through the catalogue.
#include "uSearch.h"

#include "uDialogKit.h"
#include "uReaderTypes.h"

#include "uReaderData.h"
#include "uReportList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

namespace {

// Day, month and four-digit year with the locale's date separator: the first '/', '-' or '.' of its short
// date format ("dd/MM/yyyy" when it has none of them).
QString DateDisplayFormat()
{
    const QString f = QLocale::system().dateFormat(QLocale::ShortFormat);
    QChar sep = QLatin1Char('/');
    for (const QChar c : f) {
        if (c == QLatin1Char('/') || c == QLatin1Char('-') || c == QLatin1Char('.')) {
            sep = c;
            break;
        }
    }
    return QStringLiteral("dd%1MM%1yyyy").arg(sep);
}

QDateEdit *NewDatePicker(QWidget *AParent, const QDate &ADate)
{
    auto *d = new QDateEdit(ADate, AParent);
    d->setCalendarPopup(true);
    d->setDisplayFormat(DateDisplayFormat());
    return d;
}

QStringList HourEntries()
{
    QStringList h;
    for (int i = 0; i < 24; ++i)
        h << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    return h;
}

} // namespace

TfrmSearch::TfrmSearch(QWidget *AOwner, TReaderData *AData, const QDateTime &ANow)
    : QDialog(AOwner), FData(AData)
{
    setWindowTitle(QStringLiteral("Opname zoeken"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    setFixedSize(632, 508);

    gbFile = new QGroupBox(QStringLiteral("Zoeken op bestandsnaam (datum + uur + opnamenummer)"), this);
    gbFile->setObjectName(QStringLiteral("gbFile"));
    gbFile->setGeometry(8, 8, 616, 120);
    lblFDate = new QLabel(QStringLiteral("Datum:"), gbFile);
    lblFDate->setObjectName(QStringLiteral("lblFDate"));
    PlaceLabel(lblFDate, 16, 32, 40, 15);
    dtpFileDate = NewDatePicker(gbFile, ANow.date());
    dtpFileDate->setObjectName(QStringLiteral("dtpFileDate"));
    dtpFileDate->setGeometry(64, 28, 150, 23);
    lblFHour = new QLabel(QStringLiteral("Uur:"), gbFile);
    lblFHour->setObjectName(QStringLiteral("lblFHour"));
    PlaceLabel(lblFHour, 232, 32, 24, 15);
    cbFileHour = new QComboBox(gbFile);
    cbFileHour->setObjectName(QStringLiteral("cbFileHour"));
    cbFileHour->setGeometry(262, 28, 60, 23);
    lblFNum = new QLabel(QStringLiteral("Opname nr:"), gbFile);
    lblFNum->setObjectName(QStringLiteral("lblFNum"));
    PlaceLabel(lblFNum, 348, 32, 64, 15);
    cbFileNum = new QComboBox(gbFile);
    cbFileNum->setObjectName(QStringLiteral("cbFileNum"));
    cbFileNum->setGeometry(418, 28, 60, 23);
    lblStemCap = new QLabel(QStringLiteral("Bestandsnaam:"), gbFile);
    lblStemCap->setObjectName(QStringLiteral("lblStemCap"));
    PlaceLabel(lblStemCap, 16, 72, 82, 15);
    lblStem = new QLabel(QStringLiteral("stem"), gbFile);
    lblStem->setObjectName(QStringLiteral("lblStem"));
    lblStem->setGeometry(110, 72, 46, 15);
    QFont bold = lblStem->font();
    bold.setBold(true);
    lblStem->setFont(bold);
    btnFindFile = new QPushButton(QStringLiteral("Zoek en open"), gbFile);
    btnFindFile->setObjectName(QStringLiteral("btnFindFile"));
    btnFindFile->setGeometry(462, 76, 138, 30);

    gbDb = new QGroupBox(QStringLiteral("Zoeken via database (datum, uur en/of namen)"), this);
    gbDb->setObjectName(QStringLiteral("gbDb"));
    gbDb->setGeometry(8, 136, 616, 316);
    chkDate = new QCheckBox(QStringLiteral("Datum:"), gbDb);
    chkDate->setObjectName(QStringLiteral("chkDate"));
    chkDate->setGeometry(16, 31, 61, 17);
    chkDate->resize(qMax(61, chkDate->sizeHint().width()), 17);
    dtpDbDate = NewDatePicker(gbDb, ANow.date());
    dtpDbDate->setObjectName(QStringLiteral("dtpDbDate"));
    dtpDbDate->setGeometry(88, 28, 150, 23);
    chkHour = new QCheckBox(QStringLiteral("Uur:"), gbDb);
    chkHour->setObjectName(QStringLiteral("chkHour"));
    chkHour->setGeometry(256, 31, 45, 17);
    chkHour->resize(qMax(45, chkHour->sizeHint().width()), 17);
    cbDbHour = new QComboBox(gbDb);
    cbDbHour->setObjectName(QStringLiteral("cbDbHour"));
    cbDbHour->setGeometry(304, 28, 56, 23);
    lblName = new QLabel(QStringLiteral("Naam/titel:"), gbDb);
    lblName->setObjectName(QStringLiteral("lblName"));
    PlaceLabel(lblName, 372, 32, 62, 15);
    edName = new QLineEdit(gbDb);
    edName->setObjectName(QStringLiteral("edName"));
    edName->setGeometry(440, 28, 160, 23);
    btnSearchDb = new QPushButton(QStringLiteral("Zoeken"), gbDb);
    btnSearchDb->setObjectName(QStringLiteral("btnSearchDb"));
    btnSearchDb->setGeometry(16, 60, 100, 28);
    lvResults = new TReportList(gbDb, {{QStringLiteral("Datum"), 90},
                                       {QStringLiteral("Uur"), 56},
                                       {QStringLiteral("Nr"), 36},
                                       {QStringLiteral("Type"), 56},
                                       {QStringLiteral("Titel"), 150},
                                       {QStringLiteral("Namen"), 130},
                                       {QStringLiteral("Duur"), 60}});
    lvResults->setObjectName(QStringLiteral("lvResults"));
    lvResults->setGeometry(16, 98, 584, 200);

    btnOk = new QPushButton(QStringLiteral("Openen"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(428, 466, 92, 30);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(532, 466, 92, 30);

    QWidget *order[] = {dtpFileDate, cbFileHour, cbFileNum, btnFindFile, chkDate, dtpDbDate, chkHour,
                        cbDbHour,    edName,     btnSearchDb, lvResults, btnOk,   btnCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    FormCreate(ANow);

    connect(dtpFileDate, &QDateEdit::dateChanged, this, &TfrmSearch::FilePartChange);
    connect(cbFileHour, &QComboBox::currentIndexChanged, this, &TfrmSearch::FilePartChange);
    connect(cbFileNum, &QComboBox::currentIndexChanged, this, &TfrmSearch::FilePartChange);
    connect(btnFindFile, &QPushButton::clicked, this, &TfrmSearch::btnFindFileClick);
    connect(btnSearchDb, &QPushButton::clicked, this, &TfrmSearch::btnSearchDbClick);
    connect(lvResults, &TReportList::OnSelectItem, this, &TfrmSearch::lvResultsSelectItem);
    connect(lvResults, &TReportList::OnDblClick, this, &TfrmSearch::lvResultsDblClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmSearch::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSearch::FormCreate(const QDateTime &ANow)
{
    const QStringList hours = HourEntries();
    cbFileHour->addItems(hours);
    for (int n = 1; n <= 9; ++n)
        cbFileNum->addItem(QString::number(n));
    cbDbHour->addItems(hours);
    dtpFileDate->setDate(ANow.date());
    dtpDbDate->setDate(ANow.date());
    cbFileHour->setCurrentIndex(ANow.time().hour());
    cbDbHour->setCurrentIndex(ANow.time().hour());
    cbFileNum->setCurrentIndex(0);
    FilePartChange();
    btnOk->setEnabled(false);
    dtpFileDate->setFocus();
}

QString TfrmSearch::BuildFileStem() const
{
    const int h = qMax(0, cbFileHour->currentIndex());
    const int n = cbFileNum->currentIndex() >= 0 ? cbFileNum->currentIndex() + 1 : 1;
    return dtpFileDate->date().toString(QStringLiteral("ddMMyyyy")) +
           QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')) + QString::number(n);
}

void TfrmSearch::FilePartChange()
{
    lblStem->setText(BuildFileStem());
    lblStem->resize(qMax(46, lblStem->sizeHint().width()), lblStem->height());
}

void TfrmSearch::btnFindFileClick()
{
    const QString stem = BuildFileStem();
    if (!FData) {
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("De database is niet geopend."));
        return;
    }
    TRecInfo ri;
    bool found = false;
    try {
        found = FData->FindByFilenameStem(stem, ri);
    } catch (const EReaderError &e) {
        FPrompt->Message(QMessageBox::Critical, e.Message());
        return;
    }
    if (found) {
        FSelected = ri;
        accept();
        return;
    }
    FPrompt->Message(QMessageBox::Information,
                QStringLiteral("Geen geldige opname gevonden voor bestandsnaam ") + stem + QStringLiteral("."));
}

void TfrmSearch::btnSearchDbClick()
{
    const QString date = chkDate->isChecked() ? dtpDbDate->date().toString(QStringLiteral("yyyy-MM-dd")) : QString();
    const int hour = chkHour->isChecked() ? cbDbHour->currentIndex() : -1;
    const QString name = TrimControl(edName->text());
    if (!FData) {
        FPrompt->Message(QMessageBox::Critical, QStringLiteral("De database is niet geopend."));
        return;
    }
    try {
        FData->Search(date, hour, name, FList);
    } catch (const EReaderError &e) {
        FPrompt->Message(QMessageBox::Critical, e.Message());
        return;
    }

    lvResults->setUpdatesEnabled(false);
    lvResults->clear();
    for (const TRecInfo &r : FList) {
        lvResults->AddRow({r.RecDate, QStringLiteral("%1:00").arg(r.RecHour, 2, 10, QLatin1Char('0')),
                           QString::number(r.RecNumber), r.Format, r.Title, OneLineText(r.Persons),
                           FormatDuration(r.DurationSec)});
    }
    lvResults->setUpdatesEnabled(true);
    if (FList.isEmpty())
        FPrompt->Message(QMessageBox::Information, QStringLiteral("Geen opnames gevonden met deze criteria."));
    btnOk->setEnabled(false);
}

void TfrmSearch::lvResultsSelectItem(bool ASelected)
{
    btnOk->setEnabled(ASelected && lvResults->SelectedIndex() >= 0);
}

void TfrmSearch::lvResultsDblClick()
{
    AcceptSelected();
}

void TfrmSearch::btnOkClick()
{
    AcceptSelected();
}

void TfrmSearch::AcceptSelected()
{
    const int i = lvResults->SelectedIndex();
    if (i < 0 || i >= FList.size())
        return;
    FSelected = FList[i];
    accept();
}

bool TfrmSearch::Execute(TRecInfo &ARI)
{
    if (exec() != QDialog::Accepted)
        return false;
    ARI = FSelected;
    return true;
}
