// verb_mod.cpp - "vzr mod list|pack|unpack": a mod's levels and folders, found
// and packed by the same discovery and plan as VzrPack, and unpacked as the
// Toolset's Extract > Mod Folder does it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "compression.h"
#include "discovery.h"
#include "fileservices.h"
#include "fspath.h"
#include "packplan.h"
#include "paths.h"
#include "progress.h"
#include "vzrpack.h"

namespace fs = std::filesystem;
using modkit::PackCommand;

namespace {

// VzrPack asks the packer for compression; the packer decides per folder.
constexpr int kCompressRequest = 1;

// The mod's Archives folder (any letter case) below root, or nothing.
std::optional<std::string> ArchivesFolder(const std::string& root) {
  std::error_code ec;
  for (fs::directory_iterator it(vzrfs::FsPath(root), ec), end; !ec && it != end; it.increment(ec))
    if (vzrfs::EqualsIgnoringCase(vzrfs::Utf8Path(it->path().filename()), "Archives") && it->is_directory(ec))
      return vzrfs::Utf8Path(it->path());
  return std::nullopt;
}

// Makes dir the current folder for its lifetime (the packer
// and the discovery work relative to it) and restores the one before.
class InFolder {
 public:
  explicit InFolder(const std::string& dir) {
    previous_ = vzrfs::GetCurrentDir();
    entered_ = !previous_.empty() && vzrfs::SetCurrentDir(dir.c_str());
  }
  ~InFolder() {
    if (entered_ && !vzrfs::SetCurrentDir(previous_.c_str())) cli::Message("could not return to " + previous_);
  }
  bool entered() const { return entered_; }

 private:
  std::string previous_;
  bool entered_ = false;
};

// The mod root named by MODDIR, or the one holding the current folder.
std::optional<std::string> ModRoot(const std::string& given) {
  std::error_code ec;
  const std::string dir = given.empty() ? vzrfs::Utf8Path(fs::current_path(ec)) : given;
  if (ec) {
    cli::Message("the current folder: " + ec.message());
    return std::nullopt;
  }
  if (!fs::is_directory(vzrfs::FsPath(dir), ec)) {
    cli::FileMessage(dir, ec ? ec.message() : "not a folder");
    return std::nullopt;
  }
  auto root = modkit::FindModRoot(dir);
  if (!root) cli::FileMessage(dir, "not in a mod (no Archives folder)");
  return root;
}

// What VzrPack's two lists would show, each sorted as its drop-down sorts.
struct ModLists {
  int gameFolder = modkit::kNoGameFolder;
  std::vector<std::string> levels, folders;
};

ModLists Discover() {
  ModLists lists;
  lists.gameFolder = modkit::ProbeGameFolder();
  auto insert = [](std::vector<std::string>& sorted, const std::string& text) {
    sorted.insert(sorted.begin() + modkit::SortedInsertPosition(sorted, text), text);
  };
  if (lists.gameFolder != modkit::kNoGameFolder)
    for (const std::string& name : modkit::FindLevelNames(lists.gameFolder)) insert(lists.levels, name);
  for (const std::string& entry : modkit::FindFolderEntries(lists.gameFolder)) insert(lists.folders, entry);
  return lists;
}

// Opens the mod's Archives folder for a verb; false (message printed) when
// there is none or it cannot be entered.
bool Enter(const std::string& given, std::optional<InFolder>& inside) {
  const auto root = ModRoot(given);
  if (!root) return false;
  const auto archives = ArchivesFolder(*root);
  if (!archives) {
    cli::FileMessage(*root, "no Archives folder");
    return false;
  }
  inside.emplace(*archives);
  if (!inside->entered()) {
    cli::FileMessage(*archives, vzrfs::ErrorText(errno));
    return false;
  }
  return true;
}

int RunModList(const cli::Args& args) {
  if (args.positionals.size() > 1) return cli::Usage("mod list", "at most one mod folder is taken");
  std::optional<InFolder> inside;
  if (!Enter(args.positionals.empty() ? "" : args.positionals[0], inside)) return cli::kNothing;
  const ModLists lists = Discover();
  for (const std::string& l : lists.levels) std::printf("level\t%s\n", cli::Shown(l).c_str());
  for (const std::string& f : lists.folders) std::printf("folder\t%s\n", cli::Shown(f).c_str());
  cli::FlushOutput();
  return cli::kDone;
}

// Packs one list text as the command's button does; false when refused or
// the packer's status is no success (the reason is printed).
// With compression requested, the packer compresses at its level, and still
// forces sound and music raw as VzrPack's packs do.
bool PackOne(PackCommand command, int gameFolder, const std::string& text, bool makeFolders, bool quiet,
             const cli::Compression& compression) {
  std::string status;
  cli::Progress progress(1, quiet);
  std::optional<std::string> refusal;
  {
    cli::StatusCapture capture(status);
    refusal =
        modkit::PackListText(command, gameFolder, text, makeFolders, [&compression](const std::string& name) {
          if (compression.requested)
            PackModFolderCompressed(name.c_str(), compression.level, compression.threads);
          else
            PackModFolder(name.c_str(), kCompressRequest);
        });
  }
  progress.Clear();
  if (refusal) {
    cli::FileMessage(text, *refusal);
    return false;
  }
  const bool noticed = cli::TellPackNotices();
  if (status.rfind("Files packed: ", 0) != 0) {
    cli::FileMessage(text, status.empty() ? "could not be packed" : status);
    return false;
  }
  std::printf("%s: %s\n", cli::Shown(text).c_str(), cli::Shown(status).c_str());
  return !noticed;
}

// The list entry a NAME stands for: its exact text first, then any letter case.
const std::string* Find(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& e : list)
    if (e == name) return &e;
  for (const std::string& e : list)
    if (vzrfs::EqualsIgnoringCase(e, name)) return &e;
  return nullptr;
}

