// verb_write.cpp - "vzr pack", "vzr update", "vzr remove" and "vzr add": the
// verbs that write archives. Every rewrite of an existing archive goes
// through the engine's one rewrite (a new copy moved over the archive only
// when whole), so a refused or failed command leaves the archive as it was.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.h"
#include "compression.h"
#include "fileservices.h"
#include "fspath.h"
#include "hardlinks.h"
#include "paths.h"
#include "pattern.h"
#include "progress.h"
#include "vzrpack.h"

namespace fs = std::filesystem;

namespace {

// A writable, zero-terminated copy for the engine's in-place path routines,
// never smaller than the 512 bytes they are written for (as the Toolset's
// Pack Directory prepares them).
std::vector<char> PathBuffer(const std::string& text) {
  std::vector<char> buffer(std::max<std::size_t>(512, text.size() + 2), '\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}

// Why a --base cannot start entry names, or "": names that climb out of the
// destination, start at the root or on a drive are what `vzr test` flags as
// unsafe, and extraction refuses them.
std::string BaseProblem(const std::string& base) {
  if (!base.empty() && (base[0] == '/' || base[0] == '\\')) return "starts with a separator";
  if (base.size() >= 2 && std::isalpha(static_cast<unsigned char>(base[0])) && base[1] == ':')
    return "starts with a drive";
  std::size_t start = 0;
  while (start <= base.size()) {
    const std::size_t end = std::min(base.find_first_of("/\\", start), base.size());
    if (base.compare(start, end - start, "..") == 0) return "holds a '..' component";
    start = end + 1;
  }
  return "";
}

// The characters of text that a path must not hold, each once, or "".
std::string IllegalCharactersOf(const std::string& text, int allowDrive) {
  std::string found;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char one[2] = {text[i], '\0'};
    const bool driveColon = allowDrive == 1 && i == 1 && text[i] == ':';
    if (!driveColon && HasIllegalChars(one, 0) == 1 && found.find(text[i]) == std::string::npos) found += text[i];
  }
  return found;
}

// False (the refusal printed) when --base is unsafe or holds characters a
// path must not hold.
bool AcceptBase(const std::string& verb, const std::string& base) {
  std::string problem = BaseProblem(base);
  if (problem.empty()) {
    const std::string illegal = IllegalCharactersOf(base, 0);
    if (!illegal.empty()) problem = "holds characters a name must not hold: " + illegal;
  }
  if (problem.empty()) return true;
  cli::Message(verb + ": base path '" + base + "' " + problem);
  return false;
}

// The base path as index names carry it: '/'-separated, no leading or
// trailing separator.
std::string CleanBase(std::string base) {
  vzrfs::ToSlashes(base);
  while (!base.empty() && base.front() == '/') base.erase(base.begin());
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

// Bytes of the regular files below dir (links to folders not followed), for
// the bar's byte count and rate; 0 when it cannot be listed.
uint64_t TreeBytes(const std::string& dir) {
  uint64_t bytes = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) bytes += it->file_size(ec);
  return bytes;
}

// Shows the packer's "NN %" status texts as the progress bar, the bytes
// estimated as that share of the tree's bytes.
class PercentWindow : public StatusWindow {
 public:
  PercentWindow(const std::string& text, cli::Progress& progress, uint64_t total)
      : text_(text), progress_(progress), total_(total) {}
  void PushFieldsToControls() override {
    if (text_.size() > 2 && text_.compare(text_.size() - 2, 2, " %") == 0)
      progress_.Update((total_ * std::min<uint64_t>(std::strtoull(text_.c_str(), nullptr, 10), 100) + 99) / 100);
  }
  void RepaintNow() override {}

 private:
  const std::string& text_;
  cli::Progress& progress_;
  const uint64_t total_;
};

int RunPack(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("pack", "a folder and an archive are needed");
  cli::Compression compression;
  if (cli::ReadCompression(args, "pack", "compress", compression) != cli::kDone) return cli::kNothing;
  // The engine takes a source shorter than two characters for the current
  // folder: a one-letter folder name is passed as "./x".
  const std::string& given = args.positionals[0];
  const std::string dir = given.size() == 1 && given != "." && given != "/" ? "./" + given : given;
  const std::string& archivePath = args.positionals[1];
  if (archivePath.empty()) return cli::Usage("pack", "the archive's name is empty");
  if (!AcceptBase("pack", args.Value("base"))) return cli::kNothing;
  if (!cli::RequireFolder(dir)) return cli::kNothing;
  std::vector<char> source = PathBuffer(dir);
  std::vector<char> base = PathBuffer(CleanBase(args.Value("base")));
  std::vector<char> archive = PathBuffer(archivePath);
  for (const std::string* path : {&dir, &archivePath})
    if (const std::string illegal = IllegalCharactersOf(*path, 1); !illegal.empty()) {
      cli::FileMessage(*path, "holds characters a path here must not hold: " + illegal);
      return cli::kNothing;
    }
  if (CheckPackPaths(source.data(), archive.data()) == 2) {
    cli::FileMessage(archivePath, "cannot be written inside the folder being packed");
    return cli::kNothing;
  }
  std::string status;
  const uint64_t total = args.quiet ? 1 : std::max<uint64_t>(TreeBytes(dir), 1);
  cli::Progress progress(total, args.quiet);
  PercentWindow window(status, progress, total);
  const cli::OtherNames otherNames(archivePath);
  {
    cli::StatusCapture capture(status, &window);
    char* basePath = base[0] != '\0' ? base.data() : nullptr;
    if (compression.requested)
      PackDirectoryCompressed(source.data(), basePath, archive.data(), compression.level, compression.threads);
    else
      PackDirectory(source.data(), basePath, archive.data(), 1);
  }
  progress.Clear();
  const bool noticed = cli::TellPackNotices();
  // The result counts the entries, or is 1 on failure: the status says which.
  if (status.rfind("Files packed: ", 0) != 0) {
    // The engine's record adds the system's words for the cause to the status.
    const std::string said = status.empty() ? "could not be packed" : status;
    cli::FileMessage(archivePath, LastEngineError().failed() ? cli::Reason(LastEngineError(), said.c_str()) : said);
    return cli::kNothing;
  }
  otherNames.Tell();
  return noticed ? cli::kProblems : cli::kDone;
}

// Locks and loads the archive a verb rewrites; a damaged index is never
// rewritten. The lock is held from this read to the rename, so a second
// writer of the same archive waits, then reads what this one wrote.
int LoadForRewrite(const std::string& path, VzrArchive& archive, vzrfs::ArchiveLock& lock) {
  const int locked = lock.Acquire(path.c_str());
  if (locked == EWOULDBLOCK) {
    cli::FileMessage(path, "another program is writing it; nothing was changed, try again");
    return cli::kNothing;
  }
  if (vzrfs::KindOfError(locked) == vzrfs::ErrorKind::Busy) {
    cli::FileMessage(path, "in use by another program; nothing was changed, try again");
    return cli::kNothing;
  }
  const int rc = cli::LoadArchive(path, archive);
  if (rc == cli::kProblems) cli::FileMessage(path, "not rewritten: its index is damaged");
  return rc == cli::kDone ? cli::kDone : cli::kNothing;
}

// Refuses (with a message) a file that is the archive itself, under
// whatever name or link: the copy would hold the archive as it was.
bool IsTheArchive(const std::string& file, const std::string& archive) {
  std::error_code ec;
  if (!fs::equivalent(vzrfs::FsPath(file), vzrfs::FsPath(archive), ec)) return false;
  cli::FileMessage(file, "file is the archive");
  return true;
}

// The level and threads new entries of a segmented archive are compressed
// with; a raw archive ignores them and stays raw.
int SetEntryCompression(const cli::Args& args, const std::string& verb, VzrArchive& archive) {
  cli::Compression compression;
  if (cli::ReadCompression(args, verb, "level", compression) != cli::kDone) return cli::kNothing;
  archive.compressionLevel = compression.level;
  archive.compressionThreads = compression.threads;
  return cli::kDone;
}

int RunUpdate(const cli::Args& args) {
  if (args.positionals.size() != 3) return cli::Usage("update", "an archive, an entry name and a file are needed");
  const std::string& path = args.positionals[0];
  const std::string& name = args.positionals[1];
  const std::string& file = args.positionals[2];
  VzrArchive archive;
  if (SetEntryCompression(args, "update", archive) != cli::kDone) return cli::kNothing;
  vzrfs::ArchiveLock lock;
  if (LoadForRewrite(path, archive, lock) != cli::kDone) return cli::kNothing;
  // The last entry of the name: the one extraction leaves and cat shows.
  uint32_t inx = UINT32_MAX;
  for (uint32_t i = archive.FileIndex.count; i-- > 0 && inx == UINT32_MAX;)
    if (vzrfs::EqualsIgnoringCase(archive.FileIndex.files[i].name, name)) inx = i;
  if (inx == UINT32_MAX) {
    cli::FileMessage(path, "no entry named '" + name + "'");
    return cli::kNothing;
  }
  std::error_code ec;
  if (IsTheArchive(file, path)) return cli::kNothing;
  if (!fs::is_regular_file(vzrfs::FsPath(file), ec)) {
    cli::FileMessage(file, ec ? ec.message() : "not a regular file");
    return cli::kNothing;
  }
  const uintmax_t size = fs::file_size(vzrfs::FsPath(file), ec);
  if (ec) {
    cli::FileMessage(file, ec.message());
    return cli::kNothing;
  }
  // The engine reads the file a few segments at a time, and refuses one the
  // format cannot hold before it writes anything.
  cli::Progress progress(size, args.quiet);
  const cli::OtherNames otherNames(path);
  if (archive.ReplaceFromFile(inx, file.c_str()) != 0) {
    progress.Clear();
    cli::FileMessage(path, cli::Reason(archive.lastError, "could not be rewritten"));
    return cli::kNothing;
  }
  progress.Update(size);
  otherNames.Tell();
  return cli::TellPackNotices() ? cli::kProblems : cli::kDone;
}

int Rewrite(VzrArchive& archive, const std::string& path, const std::vector<uint32_t>& removed,
            const std::vector<VzrArchive::NewEntry>& added, bool quiet) {
  cli::Progress progress(archive.archiveLength, quiet);
  const cli::OtherNames otherNames(path);
  const int result = archive.AddRemoveEntries(removed, added);
  progress.Clear();
  if (result != 0) {
    cli::FileMessage(path, cli::Reason(archive.lastError, "could not be rewritten"));
    return cli::kNothing;
  }
  otherNames.Tell();
  return cli::TellPackNotices() ? cli::kProblems : cli::kDone;
}

int RunRemove(const cli::Args& args) {
  if (args.positionals.size() < 2) return cli::Usage("remove", "an archive and at least one pattern are needed");
  const std::string& path = args.positionals[0];
  VzrArchive archive;
  vzrfs::ArchiveLock lock;
  if (LoadForRewrite(path, archive, lock) != cli::kDone) return cli::kNothing;
  const std::vector<std::string> patterns(args.positionals.begin() + 1, args.positionals.end());
  std::vector<bool> used(patterns.size(), false);
  std::vector<uint32_t> removed;
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    bool hit = false;
    for (size_t p = 0; p < patterns.size(); ++p)
      if (cli::Selects(patterns[p], archive.FileIndex.files[i].name)) hit = used[p] = true;
    if (hit) removed.push_back(i);
  }
  bool missed = false;
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) {
      cli::FileMessage(path, "no entry matches '" + patterns[p] + "'");
      missed = true;
    }
  // A pattern that selects nothing is likely a typing error: nothing is removed.
  if (missed) return cli::kNothing;
  return Rewrite(archive, path, removed, {}, args.quiet);
}

