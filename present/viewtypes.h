// viewtypes.h - what every window's presenter asks of its view, in standard
// types only: message boxes, file and folder choices. Texts are UTF-8; the
// toolkit behind the view (Qt widgets, Win32 dialogs) converts.
#pragma once

#include <optional>
#include <string>

namespace present {

// Answers of message boxes and results of modal runs (the platform's numbers).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { None, Error, Exclamation, Question };

// A message box: text, caption (empty: the application's name), buttons,
// icon. defaultNo makes No the default button of a Yes/No question, for a
// question whose Yes loses data.
struct Question {
  std::string text;
  std::string caption;
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::None;
  bool defaultNo = false;
};

// Which window owns a chooser: none, the asking window itself, or the main
// window of the program (for a dialog whose choosers belong to its owner).
enum class Owner { None, Window, MainWindow };

// A file open or save dialog.
struct FileRequest {
  bool open = true;               // false: a save dialog
  std::string defaultExtension;   // ".vzr" or "vzr"; added to a name typed without one
  std::string initialName;        // the file name the dialog starts with
  std::string filter;             // the platform's form: "VZR File (*.vzr)| *.vzr"
  bool hideReadOnly = false;      // the platform's read-only check box (never shown)
  bool confirmOverwrite = false;  // a save dialog asks before replacing a file
  std::string startFolder;        // the folder shown first; empty: the user's home folder
};

// The two looks of the folder browser.
enum class FolderStyle {
  EditBox = 0,  // new style: a folder dialog with an edit box for the path
  Classic = 1,  // classic: a folder tree with the title above it
};

// A folder browser.
struct FolderRequest {
  std::string title;  // empty: none
  FolderStyle style = FolderStyle::EditBox;
  Owner owner = Owner::None;
  std::string startFolder;  // empty: the user's home folder
};

// The questions a presenter puts to the user through its window. Every
// question is modal: it returns once the user answered.
class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // Shows a message box owned by the window; the button pressed (kIdOk,
  // kIdCancel, kIdYes or kIdNo).
  virtual int Ask(const Question& question) = 0;
  // The full chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> ChooseFile(const FileRequest& request, Owner owner) = 0;
  virtual std::optional<std::string> ChooseFolder(const FolderRequest& request) = 0;
};

}  // namespace present
