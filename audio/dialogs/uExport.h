// Export dialog: format, bitrate, target file and scope (whole recording or selection) of an export.
// Touches no audio; it only validates the target and may create its folder.
#pragma once

#include "uExportPipeline.h"
#include "uPrompt.h"
#include "uReaderTypes.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TfrmExport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmExport(QWidget *AOwner);

    // Prepares the dialog: ADefaultName is the file name without extension ("export" when empty); the
    // selection bounds are seconds, shown when AHasSel and taken as the range when "Selectie" is chosen; ADuration is not used; ADefaultFolder is the folder
    // offered (the Documents folder when it is empty or does not exist).
    void Setup(const QString &ADefaultName, bool AHasSel, double ASelStart, double ASelEnd, double ADuration,
               const QString &ADefaultFolder);

    // The answer after the dialog closed with OK: target Path, Format, Bitrate, TargetLufs, EvidenceRecord,
    // and the range: the selection given to Setup when "Selectie" was chosen, else 0 to 0 (the whole
    // recording). The caller adds the source and the record's facts.
    TExportRequest Request;

    // Handlers.
    void cbFormatChange();
    void btnBrowseClick();
    void btnOkClick();

    // The format of the selected list entry (MP3 when none is selected).
    TAudioFormat CurrentFormat() const;
    // Replaces the extension of the file name in edFileName (from the last dot of the name part; a dot in
    // the folder part does not count) by the current format's, or appends it to a name without a dot.
    void ApplyExtension();
    // The same rule on a path text.
    static QString WithExtension(const QString &APath, const QString &AExt);

    // The loaded recording: a target that is this file (also by another path or a link) is refused when OK
    // is pressed, with the reason, and the dialog stays open. Empty: nothing is refused for it.
    void SetRecordingPath(const QString &APath) { FRecordingPath = APath; }

    // Ticks "Verantwoording bijvoegen" before the dialog is shown (the caller keeps the choice in the settings).
    void SetEvidenceRecord(bool AOn);

    // Where the warning and the overwrite question go (borrowed; default: message boxes over this dialog).
    void SetPrompt(TPrompt &APrompt) { FPrompt = &APrompt; }
    // Hook with a platform default, replaced by tests.
    // Save-file dialog: start folder (may be empty), proposed name, Qt filter ("MP3-bestand (*.mp3)") and
    // default suffix ("mp3"); it asks itself before overwriting. Returns the chosen path or empty text.
    std::function<QString(const QString &AStartDir, const QString &AName, const QString &AFilter,
                          const QString &ASuffix)>
        ChooseSaveFile;

private:
    // Controls; each one's object name is its field name (tests find them by it).
    QLabel *lblFormat = nullptr;
    QComboBox *cbFormat = nullptr;
    QLabel *lblBitrate = nullptr;
    QComboBox *cbBitrate = nullptr;
    QLabel *lblKbps = nullptr;
    QLabel *lblFile = nullptr;
    QLineEdit *edFileName = nullptr;
    QPushButton *btnBrowse = nullptr;
    QGroupBox *gbScope = nullptr;
    QRadioButton *rbAll = nullptr;
    QRadioButton *rbSel = nullptr;
    QCheckBox *cbEvidence = nullptr;  // "Verantwoording bijvoegen"
    QLabel *lblLoudness = nullptr;
    QComboBox *cbLoudness = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormCreate();

    TBoxPrompt FOwnPrompt{this};
    TPrompt *FPrompt = &FOwnPrompt;
    QString FDefaultName;
    QString FRecordingPath;
    double FSelStart = 0;  // the selection Setup was given (seconds)
    double FSelEnd = 0;
};
