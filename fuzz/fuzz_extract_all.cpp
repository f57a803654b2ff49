// fuzz_extract_all.cpp - ExtractAll of arbitrary archives into a folder,
// failing when anything appears outside it.
//
// The scratch folder holds root/l1/.../l6/dest, with the archive itself at
// dest/archive.vzr (as when a mod folder is unpacked into the folder that
// holds its archives). After each run every folder from the scratch folder
// down to dest must hold nothing but the next folder down, and the archive
// must still hold exactly its bytes. Names that climb further than the
// scratch folder would land in its parent or in "/": a new name there that
// also occurs in the input is a finding too.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "vzrpack.h"

namespace fs = std::filesystem;
using fuzzsupport::Fail;

namespace {

struct Layout {
  fs::path scratch;
  fs::path dest;
  fs::path archive;
  std::set<fs::path> above;  // the folders from scratch down to dest's parent
};

const Layout& TheLayout() {
  static const Layout layout = [] {
    Layout l;
    l.scratch = fuzzsupport::ScratchDir();
    fs::path p = l.scratch;
    l.above.insert(p);
    for (const char* part : {"root", "l1", "l2", "l3", "l4", "l5", "l6"}) {
      p /= part;
      l.above.insert(p);
    }
    l.dest = p / "dest";
    l.archive = l.dest / "archive.vzr";
    fs::create_directories(p);
    return l;
  }();
  return layout;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.insert(it->path().filename().string());
  return names;
}

// One object for every run, as the mod-folder unpacker loads archive after
// archive into one object (a fresh object's 10 MB of buffers cost more under
// the sanitizers than a whole run).
VzrArchive& SharedArchive() {
  static VzrArchive* archive = new VzrArchive;
  return *archive;
}

const fs::path& StartFolder() {
  static const fs::path start = fs::current_path();
  return start;
}

// A folder that must not gain entries: the folders above dest, whose only
// entry is the next folder down, and two folders outside the scratch folder
// that others share (its parent and "/"), where a new name counts only if it
// occurs in the input. A folder is listed only when its modification time
// moved, which keeps a run cheap.
struct Watched {
  fs::path folder;
  std::set<std::string> allowed;
  bool shared = false;
  struct timespec stamp {};
};

struct timespec Stamp(const fs::path& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) Fail("cannot look at " + folder.string());
  return st.st_mtim;
}

std::vector<Watched>& WatchedFolders() {
  static std::vector<Watched> folders = [] {
    std::vector<Watched> w;
    const Layout& l = TheLayout();
    for (const fs::path& folder : l.above) {
      Watched entry{folder, {}, false, {}};
      for (const fs::path& below : l.above)
        if (below.parent_path() == folder) entry.allowed.insert(below.filename().string());
      if (folder == l.dest.parent_path()) entry.allowed.insert(l.dest.filename().string());
      w.push_back(entry);
    }
    for (const fs::path& folder : {l.scratch.parent_path(), fs::path("/")}) w.push_back({folder, Names(folder), true, {}});
    for (Watched& entry : w) entry.stamp = Stamp(entry.folder);
    return w;
  }();
  return folders;
}

void CheckNothingOutside(std::string_view input) {
  for (Watched& w : WatchedFolders()) {
    const struct timespec now = Stamp(w.folder);
    if (now.tv_sec == w.stamp.tv_sec && now.tv_nsec == w.stamp.tv_nsec) continue;
    w.stamp = now;
    for (const std::string& name : Names(w.folder)) {
      if (w.allowed.count(name)) continue;
      if (!w.shared || input.find(name) != std::string_view::npos)
        Fail("extraction wrote outside the destination: " + (w.folder / name).string());
      w.allowed.insert(name);  // someone else's file
    }
  }
}

void CheckArchiveUnchanged(const uint8_t* data, std::size_t size) {
  std::error_code ec;
  const auto length = fs::file_size(TheLayout().archive, ec);
  if (ec || length != size) Fail("the archive being read was changed");
  std::FILE* f = std::fopen(TheLayout().archive.c_str(), "rb");
  if (!f) Fail("the archive being read was removed");
  std::vector<uint8_t> bytes(size);
  const bool same = (size == 0 || std::fread(bytes.data(), 1, size, f) == size) &&
                    std::equal(bytes.begin(), bytes.end(), data);
  std::fclose(f);
  if (!same) Fail("the archive being read was overwritten");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::QuietTrace();
  StartFolder();
  TheLayout();
  WatchedFolders();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const Layout& l = TheLayout();
  std::error_code ec;
  fs::remove_all(l.dest, ec);
  fs::create_directory(l.dest, ec);
  if (ec) Fail("cannot make " + l.dest.string() + ": " + ec.message());
  fuzzsupport::WriteWhole(l.archive.string(), data, size);
  VzrArchive& archive = SharedArchive();
  archive.LoadIndex(l.archive.c_str());
  archive.ExtractAll(l.dest.c_str());
  archive.CloseArchiveStream();
  // Extraction leaves the process in the destination; libFuzzer's own paths
  // may be relative to where it started.
  if (::chdir(StartFolder().c_str()) != 0) Fail("cannot return to " + StartFolder().string());

  CheckNothingOutside(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckArchiveUnchanged(data, size);
  return 0;
}
