// extract.cpp - turning entries of a loaded archive back into content, in
// memory or as files under a destination folder.
//
// Archives come from the internet, so nothing in an index is trusted: an
// entry's stored bytes must lie inside the archive and its sizes must be ones
// a real stored form could have before any buffer grows, and an entry name
// can never lead a write out of the destination folder.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "paths.h"
#include "positionalread.h"
#include "readahead.h"
#include "readahead_internal.h"
#include "replacementfile_internal.h"
#include "trace.h"
#include "windowsnames.h"
#include "ops.h"

namespace {

// No LZO1X stream produces more than 255 bytes per stream byte (a run of
// zero length-extension bytes); 256 leaves room for the instruction bytes.
constexpr uint64_t kMaxExpansion = 256;

// The archive whose leading-'/' names have been reported already, so the
// note appears once per archive rather than once per entry.
std::string g_slashNoteArchive;

// True when the stored sizes of entry e are ones an archive of archiveLength
// bytes in this storage mode could hold.
bool PlausibleEntry(const FileEntry& e, uint32_t storageMode, uint64_t archiveLength) {
  if (uint64_t(e.fileOffset) + e.compSize > archiveLength) return false;
  if (uint64_t(e.fileSize) + 2 > UINT32_MAX) return false;
  if (storageMode == vzr::kStorageRaw) return e.compSize == e.fileSize;
  if (storageMode == vzr::kStorageSegmented)
    // A segmentCount of 0 alone is the stored form of an empty file.
    return e.compSize >= vzr::kSegmentCountSize &&
           uint64_t(e.fileSize) <= uint64_t(e.compSize) * kMaxExpansion;
  // An unknown mode decodes nothing, so only an empty entry can succeed;
  // growing fileBuffer to a size such an index claims would be for nothing.
  return e.fileSize == 0;
}

// True when the entry's name stops at a zero byte before its nameLength:
// other tools read the bytes after it as part of the name.
// Refused like a name that leaves the destination.
bool NameHoldsZero(VzrArchive& archive, const FileEntry& e) {
  if (std::strlen(e.name) == e.nameLength) return false;
  vzrops::TraceFailure(archive.lastError, 1, e.name, 0, "ERROR! Extract() refused entry name outside the destination: ",
                       e.name);
  return true;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The entry's path below the destination folder, or an empty text when the
// name must not be written: a drive prefix, a ".." component, a name that
// ends in a folder ('/' or "."), or nothing left. Empty and "." components
// are left out, so that every name of one file gives one path ("a/./b" and
// "a//b" are "a/b"), as the system resolves them.
std::string SafeRelativeName(const char* name, bool& hadLeadingSlash) {
  const std::string given = vzrfs::WithSlashes(name);
  const std::size_t first = given.find_first_not_of('/');
  hadLeadingSlash = first != 0 && !given.empty();
  if (first == std::string::npos || given.back() == '/') return std::string();
  if (given.size() - first >= 2 && IsDriveLetter(given[first]) && given[first + 1] == ':') return std::string();
  std::string path;
  std::string_view component;
  for (std::size_t start = first; start <= given.size();) {
    const std::size_t slash = std::min(given.find('/', start), given.size());
    component = std::string_view(given).substr(start, slash - start);
    if (component == "..") return std::string();
    if (!component.empty() && component != ".") {
      if (!path.empty()) path += '/';
      path += component;
    }
    start = slash + 1;
  }
  return component == "." ? std::string() : path;
}

// Creates every folder of relative path `path` before its last '/', below the
// current directory, each in its parent opened without following links.
// Failures show when the file is opened.
void CreateEntryFolders(const std::string& path) {
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (slash == 0 || path[slash - 1] == '/') continue;  // empty component: "a//b"
    vzrfs::CreateFolderNoFollow(vzrfs::ResolvePath(path.substr(0, slash).c_str()), true);
  }
}

// What one ExtractAll run learns about its destination, so that each entry
// costs little more than its own file: the current directory is set once,
// each folder of the names is checked and resolved once, and each folder is
// listed once. Finding a file without regard to case needs a look at its
// folder's names; listing the folder anew for every new file would make
// extracting into one large folder quadratic. The run adds the files it
// creates to its listings.
class ExtractSession {
 public:
  void Start(const std::string& destination, const std::string& archivePath) {
    CloseFolder();
    *this = ExtractSession();
    active_ = true;
    destination_ = destination;
    archivePath_ = archivePath;
  }
  void Stop() {
    CloseFolder();
    *this = ExtractSession();
  }
  // True while a run extracts into destDir.
  bool Covers(const char* destDir) const { return active_ && destination_ == destDir; }
  bool Active() const { return active_; }
  const std::string& ArchivePath() const { return archivePath_; }
  bool inDestination = false;  // the current directory is the destination
  std::unordered_map<std::string, std::string> resolvedFolders;  // folder as named -> as found

