// Metadata editor: the modal dialog in which the operator edits the title and the persons of a recording.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TfrmMeta : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMeta(QWidget *AOwner);

    // Puts the texts into the fields unchanged; CR LF (or LF) in APersons become lines of the memo.
    void Setup(const QString &ATitle, const QString &APersons);
    // The title with characters of code 32 and below removed at both ends.
    QString ResultTitle() const;
    // The persons' lines joined by CR LF, with characters of code 32 and below removed at both ends only.
    QString ResultPersons() const;

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QLabel *lblTitle = nullptr;
    QLineEdit *edTitle = nullptr;
    QLabel *lblPersons = nullptr;
    QPlainTextEdit *mmPersons = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;
};
