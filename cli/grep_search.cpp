// grep_search.cpp - whole pieces of content are searched at once; line
// boundaries are looked for only around the matches found.
#include "grep_search.h"

#include <re2/re2.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli.h"

namespace cli {
namespace {

// Memory the regex engine may use for one pattern; past it the engine falls
// back to slower matching, still linear in the text.
constexpr int64_t kRegexMemory = int64_t{64} << 20;

bool HasRegexSyntax(const std::string& pattern) { return pattern.find_first_of("\\^$.|?*+()[]{}") != std::string::npos; }

const char* LineStart(const char* begin, const char* at) {
  const std::size_t nl = std::string_view(begin, static_cast<std::size_t>(at - begin)).rfind('\n');
  return nl == std::string_view::npos ? begin : begin + nl + 1;
}

const char* LineEnd(const char* at, const char* end) {
  const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
  return nl ? static_cast<const char*>(nl) : end;
}

}  // namespace

Matcher::Matcher() = default;
Matcher::~Matcher() = default;

bool Matcher::Compile(const std::string& pattern, const Rules& rules, std::string& error) {
  const bool literal = rules.fixed || !HasRegexSyntax(pattern);
  // A plain string in its own letter case is found fastest as a plain string.
  useLiteral_ = literal && !rules.ignoreCase && !rules.wholeWords && !pattern.empty() &&
                pattern.find('\n') == std::string::npos;
  literal_ = pattern;
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_never_nl(true);
  options.set_case_sensitive(!rules.ignoreCase);
  options.set_log_errors(false);
  options.set_max_mem(kRegexMemory);
  std::string expression = literal ? RE2::QuoteMeta(pattern) : pattern;
  if (rules.wholeWords) {
    // The match must stand between non-word bytes or line edges; the edge
    // bytes belong to the same line, so the line found is the same.
    expression = "(?:^|[^0-9A-Za-z_])(?:" + expression + ")(?:[^0-9A-Za-z_]|$)";
  }
  regex_ = std::make_unique<RE2>("(?m)" + expression, options);
  if (!regex_->ok()) {
    error = regex_->error();
    return false;
  }
  return true;
}

const char* Matcher::Find(const char* begin, const char* from, const char* end) const {
  if (from >= end) return nullptr;
  if (useLiteral_) {
    const std::size_t hit = std::string_view(from, static_cast<std::size_t>(end - from)).find(literal_);
    return hit == std::string_view::npos ? nullptr : from + hit;
  }
  const re2::StringPiece text(begin, static_cast<std::size_t>(end - begin));
  re2::StringPiece match;
  if (!regex_->Match(text, static_cast<std::size_t>(from - begin), text.size(), RE2::UNANCHORED, &match, 1))
    return nullptr;
  return match.data();
}

EntrySearch::EntrySearch(const Matcher& matcher, const GrepOutput& how, const std::string& archive,
                         const std::string& entry)
    : matcher_(matcher), how_(how), archive_(archive), entry_(entry) {
  prefix_ = Shown(archive) + ":" + Shown(entry) + ":";
}

bool EntrySearch::Feed(const unsigned char* data, std::size_t n) {
  if (stopped_) return false;
  if (fed_ < kBinaryProbe && !how_.asText &&
      std::memchr(data, 0, std::min<uint64_t>(n, kBinaryProbe - fed_)) != nullptr)
    binary_ = true;
  const char* const begin = reinterpret_cast<const char*>(data);
  const char* const end = begin + n;
  const uint64_t offset = fed_;
  fed_ += n;
  const char* first = static_cast<const char*>(std::memchr(begin, '\n', n));
  if (!first) {
    if (pending_.empty()) pendingOffset_ = offset;
    pending_.append(begin, n);
    return true;
  }
  const char* rest = begin;
  if (!pending_.empty()) {
    // The line carried over, completed by this piece's first line.
    pending_.append(begin, static_cast<std::size_t>(first + 1 - begin));
    if (!SearchLines(pending_.data(), pending_.data() + pending_.size(), pendingOffset_)) return !(stopped_ = true);
    pending_.clear();
    rest = first + 1;
  }
  const std::size_t last = std::string_view(rest, static_cast<std::size_t>(end - rest)).rfind('\n');
  const char* whole = last == std::string_view::npos ? rest : rest + last + 1;
  if (whole > rest && !SearchLines(rest, whole, offset + static_cast<uint64_t>(rest - begin))) return !(stopped_ = true);
  pendingOffset_ = offset + static_cast<uint64_t>(whole - begin);
  pending_.assign(whole, static_cast<std::size_t>(end - whole));
  return true;
}

void EntrySearch::CountLines(const char* begin, const char* end) {
  if (how_.lineNumbers || how_.json) lines_ += static_cast<uint64_t>(std::count(begin, end, '\n'));
}

bool EntrySearch::SearchLines(const char* begin, const char* end, uint64_t offset) {
  const char* counted = begin;
  for (const char* from = begin; from < end;) {
    const char* hit = matcher_.Find(begin, from, end);
    if (!hit) break;
    const char* line = LineStart(begin, hit);
    const char* lineEnd = LineEnd(hit, end);
    CountLines(counted, line);
    counted = line;
    if (!Matched(line, lineEnd, offset + static_cast<uint64_t>(line - begin), lines_ + 1)) return false;
    from = lineEnd + 1;
  }
  CountLines(counted, end);
  return true;
}

bool EntrySearch::Matched(const char* line, const char* lineEnd, uint64_t offset, uint64_t lineNumber) {
  ++matches_;
  if (how_.countOnly) return true;
  if (how_.listOnly || binary_) return false;
  std::string_view text(line, static_cast<std::size_t>(lineEnd - line));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (how_.json) {
    output += "{\"archive\":" + JsonString(archive_) + ",\"entry\":" + JsonString(entry_) +
              ",\"line\":" + std::to_string(lineNumber) + ",\"offset\":" + std::to_string(offset) +
              ",\"text\":" + JsonString(std::string(text)) + "}\n";
    return true;
  }
  output += prefix_;
  if (how_.lineNumbers) output += std::to_string(lineNumber) + ":";
  if (NeedsEscape(text)) output += Shown(text);
  else output.append(text);
  output += '\n';
  return true;
}

void EntrySearch::Finish() {
  if (!stopped_ && !pending_.empty()) SearchLines(pending_.data(), pending_.data() + pending_.size(), pendingOffset_);
  pending_.clear();
  if (matches_ == 0) return;
  if (how_.countOnly) {
    output = prefix_ + std::to_string(matches_) + "\n";
  } else if (how_.listOnly) {
    output = Shown(archive_) + "\t" + Shown(entry_) + "\n";
  } else if (binary_) {
    output = how_.json ? "{\"archive\":" + JsonString(archive_) + ",\"entry\":" + JsonString(entry_) +
                             ",\"binary\":true}\n"
                       : prefix_ + " binary entry matches\n";
  }
}

}  // namespace cli
