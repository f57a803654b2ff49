// Pack > Directory: the dialog's checks, its messages, its remembered texts,
// the "..." suggestion, and the archive it finally writes.
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "packdirdialog.h"
#include "toolset_fixture.h"

using namespace toolsettest;
using testutil::ToBytes;
using toolset::PackDirDialog;
using toolset::SuggestBasePath;
using vzrui::Buttons;
using vzrui::Icon;
using vzrui::ModalDialog;
namespace fs = std::filesystem;

namespace {

PackDirDialog& AsPack(ModalDialog& d) { return static_cast<PackDirDialog&>(d); }

// Types into the two boxes and presses Pack, as a user does.
void TypeAndPack(ModalDialog& d, const std::string& source, const std::string& base) {
  PackDirDialog& dialog = AsPack(d);
  dialog.SourceEdit()->setText(QString::fromStdString(source));
  dialog.BaseEdit()->setText(QString::fromStdString(base));
  dialog.PackButton()->click();
}

std::vector<std::string> EntryNames(const std::string& archivePath) {
  VzrArchive archive;
  archive.LoadIndex(archivePath.c_str());
  std::vector<std::string> names;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) names.emplace_back(archive.FileIndex.files[i].name);
  std::sort(names.begin(), names.end());
  return names;
}

void ExpectRefusal(const vzrui::MessageQuestion& q, const std::string& text, const std::string& caption) {
  EXPECT_EQ(q.text, text);
  EXPECT_EQ(q.caption, caption);
  EXPECT_EQ(q.buttons, Buttons::Ok);
  EXPECT_EQ(q.icon, Icon::Exclamation);
}

}  // namespace

TEST(PackDirSuggestion, LastFolderNameAfterEitherSeparator) {
  EXPECT_EQ(SuggestBasePath("/home/user/mods/MyMod/Objects"), "Objects");
  EXPECT_EQ(SuggestBasePath("C:\\Mods\\X\\Objects"), "Objects");
  EXPECT_EQ(SuggestBasePath("/home/user/Objects/"), "Objects");
  EXPECT_EQ(SuggestBasePath("C:\\Mods/mixed\\Menu"), "Menu");
  EXPECT_EQ(SuggestBasePath("Objects"), "Objects");
  EXPECT_EQ(SuggestBasePath("/"), "") << "a root has no folder name";
  EXPECT_EQ(SuggestBasePath("C:\\"), "");
  EXPECT_EQ(SuggestBasePath("C:"), "");
}

class PackDirectoryTest : public ToolsetWindowTest {
 protected:
  void SetUp() override {
    ToolsetWindowTest::SetUp();
    source = dir / "mod/Objects";
    testutil::WriteFileText(source + "/carts/lantern_cart.con", "cart");
    testutil::WriteFileText(source + "/readme.txt", "hello");
    archive = dir / "objects.vzr";
  }
  std::string source;
  std::string archive;
};

TEST_F(PackDirectoryTest, PacksTheDirectoryUnderTheBasePath) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source, "Objects");
    EXPECT_TRUE(d.IsEnded());
    EXPECT_EQ(d.EndResult(), vzrui::kIdOk);
  });
  script.File(dir / "objects");  // typed without extension
  window->OnPackDirectory();
  EXPECT_EQ(EntryNames(archive), (std::vector<std::string>{"Objects/carts/lantern_cart.con", "Objects/readme.txt"}));
  const auto files = script.Files();
  ASSERT_EQ(files.size(), 1u);
  const auto& save = files[0];
  EXPECT_FALSE(save.request.open);
  EXPECT_EQ(save.request.defaultExtension, ".vzr");
  EXPECT_EQ(save.request.filter, "VZR File Archive (*.vzr)| *.vzr");
  EXPECT_FALSE(save.request.confirmOverwrite);
  EXPECT_EQ(save.ownerTitle, "winVZR 2.05") << "owned by the main window";
  ASSERT_EQ(script.Dialogs().size(), 1u);
  EXPECT_EQ(script.Dialogs()[0].title, "Pack Directory to .vzr");
  EXPECT_TRUE(script.Messages().empty());
  EXPECT_EQ(window->m_strLastSourceDir, source);
  EXPECT_EQ(window->m_strLastBasePath, "Objects");
  EXPECT_TRUE(window->m_pArchive == nullptr) << "the open archive is not touched";
}

