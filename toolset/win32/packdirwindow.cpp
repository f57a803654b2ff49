#include "packdirwindow.h"

#include "resource.h"
#include "winhost.h"

namespace toolset_win32 {

static_assert(IDC_SOURCEDIR == present::kIdcSourceDir && IDC_BASEPATH == present::kIdcBasePath &&
              IDC_BROWSE == present::kIdcBrowse && IDC_PACK == present::kIdcPack && IDCANCEL == present::kIdcCancel);

PackDirWindow::PackDirWindow(HWND owner, present::PackDirFields& fields)
    : ModalDialog(IDD_PACKDIR), owner_(owner), fields_(fields), presenter_(*this, fields_) {}

bool PackDirWindow::OnInitDialog() {
  ShowTexts(fields_.m_strSourceDir, fields_.m_strBasePath);
  SetFocus(Item(IDC_PACK));
  return false;  // the focus is set
}

bool PackDirWindow::OnCommand(int id, int code, HWND /*control*/) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_BROWSE:
      presenter_.OnBrowseSource();
      return true;
    case IDC_PACK:
      presenter_.OnPack();
      return true;
    default:
      return false;
  }
}

void PackDirWindow::ReadTexts(std::string& sourceDir, std::string& basePath) {
  sourceDir = ItemText(IDC_SOURCEDIR);
  basePath = ItemText(IDC_BASEPATH);
}

void PackDirWindow::ShowTexts(const std::string& sourceDir, const std::string& basePath) {
  SetItemText(IDC_SOURCEDIR, sourceDir);
  SetItemText(IDC_BASEPATH, basePath);
}

HWND PackDirWindow::OwnerOf(present::Owner owner) const {
  switch (owner) {
    case present::Owner::Window:
      return Handle();
    case present::Owner::MainWindow:
      return owner_;
    case present::Owner::None:
      break;
  }
  return nullptr;
}

int PackDirWindow::Ask(const present::Question& question) { return win32ui::Ask(Handle(), question); }

std::optional<std::string> PackDirWindow::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return win32ui::ChooseFile(OwnerOf(owner), request);
}

std::optional<std::string> PackDirWindow::ChooseFolder(const present::FolderRequest& request) {
  return win32ui::ChooseFolder(OwnerOf(request.owner), request);
}

}  // namespace toolset_win32
