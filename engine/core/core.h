// core.h - the engine's shared records: index entries, segment records, the
// pack name list, the status binding, checkpoints, the trace channel's sink
// and errors as values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Index records

// One index entry. A plain record, copied bytewise; a blank entry is all zero.
struct FileEntry {
  uint32_t nameLength = 0;  // bytes of name, without the terminator
  char name[260];           // '/'-separated path inside the archive, NUL-terminated
  uint32_t compSize = 0;    // bytes of the stored form in the data area
  uint32_t fileSize = 0;    // bytes of content
  uint32_t fileOffset = 0;  // absolute offset of the stored form

  FileEntry() : name{} {}
  // An entry as an index holds it (length < sizeof name). Only the name's
  // bytes and its terminator are written: the rest of the field is never
  // read, and an index of 100,000 entries would otherwise write 27 MB.
  FileEntry(const char* text, uint32_t length, uint32_t stored, uint32_t size, uint32_t offset)
      : nameLength(length), compSize(stored), fileSize(size), fileOffset(offset) {
    std::memcpy(name, text, length);
    name[length] = '\0';
  }
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

// The engine object (archive/archive.h); the one of the pack that is running, if any.
class VzrArchive;
extern VzrArchive* CurrentPackArchive;

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
