// fuzz_decompression.cpp - Decompression of arbitrary stored forms into
// output buffers of arbitrary capacity.
//
// Input: 4 bytes of output capacity (little-endian, below 128 KiB), then the
// stored form. Both buffers are heap blocks of exactly their size, so any
// access outside them is an AddressSanitizer report. The result is compared
// with a second decoder written here from the format's rules, every access
// checked; the two must agree on the result and on every byte produced.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vzrpack.h"

using fuzzsupport::Fail;

namespace {

// Four segments' worth: room for every kind of success and failure, small
// enough that the exact-size buffers cost little to set up on every run.
constexpr uint32_t kMaxCapacity = (1u << 17) - 1;

// The reference decoder: slow, plain, and checked at every step. Returns the
// bytes written, or 0 on any failure (as the engine's decoder does).
class ReferenceDecoder {
 public:
  ReferenceDecoder(const uint8_t* in, uint64_t length, uint8_t* out, uint64_t capacity)
      : in_(in), length_(length), out_(out), capacity_(capacity) {}

  uint64_t Run() {
    if (length_ < 4) return 0;
    const uint64_t segments = fuzzsupport::LE32(in_);
    const uint64_t area = 4 + 12 * segments;
    if (area > length_) return 0;
    for (uint64_t k = 0; k < segments; ++k) {
      pos_ = area + fuzzsupport::LE32(in_ + 4 + 12 * k + 8);
      if (!Segment()) return 0;
    }
    return outPos_;
  }

 private:
  bool Byte(uint8_t& b) {
    if (pos_ >= length_) return false;
    b = in_[pos_++];
    return true;
  }
  // An extended count: each 0 byte adds 255, the first nonzero byte is added.
  bool Extended(uint64_t& value) {
    for (uint8_t b = 0;;) {
      if (!Byte(b)) return false;
      if (b) {
        value += b;
        return true;
      }
      value += 255;
    }
  }
  bool Literals(uint64_t t) {
    if (pos_ + t > length_ || outPos_ + t > capacity_) return false;
    std::memcpy(out_ + outPos_, in_ + pos_, t);
    pos_ += t;
    outPos_ += t;
    return true;
  }
  bool Match(uint64_t length, uint64_t distance) {
    if (distance > outPos_ || outPos_ + length > capacity_) return false;
    for (uint64_t i = 0; i < length; ++i, ++outPos_) out_[outPos_] = out_[outPos_ - distance];
    return true;
  }

  bool Segment() {
    uint8_t b = 0;
    if (!Byte(b)) return false;
    uint64_t t = 0;
    if (b >= 18) {
      t = b - 17u;
    } else if (b >= 1 && b <= 15) {
      t = b + 3u;  // as in LZO1X itself; 16 and 17 start with no literals
    } else if (b == 0) {
      t = 18;
      if (!Extended(t)) return false;
    }
    for (;;) {
      const uint64_t literalRun = t;
      if (t > 0 && !Literals(t)) return false;
      uint8_t d0 = 0, d1 = 0;
      uint64_t length = 0, distance = 0;
      if (!Byte(b)) return false;
      if (b >= 64) {
        if (!Byte(d1)) return false;
        length = (b >> 5) + 1u;
        distance = ((b >> 2) & 7u) + d1 * 8u + 1;
        t = b & 3u;
      } else if (b >= 32) {
        length = (b & 31u) + 2;
        if ((b & 31) == 0 && !Extended(length += 31)) return false;
        if (!Byte(d0) || !Byte(d1)) return false;
        distance = (d0 >> 2) + d1 * 64u + 1;
        t = d0 & 3u;
      } else if (b >= 16) {
        if (pos_ + 1 < length_ && b == 17 && in_[pos_] == 0 && in_[pos_ + 1] == 0) return true;  // end marker
        if (b > 23) return false;
        length = (b & 7u) + 2;
        if ((b & 7) == 0 && !Extended(length += 7)) return false;
        if (!Byte(d0) || !Byte(d1)) return false;
        distance = (d0 >> 2) + d1 * 64u + 16384;
        t = d0 & 3u;
      } else {
        if (!Byte(d1)) return false;
        if (literalRun > 3) {
          length = 3;
          distance = (b >> 2) + d1 * 4u + 2049;
        } else {
          length = 2;
          distance = (b >> 2) + d1 * 4u + 1;
        }
        t = b & 3u;
      }
      if (t == 0) {
        uint8_t c = 0;
        if (pos_ >= length_) return false;
        c = in_[pos_];
        if (c >= 1 && c <= 15) {
          t = c + 3u;
          ++pos_;
        } else if (c == 0) {
          ++pos_;
          t = 18;
          if (!Extended(t)) return false;
        }
      }
      if (!Match(length, distance)) return false;
    }
  }

  const uint8_t* in_;
  uint64_t length_;
  uint8_t* out_;
  uint64_t capacity_;
  uint64_t pos_ = 0;
  uint64_t outPos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::QuietTrace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const uint32_t capacity = fuzzsupport::LE32(data) & kMaxCapacity;
  const auto storedLength = static_cast<uint32_t>(size - 4);
  std::unique_ptr<uint8_t[]> stored(new uint8_t[storedLength]);
  if (storedLength) std::memcpy(stored.get(), data + 4, storedLength);
  std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
  // The reference decoder checks its own bounds: its buffer can be reused.
  static std::vector<uint8_t> expectedStorage(kMaxCapacity);
  uint8_t* expected = expectedStorage.data();

  const int32_t result = Decompression(stored.get(), storedLength, out.get(), capacity);
  const uint64_t reference = ReferenceDecoder(stored.get(), storedLength, expected, capacity).Run();
  if (result < 0 || static_cast<uint32_t>(result) > capacity)
    Fail("result " + std::to_string(result) + " outside the capacity " + std::to_string(capacity));
  if (static_cast<uint64_t>(result) != reference)
    Fail("result " + std::to_string(result) + ", the format's rules give " + std::to_string(reference));
  if (result > 0 && std::memcmp(out.get(), expected, static_cast<std::size_t>(result)) != 0)
    Fail("decoded bytes differ from the format's rules");
  return 0;
}
