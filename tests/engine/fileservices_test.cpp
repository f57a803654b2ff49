// File services: listing order, wildcard matches, case-insensitive lookups,
// folders, moves, free space and the write fault hook.
#include "fileservices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <thread>

#include "testutil.h"

using testutil::TempDir;
namespace fs = std::filesystem;

namespace {
std::vector<std::string> Names(const std::vector<vzrfs::FindEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}
}  // namespace

TEST(FileServices, ListingGivesDotsFirstThenNamesFoldedToUpperCase) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS holds one file for names that differ only in case";
#endif
  TempDir dir;
  for (const char* name : {"b.txt", "A.txt", "_under", "a.txt", "Zeta", "alpha", "[x", "~t"})
    testutil::WriteFileText(dir / name, "12345");
  fs::create_directory(dir.path() / "Beta");
  const auto entries = vzrfs::FindMatches((dir.str() + "/*").c_str());
  // Upper-case folding puts '[' and '_' after the letters and '~' last;
  // "A.txt" and "a.txt" tie and fall back to byte order.
  EXPECT_EQ(Names(entries), (std::vector<std::string>{".", "..", "A.txt", "a.txt", "alpha", "b.txt", "Beta", "Zeta",
                                                      "[x", "_under", "~t"}));
  for (const auto& e : entries) {
    if (e.name == "Beta" || e.name == "." || e.name == "..") {
      EXPECT_TRUE(e.isDirectory) << e.name;
    } else {
      EXPECT_FALSE(e.isDirectory) << e.name;
      EXPECT_EQ(e.size, 5u) << e.name;
    }
  }
}

TEST(FileServices, PatternsMatchWithoutRegardToCase) {
  TempDir dir;
  for (const char* name : {"one.vzr", "TWO.VZR", "three.vzrx", "four.txt"}) testutil::WriteFileText(dir / name, "");
  fs::create_directory(dir.path() / "dir.vzr");
  EXPECT_EQ(Names(vzrfs::FindMatches((dir.str() + "\\*.vzr").c_str())),
            (std::vector<std::string>{"dir.vzr", "one.vzr", "TWO.VZR"}));
  EXPECT_TRUE(vzrfs::FindMatches((dir.str() + "/nothing*").c_str()).empty());
  EXPECT_TRUE(vzrfs::FindMatches((dir.str() + "/missing/*").c_str()).empty());
  EXPECT_TRUE(vzrfs::WildcardMatch("a?c*", "ABCdef"));
  EXPECT_FALSE(vzrfs::WildcardMatch("a?c", "abcd"));
  EXPECT_TRUE(vzrfs::WildcardMatch("*", "."));

  vzrfs::DirectorySearch search((dir.str() + "/*.VZR").c_str());
  ASSERT_TRUE(search.Found());
  int n = 0;
  while (search.Next()) ++n;
  EXPECT_EQ(n, 3);
  EXPECT_EQ(search.Next(), nullptr);
}

TEST(FileServices, PathsResolveComponentByComponentIgnoringCase) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS finds a name without regard to case, so a path opens as written and is given back as written";
#endif
  TempDir dir;
  fs::create_directories(dir.path() / "mod" / "hxGlacier" / "levels");
  fs::create_directories(dir.path() / "mod" / "Archives");
  testutil::WriteFileText(dir / "mod/hxGlacier/levels/Init.con", "x");
  const std::string root = dir.str();
  EXPECT_EQ(vzrfs::ResolvePath((root + "/MOD/HxGlacier/LEVELS/init.CON").c_str()),
            root + "/mod/hxGlacier/levels/Init.con");
  EXPECT_EQ(vzrfs::ResolvePath((root + "\\mod\\hxglacier\\new\\file.txt").c_str()),
            root + "/mod/hxGlacier/new/file.txt")
      << "components after the first missing one stay as written";

  testutil::CurrentDirGuard guard;
  ASSERT_TRUE(vzrfs::SetCurrentDir((root + "/mod/archives").c_str()));
  EXPECT_TRUE(vzrfs::IsDirectory("../HxGlacier"));
  EXPECT_TRUE(vzrfs::SetCurrentDir("../HXGLACIER\\Levels"));
  EXPECT_EQ(fs::current_path(), fs::path(root) / "mod/hxGlacier/levels");
  EXPECT_FALSE(vzrfs::SetCurrentDir("../nowhere"));
}

