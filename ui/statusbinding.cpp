#include "statusbinding.h"

#include "dialog.h"

namespace vzrui {

void DialogStatusWindow::PushFieldsToControls() { dialog_.UpdateData(false); }

void DialogStatusWindow::RepaintNow() {
  if (dialog_.isVisible()) dialog_.repaint();
}

ProcessStatusSink::ProcessStatusSink(ModalDialog& window) : window_(window) {
  sink_.window = &window_;
  SetStatusSink(&sink_);
}

ProcessStatusSink::~ProcessStatusSink() {
  if (GetStatusSink() == &sink_) SetStatusSink(nullptr);
}

bool BindStatusText(std::string& field) {
  StatusSink* sink = GetStatusSink();
  // The engine's fallback sink has no window; it must never point at a field.
  if (sink->window == nullptr) return false;
  sink->text = &field;
  return true;
}

void UnbindStatusText(std::string& field) {
  StatusSink* sink = GetStatusSink();
  if (sink->text == &field) sink->text = nullptr;
}

}  // namespace vzrui
