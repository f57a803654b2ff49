// pattern.h - entry selection: shell-style patterns on whole entry names.
#pragma once

#include <string>
#include <vector>

namespace cli {

// True when pattern matches all of text, without regard to letter case:
// '*' any run of characters (also across '/'), '?' one character, "[...]"
// one of a set (ranges a-z, leading '!' or '^' negates).
bool GlobMatch(const std::string& pattern, const std::string& text);

// True when pattern selects name: it matches the whole name or one of the
// folders the name lies below ("objects/carts" selects "objects/carts/a").
bool Selects(const std::string& pattern, const std::string& name);

// True when any pattern selects name; an empty list selects every name.
bool SelectsAny(const std::vector<std::string>& patterns, const std::string& name);

}  // namespace cli
