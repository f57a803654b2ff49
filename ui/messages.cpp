#include "messages.h"

#include <QCoreApplication>
#include <QMessageBox>

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
}  // namespace

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
  const std::string shownCaption = caption.empty() ? ApplicationName() : caption;
  if (detail::ScriptActive()) return detail::AnswerMessage(MessageQuestion{text, shownCaption, buttons, icon});

  QMessageBox box(ToQtIcon(icon), ToQt(shownCaption), ToQt(text), ToQtButtons(buttons), owner);
  box.setTextFormat(Qt::PlainText);
  return FromQtButton(box.exec(), buttons);
}

}  // namespace vzrui
