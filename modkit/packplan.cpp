// packplan.cpp - names and folders of the quick-pack commands.
#include "packplan.h"

#include "discovery.h"
#include "fileservices.h"

namespace modkit {

static_assert(kMaxPackNameLength == 507, "\"name.vzr\" and its NUL must fit the packer's path buffer");

std::string LevelPackName(int gameFolder, const std::string& levelText) {
  if (gameFolder == kNoGameFolder) return levelText;
  return GameFolderName(gameFolder) + "/levels/" + levelText;
}

std::vector<std::string> FoldersToCreate(PackCommand command, int gameFolder) {
  if (gameFolder == kNoGameFolder) return {};
  const std::string content = GameFolderName(gameFolder);
  switch (command) {
    case PackCommand::kLevel:
    case PackCommand::kAllLevels:
      return {content, content + "/levels"};
    case PackCommand::kFolder:
    case PackCommand::kAllFolders:
      return {content};
  }
  return {};
}

std::optional<std::string> PackRefusal(const std::string& listText, const std::string& name) {
  if (listText.empty()) return std::string(kEmptyNameStatus);
  if (name.size() > kMaxPackNameLength) return std::string(kNameTooLongStatus);
  return std::nullopt;
}

void MakeFolders(PackCommand command, int gameFolder) {
  for (const std::string& folder : FoldersToCreate(command, gameFolder)) vzrfs::CreateFolder(folder.c_str());
}

std::optional<std::string> PackListText(PackCommand command, int gameFolder, const std::string& listText,
                                        bool makeFolders, const std::function<void(const std::string&)>& pack) {
  const bool level = command == PackCommand::kLevel || command == PackCommand::kAllLevels;
  const std::string name = level ? LevelPackName(gameFolder, listText) : listText;
  if (auto refusal = PackRefusal(listText, name)) return refusal;  // before any folder is made
  if (makeFolders) MakeFolders(command, gameFolder);
  pack(name);
  return std::nullopt;
}

}  // namespace modkit
