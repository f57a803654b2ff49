// fuzz_support.h - what the fuzz targets share: a scratch folder of their own,
// whole-file writes, quiet trace output, and a loud failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// Sends the engine's trace lines to /dev/null (libFuzzer reports on stderr),
// unless VZR_FUZZ_TRACE is set, so a reproduction can show them.
void QuietTrace();

// A folder of this process's own, made once under $VZR_FUZZ_SCRATCH, else
// /dev/shm, else the temporary folder, and removed when the process exits.
const std::string& ScratchDir();

// Replaces the file at path by exactly these bytes; aborts when it cannot.
void WriteWhole(const std::string& path, const uint8_t* data, std::size_t size);

// Prints what went wrong and aborts, which libFuzzer records as a finding.
[[noreturn]] void Fail(const std::string& what);

inline uint32_t LE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace fuzzsupport
