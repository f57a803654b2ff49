// Disk full and failing writes: packing, extraction, replacement and the
// fallback copy of tavMoveFile, with a write failing at every position of a
// small case (ENOSPC or EFBIG through the file services' fault hook), and
// with a real file-size limit in a child process. Each must report the
// failure, leave no archive that passes for complete, and lose nothing that
// was on disk before.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "childprocess.h"
#include "testutil.h"
#include "vzrpack.h"

namespace fs = std::filesystem;
using testutil::Bytes;
using testutil::TempDir;

namespace {

// The status line while it lives.
class StatusCapture {
 public:
  StatusCapture() {
    sink_.text = &text_;
    SetStatusSink(&sink_);
  }
  ~StatusCapture() { SetStatusSink(nullptr); }
  StatusCapture(const StatusCapture&) = delete;
  StatusCapture& operator=(const StatusCapture&) = delete;
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  StatusSink sink_;
};

// Alternates the two errors a full disk or a size limit gives.
int ErrorFor(uint64_t n) { return n % 2 ? ENOSPC : EFBIG; }

Bytes Content(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>('a' + (i * 7 + seed) % 26);
  return b;
}

// Every regular file below folder, by relative path, with its bytes.
std::map<std::string, Bytes> Snapshot(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).generic_string()] = testutil::ReadFileBytes(entry.path().string());
  return files;
}

// Files beside `path` whose names start with its file name plus a dot:
// temporary files a failed operation left behind.
std::vector<std::string> LeftoversBeside(const std::string& path) {
  std::vector<std::string> found;
  const fs::path p(path);
  const std::string prefix = p.filename().string() + ".";
  for (const auto& entry : fs::directory_iterator(p.parent_path()))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path().string());
  return found;
}

// ---------------------------------------------------------------------------
// The new file that replaces a target once whole

TEST(CreateBeside, NeverReusesAFileThatExists) {
  TempDir dir;
  const std::string target = dir / "a.con";
  testutil::WriteFileText(target, "target");
  testutil::WriteFileText(target + ".part", "someone's file");
  std::string part;
  std::FILE* f = vzrfs::CreateBeside(target.c_str(), part);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(part.size(), target.size() + 7);
  EXPECT_EQ(part.rfind(target + ".", 0), 0u);
  EXPECT_TRUE(vzrfs::Close(f));
  EXPECT_EQ(testutil::ReadFileBytes(target + ".part"), testutil::ToBytes("someone's file"));
  EXPECT_EQ(testutil::ReadFileBytes(target), testutil::ToBytes("target"));
}

TEST(CreateBeside, ANameAtTheLengthLimitGetsAShortTemporaryName) {
  TempDir dir;
  const std::string target = dir / std::string(255, 'n');
  std::string part;
  std::FILE* f = vzrfs::CreateBeside(target.c_str(), part);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(part.rfind(dir / "vzr.", 0), 0u);
  EXPECT_EQ(part.size(), (dir / "vzr.").size() + 6);
  EXPECT_TRUE(vzrfs::Close(f));
  EXPECT_TRUE(vzrfs::MoveReplace(part.c_str(), target.c_str()));
  EXPECT_TRUE(fs::exists(target));
}

// ---------------------------------------------------------------------------
// Replacement

struct ReplaceCase {
  const char* what;
  uint32_t storageMode;
};

Bytes ThreeEntryArchive(uint32_t storageMode, std::vector<Bytes>& contents) {
  contents = {Content(300, 1), Content(5000, 2), Content(40000, 3)};
  testutil::ArchiveLayout layout;
  layout.storageMode = storageMode;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const Bytes stored = storageMode ? testutil::LiteralSegmentedForm(contents[i]) : contents[i];
    layout.entries.push_back({"x/e" + std::to_string(i), stored, static_cast<uint32_t>(contents[i].size())});
  }
  return layout.Build();
}

