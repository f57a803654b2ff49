// quickpackwindow.h - the VzrPack window as a Win32 dialog (template 102):
// two editable drop-down lists, four owner-drawn bitmap buttons, the status
// line and the help button. Its decisions are the QuickPackPresenter's.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "quickpackpresenter.h"
#include "windialog.h"
#include "winstatus.h"

namespace quickpack_win32 {

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using BitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

class QuickPackWindow : public win32ui::ModalDialog, public present::QuickPackView {
 public:
  QuickPackWindow();
  ~QuickPackWindow() override;

  present::QuickPackPresenter& Presenter() { return presenter_; }

  // The view.
  void AddListEntry(present::PackListId list, const std::string& text) override;
  int ListCount(present::PackListId list) const override;
  std::string ListEntry(present::PackListId list, int index) const override;
  int SelectedIndex(present::PackListId list) const override;
  void SelectIndex(present::PackListId list, int index) override;
  std::string ListText(present::PackListId list) override;
  void SetStatusText(const std::string& text) override;
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

  // Enter on a focused button clicks it; anywhere else it ends the window,
  // like Escape and the close box.
  void OnOK() override;

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  struct ButtonImages {
    int id;
    BitmapHandle normal, pressed;
  };
  HWND List(present::PackListId list) const;
  void PullFields();
  void PushFields();
  void SelectByPrefix(present::PackListId list, const std::string& text);
  void LoadButtonImages();
  bool DrawButton(const DRAWITEMSTRUCT& item);

  present::QuickPackPresenter presenter_;
  std::string m_strFolder;
  std::string m_strLevel;
  std::string m_strStatus;
  win32ui::ProcessStatusSink status_;
  ButtonImages images_[4];
};

}  // namespace quickpack_win32
