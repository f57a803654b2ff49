// verb_grep.cpp - "vzr grep": the lines of entries' content that a pattern
// matches, across every archive named or found below a folder.
//
// Entries are the unit of work: worker threads search them through the
// entry reader, a segment at a time, while the main thread opens archives in
// order, hands out their entries and prints each entry's buffered output in
// archive and index order, so the output does not depend on the threads.
// Only a window of entries is in flight, so memory stays bounded.

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "entryreader.h"
#include "fileservices.h"
#include "grep_search.h"
#include "pattern.h"
#include "progress.h"

namespace {

// One entry to search, and what its search gave; without a reader, a
// message about an archive, printed in its place.
struct Job {
  std::shared_ptr<const EntryReader> reader;
  std::string archive;  // as named on the command line or found below it
  uint32_t entry = 0;
  bool done = false;
  bool failed = false;
  std::string error;
  uint64_t matches = 0;
  std::string output;
};

class JobQueue {
 public:
  explicit JobQueue(std::size_t window) : window_(window) {}

  // Adds a job; while the window is full, prints the jobs at its front as
  // they finish (through print).
  template <class Print>
  void Add(std::unique_ptr<Job> job, Print&& print) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (jobs_.size() >= window_) PrintFront(lock, print);
    jobs_.push_back(std::move(job));
    work_.notify_one();
  }
  // No more jobs: prints the rest.
  template <class Print>
  void Drain(Print&& print) {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    work_.notify_all();
    while (!jobs_.empty()) PrintFront(lock, print);
  }
  // A job to do, or null when the queue is closed and empty.
  Job* Take() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return next_ < jobs_.size() || closed_; });
      // A notice is done already: passed over, never handed out.
      while (next_ < jobs_.size() && jobs_[next_]->done) ++next_;
      if (next_ < jobs_.size()) return jobs_[next_++].get();
      if (closed_) return nullptr;
    }
  }
  void Finished(Job* job) {
    std::lock_guard<std::mutex> lock(mutex_);
    job->done = true;
    if (!jobs_.empty() && jobs_.front().get() == job) printable_.notify_one();
  }

 private:
  template <class Print>
  void PrintFront(std::unique_lock<std::mutex>& lock, Print& print) {
    printable_.wait(lock, [&] { return jobs_.front()->done; });
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.pop_front();
    if (next_ > 0) --next_;  // else a notice no worker has passed yet
    lock.unlock();
    print(*job);
    job.reset();  // the last job of an archive closes it
    lock.lock();
  }
  std::mutex mutex_;
  std::condition_variable work_, printable_;
  std::deque<std::unique_ptr<Job>> jobs_;  // in output order; [0, next_) taken
  std::size_t next_ = 0;
  std::size_t window_;
  bool closed_ = false;
};

void Search(Job& job, const cli::Matcher& matcher, const cli::GrepOutput& how) {
  const EntryReader::EntryInfo e = job.reader->Entry(job.entry);
  const std::string name = e.name;
  cli::EntrySearch search(matcher, how, job.archive, name);
  VzrError why;
  const bool whole =
      job.reader->Stream(job.entry, [&](const unsigned char* d, std::size_t n) { return search.Feed(d, n); }, &why);
  if (!whole) {
    job.failed = true;
    job.error = why.message;
    return;
  }
  search.Finish();
  job.matches = search.MatchingLines();
  job.output = std::move(search.output);
}

unsigned ThreadCount(const cli::Args& args, bool& ok) {
  ok = true;
  const std::string given = args.Value("threads");
  if (given.empty()) return std::max(1u, std::thread::hardware_concurrency());
  char* end = nullptr;
  const unsigned long n = std::strtoul(given.c_str(), &end, 10);
  ok = *end == '\0' && n >= 1 && n <= 1024;
  return static_cast<unsigned>(n);
}

uint64_t FileBytes(const std::string& path) {
  vzrfs::NodeFacts facts;
  return vzrfs::FactsOf(path, facts) ? facts.size : 0;
}

