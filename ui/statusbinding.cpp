#include "statusbinding.h"

#include <QCoreApplication>
#include <QEvent>

#include "dialog.h"

namespace vzrui {

namespace {

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::Close:  // the close box: a window does not close mid-command
      return true;
    default:
      return false;
  }
}

// While it lives, user input reaching the application is dropped, and it
// notes whether the toolkit delivered an update request to window (which
// paints everything that changed in it).
class InputDropper : public QObject {
 public:
  explicit InputDropper(const QWidget* window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }
  InputDropper(const InputDropper&) = delete;
  InputDropper& operator=(const InputDropper&) = delete;

  bool WindowUpdated() const { return windowUpdated_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest && watched == window_) windowUpdated_ = true;
    return IsUserInput(event->type());
  }

 private:
  const QWidget* window_;
  bool windowUpdated_ = false;
};

}  // namespace

DialogStatusWindow::DialogStatusWindow(ModalDialog& dialog) : dialog_(dialog) { sinceRepaint_.start(); }

// The engine sets texts without asking for a repaint in some long loops
// (extraction names every entry): a new text asks for one itself.
void DialogStatusWindow::PushFieldsToControls() {
  dialog_.UpdateData(false);
  RepaintNow();
}

void DialogStatusWindow::RepaintNow() {
  if (repainting_ || !dialog_.isVisible() || !QCoreApplication::instance()) return;
  if (sinceRepaint_.elapsed() < 1000 / kRepaintsPerSecond) return;
  repainting_ = true;
  {
    InputDropper dropper(dialog_.window());
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Handling the posted events painted what changed, the new status text
    // among it, when the window's update request came with them. A platform
    // that defers widget updates to a later frame has painted nothing yet:
    // then the whole window is painted now.
    if (!dropper.WindowUpdated()) dialog_.repaint();
  }
  repainting_ = false;
  sinceRepaint_.restart();
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
