#include "toolsetwindow.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <utility>

#include "packdirwindow.h"
#include "resource.h"
#include "winhost.h"
#include "wintext.h"

namespace toolset_win32 {

static_assert(IDC_MAINLIST == present::kIdcMainList && IDC_STATUS == present::kIdcStatus &&
              IDC_CURRENTFILE == present::kIdcCurrentFile && IDC_SAVECHANGES == present::kIdcSaveChanges &&
              IDC_TEXT == present::kIdcText);
static_assert(ID_FILE_NEW == present::kIdFileNew && ID_FILE_OPEN == present::kIdFileOpen &&
              ID_APP_EXIT == present::kIdAppExit && ID_EXTRACT_ALL == present::kIdExtractAll &&
              ID_EXTRACT_SELECTED == present::kIdExtractSelected &&
              ID_EXTRACT_MODFOLDER == present::kIdExtractModFolder && ID_PACK_DIRECTORY == present::kIdPackDirectory &&
              ID_SELECT_BYKEYWORD == present::kIdSelectByKeyword);

namespace {

// The list's selection changes in several notifications per click; the
// presenter hears of them once, when they are all in.
constexpr UINT kSelectionChanged = WM_APP + 1;
constexpr UINT kOpenStartupArchive = WM_APP + 2;

// Template 102 in dialog units.
constexpr int kTemplateWidth = 378;
constexpr int kTemplateHeight = 310;
struct TemplateRect {
  int id, x, y, width, height;
};
constexpr TemplateRect kControls[] = {
    {IDC_MAINLIST, 0, 0, 377, 177},    {IDC_STATUS, 9, 298, 359, 8},  {IDC_SAVECHANGES, 15, 180, 62, 13},
    {IDC_CURRENTFILE, 100, 184, 270, 8}, {IDC_TEXT, 0, 200, 377, 97},
};

// Paragraph ends as the rich edit control hands them out ("\r\n" with
// GT_USECRLF, a lone "\r" otherwise) become '\n'.
std::wstring JoinLinesWithLf(std::wstring text) {
  std::wstring joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      joined.push_back(L'\n');
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else {
      joined.push_back(text[i]);
    }
  }
  return joined;
}

std::wstring LfToCrLf(const std::wstring& text) {
  std::wstring converted;
  converted.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') converted.push_back(L'\r');
    converted.push_back(c);
  }
  return converted;
}

}  // namespace

ToolsetWindow::ToolsetWindow()
    : ModalDialog(IDD_TOOLSET),
      presenter_(*this),
      status_([this] { PushFields(); }, [this] { return Handle(); }) {}

ToolsetWindow::~ToolsetWindow() { status_.UnbindText(); }

bool ToolsetWindow::OnInitDialog() {
  auto loadIcon = [](int cx, int cy) {
    return static_cast<HICON>(
        LoadImageW(win32ui::ProgramInstance(), MAKEINTRESOURCEW(IDI_TOOLSET), IMAGE_ICON, cx, cy, LR_SHARED));
  };
  SendMessageW(Handle(), WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(loadIcon(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON))));
  SendMessageW(Handle(), WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(loadIcon(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON))));
  list_ = Item(IDC_MAINLIST);
  editor_ = Item(IDC_TEXT);
  PushFields();  // the resource texts "Status:" and "CurrentFile:" give way to the empty fields
  status_.BindText(m_strStatus);
  SetUpEditor();
  SetUpList();
  presenter_.OnInitDialog();
  LayOutControls();
  if (startupPath_) PostMessageW(Handle(), kOpenStartupArchive, 0, 0);
  SetFocus(list_);
  return false;  // the focus is set
}

void ToolsetWindow::SetUpEditor() {
  // Plain text, no limit but memory, and one font for every character: a
  // script's columns line up only in a fixed-pitch font.
  SendMessageW(editor_, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
  SendMessageW(editor_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  const LRESULT options = SendMessageW(editor_, EM_GETLANGOPTIONS, 0, 0);
  SendMessageW(editor_, EM_SETLANGOPTIONS, 0, options & ~(IMF_AUTOFONT | IMF_AUTOKEYBOARD));
  SetEditorFont();
}

void ToolsetWindow::SetEditorFont() {
  LOGFONTW dialogFont = {};
  auto font = reinterpret_cast<HFONT>(SendMessageW(Handle(), WM_GETFONT, 0, 0));
  if (font == nullptr || GetObjectW(font, sizeof dialogFont, &dialogFont) == 0) dialogFont.lfHeight = -13;
  LOGFONTW fixed = {};
  fixed.lfHeight = dialogFont.lfHeight;
  fixed.lfWeight = FW_NORMAL;
  fixed.lfCharSet = DEFAULT_CHARSET;
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  wcscpy_s(fixed.lfFaceName, L"Consolas");
  textFont_.reset(CreateFontIndirectW(&fixed));
  SendMessageW(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_.get()), TRUE);
}

void ToolsetWindow::SetUpList() {
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  RECT client = {};
  GetClientRect(list_, &client);
  const present::ColumnWidths widths = present::ComputeColumnWidths(client.right - client.left);
  const std::pair<const wchar_t*, int> columns[] = {{L"Name", widths.name}, {L"Size", widths.size},
                                                     {L"Offset", widths.offset}};
  int index = 0;
  for (const auto& [title, width] : columns) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(title);
    column.iSubItem = index;
    ListView_InsertColumn(list_, index, &column);
    ++index;
  }
}

