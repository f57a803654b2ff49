// Loading the index of existing archives, sound and damaged.
#include <gtest/gtest.h>
#include <functional>

#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"
#include "vzrpack.h"

using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::TempDir;

namespace {
std::string Load(VzrArchive& archive, const std::string& path) {
  testutil::TraceCapture capture;
  archive.LoadIndex(path.c_str());
  return capture.Text();
}
}  // namespace

TEST(LoadIndex, EmptyArchiveIs164BytesWithNoEntries) {
  TempDir dir;
  ArchiveLayout layout;
  const Bytes bytes = layout.Build();
  ASSERT_EQ(bytes.size(), 164u);
  testutil::WriteFileBytes(dir / "empty.vzr", bytes);
  VzrArchive archive;
  Load(archive, dir / "empty.vzr");
  EXPECT_EQ(archive.FileIndex.count, 0u);
  EXPECT_EQ(archive.totalSize, 0u);
  EXPECT_EQ(archive.indexOffset, 156u);
  EXPECT_EQ(archive.archiveLength, 164u);
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST(LoadIndex, ReadsEveryFieldInIndexOrderWithBasePathsUnchanged) {
  TempDir dir;
  ArchiveLayout layout;
  layout.storageMode = 1;
  layout.AddRaw("base/levels/a.con", std::string(10, 'a'));
  layout.AddRaw("Z.txt", std::string(20, 'z'));
  layout.AddRaw("m/x.dds", std::string(30, 'm'));
  layout.entries[1].fileSize = 99;  // fields are taken as stored, not checked
  testutil::WriteFileBytes(dir / "three.vzr", layout.Build());

  VzrArchive archive;
  Load(archive, dir / "three.vzr");
  ASSERT_EQ(archive.FileIndex.count, 3u);
  EXPECT_EQ(archive.storageMode, 1u);
  const FileEntry& first = archive.FileIndex.files[0];
  EXPECT_STREQ(first.name, "base/levels/a.con");
  EXPECT_EQ(first.nameLength, 17u);
  EXPECT_EQ(first.compSize, 10u);
  EXPECT_EQ(first.fileSize, 10u);
  EXPECT_EQ(first.fileOffset, 156u);
  EXPECT_STREQ(archive.FileIndex.files[1].name, "Z.txt");
  EXPECT_EQ(archive.FileIndex.files[1].fileOffset, 166u);
  EXPECT_EQ(archive.FileIndex.files[1].fileSize, 99u);
  EXPECT_EQ(archive.FileIndex.files[2].fileOffset, 186u);
  EXPECT_EQ(archive.totalSize, 10u + 99u + 30u);
  EXPECT_EQ(archive.indexOffset, 216u);
  // 4 + (28 + 17) + (28 + 5) + (28 + 7) index bytes and the trailer.
  EXPECT_EQ(archive.archiveLength, 216u + 4 + 45 + 33 + 35 + 4);
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST(LoadIndex, TraceLinesNameThePathAndTheBuffers) {
  TempDir dir;
  ArchiveLayout().WriteTo(dir / "t.vzr");
  VzrArchive archive;
  const std::string path = dir / "t.vzr";
  const std::string trace = Load(archive, path);
  char expected[1200];
  std::snprintf(expected, sizeof expected, "LoadIndex( \"%s\" )\nvzr_file_name: %p <- %p\n", path.c_str(),
                static_cast<void*>(archive.vzr_file_name), static_cast<const void*>(path.c_str()));
  EXPECT_EQ(trace, expected);
}

TEST(LoadIndex, MissingFileTracesOpenFailAndKeepsTheOldIndex) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a.con", "abc");
  layout.WriteTo(dir / "a.vzr");
  VzrArchive archive;
  Load(archive, dir / "a.vzr");
  ASSERT_EQ(archive.FileIndex.count, 1u);
  const std::string trace = Load(archive, dir / "missing.vzr");
  EXPECT_NE(trace.find("\nvzrFileStream_openFail() \n"), std::string::npos) << trace;
  EXPECT_EQ(archive.FileIndex.count, 1u);
  EXPECT_STREQ(archive.vzr_file_name, (dir / "missing.vzr").c_str());
  EXPECT_EQ(archive.vzrFileStream, nullptr);

  VzrArchive fresh;
  Load(fresh, dir / "missing.vzr");
  EXPECT_EQ(fresh.FileIndex.count, 0u);
}

TEST(LoadIndex, NullPathReloadsThePathHeld) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a.con", "abc");
  layout.WriteTo(dir / "a.vzr");
  VzrArchive archive;
  Load(archive, dir / "a.vzr");
  layout.AddRaw("b.con", "defg");
  layout.WriteTo(dir / "a.vzr");
  testutil::TraceCapture capture;
  archive.LoadIndex(nullptr);
  EXPECT_EQ(capture.Lines().at(0), "LoadIndex( \"\" )");
  EXPECT_EQ(archive.FileIndex.count, 2u);
  EXPECT_EQ(archive.totalSize, 7u);
}

