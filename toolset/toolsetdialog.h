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
#include "toolsetpresenter.h"
#include "vzrpack.h"

class QAction;
class QLabel;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;

namespace toolset {

class FileListModel;
class FileListView;

// The ids, the text-entry rule and the column widths are the presenter's.
using present::ColumnWidths;
using present::ComputeColumnWidths;
using present::IsTextEntryName;
using present::kIdAppExit;
using present::kIdcCurrentFile;
using present::kIdcMainList;
using present::kIdcSaveChanges;
using present::kIdcStatus;
using present::kIdcText;
using present::kIdExtractAll;
using present::kIdExtractModFolder;
using present::kIdExtractSelected;
using present::kIdFileNew;
using present::kIdFileOpen;
using present::kIdPackDirectory;
using present::kIdSelectByKeyword;
using present::kNoFile;

// The main window: widgets that show what the presenter tells them and hand
// it every command.
class ToolsetDialog : public vzrui::ModalDialog, public present::ToolsetView {
  Q_OBJECT

  // First, so that the fields below can name its own.
  present::ToolsetPresenter presenter_;

 public:
  explicit ToolsetDialog(QWidget* parent = nullptr);
  ~ToolsetDialog() override;

  // Fields, in the platform's dialog manner; those that carry decisions are
  // the presenter's.
  std::string& m_strLastBasePath = presenter_.m_strLastBasePath;
  std::string& m_strLastSourceDir = presenter_.m_strLastSourceDir;
  int32_t& m_nCurrentFile = presenter_.m_nCurrentFile;
  QPlainTextEdit* m_ctlText = nullptr;
  FileListView* m_ctlFileList = nullptr;
  std::string m_strStatus;
  std::string& m_strCurrentFile = presenter_.m_strCurrentFile;
  int32_t& m_bModified = presenter_.m_bModified;
  std::unique_ptr<VzrArchive>& m_pArchive = presenter_.m_pArchive;
  QIcon m_hIcon;

  present::ToolsetPresenter& Presenter() { return presenter_; }

  // The commands, as the presenter runs them.
  void OnFileOpen() { presenter_.OnFileOpen(); }
  void OpenArchiveFile(const std::string& path) { presenter_.OpenArchiveFile(path); }
  void FillFileList() { presenter_.FillFileList(); }
  void OnItemchangedMainlist() { presenter_.OnItemchangedMainlist(); }
  void OnItemchangingMainlist() { presenter_.OnItemchangingMainlist(); }
  void OnRclickMainlist() {}
  void OnSelectByKeyword() {}
  std::string GetEditorText() const { return presenter_.GetEditorText(); }
  int doCheckModified() { return presenter_.doCheckModified(); }
  void OnSaveChanges() { presenter_.OnSaveChanges(); }
  bool doGoSaveChanges() { return presenter_.doGoSaveChanges(); }
  void OnExtractAll() { presenter_.OnExtractAll(); }
  void OnExtractSelected() { presenter_.OnExtractSelected(); }
  void OnExtractModFolder() { presenter_.OnExtractModFolder(); }
  void OnPackDirectory() { presenter_.OnPackDirectory(); }
  // Enter does nothing; Escape, the close box and File > Exit run the exit check.
  void OnOK() override { presenter_.OnOK(); }
  void OnCancel() override { presenter_.OnCancel(); }

  // For tests and the benchmark: the menu's action for a command id, the
  // list's model, and its selected rows in ascending order.
  QAction* MenuAction(int id) const;
  QMenuBar* MenuBar() const { return menuBar_; }
  FileListModel* ListModel() const { return model_; }
  std::vector<int> SelectedRows() const override;

  // The view: what the presenter shows and asks through this window.
  void ShowRows(int rowCount) override;
  void SetEditorText(const std::string& text) override;
  std::string EditorText() const override;
  void ShowCurrentFile(const std::string& label) override;
  // Sets the status text through the process's status sink.
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override { return m_strStatus; }
  void EnableControl(int id, bool enable) override { EnableDlgItem(id, enable); }
  int RunPackDirDialog(present::PackDirFields& fields) override;
  void CloseWindow() override { EndDialog(vzrui::kIdCancel); }
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

 protected:
  void OnInitDialog() override;
  void DoDataExchange(vzrui::DataExchange& dx) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void BuildControls();
  void LayOutControls();

  QMenuBar* menuBar_ = nullptr;
  FileListModel* model_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QLabel* currentFileLabel_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QString currentFileText_;
  std::vector<std::pair<int, QAction*>> actions_;
};

}  // namespace toolset
