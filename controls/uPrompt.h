// The operator's side of a command or a dialog: messages, yes/no questions and modal dialog runs.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// Everything a command or a dialog asks of the operator goes through one of these, so that tests replace
// the operator once (a recording prompt) instead of hooking each box.
class TPrompt {
public:
    virtual ~TPrompt() = default;
    // A message with one OK button.
    virtual void Message(QMessageBox::Icon AIcon, const QString &AText) = 0;
    // A question with the buttons "Ja" and "Nee"; true for "Ja".
    virtual bool Question(const QString &AText) = 0;
    // Runs ADialog modally and returns its result (QDialog::Accepted or Rejected).
    virtual int Run(QDialog &ADialog) = 0;
};

// The platform's message boxes over AOwner (borrowed, must outlive the prompt), titled ATitle or, when
// ATitle is empty, with the owner's window title at the moment of asking. CR LF in texts shows as one break.
class TBoxPrompt final : public TPrompt {
public:
    explicit TBoxPrompt(QWidget *AOwner, const QString &ATitle = QString());
    void Message(QMessageBox::Icon AIcon, const QString &AText) override;
    bool Question(const QString &AText) override;
    int Run(QDialog &ADialog) override;

private:
    QString Title() const;

    QWidget *FOwner;
    QString FTitle;
};
