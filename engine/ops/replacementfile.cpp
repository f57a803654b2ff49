// replacementfile.cpp - the new file beside its target, committed over it or
// removed.
#include "replacementfile_internal.h"

#include <cerrno>

namespace vzrfs {

bool ReplacementFile::CreateBeside(const std::string& target) {
  Discard();
  dir_ = nullptr;
  target_ = target;
  stream_.reset(vzrfs::CreateBeside(target.c_str(), name_));
  return stream_ != nullptr;
}

bool ReplacementFile::CreateBesideAt(const Folder& dir, const std::string& leaf) {
  Discard();
  dir_ = &dir;
  target_ = leaf;
  file_ = vzrfs::CreateBesideAt(dir, leaf, name_);
  return file_.Valid();
}

bool ReplacementFile::Close() {
  if (stream_) return vzrfs::Close(stream_.release());
  return vzrfs::Close(file_);
}

bool ReplacementFile::CommitDurably(bool* flushFailed) {
  if (flushFailed) *flushFailed = false;
  if (name_.empty() || dir_ || !Close()) return false;
  if (!ReplaceDurably(name_.c_str(), target_.c_str(), flushFailed)) return false;
  name_.clear();
  return true;
}

bool ReplacementFile::CommitAt(bool mayReplace) {
  if (name_.empty() || !dir_ || !Close()) return false;
  if (!RenameAt(*dir_, name_, target_, mayReplace)) return false;
  name_.clear();
  return true;
}

void ReplacementFile::Discard() {
  // A caller that discards on a failure still reads that failure's errno.
  const int saved = errno;
  stream_.reset();
  file_.Close();
  if (!name_.empty()) {
    if (dir_)
      DeleteAt(*dir_, name_);
    else
      DeleteFile(name_.c_str());
    name_.clear();
  }
  errno = saved;
}

void ReplacementFile::Release() { name_.clear(); }

}  // namespace vzrfs
