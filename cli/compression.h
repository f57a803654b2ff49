// compression.h - the options of the verbs that compress: --compress[=LEVEL]
// (pack, mod pack), --level N (add, update, recompress) and --threads N.
#pragma once

#include <string>

#include "cli.h"

namespace cli {

// What the compression options of one command line ask for.
struct Compression {
  bool requested = false;  // --compress given (pack, mod pack)
  int level = 0;           // 0..9
  unsigned threads = 0;    // 0: every core
};

// Reads --threads and the level from `levelOption` ("compress" or "level";
// an absent or bare option gives the default level). kDone, or kNothing
// after a usage line naming verb when a value is bad.
int ReadCompression(const Args& args, const std::string& verb, const char* levelOption, Compression& out);

// Reads --threads for a verb that reads archives: every core when absent.
// kDone, or kNothing after a usage line naming verb when the value is bad.
int ReadThreadsOption(const Args& args, const std::string& verb, unsigned& threads);

}  // namespace cli

// Help lines shared by the verbs that compress, so that each says the same
// (macros, because the verbs' help texts are single string literals).
#define VZR_HELP_LEVELS                                                                 \
  "               LEVEL 0 writes segments without searching for repeats, 1 is the\n"  \
  "               fastest search, 9 the smallest output and the slowest.\n"
#define VZR_HELP_READ_THREADS                                                           \
  "  --threads N  decode on N threads (default: every core); files, messages and\n"   \
  "               exit status are the same for any N\n"
#define VZR_HELP_THREADS                                                                \
  "  --threads N  compress on N threads (default: every core); the archive's\n"       \
  "               bytes are the same for any N\n"
