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

Tree::Tree() {
  nodes_.emplace_back();
  nodes_[kRoot].isDir = true;
}

void Tree::Reserve(std::size_t n) {
  nodes_.reserve(nodes_.size() + n);
  byName_.reserve(byName_.size() + n);
}

std::string Tree::Key(uint32_t dir, std::string_view name) {
  std::string key(reinterpret_cast<const char*>(&dir), sizeof dir);
  key += Fold(name);
  return key;
}

uint32_t Tree::Child(uint32_t dir, std::string_view name) const {
  auto it = byName_.find(Key(dir, name));
  return it == byName_.end() ? kNone : it->second;
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
  byName_.emplace(Key(dir, nodes_[id].name), id);
}

void Tree::Unlink(uint32_t id) {
  Node& dir = nodes_[nodes_[id].parent];
  byName_.erase(Key(nodes_[id].parent, nodes_[id].name));
  dir.children.erase(std::find(dir.children.begin(), dir.children.end(), id));
}

uint32_t Tree::Make(uint32_t dir, const std::string& name, bool isDir) {
  const auto id = static_cast<uint32_t>(nodes_.size());
  nodes_.emplace_back();
  nodes_[id].name = name;
  nodes_[id].isDir = isDir;
  Link(id, dir);
  ++live_;
  return id;
}

uint32_t Tree::FolderFor(uint32_t dir, const std::string& component) {
  const uint32_t found = Child(dir, component);
  if (found == kNone) return Make(dir, component, true);
  return nodes_[found].isDir ? found : kNone;
}

Tree::Placed Tree::Add(std::string_view name, int32_t archive, uint32_t entry, uint64_t size) {
  // A zero byte inside the stored name: extraction refuses it, and the
  // terminated text would name some other path.
  if (name.find('\0') != std::string_view::npos) return Placed::kRefused;
  const std::string path = ExtractionPath(std::string(name).c_str());
  if (path.empty()) return Placed::kRefused;
  uint32_t dir = kRoot;
  std::size_t pos = 0;
  for (std::size_t slash; (slash = path.find('/', pos)) != std::string::npos; pos = slash + 1) {
    if (slash == pos) continue;
    dir = FolderFor(dir, path.substr(pos, slash - pos));
    if (dir == kNone) return Placed::kClash;
  }
  const std::string leaf = path.substr(pos);
  const Content content{archive, entry, size};
  const uint32_t found = Child(dir, leaf);
  if (found == kNone) {
    nodes_[Make(dir, leaf, false)].content = content;
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
    for (uint32_t child : n.children) byName_.erase(Key(at, nodes_[child].name));
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
