// commands_test.cpp - the four pack commands: names handed to the packer,
// folders made below Archives, refusals, the error guard and the lists'
// selections, with a packer that records its calls.
#include "discovery.h"
#include "packplan.h"

#include "quickpack_fixture.h"

namespace quickpack_test {
namespace {

using modkit::kGameHx1920;
using modkit::kGameHxGlacier;
using modkit::kNoGameFolder;
using modkit::PackCommand;
using Names = std::vector<std::string>;

bool IsFolder(const std::string& path) { return fs::is_directory(path); }

// Puts text into a list's edit field as a user would type it.
void Type(quickpack::PackList* list, const std::string& text) {
  list->setEditText(QString::fromStdString(text));
}

TEST(PackPlan, LevelNamesByGameFolder) {
  EXPECT_EQ(modkit::LevelPackName(kGameHxGlacier, "Alpha"), "hxGlacier/levels/Alpha");
  EXPECT_EQ(modkit::LevelPackName(kGameHx1920, "Alpha"), "hx1920/levels/Alpha");
  EXPECT_EQ(modkit::LevelPackName(kNoGameFolder, "Alpha"), "Alpha");
}

TEST(PackPlan, FoldersInTheOrderTheyAreMade) {
  EXPECT_EQ(modkit::FoldersToCreate(PackCommand::kLevel, kGameHxGlacier), (Names{"hxGlacier", "hxGlacier/levels"}));
  EXPECT_EQ(modkit::FoldersToCreate(PackCommand::kAllLevels, kGameHx1920), (Names{"hx1920", "hx1920/levels"}));
  EXPECT_EQ(modkit::FoldersToCreate(PackCommand::kFolder, kGameHxGlacier), Names{"hxGlacier"});
  EXPECT_EQ(modkit::FoldersToCreate(PackCommand::kAllFolders, kGameHx1920), Names{"hx1920"});
  for (PackCommand c : {PackCommand::kLevel, PackCommand::kFolder, PackCommand::kAllLevels, PackCommand::kAllFolders})
    EXPECT_TRUE(modkit::FoldersToCreate(c, kNoGameFolder).empty());
}

TEST(PackPlan, RefusesEmptyAndOverlongNames) {
  EXPECT_EQ(modkit::PackRefusal("", "hxGlacier/levels/"), std::optional<std::string>(modkit::kEmptyNameStatus));
  EXPECT_FALSE(modkit::PackRefusal("x", std::string(507, 'x')));
  EXPECT_EQ(modkit::PackRefusal("x", std::string(508, 'x')), std::optional<std::string>(modkit::kNameTooLongStatus));
}

TEST(PackLevel, PacksTheLevelBelowTheContentFolderAndMakesItsFolders) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  mod.Folder("hxGlacier/levels/Bravo");
  Window w;
  w.RecordPacks();
  w.dialog->m_ctlLevelList->SetSelectedIndex(1);
  w.dialog->OnPackLevel();
  ASSERT_EQ(w.calls.size(), 1u);
  EXPECT_EQ(w.calls[0].name, "hxGlacier/levels/Bravo");
  EXPECT_EQ(w.calls[0].compress, 1);
  EXPECT_TRUE(IsFolder(mod.InArchives("hxGlacier/levels")));
  EXPECT_EQ(w.StatusLine(), "Packed hxGlacier/levels/Bravo") << "the last status of the pack stays";
}

TEST(PackLevel, WithHx1920) {
  ModTree mod;
  mod.Folder("hx1920/levels/Alpha");
  Window w;
  w.RecordPacks();
  w.dialog->OnPackLevel();
  EXPECT_EQ(w.PackedNames(), Names{"hx1920/levels/Alpha"});
  EXPECT_TRUE(IsFolder(mod.InArchives("hx1920/levels")));
  EXPECT_FALSE(fs::exists(mod.InArchives("hxGlacier")));
}

TEST(PackLevel, WithoutContentFolderPacksTheTypedNameAloneAndMakesNoFolder) {
  ModTree mod;
  mod.Folder("Objects");
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlLevelList, "Objects");
  w.dialog->OnPackLevel();
  EXPECT_EQ(w.PackedNames(), Names{"Objects"});
  EXPECT_TRUE(fs::is_empty(mod.Archives())) << "no folder is made";
}

