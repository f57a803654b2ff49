// readahead_internal.h - decoding the segments of a run of entries ahead on
// several threads, and handing each entry's content out in order.
//
// Every segment of a segmented entry is a stream of its own, so segments of
// one entry decode side by side as well as segments of different entries.
// Worker threads decode queued segments; the reading thread takes each
// entry's segments in order and, while the one it wants is not done yet,
// decodes the next queued one itself. At most a few segments per thread are
// in flight, so memory does not grow with an entry's size.
//
// Only what decodes exactly as a single-threaded read decodes it comes out
// of here: a segment table the format allows, lying inside the archive, and
// segments that each decode alone to their recorded size. Anything else the
// caller reads its own single-threaded way, which then meets the damage and
// reports it as it always has. Workers decode quietly for that reason.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "fileservices.h"

namespace vzrops {

// Bytes that a resize leaves as they are instead of zeroing them: every
// buffer here is written whole (by a read or a decode) before it is read.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <class U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using ByteBuffer = std::vector<unsigned char, UninitialisedAllocator<unsigned char>>;

// Where an entry's stored form lies and the content it holds, as the index says.
struct StoredForm {
  uint64_t offset = 0;
  uint32_t compSize = 0;
  uint32_t fileSize = 0;
};

// Reads exactly n bytes at offset of the archive; called from several threads at once.
using PositionalRead = std::function<bool(uint64_t offset, void* to, std::size_t n)>;
// Writes exactly n bytes at offset of the file open as fd (errno set on
// failure); called from several threads at once, on different offsets.
using PositionalWrite = std::function<bool(vzrfs::PositionalFile& out, uint64_t offset, const void* data, std::size_t n)>;
// Takes one piece of content; false stops the entry.
using PieceSink = std::function<bool(const unsigned char* data, std::size_t n)>;

class ReadAhead {
 public:
  // Entries of at most this many segments are decoded whole before Sound
  // answers, so a damaged one is known before anything of it is written.
  static constexpr uint32_t kWholeSegments = 32;
  // Decoded segments waiting for the reading thread, per thread.
  static constexpr uint32_t kSegmentsPerThread = 4;
  // Attaching an entry of more segments wakes the workers to write it.
  static constexpr uint32_t kWakeForWrites = 4;
  // Entries stored in at most this many bytes are read with one read.
  static constexpr uint32_t kReadWhole = 65536;
  // Turns a waiting thread lets the lock go before it sleeps.
  static constexpr int kSpinTurns = 64;
  // Tries at the lock before a thread blocks on it.
  static constexpr int kSpinTries = 256;

  // entries are read in order: each call names an entry at or after the one
  // before (the ones between are dropped). threads counts the reading thread
  // (threads - 1 workers are started; 0 is taken as 1).
  ReadAhead(PositionalRead read, uint64_t archiveLength, std::vector<StoredForm> entries, unsigned threads,
            PositionalWrite write = nullptr);
  // Stops the workers at once: each finishes at most the segment it holds.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Whether entry k can be read here: its segment table is one the format
  // allows, inside the archive, describing exactly its size; for an entry of
  // at most kWholeSegments segments, every segment also decodes alone.
  bool Sound(std::size_t k);
  // Hands entry k's segments to sink in order. True when each went (or sink
  // stopped); false when the entry is not Sound or a segment does not decode
  // alone. *handed receives the content bytes sink took.
  bool Deliver(std::size_t k, const PieceSink& sink, uint64_t* handed = nullptr);
  // Starts writing entry k's content into the new file out (at offset 0
  // on) and returns: each segment is written, in order, by whichever thread
  // has it once it is decoded, one thread at a time per file, so that the
  // files of several entries are written side by side. Entries are attached
  // in order and finished in the order attached; Sound(k) must have said
  // true. False (nothing attached) without the write function.
  bool Attach(std::size_t k, vzrfs::PositionalFile& out);
  // Waits until attached entry k (the first one attached) is written, helping
  // meanwhile, and detaches it: nothing touches out once this returns. True
  // when every segment went; false when a segment did not decode alone
  // (*writeError 0) or a write failed (*writeError its errno).
  bool Finish(std::size_t k, int* writeError);
  // Detaches attached entry k without waiting for the rest of it: the
  // write a thread is doing ends first, nothing more is written into its file.
  void Abandon(std::size_t k);

 private:
  struct Span {
    uint64_t streamAt;
    uint32_t compLength;
    uint32_t rawLength;
    // The stream in the entry's stored form read whole (small entries),
    // else null; alone says that form is just this one segment's.
    const unsigned char* held = nullptr;
    bool alone = false;
  };
  struct Plan {
    bool parsed = false;
    bool usable = false;
    std::vector<Span> spans;
    ByteBuffer stored;  // a small entry's stored form, read at once with its table
  };
  enum class State { kQueued, kRunning, kDone, kFailed, kWritten };
  struct Slot {
    std::size_t entry;
    uint32_t segment;
    State state;
    ByteBuffer content;
  };
  static bool Busy(State s) { return s == State::kQueued || s == State::kRunning; }
  // An entry being written into its file, segment after segment.
  struct Attachment {
    std::size_t entry;
    vzrfs::PositionalFile* out;
    uint32_t segments;
    uint32_t next = 0;     // the segment to write next
    bool writing = false;  // a thread writes into out now
    bool failed = false;   // a segment did not decode alone, a write failed, or abandoned
    int writeError = 0;
    bool Done() const { return failed || next == segments; }
  };
  using Lock = std::unique_lock<std::mutex>;

  void Parse(std::size_t k, Plan& plan) const;
  bool Decode(const Span& span, ByteBuffer& out) const;
  void Fill(Lock& lock);
  void DropBefore(std::size_t k, Lock& lock);
  void WaitFor(const Slot& slot, Lock& lock);
  void WaitUntilQueued(std::size_t k, Lock& lock);
  void AwaitProgress(Lock& lock);
  // Threads asleep on a condition variable, and whether they were woken.
  struct Sleepers {
    int count = 0;
    bool woken = false;
  };
  void Acquire(Lock& lock);
  static void Sleep(std::condition_variable& cv, Sleepers& sleepers, Lock& lock);
  static void Wake(std::condition_variable& cv, Sleepers& sleepers);
  void RunOne(Lock& lock);
  Slot* FindSlot(std::size_t entry, uint32_t segment);
  Attachment* FindAttachment(std::size_t entry);
  Attachment* WriteReady();
  void WriteRun(Attachment& attachment, Lock& lock);
  bool RunTask(Lock& lock);
  bool HasTask();
  void Work();

  const PositionalRead read_;
  const PositionalWrite write_;
  const uint64_t archiveLength_;
  const std::vector<StoredForm> entries_;
  std::vector<Plan> plans_;
  std::size_t budget_ = 0;
  std::size_t refillAt_ = 0;
  std::size_t wakeBatch_ = 1;
  uint64_t completed_ = 0;  // tasks finished, for AwaitProgress
  Sleepers idleWorkers_;    // on wake_
  Sleepers waitingReader_;  // on finished_: the reading thread

  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_, finished_;
  std::deque<Slot> window_;  // in entry and segment order; references stay valid
  std::deque<Slot*> queued_;
  std::deque<Attachment> attached_;  // in entry order; references stay valid
  std::vector<ByteBuffer> spare_;
  ByteBuffer current_;  // the piece being handed out; the reading thread's own
  std::size_t tablesKeptFrom_ = 0;      // the tables of entries before it are gone
  std::size_t cursorEntry_ = 0;
  uint32_t cursorSegment_ = 0;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace vzrops