int RunModPack(const cli::Args& args) {
  const bool all = args.Has("all");
  std::vector<std::string> names = args.positionals;
  std::string given;
  // With --all the one positional is MODDIR; otherwise MODDIR is the first
  // positional only when it is a folder that is a mod.
  if (all) {
    if (names.size() > 1) return cli::Usage("mod pack", "--all takes no names");
    if (!names.empty()) given = names[0];
    names.clear();
  } else if (names.size() > 1) {
    std::error_code ec;
    if (fs::is_directory(vzrfs::FsPath(names[0]), ec) && modkit::FindModRoot(names[0])) {
      given = names[0];
      names.erase(names.begin());
    }
  }
  if (!all && names.empty()) return cli::Usage("mod pack", "--all or at least one level or folder name is needed");
  cli::Compression compression;
  if (cli::ReadCompression(args, "mod pack", "compress", compression) != cli::kDone) return cli::kNothing;
  std::optional<InFolder> inside;
  if (!Enter(given, inside)) return cli::kNothing;
  const ModLists lists = Discover();
  int rc = cli::kDone;
  if (all) {
    if (!lists.levels.empty()) modkit::MakeFolders(PackCommand::kAllLevels, lists.gameFolder);
    for (const std::string& l : lists.levels)
      if (!PackOne(PackCommand::kAllLevels, lists.gameFolder, l, false, args.quiet, compression)) rc = cli::kProblems;
    if (!lists.folders.empty()) modkit::MakeFolders(PackCommand::kAllFolders, lists.gameFolder);
    for (const std::string& f : lists.folders)
      if (!PackOne(PackCommand::kAllFolders, lists.gameFolder, f, false, args.quiet, compression)) rc = cli::kProblems;
    return rc;
  }
  for (const std::string& name : names) {
    bool done = false;
    if (const std::string* level = Find(lists.levels, name))
      done = PackOne(PackCommand::kLevel, lists.gameFolder, *level, true, args.quiet, compression);
    else if (const std::string* folder = Find(lists.folders, name))
      done = PackOne(PackCommand::kFolder, lists.gameFolder, *folder, true, args.quiet, compression);
    else
      cli::FileMessage(name, "no level or folder of the mod has this name");
    if (!done) rc = cli::kProblems;
  }
  return rc;
}

// path made absolute, without a trailing separator.
std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(vzrfs::FsPath(path), ec).lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return vzrfs::Utf8Path(p);
}

