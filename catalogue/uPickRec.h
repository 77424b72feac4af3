// Recording picker: the small modal dialog that offers the recordings of one hour and returns the chosen one.
#pragma once

#include "uReaderTypes.h"

#include <QDialog>

class QLabel;
class QPushButton;
class TReportList;

class TfrmPick : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPick(QWidget *AOwner);

    // Shows AList (borrowed: it must outlive the call and is never changed) under the prompt ACaption and
    // waits for the operator. True with RI set to the chosen record; false on Annuleren, Esc or the close box.
    bool Execute(const TRecList &AList, const QString &ACaption, TRecInfo &ARI);

    // The steps of Execute before the modal loop (list filled, first row selected, "Openen" enabled when a
    // row is selected). Tests call it and then drive the handlers without a modal loop.
    void Prepare(const TRecList &AList, const QString &ACaption);
    // The record accepted by the operator (meaningful after the dialog was accepted).
    const TRecInfo &Selected() const { return FSelected; }

    // Handlers.
    void lvItemsSelectItem();
    void lvItemsDblClick();
    void btnOkClick();

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QLabel *lblInfo = nullptr;
    TReportList *lvItems = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

    void AcceptSelected();

    const TRecList *FList = nullptr;  // borrowed from the caller of Execute
    TRecInfo FSelected;
};
