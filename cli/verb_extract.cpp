// verb_extract.cpp - "vzr extract" and "vzr cat": entries to files or to
// standard output.

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "compression.h"
#include "entryreader.h"
#include "fileservices.h"
#include "paths.h"
#include "pattern.h"
#include "progress.h"
#include "readahead.h"
#include "vzrpack.h"

namespace {

// The entries the patterns select, in index order; names every pattern that
// selects nothing and sets missed.
std::vector<uint32_t> Select(const VzrArchive& a, const std::vector<std::string>& patterns, bool& missed) {
  std::vector<uint32_t> picked;
  std::vector<bool> used(patterns.size(), false);
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    const char* name = a.FileIndex.files[i].name;
    bool hit = patterns.empty();
    for (size_t p = 0; p < patterns.size(); ++p)
      if (cli::Selects(patterns[p], name)) hit = used[p] = true;
    if (hit) picked.push_back(i);
  }
  missed = false;
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) {
      cli::FileMessage(a.vzr_file_name, "no entry matches '" + patterns[p] + "'");
      missed = true;
    }
  return picked;
}

std::string ExtractReason(const VzrArchive& archive) { return cli::Reason(archive.lastError, "could not be extracted"); }

// The current folder of the moment it is made, taken back on request and at
// the end: extraction changes it, and a relative destination or archive path
// must keep naming the same place in the next round.
class KeepCurrentFolder {
 public:
  KeepCurrentFolder() : folder_(vzrfs::OpenFolderNoFollow(std::string())) {}
  ~KeepCurrentFolder() { Restore(); }
  KeepCurrentFolder(const KeepCurrentFolder&) = delete;
  KeepCurrentFolder& operator=(const KeepCurrentFolder&) = delete;
  void Restore() const {
    if (folder_ && !vzrfs::EnterFolder(folder_))
      cli::Message("could not return to the current folder: " + vzrfs::ErrorText(errno));
  }

 private:
  vzrfs::Folder folder_;
};

int RunExtract(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("extract", "an archive is needed");
  unsigned threads = 1;
  if (cli::ReadThreadsOption(args, "extract", threads) != cli::kDone) return cli::kNothing;
  const std::string dir = args.Value("-C", ".");
  if (!cli::RequireFolder(dir)) return cli::kNothing;
  VzrArchive archive;
  int rc = cli::LoadArchive(args.positionals[0], archive);
  if (rc == cli::kNothing) return rc;
  bool missed = false;
  const std::vector<uint32_t> picked =
      Select(archive, {args.positionals.begin() + 1, args.positionals.end()}, missed);
  if (missed) rc = cli::kProblems;
  const int extracted = cli::ExtractEntries(archive, args.positionals[0], picked, dir, args.Has("-v"), args.quiet, threads);
  return std::max(rc, extracted);
}

// Streams the entry a segment at a time, so that no buffer grows with its
// size. The segment table is checked before the first byte goes out; a
// stream found damaged part-way ends the output there, with the message.
int RunCat(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("cat", "an archive and one entry name are needed");
  unsigned threads = 1;
  if (cli::ReadThreadsOption(args, "cat", threads) != cli::kDone) return cli::kNothing;
  std::unique_ptr<EntryReader> reader;
  int rc = cli::OpenReader(args.positionals[0], reader);
  if (rc == cli::kNothing) return rc;
  const std::string& name = args.positionals[1];
  // The last entry of the name: the one extraction leaves.
  for (uint32_t i = reader->Count(); i-- > 0;) {
    if (!vzrfs::EqualsIgnoringCase(reader->Entry(i).name, name)) continue;
    bool written = true, whole = false;
    VzrError why;
    EntryStreamSink sink;
    sink.piece = [&](uint32_t, const unsigned char* data, std::size_t n) {
      written = std::fwrite(data, 1, n, stdout) == n;
      return written;
    };
    sink.end = [&](uint32_t, bool entire, const VzrError& reason) {
      whole = entire;
      why = reason;
    };
    StreamEntries(*reader, {i}, threads, sink);
    if (!written || std::fflush(stdout) != 0) return cli::WriteError(errno);
    if (!whole) {
      cli::FileMessage(args.positionals[0], name + ": " + why.message);
      return cli::kProblems;
    }
    return rc;
  }
  cli::FileMessage(args.positionals[0], "no entry named '" + name + "'");
  return cli::kProblems;
}

