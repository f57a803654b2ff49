#include "filelistview.h"

#include <QEvent>
#include <QHoverEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

#include "celldelegate.h"

namespace toolset {

FileListView::FileListView(QWidget* parent) : QTableView(parent) {
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void FileListView::DressCell(QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int columns = model() ? model()->columnCount() : 0;
  if (columns == 1)
    option.viewItemPosition = QStyleOptionViewItem::OnlyOne;
  else if (index.column() == 0)
    option.viewItemPosition = QStyleOptionViewItem::Beginning;
  else if (index.column() == columns - 1)
    option.viewItemPosition = QStyleOptionViewItem::End;
  else
    option.viewItemPosition = QStyleOptionViewItem::Middle;
  option.state.setFlag(QStyle::State_Sibling, model() && index.row() < model()->rowCount() - 1);
  if (index.row() == hoveredRow_) option.state |= QStyle::State_MouseOver;
  option.state &= ~QStyle::State_HasFocus;
}

// The row under the mouse, followed as the table follows the cell under it.
bool FileListView::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
      hoveredRow_ = indexAt(static_cast<QHoverEvent*>(event)->position().toPoint()).row();
      break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
      hoveredRow_ = -1;
      break;
    default:
      break;
  }
  return QTableView::viewportEvent(event);
}

void FileListView::setModel(QAbstractItemModel* model) {
  disconnect(rowHeightFitter_);
  QTableView::setModel(model);
  if (model) rowHeightFitter_ = connect(model, &QAbstractItemModel::modelReset, this, [this] { FitRowHeight(); });
  FitRowHeight();
}

// Rows take the height the first row's cells ask for, as a tree's rows of
// one height do. An empty list sets the height a line of text asks for, so
// that a list filled later finds it set: setting it once the rows header has
// its sections resizes each of them.
void FileListView::FitRowHeight() {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  int height = 0;
  if (model() && model()->rowCount() > 0) {
    for (int column = 0; column < model()->columnCount(); ++column)
      height = qMax(height, itemDelegate()->sizeHint(option, model()->index(0, column)).height());
  } else {
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("0");
    height = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
  }
  height = qMax(height, TallestTextHeight(option.font, this));
  if (height > 0 && height != verticalHeader()->defaultSectionSize()) verticalHeader()->setDefaultSectionSize(height);
}

void FileListView::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) FitRowHeight();
}

void FileListView::keyboardSearch(const QString& search) {
  const QModelIndex current = currentIndex();
  if (current.isValid() && current.column() != 0)
    selectionModel()->setCurrentIndex(current.siblingAtColumn(0), QItemSelectionModel::NoUpdate);
  QTableView::keyboardSearch(search);
}

QModelIndex FileListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex current = currentIndex();
  const int rows = model() ? model()->rowCount() : 0;
  const int column = current.isValid() ? current.column() : 0;
  switch (action) {
    case MoveHome:
      return rows > 0 ? model()->index(0, column) : QModelIndex();
    case MoveEnd:
      return rows > 0 ? model()->index(rows - 1, column) : QModelIndex();
    case MovePageUp:
    case MovePageDown:
      if (rows == 0) return QModelIndex();
      return model()->index(PageFrom(current.isValid() ? current.row() : 0, action == MovePageDown), column);
    case MoveLeft:
    case MoveRight: {
      QScrollBar* bar = horizontalScrollBar();
      bar->setValue(bar->value() + (action == MoveLeft ? -bar->singleStep() : bar->singleStep()));
      return current;
    }
    default:
      return QTableView::moveCursor(action, modifiers);
  }
}

// A page is as many whole rows as the list shows: down lands that many rows
// further, up the rows of the list's height before (a row cut by the top
// counts), both kept inside the list.
int FileListView::PageFrom(int row, bool down) const {
  const int rows = model()->rowCount();
  const int height = qMax(1, rowHeight(0));
  const int top = verticalScrollBar()->value();
  int offset = (row - top) * height + (down ? viewport()->height() : -viewport()->height());
  if (offset < 0) offset -= height - 1;
  const int landed = top + offset / height;
  if (landed < 0) return 0;
  return landed >= rows ? rows - 1 : landed;
}

void FileListView::updateGeometries() {
  QTableView::updateGeometries();
  AlignTopRow();
}

void FileListView::scrollContentsBy(int dx, int dy) {
  QTableView::scrollContentsBy(dx, dy);
  AlignTopRow();
}

// The table shows the last row whole at the bottom once scrolled to the
// end, cutting the top one; the list keeps the scrolled-to row at the top.
void FileListView::AlignTopRow() {
  QHeaderView* rows = verticalHeader();
  if (rows->count() == 0) return;
  const int wanted = rows->sectionPosition(qMin(verticalScrollBar()->value(), rows->count() - 1));
  if (rows->offset() == wanted) return;
  rows->setOffset(wanted);
  viewport()->update();
}

void FileListView::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  const QModelIndex current = currentIndex();
  if (!current.isValid() || !(hasFocus() || viewport()->hasFocus())) return;
  QStyleOptionViewItem row;
  initViewItemOption(&row);
  QStyleOptionFocusRect frame;
  frame.QStyleOption::operator=(row);
  frame.state |= QStyle::State_KeyboardFocusChange;
  frame.state.setFlag(QStyle::State_Sibling, current.row() < model()->rowCount() - 1);
  const QPalette::ColorGroup group = row.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  frame.backgroundColor =
      row.palette.color(group, selectionModel()->isSelected(current) ? QPalette::Highlight : QPalette::Window);
  frame.rect = QRect(-horizontalOffset(), rowViewportPosition(current.row()), horizontalHeader()->length(),
                     rowHeight(current.row()));
  if (!event->rect().intersects(frame.rect)) return;
  QPainter painter(viewport());
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter);
}

}  // namespace toolset
