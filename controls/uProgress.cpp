// Progress dialog for the long operations: a text line, a percentage bar and an optional cancel.
#include "uProgress.h"

#include "uDialogKit.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>

TfrmProgress::TfrmProgress(QWidget *AOwner) : QDialog(AOwner)
{
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                   | Qt::WindowCloseButtonHint);
    setModal(false);
    setWindowTitle(QStringLiteral("Even geduld"));
    setFont(WindowFont());
    setFixedSize(420, 110);

    lblCaption = new QLabel(this);
    lblCaption->setObjectName(QStringLiteral("lblCaption"));
    lblCaption->setGeometry(16, 16, 388, 15);
    lblCaption->setTextFormat(Qt::PlainText);
    lblCaption->setWordWrap(false);

    pb = new QProgressBar(this);
    pb->setObjectName(QStringLiteral("pb"));
    pb->setGeometry(16, 40, 388, 20);
    pb->setRange(0, 100);
    pb->setValue(0);

    btnCancel = new QPushButton(QStringLiteral("Annuleren"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(322, 72, 82, 27);
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);

    SetCaptionText(QStringLiteral("Bezig..."));
}

void TfrmProgress::SetCaptionText(const QString &AText)
{
    FCaptionText = AText;
    // Shortened in the middle, like a long file path, so both ends stay readable.
    const QFontMetrics fm(lblCaption->font());
    lblCaption->setText(fm.elidedText(AText, Qt::ElideMiddle, lblCaption->width()));
}

void TfrmProgress::SetProgress(int APercent, const QString &AText)
{
    if (!AText.isEmpty())
        SetCaptionText(AText);
    pb->setRange(0, 100);
    pb->setValue(std::clamp(APercent, 0, 100));
}

void TfrmProgress::SetUnknownProgress()
{
    pb->setRange(0, 0);
}

void TfrmProgress::SetAllowCancel(bool AValue) { btnCancel->setVisible(AValue); }

void TfrmProgress::btnCancelClick()
{
    FCancelled = true;
    btnCancel->setEnabled(false);
    SetCaptionText(QStringLiteral("Bezig met annuleren..."));
}

void TfrmProgress::keyPressEvent(QKeyEvent *AEvent)
{
    // QDialog takes Esc as "reject" and hides the window while the operation goes on.
    if (AEvent->key() == Qt::Key_Escape) {
        AEvent->accept();
        return;
    }
    QDialog::keyPressEvent(AEvent);
}

void TfrmProgress::changeEvent(QEvent *AEvent)
{
    if (lblCaption && (AEvent->type() == QEvent::FontChange || AEvent->type() == QEvent::StyleChange))
        SetCaptionText(FCaptionText);
    QDialog::changeEvent(AEvent);
}

void TfrmProgress::showEvent(QShowEvent *AEvent)
{
    SetCaptionText(FCaptionText);  // the label's font is final once the dialog is polished
    if (!AEvent->spontaneous()) {
        if (QWidget *owner = parentWidget()) {
            const QRect o = owner->window()->frameGeometry();
            move(o.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QDialog::showEvent(AEvent);
}
