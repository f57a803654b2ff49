// Arbitrary bytes at an arbitrary level (the first byte picks it): the stream
// CompressSegment writes must fit CompressBound and decode to the input under
// our decoder and under the reference library's safe decoder.
#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format.h"
#include "vzrpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int level = data[0] % 10;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size - 1, vzr::kSegmentSize));
  // The input in a buffer of its exact size, so a read past it is caught.
  // (Empty when n is 0: its data() may then be null, which memcmp may not get.)
  std::vector<unsigned char> in(data + 1, data + 1 + n);
  const uint32_t bound = CompressBound(n);
  std::vector<unsigned char> stream(bound);
  const uint32_t length = CompressSegment(in.data(), n, stream.data(), bound, level);
  if (length == 0 || length > bound) std::abort();
  if (n > 0 && !(stream[0] >= 18 || stream[0] == 0)) std::abort();

  std::vector<unsigned char> form(16 + length);
  const uint32_t header[4] = {1, length, n, 0};
  for (int i = 0; i < 4; ++i) vzr::WriteLE32(form.data() + 4 * i, header[i]);
  std::memcpy(form.data() + 16, stream.data(), length);
  std::vector<unsigned char> ours(n + 1);
  if (Decompression(form.data(), static_cast<uint32_t>(form.size()), ours.data(), n + 1) != int32_t(n) ||
      !std::equal(in.begin(), in.end(), ours.begin()))
    std::abort();

  // The empty segment's stream 11 11 00 00 is this format's own; the library
  // reads its second byte as a distance, so only non-empty streams go there.
  if (n == 0) return 0;
  static const bool ready = lzo_init() == LZO_E_OK;
  if (!ready) std::abort();
  std::vector<unsigned char> theirs(n + 1);
  lzo_uint theirLength = n;
  if (lzo1x_decompress_safe(stream.data(), length, theirs.data(), &theirLength, nullptr) != LZO_E_OK ||
      theirLength != n || !std::equal(in.begin(), in.end(), theirs.begin()))
    std::abort();
  return 0;
}
