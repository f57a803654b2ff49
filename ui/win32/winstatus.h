// winstatus.h - binds the engine's process-wide StatusSink to a Win32 dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "vzrpack.h"

namespace win32ui {

// The engine's view of a dialog. A command runs to its end inside one
// message, so nothing else paints the window meanwhile: a repaint paints what
// changed at once (UpdateWindow) at most kRepaintsPerSecond times a second,
// and throws away every click and key press that arrived, rather than acting
// on it in the middle of the command or after it.
class DialogStatusWindow : public StatusWindow {
 public:
  static constexpr ULONGLONG kRepaintsPerSecond = 10;

  // push shows the dialog's fields in its controls; window is the dialog.
  DialogStatusWindow(std::function<void()> push, std::function<HWND()> window);
  void PushFieldsToControls() override;
  void RepaintNow() override;

 private:
  std::function<void()> push_;
  std::function<HWND()> window_;
  ULONGLONG lastRepaint_ = 0;
};

// The process's one status sink, installed as the engine's while it lives.
// Its text binding starts empty; the window binds its field during set-up.
class ProcessStatusSink {
 public:
  ProcessStatusSink(std::function<void()> push, std::function<HWND()> window);
  ~ProcessStatusSink();
  ProcessStatusSink(const ProcessStatusSink&) = delete;
  ProcessStatusSink& operator=(const ProcessStatusSink&) = delete;

  void BindText(std::string& field) { sink_.text = &field; }
  void UnbindText() { sink_.text = nullptr; }
  StatusSink& sink() { return sink_; }

 private:
  DialogStatusWindow window_;
  StatusSink sink_;
};

}  // namespace win32ui
