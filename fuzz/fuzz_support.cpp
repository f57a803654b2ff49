// fuzz_support.cpp - scratch folder, file writes and failure reports for the
// fuzz targets.
#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzzsupport {
namespace {

std::string g_scratch;

void RemoveScratch() {
  if (g_scratch.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(g_scratch, ec);
}

std::string ScratchParent() {
  if (const char* chosen = std::getenv("VZR_FUZZ_SCRATCH"); chosen && *chosen) return chosen;
  if (::access("/dev/shm", W_OK) == 0) return "/dev/shm";  // memory-backed: many runs a second
  return std::filesystem::temp_directory_path().string();
}

}  // namespace

void QuietTrace() {
  if (std::getenv("VZR_FUZZ_TRACE")) return;
  if (!std::freopen("/dev/null", "w", stdout)) Fail("cannot silence standard output");
}

const std::string& ScratchDir() {
  if (g_scratch.empty()) {
    std::string templ = ScratchParent() + "/vzrfuzz.XXXXXX";
    if (!::mkdtemp(templ.data())) Fail("cannot make a scratch folder in " + ScratchParent());
    g_scratch = templ;
    std::atexit(RemoveScratch);
  }
  return g_scratch;
}

void WriteWhole(const std::string& path, const uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) Fail("cannot write " + path);
  const bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !whole) Fail("cannot write " + path);
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n==== FUZZ CHECK FAILED: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzzsupport
