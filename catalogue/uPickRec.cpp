// Recording picker: the recordings of one hour in a list; the operator accepts one.
#include "uPickRec.h"

#include "uDialogKit.h"
#include "uReportList.h"

#include <QLabel>
#include <QPushButton>

TfrmPick::TfrmPick(QWidget *AOwner) : QDialog(AOwner)
{
    setWindowTitle(QStringLiteral("Meerdere opnames"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    setFixedSize(520, 320);

    lblInfo = new QLabel(QStringLiteral("Kies een opname:"), this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setGeometry(16, 12, 300, 15);

    lvItems = new TReportList(this, {{QStringLiteral("Nr"), 40},
                                     {QStringLiteral("Type"), 60},
                                     {QStringLiteral("Titel"), 160},
                                     {QStringLiteral("Namen"), 140},
                                     {QStringLiteral("Duur"), 70}});
    lvItems->setObjectName(QStringLiteral("lvItems"));
    lvItems->setGeometry(16, 36, 488, 228);

    btnOk = new QPushButton(QStringLiteral("Openen"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(316, 278, 92, 30);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(416, 278, 88, 30);

    setTabOrder(lvItems, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(lvItems, &TReportList::OnSelectItem, this, [this](bool) { lvItemsSelectItem(); });
    connect(lvItems, &TReportList::OnDblClick, this, &TfrmPick::lvItemsDblClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmPick::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmPick::Prepare(const TRecList &AList, const QString &ACaption)
{
    FList = &AList;
    lblInfo->setText(ACaption);
    lblInfo->resize(lblInfo->sizeHint().width(), lblInfo->height());  // grows (or shrinks) to fit its text

    lvItems->setUpdatesEnabled(false);
    lvItems->clear();
    for (const TRecInfo &r : AList) {
        lvItems->AddRow({QString::number(r.RecNumber), r.Format, r.Title, OneLineText(r.Persons),
                         FormatDuration(r.DurationSec)});
    }
    lvItems->setUpdatesEnabled(true);
    if (lvItems->topLevelItemCount() > 0)
        lvItems->SelectRow(0);
    btnOk->setEnabled(lvItems->SelectedIndex() >= 0);
    lvItems->setFocus();
}

bool TfrmPick::Execute(const TRecList &AList, const QString &ACaption, TRecInfo &ARI)
{
    Prepare(AList, ACaption);
    if (exec() != QDialog::Accepted)
        return false;
    ARI = FSelected;
    return true;
}

void TfrmPick::lvItemsSelectItem()
{
    btnOk->setEnabled(lvItems->SelectedIndex() >= 0);
}

void TfrmPick::lvItemsDblClick()
{
    AcceptSelected();
}

void TfrmPick::btnOkClick()
{
    AcceptSelected();
}

void TfrmPick::AcceptSelected()
{
    const int i = lvItems->SelectedIndex();
    if (i < 0 || !FList || i >= FList->size())
        return;
    FSelected = (*FList)[i];
    accept();
}
