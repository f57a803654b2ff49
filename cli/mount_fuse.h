// mount_fuse.h - the FUSE adapter of "vzr mount": a session's tree served
// through FUSE's node-number interface. The kernel's node numbers are the
// tree's own, so nothing else keeps a table of the nodes the kernel knows.
#pragma once

#include <functional>
#include <string>

#include "mount_session.h"

struct fuse_session;

namespace vzrmount {

// One mount of one session; the session outlives it. One at a time in a
// process: the kernel's requests reach the session through this process's
// FUSE session.
class FuseMount {
 public:
  FuseMount(Session& session, const MountOptions& options);
  ~FuseMount();
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;

  // Mounts at mountpoint. False with *why set when FUSE would not.
  bool Mount(const std::string& mountpoint, std::string& why);
  // Serves until the mount is unmounted or SIGINT, SIGTERM or SIGHUP come
  // (caught for the time of serving); ready() runs once they are caught,
  // before the first request. Unmounts before returning FUSE's result: 0,
  // or the signal that ended the serving.
  int Serve(const std::function<void()>& ready);

 private:
  void End();
  bool threads_;
  bool allowOther_;
  struct Args;
  std::unique_ptr<Args> args_;
  struct fuse_session* fuse_ = nullptr;
  bool mounted_ = false;
};

}  // namespace vzrmount
