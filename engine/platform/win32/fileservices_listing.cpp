// fileservices_listing.cpp - listings on Windows: FindFirstFileExW, whose
// entries carry their attributes, size and reparse tag, so no match costs a
// second look. A reparse point (symbolic link, junction) is described as
// what it leads to, as a link is on POSIX: a walk meets its target's kind,
// and the walk's loop check (the identity of each folder on the way) keeps
// a junction to a folder above from going round.
#include <algorithm>
#include <cstring>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"
#include "wide.h"

namespace vzrfs {

using namespace win32;
using internal::ListingLess;

bool internal::Exists(const std::string& path) {
  return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES ||
         InUse(::GetLastError());
}

namespace {

// Calls take(name, data) for every name in folder ("" for the current one);
// false when the folder could not be listed (it is missing, or no folder).
template <typename Take>
bool ForEachName(const std::string& folder, Take take) {
  std::wstring pattern = SystemPath(folder.empty() ? std::string(".") : folder);
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return false;
  do take(Narrow(data.cFileName), data);
  while (::FindNextFileW(search, &data));
  ::FindClose(search);
  return true;
}

}  // namespace

std::vector<std::string> internal::NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  ForEachName(folder, [&names](std::string name, const WIN32_FIND_DATAW&) {
    if (name != "." && name != "..") names.push_back(std::move(name));
  });
  return names;
}

std::vector<FindEntry> FindMatches(const char* pattern) {
  std::vector<FindEntry> matches;
  const std::string full = WithSlashes(pattern);
  const std::size_t slash = full.rfind('/');
  const std::string folderPart = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? full : full.substr(slash + 1);
  const std::string folder = folderPart.empty() ? std::string() : ResolvePath(folderPart.c_str());

  bool sawDot = false, sawDotDot = false;
  const bool listed = ForEachName(folder, [&](std::string name, const WIN32_FIND_DATAW& data) {
    sawDot |= name == ".";
    sawDotDot |= name == "..";
    if (!WildcardMatch(namePattern.c_str(), name.c_str())) return;
    FindEntry entry;
    entry.name = std::move(name);
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = data.nFileSizeLow;
    entry.isSpecial = (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
    matches.push_back(std::move(entry));
  });
  // A folder that cannot be listed matches nothing, not even "." and "..".
  if (!listed) return matches;
  // A drive's root lists no "." or "..": a pattern that matches them gets
  // them as on POSIX.
  if (!sawDotDot && WildcardMatch(namePattern.c_str(), "..")) matches.push_back({"..", true});
  if (!sawDot && WildcardMatch(namePattern.c_str(), ".")) matches.push_back({".", true});

  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  std::sort(matches.begin(), matches.end(), [&](const FindEntry& a, const FindEntry& b) {
    if (rank(a.name) != rank(b.name)) return rank(a.name) < rank(b.name);
    return ListingLess(a.name, b.name);
  });
  // A reparse point is looked at as what it leads to, and a folder gets its
  // identity for the walk's loop check.
  const std::string prefix = folder.empty() ? std::string() : (folder.back() == '/' ? folder : folder + '/');
  for (FindEntry& entry : matches) {
    if (entry.name == "." || entry.name == "..") continue;
    NodeFacts facts;
    if (!entry.isDirectory && !IsReparse(::GetFileAttributesW(SystemPath(prefix + entry.name).c_str()))) continue;
    if (!FactsOf(prefix + entry.name, facts)) continue;  // a link that leads nowhere: as found
    entry.isDirectory = facts.kind == NodeKind::Folder;
    entry.isSpecial = facts.kind == NodeKind::Other;
    entry.size = static_cast<uint32_t>(facts.size);
    entry.device = facts.device;
    entry.inode = facts.inode;
  }
  return matches;
}

}  // namespace vzrfs