TEST(FileServices, ExactNameWinsOverACaseVariant) {
#ifdef _WIN32
  GTEST_SKIP() << "NTFS holds one file for names that differ only in case";
#endif
  TempDir dir;
  testutil::WriteFileText(dir / "Data.txt", "upper");
  testutil::WriteFileText(dir / "data.txt", "lower");
  EXPECT_EQ(vzrfs::ResolvePath((dir.str() + "/data.txt").c_str()), dir / "data.txt");
  EXPECT_EQ(vzrfs::ResolvePath((dir.str() + "/DATA.txt").c_str()), dir / "Data.txt")
      << "no exact match: the first in listing order";
}

TEST(FileServices, FoldersFilesAndMoves) {
  TempDir dir;
  const std::string sub = dir / "New";
  EXPECT_TRUE(vzrfs::CreateFolder(sub.c_str()));
  EXPECT_TRUE(vzrfs::CreateFolder((dir.str() + "/new").c_str())) << "an existing folder is no error";
  testutil::WriteFileText(dir / "file", "x");
  EXPECT_FALSE(vzrfs::CreateFolder((dir.str() + "/file").c_str())) << "a file is not a folder";

  testutil::WriteFileText(dir / "a", "aaa");
  testutil::WriteFileText(dir / "b", "bbbbbb");
  EXPECT_TRUE(vzrfs::MoveReplace((dir.str() + "/a").c_str(), (dir.str() + "/b").c_str()));
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "b"), testutil::ToBytes("aaa"));
  EXPECT_FALSE(vzrfs::MoveReplace((dir.str() + "/a").c_str(), (dir.str() + "/c").c_str()));

  // Read-only: mode 0444 on POSIX, the read-only attribute on Windows.
  fs::permissions(dir.path() / "b", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(fs::status(dir.path() / "b").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(vzrfs::MakeWritable((dir.str() + "/B").c_str()));
#ifdef _WIN32
  EXPECT_NE(fs::status(dir.path() / "b").permissions() & fs::perms::owner_write, fs::perms::none)
      << "the read-only attribute is cleared";
#else
  EXPECT_TRUE(fs::status(dir.path() / "b").permissions() == (fs::perms::owner_read | fs::perms::owner_write |
                                                              fs::perms::group_read | fs::perms::others_read));
#endif
  EXPECT_TRUE(vzrfs::MakeWritable((dir.str() + "/missing").c_str()));
  EXPECT_TRUE(vzrfs::DeleteFile((dir.str() + "/b").c_str()));
  EXPECT_FALSE(vzrfs::DeleteFile((dir.str() + "/b").c_str()));
  EXPECT_EQ(vzrfs::OpenRead(sub.c_str()), nullptr) << "a folder does not open as a file";

  uint64_t bytes = 0;
  EXPECT_TRUE(vzrfs::FreeBytes(dir.str().c_str(), bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(vzrfs::FreeBytes((dir.str() + "/missing/deeper").c_str(), bytes));
}

TEST(FileServices, InjectedWriteFailuresAreCountedAndReported) {
  TempDir dir;
  vzrfs::UniqueFile f(vzrfs::OpenWrite((dir / "out").c_str()));
  ASSERT_TRUE(f);
  std::vector<uint64_t> asked;
  vzrfs::SetWriteFaultHook([&](uint64_t n) {
    asked.push_back(n);
    return n == 2 ? ENOSPC : 0;
  });
  EXPECT_TRUE(vzrfs::Write(f.get(), "ab", 2));
  EXPECT_FALSE(vzrfs::Write(f.get(), "cd", 2));
  EXPECT_EQ(vzrfs::LastWriteError(), ENOSPC);
  EXPECT_TRUE(vzrfs::Write(f.get(), "ef", 2));
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_EQ(asked, (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_TRUE(vzrfs::Close(f.release()));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out"), testutil::ToBytes("abef"));
}

TEST(FileServices, CopyRangeCopiesFromTheCurrentPositions) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 200000; ++i) content.push_back(static_cast<char>('a' + i % 26));
  testutil::WriteFileText(dir / "in", content);
  vzrfs::UniqueFile in(vzrfs::OpenRead((dir / "in").c_str()));
  vzrfs::UniqueFile out(vzrfs::OpenWrite((dir / "out").c_str()));
  ASSERT_TRUE(vzrfs::Write(out.get(), "HEAD", 4));
  ASSERT_TRUE(vzrfs::Seek(in.get(), 10));
  unsigned char buffer[4096];
  ASSERT_TRUE(vzrfs::CopyRange(in.get(), out.get(), 150000, buffer, sizeof buffer));
  uint64_t inPos = 0, outPos = 0;
  vzrfs::Tell(in.get(), inPos);
  vzrfs::Tell(out.get(), outPos);
  EXPECT_EQ(inPos, 150010u);
  EXPECT_EQ(outPos, 150004u);
  ASSERT_TRUE(vzrfs::Write(out.get(), "TAIL", 4));
  EXPECT_FALSE(vzrfs::CopyRange(in.get(), out.get(), 100000, buffer, sizeof buffer)) << "the source ends first";
  ASSERT_TRUE(vzrfs::Close(out.release()));
  testutil::Bytes written = testutil::ReadFileBytes(dir / "out");
  ASSERT_GE(written.size(), 150008u);
  written.resize(150008);  // what a failed copy wrote after it is not asserted
  EXPECT_EQ(written, testutil::ToBytes("HEAD" + content.substr(10, 150000) + "TAIL"));
}

// More pieces than one system call takes, after bytes still in the stream's
// buffer: one question to the fault hook, every byte in order, and the
// stream's position right for the writes after it.
TEST(FileServices, GatheredWriteFollowsBufferedBytesAndKeepsThePosition) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 70000; ++i) content.push_back(static_cast<char>('a' + i % 26));
  std::vector<vzrfs::ConstBytes> pieces;
  std::string expected = "HEAD";
  for (std::size_t at = 0, k = 0; at < content.size(); at += k % 300, ++k) {
    const std::size_t size = std::min(content.size() - at, k % 300);
    pieces.push_back({content.data() + at, size});
    expected += content.substr(at, size);
  }
  ASSERT_GT(pieces.size(), 512u);  // more than one gathered system call takes
  vzrfs::UniqueFile out(vzrfs::OpenWrite((dir / "out").c_str()));
  ASSERT_TRUE(vzrfs::Write(out.get(), "HEAD", 4));
  int asked = 0;
  vzrfs::SetWriteFaultHook([&](uint64_t) { return ++asked, 0; });
  ASSERT_TRUE(vzrfs::WriteGathered(out.get(), pieces.data(), pieces.size()));
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_EQ(asked, 1);
  uint64_t position = 0;
  ASSERT_TRUE(vzrfs::Tell(out.get(), position));
  EXPECT_EQ(position, expected.size());
  ASSERT_TRUE(vzrfs::Write(out.get(), "TAIL", 4));
  ASSERT_TRUE(vzrfs::Close(out.release()));
  EXPECT_EQ(testutil::ReadFileBytes(dir / "out"), testutil::ToBytes(expected + "TAIL"));

  // A stream without a position (a pipe) takes the same pieces.
  int ends[2];
#ifdef _WIN32
  ASSERT_EQ(::_pipe(ends, 1 << 16, _O_BINARY), 0);
#else
  ASSERT_EQ(::pipe(ends), 0);
#endif
  std::FILE* pipeIn = ::fdopen(ends[1], "wb");
  ASSERT_NE(pipeIn, nullptr);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) received.append(buffer, got);
  });
  EXPECT_TRUE(vzrfs::WriteGathered(pipeIn, pieces.data(), pieces.size()));
  std::fclose(pipeIn);
  reader.join();
  ::close(ends[0]);
  EXPECT_EQ(received, expected.substr(4));
}

