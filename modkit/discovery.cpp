// discovery.cpp - the game folder probe and the two lists' rules.
#include "discovery.h"

#include "packplan.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "fspath.h"
#include "paths.h"

namespace modkit {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The character at position i, or 0 past the end: a test on a character a
// short name does not have fails.
char At(const std::string& name, std::size_t i) { return i < name.size() ? name[i] : '\0'; }

bool Is(char c, char letter) { return Lower(c) == Lower(letter) && c != '\0'; }

// Negative, zero or positive as a sorts before, with or after b, ignoring case.
int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(Lower(a[i]));
    const auto cb = static_cast<unsigned char>(Lower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// The content folder's "game" entry for a name beginning "hx", or nothing.
std::optional<std::string> GameEntryFor(const std::string& name, int gameFolder) {
  if (gameFolder == kGameHxGlacier && Is(At(name, 2), 'g')) return std::string("hxGlacier/game");
  if (gameFolder == kGameHx1920 && At(name, 2) == '1') return std::string("hx1920/game");
  return std::nullopt;
}

// Whether dir holds a folder named one of names, in any letter case.
bool HoldsFolderNamed(const std::filesystem::path& dir, std::initializer_list<const char*> names) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_directory(typeError)) continue;
    const std::string name = vzrfs::Utf8Path(it->path().filename());
    for (const char* wanted : names)
      if (vzrfs::EqualsIgnoringCase(name, wanted)) return true;
  }
  return false;
}

// dir made absolute and without "." or ".." parts or a trailing separator,
// so that its name and its parent are the folder's own.
std::filesystem::path Normalised(const std::string& dir) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(vzrfs::FsPath(dir), ec), ec);
  if (ec) path = std::filesystem::absolute(vzrfs::FsPath(dir), ec).lexically_normal();
  if (!path.has_filename() && path.has_parent_path() && path != path.root_path()) path = path.parent_path();
  return path;
}

}  // namespace

int ProbeGameFolder() {
  const std::string saved = vzrfs::GetCurrentDir();
  int result = kNoGameFolder;
  if (vzrfs::SetCurrentDir("../HxGlacier"))
    result = kGameHxGlacier;
  else if (vzrfs::SetCurrentDir("../Hx1920"))
    result = kGameHx1920;
  vzrfs::SetCurrentDir(saved.c_str());  // a failed return is not reported
  return result;
}

std::string GameFolderName(int gameFolder) {
  switch (gameFolder) {
    case kGameHxGlacier:
      return "hxGlacier";
    case kGameHx1920:
      return "hx1920";
    default:
      return std::string();
  }
}

std::vector<std::string> FindLevelNames(int gameFolder) {
  std::vector<std::string> names;
  if (gameFolder == kNoGameFolder) return names;
  const std::string pattern = "../" + GameFolderName(gameFolder) + "/levels/*";
  // Every match is examined: the first one is not assumed to be ".".
  for (const vzrfs::FindEntry& match : vzrfs::FindMatches(pattern.c_str()))
    if (match.isDirectory && At(match.name, 0) != '.') names.push_back(match.name);
  return names;
}

std::optional<std::string> FolderListEntry(const vzrfs::FindEntry& match, int gameFolder) {
  const std::string& name = match.name;
  const char first = At(name, 0);
  const char second = At(name, 1);
  if (!match.isDirectory) return std::nullopt;
  if (first == '.' || first == 'L' || first == '_') return std::nullopt;  // "l..." goes on
  if (Is(first, 'a') && Is(second, 'r')) return std::nullopt;             // Archives, Art
  if (Is(first, 'm') && (Is(second, 'o') || Is(second, 'u'))) return std::nullopt;  // Mod, Movies, Music
  if (Is(first, 'h') && Is(second, 'x')) return GameEntryFor(name, gameFolder);
  return name;
}

std::vector<std::string> FindFolderEntries(int gameFolder) {
  std::vector<std::string> entries;
  for (const vzrfs::FindEntry& match : vzrfs::FindMatches("../*"))
    if (auto entry = FolderListEntry(match, gameFolder)) entries.push_back(std::move(*entry));
  return entries;
}

std::size_t SortedInsertPosition(const std::vector<std::string>& sorted, const std::string& text) {
  const auto at = std::upper_bound(sorted.begin(), sorted.end(), text, [](const std::string& a, const std::string& b) {
    return CompareIgnoringCase(a, b) < 0;
  });
  return static_cast<std::size_t>(at - sorted.begin());
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return vzrfs::StartsWithIgnoringCase(text, prefix);
}

bool IsModArchivesFolder(const std::string& dir) {
  const std::filesystem::path path = Normalised(dir);
  return vzrfs::EqualsIgnoringCase(vzrfs::Utf8Path(path.filename()), "Archives") &&
         HoldsFolderNamed(path.parent_path(), {"hxGlacier", "hx1920"});
}

std::optional<std::string> DiscoveryStatus(const std::string& workingDir, int gameFolder, std::size_t levelCount,
                                           std::size_t folderCount) {
  if (levelCount == 0 && folderCount == 0) return std::string(kNotInModStatus);
  if (!vzrfs::EqualsIgnoringCase(vzrfs::Utf8Path(Normalised(workingDir).filename()), "Archives"))
    return std::string(kOutsideArchivesStatus);
  if (levelCount == 0) {
    if (gameFolder == kNoGameFolder) return std::string(kNoLevelsStatus);
    return "No levels found under " + GameFolderName(gameFolder) + "/levels.";
  }
  if (folderCount == 0) return std::string(kNoFoldersStatus);
  return std::nullopt;
}

std::vector<std::string> ModArchives(const std::string& mod) {
  std::vector<std::string> archives;
  for (const char* pattern : kModArchivePatterns) {
    const std::string full = mod + pattern;
    const std::string folder = full.substr(0, full.rfind('/') + 1);
    for (const vzrfs::FindEntry& match : vzrfs::FindMatches(full.c_str()))
      if (!match.isDirectory) archives.push_back(folder + match.name);
  }
  return archives;
}

std::optional<std::string> FindModRoot(const std::string& dir) {
  const std::filesystem::path path = Normalised(dir);
  if (vzrfs::EqualsIgnoringCase(vzrfs::Utf8Path(path.filename()), "Archives")) return vzrfs::Utf8Path(path.parent_path());
  if (HoldsFolderNamed(path, {"Archives"})) return vzrfs::Utf8Path(path);
  return std::nullopt;
}

}  // namespace modkit
