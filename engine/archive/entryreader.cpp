// entryreader.cpp - random access to entries through one descriptor.
//
// Nothing read from the archive is trusted: an entry's stored form must lie
// inside the file, a segment table must fit its stored form and describe the
// entry's size exactly, and every segment must decode to its recorded size.
// A range that fails any of this is an error, never bytes that might be
// wrong. No buffer is sized from a number the file itself could not hold.
#include "entryreader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "fileservices.h"
#include "entryfaults.h"
#include "format.h"
#include "indexparse.h"

namespace {

// Room after a segment's output that lets the decoder use its fast paths.
constexpr uint32_t kDecodeSlack = 64;
// Size of the pieces Stream hands over for a raw entry, and of the reads
// the index parser makes.
constexpr std::size_t kRawBlock = std::size_t{256} << 10;
constexpr std::size_t kIndexBlock = std::size_t{64} << 10;
// Parsed segment tables kept for later reads, in bytes of records.
constexpr std::size_t kTableCacheBytes = std::size_t{8} << 20;

// The in-memory header of a one-segment stored form: count 1, one record.
constexpr std::size_t kOneSegmentHeader = vzr::kSegmentCountSize + vzr::kSegmentRecordSize;

bool ReadAt(const vzrfs::PositionalFile& file, uint64_t offset, void* to, std::size_t n) {
  auto* p = static_cast<unsigned char*>(to);
  while (n > 0) {
    const int64_t got = vzrfs::ReadSomeAt(file, offset, p, n);
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    p += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

// Sequential reads for the index parser, buffered over positional reads.
class DescriptorSource : public vzrindex::Source {
 public:
  explicit DescriptorSource(const vzrfs::PositionalFile& file) : file_(file), buffer_(kIndexBlock) {}
  bool Seek(uint64_t offset) override {
    position_ = offset;
    start_ = end_ = 0;
    return true;
  }
  bool Read(void* to, std::size_t n) override {
    auto* out = static_cast<unsigned char*>(to);
    while (n > 0) {
      if (start_ == end_ && !Fill()) return false;
      const std::size_t take = std::min(n, end_ - start_);
      std::memcpy(out, buffer_.data() + start_, take);
      start_ += take;
      out += take;
      n -= take;
    }
    return true;
  }

 private:
  bool Fill() {
    const int64_t got = vzrfs::ReadSomeAt(file_, position_, buffer_.data(), buffer_.size());
    if (got <= 0) return false;
    position_ += static_cast<uint64_t>(got);
    start_ = 0;
    end_ = static_cast<std::size_t>(got);
    return true;
  }
  const vzrfs::PositionalFile& file_;
  std::vector<unsigned char> buffer_;
  uint64_t position_ = 0;
  std::size_t start_ = 0, end_ = 0;
};

void Fail(VzrError* error, int code, const std::string& entry, const std::string& message, int sysError = 0) {
  if (!error) return;
  error->code = code;
  error->entry = entry;
  error->sysError = sysError;
  error->message = message;
}

constexpr int kOpenFailed = EntryReader::kErrorOpen;
constexpr int kEntryFailed = EntryReader::kErrorEntry;
constexpr int kTableFailed = EntryReader::kErrorTable;

// The checked segment table of one entry: where each segment's stream is
// (absolute file offset), its lengths, and where its content starts.
struct SegmentTable {
  std::vector<uint64_t> streamAt;
  std::vector<uint32_t> compLength;
  std::vector<uint32_t> rawLength;
  std::vector<uint64_t> contentAt;  // one more than segments: the last is fileSize

  std::size_t Segments() const { return rawLength.size(); }
  // The memory it takes while cached, allocations' headers, its shared
  // block and the cache's own record included: most entries have one
  // segment, where these outweigh the numbers themselves.
  std::size_t Bytes() const {
    constexpr std::size_t kAllocation = 16, kSharedAndRecord = 96;
    return sizeof(SegmentTable) + kSharedAndRecord + 4 * kAllocation +
           streamAt.capacity() * sizeof(uint64_t) + compLength.capacity() * sizeof(uint32_t) +
           rawLength.capacity() * sizeof(uint32_t) + contentAt.capacity() * sizeof(uint64_t);
  }
  // The segment holding content byte `offset` (< fileSize).
  std::size_t SegmentOf(uint64_t offset) const {
    return static_cast<std::size_t>(std::upper_bound(contentAt.begin(), contentAt.end(), offset) - contentAt.begin()) - 1;
  }
};

struct CacheKey {
  uint32_t entry;
  uint32_t segment;
  bool operator==(const CacheKey& o) const { return entry == o.entry && segment == o.segment; }
};
struct CacheKeyHash {
  std::size_t operator()(const CacheKey& k) const { return (std::size_t{k.entry} << 32) ^ k.segment; }
};

using Segment = std::shared_ptr<const std::vector<unsigned char>>;

// The index as the reader keeps it: the numbers of each entry, and every
// name in one block (each followed by a zero byte).
struct CompactIndex : vzrindex::Sink {
  struct Stored {
    uint32_t nameAt, nameLength, compSize, fileSize, fileOffset;
  };
  std::vector<Stored> entries;
  std::vector<char> names;
  FileEntry scratch;

  void Room(uint32_t n) override { entries.reserve(n); }
  FileEntry& Slot(uint32_t) override { return scratch; }
  void Keep(uint32_t) override {
    const auto at = static_cast<uint32_t>(names.size());
    names.insert(names.end(), scratch.name, scratch.name + scratch.nameLength);
    names.push_back('\0');
    entries.push_back({at, scratch.nameLength, scratch.compSize, scratch.fileSize, scratch.fileOffset});
  }
  uint32_t Count() const { return static_cast<uint32_t>(entries.size()); }
  EntryReader::EntryInfo At(uint32_t i) const {
    const Stored& e = entries[i];
    return {names.data() + e.nameAt, e.nameLength, e.compSize, e.fileSize, e.fileOffset};
  }
};

}  // namespace

struct EntryReader::State {
  std::string path;
  vzrfs::PositionalFile file;  // the archive, read at offsets
  CompactIndex index;
  uint32_t storageMode = 0;
  uint64_t fileLength = 0;
  bool indexDamaged = false;
  int64_t modificationTime = 0;
  std::size_t cacheBytes = 0;

  mutable std::mutex mutex;  // guards everything below
  mutable std::list<std::pair<CacheKey, Segment>> lru;  // most recent first
  mutable std::unordered_map<CacheKey, decltype(lru)::iterator, CacheKeyHash> cached;
  mutable std::size_t cachedBytes = 0;
  mutable std::unordered_map<uint32_t, std::shared_ptr<const SegmentTable>> tables;
  mutable std::size_t tableBytes = 0;
  mutable Stats stats;

  EntryInfo Entry(uint32_t i) const { return index.At(i); }
  std::string Name(uint32_t i) const { return index.At(i).name; }

  // Whether entry i's stored form lies inside the file and could be a real
  // one; *error says why not.
  bool Plausible(uint32_t i, VzrError* error) const;
  std::shared_ptr<const SegmentTable> Table(uint32_t i, VzrError* error) const;
  bool LoadTable(uint32_t i, SegmentTable& table, VzrError* error) const;
  // Decodes segment k of entry i into out (rawLength bytes), reading its
  // stream into scratch. `before` is the content of segment k - 1 when known:
  // a stream whose matches reach back into it is decoded with it.
  enum class Decoded { kOk, kReadFailed, kDamaged };
  Decoded DecodeSegment(uint32_t i, const SegmentTable& t, std::size_t k, const std::vector<unsigned char>* before,
                        std::vector<unsigned char>& out, std::vector<unsigned char>& scratch, VzrError* error) const;
  Segment CachedSegment(uint32_t i, const SegmentTable& t, std::size_t k, VzrError* error) const;
  Segment Lookup(const CacheKey& key) const;
  void Keep(const CacheKey& key, const Segment& segment) const;
};

bool EntryReader::State::Plausible(uint32_t i, VzrError* error) const {
  const EntryInfo e = Entry(i);
  bool fits = uint64_t(e.fileOffset) + e.compSize <= fileLength;
  if (fits && storageMode == vzr::kStorageRaw) fits = e.compSize == e.fileSize;
  else if (fits && storageMode == vzr::kStorageSegmented) fits = e.compSize >= vzr::kSegmentCountSize;
  else if (fits && e.fileSize > 0) {
    // No reader decodes a mode it does not know: say that, not a size.
    Fail(error, kEntryFailed, e.name, vzr::UnknownStorageModeFault(storageMode));
    return false;
  }
  if (!fits)
    Fail(error, kEntryFailed, e.name,
         "stored form of " + std::to_string(e.compSize) + " bytes at " + std::to_string(e.fileOffset) +
             " cannot hold " + std::to_string(e.fileSize) + " bytes");
  return fits;
}

bool EntryReader::State::LoadTable(uint32_t i, SegmentTable& t, VzrError* error) const {
  const EntryInfo e = Entry(i);
  unsigned char word[4];
  if (!ReadAt(file, e.fileOffset, word, sizeof word)) {
    Fail(error, kEntryFailed, e.name, "read error", errno);
    return false;
  }
  const uint64_t count = vzr::ReadLE32(word);
  const uint64_t area = vzr::kSegmentCountSize + count * vzr::kSegmentRecordSize;
  if (area > e.compSize) {
    Fail(error, kTableFailed, e.name, "segment table cut short");
    return false;
  }
  // The table lies inside the stored form, which lies inside the file, so
  // its size is one the file can hold.
  std::vector<unsigned char> records(static_cast<std::size_t>(area - vzr::kSegmentCountSize));
  if (!ReadAt(file, uint64_t(e.fileOffset) + vzr::kSegmentCountSize, records.data(), records.size())) {
    Fail(error, kEntryFailed, e.name, "read error", errno);
    return false;
  }
  const auto n = static_cast<std::size_t>(count);
  t.streamAt.resize(n);
  t.compLength.resize(n);
  t.rawLength.resize(n);
  t.contentAt.assign(n + 1, 0);
  for (std::size_t k = 0; k < n; ++k) {
    const unsigned char* r = records.data() + k * vzr::kSegmentRecordSize;
    const uint32_t compLength = vzr::ReadLE32(r), rawLength = vzr::ReadLE32(r + 4), streamOffset = vzr::ReadLE32(r + 8);
    const std::string which = "segment " + std::to_string(k + 1) + " of " + std::to_string(count);
    if (k + 1 < n ? rawLength != vzr::kSegmentSize : rawLength > vzr::kSegmentSize) {
      Fail(error, kTableFailed, e.name, which + " holds " + std::to_string(rawLength) + " bytes");
      return false;
    }
    if (area + streamOffset + compLength > e.compSize) {
      Fail(error, kTableFailed, e.name, which + ": stream outside the entry");
      return false;
    }
    t.streamAt[k] = uint64_t(e.fileOffset) + area + streamOffset;
    t.compLength[k] = compLength;
    t.rawLength[k] = rawLength;
    t.contentAt[k + 1] = t.contentAt[k] + rawLength;
  }
  if (t.contentAt[n] != e.fileSize) {
    Fail(error, kTableFailed, e.name,
         "segments hold " + std::to_string(t.contentAt[n]) + " bytes, not " + std::to_string(e.fileSize));
    return false;
  }
  return true;
}

std::shared_ptr<const SegmentTable> EntryReader::State::Table(uint32_t i, VzrError* error) const {
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = tables.find(i);
    if (found != tables.end()) return found->second;
  }
  auto table = std::make_shared<SegmentTable>();
  if (!LoadTable(i, *table, error)) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (tableBytes + table->Bytes() > kTableCacheBytes) {
    tables.clear();
    tableBytes = 0;
  }
  if (tables.emplace(i, table).second) tableBytes += table->Bytes();
  return table;
}

EntryReader::State::Decoded EntryReader::State::DecodeSegment(uint32_t i, const SegmentTable& t, std::size_t k,
                                                             const std::vector<unsigned char>* before,
                                                             std::vector<unsigned char>& out,
                                                             std::vector<unsigned char>& scratch,
                                                             VzrError* error) const {
  const uint32_t compLength = t.compLength[k], rawLength = t.rawLength[k];
  // The stream alone, as the stored form of a one-segment entry.
  scratch.resize(kOneSegmentHeader + compLength);
  vzr::WriteLE32(scratch.data(), 1);
  vzr::WriteLE32(scratch.data() + 4, compLength);
  vzr::WriteLE32(scratch.data() + 8, rawLength);
  vzr::WriteLE32(scratch.data() + 12, 0);
  if (!ReadAt(file, t.streamAt[k], scratch.data() + kOneSegmentHeader, compLength)) {
    Fail(error, kEntryFailed, Name(i), "read error", errno);
    return Decoded::kReadFailed;
  }
  out.resize(std::size_t{rawLength} + kDecodeSlack);
  int32_t n = Decompression(scratch.data(), static_cast<uint32_t>(scratch.size()), out.data(),
                            static_cast<uint32_t>(out.size()));
  if (n != static_cast<int32_t>(rawLength) && before && !before->empty()) {
    // Matches may reach back into the segment before: decode the stream
    // after a literal-only stream of that segment's content.
    const auto prior = static_cast<uint32_t>(before->size());
    std::vector<unsigned char> joined(vzr::kSegmentCountSize + 2 * vzr::kSegmentRecordSize + CompressBound(prior) +
                                      compLength);
    unsigned char* streams = joined.data() + vzr::kSegmentCountSize + 2 * vzr::kSegmentRecordSize;
    const uint32_t priorLength = CompressSegment(before->data(), prior, streams, CompressBound(prior), 0);
    std::memcpy(streams + priorLength, scratch.data() + kOneSegmentHeader, compLength);
    joined.resize(static_cast<std::size_t>(streams - joined.data()) + priorLength + compLength);
    vzr::WriteLE32(joined.data(), 2);
    vzr::WriteLE32(joined.data() + 4, priorLength);
    vzr::WriteLE32(joined.data() + 8, prior);
    vzr::WriteLE32(joined.data() + 12, 0);
    vzr::WriteLE32(joined.data() + 16, compLength);
    vzr::WriteLE32(joined.data() + 20, rawLength);
    vzr::WriteLE32(joined.data() + 24, priorLength);
    std::vector<unsigned char> both(std::size_t{prior} + rawLength + kDecodeSlack);
    n = Decompression(joined.data(), static_cast<uint32_t>(joined.size()), both.data(),
                      static_cast<uint32_t>(both.size()));
    if (priorLength > 0 && n == static_cast<int32_t>(prior + rawLength)) {
      std::memcpy(out.data(), both.data() + prior, rawLength);
      n = static_cast<int32_t>(rawLength);
    }
  }
  if (n != static_cast<int32_t>(rawLength)) {
    Fail(error, kEntryFailed, Name(i),
         "segment " + std::to_string(k + 1) + " of " + std::to_string(t.Segments()) + ": " + vzr::kFaultDamagedStream);
    return Decoded::kDamaged;
  }
  out.resize(rawLength);
  return Decoded::kOk;
}

Segment EntryReader::State::Lookup(const CacheKey& key) const {
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = cached.find(key);
  if (found == cached.end()) return nullptr;
  lru.splice(lru.begin(), lru, found->second);
  ++stats.cacheHits;
  return found->second->second;
}

void EntryReader::State::Keep(const CacheKey& key, const Segment& segment) const {
  std::lock_guard<std::mutex> lock(mutex);
  ++stats.segmentsDecoded;
  if (cached.count(key) || segment->size() > cacheBytes) return;
  lru.emplace_front(key, segment);
  cached.emplace(key, lru.begin());
  cachedBytes += segment->size();
  while (cachedBytes > cacheBytes) {
    cachedBytes -= lru.back().second->size();
    cached.erase(lru.back().first);
    lru.pop_back();
  }
}

Segment EntryReader::State::CachedSegment(uint32_t i, const SegmentTable& t, std::size_t k, VzrError* error) const {
  if (Segment hit = Lookup({i, static_cast<uint32_t>(k)})) return hit;
  std::vector<unsigned char> scratch;
  Decoded outcome = Decoded::kOk;
  auto decode = [&](std::size_t s, const std::vector<unsigned char>* before, VzrError* why) -> Segment {
    auto out = std::make_shared<std::vector<unsigned char>>();
    outcome = DecodeSegment(i, t, s, before, *out, scratch, why);
    if (outcome != Decoded::kOk) return nullptr;
    Keep({i, static_cast<uint32_t>(s)}, out);
    return out;
  };
  VzrError alone;
  if (Segment segment = decode(k, nullptr, &alone)) return segment;
  if (k == 0 || outcome != Decoded::kDamaged) {
    if (error) *error = alone;
    return nullptr;
  }
  // The stream may reach back into the segments before it: find the
  // nearest one that stands alone (or is cached), then decode forwards,
  // each segment after the one before it.
  std::size_t from = k - 1;
  Segment before = Lookup({i, static_cast<uint32_t>(from)});
  while (!before) {
    before = decode(from, nullptr, nullptr);
    if (before || from == 0) break;
    --from;
    before = Lookup({i, static_cast<uint32_t>(from)});
  }
  if (!before) {
    if (error) *error = alone;
    return nullptr;
  }
  for (std::size_t s = from + 1; s <= k; ++s) {
    before = decode(s, before.get(), error);
    if (!before) return nullptr;
  }
  return before;
}

EntryReader::EntryReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
EntryReader::~EntryReader() = default;

std::unique_ptr<EntryReader> EntryReader::Open(const std::string& path, VzrError* error, std::size_t cacheBytes) {
  auto state = std::make_unique<State>();
  state->path = path;
  state->cacheBytes = cacheBytes;
  const std::string resolved = vzrfs::ResolvePath(path.c_str());
  vzrfs::NodeFacts info;
  state->file = vzrfs::OpenPositional(resolved.c_str(), info);
  if (!state->file) {
    if (errno == EISDIR) Fail(error, kOpenFailed, "", "is a folder", EISDIR);
    else Fail(error, kOpenFailed, "", vzrfs::ErrorText(errno), errno);
    return nullptr;
  }
  state->fileLength = info.size;
  state->modificationTime = info.modifiedSeconds;
  DescriptorSource source(state->file);
  vzrindex::Header header;
  uint32_t kept = 0;
  const auto length = static_cast<uint32_t>(std::min<uint64_t>(state->fileLength, UINT32_MAX));
  const vzrindex::Outcome outcome = vzrindex::Parse(source, length, header, state->index, kept);
  if (outcome != vzrindex::Outcome::kWhole && kept == 0) {
    Fail(error, kOpenFailed, "", "not an archive (header or index cannot be read)");
    return nullptr;
  }
  state->index.entries.shrink_to_fit();
  state->index.names.shrink_to_fit();
  state->storageMode = header.storageMode;
  state->indexDamaged = outcome != vzrindex::Outcome::kWhole;
  return std::unique_ptr<EntryReader>(new EntryReader(std::move(state)));
}

const std::string& EntryReader::Path() const { return state_->path; }
EntryReader::EntryInfo EntryReader::Entry(uint32_t i) const { return state_->Entry(i); }
uint32_t EntryReader::Count() const { return state_->index.Count(); }
uint32_t EntryReader::StorageMode() const { return state_->storageMode; }
bool EntryReader::IndexDamaged() const { return state_->indexDamaged; }
int64_t EntryReader::ModificationTime() const { return state_->modificationTime; }

EntryReader::Stats EntryReader::CacheStats() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->stats;
}

