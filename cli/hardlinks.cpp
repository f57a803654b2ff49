// hardlinks.cpp - the note a rewrite gives when the archive has other names.
#include "hardlinks.h"

#include "cli.h"
#include "fileservices.h"

namespace cli {

// The file services count the names: the standard library's count is
// always 1 on Windows.
OtherNames::OtherNames(const std::string& path) : path_(path) {
  vzrfs::NodeFacts facts;
  names_ = vzrfs::FactsOf(path, facts) ? facts.names : 0;
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
