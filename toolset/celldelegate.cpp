#include "celldelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

#include "filelistview.h"

namespace toolset {

namespace {

constexpr QStyleOptionViewItem::ViewItemFeatures kBeyondPlainText =
    QStyleOptionViewItem::WrapText | QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;

// The colour the style gives a cell's text in this state.
QColor TextColour(const QStyleOptionViewItem& option) {
  QPalette::ColorGroup group = option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  if (group == QPalette::Normal && !(option.state & QStyle::State_Active)) group = QPalette::Inactive;
  return option.palette.color(group, option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);
}

}  // namespace

int TallestTextHeight(const QFont& font, const QWidget* widget) {
  static const QString kTallest = QString::fromUtf8("\u00c5\u00d6\u00c4\u00dc\u00c9\u00d1\u0176gjpqy|");
  const QFontMetrics metrics(font);
  const QStyle* style = widget ? widget->style() : QApplication::style();
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, widget) + 1;
  return qMax(metrics.height(), metrics.tightBoundingRect(kTallest).height()) + 2 * margin;
}

QSize PlainCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(qMax(size.height(), TallestTextHeight(option.font, option.widget)));
  return size;
}

void PlainCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem given = option;
  if (const auto* list = qobject_cast<const FileListView*>(option.widget)) list->DressCell(given, index);
  QStyleOptionViewItem cell = given;
  initStyleOption(&cell, index);
  if ((cell.features & kBeyondPlainText) || (cell.state & QStyle::State_Editing) ||
      cell.text.contains(QChar::LineSeparator) || cell.text.contains(QLatin1Char('\n'))) {
    QStyledItemDelegate::paint(painter, given, index);
    return;
  }
  const QWidget* widget = cell.widget;
  const QStyle* style = widget ? widget->style() : QApplication::style();
  // The text's room, as the style leaves it inside the cell.
  const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
  const QRect room = cell.rect.adjusted(margin, 0, -margin, 0);

  QTextOption layoutOption;
  layoutOption.setWrapMode(QTextOption::ManualWrap);
  layoutOption.setTextDirection(cell.direction);
  layoutOption.setAlignment(QStyle::visualAlignment(cell.direction, cell.displayAlignment));
  QTextLayout text(cell.text, cell.font);
  text.setTextOption(layoutOption);
  text.beginLayout();
  QTextLine line = text.createLine();
  if (line.isValid()) line.setLineWidth(room.width());
  text.endLayout();
  if (line.isValid() && line.naturalTextWidth() > room.width()) {  // the style elides it
    QStyledItemDelegate::paint(painter, given, index);
    return;
  }

  painter->save();
  painter->setClipRect(cell.rect);
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);
  if (!cell.text.isEmpty()) {
    painter->setPen(TextColour(cell));
    const QRect placed = QStyle::alignedRect(Qt::LayoutDirectionAuto, cell.displayAlignment & Qt::AlignVertical_Mask,
                                             text.boundingRect().size().toSize(), room);
    text.draw(painter, QPointF(room.x(), placed.top()));
  }
  painter->restore();
}

}  // namespace toolset
