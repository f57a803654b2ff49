// celldelegate.h - paints the cells of the main window's list as the style
// paints a plain text cell, shaping each cell's text once. The style's own
// item painter shapes a cell's text four times over (three layout queries
// and the draw), which made painting the visible rows cost as much as
// laying out 100,000 of them.
#pragma once

#include <QStyledItemDelegate>

namespace toolset {

class PlainCellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // Cells with only a line of text that fits are painted here; any other
  // (an icon, a check box, wrapped or elided text) is left to the style. In
  // the main window's list, a cell is first dressed as a tree's row cell.
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // At least TallestTextHeight: a row holds the marks above capitals too.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The height a row needs for whatever a name may hold: the font's line
// height leaves out the marks above capitals (the dots of "Ö" and "Ü", the
// ring of "Å") in many fonts, so the ink of the tallest capitals and the
// deepest descenders counts too, with the style's margin above and below.
int TallestTextHeight(const QFont& font, const QWidget* widget);

}  // namespace toolset
