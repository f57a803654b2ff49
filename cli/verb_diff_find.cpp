// verb_diff_find.cpp - "vzr diff" (two archives by decoded content) and
// "vzr find" (archives holding matching entries, from their indexes alone).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli.h"
#include "fspath.h"
#include "paths.h"
#include "pattern.h"
#include "vzrpack.h"

namespace {

// True when entry i of a and entry j of b decode to the same bytes.
bool SameContent(VzrArchive& a, uint32_t i, VzrArchive& b, uint32_t j) {
  if (a.FileIndex.files[i].fileSize != b.FileIndex.files[j].fileSize) return false;
  const unsigned char* x = a.Extract(i, nullptr);
  if (!x) return false;
  std::vector<unsigned char> copy(x, x + a.curLength);
  const unsigned char* y = b.Extract(j, nullptr);
  return y && b.curLength == copy.size() && std::memcmp(copy.data(), y, copy.size()) == 0;
}

int RunDiff(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("diff", "two archives are needed");
  VzrArchive a, b;
  const int ra = cli::LoadArchive(args.positionals[0], a);
  if (ra == cli::kNothing) return ra;
  const int rb = cli::LoadArchive(args.positionals[1], b);
  if (rb == cli::kNothing) return rb;
  // Names that extraction writes to one file compare as one: the last entry
  // of each, the one extraction leaves.
  const std::vector<bool> supersededA = cli::SupersededEntries(a), supersededB = cli::SupersededEntries(b);
  std::unordered_map<std::string, uint32_t> inB;
  for (uint32_t j = 0; j < b.FileIndex.count; ++j)
    if (!supersededB[j]) inB.emplace(cli::EntryKey(b.FileIndex.files[j].name), j);
  std::vector<std::string> onlyA, onlyB, changed;
  std::unordered_map<std::string, bool> inA;
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    if (supersededA[i]) continue;
    const std::string key = cli::EntryKey(a.FileIndex.files[i].name);
    inA.emplace(key, true);
    auto it = inB.find(key);
    if (it == inB.end()) onlyA.push_back(a.FileIndex.files[i].name);
    else if (!SameContent(a, i, b, it->second)) changed.push_back(a.FileIndex.files[i].name);
  }
  for (uint32_t j = 0; j < b.FileIndex.count; ++j)
    if (!supersededB[j] && !inA.count(cli::EntryKey(b.FileIndex.files[j].name)))
      onlyB.push_back(b.FileIndex.files[j].name);
  if (args.Has("json")) {
    auto list = [](const std::vector<std::string>& v) {
      std::string s = "[";
      for (size_t k = 0; k < v.size(); ++k) {
        if (k) s += ',';
        s += cli::JsonString(v[k]);
      }
      return s + "]";
    };
    std::printf("{\"onlyA\":%s,\"onlyB\":%s,\"changed\":%s}\n", list(onlyA).c_str(), list(onlyB).c_str(),
                list(changed).c_str());
  } else {
    for (const auto& n : onlyA) std::printf("only in A: %s\n", cli::Shown(n).c_str());
    for (const auto& n : onlyB) std::printf("only in B: %s\n", cli::Shown(n).c_str());
    for (const auto& n : changed) std::printf("changed:   %s\n", cli::Shown(n).c_str());
  }
  const bool differ = !onlyA.empty() || !onlyB.empty() || !changed.empty();
  return differ || ra || rb ? cli::kProblems : cli::kDone;
}

bool IsArchiveName(const std::filesystem::path& p) { return vzrfs::EqualsIgnoringCase(vzrfs::Utf8Path(p.extension()), ".vzr"); }

// Prints "archive<TAB>entry" for every entry of path the pattern selects.
bool FindIn(const std::string& pattern, const std::string& path) {
  VzrArchive a;
  a.LoadIndex(path.c_str());  // the index alone: no entry data is read
  bool found = false;
  for (uint32_t i = 0; i < a.FileIndex.count; ++i)
    if (cli::Selects(pattern, a.FileIndex.files[i].name)) {
      std::printf("%s\t%s\n", cli::Shown(path).c_str(), cli::Shown(a.FileIndex.files[i].name).c_str());
      found = true;
    }
  return found;
}

}  // namespace

bool cli::ArchivesAt(const std::string& path, std::vector<std::string>& archives) {
  const std::filesystem::path root = vzrfs::FsPath(path);
  std::error_code ec;
  archives.clear();
  if (std::filesystem::is_regular_file(root, ec)) {
    archives.push_back(path);
    return true;
  }
  if (!std::filesystem::is_directory(root, ec)) {
    cli::FileMessage(path, "no such file or folder");
    return false;
  }
  // In name order, so that the same tree always gives the same lines.
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file(ec) && IsArchiveName(it->path())) archives.push_back(vzrfs::Utf8Path(it->path()));
  std::sort(archives.begin(), archives.end());
  return true;
}

namespace {

int RunFind(const cli::Args& args) {
  if (args.positionals.size() < 2) return cli::Usage("find", "a pattern and a path are needed");
  const std::string& pattern = args.positionals[0];
  bool found = false, unreadable = false;
  for (size_t k = 1; k < args.positionals.size(); ++k) {
    std::vector<std::string> archives;
    if (!cli::ArchivesAt(args.positionals[k], archives)) {
      unreadable = true;
      continue;
    }
    for (const std::string& archive : archives) found = FindIn(pattern, archive) || found;
  }
  if (unreadable) return cli::kNothing;
  return found ? cli::kDone : cli::kProblems;
}

const cli::Register diffVerb({"diff", "entries only in A, only in B, and changed",
                              "usage: vzr diff [--json] ARCHIVE_A ARCHIVE_B\n"
                              "Compares by decoded content (the storage mode does not count); exit 1 when\n"
                              "they differ.\n"
                              "  --json       one object {\"onlyA\",\"onlyB\",\"changed\"}\n",
                              {{"json", false}},
                              RunDiff});

const cli::Register findVerb({"find", "archives that hold matching entries",
                              "usage: vzr find PATTERN PATH...\n"
                              "Reads the index of every .vzr file below each PATH (or named), in name\n"
                              "order, and prints \"archive<TAB>entry\" for every entry PATTERN selects;\n"
                              "exit 1 when none. Entry data is never read.\n",
                              {},
                              RunFind});

}  // namespace