bool SameEntries(const FileIndex& a, const std::vector<FileEntry>& b) {
  if (a.count != b.size()) return false;
  for (uint32_t i = 0; i < a.count; ++i) {
    const FileEntry &x = a.files[i], &y = b[i];
    if (x.compSize != y.compSize || x.fileSize != y.fileSize || x.fileOffset != y.fileOffset ||
        std::strcmp(x.name, y.name) != 0)
      return false;
  }
  return true;
}

TEST(WriteFailure, ReplacementFailingAtEveryWriteKeepsArchiveAndIndex) {
  for (const ReplaceCase& c : {ReplaceCase{"raw", 0}, ReplaceCase{"segmented", 1}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<Bytes> contents;
    const Bytes oldArchive = ThreeEntryArchive(c.storageMode, contents);
    const std::string path = dir / "mod.vzr";
    testutil::WriteFileBytes(path, oldArchive);
    const Bytes newContent = Content(60000, 9);

    uint64_t writes = 0;
    {
      const std::string copy = dir / "count.vzr";
      testutil::WriteFileBytes(copy, oldArchive);
      VzrArchive archive;
      archive.LoadIndex(copy.c_str());
      std::memcpy(archive.fileBuffer, newContent.data(), newContent.size());
      testutil::WriteCounter counter;
      ASSERT_EQ(archive.AddReplaceFile(1, static_cast<uint32_t>(newContent.size())), 0);
      writes = counter.Count();
    }

    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes) + " fails");
      StatusCapture status;
      VzrArchive archive;
      archive.LoadIndex(path.c_str());
      const std::vector<FileEntry> before(archive.FileIndex.files.begin(),
                                          archive.FileIndex.files.begin() + archive.FileIndex.count);
      std::memcpy(archive.fileBuffer, newContent.data(), newContent.size());
      int result = 0;
      {
        testutil::FailWriteAt fail(n, ErrorFor(n));
        result = archive.AddReplaceFile(1, static_cast<uint32_t>(newContent.size()));
      }
      EXPECT_EQ(result, 1);
      EXPECT_EQ(status.Text(), "ERROR! Could not update .vzr!");
      ASSERT_TRUE(testutil::ReadFileBytes(path) == oldArchive) << "the archive on disk changed";
      EXPECT_TRUE(LeftoversBeside(path).empty()) << LeftoversBeside(path).front();
      ASSERT_TRUE(SameEntries(archive.FileIndex, before)) << "FileIndex no longer describes the archive on disk";
      for (uint32_t i = 0; i < contents.size(); ++i) {
        const unsigned char* data = archive.Extract(i, nullptr);
        ASSERT_NE(data, nullptr) << "entry " << i;
        EXPECT_TRUE(Bytes(data, data + archive.curLength) == contents[i]) << "entry " << i;
      }
      archive.CloseArchiveStream();
    }
    std::printf("[ figures  ] %s replacement, failing write positions: %llu\n", c.what,
                static_cast<unsigned long long>(writes));
  }
}

TEST(WriteFailure, ReplacementUnderAFileSizeLimitKeepsTheArchive) {
  SKIP_WITHOUT_FORK();
  TempDir dir;
  std::vector<Bytes> contents;
  const Bytes oldArchive = ThreeEntryArchive(1, contents);
  const std::string path = dir / "mod.vzr";
  testutil::WriteFileBytes(path, oldArchive);
  const Bytes newContent = Content(60000, 9);
  // Limits that cut the copy in the header, in each kept entry, in the new
  // entry and in the index.
  for (rlim_t limit : {rlim_t(0), rlim_t(100), rlim_t(400), rlim_t(6000), rlim_t(40000), rlim_t(100000),
                       rlim_t(oldArchive.size() + newContent.size() - 60)}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    const testutil::ChildEnd end = testutil::RunInChild([&] {
      if (!testutil::LimitFileSize(limit)) return 99;
      VzrArchive archive;
      archive.LoadIndex(path.c_str());
      std::memcpy(archive.fileBuffer, newContent.data(), newContent.size());
      return archive.AddReplaceFile(0, static_cast<uint32_t>(newContent.size()));
    });
    EXPECT_TRUE(end.exited && end.code == 1) << end.Describe();
    ASSERT_TRUE(testutil::ReadFileBytes(path) == oldArchive) << "the archive on disk changed";
    EXPECT_TRUE(LeftoversBeside(path).empty()) << LeftoversBeside(path).front();
  }
}

