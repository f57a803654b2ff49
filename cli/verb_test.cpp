// verb_test.cpp - "vzr test": checks archives without writing anything,
// reading one entry at a time.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli.h"
#include "entryfaults.h"
#include "entryreader.h"
#include "fileservices.h"
#include "format.h"
#include "paths.h"
#include "progress.h"
#include "vzrpack.h"

namespace {

// Why extraction would not write the entry below the destination, or "".
std::string NameProblem(const FileEntry& e) {
  if (std::strlen(e.name) != e.nameLength) return "name holds a zero byte";
  if (!ExtractionPath(e.name).empty()) return "";
  const std::string n = vzrfs::WithSlashes(e.name);
  if (n.find_first_not_of('/') == std::string::npos) return "empty name";
  if (n.size() >= 2 && std::isalpha(static_cast<unsigned char>(n[0])) && n[1] == ':') return "name starts with a drive";
  if (n.back() == '/') return "name ends with '/' (names a folder)";
  if (n == "." || (n.size() >= 2 && n.compare(n.size() - 2, 2, "/.") == 0)) return "name ends with '.' (names a folder)";
  return "name leads outside the destination";
}

// The header's own problems: too short to be whole, an index inside it, an
// unknown storage mode.
void CheckHeader(const VzrArchive& a, std::vector<std::string>& problems) {
  if (a.archiveLength < vzr::kHeaderSize) {
    problems.push_back("header cut short (" + std::to_string(a.archiveLength) + " bytes)");
    return;
  }
  if (a.indexOffset < vzr::kHeaderSize) problems.push_back("index offset " + std::to_string(a.indexOffset) + " lies in the header");
  if (a.storageMode != vzr::kStorageRaw && a.storageMode != vzr::kStorageSegmented)
    problems.push_back(vzr::UnknownStorageModeFault(a.storageMode));
}

// Every stored form inside the data area (header end to index), none
// overlapping another.
void CheckPlaces(const VzrArchive& a, std::vector<std::string>& problems) {
  const uint32_t count = a.FileIndex.count;
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t x, uint32_t y) { return a.FileIndex.files[x].fileOffset < a.FileIndex.files[y].fileOffset; });
  uint64_t reach = vzr::kHeaderSize;
  std::string reachName;
  for (uint32_t i : order) {
    const FileEntry& e = a.FileIndex.files[i];
    const uint64_t end = uint64_t(e.fileOffset) + e.compSize;
    if (vzr::StoredFormOutsideDataArea(a, e))
      problems.push_back(std::string(e.name) + ": " + vzr::kFaultOutsideDataArea);
    else if (e.fileOffset < reach && e.compSize > 0)
      problems.push_back(std::string(e.name) + ": stored form overlaps " + reachName);
    if (end > reach) reach = end, reachName = e.name;
  }
}

// The 4-byte zero trailer right after the index, and nothing after it:
// readers never look at it, but every writer of the format puts it there,
// so its absence (or bytes after it) says the file was cut or added to.
void CheckTrailer(const std::string& path, const VzrArchive& a, std::vector<std::string>& problems) {
  uint64_t indexEnd = uint64_t(a.indexOffset) + 4;
  for (uint32_t i = 0; i < a.FileIndex.count; ++i)
    indexEnd += vzr::kIndexEntryFixedSize + a.FileIndex.files[i].nameLength;
  uint64_t length = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vzrfs::OpenRead(path.c_str(), &length), std::fclose);
  if (!file) return;  // the entry reader names an archive it cannot open
  if (length < indexEnd + vzr::kTrailerSize) {
    problems.push_back("trailer missing (" + std::to_string(length - indexEnd) + " of 4 bytes after the index)");
    return;
  }
  unsigned char trailer[vzr::kTrailerSize];
  if (vzrfs::Seek(file.get(), indexEnd) && vzrfs::Read(file.get(), trailer, sizeof trailer) &&
      vzr::ReadLE32(trailer) != 0)
    problems.push_back("trailer is " + std::to_string(vzr::ReadLE32(trailer)) + ", not 0");
  if (const uint64_t extra = length - indexEnd - vzr::kTrailerSize; extra > 0)
    problems.push_back(std::to_string(extra) + " bytes after the trailer");
}

