// replace.cpp - giving one entry of a loaded archive new content, and moving
// a finished file over another.
//
// An archive is never edited in place: a complete new copy is written beside
// it and moved over it only when every read and write of the copy succeeded.
// Until the move, the old archive stays whole on disk and FileIndex keeps
// describing it; a process killed at any write leaves the old archive or the
// complete new one, never a mixture.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "replacementfile_internal.h"
#include "rewrite_internal.h"
#include "trace.h"
#include "ops.h"

namespace {

constexpr std::size_t kMoveChunk = 65536;
// Kept bytes are copied in pieces of this size, each handed to the disk as
// soon as it is in place. A file system that writes a file out when it is
// renamed over another then has little left to do at the rename, and the
// disk works while the next piece is copied.
constexpr uint64_t kWriteOutPiece = uint64_t(8) << 20;

void SetStatus(const char* text) { GetStatusSink()->SetText(text); }

// What a move achieved: tavMoveFile's code, and whether dst now holds the
// source's content (code 0 means either "copied, source kept" or "nothing done").
struct MoveOutcome {
  int code = 0;
  bool destinationUpdated = false;
};

// Copies src into a fresh file beside dst and renames that over dst, so a
// copy that fails part-way leaves dst as it was. A failure lands on error.
MoveOutcome CopyThenRename(const char* src, const char* dst, VzrError& error) {
  vzrfs::UniqueFile in(vzrfs::OpenRead(src));
  if (!in) {
    vzrops::TraceFailure(error, 2, "", errno, "Error! tavMoveFile(): Could not open file: ", src);
    return {2, false};
  }
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kMoveChunk]);
  if (!buffer) {
    vzrops::TraceFailure(error, 0, "", ENOMEM, "Error! tavMoveFile(): Failed to create buffer");
    return {0, false};
  }
  // A folder at dst can never be replaced by a file: the copy beside it
  // could be made, but not put in its place.
  vzrfs::ReplacementFile part;
  if (vzrfs::IsDirectory(dst) || !part.CreateBeside(dst)) {
    vzrops::TraceFailure(error, 3, "", errno, "Error! tavMoveFile(): Could not create file: ", dst);
    return {3, false};
  }
  std::FILE* out = part.Stream();
  vzrfs::TakeOverModeAndOwner(out, in.get());
  uint64_t remaining = 0;
  int code = vzrfs::FileLength(in.get(), remaining) ? 1 : 4;
  int sysError = 0;
  while (code == 1 && remaining > 0) {
    const std::size_t n = remaining < kMoveChunk ? static_cast<std::size_t>(remaining) : kMoveChunk;
    if (!vzrfs::Read(in.get(), buffer.get(), n))
      code = 4, sysError = errno;
    else if (!vzrfs::Write(out, buffer.get(), n))
      code = 5, sysError = errno;
    else
      remaining -= n;
  }
  if (!part.Close() && code == 1) code = 5, sysError = errno;
  in.reset();
  if (code != 1) {
    part.Discard();
    vzrops::TraceFailure(error, code, "", sysError, "Error! tavMoveFile(), reading or writing to .vzr file, tmpRetValue: ",
                         code);
    return {code, false};
  }
  if (!part.CommitDurably()) {  // mostly a failed flush: a write that did not land
    sysError = errno;
    part.Discard();
    vzrops::TraceFailure(error, 5, "", sysError, "Error! tavMoveFile(), reading or writing to .vzr file, tmpRetValue: ",
                         5);
    return {5, false};
  }
  return {vzrfs::DeleteFile(src) ? 1 : 0, true};
}

// What follows a durable replace of dst by src that failed: a copy where
// the rename could not be made. A failed flush fails the move: copying the
// same unflushed bytes would not help.
MoveOutcome CopyUnlessFlushFailed(const char* src, const char* dst, bool flushFailed, VzrError& error) {
  if (flushFailed) {
    vzrops::TraceFailure(error, 5, "", errno, "Error! tavMoveFile(): Could not create file: ", dst);
    return {5, false};
  }
  return CopyThenRename(src, dst, error);
}