TEST(FileServices, CopyRangeAtUsesTheGivenOffsetsAndLeavesBothPositions) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 50000; ++i) content.push_back(static_cast<char>('A' + i % 23));
  testutil::WriteFileText(dir / "in", content);
  uint64_t length = 0;
  vzrfs::UniqueFile in(vzrfs::OpenRead((dir.str() + "/IN").c_str(), &length));
  ASSERT_TRUE(in) << "a case variant still opens";
  EXPECT_EQ(length, content.size());
  vzrfs::UniqueFile out(vzrfs::OpenWrite((dir / "out").c_str()));
  ASSERT_TRUE(vzrfs::Write(out.get(), "HEAD", 4));  // still buffered: must reach the file first
  ASSERT_TRUE(vzrfs::Seek(in.get(), 7));

  std::vector<uint64_t> asked;
  vzrfs::SetWriteFaultHook([&](uint64_t n) {
    asked.push_back(n);
    return 0;
  });
  unsigned char buffer[8192];
  ASSERT_TRUE(vzrfs::CopyRangeAt(in.get(), 100, out.get(), 4, 20000, buffer, sizeof buffer));
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_EQ(asked.size(), 3u) << "one question per chunk of the buffer's size";

  uint64_t inPos = 0, outPos = 0;
  ASSERT_TRUE(vzrfs::Tell(in.get(), inPos));
  ASSERT_TRUE(vzrfs::Tell(out.get(), outPos));
  EXPECT_EQ(inPos, 7u);
  EXPECT_EQ(outPos, 4u);
  char next = 0;
  ASSERT_TRUE(vzrfs::Read(in.get(), &next, 1));
  EXPECT_EQ(next, content[7]) << "the input stream reads on where it was";

  ASSERT_TRUE(vzrfs::Seek(out.get(), 20004));
  ASSERT_TRUE(vzrfs::Write(out.get(), "TAIL", 4));
  EXPECT_FALSE(vzrfs::CopyRangeAt(in.get(), 45000, out.get(), 20008, 10000, buffer, sizeof buffer))
      << "the source ends first";
  ASSERT_TRUE(vzrfs::Close(out.release()));
  testutil::Bytes written = testutil::ReadFileBytes(dir / "out");
  ASSERT_GE(written.size(), 20008u);
  written.resize(20008);
  EXPECT_EQ(written, testutil::ToBytes("HEAD" + content.substr(100, 20000) + "TAIL"));
}

