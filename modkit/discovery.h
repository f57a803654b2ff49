// discovery.h - what is found beside a mod's Archives folder.
//
// VzrPack runs in a mod's Archives folder, so "../" is the mod root; the
// command line finds the mod root the same way (FindModRoot). The
// functions here look at the mod root through the engine's file services,
// which give the platform's listing order and find folders regardless of
// letter case.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fileservices.h"

namespace modkit {

// Which game content folder the mod root holds (m_nGameFolder's values).
enum GameFolder : int {
  kNoGameFolder = 0,
  kGameHx1920 = 1,
  kGameHxGlacier = 2,
};

// Enters "../HxGlacier", then "../Hx1920", and returns to the working
// directory. hxGlacier wins when both exist.
int ProbeGameFolder();

// The folder that holds the levels of the content folder, e.g. "hxGlacier".
// Empty for kNoGameFolder.
std::string GameFolderName(int gameFolder);

// The level folders of the detected content folder, in listing order: every
// folder whose name does not begin with '.'. Files are never levels.
std::vector<std::string> FindLevelNames(int gameFolder);

// The entry the folder list gets for one mod-root listing match, or nothing
// when the match is skipped (files, dot and underscore names, Levels, the
// Archives/Art, Mod/Movies and Music folders, and content folders other than
// the detected one, which stand for their "game" subfolder).
std::optional<std::string> FolderListEntry(const vzrfs::FindEntry& match, int gameFolder);

// Folder-list entries for every match of the mod root, in listing order.
std::vector<std::string> FindFolderEntries(int gameFolder);

// Sorted insertion as the drop-down lists do it: the position at which text
// goes among the already sorted entries, comparing without regard to ASCII
// letter case; equal names go after those already there.
std::size_t SortedInsertPosition(const std::vector<std::string>& sorted, const std::string& text);

// Case-insensitive (ASCII) "text begins with prefix".
bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix);

// Whether dir is a mod's Archives folder: its name is "Archives" in any
// letter case and its parent holds a hxGlacier or hx1920 folder (any case).
bool IsModArchivesFolder(const std::string& dir);

// What VzrPack's status line says once both lists are filled, from the
// working directory and what was found: kNotInModStatus only when neither
// list found anything; otherwise what is missing (the Archives folder, the
// levels of the content folders, folders to pack). Nothing when the start
// found all it looks for.
std::optional<std::string> DiscoveryStatus(const std::string& workingDir, int gameFolder, std::size_t levelCount,
                                           std::size_t folderCount);

// The archive folders of a mod, as search patterns to put after the mod
// root's path, in the order a whole mod is unpacked (Extract > Mod Folder,
// vzr mod unpack): Archives, then each content folder, then their levels.
inline constexpr const char* kModArchivePatterns[] = {
    "/Archives/*.vzr", "/Archives/hx1920/*.vzr", "/Archives/hxGlacier/*.vzr", "/Archives/hx1920/levels/*.vzr",
    "/Archives/hxGlacier/levels/*.vzr"};

// The archive files of the mod rooted at mod, in that order, each as mod's
// path followed by its place in the mod.
std::vector<std::string> ModArchives(const std::string& mod);

// The mod root for dir: its parent when dir is named "Archives" (any case),
// dir itself when it holds an Archives folder, nothing otherwise.
std::optional<std::string> FindModRoot(const std::string& dir);

}  // namespace modkit