// A rename where one works, else a copy; either way src's bytes reach the
// device before dst names them.
MoveOutcome MoveFileReplacing(const char* src, const char* dst, VzrError& error) {
  bool flushFailed = false;
  if (vzrfs::ReplaceDurably(src, dst, &flushFailed)) return {1, true};
  return CopyUnlessFlushFailed(src, dst, flushFailed, error);
}

// Where an entry's stored form lies and what it holds: all a rewrite changes
// of an entry it keeps (its name stays).
struct Placement {
  uint32_t fileOffset = 0;
  uint32_t compSize = 0;
  uint32_t fileSize = 0;

  static Placement Of(const FileEntry& e) { return {e.fileOffset, e.compSize, e.fileSize}; }
  void ApplyTo(FileEntry& e) const {
    e.fileOffset = fileOffset;
    e.compSize = compSize;
    e.fileSize = fileSize;
  }
};

// The new index of a rewrite is made in FileIndex's own storage rather than
// in a copy: a large index costs a page fault per 4 KiB of fresh memory, as
// much as a tenth of a replace. What it overwrites is kept here, so that a
// rewrite that fails afterwards leaves FileIndex as it was.
class IndexUndo {
 public:
  // Notes what taking `kept` (old index of each kept entry, ascending) and
  // dropping the rest will overwrite.
  IndexUndo(const ::FileIndex& index, const std::vector<uint32_t>& kept)
      : count_(index.count), storage_(index.files.size()), keptCount_(static_cast<uint32_t>(kept.size())) {
    placements_.reserve(kept.size());
    std::size_t next = 0;
    for (uint32_t i = 0; i < index.count; ++i) {
      if (next < kept.size() && kept[next] == i) {
        placements_.push_back(Placement::Of(index.files[i]));
        ++next;
      } else {
        dropped_.emplace_back(i, index.files[i]);
      }
    }
  }

  // Puts the index back: every kept entry to its old place and placement,
  // the dropped ones between them, blank storage past them.
  void Restore(::FileIndex& index) const {
    uint32_t j = keptCount_;  // new places not yet moved back
    std::size_t d = dropped_.size();
    for (uint32_t i = count_; i-- > 0;) {
      if (d > 0 && dropped_[d - 1].first == i) {
        index.files[i] = dropped_[--d].second;
        continue;
      }
      --j;
      if (j != i) index.files[i] = index.files[j];  // j < i: not yet moved back
      placements_[j].ApplyTo(index.files[i]);
    }
    for (std::size_t k = count_; k < index.files.size(); ++k) index.files[k] = FileEntry{};
    index.files.resize(storage_);
    index.count = count_;
  }

 private:
  uint32_t count_;
  std::size_t storage_;
  uint32_t keptCount_;
  std::vector<Placement> placements_;                     // old placements, in new order
  std::vector<std::pair<uint32_t, FileEntry>> dropped_;  // old index and record, ascending
};

