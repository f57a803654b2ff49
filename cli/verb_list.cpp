// verb_list.cpp - "vzr list": the names of an archive's entries.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "pattern.h"
#include "vzrpack.h"

namespace {

// One name and a line break; the plain listing is mostly this, and a
// formatted print of each of 100,000 names costs more than reading them.
void PutLine(const char* name, uint32_t length) {
  const std::string_view text(name, ::strnlen(name, length));
  if (cli::NeedsEscape(text)) {
    const std::string shown = cli::Shown(text);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  std::putc('\n', stdout);
}

int RunList(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("list", "an archive is needed");
  VzrArchive archive;
  int rc = cli::LoadArchive(args.positionals[0], archive);
  if (rc == cli::kNothing) return rc;
  const std::vector<std::string> patterns(args.positionals.begin() + 1, args.positionals.end());
  const bool longForm = args.Has("long"), json = args.Has("json");
  if (json) std::fputs("[", stdout);
  bool first = true;
  std::vector<bool> used(patterns.size(), false);
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    bool hit = patterns.empty();
    for (size_t p = 0; p < patterns.size(); ++p)
      if (cli::Selects(patterns[p], e.name)) hit = used[p] = true;
    if (!hit) continue;
    if (json)
      std::printf("%s\n{\"name\":%s,\"size\":%u,\"stored\":%u,\"offset\":%u}", first ? "" : ",",
                  cli::JsonString(e.name).c_str(), e.fileSize, e.compSize, e.fileOffset);
    else if (longForm)
      std::printf("%10u %10u %10u %s\n", e.fileSize, e.compSize, e.fileOffset, cli::Shown(e.name).c_str());
    else
      PutLine(e.name, e.nameLength);
    first = false;
  }
  if (json) std::fputs("\n]\n", stdout);
  // As extract does: a pattern that selects nothing is named, and the run
  // ends with 1, so a script can tell "none" from "some" (as from grep).
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) {
      cli::FileMessage(args.positionals[0], "no entry matches '" + patterns[p] + "'");
      rc = std::max(rc, cli::kProblems);
    }
  return rc;
}

const cli::Register reg({"list", "the names of an archive's entries",
                         "usage: vzr list [--long] [--json] ARCHIVE [PATTERN...]\n"
                         "Prints the names of the entries (those a PATTERN selects), one a line.\n"
                         "A PATTERN that selects nothing is named on standard error (exit 1).\n"
                         "  --long       size, stored size, offset and name\n"
                         "  --json       one array of {\"name\",\"size\",\"stored\",\"offset\"}\n",
                         {{"long", false}, {"json", false}},
                         RunList});

}  // namespace