// ---------------------------------------------------------------------------
// Packing

// Twelve files in nested folders (so progress runs in tenths).
void MakeSourceTree(const std::string& root) {
  for (int i = 0; i < 12; ++i) {
    const std::string rel = (i % 3 == 0 ? "" : i % 3 == 1 ? "a/" : "a/b/") + std::string("f") + std::to_string(i) + ".con";
    testutil::WriteFileBytes(root + "/" + rel, Content(i * 300 + 1, static_cast<unsigned>(i)));
  }
}

struct PackOutcome {
  int result = 0;
  std::string status;
  std::string trace;
};

PackOutcome Pack(const std::string& source, const std::string& archive) {
  char sourceDir[512], basePath[512];
  std::snprintf(sourceDir, sizeof sourceDir, "%s", source.c_str());
  std::snprintf(basePath, sizeof basePath, "mod");
  StatusCapture status;
  testutil::TraceCapture trace;
  PackOutcome outcome;
  outcome.result = PackDirectory(sourceDir, basePath, archive.c_str(), 1);
  outcome.status = status.Text();
  outcome.trace = trace.Text();
  return outcome;
}

TEST(WriteFailure, PackFailingAtEveryWriteReportsItAndKeepsTheEarlierArchive) {
  TempDir dir;
  const std::string source = dir / "src";
  MakeSourceTree(source);
  const auto sourceBefore = Snapshot(source);
  const std::string archive = dir / "out/mod.vzr";
  fs::create_directories(dir / "out");

  uint64_t writes = 0;
  {
    testutil::WriteCounter counter;
    ASSERT_EQ(Pack(source, archive).status, "Files packed: 12");
    writes = counter.Count();
  }
  const Bytes earlier = testutil::ReadFileBytes(archive);  // an archive packed before, to be repacked
  ASSERT_GE(writes, 12u);

  for (bool existedBefore : {true, false}) {
    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes) + " fails" +
                   (existedBefore ? ", repacking" : ", first pack"));
      if (existedBefore)
        testutil::WriteFileBytes(archive, earlier);
      else
        fs::remove(archive);
      PackOutcome outcome;
      {
        testutil::FailWriteAt fail(n, ErrorFor(n));
        outcome = Pack(source, archive);
      }
      EXPECT_EQ(outcome.status.rfind("Error!", 0), 0u) << "status: " << outcome.status;
      EXPECT_NE(outcome.trace.find("ERROR!"), std::string::npos) << "no trace line reports the failure";
      if (existedBefore) {
        ASSERT_TRUE(fs::exists(archive)) << "the earlier archive was lost";
        ASSERT_TRUE(testutil::ReadFileBytes(archive) == earlier) << "the earlier archive was damaged";
      } else {
        EXPECT_FALSE(fs::exists(archive)) << "an incomplete archive was left";
      }
      EXPECT_TRUE(LeftoversBeside(archive).empty()) << LeftoversBeside(archive).front();
      ASSERT_TRUE(Snapshot(source) == sourceBefore) << "the source tree changed";
    }
  }
  std::printf("[ figures  ] pack, failing write positions: %llu (first pack and repack)\n",
              static_cast<unsigned long long>(writes));
}

