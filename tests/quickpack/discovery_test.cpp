// discovery_test.cpp - what the window finds beside its Archives folder.
#include "discovery.h"

#include "quickpack_fixture.h"

namespace quickpack_test {
namespace {

using modkit::kGameHx1920;
using modkit::kGameHxGlacier;
using modkit::kNoGameFolder;
using Names = std::vector<std::string>;

TEST(Detection, FindsHxGlacier) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kGameHxGlacier);
  EXPECT_EQ(w.Levels(), Names{"Alpha"});
}

TEST(Detection, FindsHx1920) {
  ModTree mod;
  mod.Folder("hx1920/levels/Bravo");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kGameHx1920);
  EXPECT_EQ(w.Levels(), Names{"Bravo"});
  EXPECT_EQ(w.Folders(), Names{"hx1920/game"});
}

TEST(Detection, HxGlacierWinsWhenBothAreThere) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Alpha");
  mod.Folder("hx1920/levels/Bravo");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kGameHxGlacier);
  EXPECT_EQ(w.Levels(), Names{"Alpha"}) << "only the hxGlacier levels are listed";
  EXPECT_EQ(w.Folders(), Names{"hxGlacier/game"}) << "nothing is offered for hx1920";
}

TEST(Detection, NeitherContentFolder) {
  ModTree mod;
  mod.Folder("Objects");
  mod.Folder("hxSomething");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kNoGameFolder);
  EXPECT_TRUE(w.Levels().empty());
  EXPECT_EQ(w.Folders(), Names{"Objects"}) << "folders beginning with hx are not offered";
  EXPECT_EQ(w.dialog->FillLevelList(), 0);
}

TEST(Detection, IgnoresLetterCaseOfTheContentFolder) {
  ModTree mod;
  mod.Folder("HXGLACIER/Levels/Alpha");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kGameHxGlacier);
  EXPECT_EQ(w.Levels(), Names{"Alpha"}) << "../hxGlacier/levels/* must find HXGLACIER/Levels";
  EXPECT_EQ(w.Folders(), Names{"hxGlacier/game"});
}

TEST(Detection, LeavesTheWorkingDirectoryWhereItWas) {
  ModTree mod;
  mod.Folder("hx1920/levels");
  const fs::path before = fs::current_path();
  EXPECT_EQ(modkit::ProbeGameFolder(), kGameHx1920);
  EXPECT_EQ(fs::current_path(), before);
}

TEST(Detection, AContentFileIsNotAContentFolder) {
  ModTree mod;
  mod.File("hxGlacier", "not a folder");
  mod.Folder("hx1920/levels/Bravo");
  EXPECT_EQ(modkit::ProbeGameFolder(), kGameHx1920);
}

TEST(LevelList, ListsFoldersOnlySortedWithoutRegardToCase) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/charlie");
  mod.Folder("hxGlacier/levels/Alpha");
  mod.Folder("hxGlacier/levels/bravo");
  mod.Folder("hxGlacier/levels/.svn");
  mod.Folder("hxGlacier/levels/_old");
  mod.File("hxGlacier/levels/readme.txt", "x");
  mod.File("hxGlacier/levels/Aardvark.vzr", "x");
  Window w;
  EXPECT_EQ(w.Levels(), (Names{"_old", "Alpha", "bravo", "charlie"}))
      << "files and dot folders are never levels; every other folder is, under its own name";
}

TEST(LevelList, MissingLevelsFolderLeavesTheListEmptyAndSaysSo) {
  ModTree mod;
  mod.Folder("hxGlacier/game");
  Window w;
  EXPECT_EQ(w.dialog->m_nGameFolder, kGameHxGlacier);
  EXPECT_TRUE(w.Levels().empty());
  EXPECT_EQ(w.Folders(), Names{"hxGlacier/game"});
  EXPECT_EQ(w.StatusLine(), "No levels found under hxGlacier/levels.");
}

TEST(LevelList, FoldersWithoutAContentFolderSayWhereNoLevelsWereFound) {
  ModTree mod;
  mod.Folder("Objects");
  mod.Folder("Textures");
  Window w;
  EXPECT_EQ(w.Folders(), (Names{"Objects", "Textures"}));
  EXPECT_EQ(w.StatusLine(), modkit::kNoLevelsStatus) << "not the \"not in a mod\" text while the list is full";
}

TEST(FolderList, SkipRules) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");
  for (const char* skipped : {"Levels", "Art", "Movies", "Music", "Mod", "_old", ".svn", "art2", "MUSIC", "mOdels"})
    mod.Folder(skipped);
  for (const char* listed : {"levels", "Menu", "Objects", "A", "M", "H", "hx"}) mod.Folder(listed);
  Window w;
  EXPECT_EQ(w.Folders(), (Names{"A", "H", "hxGlacier/game", "levels", "M", "Menu", "Objects"}))
      << "\"hx\" alone is a content-folder name without a third letter, so it is skipped";
}

TEST(FolderList, ListsTheBackupTwinOfTheContentFolderTwice) {
  ModTree mod;
  mod.Folder("hxGlacier/levels");
  mod.Folder("hxGlacier_backup");
  mod.Folder("hx1920");
  Window w;
  EXPECT_EQ(w.Folders(), (Names{"hxGlacier/game", "hxGlacier/game"}));
}

