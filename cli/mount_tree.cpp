// mount_tree.cpp - the folder tree of a mount.
#include "mount_tree.h"

#include <algorithm>

#include "vzrpack.h"

namespace vzrmount {

std::string Fold(std::string_view text) {
  std::string folded(text);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

Tree::Tree() : slots_(16) {
  nodes_.emplace_back();
  nodes_[kRoot].isDir = true;
}

void Tree::Reserve(std::size_t n) {
  nodes_.reserve(nodes_.size() + n);
  while (2 * (indexed_ + n) > slots_.size()) Grow();
}

uint32_t Tree::HashOf(uint32_t dir, std::string_view name) {
  uint64_t h = 0xcbf29ce484222325ull ^ (uint64_t{dir} * 0x9e3779b97f4a7c15ull);
  for (char c : name) h = (h ^ static_cast<unsigned char>(Lower(c))) * 0x100000001b3ull;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

void Tree::Grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.node == kNone) continue;
    std::size_t at = slot.hash & mask;
    while (slots_[at].node != kNone) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void Tree::Index(uint32_t id) {
  if (2 * (indexed_ + 1) > slots_.size()) Grow();
  const uint32_t hash = HashOf(nodes_[id].parent, nodes_[id].name);
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  while (slots_[at].node != kNone) at = (at + 1) & mask;
  slots_[at] = {hash, id};
  ++indexed_;
}

void Tree::Unindex(uint32_t id) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = HashOf(nodes_[id].parent, nodes_[id].name) & mask;
  while (slots_[at].node != id) {
    if (slots_[at].node == kNone) return;
    at = (at + 1) & mask;
  }
  // Backward shift: pull later slots of the run into the gap when their
  // home lies at or before it, so no lookup ever stops short.
  for (std::size_t next = (at + 1) & mask; slots_[next].node != kNone; next = (next + 1) & mask) {
    const std::size_t home = slots_[next].hash & mask;
    const bool movable = at <= next ? (home <= at || home > next) : (home <= at && home > next);
    if (movable) {
      slots_[at] = slots_[next];
      at = next;
    }
  }
  slots_[at] = Slot{};
  --indexed_;
}

uint32_t Tree::Child(uint32_t dir, std::string_view name) const {
  const uint32_t hash = HashOf(dir, name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask; slots_[at].node != kNone; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.hash == hash && nodes_[slot.node].parent == dir && EqualFolded(nodes_[slot.node].name, name))
      return slot.node;
  }
  return kNone;
}

uint32_t Tree::Find(std::string_view path) const {
  uint32_t at = kRoot;
  std::size_t pos = 0;
  while (pos < path.size() && at != kNone) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) {
      if (!nodes_[at].isDir) return kNone;
      at = Child(at, path.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  return at;
}

std::string Tree::PathOf(uint32_t id) const {
  std::vector<const std::string*> parts;
  for (uint32_t at = id; at != kRoot; at = nodes_[at].parent) parts.push_back(&nodes_[at].name);
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += **it;
  }
  return path;
}

void Tree::Link(uint32_t id, uint32_t dir) {
  nodes_[id].parent = dir;
  nodes_[dir].children.push_back(id);
  Index(id);
}

void Tree::Unlink(uint32_t id) {
  Node& dir = nodes_[nodes_[id].parent];
  Unindex(id);
  dir.children.erase(std::find(dir.children.begin(), dir.children.end(), id));
}

uint32_t Tree::MakeNode(uint32_t dir, std::string_view name, bool isDir) {
  const auto id = static_cast<uint32_t>(nodes_.size());
  nodes_.emplace_back();
  nodes_[id].name = name;
  nodes_[id].isDir = isDir;
  Link(id, dir);
  ++live_;
  return id;
}

uint32_t Tree::Make(uint32_t dir, const std::string& name, bool isDir) { return MakeNode(dir, name, isDir); }

uint32_t Tree::FolderFor(uint32_t dir, std::string_view component) {
  const uint32_t found = Child(dir, component);
  if (found == kNone) return MakeNode(dir, component, true);
  return nodes_[found].isDir ? found : kNone;
}

Tree::Placed Tree::Add(std::string_view name, int32_t archive, uint32_t entry, uint64_t size) {
  // A zero byte inside the stored name: extraction refuses it, and the
  // terminated text would name some other path.
  if (name.find('\0') != std::string_view::npos) return Placed::kRefused;
  const std::string path = ExtractionPath(std::string(name).c_str());
  if (path.empty()) return Placed::kRefused;
  const std::string_view whole(path);
  uint32_t dir = kRoot;
  std::size_t pos = 0;
  for (std::size_t slash; (slash = whole.find('/', pos)) != std::string_view::npos; pos = slash + 1) {
    if (slash == pos) continue;
    dir = FolderFor(dir, whole.substr(pos, slash - pos));
    if (dir == kNone) return Placed::kClash;
  }
  const std::string_view leaf = whole.substr(pos);
  const Content content{archive, entry, size};
  const uint32_t found = Child(dir, leaf);
  if (found == kNone) {
    nodes_[MakeNode(dir, leaf, false)].content = content;
    return Placed::kShown;
  }
  Node& existing = nodes_[found];
  if (existing.isDir) return Placed::kClash;
  // A later entry of the path replaces an earlier one, in one archive as in
  // a mod's later archive: extraction into one folder leaves the last one
  // (under the spelling met first), and `vzr cat` returns that one.
  const bool sameArchive = existing.content.archive == archive;
  existing.content = content;
  return sameArchive ? Placed::kDuplicate : Placed::kReplacing;
}

void Tree::Remove(uint32_t id) {
  Unlink(id);
  std::vector<uint32_t> pending{id};
  while (!pending.empty()) {
    const uint32_t at = pending.back();
    pending.pop_back();
    Node& n = nodes_[at];
    n.live = false;
    --live_;
    for (uint32_t child : n.children) Unindex(child);
    pending.insert(pending.end(), n.children.begin(), n.children.end());
    n.children.clear();
  }
}

void Tree::Move(uint32_t id, uint32_t dir, const std::string& name) {
  Unlink(id);
  nodes_[id].name = name;
  Link(id, dir);
}

bool Tree::IsWithin(uint32_t id, uint32_t dir) const {
  for (uint32_t at = id;; at = nodes_[at].parent) {
    if (at == dir) return true;
    if (at == kRoot) return false;
  }
}

std::vector<uint32_t> Tree::FilesBelow(uint32_t id) const {
  std::vector<uint32_t> files, pending{id};
  while (!pending.empty()) {
    const uint32_t at = pending.back();
    pending.pop_back();
    if (!nodes_[at].isDir) files.push_back(at);
    pending.insert(pending.end(), nodes_[at].children.rbegin(), nodes_[at].children.rend());
  }
  return files;
}

}  // namespace vzrmount
