#include "toolsetpresenter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "discovery.h"
#include "entryfaults.h"
#include "fileservices.h"
#include "trace.h"

namespace present {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSaveQuestion = "Text was modified. Save changes?";
constexpr const char* kSaveCaption = "Save changes?";

template <class... Args>
std::string Format(const char* format, Args... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

bool EndsWithNoCase(const char* name, std::size_t length, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (length < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = name[length - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

std::string ExtractAllMessage(int result) {
  switch (result) {
    case 5:
      return "ERROR! Could not extract all files to destination directory!";
    case 7:
      return "ERROR! Not enough disk space free to extract files!";
    default:
      return Format("ERROR! Unknown, Error Number: %d", result);
  }
}

// Why the engine refused a save, when another program is the reason.
const char* RefusedSaveText(int sysError) {
  switch (vzrfs::KindOfError(sysError)) {
    case vzrfs::ErrorKind::ChangedOnDisk:
      return "The archive was changed on disk since it was opened.\nYour changes were not saved; "
             "open the archive again to see its new content.";
    case vzrfs::ErrorKind::Busy:
      return sysError == EWOULDBLOCK
                 ? "Another program is writing the archive.\nYour changes were not saved; try again in a moment."
                 : "Another program has the archive open.\nYour changes were not saved; close it and try again.";
    case vzrfs::ErrorKind::ReadOnly:
      return sysError == EACCES ? "The archive is read-only.\nYour changes were not saved." : nullptr;
    default:
      return nullptr;
  }
}

std::string NameOf(const FileEntry& entry) {
  return std::string(entry.name, std::find(entry.name, entry.name + sizeof entry.name, '\0'));
}

// The absolute, lexically clean form of a path; the path itself when the
// system cannot tell the current directory.
fs::path Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(path), ec);
  return ec ? fs::path(path) : absolute.lexically_normal();
}

}  // namespace

bool IsTextEntryName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length < 4) return false;
  return EndsWithNoCase(name, length, ".con") || EndsWithNoCase(name, length, ".ssc") ||
         EndsWithNoCase(name, length, ".inc") || EndsWithNoCase(name, length, ".rs");
}

ColumnWidths ComputeColumnWidths(int clientWidth) {
  const int u = clientWidth / 5;
  return {3 * u + 20, u - 20, clientWidth - 4 * u - 40};
}

std::string UnreadableEntryMessage(const VzrArchive& archive, uint32_t index) {
  const std::string reason = vzr::EntryFaultReason(archive, index);
  if (index >= archive.FileIndex.count) return "The entry could not be read: " + reason + ".";
  return "The entry \"" + EntryNameToUtf8(NameOf(archive.FileIndex.files[index])) + "\" could not be read: " + reason +
         ".";
}

std::optional<std::string> StartupArchivePath(const std::vector<std::string>& arguments) {
  if (arguments.size() != 2) return std::nullopt;
  return arguments[1];
}

ToolsetPresenter::ToolsetPresenter(ToolsetView& view) : view_(view) {}

ToolsetPresenter::~ToolsetPresenter() = default;

void ToolsetPresenter::OnInitDialog() {
  m_pArchive.reset();
  view_.SetStatusText("Ready...");
  view_.EnableControl(kIdcSaveChanges, false);
  view_.EnableControl(kIdcText, false);
}

// ---------------------------------------------------------------------------
// Open and list

void ToolsetPresenter::OnFileOpen() {
  FileRequest request;
  request.open = true;
  request.defaultExtension = ".vzr";
  request.filter = "VZR File (*.vzr)| *.vzr";
  request.hideReadOnly = true;
  request.startFolder = ChooserStartFolder();
  const auto path = view_.ChooseFile(request, Owner::Window);
  if (!path) return;
  OpenArchiveFile(*path);
}

void ToolsetPresenter::OpenArchiveFile(const std::string& path) {
  // Edits of the text shown are offered for saving before its archive goes.
  if (!OfferToSaveBeforeReplacing()) return;
  LoadArchive(path);
}

void ToolsetPresenter::LoadArchive(const std::string& path) {
  m_nCurrentFile = 0;
  m_bModified = 0;
  TraceLog("LoadIndex(): ", path);
  view_.ShowRows(0);
  m_pArchive.reset();
  m_pArchive = std::make_unique<VzrArchive>();
  // Fixed now: later commands change the current directory.
  const fs::path absolute = Absolute(path);
  archiveFolder_ = absolute.parent_path().string();
  archivePath_ = absolute.string();
  m_pArchive->LoadIndex(path.c_str());
  FillFileList();
  // The text of the previous archive could never be saved again: it goes.
  ShowNoText();
  view_.SetStatusText(Format("Files: %d", static_cast<int>(m_pArchive->FileIndex.count)));
  // A list that stops short of the index must not read as the whole archive.
  if (m_pArchive->indexDamaged)
    view_.Ask({Format("The archive is damaged: %d entries could be read.", static_cast<int>(m_pArchive->FileIndex.count)),
               {}, Buttons::Ok, Icon::Exclamation});
}

