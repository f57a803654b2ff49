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
#include "packplan.h"
#include "vzrpack.h"

class QLabel;
class QPushButton;

namespace quickpack {

// What a mod holds and what each command packs: modkit's knowledge.
using modkit::PackCommand;

// Control ids of the window template.
enum QuickPackControl : int {
  kIdcLevelList = 1004,
  kIdcPackLevel = 1005,
  kIdcFolderList = 1006,
  kIdcPackFolder = 1007,
  kIdcStatus = 1008,
  kIdcAllLevels = 1009,
  kIdcAllFolders = 1010,
  kIdcHelp = 1012,
};

class QuickPackDialog : public vzrui::ModalDialog {
  Q_OBJECT
 public:
  // The packer a command calls once per name; the engine's PackModFolder
  // unless a test puts another in its place.
  using Packer = std::function<int(const char* name, int compress)>;

  explicit QuickPackDialog(QWidget* parent = nullptr);
  ~QuickPackDialog() override;

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

  // A template rectangle in pixels, relative to the client area.
  QRect DialogRect(int x, int y, int width, int height) const { return Units().Rect(x, y, width, height); }

  int m_nGameFolder = 0;
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
  // Packs one list text as the command does (modkit's PackListText), posting
  // the refusal when it may not be packed.
  void PackText(PackCommand command, const std::string& listText, bool makeFolders);
  // Packs one name; a failure escaping the packer is shown in an error box
  // and the command goes on.
  void PackGuarded(const std::string& name);
  void RestoreSelections(int levelIndex, int folderIndex);
  void ExplainIfNotInMod();

  Packer packer_;
  // What the packs of the running command left out, told when it ends.
  std::vector<PackNotice> notices_;
  void TellNotices();
};

}  // namespace quickpack
