#include "messages.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <memory>

#include "script.h"
#include "textconv.h"

namespace vzrui {

namespace {
std::string& NameOverride() {
  static std::string name;
  return name;
}

QMessageBox::Icon ToQtIcon(Icon icon) {
  switch (icon) {
    case Icon::Error:
      return QMessageBox::Critical;
    case Icon::Exclamation:
      return QMessageBox::Warning;
    case Icon::Question:
      return QMessageBox::Question;
    case Icon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(Buttons buttons) {
  switch (buttons) {
    case Buttons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::Ok:
      break;
  }
  return QMessageBox::Ok;
}

int FromQtButton(int pressed, Buttons buttons) {
  switch (pressed) {
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    case QMessageBox::Cancel:
      return kIdCancel;
    case QMessageBox::Ok:
      return kIdOk;
    default:
      break;
  }
  return HarmlessButton(buttons);  // closed without a button
}

// The toolkit's box takes Escape and its close box as No on a Yes/No
// question; the platform's box cannot be left without an answer there, and
// neither can this one.
class PlatformMessageBox : public QMessageBox {
 public:
  PlatformMessageBox(QWidget* owner, const std::string& text, const std::string& caption, vzrui::Buttons buttons,
                     vzrui::Icon icon)
      : QMessageBox(ToQtIcon(icon), ToQt(caption), ToQt(text), ToQtButtons(buttons), owner),
        buttons_(buttons),
        escapable_(CanEscape(buttons)) {
    setTextFormat(Qt::PlainText);
    if (!escapable_) {
      setWindowFlag(Qt::CustomizeWindowHint, true);
      setWindowFlag(Qt::WindowCloseButtonHint, false);
    }
  }

  int Answer() const { return FromQtButton(standardButton(clickedButton()), buttons_); }

  // Shows the box and presses Escape on it as a user would: the button it
  // ended with, or nothing when it stays (it is hidden again then).
  std::optional<int> PressEscape() {
    show();
    QWidget* target = focusWidget() ? focusWidget() : this;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    if (!isVisible()) return Answer();
    hide();
    return std::nullopt;
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!escapable_ && event->matches(QKeySequence::Cancel)) {
      event->accept();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (!escapable_) {
      event->ignore();
      return;
    }
    QMessageBox::closeEvent(event);
  }

 private:
  Buttons buttons_;
  bool escapable_;
};
}  // namespace

bool CanEscape(Buttons buttons) { return buttons != Buttons::YesNo; }

int HarmlessButton(Buttons buttons) {
  switch (buttons) {
    case Buttons::YesNoCancel:
      return kIdCancel;
    case Buttons::YesNo:
      return kIdNo;
    case Buttons::Ok:
      break;
  }
  return kIdOk;
}

void SetApplicationName(const std::string& name) { NameOverride() = name; }

std::string ApplicationName() {
  if (!NameOverride().empty()) return NameOverride();
  return FromQt(QCoreApplication::applicationName());
}

int MessageBox(QWidget* owner, const std::string& text, const std::string& caption, Buttons buttons, Icon icon) {
  return MessageBox(owner, present::Question{text, caption, buttons, icon});
}

int MessageBox(QWidget* owner, const present::Question& q) {
  const std::string shownCaption = q.caption.empty() ? ApplicationName() : q.caption;
  auto makeBox = [&] {
    auto box = std::make_unique<PlatformMessageBox>(owner, q.text, shownCaption, q.buttons, q.icon);
    if (q.defaultNo) box->setDefaultButton(QMessageBox::No);
    return box;
  };
  if (detail::ScriptActive())
    return detail::AnswerMessage(MessageQuestion{q.text, shownCaption, q.buttons, q.icon, q.defaultNo},
                                 [&] { return makeBox()->PressEscape(); });

  const auto box = makeBox();
  box->exec();
  return box->Answer();
}

}  // namespace vzrui
