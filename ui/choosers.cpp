#include "choosers.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "messages.h"
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

FolderTreeDialog::FolderTreeDialog(const std::string& title, QWidget* owner, const std::string& startFolder)
    : QDialog(owner) {
  setWindowTitle(QObject::tr("Browse for Folder"));
  auto* layout = new QVBoxLayout(this);
  if (!title.empty()) layout->addWidget(new QLabel(ToQt(title), this));
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QDir::rootPath());
  tree_ = new QTreeView(this);
  tree_->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
  tree_->header()->hide();
  layout->addWidget(tree_);

  auto* pathRow = new QHBoxLayout;
  auto* pathLabel = new QLabel(QObject::tr("Folder:"), this);
  pathField_ = new QLineEdit(this);
  pathLabel->setBuddy(pathField_);
  pathRow->addWidget(pathLabel);
  pathRow->addWidget(pathField_);
  layout->addLayout(pathRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);  // Enter in the field is OK
  QObject::connect(buttons, &QDialogButtonBox::accepted, this, &FolderTreeDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(320, 400);

  start_ = model_->index(StartIn(startFolder));
  tree_->setCurrentIndex(start_);
  ShowSelectedPath();
  KeepStartInView();
  // Folders are read in the background: each folder above the start that
  // arrives pushes it down, so it is brought back into view.
  QObject::connect(model_, &QFileSystemModel::directoryLoaded, this, [this] { KeepStartInView(); });
  QObject::connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { KeepStartInView(); });
  QObject::connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
    if (tree_->currentIndex() != QModelIndex(start_)) userMoved_ = true;
    ShowSelectedPath();
  });
}

void FolderTreeDialog::KeepStartInView() {
  if (userMoved_ || !start_.isValid()) return;
  tree_->scrollTo(start_, QAbstractItemView::PositionAtCenter);
}

void FolderTreeDialog::ShowSelectedPath() {
  const QModelIndex current = tree_->currentIndex();
  pathField_->setText(current.isValid() ? QDir::toNativeSeparators(QDir::cleanPath(model_->filePath(current)))
                                        : QString());
}

void FolderTreeDialog::accept() {
  const QString typed = pathField_->text().trimmed();
  const QModelIndex current = tree_->currentIndex();
  if (typed.isEmpty() && !current.isValid()) return;
  const QString base = current.isValid() ? model_->filePath(current) : QDir::rootPath();
  const QString path = typed.isEmpty() ? base : QDir(base).absoluteFilePath(QDir::fromNativeSeparators(typed));
  if (!QFileInfo(path).isDir()) {
    MessageBox(this, "The path is not a folder:\n" + FromQt(typed), FromQt(windowTitle()), Buttons::Ok,
               Icon::Exclamation);
    pathField_->setFocus();
    pathField_->selectAll();
    return;
  }
  chosen_ = FromQt(QDir::cleanPath(path));
  QDialog::accept();
}

std::optional<std::string> BrowseForFolder(const std::string& title, FolderStyle style, QWidget* owner,
                                           const std::string& startFolder) {
  if (detail::ScriptActive())
    return detail::AnswerFolder(
        FolderQuestion{title, style, owner, owner ? FromQt(owner->windowTitle()) : "", startFolder});
  if (style == FolderStyle::Classic) {
    FolderTreeDialog dialog(title, owner, startFolder);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Chosen();
  }
  const QString folder = QFileDialog::getExistingDirectory(owner, ToQt(title), StartIn(startFolder),
                                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (folder.isEmpty()) return std::nullopt;
  return FromQt(QDir::cleanPath(folder));
}

}  // namespace vzrui

namespace vzrui {

namespace {

std::string StartOrHome(const std::string& folder) { return folder.empty() ? FromQt(QDir::homePath()) : folder; }

}  // namespace

std::optional<std::string> ChooseFile(QWidget* owner, const present::FileRequest& request) {
  present::FileRequest shown = request;
  shown.startFolder = StartOrHome(request.startFolder);
  return RunFileDialog(owner, shown);
}

std::optional<std::string> ChooseFolder(QWidget* owner, const present::FolderRequest& request) {
  return BrowseForFolder(request.title, request.style, owner, StartOrHome(request.startFolder));
}

}  // namespace vzrui
