// replacementfile_internal.h - a new file that takes the place of another
// only once it is whole. Internal to the engine.
//
// Every writer that replaces a file (the rewrite of an archive, a pack, the
// copy fallback of a move, the extraction of an entry) makes the new content
// under a fresh name beside the target, registered so that an interrupting
// signal removes it, and renames it over the target at the end. This object
// holds that file: on every way out but a commit it closes and removes it.
#pragma once

#include <cstdio>
#include <string>

#include "fileservices.h"

namespace vzrfs {

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Discard(); }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Makes the file beside the path target as CreateBeside does, open as a
  // stream. False when it could not be made (errno tells why).
  bool CreateBeside(const std::string& target);
  // Makes the file in the open folder dir beside its entry leaf as
  // CreateBesideAt does, open for positional writes. dir is borrowed: it
  // must stay open while this object lives.
  bool CreateBesideAt(const Folder& dir, const std::string& leaf);

  std::FILE* Stream() const { return stream_.get(); }  // CreateBeside's file; nullptr once closed
  PositionalFile& File() { return file_; }             // CreateBesideAt's file; invalid once closed
  const std::string& Name() const { return name_; }    // its path, or its name in the folder

  // Flushes and closes the file; false on a late write error (errno and
  // LastWriteError tell it). Closing a closed file is success.
  bool Close();
  // CreateBeside's file: closes it and puts it in the target's place through
  // ReplaceDurably (flush, rename, flush of the folder). False when the close,
  // flush or rename failed (flushFailed, when given, tells a failed flush);
  // the file is then still this object's.
  bool CommitDurably(bool* flushFailed = nullptr);
  // CreateBesideAt's file: closes it and renames it over its entry in the
  // folder, as RenameAt does (without mayReplace a name there fails with
  // EEXIST). Nothing is flushed. False when the close or rename failed.
  bool CommitAt(bool mayReplace);
  // Closes and removes the file now; nothing once committed or released.
  void Discard();
  // The file is no longer this object's to remove: something else moved it.
  void Release();

 private:
  UniqueFile stream_;
  PositionalFile file_;
  const Folder* dir_ = nullptr;  // CreateBesideAt's folder; none for a file made by path
  std::string target_;           // the path replaced, or the entry's name in dir_
  std::string name_;    // empty when there is no file to remove
};

}  // namespace vzrfs
