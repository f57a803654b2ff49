// toolsetpresenter.h - every decision of VZR_Toolset's main window and of its
// Pack Directory dialog, free of any toolkit: open and load, the text shown
// for a selected entry, modified tracking and Save Changes, the questions
// before an edit could be lost, the extract commands and Pack Directory.
// The window (a ToolsetView) routes each command here and shows what it is
// told.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entrytext.h"
#include "toolsetview.h"
#include "vzrpack.h"

namespace present {

inline constexpr const char* kNoFile = "NoFile";

// True for names of at least 4 characters ending in ".con", ".ssc", ".inc"
// or ".rs", compared without regard to ASCII case.
bool IsTextEntryName(const char* name);

// Widths of the list's three columns for a client width w: u = w / 5, then
// 3u + 20, u - 20 and w - 4u - 40.
struct ColumnWidths {
  int name, size, offset;
};
ColumnWidths ComputeColumnWidths(int clientWidth);

// One row of the entry list as shown: the name as UTF-8 (EntryNameToUtf8),
// size and offset as signed decimal, as the platform's "%d" shows them.
struct EntryRow {
  std::string name, size, offset;
};

// What a failed Extract of entry index means to the user: the entry's name
// and the reason in a user's words (those "vzr test" gives).
std::string UnreadableEntryMessage(const VzrArchive& archive, uint32_t index);

// The archive a start names: with exactly one argument after the program's
// name (what a file manager's "Open with" passes), that argument; nothing
// otherwise.
std::optional<std::string> StartupArchivePath(const std::vector<std::string>& arguments);

class ToolsetPresenter {
 public:
  explicit ToolsetPresenter(ToolsetView& view);
  ~ToolsetPresenter();
  ToolsetPresenter(const ToolsetPresenter&) = delete;
  ToolsetPresenter& operator=(const ToolsetPresenter&) = delete;

  // The window's fields that carry decisions, under their platform names.
  std::string m_strLastBasePath;
  std::string m_strLastSourceDir;
  int32_t m_nCurrentFile = 0;          // 1-based entry last selected alone; 0 none
  std::string m_strCurrentFile;        // the shown entry's name, or kNoFile
  int32_t m_bModified = 0;             // the editor text differs from the entry
  std::unique_ptr<VzrArchive> m_pArchive;

  // Window set-up: "Ready...", the archive gone, Save Changes and the editor
  // disabled.
  void OnInitDialog();

  // File > Open .vzr: the file dialog, then OpenArchiveFile.
  void OnFileOpen();
  // Open once a path is known (the file dialog or the command line): offers
  // to save an edited text first, then loads the archive.
  void OpenArchiveFile(const std::string& path);
  // Rebuilds the list from the open archive's index.
  void FillFileList();
  // Row i of the list (empty strings for a row the index no longer has).
  EntryRow Row(int row) const;
  int RowCount() const;

  // The list's selection changed: loads a single selected text entry into
  // the editor, asking first whether to save an edited one.
  void OnItemchangedMainlist();
  // The list's selection is about to change.
  void OnItemchangingMainlist();

  // Save Changes, and the two routines of modified tracking. doCheckModified
  // returns the new m_bModified; doGoSaveChanges is true when the text was
  // written or there was nothing to write.
  void OnSaveChanges();
  int doCheckModified();
  bool doGoSaveChanges();
  // The editor's text in the shown entry's own encoding.
  std::string GetEditorText() const;

  // Escape, the close box and File > Exit: closes the window unless the user
  // keeps an edit open (Cancel) or its save failed. Enter does nothing.
  void OnCancel();
  void OnOK() {}

  // Where every chooser starts: the open archive's folder while it exists,
  // else empty (the user's home folder).
  std::string ChooserStartFolder() const;
  // Asks for a folder and makes it the current directory (Extract All and
  // Selected); nothing when no archive is open or the user cancelled.
  std::optional<std::string> ChooseDestinationFolder();
  void OnExtractAll();
  void OnExtractSelected();
  void OnExtractModFolder();
  // Runs the Pack Directory dialog with the last texts; reloads the open
  // archive when the pack replaced it.
  void OnPackDirectory();

 private:
  void LoadArchive(const std::string& path);
  void ShowNoText();
  void ShowCurrentFileLabel();
  void ShowEntryText(const unsigned char* data, std::size_t size);
  void WarnUnreadableEntry(uint32_t index);
  bool OfferToSaveBeforeReplacing();
  bool RefuseUnstorable(const std::string& editorText);
  void ExplainRefusedSave(const VzrError& error);
  bool ExitCheck();
  bool IsOpenArchive(const std::string& path) const;
  void ReloadAfterPack();

  ToolsetView& view_;
  std::string archiveFolder_;  // absolute folder of the archive opened last, fixed at open
  std::string archivePath_;    // its absolute path, fixed likewise
  std::string loadedBytes_;    // the entry as loaded or last saved
  EntryText shownText_;        // how the shown text maps back to bytes
};

}  // namespace present
