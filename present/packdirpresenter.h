// packdirpresenter.h - the decisions of the Pack Directory dialog, free of any
// toolkit: the base path suggested for a folder, the pack checks, the
// question before an existing archive is replaced, and the pack itself.
#pragma once

#include <string>

#include "toolsetview.h"

namespace present {

// The Pack Directory dialog's decisions: the suggested base path, the pack
// checks, the question before replacing an archive, and the pack itself.
class PackDirPresenter {
 public:
  // fields: what the dialog starts with; it is updated as the dialog runs.
  PackDirPresenter(PackDirView& view, PackDirFields& fields);

  // The "..." button: a folder for the source, its last name as base path.
  void OnBrowseSource();
  // Pack: the checks, the save dialog, then PackDirectory; ends the dialog
  // with kIdOk once the pack ran.
  void OnPack();
  // Cancel, Escape and the close box: the typed texts are kept for the next
  // dialog.
  void OnCancel();

  PackDirFields& Fields() { return fields_; }

 private:
  void Refuse(const char* text, const char* caption);
  bool ConfirmReplace(const std::string& archivePath);

  PackDirView& view_;
  PackDirFields& fields_;
};

// The base path that "..." suggests for a chosen folder: its last folder name
// (after the last '/' or '\'), or nothing for a root such as "/" or "C:\".
std::string SuggestBasePath(const std::string& folder);

// The question Pack Directory asks before replacing an existing file.
std::string ReplaceQuestion(const std::string& path);

}  // namespace present
