// fuzz_load_extract.cpp - LoadIndex of arbitrary bytes, then Extract of every
// entry into memory.
//
// Beyond the sanitizers' checks (no out-of-bounds access, no undefined
// behaviour, no leak, no allocation above -malloc_limit_mb) it checks what the
// callers rely on: the index stays within its storage with NUL-terminated
// names, no stream is left open by LoadIndex, an entry that extracts has its
// fileSize bytes with room for two more, and a raw entry's bytes are exactly
// the bytes of the archive at its offset.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "vzrpack.h"

using fuzzsupport::Fail;

namespace {

void CheckIndex(const VzrArchive& archive) {
  const FileIndex& index = archive.FileIndex;
  if (index.count > index.files.size()) Fail("count beyond the entry storage");
  if (archive.vzrFileStream) Fail("LoadIndex left a stream open");
  for (uint32_t i = 0; i < index.count; ++i) {
    const FileEntry& e = index.files[i];
    if (e.nameLength >= sizeof e.name) Fail("nameLength " + std::to_string(e.nameLength) + " overflows the name field");
    if (e.name[e.nameLength] != '\0') Fail("name not terminated at nameLength");
  }
}

void CheckExtracted(const VzrArchive& archive, uint32_t i, const unsigned char* content, const uint8_t* data,
                    std::size_t size) {
  const FileEntry& e = archive.FileIndex.files[i];
  if (content != archive.fileBuffer) Fail("Extract returned a buffer that is not fileBuffer");
  if (archive.curLength != e.fileSize) Fail("curLength differs from fileSize");
  if (archive.fileBufferCapacity < uint64_t(e.fileSize) + 2) Fail("no room for two bytes after the content");
  // Callers write two terminator bytes after the content: they must be ours.
  volatile unsigned char tail = content[e.fileSize + 1];
  (void)tail;
  if (archive.storageMode == 0) {
    if (uint64_t(e.fileOffset) + e.fileSize > size) Fail("raw entry extracted from beyond the archive's end");
    if (e.fileSize && std::memcmp(content, data + e.fileOffset, e.fileSize) != 0)
      Fail("raw entry differs from the archive's bytes");
  }
}

// One object for every run, as the mod-folder unpacker loads archive after
// archive into one object: its buffers (10 MB) cost more to set up under the
// sanitizers than a whole run, and what a run leaves in them must not matter
// to the next.
VzrArchive& SharedArchive() {
  static VzrArchive* archive = new VzrArchive;
  return *archive;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::QuietTrace();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string path = fuzzsupport::ScratchDir() + "/input.vzr";
  fuzzsupport::WriteWhole(path, data, size);

  VzrArchive& archive = SharedArchive();
  archive.LoadIndex(path.c_str());
  CheckIndex(archive);
  const uint32_t count = archive.FileIndex.count;
  for (uint32_t i = 0; i < count; ++i) {
    if (unsigned char* content = archive.Extract(i, nullptr)) CheckExtracted(archive, i, content, data, size);
  }
  if (archive.Extract(count, nullptr)) Fail("Extract past the last entry succeeded");
  archive.CloseArchiveStream();
  return 0;
}
