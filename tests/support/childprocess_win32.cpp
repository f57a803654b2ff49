// childprocess_win32.cpp - Process on Windows: CreateProcessW with a command
// line quoted as the C runtime splits it, and handles for the redirections.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <utility>

#include "childprocess.h"
#include "winsupport.h"

namespace testutil {
namespace {

// Owns one handle.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (Valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A file for a child's standard stream, inheritable; the null device when
// path is empty.
HANDLE OpenForChild(const std::string& path, bool forWriting) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::wstring name = path.empty() ? L"NUL" : Wide(path);
  return ::CreateFileW(name.c_str(), forWriting ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One argument as CommandLineToArgvW and the C runtime read it back:
// quoted when it holds a space, tab or quote (or is empty); backslashes
// doubled only before a quote.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring WithBackslashes(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

}  // namespace

Process Process::Start(const ProcessSpec& spec) {
  const std::wstring program = WithBackslashes(Wide(spec.program));
  std::wstring commandLine = Quoted(program);
  for (const std::string& arg : spec.args) commandLine += L" " + Quoted(Wide(arg));
  Handle in(OpenForChild("", false)), out(OpenForChild(spec.outPath, true)), err(OpenForChild(spec.errPath, true));
  Process process;
  if (!in.Valid() || !out.Valid() || !err.Valid()) return process;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.Get();
  startup.hStdOutput = out.Get();
  startup.hStdError = err.Get();
  PROCESS_INFORMATION info{};
  const std::wstring cwd = WithBackslashes(Wide(spec.cwd));
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (spec.ownConsoleGroup ? CREATE_NEW_PROCESS_GROUP : 0);
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info))
    return process;
  ::CloseHandle(info.hThread);
  process.handle_ = info.hProcess;
  process.id_ = static_cast<long>(info.dwProcessId);
  return process;
}

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, -1)),
      status_(std::move(other.status_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Reset();
    handle_ = std::exchange(other.handle_, nullptr);
    id_ = std::exchange(other.id_, -1);
    status_ = std::move(other.status_);
  }
  return *this;
}

Process::~Process() { Reset(); }

void Process::Reset() {
  if (!handle_) return;
  if (!status_) {
    Kill();
    Wait();
  }
  ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool Process::Started() const { return handle_ != nullptr; }

int Process::Wait() {
  if (!status_) status_ = WaitFor(std::chrono::milliseconds(INFINITE));
  return status_.value_or(127);
}

std::optional<int> Process::WaitFor(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  if (!handle_) return 127;
  const DWORD ms = timeout.count() >= INFINITE ? INFINITE : static_cast<DWORD>(timeout.count());
  if (::WaitForSingleObject(static_cast<HANDLE>(handle_), ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!::GetExitCodeProcess(static_cast<HANDLE>(handle_), &code)) code = 127;
  return status_ = static_cast<int>(code);
}

void Process::Kill() {
  if (handle_ && !status_) ::TerminateProcess(static_cast<HANDLE>(handle_), 137);
}

long Process::Id() const { return id_; }

}  // namespace testutil
