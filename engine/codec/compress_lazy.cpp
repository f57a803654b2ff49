// compress_lazy.cpp - levels 2 to 8: hash chains of growing depth, with a
// one-byte lazy step from level 3 (a match is deferred by one byte when the
// next position matches longer).
#include <vector>

#include "compress_levels.h"
#include "segmentwriter.h"

namespace vzr::compress {
namespace {

// The chains, per thread, so a segment allocates nothing after the first.
struct ChainTables {
  std::vector<uint16_t> head;  // position + 1 of the latest position per hash, 0: none
  std::vector<uint16_t> prev;  // position + 1 of the previous position of equal hash
};

ChainTables& ThreadTables() {
  thread_local ChainTables tables;
  return tables;
}

// A match worth coding: a length-3 match saves a byte only as a short match.
inline bool Worthwhile(uint32_t length, uint32_t distance) {
  return length >= 4 || (length == 3 && distance <= vzr::kMaxShortDistance);
}

struct Found {
  uint32_t length = 0;
  uint32_t distance = 0;
};

class ChainFinder {
 public:
  ChainFinder(const unsigned char* in, uint32_t n, const LevelParams& p, ChainTables& t)
      : in_(in), n_(n), p_(p), head_(t.head.data()), prev_(t.prev.data()) {}

  // Best worthwhile match at i (hash chains up to the level's depth); then
  // records position i.
  Found FindAndInsert(uint32_t i) {
    Found best;
    if (i + 3 > n_) return best;
    const uint32_t h = Hash3(in_ + i, p_.hashBits);
    uint32_t candidate = head_[h];
    for (uint32_t depth = p_.chainDepth; candidate != 0 && depth > 0; --depth) {
      const uint32_t c = candidate - 1;
      if (in_[c + best.length] == in_[i + best.length] || best.length == 0) {
        const uint32_t len = MatchLength(in_, c, i, n_);
        if (len > best.length && Worthwhile(len, i - c)) {
          best = {len, i - c};
          if (len >= p_.niceLength || i + len == n_) break;
        }
      }
      candidate = prev_[c];
    }
    prev_[i] = head_[h];
    head_[h] = static_cast<uint16_t>(i + 1);
    return best;
  }

  void Insert(uint32_t i) {
    if (i + 3 > n_) return;
    const uint32_t h = Hash3(in_ + i, p_.hashBits);
    prev_[i] = head_[h];
    head_[h] = static_cast<uint16_t>(i + 1);
  }

 private:
  const unsigned char* in_;
  uint32_t n_;
  const LevelParams& p_;
  uint16_t* head_;
  uint16_t* prev_;
};

}  // namespace

uint32_t CompressLazy(const unsigned char* in, uint32_t n, unsigned char* out, int level) {
  const LevelParams& p = kLevels[level];
  ChainTables& t = ThreadTables();
  ClearTable(t.head, std::size_t(1) << p.hashBits);
  if (t.prev.size() < kSegmentSize) t.prev.resize(kSegmentSize);
  ChainFinder finder(in, n, p, t);
  StreamWriter writer(out, in + n);
  uint32_t literalStart = 0;
  finder.Insert(0);
  uint32_t i = 1;
  Found pending = i < n ? finder.FindAndInsert(i) : Found{};
  while (i < n) {
    if (pending.length == 0) {
      ++i;
      if (i < n) pending = finder.FindAndInsert(i);
      continue;
    }
    if (p.lazy && pending.length < p.niceLength && i + 1 < n) {
      const Found next = finder.FindAndInsert(i + 1);
      if (next.length > pending.length) {
        ++i;
        pending = next;
        continue;
      }
      writer.Literals(in + literalStart, i - literalStart);
      writer.Match(pending.distance, pending.length);
      for (uint32_t k = i + 2; k < i + pending.length; ++k) finder.Insert(k);
    } else {
      writer.Literals(in + literalStart, i - literalStart);
      writer.Match(pending.distance, pending.length);
      for (uint32_t k = i + 1; k < i + pending.length; ++k) finder.Insert(k);
    }
    i += pending.length;
    literalStart = i;
    pending = i < n ? finder.FindAndInsert(i) : Found{};
  }
  writer.Literals(in + literalStart, n - literalStart);
  return writer.End();
}

}  // namespace vzr::compress
