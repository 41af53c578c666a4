// The list view of a job list: a table model over the Qt-free CPdfItemList (seven
// columns, texts and alignments as the list gives them), a progress bar drawn in the
// progress column, the header's sort indicator and click sorting, full-row and multiple
// selection. The selection lives in the list itself, where the commands read it. An
// assistive tool can move the keyboard focus into the view (AccessibleTreeView).
#pragma once

#include "pipeline/PdfItemList.h"
#include "ui/AccessibleTreeView.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

class PdfListModel : public QAbstractTableModel, public PdfItemListListener {
    Q_OBJECT

public:
    PdfListModel(CPdfItemList& list, QObject* parent);
    ~PdfListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The header texts changed (another language file).
    void RefreshHeaders();

    void OnRowInserted(int row) override;
    void OnRowRemoved(int row) override;
    void OnRowChanged(int row) override;
    void OnRowsReordered() override;

private:
    CPdfItemList& list_;
};

// Draws the progress column as a progress bar with the progress text on it; a job that
// failed or was stopped shows only the text, so that it never looks as if it were going on.
class ProgressBarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class CPdfListView : public AccessibleTreeView {
    Q_OBJECT

public:
    static constexpr int kProgressRole = Qt::UserRole + 1;
    // True for a row whose job ended without finishing: its progress is no bar.
    static constexpr int kEndedEarlyRole = Qt::UserRole + 2;

    CPdfListView(CPdfItemList& list, QWidget* parent);

    CPdfItemList& List() { return list_; }
    PdfListModel* Model() { return model_; }
    // Selects exactly these rows (as a click or Shift-click would).
    void SelectRows(const std::vector<int>& rows);

signals:
    // The user clicked into the list or moved the keyboard focus into it.
    void Activated();
    // Rows were selected in the view by any means (click, keyboard, an assistive tool),
    // not when the view only restores the list's selection after the list changed.
    void RowsSelected();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void CopySelectionToList();
    void CopySelectionFromList();
    void SortByHeader(int column);

    CPdfItemList& list_;
    PdfListModel* model_;
    bool copying_selection_ = false;
};
