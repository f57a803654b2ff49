// ops_internal.h - helpers shared by the extraction, packing, replacement and
// mod-folder unpacking sources; not part of the engine's public header.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "fileservices.h"
#include "paths.h"

class VzrArchive;
struct SegmentRecord;

namespace vzrops {

// path made absolute against the current directory (slashes only), so it
// keeps naming the same place after extraction changes the current directory.
inline std::string AbsolutePath(const char* path) {
  std::string p = vzrfs::WithSlashes(path);
  if (p.empty() || vzrfs::IsAbsolute(p)) return p;
  std::string cwd = vzrfs::GetCurrentDir();
  if (cwd.empty()) return p;
  if (cwd.back() != '/') cwd += '/';
  return cwd + p;
}

// Why a writer stops before it starts, from what ArchiveLock::Acquire gave:
// another writer holds the archive, or another program holds it open
// without sharing it (a game or an editor on Windows). Empty when neither.
inline std::string LockRefusal(int lockResult) {
  if (lockResult == EWOULDBLOCK) return "another program is writing the archive; nothing was changed";
  if (vzrfs::KindOfError(lockResult) == vzrfs::ErrorKind::Busy)
    return "the archive is in use by another program; nothing was changed";
  return std::string();
}

// Appends the index record of a new entry (unless replacing) for path and
// writes its stored form at the archive stream's position: in a segmented
// archive the count, the table of `count` records and the streams in
// data[0..dataBytes) (count 0: the empty file's form); in a raw one
// data[0..dataBytes) as it is. Write failures land in writeError.
void WriteEncodedEntry(VzrArchive& a, const char* path, uint32_t fileSize, const SegmentRecord* records,
                       uint32_t count, const unsigned char* data, uint32_t dataBytes, bool replacing);

// Adds the collected files packNames[first..end) to a segmented pack,
// compressing ahead across files on the pack's compressionThreads; the
// entries and their bytes are those AddFile writes one file at a time.
// beforeEntry(i) runs on the calling thread just before file i is written,
// afterEntry(i, entries) just after (entries: the index's count before it).
void AddFilesCompressedAhead(VzrArchive& pack, uint32_t first, uint32_t end,
                             const std::function<void(uint32_t i)>& beforeEntry,
                             const std::function<void(uint32_t i, uint32_t entries)>& afterEntry);

// Length of the name the index will hold for path in pack: the base path,
// then the path after srcPrefixLength.
std::size_t EntryNameLength(const VzrArchive& pack, const char* path);
// The index cannot hold a longer name, and cutting it short would store the
// file under a name nobody chose: true (with a trace line naming the path)
// when path's index name would be too long.
bool RefuseOverlongName(const VzrArchive& pack, const char* path);
// RefuseOverlongName, and a refused file is named in LastPackNotices too.
bool SkipOverlongName(const VzrArchive& pack, const char* path);

// Records a file the running pack leaves out (or, with stored, keeps though
// it changed) in LastPackNotices.
void NotePackProblem(const std::string& path, const std::string& reason, bool stored = false);
// Why path could not be opened for reading, error being the failed open's
// errno: a dangling link is called so, anything else by the system's text.
std::string OpenFailureReason(const char* path, int error);
std::string TooLargeReason(uint64_t bytes);
inline constexpr const char* kChangedWhileRead = "file changed as we read it";

// Size and modification time of an open source file, to tell whether it
// changed while it was read.
struct SourceStamp {
  uint64_t size = 0;
  int64_t seconds = 0, nanoseconds = 0;
  bool operator==(const SourceStamp&) const = default;
};
// False when the file cannot be looked at.
bool StampOf(std::FILE* f, SourceStamp& stamp);
// True when the file's size or time now differ from before (or cannot be had).
bool ChangedSince(std::FILE* f, const SourceStamp& before);

}  // namespace vzrops

// Directory walk of the packer (they reach the pack through CurrentPackArchive).
void WalkDirectory(const char* dir);
void AddFilesInDir(const char* pattern);
