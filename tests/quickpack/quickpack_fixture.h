// quickpack_fixture.h - mod trees in temporary folders, the window opened in
// their Archives folder, scripted message answers and a recording packer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quickpackdialog.h"
#include "script.h"
#include "statusbinding.h"
#include "testutil.h"
#include "vzrpack.h"

namespace quickpack_test {

namespace fs = std::filesystem;

// A mod root in a temporary folder with an Archives folder that is the
// working directory while the tree lives.
class ModTree {
 public:
  ModTree() {
    fs::create_directories(root_.path() / "Archives");
    fs::current_path(root_.path() / "Archives");
  }
  // A folder below the mod root (parents included).
  void Folder(const std::string& relative) const { fs::create_directories(root_.path() / relative); }
  // A file below the mod root with the given content.
  void File(const std::string& relative, const std::string& content) const {
    testutil::WriteFileText(root_ / relative, content);
  }
  std::string Root() const { return root_.str(); }
  std::string Archives() const { return root_ / "Archives"; }
  // A path below the Archives folder.
  std::string InArchives(const std::string& relative) const { return root_ / ("Archives/" + relative); }

 private:
  testutil::TempDir root_;
  testutil::CurrentDirGuard guard_;  // restores the working directory before the tree goes
};

// What one packer call was given.
struct PackCall {
  std::string name;
  int compress = 0;
};

// The window as the program runs it: its status binding installed, the
// initialisation run, shown offscreen. Message boxes are answered from the
// script; a message nobody expected, or an answer left over, fails the test.
class Window {
 public:
  Window() {
    dialog = std::make_unique<quickpack::QuickPackDialog>();
    status = std::make_unique<vzrui::ProcessStatusSink>(*dialog);
    dialog->Initialize();
    dialog->show();
    QApplication::processEvents();
  }
  ~Window() {
    for (const std::string& problem : script.Problems()) ADD_FAILURE() << problem;
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Replaces the engine's packer by one that records each call and posts a
  // status; names in failing throw as an escaping failure would.
  void RecordPacks(std::vector<std::string> failing = {}) {
    dialog->SetPacker([this, failing](const char* name, int compress) {
      calls.push_back({name, compress});
      for (const std::string& f : failing)
        if (f == name) {
          CodePosition = 4242;
          throw std::runtime_error("escaping failure");
        }
      GetStatusSink()->SetText((std::string("Packed ") + name).c_str());
      return 0;
    });
  }
  std::vector<std::string> PackedNames() const {
    std::vector<std::string> names;
    for (const PackCall& c : calls) names.push_back(c.name);
    return names;
  }
  std::vector<vzrui::MessageQuestion> Messages() const { return script.Messages(); }
  std::string StatusLine() const { return dialog->m_ctlStatus->text().toStdString(); }
  std::vector<std::string> Levels() const { return dialog->m_ctlLevelList->Entries(); }
  std::vector<std::string> Folders() const { return dialog->m_ctlFolderList->Entries(); }

  vzrui::ScriptedAnswers script;
  std::unique_ptr<quickpack::QuickPackDialog> dialog;
  std::unique_ptr<vzrui::ProcessStatusSink> status;
  std::vector<PackCall> calls;
};

// Entry names and content sizes of an archive, read with the engine.
struct ArchiveEntry {
  std::string name;
  uint32_t fileSize = 0;
  std::string content;
};
inline std::vector<ArchiveEntry> ReadArchive(const std::string& path) {
  VzrArchive archive;
  archive.LoadIndex(path.c_str());
  const testutil::Bytes bytes = testutil::ReadFileBytes(path);
  std::vector<ArchiveEntry> entries;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    ArchiveEntry entry{e.name, e.fileSize, {}};
    // Every archive the packer writes stores its entries raw.
    if (e.fileOffset + e.fileSize <= bytes.size())
      entry.content.assign(bytes.begin() + e.fileOffset, bytes.begin() + e.fileOffset + e.fileSize);
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace quickpack_test
