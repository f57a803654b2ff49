// The Toolset's presenter against a fake window: open, show, edit and save,
// the questions before an edit is lost, and the messages of unreadable
// entries.
#include <gtest/gtest.h>

#include "archivebytes.h"
#include "entryfaults.h"
#include "fakeviews.h"
#include "vzrpack.h"

namespace presenttest {
namespace {

using present::kIdcSaveChanges;
using present::kIdNo;
using present::kIdOk;
using present::kIdYes;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::ToBytes;

// The bytes of entry index as the engine reads them back from disk.
std::string StoredEntry(const std::string& path, uint32_t index) {
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  const unsigned char* data = archive.Extract(index, nullptr);
  return data ? std::string(reinterpret_cast<const char*>(data), archive.FileIndex.files[index].fileSize) : "";
}

class ToolsetPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override { presenter.OnInitDialog(); }

  std::string Open(const ArchiveLayout& layout) {
    const std::string path = dir / "scripts.vzr";
    layout.WriteTo(path);
    view.host.files.push_back(path);
    presenter.OnFileOpen();
    return path;
  }
  void Select(int row) {
    view.selected = {row};
    presenter.OnItemchangedMainlist();
  }

  TempFolder dir;
  CurrentFolderGuard cwd;
  FakeToolsetView view;
  present::ToolsetPresenter presenter{view};
};

TEST_F(ToolsetPresenterTest, OpenListsTheEntriesAndCountsThem) {
  ArchiveLayout layout;
  layout.AddRaw("levels/init.con", "run\r\n");
  layout.AddRaw("map.dds", "DDS");
  Open(layout);
  EXPECT_EQ(view.rows, 2);
  EXPECT_EQ(view.status, "Files: 2");
  const present::EntryRow row = presenter.Row(1);
  EXPECT_EQ(row.name, "map.dds");
  EXPECT_EQ(row.size, "3");
  EXPECT_EQ(row.offset, "161") << "behind the 156-byte header and the first entry";
  EXPECT_EQ(presenter.Row(2).name, "") << "a row the index does not have shows nothing";
}

TEST_F(ToolsetPresenterTest, ATextEntryIsShownForEditingAndAnotherKindIsNot) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "alpha");
  layout.AddRaw("b.dds", "DDS");
  Open(layout);
  Select(0);
  EXPECT_EQ(view.editor, "alpha");
  EXPECT_EQ(view.currentFile, "a.con");
  EXPECT_TRUE(view.IsEnabled(kIdcSaveChanges));
  Select(1);
  EXPECT_EQ(view.editor, "");
  EXPECT_EQ(view.currentFile, "NoFile");
  EXPECT_FALSE(view.IsEnabled(kIdcSaveChanges));
}

TEST_F(ToolsetPresenterTest, Utf8TextIsShownAsUtf8AndSavedBackAsUtf8) {
  ArchiveLayout layout;
  layout.AddRaw("bridge.con", "Br\u00fccke \u2026 Stra\u00dfe\r\n");
  const std::string path = Open(layout);
  Select(0);
  EXPECT_EQ(view.editor, "Br\u00fccke \u2026 Stra\u00dfe\n");
  view.editor = "\u0150sterreich \u2260 Br\u00fccke\n";
  presenter.OnSaveChanges();
  EXPECT_EQ(StoredEntry(path, 0), "\u0150sterreich \u2260 Br\u00fccke\r\n");
}

TEST_F(ToolsetPresenterTest, ACharacterWindows1252CannotHoldIsRefusedByName) {
  ArchiveLayout layout;
  layout.AddRaw("old.con", "Stra\xDF" "e\r\n");
  const std::string path = Open(layout);
  Select(0);
  EXPECT_EQ(view.editor, "Stra\u00dfe\n");
  view.editor = "\u0150dön\n";
  view.host.buttons = {kIdOk};
  EXPECT_FALSE(presenter.doGoSaveChanges());
  ASSERT_EQ(view.host.asked.size(), 1u);
  EXPECT_EQ(view.host.asked[0].text,
            "The text holds \"\u0150\" (U+0150), which this Windows-1252 script cannot store.\n"
            "Your changes were not saved; replace that character and save again.");
  EXPECT_EQ(StoredEntry(path, 0), "Stra\xDF" "e\r\n") << "nothing was written, no '?' in its place";
  EXPECT_EQ(presenter.m_bModified, 1) << "the edit is still to be saved";
}

TEST_F(ToolsetPresenterTest, AnEditIsOfferedForSavingBeforeAnotherEntryReplacesIt) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "alpha");
  layout.AddRaw("b.con", "bravo");
  const std::string path = Open(layout);
  Select(0);
  view.editor = "alpha two";
  view.host.buttons = {kIdYes};
  Select(1);
  EXPECT_EQ(view.host.Texts(), std::vector<std::string>{"Text was modified. Save changes?"});
  EXPECT_EQ(StoredEntry(path, 0), "alpha two");
  EXPECT_EQ(view.editor, "bravo");
}

TEST_F(ToolsetPresenterTest, TheExitCheckKeepsTheWindowOnCancelAndClosesOnNo) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "alpha");
  const std::string path = Open(layout);
  Select(0);
  view.editor = "edited";
  view.host.buttons = {present::kIdCancel, kIdNo};
  presenter.OnCancel();
  EXPECT_FALSE(view.closed);
  presenter.OnCancel();
  EXPECT_TRUE(view.closed);
  EXPECT_EQ(view.host.asked.size(), 2u);
  EXPECT_EQ(StoredEntry(path, 0), "alpha");
}

// Each fault of a stored form, with the words "vzr test" gives it.
TEST_F(ToolsetPresenterTest, AnUnreadableEntryIsNamedWithTheReason) {
  ArchiveLayout segmented;
  segmented.storageMode = 1;
  Bytes damaged = testutil::LiteralSegmentedForm(ToBytes("a script of some length"));
  damaged.at(16) = 0x00;  // the stream's first instruction
  segmented.entries.push_back({"\u00d6lfeld.con", damaged, 23});
  ArchiveLayout outside;
  outside.entries.push_back({"far.con", ToBytes("far"), 3});
  ArchiveLayout unknownMode;
  unknownMode.storageMode = 7;
  unknownMode.AddRaw("odd.con", "odd");
  const struct {
    ArchiveLayout layout;
    std::string reason;
    std::size_t patchAt;
  } cases[] = {{segmented, vzr::kFaultDamagedStream, 0},
               {outside, vzr::kFaultOutsideDataArea, 1},
               {unknownMode, "unknown storage mode 7", 0}};
  for (const auto& c : cases) {
    Bytes bytes = c.layout.Build();
    if (c.patchAt) {  // compSize of the first entry, past the index
      const uint32_t index = testutil::GetLE32(bytes, 0);
      bytes.at(index + 4 + 4 + 7) = 200;
    }
    testutil::WriteFileBytes(dir / "bad.vzr", bytes);
    view.host.files.push_back(dir / "bad.vzr");
    presenter.OnFileOpen();
    view.host.buttons = {kIdOk};
    view.host.asked.clear();
    Select(0);
    ASSERT_EQ(view.host.asked.size(), 1u) << c.reason;
    const std::string name = c.layout.entries[0].name;
    EXPECT_EQ(view.host.asked[0].text, "The entry \"" + name + "\" could not be read: " + c.reason + ".");
  }
}

}  // namespace
}  // namespace presenttest
