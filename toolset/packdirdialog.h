// packdirdialog.h - the Pack Directory dialog: a source directory and a base
// path in, a new archive out.
#pragma once

#include <string>
#include <utility>

#include "dialog.h"

class QLineEdit;
class QPushButton;

namespace toolset {

inline constexpr int kIdcSourceDir = 1020;
inline constexpr int kIdcBasePath = 1021;
inline constexpr int kIdcBrowse = 1022;
inline constexpr int kIdcPack = 1023;
inline constexpr int kIdcCancel = 2;

// The base path that "..." suggests for a chosen folder: its last folder name
// (after the last '/' or '\'), or nothing for a root such as "/" or "C:\".
std::string SuggestBasePath(const std::string& folder);

class PackDirDialog : public vzrui::ModalDialog {
  Q_OBJECT

 public:
  // owner: the main window, which also owns the save dialog.
  explicit PackDirDialog(QWidget* owner = nullptr);

  std::string m_strArchivePath;
  std::string m_strBasePath;
  std::string m_strSourceDir;

  // Where the folder browser and the save dialog start; empty: the home folder.
  void SetStartFolder(std::string folder) { startFolder_ = std::move(folder); }

  void OnBrowseSource();
  void OnPack();
  // Cancel keeps what was typed, for the next dialog.
  void OnCancel() override;

  QLineEdit* SourceEdit() const { return sourceEdit_; }
  QLineEdit* BaseEdit() const { return baseEdit_; }
  QPushButton* PackButton() const { return packButton_; }

 protected:
  void OnInitDialog() override;
  void DoDataExchange(vzrui::DataExchange& dx) override;

 private:
  QWidget* owner_;
  std::string startFolder_;
  QLineEdit* sourceEdit_;
  QLineEdit* baseEdit_;
  QPushButton* packButton_;
  QPushButton* cancelButton_;
  QPushButton* browseButton_;
};

}  // namespace toolset