TEST(WriteFailure, PackUnderAFileSizeLimitReportsItAndKeepsTheEarlierArchive) {
  SKIP_WITHOUT_FORK();
  TempDir dir;
  const std::string source = dir / "src";
  MakeSourceTree(source);
  const std::string archive = dir / "mod.vzr";
  ASSERT_EQ(Pack(source, archive).status, "Files packed: 12");
  const Bytes earlier = testutil::ReadFileBytes(archive);
  for (rlim_t limit : {rlim_t(0), rlim_t(100), rlim_t(5000), rlim_t(earlier.size() - 10)}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    const testutil::ChildEnd end = testutil::RunInChild([&] {
      if (!testutil::LimitFileSize(limit)) return 99;
      const PackOutcome outcome = Pack(source, archive);
      return outcome.status.rfind("Error!", 0) == 0 ? 0 : 1;
    });
    EXPECT_TRUE(end.exited && end.code == 0) << "the failure was not reported: " << end.Describe();
    ASSERT_TRUE(testutil::ReadFileBytes(archive) == earlier) << "the earlier archive was lost or damaged";
    EXPECT_TRUE(LeftoversBeside(archive).empty()) << LeftoversBeside(archive).front();
  }
}

// ---------------------------------------------------------------------------
// Extraction

TEST(WriteFailure, ExtractionFailingAtEveryWriteStopsAndKeepsEarlierFiles) {
  for (uint32_t mode : {0u, 1u}) {
    SCOPED_TRACE(mode ? "segmented" : "raw");
    TempDir dir;
    testutil::CurrentDirGuard cwd;
    std::vector<Bytes> contents;
    const std::string path = dir / "mod.vzr";
    testutil::WriteFileBytes(path, ThreeEntryArchive(mode, contents));
    const std::string dest = dir / "out";

    uint64_t writes = 0;
    {
      fs::create_directories(dir / "count");
      testutil::WriteCounter counter;
      VzrArchive archive;
      archive.LoadIndex(path.c_str());
      ASSERT_EQ(archive.ExtractAll((dir / "count").c_str()), 0);
      writes = counter.Count();
    }
    ASSERT_EQ(writes, contents.size()) << "one write per entry";

    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE("write " + std::to_string(n) + " fails");
      // Extraction leaves the current directory in the destination, which
      // Windows then cannot remove: each round starts from the test's own.
      testutil::CurrentDirGuard roundCwd;
      // Older copies of the files sit in the destination already.
      fs::remove_all(dest);
      for (std::size_t i = 0; i < contents.size(); ++i)
        testutil::WriteFileText(dest + "/x/e" + std::to_string(i), "older copy " + std::to_string(i));
      const auto before = Snapshot(dest);
      VzrArchive archive;
      archive.LoadIndex(path.c_str());
      int result = 0;
      std::string trace;
      {
        testutil::FailWriteAt fail(n, ErrorFor(n));
        testutil::TraceCapture capture;
        result = archive.ExtractAll(dest.c_str());
        trace = capture.Text();
      }
      EXPECT_EQ(result, 5);
      EXPECT_NE(trace.find("ERROR! Could not write: x/e" + std::to_string(n - 1)), std::string::npos) << trace;
      const auto after = Snapshot(dest);
      EXPECT_EQ(after.size(), contents.size()) << "a partial or temporary file was left";
      for (std::size_t i = 0; i < contents.size(); ++i) {
        const std::string rel = "x/e" + std::to_string(i);
        const bool written = i + 1 < n;
        EXPECT_TRUE(after.count(rel) && after.at(rel) == (written ? contents[i] : before.at(rel)))
            << rel << (written ? " should hold the entry" : " should still hold the older copy");
      }
    }
  }
}

