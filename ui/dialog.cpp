#include "dialog.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <type_traits>

#include "script.h"
#include "textconv.h"

namespace vzrui {

namespace {
// The platform measures the average width over the 52 letters and rounds.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int AverageLetterWidth(const QFontMetrics& metrics) {
  const int total = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
  return (total / 26 + 1) / 2;
}
}  // namespace

DialogUnits::DialogUnits(const QFont& font)
    : averageCharWidth_(AverageLetterWidth(QFontMetrics(font))), charHeight_(QFontMetrics(font).height()) {}

DialogUnits::DialogUnits(int averageCharWidth, int charHeight)
    : averageCharWidth_(averageCharWidth), charHeight_(charHeight) {}

// ---------------------------------------------------------------------------

// A pull leaves a field alone while its control still shows exactly what the
// field holds, so bytes that the toolkit's strings cannot carry survive a
// push and pull unchanged.
template <class Control>
static void ExchangeText(bool pulling, Control* control, std::string& field) {
  const QString shown = ToQt(field);
  if (pulling) {
    if (control->text() != shown) field = FromQt(control->text());
  } else if (control->text() != shown) {
    control->setText(shown);
    if constexpr (std::is_same_v<Control, QLineEdit>) control->setCursorPosition(0);  // show the start
  }
}

void DataExchange::Text(QLabel* control, std::string& field) { ExchangeText(pulling_, control, field); }

void DataExchange::Text(QLineEdit* control, std::string& field) { ExchangeText(pulling_, control, field); }

void DataExchange::Custom(const std::function<void()>& push, const std::function<void()>& pull) {
  if (pulling_) {
    if (pull) pull();
  } else if (push) {
    push();
  }
}

// ---------------------------------------------------------------------------

ModalDialog::ModalDialog(QWidget* parent) : QDialog(parent), units_(font()) {}

ModalDialog::~ModalDialog() = default;

int ModalDialog::DoModal() {
  ended_ = false;
  endResult_ = 0;
  if (detail::ScriptActive()) {
    Initialize();
    detail::PlayDialog(*this);
    // A user who walks away from a dialog closes it.
    if (!ended_) OnCancel();
    if (!ended_) EndDialog(kIdCancel);
    return endResult_;
  }
  Initialize();
  const int result = exec();
  return ended_ ? endResult_ : result;
}

void ModalDialog::Initialize() {
  if (initialized_) return;
  initialized_ = true;
  OnInitDialog();
}

bool ModalDialog::UpdateData(bool pull) {
  DataExchange dx(pull);
  DoDataExchange(dx);
  return true;
}

void ModalDialog::EndDialog(int result) {
  ended_ = true;
  endResult_ = result;
  QDialog::done(result);
}

QWidget* ModalDialog::GetDlgItem(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second.control;
}

void ModalDialog::EnableDlgItem(int id, bool enable) {
  if (QWidget* control = GetDlgItem(id)) control->setEnabled(enable);
}

void ModalDialog::OnOK() {
  UpdateData(true);
  EndDialog(kIdOk);
}

void ModalDialog::OnCancel() { EndDialog(kIdCancel); }

void ModalDialog::OnInitDialog() { UpdateData(false); }

void ModalDialog::DoDataExchange(DataExchange&) {}

void ModalDialog::PlaceControl(int id, QWidget* control, int x, int y, int width, int height) {
  if (id == 0) id = anonymousIds_--;
  control->setParent(this);
  QRect pixels = units_.Rect(x, y, width, height).translated(clientOrigin_);
  // The template was measured in another font: a static text never clips
  // the words it was placed with.
  if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty())
    pixels.setWidth(std::max(pixels.width(), label->sizeHint().width()));
  control->setGeometry(pixels);
  controls_[id] = Placed{control, QRect(x, y, width, height)};
}

void ModalDialog::SetTemplateSize(int width, int height) {
  const QSize client = units_.Size(width, height);
  resize(client.width() + clientOrigin_.x(), client.height() + clientOrigin_.y());
}

QRect ModalDialog::TemplateRect(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? QRect() : it->second.units;
}

void ModalDialog::accept() { OnOK(); }

void ModalDialog::reject() { OnCancel(); }

void ModalDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && event->modifiers() == Qt::NoModifier) {
    // A default button (or the focused push button) takes Enter; otherwise
    // Enter is the dialog's OK command, as on the platform.
    for (QPushButton* button : findChildren<QPushButton*>()) {
      if (button->isDefault() && button->isVisible()) {
        QDialog::keyPressEvent(event);
        return;
      }
    }
    OnOK();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace vzrui
