// pathcheck.cpp - the checks the pack dialog makes on its paths before a
// pack: characters a path must not hold, and an archive that would land
// inside the folder being packed.
#include <string>

#include "errors_internal.h"
#include "format.h"
#include "paths.h"
#include "trace.h"
#include "ops.h"

namespace {

constexpr std::size_t kMaxChecked = vzr::kPathBufferSize;

void ToSlashes(char* text) { vzrfs::ToSlashes(text, kMaxChecked); }

std::string LowerCopy(const char* text) {
  std::string copy(text, strnlen(text, kMaxChecked));
  MakeLowerCase(copy.data());
  return copy;
}

// The archive is inside the source when its path is the source's path or
// continues it with a separator: ".../objects/x.vzr" is inside, while
// ".../objects.vzr" beside the folder is not. Both texts are folded already.
bool InsideSource(std::string source, const std::string& archive) {
  if (source.empty()) return true;  // nothing to compare with: refuse
  while (!source.empty() && source.back() == '/') source.pop_back();
  if (archive.compare(0, source.size(), source) != 0) return false;
  return archive.size() == source.size() || archive[source.size()] == '/';
}

void TracePaths(const char* strDirSource, const char* strVzrName) {
  TraceLog("strDirSource: ", strDirSource, " strVzrName: ", strVzrName);
}

}  // namespace

void MakeLowerCase(char* text) {
  for (std::size_t i = 0; i < kMaxChecked && text[i]; ++i)
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 0x20);
}

int HasIllegalChars(const char* text, int allowDrive) {
  for (std::size_t i = 0; i < kMaxChecked; ++i) {
    const auto c = static_cast<signed char>(text[i]);
    if (c == 0) return 0;
    if (c < 0x20 || c > 0x7A) return 1;
    if (allowDrive == 1 && i == 1 && c == ':') continue;
    if (c == '"' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?') return 1;
  }
  return 0;
}

int CheckPackPaths(char* strDirSource, char* strVzrName) {
  VzrError& error = LastEngineError();
  error.clear();
  // File systems here respect letter case: the source keeps its own case so
  // that it still names the folder the user chose; only copies are folded.
  ToSlashes(strDirSource);
  ToSlashes(strVzrName);
  if (InsideSource(LowerCopy(strDirSource), LowerCopy(strVzrName))) {
    vzrops::TraceFailure(error, 2, "", 0, "ERROR! save inside source dir");
    TracePaths(strDirSource, strVzrName);
    return 2;
  }
  if (HasIllegalChars(strDirSource, 1) == 1) {
    vzrops::TraceFailure(error, 3, "", 0, "ERROR! Illegal Characters (strDirSource)");
    TracePaths(strDirSource, strVzrName);
    return 3;
  }
  if (HasIllegalChars(strVzrName, 1) == 1) {
    vzrops::TraceFailure(error, 3, "", 0, "ERROR! Illegal Characters (strVzrName)");
    TracePaths(strDirSource, strVzrName);
    return 3;
  }
  return 0;
}