  // The path of leaf in folder (a resolved path relative to the current
  // directory, "" for the directory itself): the existing name that matches
  // it exactly, else the first that matches it without regard to case, else
  // the name as given (exists is then false). With ownFilesOnly, a name in
  // another letter case counts only when this run made it: entries whose
  // names differ only in case end as one file (the last entry's), while a
  // file of the user's in another case is left alone.
  std::string Find(const std::string& folder, const std::string& leaf, bool& exists, bool ownFilesOnly = false) {
    Names& names = Listing(folder);
    const std::string prefix = folder.empty() ? std::string() : folder + '/';
    exists = true;
    if (names.exact.count(leaf)) return prefix + leaf;
    const auto& folded = ownFilesOnly ? names.madeFolded : names.folded;
    const auto match = folded.find(vzrfs::FoldCase(leaf));
    if (match != folded.end()) return prefix + match->second;
    exists = false;
    return prefix + leaf;
  }
  void Added(const std::string& folder, const std::string& leaf) {
    Names& names = Listing(folder);
    names.exact.insert(leaf);
    names.folded.emplace(vzrfs::FoldCase(leaf), leaf);
    names.madeFolded.emplace(vzrfs::FoldCase(leaf), leaf);
    MadeFiles().insert(MadeKey(folder, leaf));
  }
  // Folder `named` (a relative path of plain components) as found on disk,
  // looked up through the run's listings, with every missing folder created
  // in its parent opened without following links. A folder this run created
  // is known to be empty and is never listed. False when a component is not
  // plain, is there but no folder (a link included), or cannot be made: the
  // caller then looks at the disk itself.
  bool MakeFolder(const std::string& named, std::string& folder) {
    const auto known = resolvedFolders.find(named);
    if (known != resolvedFolders.end()) {
      folder = known->second;
      return true;
    }
    const std::size_t slash = named.rfind('/');
    const std::string leaf = slash == std::string::npos ? named : named.substr(slash + 1);
    if (leaf.empty() || leaf == ".") return false;
    std::string up;
    if (slash != std::string::npos && !MakeFolder(named.substr(0, slash), up)) return false;
    bool exists = false;
    const std::string found = Find(up, leaf, exists);
    const std::string foundLeaf = found.substr(found.rfind('/') == std::string::npos ? 0 : found.rfind('/') + 1);
    const vzrfs::Folder* upDir = OpenedFolder(up);
    if (!upDir) return false;
    if (exists) {
      if (!vzrfs::IsFolderAt(*upDir, foundLeaf)) return false;
    } else {
      if (!vzrfs::CreateFolderAt(*upDir, foundLeaf)) return false;
      Added(up, leaf);
      folders_.emplace(found, Names());
    }
    resolvedFolders.emplace(named, found);
    folder = found;
    return true;
  }
  // The folder (resolved, relative to the destination) opened without
  // following links, as OpenFolderNoFollow opens it; nullptr on failure.
  // Entries come folder by folder, so the session keeps the folders from the
  // destination down to the last one open and reopens only the components
  // that differ. Each handle was a folder, not a link, when it was opened,
  // so nothing reached through them goes through a link. The folder given
  // stays where it is until a later call closes it.
  const vzrfs::Folder* OpenedFolder(const std::string& folder) {
    if (chain_.empty()) {
      vzrfs::Folder top = vzrfs::OpenFolderNoFollow(std::string());
      if (!top) return nullptr;
      chain_.push_back({std::string(), std::move(top)});
    }
    std::vector<std::string> parts;
    for (std::size_t pos = 0; pos < folder.size();) {
      std::size_t slash = folder.find('/', pos);
      if (slash == std::string::npos) slash = folder.size();
      std::string part = folder.substr(pos, slash - pos);
      if (!part.empty() && part != ".") parts.push_back(std::move(part));
      pos = slash + 1;
    }
    std::size_t kept = 1;
    while (kept < chain_.size() && kept <= parts.size() && chain_[kept].name == parts[kept - 1]) ++kept;
    CloseChainFrom(kept);
    for (std::size_t i = kept - 1; i < parts.size(); ++i) {
      vzrfs::Folder next = vzrfs::OpenFolderAt(chain_.back().dir, parts[i]);
      if (!next) return nullptr;
      chain_.push_back({parts[i], std::move(next)});
    }
    return &chain_.back().dir;
  }
  // The archive's length, measured once per run: an entry whose bytes lie
  // past it is refused, and one that shrinks later fails its copy.
  bool ArchiveLength(std::FILE* archive, uint64_t& length) {
    if (!lengthKnown_) lengthKnown_ = vzrfs::FileLength(archive, archiveLength_);
    length = archiveLength_;
    return lengthKnown_;
  }

