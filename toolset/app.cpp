#include "app.h"

#include <QApplication>

#include "appicon.h"
#include "messages.h"
#include "statusbinding.h"
#include "toolsetdialog.h"

namespace toolset {

int RunToolset(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("VZR_Toolset");
  vzrui::SetApplicationName("VZR_Toolset");
  QApplication::setWindowIcon(AppIcon());
  ToolsetDialog dialog;
  vzrui::ProcessStatusSink status(dialog);
  try {
    dialog.DoModal();
  } catch (...) {
    vzrui::MessageBox(&dialog, "MAJOR CRASH!\ndlg.DoModal()", "ERROR!", vzrui::Buttons::Ok, vzrui::Icon::Error);
  }
  return 0;
}

}  // namespace toolset