// Writes the archive the plan describes into the open temporary file `out`,
// reading the kept entries from `in`. Once the new index is known it takes
// FileIndex's place, and `undo` how to put the old one back; false on any
// failed read or write, or offsets past what the format can address.
bool WriteRewrittenArchive(VzrArchive& a, std::FILE* in, std::FILE* out, const vzrops::RewritePlan& plan,
                           std::optional<IndexUndo>& undo) {
  unsigned char header[vzr::kHeaderSize];
  uint64_t archiveLength = 0;
  if (!vzrfs::FileLength(in, archiveLength) || !vzrfs::Seek(in, 0) || !vzrfs::Read(in, header, sizeof header) ||
      !vzrfs::Write(out, header, sizeof header))
    return false;

  a.CloseArchiveStream();
  a.vzrFileStream = out;
  a.writeError = 0;
  // Kept entries that lie back to back in the old archive are copied as one
  // range, so a typical archive costs a few kernel copies, not one per entry.
  uint64_t position = vzr::kHeaderSize;  // where the next byte goes in the copy
  uint64_t runStart = 0, runLength = 0;  // kept bytes not yet copied
  auto copyRun = [&]() {
    if (runLength == 0) return true;
    for (uint64_t done = 0; done < runLength;) {
      const uint64_t piece = std::min(runLength - done, kWriteOutPiece);
      if (!vzrfs::CopyRangeAt(in, runStart + done, out, position + done, piece, a.storeBuffer,
                              a.storeBufferCapacity))
        return false;
      vzrfs::StartWriteOut(out, position + done, piece);
      done += piece;
    }
    position += runLength;
    runLength = 0;
    return vzrfs::Seek(out, position);
  };
  // Writes fileBuffer's first curLength bytes as entry e at the end of the copy.
  auto writeNew = [&](FileEntry& e) {
    if (!copyRun()) return false;
    e.fileOffset = static_cast<uint32_t>(position);
    e.fileSize = a.curLength;
    a.WriteEntry(a.curLength, e.name, true);
    if (a.writeError != 0 || !vzrfs::Tell(out, position)) return false;
    e.compSize = static_cast<uint32_t>(position - e.fileOffset);
    return position <= UINT32_MAX;
  };
  // Writes the file at source as entry e at the end of the copy, streamed.
  auto writeStreamed = [&](FileEntry& e, const std::string& source) {
    if (!copyRun()) return false;
    uint64_t length = 0, stored = 0;
    vzrfs::UniqueFile input(vzrfs::OpenRead(source.c_str(), &length));
    if (!input || length >= UINT32_MAX) {
      vzrops::TraceFailure(a.lastError, 1, source, input ? EFBIG : errno, "ERROR! inputFile: ", source);
      return false;
    }
    e.fileOffset = static_cast<uint32_t>(position);
    e.fileSize = static_cast<uint32_t>(length);
    vzrfs::FileIdentity before, after;
    const bool stamped = vzrfs::IdentityOf(input.get(), before);
    if (!vzrops::WriteEntryFromFile(a, input.get(), length, position, stored)) return false;
    // A file written to while it was read is stored at the size it had when
    // opened; like tar, say so rather than store it silently.
    if (stamped && vzrfs::IdentityOf(input.get(), after) &&
        (after.size != before.size || after.mtimeNs != before.mtimeNs))
      vzrops::NotePackProblem(source, "file changed as we read it", true);
    position += stored;
    e.compSize = static_cast<uint32_t>(stored);
    return position <= UINT32_MAX;
  };
  // The new index: the old index of each kept entry and its new placement,
  // then the additions.
  std::vector<uint32_t> kept;
  std::vector<Placement> placed;
  kept.reserve(a.FileIndex.count);
  placed.reserve(a.FileIndex.count);
  std::vector<FileEntry> added;
  uint32_t replacedAt = UINT32_MAX;  // its place in the new index
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    if (i < plan.dropped.size() && plan.dropped[i]) continue;
    FileEntry e = a.FileIndex.files[i];
    if (i != plan.replaced) {
      // The stored bytes must be there: copying past the end would leave a
      // short entry in the new archive.
      if (uint64_t(e.fileOffset) + e.compSize > archiveLength) return false;
      if (runLength > 0 && runStart + runLength != e.fileOffset && !copyRun()) return false;
      if (runLength == 0) runStart = e.fileOffset;
      e.fileOffset = static_cast<uint32_t>(position + runLength);
      runLength += e.compSize;
    } else {
      SetStatus("  Replacing File...");
      a.curLength = plan.replacedSize;
      if (plan.replacedSource.empty() ? !writeNew(e) : !writeStreamed(e, plan.replacedSource)) return false;
      replacedAt = static_cast<uint32_t>(kept.size());
    }
    if (position + runLength > UINT32_MAX) return false;
    kept.push_back(i);
    placed.push_back(Placement::Of(e));
  }
  uint64_t addedBytes = 0;
  for (const vzrops::RewritePlan::Addition& addition : plan.additions) {
    SetStatus("  Adding File...");
    FileEntry e;
    e.nameLength = static_cast<uint32_t>(std::min<std::size_t>(addition.name.size(), vzr::kMaxNameLength));
    std::memcpy(e.name, addition.name.data(), e.nameLength);
    if (addition.load ? !addition.load() || !writeNew(e) : !writeStreamed(e, addition.sourcePath)) return false;
    addedBytes += e.fileSize;
    ReportProgress({ProgressPhase::kRewriting, static_cast<uint32_t>(added.size()), addition.name.c_str(), addedBytes, 0});
    added.push_back(e);
  }
  if (!copyRun()) return false;
  uint64_t reached = 0;
  if (!vzrfs::Tell(out, reached) || reached != position) return false;

  // The new index, in place; storage past it is blanked rather than left stale.
  undo.emplace(a.FileIndex, kept);
  std::vector<FileEntry>& files = a.FileIndex.files;
  const std::size_t newCount = kept.size() + added.size();
  for (std::size_t j = 0; j < kept.size(); ++j) {
    if (kept[j] != j) files[j] = files[kept[j]];  // kept[j] >= j: not yet overwritten
    placed[j].ApplyTo(files[j]);
  }
  if (files.size() < newCount) files.resize(newCount);
  std::copy(added.begin(), added.end(), files.begin() + static_cast<std::ptrdiff_t>(kept.size()));
  for (std::size_t k = newCount; k < a.FileIndex.count; ++k) files[k] = FileEntry{};
  a.FileIndex.count = static_cast<uint32_t>(newCount);
  if (replacedAt != UINT32_MAX) {
    const FileEntry& replaced = a.FileIndex.files[replacedAt];
    TraceLog("    FileIndex.count: ", a.FileIndex.count);
    TraceLog("    FileIndex.files[inx].fileOffset: ", replaced.fileOffset);
    TraceLog("    FileIndex.files[inx].fileSize: ", replaced.fileSize);
    TraceLog("    FileIndex.files[inx].compSize: ", replaced.compSize);
  }

  a.indexOffset = static_cast<uint32_t>(position);
  a.WriteIndex();
  if (a.writeError != 0) return false;
  unsigned char words[8];
  vzr::WriteLE32(words, 0);
  if (!vzrfs::Write(out, words, 4)) return false;
  if (!vzrfs::Tell(out, position) || position > UINT32_MAX) return false;
  vzr::WriteLE32(words, a.indexOffset);
  vzr::WriteLE32(words + 4, a.storageMode);
  return vzrfs::Seek(out, 0) && vzrfs::Write(out, words, sizeof words);
}

