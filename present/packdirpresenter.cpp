#include "packdirpresenter.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "paths.h"
#include "trace.h"
#include "vzrpack.h"

namespace present {

namespace {

using vzrfs::IsSeparator;

// A writable, zero-terminated copy for the engine's in-place path routines,
// never smaller than the 512 bytes they are written for.
std::vector<char> PathBuffer(const std::string& text) {
  std::vector<char> buffer(std::max<std::size_t>(512, text.size() + 1), '\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}

// Files named in a pack's warning at most; the rest are counted.
constexpr std::size_t kNoticeLines = 20;

}  // namespace

std::string SuggestBasePath(const std::string& folder) {
  std::size_t end = folder.size();
  while (end > 0 && IsSeparator(folder[end - 1])) --end;  // a trailing separator is not a name
  std::size_t start = end;
  while (start > 0 && !IsSeparator(folder[start - 1])) --start;
  const std::string name = folder.substr(start, end - start);
  // A drive root ("C:") has no folder name to offer.
  if (start == 0 && name.size() == 2 && name[1] == ':') return {};
  return name;
}

std::string ReplaceQuestion(const std::string& path) {
  return path + " already exists. Do you want to replace it?";
}

PackDirPresenter::PackDirPresenter(PackDirView& view, PackDirFields& fields) : view_(view), fields_(fields) {}

void PackDirPresenter::Refuse(const char* text, const char* caption) {
  view_.Ask({text, caption, Buttons::Ok, Icon::Exclamation});
}

void PackDirPresenter::OnCancel() {
  view_.ReadTexts(fields_.m_strSourceDir, fields_.m_strBasePath);
  view_.EndDialog(kIdCancel);
}

void PackDirPresenter::OnBrowseSource() {
  const auto folder =
      view_.ChooseFolder({"Choose directory to pack", FolderStyle::Classic, Owner::Window, fields_.startFolder});
  fields_.m_strSourceDir = folder.value_or("");
  // Cancelled: nothing is pushed, so both boxes keep what they show.
  if (fields_.m_strSourceDir.empty()) return;
  fields_.m_strBasePath = SuggestBasePath(fields_.m_strSourceDir);
  view_.ShowTexts(fields_.m_strSourceDir, fields_.m_strBasePath);
}

// Replacing a file the user may have picked by mistake loses it, even the
// archive open in the main window: the user confirms, and No keeps it.
bool PackDirPresenter::ConfirmReplace(const std::string& archivePath) {
  std::error_code ec;
  if (!std::filesystem::exists(archivePath, ec)) return true;
  Question question{ReplaceQuestion(archivePath), "Confirm Save As", Buttons::YesNo, Icon::Exclamation};
  question.defaultNo = true;
  return view_.Ask(question) == kIdYes;
}

void PackDirPresenter::OnPack() {
  std::string& sourceDir = fields_.m_strSourceDir;
  std::string& basePath = fields_.m_strBasePath;
  view_.ReadTexts(sourceDir, basePath);
  if (sourceDir.empty()) {
    Refuse("Error! Must specify source directory.", "ERROR!");
    return;
  }
  if (basePath.empty()) {
    const int answer = view_.Ask(
        {"Are you sure you don't want a base folder path?", "Question", Buttons::YesNo, Icon::Question});
    TraceLog(" m_strBasePath return: ", answer);
    if (answer != kIdYes) return;
  }
  std::vector<char> source = PathBuffer(sourceDir);
  std::vector<char> base = PathBuffer(basePath);
  if (HasIllegalChars(source.data(), 1) == 1) {
    Refuse("Cannot save! Illegal characters used(SourceDir): * ? \" < > |", "Error!");
    return;
  }
  if (HasIllegalChars(base.data(), 0) == 1) {
    Refuse("Cannot save! Illegal characters used(BasePath): * ? \" < > |", "Error!");
    return;
  }

  FileRequest request;
  request.open = false;
  request.defaultExtension = ".vzr";
  request.filter = "VZR File Archive (*.vzr)| *.vzr";
  request.startFolder = fields_.startFolder;
  const auto chosen = view_.ChooseFile(request, Owner::MainWindow);
  if (!chosen) return;
  fields_.m_strArchivePath = *chosen;
  std::vector<char> archive = PathBuffer(fields_.m_strArchivePath);

  switch (CheckPackPaths(source.data(), archive.data())) {
    case 0:
      if (!ConfirmReplace(fields_.m_strArchivePath)) return;
      PackDirectory(source.data(), base.data(), archive.data(), 1);
      // Files the pack left out are never dropped without a word.
      if (!LastPackNotices().empty())
        view_.Ask({PackNoticesText(LastPackNotices(), kNoticeLines), "Warning!", Buttons::Ok, Icon::Exclamation});
      view_.EndDialog(kIdOk);
      return;
    case 2:
      Refuse("Cannot save .vzr file inside the source files directory!", "Error!");
      return;
    default:
      Refuse("Cannot save! Illegal characters used : * ? \" < > |", "Error!");
      return;
  }
}

}  // namespace present
