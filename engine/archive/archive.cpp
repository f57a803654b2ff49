// vzrpack.cpp - the engine object, its index and name list, the status
// binding, the checkpoints and the trace channel.
#include "archive.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "trace.h"

int32_t CodePosition = 0;
VzrArchive* CurrentPackArchive = nullptr;

VzrError& LastEngineError() {
  thread_local VzrError error;
  return error;
}

std::string vzrops::ReasonOf(std::string_view traceLine) {
  const std::size_t start = traceLine.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::string();
  traceLine.remove_prefix(start);
  // The marks failure lines carry: "ERROR! ", "ERROR!! ", "ERRROR! ", "Error! ".
  for (std::string_view mark : {"ERROR!! ", "ERROR! ", "ERRROR! ", "Error! "})
    if (traceLine.substr(0, mark.size()) == mark) {
      traceLine.remove_prefix(mark.size());
      break;
    }
  return std::string(traceLine);
}

void vzrops::SetError(VzrError& error, int code, std::string entry, int sysError, std::string message) {
  error.code = code;
  error.entry = std::move(entry);
  error.sysError = sysError;
  error.message = std::move(message);
}

namespace {
TraceSink& InstalledTraceSink() {
  static TraceSink sink;
  return sink;
}
}  // namespace

void SetTraceSink(TraceSink sink) { InstalledTraceSink() = std::move(sink); }

namespace vzr::trace_detail {
void Emit(const std::string& line) {
  if (const TraceSink& sink = InstalledTraceSink()) {
    sink(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
}  // namespace vzr::trace_detail

// ---------------------------------------------------------------------------
// Status binding

namespace {
StatusSink g_unboundSink;
StatusSink* g_installedSink = nullptr;
}  // namespace

void StatusSink::SetText(const char* s) {
  if (text) *text = s ? s : "";
  if (window) window->PushFieldsToControls();
}

void StatusSink::Repaint() {
  if (window) window->RepaintNow();
}

void SetStatusSink(StatusSink* sink) { g_installedSink = sink; }

StatusSink* GetStatusSink() { return g_installedSink ? g_installedSink : &g_unboundSink; }

// ---------------------------------------------------------------------------
// FileIndex

void FileIndex::append(const FileEntry& entry) {
  if (files.size() > count)
    files[count] = entry;
  else
    files.push_back(entry);
  ++count;
}

void FileIndex::resize(uint32_t n) { files.resize(n); }

void FileIndex::release() {
  std::vector<FileEntry>().swap(files);
  count = 0;
}

// ---------------------------------------------------------------------------
// PackNameList: three arrays that grow to twice their length plus 2.

namespace {
template <class T>
class GrowArray {
 public:
  uint32_t Length() const { return length_; }
  uint32_t Capacity() const { return capacity_; }
  T* Data() { return data_.get(); }
  const T* Data() const { return data_.get(); }
  void Clear() { length_ = 0; }

  // Makes room for `extra` more elements, growing by the list's rule.
  void Reserve(uint32_t extra) {
    if (length_ + extra <= capacity_) return;
    uint32_t capacity = std::max<uint32_t>(2, length_ * 2 + 2);
    while (capacity < length_ + extra) capacity = capacity * 2 + 2;
    auto grown = std::make_unique<T[]>(capacity);
    if (length_) std::memcpy(grown.get(), data_.get(), length_ * sizeof(T));
    data_ = std::move(grown);
    capacity_ = capacity;
  }
  void Push(const T* items, uint32_t n) {
    Reserve(n);
    if (n) std::memcpy(data_.get() + length_, items, n * sizeof(T));
    length_ += n;
  }

 private:
  std::unique_ptr<T[]> data_;
  uint32_t length_ = 0;
  uint32_t capacity_ = 0;
};
}  // namespace

struct PackNameList::Arrays {
  GrowArray<char> characters;
  GrowArray<uint32_t> starts;
  GrowArray<uint32_t> lengths;
};

PackNameList::PackNameList() : arrays_(std::make_unique<Arrays>()) {}
PackNameList::~PackNameList() = default;

uint32_t PackNameList::Append(const char* s) {
  if (!s) s = "";
  const auto length = static_cast<uint32_t>(std::strlen(s));
  const uint32_t start = arrays_->characters.Length();
  arrays_->characters.Push(s, length + 1);  // with its NUL
  arrays_->starts.Push(&start, 1);
  arrays_->lengths.Push(&length, 1);
  return Count();
}

const char* PackNameList::Get(uint32_t i) const {
  if (i >= Count()) return nullptr;
  return arrays_->characters.Data() + arrays_->starts.Data()[i];
}

uint32_t PackNameList::Count() const { return arrays_->starts.Length(); }

void PackNameList::Clear() {
  arrays_->characters.Clear();
  arrays_->starts.Clear();
  arrays_->lengths.Clear();
}

uint32_t PackNameList::CharacterCapacity() const { return arrays_->characters.Capacity(); }
uint32_t PackNameList::EntryCapacity() const { return arrays_->starts.Capacity(); }

// ---------------------------------------------------------------------------
// VzrArchive

VzrArchive::VzrArchive() {
  GrowFileBuffer(vzr::kInitialFileBufferSize);
  GrowStoreBuffer(vzr::kInitialStoreBufferSize);
}

VzrArchive::~VzrArchive() {
  CodePosition = 64;
  CloseArchiveStream();
  fileBufferStorage_.reset();
  storeBufferStorage_.reset();
  fileBuffer = storeBuffer = nullptr;
  fileBufferCapacity = storeBufferCapacity = 0;
  std::vector<SegmentRecord>().swap(segments);
  packNames.Clear();
  CodePosition = 77;
  FileIndex.release();
  if (CurrentPackArchive == this) CurrentPackArchive = nullptr;
}

int VzrArchive::OpenArchiveStream() {
  CloseArchiveStream();
  vzrFileStream = vzrfs::OpenRead(vzr_file_name);
  return vzrFileStream ? 0 : 2;
}

void VzrArchive::CloseArchiveStream() {
  if (!vzrFileStream) return;
  std::fclose(vzrFileStream);
  vzrFileStream = nullptr;
}

namespace {
// A fresh buffer of n bytes, or null when the memory cannot be had.
std::unique_ptr<unsigned char[]> AllocateBuffer(uint32_t n) {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[n == 0 ? 1 : n]);
}
}  // namespace

bool VzrArchive::GrowFileBuffer(uint32_t n) {
  if (fileBuffer && fileBufferCapacity >= n) return true;
  auto grown = AllocateBuffer(n);
  if (!grown) return false;
  fileBufferStorage_ = std::move(grown);
  fileBuffer = fileBufferStorage_.get();
  fileBufferCapacity = n;
  return true;
}

bool VzrArchive::GrowStoreBuffer(uint32_t n) {
  if (storeBuffer && storeBufferCapacity >= n) return true;
  auto grown = AllocateBuffer(n);
  if (!grown) return false;
  storeBufferStorage_ = std::move(grown);
  storeBuffer = storeBufferStorage_.get();
  storeBufferCapacity = n;
  return true;
}
