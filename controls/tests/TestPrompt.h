// A prompt for tests: records every message and question, answers questions with Answer, drives
// modal dialogs through OnRun (none given: the dialog counts as cancelled) and lets a test look at the
// window while a message is open through OnMessage.
#pragma once

#include "uPrompt.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <functional>

class TTestPrompt final : public TPrompt {
public:
    struct TMessage {
        QMessageBox::Icon Icon;
        QString Text;
    };

    QList<TMessage> Messages;
    QStringList Questions;
    bool Answer = false;
    int Runs = 0;
    std::function<int(QDialog &)> OnRun;
    std::function<void()> OnMessage;  // runs while the message (already recorded) is open

    void Message(QMessageBox::Icon AIcon, const QString &AText) override
    {
        Messages.append({AIcon, AText});
        if (OnMessage)
            OnMessage();
    }
    bool Question(const QString &AText) override
    {
        Questions << AText;
        return Answer;
    }
    int Run(QDialog &ADialog) override
    {
        ++Runs;
        return OnRun ? OnRun(ADialog) : int(QDialog::Rejected);
    }
    // The message texts in the order shown.
    QStringList Texts() const
    {
        QStringList texts;
        for (const TMessage &m : Messages)
            texts << m.Text;
        return texts;
    }
};
