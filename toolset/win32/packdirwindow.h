// packdirwindow.h - the Pack Directory dialog as a Win32 dialog (template
// 130): two edit boxes, "...", Pack (the default button) and Cancel. Its
// decisions are the PackDirPresenter's.
#pragma once

#include "packdirpresenter.h"
#include "windialog.h"

namespace toolset_win32 {

class PackDirWindow : public win32ui::ModalDialog, public present::PackDirView {
 public:
  // owner: the main window, which owns the save dialog.
  PackDirWindow(HWND owner, present::PackDirFields& fields);

  present::PackDirPresenter& Presenter() { return presenter_; }

  void ReadTexts(std::string& sourceDir, std::string& basePath) override;
  void ShowTexts(const std::string& sourceDir, const std::string& basePath) override;
  void EndDialog(int result) override { ModalDialog::EndDialog(result == present::kIdOk ? IDOK : IDCANCEL); }
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

  // Cancel, Escape and the close box keep the typed texts for the next dialog.
  void OnCancel() override { presenter_.OnCancel(); }
  void OnOK() override { presenter_.OnPack(); }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  HWND OwnerOf(present::Owner owner) const;

  HWND owner_;
  present::PackDirFields& fields_;
  present::PackDirPresenter presenter_;
};

}  // namespace toolset_win32
