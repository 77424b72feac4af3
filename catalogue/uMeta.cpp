// Metadata editor: title and persons of one recording.
#include "uMeta.h"

#include "uDialogKit.h"
#include "uReaderTypes.h"

#include "uReportList.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

namespace {

} // namespace

TfrmMeta::TfrmMeta(QWidget *AOwner) : QDialog(AOwner)
{
    setWindowTitle(QStringLiteral("Gegevens bewerken"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(DialogFont());
    setFixedSize(440, 260);

    lblTitle = new QLabel(QStringLiteral("Titel:"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    PlaceLabel(lblTitle, 16, 16, 27, 15);
    edTitle = new QLineEdit(this);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    edTitle->setGeometry(16, 36, 408, 23);
    lblPersons = new QLabel(QStringLiteral("Namen / personen:"), this);
    lblPersons->setObjectName(QStringLiteral("lblPersons"));
    PlaceLabel(lblPersons, 16, 72, 82, 15);
    mmPersons = new QPlainTextEdit(this);
    mmPersons->setObjectName(QStringLiteral("mmPersons"));
    mmPersons->setGeometry(16, 92, 408, 120);
    mmPersons->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmPersons->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mmPersons->setTabChangesFocus(true);
    btnOk = new QPushButton(QStringLiteral("Opslaan"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setGeometry(236, 222, 92, 30);
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(336, 222, 88, 30);

    setTabOrder(edTitle, mmPersons);
    setTabOrder(mmPersons, btnOk);
    setTabOrder(btnOk, btnCancel);
    edTitle->setFocus();

    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmMeta::Setup(const QString &ATitle, const QString &APersons)
{
    edTitle->setText(ATitle);
    QString persons = APersons;
    persons.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    mmPersons->setPlainText(persons);
}

QString TfrmMeta::ResultTitle() const
{
    return TrimControl(edTitle->text());
}

QString TfrmMeta::ResultPersons() const
{
    // The raw text keeps non-breaking spaces (toPlainText would turn them into blanks); its paragraph and
    // line separators are the memo's line breaks.
    const QString raw = mmPersons->document()->toRawText();
    QString out;
    out.reserve(raw.size() + 16);
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == QLatin1Char('\n'))
            out += QStringLiteral("\r\n");
        else
            out += c;
    }
    return TrimControl(out);
}
