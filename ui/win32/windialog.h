// windialog.h - a modal dialog built from a resource template (dialog units,
// font, captions, control ids and tab order all come from the .rc script).
// Subclasses handle the set-up, commands and notifications they need; Enter
// arrives as OnOK, Escape and the close box as OnCancel.
#pragma once

#include <windows.h>

#include <string>

namespace win32ui {

class ModalDialog {
 public:
  explicit ModalDialog(int templateId);
  virtual ~ModalDialog();
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Runs the dialog until it is ended; the code it was ended with. Under a
  // test script the dialog is created modeless and the script's action plays
  // the user.
  int DoModal(HWND owner);
  // Creates the dialog modeless (it ends with EndDialog like a modal one).
  bool Create(HWND owner);
  void EndDialog(int result);
  bool IsEnded() const { return ended_; }
  int EndResult() const { return endResult_; }

  HWND Handle() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void EnableItem(int id, bool enable) { EnableWindow(Item(id), enable ? TRUE : FALSE); }
  void SetItemText(int id, const std::string& text);
  std::string ItemText(int id) const;
  std::string Caption() const;

  // The dialog's commands: OK (Enter), Cancel (Escape, the close box).
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

 protected:
  // WM_INITDIALOG; true gives the focus to the first tab stop.
  virtual bool OnInitDialog() { return true; }
  // WM_COMMAND other than IDOK and IDCANCEL; true when handled.
  virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
  // Every other message; set handled and return the dialog's result.
  virtual INT_PTR OnMessage(UINT /*message*/, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND hwnd_ = nullptr;
  bool modeless_ = false;
  bool ended_ = false;
  int endResult_ = 0;
};

// The program's own module, whose resources hold the templates.
HINSTANCE ProgramInstance();

}  // namespace win32ui
