// verb_mount_absent.cpp - "vzr mount" and "vzr umount" in a Windows build:
// the mount needs FUSE, which Windows has not. Each says so in one line.
#include "cli.h"

namespace {

int NotHere(const cli::Args&) {
  cli::Message("mount and umount are not available in the Windows build (they need FUSE); use extract");
  return cli::kNothing;
}

const cli::Register mountVerb({"mount", "not in the Windows build (needs FUSE)",
                               "usage: vzr mount ARCHIVE FOLDER\n\nNot available in the Windows build.\n", {},
                               NotHere});
const cli::Register umountVerb({"umount", "not in the Windows build (needs FUSE)",
                                "usage: vzr umount FOLDER\n\nNot available in the Windows build.\n", {}, NotHere});

}  // namespace
