// Message boxes and modal runs on the platform.
#include "uPrompt.h"

#include <QDialog>
#include <QPushButton>

namespace {

QString BoxText(const QString &AText)
{
    return QString(AText).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

TBoxPrompt::TBoxPrompt(QWidget *AOwner, const QString &ATitle) : FOwner(AOwner), FTitle(ATitle) {}

QString TBoxPrompt::Title() const
{
    return FTitle.isEmpty() && FOwner ? FOwner->windowTitle() : FTitle;
}

void TBoxPrompt::Message(QMessageBox::Icon AIcon, const QString &AText)
{
    QMessageBox box(AIcon, Title(), BoxText(AText), QMessageBox::Ok, FOwner);
    box.exec();
}

bool TBoxPrompt::Question(const QString &AText)
{
    QMessageBox box(QMessageBox::Question, Title(), BoxText(AText), QMessageBox::NoButton, FOwner);
    QPushButton *yes = box.addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("Nee"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

int TBoxPrompt::Run(QDialog &ADialog)
{
    return ADialog.exec();
}
