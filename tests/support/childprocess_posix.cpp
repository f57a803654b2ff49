// childprocess_posix.cpp - Process on POSIX: posix_spawn, and waitpid.
#include <fcntl.h>
#include <spawn.h>
#include <time.h>

#include <thread>
#include <utility>

#include "childprocess.h"

extern char** environ;

namespace testutil {
namespace {

int StatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

const char* OrNull(const std::string& path) { return path.empty() ? "/dev/null" : path.c_str(); }

}  // namespace

Process Process::Start(const ProcessSpec& spec) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawnattr_init(&attributes);
  if (!spec.cwd.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, spec.cwd.c_str());
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, OrNull(spec.outPath), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::posix_spawn_file_actions_addopen(&actions, 2, OrNull(spec.errPath), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // vzr leaves a signal ignored at its start alone (a background job of a
  // script starts with SIGINT ignored): each program gets the usual ones.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> words{spec.program};
  words.insert(words.end(), spec.args.begin(), spec.args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Process process;
  pid_t pid = -1;
  if (::posix_spawn(&pid, spec.program.c_str(), &actions, &attributes, argv.data(), environ) == 0) {
    process.pid_ = pid;
    process.id_ = pid;
  }
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  return process;
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), id_(std::exchange(other.id_, -1)), status_(std::move(other.status_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Reset();
    pid_ = std::exchange(other.pid_, -1);
    id_ = std::exchange(other.id_, -1);
    status_ = std::move(other.status_);
  }
  return *this;
}

Process::~Process() { Reset(); }

void Process::Reset() {
  if (pid_ > 0 && !status_) {
    Kill();
    Wait();
  }
  pid_ = -1;
}

bool Process::Started() const { return pid_ > 0; }

int Process::Wait() {
  if (status_) return *status_;
  if (pid_ <= 0) return 127;
  int waitStatus = 0;
  while (::waitpid(pid_, &waitStatus, 0) < 0)
    if (errno != EINTR) return 127;
  status_ = StatusOf(waitStatus);
  return *status_;
}

std::optional<int> Process::WaitFor(std::chrono::milliseconds timeout) {
  if (status_ || pid_ <= 0) return Wait();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    int waitStatus = 0;
    if (::waitpid(pid_, &waitStatus, WNOHANG) == pid_) return status_ = StatusOf(waitStatus);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

void Process::Kill() {
  if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
}

long Process::Id() const { return id_; }

pid_t Process::Release() {
  status_ = 127;  // nothing left to wait for here
  return std::exchange(pid_, -1);
}

}  // namespace testutil
