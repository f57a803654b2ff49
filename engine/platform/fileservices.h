// fileservices.h - the file-system services the engine and both programs use.
// One door, two realisations: posix/ and win32/ beside this header, one of
// them built. Paths are UTF-8 on every system (a Windows build turns them
// into UTF-16 at each system call); errors are errno numbers on every
// system (a Windows build maps the system's own codes onto them), and
// KindOfError sorts them into the kinds a caller acts on.
//
// Paths may use '/' or '\' between components. A path that does not exist as
// written is resolved component by component without regard to letter case
// (an exact match first, else the first match in listing order), so archives
// and mods made on case-insensitive systems work unchanged.
//
// Every byte written to a file by the engine goes through Write or CopyRange,
// which count the writes and let a test inject a failure at any of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vzrfs {

// ---------------------------------------------------------------------------
// Handles and facts

// A handle of the system: a descriptor on POSIX, a HANDLE on Windows.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;
// Closes a handle of the system; false when the system reports a failure
// (on a file written to, a late write error).
bool CloseNativeHandle(NativeHandle handle);

// Owns one handle of the system and closes it when it goes. Move-only.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(NativeHandle handle) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, kNoHandle);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }

  bool Valid() const { return handle_ != kNoHandle; }
  explicit operator bool() const { return Valid(); }
  NativeHandle Native() const { return handle_; }
  // Closes now; false on a failure the system reports (closing none is success).
  bool Close() { return !Valid() || CloseNativeHandle(std::exchange(handle_, kNoHandle)); }

 private:
  NativeHandle handle_ = kNoHandle;
};

// A folder opened without following a link to it (see OpenFolderNoFollow).
// It keeps the path it was opened by, for the systems whose calls take one.
class Folder : public OwnedHandle {
 public:
  Folder() = default;
  Folder(NativeHandle handle, std::string path) : OwnedHandle(handle), path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A file read or written at explicit offsets, with no position of its own:
// the entry reader's archive, and each file extraction writes.
class PositionalFile : public OwnedHandle {
 public:
  using OwnedHandle::OwnedHandle;
};

// What a name leads to.
enum class NodeKind { Missing, File, Folder, Link, Other };
struct NodeFacts {
  NodeKind kind = NodeKind::Missing;
  uint64_t size = 0;
  uint64_t device = 0, inode = 0;  // identity (0 when unknown)
  int64_t modifiedSeconds = 0;     // last change of the content
  int32_t modifiedNanoseconds = 0;
  bool readOnly = false;  // the user may not write it
  uint32_t names = 0;     // hard links to it (0 when unknown)
};
// Facts of path (taken as written); followLinks false describes a link
// itself (a Windows reparse point counts as a link). False (errno set) when
// nothing is there.
bool FactsOf(const std::string& path, NodeFacts& facts, bool followLinks = true);
// Facts of the file an open stream reads or writes.
bool FactsOf(std::FILE* f, NodeFacts& facts);

// The kinds of failure callers act on, from an errno number.
enum class ErrorKind { None, NotFound, Exists, Busy, ChangedOnDisk, ReadOnly, NoSpace, NameTooLong, IsFolder, Other };
ErrorKind KindOfError(int error);
// The errno number of a file that changed on disk under a writer (ESTALE
// where the system has it).
extern const int kErrorChangedOnDisk;
// The longest name of one component the system's files may have, in bytes
// of UTF-8 (at least).
std::size_t MaxNameLength();
// The system's words for an errno number (or a mapped system code).
std::string ErrorText(int error);
// Whether extraction refuses the names Windows cannot hold
// (WindowsNameProblem): on Windows only.
bool RefusesWindowsNames();
// Whether path names a place without the current directory's help ("/..."
// on POSIX; "C:/...", "//server/..." and the like on Windows).
bool IsAbsolute(const std::string& path);

// One match of a directory search.
struct FindEntry {
  std::string name;          // at most 259 characters on the platforms we serve
  bool isDirectory = false;  // the directory attribute
  uint32_t size = 0;         // size in bytes, as a 32-bit number
  bool isSpecial = false;    // neither folder nor plain file: a pipe, socket or device
  uint64_t device = 0, inode = 0;  // identity of what the name leads to (0 when unknown)
};

// Case-insensitive wildcard match of a single name ('*' any run, '?' one char).
bool WildcardMatch(const char* pattern, const char* name);

// Lists the matches of a pattern "folder/part*" (or a bare "part*" for the
// current directory). A listing gives "." and ".." first when the pattern
// matches them, then the other matches sorted by name compared with a-z
// folded to upper case, ties broken by byte order, so every machine sees
// the same order. Empty when the folder cannot be read or nothing matches.
std::vector<FindEntry> FindMatches(const char* pattern);

// The same as a find-first / find-next / find-close handle.
class DirectorySearch {
 public:
  explicit DirectorySearch(const char* pattern);
  // False when nothing matched (find-first failed).
  bool Found() const { return !matches_.empty(); }
  // The next match, or nullptr when none is left.
  const FindEntry* Next();