TEST(WriteFailure, ExtractionUnderAFileSizeLimitKeepsTheOlderFile) {
  SKIP_WITHOUT_FORK();
  TempDir dir;
  std::vector<Bytes> contents;
  const std::string path = dir / "mod.vzr";
  testutil::WriteFileBytes(path, ThreeEntryArchive(0, contents));
  const std::string dest = dir / "out";
  testutil::WriteFileText(dest + "/x/e2", "older copy");
  const testutil::ChildEnd end = testutil::RunInChild([&] {
    if (!testutil::LimitFileSize(10000)) return 99;  // e0 and e1 fit, e2 (40000 bytes) does not
    VzrArchive archive;
    archive.LoadIndex(path.c_str());
    return archive.ExtractAll(dest.c_str());
  });
  EXPECT_TRUE(end.exited && end.code == 5) << end.Describe();
  EXPECT_TRUE(testutil::ReadFileBytes(dest + "/x/e0") == contents[0]);
  EXPECT_TRUE(testutil::ReadFileBytes(dest + "/x/e1") == contents[1]);
  EXPECT_EQ(testutil::ReadFileBytes(dest + "/x/e2"), testutil::ToBytes("older copy"));
  EXPECT_EQ(Snapshot(dest).size(), 3u) << "a partial or temporary file was left";
}

// ---------------------------------------------------------------------------
// The fallback copy of tavMoveFile (a move across file systems)

// A folder on a different file system from the temporary folder, or empty.
std::string OtherFileSystemFolder(const TempDir& dir) {
  std::error_code ec;
  if (!fs::is_directory("/dev/shm", ec)) return std::string();
  const std::string folder = "/dev/shm/vzrwf." + std::to_string(::getpid());
  fs::create_directories(folder, ec);
  struct stat a {}, b {};
  if (ec || ::stat(folder.c_str(), &a) != 0 || ::stat(dir.str().c_str(), &b) != 0 || a.st_dev == b.st_dev) {
    fs::remove_all(folder, ec);
    return std::string();
  }
  return folder;
}

TEST(WriteFailure, FallbackCopyFailingAtEveryWriteKeepsBothFiles) {
  SKIP_WITHOUT_FORK();
  TempDir dir;
  const std::string other = OtherFileSystemFolder(dir);
  if (other.empty()) GTEST_SKIP() << "no second file system to move across";
  struct Remove {
    std::string p;
    ~Remove() {
      std::error_code e;
      fs::remove_all(p, e);
    }
  } removeOther{other};
  const Bytes oldBytes = Content(70000, 1), newBytes = Content(200000, 2);
  const std::string src = other + "/mod.vzr.tmp", dst = dir / "mod.vzr";
  testutil::WriteFileBytes(src, newBytes);
  const uint64_t writes = 200000 / 65536 + 1;
  for (uint64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("write " + std::to_string(n) + " fails");
    testutil::WriteFileBytes(dst, oldBytes);
    int result = 0;
    std::string trace;
    {
      testutil::FailWriteAt fail(n, ErrorFor(n));
      testutil::TraceCapture capture;
      result = tavMoveFile(src.c_str(), dst.c_str());
      trace = capture.Text();
    }
    EXPECT_EQ(result, 5);
    EXPECT_NE(trace.find("Error! tavMoveFile(), reading or writing to .vzr file, tmpRetValue: 5"), std::string::npos)
        << trace;
    ASSERT_TRUE(testutil::ReadFileBytes(dst) == oldBytes) << "the destination was damaged";
    ASSERT_TRUE(testutil::ReadFileBytes(src) == newBytes) << "the source was lost";
    EXPECT_TRUE(LeftoversBeside(dst).empty()) << LeftoversBeside(dst).front();
  }
  const testutil::ChildEnd end = testutil::RunInChild([&] {
    if (!testutil::LimitFileSize(100000)) return 99;
    return tavMoveFile(src.c_str(), dst.c_str());
  });
  EXPECT_TRUE(end.exited && end.code == 5) << end.Describe();
  EXPECT_TRUE(testutil::ReadFileBytes(dst) == oldBytes) << "the destination was damaged";
  EXPECT_TRUE(testutil::ReadFileBytes(src) == newBytes) << "the source was lost";
  EXPECT_EQ(tavMoveFile(src.c_str(), dst.c_str()), 1);
  EXPECT_TRUE(testutil::ReadFileBytes(dst) == newBytes);
}

}  // namespace
