// console.cpp - arguments, standard streams and interruptions on POSIX.
#include "console.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fileservices.h"

namespace vzrsys {
namespace {

// What the handler does, set once before it is installed.
volatile sig_atomic_t g_barMayShow = 0;
InterruptPlan g_plan;

void WriteError(const char* text) {
  if (text) (void)!::write(STDERR_FILENO, text, std::strlen(text));
}

// SIGINT and SIGTERM: the temporary files of a rewrite, a pack or an
// extraction go, the archive stays as it was, and the status tells a script
// that the command was interrupted. SIGHUP (the terminal went away) and
// SIGPIPE (`vzr extract -v | head`) remove them too, then end the program
// as they would have. Only async-signal-safe calls here.
extern "C" void OnInterrupt(int signal) {
  vzrfs::RemoveTemporaries();
  // A program that writes one archive has succeeded once the new archive is
  // in place (the rename is counted with every signal held): it says so.
  if (g_plan.oneArchiveWriter && vzrfs::ArchivesReplaced() > 0) {
    if (g_barMayShow) WriteError(g_plan.clearBar);
    ::_exit(g_plan.doneStatus);
  }
  if (signal != SIGINT && signal != SIGTERM) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);  // delivered when the handler returns
    return;
  }
  if (g_barMayShow) WriteError(g_plan.clearBar);
  WriteError(g_plan.message);
  ::_exit(g_plan.interruptedStatus);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

// A standard stream closed when the program starts keeps its number taken,
// so that no file opened later becomes "standard output" and receives its
// listing: output to a closed standard output then fails (EBADF).
void PrepareStandardStreams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool OutputReaderGone() { return false; }

void CatchInterruptions(const InterruptPlan& plan) {
  g_plan = plan;
  g_barMayShow = StandardErrorIsTerminal();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigfillset(&action.sa_mask);  // one handler at a time
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace vzrsys
