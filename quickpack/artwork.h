// artwork.h - VzrPack's button images and window icon, drawn by our own code.
//
// Normal (and focus) images are a green face with dark lettering; pressed
// images a pale cream face with brown lettering. The Pack buttons' images are
// 70 x 30 pixels, the "All" buttons' 37 x 16.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>

namespace quickpack {

inline constexpr QSize kPackImageSize{70, 30};
inline constexpr QSize kAllImageSize{37, 16};

enum class ImageState { kNormal, kPressed };

// One button image: the caption lettered on a face of the given size.
QImage DrawButtonImage(const QString& caption, QSize size, ImageState state);

// The images the four bitmap buttons load.
inline QImage PackLevelImage(ImageState s) { return DrawButtonImage(QStringLiteral("Pack Level"), kPackImageSize, s); }
inline QImage PackFolderImage(ImageState s) { return DrawButtonImage(QStringLiteral("Pack Folder"), kPackImageSize, s); }
inline QImage AllImage(ImageState s) { return DrawButtonImage(QStringLiteral("ALL"), kAllImageSize, s); }

// The application icon, in 32 x 32 and 16 x 16, from the painter that draws
// it as a square of the given side on any paint device.
void PaintAppIcon(QPainter& p, qreal side);
QIcon DrawAppIcon();

// The colours of the two faces, for callers (and tests) that check the look.
inline constexpr QRgb kNormalFace = 0xff4caf50;     // green
inline constexpr QRgb kNormalLettering = 0xff0b2a0d;  // very dark green
inline constexpr QRgb kPressedFace = 0xfff6efd2;    // pale cream
inline constexpr QRgb kPressedLettering = 0xff7a4a14;  // brown

}  // namespace quickpack
