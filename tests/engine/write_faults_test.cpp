// Writes that fail part-way, through the write fault hook and through a
// file-size limit in a child process: each is reported as a failure, and no
// archive or extracted file is left damaged.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::FaultHookGuard;
using opstest::Load;
using opstest::Pattern;
using opstest::RunWithFileSizeLimit;
using opstest::StatusRecorder;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

int PackQuietly(const std::string& source, const std::string& archive) {
  char src[512] = {}, base[512] = "base";
  std::strncpy(src, source.c_str(), sizeof src - 1);
  testutil::TraceCapture quiet;
  return PackDirectory(src, base, archive.c_str(), 1);
}

void MakeTree(const TempDir& dir) {
  testutil::WriteFileBytes(dir / "src/a.bin", Pattern(30000, 1));
  testutil::WriteFileBytes(dir / "src/b/c.bin", Pattern(30000, 2));
  testutil::WriteFileBytes(dir / "src/b/d.txt", Pattern(100, 3));
}

}  // namespace

TEST(ExtractWriteFaults, AFailedWriteFailsAndRemovesThePartialFile) {
  CurrentDirGuard keep;
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("sub/f.bin", Pattern(5000, 1));
  layout.WriteTo(dir / "x.vzr");
  fs::create_directory(dir / "out");
  VzrArchive archive;
  Load(archive, dir / "x.vzr");
  FaultHookGuard fail([](uint64_t) { return ENOSPC; });
  testutil::TraceCapture capture;
  EXPECT_EQ(archive.Extract(0, (dir / "out").c_str()), nullptr);
  EXPECT_EQ(capture.Text(), "ERROR! Could not write: sub/f.bin\n");
  EXPECT_FALSE(fs::exists(dir / "out/sub/f.bin"));
}

TEST(ExtractWriteFaults, FileSizeLimitMidFileIsAFailureOfExtractAll) {
  CurrentDirGuard keep;
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("small.txt", Pattern(1000, 1));
  layout.AddRaw("large.bin", Pattern(200000, 2));
  layout.AddRaw("after.txt", Pattern(10, 3));
  layout.WriteTo(dir / "x.vzr");
  fs::create_directory(dir / "out");
  const int code = RunWithFileSizeLimit(100000, [&] {
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    testutil::TraceCapture quiet;
    return archive.ExtractAll((dir / "out").c_str());
  });
  EXPECT_EQ(code, 5);
  EXPECT_EQ(opstest::FilesBelow(dir / "out"), std::vector<std::string>{"small.txt"})
      << "the cut-off file is removed and later entries are not tried";
}

TEST(PackWriteFaults, EveryFailingWriteDeletesTheArchiveAndSaysSo) {
  TempDir dir;
  MakeTree(dir);
  // Count the writes of a sound pack, then fail each of them in turn.
  uint64_t writes = 0;
  {
    FaultHookGuard count([&](uint64_t n) {
      writes = n;
      return 0;
    });
    ASSERT_EQ(PackQuietly(dir / "src", dir / "ok.vzr"), 3);
  }
  ASSERT_GE(writes, 5u);
  for (uint64_t failing = 1; failing <= writes; ++failing) {
    StatusRecorder status;
    {
      FaultHookGuard fail([failing](uint64_t n) { return n == failing ? EIO : 0; });
      EXPECT_EQ(PackQuietly(dir / "src", dir / "bad.vzr"), 1) << "write " << failing;
    }
    EXPECT_EQ(status.Last(), "Error! Could not write .vzr file: " + (dir / "bad.vzr")) << "write " << failing;
    EXPECT_FALSE(fs::exists(dir / "bad.vzr")) << "write " << failing;
  }
}

TEST(PackWriteFaults, FileSizeLimitDeletesTheIncompleteArchive) {
  TempDir dir;
  MakeTree(dir);
  const int code = RunWithFileSizeLimit(40000, [&] {
    StatusRecorder status;
    const int result = PackQuietly(dir / "src", dir / "out.vzr");
    return result == 1 && status.Last() == "Error! Could not write .vzr file: " + (dir / "out.vzr") ? 0 : 1;
  });
  EXPECT_EQ(code, 0) << "the child saw a success or the wrong status";
  EXPECT_FALSE(fs::exists(dir / "out.vzr"));
}

