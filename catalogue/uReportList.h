// List in report mode for the catalogue dialogs: whole-row single selection that stays visible without focus,
// a click below the rows clears the selection, a double click anywhere is reported, and a cell whose text
// is cut off shows it whole as its tooltip.
#pragma once

#include <QFont>
#include <QStringList>
#include <QTreeWidget>

class TReportList : public QTreeWidget {
    Q_OBJECT
public:
    // AColumns: header captions with their widths in pixels.
    TReportList(QWidget *AParent, const QList<QPair<QString, int>> &AColumns);

    // Index of the selected row, or -1 when none is selected.
    int SelectedIndex() const;
    // Selects row AIndex (and makes it current), or clears the selection for -1.
    void SelectRow(int AIndex);
    void AddRow(const QStringList &ACells);
    // The whole text of the cell at ARow, AColumn when the list shows it cut off (too wide for the part of
    // its column in view); empty when it shows whole or there is no such cell. This is the cell's tooltip.
    QString CutOffText(int ARow, int AColumn) const;

signals:
    // A double click on the list, on a row or on the empty area below the rows.
    void OnDblClick();
    // The selection changed; ASelected is true when a row became selected.
    void OnSelectItem(bool ASelected);

protected:
    void mousePressEvent(QMouseEvent *AEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *AEvent) override;
    bool viewportEvent(QEvent *AEvent) override;
};

// The lines of a multi-line text for one list cell: its non-empty lines joined by ", ".
QString OneLineText(const QString &AText);
