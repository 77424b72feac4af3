// List in report mode for the catalogue dialogs.
#include "uReportList.h"

#include "uDialogKit.h"
#include "uReaderTypes.h"

#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QRegularExpression>
#include <QToolTip>

TReportList::TReportList(QWidget *AParent, const QList<QPair<QString, int>> &AColumns) : QTreeWidget(AParent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    QStringList captions;
    for (const auto &c : AColumns)
        captions << c.first;
    setHeaderLabels(captions);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int i = 0; i < AColumns.size(); ++i)
        setColumnWidth(i, AColumns[i].second);

    // The selected row stays marked when the list loses the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] { emit OnSelectItem(SelectedIndex() >= 0); });
}

int TReportList::SelectedIndex() const
{
    const QList<QTreeWidgetItem *> items = selectedItems();
    return items.isEmpty() ? -1 : indexOfTopLevelItem(items.first());
}

void TReportList::SelectRow(int AIndex)
{
    if (AIndex < 0 || AIndex >= topLevelItemCount()) {
        clearSelection();
        return;
    }
    QTreeWidgetItem *item = topLevelItem(AIndex);
    setCurrentItem(item);
    item->setSelected(true);
}

void TReportList::AddRow(const QStringList &ACells)
{
    addTopLevelItem(new QTreeWidgetItem(ACells));  // the list owns its rows
}

QString TReportList::CutOffText(int ARow, int AColumn) const
{
    const QTreeWidgetItem *item = topLevelItem(ARow);
    if (!item || AColumn < 0 || AColumn >= columnCount())
        return QString();
    const QModelIndex index = indexFromItem(item, AColumn);
    QAbstractItemDelegate *delegate = itemDelegateForIndex(index);
    if (!delegate)
        return QString();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    // The width the delegate asks for (text, margins) against the part of the cell that is in view.
    const int needed = delegate->sizeHint(option, index).width();
    const int shown = visualRect(index).intersected(viewport()->rect()).width();
    return needed > shown ? item->text(AColumn) : QString();
}

bool TReportList::viewportEvent(QEvent *AEvent)
{
    if (AEvent->type() != QEvent::ToolTip)
        return QTreeWidget::viewportEvent(AEvent);
    const auto *help = static_cast<QHelpEvent *>(AEvent);
    const QModelIndex index = indexAt(help->pos());
    const QString text = index.isValid() ? CutOffText(index.row(), index.column()) : QString();
    if (text.isEmpty()) {
        QToolTip::hideText();
        AEvent->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
    }
    return true;
}

void TReportList::mousePressEvent(QMouseEvent *AEvent)
{
    QTreeWidget::mousePressEvent(AEvent);
    if (!indexAt(AEvent->position().toPoint()).isValid())
        clearSelection();
}

void TReportList::mouseDoubleClickEvent(QMouseEvent *AEvent)
{
    QTreeWidget::mouseDoubleClickEvent(AEvent);
    if (AEvent->button() == Qt::LeftButton)
        emit OnDblClick();
}

QString OneLineText(const QString &AText)
{
    QStringList parts;
    for (const QString &line : AText.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        if (!TrimControl(line).isEmpty())
            parts << line;
    }
    return parts.join(QStringLiteral(", "));
}