TEST(ReplaceWriteFaults, EveryFailingWriteKeepsTheArchiveAndTheIndex) {
  for (uint32_t mode : {0u, 1u}) {
    TempDir dir;
    ArchiveLayout layout;
    layout.storageMode = mode;
    for (int i = 0; i < 3; ++i) {
      const Bytes content = Pattern(40000 + i, i);
      std::string name = "e";
      name += std::to_string(i);
      layout.entries.push_back({name, mode == 1 ? testutil::LiteralSegmentedForm(content) : content,
                              static_cast<uint32_t>(content.size())});
    }
    layout.WriteTo(dir / "x.vzr");
    const Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
    const Bytes content = Pattern(70000, 8);

    uint64_t writes = 0;
    {
      VzrArchive probe;
      Load(probe, dir / "x.vzr");
      std::copy(content.begin(), content.end(), probe.fileBuffer);
      FaultHookGuard count([&](uint64_t n) {
        writes = n;
        return 0;
      });
      testutil::TraceCapture quiet;
      ASSERT_EQ(probe.AddReplaceFile(1, 70000), 0);
    }
    ASSERT_GE(writes, 5u);
    testutil::WriteFileBytes(dir / "x.vzr", original);

    for (uint64_t failing = 1; failing <= writes; ++failing) {
      VzrArchive archive;
      Load(archive, dir / "x.vzr");
      const std::vector<FileEntry> before(archive.FileIndex.files.begin(), archive.FileIndex.files.begin() + 3);
      const uint32_t indexOffset = archive.indexOffset;
      std::copy(content.begin(), content.end(), archive.fileBuffer);
      StatusRecorder status;
      {
        FaultHookGuard fail([failing](uint64_t n) { return n == failing ? ENOSPC : 0; });
        testutil::TraceCapture quiet;
        EXPECT_EQ(archive.AddReplaceFile(1, 70000), 1) << "mode " << mode << " write " << failing;
      }
      EXPECT_EQ(status.Last(), "ERROR! Could not update .vzr!");
      EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original) << "mode " << mode << " write " << failing;
      EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty()) << "write " << failing;
      EXPECT_EQ(archive.indexOffset, indexOffset);
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(archive.FileIndex.files[i].fileOffset, before[i].fileOffset) << "write " << failing;
        EXPECT_EQ(archive.FileIndex.files[i].compSize, before[i].compSize) << "write " << failing;
        EXPECT_EQ(archive.FileIndex.files[i].fileSize, before[i].fileSize) << "write " << failing;
      }
      unsigned char* got = archive.Extract(2, nullptr);
      EXPECT_NE(got, nullptr) << "the index still reads the archive on disk, write " << failing;
      archive.CloseArchiveStream();
    }
  }
}

TEST(ReplaceWriteFaults, FileSizeLimitKeepsTheArchive) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", Pattern(30000, 1));
  layout.AddRaw("b", Pattern(30000, 2));
  layout.WriteTo(dir / "x.vzr");
  const Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
  // The limit lets the old archive stay readable but stops the larger copy.
  const int code = RunWithFileSizeLimit(original.size() + 1000, [&] {
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    const Bytes content = Pattern(50000, 3);
    std::copy(content.begin(), content.end(), archive.fileBuffer);
    StatusRecorder status;
    testutil::TraceCapture quiet;
    const int result = archive.AddReplaceFile(0, 50000);
    return result == 1 && status.Last() == "ERROR! Could not update .vzr!" ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original);
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
}

TEST(DurableSave, AFailedFlushBeforeTheMoveKeepsTheOldArchive) {
  TempDir dir;
  ArchiveLayout layout;
  layout.AddRaw("a", Pattern(30000, 1));
  layout.AddRaw("b", Pattern(30000, 2));
  layout.WriteTo(dir / "x.vzr");
  const Bytes original = testutil::ReadFileBytes(dir / "x.vzr");
  const Bytes content = Pattern(40000, 3);
  auto replace = [&](uint64_t& calls, const std::function<int(uint64_t)>& answer) {
    VzrArchive archive;
    Load(archive, dir / "x.vzr");
    std::copy(content.begin(), content.end(), archive.fileBuffer);
    StatusRecorder status;
    FaultHookGuard hook([&](uint64_t n) {
      calls = n;
      return answer(n);
    });
    testutil::TraceCapture quiet;
    const int result = archive.AddReplaceFile(0, 40000);
    archive.CloseArchiveStream();
    return result == 0 ? std::string("saved") : status.Last();
  };
  uint64_t calls = 0;
  ASSERT_EQ(replace(calls, [](uint64_t) { return 0; }), "saved");
  const Bytes saved = testutil::ReadFileBytes(dir / "x.vzr");
  const uint64_t last = calls;
  testutil::WriteFileBytes(dir / "x.vzr", original);
  // The last question the hook is asked is the flush: the copy is whole then.
  bool copyWhole = false;
  EXPECT_EQ(replace(calls, [&](uint64_t n) {
              if (n != last) return 0;
              for (const std::string& name : testutil::TemporariesBeside(dir / "x.vzr"))
                copyWhole = copyWhole || testutil::ReadFileBytes(dir / name) == saved;
              return EIO;
            }),
            "ERROR! Could not update .vzr!");
  EXPECT_TRUE(copyWhole) << "the failed question came before the copy was complete";
  EXPECT_EQ(testutil::ReadFileBytes(dir / "x.vzr"), original);
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "x.vzr").empty());
}
