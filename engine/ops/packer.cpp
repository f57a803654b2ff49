// packer.cpp - packing a directory tree into a new raw archive.
//
// The pack walks the tree, checks that the archive fits the format's 32-bit
// offsets and the disk, writes the header with placeholders, every file and
// the index, and patches the header last. An archive is only left on disk
// when every byte of it was written; a failed write deletes it.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "paths.h"
#include "replacementfile_internal.h"
#include "trace.h"
#include "ops.h"

namespace {

// The engine object of the running pack; CurrentPackArchive points at it.
// It stays after a pack that stopped early, until the next pack replaces it.
std::unique_ptr<VzrArchive> g_packArchive;
// Sum of the listed sizes in 64 bits: totalSize wraps at 4 GiB.
uint64_t g_listedBytes = 0;
// Where the next raw file goes in the archive. Raw files are copied to this
// offset without moving the archive stream, which is set here once after them.
uint64_t g_rawDataEnd = 0;
// Set when a file left bytes past g_rawDataEnd (it shrank while it was
// copied): the finished archive is then cut at its true end.
bool g_cutAtEnd = false;

constexpr char kProgressDigits[] = "0123456789";

using vzrfs::IsSeparator;
using vzrfs::ToSlashes;

void SetStatus(const char* text) { GetStatusSink()->SetText(text); }

std::string Formatted(const char* format, const char* argument) {
  std::vector<char> buffer(std::strlen(format) + std::strlen(argument) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, argument);
  return std::string(buffer.data());
}

// The folder whose free space counts: the archive path up to its last
// separator, or ".\" when it has none in a usable place.
std::string DestinationFolder(const char* archivePath) {
  std::string folder(archivePath);
  const std::size_t separator = folder.find_last_of("/\\");
  if (separator == std::string::npos || separator <= 1) return ".\\";
  folder.resize(separator);
  return folder;
}

// Bytes the archive will take if every listed file is stored as listed.
uint64_t PlannedArchiveBytes(const VzrArchive& pack) {
  uint64_t bytes = vzr::kHeaderSize + g_listedBytes + 4 + vzr::kTrailerSize;
  for (uint32_t i = 0; i < pack.packNames.Count(); ++i) {
    const std::size_t length = std::strlen(pack.packNames.Get(i));
    const std::size_t name = length > pack.srcPrefixLength ? length - pack.srcPrefixLength : 0;
    bytes += vzr::kIndexEntryFixedSize + pack.basePathLength + name;
  }
  return bytes;
}

std::string LeafName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Drops a collected path that is the archive about to be written: packing a
// folder into itself must not read the file it is truncating. Only a path
// with the archive's file name can be it, so only those are compared.
void DropArchiveFromNames(VzrArchive& pack, const char* archivePath) {
  const std::string archive = vzrfs::ArchiveTarget(archivePath);  // a link's file is the one replaced
  if (!vzrfs::UniqueFile(vzrfs::OpenRead(archive.c_str()))) return;  // no old archive to meet
  const std::string leaf = LeafName(archive);
  std::vector<std::string> kept;
  bool dropped = false;
  for (uint32_t i = 0; i < pack.packNames.Count(); ++i) {
    const std::string path = pack.packNames.Get(i);
    if (vzrfs::EqualsIgnoringCase(LeafName(path), leaf) && vzrfs::SameFile(path.c_str(), archive.c_str())) {
      TraceLog("Skipping the archive being written: ", path);
      dropped = true;
    } else {
      kept.push_back(path);
    }
  }
  if (!dropped) return;
  pack.packNames.Clear();
  for (const std::string& path : kept) pack.packNames.Append(path.c_str());
}

// Why a pack may not put its archive at target (no reason when it may):
// another writer holds the archive, it is a folder or too long a name, or
// the user may not write it (as `cp` refuses). The status shows the reason
// of a refusal the user can act on.
struct Refusal {
  std::string why;
  bool shown = false;
  int error = 0;
};
Refusal CannotReplace(const std::string& target, int lockResult) {
  if (lockResult == EWOULDBLOCK) return {"another program is writing the archive; nothing was changed", true, EWOULDBLOCK};
  if (vzrfs::KindOfError(lockResult) == vzrfs::ErrorKind::Busy)
    return {"the archive is in use by another program; nothing was changed", true, lockResult};
  vzrfs::NodeFacts facts;
  const std::size_t slash = target.rfind('/');
  const std::size_t leaf = target.size() - (slash == std::string::npos ? 0 : slash + 1);
  if (leaf > vzrfs::MaxNameLength()) return {vzrfs::ErrorText(ENAMETOOLONG), false, ENAMETOOLONG};
  if (!vzrfs::FactsOf(target, facts, false)) return {};
  if (facts.kind == vzrfs::NodeKind::Folder) return {vzrfs::ErrorText(EISDIR), false, EISDIR};
  if (facts.kind == vzrfs::NodeKind::Link) return {};  // a link that leads nowhere
  vzrfs::UniqueFile old(vzrfs::OpenRead(target.c_str()));
  const int forbidden = old ? vzrfs::MayReplace(old.get()) : EACCES;
  if (forbidden) return {vzrfs::ErrorText(forbidden), true, forbidden};
  return {};
}

// AddFile for a raw archive: the same checkpoint, trace lines and index
// entry, but the content goes from the file to the archive inside the kernel.
// Packing then needs no buffer as large as the largest file and copies no
// byte through this process.
void AddRawFile(VzrArchive& pack, const char* path) {
  CodePosition = 356;
  const std::size_t pathLength = std::strlen(path);
  const std::size_t skip = std::min<std::size_t>(pack.srcPrefixLength, pathLength);
  const std::size_t nameLength = pathLength - skip;
  if (vzrops::SkipOverlongName(pack, path)) return;
  uint64_t length = 0;
  vzrfs::UniqueFile input(vzrfs::OpenRead(path, &length));
  if (!input) {
    const int error = errno;
    TraceLog("ERROR! inputFile: ", path);
    vzrops::NotePackProblem(path, vzrops::OpenFailureReason(path, error));
    return;
  }
  if (length >= UINT32_MAX - vzr::kBufferGrowthMargin) {
    TraceLog("ERRROR! input file too big!: ", static_cast<uint32_t>(length));
    vzrops::NotePackProblem(path, vzrops::TooLargeReason(length));
    return;
  }
  vzrops::SourceStamp before;
  vzrops::StampOf(input.get(), before);
  FileEntry entry;
  entry.nameLength = static_cast<uint32_t>(nameLength);
  std::memcpy(entry.name, path + skip, nameLength);
  const uint64_t position = g_rawDataEnd;
  if (!vzrfs::CopyRangeAt(input.get(), 0, pack.vzrFileStream, position, length, pack.fileBuffer,
                          pack.fileBufferCapacity)) {
    // A file that shrank while it was copied is left out: the next file (or
    // the index) goes where its bytes began, and the archive is cut to its
    // end when it is finished. Any other failure fails the pack.
    vzrops::SourceStamp now;
    if (vzrops::StampOf(input.get(), now) && now.size < length) {
      TraceLog("ERROR! inputFile changed while it was read, skipped: ", path);
      vzrops::NotePackProblem(path, vzrops::kChangedWhileRead);
      g_cutAtEnd = true;
      return;
    }
    if (pack.writeError == 0) pack.writeError = vzrfs::LastWriteError() ? vzrfs::LastWriteError() : EIO;
    vzrops::TraceFailure(LastEngineError(), 1, path, pack.writeError, "ERROR! could not copy into the archive: ", path);
    return;
  }
  // A file that grew is stored at the size it had when it was opened, as
  // its bytes up to there were read; the user is told.
  if (vzrops::ChangedSince(input.get(), before)) vzrops::NotePackProblem(path, vzrops::kChangedWhileRead, true);
  g_rawDataEnd = position + length;
  entry.fileOffset = static_cast<uint32_t>(position);
  entry.compSize = entry.fileSize = static_cast<uint32_t>(length);
  pack.curLength = entry.fileSize;
  pack.FileIndex.append(entry);
}

void AddFiles(VzrArchive& pack, uint32_t first, uint32_t end) {
  for (uint32_t i = first; i < end && pack.writeError == 0; ++i) {
    if (pack.storageMode == vzr::kStorageRaw)
      AddRawFile(pack, pack.packNames.Get(i));
    else
      pack.AddFile(pack.packNames.Get(i));
  }
}

void RecordFailure(VzrArchive& pack) {
  if (pack.writeError == 0) pack.writeError = errno ? errno : EIO;
}

void RecordWrite(VzrArchive& pack, bool ok) {
  if (!ok) RecordFailure(pack);
}

// Every collected file, with progress in tenths.
void AddAllFiles(VzrArchive& pack) {
  const uint32_t n = pack.packNames.Count();
  const uint32_t step = n / 10;
  if (pack.storageMode == vzr::kStorageSegmented && pack.compressionLevel > 0) {
    // A compressed pack works ahead across files (packahead.cpp); the tenths
    // are told as the files are written, the same texts at the same files.
    // Level 0 has nothing to work ahead on: its streams are a copy and the
    // run codes, written by AddFile through the object's own buffers.
    vzrops::AddFilesCompressedAhead(pack, 0, n, [step](uint32_t i) {
      if (step > 0 && i % step == 0 && i / step < 10) {
        const char progress[] = {kProgressDigits[i / step], '0', ' ', '%', '\0'};
        SetStatus(progress);
      }
      if (step > 0 ? i % step == 0 : i == 0) GetStatusSink()->Repaint();
    });
    SetStatus("100 %");
    return;
  }
  if (step > 0) {
    for (uint32_t d = 0; d < 10; ++d) {
      const char progress[] = {kProgressDigits[d], '0', ' ', '%', '\0'};
      SetStatus(progress);
      GetStatusSink()->Repaint();
      AddFiles(pack, d * step, (d + 1) * step);
    }
  }
  GetStatusSink()->Repaint();
  AddFiles(pack, 10 * step, n);
  SetStatus("100 %");
}

// Every collected file, with the archive stream set after the raw copies.
void AddAllFilesAndSettle(VzrArchive& pack) {
  uint64_t start = 0;
  if (!vzrfs::Tell(pack.vzrFileStream, start)) RecordFailure(pack);
  g_rawDataEnd = start;
  pack.FileIndex.files.reserve(pack.packNames.Count());
  AddAllFiles(pack);
  if (pack.storageMode == vzr::kStorageRaw && !vzrfs::Seek(pack.vzrFileStream, g_rawDataEnd)) RecordFailure(pack);
}


void WriteWord(VzrArchive& pack, uint32_t value) {
  unsigned char bytes[4];
  vzr::WriteLE32(bytes, value);
  RecordWrite(pack, vzrfs::Write(pack.vzrFileStream, bytes, sizeof bytes));
}

void WriteHeaderPlaceholders(VzrArchive& pack) {
  WriteWord(pack, 0);
  WriteWord(pack, vzr::kStorageSegmented);
  RecordWrite(pack, vzrfs::Write(pack.vzrFileStream, vzr::kFixedBlock.bytes, vzr::kFixedBlockSize));
}

// Index, trailer and the header's two words. False when the archive's end
// lies beyond what 32-bit offsets can address.
bool FinishArchive(VzrArchive& pack) {
  uint64_t position = 0;
  if (!vzrfs::Tell(pack.vzrFileStream, position) || position > UINT32_MAX) return false;
  pack.indexOffset = static_cast<uint32_t>(position);
  CodePosition = 1112;
  pack.WriteIndex();
  CodePosition = 1114;
  WriteWord(pack, 0);
  if (!vzrfs::Tell(pack.vzrFileStream, position) || position > UINT32_MAX) return false;
  if (g_cutAtEnd)
    RecordWrite(pack, vzrfs::Truncate(pack.vzrFileStream, position));
  RecordWrite(pack, vzrfs::Seek(pack.vzrFileStream, 0));
  WriteWord(pack, pack.indexOffset);
  WriteWord(pack, pack.storageMode);
  return true;
}

}  // namespace