TEST(PackLevel, PacksTypedTextThatIsNoEntry) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlLevelList, "Typed");
  w.dialog->OnPackLevel();
  EXPECT_EQ(w.PackedNames(), Names{"hxGlacier/levels/Typed"});
  EXPECT_EQ(w.dialog->m_strLevel, "Typed");
}

TEST(PackLevel, RefusesAnEmptyNameWithoutPackingOrMakingFolders) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");  // no levels: the list is empty
  Window w;
  w.RecordPacks();
  w.dialog->OnPackLevel();
  EXPECT_TRUE(w.calls.empty()) << "the whole levels folder must not be packed";
  EXPECT_EQ(w.StatusLine(), modkit::kEmptyNameStatus);
  EXPECT_FALSE(fs::exists(mod.InArchives("hxGlacier")));
}

TEST(PackLevel, RefusesANameTooLongForThePackersPaths) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlLevelList, std::string(491, 'x'));  // "hxGlacier/levels/" makes it 508
  w.dialog->OnPackLevel();
  EXPECT_TRUE(w.calls.empty());
  EXPECT_EQ(w.StatusLine(), modkit::kNameTooLongStatus);
  Type(w.dialog->m_ctlLevelList, std::string(490, 'x'));  // 507: still fits
  w.dialog->OnPackLevel();
  EXPECT_EQ(w.calls.size(), 1u);
}

TEST(PackLevel, AnEscapingFailureIsShownWithTheCheckpoint) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  Window w;
  w.RecordPacks({"hxGlacier/levels/Alpha"});
  w.script.Message(vzrui::kIdOk);
  w.dialog->OnPackLevel();
  ASSERT_EQ(w.Messages().size(), 1u);
  EXPECT_EQ(w.Messages()[0].text, "Error! vzrpack Line: 4242");
  EXPECT_EQ(w.Messages()[0].caption, "VzrPack");
  EXPECT_EQ(w.Messages()[0].buttons, vzrui::Buttons::Ok);
  EXPECT_EQ(w.Messages()[0].icon, vzrui::Icon::None);
  EXPECT_TRUE(w.dialog->isVisible()) << "the window stays open";
}

TEST(PackFolder, PacksTheFolderTextAndMakesTheContentFolder) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");
  mod.Folder("Objects");
  Window w;
  w.RecordPacks();
  w.dialog->m_ctlFolderList->SetSelectedIndex(1);  // "hxGlacier/game", "Objects"
  w.dialog->OnPackFolder();
  EXPECT_EQ(w.PackedNames(), Names{"Objects"});
  EXPECT_TRUE(IsFolder(mod.InArchives("hxGlacier")));
  EXPECT_FALSE(fs::exists(mod.InArchives("hxGlacier/levels")));
}

TEST(PackFolder, PacksTheGameEntryAndTypedText) {
  ModTree mod;
  mod.Folder("hx1920/game");
  Window w;
  w.RecordPacks();
  w.dialog->OnPackFolder();
  Type(w.dialog->m_ctlFolderList, "Sounds");
  w.dialog->OnPackFolder();
  EXPECT_EQ(w.PackedNames(), (Names{"hx1920/game", "Sounds"}));
  EXPECT_TRUE(IsFolder(mod.InArchives("hx1920")));
}

TEST(PackFolder, RefusesAnEmptyName) {
  ModTree mod;
  mod.Folder("Objects");
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlFolderList, "");
  w.dialog->OnPackFolder();
  EXPECT_TRUE(w.calls.empty()) << "the mod root must not be packed into \".vzr\"";
  EXPECT_EQ(w.StatusLine(), modkit::kEmptyNameStatus);
}

TEST(PackFolder, AnEscapingFailureIsShownAndTheWindowGoesOn) {
  ModTree mod;
  mod.Folder("Objects");
  Window w;
  w.RecordPacks({"Objects"});
  w.script.Message(vzrui::kIdOk);
  w.dialog->OnPackFolder();
  ASSERT_EQ(w.Messages().size(), 1u);
  EXPECT_EQ(w.Messages()[0].text, "Error! vzrpack Line: 4242");
  w.calls.clear();
  w.RecordPacks();
  w.dialog->OnPackFolder();
  EXPECT_EQ(w.PackedNames(), Names{"Objects"});
}

