// What every writer of an existing archive keeps: a link stays a link, the
// mode and owner stay, a read-only archive is refused, an archive changed
// since it was read is not overwritten, and a new pack creates nothing
// under the archive's name before it is whole.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "fileservices.h"
#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using testutil::ArchiveLayout;
using testutil::Bytes;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

void WriteSmallArchive(const std::string& path) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "alpha");
  layout.AddRaw("b.con", "beta");
  layout.WriteTo(path);
}

// Replaces entry 0 of the archive at path with text; the engine's result.
int ReplaceFirst(const std::string& path, const std::string& text) {
  VzrArchive archive;
  Load(archive, path);
  std::copy(text.begin(), text.end(), archive.fileBuffer);
  return archive.AddReplaceFile(0, static_cast<uint32_t>(text.size()));
}

int PackInto(const std::string& source, const std::string& archive) {
  std::vector<char> src(512, '\0');
  std::copy(source.begin(), source.end(), src.begin());
  return PackDirectory(src.data(), nullptr, archive.c_str(), 1);
}

std::string FirstEntry(const std::string& path) {
  VzrArchive archive;
  Load(archive, path);
  const unsigned char* got = archive.Extract(0, nullptr);
  return got ? std::string(reinterpret_cast<const char*>(got), archive.FileIndex.files[0].fileSize) : "";
}

}  // namespace

// A rewrite and a pack through a link rewrite the real archive beside itself.
TEST(ArchiveWriters, FollowALinkAndKeepIt) {
  SKIP_WITHOUT_SYMLINKS();
  TempDir dir;
  fs::create_directories(dir / "real");
  fs::create_directories(dir / "links");
  WriteSmallArchive(dir / "real/x.vzr");
  fs::create_symlink("../real/x.vzr", dir / "links/x.vzr");
  testutil::WriteFileText(dir / "src/z.con", "packed");

  ASSERT_EQ(ReplaceFirst(dir / "links/x.vzr", "through the link"), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "links/x.vzr"));
  EXPECT_EQ(FirstEntry(dir / "real/x.vzr"), "through the link");

  ASSERT_EQ(PackInto(dir / "src", dir / "links/x.vzr"), 1);
  EXPECT_TRUE(fs::is_symlink(dir / "links/x.vzr"));
  EXPECT_EQ(FirstEntry(dir / "real/x.vzr"), "packed");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "links"), fs::directory_iterator()), 1);
  EXPECT_TRUE(testutil::TemporariesBeside(dir / "real/x.vzr").empty());
}

// The rewritten archive keeps its mode bits, and its owner and group where
// the process may give them (a superuser may; others keep what they can).
TEST(ArchiveWriters, KeepModeOwnerAndGroup) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX modes and owners";
#else
  TempDir dir;
  testutil::WriteFileText(dir / "src/z.con", "packed");
  const std::string path = dir / "x.vzr";
  WriteSmallArchive(path);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
  }
  struct stat before {}, after {};
  for (mode_t mode : {0600, 0640, 0604}) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(ReplaceFirst(path, "new " + std::to_string(mode)), 0);
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    ASSERT_EQ(PackInto(dir / "src", path), 1);
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, mode) << "pack over it";
    EXPECT_EQ(after.st_uid, before.st_uid);
  }
#endif
}

// No write bit for its owner: refused with the system's reason, even for a
// superuser, and nothing changes.
TEST(ArchiveWriters, RefuseAReadOnlyArchive) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/z.con", "packed");
  const std::string path = dir / "x.vzr";
  WriteSmallArchive(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const Bytes before = testutil::ReadFileBytes(path);
  VzrArchive archive;
  Load(archive, path);
  archive.fileBuffer[0] = 'x';
  EXPECT_EQ(archive.AddReplaceFile(0, 1), 1);
  EXPECT_EQ(archive.lastError.sysError, EACCES);
  EXPECT_NE(archive.lastError.message.find("Permission denied"), std::string::npos) << archive.lastError.message;
  EXPECT_EQ(PackInto(dir / "src", path), 1);
  EXPECT_EQ(testutil::ReadFileBytes(path), before);
  EXPECT_TRUE(testutil::TemporariesBeside(path).empty());
}

// Another program rewrote the archive after it was loaded: the save is
// refused instead of bringing the old entries back.
TEST(ArchiveWriters, RefuseAnArchiveChangedSinceItWasRead) {
  TempDir dir;
  const std::string path = dir / "x.vzr";
  WriteSmallArchive(path);
  VzrArchive stale;
  Load(stale, path);
  ASSERT_EQ(ReplaceFirst(path, "the other writer's"), 0);
  const Bytes theirs = testutil::ReadFileBytes(path);
  stale.fileBuffer[0] = 'm';
  EXPECT_EQ(stale.AddReplaceFile(1, 1), 1);
  EXPECT_EQ(stale.lastError.sysError, vzrfs::kErrorChangedOnDisk);
  EXPECT_EQ(testutil::ReadFileBytes(path), theirs);
  // Loaded again, it saves; and a second save of the same object works too.
  Load(stale, path);
  EXPECT_EQ(stale.AddReplaceFile(1, 1), 0);
  EXPECT_EQ(stale.AddReplaceFile(1, 1), 0);
}

// Until a new pack is whole nothing stands under the archive's name.
TEST(ArchiveWriters, NewPackCreatesNothingUnderTheNameUntilWhole) {
  TempDir dir;
  testutil::WriteFileText(dir / "src/z.con", "packed");
  const std::string path = dir / "new.vzr";
  int existedAtAWrite = 0, writes = 0;
  vzrfs::SetWriteFaultHook([&](uint64_t) {
    ++writes;
    existedAtAWrite += fs::exists(fs::symlink_status(path)) ? 1 : 0;
    return 0;
  });
  const int packed = PackInto(dir / "src", path);
  vzrfs::SetWriteFaultHook(nullptr);
  EXPECT_EQ(packed, 1);
  EXPECT_GT(writes, 0);
  EXPECT_EQ(existedAtAWrite, 0);
  EXPECT_EQ(FirstEntry(path), "packed");
}