 private:
  struct Names {
    std::unordered_set<std::string> exact;
    std::unordered_map<std::string, std::string> folded;  // first in listing order wins
    std::unordered_map<std::string, std::string> madeFolded;  // the names this run made
  };
  Names& Listing(const std::string& folder) {
    auto found = folders_.find(folder);
    if (found != folders_.end()) return found->second;
    Names& names = folders_[folder];
    for (const vzrfs::FindEntry& entry : vzrfs::FindMatches(folder.empty() ? "*" : (folder + "/*").c_str())) {
      if (entry.name == "." || entry.name == "..") continue;
      names.exact.insert(entry.name);
      names.folded.emplace(vzrfs::FoldCase(entry.name), entry.name);
      if (MadeFiles().count(MadeKey(folder, entry.name))) names.madeFolded.emplace(vzrfs::FoldCase(entry.name), entry.name);
    }
    return names;
  }
  // Files extraction made in this process, by destination and folded path:
  // a later run into the same destination (the next round after a refused
  // entry, the next archive of a mod) treats them as its own, so a later
  // entry of the name replaces them as within one run.
  static std::unordered_set<std::string>& MadeFiles() {
    static std::unordered_set<std::string> made;
    return made;
  }
  std::string MadeKey(const std::string& folder, const std::string& leaf) const {
    return destination_ + '\n' + vzrfs::FoldCase(folder.empty() ? leaf : folder + '/' + leaf);
  }
  struct OpenFolder {
    std::string name;  // the component below the one before
    vzrfs::Folder dir;
  };
  void CloseChainFrom(std::size_t first) {
    while (chain_.size() > first) chain_.pop_back();
  }
  void CloseFolder() { CloseChainFrom(0); }
  std::unordered_map<std::string, Names> folders_;
  std::deque<OpenFolder> chain_;  // the destination first; growing moves none
  bool active_ = false;
  bool lengthKnown_ = false;
  uint64_t archiveLength_ = 0;
  std::string destination_;
  std::string archivePath_;
};

ExtractSession g_session;

// Keeps the session for the length of one ExtractAll run.
struct ExtractSessionScope {
  ExtractSessionScope(const std::string& destination, const std::string& archivePath) {
    g_session.Start(destination, archivePath);
  }
  ~ExtractSessionScope() { g_session.Stop(); }
};

// The folder of entry path (parent, as the name gives it) as it is found on
// disk, creating every missing folder first.
std::string EntryFolder(ExtractSession* session, const std::string& path, const std::string& parent) {
  if (session) {
    const auto known = session->resolvedFolders.find(parent);
    if (known != session->resolvedFolders.end()) return known->second;
    std::string folder;
    if (session->MakeFolder(parent, folder)) return folder;
  }
  if (!vzrfs::IsDirectory(parent.c_str())) CreateEntryFolders(path);
  std::string folder = vzrfs::ResolvePath(parent.c_str());
  if (session && vzrfs::IsDirectory(folder.c_str())) session->resolvedFolders.emplace(parent, folder);
  return folder;
}


// Writes the content into the new output file (at offset 0); false when a
// write failed.
using ContentWriter = std::function<bool(vzrfs::PositionalFile& out)>;

// With `abandoned` given and set by writeContent when it fails, the entry
// is left without a trace line: its caller reads it again another way.
bool WriteExtractedFile(VzrArchive& archive, const char* name, const char* destDir, const ContentWriter& writeContent,
                        const bool* abandoned = nullptr);

// Checks entry index of a loaded archive whose stream is open; sets
// curLength and storeLength. False (with the size trace line) when the
// entry's sizes or place cannot be those of a real stored form.
bool CheckEntry(VzrArchive& archive, uint32_t index) {
  const FileEntry& e = archive.FileIndex.files[index];
  archive.curLength = e.fileSize;
  archive.storeLength = e.compSize;
  uint64_t archiveLength = 0;
  const bool measured = g_session.Active() ? g_session.ArchiveLength(archive.vzrFileStream, archiveLength)
                                           : vzrfs::FileLength(archive.vzrFileStream, archiveLength);
  if (!measured || !PlausibleEntry(e, archive.storageMode, archiveLength)) {
    // A raw entry reports the bytes the archive holds for it, as a read of
    // them would; nothing is read or grown for the number.
    uint64_t held = 0;
    if (measured && archive.storageMode == vzr::kStorageRaw && e.fileOffset < archiveLength)
      held = std::min<uint64_t>({e.compSize, archiveLength - e.fileOffset,
                                 std::max<uint64_t>(archive.fileBufferCapacity, uint64_t(e.fileSize) + 2)});
    vzrops::TraceFailure(archive.lastError, 1, e.name, 0, "ERROR! Extract() fileSize: ", held, " should be: ",
                         e.fileSize);
    return false;
  }
  return true;
}

// Extract of a raw entry into a file, for ExtractAll: the stored bytes go from
// the archive to the file inside the kernel, without passing through
// fileBuffer, so extracting a whole archive needs no buffer as large as its
// largest entry.
bool ExtractRawToFile(VzrArchive& archive, uint32_t index, const char* destDir) {
  if (!CheckEntry(archive, index)) return false;
  const FileEntry& e = archive.FileIndex.files[index];
  if (NameHoldsZero(archive, e)) return false;
  std::FILE* in = archive.vzrFileStream;
  // The output file is new or truncated, so its content starts at offset 0;
  // neither stream needs to move for a copy that ends with the file.
  return WriteExtractedFile(archive, e.name, destDir, [&](vzrfs::PositionalFile& out) {
    return vzrfs::CopyRangeToFile(in, e.fileOffset, out, 0, e.compSize, archive.fileBuffer, archive.fileBufferCapacity);
  });
}

}  // namespace

