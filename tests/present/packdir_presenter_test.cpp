// The Pack Directory presenter against a fake dialog: the checks before a
// pack, and the question before an existing archive is replaced.
#include <gtest/gtest.h>

#include "archivebytes.h"
#include "fakeviews.h"
#include "vzrpack.h"

namespace presenttest {
namespace {

using present::kIdNo;
using present::kIdOk;
using present::kIdYes;

class PackDirPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::WriteFileText(dir / "src/a.con", "alpha");
    view.sourceBox = dir / "src";
    view.baseBox = "src";
  }

  TempFolder dir;
  present::PackDirFields fields;
  FakePackDirView view;
  present::PackDirPresenter presenter{view, fields};
};

TEST_F(PackDirPresenterTest, ReplacingAnExistingArchiveIsAskedAndNoKeepsIt) {
  const std::string target = dir / "old.vzr";
  testutil::WriteFileText(target, "an archive the user still needs");
  view.host.files = {target};
  view.host.buttons = {kIdNo};
  presenter.OnPack();
  ASSERT_EQ(view.host.asked.size(), 1u);
  const present::Question& q = view.host.asked[0];
  EXPECT_EQ(q.text, target + " already exists. Do you want to replace it?");
  EXPECT_EQ(q.buttons, present::Buttons::YesNo);
  EXPECT_TRUE(q.defaultNo) << "No is the default";
  EXPECT_FALSE(view.ended) << "the dialog stays open";
  EXPECT_EQ(testutil::ReadFileBytes(target), testutil::ToBytes("an archive the user still needs"));

  view.host.files = {target};
  view.host.buttons = {kIdYes};
  presenter.OnPack();
  EXPECT_EQ(view.ended, std::optional<int>(kIdOk));
  VzrArchive archive;
  archive.LoadIndex(target.c_str());
  ASSERT_EQ(archive.FileIndex.count, 1u);
  EXPECT_STREQ(archive.FileIndex.files[0].name, "src/a.con");
}

TEST_F(PackDirPresenterTest, ANewArchiveIsPackedWithoutAQuestion) {
  view.host.files = {dir / "new.vzr"};
  presenter.OnPack();
  EXPECT_TRUE(view.host.asked.empty());
  EXPECT_EQ(view.ended, std::optional<int>(kIdOk));
  EXPECT_EQ(fields.m_strArchivePath, dir / "new.vzr");
}

TEST_F(PackDirPresenterTest, RefusedInputsKeepTheDialogOpen) {
  const struct {
    const char* source;
    const char* base;
    const char* message;
  } cases[] = {
      {"", "x", "Error! Must specify source directory."},
      {"/src*", "x", "Cannot save! Illegal characters used(SourceDir): * ? \" < > |"},
      {"/src", "C:x", "Cannot save! Illegal characters used(BasePath): * ? \" < > |"},
  };
  for (const auto& c : cases) {
    view.sourceBox = c.source;
    view.baseBox = c.base;
    view.host.asked.clear();
    view.host.buttons = {kIdOk};
    presenter.OnPack();
    EXPECT_EQ(view.host.Texts(), std::vector<std::string>{c.message}) << c.source << " " << c.base;
    EXPECT_FALSE(view.ended);
  }
}

}  // namespace
}  // namespace presenttest
