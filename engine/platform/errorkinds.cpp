// errorkinds.cpp - the kinds of failure callers act on, sorted from errno
// numbers (a Windows build has mapped the system's codes onto them).
#include <cerrno>

#include "fileservices.h"

namespace vzrfs {

ErrorKind KindOfError(int error) {
  if (error == 0) return ErrorKind::None;
  if (error == kErrorChangedOnDisk) return ErrorKind::ChangedOnDisk;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ErrorKind::NotFound;
    case EEXIST:
      return ErrorKind::Exists;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      return ErrorKind::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorKind::ReadOnly;
    case ENOSPC:
      return ErrorKind::NoSpace;
    case ENAMETOOLONG:
      return ErrorKind::NameTooLong;
    case EISDIR:
      return ErrorKind::IsFolder;
    default:
      return ErrorKind::Other;
  }
}

}  // namespace vzrfs
