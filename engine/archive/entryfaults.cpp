#include "entryfaults.h"

#include <cerrno>
#include <cstring>

#include "format.h"

namespace vzr {

std::string UnknownStorageModeFault(uint32_t storageMode) {
  return "unknown storage mode " + std::to_string(storageMode);
}

bool StoredFormOutsideDataArea(const VzrArchive& archive, const FileEntry& e) {
  const uint64_t end = uint64_t(e.fileOffset) + e.compSize;
  return e.fileOffset < kHeaderSize || end > archive.indexOffset;
}

std::string EntryFaultReason(const VzrArchive& archive, uint32_t index) {
  if (index >= archive.FileIndex.count) return "no such entry";
  const FileEntry& e = archive.FileIndex.files[index];
  const int sysError = archive.lastError.sysError;
  if (sysError == ENOMEM) return "not enough memory";
  if (sysError != 0) return std::string("the archive cannot be opened (") + std::strerror(sysError) + ")";
  if (archive.storageMode != kStorageRaw && archive.storageMode != kStorageSegmented)
    return UnknownStorageModeFault(archive.storageMode);
  if (StoredFormOutsideDataArea(archive, e)) return kFaultOutsideDataArea;
  if (archive.storageMode == kStorageSegmented) return kFaultDamagedStream;
  if (e.compSize != e.fileSize)
    return "stored form of " + std::to_string(e.compSize) + " bytes for " + std::to_string(e.fileSize) + " bytes";
  return "stored form cut short";
}

}  // namespace vzr
