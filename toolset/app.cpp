#include "app.h"

#include <QApplication>
#include <QTimer>
#include <string>
#include <vector>

#include "appicon.h"
#include "messages.h"
#include "statusbinding.h"
#include "toolsetdialog.h"

namespace toolset {

bool OpenStartupArchive(ToolsetDialog& dialog, const QStringList& arguments) {
  std::vector<std::string> texts;
  for (const QString& argument : arguments) texts.push_back(argument.toStdString());
  const auto startup = present::StartupArchivePath(texts);
  if (!startup) return false;
  const std::string path = *startup;
  // Queued, so the window is up (and owns any message) when the open runs.
  QTimer::singleShot(0, &dialog, [&dialog, path] { dialog.OpenArchiveFile(path); });
  return true;
}

int RunToolset(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("VZR_Toolset");
  vzrui::SetApplicationName("VZR_Toolset");
  QApplication::setWindowIcon(AppIcon());
  ToolsetDialog dialog;
  vzrui::ProcessStatusSink status(dialog);
  OpenStartupArchive(dialog, QApplication::arguments());
  try {
    dialog.DoModal();
  } catch (...) {
    vzrui::MessageBox(&dialog, "MAJOR CRASH!\ndlg.DoModal()", "ERROR!", vzrui::Buttons::Ok, vzrui::Icon::Error);
  }
  return 0;
}

}  // namespace toolset
