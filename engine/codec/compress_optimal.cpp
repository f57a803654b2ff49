// compress_optimal.cpp - level 9: an optimal parse over the exact byte costs
// of the instruction forms.
#include <algorithm>
#include <bit>
#include <type_traits>
#include <vector>

#include "compress_levels.h"
#include "segmentwriter.h"

namespace vzr::compress {
namespace {

// One literal run and the match after it (none for the last run).
struct ParseStep {
  uint32_t literalStart, literalCount, length, distance;
};

// The parse's tables, per thread, so a segment allocates nothing after the
// first; one element per position 0..n unless said otherwise.
struct OptimalTables {
  // Position + 1 of the latest entered position per two-byte value: 0 rules
  // out every match.
  std::vector<uint16_t> head2;
  // The cheapest stream up to a match ending here, packed so that the smaller
  // value is the cheaper one: bytes << 34, the literal class the match follows
  // at its start (kAfter*) << 32, 65535 - its length << 16, its distance.
  std::vector<uint64_t> arrival;
  std::vector<uint8_t> shortRun;      // best run of 1 to 3 literals before a match starting here
  std::vector<uint16_t> longRunFrom;  // start of the best run of 4 or more literals ending here
  std::vector<ParseStep> steps;
  std::vector<uint16_t> head3;  // position + 1 of the latest position per three-byte hash
  std::vector<uint16_t> prev3;  // position + 1 of the previous position of equal three-byte hash
  std::vector<uint16_t> head4;  // position + 1 of the latest position per four-byte hash
  std::vector<uint16_t> prev4;  // position + 1 of the previous position of equal four-byte hash
};

OptimalTables& ThreadTables() {
  thread_local OptimalTables tables;
  return tables;
}

// Level 9: an optimal parse. Every position's matches (for each length a
// distance found that gives it its lowest price: length 3 from a chain of
// three-byte hashes, longer ones from a chain of four-byte hashes, length 2
// from the last occurrence of the two bytes) are weighed with the exact byte
// costs of the instruction forms, and the cheapest stream over all of them
// is found by dynamic programming from the front. The cost of a match
// depends on the literals before it only through three classes of that run:
// none, 1 to 3 (held in the previous match's low bits; only then may a
// length-2 near match follow), and 4 or more (a run code; only then may a
// length-3 near match at 2049 to 3072 follow). Each position therefore keeps
// the cheapest arrival in each class.
//
// The work lies in the searches, so few positions are searched, while every
// position is entered in the chains (a few stores) so that every later
// search sees it. A position is not searched when the next one is reached
// no dearer: a match from here is then seldom cheaper than one from there,
// which skips most positions inside matches. A searched position inside the
// reach of the matches found so far looks only for a match reaching past
// them. A match of at least kTakeWhole bytes is extended to its end and
// taken whole: the positions it covers are entered but neither searched nor
// weighed.
constexpr uint32_t kInfinite = 0x3FFFFFFF;
constexpr uint32_t kMaxCandidates = 64;
constexpr uint32_t kEnumerateLimit = 8;   // every length up to this is weighed; beyond, each candidate's own
constexpr uint32_t kTakeWhole = 16;       // a match this long is taken whole
constexpr uint32_t kHead3Bits = 15;
constexpr uint32_t kHead4Bits = kLevels[kMaxLevel].hashBits;
constexpr uint32_t kChainSteps = kLevels[kMaxLevel].chainDepth;  // candidates a search visits at most
constexpr uint32_t kNiceLength = kLevels[kMaxLevel].niceLength;  // a search compares no further
constexpr uint32_t kThreeSteps = 4;     // positions of equal three-byte hash tried for a length-3 match
constexpr uint32_t kThreeUseful = 5;    // no length-3 match is looked for once the useful length is this
constexpr uint32_t kStartChains = 16;   // chains weighed for the start of a walk for a useful length
// A search records matches of growing lengths, 3 to kNiceLength.
static_assert(kNiceLength - 2 <= kMaxCandidates);
static_assert(kTakeWhole <= kNiceLength);  // the search finds no longer match

enum : uint8_t { kAfterMatch, kAfterShortRun, kAfterLongRun };

// MatchCost for lengths up to kNiceLength, without a branch.
inline uint32_t NiceMatchCost(uint32_t length, uint32_t distance) {
  static_assert(kNiceLength < 34 + 255 && kNiceLength < 10 + 255);
  const uint32_t direct = distance <= kMaxMidDistance ? kMaxMidDirectLength : kMaxFarDirectLength;
  return 3 + uint32_t(length > direct) - uint32_t((distance <= kMaxShortDistance) & (length <= kMaxShortLength));
}

// Common length of a[0..limit) and b[0..limit), both known equal before
// len: eight bytes at a time, the last eight (overlapping what is known)
// read as one word.
inline uint32_t CommonLength(const unsigned char* a, const unsigned char* b, uint32_t len, uint32_t limit) {
  while (len + 8 <= limit) {
    const uint64_t diff = Load64(a + len) ^ Load64(b + len);
    if (diff != 0) return len + EqualPrefix(diff);
    len += 8;
  }
  if (len == limit) return len;
  if (limit >= 8) {
    const uint64_t diff = Load64(a + limit - 8) ^ Load64(b + limit - 8);
    return diff != 0 ? limit - 8 + EqualPrefix(diff) : limit;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

inline uint32_t Hash2(const unsigned char* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }

// The first three of four bytes as Load32 reads them, on any machine.
constexpr uint32_t kFirstThree = std::endian::native == std::endian::little ? 0x00FFFFFFu : 0xFFFFFF00u;

// Hash3 of the first three of four bytes as Load32 read them.
inline uint32_t Hash3Word(uint32_t v, uint32_t bits) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return ((v & 0x00FFFFFFu) * 2654435761u) >> (32 - bits);
}

class OptimalParser {
 public:
  OptimalParser(const unsigned char* in, uint32_t n, OptimalTables& t) : in_(in), n_(n), t_(t) {
    ClearTable(t.head2, 65536);
    ClearTable(t.head3, std::size_t(1) << kHead3Bits);
    ClearTable(t.head4, std::size_t(1) << kHead4Bits);
    t.prev3.resize(n);
    t.prev4.resize(n);
    t.arrival.resize(n + 1 + kEnumerateLimit);
    t.shortRun.resize(n + 1);
    t.longRunFrom.resize(n + 1);
    std::fill(t.arrival.begin(), t.arrival.end(), uint64_t(kInfinite) << 34);
    t.arrival[0] = 0;
  }

  uint32_t Write(unsigned char* out) {
    Parse();
    return Emit(out);
  }

 private:
  struct Arrival {
    uint32_t cost[3];
    uint32_t shortRun;     // literals of the short run chosen
    uint32_t longRunFrom;  // start of the long run chosen
  };

  // The best run of 4 or more literals before the position being weighed,
  // packed so that the smaller value is the one to keep: twice the arrival
  // after it (its first literal after a match), plus one while it is
  // shorter than 19, above 65535 - its start. No run is held as an arrival
  // of kInfinite or more.
  using LongRun = uint64_t;
  static constexpr LongRun kNoRun = (uint64_t(2 * kInfinite) << 16) | 0xFFFF;

  // The arrivals by a match at the four positions before the one weighed,
  // the nearest first. A position's arrival is final once the parse has
  // passed it, so each is read from the table once and then handed on.
  struct Recent {
    uint32_t cost[4];
    void Pass(uint32_t c) { cost[3] = cost[2], cost[2] = cost[1], cost[1] = cost[0], cost[0] = c; }
    // After a jump to j.
    void Reload(const uint64_t* arrival, uint32_t j) {
      for (uint32_t r = 0; r < 4; ++r) cost[r] = j > r ? static_cast<uint32_t>(arrival[j - r - 1] >> 34) : kInfinite;
    }
  };

  // The cheapest arrival at j in each literal class (here: by a match), with
  // the runs chosen (recorded by Record only where a match may start).
  [[gnu::always_inline]] static Arrival ArriveAt(uint32_t j, uint32_t here, const uint64_t* arrival,
                                                 const Recent& recent, LongRun& run) {
    auto cost = [arrival, &recent, j](uint32_t i) {
      return j - i <= 4 ? recent.cost[j - i - 1] : static_cast<uint32_t>(arrival[i] >> 34);
    };
    Arrival a{{here, kInfinite, kInfinite}, 0, 0};
    if (j > 3) [[likely]] {
      // The cheapest of the three runs without a branch: cost and run packed,
      // so that on equal cost the shortest run wins.
      const uint64_t v = std::min({(uint64_t(cost(j - 1) + 1) << 2) | 1, (uint64_t(cost(j - 2) + 2) << 2) | 2,
                                   (uint64_t(cost(j - 3) + 3) << 2) | 3});
      a.cost[kAfterShortRun] = static_cast<uint32_t>(std::min(v >> 2, uint64_t(kInfinite)));
      a.shortRun = static_cast<uint32_t>(v & 3);
    } else {
      for (uint32_t r = 1; r <= j; ++r) {
        const uint32_t i = j - r;
        if (cost(i) == kInfinite) continue;
        const uint32_t v = cost(i) + r + (i == 0 ? 1 : 0);
        if (v < a.cost[kAfterShortRun]) {
          a.cost[kAfterShortRun] = v;
          a.shortRun = r;
        }
      }
    }
    // The best long run so far grows by one literal (two when its code takes
    // a byte more, at 19, 274, ...), or a new one starts 4 back. On equal
    // cost the new one is taken only while the old one is shorter than 19:
    // the old one's code then takes its second byte first; once it has, the
    // new one would take it later and cost a byte more. The packing makes
    // that one minimum, without a branch: which run wins is as
    // unpredictable as the data.
    const uint32_t length = j - (0xFFFF - static_cast<uint32_t>(run & 0xFFFF));
    uint64_t grown = 2 + uint64_t(length == 19);  // at 19 it is no longer shorter than 19
    if (length >= 274) [[unlikely]]  // a run this long is rare, and long where it is
      grown += 2 * uint64_t((length - 19) % 255 == 0);
    run += grown << 16;
    if (j >= 5) [[likely]] {
      const uint64_t started = (uint64_t(2 * (cost(j - 4) + 5) + 1) << 16) | (0xFFFF - (j - 4));
      run = std::min(run, started);
    }
    const uint32_t held = static_cast<uint32_t>(run >> 17);
    a.cost[kAfterLongRun] = std::min(held, kInfinite);
    a.longRunFrom = 0xFFFF - static_cast<uint32_t>(run & 0xFFFF);
    // The whole prefix as the first run (its code is at least a byte).
    if (j + 1 < held && j >= 4 && j + RunCodeLength(j) < held) [[unlikely]] {
      a.cost[kAfterLongRun] = j + RunCodeLength(j);
      a.longRunFrom = 0;
    }
    return a;
  }

  // Records the runs chosen at j, for the walk back from the end.
  [[gnu::always_inline]] static void Record(uint32_t j, const Arrival& a, uint8_t* shortRun, uint16_t* longRunFrom) {
    shortRun[j] = static_cast<uint8_t>(a.shortRun);
    longRunFrom[j] = static_cast<uint16_t>(a.longRunFrom);
  }

  [[gnu::always_inline]] static void Relax(uint64_t* arrival, uint32_t end, uint32_t cost, uint32_t length,
                                           uint32_t distance, uint8_t from) {
    // Without a branch: which arrival is cheaper is as unpredictable as the data.
    // On equal cost the longer match wins (its length is stored inverted).
    const uint64_t packed = (uint64_t(cost) << 34) | (uint64_t(from) << 32) | ((0xFFFF - length) << 16) | distance;
    uint64_t& slot = arrival[end];
    slot = std::min(slot, packed);
  }

  // One match found at a position.
  struct Match {
    uint32_t length, distance;
  };

  // The chains' tables, held by the parse as locals so that they stay in
  // registers across the searches.
  struct Chains {
    const unsigned char* in;
    uint32_t n;
    uint16_t *head3, *prev3, *head4, *prev4;
  };

  // Enters j (n - j at least 3, at least 4 unless kTail) in the chains.
  template <bool kTail = true>
  [[gnu::always_inline]] static void Enter(const Chains& c, uint32_t j) {
    if (kTail && j + 4 > c.n) {
      const uint32_t h3 = Hash3(c.in + j, kHead3Bits);
      c.prev3[j] = c.head3[h3];
      c.head3[h3] = static_cast<uint16_t>(j + 1);
      return;
    }
    // Both hashes from one load: the three-byte one from its first three bytes.
    const uint32_t word = Load32(c.in + j);
    const uint32_t h3 = Hash3Word(word, kHead3Bits);
    c.prev3[j] = c.head3[h3];
    c.head3[h3] = static_cast<uint16_t>(j + 1);
    const uint32_t h4 = Hash4(word, kHead4Bits);
    c.prev4[j] = c.head4[h4];
    c.head4[h4] = static_cast<uint16_t>(j + 1);
  }

  // The matches at j (entered, n - j at least 3), lengths and distances
  // growing; gives their number. Length 3 comes from the nearest of the
  // latest positions of equal three-byte hash (the nearest is the cheapest),
  // the longer ones from the chain of equal four-byte hash, nearest first,
  // each kept when longer than all before it. A match longer than best
  // also matches at every offset o up to best - 4, so its position plus o
  // lies on the chain of j + o: once a match is found the walk follows,
  // of those chains, the one whose next link reaches furthest back, and
  // skips the candidates in between, which cannot be longer. Every
  // position before j is entered, so the walk reads only this segment's
  // links. The walk looks only for matches longer than useful (the length
  // that reaches past every match found so far): shorter ones seldom make
  // an arrival cheaper, and a longer one lies on the chain of every j + o
  // for o up to useful - 3, so the walk can start on the one of them whose
  // latest position lies furthest back, and needs none if one is empty.
  // Nor is a length-3 match looked for when useful is kThreeUseful or more:
  // it then seldom makes the arrival three ahead cheaper.
  // Not inlined: the walk then has the registers to itself.
  [[gnu::noinline]] uint32_t FindMatches(uint32_t j, Match* matches, uint32_t useful) {
    const uint16_t* const prev3 = t_.prev3.data();
    const uint16_t* const prev4 = t_.prev4.data();
    Match* rec = matches;
    uint32_t c = useful >= kThreeUseful ? 0 : prev3[j];
    // The three bytes compared as one word where a fourth can be read (at
    // every position but the last searched): one branch instead of two.
    const bool wordWise = j + 4 <= n_;
    const uint32_t three = wordWise ? Load32(in_ + j) & kFirstThree : 0;
    for (uint32_t k = kThreeSteps; c != 0 && k > 0; c = prev3[c - 1], --k) {
      const unsigned char* const earlier = in_ + c - 1;  // before j: its fourth byte is in the segment
      if (wordWise ? (Load32(earlier) & kFirstThree) == three : std::memcmp(earlier, in_ + j, 3) == 0) {
        *rec++ = {3, j - (c - 1)};
        break;
      }
    }
    if (j + 4 > n_) return static_cast<uint32_t>(rec - matches);
    uint32_t best = rec != matches ? 3 : 2;
    const uint32_t limit = std::min(kNiceLength, n_ - j);
    const unsigned char* const cur = in_ + j;
    // c - 1 is a position on the chain of j + offset; the candidate lies offset before it.
    uint32_t offset = 0;
    c = prev4[j];
    if (useful > best) {
      if (useful >= limit) return static_cast<uint32_t>(rec - matches);
      best = useful;
      const uint16_t* const head4 = t_.head4.data();
      uint32_t reach = 0;
      for (uint32_t o = 0; o + 3 <= best && o < kStartChains; ++o) {
        const uint32_t link = o == 0 ? prev4[j] : head4[Hash4(Load32(cur + o), kHead4Bits)];
        if (link == 0) return static_cast<uint32_t>(rec - matches);  // no useful match
        const uint32_t gap = j + o + 1 - link;
        // Without a branch: which chain reaches furthest back is as
        // unpredictable as the data.
        const bool further = gap > reach;
        reach = further ? gap : reach;
        offset = further ? o : offset;
        c = further ? link : c;
      }
    }
    for (uint32_t k = kChainSteps; c > offset && k > 0; --k) {  // c - 1 at least offset
      const uint32_t candidate = c - 1 - offset;
      const unsigned char* const pb = in_ + candidate;
      if (pb[best] == cur[best]) {
        const uint32_t len = CommonLength(pb, cur, 0, limit);
        if (len > best) {
          *rec++ = {len, j - candidate};
          best = len;
          if (len >= limit) break;
          uint32_t reach = 0;
          for (uint32_t o = 0; o + 4 <= best && candidate + o < j; ++o) {
            const uint32_t link = prev4[candidate + o];
            if (link == 0) return static_cast<uint32_t>(rec - matches);  // no longer match
            const uint32_t gap = candidate + o + 1 - link;
            if (gap > reach) {
              reach = gap;
              offset = o;
            }
          }
          c = prev4[candidate + offset];
          continue;
        }
      }
      c = prev4[c - 1];
    }
    return static_cast<uint32_t>(rec - matches);
  }

  void Parse() {
    Match matches[kMaxCandidates] = {};
    uint64_t* const arrival = t_.arrival.data();
    uint8_t* const shortRun = t_.shortRun.data();
    uint16_t* const longRunFrom = t_.longRunFrom.data();
    uint16_t* const head2 = t_.head2.data();
    const Chains chains{in_, n_, t_.head3.data(), t_.prev3.data(), t_.head4.data(), t_.prev4.data()};
    const unsigned char* const in = in_;
    const uint32_t n = n_;
    LongRun run = kNoRun;
    Recent recent{};
    uint32_t next = static_cast<uint32_t>(arrival[1] >> 34);  // the arrival at the next position
    recent.Reload(arrival, 1);
    uint32_t frontier = 0;  // the furthest end of a match found so far
    Enter(chains, 0);  // n is at least 4
    head2[Hash2(in)] = 1;
    // One position; the positions 4 or more before the end need no test
    // of the bytes left.
    auto step = [&](uint32_t& j, auto tail) {
      constexpr bool kTail = decltype(tail)::value;
      const Arrival a = ArriveAt(j, kTail ? static_cast<uint32_t>(arrival[j] >> 34) : next, arrival, recent, run);
      recent.Pass(a.cost[kAfterMatch]);
      if (kTail && j + 3 > n) return;
      const uint32_t base = std::min({a.cost[kAfterMatch], a.cost[kAfterShortRun], a.cost[kAfterLongRun]});
      const uint32_t key = Hash2(in + j);
      const uint32_t two = head2[key];
      head2[key] = static_cast<uint16_t>(j + 1);
      Enter<kTail>(chains, j);
      next = static_cast<uint32_t>(arrival[j + 1] >> 34);  // final: no match from j ends at j + 1
      if (next <= base) return;  // see above: not searched
      Record(j, a, shortRun, longRunFrom);
      // The class arrived from: the first of the cheapest.
      const uint8_t from = a.cost[kAfterMatch] == base      ? kAfterMatch
                           : a.cost[kAfterShortRun] == base ? kAfterShortRun
                                                            : kAfterLongRun;
      {
        // Length 2: only as a near match after 1 to 3 literals. Stored
        // without a branch: a slot that does not apply stores the arrival
        // unchanged.
        const uint32_t distance = j + 1 - two;
        const bool near = (two != 0) & (distance <= kMaxNearDistance) & (a.cost[kAfterShortRun] != kInfinite);
        const uint64_t packed = (uint64_t(a.cost[kAfterShortRun] + 2) << 34) | (uint64_t(kAfterShortRun) << 32) |
                                (uint64_t(0xFFFF - 2) << 16) | distance;
        uint64_t& slot = arrival[j + 2];
        slot = std::min(slot, packed | (uint64_t(near) - 1));
      }
      if (two == 0) return;  // the first two bytes are new: no match
      const uint32_t count = FindMatches(j, matches, frontier > j ? frontier - j : 0);
      if (count == 0) return;
      frontier = std::max(frontier, j + matches[count - 1].length);
      // Every length from 3 to the enumeration limit. Up to the limit a match
      // costs 2 bytes within the short distance and 3 beyond it at any
      // distance, so two matches price them all: the longest within the
      // short distance every length it reaches, the longest the rest. The
      // arrival is packed as Relax packs it, stepped by length, and stored
      // without a branch for every length to the limit, those past top
      // unchanged (the arrival has room past n for them).
      const uint32_t top = std::min(matches[count - 1].length, kEnumerateLimit);
      static_assert(kEnumerateLimit <= kMaxShortLength && kEnumerateLimit <= kMaxFarDirectLength);
      const uint64_t packed3 = (uint64_t(base + 3) << 34) | (uint64_t(from) << 32) | (uint64_t(0xFFFF - 3) << 16);
      // The matches within the short distance come first; counted without
      // a branch over the first four (the array is kept initialised past
      // count), in a loop beyond.
      uint32_t s = 0;
      for (uint32_t m = 0; m < 4; ++m) s += uint32_t(m < count) & uint32_t(matches[m].distance <= kMaxShortDistance);
      if (count > 4) [[unlikely]]
        for (uint32_t m = 4; m < count; ++m) s += matches[m].distance <= kMaxShortDistance;
      const uint32_t shortTop = s != 0 ? std::min(matches[s - 1].length, top) : 2;
      const uint64_t shortPacked = packed3 - (uint64_t(1) << 34) + (s != 0 ? matches[s - 1].distance : 0);
      const uint64_t longPacked = packed3 + matches[count - 1].distance;
      uint64_t* const slots = arrival + j;
      for (uint32_t length = 3; length <= kEnumerateLimit; ++length) {
        const uint64_t isShort = 0 - uint64_t(length <= shortTop), beyond = 0 - uint64_t(length > top);
        const uint64_t packed = ((longPacked ^ ((shortPacked ^ longPacked) & isShort)) - (uint64_t(length - 3) << 16)) | beyond;
        slots[length] = std::min(slots[length], packed);
      }
      // Length 3 as a near match after a run of 4 or more literals.
      if (matches[0].distance > kMaxShortDistance && matches[0].distance <= kMaxNearAfterRunDistance &&
          a.cost[kAfterLongRun] != kInfinite)
        Relax(arrival, j + 3, a.cost[kAfterLongRun] + 2, 3, matches[0].distance, kAfterLongRun);
      // Beyond the limit every length too, each at the distance of the
      // nearest match that reaches it: the positions inside a long match are
      // then reached at its price, and are not searched.
      for (uint32_t m = 0, length = top + 1; m < count; ++m)
        for (; length <= matches[m].length; ++length)
          Relax(arrival, j + length, base + NiceMatchCost(length, matches[m].distance), length, matches[m].distance,
                from);
      if (matches[count - 1].length >= kTakeWhole) {
        // A long match is taken whole: extended to its end, and the parse
        // resumes there without weighing the positions it covers.
        const uint32_t d = matches[count - 1].distance;
        uint32_t len = matches[count - 1].length;
        len += MatchLength(in, j - d + len, j + len, n);
        Relax(arrival, j + len, base + MatchCost(len, d), len, d, from);
        for (uint32_t q = j + 1; q < j + len && q + 3 <= n; ++q) {
          Enter(chains, q);
          head2[Hash2(in + q)] = static_cast<uint16_t>(q + 1);
        }
        j += len - 1;
        run = kNoRun;
        recent.Reload(arrival, j + 1);
        next = static_cast<uint32_t>(arrival[j + 1] >> 34);
      }
    };
    uint32_t j = 1;
    for (; j + 4 <= n; ++j) step(j, std::false_type{});
    for (; j < n; ++j) step(j, std::true_type{});
    end_ = ArriveAt(n, static_cast<uint32_t>(arrival[n] >> 34), arrival, recent, run);
    Record(n, end_, shortRun, longRunFrom);
  }

  // Start of the literal run that arrives at j in class k.
  uint32_t Origin(uint32_t j, uint8_t k) const {
    return k == kAfterMatch ? j : k == kAfterShortRun ? j - t_.shortRun[j] : t_.longRunFrom[j];
  }

  uint32_t Emit(unsigned char* out) {
    // Walk back from the end, then write front to back.
    std::vector<ParseStep>& steps = t_.steps;
    steps.clear();
    uint8_t k = kAfterMatch;
    for (uint8_t c = kAfterShortRun; c <= kAfterLongRun; ++c)
      if (end_.cost[c] < end_.cost[k]) k = c;
    uint32_t j = n_;
    uint32_t length = 0, distance = 0;
    for (;;) {
      const uint32_t i = Origin(j, k);
      steps.push_back({i, j - i, length, distance});
      if (i == 0) break;
      const uint64_t a = t_.arrival[i];
      length = 0xFFFF - ((a >> 16) & 0xFFFF);
      distance = a & 0xFFFF;
      k = static_cast<uint8_t>((a >> 32) & 3);
      j = i - length;
    }
    StreamWriter writer(out, in_ + n_);
    for (auto s = steps.rbegin(); s != steps.rend(); ++s) {
      writer.Literals(in_ + s->literalStart, s->literalCount);
      if (s->length != 0) writer.Match(s->distance, s->length);
    }
    return writer.End();
  }

  const unsigned char* in_;
  uint32_t n_;
  OptimalTables& t_;
  Arrival end_{};
};

}  // namespace

uint32_t CompressOptimal(const unsigned char* in, uint32_t n, unsigned char* out) {
  OptimalTables& t = ThreadTables();
  OptimalParser parser(in, n, t);
  return parser.Write(out);
}

}  // namespace vzr::compress
