// Extract All, Extract Selected and Extract Mod Folder in the real window.
#include <filesystem>

#include "toolset_fixture.h"

using namespace toolsettest;
using testutil::ToBytes;
using vzrui::Buttons;
using vzrui::Icon;
namespace fs = std::filesystem;

namespace {

ArchiveLayout ThreeFiles() {
  ArchiveLayout layout;
  layout.AddRaw("a/one.con", "one");
  layout.AddRaw("a/b/two.dds", "two");
  layout.AddRaw("three.txt", "three");
  return layout;
}

void ExpectError(const vzrui::MessageQuestion& q, const std::string& text, const std::string& caption) {
  EXPECT_EQ(q.text, text);
  EXPECT_EQ(q.caption, caption);
  EXPECT_EQ(q.buttons, Buttons::Ok);
  EXPECT_EQ(q.icon, Icon::Error);
}

}  // namespace

TEST_F(ToolsetWindowTest, ExtractBeforeAnyOpenAsksNothing) {
  window->OnExtractAll();
  window->OnExtractSelected();
  EXPECT_TRUE(script.Asked().empty());
}

TEST_F(ToolsetWindowTest, ExtractAllWritesEveryEntryIntoTheChosenFolder) {
  OpenArchive(ThreeFiles());
  const std::string out = dir / "out";
  fs::create_directory(out);
  script.Folder(out);
  window->OnExtractAll();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/a/one.con"), ToBytes("one"));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/a/b/two.dds"), ToBytes("two"));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/three.txt"), ToBytes("three"));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), out)) << "the chosen folder stays current";
  EXPECT_EQ(StatusLine(), "Ready...");
  ASSERT_EQ(script.Folders().size(), 1u);
  EXPECT_EQ(script.Folders()[0].title, "");
  EXPECT_EQ(script.Folders()[0].style, vzrui::FolderStyle::EditBox);
  EXPECT_EQ(script.Folders()[0].owner, nullptr);
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ToolsetWindowTest, ExtractAllOfAVanishedArchiveShowsItsErrorNumber) {
  const std::string path = OpenArchive(ThreeFiles());
  fs::remove(path);
  script.Folder(dir.str()).Message(vzrui::kIdOk);
  window->OnExtractAll();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectError(script.Messages()[0], "ERROR! Unknown, Error Number: 3", "ERROR!");
  EXPECT_EQ(StatusLine(), "Ready...");
}

TEST_F(ToolsetWindowTest, ExtractAllWithAnEntryThatCannotBeWritten) {
  OpenArchive(ThreeFiles());
  const std::string out = dir / "out";
  fs::create_directories(out + "/three.txt");  // a folder where a file must go
  script.Folder(out).Message(vzrui::kIdOk);
  window->OnExtractAll();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectError(script.Messages()[0], "ERROR! Could not extract all files to destination directory!", "ERROR!");
}

TEST_F(ToolsetWindowTest, ExtractAllCancelledWritesNothing) {
  OpenArchive(ThreeFiles());
  const fs::path before = fs::current_path();
  script.CancelFolder();
  window->OnExtractAll();
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ToolsetWindowTest, ExtractSelectedStopsAtTheFirstFailure) {
  OpenArchive(ThreeFiles());
  const std::string out = dir / "out";
  fs::create_directories(out + "/a/b/two.dds");
  Click(0);
  CtrlClick(1);
  CtrlClick(2);
  script.Folder(out).Message(vzrui::kIdOk);
  window->OnExtractSelected();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/a/one.con"), ToBytes("one"));
  EXPECT_FALSE(fs::exists(out + "/three.txt")) << "no row after the failure is tried";
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectError(script.Messages()[0],
              "ERROR! Could not extract all files to destination directory!\n"
              "You might be be running low on free disk space.",
              "ERROR!");
  EXPECT_EQ(StatusLine(), "Ready...");
}

TEST_F(ToolsetWindowTest, ExtractSelectedWritesOnlyTheSelectedRows) {
  OpenArchive(ThreeFiles());
  const std::string out = dir / "out";
  fs::create_directory(out);
  Click(2);
  script.Folder(out);
  window->OnExtractSelected();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/three.txt"), ToBytes("three"));
  EXPECT_FALSE(fs::exists(out + "/a"));
  EXPECT_EQ(EditorText(), "") << "the editor and the list are untouched";
  EXPECT_EQ(window->SelectedRows(), std::vector<int>{2});
}

class ModFolderTest : public ToolsetWindowTest {
 protected:
  void WriteModArchive(const std::string& relative, const std::string& entry, const std::string& content) {
    ArchiveLayout layout;
    layout.AddRaw(entry, content);
    layout.WriteTo(dir / ("mod/Archives/" + relative));
  }
};