TEST(LoadIndex, IndexOffsetAtOrPastTheEndMeansNoEntriesButKeepsTheMode) {
  TempDir dir;
  ArchiveLayout layout;
  layout.storageMode = 1;
  layout.AddRaw("a.con", "abc");
  Bytes bytes = layout.Build();
  for (uint32_t offset : {static_cast<uint32_t>(bytes.size()), 0xFFFFFFF0u}) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(offset >> (8 * i));
    testutil::WriteFileBytes(dir / "far.vzr", bytes);
    VzrArchive archive;
    const std::string trace = Load(archive, dir / "far.vzr");
    EXPECT_EQ(archive.FileIndex.count, 0u) << offset;
    EXPECT_EQ(archive.totalSize, 0u);
    EXPECT_EQ(archive.storageMode, 1u);
    EXPECT_EQ(trace.find("damaged"), std::string::npos) << "no damage line, as before: " << trace;
    EXPECT_TRUE(archive.indexDamaged) << "but the index could not be read: " << offset;
  }
}

namespace {
// A three-entry archive, cut or bent by `damage`, loaded; returns the count.
uint32_t LoadDamaged(const TempDir& dir, const std::function<void(Bytes&)>& damage, std::string* trace = nullptr) {
  ArchiveLayout layout;
  layout.AddRaw("one.con", "1111");
  layout.AddRaw("two.con", "22");
  layout.AddRaw("three.con", "333");
  Bytes bytes = layout.Build();
  damage(bytes);
  testutil::WriteFileBytes(dir / "d.vzr", bytes);
  VzrArchive archive;
  const std::string text = Load(archive, dir / "d.vzr");
  if (trace) *trace = text;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    EXPECT_LT(archive.FileIndex.files[i].nameLength, 260u);
    EXPECT_EQ(std::strlen(archive.FileIndex.files[i].name), archive.FileIndex.files[i].nameLength);
  }
  return archive.FileIndex.count;
}
}  // namespace

TEST(LoadIndexDamaged, ShortHeaderGivesNoEntriesAndOneDamageLine) {
  TempDir dir;
  for (std::size_t keep : {0u, 3u, 7u}) {
    std::string trace;
    EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(keep); }, &trace), 0u) << keep;
    EXPECT_NE(trace.find("ERROR! LoadIndex(): the index is damaged, entries kept: 0\n"), std::string::npos) << trace;
  }
}

TEST(LoadIndexDamaged, IndexCutShortKeepsTheEntriesBeforeTheCut) {
  TempDir dir;
  const std::size_t indexOffset = 156 + 9;
  const std::size_t firstEntryEnd = indexOffset + 4 + 28 + 7;
  const std::size_t secondEntryEnd = firstEntryEnd + 28 + 7;
  EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(indexOffset + 2); }), 0u);
  EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(firstEntryEnd - 1); }), 0u);
  EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(firstEntryEnd); }), 1u);
  EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(secondEntryEnd + 10); }), 2u);
  std::string trace;
  EXPECT_EQ(LoadDamaged(dir, [&](Bytes& b) { b.resize(secondEntryEnd + 10); }, &trace), 2u);
  EXPECT_NE(trace.find("damaged, entries kept: 2"), std::string::npos) << trace;
  // Every cut position: never more entries than fit, never a crash.
  for (std::size_t cut = 0; cut < 156 + 9 + 4 + 3 * 28 + 23 + 4; ++cut) {
    const uint32_t n = LoadDamaged(dir, [&](Bytes& b) { b.resize(cut); });
    EXPECT_LE(n, 3u) << cut;
  }
}

