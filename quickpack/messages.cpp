// messages.cpp - message boxes on QMessageBox.
#include "messages.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace quickpack {
namespace {

MessageResponder& Responder() {
  static MessageResponder responder;
  return responder;
}

}  // namespace

void SetMessageResponder(MessageResponder responder) { Responder() = std::move(responder); }

int ShowMessage(QWidget* parent, const std::string& text, const std::string& caption, unsigned style) {
  MessageRequest request{text, caption, style};
  if (request.caption.empty()) request.caption = QCoreApplication::applicationName().toStdString();
  if (Responder()) return Responder()(request);

  QMessageBox box(parent);
  box.setWindowTitle(QString::fromStdString(request.caption));
  box.setText(QString::fromStdString(request.text));
  box.setIcon((style & 0xF0) == kMbIconQuestion ? QMessageBox::Question : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return kIdOk;
}

}  // namespace quickpack
