// VzrPack's presenter against a fake window: what the start finds and says,
// and what the pack commands hand to the packer.
#include <gtest/gtest.h>

#include "discovery.h"
#include "fakeviews.h"

namespace presenttest {
namespace {

using Names = std::vector<std::string>;

// A mod root in a temporary folder, with the process inside its Archives.
class QuickPackPresenterTest : public ::testing::Test {
 protected:
  void Folder(const std::string& relative) { fs::create_directories(root.path() / relative); }
  void Start() {
    Folder("Archives");
    fs::current_path(root.path() / "Archives");
    presenter.SetPacker([this](const char* name, int compress) {
      packed.push_back(name);
      EXPECT_EQ(compress, 1);
      return 0;
    });
    presenter.OnInitDialog();
  }

  TempFolder root;
  CurrentFolderGuard cwd;
  FakeQuickPackView view;
  present::QuickPackPresenter presenter{view};
  Names packed;
};

TEST_F(QuickPackPresenterTest, FoldersWithoutLevelsSayWhatWasNotFound) {
  Folder("Objects");
  Folder("Textures");
  Start();
  EXPECT_EQ(view.lists[1], (Names{"Objects", "Textures"}));
  EXPECT_EQ(view.statuses.back(), "No levels found under hxGlacier/levels or hx1920/levels.");
}

TEST_F(QuickPackPresenterTest, NothingFoundIsTheOnlyStartOutsideAMod) {
  Start();
  EXPECT_EQ(view.statuses.back(), modkit::kNotInModStatus);
}

TEST_F(QuickPackPresenterTest, AStartThatFindsEverythingStaysReady) {
  Folder("hxGlacier/levels/alpha");
  Folder("Objects");
  Start();
  EXPECT_EQ(view.statuses, Names{"Ready..."});
  EXPECT_EQ(view.selection[0], 0);
  EXPECT_EQ(view.selection[1], 0);
}

TEST_F(QuickPackPresenterTest, StatusNamesWhatIsMissing) {
  const struct {
    const char* dir;
    int game;
    std::size_t levels, folders;
    std::optional<std::string> status;
  } cases[] = {
      {"/m/Archives", modkit::kNoGameFolder, 0, 0, modkit::kNotInModStatus},
      {"/m/Tools", modkit::kGameHxGlacier, 1, 1, modkit::kOutsideArchivesStatus},
      {"/m/archives", modkit::kGameHx1920, 0, 2, "No levels found under hx1920/levels."},
      {"/m/Archives", modkit::kNoGameFolder, 0, 2, modkit::kNoLevelsStatus},
      {"/m/Archives", modkit::kGameHxGlacier, 3, 0, modkit::kNoFoldersStatus},
      {"/m/Archives", modkit::kGameHxGlacier, 3, 2, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(modkit::DiscoveryStatus(c.dir, c.game, c.levels, c.folders), c.status) << c.dir << " " << c.levels;
}

TEST_F(QuickPackPresenterTest, PackAllLevelsPacksEveryEntryAndRestoresTheSelections) {
  Folder("hxGlacier/levels/alpha");
  Folder("hxGlacier/levels/bravo");
  Start();
  view.selection[0] = 1;
  presenter.OnPackAllLevels();
  EXPECT_EQ(packed, (Names{"hxGlacier/levels/alpha", "hxGlacier/levels/bravo"}));
  EXPECT_TRUE(fs::is_directory(root.path() / "Archives/hxGlacier/levels")) << "the archives' folder is made first";
  EXPECT_EQ(view.selection[0], 1);
}

}  // namespace
}  // namespace presenttest
