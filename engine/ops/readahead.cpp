// readahead.cpp - the segments of a run of entries, decoded ahead on worker
// threads and handed out in order (see readahead_internal.h).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "codec.h"
#include "format.h"
#include "readahead.h"
#include "readahead_internal.h"

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
  unsigned char word[4];
  if (!read_(e.offset, word, sizeof word)) return;
  const uint64_t count = vzr::ReadLE32(word);
  const uint64_t area = vzr::kSegmentCountSize + count * vzr::kSegmentRecordSize;
  if (area > e.compSize) return;
  std::vector<unsigned char> records(static_cast<std::size_t>(area - vzr::kSegmentCountSize));
  if (!records.empty() && !read_(e.offset + vzr::kSegmentCountSize, records.data(), records.size())) return;
  std::vector<Span> spans(static_cast<std::size_t>(count));
  uint64_t content = 0;
  for (std::size_t s = 0; s < spans.size(); ++s) {
    const unsigned char* r = records.data() + s * vzr::kSegmentRecordSize;
    const uint32_t compLength = vzr::ReadLE32(r), rawLength = vzr::ReadLE32(r + 4), streamOffset = vzr::ReadLE32(r + 8);
    if (s + 1 < spans.size() ? rawLength != vzr::kSegmentSize : rawLength > vzr::kSegmentSize) return;
    if (area + streamOffset + compLength > e.compSize) return;
    spans[s] = {e.offset + area + streamOffset, compLength, rawLength};
    content += rawLength;
  }
  if (content != e.fileSize) return;
  plan.spans = std::move(spans);
  plan.usable = true;
}

// The stream alone, as the stored form of a one-segment entry, decoded into
// out; true when it gives exactly the segment's size.
bool ReadAhead::Decode(const Span& span, std::vector<unsigned char>& out) const {
  thread_local std::vector<unsigned char> stored;
  stored.resize(kOneSegmentHeader + span.compLength);
  vzr::WriteLE32(stored.data(), 1);
  vzr::WriteLE32(stored.data() + 4, span.compLength);
  vzr::WriteLE32(stored.data() + 8, span.rawLength);
  vzr::WriteLE32(stored.data() + 12, 0);
  if (!read_(span.streamAt, stored.data() + kOneSegmentHeader, span.compLength)) return false;
  out.resize(std::size_t{span.rawLength} + kDecodeSlack);
  const int32_t n = DecompressionQuiet(stored.data(), static_cast<uint32_t>(stored.size()), out.data(),
                                       static_cast<uint32_t>(out.size()));
  out.resize(span.rawLength);
  return n == static_cast<int32_t>(span.rawLength);
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
    std::vector<unsigned char> buffer;
    if (!spare_.empty()) {
      buffer = std::move(spare_.back());
      spare_.pop_back();
    }
    window_.push_back({cursorEntry_, cursorSegment_++, State::kQueued, std::move(buffer)});
    queued_.push_back(&window_.back());
    added = true;
  }
  if (added) wake_.notify_all();
}

// Forgets every segment of the entries before k that is not being written
// into a file (waiting for those a worker holds), then the tables of the
// entries before the first segment kept: a worker copies its segment's
// place from the table, so a table goes only with its last slot.
void ReadAhead::DropBefore(std::size_t k, Lock& lock) {
  while (!window_.empty() && window_.front().entry < k && !FindAttachment(window_.front().entry)) {
    Slot& front = window_.front();
    if (front.state == State::kRunning) {
      finished_.wait(lock, [&front] { return front.state != State::kRunning; });
      continue;
    }
    if (front.state == State::kQueued) queued_.erase(std::find(queued_.begin(), queued_.end(), &front));
    if (front.state != State::kWritten) spare_.push_back(std::move(front.content));
    window_.pop_front();
  }
  const std::size_t keptFrom = window_.empty() ? k : std::min(k, window_.front().entry);
  for (; tablesKeptFrom_ < keptFrom && tablesKeptFrom_ < plans_.size(); ++tablesKeptFrom_)
    std::vector<Span>().swap(plans_[tablesKeptFrom_].spans);
  if (cursorEntry_ < k) {
    cursorEntry_ = k;
    cursorSegment_ = 0;
  }
}

// Returns when the slot is decoded, decoding queued segments meanwhile.
void ReadAhead::WaitFor(const Slot& slot, Lock& lock) {
  while (Busy(slot.state))
    if (!RunTask(lock)) finished_.wait(lock);
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
    if (!RunTask(lock)) finished_.wait(lock);
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
  lock.lock();
  slot.state = decoded ? State::kDone : State::kFailed;
  finished_.notify_all();
  if (FindAttachment(slot.entry)) wake_.notify_all();  // a write may be ready now
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
      finished_.notify_all();
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
    lock.lock();
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
  finished_.notify_all();
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
  Lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || HasTask(); });
    if (stop_) return;
    RunTask(lock);
  }
}

bool ReadAhead::Sound(std::size_t k) {
  Lock lock(mutex_);
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
  Lock lock(mutex_);
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
    lock.lock();
    if (!more) {
      DropBefore(k + 1, lock);
      return true;
    }
  }
  return true;
}

bool ReadAhead::Attach(std::size_t k, vzrfs::PositionalFile& out) {
  if (!write_) return false;
  Lock lock(mutex_);
  DropBefore(k, lock);
  Fill(lock);
  if (!plans_[k].parsed) Parse(k, plans_[k]);
  if (!plans_[k].usable) return false;
  attached_.push_back({k, &out, static_cast<uint32_t>(plans_[k].spans.size())});
  wake_.notify_all();
  return true;
}

bool ReadAhead::Finish(std::size_t k, int* writeError) {
  *writeError = 0;
  Lock lock(mutex_);
  if (attached_.empty() || attached_.front().entry != k) return false;  // finished in the order attached
  Attachment& a = attached_.front();
  const auto written = [&a] { return a.Done() && !a.writing; };
  while (!written())
    if (!RunTask(lock) && !written()) finished_.wait(lock);  // RunTask may have marked a failed
  const bool whole = !a.failed;
  *writeError = a.writeError;
  attached_.pop_front();
  return whole;
}

void ReadAhead::Abandon(std::size_t k) {
  Lock lock(mutex_);
  if (attached_.empty() || attached_.back().entry != k) return;  // abandoned from the last attached back
  Attachment& a = attached_.back();
  a.failed = true;
  finished_.wait(lock, [&a] { return !a.writing; });
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
