// mount_daemon.cpp - the background server of a mount, and its unmount.
//
// Where `vzr umount` finds the server of a mount point: a file per mount
// point in a folder of the user's own, locked by the server until it has
// applied its changes and ended, holding the outcome for umount to tell.
#include "mount_daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli.h"
#include "mount_fuse.h"

namespace fs = std::filesystem;

namespace vzrmount {
namespace {

std::string MountKey(const std::string& mountpoint) {
  const fs::path p(Absolute(mountpoint));
  std::string canonical = p.string();
  if (char* parent = ::realpath(p.parent_path().c_str(), nullptr)) {
    canonical = (fs::path(parent) / p.filename()).string();
    std::free(parent);
  }
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : canonical) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

std::string RegistryFile(const std::string& mountpoint) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime && *runtime ? std::string(runtime) + "/vzr-mounts"
                                                 : "/tmp/vzr-mounts-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return "";
  return folder + "/" + MountKey(mountpoint);
}

void WriteOutcome(int fd, const std::string& text) {
  if (fd < 0) return;
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
  ::fsync(fd);
}

void ShowOutcome(const std::string& outcome) {
  std::size_t start = outcome.find('\n') + 1;
  for (std::size_t end; (end = outcome.find('\n', start)) != std::string::npos; start = end + 1)
    cli::Message(outcome.substr(start, end - start));
}

// Ends this process's part in a background start: tells the waiting parent
// the mount is ready and lets go of the terminal.
void Detach(int readyPipe) {
  ::setsid();
  (void)!::chdir("/");
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (null > STDERR_FILENO) ::close(null);
  }
  (void)!::write(readyPipe, "r", 1);
  ::close(readyPipe);
}

// Runs fusermount3 -u; as root without it, unmounts directly.
bool Unmount(const std::string& mountpoint) {
  const char* argv[] = {"fusermount3", "-u", mountpoint.c_str(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "fusermount3", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    if (::geteuid() == 0 && ::umount2(mountpoint.c_str(), 0) == 0) return true;
    cli::FileMessage(mountpoint, std::string("could not be unmounted: ") + std::strerror(errno));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int ServeMount(Session& s, const std::string& mountpoint, bool foreground, const MountOptions& options) {
  const std::string registry = RegistryFile(mountpoint);
  const int outcomeFd = registry.empty() ? -1 : ::open(registry.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (outcomeFd >= 0 && ::flock(outcomeFd, LOCK_EX | LOCK_NB) != 0) {
    cli::FileMessage(mountpoint, "a mount there is still being served");
    return cli::kNothing;
  }
  WriteOutcome(outcomeFd, s.overlay ? "failed\n" + s.archivePath +
                                          ": the mount's server ended before applying the changes; they are kept in " +
                                          s.overlay->Folder() + "\n"
                                    : "ok\n");
  FuseMount mount(s, options);
  std::string why;
  if (!mount.Mount(mountpoint, why)) {
    if (s.overlay && !s.overlay->HasChanges()) s.overlay->Discard();
    cli::FileMessage(mountpoint, why);
    return cli::kNothing;
  }
  int ready[2] = {-1, -1};
  if (!foreground) {
    if (::pipe(ready) != 0) ready[0] = ready[1] = -1;
    const pid_t child = ::fork();
    if (child > 0) {
      ::close(ready[1]);
      char byte = 0;
      const bool served = ::read(ready[0], &byte, 1) == 1;
      ::_exit(served ? cli::kDone : cli::kProblems);
    }
    ::close(ready[0]);
  }
  // The interruption handlers of every verb would end the process at once;
  // here SIGINT, SIGTERM and SIGHUP end the serving, so the mount goes and
  // the changes are applied.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
  const int served = mount.Serve([&] {
    if (!foreground) Detach(ready[1]);
  });
  std::string outcome = Commit(s);
  if (options.stats) outcome += Statistics(s);
  WriteOutcome(outcomeFd, outcome);
  ShowOutcome(outcome);
  if (outcomeFd >= 0) ::close(outcomeFd);
  if (outcome.rfind("ok", 0) != 0) return cli::kProblems;
  // Ctrl+C, SIGTERM and SIGHUP are how a foreground mount is meant to end.
  const bool endedAsMeant = served == 0 || served == SIGINT || served == SIGTERM || served == SIGHUP;
  return endedAsMeant ? cli::kDone : cli::kProblems;
}

int EndMount(const std::string& mountpoint) {
  const std::string registry = RegistryFile(mountpoint);
  const int fd = registry.empty() ? -1 : ::open(registry.c_str(), O_RDWR | O_CLOEXEC);
  if (!Unmount(mountpoint)) {
    if (fd >= 0) ::close(fd);
    return cli::kNothing;
  }
  if (fd < 0) return cli::kDone;
  // The server lets go of the file once it has applied the changes and ended.
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::string outcome;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) outcome.append(buf, static_cast<std::size_t>(n));
  ::unlink(registry.c_str());
  ::close(fd);
  ShowOutcome(outcome);
  return outcome.rfind("ok", 0) == 0 || outcome.empty() ? cli::kDone : cli::kProblems;
}

}  // namespace vzrmount
