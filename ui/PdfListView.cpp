#include "ui/PdfListView.h"

#include "ui/CDlgLocalize.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace {

struct ColumnLook {
    int width;
    Qt::Alignment alignment;
};
constexpr ColumnLook kColumns[CPdfItemList::kColumnCount] = {
    // Date and file leave room for the result beside them at the window's first size.
    {112, Qt::AlignRight}, {96, Qt::AlignLeft},  {144, Qt::AlignLeft}, {96, Qt::AlignRight},
    {96, Qt::AlignLeft},   {256, Qt::AlignLeft}, {64, Qt::AlignRight},
};

}  // namespace

PdfListModel::PdfListModel(CPdfItemList& list, QObject* parent) : QAbstractTableModel(parent), list_(list)
{
    list_.SetListener(this);
}

PdfListModel::~PdfListModel()
{
    list_.SetListener(nullptr);
}

int PdfListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : list_.RowCount();
}

int PdfListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : CPdfItemList::kColumnCount;
}

QVariant PdfListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= list_.RowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(list_.CellText(index.row(), index.column()));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(kColumns[index.column()].alignment | Qt::AlignVCenter);
    case CPdfListView::kProgressRole:
        return list_.Item(index.row())->progress;
    case CPdfListView::kEndedEarlyRole:
        return CPdfItemList::EndedEarly(*list_.Item(index.row()));
    default:
        return {};
    }
}

QVariant PdfListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= CPdfItemList::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return CDlgLocalize::Lookup("ADVANCED", CPdfItemList::HeaderKey(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[section].alignment | Qt::AlignVCenter);
    return {};
}

void PdfListModel::RefreshHeaders()
{
    emit headerDataChanged(Qt::Horizontal, 0, CPdfItemList::kColumnCount - 1);
}

// The list has already changed when it tells us; a reset makes the view read it anew.
void PdfListModel::OnRowInserted(int)
{
    beginResetModel();
    endResetModel();
}

void PdfListModel::OnRowRemoved(int)
{
    beginResetModel();
    endResetModel();
}

void PdfListModel::OnRowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, CPdfItemList::kColumnCount - 1));
}

void PdfListModel::OnRowsReordered()
{
    beginResetModel();
    endResetModel();
}

void ProgressBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.data(CPdfListView::kEndedEarlyRole).toBool()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The selection highlight stays visible behind the bar.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = kProgressFinished;
    bar.progress = qBound(0, index.data(CPdfListView::kProgressRole).toInt(), static_cast<int>(kProgressFinished));
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

CPdfListView::CPdfListView(CPdfItemList& list, QWidget* parent)
    : AccessibleTreeView(parent), list_(list), model_(new PdfListModel(list, this))
{
    setModel(model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setItemDelegateForColumn(CPdfItemList::kColProgress, new ProgressBarDelegate(this));
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setStretchLastSection(false);
    for (int column = 0; column < CPdfItemList::kColumnCount; ++column)
        header()->resizeSection(column, kColumns[column].width);
    // A result ("Conversion failed", with its reason) is read whole, never cut off.
    header()->setSectionResizeMode(CPdfItemList::kColResult, QHeaderView::ResizeToContents);
    if (list_.SortColumn() >= 0)
        header()->setSortIndicator(list_.SortColumn(),
                                   list_.SortDirection() > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
    else
        header()->setSortIndicator(-1, Qt::AscendingOrder);

    connect(header(), &QHeaderView::sectionClicked, this, &CPdfListView::SortByHeader);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CPdfListView::CopySelectionToList);
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { copying_selection_ = true; });
    connect(model_, &QAbstractItemModel::modelReset, this, &CPdfListView::CopySelectionFromList);
}

void CPdfListView::SelectRows(const std::vector<int>& rows)
{
    QItemSelection selection;
    for (int row : rows)
        selection.select(model_->index(row, 0), model_->index(row, CPdfItemList::kColumnCount - 1));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty())
        selectionModel()->setCurrentIndex(model_->index(rows.back(), 0), QItemSelectionModel::NoUpdate);
}

void CPdfListView::focusInEvent(QFocusEvent* event)
{
    AccessibleTreeView::focusInEvent(event);
    emit Activated();
}

void CPdfListView::mousePressEvent(QMouseEvent* event)
{
    AccessibleTreeView::mousePressEvent(event);
    emit Activated();
}

void CPdfListView::CopySelectionToList()
{
    if (copying_selection_)
        return;
    bool any = false;
    {
        std::lock_guard<std::mutex> guard(list_.Lock());
        list_.ClearSelection();
        for (const QModelIndex& index : selectionModel()->selectedRows())
            list_.Select(index.row(), true);
        // The row last clicked is the list's selection mark, as in a list view.
        const QModelIndex current = selectionModel()->currentIndex();
        if (current.isValid() && list_.IsSelected(current.row()))
            list_.Select(current.row(), true);
        any = list_.SelectionMark() >= 0;
    }
    if (any)
        emit RowsSelected();
}

void CPdfListView::CopySelectionFromList()
{
    QItemSelection selection;
    for (int row : list_.SelectedRows())
        selection.select(model_->index(row, 0), model_->index(row, CPdfItemList::kColumnCount - 1));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    copying_selection_ = false;
}

void CPdfListView::SortByHeader(int column)
{
    list_.ClickHeader(column);
    header()->setSortIndicator(column, list_.SortDirection() > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}