// Why the new archive cannot fit the format's 32-bit sizes, known before a
// byte is written (empty when it may fit): a file of 4 GiB or more, or kept
// entries, new files and index past 4 GiB. Content loaded by a callback is
// not known yet and counts nothing here.
std::string SizeRefusal(const VzrArchive& a, const vzrops::RewritePlan& plan) {
  uint64_t total = vzr::kHeaderSize + 4 + vzr::kTrailerSize;
  std::string refusal;
  auto fromFile = [&](const std::string& path) {
    uint64_t length = 0;
    vzrfs::UniqueFile f(vzrfs::OpenRead(path.c_str(), &length));
    if (f && length >= UINT32_MAX && refusal.empty())
      refusal = path + ": " + std::to_string(length) + " bytes, an entry ends below 4 GiB";
    return vzrops::StoredBytesAtLeast(a, length);
  };
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    if (i < plan.dropped.size() && plan.dropped[i]) continue;
    const FileEntry& e = a.FileIndex.files[i];
    uint64_t stored = e.compSize;
    if (i == plan.replaced)
      stored = plan.replacedSource.empty() ? vzrops::StoredBytesAtLeast(a, plan.replacedSize)
                                           : fromFile(plan.replacedSource);
    total += stored + vzr::kIndexEntryFixedSize + e.nameLength;
  }
  for (const vzrops::RewritePlan::Addition& addition : plan.additions)
    total += (addition.load ? 0 : fromFile(addition.sourcePath)) + vzr::kIndexEntryFixedSize + addition.name.size();
  if (refusal.empty() && total > UINT32_MAX)
    refusal = "the archive would be at least " + std::to_string(total) + " bytes, the .vzr format ends at 4 GiB";
  return refusal;
}

}  // namespace