TEST(LoadIndexDamaged, OverlongNameStopsAtThatEntry) {
  TempDir dir;
  const std::size_t secondNameLength = 156 + 9 + 4 + 28 + 7;
  for (uint32_t length : {260u, 4000u, 0xFFFFFFFFu}) {
    const uint32_t n = LoadDamaged(dir, [&](Bytes& b) {
      for (int i = 0; i < 4; ++i) b[secondNameLength + i] = static_cast<unsigned char>(length >> (8 * i));
    });
    EXPECT_EQ(n, 1u) << "nameLength " << length;
  }
  // 259 is the longest name the field holds.
  ArchiveLayout layout;
  layout.AddRaw(std::string(259, 'n'), "x");
  layout.WriteTo(dir / "long.vzr");
  VzrArchive archive;
  const std::string trace = Load(archive, dir / "long.vzr");
  ASSERT_EQ(archive.FileIndex.count, 1u) << trace;
  EXPECT_EQ(std::strlen(archive.FileIndex.files[0].name), 259u);
}

TEST(LoadIndexDamaged, HugeCountNeitherAllocatesGigabytesNorInventsEntries) {
  TempDir dir;
  const std::size_t countAt = 156 + 9;
  std::string trace;
  ArchiveLayout layout;
  layout.AddRaw("one.con", "1111");
  layout.AddRaw("two.con", "22");
  layout.AddRaw("three.con", "333");
  Bytes bytes = layout.Build();
  const uint32_t count = 4000000000u;
  for (int i = 0; i < 4; ++i) bytes[countAt + i] = static_cast<unsigned char>(count >> (8 * i));
  testutil::WriteFileBytes(dir / "huge.vzr", bytes);
  VzrArchive archive;
  trace = Load(archive, dir / "huge.vzr");
  const uint32_t n = archive.FileIndex.count;
  // The rest of the file holds at most (index bytes - 4) / 28 entries.
  EXPECT_LE(archive.FileIndex.files.size(), (bytes.size() - countAt - 4) / 28)
      << "entry storage must be sized from the file, not from count";
  EXPECT_EQ(n, 3u) << "the three real entries are kept";
  EXPECT_NE(trace.find("damaged, entries kept: 3"), std::string::npos) << trace;
}

TEST(LoadIndexDamaged, FlagSaysWhetherTheIndexWasReadWhole) {
  TempDir dir;
  const std::size_t countAt = 156 + 4;  // after the one 4-byte entry
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    bool damaged;
  };
  const Case cases[] = {
      {"sound", [](Bytes&) {}, false},
      {"empty file", [](Bytes& b) { b.clear(); }, true},
      {"text file", [](Bytes& b) { b.assign({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}); }, true},
      {"cut in the index", [&](Bytes& b) { b.resize(countAt + 10); }, true},
      {"huge count", [&](Bytes& b) { b[countAt + 3] = 0xF0; }, true},
  };
  for (const Case& c : cases) {
    ArchiveLayout layout;
    layout.AddRaw("one.con", "1111");
    Bytes bytes = layout.Build();
    c.damage(bytes);
    testutil::WriteFileBytes(dir / "f.vzr", bytes);
    VzrArchive archive;
    archive.indexDamaged = !c.damaged;  // a stale value must not survive
    Load(archive, dir / "f.vzr");
    EXPECT_EQ(archive.indexDamaged, c.damaged) << c.what;
  }
}

TEST(TraceSink, TakesEveryLineInsteadOfStandardOutputUntilCleared) {
  std::vector<std::string> lines;
  SetTraceSink([&](const std::string& line) { lines.push_back(line); });
  VzrArchive archive;
  std::string toStdout = Load(archive, "/nonexistent/x.vzr");
  SetTraceSink(nullptr);
  EXPECT_EQ(toStdout, "");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "LoadIndex( \"/nonexistent/x.vzr\" )");
  toStdout = Load(archive, "/nonexistent/x.vzr");
  EXPECT_NE(toStdout.find("LoadIndex("), std::string::npos) << "standard output again once cleared";
}
