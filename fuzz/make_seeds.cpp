// make_seeds.cpp - writes the seed corpus of one fuzz target into a folder.
//
//   fuzz_make_seeds <target> <folder>
//
// Seeds are made here, from our own small archive writer and from liblzo2's
// compressor, so the corpus needs no files from anywhere else. They cover
// both storage modes, literal and compressed segments, several segments per
// entry, the hostile entry names extraction must refuse, and a few damaged
// indexes, so the fuzzer starts next to every branch worth mutating.
#include <lzo/lzo1x.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "archivebytes.h"

namespace {

using testutil::Bytes;
using testutil::PutLE32;

constexpr uint32_t kSegmentSize = 32768;

void SetLE32(Bytes& out, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t IndexOffsetOf(const Bytes& archive) {
  return uint32_t(archive[0]) | uint32_t(archive[1]) << 8 | uint32_t(archive[2]) << 16 | uint32_t(archive[3]) << 24;
}
Bytes FromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Content that compresses: script-like lines with repeats.
Bytes ScriptText(std::size_t n, unsigned seed) {
  std::string s;
  for (unsigned i = 0; s.size() < n; ++i) s += "// line " + std::to_string((i * 7 + seed) % 13) + " of the level script\n";
  s.resize(n);
  return FromText(s);
}

// One segment as a single literal run and the end marker.
Bytes LiteralStream(const unsigned char* data, uint32_t n) {
  Bytes s;
  if (n <= 238) {
    s.push_back(static_cast<unsigned char>(n + 17));
  } else {
    s.push_back(0);
    uint32_t m = n - 18;
    for (; m > 255; m -= 255) s.push_back(0);
    s.push_back(static_cast<unsigned char>(m));
  }
  s.insert(s.end(), data, data + n);
  s.insert(s.end(), {0x11, 0x00, 0x00});
  return s;
}

// One segment compressed by liblzo2's LZO1X-1.
Bytes CompressedStream(const unsigned char* data, uint32_t n) {
  static std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  Bytes s(n + n / 16 + 64 + 3);
  lzo_uint outLength = s.size();
  lzo1x_1_compress(data, n, s.data(), &outLength, work.data());
  s.resize(outLength);
  return s;
}

// The segmented stored form of content split into segments of segmentSize
// bytes (the format's writers use 32768; smaller ones make short seeds with
// several segments, which the decoder reads the same way).
Bytes SegmentedForm(const Bytes& content, bool compressed, uint32_t segmentSize = kSegmentSize) {
  std::vector<Bytes> streams;
  std::vector<uint32_t> rawLengths;
  for (std::size_t at = 0; at < content.size() || streams.empty(); at += segmentSize) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(segmentSize, content.size() - at));
    const unsigned char* data = content.data() + at;
    streams.push_back(compressed && n > 0 ? CompressedStream(data, n) : LiteralStream(data, n));
    rawLengths.push_back(n);
    if (content.empty()) break;
  }
  Bytes out;
  PutLE32(out, static_cast<uint32_t>(streams.size()));
  uint32_t offset = 0;
  for (std::size_t k = 0; k < streams.size(); ++k) {
    PutLE32(out, static_cast<uint32_t>(streams[k].size()));
    PutLE32(out, rawLengths[k]);
    PutLE32(out, offset);
    offset += static_cast<uint32_t>(streams[k].size());
  }
  for (const Bytes& s : streams) out.insert(out.end(), s.begin(), s.end());
  return out;
}

struct Entry {
  std::string name;
  Bytes content;
};

enum class Storage { Raw, Literal, Compressed, SmallSegments };

// A whole archive: header, data area, index, trailer, by the tests' writer.
Bytes Archive(const std::vector<Entry>& entries, Storage storage) {
  testutil::ArchiveLayout layout;
  layout.storageMode = storage == Storage::Raw ? 0 : 1;
  for (const Entry& e : entries) {
    Bytes stored;
    switch (storage) {
      case Storage::Raw: stored = e.content; break;
      case Storage::Literal: stored = SegmentedForm(e.content, false); break;
      case Storage::Compressed: stored = SegmentedForm(e.content, true); break;
      case Storage::SmallSegments: stored = SegmentedForm(e.content, true, 64); break;
    }
    layout.entries.push_back({e.name, stored, static_cast<uint32_t>(e.content.size())});
  }
  return layout.Build();
}

std::vector<Entry> OrdinaryEntries() {
  return {{"base/levels/a.con", ScriptText(300, 1)},
          {"base/game/sub/b.ssc", FromText("x")},
          {"base/empty.inc", {}},
          {"base/c.rs", ScriptText(900, 5)}};
}

// Names extraction has to refuse or tame; "archive.vzr" is the archive's own
// name in the extract-all target.
std::vector<Entry> HostileEntries() {
  return {{"../up.con", FromText("up")},          {"a/../../x.con", FromText("x")},
          {"/abs/x.con", FromText("abs")},        {"C:/drive.con", FromText("c")},
          {"a\\..\\..\\back.con", FromText("b")}, {"archive.vzr", FromText("self")},
          {"ARCHIVE.VZR", FromText("self")},      {"xy/z", FromText("z")},
          {"//twice/lead.con", FromText("l")},    {"ok/./dot.con", FromText("d")}};
}

