// fileservices_hooks.cpp - what tests hook into the file services: the
// write fault hook, which makes a chosen write or flush fail, and the
// recorder that sees every create, write, flush, rename and delete.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <vector>

#include "fileservices.h"
#include "fileservices_internal.h"

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
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buffer(PATH_MAX + 1);
  const std::string cwd = ::getcwd(buffer.data(), buffer.size()) ? buffer.data() : "";
  return cwd + "/" + path;
}
// The path an open descriptor names (the system keeps it for every fd).
std::string PathOfFd(int fd) {
  std::vector<char> buffer(PATH_MAX + 1);
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}
std::string PathAt(int dirFd, const std::string& name) { return PathOfFd(dirFd) + "/" + name; }

void Record(FsOperation::Kind kind, const std::string& path, const std::string& target) {
  FsOperation operation;
  operation.kind = kind;
  operation.path = path;
  operation.target = target;
  Recorder()(operation);
}
void RecordWrite(int fd, uint64_t offset, const void* data, uint64_t length) {
  FsOperation operation;
  operation.path = PathOfFd(fd);
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
