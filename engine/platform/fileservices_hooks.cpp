// fileservices_hooks.cpp - what tests hook into the file services: the
// write fault hook, which makes a chosen write or flush fail, and the
// recorder that sees every create, write, flush, rename and delete.
#include <atomic>
#include <cerrno>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"
#include "paths.h"

namespace vzrfs {
namespace {

WriteFaultHook& FaultHook() {
  static WriteFaultHook hook;
  return hook;
}
// Atomic: an extraction writes a file's segments from several threads.
std::atomic<uint64_t> g_writeNumber{0};
std::atomic<int> g_lastWriteError{0};

OperationRecorder& Recorder() {
  static OperationRecorder recorder;
  return recorder;
}

}  // namespace

namespace internal {

bool Recording() { return static_cast<bool>(Recorder()); }

std::string AbsoluteFor(const std::string& path) {
  if (IsAbsolute(path)) return path;
  return GetCurrentDir() + "/" + path;
}
std::string PathAt(const Folder& dir, const std::string& name) { return PathOfHandle(dir.Native()) + "/" + name; }

void Record(FsOperation::Kind kind, const std::string& path, const std::string& target) {
  FsOperation operation;
  operation.kind = kind;
  operation.path = path;
  operation.target = target;
  Recorder()(operation);
}
void RecordWrite(NativeHandle file, uint64_t offset, const void* data, uint64_t length) {
  FsOperation operation;
  operation.path = PathOfHandle(file);
  operation.offset = offset;
  operation.data = static_cast<const unsigned char*>(data);
  operation.length = length;
  Recorder()(operation);
}

// Asks the test hook whether this write (or flush) is to fail; records the failure.
bool InjectedFailure() {
  if (!FaultHook()) return false;
  const int err = FaultHook()(++g_writeNumber);
  if (err == 0) return false;
  errno = err;
  g_lastWriteError = err;
  return true;
}
bool RecordFailure() {
  g_lastWriteError = errno ? errno : EIO;
  return false;
}

}  // namespace internal

int LastWriteError() { return g_lastWriteError; }
void ClearLastWriteError() { g_lastWriteError = 0; }

void SetOperationRecorder(OperationRecorder recorder) { Recorder() = std::move(recorder); }

void SetWriteFaultHook(WriteFaultHook hook) {
  FaultHook() = std::move(hook);
  g_writeNumber = 0;
}

}  // namespace vzrfs
