// filelistview.h - the main window's entry list: rows of three columns
// that look and answer keys as a one-level tree of rows does. A tree view
// lays out every row again on each reset, some 200 instructions a row
// inside the toolkit (2 ms for 100,000 entries, as much as a fifth of
// loading their index); a table whose rows all have one height lays out
// nothing per row.
#pragma once

#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTableView>

namespace toolset {

class FileListView : public QTableView {
  Q_OBJECT

 public:
  explicit FileListView(QWidget* parent = nullptr);

  // The column header, as a tree view names it.
  QHeaderView* header() const { return horizontalHeader(); }

  // Gives a cell's paint what a tree of rows gives it: where the cell sits
  // in its row, whether rows follow, the mouse over the whole row, and no
  // focus of its own (the list frames the current row).
  void DressCell(QStyleOptionViewItem& option, const QModelIndex& index) const;

  void setModel(QAbstractItemModel* model) override;
  // Type-ahead looks at the names, whichever column is current.
  void keyboardSearch(const QString& search) override;

 protected:
  // Home and End go to the first and last row, Left and Right scroll.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  // The focus frame goes round the current row, not one of its cells.
  void paintEvent(QPaintEvent* event) override;
  // The top row is always whole, at the end of the list too.
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void changeEvent(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void FitRowHeight();
  void AlignTopRow();
  // The row a page up or down from row lands on.
  int PageFrom(int row, bool down) const;

  QMetaObject::Connection rowHeightFitter_;
  int hoveredRow_ = -1;
};

}  // namespace toolset
