#include "script.h"

#include "dialog.h"
#include "textconv.h"

namespace vzrui {

namespace {
ScriptedAnswers* g_active = nullptr;

const char* ButtonsName(Buttons b) {
  switch (b) {
    case Buttons::YesNo:
      return "YesNo";
    case Buttons::YesNoCancel:
      return "YesNoCancel";
    case Buttons::Ok:
      break;
  }
  return "Ok";
}

bool ButtonFits(int button, Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok:
      return button == kIdOk;
    case Buttons::YesNo:
      return button == kIdYes || button == kIdNo;
    case Buttons::YesNoCancel:
      return button == kIdYes || button == kIdNo || button == kIdCancel;
  }
  return false;
}

}  // namespace

ScriptedAnswers::ScriptedAnswers() { g_active = this; }

ScriptedAnswers::~ScriptedAnswers() {
  if (g_active == this) g_active = nullptr;
}

ScriptedAnswers& ScriptedAnswers::Message(int button) {
  answers_.push_back(MessageAnswer{button});
  return *this;
}
ScriptedAnswers& ScriptedAnswers::PressEscape() {
  answers_.push_back(EscapeAnswer{});
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

template <class Wanted>
std::optional<Wanted> ScriptedAnswers::Take(const std::string& what) {
  if (answers_.empty()) {
    problems_.push_back("no answer left for: " + what);
    return std::nullopt;
  }
  if (!std::holds_alternative<Wanted>(answers_.front())) {
    problems_.push_back("the next answer is of another kind than: " + what);
    return std::nullopt;
  }
  Wanted answer = std::get<Wanted>(std::move(answers_.front()));
  answers_.pop_front();
  return answer;
}

int ScriptedAnswers::AnswerMessage(const MessageQuestion& q, const EscapePress& pressEscape) {
  asked_.push_back(q);
  while (!answers_.empty() && std::holds_alternative<EscapeAnswer>(answers_.front())) {
    answers_.pop_front();
    if (const auto ended = pressEscape()) return *ended;
  }
  const auto answer = Take<MessageAnswer>(Describe(q));
  if (!answer) return HarmlessButton(q.buttons);
  if (!ButtonFits(answer->button, q.buttons)) {
    problems_.push_back("button " + std::to_string(answer->button) + " does not fit: " + Describe(q));
    return HarmlessButton(q.buttons);
  }
  return answer->button;
}

std::optional<std::string> ScriptedAnswers::AnswerFile(const FileQuestion& q) {
  asked_.push_back(q);
  const auto answer = Take<FileAnswer>(Describe(q));
  return answer ? answer->path : std::nullopt;
}

std::optional<std::string> ScriptedAnswers::AnswerFolder(const FolderQuestion& q) {
  asked_.push_back(q);
  const auto answer = Take<FolderAnswer>(Describe(q));
  return answer ? answer->path : std::nullopt;
}

void ScriptedAnswers::PlayDialog(ModalDialog& dialog) {
  const DialogQuestion q{FromQt(dialog.windowTitle())};
  asked_.push_back(q);
  auto answer = Take<DialogAnswer>(Describe(q));
  if (answer && answer->action) answer->action(dialog);
}

template <class T>
static std::vector<T> OfKind(const std::vector<Question>& asked) {
  std::vector<T> out;
  for (const Question& q : asked)
    if (const T* item = std::get_if<T>(&q)) out.push_back(*item);
  return out;
}

std::vector<MessageQuestion> ScriptedAnswers::Messages() const { return OfKind<MessageQuestion>(asked_); }
std::vector<FileQuestion> ScriptedAnswers::Files() const { return OfKind<FileQuestion>(asked_); }
std::vector<FolderQuestion> ScriptedAnswers::Folders() const { return OfKind<FolderQuestion>(asked_); }
std::vector<DialogQuestion> ScriptedAnswers::Dialogs() const { return OfKind<DialogQuestion>(asked_); }

std::vector<std::string> ScriptedAnswers::Problems() const {
  std::vector<std::string> out = problems_;
  if (!answers_.empty()) out.push_back(std::to_string(answers_.size()) + " answer(s) never asked for");
  return out;
}

std::string Describe(const Question& q) {
  if (const auto* m = std::get_if<MessageQuestion>(&q))
    return "message \"" + m->text + "\" caption \"" + m->caption + "\" buttons " + ButtonsName(m->buttons);
  if (const auto* f = std::get_if<FileQuestion>(&q))
    return std::string(f->request.open ? "open" : "save") + " file dialog, filter \"" + f->request.filter + "\"";
  if (const auto* d = std::get_if<FolderQuestion>(&q))
    return "folder browser \"" + d->title + "\" style " + std::to_string(static_cast<int>(d->style));
  return "dialog \"" + std::get<DialogQuestion>(q).title + "\"";
}

namespace detail {
bool ScriptActive() { return g_active != nullptr; }
int AnswerMessage(const MessageQuestion& q, const ScriptedAnswers::EscapePress& pressEscape) {
  return g_active->AnswerMessage(q, pressEscape);
}
std::optional<std::string> AnswerFile(const FileQuestion& q) { return g_active->AnswerFile(q); }
std::optional<std::string> AnswerFolder(const FolderQuestion& q) { return g_active->AnswerFolder(q); }
void PlayDialog(ModalDialog& dialog) { g_active->PlayDialog(dialog); }
}  // namespace detail

}  // namespace vzrui
