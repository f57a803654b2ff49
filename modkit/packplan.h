// packplan.h - what each quick-pack command hands to the packer.
//
// A command turns a list text into a name relative to the mod root, makes
// sure the folder that receives the archive exists below Archives, and packs
// "../name" into "name.vzr". These functions hold those rules apart from the
// window so they can be read and tested on their own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace modkit {

enum class PackCommand { kLevel, kFolder, kAllLevels, kAllFolders };

// The packer builds "../name" and "name.vzr" in 512-character buffers, so a
// name of more than 507 characters cannot be packed.
inline constexpr std::size_t kPathBufferSize = 512;
inline constexpr std::size_t kMaxPackNameLength = kPathBufferSize - 1 - sizeof(".vzr") + 1;

// The name packed for a level text: below "<content folder>/levels/" when a
// content folder was found, the text alone otherwise.
std::string LevelPackName(int gameFolder, const std::string& levelText);

// Folders created below the working directory before a command packs, in the
// order they are created. For the "All" commands they are created once, and
// only when the list has entries.
std::vector<std::string> FoldersToCreate(PackCommand command, int gameFolder);

// Why a name must not be packed, as a status text; nothing when it may be.
// An empty list text would pack the whole mod root (or levels folder) into
// ".vzr"; a name too long for the packer's paths would be cut short.
std::optional<std::string> PackRefusal(const std::string& listText, const std::string& name);

// What one command does for one list text, as VzrPack's buttons do it: the
// refusal when the text may not be packed (nothing is then made), otherwise
// the command's folders made below the working directory (when makeFolders;
// the "All" commands make them once before their first entry) and pack
// called with the name to pack.
std::optional<std::string> PackListText(PackCommand command, int gameFolder, const std::string& listText,
                                        bool makeFolders, const std::function<void(const std::string&)>& pack);

// Makes the command's folders below the working directory. An existing folder
// is fine; one that cannot be made shows up as the packer's own failure.
void MakeFolders(PackCommand command, int gameFolder);

// Status texts of the refusals, and of a start outside a mod.
inline constexpr const char* kEmptyNameStatus = "Nothing to pack: choose or type a name first.";
inline constexpr const char* kNameTooLongStatus = "Name too long to pack (at most 507 characters).";
inline constexpr const char* kNotInModStatus = "No mod folders found: start VzrPack in your mod's Archives folder.";
inline constexpr const char* kOutsideArchivesStatus = "Not the mod's Archives folder: start VzrPack in Archives.";
inline constexpr const char* kNoLevelsStatus = "No levels found under hxGlacier/levels or hx1920/levels.";
inline constexpr const char* kNoFoldersStatus = "No folders to pack found beside Archives.";

}  // namespace modkit
