#include "appicon.h"

#include <QPainter>
#include <QPainterPath>

namespace toolset {

// A closed crate (the archive) with a band round it and a sheet of script
// sticking out of its lid, in a handful of plain colours.
void PaintAppIcon(QPainter& p, qreal size) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, size > 16);
  p.scale(size / 32.0, size / 32.0);

  // The sheet of script behind the lid.
  p.setPen(QPen(QColor(0, 0, 0), 1));
  p.setBrush(QColor(255, 255, 255));
  p.drawRect(QRectF(9.5, 1.5, 13, 14));
  p.setPen(QPen(QColor(0, 0, 128), 1.2));
  for (int line = 0; line < 3; ++line) p.drawLine(QPointF(11.5, 5 + 3.5 * line), QPointF(20.5, 5 + 3.5 * line));

  // The crate.
  p.setPen(QPen(QColor(64, 32, 0), 1.5));
  p.setBrush(QColor(192, 128, 0));
  p.drawRect(QRectF(2.5, 11.5, 27, 18));
  p.setBrush(QColor(128, 64, 0));
  p.drawRect(QRectF(1.5, 9.5, 29, 5));
  // The band with its clasp.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 128, 0));
  p.drawRect(QRectF(3.2, 19, 25.6, 4));
  p.setBrush(QColor(255, 255, 0));
  p.drawRect(QRectF(13, 17.5, 6, 7));
  p.restore();
}

// A sheet with a folded corner and the crate on it: a file of the archive type.
void PaintArchiveTypeIcon(QPainter& p, qreal size) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, size > 16);
  p.scale(size / 32.0, size / 32.0);
  QPainterPath sheet;
  sheet.moveTo(4.5, 0.5);
  sheet.lineTo(21.5, 0.5);
  sheet.lineTo(27.5, 6.5);
  sheet.lineTo(27.5, 31.5);
  sheet.lineTo(4.5, 31.5);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(96, 96, 96), 1));
  p.setBrush(QColor(248, 248, 240));
  p.drawPath(sheet);
  p.setBrush(QColor(208, 208, 200));
  p.drawPolygon(QPolygonF({QPointF(21.5, 0.5), QPointF(21.5, 6.5), QPointF(27.5, 6.5)}));
  p.restore();
  // The crate, at two thirds of the sheet, low on it.
  p.save();
  p.translate(size * 5.5 / 32.0, size * 11.0 / 32.0);
  PaintAppIcon(p, size * 21.0 / 32.0);
  p.restore();
}

QPixmap DrawAppIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  PaintAppIcon(p, size);
  p.end();
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  icon.addPixmap(DrawAppIcon(32));
  icon.addPixmap(DrawAppIcon(16));
  return icon;
}

}  // namespace toolset
