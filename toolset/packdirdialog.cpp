#include "packdirdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <vector>

#include "choosers.h"
#include "messages.h"
#include "paths.h"
#include "trace.h"
#include "vzrpack.h"

namespace toolset {

using vzrui::Buttons;
using vzrui::Icon;

namespace {

using vzrfs::IsSeparator;

// A writable, zero-terminated copy for the engine's in-place path routines,
// never smaller than the 512 bytes they are written for.
std::vector<char> PathBuffer(const std::string& text) {
  std::vector<char> buffer(std::max<std::size_t>(512, text.size() + 1), '\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}

// Files named in a pack's warning at most; the rest are counted.
constexpr std::size_t kNoticeLines = 20;

void Refuse(QWidget* owner, const char* text, const char* caption) {
  vzrui::MessageBox(owner, text, caption, Buttons::Ok, Icon::Exclamation);
}

}  // namespace

std::string SuggestBasePath(const std::string& folder) {
  std::size_t end = folder.size();
  while (end > 0 && IsSeparator(folder[end - 1])) --end;  // a trailing separator is not a name
  std::size_t start = end;
  while (start > 0 && !IsSeparator(folder[start - 1])) --start;
  const std::string name = folder.substr(start, end - start);
  // A drive root ("C:") has no folder name to offer.
  if (start == 0 && name.size() == 2 && name[1] == ':') return {};
  return name;
}

PackDirDialog::PackDirDialog(QWidget* owner) : vzrui::ModalDialog(owner), owner_(owner) {
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

void PackDirDialog::OnCancel() {
  UpdateData(true);
  vzrui::ModalDialog::OnCancel();
}

void PackDirDialog::OnBrowseSource() {
  const auto folder =
      vzrui::BrowseForFolder("Choose directory to pack", vzrui::FolderStyle::Classic, this, startFolder_);
  m_strSourceDir = folder.value_or("");
  // Cancelled: nothing is pushed, so both boxes keep what they show.
  if (m_strSourceDir.empty()) return;
  m_strBasePath = SuggestBasePath(m_strSourceDir);
  UpdateData(false);
}

void PackDirDialog::OnPack() {
  UpdateData(true);
  if (m_strSourceDir.empty()) {
    Refuse(this, "Error! Must specify source directory.", "ERROR!");
    return;
  }
  if (m_strBasePath.empty()) {
    const int answer = vzrui::MessageBox(this, "Are you sure you don't want a base folder path?", "Question",
                                         Buttons::YesNo, Icon::Question);
    TraceLog(" m_strBasePath return: ", answer);
    if (answer != vzrui::kIdYes) return;
  }
  std::vector<char> source = PathBuffer(m_strSourceDir);
  std::vector<char> base = PathBuffer(m_strBasePath);
  if (HasIllegalChars(source.data(), 1) == 1) {
    Refuse(this, "Cannot save! Illegal characters used(SourceDir): * ? \" < > |", "Error!");
    return;
  }
  if (HasIllegalChars(base.data(), 0) == 1) {
    Refuse(this, "Cannot save! Illegal characters used(BasePath): * ? \" < > |", "Error!");
    return;
  }

  vzrui::FileDialogRequest request;
  request.open = false;
  request.defaultExtension = ".vzr";
  request.filter = "VZR File Archive (*.vzr)| *.vzr";
  request.startFolder = startFolder_;
  const auto chosen = vzrui::RunFileDialog(owner_, request);
  if (!chosen) return;
  m_strArchivePath = *chosen;
  std::vector<char> archive = PathBuffer(m_strArchivePath);

  switch (CheckPackPaths(source.data(), archive.data())) {
    case 0:
      PackDirectory(source.data(), base.data(), archive.data(), 1);
      // Files the pack left out are never dropped without a word.
      if (!LastPackNotices().empty())
        vzrui::MessageBox(this, PackNoticesText(LastPackNotices(), kNoticeLines), "Warning!", Buttons::Ok,
                          Icon::Exclamation);
      OnOK();
      return;
    case 2:
      Refuse(this, "Cannot save .vzr file inside the source files directory!", "Error!");
      return;
    default:
      Refuse(this, "Cannot save! Illegal characters used : * ? \" < > |", "Error!");
      return;
  }
}

}  // namespace toolset
