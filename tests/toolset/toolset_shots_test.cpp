// Pictures of the two windows, as a user sees them, for a person to look at
// (they land in the build folder's tests/toolset/shots).
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <filesystem>

#include "appicon.h"
#include "choosers.h"
#include "packdirdialog.h"
#include "toolset_fixture.h"

using namespace toolsettest;

namespace {
QString ShotPath(const char* name) {
  QDir().mkpath(VZR_SHOT_DIR);
  return QString(VZR_SHOT_DIR) + "/" + name;
}
}  // namespace

TEST_F(ToolsetWindowTest, MainWindowPicture) {
  ArchiveLayout layout;
  layout.AddRaw("objects/carts/lantern_cart/lantern_cart.con",
                "unit.spawn   lantern_cart\r\n"
                "unit.lamp    amber 3\r\n"
                "unit.wheels  4\r\n"
                "unit.cargo   crates 12\r\n"
                "unit.pace    0.75\r\n");
  layout.AddRaw("objects/carts/lantern_cart/lantern_cart.dds", Bytes(43210, 3));
  layout.AddRaw("levels/harbor_dawn/init.con", "scene.load ../../shared/tide\r\n");
  layout.AddRaw("panels/harbor.ssc", "fold.in harbor.inc\r\n");
  layout.AddRaw("sound/cart_bell.wav", Bytes(120000, 9));
  OpenArchive(layout, "objects.vzr");
  Click(0);
  window->repaint();
  const QPixmap shot = window->grab();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(ShotPath("toolset-main.png")));
}

TEST_F(ToolsetWindowTest, PackDirectoryDialogPicture) {
  toolset::PackDirDialog dialog(window.get());
  dialog.m_strSourceDir = "/home/user/mods/MyMod/Objects";
  dialog.m_strBasePath = "Objects";
  dialog.Initialize();
  dialog.show();
  const QPixmap shot = dialog.grab();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(ShotPath("toolset-packdir.png")));
  EXPECT_EQ(dialog.SourceEdit()->text(), "/home/user/mods/MyMod/Objects") << "set-up pushes the fields";
}

TEST_F(ToolsetWindowTest, FolderChooserPicture) {
  const std::string start = dir / "mods/MyMod/Objects";
  for (const char* folder : {"mods/MyMod/Archives", "mods/MyMod/Menu", "mods/MyMod/Objects", "mods/Other"})
    std::filesystem::create_directories(dir / folder);
  vzrui::FolderTreeDialog chooser("Choose directory to pack", window.get(), start);
  chooser.show();
  QTest::qWait(500);  // the folders above the start are read in the background
  const QPixmap shot = chooser.grab();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(ShotPath("folder-chooser.png")));
}

TEST(ToolsetIcon, DrawnAtBothSizes) {
  for (int size : {32, 16}) {
    const QImage image = toolset::DrawAppIcon(size).toImage();
    ASSERT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "the corners stay transparent";
    EXPECT_EQ(image.pixelColor(size / 2, size * 3 / 4).alpha(), 255) << "the crate is solid";
  }
  EXPECT_TRUE(toolset::DrawAppIcon(32).scaled(128, 128).save(ShotPath("toolset-icon.png")));
}