void ToolsetWindow::PushFields() {
  if (Handle() == nullptr) return;
  SetItemText(IDC_STATUS, m_strStatus);
  SetItemText(IDC_CURRENTFILE, currentFile_);
}

// ---------------------------------------------------------------------------
// Commands and notifications

bool ToolsetWindow::OnCommand(int id, int code, HWND /*control*/) {
  switch (id) {
    case ID_FILE_OPEN:
      presenter_.OnFileOpen();
      return true;
    case ID_APP_EXIT:
      presenter_.OnCancel();
      return true;
    case ID_EXTRACT_ALL:
      presenter_.OnExtractAll();
      return true;
    case ID_EXTRACT_SELECTED:
      presenter_.OnExtractSelected();
      return true;
    case ID_EXTRACT_MODFOLDER:
      presenter_.OnExtractModFolder();
      return true;
    case ID_PACK_DIRECTORY:
      presenter_.OnPackDirectory();
      return true;
    case IDC_SAVECHANGES:
      if (code == BN_CLICKED) presenter_.OnSaveChanges();
      return true;
    default:
      return false;  // New .vzr and By Keyword are disabled and do nothing
  }
}

INT_PTR ToolsetWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  switch (message) {
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      if (header.idFrom == IDC_MAINLIST) return OnListNotify(header);
      break;
    }
    case kSelectionChanged:
      selectionPending_ = false;
      presenter_.OnItemchangedMainlist();
      return 0;
    case kOpenStartupArchive:
      if (startupPath_) {
        const std::string path = *std::exchange(startupPath_, std::nullopt);
        presenter_.OpenArchiveFile(path);
      }
      return 0;
    case WM_SIZE:
      LayOutControls();
      return 0;
    case WM_GETMINMAXINFO: {
      // Never smaller than the template.
      RECT r = {0, 0, kTemplateWidth, kTemplateHeight};
      if (Handle() == nullptr) break;
      MapDialogRect(Handle(), &r);
      AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)), TRUE,
                         static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
      auto& info = *reinterpret_cast<MINMAXINFO*>(lParam);
      info.ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
      return 0;
    }
    case WM_DPICHANGED:
      // The system scales the dialog and its font; the editor's own font follows.
      handled = false;
      SetEditorFont();
      return 0;
    default:
      break;
  }
  (void)wParam;
  handled = false;
  return 0;
}

LRESULT ToolsetWindow::OnListNotify(const NMHDR& header) {
  switch (header.code) {
    case LVN_GETDISPINFOW:
      FillCell(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
      return 0;
    case LVN_ITEMCHANGING:
      presenter_.OnItemchangingMainlist();
      return 0;  // the change is allowed
    case LVN_ITEMCHANGED: {
      const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
      if ((change.uChanged & LVIF_STATE) && ((change.uNewState ^ change.uOldState) & LVIS_SELECTED))
        ScheduleSelectionChange();
      return 0;
    }
    case LVN_ODSTATECHANGED: {
      const auto& change = reinterpret_cast<const NMLVODSTATECHANGE&>(header);
      if ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) ScheduleSelectionChange();
      return 0;
    }
    case NM_RCLICK:
      return 0;
    default:
      return 0;
  }
}

void ToolsetWindow::ScheduleSelectionChange() {
  if (selectionPending_) return;
  selectionPending_ = true;
  PostMessageW(Handle(), kSelectionChanged, 0, 0);
}

void ToolsetWindow::FillCell(NMLVDISPINFOW& info) {
  if (!(info.item.mask & LVIF_TEXT) || info.item.pszText == nullptr || info.item.cchTextMax <= 0) return;
  if (info.item.iItem != cachedRow_) {
    cachedRow_ = info.item.iItem;
    cachedCells_ = presenter_.Row(info.item.iItem);
  }
  const std::string& cell = info.item.iSubItem == 0   ? cachedCells_.name
                            : info.item.iSubItem == 1 ? cachedCells_.size
                                                      : cachedCells_.offset;
  cellText_ = win32ui::Widen(cell);
  // The list's own buffer; a name longer than it is cut.
  const std::size_t room = static_cast<std::size_t>(info.item.cchTextMax) - 1;
  const std::size_t count = std::min(room, cellText_.size());
  cellText_.copy(info.item.pszText, count);
  info.item.pszText[count] = L'\0';
}

