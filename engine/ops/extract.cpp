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

// Writes the curLength bytes of fileBuffer as entry `name` below destDir,
// creating its folders; the current directory is left at destDir.
bool WriteExtractedFile(VzrArchive& archive, const char* name, const char* destDir, const ContentWriter& writeContent,
                        const bool* abandoned) {
  // Each failure writes its trace line and names the entry on the record.
  const auto fail = [&archive, name](int sysError, const char* text) {
    vzrops::TraceFailure(archive.lastError, 1, name, sysError, text, name);
  };
  bool hadLeadingSlash = false;
  const std::string path = SafeRelativeName(name, hadLeadingSlash);
  if (path.empty()) {
    fail(0, "ERROR! Extract() refused entry name outside the destination: ");
    return false;
  }
  if (vzrfs::RefusesWindowsNames()) {
    // The one leading '/' an empty base path gives every name of a pack is
    // dropped below, as elsewhere; the other rooted forms are refused.
    std::string_view checked = name;
    if (checked.size() >= 2 && checked[0] == '/' && checked[1] != '/' && checked[1] != '\\') checked.remove_prefix(1);
    if (const std::string problem = vzrfs::WindowsNameProblem(vzrfs::WithSlashes(std::string(checked)));
        !problem.empty()) {
      fail(0, ("ERROR! Extract() refused entry name Windows cannot hold (" + problem + "): ").c_str());
      return false;
    }
  }
  if (hadLeadingSlash && g_slashNoteArchive != archive.vzr_file_name) {
    g_slashNoteArchive = archive.vzr_file_name;
    TraceLog("Extract(): removing leading '/' from entry names, first: ", name);
  }
  ExtractSession* session = g_session.Covers(destDir) ? &g_session : nullptr;
  const std::string archivePath = session ? session->ArchivePath() : vzrops::AbsolutePath(archive.vzr_file_name);
  if (!session || !session->inDestination) {
    if (!vzrfs::SetCurrentDir(destDir)) {
      fail(errno, "ERROR! Could not write file: ");
      return false;
    }
    if (session) session->inDestination = true;
  }
  const std::size_t lastSlash = path.rfind('/');
  const std::string parent = lastSlash == std::string::npos ? std::string() : path.substr(0, lastSlash);
  const std::string leaf = path.substr(lastSlash == std::string::npos ? 0 : lastSlash + 1);
  // A link where a folder of the name stands could send the new folders and
  // the file elsewhere: such an entry is refused before anything is made. A
  // run looks at each folder as it resolves it (a link there is no folder to
  // it), and a link planted since stops the entry when its folder is opened
  // (nothing is made through a link: folders are made in their parent opened
  // without following links).
  if (!session && !parent.empty() && vzrfs::HasLinkComponent(vzrfs::ResolvePath(parent.c_str()))) {
    fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
    return false;
  }
  const std::string folder = parent.empty() ? std::string() : EntryFolder(session, path, parent);
  CodePosition = 1498;
  // The target as it is found without regard to case; only a file that is
  // there already can be the archive itself or be read-only.
  bool exists = false;
  std::string target;
  if (session) {
    target = session->Find(folder, leaf, exists, true);
  } else {
    // The folders are found without regard to case, the file only as named.
    target = folder.empty() ? leaf : folder + '/' + leaf;
    vzrfs::NodeFacts facts;
    exists = vzrfs::FactsOf(target, facts, false);
  }
  if (exists && vzrfs::SameFile(target.c_str(), archivePath.c_str())) {
    fail(0, "ERROR! Extract() refused to overwrite the archive being read: ");
    return false;
  }
  if (exists && std::any_of(archive.keptIntact.begin(), archive.keptIntact.end(), [&target](const std::string& kept) {
        return vzrfs::SameFile(target.c_str(), kept.c_str());
      })) {
    fail(0, "ERROR! Extract() refused to overwrite an archive being unpacked: ");
    return false;
  }

  // The file is made in its folder opened without following any link, under
  // a fresh name beside the entry's, and renamed over the name only when
  // whole: a link planted on the way, even during extraction, redirects
  // nothing, and a kill never leaves a partial file under the entry's name.
  const std::size_t cut = target.rfind('/');
  const std::string targetFolder = cut == std::string::npos ? std::string() : target.substr(0, cut);
  const std::string targetLeaf = cut == std::string::npos ? target : target.substr(cut + 1);
  vzrfs::Folder ownFolder;  // the session keeps its own
  const vzrfs::Folder* dir = nullptr;
  if (session) {
    dir = session->OpenedFolder(targetFolder);
  } else {
    ownFolder = vzrfs::OpenFolderNoFollow(targetFolder);
    if (ownFolder) dir = &ownFolder;
  }
  // A name found there already is looked at now; a new one is placed only
  // where nothing stands, so a link that appears meanwhile is found then.
  const auto refuseLink = [&fail] {
    fail(0, "ERROR! Extract() refused to write through a symbolic link: ");
    return false;
  };
  if (!dir) {
    const int openError = errno;
    // A folder of the name that is a file (another entry's, say) is no link.
    if (vzrfs::HasLinkComponent(vzrfs::ResolvePath(targetFolder.c_str()))) return refuseLink();
    fail(openError, "ERROR! Could not write file: ");
    return false;
  }
  if (exists && vzrfs::IsLinkAt(*dir, targetLeaf)) return refuseLink();
  // Until it is renamed, the new file goes again on every way out (its
  // registration borrows dir, which outlives it).
  vzrfs::ReplacementFile part;
  bool placed = false;
  try {
    if (exists) vzrfs::MakeWritable(target.c_str());
    if (!part.CreateBesideAt(*dir, targetLeaf)) {
      fail(errno, "ERROR! Could not write file: ");
      return false;
    }
    const bool written = writeContent(part.File());
    const int writeError = errno;
    const bool closed = part.Close();
    if (!written && abandoned && *abandoned) return false;
    if (!written || !closed) {
      // A short file under the entry's name would pass for the real one.
      fail(written ? errno : writeError, "ERROR! Could not write: ");
      return false;
    }
    placed = part.CommitAt(exists);
    if (!placed && !exists && errno == EEXIST) {
      if (vzrfs::IsLinkAt(*dir, targetLeaf)) return refuseLink();
      placed = part.CommitAt(true);  // a file made meanwhile: replaced, as a found one is
    }
  } catch (const std::exception&) {
    fail(0, "ERROR! Could not write: ");
    return false;
  }
  if (!placed) {
    fail(errno, "ERROR! Could not write file: ");
    return false;
  }
  if (session && !exists) session->Added(folder, leaf);
  return true;
}

