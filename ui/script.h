// script.h - the scripted seam: while a ScriptedAnswers object lives, every
// message box, file dialog, folder browser and modal dialog is answered from
// its queue, in order, with no display; each question is logged so a test can
// read back what was asked.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "choosers.h"
#include "messages.h"

class QWidget;

namespace vzrui {

class ModalDialog;

struct MessageQuestion {
  std::string text;
  std::string caption;  // as shown: the application's name when none was given
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::None;
  bool defaultNo = false;  // No is the default button
};

struct FileQuestion {
  FileDialogRequest request;
  std::string ownerTitle;  // caption of the owning window, empty for none
};

struct FolderQuestion {
  std::string title;
  FolderStyle style = FolderStyle::EditBox;
  QWidget* owner = nullptr;
  std::string ownerTitle;
  std::string startFolder;  // where the browser would have started
};

struct DialogQuestion {
  std::string title;  // the dialog's caption
};

using Question = std::variant<MessageQuestion, FileQuestion, FolderQuestion, DialogQuestion>;

class ScriptedAnswers {
 public:
  using DialogAction = std::function<void(ModalDialog&)>;

  ScriptedAnswers();  // installs itself; only one script at a time
  ~ScriptedAnswers();
  ScriptedAnswers(const ScriptedAnswers&) = delete;
  ScriptedAnswers& operator=(const ScriptedAnswers&) = delete;

  // Queue answers, in the order the questions will come.
  ScriptedAnswers& Message(int button);  // kIdOk, kIdYes, kIdNo, kIdCancel
  // The user presses Escape on the next message box, the real box, shown for
  // the purpose: a box that Escape ends answers with the button it ended
  // with; a box that stays takes the answer queued after this one.
  ScriptedAnswers& PressEscape();
  ScriptedAnswers& File(const std::string& path);
  ScriptedAnswers& CancelFile();
  ScriptedAnswers& Folder(const std::string& path);
  ScriptedAnswers& CancelFolder();
  // The action plays the user in a modal dialog; a dialog still open after
  // it returns is cancelled.
  ScriptedAnswers& Dialog(DialogAction action);

  // Everything asked so far, in order.
  const std::vector<Question>& Asked() const { return asked_; }
  std::vector<MessageQuestion> Messages() const;
  std::vector<FileQuestion> Files() const;
  std::vector<FolderQuestion> Folders() const;
  std::vector<DialogQuestion> Dialogs() const;

  // Questions that found no fitting answer, and answers never asked for.
  std::vector<std::string> Problems() const;
  bool AllUsed() const { return answers_.empty(); }
  std::size_t Remaining() const { return answers_.size(); }

  // Used by the layer itself. pressEscape presses Escape on the real box:
  // the button it ended with, or nothing while it stays.
  using EscapePress = std::function<std::optional<int>()>;
  int AnswerMessage(const MessageQuestion& q, const EscapePress& pressEscape);
  std::optional<std::string> AnswerFile(const FileQuestion& q);
  std::optional<std::string> AnswerFolder(const FolderQuestion& q);
  void PlayDialog(ModalDialog& dialog);

 private:
  struct MessageAnswer {
    int button;
  };
  struct EscapeAnswer {};
  struct FileAnswer {
    std::optional<std::string> path;
  };
  struct FolderAnswer {
    std::optional<std::string> path;
  };
  struct DialogAnswer {
    DialogAction action;
  };
  using Answer = std::variant<MessageAnswer, EscapeAnswer, FileAnswer, FolderAnswer, DialogAnswer>;

  template <class Wanted>
  std::optional<Wanted> Take(const std::string& what);

  std::deque<Answer> answers_;
  std::vector<Question> asked_;
  std::vector<std::string> problems_;
};

// Describes a question in one line, for failure messages.
std::string Describe(const Question& q);

namespace detail {
bool ScriptActive();
int AnswerMessage(const MessageQuestion& q, const ScriptedAnswers::EscapePress& pressEscape);
std::optional<std::string> AnswerFile(const FileQuestion& q);
std::optional<std::string> AnswerFolder(const FolderQuestion& q);
void PlayDialog(ModalDialog& dialog);
}  // namespace detail

}  // namespace vzrui
