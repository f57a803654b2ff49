// Inputs the fuzz targets found, each reduced to the bytes that matter and
// kept here so the fault cannot come back.
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"
#include "vzrpack.h"

using testutil::Bytes;
using testutil::TempDir;

namespace {

// An archive of an unknown storage mode whose one entry claims a size of
// nearly 4 GiB: Extract grew fileBuffer to that size before finding that
// the mode decodes nothing.
TEST(FuzzRegression, UnknownStorageModeNeverGrowsTheBufferToTheClaimedSize) {
  for (uint32_t mode : {2u, 0x2c020000u, 0x00c1d101u}) {
    SCOPED_TRACE("storage mode " + std::to_string(mode));
    TempDir dir;
    testutil::ArchiveLayout layout;
    layout.storageMode = mode;
    layout.entries.push_back({"a.con", testutil::ToBytes("abc"), 0xF0000000u});
    layout.entries.push_back({"empty.con", {}, 0});
    const std::string path = dir / "odd.vzr";
    layout.WriteTo(path);

    VzrArchive archive;
    archive.LoadIndex(path.c_str());
    ASSERT_EQ(archive.FileIndex.count, 2u);
    const uint32_t capacity = archive.fileBufferCapacity;
    testutil::TraceCapture trace;
    EXPECT_EQ(archive.Extract(0, nullptr), nullptr);
    EXPECT_EQ(archive.fileBufferCapacity, capacity) << "the buffer grew for an entry that cannot decode";
    // An empty entry still extracts: nothing to decode, nothing missing.
    EXPECT_NE(archive.Extract(1, nullptr), nullptr);
    EXPECT_EQ(archive.curLength, 0u);
    archive.CloseArchiveStream();
    EXPECT_NE(trace.Text().find("ERROR! Extract() fileSize: 0 should be: 4026531840"), std::string::npos);
  }
}

// fuzz_compress's one-byte input 06: an empty segment at level 6, given as
// an empty buffer (a null pointer). The harness compared the empty input with
// memcmp on that null pointer; the compressor must take it at every level.
TEST(FuzzRegression, EmptySegmentFromANullBufferAtEveryLevel) {
  for (int level = 0; level <= 9; ++level) {
    unsigned char out[8] = {};
    ASSERT_EQ(CompressSegment(nullptr, 0, out, sizeof out, level), 4u) << "level " << level;
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x11, 0x11, 0x00, 0x00}));
  }
}

}  // namespace