const cli::Register extractVerb({"extract", "entries into files below a folder",
                                 "usage: vzr extract [-C DIR] [-v] [--threads N] ARCHIVE [PATTERN...]\n"
                                 "Writes every entry (or those a PATTERN selects) below DIR. Entries whose\n"
                                 "names would land outside DIR are refused and named; the others are written.\n"
                                 "  -C DIR       the folder to write below (default: the current folder)\n"
                                 "  -v           name each file written on standard output\n"
                                 VZR_HELP_READ_THREADS,
                                 {{"-C", true}, {"-v", false}, {"threads", true}},
                                 RunExtract});

const cli::Register catVerb({"cat", "one entry's content to standard output",
                             "usage: vzr cat [--threads N] ARCHIVE NAME\n"
                             "Writes the content of entry NAME (any letter case), byte for byte.\n"
                             VZR_HELP_READ_THREADS,
                             {{"threads", true}},
                             RunCat});

}  // namespace

int cli::ExtractEntries(VzrArchive& archive, const std::string& shownPath, const std::vector<uint32_t>& selected,
                        const std::string& dir, bool verbose, bool quiet, unsigned threads) {
  // Of entries that extraction writes to one file, the last in the index is
  // the one left there (and the one cat shows): the others are not written.
  std::vector<uint32_t> picked;
  const std::vector<bool> superseded = cli::SupersededEntries(archive);
  for (uint32_t i : selected)
    if (!superseded[i]) picked.push_back(i);
  const ::FileIndex all = archive.FileIndex;
  uint64_t totalBytes = 0;
  for (uint32_t i : picked) totalBytes += all.files[i].fileSize;
  cli::Progress progress(totalBytes, quiet);
  const KeepCurrentFolder here;
  archive.readAheadThreads = threads;
  int rc = cli::kDone;

  // ExtractAll stops at the first entry that fails; the rest are extracted
  // in a further round, so one refused entry costs only itself.
  size_t next = 0;
  uint64_t doneBytes = 0;
  while (next < picked.size()) {
    archive.FileIndex.release();
    uint32_t roundSize = 0;
    for (size_t k = next; k < picked.size(); ++k) archive.FileIndex.append(all.files[picked[k]]);
    archive.totalSize = 0;
    for (uint32_t k = 0; k < archive.FileIndex.count; ++k) archive.totalSize += archive.FileIndex.files[k].fileSize;
    auto written = [&](uint32_t k) {
      const FileEntry& e = archive.FileIndex.files[k];
      doneBytes += e.fileSize;
      if (verbose) {
        progress.Clear();
        std::printf("%s\n", cli::Shown(e.name).c_str());
      }
      progress.Update(doneBytes);
    };
    // ExtractAll tells each entry it starts and each file it wrote.
    const ProgressObserverScope follow([&](const ProgressEvent& event) {
      if (event.phase == ProgressPhase::kExtracting) roundSize = event.entry + 1;
      if (event.phase == ProgressPhase::kExtracted) written(event.entry);
    });
    std::string text;
    int result = 0;
    {
      cli::StatusCapture capture(text);
      result = archive.ExtractAll(dir.c_str());
    }
    here.Restore();
    if (result == 0) break;
    progress.Clear();
    if (result != 5 || roundSize == 0) {
      cli::FileMessage(result == 7 ? dir : shownPath, ExtractReason(archive));
      return cli::kNothing;
    }
    const FileEntry& failed = archive.FileIndex.files[roundSize - 1];
    cli::FileMessage(shownPath, std::string(failed.name) + ": " + ExtractReason(archive));
    rc = cli::kProblems;
    next += roundSize;
  }
  archive.FileIndex = all;
  cli::FlushOutput();
  return rc;
}

std::string cli::EntryKey(const char* name) {
  std::string key = ExtractionPath(name);
  if (key.empty()) key = name;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::vector<bool> cli::SupersededEntries(const VzrArchive& archive) {
  const uint32_t count = archive.FileIndex.count;
  std::vector<bool> superseded(count, false);
  std::unordered_set<std::string> later;
  for (uint32_t i = count; i-- > 0;)
    superseded[i] = !later.insert(EntryKey(archive.FileIndex.files[i].name)).second;
  return superseded;
}
