// mount_session.h - what one "vzr mount" shows and how its changes go back:
// the archives' readers, the tree of their entries merged, the overlay of a
// writable mount, and the commit of that overlay into the archive. No call
// of the operating system here: the FUSE adapter (mount_fuse) serves the
// session, the daemon part (mount_daemon) runs it in the background.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "entryreader.h"
#include "mount_overlay.h"
#include "mount_tree.h"
#include "vzrpack.h"

namespace vzrmount {

inline constexpr std::size_t kLongestName = 259;  // an index name's limit

struct MountOptions {
  bool writable = false;
  int level = kDefaultCompressionLevel;
  std::size_t cacheBytes = EntryReader::kDefaultCacheBytes;
  bool allowOther = false;
  bool threads = false;  // serve requests on several threads
  bool stats = false;    // tell at unmount how reads were served
};

// The tree and the overlay are guarded by `lock`; archive reads need none.
struct Session {
  std::vector<std::unique_ptr<EntryReader>> readers;
  Tree tree;
  std::unique_ptr<Overlay> overlay;  // writable mounts only
  bool writable = false;
  std::string archivePath;  // absolute, links resolved (the one a writable mount rewrites)
  int level = kDefaultCompressionLevel;
  int64_t time = 0;  // the archives' newest modification time
  uint64_t archiveBytes = 0;
  std::atomic<uint64_t> archiveReads{0};  // read requests served from archives
  std::mutex lock;
};

// path made absolute and lexically normal, without a trailing '/'.
std::string Absolute(const std::string& path);

// True when one of the folders a and b (both without links) holds the other
// or is it.
bool FoldersOverlap(const std::string& a, const std::string& b);

// The archives of a mod, in the order `vzr mod unpack` extracts them.
std::vector<std::string> ModArchives(const std::string& mod);

// Opens every archive and puts its entries into the tree, each later
// archive's over the earlier ones; names what is not shown.
bool LoadSources(Session& session, const std::vector<std::string>& paths, const MountOptions& options);

// A writable mount starts from the changes an earlier one left in the overlay.
bool ApplyOverlay(Session& session, const std::string& archive);

// The folder and the last name of a path in the mount; kNone when the folder
// is missing.
uint32_t ParentOf(const Tree& tree, const char* path, std::string& leaf);

std::string JoinPath(const std::string& dir, const std::string& leaf);

// Applies a writable mount's changes; the outcome for `vzr umount`: "ok" or
// "failed", then the lines to show.
std::string Commit(Session& session);

// How reads were served, for -o stats.
std::string Statistics(const Session& session);

}  // namespace vzrmount
