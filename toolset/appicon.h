// appicon.h - the application icon, drawn by the program itself (32 × 32 and
// 16 × 16 images), and the icon of its file type. The painters draw a square
// of the given side at the painter's origin, on any paint device (the desktop
// icons are rendered from them too).
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace toolset {

void PaintAppIcon(QPainter& p, qreal size);
void PaintArchiveTypeIcon(QPainter& p, qreal size);
QPixmap DrawAppIcon(int size);
QIcon AppIcon();

}  // namespace toolset
