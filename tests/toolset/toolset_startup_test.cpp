// VZR_Toolset started with an archive named on its command line (a file
// manager's "Open with", the desktop entry's %f).
#include <QCoreApplication>
#include <filesystem>
#include <fstream>

#include "app.h"
#include "toolset_fixture.h"

using namespace toolsettest;

namespace {

QStringList Args(const std::string& path) { return {"VZR_Toolset", QString::fromStdString(path)}; }

}  // namespace

TEST_F(ToolsetWindowTest, OneArgumentOpensThatArchiveWithoutTheFileDialog) {
  ArchiveLayout layout;
  layout.AddRaw("levels/init.con", "a = 1\r\n");
  layout.AddRaw("maps/m.dds", Bytes(40, 1));
  const std::string path = dir / "start.vzr";
  layout.WriteTo(path);
  testutil::TraceCapture trace;

  ASSERT_TRUE(toolset::OpenStartupArchive(*window, Args(path)));
  EXPECT_EQ(window->m_pArchive, nullptr) << "the open waits for the window's run";
  QCoreApplication::processEvents();

  ASSERT_EQ(window->ListModel()->rowCount(), 2);
  EXPECT_EQ(Cell(1, 0), "maps/m.dds");
  EXPECT_EQ(StatusLine(), "Files: 2");
  const auto lines = trace.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "LoadIndex(): " + path), lines.end());
  EXPECT_TRUE(script.Files().empty()) << "no file dialog";
}

TEST_F(ToolsetWindowTest, NoArgumentOrSeveralStartAsBefore) {
  const std::string path = dir / "a.vzr";
  ArchiveLayout().WriteTo(path);
  EXPECT_FALSE(toolset::OpenStartupArchive(*window, {"VZR_Toolset"}));
  EXPECT_FALSE(toolset::OpenStartupArchive(*window, {"VZR_Toolset", QString::fromStdString(path), "b.vzr"}));
  QCoreApplication::processEvents();
  EXPECT_EQ(window->m_pArchive, nullptr);
  EXPECT_EQ(StatusLine(), "Ready...");
}

TEST_F(ToolsetWindowTest, UnopenableArgumentEndsAsChoosingItInTheDialog) {
  std::filesystem::create_directory(dir / "folder.vzr");
  std::ofstream(dir / "notes.vzr") << "just some text, not an archive\n";
  std::ofstream(dir / "empty.vzr");
  for (const char* name : {"missing.vzr", "folder.vzr", "notes.vzr", "empty.vzr"}) {
    const std::string path = dir / name;
    toolset::ToolsetDialog viaDialog;
    viaDialog.Initialize();
    script.File(path);
    // Either way of opening warns about an index that cannot be read.
    if (std::string(name) == "notes.vzr" || std::string(name) == "empty.vzr") script.Message(vzrui::kIdOk);
    viaDialog.OnFileOpen();

    if (std::string(name) == "notes.vzr" || std::string(name) == "empty.vzr") script.Message(vzrui::kIdOk);
    toolset::OpenStartupArchive(*window, Args(path));
    QCoreApplication::processEvents();
    ASSERT_NE(window->m_pArchive, nullptr) << name;
    EXPECT_EQ(window->ListModel()->rowCount(), viaDialog.ListModel()->rowCount()) << name;
    EXPECT_EQ(window->m_strStatus, viaDialog.m_strStatus) << name;
    EXPECT_EQ(window->m_pArchive->FileIndex.count, viaDialog.m_pArchive->FileIndex.count) << name;
  }
}
