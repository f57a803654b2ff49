// mount_session.cpp - building what a mount shows, and committing its changes.
#include "mount_session.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>

#include "cli.h"
#include "discovery.h"
#include "fileservices.h"

namespace fs = std::filesystem;

namespace vzrmount {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec).lexically_normal();
  if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
  return p.string();
}

bool FoldersOverlap(const std::string& a, const std::string& b) {
  const auto holds = [](const std::string& outer, const std::string& inner) {
    return inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/' || outer == "/");
  };
  return holds(a, b) || holds(b, a);
}

std::vector<std::string> ModArchives(const std::string& mod) {
  std::vector<std::string> archives = modkit::ModArchives(mod);
  for (std::string& path : archives) path = vzrfs::ResolvePath(path.c_str());
  return archives;
}

namespace {

// "'NAME' not shown: WHY", built by appending: a literal put before a
// temporary string sets off GCC 12's false -Wrestrict at -O3.
std::string NotShown(std::string_view name, const char* why) {
  std::string text = "'";
  text.append(name);
  text += "' not shown: ";
  text += why;
  return text;
}

}  // namespace

bool LoadSources(Session& s, const std::vector<std::string>& paths, const MountOptions& options) {
  const std::size_t cache = std::max<std::size_t>(options.cacheBytes / paths.size(), std::size_t{1} << 20);
  for (const std::string& path : paths) {
    VzrError error;
    auto reader = EntryReader::Open(path, &error, cache);
    if (!reader) {
      cli::FileMessage(path, error.message.empty() ? "not an archive" : error.message);
      return false;
    }
    if (reader->IndexDamaged()) {
      if (options.writable) {
        cli::FileMessage(path, "not mounted writable: its index is damaged");
        return false;
      }
      cli::FileMessage(path, "damaged index: showing the " + std::to_string(reader->Count()) +
                                 " entries that could be read");
    }
    s.time = std::max(s.time, reader->ModificationTime());
    std::error_code ec;
    s.archiveBytes += fs::file_size(path, ec);
    const auto archive = static_cast<int32_t>(s.readers.size());
    s.tree.Reserve(reader->Count() + reader->Count() / 8);
    for (uint32_t i = 0; i < reader->Count(); ++i) {
      const EntryReader::EntryInfo e = reader->Entry(i);
      const std::string_view name(e.name, e.nameLength);
      const Tree::Placed placed = s.tree.Add(name, archive, i, e.fileSize);
      if (placed == Tree::Placed::kRefused)
        cli::FileMessage(path, NotShown(name, "extraction refuses this name"));
      else if (placed == Tree::Placed::kClash)
        cli::FileMessage(path, NotShown(name, "a file and a folder of one name"));
    }
    s.readers.push_back(std::move(reader));
  }
  return true;
}

bool ApplyOverlay(Session& s, const std::string& archive) {
  s.overlay = std::make_unique<Overlay>(Overlay::FolderFor(archive));
  std::string error;
  if (!s.overlay->Open(error)) {
    cli::FileMessage(archive, "not mounted writable: " + error);
    return false;
  }
  if (!s.overlay->HasChanges()) return true;
  cli::FileMessage(archive, "starting from the changes kept in " + s.overlay->Folder());
  Tree& tree = s.tree;
  const std::set<std::string> removed = s.overlay->RemovedPaths();
  for (uint32_t file : tree.FilesBelow(Tree::kRoot))
    if (removed.count(Fold(tree.PathOf(file)))) tree.Remove(file);
  s.overlay->Walk([&](const std::string& rel, bool isDir) {
    std::string leaf;
    const uint32_t dir = ParentOf(tree, ("/" + rel).c_str(), leaf);
    if (dir == Tree::kNone) return;  // below something that is no folder: named with it
    const uint32_t found = tree.Child(dir, leaf);
    if (found == Tree::kNone) {
      tree.At(tree.Make(dir, leaf, isDir)).inOverlay = !isDir;
    } else if (tree.At(found).isDir == isDir) {
      tree.At(found).inOverlay = !isDir;
    } else {
      cli::FileMessage(s.overlay->TreePath(rel), "not shown: a file and a folder of one name");
    }
  });
  return true;
}

uint32_t ParentOf(const Tree& tree, const char* path, std::string& leaf) {
  std::string_view p(path);
  const std::size_t slash = p.rfind('/');
  leaf = std::string(p.substr(slash == std::string_view::npos ? 0 : slash + 1));
  const uint32_t dir = tree.Find(slash == std::string_view::npos ? "" : p.substr(0, slash));
  return dir != Tree::kNone && tree.At(dir).isDir ? dir : Tree::kNone;
}

std::string JoinPath(const std::string& dir, const std::string& leaf) { return dir.empty() ? leaf : dir + "/" + leaf; }

std::string Commit(Session& s) {
  if (!s.overlay) return "ok\n";
  std::vector<std::string> notes;
  std::string error;
  if (!s.overlay->HasChanges()) {
    s.overlay->Discard();
    return "ok\n";
  }
  const bool done = CommitOverlay(s.archivePath, *s.overlay, s.level, notes, error);
  std::string outcome = done ? "ok\n" : "failed\n";
  for (const std::string& note : notes) outcome += s.archivePath + ": " + note + "\n";
  if (done)
    s.overlay->Discard();
  else
    outcome += s.archivePath + ": could not be rewritten: " + error + "; the changes are kept in " +
               s.overlay->Folder() + " and the next vzr mount -o rw of it starts from them\n";
  return outcome;
}

std::string Statistics(const Session& s) {
  uint64_t decoded = 0, hits = 0;
  for (const auto& reader : s.readers) {
    const EntryReader::Stats stats = reader->CacheStats();
    decoded += stats.segmentsDecoded;
    hits += stats.cacheHits;
  }
  return "statistics: " + std::to_string(s.archiveReads.load()) + " reads, " + std::to_string(decoded) +
         " segments decoded, " + std::to_string(hits) + " segments from the cache\n";
}

}  // namespace vzrmount
