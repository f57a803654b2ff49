// mount_daemon.h - the POSIX side of "vzr mount" and "vzr umount": the
// server started in the background, the file through which `vzr umount`
// finds it and hears how the mount ended, and the unmount itself.
#pragma once

#include <string>

#include "mount_session.h"

namespace vzrmount {

// Mounts the session at mountpoint and serves it until the mount ends, then
// commits its changes. In the background unless foreground: this call then
// returns (with cli::kDone) once the mount can be used, and the server goes
// on in a process of its own. The exit status of the server otherwise.
int ServeMount(Session& session, const std::string& mountpoint, bool foreground, const MountOptions& options);

// Unmounts mountpoint and, when a server of this user's serves it, waits
// until that server has applied its changes and ended, then tells its
// outcome. The exit status of vzr umount.
int EndMount(const std::string& mountpoint);

}  // namespace vzrmount