// The list and the editor share the room the window gains; the row of Save
// Changes moves with the list's bottom edge and the status line with the
// window's.
void ToolsetWindow::LayOutControls() {
  if (Handle() == nullptr || list_ == nullptr) return;
  RECT client = {};
  GetClientRect(Handle(), &client);
  RECT whole = {0, 0, kTemplateWidth, kTemplateHeight};
  MapDialogRect(Handle(), &whole);
  const int extraWidth = std::max(0L, client.right - whole.right);
  const int extraHeight = std::max(0L, client.bottom - whole.bottom);
  const int listShare = extraHeight / 2;
  for (const TemplateRect& t : kControls) {
    RECT r = {t.x, t.y, t.x + t.width, t.y + t.height};
    MapDialogRect(Handle(), &r);
    int down = 0, grow = extraWidth, taller = 0;
    switch (t.id) {
      case IDC_MAINLIST:
        taller = listShare;
        break;
      case IDC_SAVECHANGES:
        down = listShare;
        grow = 0;
        break;
      case IDC_CURRENTFILE:
        down = listShare;
        break;
      case IDC_TEXT:
        down = listShare;
        taller = extraHeight - listShare;
        break;
      default:  // the status line
        down = extraHeight;
        break;
    }
    SetWindowPos(Item(t.id), nullptr, r.left, r.top + down, r.right - r.left + grow, r.bottom - r.top + taller,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(Handle(), nullptr, TRUE);
}

// ---------------------------------------------------------------------------
// The view

// Emptying the list drops its selection at once; deselecting every row of a
// large list one by one costs more than loading its index.
void ToolsetWindow::ShowRows(int rowCount) {
  ListView_SetItemCountEx(list_, 0, 0);
  cachedRow_ = -1;
  ListView_SetItemCountEx(list_, rowCount, 0);
  InvalidateRect(list_, nullptr, TRUE);
}

std::vector<int> ToolsetWindow::SelectedRows() const {
  std::vector<int> rows;
  for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row != -1;
       row = ListView_GetNextItem(list_, row, LVNI_SELECTED))
    rows.push_back(row);
  return rows;
}

void ToolsetWindow::SetEditorText(const std::string& text) {
  const std::wstring wide = LfToCrLf(win32ui::Widen(text));
  SETTEXTEX how = {ST_DEFAULT, 1200};  // 1200: the text is UTF-16
  SendMessageW(editor_, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(wide.c_str()));
  SendMessageW(editor_, EM_SETSEL, 0, 0);
  const LRESULT first = SendMessageW(editor_, EM_GETFIRSTVISIBLELINE, 0, 0);
  if (first > 0) SendMessageW(editor_, EM_LINESCROLL, 0, -first);
}

std::string ToolsetWindow::EditorText() const {
  GETTEXTLENGTHEX lengthOf = {GTL_NUMCHARS | GTL_PRECISE | GTL_USECRLF, 1200};
  const LRESULT length = SendMessageW(editor_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthOf), 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GETTEXTEX how = {};
  how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  how.flags = GT_USECRLF;
  how.codepage = 1200;
  const LRESULT got = SendMessageW(editor_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, length)));
  return win32ui::Narrow(JoinLinesWithLf(std::move(text)));
}

void ToolsetWindow::ShowCurrentFile(const std::string& label) {
  currentFile_ = label;
  SetItemText(IDC_CURRENTFILE, currentFile_);
}

void ToolsetWindow::SetStatusText(const std::string& text) {
  StatusSink* sink = GetStatusSink();
  if (sink->text == &m_strStatus) {
    sink->SetText(text.c_str());
  } else {
    m_strStatus = text;
    PushFields();
  }
}

int ToolsetWindow::RunPackDirDialog(present::PackDirFields& fields) {
  PackDirWindow dialog(Handle(), fields);
  return dialog.DoModal(Handle()) == IDOK ? present::kIdOk : present::kIdCancel;
}

int ToolsetWindow::Ask(const present::Question& question) { return win32ui::Ask(Handle(), question); }

std::optional<std::string> ToolsetWindow::ChooseFile(const present::FileRequest& request, present::Owner owner) {
  return win32ui::ChooseFile(owner == present::Owner::None ? nullptr : Handle(), request);
}

std::optional<std::string> ToolsetWindow::ChooseFolder(const present::FolderRequest& request) {
  return win32ui::ChooseFolder(request.owner == present::Owner::None ? nullptr : Handle(), request);
}

}  // namespace toolset_win32