std::string ExtractionPath(const char* name) {
  bool hadLeadingSlash = false;
  return SafeRelativeName(name ? name : "", hadLeadingSlash);
}

uint32_t GetFreeDiskSpaceMB(const char* directory) {
  uint64_t bytes = 0;
  if (!directory || !vzrfs::FreeBytes(directory, bytes)) return 0;
  const uint64_t mib = bytes / vzr::kBytesPerMiB;
  return mib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mib);
}

unsigned char* VzrArchive::Extract(uint32_t index, const char* destDir) {
  lastError.clear();
  if (index >= FileIndex.count) {
    vzrops::TraceFailure(lastError, 1, "", 0, "ERROR! item out of range to extract! ", index);
    return nullptr;
  }
  uint64_t position = 0;
  if (vzrFileStream && !vzrfs::Tell(vzrFileStream, position)) CloseArchiveStream();
  if (!vzrFileStream && OpenArchiveStream() != 0) {
    vzrops::TraceFailure(lastError, 1, FileIndex.files[index].name, errno, "ERROR! Extract(), .vzr file not open!");
    return nullptr;
  }

  const FileEntry& e = FileIndex.files[index];
  if (!CheckEntry(*this, index)) return nullptr;
  if (!GrowFileBuffer(e.fileSize + 2) ||
      (storageMode == vzr::kStorageSegmented && !GrowStoreBuffer(e.compSize))) {
    vzrops::TraceFailure(lastError, 1, e.name, ENOMEM, "ERROR! Extract() fileSize: ", 0u, " should be: ", e.fileSize,
                         " (out of memory)");
    return nullptr;
  }

  uint32_t n = 0;
  if (vzrfs::Seek(vzrFileStream, e.fileOffset)) {
    if (storageMode == vzr::kStorageSegmented) {
      // Decoding a short read would decode whatever the buffer held before.
      if (vzrfs::Read(vzrFileStream, storeBuffer, e.compSize)) {
        const int32_t decoded = Decompression(storeBuffer, e.compSize, fileBuffer, fileBufferCapacity);
        n = decoded > 0 ? static_cast<uint32_t>(decoded) : 0;
      }
    } else if (storageMode == vzr::kStorageRaw) {
      n = static_cast<uint32_t>(vzrfs::ReadSome(vzrFileStream, fileBuffer, e.compSize));
    }
  }
  if (n != e.fileSize) {
    vzrops::TraceFailure(lastError, 1, e.name, 0, "ERROR! Extract() fileSize: ", n, " should be: ", e.fileSize);
    return nullptr;
  }
  if (!destDir) return fileBuffer;
  if (NameHoldsZero(*this, e)) return nullptr;
  const auto writeBuffer = [this](vzrfs::PositionalFile& out) { return vzrfs::WriteAt(out, 0, fileBuffer, curLength); };
  return WriteExtractedFile(*this, e.name, destDir, writeBuffer) ? fileBuffer : nullptr;
}