// Extract of a segmented entry whose segments are decoded ahead: the same
// checks, trace lines and file as Extract, without a buffer the size of the
// entry. An entry the read-ahead cannot vouch for (a table the format does
// not allow, a segment that does not decode alone) goes to Extract, which
// meets its damage and reports it as it always has; one found damaged while
// it is written is dropped unnamed and goes there too.
bool ExtractAhead(VzrArchive& archive, vzrops::ReadAhead& ahead, uint32_t index, const char* destDir) {
  if (!ahead.Sound(index)) return archive.Extract(index, destDir) != nullptr;
  archive.lastError.clear();
  if (!CheckEntry(archive, index)) return false;
  const FileEntry& e = archive.FileIndex.files[index];
  if (NameHoldsZero(archive, e)) return false;
  bool damaged = false;
  const auto writeSegments = [&](vzrfs::PositionalFile& out) {
    int writeError = 0;
    const bool whole = ahead.WriteOut(index, out, &writeError);
    damaged = !whole && writeError == 0;
    if (writeError != 0) errno = writeError;
    return whole;
  };
  if (WriteExtractedFile(archive, e.name, destDir, writeSegments, &damaged)) return true;
  return damaged && archive.Extract(index, destDir) != nullptr;
}

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
  for (uint32_t i = 0; i < FileIndex.count; ++i) {
    const FileEntry& entry = FileIndex.files[i];
    GetStatusSink()->SetText(entry.name);
    ReportProgress({ProgressPhase::kExtracting, i, entry.name, doneBytes, totalSize});
    const bool extracted = storageMode == vzr::kStorageRaw ? ExtractRawToFile(*this, i, destination.c_str())
                           : readAhead.ahead ? ExtractAhead(*this, *readAhead.ahead, i, destination.c_str())
                                             : Extract(i, destination.c_str()) != nullptr;
    if (!extracted) {
      // The entry's own reason stays on the record; this closing line names none.
      TraceLog("ERROR! Could not extract file!");
      lastError.code = 5;
      if (lastError.entry.empty()) lastError.entry = FileIndex.files[i].name;
      result = 5;
      break;
    }
    doneBytes += entry.fileSize;
    ReportProgress({ProgressPhase::kExtracted, i, entry.name, doneBytes, totalSize});
  }
  CloseArchiveStream();
  return result;
}
