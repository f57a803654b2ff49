#include "toolsetdialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "appicon.h"
#include "celldelegate.h"
#include "choosers.h"
#include "discovery.h"
#include "fileservices.h"
#include "filelistmodel.h"
#include "filelistview.h"
#include "messages.h"
#include "packdirdialog.h"
#include "statusbinding.h"
#include "textconv.h"
#include "trace.h"

namespace toolset {

using vzrui::Buttons;
using vzrui::FromQt;
using vzrui::Icon;
using vzrui::ToQt;

namespace {

constexpr int kTemplateWidth = 378;
constexpr int kTemplateHeight = 310;
constexpr const char* kUnstorableQuestion =
    "The text holds characters that this 8-bit script cannot store; they would be saved as \"?\".\n"
    "Save anyway?";

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

const char* ExtractAllMessage(int result, std::string& scratch) {
  switch (result) {
    case 5:
      return "ERROR! Could not extract all files to destination directory!";
    case 7:
      return "ERROR! Not enough disk space free to extract files!";
    default:
      scratch = Format("ERROR! Unknown, Error Number: %d", result);
      return scratch.c_str();
  }
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

// ---------------------------------------------------------------------------
// Window set-up

ToolsetDialog::ToolsetDialog(QWidget* parent) : vzrui::ModalDialog(parent), m_hIcon(AppIcon()) {
  setWindowTitle("winVZR 2.05");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  BuildMenu();
  SetClientOrigin(QPoint(0, menuBar_->sizeHint().height()));
  BuildControls();
  SetTemplateSize(kTemplateWidth, kTemplateHeight);
  setMinimumSize(size());
}

ToolsetDialog::~ToolsetDialog() {
  vzrui::UnbindStatusText(m_strStatus);
  // The list reads the index of m_pArchive: it lets go first.
  model_->Clear();
}

void ToolsetDialog::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  auto add = [this](QMenu* menu, const char* text, int id, bool enabled, auto handler) {
    QAction* action = menu->addAction(text);
    action->setEnabled(enabled);
    action->setData(id);
    connect(action, &QAction::triggered, this, handler);
    actions_.emplace_back(id, action);
  };
  QMenu* file = menuBar_->addMenu("&File");
  add(file, "New .vzr", kIdFileNew, false, [] {});
  add(file, "Open .vzr", kIdFileOpen, true, [this] { OnFileOpen(); });
  MenuAction(kIdFileOpen)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  // The application's exit command asks the window to close.
  add(file, "Exit", kIdAppExit, true, [this] { close(); });
  QMenu* extract = menuBar_->addMenu("&Extract");
  add(extract, "All", kIdExtractAll, true, [this] { OnExtractAll(); });
  add(extract, "Selected", kIdExtractSelected, true, [this] { OnExtractSelected(); });
  extract->addSeparator();
  add(extract, "Mod Folder", kIdExtractModFolder, true, [this] { OnExtractModFolder(); });
  QMenu* pack = menuBar_->addMenu("&Pack");
  add(pack, "Directory", kIdPackDirectory, true, [this] { OnPackDirectory(); });
  QMenu* select = menuBar_->addMenu("&Select");
  add(select, "By Keyword", kIdSelectByKeyword, false, [this] { OnSelectByKeyword(); });
  select->menuAction()->setEnabled(false);
}

void ToolsetDialog::BuildControls() {
  m_ctlFileList = new FileListView;
  model_ = new FileListModel(this);
  m_ctlFileList->setModel(model_);
  m_ctlFileList->setItemDelegate(new PlainCellDelegate(m_ctlFileList));
  m_ctlFileList->setSelectionModel(new AnnouncingSelectionModel(model_, [this] { OnItemchangingMainlist(); }));
  m_ctlFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_ctlFileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_ctlFileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_ctlFileList->header()->setSectionsClickable(false);
  m_ctlFileList->header()->setSectionsMovable(false);
  m_ctlFileList->header()->setStretchLastSection(false);
  m_ctlFileList->setContextMenuPolicy(Qt::CustomContextMenu);
  // The selection stays visible while another control has the focus.
  QPalette palette = m_ctlFileList->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  m_ctlFileList->setPalette(palette);
  connect(m_ctlFileList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { OnItemchangedMainlist(); });
  connect(m_ctlFileList, &QWidget::customContextMenuRequested, this, [this] { OnRclickMainlist(); });

  statusLabel_ = new QLabel("Status:");
  saveButton_ = new QPushButton("Save Changes");
  // Enter in the window does nothing: the button must not become the
  // dialog's default, which Enter would press (Ctrl+S and a click save).
  saveButton_->setAutoDefault(false);
  saveButton_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(saveButton_, &QPushButton::clicked, this, [this] { OnSaveChanges(); });
  currentFileLabel_ = new QLabel("CurrentFile:");
  m_ctlText = new QPlainTextEdit;
  // Scripts are aligned code: their columns only line up in a fixed-pitch font.
  m_ctlText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_ctlText->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_ctlText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_ctlText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_ctlText->setTabChangesFocus(true);

  // Template order: file list, status line, Save Changes, current-file label, editor.
  PlaceControl(kIdcMainList, m_ctlFileList, 0, 0, 377, 177);
  PlaceControl(kIdcStatus, statusLabel_, 9, 298, 359, 8);
  PlaceControl(kIdcSaveChanges, saveButton_, 15, 180, 62, 13);
  PlaceControl(kIdcCurrentFile, currentFileLabel_, 100, 184, 270, 8);
  PlaceControl(kIdcText, m_ctlText, 0, 200, 377, 97);
  setTabOrder(m_ctlFileList, saveButton_);
  setTabOrder(saveButton_, m_ctlText);
}

void ToolsetDialog::OnInitDialog() {
  vzrui::ModalDialog::OnInitDialog();
  setWindowIcon(m_hIcon);
  m_pArchive.reset();
  vzrui::BindStatusText(m_strStatus);
  SetStatusText("Ready...");
  EnableDlgItem(kIdcSaveChanges, false);
  EnableDlgItem(kIdcText, false);
  const ColumnWidths widths = ComputeColumnWidths(m_ctlFileList->contentsRect().width());
  m_ctlFileList->setColumnWidth(FileListModel::kName, widths.name);
  m_ctlFileList->setColumnWidth(FileListModel::kSize, widths.size);
  m_ctlFileList->setColumnWidth(FileListModel::kOffset, widths.offset);
  m_ctlFileList->setFocus();
}

void ToolsetDialog::DoDataExchange(vzrui::DataExchange& dx) {
  dx.Text(statusLabel_, m_strStatus);
  // Entry names are shown as the list shows them, and never read back.
  dx.Custom([this] { currentFileLabel_->setText(EntryNameToQt(m_strCurrentFile)); }, nullptr);
}

void ToolsetDialog::SetStatusText(const std::string& text) {
  StatusSink* sink = GetStatusSink();
  if (sink->text == &m_strStatus) {
    sink->SetText(text.c_str());
  } else {
    m_strStatus = text;
    UpdateData(false);
  }
}

// The list and the editor share the room the window gains; the row of Save
// Changes moves with the list's bottom edge and the status line with the
// window's.
void ToolsetDialog::LayOutControls() {
  const vzrui::DialogUnits& u = Units();
  const QPoint origin = ClientOrigin();
  const int extraWidth = std::max(0, width() - origin.x() - u.X(kTemplateWidth));
  const int extraHeight = std::max(0, height() - origin.y() - u.Y(kTemplateHeight));
  const int listShare = extraHeight / 2;
  auto place = [&](int id, int grow, int down, int taller) {
    const QRect t = TemplateRect(id);
    QRect r = u.Rect(t.x(), t.y(), t.width(), t.height()).translated(origin);
    r.setWidth(r.width() + grow);
    r.setHeight(r.height() + taller);
    GetDlgItem(id)->setGeometry(r.translated(0, down));
  };
  place(kIdcMainList, extraWidth, 0, listShare);
  place(kIdcSaveChanges, 0, listShare, 0);
  place(kIdcCurrentFile, extraWidth, listShare, 0);
  place(kIdcText, extraWidth, listShare, extraHeight - listShare);
  place(kIdcStatus, extraWidth, extraHeight, 0);
  menuBar_->setGeometry(0, 0, width(), origin.y());
}

void ToolsetDialog::resizeEvent(QResizeEvent* event) {
  vzrui::ModalDialog::resizeEvent(event);
  LayOutControls();
}

void ToolsetDialog::closeEvent(QCloseEvent* event) {
  if (IsEnded()) {
    event->accept();
    return;
  }
  OnCancel();
  if (IsEnded())
    event->accept();
  else
    event->ignore();
}

QAction* ToolsetDialog::MenuAction(int id) const {
  for (const auto& [actionId, action] : actions_)
    if (actionId == id) return action;
  return nullptr;
}

std::vector<int> ToolsetDialog::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : m_ctlFileList->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

// ---------------------------------------------------------------------------
// Open and list

void ToolsetDialog::OnFileOpen() {
  vzrui::FileDialogRequest request;
  request.open = true;
  request.defaultExtension = ".vzr";
  request.filter = "VZR File (*.vzr)| *.vzr";
  request.hideReadOnly = true;
  request.startFolder = ChooserStartFolder();
  const auto path = vzrui::RunFileDialog(this, request);
  if (!path) return;
  OpenArchiveFile(*path);
}

void ToolsetDialog::OpenArchiveFile(const std::string& path) {
  // Edits of the text shown are offered for saving before its archive goes.
  if (!OfferToSaveBeforeReplacing()) return;
  LoadArchive(path);
}

void ToolsetDialog::LoadArchive(const std::string& path) {
  m_nCurrentFile = 0;
  m_bModified = 0;
  TraceLog("LoadIndex(): ", path);
  model_->Clear();
  m_pArchive.reset();
  m_pArchive = std::make_unique<VzrArchive>();
  const QFileInfo file(ToQt(path));
  archiveFolder_ = FromQt(file.absolutePath());
  archivePath_ = FromQt(file.absoluteFilePath());
  m_pArchive->LoadIndex(path.c_str());
  FillFileList();
  // The text of the previous archive could never be saved again: it goes.
  ShowNoText();
  SetStatusText(Format("Files: %d", static_cast<int>(m_pArchive->FileIndex.count)));
  // A list that stops short of the index must not read as the whole archive.
  if (m_pArchive->indexDamaged)
    vzrui::MessageBox(this, Format("The archive is damaged: %d entries could be read.",
                                   static_cast<int>(m_pArchive->FileIndex.count)),
                      {}, Buttons::Ok, Icon::Exclamation);
}

void ToolsetDialog::FillFileList() {
  if (!m_pArchive) return;
  model_->Rebuild(m_pArchive.get());
}

void ToolsetDialog::ShowNoText() {
  SetEditorText(nullptr, 0);
  m_strCurrentFile = kNoFile;
  loadedBytes_.clear();
  EnableDlgItem(kIdcSaveChanges, false);
  EnableDlgItem(kIdcText, false);
}

void ToolsetDialog::OnItemchangingMainlist() {
  CodePosition = 534;
  CodePosition = 540;
}

void ToolsetDialog::OnItemchangedMainlist() {
  const std::vector<int> selected = SelectedRows();
  const int first = selected.empty() ? 0 : selected.front() + 1;
  if (first == 0) {
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
        const int answer = vzrui::MessageBox(this, "Text was modified. Save changes?", "Save changes?",
                                             Buttons::YesNo, Icon::Question);
        if (answer == vzrui::kIdYes) {
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
        UpdateData(false);
        CodePosition = 794;
        return;
      }
      const FileEntry entry = m_pArchive->FileIndex.files[static_cast<uint32_t>(index)];
      if (!IsTextEntryName(entry.name)) {
        SetEditorText(nullptr, 0);
        loadedBytes_.clear();
        EnableDlgItem(kIdcSaveChanges, false);
        EnableDlgItem(kIdcText, false);
        UpdateData(false);
        return;
      }
      TraceLog(" Looking at: ", entry.name, "\n  Looking at: ", index, "\n  Size: ", entry.fileSize,
               "\n  Offset: ", entry.fileOffset, "\n  SizeCompressed: ", entry.compSize);
      CodePosition = 712;
      const unsigned char* data = m_pArchive->Extract(static_cast<uint32_t>(index), nullptr);
      CodePosition = 716;
      m_pArchive->CloseArchiveStream();
      m_strStatus = "Ready.";
      CodePosition = 723;
      if (!data) {
        SetEditorText(nullptr, 0);
        loadedBytes_.clear();
      } else {
        CodePosition = 728;
        CodePosition = 759;
        loadedBytes_.assign(reinterpret_cast<const char*>(data), entry.fileSize);
        SetEditorText(data, entry.fileSize);
        m_strCurrentFile = entry.name;
        EnableDlgItem(kIdcSaveChanges, true);
        EnableDlgItem(kIdcText, true);
      }
      CodePosition = 781;
      UpdateData(false);
      CodePosition = 783;
      if (!data) WarnUnreadableEntry();
    }
  } catch (...) {
    vzrui::MessageBox(this, Format("Exception Error! OnItemchangedMainlist() \n   Code position: %d", CodePosition));
  }
  CodePosition = 794;
}

// An empty editor alone would read as an empty script: the user is told why.
void ToolsetDialog::WarnUnreadableEntry() {
  const std::string& reason = m_pArchive->lastError.message;
  vzrui::MessageBox(this, "The entry could not be read: " + (reason.empty() ? std::string("unknown reason") : reason),
                    {}, Buttons::Ok, Icon::Exclamation);
}

void ToolsetDialog::SetEditorText(const unsigned char* data, std::size_t size) {
  shownText_ = DecodeEntryText(data, size);
  m_ctlText->setPlainText(shownText_.shown);
  m_ctlText->moveCursor(QTextCursor::Start);
  m_ctlText->verticalScrollBar()->setValue(0);
}

// ---------------------------------------------------------------------------
// Editing and saving

std::string ToolsetDialog::GetEditorText() const {
  return EncodeEntryText(m_ctlText->document()->toRawText(), shownText_);
}

// Compares the text as it would be stored with the entry as loaded or last
// saved, so that an edit typed back counts as no edit.
int ToolsetDialog::doCheckModified() {
  if (m_nCurrentFile <= 0) return m_bModified;
  if (m_strCurrentFile == kNoFile) {
    m_bModified = 0;
    return 0;
  }
  UpdateData(true);
  const std::string text = GetEditorText();
  TraceLog("newFSize: ", text.size());
  m_bModified = text != loadedBytes_ ? 1 : 0;
  return m_bModified;
}

void ToolsetDialog::OnSaveChanges() {
  UpdateData(true);
  doGoSaveChanges();
}

bool ToolsetDialog::doGoSaveChanges() {
  if (m_nCurrentFile <= 0 || m_strCurrentFile == kNoFile) return true;
  TraceLog("doGoSaveChanges(): ", m_strCurrentFile);
  const auto inx = static_cast<uint32_t>(m_nCurrentFile - 1);
  CodePosition = 821;
  // Characters an 8-bit script cannot hold would be saved as '?': the user decides.
  if (!CanStoreAll(m_ctlText->document()->toRawText(), shownText_) &&
      vzrui::MessageBox(this, kUnstorableQuestion, "Save changes?", Buttons::YesNo, Icon::Exclamation) !=
          vzrui::kIdYes)
    return false;
  const std::string text = GetEditorText();
  TraceLog("  newFSize: ", text.size());
  bool updated = false;
  try {
    EnableDlgItem(kIdcSaveChanges, false);
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
    EnableDlgItem(kIdcSaveChanges, true);
  } catch (...) {
    vzrui::MessageBox(this, Format("Error! VZR_AddReplaceFile()\n vzrpack\n   Code position: %d", CodePosition),
                      "Error", Buttons::Ok, Icon::Error);
    return false;
  }
  return updated;
}

// A save refused because another program changed or is writing the
// archive says so: the edits stay, and the user decides what to keep.
void ToolsetDialog::ExplainRefusedSave(const VzrError& error) {
  const char* text = nullptr;
  if (error.sysError == ESTALE)
    text = "The archive was changed on disk since it was opened.\nYour changes were not saved; "
           "open the archive again to see its new content.";
  else if (error.sysError == EWOULDBLOCK)
    text = "Another program is writing the archive.\nYour changes were not saved; try again in a moment.";
  else if (error.sysError == EACCES)
    text = "The archive is read-only.\nYour changes were not saved.";
  if (text) vzrui::MessageBox(this, text, "Not saved", Buttons::Ok, Icon::Exclamation);
}

bool ToolsetDialog::OfferToSaveBeforeReplacing() {
  if (doCheckModified() == 0) return true;
  const int answer = vzrui::MessageBox(this, "Text was modified. Save changes?", "Save changes?", Buttons::YesNo,
                                       Icon::Question);
  if (answer != vzrui::kIdYes) return true;
  return doGoSaveChanges();
}

// Asks before edits would be lost, whether or not a row is selected; the
// window stays open when the user cancels or the save fails.
bool ToolsetDialog::ExitCheck() {
  doCheckModified();
  if (m_bModified && m_nCurrentFile > 0) {
    const int answer = vzrui::MessageBox(this, "Text was modified. Save changes before exit?", "Save changes?",
                                         Buttons::YesNoCancel, Icon::Question);
    if (answer == vzrui::kIdCancel) return false;
    if (answer == vzrui::kIdYes) return doGoSaveChanges();
  }
  return true;
}

void ToolsetDialog::OnOK() {}

void ToolsetDialog::OnCancel() {
  if (ExitCheck()) EndDialog(vzrui::kIdCancel);
}

// ---------------------------------------------------------------------------
// Extract and Pack

std::string ToolsetDialog::ChooserStartFolder() const {
  // A folder that has gone since the archive was opened would show nothing.
  if (m_pArchive && !archiveFolder_.empty() && QFileInfo(ToQt(archiveFolder_)).isDir()) return archiveFolder_;
  return FromQt(QDir::homePath());
}

std::optional<std::string> ToolsetDialog::ChooseDestinationFolder() {
  if (!m_pArchive) return std::nullopt;
  const auto folder = vzrui::BrowseForFolder("", vzrui::FolderStyle::EditBox, nullptr, ChooserStartFolder());
  if (!folder || !vzrfs::SetCurrentDir(folder->c_str())) return std::nullopt;
  return folder;
}

void ToolsetDialog::OnExtractAll() {
  if (!ChooseDestinationFolder()) return;
  const std::string destination = vzrfs::GetCurrentDir();
  const int result = m_pArchive->ExtractAll(destination.c_str());
  if (result != 0) {
    std::string scratch;
    vzrui::MessageBox(this, ExtractAllMessage(result, scratch), "ERROR!", Buttons::Ok, Icon::Error);
  }
  SetStatusText("Ready...");
}

void ToolsetDialog::OnExtractSelected() {
  if (!ChooseDestinationFolder()) return;
  const std::string destination = vzrfs::GetCurrentDir();
  for (int row : SelectedRows()) {
    if (!m_pArchive->Extract(static_cast<uint32_t>(row), destination.c_str())) {
      vzrui::MessageBox(this,
                        "ERROR! Could not extract all files to destination directory!\n"
                        "You might be be running low on free disk space.",
                        "ERROR!", Buttons::Ok, Icon::Error);
      break;
    }
  }
  m_pArchive->CloseArchiveStream();
  SetStatusText("Ready...");
}

void ToolsetDialog::OnExtractModFolder() {
  const std::string start = ChooserStartFolder();
  const auto mod =
      vzrui::BrowseForFolder("Choose a mod folder to decompress:", vzrui::FolderStyle::Classic, this, start);
  if (!mod) return;
  const auto output = vzrui::BrowseForFolder("Choose output location:", vzrui::FolderStyle::EditBox, this, start);
  if (!output) return;
  // An entry named like another archive of the mod must not destroy it when
  // the mod is unpacked into its own folder.
  VzrArchive archive;
  for (const std::string& path : modkit::ModArchives(*mod))
    archive.keptIntact.push_back(vzrfs::ResolvePath(path.c_str()));
  for (const char* folder : modkit::kModArchivePatterns) {
    std::string pattern = *mod + folder;
    if (unpackVzrFiles(pattern.data(), &archive, output->c_str()) != 0) {
      vzrui::MessageBox(this, "Unable to extract all mod archive files!", "Error!", Buttons::Ok, Icon::Error);
      return;
    }
  }
  SetStatusText("Ready...");
}

void ToolsetDialog::OnPackDirectory() {
  PackDirDialog dialog(this);
  dialog.m_strSourceDir = m_strLastSourceDir;
  dialog.m_strBasePath = m_strLastBasePath;
  dialog.SetStartFolder(ChooserStartFolder());
  const int result = dialog.DoModal();
  m_strLastSourceDir = dialog.m_strSourceDir;
  m_strLastBasePath = dialog.m_strBasePath;
  if (result == vzrui::kIdOk && IsOpenArchive(dialog.m_strArchivePath)) ReloadAfterPack();
}

bool ToolsetDialog::IsOpenArchive(const std::string& path) const {
  if (!m_pArchive || path.empty()) return false;
  const QFileInfo target(ToQt(path));
  const QFileInfo open(ToQt(archivePath_));
  if (target.exists() && open.exists()) return target.canonicalFilePath() == open.canonicalFilePath();
  return target.absoluteFilePath() == open.absoluteFilePath();
}

// The pack replaced the open archive: the old index, and any text shown from
// it, now describe bytes that are gone. The archive is opened again as Open
// does, and the status line keeps the pack's outcome.
void ToolsetDialog::ReloadAfterPack() {
  const std::string packStatus = m_strStatus;
  LoadArchive(archivePath_);
  SetStatusText(packStatus);
}

}  // namespace toolset
