// fileservices_listing.cpp - the one listing order of every machine,
// wildcard matches, and paths resolved without regard to case, on the
// system's listing (internal::Exists, internal::NamesIn).
#include <algorithm>
#include <cstring>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"

namespace vzrfs {

bool internal::ListingLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(FoldUpper(a[i]));
    const auto cb = static_cast<unsigned char>(FoldUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

namespace {

// The names in a folder (without "." and ".."), sorted in listing order.
std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names = internal::NamesIn(folder);
  std::sort(names.begin(), names.end(), internal::ListingLess);
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
  if (whole.empty() || internal::Exists(whole)) return whole;

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
    if (!component.empty() && component != "." && component != ".." && !internal::Exists(candidate)) {
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

DirectorySearch::DirectorySearch(const char* pattern) : matches_(FindMatches(pattern)) {}

const FindEntry* DirectorySearch::Next() {
  if (next_ >= matches_.size()) return nullptr;
  return &matches_[next_++];
}

}  // namespace vzrfs
