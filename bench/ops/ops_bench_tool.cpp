// ops_bench_tool - one engine operation per run, so that run.sh can time it
// and take its peak memory from outside, the same way as tar and cp.
//
//   ops_bench_tool tree <dir> <small files> <large MiB,...>   build the test tree
//   ops_bench_tool pack <source dir> <archive>                PackDirectory
//   ops_bench_tool extract <archive> <destination>            LoadIndex + ExtractAll
//   ops_bench_tool replace <archive> <entry name>             Extract + AddReplaceFile
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "vzrpack.h"

namespace {

// Silences trace lines: the measured runs should not pay for a terminal.
void QuietStdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::perror("freopen");
}

void WriteFile(const std::filesystem::path& path, std::size_t size, std::mt19937& random) {
  std::filesystem::create_directories(path.parent_path());
  std::vector<char> bytes(size);
  for (std::size_t i = 0; i < size; i += 4) {
    const uint32_t r = random();
    std::memcpy(bytes.data() + i, &r, std::min<std::size_t>(4, size - i));
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

// smallCount files of 0.1 to 20 KB spread over nested folders (three levels,
// ten folders each), plus one file per size in largeMiB.
int BuildTree(const std::string& dir, int smallCount, const std::string& largeMiB) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> size(100, 20000);
  for (int i = 0; i < smallCount; ++i) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "d%d/e%d/f%d", i % 10, i / 10 % 10, i / 100 % 10);
    const char* kinds[] = {".con", ".ssc", ".inc", ".rs", ".dds"};
    WriteFile(std::filesystem::path(dir) / folder / ("file" + std::to_string(i) + kinds[i % 5]), size(random), random);
  }
  std::size_t start = 0;
  int n = 0;
  while (start < largeMiB.size()) {
    const std::size_t comma = largeMiB.find(',', start);
    const std::string item = largeMiB.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty())
      WriteFile(std::filesystem::path(dir) / "large" / ("big" + std::to_string(n++) + ".bin"),
                std::stoul(item) * 1048576, random);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return 0;
}

int Pack(const char* source, const char* archive) {
  char src[512] = {}, base[512] = "bench";
  std::strncpy(src, source, sizeof src - 1);
  std::string status;
  StatusSink sink;
  sink.text = &status;
  SetStatusSink(&sink);
  QuietStdout();
  PackDirectory(src, base, archive, 1);
  std::fprintf(stderr, "%s\n", status.c_str());
  return status.rfind("Files packed: ", 0) == 0 ? 0 : 1;
}

int Extract(const char* archivePath, const char* destination) {
  QuietStdout();
  VzrArchive archive;
  archive.LoadIndex(archivePath);
  const int code = archive.ExtractAll(destination);
  if (code != 0) std::fprintf(stderr, "ExtractAll: %d\n", code);
  return code;
}

int Replace(const char* archivePath, const char* entryName) {
  QuietStdout();
  VzrArchive archive;
  archive.LoadIndex(archivePath);
  if (!archive.ExtractByName(entryName, nullptr)) return 1;
  archive.CloseArchiveStream();
  const uint32_t length = archive.curLength;
  uint32_t inx = 0;
  while (inx < archive.FileIndex.count && std::strcmp(archive.FileIndex.files[inx].name, entryName) != 0) ++inx;
  archive.fileBuffer[length] = '\n';  // the edit: one more byte
  const int code = archive.AddReplaceFile(inx, length + 1);
  if (code != 0) std::fprintf(stderr, "AddReplaceFile: %d\n", code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "tree" && argc == 5) return BuildTree(argv[2], std::atoi(argv[3]), argv[4]);
  if (command == "pack" && argc == 4) return Pack(argv[2], argv[3]);
  if (command == "extract" && argc == 4) return Extract(argv[2], argv[3]);
  if (command == "replace" && argc == 4) return Replace(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: %s tree <dir> <small files> <large MiB,...> | pack <src> <archive> |\n"
               "       extract <archive> <dest> | replace <archive> <entry name>\n",
               argv[0]);
  return 2;
}
