// verb_mount.cpp - "vzr mount" and "vzr umount": an archive, or every archive
// of a mod merged, as a folder that any program can read (and, with -o rw,
// change), served through FUSE.
//
// This file reads the command line; the session (mount_session) builds what
// the mount shows and commits its changes, the FUSE adapter (mount_fuse)
// serves it, and the daemon part (mount_daemon) runs the server in the
// background and lets `vzr umount` find it.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli.h"
#include "mount_daemon.h"
#include "mount_overlay.h"
#include "mount_session.h"

namespace fs = std::filesystem;
using vzrmount::MountOptions;

namespace {

// False (with the message) when a writable mount at mountpoint would hide
// its own overlay: the server reaches the overlay by path, through the
// mount it serves, and every program touching the mount would hang.
bool OverlayOutsideMount(const std::string& archive, const std::string& mountpoint) {
  std::error_code ec;
  const fs::path real = fs::canonical(mountpoint, ec);
  const std::string point = ec ? mountpoint : real.string();
  const std::string overlay = vzrmount::Overlay::FolderFor(archive);
  if (!vzrmount::FoldersOverlap(point, overlay)) return true;
  cli::FileMessage(mountpoint, "-o rw cannot mount here: it would hide " + overlay +
                                   ", where the changes are kept (choose a folder apart from the archive's)");
  return false;
}

bool ReadOptions(const cli::Args& args, MountOptions& options) {
  for (const auto& [name, value] : args.options) {
    if (name != "-o") continue;
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t end = value.find(',', start);
      if (end == std::string::npos) end = value.size();
      const std::string option = value.substr(start, end - start);
      start = end + 1;
      char* rest = nullptr;
      if (option == "rw") {
        options.writable = true;
      } else if (option == "ro") {
        options.writable = false;
      } else if (option == "stats") {
        options.stats = true;
      } else if (option == "threads") {
        options.threads = true;
      } else if (option == "allow_other") {
        options.allowOther = true;
      } else if (option.rfind("level=", 0) == 0) {
        const long level = std::strtol(option.c_str() + 6, &rest, 10);
        if (option.size() == 6 || *rest || level < 0 || level > 9) return cli::Usage("mount", "level is 0..9"), false;
        options.level = static_cast<int>(level);
      } else if (option.rfind("cache=", 0) == 0) {
        const long mib = std::strtol(option.c_str() + 6, &rest, 10);
        if (option.size() == 6 || *rest || mib < 1 || mib > 65536)
          return cli::Usage("mount", "cache is 1..65536 (MiB)"), false;
        options.cacheBytes = static_cast<std::size_t>(mib) << 20;
      } else if (!option.empty()) {
        return cli::Usage("mount", "unknown option '" + option + "'"), false;
      }
    }
  }
  return true;
}

int RunMount(const cli::Args& args) {
  if (args.positionals.size() != 2) return cli::Usage("mount", "an archive or a mod folder, and a mount point are needed");
  MountOptions options;
  if (!ReadOptions(args, options)) return cli::kNothing;
  const std::string source = vzrmount::Absolute(args.positionals[0]);
  const std::string mountpoint = vzrmount::Absolute(args.positionals[1]);
  if (!cli::RequireFolder(mountpoint)) return cli::kNothing;
  std::error_code ec;
  std::vector<std::string> archives;
  if (fs::is_directory(source, ec)) {
    if (options.writable) return cli::Usage("mount", "-o rw takes one archive, not a mod folder");
    archives = vzrmount::ModArchives(source);
    if (archives.empty()) {
      cli::FileMessage(source, "no archives in the mod's Archives folders");
      return cli::kNothing;
    }
  } else {
    // A writable mount rewrites the archive a link leads to.
    const fs::path real = fs::canonical(source, ec);
    if (ec) {
      cli::FileMessage(source, ec.message());
      return cli::kNothing;
    }
    archives.push_back(real.string());
  }
  vzrmount::Session s;
  s.writable = options.writable;
  s.level = options.level;
  s.archivePath = archives.front();
  if (options.writable && !OverlayOutsideMount(s.archivePath, mountpoint)) return cli::kNothing;
  if (!vzrmount::LoadSources(s, archives, options)) return cli::kNothing;
  if (options.writable && !vzrmount::ApplyOverlay(s, s.archivePath)) return cli::kNothing;
  return vzrmount::ServeMount(s, mountpoint, args.Has("-f"), options);
}

int RunUmount(const cli::Args& args) {
  if (args.positionals.size() != 1) return cli::Usage("umount", "one mount point is needed");
  return vzrmount::EndMount(vzrmount::Absolute(args.positionals[0]));
}

const cli::Register mountVerb(
    {"mount", "an archive, or a whole mod, as a folder",
     "usage: vzr mount [-o OPTION,...] [-f] ARCHIVE|MODDIR MOUNTPOINT\n"
     "Shows the entries of ARCHIVE as files below MOUNTPOINT, each where extraction\n"
     "would write it, and returns once the folder can be used. A MODDIR shows every\n"
     "archive of the mod merged as vzr mod unpack would write them into an empty\n"
     "folder (a later archive's file replaces an earlier one's). Names extraction\n"
     "refuses are not shown and are named on standard error; of names equal but\n"
     "for letter case the last entry shows, once, and is found in any case.\n"
     "Read-only unless -o rw. The archive is read as it was at mount: a new copy\n"
     "moved over it meanwhile is not seen. vzr umount MOUNTPOINT ends the mount.\n"
     "  -f           serve in the foreground; Ctrl+C unmounts\n"
     "  -o rw        files and folders may be created, changed, renamed and\n"
     "               removed (one archive only). Changes are kept in the folder\n"
     "               .NAME.overlay beside the archive NAME and go into the archive\n"
     "               in one rewrite when the mount ends (vzr umount, fusermount3 -u,\n"
     "               Ctrl+C, SIGTERM). If that fails the archive stays as it was,\n"
     "               the changes stay in the overlay and the next -o rw mount of the\n"
     "               archive starts from them. Folders left empty are not kept.\n"
     "  -o level=N   compression level 0..9 of changed files in a segmented archive\n"
     "               (default 6); a raw archive stays raw\n"
     "  -o cache=MIB memory for decoded segments (default 64)\n"
     "  -o threads   serve requests on several threads (for many programs reading\n"
     "               at once; one thread is faster for one program at a time)\n"
     "  -o stats     at unmount, tell how many reads were served and how many\n"
     "               segments were decoded for them\n"
     "  -o allow_other  other users may use the mount too\n",
     {{"-o", true}, {"-f", false}},
     RunMount});

const cli::Register umountVerb({"umount", "ends a mount made by vzr mount",
                                "usage: vzr umount MOUNTPOINT\n"
                                "Unmounts MOUNTPOINT and, for a mount made with -o rw, waits until the\n"
                                "changes are in the archive (or says where they are kept).\n",
                                {},
                                RunUmount});

}  // namespace
