// The replacement file: made beside its target, in the target's place only
// after a commit, gone on every other way out.
#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "replacementfile_internal.h"
#include "testutil.h"

namespace fs = std::filesystem;
using testutil::TempDir;

namespace {

// A folder holding "a.con" (content "old"), opened for the folder form.
struct Folder {
  TempDir dir;
  vzrfs::Folder open;
  Folder() {
    testutil::WriteFileText(dir / "a.con", "old");
    open = vzrfs::OpenFolderNoFollow(dir.str());
  }
  int Entries() const { return static_cast<int>(std::distance(fs::directory_iterator(dir.path()), {})); }
};

// Makes the file beside a.con in one of the two forms and writes "new" in it.
bool MakeAndWrite(vzrfs::ReplacementFile& part, const Folder& folder, bool byPath) {
  if (byPath) return part.CreateBeside(folder.dir / "a.con") && vzrfs::Write(part.Stream(), "new", 3);
  return part.CreateBesideAt(folder.open, "a.con") && vzrfs::WriteAt(part.File(), 0, "new", 3);
}

class ReplacementFileForms : public testing::TestWithParam<bool> {};

TEST_P(ReplacementFileForms, ACommitPutsTheContentInTheTargetsPlace) {
  Folder folder;
  {
    vzrfs::ReplacementFile part;
    ASSERT_TRUE(MakeAndWrite(part, folder, GetParam()));
    EXPECT_TRUE(GetParam() ? part.CommitDurably() : part.CommitAt(true));
  }
  EXPECT_EQ(testutil::ReadFileBytes(folder.dir / "a.con"), testutil::ToBytes("new"));
  EXPECT_EQ(folder.Entries(), 1);
}

TEST_P(ReplacementFileForms, WithoutACommitTheFileGoesAndTheTargetStays) {
  Folder folder;
  {
    vzrfs::ReplacementFile part;
    ASSERT_TRUE(MakeAndWrite(part, folder, GetParam()));
    EXPECT_EQ(folder.Entries(), 2);
  }
  EXPECT_EQ(testutil::ReadFileBytes(folder.dir / "a.con"), testutil::ToBytes("old"));
  EXPECT_EQ(folder.Entries(), 1);
}

INSTANTIATE_TEST_SUITE_P(ByPathAndInFolder, ReplacementFileForms, testing::Bool());

TEST(ReplacementFile, ACommitThatMayNotReplaceLeavesAnExistingNameAlone) {
  Folder folder;
  vzrfs::ReplacementFile part;
  ASSERT_TRUE(MakeAndWrite(part, folder, false));
  EXPECT_FALSE(part.CommitAt(false));
  EXPECT_EQ(errno, EEXIST);
  part.Discard();
  EXPECT_EQ(testutil::ReadFileBytes(folder.dir / "a.con"), testutil::ToBytes("old"));
  EXPECT_EQ(folder.Entries(), 1);
}

}  // namespace