// True (the entry named on standard error) when entry i would be written
// over one of the mod's archives: unpacked into the mod itself, an entry
// must not replace an archive not yet read, or one the user keeps.
bool OverwritesAModArchive(const VzrArchive& archive, uint32_t i, const std::string& shownPath,
                           const std::string& dest, const std::vector<std::string>& archives) {
  const std::string relative = ExtractionPath(archive.FileIndex.files[i].name);
  if (relative.empty()) return false;  // refused by extraction, which names it
  const std::string target = dest + "/" + relative;
  std::error_code ec;
  for (const std::string& other : archives)
    if (fs::equivalent(vzrfs::FsPath(target), vzrfs::FsPath(other), ec)) {
      cli::FileMessage(shownPath, relative + ": not written over the mod's archive " + other);
      return true;
    }
  return false;
}

int RunModUnpack(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("mod unpack", "a mod folder and a destination are needed");
  std::error_code ec;
  const std::string mod = Absolute(args.positionals[0]);
  const std::string dest = Absolute(args.positionals[1]);
  if (!fs::is_directory(vzrfs::FsPath(mod), ec)) {
    cli::FileMessage(mod, ec ? ec.message() : "not a folder");
    return cli::kNothing;
  }
  // A destination that is not there yet is made, as unzip -d does.
  if (!fs::is_directory(vzrfs::FsPath(dest), ec) && !fs::create_directories(vzrfs::FsPath(dest), ec)) {
    cli::FileMessage(dest, ec ? ec.message() : "not a folder");
    return cli::kNothing;
  }
  // The folders the Toolset's Extract > Mod Folder unpacks, in its order,
  // each archive whole; an entry that cannot be written is named and
  // skipped, and the rest of the mod is still unpacked.
  const std::vector<std::string> archives = modkit::ModArchives(mod);
  int rc = cli::kDone;
  for (const std::string& path : archives) {
    VzrArchive archive;
    const int loaded = cli::LoadArchive(path, archive);
    if (loaded == cli::kNothing) {
      rc = cli::kProblems;
      continue;
    }
    std::vector<uint32_t> kept;
    for (uint32_t i = 0; i < archive.FileIndex.count; ++i)
      if (!OverwritesAModArchive(archive, i, path, dest, archives)) kept.push_back(i);
    const int extracted = cli::ExtractEntries(archive, path, kept, dest, false, args.quiet);
    if (loaded != cli::kDone || extracted != cli::kDone || kept.size() != archive.FileIndex.count) rc = cli::kProblems;
  }
  return rc;
}

int RunMod(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("mod", "list, pack or unpack is needed");
  cli::Args rest = args;
  rest.positionals.erase(rest.positionals.begin());
  const std::string& sub = args.positionals[0];
  if (sub == "list") return RunModList(rest);
  if (sub == "pack") return RunModPack(rest);
  if (sub == "unpack") return RunModUnpack(rest);
  return cli::Usage("mod", "unknown mod command '" + sub + "'");
}

const cli::Register modVerb({"mod", "a mod's levels and folders: list, pack, unpack",
                             "usage: vzr mod list [MODDIR]\n"
                             "       vzr mod pack [--compress[=LEVEL]] [--threads N] [MODDIR] (--all | NAME...)\n"
                             "       vzr mod unpack MODDIR DEST\n"
                             "MODDIR defaults to the mod that holds the current folder (the parent of an\n"
                             "Archives folder, or the current folder when it has one).\n"
                             "  list    the levels and folders VzrPack would offer: \"level<TAB>name\" and\n"
                             "          \"folder<TAB>name\" lines, each list in VzrPack's order\n"
                             "  pack    packs each named level or folder into MODDIR/Archives as VzrPack's\n"
                             "          buttons do; --all packs every level, then every folder\n"
                             "  --compress[=LEVEL]\n"
                             "               (pack) segmented archives compressed at LEVEL (0..9, without\n"
                             "               a value 6); sound and music are still packed raw\n"
                             VZR_HELP_LEVELS VZR_HELP_THREADS
                             "  unpack  every archive of the mod into DEST (made when missing), as the\n"
                             "          Toolset's Extract > Mod Folder does; an entry that cannot be\n"
                             "          written is named and skipped, and the rest is still unpacked\n",
                             {{"all", false}, {"compress", true, true}, {"threads", true}},
                             RunMod});

}  // namespace
