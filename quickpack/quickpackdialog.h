// quickpackdialog.h - the VzrPack window: two drop-down lists of a mod's
// levels and folders, the four pack commands beside them, a status line and
// a help button.
//
// The window works from the process's working directory, which must be the
// mod's Archives folder: "../" is the mod root, and archives land below the
// working directory in the layout their sources have in the mod root.
#pragma once

#include <QIcon>
#include <functional>
#include <string>
#include <vector>

#include "controls.h"
#include "dialog.h"
#include "quickpackpresenter.h"

class QLabel;
class QPushButton;

namespace quickpack {

// What a mod holds and what each command packs: modkit's knowledge.
using modkit::PackCommand;

// Control ids of the window template.
using present::kIdcAllFolders;
using present::kIdcAllLevels;
using present::kIdcFolderList;
using present::kIdcHelp;
using present::kIdcLevelList;
using present::kIdcPackFolder;
using present::kIdcPackLevel;
inline constexpr int kIdcStatus = present::kIdcQuickStatus;

// The window: controls that show what the presenter tells them and hand it
// every command.
class QuickPackDialog : public vzrui::ModalDialog, public present::QuickPackView {
  Q_OBJECT

  // First, so that the fields below can name its own.
  present::QuickPackPresenter presenter_;

 public:
  using Packer = present::QuickPackPresenter::Packer;

  explicit QuickPackDialog(QWidget* parent = nullptr);
  ~QuickPackDialog() override;

  int DetectGameFolder() { return presenter_.DetectGameFolder(); }
  int FillLevelList() { return presenter_.FillLevelList(); }
  int FillFolderList() { return presenter_.FillFolderList(); }

  void OnHelpButton() { presenter_.OnHelpButton(); }
  void OnPackLevel() { presenter_.OnPackLevel(); }
  void OnPackFolder() { presenter_.OnPackFolder(); }
  void OnPackAllLevels() { presenter_.OnPackAllLevels(); }
  void OnPackAllFolders() { presenter_.OnPackAllFolders(); }

  void SetPacker(Packer packer) { presenter_.SetPacker(std::move(packer)); }

  // The help box's text.
  static std::string HelpText() { return present::QuickPackPresenter::HelpText(); }

  // The view.
  void AddListEntry(present::PackListId list, const std::string& text) override { List(list)->AddString(text); }
  int ListCount(present::PackListId list) const override { return List(list)->Count(); }
  std::string ListEntry(present::PackListId list, int index) const override { return List(list)->EntryText(index); }
  int SelectedIndex(present::PackListId list) const override { return List(list)->SelectedIndex(); }
  void SelectIndex(present::PackListId list, int index) override { List(list)->SetSelectedIndex(index); }
  std::string ListText(present::PackListId list) override;
  void SetStatusText(const std::string& text) override;
  int Ask(const present::Question& question) override;
  std::optional<std::string> ChooseFile(const present::FileRequest& request, present::Owner owner) override;
  std::optional<std::string> ChooseFolder(const present::FolderRequest& request) override;

  // A template rectangle in pixels, relative to the client area.
  QRect DialogRect(int x, int y, int width, int height) const { return Units().Rect(x, y, width, height); }

  int& m_nGameFolder = presenter_.m_nGameFolder;
  std::string m_strFolder;
  std::string m_strLevel;
  std::string m_strStatus;
  QIcon m_hIcon;

  BitmapButton* m_ctlPackLevel = nullptr;   // 1005
  PackList* m_ctlLevelList = nullptr;       // 1004
  PackList* m_ctlFolderList = nullptr;      // 1006
  BitmapButton* m_ctlPackFolder = nullptr;  // 1007
  QLabel* m_ctlStatus = nullptr;            // 1008
  BitmapButton* m_ctlAllLevels = nullptr;   // 1009
  BitmapButton* m_ctlAllFolders = nullptr;  // 1010
  QPushButton* m_ctlHelp = nullptr;         // 1012
  QLabel* m_ctlSeparator = nullptr;

 protected:
  // Binds the status line, finds the game folder, fills and selects both
  // lists and loads the button images; DoModal runs it before the window shows.
  void OnInitDialog() override;
  // In the order folder list, level list, status line.
  void DoDataExchange(vzrui::DataExchange& dx) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void LoadButtonImages();
  PackList* List(present::PackListId list) const {
    return list == present::PackListId::kLevels ? m_ctlLevelList : m_ctlFolderList;
  }
};

}  // namespace quickpack
