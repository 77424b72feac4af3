// Settings dialog: catalogue file, recordings folder and sound output device, stored in Config on "Opslaan".
#pragma once

#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QPair>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // Fills the fields from Config and the device list from ADevices, or from ListOutputDevices when
    // ADevices is empty (tests pass their own list: pairs of text and device number, -1 the default entry).
    explicit TfrmSettings(QWidget *AOwner, const QList<QPair<QString, int>> &ADevices = {});

    // Handlers.
    void btnDbBrowseClick();
    void btnRootBrowseClick();
    // Stores the trimmed paths and the chosen device in Config and saves it; closes with OK. A failed save
    // shows its message and the dialog stays open (the new values are then in Config in memory only).
    void btnOkClick();

    // Hooks with platform defaults, replaced by tests.
    // Error message with one OK button (default: QMessageBox over this dialog).
    std::function<void(QMessageBox::Icon, const QString &)> ShowMessage;
    // File-open dialog: start folder (may be empty) and filters; returns the chosen file or empty text.
    std::function<QString(const QString &AStartDir, const QStringList &AFilters)> ChooseFile;
    // Folder chooser: prompt and preselected folder (may be empty); returns the folder or empty text.
    std::function<QString(const QString &APrompt, const QString &AStartDir)> ChooseFolder;

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

private:
    void FormCreate(const QList<QPair<QString, int>> &ADevices);
};
