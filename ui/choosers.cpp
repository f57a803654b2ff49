#include "choosers.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

#include "script.h"
#include "textconv.h"

namespace vzrui {

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// Drops a trailing "(...)" that only repeats the patterns in the description.
std::string DescriptionWithoutPatterns(const std::string& description) {
  const std::string trimmed = Trim(description);
  if (!trimmed.empty() && trimmed.back() == ')') {
    const auto open = trimmed.rfind('(');
    if (open != std::string::npos) return Trim(trimmed.substr(0, open));
  }
  return trimmed;
}

std::string PatternsWithSpaces(const std::string& patterns) {
  std::string out;
  std::string current;
  auto flush = [&] {
    const std::string p = Trim(current);
    if (!p.empty()) out += (out.empty() ? "" : " ") + p;
    current.clear();
  };
  for (char c : patterns) {
    if (c == ';')
      flush();
    else
      current += c;
  }
  flush();
  return out;
}

// The folder a chooser shows first.
QString StartIn(const std::string& folder) { return folder.empty() ? QDir::homePath() : ToQt(folder); }

// The classic browser: the folder tree from the top of the file system, with
// the start folder selected.
std::optional<std::string> ClassicFolderTree(const std::string& title, QWidget* owner, const std::string& start) {
  QDialog dialog(owner);
  dialog.setWindowTitle(QObject::tr("Browse for Folder"));
  auto* layout = new QVBoxLayout(&dialog);
  if (!title.empty()) layout->addWidget(new QLabel(ToQt(title), &dialog));
  auto* model = new QFileSystemModel(&dialog);
  model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model->setRootPath(QDir::rootPath());
  auto* tree = new QTreeView(&dialog);
  tree->setModel(model);
  for (int column = 1; column < model->columnCount(); ++column) tree->hideColumn(column);
  tree->header()->hide();
  tree->setCurrentIndex(model->index(StartIn(start)));
  tree->scrollTo(tree->currentIndex());
  layout->addWidget(tree);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(320, 400);
  if (dialog.exec() != QDialog::Accepted || !tree->currentIndex().isValid()) return std::nullopt;
  return FromQt(QDir::cleanPath(model->filePath(tree->currentIndex())));
}

}  // namespace

QStringList ConvertFilter(const std::string& filter) {
  QStringList out;
  std::size_t at = 0;
  while (at < filter.size()) {
    const auto bar = filter.find('|', at);
    if (bar == std::string::npos) break;  // a description without patterns is dropped
    const auto next = filter.find('|', bar + 1);
    const std::string description = filter.substr(at, bar - at);
    const std::string patterns = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    const std::string shown = PatternsWithSpaces(patterns);
    if (!shown.empty()) {
      const std::string name = DescriptionWithoutPatterns(description);
      out << ToQt((name.empty() ? "" : name + " ") + "(" + shown + ")");
    }
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return out;
}

std::string ApplyDefaultExtension(const std::string& path, const std::string& extension) {
  std::string ext = extension;
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  if (ext.empty() || path.empty()) return path;
  const auto slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + "." + ext;
}

std::optional<std::string> RunFileDialog(QWidget* owner, const FileDialogRequest& request) {
  std::optional<std::string> chosen;
  if (detail::ScriptActive()) {
    chosen = detail::AnswerFile(FileQuestion{request, owner ? FromQt(owner->windowTitle()) : std::string()});
  } else {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(ConvertFilter(request.filter));
    std::string suffix = request.defaultExtension;
    if (!suffix.empty() && suffix.front() == '.') suffix.erase(0, 1);
    dialog.setDefaultSuffix(ToQt(suffix));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.setDirectory(StartIn(request.startFolder));
    if (!request.initialName.empty()) dialog.selectFile(ToQt(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    chosen = FromQt(dialog.selectedFiles().front());
  }
  if (!chosen) return std::nullopt;
  return ApplyDefaultExtension(*chosen, request.defaultExtension);
}

std::optional<std::string> BrowseForFolder(const std::string& title, FolderStyle style, QWidget* owner,
                                           const std::string& startFolder) {
  if (detail::ScriptActive())
    return detail::AnswerFolder(
        FolderQuestion{title, style, owner, owner ? FromQt(owner->windowTitle()) : "", startFolder});
  if (style == FolderStyle::Classic) return ClassicFolderTree(title, owner, startFolder);
  const QString folder = QFileDialog::getExistingDirectory(owner, ToQt(title), StartIn(startFolder),
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (folder.isEmpty()) return std::nullopt;
  return FromQt(QDir::cleanPath(folder));
}

}  // namespace vzrui