namespace {

// An entry's file on its way: made under a fresh name beside the entry's in
// its folder, renamed over the name once whole. Never moved: the fresh
// file's registration borrows the folder it was made in.
struct PreparedFile {
  std::string name;        // the entry's name, for the trace lines
  ExtractSession* session = nullptr;
  std::string folder;      // the folder as the name gives it, resolved
  std::string leaf;        // the file's name as the entry gives it
  std::string target;      // the path it takes, as found without regard to case
  std::string targetFolder, targetLeaf;
  bool exists = false;     // a file stands at target already
  vzrfs::Folder ownFolder;  // the folder, when no session keeps it open
  vzrfs::ReplacementFile part;
};

// Whether an entry may be started while the entries before it are still
// being written (its folder and name, resolved): nothing may come out of
// such a start but its fresh file.
using StartsQuietly = std::function<bool(const std::string& targetFolder, const std::string& targetLeaf)>;

// Every step of writing entry `name` below destDir up to a fresh file made
// beside its name, creating its folders; the current directory is left at
// destDir. Null on failure, with the trace line written. With `quietly`,
// null also stands for "not now": an entry whose start would write a trace
// line or change anything on disk but its fresh file, or that quietly
// refuses, is left untouched, to be started again once the ones before it
// are done.
std::unique_ptr<PreparedFile> PrepareExtractedFile(VzrArchive& archive, const char* name, const char* destDir,
                                                   const StartsQuietly* quietly = nullptr, bool ownFolder = false) {
  // Each failure writes its trace line and names the entry on the record.
  const auto fail = [&archive, name, quietly](int sysError, const char* text) -> std::unique_ptr<PreparedFile> {
    if (!quietly) vzrops::TraceFailure(archive.lastError, 1, name, sysError, text, name);
    return nullptr;
  };
  bool hadLeadingSlash = false;
  const std::string path = SafeRelativeName(name, hadLeadingSlash);
  if (path.empty()) return fail(0, "ERROR! Extract() refused entry name outside the destination: ");
  if (vzrfs::RefusesWindowsNames()) {
    // The one leading '/' an empty base path gives every name of a pack is
    // dropped below, as elsewhere; the other rooted forms are refused.
    std::string_view checked = name;
    if (checked.size() >= 2 && checked[0] == '/' && checked[1] != '/' && checked[1] != '\\') checked.remove_prefix(1);
    if (const std::string problem = vzrfs::WindowsNameProblem(vzrfs::WithSlashes(std::string(checked)));
        !problem.empty())
      return fail(0, ("ERROR! Extract() refused entry name Windows cannot hold (" + problem + "): ").c_str());
  }
  if (hadLeadingSlash && g_slashNoteArchive != archive.vzr_file_name) {
    if (quietly) return nullptr;
    g_slashNoteArchive = archive.vzr_file_name;
    TraceLog("Extract(): removing leading '/' from entry names, first: ", name);
  }
  auto file = std::make_unique<PreparedFile>();
  file->name = name;
  ExtractSession* session = g_session.Covers(destDir) ? &g_session : nullptr;
  file->session = session;
  if (quietly && (!session || !session->inDestination)) return nullptr;
  const std::string archivePath = session ? session->ArchivePath() : vzrops::AbsolutePath(archive.vzr_file_name);
  if (!session || !session->inDestination) {
    if (!vzrfs::SetCurrentDir(destDir)) return fail(errno, "ERROR! Could not write file: ");
    if (session) session->inDestination = true;
  }
  const std::size_t lastSlash = path.rfind('/');
  const std::string parent = lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
  file->leaf = path.substr(lastSlash == std::string::npos ? 0 : lastSlash + 1);
  // A link where a folder of the name stands could send the new folders and
  // the file elsewhere: such an entry is refused before anything is made. A
  // run looks at each folder as it resolves it (a link there is no folder to
  // it), and a link planted since stops the entry when its folder is opened
  // (nothing is made through a link: folders are made in their parent opened
  // without following links).
  if (!session && !parent.empty() && vzrfs::HasLinkComponent(vzrfs::ResolvePath(parent.c_str())))
    return fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
  // A quiet start makes no folder: its folder must be one the run knows.
  if (quietly && !parent.empty() && !session->resolvedFolders.count(parent)) return nullptr;
  file->folder = parent.empty() ? std::string() : EntryFolder(session, path, parent);
  CodePosition = 1498;
  // The target as it is found without regard to case; only a file that is
  // there already can be the archive itself or be read-only.
  if (session) {
    file->target = session->Find(file->folder, file->leaf, file->exists, true);
  } else {
    // The folders are found without regard to case, the file only as named.
    file->target = file->folder.empty() ? file->leaf : file->folder + '/' + file->leaf;
    vzrfs::NodeFacts facts;
    file->exists = vzrfs::FactsOf(file->target, facts, false);
  }
  const std::string& target = file->target;
  if (file->exists && vzrfs::SameFile(target.c_str(), archivePath.c_str()))
    return fail(0, "ERROR! Extract() refused to overwrite the archive being read: ");
  if (file->exists &&
      std::any_of(archive.keptIntact.begin(), archive.keptIntact.end(),
                  [&target](const std::string& kept) { return vzrfs::SameFile(target.c_str(), kept.c_str()); }))
    return fail(0, "ERROR! Extract() refused to overwrite an archive being unpacked: ");

  // The file is made in its folder opened without following any link, under
  // a fresh name beside the entry's, and renamed over the name only when
  // whole: a link planted on the way, even during extraction, redirects
  // nothing, and a kill never leaves a partial file under the entry's name.
  const std::size_t cut = target.rfind('/');
  file->targetFolder = cut == std::string::npos ? std::string() : target.substr(0, cut);
  file->targetLeaf = cut == std::string::npos ? target : target.substr(cut + 1);
  if (quietly && !(*quietly)(file->targetFolder, file->targetLeaf)) return nullptr;
  const vzrfs::Folder* dir = nullptr;
  if (session) {
    dir = session->OpenedFolder(file->targetFolder);
    // The session keeps one chain of folders open and moves it with the
    // next entry's folder; a file that stays on its way meanwhile holds
    // its folder itself.
    if (dir && ownFolder) {
      file->ownFolder = vzrfs::SameFolder(*dir);
      dir = file->ownFolder ? &file->ownFolder : nullptr;
    }
  } else {
    file->ownFolder = vzrfs::OpenFolderNoFollow(file->targetFolder);
    if (file->ownFolder) dir = &file->ownFolder;
  }
  // A name found there already is looked at now; a new one is placed only
  // where nothing stands, so a link that appears meanwhile is found then.
  if (!dir) {
    const int openError = errno;
    // A folder of the name that is a file (another entry's, say) is no link.
    if (vzrfs::HasLinkComponent(vzrfs::ResolvePath(file->targetFolder.c_str())))
      return fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
    return fail(openError, "ERROR! Could not write file: ");
  }
  if (file->exists && vzrfs::IsLinkAt(*dir, file->targetLeaf))
    return fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
  // Until it is renamed, the new file goes again on every way out.
  try {
    if (!file->part.CreateBesideAt(*dir, file->targetLeaf)) return fail(errno, "ERROR! Could not write file: ");
  } catch (const std::exception&) {
    return fail(0, "ERROR! Could not write: ");
  }
  return file;
}

// The end of writing a prepared file: closed, checked and renamed over its
// entry's name. `written` and writeError tell how its content went; with
// `abandoned` set, a failed content is left without a trace line (its
// caller reads the entry again another way).
bool CommitExtractedFile(VzrArchive& archive, PreparedFile& file, bool written, int writeError,
                         const bool* abandoned = nullptr) {
  const auto fail = [&archive, &file](int sysError, const char* text) {
    vzrops::TraceFailure(archive.lastError, 1, file.name, sysError, text, file.name);
    return false;
  };
  bool placed = false;
  try {
    const bool closed = file.part.Close();
    if (!written && abandoned && *abandoned) return false;
    // A short file under the entry's name would pass for the real one.
    if (!written || !closed) return fail(written ? errno : writeError, "ERROR! Could not write: ");
    // A read-only file of the name is replaced like any other.
    if (file.exists) vzrfs::MakeWritable(file.target.c_str());
    placed = file.part.CommitAt(file.exists);
    if (!placed && !file.exists && errno == EEXIST) {
      const vzrfs::Folder* dir = file.ownFolder || !file.session ? &file.ownFolder : file.session->OpenedFolder(file.targetFolder);
      if (dir && vzrfs::IsLinkAt(*dir, file.targetLeaf))
        return fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
      placed = file.part.CommitAt(true);  // a file made meanwhile: replaced, as a found one is
    }
  } catch (const std::exception&) {
    return fail(0, "ERROR! Could not write: ");
  }
  if (!placed) return fail(errno, "ERROR! Could not write file: ");
  if (file.session && !file.exists) file.session->Added(file.folder, file.leaf);
  return true;
}

// Writes the content writeContent gives as entry `name` below destDir,
// creating its folders; the current directory is left at destDir.
bool WriteExtractedFile(VzrArchive& archive, const char* name, const char* destDir, const ContentWriter& writeContent,
                        const bool* abandoned) {
  const std::unique_ptr<PreparedFile> file = PrepareExtractedFile(archive, name, destDir);
  if (!file) return false;
  bool written = false;
  try {
    written = writeContent(file->part.File());
  } catch (const std::exception&) {
  }
  const int writeError = errno;
  return CommitExtractedFile(archive, *file, written, writeError, abandoned);
}

// The ExtractAll run of a segmented archive whose segments are decoded
// ahead: the same checks, trace lines, files and progress as extracting the
// entries one by one, without a buffer the size of an entry, and with the
// files of up to `depth` entries written side by side (writes into one file
// do not run in parallel on any system). An entry starts while the ones
// before it are still being written only when nothing can come of its start
// but its fresh file (its folder one the run knows, its name none of
// theirs); each is then announced, finished and renamed in order, and each
// holds its own folder open meanwhile.
// An entry the read-ahead cannot vouch for (a table the format does not
// allow, a segment that does not decode alone) goes to Extract, which meets
// its damage and reports it as it always has; so does one found damaged
// while it is written, after the entries started behind it are dropped.
class AheadExtraction {
 public:
  AheadExtraction(VzrArchive& archive, vzrops::ReadAhead& ahead, const char* destDir, unsigned depth)
      : archive_(archive), ahead_(ahead), destDir_(destDir), depth_(std::max(depth, 1u)) {}
  ~AheadExtraction() { AbandonFrom(0); }
  AheadExtraction(const AheadExtraction&) = delete;
  AheadExtraction& operator=(const AheadExtraction&) = delete;

