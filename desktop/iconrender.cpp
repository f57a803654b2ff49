// iconrender - renders the icons the two programs paint for themselves into a
// hicolor icon tree: PNGs at the theme's sizes and a scalable SVG of each.
//   iconrender OUTDIR
// writes OUTDIR/hicolor/NxN/{apps,mimetypes}/NAME.png and
// OUTDIR/hicolor/scalable/{apps,mimetypes}/NAME.svg.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>
#include <functional>

#include "appicon.h"
#include "artwork.h"

namespace {

using Painter = std::function<void(QPainter&, qreal)>;

struct Icon {
  const char* context;  // apps or mimetypes
  const char* name;
  Painter paint;
};

bool WritePng(const QString& path, const Painter& paint, int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paint(p, side);
  p.end();
  return image.save(path, "PNG");
}

bool WriteSvg(const QString& path, const Painter& paint, const char* title) {
  // Drawn at 256 units: the painters scale, so the vectors are the same at any size.
  constexpr int kSide = 256;
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(kSide, kSide));
  svg.setViewBox(QRect(0, 0, kSide, kSide));
  svg.setTitle(QString::fromUtf8(title));
  QPainter p;
  if (!p.begin(&svg)) return false;
  paint(p, kSide);
  return p.end();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: iconrender OUTDIR\n");
    return 2;
  }
  // Nothing is shown: the images are painted in memory.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString root = QString::fromLocal8Bit(argv[1]) + "/hicolor";
  const Icon icons[] = {
      {"apps", "vzr-toolset", toolset::PaintAppIcon},
      {"apps", "vzrpack", quickpack::PaintAppIcon},
      {"mimetypes", "application-x-vzr-archive", toolset::PaintArchiveTypeIcon},
  };
  for (const Icon& icon : icons) {
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
      const QString dir = QString("%1/%2x%2/%3").arg(root).arg(side).arg(icon.context);
      const QString path = dir + "/" + icon.name + ".png";
      if (!QDir().mkpath(dir) || !WritePng(path, icon.paint, side)) {
        std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(path));
        return 1;
      }
    }
    const QString dir = QString("%1/scalable/%2").arg(root, icon.context);
    const QString path = dir + "/" + icon.name + ".svg";
    if (!QDir().mkpath(dir) || !WriteSvg(path, icon.paint, icon.name)) {
      std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