int tavMoveFile(const char* src, const char* dst) {
  VzrError& error = LastEngineError();
  error.clear();
  const MoveOutcome moved = MoveFileReplacing(src, dst, error);
  // Moved, but the source stayed: the move did its work, the record says what is left.
  if (moved.code == 0 && moved.destinationUpdated && !error.failed())
    vzrops::SetError(error, 0, "", 0, std::string("tavMoveFile(): could not remove ") + src);
  return moved.code;
}

int VzrArchive::AddReplaceFile(uint32_t inx, uint32_t fileSize) {
  lastError.clear();
  CodePosition = 1213;
  SetStatus("AddReplaceFile()");
  curLength = fileSize;
  TraceLog("  AddReplaceFile( inx = ", inx, ", fileSize = ", fileSize, " )");
  TraceLog("   FileIndex.count: ", static_cast<int32_t>(FileIndex.count));

  if (inx >= FileIndex.count) {
    SetStatus("  Adding File...ERROR!!");
    vzrops::TraceFailure(lastError, 1, "", 0, "ERROR!! Cannot add new file using addReplaceFile(), replace only!");
    return 1;
  }
  if (fileSize > fileBufferCapacity) {
    vzrops::TraceFailure(lastError, 1, FileIndex.files[inx].name, 0, "ERROR! AddReplaceFile(): fileSize ", fileSize,
                         " exceeds the buffer of ", fileBufferCapacity);
    SetStatus("ERROR! Could not update .vzr!");
    return 1;
  }

  vzrops::RewritePlan plan;
  plan.replaced = inx;
  plan.replacedSize = fileSize;
  return vzrops::RewriteArchive(*this, plan, "AddReplaceFile");
}

namespace {

// Fails a rewrite before anything was replaced: the reason in the trace, the
// error record and the status line.
int RefuseRewrite(VzrArchive& a, const char* caller, int sysError, const std::string& why) {
  vzrops::TraceFailure(a.lastError, 1, "", sysError, "ERROR! ", caller, "(): ", why, ": ", a.vzr_file_name);
  SetStatus("ERROR! Could not update .vzr!");
  return 1;
}

bool SameIdentity(const VzrArchive::DiskIdentity& loaded, const vzrfs::FileIdentity& now) {
  return loaded.device == now.device && loaded.inode == now.inode && loaded.size == now.size &&
         loaded.mtimeNs == now.mtimeNs;
}

}  // namespace

