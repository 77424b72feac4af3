// Progress dialog for the long operations: a text line, a percentage bar and an optional cancel.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;

// Modeless; the caller sets the title, shows it, reports progress and polls Cancelled. The dialog
// lives for one operation. Closing it from the title bar only hides it; Esc does nothing, so that the
// operation is not left running out of sight ("Annuleren" is the only way to stop it).
class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget *AOwner = nullptr);

    // Percent is clamped to 0..100; an empty AText keeps the current text.
    void SetProgress(int APercent, const QString &AText);
    // Shows or hides the cancel button.
    void SetAllowCancel(bool AValue);
    bool Cancelled() const { return FCancelled; }
    // The full text of the label (the label itself may show it shortened in the middle).
    QString CaptionText() const { return FCaptionText; }
    // A running bar without a percentage, for work that cannot tell how far it is (until SetProgress).
    void SetUnknownProgress();

protected:
    void showEvent(QShowEvent *) override;
    void keyPressEvent(QKeyEvent *) override;
    void changeEvent(QEvent *) override;  // a new font or style shortens the text anew

private:
    void btnCancelClick();
    void SetCaptionText(const QString &AText);

    // Tests find them by these object names.
    QLabel *lblCaption = nullptr;
    QProgressBar *pb = nullptr;
    QPushButton *btnCancel = nullptr;
    bool FCancelled = false;
    QString FCaptionText;
};