namespace {

// Collects the plain files among the matches of one listing.
void AddListedFiles(const std::string& prefix, const std::vector<vzrfs::FindEntry>& matches) {
  VzrArchive* pack = CurrentPackArchive;
  if (!pack) return;
  for (const vzrfs::FindEntry& entry : matches) {
    if (entry.isDirectory) continue;
    const std::string path = prefix + entry.name;
    // Opening a named pipe would wait for a writer for ever; a device or
    // socket holds no file content either.
    if (entry.isSpecial) {
      TraceLog("ERROR! not a plain file, skipped: ", path);
      vzrops::NotePackProblem(path, "not a plain file (a pipe, socket or device)");
      continue;
    }
    if (path.size() >= vzr::kPathBufferSize) {
      TraceLog("ERROR! path too long, skipped: ", path);
      vzrops::NotePackProblem(path, "path longer than " + std::to_string(vzr::kPathBufferSize - 1) + " characters");
      continue;
    }
    // Archive names read a backslash as a folder separator: the file could
    // be neither opened under that name nor extracted as itself.
    if (entry.name.find('\\') != std::string::npos) {
      TraceLog("ERROR! inputFile: ", path);
      vzrops::NotePackProblem(path, SourceFileProblem(path.c_str(), 0));
      continue;
    }
    pack->packNames.Append(path.c_str());
    pack->totalSize += entry.size;
    g_listedBytes += entry.size;
  }
}

}  // namespace

