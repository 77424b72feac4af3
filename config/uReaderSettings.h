// Settings dialog: catalogue file, recordings folder and sound output device, stored in the settings on
// "Opslaan".
#pragma once

#include "uPrompt.h"

#include <QDialog>
#include <QList>
#include <QPair>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TConfig;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // Fills the fields from AConfig (borrowed: it must outlive the dialog) and the device list from ADevices:
    // pairs of text and device number, -1 the default entry.
    TfrmSettings(QWidget *AOwner, TConfig &AConfig, const QList<QPair<QString, int>> &ADevices);

    // Handlers.
    void btnDbBrowseClick();
    void btnRootBrowseClick();
    // Stores the trimmed paths and the chosen device in the settings and saves them; closes with OK. A failed
    // save shows its message and the dialog stays open (the new values are then in memory only).
    void btnOkClick();

    // Where a failed save is reported (borrowed; default: message boxes over this dialog).
    void SetPrompt(TPrompt &APrompt) { FPrompt = &APrompt; }
    // Hooks with platform defaults, replaced by tests.
    // File-open dialog: start folder (may be empty) and filters; returns the chosen file or empty text.
    std::function<QString(const QString &AStartDir, const QStringList &AFilters)> ChooseFile;
    // Folder chooser: prompt and preselected folder (may be empty); returns the folder or empty text.
    std::function<QString(const QString &APrompt, const QString &AStartDir)> ChooseFolder;

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QLabel *lblDb = nullptr;
    QLineEdit *edDb = nullptr;
    QPushButton *btnDbBrowse = nullptr;
    QLabel *lblRoot = nullptr;
    QLineEdit *edRoot = nullptr;
    QPushButton *btnRootBrowse = nullptr;
    QLabel *lblDevice = nullptr;
    QComboBox *cbDevice = nullptr;  // item data: the device number
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormCreate(const QList<QPair<QString, int>> &ADevices);

    TConfig &FConfig;
    TBoxPrompt FOwnPrompt{this};
    TPrompt *FPrompt = &FOwnPrompt;
};
