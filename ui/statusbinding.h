// statusbinding.h - binds the engine's process-wide StatusSink to a dialog.
#pragma once

#include <QElapsedTimer>
#include <string>

#include "vzrpack.h"

namespace vzrui {

class ModalDialog;

// The engine's view of a dialog: pushing its fields to its controls, and
// repainting at once so that progress shows during a long command.
//
// A command runs to its end inside one event, so nothing else paints the
// window meanwhile: a repaint lets the toolkit handle the window system's
// paint and expose requests, at most kRepaintsPerSecond times a second, while
// every click and key press that arrives is thrown away rather than acted on
// in the middle of the command or replayed after it. A status text the
// engine sets is shown by the same repaint.
class DialogStatusWindow : public StatusWindow {
 public:
  static constexpr int kRepaintsPerSecond = 10;

  explicit DialogStatusWindow(ModalDialog& dialog);
  void PushFieldsToControls() override;
  void RepaintNow() override;

 private:
  ModalDialog& dialog_;
  QElapsedTimer sinceRepaint_;
  bool repainting_ = false;
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