void AddFilesInDir(const char* pattern) {
  CodePosition = 656;
  AddListedFiles(std::string(pattern, std::strcspn(pattern, "*")), vzrfs::FindMatches(pattern));
}

namespace {
// The folders from the walk's start down to the one being listed, by
// identity: a link to one of them would repeat the tree below it until
// the path grew too long.
struct FolderId {
  uint64_t device, inode;
};
std::vector<FolderId> g_walkPath;

bool OnWalkPath(const vzrfs::FindEntry& entry) {
  for (const FolderId& f : g_walkPath)
    if (entry.inode != 0 && f.device == entry.device && f.inode == entry.inode) return true;
  return false;
}

// The walk's start, looked up once per walk.
struct WalkStart {
  explicit WalkStart(const char* dir) {
    vzrfs::NodeFacts facts;
    g_walkPath.clear();
    if (vzrfs::FactsOf(std::strlen(dir) < 2 ? "." : vzrfs::ResolvePath(dir), facts))
      g_walkPath.push_back({facts.device, facts.inode});
  }
  ~WalkStart() { g_walkPath.clear(); }
};
}  // namespace

void WalkDirectory(const char* dir) {
  CodePosition = 709;
  std::string pattern;
  if (std::strlen(dir) < 2) {
    pattern = "*";
  } else {
    pattern = vzrfs::WithSlashes(dir);
    pattern += pattern.back() == '/' ? "*" : "/*";
  }
  if (pattern.size() >= vzr::kPathBufferSize) {
    TraceLog("ERROR! path too long, skipped: ", pattern);
    vzrops::NotePackProblem(dir, "folder left out: its path is too long to be listed");
    CodePosition = 779;
    return;
  }
  const std::string prefix = pattern.substr(0, pattern.size() - 1);
  // One listing serves both passes: the folder's own files first, then its
  // subfolders, depth first.
  const std::vector<vzrfs::FindEntry> matches = vzrfs::FindMatches(pattern.c_str());
  CodePosition = 656;
  AddListedFiles(prefix, matches);
  for (const vzrfs::FindEntry& entry : matches) {
    if (!entry.isDirectory || entry.name == "." || entry.name == "..") continue;
    const std::string child = prefix + entry.name;
    // Room for the "/*" of the child's own pattern: a longer path cannot be
    // held, and a link that loops back stops here too.
    if (child.size() + 2 >= vzr::kPathBufferSize) {
      TraceLog("ERROR! path too long, skipped: ", child);
      vzrops::NotePackProblem(child, "folder left out: its path of " + std::to_string(child.size()) +
                                         " characters is too long to be listed");
      continue;
    }
    if (entry.name.find('\\') != std::string::npos) {
      TraceLog("ERROR! inputFile: ", child);
      vzrops::NotePackProblem(child, "folder left out: its name holds a backslash, which archive names read as a "
                                     "folder separator");
      continue;
    }
    if (OnWalkPath(entry)) {
      TraceLog("ERROR! folder link leads back into the packed tree, skipped: ", child);
      continue;
    }
    g_walkPath.push_back({entry.device, entry.inode});
    WalkDirectory(child.c_str());
    g_walkPath.pop_back();
  }
  CodePosition = 779;
}

