// positionalread.h - reading a byte range of an open file without moving
// its position, so that several threads can read one file at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vzrfs {

// Reads exactly n bytes at offset of f into to, leaving f's position and
// buffer alone. False when fewer could be read (errno says why; 0 at the
// end of the file). Safe to call from many threads on one file.
bool ReadAtOffset(std::FILE* f, uint64_t offset, void* to, std::size_t n);

}  // namespace vzrfs
