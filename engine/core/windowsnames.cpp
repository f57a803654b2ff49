// windowsnames.cpp - the table of names and characters Windows refuses.
#include "windowsnames.h"

#include <array>

#include "paths.h"

namespace vzrfs {
namespace {

// The device names Windows opens instead of a file, whatever the extension.
// The superscript digits count as digits there too.
constexpr std::array<std::string_view, 28> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
    "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",
    "LPT8", "LPT9", "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3"};

constexpr std::string_view kForbiddenCharacters = "<>:\"|?*";

// text with a reason after it, built by appending (GCC 12 warns falsely of
// overlap in "literal" + std::string).
std::string Said(std::string_view quoted, std::string_view reason) {
  std::string text = "'";
  text.append(quoted);
  text += "' ";
  text.append(reason);
  return text;
}

bool IsDeviceName(std::string_view component) {
  // "CON", "con.txt", "Con .tar.gz": the part before the first dot, with
  // the spaces Windows drops from its end.
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : kDeviceNames)
    if (EqualsIgnoringCase(stem, device)) return true;
  return false;
}

std::string ComponentProblem(std::string_view component) {
  for (const char c : component) {
    if (static_cast<unsigned char>(c) < 0x20) return "holds a control character";
    if (kForbiddenCharacters.find(c) != std::string_view::npos) {
      std::string text = "holds '";
      text += c;
      return text + "', which Windows does not allow in a name";
    }
  }
  if (component == "." || component == "..") return std::string();  // left to the destination check
  if (!component.empty() && (component.back() == '.' || component.back() == ' '))
    return Said(component, "ends in a dot or a space, which Windows drops");
  if (IsDeviceName(component)) return Said(component, "is a device name on Windows");
  return std::string();
}

}  // namespace

std::string WindowsNameProblem(std::string_view name) {
  if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) return "a device or network (UNC) path";
  if (!name.empty() && IsSeparator(name[0])) return "a rooted path";
  if (name.size() >= 2 && name[1] == ':' && (name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z')
    return name.size() >= 3 && IsSeparator(name[2]) ? "an absolute path with a drive letter" : "a drive-relative path";
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (std::string problem = ComponentProblem(name.substr(start, end - start)); !problem.empty()) return problem;
    start = end + 1;
  }
  return std::string();
}

}  // namespace vzrfs
