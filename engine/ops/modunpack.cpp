// modunpack.cpp - extracting every archive of a mod folder into one folder.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "paths.h"
#include "trace.h"
#include "ops.h"

namespace {

// Turns the pattern's backslashes into '/' in place and returns its folder
// part: everything before the first '*' (the whole text when there is none).
std::string FolderPartOf(char* pattern) {
  const std::size_t folderLength = std::min<std::size_t>(std::strcspn(pattern, "*"), vzr::kPathBufferSize);
  vzrfs::ToSlashes(pattern, folderLength);
  return std::string(pattern, folderLength);
}

// Loads and extracts every matching archive; the first nonzero ExtractAll
// result ends the walk.
int ExtractMatches(const char* pattern, const std::string& folder, VzrArchive& archive, const char* destination) {
  // Extraction changes the current directory: relative paths are fixed
  // against the one the caller had.
  const std::string archiveFolder = vzrops::AbsolutePath(folder.c_str());
  const std::string destinationDir = destination ? vzrops::AbsolutePath(destination) : std::string();
  vzrfs::DirectorySearch search(pattern);
  while (const vzrfs::FindEntry* match = search.Next()) {
    if (match->isDirectory) continue;
    const std::string tmpPath = archiveFolder + match->name;
    if (tmpPath.size() >= vzr::kPathBufferSize) {
      vzrops::TraceFailure(LastEngineError(), 3, "", ENAMETOOLONG, "ERROR! unpackVzrFiles() path too long: ", tmpPath);
      return 3;
    }
    archive.LoadIndex(tmpPath.c_str());
    const int result = archive.ExtractAll(destination ? destinationDir.c_str() : nullptr);
    if (result != 0) {
      LastEngineError() = archive.lastError;  // the failing archive's reason
      return result;
    }
  }
  return 0;
}

}  // namespace

int unpackVzrFiles(char* pattern, VzrArchive* archive, const char* destination) {
  std::unique_ptr<VzrArchive> own;
  if (!archive) {
    own = std::make_unique<VzrArchive>();
    archive = own.get();
  }
  CodePosition = 1791;
  LastEngineError().clear();
  int result = 0;
  const std::string tmpPath = FolderPartOf(pattern);
  TraceLog("*** unpackVzrFiles() tmpPath: ", tmpPath);
  TraceLog("         ", pattern);
  try {
    result = ExtractMatches(pattern, tmpPath, *archive, destination);
  } catch (...) {
    result = 2;
    vzrops::TraceFailure(LastEngineError(), 2, "", 0, "ERROR! unpackVzrFiles() catch()");
  }
  own.reset();
  TraceLog("END unpackVzrFiles()", pattern);
  return result;
}
