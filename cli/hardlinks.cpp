// hardlinks.cpp - the note a rewrite gives when the archive has other names.
#include "hardlinks.h"

#include <filesystem>
#include <system_error>

#include "cli.h"
#include "fspath.h"

namespace cli {

OtherNames::OtherNames(const std::string& path) : path_(path) {
  std::error_code ec;
  const std::uintmax_t names = std::filesystem::hard_link_count(vzrfs::FsPath(path), ec);
  names_ = ec ? 0 : names;
}

std::string OtherNames::Note() const {
  if (names_ < 2) return "";
  const std::uintmax_t others = names_ - 1;
  return "written as a file of its own: its " + std::to_string(others) +
         (others == 1 ? " other name (hard link) keeps" : " other names (hard links) keep") + " the old content";
}

void OtherNames::Tell() const {
  if (const std::string note = Note(); !note.empty()) FileMessage(path_, note);
}

}  // namespace cli
