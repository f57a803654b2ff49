// vzrpack.h - the one door into the .vzr archive engine.
//
// Everything both programs need from the engine is declared here: the index
// records, the engine object, the status binding, the codec, the packer, the
// path checks and the mod-folder unpacker. The engine depends on nothing but
// the C++ standard library, reports outcomes through integer results, trace
// lines on standard output and an error record (VzrError), and throws no
// exceptions of its own. What only the engine's own files share is in its
// internal headers (*_internal.h, and the compressor's compressor.h,
// compress_levels.h and segmentwriter.h, indexparse.h); fileservices.h and
// paths.h are the platform layer every part may use, format.h the format's
// numbers, entryreader.h random access to entries, trace.h the trace channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Index records

// One index entry. A plain record, copied bytewise; a blank entry is all zero.
struct FileEntry {
  uint32_t nameLength = 0;  // bytes of name, without the terminator
  char name[260] = {};      // '/'-separated path inside the archive, NUL-terminated
  uint32_t compSize = 0;    // bytes of the stored form in the data area
  uint32_t fileSize = 0;    // bytes of content
  uint32_t fileOffset = 0;  // absolute offset of the stored form
};

// The index of one archive. `files` may hold more (blank) elements than
// `count`; files[0] .. files[count-1] are the entries in index order.
// Element access is unchecked: callers compare an index with `count` first.
struct FileIndex {
  std::vector<FileEntry> files;
  uint32_t count = 0;

  // Copies the entry to the end of the valid entries and adds 1 to count.
  void append(const FileEntry& entry);
  // Sizes the storage to n elements (new ones blank); count is not touched.
  void resize(uint32_t n);
  // Drops all storage; count becomes 0.
  void release();
};

// One segment of a segmented entry, as stored in its segment table.
struct SegmentRecord {
  uint32_t compLength = 0;    // bytes of this segment's stream
  uint32_t rawLength = 0;     // content bytes it decodes to
  uint32_t streamOffset = 0;  // start of the stream, from the start of the stream area
};

// The file paths a directory walk collects: every string back to back in one
// character array, with start and length arrays beside it. Each array grows to
// twice its length plus 2 when full.
class PackNameList {
 public:
  PackNameList();
  ~PackNameList();
  PackNameList(const PackNameList&) = delete;
  PackNameList& operator=(const PackNameList&) = delete;

  // Appends a copy of s; returns the number of strings after the append.
  uint32_t Append(const char* s);
  // String i, or nullptr when i >= Count().
  const char* Get(uint32_t i) const;
  uint32_t Count() const;
  // Forgets every string (storage is kept).
  void Clear();

  // Capacities, for callers that want to see the growth rule at work.
  uint32_t CharacterCapacity() const;
  uint32_t EntryCapacity() const;

 private:
  struct Arrays;
  std::unique_ptr<Arrays> arrays_;
};

// ---------------------------------------------------------------------------
// Diagnostics: status line, checkpoints

// The window a status sink refreshes: copy its fields into its controls, and
// repaint at once so that progress shows during a long command.
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;
  virtual void PushFieldsToControls() = 0;
  virtual void RepaintNow() = 0;
};

// The process's status binding. Either member may be unset: an unbound sink
// drops texts and repaints silently.
class StatusSink {
 public:
  std::string* text = nullptr;
  StatusWindow* window = nullptr;
  // Assigns s to the bound text, then has the window push its fields.
  void SetText(const char* s);
  // Repaints the bound window at once.
  void Repaint();
};

// The application installs its one sink at start-up (nullptr uninstalls it).
void SetStatusSink(StatusSink* sink);
// The installed sink, or an unbound one; never null.
StatusSink* GetStatusSink();

// Where trace lines go: each complete line, without its line break. Standard
// output (written and flushed line by line) while no sink is set; an empty
// function restores that.
using TraceSink = std::function<void(const std::string& line)>;
void SetTraceSink(TraceSink sink);

// Last checkpoint passed; the programs' error boxes show it.
extern int32_t CodePosition;

// The engine object of the directory pack that is running, if any.
extern class VzrArchive* CurrentPackArchive;

// ---------------------------------------------------------------------------
// Errors as values

// The reason an operation failed, kept beside its integer result and trace
// lines so that callers report it without reading trace text. `code` is the
// operation's own result code (0 while nothing failed); operations that
// return none record 1 (Extract, ExtractByName, a damaged index in LoadIndex)
// or 2 (LoadIndex of a file that cannot be opened). `message` is the reason
// the failure's trace line gives, or its status text where it writes none.
struct VzrError {
  int code = 0;           // the failing operation's result code
  std::string entry;      // the entry (or source file) concerned, if any
  int sysError = 0;       // errno of the system call that failed, if any
  std::string message;    // the reason in words, without any "ERROR! " prefix

  bool failed() const { return code != 0 || !message.empty(); }
  void clear() { *this = VzrError{}; }
};

// The last error of the free operations (PackDirectory, PackModFolder,
// tavMoveFile, unpackVzrFiles, RecompressArchive, ...) on this thread.
// Each such operation clears it when it starts.
VzrError& LastEngineError();