void ToolsetPresenter::FillFileList() {
  if (!m_pArchive) return;
  view_.ShowRows(RowCount());
}

int ToolsetPresenter::RowCount() const { return m_pArchive ? static_cast<int>(m_pArchive->FileIndex.count) : 0; }

EntryRow ToolsetPresenter::Row(int row) const {
  // The engine may rewrite the index while a command runs and the window
  // repaints; a row it no longer has shows nothing.
  if (!m_pArchive || row < 0) return {};
  const auto i = static_cast<uint32_t>(row);
  if (i >= m_pArchive->FileIndex.count || i >= m_pArchive->FileIndex.files.size()) return {};
  const FileEntry& entry = m_pArchive->FileIndex.files[i];
  // Shown signed, as the platform's "%d" shows them.
  return {EntryNameToUtf8(NameOf(entry)), std::to_string(static_cast<int32_t>(entry.fileSize)),
          std::to_string(static_cast<int32_t>(entry.fileOffset))};
}

void ToolsetPresenter::ShowNoText() {
  ShowEntryText(nullptr, 0);
  m_strCurrentFile = kNoFile;
  ShowCurrentFileLabel();
  loadedBytes_.clear();
  view_.EnableControl(kIdcSaveChanges, false);
  view_.EnableControl(kIdcText, false);
}

// Entry names are shown as the list shows them, and never read back.
void ToolsetPresenter::ShowCurrentFileLabel() { view_.ShowCurrentFile(EntryNameToUtf8(m_strCurrentFile)); }

void ToolsetPresenter::ShowEntryText(const unsigned char* data, std::size_t size) {
  shownText_ = DecodeEntryText(data, size);
  view_.SetEditorText(shownText_.shown);
}

void ToolsetPresenter::OnItemchangingMainlist() {
  CodePosition = 534;
  CodePosition = 540;
}

void ToolsetPresenter::OnItemchangedMainlist() {
  const std::vector<int> selected = view_.SelectedRows();
  const int first = selected.empty() ? 0 : selected.front() + 1;
  if (first == 0 || !m_pArchive) {
    CodePosition = 794;
    return;
  }
  const int32_t previous = m_nCurrentFile;
  try {
    doCheckModified();
    if (selected.size() == 1) {
      const int index = first - 1;
      m_nCurrentFile = first;
      // Whatever entry comes next, even the same one again, replaces the text.
      if (m_bModified && previous > 0) {
        const int answer = view_.Ask({kSaveQuestion, kSaveCaption, Buttons::YesNo, Icon::Question});
        if (answer == kIdYes) {
          m_nCurrentFile = previous;
          if (!doGoSaveChanges()) {
            // The edits stay in the editor, still to be saved.
            CodePosition = 794;
            return;
          }
          m_nCurrentFile = first;
        }
      }
      m_bModified = 0;
      CodePosition = 663;
      m_strCurrentFile = kNoFile;
      if (static_cast<uint32_t>(index) >= m_pArchive->FileIndex.count) {
        ShowNoText();
        CodePosition = 794;
        return;
      }
      const FileEntry entry = m_pArchive->FileIndex.files[static_cast<uint32_t>(index)];
      if (!IsTextEntryName(entry.name)) {
        ShowEntryText(nullptr, 0);
        loadedBytes_.clear();
        view_.EnableControl(kIdcSaveChanges, false);
        view_.EnableControl(kIdcText, false);
        ShowCurrentFileLabel();
        return;
      }
      TraceLog(" Looking at: ", entry.name, "\n  Looking at: ", index, "\n  Size: ", entry.fileSize,
               "\n  Offset: ", entry.fileOffset, "\n  SizeCompressed: ", entry.compSize);
      CodePosition = 712;
      const unsigned char* data = m_pArchive->Extract(static_cast<uint32_t>(index), nullptr);
      CodePosition = 716;
      m_pArchive->CloseArchiveStream();
      CodePosition = 723;
      if (!data) {
        ShowEntryText(nullptr, 0);
        loadedBytes_.clear();
      } else {
        CodePosition = 728;
        CodePosition = 759;
        loadedBytes_.assign(reinterpret_cast<const char*>(data), entry.fileSize);
        ShowEntryText(data, entry.fileSize);
        m_strCurrentFile = entry.name;
        view_.EnableControl(kIdcSaveChanges, true);
        view_.EnableControl(kIdcText, true);
      }
      CodePosition = 781;
      ShowCurrentFileLabel();
      view_.SetStatusText("Ready.");
      CodePosition = 783;
      if (!data) WarnUnreadableEntry(static_cast<uint32_t>(index));
    }
  } catch (...) {
    view_.Ask({Format("Exception Error! OnItemchangedMainlist() \n   Code position: %d", CodePosition), {}});
  }
  CodePosition = 794;
}

