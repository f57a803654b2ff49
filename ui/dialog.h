// dialog.h - modal dialogs built from a template of dialog units, with data
// exchange between the dialog's fields and its controls.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>
#include <map>
#include <string>

#include "viewtypes.h"

class QLabel;
class QLineEdit;
class QWidget;

namespace vzrui {

// Results of a modal run and of message boxes (the platform's numbers).
inline constexpr int kIdOk = present::kIdOk;
inline constexpr int kIdCancel = present::kIdCancel;
inline constexpr int kIdYes = present::kIdYes;
inline constexpr int kIdNo = present::kIdNo;

// Converts dialog units to pixels from a font: x × average character width / 4
// and y × character height / 8, so a window keeps its template's proportions
// whatever font it is shown in.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int averageCharWidth, int charHeight);

  int X(int units) const { return units * averageCharWidth_ / 4; }
  int Y(int units) const { return units * charHeight_ / 8; }
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }
  QRect Rect(int x, int y, int width, int height) const { return {X(x), Y(y), X(width), Y(height)}; }

  int averageCharWidth() const { return averageCharWidth_; }
  int charHeight() const { return charHeight_; }

 private:
  int averageCharWidth_;
  int charHeight_;
};

// One data exchange over a dialog's bindings, in either direction: pushing
// copies fields into controls, pulling copies controls back into fields.
class DataExchange {
 public:
  explicit DataExchange(bool pulling) : pulling_(pulling) {}
  bool Pulling() const { return pulling_; }

  void Text(QLabel* control, std::string& field);
  void Text(QLineEdit* control, std::string& field);
  // Any other kind of control: the caller says how to push and how to pull.
  void Custom(const std::function<void()>& push, const std::function<void()>& pull);

 private:
  bool pulling_;
};

// A modal dialog in the platform's manner. Subclasses create their controls
// (placed in dialog units with PlaceControl) in their constructor, bind fields
// in DoDataExchange, and override the set-up and the two ending commands.
class ModalDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ModalDialog(QWidget* parent = nullptr);
  ~ModalDialog() override;

  // Sets the dialog up (once) and runs it until it is ended; returns the code
  // it was ended with (kIdOk, kIdCancel, ...). Under a test script the
  // script's action plays the user instead of an event loop.
  int DoModal();
  // The set-up alone (OnInitDialog, once), for a dialog that is shown without
  // a modal run of its own.
  void Initialize();
  bool IsInitialized() const { return initialized_; }

  // pull true: controls to fields; false: fields to controls. Always true.
  bool UpdateData(bool pull = true);
  // Ends the modal run with the given code.
  void EndDialog(int result);
  bool IsEnded() const { return ended_; }
  int EndResult() const { return endResult_; }

  // Controls by their template id.
  QWidget* GetDlgItem(int id) const;
  void EnableDlgItem(int id, bool enable);

  // The dialog's commands: OK (Enter), Cancel (Escape, close box).
  virtual void OnOK();
  virtual void OnCancel();

  // Template geometry of the dialog.
  const DialogUnits& Units() const { return units_; }

 protected:
  virtual void OnInitDialog();
  virtual void DoDataExchange(DataExchange& dx);

  // Registers a control under its id and places it at its template rectangle
  // (dialog units, relative to the client origin).
  void PlaceControl(int id, QWidget* control, int x, int y, int width, int height);
  // Sizes the client area from dialog units (plus whatever lies above the
  // client origin, such as a menu bar).
  void SetTemplateSize(int width, int height);
  void SetClientOrigin(QPoint origin) { clientOrigin_ = origin; }
  QPoint ClientOrigin() const { return clientOrigin_; }
  QRect TemplateRect(int id) const;

  // QDialog's own ending routes through OnOK / OnCancel.
  void accept() override;
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Placed {
    QWidget* control;
    QRect units;
  };
  DialogUnits units_;
  QPoint clientOrigin_;
  std::map<int, Placed> controls_;
  int anonymousIds_ = -1;
  bool initialized_ = false;
  bool ended_ = false;
  int endResult_ = 0;
};

}  // namespace vzrui
