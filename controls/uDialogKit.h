// Font and label placement shared by the reader's dialogs.
#pragma once

#include <QFont>

class QLabel;

// The dialogs' font: "Segoe UI" 12 px, with the platform's sans-serif fonts as fallback.
QFont DialogFont();
// Places a label at its design bounds; it only grows wider, so a wider fallback font never clips it.
void PlaceLabel(QLabel *label, int x, int y, int w, int h);