// An empty editor alone would read as an empty script: the user is told
// which entry and why, in the words of the command line's check.
void ToolsetPresenter::WarnUnreadableEntry(uint32_t index) {
  view_.Ask({UnreadableEntryMessage(*m_pArchive, index), {}, Buttons::Ok, Icon::Exclamation});
}

// ---------------------------------------------------------------------------
// Editing and saving

std::string ToolsetPresenter::GetEditorText() const { return EncodeEntryText(view_.EditorText(), shownText_); }

// Compares the text as it would be stored with the entry as loaded or last
// saved, so that an edit typed back counts as no edit.
int ToolsetPresenter::doCheckModified() {
  if (m_nCurrentFile <= 0) return m_bModified;
  if (m_strCurrentFile == kNoFile) {
    m_bModified = 0;
    return 0;
  }
  const std::string editorText = view_.EditorText();
  const std::string text = EncodeEntryText(editorText, shownText_);
  TraceLog("newFSize: ", text.size());
  // A character the entry cannot store makes the text differ, whatever the
  // bytes it would leave.
  m_bModified = text != loadedBytes_ || !CanStoreAll(editorText, shownText_) ? 1 : 0;
  return m_bModified;
}

void ToolsetPresenter::OnSaveChanges() { doGoSaveChanges(); }

// A character the text's encoding cannot hold is never stored as something
// else: the save is refused, naming it, and the edits stay.
bool ToolsetPresenter::RefuseUnstorable(const std::string& editorText) {
  const auto unstorable = FirstUnstorable(editorText, shownText_);
  if (!unstorable) return false;
  view_.Ask({"The text holds " + DescribeCharacter(*unstorable) + ", which this " + EncodingName(shownText_.encoding) +
                 " script cannot store.\nYour changes were not saved; replace that character and save again.",
             "Not saved", Buttons::Ok, Icon::Exclamation});
  return true;
}

bool ToolsetPresenter::doGoSaveChanges() {
  if (m_nCurrentFile <= 0 || m_strCurrentFile == kNoFile) return true;
  TraceLog("doGoSaveChanges(): ", m_strCurrentFile);
  const auto inx = static_cast<uint32_t>(m_nCurrentFile - 1);
  CodePosition = 821;
  const std::string editorText = view_.EditorText();
  if (RefuseUnstorable(editorText)) {
    m_bModified = 1;
    return false;
  }
  const std::string text = EncodeEntryText(editorText, shownText_);
  TraceLog("  newFSize: ", text.size());
  bool updated = false;
  try {
    view_.EnableControl(kIdcSaveChanges, false);
    // The buffer grows to whatever the text needs; a text is never cut short.
    if (!m_pArchive || text.size() > UINT32_MAX - 2 ||
        !m_pArchive->GrowFileBuffer(static_cast<uint32_t>(text.size()) + 2))
      throw std::bad_alloc();
    const auto size = static_cast<uint32_t>(text.size());
    std::memcpy(m_pArchive->fileBuffer, text.data(), size);
    m_pArchive->curLength = size;
    updated = m_pArchive->AddReplaceFile(inx, size) == 0;
    if (updated) loadedBytes_ = text;
    if (!updated) ExplainRefusedSave(m_pArchive->lastError);
    // A save the engine refused leaves the text marked as modified.
    m_bModified = text != loadedBytes_ ? 1 : 0;
    FillFileList();
    view_.EnableControl(kIdcSaveChanges, true);
  } catch (...) {
    view_.Ask({Format("Error! VZR_AddReplaceFile()\n vzrpack\n   Code position: %d", CodePosition), "Error",
               Buttons::Ok, Icon::Error});
    return false;
  }
  return updated;
}

// A save refused because another program changed or is writing the
// archive says so: the edits stay, and the user decides what to keep.
void ToolsetPresenter::ExplainRefusedSave(const VzrError& error) {
  if (const char* text = RefusedSaveText(error.sysError)) view_.Ask({text, "Not saved", Buttons::Ok, Icon::Exclamation});
}

bool ToolsetPresenter::OfferToSaveBeforeReplacing() {
  if (doCheckModified() == 0) return true;
  if (view_.Ask({kSaveQuestion, kSaveCaption, Buttons::YesNo, Icon::Question}) != kIdYes) return true;
  return doGoSaveChanges();
}

