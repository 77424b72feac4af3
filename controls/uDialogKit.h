// The interface font and the label placement shared by the reader's windows, dialogs and painted controls.
#pragma once

#include <QFont>

class QLabel;

// The interface font "Segoe UI" at the caller's size (the one place that names it).
QFont InterfaceFont();
// The windows' font: InterfaceFont at 12 px.
QFont WindowFont();
// The dialogs' font: "Segoe UI" 12 px, with the platform's sans-serif fonts as fallback.
QFont DialogFont();
// Places a label at its design bounds; it only grows wider, so a wider fallback font never clips it.
void PlaceLabel(QLabel *ALabel, int AX, int AY, int AWidth, int AHeight);
