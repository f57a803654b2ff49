#include "windialog.h"

#include <vector>

#include "winscript.h"
#include "wintext.h"

namespace win32ui {

HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }

ModalDialog::ModalDialog(int templateId) : templateId_(templateId) {}

ModalDialog::~ModalDialog() {
  if (hwnd_ != nullptr && modeless_) DestroyWindow(hwnd_);
}

int ModalDialog::DoModal(HWND owner) {
  ended_ = false;
  if (ScriptedAnswers* script = ActiveScript()) {
    if (!Create(owner)) return -1;
    if (auto action = script->AnswerDialog(DialogQuestion{Caption()})) (*action)(*this);
    if (!ended_) OnCancel();
    if (!ended_) EndDialog(IDCANCEL);
    return endResult_;
  }
  const INT_PTR result = DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(templateId_), owner, &ModalDialog::Proc,
                                         reinterpret_cast<LPARAM>(this));
  return static_cast<int>(result);
}

bool ModalDialog::Create(HWND owner) {
  modeless_ = true;
  ended_ = false;
  CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(templateId_), owner, &ModalDialog::Proc,
                     reinterpret_cast<LPARAM>(this));
  return hwnd_ != nullptr;
}

void ModalDialog::EndDialog(int result) {
  ended_ = true;
  endResult_ = result;
  if (hwnd_ == nullptr) return;
  if (modeless_) {
    HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(hwnd);
  } else {
    ::EndDialog(hwnd_, result);
  }
}

void ModalDialog::SetItemText(int id, const std::string& text) { SetDlgItemTextW(hwnd_, id, Widen(text).c_str()); }

std::string ModalDialog::ItemText(int id) const {
  HWND item = Item(id);
  const int length = GetWindowTextLengthW(item);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(item, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return Narrow(text);
}

std::string ModalDialog::Caption() const {
  if (hwnd_ == nullptr) return {};
  const int length = GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return Narrow(text);
}

INT_PTR CALLBACK ModalDialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    dialog->hwnd_ = hwnd;
  }
  auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (dialog == nullptr || dialog->hwnd_ != hwnd) return FALSE;
  return dialog->Handle(message, wParam, lParam);
}

INT_PTR ModalDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      // Enter and Escape come as IDOK and IDCANCEL; so do menu items and
      // buttons of those ids, which only Cancel buttons have here.
      if (id == IDOK && lParam == 0) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && (lParam == 0 || code == BN_CLICKED)) {
        OnCancel();
        return TRUE;
      }
      return OnCommand(id, code, reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
      hwnd_ = nullptr;
      return FALSE;
    default:
      break;
  }
  bool handled = false;
  const INT_PTR result = OnMessage(message, wParam, lParam, handled);
  if (handled) SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return handled ? TRUE : FALSE;
}

}  // namespace win32ui
