// quickpackdialog.cpp - the VzrPack window and its commands.
#include "quickpackdialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

#include "artwork.h"
#include "discovery.h"
#include "fileservices.h"
#include "messages.h"
#include "statusbinding.h"
#include "vzrpack.h"

namespace quickpack {

using modkit::FindFolderEntries;
using modkit::FindLevelNames;
using modkit::IsModArchivesFolder;
using modkit::kNoGameFolder;
using modkit::kNotInModStatus;
using modkit::MakeFolders;
using modkit::PackListText;
using modkit::ProbeGameFolder;

namespace {

// The window template, in dialog units.
constexpr int kClientWidth = 361;
constexpr int kClientHeight = 32;

constexpr int kCompressRequest = 1;

}  // namespace

QuickPackDialog::QuickPackDialog(QWidget* parent) : ModalDialog(parent) {
  setWindowTitle(QStringLiteral("Vzr Mod Quick Pack 1.3"));
  // A caption with a close box only: no menu, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  m_hIcon = DrawAppIcon();
  CreateControls();
  SetTemplateSize(kClientWidth, kClientHeight);
  setFixedSize(size());
}

QuickPackDialog::~QuickPackDialog() { vzrui::UnbindStatusText(m_strStatus); }

void QuickPackDialog::CreateControls() {
  // Created in template order, which is also the focus order.
  m_ctlPackLevel = new BitmapButton(QStringLiteral("Pack Level"), this);
  PlaceControl(kIdcPackLevel, m_ctlPackLevel, 96, 4, 47, 18);
  m_ctlLevelList = new PackList(this);
  PlaceControl(kIdcLevelList, m_ctlLevelList, 7, 4, 85, 56);
  m_ctlFolderList = new PackList(this);
  PlaceControl(kIdcFolderList, m_ctlFolderList, 188, 4, 81, 64);
  m_ctlPackFolder = new BitmapButton(QStringLiteral("Pack Folder"), this);
  PlaceControl(kIdcPackFolder, m_ctlPackFolder, 273, 4, 48, 18);

  m_ctlStatus = new QLabel(QStringLiteral("Ready"), this);
  m_ctlStatus->setWordWrap(false);
  m_ctlStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  PlaceControl(kIdcStatus, m_ctlStatus, 7, 22, 278, 8);

  m_ctlAllLevels = new BitmapButton(QStringLiteral("All"), this);
  PlaceControl(kIdcAllLevels, m_ctlAllLevels, 147, 4, 26, 12);
  m_ctlAllFolders = new BitmapButton(QStringLiteral("All"), this);
  PlaceControl(kIdcAllFolders, m_ctlAllFolders, 325, 4, 26, 12);

  m_ctlHelp = new QPushButton(QStringLiteral("?"), this);
  m_ctlHelp->setAutoDefault(false);  // Enter in a list ends the window, as the platform's OK
  PlaceControl(kIdcHelp, m_ctlHelp, 343, 21, 11, 9);

  m_ctlSeparator = new QLabel(QStringLiteral("|\n|"), this);
  m_ctlSeparator->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  PlaceControl(0, m_ctlSeparator, 178, 4, 6, 15);

  // The closed lists are as tall as the font needs; the template's height is
  // that of the dropped-down list.
  for (PackList* list : {m_ctlLevelList, m_ctlFolderList}) {
    QRect r = list->geometry();
    r.setHeight(list->sizeHint().height());
    list->setGeometry(r);
  }

  connect(m_ctlPackLevel, &QAbstractButton::clicked, this, &QuickPackDialog::OnPackLevel);
  connect(m_ctlPackFolder, &QAbstractButton::clicked, this, &QuickPackDialog::OnPackFolder);
  connect(m_ctlAllLevels, &QAbstractButton::clicked, this, &QuickPackDialog::OnPackAllLevels);
  connect(m_ctlAllFolders, &QAbstractButton::clicked, this, &QuickPackDialog::OnPackAllFolders);
  connect(m_ctlHelp, &QAbstractButton::clicked, this, &QuickPackDialog::OnHelpButton);
}

void QuickPackDialog::OnInitDialog() {
  ModalDialog::OnInitDialog();  // writes the (empty) fields to the controls
  setWindowIcon(m_hIcon);

  vzrui::BindStatusText(m_strStatus);
  GetStatusSink()->SetText("Ready...");

  m_nGameFolder = kNoGameFolder;
  m_nGameFolder = DetectGameFolder();
  FillLevelList();
  FillFolderList();
  m_ctlLevelList->SetSelectedIndex(m_ctlLevelList->Count() > 0 ? 0 : -1);
  m_ctlFolderList->SetSelectedIndex(m_ctlFolderList->Count() > 0 ? 0 : -1);
  LoadButtonImages();
  ExplainIfNotInMod();
}

void QuickPackDialog::ExplainIfNotInMod() {
  // The lists are filled from the parent folder whatever it is; the status
  // line says when that parent is not a mod root.
  if (IsModArchivesFolder(vzrfs::GetCurrentDir())) return;
  GetStatusSink()->SetText(kNotInModStatus);
}

void QuickPackDialog::LoadButtonImages() {
  m_ctlPackLevel->LoadBitmaps(PackLevelImage(ImageState::kNormal), PackLevelImage(ImageState::kPressed));
  m_ctlPackFolder->LoadBitmaps(PackFolderImage(ImageState::kNormal), PackFolderImage(ImageState::kPressed));
  for (BitmapButton* all : {m_ctlAllLevels, m_ctlAllFolders})
    all->LoadBitmaps(AllImage(ImageState::kNormal), AllImage(ImageState::kPressed));
}

void QuickPackDialog::DoDataExchange(vzrui::DataExchange& dx) {
  dx.Custom([this] { m_ctlFolderList->ExchangeIn(m_strFolder); },
            [this] { m_strFolder = m_ctlFolderList->EditText(); });
  dx.Custom([this] { m_ctlLevelList->ExchangeIn(m_strLevel); }, [this] { m_strLevel = m_ctlLevelList->EditText(); });
  dx.Text(m_ctlStatus, m_strStatus);
}

int QuickPackDialog::DetectGameFolder() { return ProbeGameFolder(); }

int QuickPackDialog::FillLevelList() {
  if (m_nGameFolder == kNoGameFolder) return 0;
  for (const std::string& name : FindLevelNames(m_nGameFolder)) m_ctlLevelList->AddString(name);
  return 1;
}

int QuickPackDialog::FillFolderList() {
  for (const std::string& entry : FindFolderEntries(m_nGameFolder)) m_ctlFolderList->AddString(entry);
  return 1;
}

std::string QuickPackDialog::HelpText() {
  std::string text;
  text += "- Place this utility in your mod's archives folder.\n";
  text += "- Unpacked folders should be at your mod's root.\n";
  text += "- Directories and levels will be automaticly detected and added to drop down lists. \n";
  text += "\nExample:\n";
  text += "   Extracted objects folder should be located \\mods\\YourMod\\Objects\\\n";
  text += "    This program should be executed from \\mods\\YourMod\\Archives\\\n";
  return text;
}

void QuickPackDialog::OnHelpButton() {
  vzrui::MessageBox(this, HelpText(), "Help", vzrui::Buttons::Ok, vzrui::Icon::Question);
}

void QuickPackDialog::PackText(PackCommand command, const std::string& listText, bool makeFolders) {
  const auto refusal =
      PackListText(command, m_nGameFolder, listText, makeFolders, [this](const std::string& name) { PackGuarded(name); });
  if (refusal) GetStatusSink()->SetText(refusal->c_str());
}

void QuickPackDialog::PackGuarded(const std::string& name) {
  try {
    LastPackNotices().clear();
    if (packer_)
      packer_(name.c_str(), kCompressRequest);
    else
      PackModFolder(name.c_str(), kCompressRequest);
    notices_.insert(notices_.end(), LastPackNotices().begin(), LastPackNotices().end());
  } catch (...) {
    char message[64];
    std::snprintf(message, sizeof message, "Error! vzrpack Line: %d", static_cast<int>(CodePosition));
    vzrui::MessageBox(this, message);  // the application's name as caption, OK, no icon
  }
}

// Names the files the command's packs left out, in one message box after
// the last pack: the status line keeps the packer's own outcome.
void QuickPackDialog::TellNotices() {
  constexpr std::size_t kNoticeLines = 20;
  if (!notices_.empty()) vzrui::MessageBox(this, PackNoticesText(notices_, kNoticeLines), "Warning!",
                                           vzrui::Buttons::Ok, vzrui::Icon::Exclamation);
  notices_.clear();
}

void QuickPackDialog::OnPackLevel() {
  UpdateData(true);
  PackText(PackCommand::kLevel, m_strLevel, true);
  TellNotices();
}

void QuickPackDialog::OnPackFolder() {
  UpdateData(true);
  PackText(PackCommand::kFolder, m_strFolder, true);
  TellNotices();
}

void QuickPackDialog::RestoreSelections(int levelIndex, int folderIndex) {
  m_ctlLevelList->SetSelectedIndex(levelIndex);
  m_ctlFolderList->SetSelectedIndex(folderIndex);
}

void QuickPackDialog::OnPackAllLevels() {
  // The list's entries are packed; text typed into the edit field is not.
  const int n = m_ctlLevelList->Count();
  const int levelIndex = m_ctlLevelList->SelectedIndex();
  const int folderIndex = m_ctlFolderList->SelectedIndex();
  if (n > 0) MakeFolders(PackCommand::kAllLevels, m_nGameFolder);
  for (int i = 0; i < n; ++i) PackText(PackCommand::kAllLevels, m_ctlLevelList->EntryText(i), false);
  RestoreSelections(levelIndex, folderIndex);
  TellNotices();
}

void QuickPackDialog::OnPackAllFolders() {
  const int n = m_ctlFolderList->Count();
  const int levelIndex = m_ctlLevelList->SelectedIndex();
  const int folderIndex = m_ctlFolderList->SelectedIndex();
  if (n > 0) MakeFolders(PackCommand::kAllFolders, m_nGameFolder);
  for (int i = 0; i < n; ++i) PackText(PackCommand::kAllFolders, m_ctlFolderList->EntryText(i), false);
  RestoreSelections(levelIndex, folderIndex);
  TellNotices();
}

void QuickPackDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  // A focused button takes Enter as a click; anywhere else Enter is the
  // dialog's OK, which ends it like Escape and the close box.
  if (enter) {
    if (auto* button = qobject_cast<QAbstractButton*>(focusWidget())) {
      button->click();
      return;
    }
  }
  ModalDialog::keyPressEvent(event);
}

}  // namespace quickpack
