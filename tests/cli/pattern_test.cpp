// Unit tests of the PATTERN matcher.
#include <gtest/gtest.h>

#include "pattern.h"

namespace {

struct Case {
  const char* pattern;
  const char* name;
  bool selects;
};

TEST(Pattern, Table) {
  const std::string manyA(200, 'a');  // lives as long as the table that points into it
  const Case cases[] = {
      {"scripts/intro.con", "Scripts/Intro.CON", true},  // case-insensitive
      {"*.con", "scripts/intro.con", true},              // '*' crosses '/'
      {"*.con", "scripts/intro.con.bak", false},         // whole name
      {"intro.con", "scripts/intro.con", false},
      {"objects/carts", "Objects/Carts/axle.rs", true},  // a folder selects what is below
      {"objects/carts/", "objects/carts/a/b", true},
      {"objects/cart", "objects/carts/axle.rs", false},
      {"obj?cts/*", "objects/x", true},
      {"?", "", false},
      {"a[0-9]b", "A7B", true},
      {"a[!0-9]b", "a7b", false},
      {"a[^0-9]b", "axb", true},
      {"[]]", "]", true},
      {"a[b", "a[b", true},  // an unclosed set is a plain '['
      {"*a*a*a*a*b", manyA.c_str(), false},
      {"*", "anything/at/all", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cli::Selects(c.pattern, c.name), c.selects) << c.pattern << " vs " << c.name;
}

}  // namespace
