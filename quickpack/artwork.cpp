// artwork.cpp - button images and icon painted with QPainter.
#include "artwork.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace quickpack {
namespace {

// Bold lettering in pixel sizes, the largest that leaves a margin inside
// the bevel, so the caption never touches the border.
QFont LetteringFont(const QString& caption, QSize size) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  constexpr int kMargin = 5;  // bevel and breathing room on each side
  for (int pixels = size.height() >= 24 ? 11 : 9; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).horizontalAdvance(caption) <= size.width() - 2 * kMargin) break;
  }
  return font;
}

// A raised (normal) or sunken (pressed) bevel around the face.
void DrawBevel(QPainter& p, const QRect& r, bool sunken) {
  const QColor light = sunken ? QColor(0x8a, 0x6a, 0x3a) : QColor(0xc8, 0xf0, 0xc8);
  const QColor dark = sunken ? QColor(0xff, 0xfb, 0xee) : QColor(0x1b, 0x5e, 0x20);
  p.setPen(light);
  p.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
  p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
  p.setPen(dark);
  p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
  p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
  p.setPen(QColor(0x10, 0x20, 0x10));
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace

QImage DrawButtonImage(const QString& caption, QSize size, ImageState state) {
  const bool pressed = state == ImageState::kPressed;
  QImage image(size, QImage::Format_RGB32);
  const QColor face = QColor::fromRgb(pressed ? kPressedFace : kNormalFace);
  image.fill(face);

  QPainter p(&image);
  const QRect whole(QPoint(0, 0), size);
  QLinearGradient shade(0, 0, 0, size.height());
  shade.setColorAt(0.0, face.lighter(pressed ? 102 : 118));
  shade.setColorAt(1.0, face.darker(pressed ? 104 : 118));
  p.fillRect(whole.adjusted(2, 2, -2, -2), shade);
  DrawBevel(p, whole, pressed);

  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.setFont(LetteringFont(caption, size));
  p.setPen(QColor::fromRgb(pressed ? kPressedLettering : kNormalLettering));
  // The pressed face moves its lettering one pixel down and right, as a
  // pushed-in key does.
  const QRect textArea = pressed ? whole.translated(1, 1) : whole;
  p.drawText(textArea, Qt::AlignCenter, caption);
  p.end();
  return image;
}

void PaintAppIcon(QPainter& p, qreal side) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  const qreal unit = side / 16.0;
  // A closed crate: the archive the program makes.
  p.setPen(QPen(QColor(0x10, 0x20, 0x10), unit));
  p.setBrush(QColor::fromRgb(kNormalFace));
  p.drawRect(QRectF(2 * unit, 5 * unit, 12 * unit, 9 * unit));
  p.setBrush(QColor::fromRgb(kPressedFace));
  p.drawRect(QRectF(1 * unit, 2 * unit, 14 * unit, 3 * unit));
  p.setPen(QPen(QColor::fromRgb(kPressedLettering), unit));
  p.drawLine(QPointF(6 * unit, 8 * unit), QPointF(10 * unit, 8 * unit));
  p.restore();
}

QIcon DrawAppIcon() {
  QIcon icon;
  for (int side : {32, 16}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    PaintAppIcon(p, side);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace quickpack
