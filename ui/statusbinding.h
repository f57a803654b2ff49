// statusbinding.h - binds the engine's process-wide StatusSink to a dialog.
#pragma once

#include <string>

#include "vzrpack.h"

namespace vzrui {

class ModalDialog;

// The engine's view of a dialog: pushing its fields to its controls, and
// repainting at once so that progress shows during a long command.
class DialogStatusWindow : public StatusWindow {
 public:
  explicit DialogStatusWindow(ModalDialog& dialog) : dialog_(dialog) {}
  void PushFieldsToControls() override;
  void RepaintNow() override;

 private:
  ModalDialog& dialog_;
};

// The process's one status sink, bound to the main window and installed as
// the engine's binding while it lives. Its text binding starts empty; the
// window binds its status field during its set-up (BindText).
class ProcessStatusSink {
 public:
  explicit ProcessStatusSink(ModalDialog& window);
  ~ProcessStatusSink();
  ProcessStatusSink(const ProcessStatusSink&) = delete;
  ProcessStatusSink& operator=(const ProcessStatusSink&) = delete;

  StatusSink& sink() { return sink_; }

 private:
  DialogStatusWindow window_;
  StatusSink sink_;
};

// Binds the installed sink's text to field, when a sink bound to a window is
// installed; false otherwise (nothing is bound then).
bool BindStatusText(std::string& field);
// Releases the binding to field, if the installed sink holds it.
void UnbindStatusText(std::string& field);

}  // namespace vzrui
