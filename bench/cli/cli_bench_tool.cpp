// cli_bench_tool - builds the data of bench/cli/run.sh and runs the engine
// calls that vzr's verbs are measured against, one per process, so that
// run.sh times both the same way from outside.
//
//   cli_bench_tool index <archive> <entries>         a raw archive of many small entries
//   cli_bench_tool loadindex <archive>               LoadIndex alone
//   cli_bench_tool oldloadindex <archive>            the loader LoadIndex replaced, alone
//   cli_bench_tool segmented <archive> <MiB> <tmp>   a segmented archive of real streams
//   cli_bench_tool decode <archive>                  read and decode every entry, nothing else
//   cli_bench_tool archives <folder> <count>         count small archives in nested folders
//   cli_bench_tool loadindexes <folder>              LoadIndex of every .vzr below folder
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archivebytes.h"
#include "corpora.h"
#include "fileservices.h"
#include "old_loadindex.h"
#include "vzrpack.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

void QuietStdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::perror("freopen");
}

// A raw archive of the given entries, by the tests' archive writer.
bool WriteRawArchive(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& entries) {
  testutil::ArchiveLayout layout;
  for (const auto& [name, content] : entries) layout.AddRaw(name, content);
  return layout.WriteTo(path);
}

int Index(const std::string& path, int count) {
  std::vector<std::pair<std::string, Bytes>> entries;
  for (int i = 0; i < count; ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "levels/quarry%02d/props/crate_%05d.rs", i % 40, i);
    entries.emplace_back(name, corpora::ScriptText(16 + i % 48, static_cast<unsigned>(i)));
  }
  return WriteRawArchive(path, entries) ? 0 : 1;
}

int LoadIndex(const std::string& path) {
  QuietStdout();
  VzrArchive a;
  a.LoadIndex(path.c_str());
  return a.indexDamaged ? 1 : 0;
}

int OldLoadIndex(const std::string& path) {
  FileIndex index;
  return benchbase::OldLoadIndex(path.c_str(), index) ? 0 : 1;
}

// Script text and mixed binary files of 256 KiB to 4 MiB, mib MiB in all,
// packed at the default level on two threads.
int Segmented(const std::string& archive, int mib, const std::string& tmp) {
  const fs::path tree = fs::path(tmp) / "segmented-src";
  fs::remove_all(tree);
  std::size_t left = std::size_t(mib) * 1048576, n = 0;
  while (left > 0) {
    const std::size_t size = std::min<std::size_t>(left, (256u << 10) << (n % 5));
    const bool text = n % 2 == 0;
    const Bytes content = text ? corpora::ScriptText(size, unsigned(n)) : corpora::MixedBinary(size, unsigned(n));
    const fs::path file = tree / ("part" + std::to_string(n % 7)) / ("chunk" + std::to_string(n) + (text ? ".con" : ".dat"));
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), std::streamsize(size));
    left -= size;
    ++n;
  }
  std::string src = tree.string(), status;
  src.resize(512, '\0');
  StatusSink sink;
  sink.text = &status;
  SetStatusSink(&sink);
  QuietStdout();
  PackDirectoryCompressed(src.data(), nullptr, archive.c_str(), kDefaultCompressionLevel, 2);
  fs::remove_all(tree);
  std::fprintf(stderr, "%s\n", status.c_str());
  return status.rfind("Files packed: ", 0) == 0 ? 0 : 1;
}

// What vzr test cannot do without: every stored form read and decoded.
int Decode(const std::string& path) {
  QuietStdout();
  VzrArchive a;
  a.LoadIndex(path.c_str());
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f || a.indexDamaged) return 1;
  Bytes stored, content;
  uint64_t total = 0;
  for (uint32_t i = 0; i < a.FileIndex.count; ++i) {
    const FileEntry& e = a.FileIndex.files[i];
    stored.resize(e.compSize);
    content.resize(std::size_t(e.fileSize) + 2);
    if (::pread(::fileno(f), stored.data(), e.compSize, e.fileOffset) != ssize_t(e.compSize)) return 1;
    const int32_t n = Decompression(stored.data(), e.compSize, content.data(), uint32_t(content.size()));
    if (uint32_t(n) != e.fileSize) return 1;
    total += uint32_t(n);
  }
  std::fclose(f);
  std::fprintf(stderr, "decoded %llu bytes\n", static_cast<unsigned long long>(total));
  return 0;
}

// count archives of 40 entries (1 to 2 KB each), 20 to a folder.
int Archives(const std::string& folder, int count) {
  for (int k = 0; k < count; ++k) {
    std::vector<std::pair<std::string, Bytes>> entries;
    for (int i = 0; i < 40; ++i) {
      const char* kinds[] = {".rs", ".ssc", ".inc", ".dat"};
      std::string name = "pack" + std::to_string(k) + "/item" + std::to_string(i) + kinds[i % 4];
      if (k == count / 2 && i == 7) name = "pack" + std::to_string(k) + "/lighthouse.con";  // the one match
      entries.emplace_back(name, corpora::ScriptText(1024 + unsigned(i * 25), unsigned(k * 40 + i)));
    }
    const std::string path = folder + "/mod" + std::to_string(k / 20) + "/Archives/pack" + std::to_string(k) + ".vzr";
    if (!WriteRawArchive(path, entries)) return 1;
  }
  return 0;
}

int LoadIndexes(const std::string& folder) {
  QuietStdout();
  int found = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file() || e.path().extension() != ".vzr") continue;
    VzrArchive a;
    a.LoadIndex(e.path().c_str());
    for (uint32_t i = 0; i < a.FileIndex.count; ++i)
      if (vzrfs::WildcardMatch("*.con", a.FileIndex.files[i].name)) ++found;
  }
  return found > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "index" && argc == 4) return Index(argv[2], std::atoi(argv[3]));
  if (mode == "loadindex" && argc == 3) return LoadIndex(argv[2]);
  if (mode == "oldloadindex" && argc == 3) return OldLoadIndex(argv[2]);
  if (mode == "segmented" && argc == 5) return Segmented(argv[2], std::atoi(argv[3]), argv[4]);
  if (mode == "decode" && argc == 3) return Decode(argv[2]);
  if (mode == "archives" && argc == 4) return Archives(argv[2], std::atoi(argv[3]));
  if (mode == "loadindexes" && argc == 3) return LoadIndexes(argv[2]);
  std::fprintf(stderr, "usage: see the head of cli_bench_tool.cpp\n");
  return 2;
}
