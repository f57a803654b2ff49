// compression.cpp - checking the values of the compression options.
#include "compression.h"

#include "readahead.h"
#include "vzrpack.h"

namespace cli {
namespace {

// More threads than this cannot help on any machine the tools run on, and a
// typing error such as "--threads 40000" would start that many.
constexpr unsigned long kMaxThreads = 1024;

// A whole decimal number without sign or blanks, at most max; false otherwise.
bool WholeNumber(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= max;
}

}  // namespace

int ReadThreadsOption(const Args& args, const std::string& verb, unsigned& threads) {
  threads = ReadThreads(0);
  if (!args.Has("threads")) return kDone;
  const std::string given = args.Value("threads");
  unsigned long value = 0;
  if (!WholeNumber(given, kMaxThreads, value) || value == 0)
    return Usage(verb, "threads '" + given + "' is not a whole number from 1 to " + std::to_string(kMaxThreads));
  threads = static_cast<unsigned>(value);
  return kDone;
}

int ReadCompression(const Args& args, const std::string& verb, const char* levelOption, Compression& out) {
  out.requested = args.Has(levelOption);
  out.level = kDefaultCompressionLevel;
  const std::string level = args.Value(levelOption);
  unsigned long value = 0;
  // A bare --compress means the default level; "--level=" names none.
  if (out.requested && level.empty() && std::string(levelOption) != "compress")
    return Usage(verb, "option '--" + std::string(levelOption) + "' needs a value");
  if (!level.empty()) {
    if (!WholeNumber(level, 9, value))
      return Usage(verb, "level '" + level + "' is not a whole number from 0 to 9");
    out.level = static_cast<int>(value);
  }
  out.threads = 0;
  if (args.Has("threads")) {
    const std::string threads = args.Value("threads");
    if (!WholeNumber(threads, kMaxThreads, value) || value == 0)
      return Usage(verb, "threads '" + threads + "' is not a whole number from 1 to " + std::to_string(kMaxThreads));
    out.threads = static_cast<unsigned>(value);
  }
  return kDone;
}

}  // namespace cli
