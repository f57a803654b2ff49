// ops_internal.h - helpers shared by the extraction, packing, replacement and
// mod-folder unpacking sources; not part of the engine's public header.
#pragma once

#include <string>

#include "fileservices.h"

class VzrArchive;

namespace vzrops {

// path made absolute against the current directory (slashes only), so it
// keeps naming the same place after extraction changes the current directory.
inline std::string AbsolutePath(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  if (p.empty() || p[0] == '/') return p;
  std::string cwd = vzrfs::GetCurrentDir();
  if (cwd.empty()) return p;
  if (cwd.back() != '/') cwd += '/';
  return cwd + p;
}

}  // namespace vzrops

// Directory walk of the packer (they reach the pack through CurrentPackArchive).
void WalkDirectory(const char* dir);
void AddFilesInDir(const char* pattern);
