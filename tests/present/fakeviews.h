// fakeviews.h - views that answer the presenters from queues and remember
// what they were told: the toolkit-free stand-in for a window and its user.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "discovery.h"
#include "packdirpresenter.h"
#include "quickpackpresenter.h"
#include "toolsetpresenter.h"

namespace presenttest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes (std::filesystem only, for every platform).
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("vzrpresent." + std::to_string(random()));
      if (fs::create_directory(candidate)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("no temporary folder");
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Restores the process's current directory when it goes.
class CurrentFolderGuard {
 public:
  CurrentFolderGuard() : saved_(fs::current_path()) {}
  ~CurrentFolderGuard() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }

 private:
  fs::path saved_;
};

// The questions every view asks, answered from queues. A question without
// a queued answer fails the test and gets the most harmless answer.
class ScriptedHost {
 public:
  std::deque<int> buttons;
  std::deque<std::optional<std::string>> files, folders;
  std::vector<present::Question> asked;
  std::vector<present::FileRequest> fileRequests;
  std::vector<present::FolderRequest> folderRequests;

  int AnswerQuestion(const present::Question& q) {
    asked.push_back(q);
    if (buttons.empty()) {
      ADD_FAILURE() << "unanswered question: " << q.text;
      return q.buttons == present::Buttons::Ok ? present::kIdOk : present::kIdNo;
    }
    const int answer = buttons.front();
    buttons.pop_front();
    return answer;
  }
  std::optional<std::string> AnswerFile(const present::FileRequest& request) {
    fileRequests.push_back(request);
    return Take(files, "file");
  }
  std::optional<std::string> AnswerFolder(const present::FolderRequest& request) {
    folderRequests.push_back(request);
    return Take(folders, "folder");
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& q : asked) texts.push_back(q.text);
    return texts;
  }

 private:
  static std::optional<std::string> Take(std::deque<std::optional<std::string>>& queue, const char* what) {
    if (queue.empty()) {
      ADD_FAILURE() << "unanswered " << what << " choice";
      return std::nullopt;
    }
    auto answer = queue.front();
    queue.pop_front();
    return answer;
  }
};

class FakeToolsetView : public present::ToolsetView {
 public:
  ScriptedHost host;
  int rows = 0;
  std::vector<int> selected;
  std::string editor;
  std::string currentFile;
  std::string status;
  std::vector<std::pair<int, bool>> enabled;
  bool closed = false;
  // Plays the Pack Directory dialog: gets the fields and the presenter.
  std::function<int(present::PackDirFields&)> packDialog;

  void ShowRows(int rowCount) override {
    rows = rowCount;
    selected.clear();
  }
  std::vector<int> SelectedRows() const override { return selected; }
  void SetEditorText(const std::string& text) override { editor = text; }
  std::string EditorText() const override { return editor; }
  void ShowCurrentFile(const std::string& label) override { currentFile = label; }
  void SetStatusText(const std::string& text) override { status = text; }
  std::string StatusText() const override { return status; }
  void EnableControl(int id, bool enable) override { enabled.emplace_back(id, enable); }
  int RunPackDirDialog(present::PackDirFields& fields) override {
    return packDialog ? packDialog(fields) : present::kIdCancel;
  }
  void CloseWindow() override { closed = true; }
  int Ask(const present::Question& q) override { return host.AnswerQuestion(q); }
  std::optional<std::string> ChooseFile(const present::FileRequest& r, present::Owner) override {
    return host.AnswerFile(r);
  }
  std::optional<std::string> ChooseFolder(const present::FolderRequest& r) override { return host.AnswerFolder(r); }

  bool IsEnabled(int id) const {
    for (auto it = enabled.rbegin(); it != enabled.rend(); ++it)
      if (it->first == id) return it->second;
    return false;
  }
};

class FakePackDirView : public present::PackDirView {
 public:
  ScriptedHost host;
  std::string sourceBox, baseBox;
  std::optional<int> ended;

  void ReadTexts(std::string& sourceDir, std::string& basePath) override {
    sourceDir = sourceBox;
    basePath = baseBox;
  }
  void ShowTexts(const std::string& sourceDir, const std::string& basePath) override {
    sourceBox = sourceDir;
    baseBox = basePath;
  }
  void EndDialog(int result) override { ended = result; }
  int Ask(const present::Question& q) override { return host.AnswerQuestion(q); }
  std::optional<std::string> ChooseFile(const present::FileRequest& r, present::Owner) override {
    return host.AnswerFile(r);
  }
  std::optional<std::string> ChooseFolder(const present::FolderRequest& r) override { return host.AnswerFolder(r); }
};

class FakeQuickPackView : public present::QuickPackView {
 public:
  ScriptedHost host;
  std::vector<std::string> lists[2];
  int selection[2] = {-1, -1};
  std::string typed[2];
  std::vector<std::string> statuses;

  static int At(present::PackListId list) { return list == present::PackListId::kLevels ? 0 : 1; }
  void AddListEntry(present::PackListId list, const std::string& text) override {
    std::vector<std::string>& entries = lists[At(list)];
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(modkit::SortedInsertPosition(entries, text)), text);
  }
  int ListCount(present::PackListId list) const override { return static_cast<int>(lists[At(list)].size()); }
  std::string ListEntry(present::PackListId list, int index) const override { return lists[At(list)].at(index); }
  int SelectedIndex(present::PackListId list) const override { return selection[At(list)]; }
  void SelectIndex(present::PackListId list, int index) override { selection[At(list)] = index; }
  std::string ListText(present::PackListId list) override {
    const int i = selection[At(list)];
    return i >= 0 ? lists[At(list)][i] : typed[At(list)];
  }
  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  int Ask(const present::Question& q) override { return host.AnswerQuestion(q); }
  std::optional<std::string> ChooseFile(const present::FileRequest& r, present::Owner) override {
    return host.AnswerFile(r);
  }
  std::optional<std::string> ChooseFolder(const present::FolderRequest& r) override { return host.AnswerFolder(r); }
};

}  // namespace presenttest
