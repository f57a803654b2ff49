#include "winscript.h"

namespace win32ui {

namespace {

ScriptedAnswers* g_active = nullptr;

bool ButtonFits(int button, present::Buttons buttons) {
  switch (buttons) {
    case present::Buttons::Ok:
      return button == present::kIdOk;
    case present::Buttons::YesNo:
      return button == present::kIdYes || button == present::kIdNo;
    case present::Buttons::YesNoCancel:
      return button == present::kIdYes || button == present::kIdNo || button == present::kIdCancel;
  }
  return false;
}

// The answer that loses nothing, for a question the script did not expect.
int HarmlessButton(present::Buttons buttons) {
  switch (buttons) {
    case present::Buttons::YesNo:
      return present::kIdNo;
    case present::Buttons::YesNoCancel:
      return present::kIdCancel;
    case present::Buttons::Ok:
      break;
  }
  return present::kIdOk;
}

}  // namespace

ScriptedAnswers* ActiveScript() { return g_active; }

ScriptedAnswers::ScriptedAnswers() { g_active = this; }

ScriptedAnswers::~ScriptedAnswers() {
  if (g_active == this) g_active = nullptr;
}

ScriptedAnswers& ScriptedAnswers::Message(int button) {
  answers_.push_back(MessageAnswer{button});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::File(const std::string& path) {
  answers_.push_back(FileAnswer{path});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::CancelFile() {
  answers_.push_back(FileAnswer{std::nullopt});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::Folder(const std::string& path) {
  answers_.push_back(FolderAnswer{path});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::CancelFolder() {
  answers_.push_back(FolderAnswer{std::nullopt});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::Dialog(DialogAction action) {
  answers_.push_back(DialogAnswer{std::move(action)});
  return *this;
}

std::vector<present::Question> ScriptedAnswers::Messages() const {
  std::vector<present::Question> messages;
  for (const Question& q : asked_)
    if (const auto* m = std::get_if<present::Question>(&q)) messages.push_back(*m);
  return messages;
}

template <class Wanted>
std::optional<Wanted> ScriptedAnswers::Take(const std::string& what) {
  if (answers_.empty() || !std::holds_alternative<Wanted>(answers_.front())) {
    problems_.push_back((answers_.empty() ? "no answer left for: " : "the next answer does not fit: ") + what);
    return std::nullopt;
  }
  Wanted answer = std::get<Wanted>(std::move(answers_.front()));
  answers_.pop_front();
  return answer;
}

int ScriptedAnswers::AnswerMessage(const present::Question& q) {
  asked_.emplace_back(q);
  const auto answer = Take<MessageAnswer>("message \"" + q.text + "\"");
  if (!answer) return HarmlessButton(q.buttons);
  if (!ButtonFits(answer->button, q.buttons)) {
    problems_.push_back("the box \"" + q.text + "\" has no button " + std::to_string(answer->button));
    return HarmlessButton(q.buttons);
  }
  return answer->button;
}

std::optional<std::string> ScriptedAnswers::AnswerFile(const FileQuestion& q) {
  asked_.emplace_back(q);
  const auto answer = Take<FileAnswer>(q.request.open ? "file open dialog" : "file save dialog");
  return answer ? answer->path : std::nullopt;
}

std::optional<std::string> ScriptedAnswers::AnswerFolder(const present::FolderRequest& q) {
  asked_.emplace_back(q);
  const auto answer = Take<FolderAnswer>("folder browser \"" + q.title + "\"");
  return answer ? answer->path : std::nullopt;
}

std::optional<ScriptedAnswers::DialogAction> ScriptedAnswers::AnswerDialog(const DialogQuestion& q) {
  asked_.emplace_back(q);
  const auto answer = Take<DialogAnswer>("dialog \"" + q.title + "\"");
  if (!answer) return std::nullopt;
  return answer->action;
}

}  // namespace win32ui
