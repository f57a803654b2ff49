// main.cpp - the quick-pack tests run inside one QApplication, offscreen.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  // CTest sets the offscreen platform; listing the tests at build time and
  // running the program by hand need it as well.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VzrPack"));  // the name the program runs under
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
