// main.cpp - VzrPack: one window, run modally; the program ends with it.
#include <QApplication>

#include "quickpackdialog.h"
#include "vzrpack.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // the application's name is the program's file name
  quickpack::QuickPackDialog dialog;
  StatusSink statusSink;
  statusSink.window = &dialog;
  SetStatusSink(&statusSink);
  dialog.DoModal();
  SetStatusSink(nullptr);
  return 0;
}