int RunGrep(const cli::Args& args) {
  if (args.positionals.size() < 2) return cli::Usage("grep", "a pattern and a path are needed");
  bool threadsOk = true;
  const unsigned threads = ThreadCount(args, threadsOk);
  if (!threadsOk) return cli::Usage("grep", "--threads needs a number from 1 to 1024");
  cli::Matcher::Rules rules;
  rules.ignoreCase = args.Has("-i");
  rules.wholeWords = args.Has("-w");
  rules.fixed = args.Has("-F");
  cli::Matcher matcher;
  std::string patternError;
  if (!matcher.Compile(args.positionals[0], rules, patternError)) {
    cli::Message("grep: bad pattern '" + args.positionals[0] + "': " + patternError);
    return cli::kNothing;
  }
  cli::GrepOutput how;
  how.lineNumbers = args.Has("-n");
  how.listOnly = args.Has("-l");
  how.countOnly = args.Has("-c") && !how.listOnly;
  how.asText = args.Has("-a");
  how.json = args.Has("json") && !how.listOnly && !how.countOnly;
  std::vector<std::string> names;
  for (const auto& [option, value] : args.options)
    if (option == "name") names.push_back(value);

  // Every archive, in order; a PATH that is neither file nor folder is named.
  std::vector<std::string> archives;
  std::size_t readablePaths = 0;
  for (std::size_t k = 1; k < args.positionals.size(); ++k) {
    std::vector<std::string> found;
    if (!cli::ArchivesAt(args.positionals[k], found)) continue;
    ++readablePaths;
    archives.insert(archives.end(), found.begin(), found.end());
  }
  if (readablePaths == 0) return cli::kNothing;
  bool problems = readablePaths < args.positionals.size() - 1, matched = false;

  uint64_t total = 0, done = 0;
  for (const std::string& a : archives) total += FileBytes(a);
  cli::Progress progress(total, args.quiet);
  static char outputBuffer[1 << 20];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  auto print = [&](const Job& job) {
    if (job.failed) {
      progress.Clear();
      cli::FlushOutput();
      cli::FileMessage(job.archive, job.reader ? std::string(job.reader->Entry(job.entry).name) + ": " + job.error
                                               : job.error);
      problems = true;
    }
    if (!job.reader) return;
    const EntryReader::EntryInfo e = job.reader->Entry(job.entry);
    if (job.matches > 0) matched = true;
    std::fwrite(job.output.data(), 1, job.output.size(), stdout);
    done += e.compSize;
    progress.Update(done);
  };

  JobQueue queue(std::size_t{16} * threads + 64);
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t)
    workers.emplace_back([&] {
      while (Job* job = queue.Take()) {
        Search(*job, matcher, how);
        queue.Finished(job);
      }
    });
  std::size_t openedArchives = 0;
  for (const std::string& path : archives) {
    // A message about the archive itself takes its place in the output order.
    std::unique_ptr<EntryReader> opened;
    auto notice = std::make_unique<Job>();
    if (cli::OpenReader(path, opened, &notice->error) != cli::kDone) {
      notice->archive = path;
      notice->failed = notice->done = true;
      queue.Add(std::move(notice), print);
    }
    if (!opened) continue;
    ++openedArchives;
    const std::shared_ptr<const EntryReader> reader(std::move(opened));
    for (uint32_t i = 0; i < reader->Count(); ++i) {
      if (!cli::SelectsAny(names, reader->Entry(i).name)) continue;
      auto job = std::make_unique<Job>();
      job->reader = reader;
      job->archive = path;
      job->entry = i;
      queue.Add(std::move(job), print);
    }
  }
  queue.Drain(print);
  for (std::thread& w : workers) w.join();
  cli::FlushOutput();
  // Archives were named, and none of them could be read: nothing was searched.
  if (!archives.empty() && openedArchives == 0) return cli::kNothing;
  return problems || !matched ? cli::kProblems : cli::kDone;
}

const cli::Register reg(
    {"grep", "lines of entries' content that a pattern matches",
     "usage: vzr grep [-i] [-w] [-F] [-n] [-l] [-c] [-a] [--json] [--name PATTERN]...\n"
     "                [--threads N] REGEX PATH...\n"
     "Searches the content of every entry of every archive PATH names, or of every\n"
     "*.vzr file below a folder PATH (in name order, as find walks), and prints each\n"
     "matching line as \"archive:entry:text\" (a CR before the line end is left out),\n"
     "in archive and index order whatever the threads. Each entry is searched as\n"
     "one stream, a segment at a time: a line may cross a segment boundary.\n"
     "REGEX is an RE2 regular expression, matched byte by byte as grep in the C\n"
     "locale; RE2 runs in time linear in the text for any pattern (no backtracking,\n"
     "no recursion), so no pattern can hang the search or exhaust the stack.\n"
     "An entry with a zero byte in its first 32 KiB is binary: a match prints\n"
     "\"archive:entry: binary entry matches\" once. Names and text are escaped as\n"
     "list escapes names. Exit 0 when a line matched, 1 when none did or an archive\n"
     "or entry is damaged (named on standard error; the rest is still searched),\n"
     "2 when nothing could be searched (a bad pattern, no PATH readable).\n"
     "  -i           ignore letter case\n"
     "  -w           match whole words only\n"
     "  -F           REGEX is a fixed string\n"
     "  -n           the line number after the entry: archive:entry:LINE:text\n"
     "  -l           \"archive<TAB>entry\" once for each entry that matches\n"
     "  -c           \"archive:entry:COUNT\" of matching lines, for entries that match\n"
     "  -a           search binary entries as text\n"
     "  --json       one object a line per match: {\"archive\",\"entry\",\"line\",\"offset\",\"text\"}\n"
     "               (offset: the line's first byte in the entry)\n"
     "  --name PATTERN  only entries a PATTERN selects (may be repeated)\n"
     "  --threads N  search on N threads (default: every core)\n",
     {{"-i", false},
      {"-w", false},
      {"-F", false},
      {"-n", false},
      {"-l", false},
      {"-c", false},
      {"-a", false},
      {"json", false},
      {"name", true},
      {"threads", true}},
     RunGrep});

}  // namespace