 private:
  std::vector<FindEntry> matches_;
  std::size_t next_ = 0;
};

// Turns '\' into '/' and resolves every existing component without regard to
// case. Components past the first one that does not exist stay as written.
std::string ResolvePath(const char* path);

// Folder and current-directory services. Each reports failure by its result.
bool CreateFolder(const char* path);  // an existing folder is success
// Makes the folder exactly as written, without looking for a variant in
// another case: for a caller that knows none exists. An existing one fails.
// Made as CreateFolderNoFollow makes it.
bool CreateFolderAsWritten(const char* path);
std::string GetCurrentDir();
bool SetCurrentDir(const char* path);
bool MakeWritable(const char* path);  // a missing file is success
bool DeleteFile(const char* path);
bool MoveReplace(const char* src, const char* dst);
bool IsDirectory(const char* path);
bool FreeBytes(const char* directory, uint64_t& bytes);
// Two paths name the same existing file (same device and inode).
bool SameFile(const char* a, const char* b);

// Byte streams. The opened FILE* belongs to the caller (see FileCloser).
// OpenRead refuses a folder; length, when given, receives the file's size.
std::FILE* OpenRead(const char* path, uint64_t* length = nullptr);
std::FILE* OpenWrite(const char* path);  // create or truncate
// Creates a file that did not exist, in the folder of path, for a content
// that is to replace path once it is whole: named path + "." + six random
// letters or digits (a short "vzr.XXXXXX" when path's name is near the length
// limit), created exclusively, so no file of the user's is ever reused. Its
// name goes to tempPath (empty on failure).
std::FILE* CreateBeside(const char* path, std::string& tempPath);

// The one way an archive takes the place of another (packing, rewriting,
// the copy fallback of a move): flushes the finished file src to its device
// (a failed flush fails the whole replacement and leaves dst as it was),
// renames it over dst, then flushes dst's folder so the new name survives a
// power cut too. False when the flush or the rename failed (flushFailed,
// when given, tells which); src is then still there for the caller to
// delete. The fault hook is asked before the flush as before a write, so a
// test can make the flush fail.
bool ReplaceDurably(const char* src, const char* dst, bool* flushFailed = nullptr);
// Writers of an existing archive (every rewrite, a pack over an archive).
//
// The file an archive path leads to: links followed to the real file, whose
// folder the new copy is written in and which the rename replaces, so a link
// to an archive stays a link. A link that leads nowhere yet gives the name
// it leads to (a pack there creates the file, as a copy through the link
// would); a path that is no link, or links that go round, is given back
// resolved as it stands.
std::string ArchiveTarget(const char* path);

// What a writer saw of a file when it read it: a rewrite moves its copy
// over the archive only while the archive is still this one.
struct FileIdentity {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool IdentityOf(std::FILE* f, FileIdentity& identity);
bool IdentityOfPath(const char* path, FileIdentity& identity);  // links followed

// An exclusive advisory lock (flock) on the archive file itself, held by one
// writer over its whole read, rewrite and rename. The system drops it when
// the holder ends, however it ends, so a killed writer never blocks the
// next. The rename gives the archive a new inode: a writer that gets the
// lock on an inode the path no longer names takes the lock of the file that
// is there now. Locks of one process nest (a program that holds the lock
// while it reads calls the engine, which takes it again).
class ArchiveLock {
 public:
  ArchiveLock() = default;
  ~ArchiveLock() { Release(); }
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;

