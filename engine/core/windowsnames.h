// windowsnames.h - the entry names a Windows file system cannot hold, or
// reads as something else than a file below the destination. Plain text
// rules, the same on every system; extraction applies them where the file
// services say the system needs them (vzrfs::RefusesWindowsNames).
#pragma once

#include <string>
#include <string_view>

namespace vzrfs {

// Why the entry name (as stored: '/' or '\' between components) cannot be
// written on Windows, or "" when it can: a reserved device name (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, in any case, with or without an
// extension) as any component, a component ending in a dot or a space, one
// of < > : " | ? * or a control character, or a drive-relative, rooted,
// device ("\\?\", "\\.\") or UNC form.
std::string WindowsNameProblem(std::string_view name);

}  // namespace vzrfs
