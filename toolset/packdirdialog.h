// packdirdialog.h - the Pack Directory dialog: a source directory and a base
// path in, a new archive out. Its decisions are PackDirPresenter's.
#pragma once

#include <string>
#include <utility>

#include "dialog.h"
#include "packdirpresenter.h"

class QLineEdit;
class QPushButton;

namespace toolset {

using present::kIdcBasePath;
using present::kIdcBrowse;
using present::kIdcCancel;
using present::kIdcPack;
using present::kIdcSourceDir;
using present::SuggestBasePath;

class PackDirDialog : public vzrui::ModalDialog, public present::PackDirView {
  Q_OBJECT

  // First, so that the fields below can name theirs.
  present::PackDirFields ownFields_;
  present::PackDirFields& fields_;
  present::PackDirPresenter presenter_;

 public:
  // owner: the main window, which also owns the save dialog. The dialog
  // starts with fields and leaves in them what it ended with; without them
  // it keeps its own.
  explicit PackDirDialog(QWidget* owner = nullptr);
  PackDirDialog(QWidget* owner, present::PackDirFields& fields);

  std::string& m_strArchivePath = fields_.m_strArchivePath;
  std::string& m_strBasePath = fields_.m_strBasePath;
  std::string& m_strSourceDir = fields_.m_strSourceDir;

  // Where the folder browser and the save dialog start; empty: the home folder.
  void SetStartFolder(std::string folder) { fields_.startFolder = std::move(folder); }

  void OnBrowseSource() { presenter_.OnBrowseSource(); }
  void OnPack() { presenter_.OnPack(); }
  // Cancel keeps what was typed, for the next dialog.
  void OnCancel() override { presenter_.OnCancel(); }

  QLineEdit* SourceEdit() const { return sourceEdit_; }
  QLineEdit* BaseEdit() const { return baseEdit_; }
  QPushButton* PackButton() const { return packButton_; }

  // The view.
  void ReadTexts(std::string& sourceDir, std::string& basePath) override;
  void ShowTexts(const std::string& sourceDir, const std::string& basePath) override;
  void EndDialog(int result) override { vzrui::ModalDialog::EndDialog(result); }
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

 protected:
  void OnInitDialog() override;
  void DoDataExchange(vzrui::DataExchange& dx) override;

 private:
  PackDirDialog(QWidget* owner, present::PackDirFields* fields);
  QWidget* OwnerOf(present::Owner owner);

  QWidget* owner_;
  QLineEdit* sourceEdit_;
  QLineEdit* baseEdit_;
  QPushButton* packButton_;
  QPushButton* cancelButton_;
  QPushButton* browseButton_;
};

}  // namespace toolset