  // Extracts every entry in order; false at the first that fails (its
  // reason on the record, *failed its index), with nothing of the entries
  // after it left behind.
  bool Run(uint64_t& doneBytes, uint32_t* failed) {
    doneBytes_ = &doneBytes;
    for (uint32_t i = 0; i < archive_.FileIndex.count;) {
      if (!pending_.empty() && pending_.size() < depth_ && StartQuietly(i)) {
        ++i;
        continue;
      }
      const uint32_t fromHere = FinishAll(failed);
      if (fromHere != kAllFinished) {
        if (fromHere == kFailed) return false;
        i = fromHere;  // dropped after a damaged entry: started again
        continue;
      }
      if (!Start(i)) {
        *failed = i;
        return false;
      }
      ++i;
    }
    const uint32_t fromHere = FinishAll(failed);
    return fromHere == kAllFinished;
  }

 private:
  static constexpr uint32_t kAllFinished = UINT32_MAX, kFailed = UINT32_MAX - 1;
  struct Pending {
    uint32_t index;
    std::unique_ptr<PreparedFile> file;
    bool announced;  // its status text and progress event went out
  };

  void Announce(uint32_t i) {
    const FileEntry& entry = archive_.FileIndex.files[i];
    GetStatusSink()->SetText(entry.name);
    ReportProgress({ProgressPhase::kExtracting, i, entry.name, *doneBytes_, archive_.totalSize});
  }
  void Extracted(uint32_t i) {
    const FileEntry& entry = archive_.FileIndex.files[i];
    *doneBytes_ += entry.fileSize;
    ReportProgress({ProgressPhase::kExtracted, i, entry.name, *doneBytes_, archive_.totalSize});
  }

