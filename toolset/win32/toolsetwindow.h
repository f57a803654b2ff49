// toolsetwindow.h - VZR_Toolset's main window as a Win32 dialog (template 102
// with menu 129): a virtual list view of the entries, a rich edit control used
// for plain text, Save Changes, the current-file label and the status line.
// The window shows what the presenter tells it and hands it every command.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "toolsetpresenter.h"
#include "windialog.h"
#include "winstatus.h"

namespace toolset_win32 {

struct FontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

class ToolsetWindow : public win32ui::ModalDialog, public present::ToolsetView {
 public:
  ToolsetWindow();
  ~ToolsetWindow() override;

  present::ToolsetPresenter& Presenter() { return presenter_; }
  // The archive to open once the window is up (the command line's).
  void OpenWhenShown(std::string path) { startupPath_ = std::move(path); }

  // The view.
  void ShowRows(int rowCount) override;
  std::vector<int> SelectedRows() const override;
  void SetEditorText(const std::string& text) override;
  std::string EditorText() const override;
  void ShowCurrentFile(const std::string& label) override;
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override { return m_strStatus; }
  void EnableControl(int id, bool enable) override { EnableItem(id, enable); }
  int RunPackDirDialog(present::PackDirFields& fields) override;
  void CloseWindow() override { EndDialog(IDCANCEL); }
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

  // Enter does nothing; Escape, the close box and File > Exit run the exit check.
  void OnOK() override { presenter_.OnOK(); }
  void OnCancel() override { presenter_.OnCancel(); }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  void PushFields();
  void SetUpEditor();
  void SetUpList();
  void SetEditorFont();
  void LayOutControls();
  LRESULT OnListNotify(const NMHDR& header);
  void FillCell(NMLVDISPINFOW& info);
  void ScheduleSelectionChange();

  present::ToolsetPresenter presenter_;
  std::string m_strStatus;
  std::string currentFile_;
  std::optional<std::string> startupPath_;
  win32ui::ProcessStatusSink status_;
  FontHandle textFont_;
  HWND list_ = nullptr;
  HWND editor_ = nullptr;
  bool selectionPending_ = false;
  // The row whose texts the list asked for last, and the text it is handed.
  int cachedRow_ = -1;
  present::EntryRow cachedCells_;
  std::wstring cellText_;
};

}  // namespace toolset_win32