int vzrops::RewriteArchive(VzrArchive& a, const RewritePlan& plan, const char* caller) {
  a.lastError.clear();
  LastPackNotices().clear();
  // A link is followed: the real archive is rewritten beside itself and the link stays.
  const std::string target = vzrfs::ArchiveTarget(a.vzr_file_name);
  vzrfs::ArchiveLock lock;
  const int locked = lock.Acquire(target.c_str());
  if (const std::string busy = vzrops::LockRefusal(locked); !busy.empty())
    return RefuseRewrite(a, caller, locked, busy);
  if (const std::string tooLarge = SizeRefusal(a, plan); !tooLarge.empty())
    return RefuseRewrite(a, caller, EFBIG, tooLarge);
  vzrfs::ReplacementFile part;
  if (!part.CreateBeside(target)) {
    vzrops::SetError(a.lastError, 1, "", errno, "Could not create Temp .vzr File!");
    SetStatus("Error! Could not create Temp .vzr File!");
    return 1;
  }
  vzrfs::UniqueFile in(vzrfs::OpenRead(target.c_str()));
  if (!in) {
    vzrops::SetError(a.lastError, 1, "", errno, "Could not open .vzr File!");
    part.Discard();
    SetStatus("Error! Could not open .vzr File!");
    return 1;
  }
  vzrfs::FileIdentity read;
  const bool changed = vzrfs::IdentityOf(in.get(), read) && a.loadedFile.known && !SameIdentity(a.loadedFile, read);
  const int forbidden = changed ? 0 : vzrfs::MayReplace(in.get());
  if (changed || forbidden != 0) {
    part.Discard();
    return changed ? RefuseRewrite(a, caller, vzrfs::kErrorChangedOnDisk, "the archive was changed on disk since it was read")
                   : RefuseRewrite(a, caller, forbidden, vzrfs::ErrorText(forbidden));
  }
  vzrfs::TakeOverModeAndOwner(part.Stream(), in.get());
  SetStatus("  Please wait...");

  // The index as it describes the archive on disk, once the new one has
  // taken its place: restored on failure.
  std::optional<IndexUndo> onDisk;
  const uint32_t oldIndexOffset = a.indexOffset;
  vzrfs::ClearLastWriteError();
  const bool written = WriteRewrittenArchive(a, in.get(), part.Stream(), plan, onDisk);
  // The first failed write of the copy (an entry's, or a copy, seek or write
  // of the file services), or the failed close.
  int sysError = a.writeError != 0 || written ? a.writeError : vzrfs::LastWriteError();
  a.vzrFileStream = nullptr;
  const bool closed = part.Close();
  if (!closed && sysError == 0) sysError = errno;
  in.reset();
  if (plan.beforeReplace) plan.beforeReplace();

  // Only a program that ignores the lock can have changed it meanwhile.
  vzrfs::FileIdentity now;
  const bool stillRead = vzrfs::IdentityOfPath(target.c_str(), now) && now == read;
  MoveOutcome moved;
  // Kept for the trace line of a copy that could not be removed.
  const std::string partName = part.Name();
  if (written && closed && stillRead) {
    SetStatus("  Moving file...");
    bool flushFailed = false;
    if (part.CommitDurably(&flushFailed)) {
      moved = {1, true};
    } else {
      moved = CopyUnlessFlushFailed(partName.c_str(), target.c_str(), flushFailed, a.lastError);
      if (moved.destinationUpdated) part.Release();  // the copy fallback removed it, or told it could not
    }
    sysError = a.lastError.sysError;
  }
  if (!moved.destinationUpdated) {
    part.Discard();
    if (onDisk) onDisk->Restore(a.FileIndex);
    a.indexOffset = oldIndexOffset;
    if (written && closed && !stillRead)
      return RefuseRewrite(a, caller, vzrfs::kErrorChangedOnDisk,
                           "the archive was changed on disk while it was rewritten");
    // A program that holds the archive open without sharing it (a game, an
    // editor) is named as the cause, as when it holds it from the start.
    const bool busy = vzrfs::KindOfError(sysError) == vzrfs::ErrorKind::Busy;
    vzrops::TraceFailure(a.lastError, 1, a.lastError.entry, sysError, "ERROR! ", caller,
                         busy ? "(): the archive is in use by another program; nothing was changed: "
                              : "(): the archive was left as it was: ",
                         a.vzr_file_name);
    SetStatus("ERROR! Could not update .vzr!");
    return 1;
  }
  // The archive was updated; a copy left behind is told, and is no failure.
  if (moved.code != 1) TraceLog("Error! ", caller, "(): could not remove ", partName);
  // The next save of this object compares with the archive it has just written.
  if (moved.code == 1 && vzrfs::IdentityOfPath(target.c_str(), now))
    a.loadedFile = {now.device, now.inode, now.size, now.mtimeNs, true};
  a.lastError.clear();
  SetStatus(".vzr was updated.");
  return 0;
}
