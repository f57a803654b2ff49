// toolsetview.h - what VZR_Toolset's presenter needs of its main window and of
// the Pack Directory dialog. The windows (Qt widgets or Win32 dialogs) show
// what they are told and hand every command to the presenter; they decide
// nothing themselves.
#pragma once

#include <string>
#include <vector>

#include "viewtypes.h"

namespace present {

// Command ids of menu 129.
inline constexpr int kIdFileNew = 32780;
inline constexpr int kIdFileOpen = 32771;
inline constexpr int kIdAppExit = 57665;
inline constexpr int kIdExtractAll = 32775;
inline constexpr int kIdExtractSelected = 32776;
inline constexpr int kIdExtractModFolder = 32777;
inline constexpr int kIdPackDirectory = 32779;
inline constexpr int kIdSelectByKeyword = 32778;

// Controls of template 102 (the main window).
inline constexpr int kIdcMainList = 1001;
inline constexpr int kIdcStatus = 1012;
inline constexpr int kIdcCurrentFile = 1014;
inline constexpr int kIdcSaveChanges = 1017;
inline constexpr int kIdcText = 1024;

// Controls of template 130 (Pack Directory).
inline constexpr int kIdcSourceDir = 1020;
inline constexpr int kIdcBasePath = 1021;
inline constexpr int kIdcBrowse = 1022;
inline constexpr int kIdcPack = 1023;
inline constexpr int kIdcCancel = 2;

// The texts of one Pack Directory dialog: what it starts with and what it
// ended with. archivePath is the archive chosen in its save dialog.
struct PackDirFields {
  std::string m_strSourceDir;
  std::string m_strBasePath;
  std::string m_strArchivePath;
  std::string startFolder;  // where its choosers start; empty: the home folder
};

class ToolsetView : public DialogHost {
 public:
  // The entry list now holds rowCount rows (0: it is empty), none selected.
  // The view reads the rows it shows from ToolsetPresenter::Row on demand,
  // so 100,000 entries cost no more than the count.
  virtual void ShowRows(int rowCount) = 0;
  // The selected rows of the list, 0-based, in ascending order.
  virtual std::vector<int> SelectedRows() const = 0;

  // Replaces the editor's whole content (UTF-8, lines joined by '\n') and
  // scrolls to its first line.
  virtual void SetEditorText(const std::string& text) = 0;
  // The editor's whole content as UTF-8; a line break the toolkit keeps as
  // U+2029 may come back as such.
  virtual std::string EditorText() const = 0;

  // The current-file label (UTF-8): the shown entry's name or "NoFile".
  virtual void ShowCurrentFile(const std::string& label) = 0;
  // The status line: set through the process's status sink, so the engine's
  // own texts and the presenter's share one line. StatusText reads it back.
  virtual void SetStatusText(const std::string& text) = 0;
  virtual std::string StatusText() const = 0;

  // Enables or disables a control of template 102 (kIdcSaveChanges, kIdcText).
  virtual void EnableControl(int id, bool enable) = 0;

  // Runs the Pack Directory dialog modally, started with fields; on return
  // fields hold what it ended with. kIdOk when it packed, else kIdCancel.
  virtual int RunPackDirDialog(PackDirFields& fields) = 0;
  // Ends the main window (the exit check has passed).
  virtual void CloseWindow() = 0;
};

// The Pack Directory dialog, as its presenter sees it.
class PackDirView : public DialogHost {
 public:
  // The two edit boxes' texts (a pull), and setting them (a push).
  virtual void ReadTexts(std::string& sourceDir, std::string& basePath) = 0;
  virtual void ShowTexts(const std::string& sourceDir, const std::string& basePath) = 0;
  // Ends the dialog's modal run with kIdOk or kIdCancel.
  virtual void EndDialog(int result) = 0;
};

}  // namespace present