void VzrArchive::WriteIndex() {
  GetStatusSink()->SetText("Writing Index...");
  // The whole index is assembled first, at its exact size, and written at once.
  std::size_t size = 4;
  for (uint32_t i = 0; i < FileIndex.count; ++i)
    size += vzr::kIndexEntryFixedSize + basePathLength + FileIndex.files[i].nameLength;
  std::vector<unsigned char> index(size);
  unsigned char* at = index.data();
  auto put = [&at](uint32_t value) {
    vzr::WriteLE32(at, value);
    at += 4;
  };
  auto putBytes = [&at](const char* bytes, uint32_t n) {
    if (n != 0) std::memcpy(at, bytes, n);
    at += n;
  };
  put(FileIndex.count);
  for (uint32_t i = 0; i < FileIndex.count; ++i) {
    const FileEntry& e = FileIndex.files[i];
    put(basePathLength + e.nameLength);
    putBytes(basePath, basePathLength);
    putBytes(e.name, e.nameLength);
    put(e.compSize);
    put(e.fileSize);
    put(e.fileOffset);
    put(vzr::kReservedMarker);
    put(0);
    put(0);
  }
  if (!vzrfs::Write(vzrFileStream, index.data(), index.size()) && writeError == 0)
    writeError = errno ? errno : EIO;
}