  // Entry i started with nothing before it pending; false when it failed.
  bool Start(uint32_t i) {
    Announce(i);
    archive_.lastError.clear();
    if (!ahead_.Sound(i)) {
      if (archive_.Extract(i, destDir_) == nullptr) return false;
      Extracted(i);
      return true;
    }
    if (!CheckEntry(archive_, i)) return false;
    const FileEntry& e = archive_.FileIndex.files[i];
    if (NameHoldsZero(archive_, e)) return false;
    std::unique_ptr<PreparedFile> file = PrepareExtractedFile(archive_, e.name, destDir_, nullptr, depth_ > 1);
    if (!file) return false;
    if (!ahead_.Attach(i, file->part.File())) return CommitExtractedFile(archive_, *file, false, EIO);
    pending_.push_back({i, std::move(file), true});
    return true;
  }

  // Entry i started behind the pending ones, when nothing but its fresh
  // file comes of it; false (nothing done) otherwise.
  bool StartQuietly(uint32_t i) {
    const FileEntry& e = archive_.FileIndex.files[i];
    uint64_t archiveLength = 0;
    if (std::strlen(e.name) != e.nameLength || !g_session.ArchiveLength(archive_.vzrFileStream, archiveLength) ||
        !PlausibleEntry(e, archive_.storageMode, archiveLength) || !ahead_.Sound(i))
      return false;
    // Two files on their way to one name would end in the wrong order.
    const StartsQuietly besidePending = [&](const std::string& targetFolder, const std::string& targetLeaf) {
      const std::string folded = vzrfs::FoldCase(targetFolder + '/' + targetLeaf);
      return std::none_of(pending_.begin(), pending_.end(), [&folded](const Pending& p) {
        return vzrfs::FoldCase(p.file->targetFolder + '/' + p.file->targetLeaf) == folded;
      });
    };
    std::unique_ptr<PreparedFile> file = PrepareExtractedFile(archive_, e.name, destDir_, &besidePending, true);
    if (!file || !ahead_.Attach(i, file->part.File())) return false;
    pending_.push_back({i, std::move(file), false});
    return true;
  }

  // Finishes the pending entries in order: kAllFinished when all went,
  // kFailed (*failed the entry) when one failed, or the first entry dropped
  // after a damaged one that Extract then wrote.
  uint32_t FinishAll(uint32_t* failed) {
    while (!pending_.empty()) {
      Pending p = std::move(pending_.front());
      pending_.pop_front();
      if (!p.announced) {
        Announce(p.index);
        archive_.lastError.clear();
        CheckEntry(archive_, p.index);  // passed when it started; sets the current sizes
      }
      int writeError = 0;
      const bool whole = ahead_.Finish(p.index, &writeError);
      bool damaged = !whole && writeError == 0;
      if (damaged) {
        const uint32_t next = pending_.empty() ? kAllFinished : pending_.front().index;
        AbandonFrom(0);
        CommitExtractedFile(archive_, *p.file, false, 0, &damaged);  // drops the partial file unnamed
        p.file.reset();
        if (archive_.Extract(p.index, destDir_) == nullptr) {
          *failed = p.index;
          return kFailed;
        }
        Extracted(p.index);
        if (next != kAllFinished) return next;
        continue;
      }
      errno = writeError;
      if (!CommitExtractedFile(archive_, *p.file, whole, writeError)) {
        *failed = p.index;
        return kFailed;
      }
      Extracted(p.index);
    }
    return kAllFinished;
  }

  // Drops the pending entries from position `from` on, the last first:
  // their writes stop and their fresh files go.
  void AbandonFrom(std::size_t from) {
    while (pending_.size() > from) {
      ahead_.Abandon(pending_.back().index);
      pending_.pop_back();
    }
  }

