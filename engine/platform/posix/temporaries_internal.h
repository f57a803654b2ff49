// temporaries_internal.h - the registry of temporary files behind
// vzrfs::RegisterTemporary and RemoveTemporaries, as the file services use
// it. Internal to the engine.
#pragma once

#include <signal.h>

#include <string>

namespace vzrfs::temporaries {

// Registers name in the open folder dirFd (AT_FDCWD: the current directory);
// the registry keeps a descriptor of that folder of its own.
void Register(int dirFd, const std::string& name);
// Registration in two steps for many short-lived files, with no signals
// held: Reserve takes a slot for name in dirFd before the file is made
// (the handler ignores it), Publish shows it to the handler once the file
// exists, Cancel gives the slot back when it was not made. The slot keeps
// dirFd itself, so the caller releases the name before it closes dirFd.
// A signal between the file's creation and Publish leaves that one file.
// Reserve gives -1 when every slot is taken (the file goes unregistered).
int Reserve(int dirFd, const std::string& name);
void Publish(int slot);
void Cancel(int slot);
// Releases the registration of name in dirFd, if there is one.
void Release(int dirFd, const std::string& name);
// path split into its folder and its name.
void RegisterPath(const std::string& path);
void ReleasePath(const std::string& path);

// Holds every signal off the calling thread while it lives, so that a file
// and its registration come into being together for a handler on this thread.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace vzrfs::temporaries
