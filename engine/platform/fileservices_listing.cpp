// fileservices_listing.cpp - directory listings in one order on every
// machine, wildcard matches, and paths resolved without regard to case.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "fileservices.h"
#include "paths.h"

namespace vzrfs {
namespace {

// Listing order: names compared with a-z folded to upper case, then by bytes.
bool ListingLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(FoldUpper(a[i]));
    const auto cb = static_cast<unsigned char>(FoldUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The names in a folder (without "." and ".."), sorted in listing order.
std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(), ListingLess);
  return names;
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == '?' || FoldUpper(*pattern) == FoldUpper(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

std::string ResolvePath(const char* path) {
  std::string whole = WithSlashes(path);
  if (whole.empty() || Exists(whole)) return whole;

  std::string resolved;
  std::size_t pos = 0;
  if (whole[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= whole.size()) {
    std::size_t slash = whole.find('/', pos);
    if (slash == std::string::npos) slash = whole.size();
    const std::string component = whole.substr(pos, slash - pos);
    const bool last = slash >= whole.size();
    std::string candidate = resolved + component;
    if (!component.empty() && component != "." && component != ".." && !Exists(candidate)) {
      std::string match;
      for (const std::string& name : SortedNames(resolved)) {
        if (EqualsIgnoringCase(name, component)) {
          match = name;
          break;
        }
      }
      if (match.empty()) return resolved + whole.substr(pos);  // the rest stays as written
      candidate = resolved + match;
    }
    resolved = candidate;
    if (last) break;
    resolved += '/';
    pos = slash + 1;
  }
  return resolved;
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

DirectorySearch::DirectorySearch(const char* pattern) : matches_(FindMatches(pattern)) {}

const FindEntry* DirectorySearch::Next() {
  if (next_ >= matches_.size()) return nullptr;
  return &matches_[next_++];
}

}  // namespace vzrfs
