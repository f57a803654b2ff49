// choosers.h - file open/save dialogs and the folder browser.
#pragma once

#include <QDialog>
#include <QPersistentModelIndex>
#include <QStringList>
#include <optional>
#include <string>

#include "viewtypes.h"

class QFileSystemModel;
class QLineEdit;
class QTreeView;
class QWidget;

namespace vzrui {

// A file dialog as the presenters ask for it.
using FileDialogRequest = present::FileRequest;

// Shows the file dialog; the full chosen path, or nothing when cancelled.
std::optional<std::string> RunFileDialog(QWidget* owner, const FileDialogRequest& request);

// The platform's filter text ("Description|pattern[;pattern]|..." pairs) in the
// toolkit's form, one "Description (pattern pattern)" per pair.
QStringList ConvertFilter(const std::string& filter);

// path with extension (".vzr" or "vzr") appended when its last component has
// no extension of its own.
std::string ApplyDefaultExtension(const std::string& path, const std::string& extension);

// The two looks of the folder browser.
using FolderStyle = present::FolderStyle;

// The classic browser: the title above the folder tree of the whole file
// system and a path field below it. The start folder is selected, and kept
// in view while the folders above it are read. The field shows the selected
// folder's path; a path typed or pasted into it (relative paths start from
// the selected folder) is what OK and Enter choose, once it is found to be a
// folder; otherwise a message says so and the browser stays open.
class FolderTreeDialog : public QDialog {
 public:
  FolderTreeDialog(const std::string& title, QWidget* owner, const std::string& startFolder);

  // The chosen folder, once the dialog was accepted.
  std::optional<std::string> Chosen() const { return chosen_; }
  QTreeView* Tree() const { return tree_; }
  QLineEdit* PathField() const { return pathField_; }

  void accept() override;

 private:
  void KeepStartInView();
  void ShowSelectedPath();

  QFileSystemModel* model_;
  QTreeView* tree_;
  QLineEdit* pathField_;
  QPersistentModelIndex start_;
  bool userMoved_ = false;
  std::optional<std::string> chosen_;
};

// Asks for a folder; its full path, or nothing when the user cancels. An
// empty title shows none. The browser starts at startFolder, or at the user's
// home folder when that is empty.
std::optional<std::string> BrowseForFolder(const std::string& title, FolderStyle style, QWidget* owner,
                                           const std::string& startFolder = {});

// A presenter's choices, owned by owner (or by no window): the home folder
// stands in for an empty start folder.
std::optional<std::string> ChooseFile(QWidget* owner, const present::FileRequest& request);
std::optional<std::string> ChooseFolder(QWidget* owner, const present::FolderRequest& request);

}  // namespace vzrui