// Names, duplicates, and the decoding of every entry, one at a time.
void CheckEntries(VzrArchive& a, const EntryReader& reader, bool quiet, std::vector<std::string>& problems, std::vector<std::string>& warnings) {
  const uint32_t count = a.FileIndex.count;
  std::unordered_set<std::string> seen;
  uint64_t total = 0, done = 0;
  for (uint32_t i = 0; i < count; ++i) total += a.FileIndex.files[i].fileSize;
  cli::Progress progress(total, quiet);
  for (uint32_t i = 0; i < count; ++i) {
    const FileEntry& e = a.FileIndex.files[i];
    if (std::string p = NameProblem(e); !p.empty()) problems.push_back(std::string(e.name) + ": " + p);
    // Names that extraction writes to the same file, in any letter case.
    if (!seen.insert(cli::EntryKey(e.name)).second)
      warnings.push_back(std::string(e.name) + ": duplicate name");
    // The reader checks the segment table before it decodes a byte. A
    // failed entry is decoded once more by Extract, whose reason the
    // message has always named.
    VzrError why;
    if (!reader.Stream(i, [](const unsigned char*, std::size_t) { return true; }, &why)) {
      if (!a.Extract(i, nullptr)) {
        problems.push_back(std::string(e.name) + ": does not decode (" + a.lastError.message + ")");
      } else {
        problems.push_back(std::string(e.name) + ": " +
                           (why.code == EntryReader::kErrorTable ? why.message : "does not decode (" + why.message + ")"));
      }
    }
    done += e.fileSize;
    progress.Update(done);
  }
  a.CloseArchiveStream();
}

// Checks one archive; prints "OK  name" or one line a problem. True when sound.
bool TestArchive(const std::string& path, bool quiet, bool json, bool& firstJson, bool& unreadable) {
  VzrArchive a;
  const int loaded = cli::LoadArchive(path, a);
  std::vector<std::string> problems, warnings;
  if (loaded == cli::kNothing) {
    problems.push_back("cannot be read");
    unreadable = true;
  } else {
    if (a.indexDamaged) problems.push_back("damaged index");
    CheckHeader(a, problems);
    CheckPlaces(a, problems);
    if (!a.indexDamaged) CheckTrailer(path, a, problems);
    VzrError why;
    if (const auto reader = EntryReader::Open(path, &why))
      CheckEntries(a, *reader, quiet, problems, warnings);
    else
      problems.push_back("cannot be read (" + why.message + ")");
  }
  if (json) {
    std::printf("%s\n{\"archive\":%s,\"ok\":%s,\"problems\":[", firstJson ? "" : ",", cli::JsonString(path).c_str(),
                problems.empty() ? "true" : "false");
    for (size_t k = 0; k < problems.size(); ++k) std::printf("%s%s", k ? "," : "", cli::JsonString(problems[k]).c_str());
    std::printf("],\"warnings\":[");
    for (size_t k = 0; k < warnings.size(); ++k) std::printf("%s%s", k ? "," : "", cli::JsonString(warnings[k]).c_str());
    std::printf("]}");
    firstJson = false;
  } else {
    const std::string shownPath = cli::Shown(path);
    if (problems.empty()) std::printf("OK  %s\n", shownPath.c_str());
    for (const std::string& p : problems) std::printf("BAD %s: %s\n", shownPath.c_str(), cli::Shown(p).c_str());
    for (const std::string& w : warnings) std::printf("WARN %s: %s\n", shownPath.c_str(), cli::Shown(w).c_str());
  }
  return problems.empty();
}

int RunTest(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("test", "an archive is needed");
  const bool json = args.Has("json");
  bool firstJson = true, allSound = true, unreadable = false;
  if (json) std::fputs("[", stdout);
  std::size_t checked = 0;
  for (const std::string& path : args.positionals) {
    unreadable = false;
    allSound = TestArchive(path, args.quiet, json, firstJson, unreadable) && allSound;
    if (!unreadable) ++checked;
  }
  if (json) std::fputs("\n]\n", stdout);
  // 2 only when not one archive could be checked; damage found is 1.
  return checked == 0 ? cli::kNothing : allSound ? cli::kDone : cli::kProblems;
}

const cli::Register reg({"test", "checks archives without writing anything",
                         "usage: vzr test [--json] ARCHIVE...\n"
                         "Checks each archive without writing anything, one entry at a time: the header\n"
                         "and index read whole, a known storage mode, every stored form inside the data\n"
                         "area with no two overlapping, the 4-byte trailer right after the index and\n"
                         "nothing after it, every entry decoding to exactly its size with a consistent\n"
                         "segment table, and every name one that extraction writes below the\n"
                         "destination; duplicate names (letter case ignored) are warnings. Prints\n"
                         "\"OK  name\", or \"BAD name: problem\" and \"WARN name: warning\" lines.\n"
                         "  --json       one array of {\"archive\",\"ok\",\"problems\",\"warnings\"}\n",
                         {{"json", false}},
                         RunTest});

}  // namespace
