// Adding and dropping entries through a rewritten copy of the archive.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::FaultHookGuard;
using opstest::Load;
using opstest::Pattern;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

ArchiveLayout Layout(uint32_t mode, const std::vector<std::pair<std::string, Bytes>>& files) {
  ArchiveLayout layout;
  layout.storageMode = mode;
  for (const auto& [name, content] : files)
    layout.entries.push_back(
        {name, mode == 1 ? testutil::LiteralSegmentedForm(content) : content, static_cast<uint32_t>(content.size())});
  return layout;
}

}  // namespace

TEST(AddRemoveEntries, DropsAndAppendsInBothModesToTheExpectedBytes) {
  const Bytes a = Pattern(100, 1), b = Pattern(40000, 2), c = Pattern(7, 3), d = Pattern(70000, 4);
  for (uint32_t mode : {0u, 1u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    TempDir dir;
    Layout(mode, {{"a.con", a}, {"lev/b.con", b}, {"c.txt", c}}).WriteTo(dir / "x.vzr");
    testutil::WriteFileBytes(dir / "d.bin", d);
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    ASSERT_EQ(archive.AddRemoveEntries({1}, {{"new/d.bin", dir / "d.bin"}, {"LEV/B.CON", dir / "d.bin"}}), 0);

    const Bytes expected = Layout(mode, {{"a.con", a}, {"c.txt", c}, {"new/d.bin", d}, {"LEV/B.CON", d}}).Build();
    EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), expected);
    ASSERT_EQ(archive.FileIndex.count, 4u);
    EXPECT_STREQ(archive.FileIndex.files[2].name, "new/d.bin");
    EXPECT_EQ(archive.indexOffset, testutil::GetLE32(expected, 0));
    EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
    unsigned char* got = archive.Extract(3, nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(std::equal(d.begin(), d.end(), got));
  }
}

TEST(AddRemoveEntries, RefusalsAndFailuresLeaveArchiveAndIndexAsTheyWere) {
  TempDir dir;
  Layout(0, {{"a.con", Pattern(10, 1)}, {"b.con", Pattern(20, 2)}}).WriteTo(dir / "x.vzr");
  testutil::WriteFileText(dir / "f.txt", "new");
  const Bytes before = testutil::ReadFileBytes(dir / "x.vzr");
  const std::string f = dir / "f.txt";
  const struct {
    const char* why;
    std::vector<uint32_t> removed;
    std::vector<VzrArchive::NewEntry> added;
  } cases[] = {
      {"name already there, other case", {}, {{"A.CON", f}}},
      {"name given twice", {}, {{"n", f}, {"N", f}}},
      {"empty name", {}, {{"", f}}},
      {"name too long", {}, {{std::string(260, 'x'), f}}},
      {"index out of range", {2}, {}},
      {"source missing", {0}, {{"n", dir / "missing"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    EXPECT_EQ(archive.AddRemoveEntries(c.removed, c.added), 1);
    EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), before);
    EXPECT_EQ(archive.FileIndex.count, 2u);
    EXPECT_STREQ(archive.FileIndex.files[0].name, "a.con");
    EXPECT_EQ(archive.FileIndex.files[1].fileOffset, 166u);
    EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
  }
}

// A rewrite that drops and adds entries and fails at any write, the last
// ones after the new index has taken the old one's place, leaves every
// record of the index as it was.
TEST(AddRemoveEntries, FailureAtEveryWriteRestoresEveryRecord) {
  TempDir dir;
  Layout(0, {{"a.con", Pattern(10, 1)}, {"b.con", Pattern(20, 2)}, {"c.con", Pattern(30, 3)}, {"d.con", Pattern(5, 4)}})
      .WriteTo(dir / "x.vzr");
  testutil::WriteFileText(dir / "f.txt", "new");
  const Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
  const std::vector<VzrArchive::NewEntry> added = {{"n1", dir / "f.txt"}, {"n2", dir / "f.txt"}};
  for (int failing = 1;; ++failing) {
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    const std::vector<FileEntry> before = archive.FileIndex.files;
    int result = 0;
    {
      FaultHookGuard fail([failing](uint64_t n) { return n == uint64_t(failing) ? ENOSPC : 0; });
      testutil::TraceCapture quiet;
      result = archive.AddRemoveEntries({0, 2}, added);
    }
    if (result == 0) {
      EXPECT_GT(failing, 3) << "a rewrite makes several writes";
      break;
    }
    SCOPED_TRACE("write " + std::to_string(failing));
    EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original);
    ASSERT_EQ(archive.FileIndex.count, 4u);
    ASSERT_EQ(archive.FileIndex.files.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(std::memcmp(&archive.FileIndex.files[i], &before[i], sizeof(FileEntry)), 0) << "record " << i;
  }
}

// A file of several segment groups is streamed in to the same bytes as a
// whole-buffer write gives; the engine's buffers never grow to its size.
TEST(AddRemoveEntries, FileOfManySegmentGroupsIsStreamedToTheSameBytes) {
  const Bytes big = Pattern(64 * 32768 * 2 + 100, 5);
  for (uint32_t mode : {0u, 1u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    TempDir dir;
    Layout(mode, {{"a.con", Pattern(10, 1)}}).WriteTo(dir / "x.vzr");
    testutil::WriteFileBytes(dir / "big.bin", big);
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    const uint32_t fileBuffer = archive.fileBufferCapacity, storeBuffer = archive.storeBufferCapacity;
    ASSERT_EQ(archive.AddRemoveEntries({}, {{"big.bin", dir / "big.bin"}}), 0);
    EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), Layout(mode, {{"a.con", Pattern(10, 1)}, {"big.bin", big}}).Build());
    EXPECT_EQ(archive.fileBufferCapacity, fileBuffer);
    EXPECT_EQ(archive.storeBufferCapacity, storeBuffer);
  }
}
