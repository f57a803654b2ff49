// buttonrender - writes VzrPack's button images as PNG files, from the same
// painter the Linux window draws them with, for the Windows resources
// (scripts/render-win32-art.sh turns them into 256-colour bitmaps).
//   buttonrender OUTDIR
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "artwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: buttonrender OUTDIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  using quickpack::ImageState;
  const std::pair<const char*, QImage> images[] = {
      {"packlevel", quickpack::PackLevelImage(ImageState::kNormal)},
      {"packlevel_pressed", quickpack::PackLevelImage(ImageState::kPressed)},
      {"packfolder", quickpack::PackFolderImage(ImageState::kNormal)},
      {"packfolder_pressed", quickpack::PackFolderImage(ImageState::kPressed)},
      {"all", quickpack::AllImage(ImageState::kNormal)},
      {"all_pressed", quickpack::AllImage(ImageState::kPressed)},
  };
  for (const auto& [name, image] : images) {
    const QString path = QString::fromLocal8Bit(argv[1]) + "/" + name + ".png";
    if (!image.save(path, "PNG")) {
      std::fprintf(stderr, "buttonrender: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
