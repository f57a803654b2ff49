// The engine object, its index and name list, the status binding and the
// trace channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format.h"
#include "testutil.h"
#include "trace.h"
#include "vzrpack.h"

using testutil::TempDir;

TEST(EngineObject, NewObjectHasEmptyIndexNoStreamAndInitialBuffers) {
  VzrArchive archive;
  EXPECT_EQ(archive.FileIndex.count, 0u);
  EXPECT_EQ(archive.vzrFileStream, nullptr);
  EXPECT_EQ(archive.storageMode, 0u);
  EXPECT_STREQ(archive.vzr_file_name, "");
  EXPECT_EQ(archive.fileBufferCapacity, 4000000u);
  EXPECT_EQ(archive.storeBufferCapacity, 6000260u);
  EXPECT_NE(archive.fileBuffer, nullptr);
  EXPECT_NE(archive.storeBuffer, nullptr);
  EXPECT_EQ(archive.basePath, nullptr);
  archive.CloseArchiveStream();  // nothing held: nothing happens
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST(EngineObject, DestructionLeavesCheckpoint77) {
  CodePosition = 0;
  { VzrArchive archive; }
  EXPECT_EQ(CodePosition, 77);
}

TEST(EngineObject, OpenArchiveStreamFailsUntilTheFileExists) {
  TempDir dir;
  VzrArchive archive;
  std::strcpy(archive.vzr_file_name, (dir / "late.vzr").c_str());
  EXPECT_EQ(archive.OpenArchiveStream(), 2);
  EXPECT_EQ(archive.vzrFileStream, nullptr);
  testutil::WriteFileText(dir / "late.vzr", "x");
  EXPECT_EQ(archive.OpenArchiveStream(), 0);
  EXPECT_NE(archive.vzrFileStream, nullptr);
  archive.CloseArchiveStream();
  EXPECT_EQ(archive.vzrFileStream, nullptr);
}

TEST(EngineObject, BuffersOnlyGrow) {
  VzrArchive archive;
  unsigned char* before = archive.fileBuffer;
  EXPECT_TRUE(archive.GrowFileBuffer(100));
  EXPECT_EQ(archive.fileBuffer, before) << "a smaller request must keep the buffer";
  EXPECT_TRUE(archive.GrowFileBuffer(4000001));
  EXPECT_EQ(archive.fileBufferCapacity, 4000001u);
  EXPECT_TRUE(archive.GrowStoreBuffer(7000000));
  EXPECT_EQ(archive.storeBufferCapacity, 7000000u);
}

TEST(FileIndexType, ResizeKeepsCountAndAppendFillsSpareElements) {
  FileIndex index;
  FileEntry e;
  e.nameLength = 1;
  e.name[0] = 'a';
  index.append(e);
  index.append(e);
  index.append(e);
  index.resize(5);
  EXPECT_EQ(index.count, 3u);
  EXPECT_EQ(index.files.size(), 5u);
  EXPECT_EQ(index.files[4].nameLength, 0u) << "new elements are blank";
  e.name[0] = 'd';
  index.append(e);
  EXPECT_EQ(index.count, 4u);
  EXPECT_EQ(index.files.size(), 5u) << "append reuses a spare element";
  EXPECT_EQ(index.files[3].name[0], 'd');
  index.release();
  EXPECT_EQ(index.count, 0u);
  EXPECT_EQ(index.files.size(), 0u);
}

TEST(PackNameListType, GrowsPastCapacityKeepingEveryString) {
  PackNameList list;
  EXPECT_EQ(list.Append("first"), 1u);
  EXPECT_EQ(list.EntryCapacity(), 2u);
  std::vector<std::string> expected{"first"};
  for (int i = 0; i < 100; ++i) {
    expected.push_back("path/number/" + std::to_string(i));
    EXPECT_EQ(list.Append(expected.back().c_str()), expected.size());
  }
  // 2 -> 6 -> 14 -> 30 -> 62 -> 126: twice the length plus 2 each time.
  EXPECT_EQ(list.EntryCapacity(), 126u);
  ASSERT_EQ(list.Count(), expected.size());
  for (uint32_t i = 0; i < list.Count(); ++i) EXPECT_STREQ(list.Get(i), expected[i].c_str()) << "string " << i;
  EXPECT_EQ(list.Get(list.Count()), nullptr);
  EXPECT_EQ(list.Get(UINT32_MAX), nullptr);
  list.Append("");
  EXPECT_STREQ(list.Get(list.Count() - 1), "");
}

namespace {
struct RecordingWindow : StatusWindow {
  std::string* text = nullptr;
  std::vector<std::string> pushed;
  int repaints = 0;
  void PushFieldsToControls() override { pushed.push_back(*text); }
  void RepaintNow() override { ++repaints; }
};
}  // namespace

TEST(StatusSinkType, SetTextAssignsThenPushesAndRepaintRepaints) {
  std::string status;
  RecordingWindow window;
  window.text = &status;
  StatusSink sink;
  sink.text = &status;
  sink.window = &window;
  SetStatusSink(&sink);
  GetStatusSink()->SetText("Packing...");
  GetStatusSink()->Repaint();
  EXPECT_EQ(status, "Packing...");
  ASSERT_EQ(window.pushed.size(), 1u);
  EXPECT_EQ(window.pushed[0], "Packing...") << "the window must see the new text when it pushes";
  EXPECT_EQ(window.repaints, 1);
  SetStatusSink(nullptr);
  ASSERT_NE(GetStatusSink(), nullptr);
  GetStatusSink()->SetText("dropped");  // unbound: nothing happens
  GetStatusSink()->Repaint();
  EXPECT_EQ(status, "Packing...");
}

TEST(TraceLogChannel, PiecesMakeOneFlushedLine) {
  testutil::TraceCapture capture;
  TraceLog("unpackedSize_MB: ", 4294967295u, " x ", -5, " ", std::string("end"));
  TraceLog("");
  EXPECT_EQ(capture.Text(), "unpackedSize_MB: 4294967295 x -5 end\n\n");
}

TEST(FormatConstants, FixedBlockAndEmptyFormAreWhatTheFormatSays) {
  EXPECT_EQ(sizeof vzr::kFixedBlock.bytes, 148u);
  EXPECT_EQ(vzr::kHeaderSize, 8u + 148u);
  EXPECT_EQ(vzr::StoreCapacityFor(4000512), 6001024u);
  EXPECT_EQ(vzr::kInitialStoreBufferSize, 4000000u * 3 / 2 + 260);
}