TEST_F(PackDirectoryTest, PackingOverTheOpenArchiveOpensItAgain) {
  ArchiveLayout layout;
  layout.AddRaw("a/first.con", "the old first script, long enough to move the next one");
  layout.AddRaw("a/second.con", "old second");
  OpenArchive(layout, "objects.vzr");
  Click(1);
  script.Dialog([&](ModalDialog& d) { TypeAndPack(d, source, "Objects"); });
  script.File(archive).Message(vzrui::kIdYes);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].text, archive + " already exists. Do you want to replace it?")
      << "even the archive open in the window is replaced only when the user agrees";
  EXPECT_TRUE(script.Messages()[0].defaultNo);
  const std::vector<std::string> packed = EntryNames(archive);
  ASSERT_EQ(window->ListModel()->rowCount(), 2);
  std::vector<std::string> listed{Cell(0, 0).toStdString(), Cell(1, 0).toStdString()};
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, packed) << "the list shows the new index";
  EXPECT_EQ(CurrentFileLabel(), "NoFile") << "the old entry's text is gone";
  const int scriptRow = Cell(0, 0).endsWith(".con") ? 0 : 1;
  Click(scriptRow);
  EXPECT_EQ(EditorText(), "cart") << "the entry's own bytes";
  EXPECT_EQ(StatusLine(), "Ready.");
}

TEST_F(PackDirectoryTest, FilesLeftOutAreNamedInAWarning) {
  fs::create_symlink("nowhere", source + "/carts/gone.con");
  script.Dialog([&](ModalDialog& d) { TypeAndPack(d, source, "Objects"); });
  script.File(archive);
  script.Message(vzrui::kIdOk);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Warning!");
  EXPECT_NE(script.Messages()[0].text.find("gone.con: dangling symbolic link"), std::string::npos)
      << script.Messages()[0].text;
  EXPECT_EQ(EntryNames(archive), (std::vector<std::string>{"Objects/carts/lantern_cart.con", "Objects/readme.txt"}));
}

TEST_F(PackDirectoryTest, EmptySourceIsRefusedEvenWithABasePath) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, "", "Objects");
    EXPECT_FALSE(d.IsEnded()) << "the dialog stays open";
  });
  script.Message(vzrui::kIdOk);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectRefusal(script.Messages()[0], "Error! Must specify source directory.", "ERROR!");
}

TEST_F(PackDirectoryTest, EmptyBasePathAsksAndNoKeepsTheDialogOpen) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source, "");
    EXPECT_FALSE(d.IsEnded());
  });
  script.Message(vzrui::kIdNo);
  testutil::TraceCapture trace;
  window->OnPackDirectory();
  const std::string log = trace.Text();
  const auto messages = script.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const auto& q = messages[0];
  EXPECT_EQ(q.text, "Are you sure you don't want a base folder path?");
  EXPECT_EQ(q.caption, "Question");
  EXPECT_EQ(q.buttons, Buttons::YesNo);
  EXPECT_EQ(q.icon, Icon::Question);
  EXPECT_NE(log.find(" m_strBasePath return: 7\n"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(archive));
}

TEST_F(PackDirectoryTest, EmptyBasePathAnsweredYesPacksWithoutAFolderPrefix) {
  script.Dialog([&](ModalDialog& d) { TypeAndPack(d, source, ""); });
  script.Message(vzrui::kIdYes).File(archive);
  testutil::TraceCapture trace;
  window->OnPackDirectory();
  EXPECT_NE(trace.Text().find(" m_strBasePath return: 6\n"), std::string::npos);
  const auto names = EntryNames(archive);
  ASSERT_EQ(names.size(), 2u);
  for (const std::string& name : names) EXPECT_EQ(name.front(), '/') << name;
}

