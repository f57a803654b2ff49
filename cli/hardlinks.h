// hardlinks.h - the note a rewrite gives when the archive has other names.
//
// Every rewrite writes a new copy and renames it over the archive, so that
// a failure at any point leaves the archive whole. A second hard link to the
// old file is not renamed over: it keeps the old content, and says so here.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

class OtherNames {
 public:
  // Counts the names of the file at path (links followed) as it is now,
  // before the rewrite replaces it.
  explicit OtherNames(const std::string& path);
  // "its N other name(s) (hard links) keep the old content", or "" for an
  // archive with one name (or none yet).
  std::string Note() const;
  // Says the note on standard error ("vzr: PATH: ..."), when there is one.
  void Tell() const;

 private:
  std::string path_;
  std::uintmax_t names_ = 0;
};

}  // namespace cli
