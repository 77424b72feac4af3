// Signal measurement dialog: loudness, peaks, and the clipping places and silent stretches of a measured range.
// Shows figures only; it touches no audio.
#pragma once

#include "uLoudness.h"

#include <QDateTime>
#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// A figure in Dutch: decimal comma, one decimal, a real minus sign (U+2212), "−∞" for -infinity.
QString DutchFigure(double AValue);

class TfrmLoudness : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLoudness(QWidget *AOwner);

    // Fills the dialog from a measurement. Places are listed in time order with their clock time
    // ("hh:mm:ss", from ARecordingStart, the recording's start; left empty when that is invalid) and their
    // position in the recording ("h:mm:ss.zzz"); silent stretches with their length, clipping runs with their
    // channel.
    void Setup(const TLoudnessResult &AResult, const QDateTime &ARecordingStart = QDateTime());

signals:
    // A row was double-clicked: its position in seconds from the start of the recording.
    void OnJump(double ASec);

private:
    void lvPlacesDoubleClick(QTreeWidgetItem *AItem);

    QLabel *lblIntegrated = nullptr;
    QLabel *lblRange = nullptr;
    QLabel *lblTruePeak = nullptr;
    QLabel *lblSamplePeak = nullptr;
    QLabel *lblMomentary = nullptr;
    QLabel *lblShortterm = nullptr;
    QLabel *lblCounts = nullptr;
    QTreeWidget *lvPlaces = nullptr;
    QPushButton *btnClose = nullptr;
};
