// controls.cpp - image buttons and sorted editable lists.
#include "controls.h"

#include <QLineEdit>
#include <QPainter>

#include "discovery.h"

namespace quickpack {

using modkit::SortedInsertPosition;
using modkit::StartsWithIgnoringCase;

BitmapButton::BitmapButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);  // kept for accessibility and tests; the image carries the lettering
  setFocusPolicy(Qt::StrongFocus);
}

void BitmapButton::LoadBitmaps(const QImage& normal, const QImage& pressed) {
  normal_ = normal;
  pressed_ = pressed;
  update();
}

void BitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QImage& image = isDown() ? pressed_ : normal_;
  // Unscaled, from the top-left corner; whatever overhangs is clipped.
  p.drawImage(QPoint(0, 0), image);
}

PackList::PackList(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  // No inline completion: the edit field holds exactly what the user typed,
  // and that is what a pack command packs.
  setCompleter(nullptr);
  setMaxVisibleItems(10);
}

void PackList::AddString(const std::string& text) {
  const std::size_t at = SortedInsertPosition(Entries(), text);
  insertItem(static_cast<int>(at), QString::fromStdString(text));
}

std::string PackList::EntryText(int index) const { return itemText(index).toStdString(); }

std::vector<std::string> PackList::Entries() const {
  std::vector<std::string> entries;
  entries.reserve(static_cast<std::size_t>(count()));
  for (int i = 0; i < count(); ++i) entries.push_back(EntryText(i));
  return entries;
}

int PackList::SelectedIndex() const {
  const int index = currentIndex();
  if (index < 0 || itemText(index) != currentText()) return -1;
  return index;
}

void PackList::SetSelectedIndex(int index) {
  if (index < 0 || index >= count()) {
    setCurrentIndex(-1);
    setEditText(QString());
    return;
  }
  setCurrentIndex(index);
  setEditText(itemText(index));
}

std::string PackList::EditText() const { return currentText().toStdString(); }

void PackList::ExchangeIn(const std::string& text) {
  for (int i = 0; i < count(); ++i) {
    if (StartsWithIgnoringCase(EntryText(i), text)) {
      SetSelectedIndex(i);
      return;
    }
  }
  setCurrentIndex(-1);
  setEditText(QString::fromStdString(text));
}

}  // namespace quickpack
