// replacementfile.cpp - the new file beside its target, committed over it or
// removed.
#include "replacementfile_internal.h"

#include <unistd.h>

#include <cerrno>

namespace vzrfs {

bool ReplacementFile::CreateBeside(const std::string& target) {
  Discard();
  dirFd_ = -1;
  target_ = target;
  stream_.reset(vzrfs::CreateBeside(target.c_str(), name_));
  return stream_ != nullptr;
}

bool ReplacementFile::CreateBesideAt(int dirFd, const std::string& leaf) {
  Discard();
  dirFd_ = dirFd;
  target_ = leaf;
  fd_ = vzrfs::CreateBesideAt(dirFd, leaf, name_);
  return fd_ >= 0;
}

bool ReplacementFile::Close() {
  if (stream_) return vzrfs::Close(stream_.release());
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  return CloseFd(fd);
}

bool ReplacementFile::CommitDurably(bool* flushFailed) {
  if (flushFailed) *flushFailed = false;
  if (name_.empty() || dirFd_ >= 0 || !Close()) return false;
  if (!ReplaceDurably(name_.c_str(), target_.c_str(), flushFailed)) return false;
  name_.clear();
  return true;
}

bool ReplacementFile::CommitAt(bool mayReplace) {
  if (name_.empty() || dirFd_ < 0 || !Close()) return false;
  if (!RenameAt(dirFd_, name_, target_, mayReplace)) return false;
  name_.clear();
  return true;
}

void ReplacementFile::Discard() {
  // A caller that discards on a failure still reads that failure's errno.
  const int saved = errno;
  stream_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!name_.empty()) {
    if (dirFd_ >= 0)
      DeleteAt(dirFd_, name_);
    else
      DeleteFile(name_.c_str());
    name_.clear();
  }
  errno = saved;
}

void ReplacementFile::Release() { name_.clear(); }

}  // namespace vzrfs
