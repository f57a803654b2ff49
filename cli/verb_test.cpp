// verb_test.cpp - "vzr test": checks archives without writing anything,
// reading one entry at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.h"
#include "progress.h"
#include "vzrpack.h"

namespace {

constexpr uint64_t kDataStart = 156;

// Why extraction would not write name below the destination, or "".
std::string NameProblem(const FileEntry& e) {
  if (e.nameLength == 0 || e.name[0] == 0) return "empty name";
  if (std::strlen(e.name) != e.nameLength) return "name holds a zero byte";
  const std::string n = e.name;
  if (n.size() >= 2 && n[1] == ':') return "name starts with a drive";
  size_t start = 0;
  while (start <= n.size()) {
    size_t end = n.find_first_of("/\\", start);
    if (end == std::string::npos) end = n.size();
    if (n.compare(start, end - start, "..") == 0) return "name leads outside the destination";
    start = end + 1;
  }
  return "";
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Checks one archive; prints "OK  name" or one line a problem. True when sound.
bool TestArchive(const std::string& path, bool quiet, bool json, bool& firstJson, bool& unreadable) {
  VzrArchive a;
  const int loaded = cli::LoadArchive(path, a);
  std::vector<std::string> problems, warnings;
  if (loaded == cli::kNothing) problems.push_back("cannot be read"), unreadable = true;
  if (a.indexDamaged && loaded != cli::kNothing) problems.push_back("damaged index");
  const uint32_t count = a.FileIndex.count;
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t x, uint32_t y) { return a.FileIndex.files[x].fileOffset < a.FileIndex.files[y].fileOffset; });
  uint64_t reach = kDataStart;
  std::string reachName;
  for (uint32_t i : order) {
    const FileEntry& e = a.FileIndex.files[i];
    const uint64_t end = uint64_t(e.fileOffset) + e.compSize;
    if (e.fileOffset < kDataStart || end > a.indexOffset)
      problems.push_back(std::string(e.name) + ": stored form outside the data area");
    else if (e.fileOffset < reach && e.compSize > 0)
      problems.push_back(std::string(e.name) + ": stored form overlaps " + reachName);
    if (end > reach) reach = end, reachName = e.name;
  }
  std::unordered_map<std::string, uint32_t> seen;
  uint64_t total = 0, done = 0;
  for (uint32_t i = 0; i < count; ++i) total += a.FileIndex.files[i].fileSize;
  cli::Progress progress(total, quiet);
  for (uint32_t i = 0; i < count && loaded != cli::kNothing; ++i) {
    const FileEntry& e = a.FileIndex.files[i];
    if (std::string p = NameProblem(e); !p.empty()) problems.push_back(std::string(e.name) + ": " + p);
    if (!seen.emplace(Lower(e.name), i).second) warnings.push_back(std::string(e.name) + ": duplicate name");
    cli::ClearTrace();
    if (!a.Extract(i, nullptr)) {
      std::string r = cli::LastTrace();
      if (r.rfind("ERROR! ", 0) == 0) r.erase(0, 7);
      problems.push_back(std::string(e.name) + ": does not decode (" + r + ")");
    }
    done += e.fileSize;
    progress.Update(done);
  }
  progress.Clear();
  if (json) {
    std::printf("%s\n{\"archive\":%s,\"ok\":%s,\"problems\":[", firstJson ? "" : ",", cli::JsonString(path).c_str(),
                problems.empty() ? "true" : "false");
    for (size_t k = 0; k < problems.size(); ++k) std::printf("%s%s", k ? "," : "", cli::JsonString(problems[k]).c_str());
    std::printf("],\"warnings\":[");
    for (size_t k = 0; k < warnings.size(); ++k) std::printf("%s%s", k ? "," : "", cli::JsonString(warnings[k]).c_str());
    std::printf("]}");
    firstJson = false;
  } else {
    if (problems.empty()) std::printf("OK  %s\n", path.c_str());
    for (const std::string& p : problems) std::printf("BAD %s: %s\n", path.c_str(), p.c_str());
    for (const std::string& w : warnings) std::printf("WARN %s: %s\n", path.c_str(), w.c_str());
  }
  return problems.empty();
}

int RunTest(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("test", "an archive is needed");
  const bool json = args.Has("json");
  bool firstJson = true, allSound = true, unreadable = false;
  if (json) std::fputs("[", stdout);
  for (const std::string& path : args.positionals)
    allSound = TestArchive(path, args.quiet, json, firstJson, unreadable) && allSound;
  if (json) std::fputs("\n]\n", stdout);
  return unreadable ? cli::kNothing : allSound ? cli::kDone : cli::kProblems;
}

const cli::Register reg({"test", "checks archives without writing anything",
                         "usage: vzr test [--json] ARCHIVE...\n"
                         "Checks that the header and index read whole, every stored form lies inside the\n"
                         "data area without overlap, every entry decodes to its size, and every name\n"
                         "stays below the destination; duplicate names are warnings. Prints \"OK  name\"\n"
                         "or the problems.\n"
                         "  --json       one array of {\"archive\",\"ok\",\"problems\",\"warnings\"}\n",
                         {{"json", false}},
                         RunTest});

}  // namespace
