// main.cpp - VzrPack: one window, run modally; the program ends with it.
#include <QApplication>

#include "quickpackdialog.h"
#include "statusbinding.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // the application's name is the program's file name
  quickpack::QuickPackDialog dialog;
  vzrui::ProcessStatusSink statusSink(dialog);  // the engine's status texts reach the window
  dialog.DoModal();
  return 0;
}