TEST_F(ModFolderTest, EveryArchiveFolderOfTheModLandsInTheOutput) {
  WriteModArchive("objects.vzr", "objects/cart.con", "cart");
  WriteModArchive("hx1920/levels/harbor_dawn.vzr", "levels/harbor_dawn/init.con", "harbor_dawn");
  WriteModArchive("hxGlacier/game.vzr", "game/menu.ssc", "menu");
  const std::string out = dir / "out";
  fs::create_directory(out);
  script.Folder(dir / "mod").Folder(out);
  window->OnExtractModFolder();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/objects/cart.con"), ToBytes("cart"));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/levels/harbor_dawn/init.con"), ToBytes("harbor_dawn"));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/game/menu.ssc"), ToBytes("menu"));
  EXPECT_EQ(StatusLine(), "Ready...");
  const auto asked = script.Folders();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].title, "Choose a mod folder to decompress:");
  EXPECT_EQ(asked[0].style, vzrui::FolderStyle::Classic);
  EXPECT_EQ(asked[0].owner, window.get());
  EXPECT_EQ(asked[1].title, "Choose output location:");
  EXPECT_EQ(asked[1].style, vzrui::FolderStyle::EditBox);
  EXPECT_EQ(asked[1].owner, window.get());
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ModFolderTest, AFolderWithoutArchivesIsASuccess) {
  fs::create_directories(dir / "empty_mod");
  const std::string out = dir / "out";
  fs::create_directory(out);
  script.Folder(dir / "empty_mod").Folder(out);
  window->OnExtractModFolder();
  EXPECT_EQ(StatusLine(), "Ready...");
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ModFolderTest, AFailingArchiveStopsWithAMessage) {
  WriteModArchive("objects.vzr", "objects/cart.con", "cart");
  WriteModArchive("hx1920/levels/harbor_dawn.vzr", "levels/harbor_dawn/init.con", "harbor_dawn");
  const std::string out = dir / "out";
  fs::create_directories(out + "/objects/cart.con");
  script.Folder(dir / "mod").Folder(out).Message(vzrui::kIdOk);
  window->OnExtractModFolder();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectError(script.Messages()[0], "Unable to extract all mod archive files!", "Error!");
  EXPECT_FALSE(fs::exists(out + "/levels")) << "the later folders are not processed";
  EXPECT_NE(StatusLine(), "Ready...");
}

// Unpacked into the mod itself, an entry named like another of its archives
// stops the unpack rather than destroying that archive before it is read.
TEST_F(ModFolderTest, AnEntryNeverReplacesAnArchiveOfTheMod) {
  WriteModArchive("a.vzr", "Archives/b.vzr", "not an archive");
  WriteModArchive("b.vzr", "levels/b.con", "b");
  const testutil::Bytes before = testutil::ReadFileBytes(dir / "mod/Archives/b.vzr");
  script.Folder(dir / "mod").Folder(dir / "mod").Message(vzrui::kIdOk);
  window->OnExtractModFolder();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectError(script.Messages()[0], "Unable to extract all mod archive files!", "Error!");
  EXPECT_EQ(testutil::ReadFileBytes(dir / "mod/Archives/b.vzr"), before);
}

TEST_F(ModFolderTest, CancellingEitherQuestionDoesNothing) {
  WriteModArchive("objects.vzr", "objects/cart.con", "cart");
  script.CancelFolder();
  window->OnExtractModFolder();
  script.Folder(dir / "mod").CancelFolder();
  window->OnExtractModFolder();
  EXPECT_EQ(script.Folders().size(), 3u);
  EXPECT_FALSE(fs::exists(fs::current_path() / "objects"));
  EXPECT_EQ(StatusLine(), "Ready...");
}

// An archive compressed at the highest level, as `vzr pack --compress=9`
// writes it: its script shows in the editor and every entry extracts whole.
TEST_F(ToolsetWindowTest, CompressedArchiveShowsItsScriptAndExtractsWhole) {
  std::string script_text, tide;
  for (int i = 0; i < 60; ++i) script_text += "unit.spawn lantern_cart lane=" + std::to_string(i % 7) + "\n";
  for (int i = 0; i < 90000; ++i) tide += static_cast<char>("tide-fold"[i % 9] + (i / 4096) % 3);
  fs::create_directories(dir / "src/levels/harbor_dawn");
  testutil::WriteFileBytes(dir / "src/levels/harbor_dawn/init.con", ToBytes(script_text));
  testutil::WriteFileBytes(dir / "src/tide.dat", ToBytes(tide));
  std::string source = dir / "src", archive = dir / "packed.vzr";
  ASSERT_EQ(PackDirectoryCompressed(source.data(), nullptr, archive.c_str(), 9, 2), 2);
  EXPECT_LT(fs::file_size(archive), (script_text.size() + tide.size()) / 4);

  Open(archive);
  ASSERT_EQ(window->ListModel()->rowCount(), 2);
  const int scriptRow = Cell(0, 0).endsWith("init.con") ? 0 : 1;
  Click(scriptRow);
  EXPECT_EQ(EditorText().toStdString(), script_text);

  const std::string out = dir / "out";
  fs::create_directory(out);
  script.Folder(out);
  window->OnExtractAll();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/levels/harbor_dawn/init.con"), ToBytes(script_text));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/tide.dat"), ToBytes(tide));
}
