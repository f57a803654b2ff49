// controls.h - the two kinds of control VzrPack needs beyond plain Qt
// widgets: an image button that shows one image for its normal and focused
// states and another while pressed, and an editable drop-down list that keeps
// its entries sorted and exchanges its edit text with a string field.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QImage>
#include <string>
#include <vector>

namespace quickpack {

// A push button painted from two images, each copied unscaled from the
// button's top-left corner; the button keeps its own size. Where the image
// does not reach, the window background shows. The image is the button's
// whole look: no frame and no focus mark are drawn over it.
class BitmapButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit BitmapButton(const QString& text, QWidget* parent = nullptr);

  // Normal (also used for focus) and pressed images.
  void LoadBitmaps(const QImage& normal, const QImage& pressed);
  const QImage& NormalImage() const { return normal_; }
  const QImage& PressedImage() const { return pressed_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage normal_;
  QImage pressed_;
};

// An editable drop-down list whose entries are kept in case-insensitive
// order. Typed text is never added to the list.
class PackList : public QComboBox {
  Q_OBJECT
 public:
  explicit PackList(QWidget* parent = nullptr);

  // Sorted insertion; equal names go after those already there.
  void AddString(const std::string& text);
  int Count() const { return count(); }
  std::string EntryText(int index) const;
  std::vector<std::string> Entries() const;

  // The selected entry, or -1 when the edit field holds text that is not the
  // selected entry's (typed text), or nothing is selected.
  int SelectedIndex() const;
  // Selects entry index; -1 clears the selection and the edit field.
  void SetSelectedIndex(int index);

  std::string EditText() const;
  // Writing a field into the list: selects the first entry that begins with
  // text (ignoring case), else puts text into the edit field unselected.
  void ExchangeIn(const std::string& text);
};

}  // namespace quickpack
