// packahead.cpp - compressing the files of a segmented pack ahead, across
// files, on several threads.
//
// Compressing only the segments of one file in parallel leaves the other
// threads idle whenever a file has fewer segments than there are threads,
// which is most of a tree of small scripts. Here the calling thread reads
// files in pack order and queues each file's segments; worker threads (and
// the calling thread, while it waits) compress queued segments; the calling
// thread writes each file's entry as soon as it and every file before it are
// done. So entries are written in the same order, with the same bytes, as
// AddFile writes them one at a time: each segment is compressed on its own
// at the pack's level, whatever thread does it.
//
// Memory stays bounded: a file is read only while the content of the files
// in flight is below a few segments per thread, or when none is in flight
// (so the largest file is the largest single holding). Each file in flight
// holds its content and one stream slot per segment.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "trace.h"
#include "ops.h"

namespace {

// Content bytes in flight, per thread, before reading waits for writing.
constexpr uint64_t kSegmentsAheadPerThread = 4;

// One collected file on its way into the archive.
struct Job {
  std::string path;
  bool skipped = false;  // refused or unreadable: the trace line is out, no entry
  uint32_t length = 0;
  uint32_t count = 0;  // segments (0 for an empty file)
  std::unique_ptr<unsigned char[]> content;
  std::unique_ptr<unsigned char[]> streams;  // segment k's stream at k * Slot()
  std::vector<SegmentRecord> records;
  uint32_t pending = 0;  // segments not compressed yet; guarded by the queue's mutex
};

uint32_t Slot() { return CompressBound(vzr::kSegmentSize); }

// The segments waiting for a thread, in pack order, and the threads that
// compress them. The calling thread helps through WaitFor.
class SegmentQueue {
 public:
  SegmentQueue(int level, unsigned workers) : level_(level) {
    // A thread the system refuses only makes the pack slower: the bytes do
    // not depend on how many threads compress them.
    try {
      for (unsigned w = 0; w < workers; ++w) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
    }
  }
  ~SegmentQueue() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  SegmentQueue(const SegmentQueue&) = delete;
  SegmentQueue& operator=(const SegmentQueue&) = delete;

  void Submit(Job& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job.pending = job.count;
      for (uint32_t k = 0; k < job.count; ++k) tasks_.push_back({&job, k});
    }
    wake_.notify_all();
  }

  // Returns when every segment of job is compressed, compressing queued
  // segments (of any job) meanwhile.
  void WaitFor(Job& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (job.pending > 0) {
      if (!tasks_.empty())
        RunOne(lock);
      else
        finished_.wait(lock);
    }
  }

 private:
  struct Task {
    Job* job;
    uint32_t k;
  };

  // Takes the first queued segment and compresses it with the lock released.
  void RunOne(std::unique_lock<std::mutex>& lock) {
    const Task task = tasks_.front();
    tasks_.pop_front();
    lock.unlock();
    Job& job = *task.job;
    const uint32_t start = task.k * vzr::kSegmentSize;
    const uint32_t raw = std::min(vzr::kSegmentSize, job.length - start);
    SegmentRecord& record = job.records[task.k];
    record.rawLength = raw;
    record.compLength = CompressSegment(job.content.get() + start, raw,
                                        job.streams.get() + std::size_t(task.k) * Slot(), CompressBound(raw), level_);
    lock.lock();
    if (--job.pending == 0) finished_.notify_all();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
      if (stop_) return;
      RunOne(lock);
    }
  }

  const int level_;
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::deque<Task> tasks_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// The checks AddFile makes before it reads: the name fits the index and the
// length fits the format. The trace lines are AddFile's.
bool Admissible(const VzrArchive& pack, const char* path, vzrfs::UniqueFile& input, uint64_t& length) {
  CodePosition = 356;
  if (vzrops::SkipOverlongName(pack, path)) return false;
  input.reset(vzrfs::OpenRead(path));
  if (!input) {
    const int error = errno;
    TraceLog("ERROR! inputFile: ", path);
    vzrops::NotePackProblem(path, vzrops::OpenFailureReason(path, error));
    return false;
  }
  if (!vzrfs::FileLength(input.get(), length)) length = UINT32_MAX;
  if (length >= UINT32_MAX - vzr::kBufferGrowthMargin) {
    TraceLog("ERRROR! input file too big!: ", length);
    vzrops::NotePackProblem(path, vzrops::TooLargeReason(length));
    return false;
  }
  return true;
}

