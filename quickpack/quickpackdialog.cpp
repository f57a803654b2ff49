// quickpackdialog.cpp - the VzrPack window and its commands.
#include "quickpackdialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "artwork.h"
#include "choosers.h"
#include "messages.h"
#include "statusbinding.h"

namespace quickpack {

namespace {

// The window template, in dialog units.
constexpr int kClientWidth = 361;
constexpr int kClientHeight = 32;

}  // namespace

QuickPackDialog::QuickPackDialog(QWidget* parent) : ModalDialog(parent), presenter_(*this) {
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
  presenter_.OnInitDialog();
  LoadButtonImages();
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

std::string QuickPackDialog::ListText(present::PackListId list) {
  UpdateData(true);
  return list == present::PackListId::kLevels ? m_strLevel : m_strFolder;
}

void QuickPackDialog::SetStatusText(const std::string& text) { GetStatusSink()->SetText(text.c_str()); }

int QuickPackDialog::Ask(const present::Question& question) { return vzrui::MessageBox(this, question); }

std::optional<std::string> QuickPackDialog::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return vzrui::ChooseFile(owner == present::Owner::None ? nullptr : this, request);
}

std::optional<std::string> QuickPackDialog::ChooseFolder(const present::FolderRequest& request) {
  return vzrui::ChooseFolder(request.owner == present::Owner::None ? nullptr : this, request);
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
