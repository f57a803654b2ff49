// toolset_fixture.h - the real main window, offscreen, with scripted answers
// and archives the tests write themselves.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "filelistmodel.h"
#include "filelistview.h"
#include "messages.h"
#include "script.h"
#include "statusbinding.h"
#include "testutil.h"
#include "toolsetdialog.h"

namespace toolsettest {

using testutil::ArchiveLayout;
using testutil::Bytes;

class ToolsetWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vzrui::SetApplicationName("VZR_Toolset");
    window = std::make_unique<toolset::ToolsetDialog>();
    status = std::make_unique<vzrui::ProcessStatusSink>(*window);
    window->Initialize();
    window->show();
  }

  void TearDown() override {
    for (const std::string& problem : script.Problems()) ADD_FAILURE() << "script: " << problem;
    status.reset();
    window.reset();
  }

  // Writes the archive under the test's folder and opens it in the window.
  std::string OpenArchive(const ArchiveLayout& layout, const std::string& name = "test.vzr") {
    const std::string path = dir / name;
    layout.WriteTo(path);
    Open(path);
    return path;
  }
  void Open(const std::string& path) {
    script.File(path);
    window->OnFileOpen();
  }

  QModelIndex Row(int row) const { return window->ListModel()->index(row, 0); }
  // A click on a row: it becomes the only selected row.
  void Click(int row) {
    window->m_ctlFileList->selectionModel()->select(
        Row(row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  // A Ctrl+click: the row is added to, or taken from, the selection.
  void CtrlClick(int row) {
    window->m_ctlFileList->selectionModel()->select(Row(row), QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
  }
  QString Cell(int row, int column) const {
    return window->ListModel()->index(row, column).data().toString();
  }

  QString EditorText() const { return window->m_ctlText->toPlainText(); }
  // Typing: the editor's whole text replaced as a user would replace it.
  void Type(const QString& text) { window->m_ctlText->setPlainText(text); }
  std::string StatusLine() const {
    return static_cast<QLabel*>(window->GetDlgItem(toolset::kIdcStatus))->text().toStdString();
  }
  std::string CurrentFileLabel() const {
    return static_cast<QLabel*>(window->GetDlgItem(toolset::kIdcCurrentFile))->text().toStdString();
  }
  bool SaveEnabled() const { return window->GetDlgItem(toolset::kIdcSaveChanges)->isEnabled(); }
  bool EditorEnabled() const { return window->m_ctlText->isEnabled(); }

  testutil::TempDir dir;
  testutil::CurrentDirGuard cwd;
  vzrui::ScriptedAnswers script;
  std::unique_ptr<toolset::ToolsetDialog> window;
  std::unique_ptr<vzrui::ProcessStatusSink> status;
};

// The entry of an archive on disk, as the engine reads it back.
inline Bytes EntryBytes(const std::string& archivePath, uint32_t index) {
  VzrArchive archive;
  archive.LoadIndex(archivePath.c_str());
  const unsigned char* data = archive.Extract(index, nullptr);
  if (!data) return {};
  return Bytes(data, data + archive.FileIndex.files[index].fileSize);
}

}  // namespace toolsettest
