// pack_engine_test.cpp - the pack commands with the engine's own packer:
// archives land below Archives in the mod root's layout and read back with
// the engine, every entry under its base path.
#include <algorithm>

#include "quickpack_fixture.h"

namespace quickpack_test {
namespace {

using Names = std::vector<std::string>;

Names EntryNames(const std::vector<ArchiveEntry>& entries) {
  Names names;
  for (const ArchiveEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

const ArchiveEntry* Find(const std::vector<ArchiveEntry>& entries, const std::string& name) {
  for (const ArchiveEntry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

TEST(PackWithEngine, FilesLeftOutAreNamedInOneWarningAfterTheCommand) {
  ModTree mod;
  mod.File("Objects/good.con", "fine");
  fs::create_symlink("nowhere", mod.Root() + "/Objects/gone.con");
  Window w;
  w.script.Message(vzrui::kIdOk);
  w.dialog->m_ctlFolderList->SetSelectedIndex(0);
  w.dialog->OnPackFolder();
  ASSERT_EQ(w.Messages().size(), 1u);
  EXPECT_EQ(w.Messages()[0].caption, "Warning!");
  EXPECT_NE(w.Messages()[0].text.find("gone.con: dangling symbolic link"), std::string::npos) << w.Messages()[0].text;
  EXPECT_EQ(w.StatusLine(), "Files packed: 1");
}

TEST(PackWithEngine, LevelLandsBelowArchivesUnderItsBasePath) {
  ModTree mod;
  mod.File("hxGlacier/levels/Alpha/alpha.con", "define LEVEL alpha\n");
  mod.File("hxGlacier/levels/Alpha/terrain/height.raw", std::string(3000, '\x7f'));
  mod.Folder("hxGlacier/levels/Bravo");
  Window w;
  w.dialog->OnPackLevel();  // Alpha is selected at start
  const std::string archive = mod.InArchives("hxGlacier/levels/Alpha.vzr");
  ASSERT_TRUE(fs::exists(archive));
  const auto entries = ReadArchive(archive);
  EXPECT_EQ(EntryNames(entries),
            (Names{"hxGlacier/levels/Alpha/alpha.con", "hxGlacier/levels/Alpha/terrain/height.raw"}));
  const ArchiveEntry* con = Find(entries, "hxGlacier/levels/Alpha/alpha.con");
  ASSERT_NE(con, nullptr);
  EXPECT_EQ(con->content, "define LEVEL alpha\n");
  EXPECT_EQ(w.StatusLine(), "Files packed: 2");
  EXPECT_EQ(w.dialog->m_ctlLevelList->EditText(), "Alpha");
}

TEST(PackWithEngine, FolderAndGameEntry) {
  ModTree mod;
  mod.File("hxGlacier/game/menu.con", "menu");
  mod.Folder("hxGlacier/levels");
  mod.File("Objects/tree/tree.con", "tree");
  Window w;
  w.dialog->OnPackFolder();  // "hxGlacier/game" comes first
  w.dialog->m_ctlFolderList->SetSelectedIndex(1);
  w.dialog->OnPackFolder();
  EXPECT_EQ(EntryNames(ReadArchive(mod.InArchives("hxGlacier/game.vzr"))), Names{"hxGlacier/game/menu.con"});
  const auto objects = ReadArchive(mod.InArchives("Objects.vzr"));
  EXPECT_EQ(EntryNames(objects), Names{"Objects/tree/tree.con"});
  EXPECT_EQ(objects.at(0).content, "tree");
  EXPECT_EQ(w.StatusLine(), "Files packed: 1");
}

TEST(PackWithEngine, TypedLevelWithoutContentFolderPacksBesideArchives) {
  ModTree mod;
  mod.File("Objects/rock.con", "rock");
  Window w;
  w.dialog->m_ctlLevelList->setEditText(QStringLiteral("Objects"));
  w.dialog->OnPackLevel();
  EXPECT_EQ(EntryNames(ReadArchive(mod.InArchives("Objects.vzr"))), Names{"Objects/rock.con"});
}

TEST(PackWithEngine, OddLetterCaseStillLandsInTheUsualLayout) {
  ModTree mod;
  mod.File("HXGLACIER/LEVELS/Alpha/a.con", "a");
  Window w;
  w.dialog->OnPackLevel();
  EXPECT_EQ(EntryNames(ReadArchive(mod.InArchives("hxGlacier/levels/Alpha.vzr"))),
            Names{"hxGlacier/levels/Alpha/a.con"});
}

TEST(PackWithEngine, AllLevelsPacksEachAndGoesOnPastAnEmptyOne) {
  ModTree mod;
  mod.File("hx1920/levels/Alpha/a.con", "a");
  mod.Folder("hx1920/levels/Bravo/empty");
  mod.File("hx1920/levels/Charlie/c.con", "cc");
  Window w;
  w.dialog->OnPackAllLevels();
  EXPECT_EQ(EntryNames(ReadArchive(mod.InArchives("hx1920/levels/Alpha.vzr"))), Names{"hx1920/levels/Alpha/a.con"});
  EXPECT_FALSE(fs::exists(mod.InArchives("hx1920/levels/Bravo.vzr"))) << "nothing to pack, no archive";
  EXPECT_EQ(EntryNames(ReadArchive(mod.InArchives("hx1920/levels/Charlie.vzr"))),
            Names{"hx1920/levels/Charlie/c.con"});
  EXPECT_EQ(w.StatusLine(), "Files packed: 1") << "the last pack's final status stays";
}

TEST(PackWithEngine, AllFoldersLeavesTheLastEntrysFailureInTheStatusLine) {
  ModTree mod;
  mod.File("Effects/fire.con", "fire");
  mod.File("Objects/rock.con", "rock");
  mod.Folder("Sounds");  // empty, and last in the list
  Window w;
  w.dialog->OnPackAllFolders();
  EXPECT_TRUE(fs::exists(mod.InArchives("Effects.vzr")));
  EXPECT_TRUE(fs::exists(mod.InArchives("Objects.vzr")));
  EXPECT_FALSE(fs::exists(mod.InArchives("Sounds.vzr")));
  EXPECT_EQ(w.StatusLine(), "No files to pack..");
  EXPECT_EQ(w.dialog->m_ctlFolderList->EditText(), "Effects") << "the selection is back where it was";
}

}  // namespace
}  // namespace quickpack_test