TEST(PackAll, LevelsPacksEveryEntryInListOrder) {
  ModTree mod;
  for (const char* level : {"charlie", "Alpha", "bravo"}) mod.Folder(std::string("hxGlacier/levels/") + level);
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlLevelList, "Typed");  // ignored by an "All" run
  w.dialog->OnPackAllLevels();
  EXPECT_EQ(w.PackedNames(),
            (Names{"hxGlacier/levels/Alpha", "hxGlacier/levels/bravo", "hxGlacier/levels/charlie"}));
  EXPECT_TRUE(IsFolder(mod.InArchives("hxGlacier/levels")));
  EXPECT_EQ(w.StatusLine(), "Packed hxGlacier/levels/charlie");
}

TEST(PackAll, FoldersGoOnPastAFailingEntryAndReportIt) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");
  for (const char* folder : {"Effects", "Objects", "Sounds"}) mod.Folder(folder);
  Window w;
  w.RecordPacks({"Objects"});
  w.script.Message(vzrui::kIdOk);
  w.dialog->OnPackAllFolders();
  EXPECT_EQ(w.PackedNames(), (Names{"Effects", "hxGlacier/game", "Objects", "Sounds"}));
  ASSERT_EQ(w.Messages().size(), 1u);
  EXPECT_EQ(w.Messages()[0].text, "Error! vzrpack Line: 4242");
  EXPECT_EQ(w.StatusLine(), "Packed Sounds");
  EXPECT_TRUE(IsFolder(mod.InArchives("hxGlacier")));
  EXPECT_FALSE(fs::exists(mod.InArchives("hxGlacier/levels")));
}

TEST(PackAll, OnAnEmptyListMakesAndPacksNothing) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");
  Window w;
  w.RecordPacks();
  w.dialog->OnPackAllLevels();
  EXPECT_TRUE(w.calls.empty());
  EXPECT_TRUE(fs::is_empty(mod.Archives()));
  EXPECT_EQ(w.StatusLine(), "No levels found under hxGlacier/levels.") << "the start's status stays";
}

TEST(PackAll, RestoresBothListsSelections) {
  ModTree mod;
  for (const char* level : {"Alpha", "Bravo", "Charlie"}) mod.Folder(std::string("hx1920/levels/") + level);
  for (const char* folder : {"Effects", "Objects"}) mod.Folder(folder);
  Window w;
  w.RecordPacks();
  w.dialog->m_ctlLevelList->SetSelectedIndex(2);
  w.dialog->m_ctlFolderList->SetSelectedIndex(2);  // "Effects", "hx1920/game", "Objects"
  w.dialog->OnPackAllFolders();
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Charlie");
  EXPECT_EQ(w.dialog->m_ctlFolderList->EditText(), "Objects");
  w.dialog->OnPackAllLevels();
  EXPECT_EQ(w.dialog->m_ctlLevelList->SelectedIndex(), 2);
  EXPECT_EQ(w.dialog->m_ctlFolderList->SelectedIndex(), 2);
}

TEST(PackAll, TypedTextWithNothingSelectedEndsEmpty) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  mod.Folder("Objects");
  Window w;
  w.RecordPacks();
  Type(w.dialog->m_ctlFolderList, "Typed");
  EXPECT_EQ(w.dialog->m_ctlFolderList->SelectedIndex(), -1);
  w.dialog->OnPackAllLevels();
  EXPECT_EQ(w.dialog->m_ctlFolderList->EditText(), "");
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Alpha");
}

TEST(StatusLine, EachStatusSetsTheListsBackToTheirLastReadTexts) {
  ModTree mod;
  for (const char* level : {"Alpha", "Beta"}) mod.Folder(std::string("hxGlacier/levels/") + level);
  Window w;
  w.dialog->m_ctlLevelList->SetSelectedIndex(1);
  w.dialog->UpdateData(true);  // reads "Beta"
  Type(w.dialog->m_ctlLevelList, "al");
  GetStatusSink()->SetText("Writing Index...");
  EXPECT_EQ(w.StatusLine(), "Writing Index...");
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Beta");
  w.dialog->m_strLevel = "al";
  w.dialog->UpdateData(false);
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Alpha") << "the first entry that begins with the text, any case";
  w.dialog->m_strLevel = "Zed";
  w.dialog->UpdateData(false);
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Zed");
  EXPECT_EQ(w.dialog->m_ctlLevelList->SelectedIndex(), -1);
  EXPECT_EQ(w.dialog->m_ctlLevelList->Count(), 2) << "typed text never joins the list";
}

}  // namespace
}  // namespace quickpack_test
