// toolsetdialog.h - VZR_Toolset's main window: the entry list, the text
// editor with Save Changes, the extract commands and Pack Directory.
#pragma once

#include <QIcon>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog.h"
#include "entrytext.h"
#include "vzrpack.h"

class QAction;
class QLabel;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;

namespace toolset {

class FileListModel;
class FileListView;

// Command ids of menu 129.
inline constexpr int kIdFileNew = 32780;
inline constexpr int kIdFileOpen = 32771;
inline constexpr int kIdAppExit = 57665;
inline constexpr int kIdExtractAll = 32775;
inline constexpr int kIdExtractSelected = 32776;
inline constexpr int kIdExtractModFolder = 32777;
inline constexpr int kIdPackDirectory = 32779;
inline constexpr int kIdSelectByKeyword = 32778;

// Controls of template 102.
inline constexpr int kIdcMainList = 1001;
inline constexpr int kIdcStatus = 1012;
inline constexpr int kIdcCurrentFile = 1014;
inline constexpr int kIdcSaveChanges = 1017;
inline constexpr int kIdcText = 1024;

inline constexpr const char* kNoFile = "NoFile";

// True for names of at least 4 characters ending in ".con", ".ssc", ".inc"
// or ".rs", compared without regard to ASCII case.
bool IsTextEntryName(const char* name);

// Widths of the list's three columns for a client width w: u = w / 5, then
// 3u + 20, u − 20 and w − 4u − 40.
struct ColumnWidths {
  int name, size, offset;
};
ColumnWidths ComputeColumnWidths(int clientWidth);

class ToolsetDialog : public vzrui::ModalDialog {
  Q_OBJECT

 public:
  explicit ToolsetDialog(QWidget* parent = nullptr);
  ~ToolsetDialog() override;

  // Fields, in the platform's dialog manner.
  std::string m_strLastBasePath;
  std::string m_strLastSourceDir;
  int32_t m_nCurrentFile = 0;
  QPlainTextEdit* m_ctlText = nullptr;
  FileListView* m_ctlFileList = nullptr;
  std::string m_strStatus;
  std::string m_strCurrentFile;
  int32_t m_bModified = 0;
  std::unique_ptr<VzrArchive> m_pArchive;
  QIcon m_hIcon;

  // File menu and the list.
  void OnFileOpen();
  // What Open does once the file dialog has named the archive.
  void OpenArchiveFile(const std::string& path);
  void FillFileList();
  void OnItemchangedMainlist();
  void OnItemchangingMainlist();
  void OnRclickMainlist() {}
  void OnSelectByKeyword() {}
  // Replaces the editor's content with an entry's bytes (nothing for null)
  // and scrolls to the top.
  void SetEditorText(const unsigned char* data, std::size_t size);

  // Editing and saving.
  std::string GetEditorText() const;
  int doCheckModified();
  void OnSaveChanges();
  // Writes the editor text into the shown entry; true when it was written or
  // there was nothing to write, false when the engine did not update the archive.
  bool doGoSaveChanges();

  // Extract and Pack menus.
  std::optional<std::string> ChooseDestinationFolder();
  // Where every file and folder chooser starts: the folder of the archive
  // that is open, else the user's home folder.
  std::string ChooserStartFolder() const;
  void OnExtractAll();
  void OnExtractSelected();
  void OnExtractModFolder();
  void OnPackDirectory();

  // Enter does nothing; Escape, the close box and File > Exit run the exit check.
  void OnOK() override;
  void OnCancel() override;

  // For tests and the benchmark: the menu's action for a command id, the
  // list's model, and its selected rows in ascending order.
  QAction* MenuAction(int id) const;
  QMenuBar* MenuBar() const { return menuBar_; }
  FileListModel* ListModel() const { return model_; }
  std::vector<int> SelectedRows() const;
  // Sets the status text through the process's status sink.
  void SetStatusText(const std::string& text);

 protected:
  void OnInitDialog() override;
  void DoDataExchange(vzrui::DataExchange& dx) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void BuildControls();
  void LayOutControls();
  void ShowNoText();
  void WarnUnreadableEntry();
  // Open's work once the user may lose nothing: load the archive at path.
  void LoadArchive(const std::string& path);
  // True when path names the archive that is open.
  bool IsOpenArchive(const std::string& path) const;
  void ReloadAfterPack();
  // Asks "Text was modified. Save changes?" when the shown text differs from
  // the entry; false when the user's edits could not be saved.
  bool OfferToSaveBeforeReplacing();
  void ExplainRefusedSave(const VzrError& error);
  bool ExitCheck();

  QMenuBar* menuBar_ = nullptr;
  FileListModel* model_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QLabel* currentFileLabel_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  std::vector<std::pair<int, QAction*>> actions_;
  // Absolute folder of the archive opened last (empty before the first),
  // fixed at open time: later commands change the current directory.
  std::string archiveFolder_;
  std::string archivePath_;  // its absolute path, fixed likewise
  // The entry as it was loaded or last saved, and how its text maps back.
  std::string loadedBytes_;
  EntryText shownText_;
  bool handlingChange_ = false;
};

}  // namespace toolset
