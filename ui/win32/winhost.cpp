#include "winhost.h"

#include <commdlg.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "winscript.h"
#include "wintext.h"

namespace win32ui {

namespace {

std::string g_applicationName;

UINT ButtonsStyle(present::Buttons buttons) {
  switch (buttons) {
    case present::Buttons::YesNo:
      return MB_YESNO;
    case present::Buttons::YesNoCancel:
      return MB_YESNOCANCEL;
    case present::Buttons::Ok:
      break;
  }
  return MB_OK;
}

UINT IconStyle(present::Icon icon) {
  switch (icon) {
    case present::Icon::Error:
      return MB_ICONERROR;
    case present::Icon::Exclamation:
      return MB_ICONEXCLAMATION;
    case present::Icon::Question:
      return MB_ICONQUESTION;
    case present::Icon::None:
      break;
  }
  return 0;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string ProgramName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  return Narrow(name.substr(0, name.rfind(L'.')));
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What one run of the folder browser knows between its callbacks.
struct BrowseState {
  std::wstring start;
  std::wstring selected;  // the folder selected in the tree
  std::optional<std::wstring> typed;  // a typed path that names a folder
};

std::wstring PathOf(LPCITEMIDLIST pidl) {
  std::vector<wchar_t> path(32768, L'\0');
  if (pidl == nullptr || !SHGetPathFromIDListEx(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
    return {};
  return path.data();
}

// A typed path, absolute or relative to the selected folder, made full.
std::wstring ResolveTyped(const std::wstring& typed, const std::wstring& selected) {
  std::wstring joined = typed;
  const bool absolute = typed.size() >= 2 && (typed[1] == L':' || (typed[0] == L'\\' && typed[1] == L'\\'));
  if (!absolute && !selected.empty()) joined = selected + L"\\" + typed;
  std::vector<wchar_t> full(32768, L'\0');
  const DWORD length = GetFullPathNameW(joined.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return joined;
  return full.data();
}

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data) {
  auto* state = reinterpret_cast<BrowseState*>(data);
  switch (message) {
    case BFFM_INITIALIZED:
      if (!state->start.empty()) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(state->start.c_str()));
      break;
    case BFFM_SELCHANGED:
      state->selected = PathOf(reinterpret_cast<LPCITEMIDLIST>(lParam));
      break;
    case BFFM_VALIDATEFAILEDW: {
      const std::wstring path = ResolveTyped(reinterpret_cast<const wchar_t*>(lParam), state->selected);
      if (IsFolder(path)) {
        state->typed = path;
        return 0;  // close: the typed folder is the choice
      }
      const std::wstring text = L"The folder \"" + path + L"\" does not exist.";
      MessageBoxW(hwnd, text.c_str(), Widen(ApplicationName()).c_str(), MB_OK | MB_ICONEXCLAMATION);
      return 1;  // stay open
    }
    default:
      break;
  }
  return 0;
}

struct PidlFree {
  void operator()(ITEMIDLIST* pidl) const { CoTaskMemFree(pidl); }
};

}  // namespace

void SetApplicationName(const std::string& name) { g_applicationName = name; }

const std::string& ApplicationName() {
  if (g_applicationName.empty()) g_applicationName = ProgramName();
  return g_applicationName;
}

int Ask(HWND owner, const present::Question& question) {
  if (ScriptedAnswers* script = ActiveScript()) {
    present::Question shown = question;
    if (shown.caption.empty()) shown.caption = ApplicationName();
    return script->AnswerMessage(shown);
  }
  UINT style = ButtonsStyle(question.buttons) | IconStyle(question.icon);
  if (question.defaultNo && question.buttons != present::Buttons::Ok) style |= MB_DEFBUTTON2;
  const std::string& caption = question.caption.empty() ? ApplicationName() : question.caption;
  return MessageBoxW(owner, Widen(question.text).c_str(), Widen(caption).c_str(), style);
}

std::wstring ConvertFilter(const std::string& filter) {
  std::wstring converted;
  std::size_t begin = 0;
  while (begin < filter.size()) {
    std::size_t end = filter.find('|', begin);
    if (end == std::string::npos) end = filter.size();
    const std::string part = Trimmed(filter.substr(begin, end - begin));
    if (!part.empty()) {
      converted += Widen(part);
      converted.push_back(L'\0');
    }
    begin = end + 1;
  }
  converted.push_back(L'\0');
  return converted;
}

std::optional<std::string> ChooseFile(HWND owner, const present::FileRequest& request) {
  if (ScriptedAnswers* script = ActiveScript()) return script->AnswerFile(FileQuestion{request, owner != nullptr});
  std::vector<wchar_t> path(32768, L'\0');
  const std::wstring initial = Widen(request.initialName);
  initial.copy(path.data(), std::min(initial.size(), path.size() - 1));
  const std::wstring filter = ConvertFilter(request.filter);
  std::wstring extension = Widen(request.defaultExtension);
  if (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  const std::wstring start = Widen(request.startFolder);

  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.size() > 1 ? filter.c_str() : nullptr;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // The extract commands write relative to the current directory: a file
  // dialog must leave it where it was.
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  if (request.hideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
  if (request.confirmOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
  if (request.open) ofn.Flags |= OFN_FILEMUSTEXIST;
  const BOOL chosen = request.open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
  if (!chosen) return std::nullopt;
  return Narrow(path.data());
}

std::optional<std::string> ChooseFolder(HWND owner, const present::FolderRequest& request) {
  if (ScriptedAnswers* script = ActiveScript()) return script->AnswerFolder(request);
  BrowseState state;
  state.start = Widen(request.startFolder);
  const std::wstring title = Widen(request.title);
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.lpszTitle = title.empty() ? nullptr : title.c_str();
  // Both looks keep an edit box, so a path can be typed or pasted.
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_VALIDATE;
  if (request.style == present::FolderStyle::EditBox) info.ulFlags |= BIF_NEWDIALOGSTYLE;
  info.lpfn = &BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&state);
  std::unique_ptr<ITEMIDLIST, PidlFree> pidl(SHBrowseForFolderW(&info));
  if (state.typed) return Narrow(*state.typed);
  if (!pidl) return std::nullopt;
  const std::wstring path = PathOf(pidl.get());
  if (path.empty()) return std::nullopt;
  return Narrow(path);
}

}  // namespace win32ui
