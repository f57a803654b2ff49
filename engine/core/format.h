// format.h - the numbers of the .vzr on-disk format and of the engine's
// buffers, in one place. Every reader and writer takes them from here.
#pragma once

#include <cstdint>
#include <cstring>

namespace vzr {

// Layout: header, data area, index, 4-byte trailer 0.
inline constexpr uint32_t kHeaderSize = 156;
inline constexpr uint32_t kFixedBlockOffset = 8;
inline constexpr uint32_t kFixedBlockSize = 148;
inline constexpr uint32_t kTrailerSize = 4;

inline constexpr uint32_t kStorageRaw = 0;
inline constexpr uint32_t kStorageSegmented = 1;

// Index entry: nameLength, name, compSize, fileSize, fileOffset, 12 reserved.
inline constexpr uint32_t kIndexEntryFixedSize = 28;
inline constexpr uint32_t kReservedSize = 12;
inline constexpr uint32_t kReservedMarker = 1253856;  // E0 21 13 00, then eight zeros
inline constexpr uint32_t kMaxNameLength = 259;       // name field of FileEntry less its NUL
inline constexpr uint32_t kNameFieldSize = 260;
inline constexpr uint32_t kPathBufferSize = 512;

// Segmented form.
inline constexpr uint32_t kSegmentSize = 32768;
inline constexpr uint32_t kSegmentShift = 15;
inline constexpr uint32_t kSegmentRecordSize = 12;
inline constexpr uint32_t kSegmentCountSize = 4;
inline constexpr uint32_t kShortRunLimit = 238;  // longest run with a one-byte code
inline constexpr uint32_t kRunBias = 17;         // one-byte code is n + 17
inline constexpr uint32_t kLongRunBias = 18;     // long code counts n - 18
inline constexpr uint32_t kRunStep = 255;        // each extra zero byte stands for 255
inline constexpr unsigned char kEndMarker[3] = {0x11, 0x00, 0x00};
inline constexpr uint32_t kEmptySegmentedSize = 20;
inline constexpr unsigned char kEmptySegmentedForm[kEmptySegmentedSize] = {
    0x01, 0x00, 0x00, 0x00,  // segmentCount 1
    0x04, 0x00, 0x00, 0x00,  // compLength 4
    0x00, 0x00, 0x00, 0x00,  // rawLength 0
    0x00, 0x00, 0x00, 0x00,  // streamOffset 0
    0x11, 0x11, 0x00, 0x00,  // empty literal run, end marker
};

// Buffers of the engine object.
inline constexpr uint32_t kInitialFileBufferSize = 4000000;
inline constexpr uint32_t kInitialStoreBufferSize = 6000260;  // 4000000 * 3 / 2 + 260
inline constexpr uint32_t kBufferGrowthMargin = 512;
inline constexpr uint32_t kBytesPerMiB = 1048576;

// Store buffer size that always holds the segmented form of a file buffer of
// the given capacity (at most 133 extra bytes per segment).
inline constexpr uint32_t StoreCapacityFor(uint32_t fileCapacity) {
  return fileCapacity * 3 / 2 + 256;
}

// The 148 bytes this system writes at offset 8 of every archive it creates.
// Readers never look at them; they name the writer and leave the rest zero.
struct FixedBlock {
  unsigned char bytes[kFixedBlockSize] = {};
  constexpr FixedBlock() {
    constexpr char kSignature[] = "VZR archive written by vzrpack";
    for (uint32_t i = 0; i + 1 < sizeof kSignature; ++i) bytes[i] = static_cast<unsigned char>(kSignature[i]);
  }
};
inline constexpr FixedBlock kFixedBlock{};

// Little-endian 32-bit fields.
inline uint32_t ReadLE32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void WriteLE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace vzr
