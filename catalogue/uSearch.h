// Search dialog: find one recording by its file-name stem (date, hour, number) or through the catalogue
// (date, hour and/or a name in title or persons) in the catalogue it is given.
#pragma once

#include "uPrompt.h"
#include "uReaderTypes.h"

#include <QDateTime>
#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TReaderData;
class TReportList;

class TfrmSearch : public QDialog {
    Q_OBJECT
public:
    // AData is the open catalogue (borrowed; null when none is open: each search then says so).
    // ANow gives today's date for both date pickers and the hour preselected in both hour lists.
    TfrmSearch(QWidget *AOwner, TReaderData *AData, const QDateTime &ANow = QDateTime::currentDateTime());

    // Shows the dialog modally. True with RI set when a file-name search found a recording or a listed row
    // was accepted; false otherwise.
    bool Execute(TRecInfo &ARI);
    // The record accepted (meaningful after the dialog was accepted).
    const TRecInfo &Selected() const { return FSelected; }
    // Results of the last database search, in the order listed.
    const TRecList &List() const { return FList; }

    // The stem of the file-name half: ddmmyyyy of the date, two-digit hour, then the number (1..9).
    QString BuildFileStem() const;

    // Handlers.
    void FilePartChange();
    void btnFindFileClick();
    void btnSearchDbClick();
    void lvResultsSelectItem(bool ASelected);
    void lvResultsDblClick();
    void btnOkClick();

    // Where the messages go (borrowed; default: message boxes over this dialog).
    void SetPrompt(TPrompt &APrompt) { FPrompt = &APrompt; }

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QGroupBox *gbFile = nullptr;
    QLabel *lblFDate = nullptr;
    QDateEdit *dtpFileDate = nullptr;
    QLabel *lblFHour = nullptr;
    QComboBox *cbFileHour = nullptr;
    QLabel *lblFNum = nullptr;
    QComboBox *cbFileNum = nullptr;
    QLabel *lblStemCap = nullptr;
    QLabel *lblStem = nullptr;
    QPushButton *btnFindFile = nullptr;
    QGroupBox *gbDb = nullptr;
    QCheckBox *chkDate = nullptr;
    QDateEdit *dtpDbDate = nullptr;
    QCheckBox *chkHour = nullptr;
    QComboBox *cbDbHour = nullptr;
    QLabel *lblName = nullptr;
    QLineEdit *edName = nullptr;
    QPushButton *btnSearchDb = nullptr;
    TReportList *lvResults = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormCreate(const QDateTime &ANow);
    void AcceptSelected();

    TReaderData *FData;
    TBoxPrompt FOwnPrompt{this};
    TPrompt *FPrompt = &FOwnPrompt;
    TRecList FList;
    TRecInfo FSelected;
};