  // Waits up to ArchiveLockWaitMs for another writer to finish. 0 when held;
  // EWOULDBLOCK when another writer still held it; ENOENT when there is no
  // archive (nothing to lose); another errno when it cannot be opened.
  int Acquire(const char* path);
  void Release();

 private:
  int slot_ = -1;
};
// How long a writer waits for another one (5 s; tests shorten it).
int ArchiveLockWaitMs();
void SetArchiveLockWaitMs(int milliseconds);

// 0 when the user may replace the archive that f reads, else EACCES, as
// `cp` refuses to write over a file: a file the user may not write, and a
// file without its owner's write bit even for a superuser.
int MayReplace(std::FILE* archive);
// Gives the new file out the mode bits of the archive f reads and, where the
// process may (a superuser, or a group the user is in), its owner and group.
void TakeOverModeAndOwner(std::FILE* out, std::FILE* archive);

// Archives replaced in this process: ReplaceDurably counts each rename with
// every signal held, so a signal handler that sees a nonzero count knows the
// new archive is in place.
int ArchivesReplaced();

// Extraction without following links. Paths are relative to the current
// directory (or absolute) and taken as written.
// Whether a component of path that exists is a symbolic link.
bool HasLinkComponent(const std::string& path);
// Opens folder (empty: the current directory) component by component
// without following links, so no link on the way is followed; an invalid
// Folder when one is a link (or reparse point) or no folder.
Folder OpenFolderNoFollow(const std::string& folder);
// The folder name inside parent, opened the same way.
Folder OpenFolderAt(const Folder& parent, const std::string& name);
// A second handle of the open folder dir, for a holder that outlives the
// first; an invalid Folder (errno set) when the system refuses one.
Folder SameFolder(const Folder& dir);
// Makes the open folder dir the current directory (the same folder even if
// it was renamed meanwhile, where the system allows).
bool EnterFolder(const Folder& dir);
// Makes folder path (taken as written) in its parent opened by
// OpenFolderNoFollow, so no link on the way, even one planted a moment ago,
// leads the new folder elsewhere. With existingIsFine a folder (not a link)
// already there is success.
bool CreateFolderNoFollow(const std::string& path, bool existingIsFine);
// Whether name in the open folder dir is a symbolic link (or reparse point).
bool IsLinkAt(const Folder& dir, const std::string& name);
// Whether name in the open folder dir is a folder (a link is not).
bool IsFolderAt(const Folder& dir, const std::string& name);
// Makes folder name in the open folder dir; one already there fails.
bool CreateFolderAt(const Folder& dir, const std::string& name);
// As CreateBeside, in the open folder dir beside its entry leaf, giving the
// new file open for writing (invalid on failure); its name in that folder
// goes to tempName. The registration borrows dir: the caller renames or
// deletes the file before closing dir.
PositionalFile CreateBesideAt(const Folder& dir, const std::string& leaf, std::string& tempName);
// Renames from over to, both in the open folder dir; no link is followed.
// Without mayReplace, a name to that exists already (even one that appeared
// a moment ago) fails the rename with EEXIST and is left alone.
bool RenameAt(const Folder& dir, const std::string& from, const std::string& to, bool mayReplace = true);
void DeleteAt(const Folder& dir, const std::string& name);

// Temporary files an interruption must not leave behind. CreateBeside and
// CreateBesideAt register the file they create; DeleteFile, DeleteAt, and a
// successful RenameAt, MoveReplace or ReplaceDurably of it release it. A
// program's signal handler calls RemoveTemporaries, which deletes every file
// still registered with async-signal-safe calls only: each of a few fixed
// slots holds the file's name in a buffer and a descriptor of its folder.
// When every slot is taken, a new file simply goes unregistered.
// RegisterTemporary and ReleaseTemporary are for a file made another way.
void RegisterTemporary(const char* path);
void ReleaseTemporary(const char* path);
void RemoveTemporaries();

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Checked I/O. Each returns true only when every byte moved.
bool Read(std::FILE* f, void* data, std::size_t n);
std::size_t ReadSome(std::FILE* f, void* data, std::size_t n);  // bytes read
bool Write(std::FILE* f, const void* data, std::size_t n);
// Writes the pieces back to back at f's position as one Write of them all
// would (the fault hook is asked once), without first gathering them into
// one buffer: the stream's buffer is flushed and the pieces leave straight
// from where they lie, in as few system calls as the system allows.
struct ConstBytes {
  const void* data;
  std::size_t size;
};
bool WriteGathered(std::FILE* f, const ConstBytes* pieces, std::size_t count);
bool Seek(std::FILE* f, uint64_t offset);
bool Tell(std::FILE* f, uint64_t& offset);
bool FileLength(std::FILE* f, uint64_t& length);  // keeps the position
// Flushes f and cuts its file at length (the position stays where it was).
bool Truncate(std::FILE* f, uint64_t length);
// Flushes and closes; false when the flush or close failed (a late write error).
bool Close(std::FILE* f);
// Copies n bytes from in's position to out's position (inside the kernel where
// it can). Both positions advance by n on success.
bool CopyRange(std::FILE* in, std::FILE* out, uint64_t n, unsigned char* buffer,
               std::size_t bufferSize);
// Copies n bytes from byte inOffset of in to byte outOffset of out and moves
// neither stream's position: a caller that keeps its own count of where the
// bytes go saves the seeks (and the refill of in's buffer) CopyRange makes.
// out's buffered writes are flushed first.
bool CopyRangeAt(std::FILE* in, uint64_t inOffset, std::FILE* out, uint64_t outOffset, uint64_t n,
                 unsigned char* buffer, std::size_t bufferSize);
// The same for positional files (see CreateBesideAt): CopyRangeToFile
// copies to out at outOffset, WriteAt writes n bytes at offset, Close
// closes (false on a late write error). Writing without a stream saves the
// calls a stream makes when it is opened.
bool CopyRangeToFile(std::FILE* in, uint64_t inOffset, PositionalFile& out, uint64_t outOffset, uint64_t n,
                     unsigned char* buffer, std::size_t bufferSize);
bool WriteAt(PositionalFile& out, uint64_t offset, const void* data, std::size_t n);
bool Close(PositionalFile& file);
// WriteAt on a bare POSIX descriptor, for the Linux-only mount.
bool WriteAt(int fd, uint64_t offset, const void* data, std::size_t n);

// Opens path (found as OpenRead finds it) for positional reads; its facts
// go to facts. Invalid (errno set; EISDIR for a folder) when it cannot.
PositionalFile OpenPositional(const char* path, NodeFacts& facts);
// Reads up to n bytes at offset: the count read, 0 at the end of the file,
// -1 on a failure (errno set).
int64_t ReadSomeAt(const PositionalFile& file, uint64_t offset, void* data, std::size_t n);

// Asks the system to start writing n bytes of f from offset to its device
// now instead of later. Only a hint: nothing waits, and a failure shows, as
// before, when the file is closed.
void StartWriteOut(std::FILE* f, uint64_t offset, uint64_t n);

// The errno of the last failed Write/CopyRange (0 when none).
int LastWriteError();
// Forgets it, so that a failure after this call is told apart from an
// older one.
void ClearLastWriteError();

// Fault injection, for tests only. The hook is asked before every write with
// the running number of the write (1 for the first after it was set); a
// nonzero answer is the errno with which that write fails. Writes are counted
// only while a hook is set.
using WriteFaultHook = std::function<int(uint64_t writeNumber)>;
void SetWriteFaultHook(WriteFaultHook hook);

// Recording of what a save does to the file system, for tests only (a test
// rebuilds from it the states a power cut may leave). The recorder sees each
// operation once it has succeeded. Paths are absolute.
struct FsOperation {
  enum class Kind { Create, Write, Flush, FlushFolder, Rename, Delete };
  Kind kind = Kind::Write;
  std::string path;                    // the file; the folder of FlushFolder; Rename's source
  std::string target;                  // Rename: the new name
  uint64_t offset = 0;                 // Write: where the bytes went
  const unsigned char* data = nullptr;  // Write: the bytes, valid during the call
  uint64_t length = 0;                 // Write: how many
};
using OperationRecorder = std::function<void(const FsOperation& operation)>;
void SetOperationRecorder(OperationRecorder recorder);

}  // namespace vzrfs