TEST(FileServices, CopyRangeAtReportsAnInjectedFailure) {
  TempDir dir;
  testutil::WriteFileText(dir / "in", std::string(30000, 'x'));
  vzrfs::UniqueFile in(vzrfs::OpenRead((dir / "in").c_str()));
  vzrfs::UniqueFile out(vzrfs::OpenWrite((dir / "out").c_str()));
  vzrfs::SetWriteFaultHook([](uint64_t n) { return n == 2 ? EIO : 0; });
  unsigned char buffer[16384];
  EXPECT_FALSE(vzrfs::CopyRangeAt(in.get(), 0, out.get(), 0, 30000, buffer, sizeof buffer));
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_EQ(vzrfs::LastWriteError(), EIO);
}

// The errno numbers every realisation of the file services gives (a
// Windows build maps its own codes onto them) sort into the kinds callers
// act on.
TEST(ErrorKinds, SortTheNumbersCallersActOn) {
  const std::pair<int, vzrfs::ErrorKind> table[] = {
      {0, vzrfs::ErrorKind::None},          {ENOENT, vzrfs::ErrorKind::NotFound},
      {EEXIST, vzrfs::ErrorKind::Exists},   {EWOULDBLOCK, vzrfs::ErrorKind::Busy},
      {EBUSY, vzrfs::ErrorKind::Busy},      {vzrfs::kErrorChangedOnDisk, vzrfs::ErrorKind::ChangedOnDisk},
      {EACCES, vzrfs::ErrorKind::ReadOnly}, {EROFS, vzrfs::ErrorKind::ReadOnly},
      {ENOSPC, vzrfs::ErrorKind::NoSpace},  {ENAMETOOLONG, vzrfs::ErrorKind::NameTooLong},
      {EISDIR, vzrfs::ErrorKind::IsFolder}, {EIO, vzrfs::ErrorKind::Other}};
  for (const auto& [error, kind] : table) EXPECT_EQ(vzrfs::KindOfError(error), kind) << error;
}