TEST(FolderList, FilesAreNeverListed) {
  ModTree mod;
  mod.File("Objects", "a file named like a folder");
  mod.File("notes.txt", "x");
  mod.Folder("Sounds");
  Window w;
  EXPECT_EQ(w.Folders(), Names{"Sounds"});
}

TEST(FolderList, RuleTableOnSingleMatches) {
  auto entry = [](const std::string& name, bool dir, int game) {
    return modkit::FolderListEntry(vzrfs::FindEntry{name, dir, 0}, game);
  };
  EXPECT_FALSE(entry("Objects", false, kNoGameFolder)) << "files are skipped";
  EXPECT_EQ(entry("hx1920", true, kGameHx1920), std::optional<std::string>("hx1920/game"));
  EXPECT_FALSE(entry("hx1920", true, kGameHxGlacier));
  EXPECT_FALSE(entry("hxGlacier", true, kGameHx1920));
  EXPECT_EQ(entry("HXg", true, kGameHxGlacier), std::optional<std::string>("hxGlacier/game"));
  EXPECT_EQ(entry("a", true, kNoGameFolder), std::optional<std::string>("a")) << "a short name fails the second-letter test";
  EXPECT_EQ(entry("lArchive", true, kNoGameFolder), std::optional<std::string>("lArchive"));
  EXPECT_FALSE(entry("Levels2", true, kNoGameFolder));
}

TEST(FolderList, InitialSelectionIsTheFirstEntryOfEachList) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/Zulu");
  mod.Folder("hxGlacier/levels/alpha");
  mod.Folder("Objects");
  mod.Folder("effects");
  Window w;
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "alpha");
  EXPECT_EQ(w.dialog->m_ctlLevelList->SelectedIndex(), 0);
  EXPECT_EQ(w.dialog->m_ctlFolderList->EditText(), "effects");
  EXPECT_EQ(w.StatusLine(), "Ready...");
}

TEST(FolderList, StartedOutsideAModExplainsWhyTheListsAreEmpty) {
  ModTree mod;  // Archives alone in the mod root
  mod.File("readme.txt", "x");
  Window w;
  EXPECT_TRUE(w.Levels().empty());
  EXPECT_TRUE(w.Folders().empty());
  EXPECT_EQ(w.StatusLine(), modkit::kNotInModStatus);
}

TEST(FolderList, StartedBesideAModButNotInItsArchivesSaysSoAndStillFillsTheLists) {
  ModTree mod;
  mod.Folder("hxGlacier/levels/alpha");
  mod.Folder("Tools");
  fs::current_path(mod.Root() + "/Tools");
  Window w;
  EXPECT_EQ(w.Levels(), Names{"alpha"});
  EXPECT_EQ(w.Folders(), (Names{"hxGlacier/game", "Tools"}));
  EXPECT_EQ(w.StatusLine(), modkit::kOutsideArchivesStatus);
}

TEST(ModRoot, ArchivesFolderAndModRootAreFoundInAnyLetterCase) {
  ModTree mod;
  mod.Folder("HX1920");
  mod.Folder("Tools");
  EXPECT_TRUE(modkit::IsModArchivesFolder(mod.Archives()));
  EXPECT_TRUE(modkit::IsModArchivesFolder("."));
  EXPECT_FALSE(modkit::IsModArchivesFolder(mod.Root() + "/Tools")) << "not named Archives";
  EXPECT_EQ(modkit::FindModRoot(mod.Archives() + "/"), fs::path(mod.Root()).string());
  EXPECT_EQ(modkit::FindModRoot(mod.Root()), fs::path(mod.Root()).string());
  EXPECT_FALSE(modkit::FindModRoot(mod.Root() + "/Tools"));
  fs::rename(mod.Archives(), mod.Root() + "/aRcHiVeS");
  EXPECT_EQ(modkit::FindModRoot(mod.Root()), fs::path(mod.Root()).string());
  fs::remove_all(mod.Root() + "/HX1920");
  EXPECT_FALSE(modkit::IsModArchivesFolder(mod.Root() + "/aRcHiVeS")) << "no content folder beside it";
}

TEST(SortedInsert, IgnoresCaseAndKeepsEqualNamesInArrivalOrder) {
  const Names sorted{"alpha", "Bravo", "charlie"};
  EXPECT_EQ(modkit::SortedInsertPosition(sorted, "ALPHA"), 1u);
  EXPECT_EQ(modkit::SortedInsertPosition(sorted, "b"), 1u);
  EXPECT_EQ(modkit::SortedInsertPosition(sorted, "bravo"), 2u);
  EXPECT_EQ(modkit::SortedInsertPosition(sorted, "Delta"), 3u);
  EXPECT_EQ(modkit::SortedInsertPosition({}, "x"), 0u);
  EXPECT_EQ(modkit::SortedInsertPosition({"a_b", "ab"}, "a_a"), 0u) << "'_' sorts before the letters";
}

}  // namespace
}  // namespace quickpack_test
