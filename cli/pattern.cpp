// pattern.cpp - the glob matcher behind every PATTERN argument.
#include "pattern.h"

#include <cctype>

namespace cli {
namespace {

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Matches the set starting at p[i] == '[' against c. Sets next to the
// index after ']'; returns false with next == npos when the set is unclosed
// (the '[' then stands for itself).
bool SetMatch(const std::string& p, size_t i, char c, size_t& next) {
  size_t j = i + 1;
  bool negate = j < p.size() && (p[j] == '!' || p[j] == '^');
  if (negate) ++j;
  bool hit = false;
  bool first = true;
  for (; j < p.size() && (p[j] != ']' || first); first = false) {
    char lo = Fold(p[j]);
    char hi = lo;
    if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
      hi = Fold(p[j + 2]);
      j += 3;
    } else {
      ++j;
    }
    if (lo <= c && c <= hi) hit = true;
  }
  if (j >= p.size()) {
    next = std::string::npos;
    return false;
  }
  next = j + 1;
  return hit != negate;
}

}  // namespace

// Iterative matcher with one backtrack point (the last '*'): linear in
// practice, never exponential.
bool GlobMatch(const std::string& p, const std::string& t) {
  size_t pi = 0, ti = 0, starP = std::string::npos, starT = 0;
  while (ti < t.size()) {
    const char c = Fold(t[ti]);
    if (pi < p.size()) {
      if (p[pi] == '*') {
        starP = pi++;
        starT = ti;
        continue;
      }
      if (p[pi] == '?') {
        ++pi, ++ti;
        continue;
      }
      if (p[pi] == '[') {
        size_t next = 0;
        bool hit = SetMatch(p, pi, c, next);
        if (next == std::string::npos) hit = c == '[', next = pi + 1;
        if (hit) {
          pi = next, ++ti;
          continue;
        }
      } else if (Fold(p[pi]) == c) {
        ++pi, ++ti;
        continue;
      }
    }
    if (starP == std::string::npos) return false;
    pi = starP + 1;
    ti = ++starT;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

bool Selects(const std::string& pattern, const std::string& name) {
  std::string p = pattern;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (GlobMatch(p, name)) return true;
  for (size_t k = name.find('/'); k != std::string::npos; k = name.find('/', k + 1))
    if (GlobMatch(p, name.substr(0, k))) return true;
  return false;
}

bool SelectsAny(const std::vector<std::string>& patterns, const std::string& name) {
  if (patterns.empty()) return true;
  for (const std::string& p : patterns)
    if (Selects(p, name)) return true;
  return false;
}

}  // namespace cli
