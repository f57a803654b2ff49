#include "quickpackwindow.h"

#include <algorithm>
#include <vector>

#include "discovery.h"
#include "resource.h"
#include "winhost.h"
#include "wintext.h"

namespace quickpack_win32 {

static_assert(IDC_LEVELLIST == present::kIdcLevelList && IDC_PACKLEVEL == present::kIdcPackLevel &&
              IDC_FOLDERLIST == present::kIdcFolderList && IDC_PACKFOLDER == present::kIdcPackFolder &&
              IDC_STATUS == present::kIdcQuickStatus && IDC_ALLLEVELS == present::kIdcAllLevels &&
              IDC_ALLFOLDERS == present::kIdcAllFolders && IDC_HELPBUTTON == present::kIdcHelp);

namespace {

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
  });
}

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return win32ui::Narrow(text);
}

BitmapHandle LoadBitmapResource(int id) {
  return BitmapHandle(static_cast<HBITMAP>(
      LoadImageW(win32ui::ProgramInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

}  // namespace

QuickPackWindow::QuickPackWindow()
    : ModalDialog(IDD_VZRPACK), presenter_(*this), status_([this] { PushFields(); }, [this] { return Handle(); }) {}

QuickPackWindow::~QuickPackWindow() { status_.UnbindText(); }

bool QuickPackWindow::OnInitDialog() {
  PushFields();  // the (empty) fields
  auto loadIcon = [](int cx, int cy) {
    return static_cast<HICON>(
        LoadImageW(win32ui::ProgramInstance(), MAKEINTRESOURCEW(IDI_VZRPACK), IMAGE_ICON, cx, cy, LR_SHARED));
  };
  SendMessageW(Handle(), WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(loadIcon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON))));
  SendMessageW(Handle(), WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(loadIcon(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON))));
  status_.BindText(m_strStatus);
  presenter_.OnInitDialog();
  LoadButtonImages();
  return true;  // the focus goes to the first control in tab order
}

void QuickPackWindow::LoadButtonImages() {
  const std::pair<int, std::pair<int, int>> table[] = {
      {IDC_PACKLEVEL, {IDB_PACKLEVEL, IDB_PACKLEVEL_PRESSED}},
      {IDC_PACKFOLDER, {IDB_PACKFOLDER, IDB_PACKFOLDER_PRESSED}},
      {IDC_ALLLEVELS, {IDB_ALL, IDB_ALL_PRESSED}},
      {IDC_ALLFOLDERS, {IDB_ALL, IDB_ALL_PRESSED}},
  };
  for (std::size_t i = 0; i < std::size(table); ++i) {
    images_[i].id = table[i].first;
    images_[i].normal = LoadBitmapResource(table[i].second.first);
    images_[i].pressed = LoadBitmapResource(table[i].second.second);
    InvalidateRect(Item(images_[i].id), nullptr, TRUE);
  }
}

// A button's image, pressed or not (the focus image is the normal one),
// copied from its top-left corner; at a higher DPI it grows with the button.
bool QuickPackWindow::DrawButton(const DRAWITEMSTRUCT& item) {
  const ButtonImages* images = nullptr;
  for (const ButtonImages& b : images_)
    if (b.id == static_cast<int>(item.CtlID)) images = &b;
  if (images == nullptr) return false;
  const RECT& r = item.rcItem;
  FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
  HBITMAP bitmap = (item.itemState & ODS_SELECTED) ? images->pressed.get() : images->normal.get();
  if (bitmap == nullptr) return true;
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, bitmap);
  const UINT dpi = GetDpiForWindow(item.hwndItem);
  const int width = MulDiv(info.bmWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  const int height = MulDiv(info.bmHeight, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  SetStretchBltMode(item.hDC, HALFTONE);
  StretchBlt(item.hDC, r.left, r.top, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
  return true;
}

bool QuickPackWindow::OnCommand(int id, int code, HWND /*control*/) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_PACKLEVEL:
      presenter_.OnPackLevel();
      return true;
    case IDC_PACKFOLDER:
      presenter_.OnPackFolder();
      return true;
    case IDC_ALLLEVELS:
      presenter_.OnPackAllLevels();
      return true;
    case IDC_ALLFOLDERS:
      presenter_.OnPackAllFolders();
      return true;
    case IDC_HELPBUTTON:
      presenter_.OnHelpButton();
      return true;
    default:
      return false;
  }
}