  VzrArchive& archive_;
  vzrops::ReadAhead& ahead_;
  const char* destDir_;
  const unsigned depth_;
  uint64_t* doneBytes_ = nullptr;
  std::deque<Pending> pending_;
};

// The read-ahead of an ExtractAll run, on a stream of its own: Extract may
// reopen the archive's stream while the workers read.
struct ExtractReadAhead {
  vzrfs::UniqueFile stream;
  std::unique_ptr<vzrops::ReadAhead> ahead;
};

ExtractReadAhead StartReadAhead(const VzrArchive& archive) {
  ExtractReadAhead r;
  uint64_t length = 0;
  r.stream.reset(vzrfs::OpenRead(archive.vzr_file_name, &length));
  if (!r.stream) return r;
  std::vector<vzrops::StoredForm> forms;
  forms.reserve(archive.FileIndex.count);
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    forms.push_back({e.fileOffset, e.compSize, e.fileSize});
  }
  std::FILE* file = r.stream.get();
  r.ahead = std::make_unique<vzrops::ReadAhead>(
      [file](uint64_t offset, void* to, std::size_t n) { return vzrfs::ReadAtOffset(file, offset, to, n); }, length,
      std::move(forms), archive.readAheadThreads,
      [](vzrfs::PositionalFile& out, uint64_t offset, const void* data, std::size_t n) {
        return vzrfs::WriteAt(out, offset, data, n);
      });
  return r;
}

}  // namespace

unsigned char* VzrArchive::ExtractByName(const char* name, const char* destDir) {
  lastError.clear();
  TraceLog("EXTRACTING BY NAME: ", name);
  const std::size_t length = name ? std::strlen(name) : 0;
  for (uint32_t i = 0; name && i < FileIndex.count; ++i) {
    const FileEntry& e = FileIndex.files[i];
    if (e.nameLength == length && vzrfs::EqualsIgnoringCase(std::string_view(e.name, length), name))
      return Extract(i, destDir);
  }
  vzrops::TraceFailure(lastError, 1, name ? name : "", 0, "  ERROR! Could not ExtractByName: ", name,
                       "\n\tName Not found!");
  return nullptr;
}

int VzrArchive::ExtractAll(const char* destDir) {
  lastError.clear();
  if (!destDir) {
    vzrops::SetError(lastError, 2, "", 0, "no destination folder");
    return 2;
  }
  // Extract changes the current directory; a relative destination must keep
  // naming the folder the caller meant for every entry.
  const std::string destination = vzrops::AbsolutePath(destDir);
  if (OpenArchiveStream() != 0) {
    vzrops::TraceFailure(lastError, 3, "", errno, "ERROR! Could not open .vzr file");
    return 3;
  }
  const uint32_t unpackedSizeMB = totalSize / vzr::kBytesPerMiB;
  TraceLog("unpackedSize_MB: ", unpackedSizeMB);
  const uint64_t required = uint64_t(unpackedSizeMB) + 16;
  const uint32_t free = GetFreeDiskSpaceMB(destination.c_str());
  if (required > free) {
    vzrops::TraceFailure(lastError, 7, "", ENOSPC, "ERROR! Not enough free disk space. Requires:", required,
                         " has free: ", free);
    CloseArchiveStream();
    return 7;
  }
  int result = 0;
  ExtractSessionScope session(destination, vzrops::AbsolutePath(vzr_file_name));
  const ExtractReadAhead readAhead = readAheadThreads > 0 && storageMode == vzr::kStorageSegmented
                                         ? StartReadAhead(*this)
                                         : ExtractReadAhead{};
  uint64_t doneBytes = 0;
  const auto failAt = [this, &result](uint32_t i) {
    // The entry's own reason stays on the record; this closing line names none.
    TraceLog("ERROR! Could not extract file!");
    lastError.code = 5;
    if (lastError.entry.empty()) lastError.entry = FileIndex.files[i].name;
    result = 5;
  };
  if (readAhead.ahead) {
    uint32_t failed = 0;
    AheadExtraction extraction(*this, *readAhead.ahead, destination.c_str(), ReadThreads(readAheadThreads));
    if (!extraction.Run(doneBytes, &failed)) failAt(failed);
  } else {
    for (uint32_t i = 0; i < FileIndex.count; ++i) {
      const FileEntry& entry = FileIndex.files[i];
      GetStatusSink()->SetText(entry.name);
      ReportProgress({ProgressPhase::kExtracting, i, entry.name, doneBytes, totalSize});
      const bool extracted = storageMode == vzr::kStorageRaw ? ExtractRawToFile(*this, i, destination.c_str())
                                                             : Extract(i, destination.c_str()) != nullptr;
      if (!extracted) {
        failAt(i);
        break;
      }
      doneBytes += entry.fileSize;
      ReportProgress({ProgressPhase::kExtracted, i, entry.name, doneBytes, totalSize});
    }
  }
  CloseArchiveStream();
  return result;
}