// ---------------------------------------------------------------------------
// Files a pack could not store as they were

// A source file (or folder) that a pack left out, or stored although it
// changed while it was read. The trace lines of each case stay; this list is
// what the programs show the user.
struct PackNotice {
  std::string path;     // the source file or folder, as the pack named it
  std::string reason;   // why, in words ("Permission denied", "file changed as we read it", ...)
  bool stored = false;  // true: in the archive all the same (it changed while it was read)
};

// What the last PackDirectory, PackModFolder or their compressed forms on
// this thread left out or stored changed, in walk order. Each pack clears it
// when it starts.
std::vector<PackNotice>& LastPackNotices();

// The notices as the windows show them: a first line saying what happened,
// then "path: reason" lines, at most maxLines of them and then a line that
// counts the rest.
std::string PackNoticesText(const std::vector<PackNotice>& notices, std::size_t maxLines);

// Why the file at path cannot be stored as an entry whose name is
// nameLength characters long ("" when it can): a name too long for the
// index, a backslash in its own name (archive names read it as a folder
// separator), a dangling link, no plain file, 4 GiB or more, or no read
// permission (the system's own text).
std::string SourceFileProblem(const char* path, std::size_t nameLength);

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

// ---------------------------------------------------------------------------
// Free functions

// Decodes a segmented stored form into out. Returns the bytes written over all
// segments, or 0 on failure. Never reads outside stored[0, storedLength) nor
// writes outside out[0, outCapacity); allocates nothing. Bytes of out after
// the result (up to outCapacity) may have been used as scratch. Throws nothing.
int32_t Decompression(const unsigned char* stored, uint32_t storedLength, unsigned char* out,
                      uint32_t outCapacity);

// The largest stream CompressSegment can write for a segment of n bytes (n <= 32768).
uint32_t CompressBound(uint32_t n);
// Compresses in[0..n) (n <= 32768) into one stream of the segment format at the given
// level (0..9). Returns the stream's length, or 0 when outCapacity is too small or n is
// out of range. Reads only in[0..n), writes only out[0..result).
uint32_t CompressSegment(const unsigned char* in, uint32_t n, unsigned char* out, uint32_t outCapacity, int level);

// The level a compressed pack uses when none is given.
inline constexpr int kDefaultCompressionLevel = 6;

// A new segmented archive at level 0..9; result and status as PackDirectory.
int PackDirectoryCompressed(char* sourceDir, char* basePath, const char* archivePath, int level, unsigned threads);
// As PackModFolder(name, 1), compressing at level; "sound" and "music" are still forced raw.
int PackModFolderCompressed(const char* name, int level, unsigned threads);
// Rewrites the archive atomically: segmented at level 0..9, or raw when level < 0. 0 done,
// 1 not done (the archive as it was, the reason on LastEngineError()).
int RecompressArchive(const char* path, int level, unsigned threads);

// Free space available to the user on directory's volume, in whole MiB; 0 on failure.
uint32_t GetFreeDiskSpaceMB(const char* directory);

// Packs sourceDir into a new raw archive at archivePath, every entry name
// starting with basePath (normalised in place; "" gives a leading '/', a null
// basePath no prefix at all). Returns the entries written,
// or 1 when the pack stopped early; the status line carries the outcome and
// LastEngineError() the reason. An archive is left at archivePath only when
// whole: a failed pack keeps the one that was there, or leaves none.
int PackDirectory(char* sourceDir, char* basePath, const char* archivePath, int compress);
// Packs "../name" into "name.vzr" under the base path name ("sound" and
// "music" always raw). Returns 0; the status line and LastEngineError() tell
// the outcome.
int PackModFolder(const char* name, int compress);

// Moves src onto dst, replacing it; falls back to a copy through a new file
// beside dst, so dst is never left half written. 1 moved, 0 copied with src
// kept (or nothing done), 2-5 a failed copy (dst as it was).
int tavMoveFile(const char* src, const char* dst);

// Path checks for the pack dialog.
// A-Z as a-z in place, in the first 512 characters.
void MakeLowerCase(char* text);
// 1 when text holds a control character, a byte above 'z' or one of " * : < > ?
// (a drive's ':' is allowed as the second character when allowDrive is 1), else 0.
int HasIllegalChars(const char* text, int allowDrive);
// Turns '\' into '/' in both paths in place, letter case kept. 2 when the
// archive would lie inside the source folder, 3 when a path holds an illegal
// character, else 0 (the reason also on LastEngineError()).
int CheckPackPaths(char* strDirSource, char* strVzrName);
// The path below the destination that extraction writes entry `name` to
// ('\' read as '/', leading '/' dropped), or "" when extraction refuses the
// name (a drive, a ".." component, a trailing '/', nothing left).
std::string ExtractionPath(const char* name);

// Extracts every archive matching pattern into destination. 0 on success,
// else the first failing ExtractAll code (that archive's reason on
// LastEngineError()), 3 when a path is too long, or 2 when the walk failed.
int unpackVzrFiles(char* pattern, VzrArchive* archive, const char* destination);
