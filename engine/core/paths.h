// paths.h - the text rules of paths and entry names that every part shares:
// '/' and '\' both separate components, the engine writes '/', and names are
// compared without regard to ASCII letter case (never the locale's: a name
// means the same on every machine).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vzrfs {

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Turns every '\' into '/' in place.
inline void ToSlashes(std::string& text) {
  for (char& c : text)
    if (c == '\\') c = '/';
}
// The same for a zero-terminated text, looking at no more than limit characters.
inline void ToSlashes(char* text, std::size_t limit = std::string::npos) {
  for (std::size_t i = 0; i < limit && text[i]; ++i)
    if (text[i] == '\\') text[i] = '/';
}
inline std::string WithSlashes(std::string_view text) {
  std::string copy(text);
  ToSlashes(copy);
  return copy;
}
inline std::string WithSlashes(const char* text) { return WithSlashes(std::string_view(text ? text : "")); }

// a-z as A-Z; every other byte as it is.
inline char FoldUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline std::string FoldCase(std::string text) {
  for (char& c : text) c = FoldUpper(c);
  return text;
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (FoldUpper(text[i]) != FoldUpper(prefix[i])) return false;
  return true;
}
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

}  // namespace vzrfs