// Asks before edits would be lost, whether or not a row is selected; the
// window stays open when the user cancels or the save fails.
bool ToolsetPresenter::ExitCheck() {
  doCheckModified();
  if (m_bModified && m_nCurrentFile > 0) {
    const int answer = view_.Ask(
        {"Text was modified. Save changes before exit?", kSaveCaption, Buttons::YesNoCancel, Icon::Question});
    if (answer == kIdCancel) return false;
    if (answer == kIdYes) return doGoSaveChanges();
  }
  return true;
}

void ToolsetPresenter::OnCancel() {
  if (ExitCheck()) view_.CloseWindow();
}

// ---------------------------------------------------------------------------
// Extract and Pack

std::string ToolsetPresenter::ChooserStartFolder() const {
  // A folder that has gone since the archive was opened would show nothing.
  std::error_code ec;
  if (m_pArchive && !archiveFolder_.empty() && fs::is_directory(archiveFolder_, ec)) return archiveFolder_;
  return {};
}

std::optional<std::string> ToolsetPresenter::ChooseDestinationFolder() {
  if (!m_pArchive) return std::nullopt;
  const auto folder = view_.ChooseFolder({"", FolderStyle::EditBox, Owner::None, ChooserStartFolder()});
  if (!folder || !vzrfs::SetCurrentDir(folder->c_str())) return std::nullopt;
  return folder;
}

void ToolsetPresenter::OnExtractAll() {
  if (!ChooseDestinationFolder()) return;
  const std::string destination = vzrfs::GetCurrentDir();
  const int result = m_pArchive->ExtractAll(destination.c_str());
  if (result != 0) view_.Ask({ExtractAllMessage(result), "ERROR!", Buttons::Ok, Icon::Error});
  view_.SetStatusText("Ready...");
}

void ToolsetPresenter::OnExtractSelected() {
  if (!ChooseDestinationFolder()) return;
  const std::string destination = vzrfs::GetCurrentDir();
  for (int row : view_.SelectedRows()) {
    if (!m_pArchive->Extract(static_cast<uint32_t>(row), destination.c_str())) {
      view_.Ask({"ERROR! Could not extract all files to destination directory!\n"
                 "You might be be running low on free disk space.",
                 "ERROR!", Buttons::Ok, Icon::Error});
      break;
    }
  }
  m_pArchive->CloseArchiveStream();
  view_.SetStatusText("Ready...");
}

void ToolsetPresenter::OnExtractModFolder() {
  const std::string start = ChooserStartFolder();
  const auto mod =
      view_.ChooseFolder({"Choose a mod folder to decompress:", FolderStyle::Classic, Owner::Window, start});
  if (!mod) return;
  const auto output = view_.ChooseFolder({"Choose output location:", FolderStyle::EditBox, Owner::Window, start});
  if (!output) return;
  // An entry named like another archive of the mod must not destroy it when
  // the mod is unpacked into its own folder.
  VzrArchive archive;
  for (const std::string& path : modkit::ModArchives(*mod))
    archive.keptIntact.push_back(vzrfs::ResolvePath(path.c_str()));
  for (const char* folder : modkit::kModArchivePatterns) {
    std::string pattern = *mod + folder;
    if (unpackVzrFiles(pattern.data(), &archive, output->c_str()) != 0) {
      view_.Ask({"Unable to extract all mod archive files!", "Error!", Buttons::Ok, Icon::Error});
      return;
    }
  }
  view_.SetStatusText("Ready...");
}

void ToolsetPresenter::OnPackDirectory() {
  PackDirFields fields{m_strLastSourceDir, m_strLastBasePath, {}, ChooserStartFolder()};
  const int result = view_.RunPackDirDialog(fields);
  m_strLastSourceDir = fields.m_strSourceDir;
  m_strLastBasePath = fields.m_strBasePath;
  if (result == kIdOk && IsOpenArchive(fields.m_strArchivePath)) ReloadAfterPack();
}

bool ToolsetPresenter::IsOpenArchive(const std::string& path) const {
  if (!m_pArchive || path.empty()) return false;
  std::error_code ec;
  if (fs::exists(path, ec) && fs::exists(archivePath_, ec)) return fs::equivalent(path, archivePath_, ec) && !ec;
  return Absolute(path) == fs::path(archivePath_);
}

// The pack replaced the open archive: the old index, and any text shown from
// it, now describe bytes that are gone. The archive is opened again as Open
// does, and the status line keeps the pack's outcome.
void ToolsetPresenter::ReloadAfterPack() {
  const std::string packStatus = view_.StatusText();
  LoadArchive(archivePath_);
  view_.SetStatusText(packStatus);
}

}  // namespace present
