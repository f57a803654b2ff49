// The Win32 dialogs in process, driven through their real controls, with the
// scripted seam answering their questions. Run under wine on a display
// (scripts/test-windows-gui.sh) or on Windows.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "resource.h"
#include "toolsetwindow.h"
#include "winhost.h"
#include "winscript.h"
#include "wintext.h"
#include "vzrpack.h"

namespace {

using win32ui::ScriptedAnswers;

void HandleWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Whether this session can show windows at all (wine without an X display
// cannot): a plain static control stands for any window.
bool CanCreateWindows() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

// A folder of its own with an archive of one script entry and one image.
class ToolsetWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display)";
    SetTraceSink([](const std::string&) {});
    LoadLibraryW(L"Msftedit.dll");
    folder_ = std::filesystem::temp_directory_path() / ("vzr-win32ui-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "src" / "scripts");
    WriteBytes(folder_ / "src" / "scripts" / "init.con", kScript);
    WriteBytes(folder_ / "src" / "sky.dds", "DDS ");
    std::string source = (folder_ / "src").string(), base = "data";
    source.resize(512);
    base.resize(512);
    archive_ = (folder_ / "test.vzr").string();
    PackDirectory(source.data(), base.data(), archive_.c_str(), 1);
    ASSERT_TRUE(window_.Create(nullptr));
    window_.Presenter().OpenArchiveFile(archive_);
    HandleWaitingMessages();
    ASSERT_EQ(window_.StatusText(), "Files: 2");
  }
  void TearDown() override {
    if (window_.Handle() != nullptr) window_.EndDialog(IDCANCEL);
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
  }

  static void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }

  // Selects the script's row as a click would, and lets the window react.
  void SelectScript() {
    HWND list = window_.Item(IDC_MAINLIST);
    const int row = window_.Presenter().Row(0).name == "data/scripts/init.con" ? 0 : 1;
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    HandleWaitingMessages();
    ASSERT_EQ(window_.ItemText(IDC_CURRENTFILE), "data/scripts/init.con");
  }

  void TypeIntoEditor(const std::wstring& text) {
    SetWindowTextW(window_.Item(IDC_TEXT), text.c_str());
  }

  void Command(int id) { SendMessageW(window_.Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

  // UTF-8 with mixed line ends: the editor must hand every byte back.
  const std::string kScript = "// sp\xc3\xa9" "cial\r\nset a 1\nset b 2\r\n";
  std::filesystem::path folder_;
  std::string archive_;
  toolset_win32::ToolsetWindow window_;
};

TEST(ConvertFilter, GivesTheDialogsPairsOfZeroTerminatedStrings) {
  const struct {
    const char* filter;
    std::wstring converted;
  } cases[] = {
      {"VZR File (*.vzr)| *.vzr", std::wstring(L"VZR File (*.vzr)\0*.vzr\0\0", 24)},
      {"A|*.a|B|*.b;*.c|", std::wstring(L"A\0*.a\0B\0*.b;*.c\0\0", 17)},
      {"", std::wstring(L"\0", 1)},
  };
  for (const auto& c : cases) EXPECT_EQ(win32ui::ConvertFilter(c.filter), c.converted) << c.filter;
}

TEST_F(ToolsetWindowTest, TheRichEditControlGivesTheEntryBackByteForByte) {
  SelectScript();
  EXPECT_NE(window_.EditorText().find("sp\xc3\xa9" "cial"), std::string::npos);
  EXPECT_EQ(window_.Presenter().GetEditorText(), kScript);
  EXPECT_EQ(window_.Presenter().doCheckModified(), 0);
}

TEST_F(ToolsetWindowTest, EnterDoesNothingAndEscapeNeverThrowsAnEditAway) {
  SelectScript();
  TypeIntoEditor(L"set a 99\r\n");
  Command(IDOK);
  EXPECT_FALSE(window_.IsEnded());
  ScriptedAnswers script;
  script.Message(present::kIdCancel);
  Command(IDCANCEL);
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].text, "Text was modified. Save changes before exit?");
  EXPECT_EQ(script.Messages()[0].buttons, present::Buttons::YesNoCancel);
  EXPECT_FALSE(window_.IsEnded());
  EXPECT_EQ(window_.EditorText(), "set a 99\n");
}

TEST_F(ToolsetWindowTest, SaveChangesWritesTheEditIntoTheArchive) {
  SelectScript();
  TypeIntoEditor(L"// sp\u00e9cial\r\nset a 5\r\nset b 2\r\n");
  SendMessageW(window_.Item(IDC_SAVECHANGES), BM_CLICK, 0, 0);
  EXPECT_NE(window_.StatusText().find(".vzr was updated."), std::string::npos);
  VzrArchive archive;
  archive.LoadIndex(archive_.c_str());
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    if (std::string(archive.FileIndex.files[i].name) != "data/scripts/init.con") continue;
    const unsigned char* data = archive.Extract(i, nullptr);
    ASSERT_NE(data, nullptr);
    // The line ends the entry had, line by line.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), archive.FileIndex.files[i].fileSize),
              "// sp\xc3\xa9" "cial\r\nset a 5\nset b 2\r\n");
  }
}

TEST_F(ToolsetWindowTest, PackDirectoryRefusesAnEmptySourceAndAsksBeforeReplacing) {
  ScriptedAnswers script;
  script.Dialog([&](win32ui::ModalDialog& dialog) {
    dialog.SetItemText(IDC_SOURCEDIR, "");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_PACK, BN_CLICKED), 0);
    dialog.SetItemText(IDC_SOURCEDIR, (folder_ / "src").string());
    dialog.SetItemText(IDC_BASEPATH, "data");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_PACK, BN_CLICKED), 0);
    EXPECT_FALSE(dialog.IsEnded()) << "No to the replace question keeps the dialog open";
  });
  script.Message(present::kIdOk);
  script.File(archive_);
  script.Message(present::kIdNo);
  Command(ID_PACK_DIRECTORY);
  EXPECT_TRUE(script.Problems().empty()) << script.Problems().front();
  const auto messages = script.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Error! Must specify source directory.");
  EXPECT_EQ(messages[0].caption, "ERROR!");
  EXPECT_EQ(messages[1].text, archive_ + " already exists. Do you want to replace it?");
  EXPECT_EQ(messages[1].caption, "Confirm Save As");
  EXPECT_TRUE(messages[1].defaultNo);
  EXPECT_EQ(window_.Presenter().m_strLastBasePath, "data") << "the texts outlive the dialog";
}

}  // namespace
