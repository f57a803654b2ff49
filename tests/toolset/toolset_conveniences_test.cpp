// The editor's font, the two keyboard shortcuts, and where the file and
// folder choosers start.
#include <QDir>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <functional>

#include "packdirdialog.h"
#include "toolset_fixture.h"

using namespace toolsettest;
using testutil::ToBytes;

namespace {

ArchiveLayout OneScript() {
  ArchiveLayout layout;
  layout.AddRaw("levels/harbor_dawn/init.con", "cue a\r\n");
  layout.AddRaw("textures/quay.dds", Bytes(20, 4));
  return layout;
}

// The folder a recorded chooser question started in.
std::string StartOf(const vzrui::Question& q) {
  if (const auto* file = std::get_if<vzrui::FileQuestion>(&q)) return file->request.startFolder;
  if (const auto* folder = std::get_if<vzrui::FolderQuestion>(&q)) return folder->startFolder;
  return "(not a chooser: " + vzrui::Describe(q) + ")";
}

}  // namespace

TEST_F(ToolsetWindowTest, ScriptEditorUsesAFixedPitchFont) {
  const QFontMetrics metrics = window->m_ctlText->fontMetrics();
  EXPECT_EQ(metrics.horizontalAdvance("iiiiiiii"), metrics.horizontalAdvance("MMMMMMMM"));
}

TEST_F(ToolsetWindowTest, CtrlOOpensAndCtrlSSaves) {
  const std::string path = dir / "harbor.vzr";
  OneScript().WriteTo(path);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

  script.File(path);
  QTest::keyClick(window->m_ctlFileList, Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(script.Files().size(), 1u) << "Ctrl+O asks for the archive";
  EXPECT_EQ(StatusLine(), "Files: 2");

  Click(0);
  Type("cue b\n");
  window->m_ctlText->setFocus();
  QTest::keyClick(window->m_ctlText, Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return EntryBytes(path, 0) == ToBytes("cue b\r\n"); }, 2000))
      << "Ctrl+S in the editor saves the text";
}

TEST_F(ToolsetWindowTest, EveryChooserStartsInTheOpenArchivesFolderElseHome) {
  struct Chooser {
    const char* command;
    bool needsArchive;  // Extract All and Selected ask nothing without one
    std::function<void()> run;
  };
  const auto packDialog = [&](vzrui::ModalDialog& d) {
    auto& pack = static_cast<toolset::PackDirDialog&>(d);
    pack.OnBrowseSource();
    pack.SourceEdit()->setText(QString::fromStdString(dir / "src"));
    pack.BaseEdit()->setText("src");
    pack.OnPack();
  };
  const std::vector<Chooser> choosers = {
      {"Open .vzr", false, [&] {
         script.CancelFile();
         window->OnFileOpen();
       }},
      {"Extract All", true, [&] {
         script.CancelFolder();
         window->OnExtractAll();
       }},
      {"Extract Selected", true, [&] {
         script.CancelFolder();
         window->OnExtractSelected();
       }},
      {"Mod Folder", false, [&] {  // both questions
         script.Folder(dir / "none").CancelFolder();
         window->OnExtractModFolder();
       }},
      {"Pack Directory", false, [&] {  // "..." and the save dialog
         script.Dialog(packDialog).CancelFolder().CancelFile();
         window->OnPackDirectory();
       }},
  };
  std::filesystem::create_directories(dir / "mods/harbor_dawn");
  const std::string home = QDir::homePath().toStdString();
  const std::string archiveFolder = dir / "mods/harbor_dawn";
  for (const bool archiveOpen : {false, true}) {
    if (archiveOpen) OpenArchive(OneScript(), "mods/harbor_dawn/quay.vzr");
    for (const Chooser& chooser : choosers) {
      if (chooser.needsArchive && !archiveOpen) continue;
      const std::size_t before = script.Asked().size();
      chooser.run();
      ASSERT_GT(script.Asked().size(), before) << chooser.command;
      for (std::size_t i = before; i < script.Asked().size(); ++i) {
        if (std::holds_alternative<vzrui::DialogQuestion>(script.Asked()[i])) continue;
        EXPECT_EQ(StartOf(script.Asked()[i]), archiveOpen ? archiveFolder : home)
            << chooser.command << ": " << vzrui::Describe(script.Asked()[i]);
      }
    }
  }
  // Without an archive: 1 + 2 + 3 (the dialog itself); then the open, and 1 + 1 + 1 + 2 + 3.
  EXPECT_EQ(script.Asked().size(), 6u + 1 + 8) << "every chooser was asked";
}