int64_t EntryReader::Read(uint32_t i, uint64_t offset, void* out, std::size_t n, VzrError* error) const {
  const State& s = *state_;
  if (i >= s.index.Count()) {
    Fail(error, kEntryFailed, "", "entry " + std::to_string(i) + " out of range");
    return -1;
  }
  if (!s.Plausible(i, error)) return -1;
  const EntryInfo e = s.Entry(i);
  if (offset >= e.fileSize || n == 0) return 0;
  const uint64_t want = std::min<uint64_t>(n, e.fileSize - offset);
  auto* to = static_cast<unsigned char*>(out);
  if (s.storageMode == vzr::kStorageRaw) {
    if (!ReadAt(s.file, e.fileOffset + offset, to, static_cast<std::size_t>(want))) {
      Fail(error, kEntryFailed, e.name, errno ? std::strerror(errno) : "archive cut short", errno);
      return -1;
    }
    return static_cast<int64_t>(want);
  }
  const std::shared_ptr<const SegmentTable> table = s.Table(i, error);
  if (!table) return -1;
  uint64_t done = 0;
  for (std::size_t k = table->SegmentOf(offset); done < want; ++k) {
    const Segment segment = s.CachedSegment(i, *table, k, error);
    if (!segment) return -1;
    const uint64_t from = offset + done - table->contentAt[k];
    const uint64_t take = std::min<uint64_t>(want - done, segment->size() - from);
    std::memcpy(to + done, segment->data() + from, static_cast<std::size_t>(take));
    done += take;
  }
  return static_cast<int64_t>(want);
}

