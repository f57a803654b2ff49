// entryfaults.h - why an entry cannot be read, in a user's words. The
// command line's check and the windows' messages give the same reasons.
#pragma once

#include <cstdint>
#include <string>

#include "archive.h"

namespace vzr {

inline constexpr const char* kFaultDamagedStream = "damaged stream";
inline constexpr const char* kFaultOutsideDataArea = "stored form outside the data area";

// "unknown storage mode N": an archive whose entries no reader can decode.
std::string UnknownStorageModeFault(uint32_t storageMode);

// True when entry e's stored form does not lie between the header's end and
// the index, where every writer of the format puts it.
bool StoredFormOutsideDataArea(const VzrArchive& archive, const FileEntry& e);

// Why Extract of entry index failed, in a user's words: "stored form outside
// the data area", "unknown storage mode N", "damaged stream", a stored form
// cut short or of the wrong size, the archive that cannot be opened, too
// little memory. Reads archive.lastError and the index, nothing on disk.
std::string EntryFaultReason(const VzrArchive& archive, uint32_t index);

}  // namespace vzr
