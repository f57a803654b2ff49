#include "toolsetdialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <algorithm>

#include "appicon.h"
#include "celldelegate.h"
#include "choosers.h"
#include "filelistmodel.h"
#include "filelistview.h"
#include "messages.h"
#include "packdirdialog.h"
#include "statusbinding.h"

namespace toolset {

namespace {

constexpr int kTemplateWidth = 378;
constexpr int kTemplateHeight = 310;

}  // namespace

// ---------------------------------------------------------------------------
// Window set-up

ToolsetDialog::ToolsetDialog(QWidget* parent) : vzrui::ModalDialog(parent), presenter_(*this), m_hIcon(AppIcon()) {
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
  // The list reads the presenter's index: it lets go first.
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
  model_ = new FileListModel([this](int row) { return presenter_.Row(row); }, this);
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
  vzrui::BindStatusText(m_strStatus);
  presenter_.OnInitDialog();
  const ColumnWidths widths = ComputeColumnWidths(m_ctlFileList->contentsRect().width());
  m_ctlFileList->setColumnWidth(FileListModel::kName, widths.name);
  m_ctlFileList->setColumnWidth(FileListModel::kSize, widths.size);
  m_ctlFileList->setColumnWidth(FileListModel::kOffset, widths.offset);
  m_ctlFileList->setFocus();
}

void ToolsetDialog::DoDataExchange(vzrui::DataExchange& dx) {
  dx.Text(statusLabel_, m_strStatus);
  // Entry names are shown as the list shows them, and never read back.
  dx.Custom([this] { currentFileLabel_->setText(currentFileText_); }, nullptr);
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
// The view

void ToolsetDialog::ShowRows(int rowCount) { model_->Rebuild(rowCount); }

void ToolsetDialog::SetEditorText(const std::string& text) {
  m_ctlText->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  m_ctlText->moveCursor(QTextCursor::Start);
  m_ctlText->verticalScrollBar()->setValue(0);
}

std::string ToolsetDialog::EditorText() const { return m_ctlText->document()->toRawText().toUtf8().toStdString(); }

void ToolsetDialog::ShowCurrentFile(const std::string& label) {
  currentFileText_ = QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
  currentFileLabel_->setText(currentFileText_);
}

int ToolsetDialog::RunPackDirDialog(present::PackDirFields& fields) {
  PackDirDialog dialog(this, fields);
  return dialog.DoModal();
}

int ToolsetDialog::Ask(const present::Question& question) { return vzrui::MessageBox(this, question); }

std::optional<std::string> ToolsetDialog::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return vzrui::ChooseFile(owner == present::Owner::None ? nullptr : this, request);
}

std::optional<std::string> ToolsetDialog::ChooseFolder(const present::FolderRequest& request) {
  return vzrui::ChooseFolder(request.owner == present::Owner::None ? nullptr : this, request);
}

}  // namespace toolset