std::vector<Bytes> ArchiveSeeds() {
  std::vector<Bytes> seeds;
  seeds.push_back(Archive({}, Storage::Raw));
  seeds.push_back(Archive({}, Storage::Literal));
  for (Storage s : {Storage::Raw, Storage::Literal, Storage::Compressed, Storage::SmallSegments}) {
    seeds.push_back(Archive(OrdinaryEntries(), s));
    seeds.push_back(Archive(HostileEntries(), s));
  }
  // Damaged indexes: an entry count no file could hold, an entry whose bytes
  // lie past the end, a size larger than any buffer, a cut-off index.
  Bytes hugeCount = Archive(OrdinaryEntries(), Storage::Raw);
  SetLE32(hugeCount, IndexOffsetOf(hugeCount), 0x7fffffff);
  seeds.push_back(hugeCount);
  // The first entry's fields follow the count: nameLength, name, compSize,
  // fileSize, fileOffset.
  Bytes pastEnd = Archive({{"p.con", FromText("pp")}}, Storage::Raw);
  const std::size_t pastEndFields = IndexOffsetOf(pastEnd) + 4 + 4 + 5;
  SetLE32(pastEnd, pastEndFields + 8, 0xfffffff0);  // fileOffset
  seeds.push_back(pastEnd);
  Bytes hugeSize = Archive({{"h.con", FromText("hh")}}, Storage::Literal);
  const std::size_t hugeSizeFields = IndexOffsetOf(hugeSize) + 4 + 4 + 5;
  SetLE32(hugeSize, hugeSizeFields, 0xfffffff0);      // compSize
  SetLE32(hugeSize, hugeSizeFields + 4, 0xfffffff0);  // fileSize
  seeds.push_back(hugeSize);
  Bytes cut = Archive(OrdinaryEntries(), Storage::Compressed);
  cut.resize(cut.size() - 30);
  seeds.push_back(cut);
  return seeds;
}

// Decoder inputs: a 4-byte output capacity, then the stored form.
std::vector<Bytes> DecompressionSeeds() {
  std::vector<std::pair<Bytes, uint32_t>> forms;  // stored form, content size
  auto add = [&](const Bytes& content, bool compressed, uint32_t segmentSize) {
    forms.push_back({SegmentedForm(content, compressed, segmentSize), static_cast<uint32_t>(content.size())});
  };
  add({}, false, kSegmentSize);
  add(FromText("X"), false, kSegmentSize);
  add(ScriptText(274, 2), false, kSegmentSize);
  add(ScriptText(2000, 3), true, kSegmentSize);
  add(ScriptText(700, 4), true, 100);
  add(Bytes(600, 'a'), true, kSegmentSize);
  // Hand-made streams: two literals and an overlapping match; a first byte
  // that means "no literals"; a far match; a stream without end marker.
  const std::vector<Bytes> streams = {{0x13, 0x61, 0x62, 0x64, 0x00, 0x11, 0x00, 0x00},
                                      {0x05, 0x11, 0x00, 0x00},
                                      {0x15, 'a', 'b', 'c', 'd', 0x11, 0x04, 0x00, 0x11, 0x00, 0x00},
                                      {0x16, 'a', 'b', 'c', 'd', 'e', 0x20, 0x00, 0x00}};
  for (const Bytes& s : streams) {
    Bytes form;
    PutLE32(form, 1);
    PutLE32(form, static_cast<uint32_t>(s.size()));
    PutLE32(form, 0);
    PutLE32(form, 0);
    form.insert(form.end(), s.begin(), s.end());
    forms.push_back({form, 64});
  }
  std::vector<Bytes> seeds;
  for (const auto& [form, size] : forms) {
    for (uint32_t capacity : {size, size ? size - 1 : 0, size + 2, 1u << 16}) {
      Bytes seed;
      PutLE32(seed, capacity);
      seed.insert(seed.end(), form.begin(), form.end());
      seeds.push_back(seed);
    }
  }
  return seeds;
}

bool WriteSeeds(const std::vector<Bytes>& seeds, const std::string& folder) {
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    const std::string path = folder + "/seed-" + std::to_string(i);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
  }
  std::printf("%zu seeds in %s\n", seeds.size(), folder.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || lzo_init() != LZO_E_OK) {
    std::fprintf(stderr, "usage: %s fuzz_load_extract|fuzz_extract_all|fuzz_decompression|fuzz_compress <folder>\n", argv[0]);
    return 2;
  }
  const std::string target = argv[1];
  if (target == "fuzz_load_extract" || target == "fuzz_extract_all") return WriteSeeds(ArchiveSeeds(), argv[2]) ? 0 : 1;
  if (target == "fuzz_compress") {
    // Level byte, then content: text, noise and a long repeat.
    Bytes text = ScriptText(5000, 2), noise(3000), repeat(40000, 'r');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    std::vector<Bytes> seeds;
    for (const Bytes& body : {text, noise, repeat}) {
      for (unsigned char level : {1, 6, 9}) {
        Bytes seed{level};
        seed.insert(seed.end(), body.begin(), body.end());
        seeds.push_back(seed);
      }
    }
    return WriteSeeds(seeds, argv[2]) ? 0 : 1;
  }
  if (target == "fuzz_decompression") return WriteSeeds(DecompressionSeeds(), argv[2]) ? 0 : 1;
  std::fprintf(stderr, "unknown target %s\n", argv[1]);
  return 2;
}
