// fileservices_listing.cpp - listings on POSIX: readdir, with the facts of
// each match looked up relative to the open folder.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"

namespace vzrfs {

using internal::ListingLess;

bool internal::Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> internal::NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

std::vector<FindEntry> FindMatches(const char* pattern) {
  std::vector<FindEntry> matches;
  const std::string full = WithSlashes(pattern);
  const std::size_t slash = full.rfind('/');
  const std::string folderPart = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? full : full.substr(slash + 1);
  const std::string folder = folderPart.empty() ? std::string() : ResolvePath(folderPart.c_str());

  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return matches;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (WildcardMatch(namePattern.c_str(), entry->d_name)) names.emplace_back(entry->d_name);

  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return ListingLess(a, b);
  });

  // Each match is examined relative to the open folder: the kernel then
  // looks up one name instead of walking the whole path again.
  const int folderFd = ::dirfd(dir);
  matches.reserve(names.size());
  for (std::string& name : names) {
    struct stat st {};
    FindEntry entry;
    if (::fstatat(folderFd, name.c_str(), &st, 0) == 0) {
      entry.isDirectory = S_ISDIR(st.st_mode);
      entry.isSpecial = !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode);
      entry.size = static_cast<uint32_t>(st.st_size);
      entry.device = static_cast<uint64_t>(st.st_dev);
      entry.inode = static_cast<uint64_t>(st.st_ino);
    }
    entry.name = std::move(name);
    matches.push_back(std::move(entry));
  }
  ::closedir(dir);
  return matches;
}

}  // namespace vzrfs
