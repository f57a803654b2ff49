// mount_overlay.cpp - the changes of a writable mount, kept beside the archive.
#include "mount_overlay.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli.h"
#include "hardlinks.h"
#include "mount_tree.h"
#include "vzrpack.h"

namespace fs = std::filesystem;

namespace vzrmount {

std::string Overlay::FolderFor(const std::string& archivePath) {
  const fs::path p(archivePath);
  std::string leaf = ".";
  leaf += p.filename().string();
  leaf += ".overlay";
  return (p.parent_path() / leaf).string();
}

Overlay::~Overlay() {
  if (journal_ >= 0) ::close(journal_);
  if (lock_ >= 0) ::close(lock_);
}

bool Overlay::Open(std::string& error) {
  std::error_code ec;
  for (const char* sub : {"tree", "work"}) {
    fs::create_directories(fs::path(folder_) / sub, ec);
    if (ec) {
      error = folder_ + ": " + ec.message();
      return false;
    }
  }
  lock_ = ::open((folder_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    error = folder_ + ": " + (errno == EWOULDBLOCK ? "in use by another writable mount" : std::strerror(errno));
    return false;
  }
  journal_ = ::open((folder_ + "/removed").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (journal_ < 0) {
    error = folder_ + "/removed: " + std::strerror(errno);
    return false;
  }
  // Copies a killed server left half-made are of no use.
  for (fs::directory_iterator it(fs::path(folder_) / "work", ec), end; !ec && it != end; it.increment(ec))
    fs::remove_all(it->path(), ec);
  return true;
}

std::string Overlay::TreePath(const std::string& rel) const {
  return rel.empty() ? folder_ + "/tree" : folder_ + "/tree/" + rel;
}

int Overlay::MakeWorkFile(std::string& path) const {
  path = folder_ + "/work/copy-XXXXXX";
  return ::mkostemp(path.data(), O_CLOEXEC);
}

bool Overlay::RecordRemoved(const std::string& rel) {
  const std::string record = rel + '\0';
  return ::write(journal_, record.data(), record.size()) == static_cast<ssize_t>(record.size()) &&
         ::fdatasync(journal_) == 0;
}

std::set<std::string> Overlay::RemovedPaths() const {
  std::set<std::string> paths;
  FILE* f = std::fopen((folder_ + "/removed").c_str(), "rb");
  if (!f) return paths;
  std::string record;
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (c != '\0') {
      record += static_cast<char>(c);
    } else {
      paths.insert(Fold(record));
      record.clear();
    }
  }
  std::fclose(f);
  return paths;
}

void Overlay::Walk(const std::function<void(const std::string& rel, bool isDir)>& visit) const {
  std::vector<std::string> pending{""};
  std::error_code ec;
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    std::vector<std::pair<std::string, bool>> entries;
    for (fs::directory_iterator it(TreePath(dir), ec), end; !ec && it != end; it.increment(ec)) {
      const std::string rel = dir.empty() ? it->path().filename().string() : dir + "/" + it->path().filename().string();
      if (it->is_directory(ec) && !it->is_symlink(ec))
        entries.emplace_back(rel, true);
      else if (it->is_regular_file(ec) && !it->is_symlink(ec))
        entries.emplace_back(rel, false);
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [rel, isDir] : entries) visit(rel, isDir);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
      if (it->second) pending.push_back(it->first);
  }
}

bool Overlay::HasChanges() const {
  std::error_code ec;
  if (fs::file_size(folder_ + "/removed", ec) > 0 && !ec) return true;
  return !fs::is_empty(TreePath(""), ec) && !ec;
}

void Overlay::Discard() {
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

namespace {

// The files of the overlay and the folders below which no file lies.
struct OverlayContent {
  std::vector<std::string> files;
  std::vector<std::string> emptyFolders;
};

OverlayContent Gather(const Overlay& overlay) {
  OverlayContent content;
  std::vector<std::string> folders;
  overlay.Walk([&](const std::string& rel, bool isDir) { (isDir ? folders : content.files).push_back(rel); });
  for (const std::string& folder : folders) {
    const std::string prefix = folder + "/";
    const bool holdsFile = std::any_of(content.files.begin(), content.files.end(),
                                       [&](const std::string& f) { return f.rfind(prefix, 0) == 0; });
    if (!holdsFile) content.emptyFolders.push_back(folder);
  }
  return content;
}

std::string FailureReason(const VzrArchive& archive) { return cli::Reason(archive.lastError, "could not be rewritten"); }

}  // namespace

bool CommitOverlay(const std::string& archivePath, const Overlay& overlay, int level, std::vector<std::string>& notes,
                   std::string& error) {
  const OverlayContent content = Gather(overlay);
  for (const std::string& folder : content.emptyFolders)
    notes.push_back("empty folder '" + folder + "' not kept: an archive holds files only");
  std::set<std::string> gone = overlay.RemovedPaths();
  for (const std::string& file : content.files) gone.insert(Fold(file));

  VzrArchive archive;
  if (FILE* f = std::fopen(archivePath.c_str(), "rb")) {
    std::fclose(f);
  } else {
    error = std::strerror(errno);
    return false;
  }
  archive.LoadIndex(archivePath.c_str());
  if (archive.indexDamaged) {
    error = "its index cannot be read whole";
    return false;
  }
  std::vector<uint32_t> removed;
  std::map<std::string, std::string> storedName;  // folded path -> name of the entry it replaces
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    if (std::strlen(e.name) != e.nameLength) continue;  // never shown, never touched
    const std::string path = ExtractionPath(e.name);
    if (path.empty() || !gone.count(Fold(path))) continue;
    removed.push_back(i);
    storedName.emplace(Fold(path), e.name);
  }
  std::vector<VzrArchive::NewEntry> added;
  for (const std::string& file : content.files) {
    auto it = storedName.find(Fold(file));
    added.push_back({it == storedName.end() ? file : it->second, overlay.TreePath(file)});
  }
  if (removed.empty() && added.empty()) return true;
  archive.compressionLevel = level;
  const cli::OtherNames otherNames(archivePath);
  if (archive.AddRemoveEntries(removed, added) != 0) {
    error = FailureReason(archive);
    return false;
  }
  if (const std::string note = otherNames.Note(); !note.empty()) notes.push_back(note);
  return true;
}

}  // namespace vzrmount