// Adds file under name to out when it can be stored; otherwise names it and
// why on standard error, and counts it in skipped.
void TakeFile(const std::string& file, const std::string& name, std::vector<VzrArchive::NewEntry>& out,
              std::size_t& skipped) {
  const std::string problem = SourceFileProblem(file.c_str(), name.size());
  if (problem.empty()) {
    out.push_back({name, file});
    return;
  }
  cli::FileMessage(file, problem + " (not added)");
  ++skipped;
}

// Every file below dir, in name order so that an add is repeatable; names
// are '/'-separated and relative to dir. Files that cannot be stored are
// named and counted in skipped.
bool FilesBelow(const fs::path& dir, const std::string& prefix, std::vector<VzrArchive::NewEntry>& out,
                std::size_t& skipped) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) {
    cli::FileMessage(vzrfs::Utf8Path(dir), ec.message());
    return false;
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& e : entries) {
    const std::string name = prefix + "/" + vzrfs::Utf8Path(e.path().filename());
    if (e.is_directory(ec) && !e.is_symlink(ec)) {
      if (!FilesBelow(e.path(), name, out, skipped)) return false;
    } else if (e.is_directory(ec)) {
      cli::FileMessage(vzrfs::Utf8Path(e.path()), "link to a folder, not followed (not added)");
      ++skipped;
    } else {
      TakeFile(vzrfs::Utf8Path(e.path()), name, out, skipped);
    }
  }
  return true;
}

