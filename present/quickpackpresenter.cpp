#include "quickpackpresenter.h"

#include <cstdio>

#include "discovery.h"
#include "fileservices.h"

namespace present {

using modkit::PackCommand;

namespace {

constexpr int kCompressRequest = 1;
// Files named in a pack's warning at most; the rest are counted.
constexpr std::size_t kNoticeLines = 20;

}  // namespace

QuickPackPresenter::QuickPackPresenter(QuickPackView& view) : view_(view) {}

void QuickPackPresenter::OnInitDialog() {
  view_.SetStatusText("Ready...");
  m_nGameFolder = modkit::kNoGameFolder;
  m_nGameFolder = DetectGameFolder();
  FillLevelList();
  FillFolderList();
  for (PackListId list : {PackListId::kLevels, PackListId::kFolders})
    view_.SelectIndex(list, view_.ListCount(list) > 0 ? 0 : -1);
  // The lists are filled from the parent folder whatever it is; the status
  // line says what the start did not find, so full lists and the status
  // never contradict each other.
  const auto status =
      modkit::DiscoveryStatus(vzrfs::GetCurrentDir(), m_nGameFolder, static_cast<std::size_t>(view_.ListCount(PackListId::kLevels)),
                              static_cast<std::size_t>(view_.ListCount(PackListId::kFolders)));
  if (status) view_.SetStatusText(*status);
}

int QuickPackPresenter::DetectGameFolder() { return modkit::ProbeGameFolder(); }

int QuickPackPresenter::FillLevelList() {
  if (m_nGameFolder == modkit::kNoGameFolder) return 0;
  for (const std::string& name : modkit::FindLevelNames(m_nGameFolder)) view_.AddListEntry(PackListId::kLevels, name);
  return 1;
}

int QuickPackPresenter::FillFolderList() {
  for (const std::string& entry : modkit::FindFolderEntries(m_nGameFolder))
    view_.AddListEntry(PackListId::kFolders, entry);
  return 1;
}

std::string QuickPackPresenter::HelpText() {
  std::string text;
  text += "- Place this utility in your mod's archives folder.\n";
  text += "- Unpacked folders should be at your mod's root.\n";
  text += "- Directories and levels will be automaticly detected and added to drop down lists. \n";
  text += "\nExample:\n";
  text += "   Extracted objects folder should be located \\mods\\YourMod\\Objects\\\n";
  text += "    This program should be executed from \\mods\\YourMod\\Archives\\\n";
  return text;
}

void QuickPackPresenter::OnHelpButton() { view_.Ask({HelpText(), "Help", Buttons::Ok, Icon::Question}); }

void QuickPackPresenter::PackText(PackCommand command, const std::string& listText, bool makeFolders) {
  const auto refusal = modkit::PackListText(command, m_nGameFolder, listText, makeFolders,
                                            [this](const std::string& name) { PackGuarded(name); });
  if (refusal) view_.SetStatusText(*refusal);
}

// Packs one name; a failure escaping the packer is shown in an error box
// and the command goes on.
void QuickPackPresenter::PackGuarded(const std::string& name) {
  try {
    LastPackNotices().clear();
    if (packer_)
      packer_(name.c_str(), kCompressRequest);
    else
      PackModFolder(name.c_str(), kCompressRequest);
    notices_.insert(notices_.end(), LastPackNotices().begin(), LastPackNotices().end());
  } catch (...) {
    char message[64];
    std::snprintf(message, sizeof message, "Error! vzrpack Line: %d", static_cast<int>(CodePosition));
    view_.Ask({message, {}});  // the application's name as caption, OK, no icon
  }
}

// Names the files the command's packs left out, in one message box after
// the last pack: the status line keeps the packer's own outcome.
void QuickPackPresenter::TellNotices() {
  if (!notices_.empty())
    view_.Ask({PackNoticesText(notices_, kNoticeLines), "Warning!", Buttons::Ok, Icon::Exclamation});
  notices_.clear();
}

void QuickPackPresenter::OnPackLevel() {
  PackText(PackCommand::kLevel, view_.ListText(PackListId::kLevels), true);
  TellNotices();
}

void QuickPackPresenter::OnPackFolder() {
  PackText(PackCommand::kFolder, view_.ListText(PackListId::kFolders), true);
  TellNotices();
}

// The list's entries are packed; text typed into the edit field is not.
// Both lists show their selections again afterwards: every status text the
// packer posts writes the fields back into them.
void QuickPackPresenter::PackWholeList(PackListId list, PackCommand command) {
  const int n = view_.ListCount(list);
  const int levelIndex = view_.SelectedIndex(PackListId::kLevels);
  const int folderIndex = view_.SelectedIndex(PackListId::kFolders);
  if (n > 0) modkit::MakeFolders(command, m_nGameFolder);
  for (int i = 0; i < n; ++i) PackText(command, view_.ListEntry(list, i), false);
  view_.SelectIndex(PackListId::kLevels, levelIndex);
  view_.SelectIndex(PackListId::kFolders, folderIndex);
  TellNotices();
}

void QuickPackPresenter::OnPackAllLevels() { PackWholeList(PackListId::kLevels, PackCommand::kAllLevels); }

void QuickPackPresenter::OnPackAllFolders() { PackWholeList(PackListId::kFolders, PackCommand::kAllFolders); }

}  // namespace present
