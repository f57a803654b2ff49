// mount_overlay.h - where a writable mount keeps its changes until unmount.
//
// The overlay is a folder beside the archive, ".NAME.overlay" for an archive
// NAME (a link to the archive followed). It holds
//   tree/     every file created or changed through the mount, and every
//             folder made, at its path in the mount;
//   removed   the journal: the paths whose archive entries are gone (deleted,
//             renamed away or overwritten), each ended by a zero byte and
//             synced before the change it stands for shows;
//   work/     copies being made, renamed into tree/ when whole;
//   lock      held by the one server that uses the overlay.
// A file in tree/ always shows; the journal hides archive entries only. So a
// change is in the overlay before the old state goes, and a server killed at
// any moment loses nothing: the next writable mount starts from the overlay.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace vzrmount {

class Overlay {
 public:
  // The overlay folder of the archive at archivePath (an absolute path, links
  // resolved).
  static std::string FolderFor(const std::string& archivePath);

  explicit Overlay(std::string folder) : folder_(std::move(folder)) {}
  ~Overlay();
  Overlay(const Overlay&) = delete;
  Overlay& operator=(const Overlay&) = delete;

  // Creates what is missing and takes the lock. False with *error set when
  // the folder cannot be made or another server holds it.
  bool Open(std::string& error);

  const std::string& Folder() const { return folder_; }
  // Where the file or folder at rel (a path in the mount) is kept.
  std::string TreePath(const std::string& rel) const;
  // A new empty file in work/ for a copy; -1 on failure.
  int MakeWorkFile(std::string& path) const;
  // Appends rel to the journal and syncs it. False on failure (errno set).
  bool RecordRemoved(const std::string& rel);
  // The folded paths of the journal (a record cut short by a kill is dropped).
  std::set<std::string> RemovedPaths() const;
  // Every folder and file below tree/, parents before children, by name.
  void Walk(const std::function<void(const std::string& rel, bool isDir)>& visit) const;
  // Whether anything was changed: a journal record, a file or a folder.
  bool HasChanges() const;
  // Removes the overlay after its changes went into the archive.
  void Discard();

 private:
  std::string folder_;
  int journal_ = -1;
  int lock_ = -1;
};

// Applies an overlay to the archive at archivePath in one rewrite: entries of
// journal paths and of overlay files go, every overlay file comes in (an
// entry it replaces keeps its stored name); new entries of a segmented
// archive are compressed at level. Folders without files are dropped, each
// named in *notes. True when the archive holds the changes (or nothing
// changed); false with *error saying why, the archive then as it was.
bool CommitOverlay(const std::string& archivePath, const Overlay& overlay, int level, std::vector<std::string>& notes,
                   std::string& error);

}  // namespace vzrmount