// Names both files of every pair that would be stored under one entry name
// (letter case ignored, as the archive's names are compared); true when
// there is one.
bool NamesGivenTwice(const std::string& archivePath, const std::vector<VzrArchive::NewEntry>& added) {
  std::unordered_map<std::string, std::size_t> firstOf;
  bool twice = false;
  for (std::size_t k = 0; k < added.size(); ++k) {
    const auto [first, isNew] = firstOf.emplace(vzrfs::FoldCase(added[k].name), k);
    if (isNew) continue;
    const VzrArchive::NewEntry& earlier = added[first->second];
    cli::FileMessage(archivePath, "'" + added[k].name + "' is given twice: " + cli::Shown(earlier.sourcePath) +
                                      " and " + cli::Shown(added[k].sourcePath));
    twice = true;
  }
  return twice;
}

int RunAdd(const cli::Args& args) {
  if (args.positionals.size() < 2) return cli::Usage("add", "an archive and at least one file or folder are needed");
  const std::string& path = args.positionals[0];
  if (!AcceptBase("add", args.Value("base"))) return cli::kNothing;
  VzrArchive archive;
  if (SetEntryCompression(args, "add", archive) != cli::kDone) return cli::kNothing;
  vzrfs::ArchiveLock lock;
  if (LoadForRewrite(path, archive, lock) != cli::kDone) return cli::kNothing;
  const std::string base = CleanBase(args.Value("base"));
  std::vector<VzrArchive::NewEntry> added;
  std::size_t skipped = 0;
  for (size_t k = 1; k < args.positionals.size(); ++k) {
    fs::path source = vzrfs::FsPath(args.positionals[k]).lexically_normal();
    if (!source.has_filename()) source = source.parent_path();  // "dir/" names dir
    std::error_code ec;
    const fs::file_status st = fs::status(source, ec);
    if (ec || !fs::exists(st)) {
      cli::FileMessage(args.positionals[k], ec ? ec.message() : std::strerror(ENOENT));
      return cli::kNothing;
    }
    std::string own = vzrfs::Utf8Path(source.filename());
    // "." or ".." take the folder's own name; the current folder may be gone.
    if (own.empty() || own == "." || own == "..") own = vzrfs::Utf8Path(fs::absolute(source, ec).lexically_normal().filename());
    if (ec || own.empty()) {
      cli::FileMessage(args.positionals[k], ec ? ec.message() : "has no name to store it under");
      return cli::kNothing;
    }
    const std::string name = base.empty() ? own : base + "/" + own;
    if (fs::is_directory(st)) {
      if (!FilesBelow(source, name, added, skipped)) return cli::kNothing;
    } else if (fs::is_regular_file(st)) {
      TakeFile(vzrfs::Utf8Path(source), name, added, skipped);
    } else {
      cli::FileMessage(args.positionals[k], "not a regular file or folder");
      return cli::kNothing;
    }
  }
  // The engine refuses these too; here each one is named.
  bool refused = NamesGivenTwice(path, added);
  for (const VzrArchive::NewEntry& e : added) refused = IsTheArchive(e.sourcePath, path) || refused;
  for (const VzrArchive::NewEntry& e : added)
    for (uint32_t i = 0; i < archive.FileIndex.count; ++i)
      if (vzrfs::EqualsIgnoringCase(archive.FileIndex.files[i].name, e.name)) {
        cli::FileMessage(path, "'" + e.name + "' already exists (vzr update replaces it)");
        refused = true;
        break;
      }
  if (refused) return cli::kNothing;
  if (added.empty() && skipped > 0) {
    cli::FileMessage(path, "nothing added: the archive was left as it was");
    return cli::kNothing;
  }
  const int rc = Rewrite(archive, path, {}, added, args.quiet);
  return rc == cli::kDone && skipped > 0 ? cli::kProblems : rc;
}

