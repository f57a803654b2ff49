// quickpackpresenter.h - every decision of the VzrPack window, free of any
// toolkit: what fills its two lists, the status line after start-up, and the
// sequence of each pack command. The window (a QuickPackView) routes each
// command here.
//
// The window works from the process's working directory, which must be the
// mod's Archives folder: "../" is the mod root, and archives land below the
// working directory in the layout their sources have in the mod root.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "packplan.h"
#include "viewtypes.h"
#include "vzrpack.h"

namespace present {

// The two drop-down lists of the window.
enum class PackListId { kLevels, kFolders };

// Control ids of VzrPack's template 102.
enum QuickPackControl : int {
  kIdcLevelList = 1004,
  kIdcPackLevel = 1005,
  kIdcFolderList = 1006,
  kIdcPackFolder = 1007,
  kIdcQuickStatus = 1008,
  kIdcAllLevels = 1009,
  kIdcAllFolders = 1010,
  kIdcHelp = 1012,
};

class QuickPackView : public DialogHost {
 public:
  // Adds an entry with the list's sorted insertion (modkit's
  // SortedInsertPosition): equal names go after those already there.
  virtual void AddListEntry(PackListId list, const std::string& text) = 0;
  virtual int ListCount(PackListId list) const = 0;
  virtual std::string ListEntry(PackListId list, int index) const = 0;
  // The selected entry, or -1 when the edit field holds typed text or
  // nothing is selected; selecting -1 clears the selection and the field.
  virtual int SelectedIndex(PackListId list) const = 0;
  virtual void SelectIndex(PackListId list, int index) = 0;
  // The text of the list's edit field, typed or selected (a pull).
  virtual std::string ListText(PackListId list) = 0;
  // The status line, through the process's status sink.
  virtual void SetStatusText(const std::string& text) = 0;
};

class QuickPackPresenter {
 public:
  // The packer a command calls once per name; the engine's PackModFolder
  // unless a test puts another in its place.
  using Packer = std::function<int(const char* name, int compress)>;

  explicit QuickPackPresenter(QuickPackView& view);

  int m_nGameFolder = 0;  // modkit::GameFolder: 0 none, 1 hx1920, 2 hxGlacier

  // Window set-up after the controls exist: "Ready...", the game folder,
  // both lists filled and their first entries selected, then the status
  // that says what was not found.
  void OnInitDialog();
  int DetectGameFolder();
  int FillLevelList();
  int FillFolderList();

  void OnHelpButton();
  void OnPackLevel();
  void OnPackFolder();
  void OnPackAllLevels();
  void OnPackAllFolders();

  void SetPacker(Packer packer) { packer_ = std::move(packer); }

  // The help box's text.
  static std::string HelpText();

 private:
  void PackText(modkit::PackCommand command, const std::string& listText, bool makeFolders);
  void PackGuarded(const std::string& name);
  void PackWholeList(PackListId list, modkit::PackCommand command);
  void TellNotices();

  QuickPackView& view_;
  Packer packer_;
  // What the packs of the running command left out, told when it ends.
  std::vector<PackNotice> notices_;
};

}  // namespace present
