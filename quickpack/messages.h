// messages.h - VzrPack's message boxes, with a seam through which tests
// answer them and read back what was asked.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace quickpack {

// Message box styles, by their platform values: buttons in the low nibble,
// the icon in the next one.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr int kIdOk = 1;

struct MessageRequest {
  std::string text;
  std::string caption;  // the application's name when the caller gave none
  unsigned style = 0;
};

// Shows a modal message box and returns the button pressed. An empty caption
// shows the application's name.
int ShowMessage(QWidget* parent, const std::string& text, const std::string& caption, unsigned style);

// Tests install a responder that answers instead of a real box; nullptr
// removes it.
using MessageResponder = std::function<int(const MessageRequest&)>;
void SetMessageResponder(MessageResponder responder);

}  // namespace quickpack