namespace {

int PackDirectoryAs(char* sourceDir, char* basePath, const char* archivePath, uint32_t storageMode, int level,
                    unsigned threads);

}  // namespace

int PackDirectory(char* sourceDir, char* basePath, const char* archivePath, int /*compress*/) {
  return PackDirectoryAs(sourceDir, basePath, archivePath, vzr::kStorageRaw, 0, 0);
}

int PackDirectoryCompressed(char* sourceDir, char* basePath, const char* archivePath, int level, unsigned threads) {
  if (level < 0 || level > 9) {
    vzrops::SetError(LastEngineError(), 1, "", 0, "compression level " + std::to_string(level) + " is not 0..9");
    return 1;
  }
  return PackDirectoryAs(sourceDir, basePath, archivePath, vzr::kStorageSegmented, level, threads);
}

namespace {

int PackDirectoryAs(char* sourceDir, char* basePath, const char* archivePath, uint32_t storageMode, int level,
                    unsigned threads) {
  CodePosition = 821;
  VzrError& error = LastEngineError();
  error.clear();
  SetStatus("Packing...");
  g_packArchive.reset();
  g_packArchive = std::make_unique<VzrArchive>();
  CurrentPackArchive = g_packArchive.get();
  VzrArchive& pack = *g_packArchive;
  g_listedBytes = 0;
  g_cutAtEnd = false;
  LastPackNotices().clear();

  const std::size_t sourceLength = std::strlen(sourceDir);
  // A source shorter than two characters is the current directory, listed
  // by the bare pattern "*", whose paths carry no prefix.
  if (sourceLength < 2)
    pack.srcPrefixLength = 0;
  else
    pack.srcPrefixLength = static_cast<uint32_t>(sourceLength + (IsSeparator(sourceDir[sourceLength - 1]) ? 0 : 1));
  ToSlashes(sourceDir);

  // A null basePath packs the names as they stand below sourceDir; an empty
  // one, as the windows pass it, still gives every name a leading '/'.
  static char noBase[1] = {'\0'};
  std::size_t baseLength = 0;
  if (basePath) {
    baseLength = std::strlen(basePath);
    if (baseLength == 0 || !IsSeparator(basePath[baseLength - 1])) {
      basePath[baseLength++] = '/';
      basePath[baseLength] = '\0';
    }
    ToSlashes(basePath);
  } else {
    basePath = noBase;
  }
  pack.basePathLength = static_cast<uint32_t>(baseLength);
  pack.basePath = basePath;

  const WalkStart start(sourceDir);
  WalkDirectory(sourceDir);
  const uint32_t files = pack.packNames.Count();
  TraceLog("TotalFiles: ", files);
  TraceLog("  Uncompressed .vzr size (mb): ", pack.totalSize / vzr::kBytesPerMiB);
  const std::string destFolder = DestinationFolder(archivePath);
  TraceLog("tmpDestDirLoc: ", destFolder);

  if (files == 0) {
    vzrops::SetError(error, 1, "", 0, "No files to pack..");
    SetStatus("No files to pack..");
    return 1;
  }
  DropArchiveFromNames(pack, archivePath);
  const uint64_t planned = PlannedArchiveBytes(pack);
  if (planned > UINT32_MAX) {
    // The format's offsets are 32 bits: such an archive cannot be read back.
    vzrops::TraceFailure(error, 1, "", EFBIG, "ERROR! archive would be ", planned, " bytes, the .vzr format ends at 4 GB");
    SetStatus("Error! Too much data: a .vzr file cannot reach 4 GB!");
    return 1;
  }
  const uint64_t need = (g_listedBytes / vzr::kBytesPerMiB) * 2;
  if (need > GetFreeDiskSpaceMB(destFolder.c_str())) {
    vzrops::SetError(error, 1, "", ENOSPC, "Not enough free disk space!");
    SetStatus("Not enough free disk space!");
    TraceLog("  Free Disk Space (mb): ", GetFreeDiskSpaceMB(destFolder.c_str()));
    return 1;
  }

  // Nothing is created under the archive's name before the pack is whole:
  // the new file beside it proves the folder takes a file, and a kill leaves
  // at most that file. A link at the path is followed, so the real archive
  // is replaced and the link stays; a link that leads nowhere yet gets its
  // file created where it leads, unless no folder is there to hold it.
  const std::string target = vzrfs::ArchiveTarget(archivePath);
  vzrfs::ArchiveLock lock;
  const int locked = lock.Acquire(target.c_str());
  const Refusal refusal = CannotReplace(target, locked);
  vzrfs::ReplacementFile part;
  vzrfs::UniqueFile old(refusal.why.empty() ? vzrfs::OpenRead(target.c_str()) : nullptr);
  pack.vzrFileStream = refusal.why.empty() && part.CreateBeside(target) ? part.Stream() : nullptr;
  if (!pack.vzrFileStream) {
    std::string status = Formatted("Error! Could not create .vzr file: %s", archivePath);
    const int sysError = errno;
    if (!refusal.why.empty()) TraceLog("ERROR! ", refusal.why, ": ", archivePath);
    if (refusal.shown) status += " (" + refusal.why + ")";
    vzrops::SetError(error, 1, "", refusal.why.empty() ? sysError : refusal.error,
                     refusal.shown ? status.substr(7) : Formatted("Could not create .vzr file: %s", archivePath));
    SetStatus(status.c_str());
    return 1;
  }
  vzrfs::TakeOverModeAndOwner(pack.vzrFileStream, old.get());
  old.reset();
  pack.storageMode = storageMode;
  pack.compressionLevel = level;
  pack.compressionThreads = threads;
  pack.writeError = 0;
  WriteHeaderPlaceholders(pack);
  AddAllFilesAndSettle(pack);
  const bool addressable = pack.writeError == 0 && FinishArchive(pack);

  const int result = static_cast<int>(pack.FileIndex.count);
  CodePosition = 1128;
  vzrfs::ClearLastWriteError();
  const bool closed = part.Close();
  pack.vzrFileStream = nullptr;
  const int writeError = pack.writeError;
  g_packArchive.reset();
  CurrentPackArchive = nullptr;

  // An archive of no entries replaces nothing: an earlier one stays.
  const bool whole = writeError == 0 && closed && addressable;
  const bool moved = whole && result != 0 && part.CommitDurably();
  if (!moved) part.Discard();
  if (!whole || (result != 0 && !moved)) {
    // The source file whose copy failed, if that was it, stays named. A
    // failed close or commit (a flush on a full disk) has its reason too.
    const int why = writeError ? writeError : vzrfs::LastWriteError() ? vzrfs::LastWriteError() : EIO;
    vzrops::TraceFailure(error, 1, error.entry, why, "ERROR! writing .vzr file failed (", std::strerror(why), "): ",
                         archivePath);
    SetStatus(Formatted("Error! Could not write .vzr file: %s", archivePath).c_str());
    return 1;
  }
  char status[64];
  std::snprintf(status, sizeof status, "Files packed: %d", result);
  SetStatus(status);
  return result;
}

}  // namespace