// Reads the whole file into job; false (with AddFile's trace line) when it
// cannot be held or read whole.
bool Load(std::FILE* input, Job& job) {
  job.count = job.length ? ((job.length - 1) >> vzr::kSegmentShift) + 1 : 0;
  job.content.reset(new (std::nothrow) unsigned char[std::max<uint32_t>(job.length, 1)]);
  // Full slots for all segments but the last, which needs only its own bound.
  const std::size_t streamBytes =
      job.count ? std::size_t(job.count - 1) * Slot() + CompressBound(job.length - (job.count - 1) * vzr::kSegmentSize)
                : 1;
  job.streams.reset(new (std::nothrow) unsigned char[streamBytes]);
  if (!job.content || !job.streams) {
    TraceLog("ERROR! inputFile: ", job.path, " (not enough memory for ", job.length, " bytes)");
    vzrops::NotePackProblem(job.path, std::strerror(ENOMEM));
    return false;
  }
  vzrops::SourceStamp before;
  vzrops::StampOf(input, before);
  if (!vzrfs::Read(input, job.content.get(), job.length)) {
    TraceLog("ERROR! inputFile: ", job.path);
    vzrops::NotePackProblem(job.path, vzrops::ChangedSince(input, before) ? std::string(vzrops::kChangedWhileRead)
                                                                          : std::strerror(errno ? errno : EIO));
    return false;
  }
  // A file that grew is stored at the size it had when it was opened.
  if (vzrops::ChangedSince(input, before)) vzrops::NotePackProblem(job.path, vzrops::kChangedWhileRead, true);
  job.records.assign(job.count, SegmentRecord{});
  return true;
}

// Closes up the stream slots in segment order and writes the entry.
void WriteJob(VzrArchive& pack, Job& job) {
  uint32_t offset = 0;
  for (uint32_t k = 0; k < job.count; ++k) {
    job.records[k].streamOffset = offset;
    std::memmove(job.streams.get() + offset, job.streams.get() + std::size_t(k) * Slot(), job.records[k].compLength);
    offset += job.records[k].compLength;
  }
  pack.curLength = job.length;
  vzrops::WriteEncodedEntry(pack, job.path.c_str(), job.length, job.records.data(), job.count, job.streams.get(),
                            offset, false);
}

}  // namespace

void vzrops::AddFilesCompressedAhead(VzrArchive& pack, uint32_t first, uint32_t end,
                                     const std::function<void(uint32_t)>& beforeEntry,
                                     const std::function<void(uint32_t, uint32_t)>& afterEntry) {
  // More threads than segments would only wait. The pack's total fits 32
  // bits here: a larger one was refused before any file was read.
  const uint64_t segments = uint64_t(end - first) + pack.totalSize / vzr::kSegmentSize;
  const unsigned threads = static_cast<unsigned>(std::min<uint64_t>(
      pack.compressionThreads ? pack.compressionThreads : std::max(1u, std::thread::hardware_concurrency()),
      std::max<uint64_t>(segments, 1)));
  const uint64_t budget = uint64_t(threads) * kSegmentsAheadPerThread * vzr::kSegmentSize;
  // The calling thread compresses too while it waits, so threads - 1 workers
  // make `threads` compressing threads; one thread works file by file.
  SegmentQueue queue(pack.compressionLevel, threads - 1);
  std::deque<std::unique_ptr<Job>> inFlight;  // in pack order
  uint64_t inFlightBytes = 0;
  uint32_t written = first;

  auto retireFront = [&] {
    Job& job = *inFlight.front();
    queue.WaitFor(job);
    const uint32_t entries = pack.FileIndex.count;
    beforeEntry(written);
    if (!job.skipped && pack.writeError == 0) WriteJob(pack, job);
    afterEntry(written++, entries);
    inFlightBytes -= job.length;
    inFlight.pop_front();
  };

  for (uint32_t i = first; i < end && pack.writeError == 0; ++i) {
    auto job = std::make_unique<Job>();
    job->path = pack.packNames.Get(i);
    vzrfs::UniqueFile input;
    uint64_t length = 0;
    if (!Admissible(pack, job->path.c_str(), input, length)) {
      job->skipped = true;
    } else {
      job->length = static_cast<uint32_t>(length);
      while (!inFlight.empty() && inFlightBytes + job->length > budget) retireFront();
      job->skipped = !Load(input.get(), *job);
      input.reset();
    }
    if (job->skipped) {
      job->length = 0;
      job->count = 0;
    }
    inFlightBytes += job->length;
    if (!job->skipped) queue.Submit(*job);
    inFlight.push_back(std::move(job));
  }
  while (!inFlight.empty()) retireFront();
}