TEST_F(PackDirectoryTest, IllegalCharactersInEitherTextAreRefused) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source + "|x", "Objects");
    TypeAndPack(d, source, "C:Objects");
    EXPECT_FALSE(d.IsEnded());
  });
  script.Message(vzrui::kIdOk).Message(vzrui::kIdOk);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 2u);
  ExpectRefusal(script.Messages()[0], "Cannot save! Illegal characters used(SourceDir): * ? \" < > |", "Error!");
  ExpectRefusal(script.Messages()[1], "Cannot save! Illegal characters used(BasePath): * ? \" < > |", "Error!");
  EXPECT_TRUE(script.Files().empty()) << "refused before the save dialog";
}

TEST_F(PackDirectoryTest, ArchiveInsideTheSourceIsRefused) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source, "Objects");
    EXPECT_FALSE(d.IsEnded());
  });
  script.File(source + "/inside.vzr").Message(vzrui::kIdOk);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectRefusal(script.Messages()[0], "Cannot save .vzr file inside the source files directory!", "Error!");
  EXPECT_FALSE(fs::exists(source + "/inside.vzr"));
}

TEST_F(PackDirectoryTest, IllegalArchivePathIsRefused) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source, "Objects");
    EXPECT_FALSE(d.IsEnded());
  });
  script.File(dir / "bad{name.vzr").Message(vzrui::kIdOk);
  window->OnPackDirectory();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectRefusal(script.Messages()[0], "Cannot save! Illegal characters used : * ? \" < > |", "Error!");
}

TEST_F(PackDirectoryTest, CancelledSaveDialogKeepsTheDialogOpen) {
  script.Dialog([&](ModalDialog& d) {
    TypeAndPack(d, source, "Objects");
    EXPECT_FALSE(d.IsEnded());
  });
  script.CancelFile();
  window->OnPackDirectory();
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(PackDirectoryTest, TextsAreRememberedEvenAfterCancel) {
  script.Dialog([&](ModalDialog& d) {
    AsPack(d).SourceEdit()->setText("/typed/source");
    AsPack(d).BaseEdit()->setText("typedbase");
    d.OnCancel();
  });
  window->OnPackDirectory();
  EXPECT_EQ(window->m_strLastSourceDir, "/typed/source");
  EXPECT_EQ(window->m_strLastBasePath, "typedbase");
  script.Dialog([&](ModalDialog& d) {
    EXPECT_EQ(AsPack(d).SourceEdit()->text(), "/typed/source") << "the next dialog starts with them";
    EXPECT_EQ(AsPack(d).BaseEdit()->text(), "typedbase");
  });
  window->OnPackDirectory();
}

TEST_F(PackDirectoryTest, BrowseSuggestsTheFolderNameAndCancelKeepsTheTexts) {
  script.Dialog([&](ModalDialog& d) {
    PackDirDialog& dialog = AsPack(d);
    dialog.BaseEdit()->setText("kept");
    dialog.SourceEdit()->setText("/kept/source");
    dialog.OnBrowseSource();  // cancelled
    EXPECT_EQ(dialog.SourceEdit()->text(), "/kept/source");
    EXPECT_EQ(dialog.BaseEdit()->text(), "kept");
    dialog.OnBrowseSource();
    EXPECT_EQ(dialog.SourceEdit()->text(), QString::fromStdString(source));
    EXPECT_EQ(dialog.BaseEdit()->text(), "Objects");
    dialog.OnBrowseSource();  // a root folder
    EXPECT_EQ(dialog.BaseEdit()->text(), "");
  });
  script.CancelFolder().Folder(source).Folder("/");
  window->OnPackDirectory();
  const auto asked = script.Folders();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].title, "Choose directory to pack");
  EXPECT_EQ(asked[0].style, vzrui::FolderStyle::Classic);
  EXPECT_EQ(asked[0].ownerTitle, "Pack Directory to .vzr");
}

TEST_F(PackDirectoryTest, DialogStartsWithFocusOnPackAndPackAsDefault) {
  script.Dialog([&](ModalDialog& d) {
    PackDirDialog& dialog = AsPack(d);
    EXPECT_TRUE(dialog.PackButton()->isDefault());
    EXPECT_EQ(dialog.windowTitle(), "Pack Directory to .vzr");
    EXPECT_EQ(dialog.GetDlgItem(toolset::kIdcBrowse)->property("text").toString(), "...");
  });
  window->OnPackDirectory();
}