namespace {

// The mod folder's archive: raw when level < 0 or when compress is 0.
void PackModFolderAt(const char* name, int compress, int level, unsigned threads) {
  CodePosition = 1162;
  SetStatus("Packing...");
  char source[vzr::kPathBufferSize];
  char base[vzr::kPathBufferSize];
  char archive[vzr::kPathBufferSize];
  std::snprintf(source, sizeof source, "../%s", name);
  std::snprintf(base, sizeof base - 1, "%s", name);  // room for the '/' the packer adds
  std::snprintf(archive, sizeof archive, "%s.vzr", name);
  if (compress != 0) {
    if (vzrfs::EqualsIgnoringCase(name, "sound")) {
      TraceLog("FORCING sound.vzr uncompressed");
      compress = 0;
    } else if (vzrfs::EqualsIgnoringCase(name, "music")) {
      TraceLog("FORCING music.vzr uncompressed");
      compress = 0;
    }
  }
  if (compress != 0 && level >= 0)
    PackDirectoryCompressed(source, base, archive, level, threads);
  else
    PackDirectory(source, base, archive, compress);
}

}  // namespace

int PackModFolder(const char* name, int compress) {
  PackModFolderAt(name, compress, -1, 0);
  return 0;
}

int PackModFolderCompressed(const char* name, int level, unsigned threads) {
  PackModFolderAt(name, 1, level, threads);
  return 0;
}
