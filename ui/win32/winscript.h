// winscript.h - the scripted seam of the Win32 layer: while a ScriptedAnswers
// object lives, every message box, file dialog, folder browser and modal
// dialog is answered from its queue, in order, and nothing is shown; each
// question is logged so a test can read back what was asked.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "viewtypes.h"

namespace win32ui {

class ModalDialog;

struct FileQuestion {
  present::FileRequest request;
  bool owned = false;  // a window owns the dialog
};

struct DialogQuestion {
  std::string title;  // the dialog's caption
};

using Question = std::variant<present::Question, FileQuestion, present::FolderRequest, DialogQuestion>;

class ScriptedAnswers {
 public:
  using DialogAction = std::function<void(ModalDialog&)>;

  ScriptedAnswers();  // installs itself; one script at a time
  ~ScriptedAnswers();
  ScriptedAnswers(const ScriptedAnswers&) = delete;
  ScriptedAnswers& operator=(const ScriptedAnswers&) = delete;

  // Answers, queued in the order the questions will come.
  ScriptedAnswers& Message(int button);  // kIdOk, kIdYes, kIdNo, kIdCancel
  ScriptedAnswers& File(const std::string& path);
  ScriptedAnswers& CancelFile();
  ScriptedAnswers& Folder(const std::string& path);
  ScriptedAnswers& CancelFolder();
  // The action plays the user in a modal dialog, which is up (modeless) while
  // it runs; a dialog still open after it returns is cancelled.
  ScriptedAnswers& Dialog(DialogAction action);

  const std::vector<Question>& Asked() const { return asked_; }
  std::vector<present::Question> Messages() const;
  // Questions that found no fitting answer.
  const std::vector<std::string>& Problems() const { return problems_; }
  bool AllUsed() const { return answers_.empty(); }

  // Used by the layer itself.
  int AnswerMessage(const present::Question& q);
  std::optional<std::string> AnswerFile(const FileQuestion& q);
  std::optional<std::string> AnswerFolder(const present::FolderRequest& q);
  std::optional<DialogAction> AnswerDialog(const DialogQuestion& q);

 private:
  struct MessageAnswer {
    int button;
  };
  struct FileAnswer {
    std::optional<std::string> path;
  };
  struct FolderAnswer {
    std::optional<std::string> path;
  };
  struct DialogAnswer {
    DialogAction action;
  };
  using Answer = std::variant<MessageAnswer, FileAnswer, FolderAnswer, DialogAnswer>;

  template <class Wanted>
  std::optional<Wanted> Take(const std::string& what);

  std::deque<Answer> answers_;
  std::vector<Question> asked_;
  std::vector<std::string> problems_;
};

// The running script, or null when the user answers.
ScriptedAnswers* ActiveScript();

}  // namespace win32ui
