// readahead.cpp - the segments of a run of entries, decoded ahead on worker
// threads and handed out in order (see readahead_internal.h).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

#include "codec.h"
#include "format.h"
#include "readahead.h"
#include "readahead_internal.h"
#include "spinwait.h"

namespace vzrops {
namespace {

// Room after a segment's output that lets the decoder use its fast paths;
// the same as the entry reader gives it, so a segment decodes alone here
// exactly when it does there.
constexpr uint32_t kDecodeSlack = 64;
constexpr std::size_t kOneSegmentHeader = vzr::kSegmentCountSize + vzr::kSegmentRecordSize;

}  // namespace

ReadAhead::ReadAhead(PositionalRead read, uint64_t archiveLength, std::vector<StoredForm> entries, unsigned threads,
                     PositionalWrite write)
    : read_(std::move(read)),
      write_(std::move(write)),
      archiveLength_(archiveLength),
      entries_(std::move(entries)),
      plans_(entries_.size()) {
  threads = std::max(threads, 1u);
  // Room for a whole small entry beside another being written.
  budget_ = std::max<std::size_t>(std::size_t{threads} * kSegmentsPerThread, 2 * kWholeSegments);
  refillAt_ = budget_ - std::max(threads, 2u);
  wakeBatch_ = budget_ / 4;
  // A thread the system refuses only makes the read slower: what comes out
  // does not depend on how many threads decode it.
  try {
    for (unsigned w = 1; w < threads; ++w) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
  }
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    queued_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

// The checks of the entry reader's segment table, and the stored form
// inside the archive: every segment but the last holds a full segment, the
// last at most one, together the entry's size, every stream inside the
// stored form.
void ReadAhead::Parse(std::size_t k, Plan& plan) const {
  plan.parsed = true;
  const StoredForm& e = entries_[k];
  if (e.offset + e.compSize > archiveLength_ || e.compSize < vzr::kSegmentCountSize) return;
  // A small entry is read whole at once: its table and its streams.
  const bool whole = e.compSize <= kReadWhole;
  ByteBuffer head(whole ? e.compSize : vzr::kSegmentCountSize);
  if (!read_(e.offset, head.data(), head.size())) return;
  const uint64_t count = vzr::ReadLE32(head.data());
  const uint64_t area = vzr::kSegmentCountSize + count * vzr::kSegmentRecordSize;
  if (area > e.compSize) return;
  if (!whole) {
    head.resize(static_cast<std::size_t>(area));
    if (area > vzr::kSegmentCountSize &&
        !read_(e.offset + vzr::kSegmentCountSize, head.data() + vzr::kSegmentCountSize, head.size() - vzr::kSegmentCountSize))
      return;
  }
  std::vector<Span> spans(static_cast<std::size_t>(count));
  uint64_t content = 0;
  for (std::size_t s = 0; s < spans.size(); ++s) {
    const unsigned char* r = head.data() + vzr::kSegmentCountSize + s * vzr::kSegmentRecordSize;
    const uint32_t compLength = vzr::ReadLE32(r), rawLength = vzr::ReadLE32(r + 4), streamOffset = vzr::ReadLE32(r + 8);
    if (s + 1 < spans.size() ? rawLength != vzr::kSegmentSize : rawLength > vzr::kSegmentSize) return;
    if (area + streamOffset + compLength > e.compSize) return;
    spans[s] = {e.offset + area + streamOffset, compLength, rawLength};
    if (whole) {
      spans[s].held = head.data() + area + streamOffset;
      spans[s].alone = count == 1 && streamOffset == 0 && area + compLength == e.compSize;
    }
    content += rawLength;
  }
  if (content != e.fileSize) return;
  plan.spans = std::move(spans);
  if (whole) plan.stored = std::move(head);  // the spans point into it; moving keeps the bytes where they are
  plan.usable = true;
}

// The stream alone, as the stored form of a one-segment entry, decoded into
// out; true when it gives exactly the segment's size.
bool ReadAhead::Decode(const Span& span, ByteBuffer& out) const {
  thread_local ByteBuffer stored;
  const unsigned char* form = span.held ? span.held - kOneSegmentHeader : nullptr;
  if (!span.alone) {
    stored.resize(kOneSegmentHeader + span.compLength);
    vzr::WriteLE32(stored.data(), 1);
    vzr::WriteLE32(stored.data() + 4, span.compLength);
    vzr::WriteLE32(stored.data() + 8, span.rawLength);
    vzr::WriteLE32(stored.data() + 12, 0);
    if (span.held)
      std::memcpy(stored.data() + kOneSegmentHeader, span.held, span.compLength);
    else if (!read_(span.streamAt, stored.data() + kOneSegmentHeader, span.compLength))
      return false;
    form = stored.data();
  }
  out.resize(std::size_t{span.rawLength} + kDecodeSlack);
  const int32_t n = DecompressionQuiet(form, static_cast<uint32_t>(kOneSegmentHeader + span.compLength), out.data(),
                                       static_cast<uint32_t>(out.size()));
  out.resize(span.rawLength);
  return n == static_cast<int32_t>(span.rawLength);
}

// Takes the lock, trying for a short while before blocking: the lock is
// held for microseconds at a time, and a thread put to sleep for it costs
// two system calls and a wake-up.
void ReadAhead::Acquire(Lock& lock) {
  for (int turn = 0; turn < kSpinTries; ++turn) {
    if (lock.try_lock()) return;
    vzrfs::SpinPause();
  }
  lock.lock();
}

// Sleeps on cv until woken. Wake notifies only when someone sleeps and was
// not woken already: each notice to a sleeping thread is a system call.
void ReadAhead::Sleep(std::condition_variable& cv, Sleepers& sleepers, Lock& lock) {
  ++sleepers.count;
  cv.wait(lock);
  --sleepers.count;
  sleepers.woken = false;
}

void ReadAhead::Wake(std::condition_variable& cv, Sleepers& sleepers) {
  if (sleepers.count == 0 || sleepers.woken) return;
  sleepers.woken = true;
  cv.notify_all();
}

// Queues segments in order while fewer than the budget are in flight.
void ReadAhead::Fill(Lock&) {
  bool added = false;
  while (window_.size() < budget_ && cursorEntry_ < entries_.size()) {
    Plan& plan = plans_[cursorEntry_];
    if (!plan.parsed) Parse(cursorEntry_, plan);
    if (!plan.usable || cursorSegment_ >= plan.spans.size()) {
      ++cursorEntry_;
      cursorSegment_ = 0;
      continue;
    }
    ByteBuffer buffer;
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
    window_.push_back({cursorEntry_, cursorSegment_++, State::kQueued, std::move(buffer)});
    queued_.push_back(&window_.back());
    added = true;
  }
  // A worker that ran dry is woken for a batch, not for each slot: waking a
  // thread costs the caller more than decoding a small segment.
  if (added && queued_.size() >= wakeBatch_) Wake(wake_, idleWorkers_);
}

// Forgets every segment of the entries before k that is not being written
// into a file (waiting for those a worker holds), then the tables of the
// entries before the first segment kept: a worker copies its segment's
// place from the table, so a table goes only with its last slot.
void ReadAhead::DropBefore(std::size_t k, Lock& lock) {
  while (!window_.empty() && window_.front().entry < k && !FindAttachment(window_.front().entry)) {
    Slot& front = window_.front();
    if (front.state == State::kRunning) {
      Sleep(finished_, waitingReader_, lock);
      continue;
    }
    if (front.state == State::kQueued) queued_.erase(std::find(queued_.begin(), queued_.end(), &front));
    if (front.state != State::kWritten) spare_.push_back(std::move(front.content));
    window_.pop_front();
  }
  const std::size_t keptFrom = window_.empty() ? k : std::min(k, window_.front().entry);
  for (; tablesKeptFrom_ < keptFrom && tablesKeptFrom_ < plans_.size(); ++tablesKeptFrom_) {
    std::vector<Span>().swap(plans_[tablesKeptFrom_].spans);
    ByteBuffer().swap(plans_[tablesKeptFrom_].stored);
  }
  if (cursorEntry_ < k) {
    cursorEntry_ = k;
    cursorSegment_ = 0;
  }
}

// Returns when the slot is decoded, decoding queued segments meanwhile.
void ReadAhead::WaitFor(const Slot& slot, Lock& lock) {
  while (Busy(slot.state))
    if (!RunTask(lock)) AwaitProgress(lock);
}

// Waits for another thread to finish a task. A segment takes microseconds,
// less than putting a thread to sleep and waking it, so the lock is let go
// for a few short turns before the thread sleeps.
void ReadAhead::AwaitProgress(Lock& lock) {
  const uint64_t seen = completed_;
  for (int turn = 0; turn < kSpinTurns && completed_ == seen && queued_.empty(); ++turn) {
    lock.unlock();
    std::this_thread::yield();
    Acquire(lock);
  }
  if (completed_ == seen && queued_.empty()) Sleep(finished_, waitingReader_, lock);
}

// Returns when every segment of entry k is in the window, helping with the
// work meanwhile: the entries being written ahead of it take room there.
void ReadAhead::WaitUntilQueued(std::size_t k, Lock& lock) {
  const auto queued = [this, k] {
    return cursorEntry_ > k || (cursorEntry_ == k && cursorSegment_ >= plans_[k].spans.size());
  };
  for (;;) {
    Fill(lock);
    if (queued()) return;
    if (!RunTask(lock)) AwaitProgress(lock);
  }
}

// Takes the first queued segment and decodes it with the lock released.
void ReadAhead::RunOne(Lock& lock) {
  Slot& slot = *queued_.front();
  queued_.pop_front();
  slot.state = State::kRunning;
  const Span span = plans_[slot.entry].spans[slot.segment];
  lock.unlock();
  const bool decoded = Decode(span, slot.content);
  Acquire(lock);
  slot.state = decoded ? State::kDone : State::kFailed;
  ++completed_;
  Wake(finished_, waitingReader_);
  if (FindAttachment(slot.entry)) Wake(wake_, idleWorkers_);  // a write may be ready now
}

ReadAhead::Slot* ReadAhead::FindSlot(std::size_t entry, uint32_t segment) {
  for (Slot& slot : window_)
    if (slot.entry == entry && slot.segment == segment) return &slot;
  return nullptr;
}

ReadAhead::Attachment* ReadAhead::FindAttachment(std::size_t entry) {
  for (Attachment& a : attached_)
    if (a.entry == entry) return &a;
  return nullptr;
}

// An attached entry whose next segment is decoded and whose file nobody
// writes now; one whose next segment failed is marked failed on the way.
ReadAhead::Attachment* ReadAhead::WriteReady() {
  for (Attachment& a : attached_) {
    if (a.writing || a.Done()) continue;
    const Slot* slot = FindSlot(a.entry, a.next);
    if (!slot) continue;
    if (slot->state == State::kDone) return &a;
    if (slot->state == State::kFailed) {
      a.failed = true;
      Wake(finished_, waitingReader_);
    }
  }
  return nullptr;
}

// Writes the attachment's decoded segments into its file, in order, for as
// long as the next one is decoded, with the lock released for each write;
// then forgets the written slots at the front of the window and refills it.
void ReadAhead::WriteRun(Attachment& a, Lock& lock) {
  a.writing = true;
  for (Slot* slot = FindSlot(a.entry, a.next); slot && slot->state == State::kDone && !a.failed;
       slot = FindSlot(a.entry, a.next)) {
    lock.unlock();
    const uint64_t offset = uint64_t(slot->segment) * vzr::kSegmentSize;  // every segment but the last is full
    const bool written = slot->content.empty() || write_(*a.out, offset, slot->content.data(), slot->content.size());
    const int error = written ? 0 : (errno ? errno : EIO);
    Acquire(lock);
    spare_.push_back(std::move(slot->content));
    slot->state = State::kWritten;
    if (!written) {
      a.failed = true;
      a.writeError = error;
    }
    ++a.next;
  }
  a.writing = false;
  while (!window_.empty() && window_.front().state == State::kWritten) window_.pop_front();
  if (window_.size() <= refillAt_) Fill(lock);
  ++completed_;
  Wake(finished_, waitingReader_);
}

// Runs one task: a ready write first (it frees room in the window), else a
// queued decode. False when there was none.
bool ReadAhead::RunTask(Lock& lock) {
  if (Attachment* a = WriteReady()) {
    WriteRun(*a, lock);
    return true;
  }
  if (queued_.empty()) return false;
  RunOne(lock);
  return true;
}

bool ReadAhead::HasTask() { return !queued_.empty() || WriteReady() != nullptr; }

void ReadAhead::Work() {
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  for (;;) {
    while (!stop_ && !HasTask()) Sleep(wake_, idleWorkers_, lock);
    if (stop_) return;
    if (queued_.size() > 1) Wake(wake_, idleWorkers_);  // work for the others too
    RunTask(lock);
  }
}

bool ReadAhead::Sound(std::size_t k) {
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  DropBefore(k, lock);
  Fill(lock);
  if (!plans_[k].parsed) Parse(k, plans_[k]);
  const Plan& plan = plans_[k];
  if (!plan.usable) return false;
  if (plan.spans.size() > kWholeSegments) return true;
  // The whole entry fits the window beside what is being written ahead of
  // it; its slots stay where they are until it is read or dropped.
  WaitUntilQueued(k, lock);
  std::vector<const Slot*> slots;
  for (const Slot& slot : window_)
    if (slot.entry == k) slots.push_back(&slot);
  for (const Slot* slot : slots) {
    WaitFor(*slot, lock);
    if (slot->state == State::kFailed) return false;
  }
  return true;
}

bool ReadAhead::Deliver(std::size_t k, const PieceSink& sink, uint64_t* handed) {
  if (handed) *handed = 0;
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  DropBefore(k, lock);
  Fill(lock);
  if (!plans_[k].parsed) Parse(k, plans_[k]);
  const std::size_t segments = plans_[k].usable ? plans_[k].spans.size() : 0;
  if (!plans_[k].usable) return false;
  for (std::size_t s = 0; s < segments; ++s) {
    // Entry k's next segment is at the front: what came before is gone and
    // the window holds at least one slot while the entry has segments left.
    Slot& front = window_.front();
    WaitFor(front, lock);
    if (front.state == State::kFailed) {
      DropBefore(k + 1, lock);
      return false;
    }
    std::swap(current_, front.content);
    spare_.push_back(std::move(front.content));
    window_.pop_front();
    // Refilled a few slots at a time: often enough that a worker seldom
    // runs dry while the reading thread writes, rarely enough that waking
    // the workers costs little beside decoding.
    if (window_.size() <= refillAt_) Fill(lock);
    lock.unlock();
    const bool more = current_.empty() || sink(current_.data(), current_.size());
    if (handed) *handed += current_.size();
    Acquire(lock);
    if (!more) {
      DropBefore(k + 1, lock);
      return true;
    }
  }
  return true;
}

bool ReadAhead::Attach(std::size_t k, vzrfs::PositionalFile& out) {
  if (!write_) return false;
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  DropBefore(k, lock);
  Fill(lock);
  if (!plans_[k].parsed) Parse(k, plans_[k]);
  if (!plans_[k].usable) return false;
  attached_.push_back({k, &out, static_cast<uint32_t>(plans_[k].spans.size())});
  // A file of a few segments is written at Finish by the caller: a worker
  // woken for it would cost more than the writes.
  if (plans_[k].spans.size() > kWakeForWrites) Wake(wake_, idleWorkers_);
  return true;
}

bool ReadAhead::Finish(std::size_t k, int* writeError) {
  *writeError = 0;
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  if (attached_.empty() || attached_.front().entry != k) return false;  // finished in the order attached
  Attachment& a = attached_.front();
  const auto written = [&a] { return a.Done() && !a.writing; };
  while (!written())
    if (!RunTask(lock) && !written()) AwaitProgress(lock);  // RunTask may have marked a failed
  const bool whole = !a.failed;
  *writeError = a.writeError;
  attached_.pop_front();
  return whole;
}

void ReadAhead::Abandon(std::size_t k) {
  Lock lock(mutex_, std::defer_lock);
  Acquire(lock);
  if (attached_.empty() || attached_.back().entry != k) return;  // abandoned from the last attached back
  Attachment& a = attached_.back();
  a.failed = true;
  while (a.writing) Sleep(finished_, waitingReader_, lock);
  attached_.pop_back();
}

}  // namespace vzrops

unsigned ReadThreads(unsigned threads) { return threads ? threads : std::max(1u, std::thread::hardware_concurrency()); }

bool StreamEntries(const EntryReader& reader, const std::vector<uint32_t>& entries, unsigned threads,
                   const EntryStreamSink& sink) {
  bool stopped = false;
  const auto handOn = [&](uint32_t i, const unsigned char* data, std::size_t n) {
    stopped = !sink.piece(i, data, n);
    return !stopped;
  };
  // Entry i as reader.Stream gives it, less the first `skip` bytes, which
  // went out already: the pieces that came out are the same either way.
  const auto streamAlone = [&](uint32_t i, uint64_t skip) {
    VzrError why;
    uint64_t seen = 0;
    const bool whole = reader.Stream(
        i,
        [&](const unsigned char* data, std::size_t n) {
          const uint64_t before = seen;
          seen += n;
          if (seen <= skip) return true;
          const auto from = static_cast<std::size_t>(skip > before ? skip - before : 0);
          return handOn(i, data + from, n - from);
        },
        &why);
    if (!stopped) sink.end(i, whole, why);
  };
  if (reader.StorageMode() != vzr::kStorageSegmented) {
    // Nothing to decode: the content is copied as it lies.
    for (uint32_t i : entries) {
      streamAlone(i, 0);
      if (stopped) return false;
    }
    return true;
  }
  std::vector<vzrops::StoredForm> forms;
  forms.reserve(entries.size());
  for (uint32_t i : entries) {
    // An entry out of range fails the table checks and is left to Stream.
    const EntryReader::EntryInfo e = i < reader.Count() ? reader.Entry(i) : EntryReader::EntryInfo{};
    forms.push_back({e.fileOffset, e.compSize, e.fileSize});
  }
  vzrops::ReadAhead ahead([&reader](uint64_t offset, void* to, std::size_t n) { return reader.ReadStored(offset, to, n); },
                          reader.FileLength(), std::move(forms), ReadThreads(threads));
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const uint32_t i = entries[k];
    uint64_t handed = 0;
    const bool whole = ahead.Sound(k) && ahead.Deliver(
                                             k, [&](const unsigned char* data, std::size_t n) { return handOn(i, data, n); },
                                             &handed);
    if (stopped) return false;
    if (whole) {
      sink.end(i, true, VzrError{});
      continue;
    }
    streamAlone(i, handed);
    if (stopped) return false;
  }
  return true;
}
