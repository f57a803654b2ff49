// archive.h - the engine object: one opened archive or one pack, its index,
// buffers and the operations on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "core.h"

// ---------------------------------------------------------------------------
// The engine object

class VzrArchive {
 public:
  VzrArchive();
  ~VzrArchive();
  VzrArchive(const VzrArchive&) = delete;
  VzrArchive& operator=(const VzrArchive&) = delete;

  uint32_t storageMode = 0;      // 1: every entry segmented; 0: every entry raw
  char vzr_file_name[512] = {};  // the archive's path
  uint32_t archiveLength = 0;    // measured by LoadIndex
  ::FileIndex FileIndex;
  uint32_t totalSize = 0;        // sum of fileSize (loaded) or of listed sizes (packing); wraps
  uint32_t indexOffset = 0;
  // Set by LoadIndex when the header or the index could not be read whole
  // (a file too short for a header, an indexOffset at or past the end, an
  // index cut short or holding an impossible entry); FileIndex then holds
  // the entries before the damage. False after a clean load.
  bool indexDamaged = false;
  std::FILE* vzrFileStream = nullptr;  // the open archive stream, or null

  // Owned buffers. They only grow (through the Grow* calls below); each
  // capacity field records the size allocated.
  unsigned char* fileBuffer = nullptr;
  uint32_t fileBufferCapacity = 0;
  unsigned char* storeBuffer = nullptr;
  uint32_t storeBufferCapacity = 0;

  uint32_t curLength = 0;    // valid bytes in fileBuffer
  uint32_t storeLength = 0;  // compSize of the entry being extracted
  PackNameList packNames;
  uint32_t srcPrefixLength = 0;
  uint32_t basePathLength = 0;
  char* basePath = nullptr;  // not owned; set only while packing
  uint32_t segmentStart = 0;
  int32_t outPos = 0;
  uint32_t segmentCount = 0;
  std::vector<SegmentRecord> segments;  // table of the entry being encoded
  // Level of the segments WriteEntry writes in a segmented archive (0: the
  // literal-only stream) and the threads it may use for them (0: every core).
  int compressionLevel = 0;
  unsigned compressionThreads = 0;
  // Threads ExtractAll decodes a segmented archive's entries on, their
  // segments decoded ahead and written in order (0: none; each entry is
  // decoded whole on the calling thread, as the windows do it).
  unsigned readAheadThreads = 0;

  // The first write to the archive that failed or came up short, as an errno
  // value; 0 while every write succeeded. Writers check it before they claim
  // success.
  int writeError = 0;

  // Why the last operation on this object failed; cleared when one starts.
  VzrError lastError;

  // Files extraction refuses to write over, besides the archive being read:
  // the other archives of a mod unpacked into a folder that holds them, which
  // an entry of the same name would destroy before they are read.
  std::vector<std::string> keptIntact;

  // The archive file as LoadIndex read it (or as the last rewrite left it).
  // A rewrite refuses to replace a file that is no longer this one: another
  // program changed the archive since it was read.
  struct DiskIdentity {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtimeNs = 0;
    bool known = false;
  };
  DiskIdentity loadedFile;

  // Closes any held stream, opens vzr_file_name for binary reading.
  // 0 when open, 2 when it could not be opened (no stream is then held).
  int OpenArchiveStream();
  // Closes the held stream, if any, and clears the handle.
  void CloseArchiveStream();

  // Reads the header and the whole index of the archive at path (or of the
  // path already held when path is null). A damaged index keeps the entries
  // before the first damaged one; nothing is sized from an untrusted count.
  void LoadIndex(const char* path);

  // Decodes entry index into fileBuffer (and writes it under destDir when one
  // is given). Returns fileBuffer, with room for two more bytes after the
  // content, or nullptr on failure. Never writes outside destDir.
  unsigned char* Extract(uint32_t index, const char* destDir);
  // Extract of the first entry named name (letter case ignored); nullptr when none is.
  unsigned char* ExtractByName(const char* name, const char* destDir);
  // Writes every entry below destDir, stopping at the first that fails.
  // 0 done, 2 no destination, 3 archive not opened, 5 an entry failed (its
  // reason and name on lastError), 7 not enough free space. Never writes
  // outside destDir nor through a link; leaves the current directory there.
  int ExtractAll(const char* destDir);

  // Packing: reads one source file and writes it as an entry at the stream's
  // position; a file that cannot be read or named is skipped with a trace line.
  void AddFile(const char* path);
  // Writes the first `length` bytes of fileBuffer as an entry at the current
  // stream position; appends an index entry unless replacing.
  void WriteEntry(uint32_t length, const char* path, bool replacing);
  // Appends segment k's literal-only stream to storeBuffer at outPos; returns
  // the bytes appended.
  uint32_t EncodeSegment(uint32_t k);
  // Writes the literal-run length code for n bytes at storeBuffer[pos].
  void WriteRunLength(int32_t& pos, uint32_t n);
  // Writes the index at the current stream position; a failed write lands in writeError.
  void WriteIndex();

  // Gives entry inx the first fileSize bytes of fileBuffer, rewriting the
  // archive through a new file beside it. 0 updated, 1 not updated (the archive on
  // disk and FileIndex are then as they were; the reason on lastError).
  int AddReplaceFile(uint32_t inx, uint32_t fileSize);
  // As AddReplaceFile, with the content of the file at path, read a few
  // segments at a time: a file of any size needs no buffer of its size, and
  // one the format cannot hold is refused before anything is written.
  int ReplaceFromFile(uint32_t inx, const char* path);

  // In one rewrite of the archive as AddReplaceFile does it: drops the
  // entries whose indexes are in `removed`, then adds after the kept entries
  // one entry per element of `added`, holding that file's content. Refused
  // when an index is out of range or a new name is empty, too long for an
  // index name, given twice or already in the archive (letter case ignored)
  // and not dropped. 0 updated, 1 not (archive and FileIndex as they were,
  // the reason on lastError).
  struct NewEntry {
    std::string name;        // index name ('/'-separated)
    std::string sourcePath;  // file whose content it holds
  };
  int AddRemoveEntries(const std::vector<uint32_t>& removed, const std::vector<NewEntry>& added);

  // Buffer growth: replaces the buffer by one of exactly n bytes when its
  // capacity is below n (old contents are not kept). False when the memory
  // cannot be had; the old buffer then stays.
  bool GrowFileBuffer(uint32_t n);
  bool GrowStoreBuffer(uint32_t n);

 private:
  std::unique_ptr<unsigned char[]> fileBufferStorage_;
  std::unique_ptr<unsigned char[]> storeBufferStorage_;
};
