#include "packdirdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "choosers.h"
#include "messages.h"

namespace toolset {

PackDirDialog::PackDirDialog(QWidget* owner) : PackDirDialog(owner, nullptr) {}

PackDirDialog::PackDirDialog(QWidget* owner, present::PackDirFields& fields) : PackDirDialog(owner, &fields) {}

// ownFields_ is named only here, once it exists: a delegating constructor
// that passed it along would touch the member before the object is made.
PackDirDialog::PackDirDialog(QWidget* owner, present::PackDirFields* fields)
    : vzrui::ModalDialog(owner),
      fields_(fields ? *fields : ownFields_),
      presenter_(*this, fields_),
      owner_(owner) {
  setWindowTitle("Pack Directory to .vzr");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  packButton_ = new QPushButton("Pack");
  cancelButton_ = new QPushButton("Cancel");
  sourceEdit_ = new QLineEdit;
  browseButton_ = new QPushButton("...");
  baseEdit_ = new QLineEdit;
  // Template order: Pack, Cancel, source directory, the two labels, browse, base path.
  PlaceControl(kIdcPack, packButton_, 115, 73, 50, 14);
  PlaceControl(kIdcCancel, cancelButton_, 174, 73, 50, 14);
  PlaceControl(kIdcSourceDir, sourceEdit_, 73, 20, 109, 14);
  PlaceControl(0, new QLabel("Source Directory"), 13, 22, 54, 8);
  PlaceControl(0, new QLabel("Base Path"), 14, 46, 34, 8);
  PlaceControl(kIdcBrowse, browseButton_, 189, 20, 30, 14);
  PlaceControl(kIdcBasePath, baseEdit_, 74, 44, 109, 14);
  SetTemplateSize(231, 94);
  setFixedSize(size());

  packButton_->setDefault(true);
  setTabOrder(packButton_, cancelButton_);
  setTabOrder(cancelButton_, sourceEdit_);
  setTabOrder(sourceEdit_, browseButton_);
  setTabOrder(browseButton_, baseEdit_);

  connect(packButton_, &QPushButton::clicked, this, [this] { OnPack(); });
  connect(cancelButton_, &QPushButton::clicked, this, [this] { OnCancel(); });
  connect(browseButton_, &QPushButton::clicked, this, [this] { OnBrowseSource(); });
}

void PackDirDialog::OnInitDialog() {
  vzrui::ModalDialog::OnInitDialog();
  packButton_->setFocus();
}

void PackDirDialog::DoDataExchange(vzrui::DataExchange& dx) {
  dx.Text(baseEdit_, m_strBasePath);
  dx.Text(sourceEdit_, m_strSourceDir);
}

void PackDirDialog::ReadTexts(std::string& sourceDir, std::string& basePath) {
  UpdateData(true);
  sourceDir = m_strSourceDir;
  basePath = m_strBasePath;
}

void PackDirDialog::ShowTexts(const std::string& sourceDir, const std::string& basePath) {
  m_strSourceDir = sourceDir;
  m_strBasePath = basePath;
  UpdateData(false);
}

QWidget* PackDirDialog::OwnerOf(present::Owner owner) {
  switch (owner) {
    case present::Owner::Window:
      return this;
    case present::Owner::MainWindow:
      return owner_;
    case present::Owner::None:
      break;
  }
  return nullptr;
}

int PackDirDialog::Ask(const present::Question& question) { return vzrui::MessageBox(this, question); }

std::optional<std::string> PackDirDialog::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return vzrui::ChooseFile(OwnerOf(owner), request);
}

std::optional<std::string> PackDirDialog::ChooseFolder(const present::FolderRequest& request) {
  return vzrui::ChooseFolder(OwnerOf(request.owner), request);
}

}  // namespace toolset