void QuickPackWindow::OnOK() {
  HWND focus = GetFocus();
  if (focus != nullptr && GetParent(focus) == Handle()) {
    const int id = GetDlgCtrlID(focus);
    if (id == IDC_PACKLEVEL || id == IDC_PACKFOLDER || id == IDC_ALLLEVELS || id == IDC_ALLFOLDERS ||
        id == IDC_HELPBUTTON) {
      OnCommand(id, BN_CLICKED, focus);
      return;
    }
  }
  EndDialog(IDOK);
}

INT_PTR QuickPackWindow::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam, bool& handled) {
  if (message == WM_DRAWITEM) {
    handled = DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return TRUE;
  }
  handled = false;
  return 0;
}

// ---------------------------------------------------------------------------
// Data exchange, in the order folder list, level list, status line

void QuickPackWindow::PullFields() {
  m_strFolder = WindowText(List(present::PackListId::kFolders));
  m_strLevel = WindowText(List(present::PackListId::kLevels));
  m_strStatus = ItemText(IDC_STATUS);
}

void QuickPackWindow::PushFields() {
  if (Handle() == nullptr) return;
  SelectByPrefix(present::PackListId::kFolders, m_strFolder);
  SelectByPrefix(present::PackListId::kLevels, m_strLevel);
  SetItemText(IDC_STATUS, m_strStatus);
}

// The first entry that begins with text, ignoring case; else the edit field
// shows text with nothing selected.
void QuickPackWindow::SelectByPrefix(present::PackListId list, const std::string& text) {
  const int count = ListCount(list);
  for (int i = 0; i < count; ++i) {
    if (StartsWithIgnoringCase(ListEntry(list, i), text)) {
      SelectIndex(list, i);
      return;
    }
  }
  SelectIndex(list, -1);
  SetWindowTextW(List(list), win32ui::Widen(text).c_str());
}

// ---------------------------------------------------------------------------
// The view

HWND QuickPackWindow::List(present::PackListId list) const {
  return Item(list == present::PackListId::kLevels ? IDC_LEVELLIST : IDC_FOLDERLIST);
}

// Inserted where the shared rule puts it, so both systems list alike.
void QuickPackWindow::AddListEntry(present::PackListId list, const std::string& text) {
  std::vector<std::string> entries;
  const int count = ListCount(list);
  for (int i = 0; i < count; ++i) entries.push_back(ListEntry(list, i));
  const auto position = modkit::SortedInsertPosition(entries, text);
  const std::wstring wide = win32ui::Widen(text);
  SendMessageW(List(list), CB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(wide.c_str()));
}

int QuickPackWindow::ListCount(present::PackListId list) const {
  return static_cast<int>(SendMessageW(List(list), CB_GETCOUNT, 0, 0));
}

std::string QuickPackWindow::ListEntry(present::PackListId list, int index) const {
  const LRESULT length = SendMessageW(List(list), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(List(list), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return win32ui::Narrow(text);
}

// An entry counts as selected only while the edit field still shows it:
// typed text means no selection.
int QuickPackWindow::SelectedIndex(present::PackListId list) const {
  const int index = static_cast<int>(SendMessageW(List(list), CB_GETCURSEL, 0, 0));
  if (index < 0) return -1;
  return WindowText(List(list)) == ListEntry(list, index) ? index : -1;
}

void QuickPackWindow::SelectIndex(present::PackListId list, int index) {
  SendMessageW(List(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string QuickPackWindow::ListText(present::PackListId list) {
  PullFields();
  return list == present::PackListId::kLevels ? m_strLevel : m_strFolder;
}

void QuickPackWindow::SetStatusText(const std::string& text) { GetStatusSink()->SetText(text.c_str()); }

int QuickPackWindow::Ask(const present::Question& question) { return win32ui::Ask(Handle(), question); }

std::optional<std::string> QuickPackWindow::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return win32ui::ChooseFile(owner == present::Owner::None ? nullptr : Handle(), request);
}

std::optional<std::string> QuickPackWindow::ChooseFolder(const present::FolderRequest& request) {
  return win32ui::ChooseFolder(request.owner == present::Owner::None ? nullptr : Handle(), request);
}

}  // namespace quickpack_win32