bool EntryReader::Stream(uint32_t i, const std::function<bool(const unsigned char*, std::size_t)>& sink,
                         VzrError* error) const {
  const State& s = *state_;
  if (i >= s.index.Count()) {
    Fail(error, kEntryFailed, "", "entry " + std::to_string(i) + " out of range");
    return false;
  }
  if (!s.Plausible(i, error)) return false;
  const EntryInfo e = s.Entry(i);
  // Buffers kept by each thread from one entry to the next: a run over
  // many small entries then costs no allocation (and no fresh pages) each.
  thread_local std::vector<unsigned char> block, current, before, scratch;
  if (s.storageMode == vzr::kStorageRaw) {
    if (block.size() < std::min<std::size_t>(kRawBlock, e.fileSize))
      block.resize(std::min<std::size_t>(kRawBlock, e.fileSize));
    for (uint64_t done = 0; done < e.fileSize;) {
      const auto take = static_cast<std::size_t>(std::min<uint64_t>(kRawBlock, e.fileSize - done));
      if (!ReadAt(s.file, e.fileOffset + done, block.data(), take)) {
        Fail(error, kEntryFailed, e.name, errno ? std::strerror(errno) : "archive cut short", errno);
        return false;
      }
      if (!sink(block.data(), take)) return true;
      done += take;
    }
    return true;
  }
  if (e.fileSize == 0) return true;  // an unknown mode, or a segmented empty entry
  SegmentTable table;
  if (!s.LoadTable(i, table, error)) return false;
  before.clear();
  for (std::size_t k = 0; k < table.Segments(); ++k) {
    if (s.DecodeSegment(i, table, k, k > 0 ? &before : nullptr, current, scratch, error) != State::Decoded::kOk)
      return false;
    if (!current.empty() && !sink(current.data(), current.size())) return true;
    std::swap(current, before);
  }
  return true;
}