const cli::Register packVerb({"pack", "a new archive of a folder, raw or compressed",
                              "usage: vzr pack [--base PATH] [--compress[=LEVEL]] [--threads N] DIR ARCHIVE\n"
                              "Packs every file below DIR into a new ARCHIVE, raw as the Toolset's Pack\n"
                              "Directory does, or compressed; packing the same tree twice gives the same\n"
                              "bytes.\n"
                              "  --base PATH  every entry name starts with PATH/ (default: no base path)\n"
                              "  --compress[=LEVEL]\n"
                              "               a segmented archive compressed at LEVEL (0..9); without a\n"
                              "               value level 6: a few per cent larger than 9 in less time,\n"
                              "               a quarter smaller than 1 on script text\n"
                              VZR_HELP_LEVELS VZR_HELP_THREADS,
                              {{"base", true}, {"compress", true, true}, {"threads", true}},
                              RunPack});

const cli::Register updateVerb({"update", "one entry gets a file's content",
                                "usage: vzr update [--level N] [--threads N] ARCHIVE NAME FILE\n"
                                "Entry NAME (any letter case) gets FILE's content; the archive is rewritten\n"
                                "whole and replaced only when the new copy is complete. In a segmented\n"
                                "archive the entry is compressed; a raw archive stays raw.\n"
                                "  --level N    compression level 0..9 in a segmented archive (default 6)\n"
                                VZR_HELP_LEVELS VZR_HELP_THREADS,
                                {{"level", true}, {"threads", true}},
                                RunUpdate});

const cli::Register removeVerb({"remove", "drops the entries patterns select",
                                "usage: vzr remove ARCHIVE PATTERN...\n"
                                "Drops every entry a PATTERN selects. When a PATTERN selects nothing,\n"
                                "nothing is removed.\n",
                                {},
                                RunRemove});

const cli::Register addVerb({"add", "new entries from files and folders",
                             "usage: vzr add [--base PATH] [--level N] [--threads N] ARCHIVE FILE|DIR...\n"
                             "Adds a FILE under its own name, a DIR under its own name with every file\n"
                             "below it ('add A ../x/lev' adds 'lev/...'). A name already in the archive\n"
                             "is refused (use vzr update) and nothing is added. In a segmented archive\n"
                             "the new entries are compressed; a raw archive stays raw.\n"
                             "  --base PATH  the new names start with PATH/\n"
                             "  --level N    compression level 0..9 in a segmented archive (default 6)\n"
                             VZR_HELP_LEVELS VZR_HELP_THREADS,
                             {{"base", true}, {"level", true}, {"threads", true}},
                             RunAdd});

}  // namespace
