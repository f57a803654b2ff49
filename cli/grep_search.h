// grep_search.h - the content search of "vzr grep": a compiled pattern, and
// the search of one entry's content fed to it a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace re2 {
class RE2;
}

namespace cli {

// A pattern as the command line gives it. Regular expressions are RE2's:
// matched in time linear in the text, whatever the pattern, with no
// backtracking and no recursion, so no pattern can hang the search or
// exhaust the stack. Text is taken byte by byte (as grep in the C locale)
// and no match crosses a line end.
class Matcher {
 public:
  struct Rules {
    bool ignoreCase = false;
    bool wholeWords = false;
    bool fixed = false;  // the pattern is a plain string
  };
  Matcher();
  ~Matcher();
  // False, with the reason, when the pattern does not compile.
  bool Compile(const std::string& pattern, const Rules& rules, std::string& error);
  // The start of the first match in [from, end) of the text that starts at
  // begin (for the context of '^' and word edges); null when none. [begin,
  // end) holds whole lines.
  const char* Find(const char* begin, const char* from, const char* end) const;

 private:
  std::unique_ptr<re2::RE2> regex_;
  std::string literal_;  // searched as a plain string when the pattern is one
  bool useLiteral_ = false;
};

// What the search of an entry reports, and how.
struct GrepOutput {
  bool lineNumbers = false;  // -n
  bool listOnly = false;     // -l
  bool countOnly = false;    // -c
  bool asText = false;       // -a
  bool json = false;
};

// The search of one entry: content goes in through Feed, a piece at a time
// (the entry as one stream: a line may span pieces), and the lines to print
// come out in `output`. Only the partial last line of a piece is kept.
class EntrySearch {
 public:
  static constexpr std::size_t kBinaryProbe = 32768;  // a zero byte in these makes an entry binary

  EntrySearch(const Matcher& matcher, const GrepOutput& how, const std::string& archive, const std::string& entry);
  // False when the search needs no more content (the answer is known).
  bool Feed(const unsigned char* data, std::size_t n);
  // Ends the content: searches the last line and completes `output`.
  void Finish();
  uint64_t MatchingLines() const { return matches_; }
  std::string output;

 private:
  // Searches the whole lines of [begin, end), whose first byte is content
  // byte `offset`; false when the search can stop.
  bool SearchLines(const char* begin, const char* end, uint64_t offset);
  // One matching line: false when the search can stop.
  bool Matched(const char* line, const char* lineEnd, uint64_t offset, uint64_t lineNumber);
  // Counts the line ends in [begin, end) into lines_, when lines are numbered.
  void CountLines(const char* begin, const char* end);

  const Matcher& matcher_;
  const GrepOutput& how_;
  const std::string& archive_;
  const std::string& entry_;
  std::string prefix_;  // "archive:entry:" as printed
  std::string pending_;  // the partial line carried to the next piece
  uint64_t pendingOffset_ = 0;
  uint64_t fed_ = 0;
  uint64_t lines_ = 0;  // line ends before the search position
  uint64_t matches_ = 0;
  bool binary_ = false;
  bool stopped_ = false;
};

}  // namespace cli
