// mount_tree.h - the folder tree a mounted archive (or a merged mod) shows,
// kept apart from FUSE so it can be built and checked on its own.
//
// Every entry shows where extraction would write it. Names are looked up
// without regard to ASCII letter case, as the engine compares entry names:
// two entries whose paths differ only in case are one file. Each node keeps
// its number for as long as the tree lives, which gives stable inode numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vzrmount {

// A file's content: an archive entry, or a file in the overlay folder.
struct Content {
  int32_t archive = -1;  // which opened archive; -1: none (a folder, or the overlay's copy)
  uint32_t entry = 0;    // index in that archive
  uint64_t size = 0;     // the entry's content size
};

struct Node {
  std::string name;  // as shown (the spelling met first)
  uint32_t parent = 0;
  bool isDir = false;
  bool live = true;        // false once removed; its number is never reused
  bool inOverlay = false;  // a file whose content is the overlay's copy
  Content content;
  std::vector<uint32_t> children;  // in the order they came
};

// ASCII letters folded to lower case, the rest unchanged.
std::string Fold(std::string_view text);

class Tree {
 public:
  static constexpr uint32_t kRoot = 0;
  static constexpr uint32_t kNone = UINT32_MAX;

  Tree();
  // Room for n more nodes, so that a big index is placed without regrowing.
  void Reserve(std::size_t n);

  // What became of an entry given to Add.
  enum class Placed {
    kShown,      // a new file
    kReplacing,  // took the place of an earlier archive's file of the same path
    kDuplicate,  // took the place of an earlier entry of the same path (any case) in the same archive
    kRefused,    // extraction refuses the name: not shown
    kClash,      // a file where a folder stands, or a folder where a file stands
  };
  // Adds the entry named `name` (as stored in the index; nameLength bytes,
  // which may hold a zero byte) of archive `archive`.
  Placed Add(std::string_view name, int32_t archive, uint32_t entry, uint64_t size);

  // The node at a '/'-separated path ("/" or "" is the root), or kNone.
  uint32_t Find(std::string_view path) const;
  uint32_t Child(uint32_t dir, std::string_view name) const;
  // The node's path below the root, '/'-separated, no leading '/'.
  std::string PathOf(uint32_t id) const;

  const Node& At(uint32_t id) const { return nodes_[id]; }
  Node& At(uint32_t id) { return nodes_[id]; }
  uint32_t Size() const { return static_cast<uint32_t>(nodes_.size()); }
  uint32_t LiveCount() const { return live_; }

  // A new empty file or folder `name` in folder dir (no node of that name
  // may be there).
  uint32_t Make(uint32_t dir, const std::string& name, bool isDir);
  // Takes node id (and what is below it) out of the tree.
  void Remove(uint32_t id);
  // Moves node id into folder dir under name (no other node of that name
  // may be there).
  void Move(uint32_t id, uint32_t dir, const std::string& name);
  // Whether id is dir or lies below it.
  bool IsWithin(uint32_t id, uint32_t dir) const;
  // Every live file at or below id, in tree order.
  std::vector<uint32_t> FilesBelow(uint32_t id) const;

 private:
  uint32_t FolderFor(uint32_t dir, std::string_view component);
  uint32_t MakeNode(uint32_t dir, std::string_view name, bool isDir);
  void Unlink(uint32_t id);
  void Link(uint32_t id, uint32_t dir);

  // The name table: open addressing with linear probing over (hash, node)
  // pairs, keyed by the folder's number and the folded name, which are
  // read from the node itself (no key is stored twice).
  struct Slot {
    uint32_t hash = 0;
    uint32_t node = kNone;
  };
  static uint32_t HashOf(uint32_t dir, std::string_view name);
  void Index(uint32_t id);
  void Unindex(uint32_t id);
  void Grow();

  std::vector<Node> nodes_;
  std::vector<Slot> slots_;  // a power of two long, at most half full
  std::size_t indexed_ = 0;
  uint32_t live_ = 1;
};

}  // namespace vzrmount
