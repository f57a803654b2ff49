// verb_list.cpp - "vzr list": the names of an archive's entries.
#include <cstdio>
#include <string>

#include "cli.h"
#include "vzrpack.h"

namespace {

int RunList(const cli::Args& args) {
  if (args.positionals.empty()) return cli::Usage("list", "an archive is needed");
  VzrArchive archive;
  int rc = cli::LoadArchive(args.positionals[0], archive);
  if (rc == cli::kNothing) return rc;
  const bool longForm = args.Has("long");
  for (uint32_t i = 0; i < archive.FileIndex.count; ++i) {
    const FileEntry& e = archive.FileIndex.files[i];
    if (longForm)
      std::printf("%10u %10u %10u %s\n", e.fileSize, e.compSize, e.fileOffset, e.name);
    else
      std::printf("%s\n", e.name);
  }
  return rc;
}

const cli::Register reg({"list", "the names of an archive's entries",
                         "usage: vzr list [--long] [--json] ARCHIVE [PATTERN...]\n"
                         "Prints the entries' names, one a line.\n"
                         "  --long       size, stored size, offset and name\n"
                         "  --json       one array of {\"name\",\"size\",\"stored\",\"offset\"}\n",
                         {{"long", false}, {"json", false}},
                         RunList});

}  // namespace
