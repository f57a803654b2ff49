// appicon.h - the application icon, drawn by the program itself (32 × 32 and
// 16 × 16 images).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace toolset {

QPixmap DrawAppIcon(int size);
QIcon AppIcon();

}  // namespace toolset
