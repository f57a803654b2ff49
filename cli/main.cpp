// main.cpp - the vzr program: picks the verb, separates options from
// positionals (options may stand anywhere, "--" ends them), routes engine
// trace lines to standard error, and returns the verb's exit status.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iostream>

#include "cli.h"
#include "console.h"
#include "entryreader.h"
#include "fileservices.h"
#include "vzrpack.h"

namespace cli {
namespace {

std::vector<Verb>& Table() {
  static std::vector<Verb> table;
  return table;
}

// Whether the running verb writes a single archive (pack, update, add,
// remove, recompress), whose replacement is the whole of its work.
bool g_oneArchiveWriter = false;

// An interruption removes the temporary files of a rewrite, a pack or an
// extraction; the archive stays as it was, and the status tells a script
// that the command was interrupted.
void CatchInterruptions() {
  vzrsys::InterruptPlan plan;
  plan.oneArchiveWriter = g_oneArchiveWriter;
  plan.doneStatus = kDone;
  plan.interruptedStatus = kInterrupted;
  plan.message = "vzr: interrupted\n";
  plan.clearBar = "\r                                                                      \r";
  vzrsys::CatchInterruptions(plan);
}

// Everything a verb wrote to standard output must have arrived: a full disk,
// /dev/full or a closed standard output turns the verb's status into 2.
// (A closed pipe ends vzr through SIGPIPE before it gets here.)
bool g_writeErrorTold = false;
int g_outputError = 0;  // errno of the first flush of standard output that failed

int FinishStandardOutput(int status) {
  if (g_writeErrorTold) return kNothing;
  FlushOutput();
  if (g_outputError == 0 && std::ferror(stdout) == 0) return status;
  // A write the buffer made by itself failed unseen: its errno is gone.
  return WriteError(g_outputError ? g_outputError : EIO);
}

const Verb* FindVerb(const std::string& name) {
  for (const Verb& v : Table())
    if (name == v.name) return &v;
  return nullptr;
}

// The verbs in the order a reader meets them: looking, checking, writing,
// comparing, mods. A verb not named here follows in table order.
const char* const kVerbOrder[] = {"list", "info", "extract", "cat", "test", "pack", "add", "update",
                                  "remove", "recompress", "diff", "find", "grep", "mod", "mount", "umount"};

void PrintOverview() {
  std::cout << "usage: vzr VERB [OPTION...] ARGUMENT...\n\n"
               "Verbs:\n";
  std::vector<const Verb*> verbs;
  for (const char* name : kVerbOrder)
    if (const Verb* v = FindVerb(name)) verbs.push_back(v);
  for (const Verb& v : Table())
    if (std::find(verbs.begin(), verbs.end(), &v) == verbs.end()) verbs.push_back(&v);
  for (const Verb* v : verbs) {
    std::string name = v->name;
    name.resize(std::max<size_t>(name.size() + 1, 11), ' ');
    std::cout << "  " << name << v->summary << "\n";
  }
  std::cout << "\nOptions of every verb (before or after the arguments; -- ends them):\n"
               "  -q, --quiet  no progress bar (shown only when standard error is a terminal)\n"
               "  --trace      show the engine's trace lines on standard error\n"
               "  -h, --help   describe the verb\n\n"
               "A NAME is compared without regard to letter case. A PATTERN selects the entries\n"
               "whose whole name it matches, letter case ignored: * ? [...] as in the shell,\n"
               "* also crossing '/'; a folder's name selects every entry below it.\n\n"
               "Exit status: 0 done, 1 done with problems, 2 nothing could be done,\n"
               "130 interrupted (the temporary file removed, the archive as it was).\n\n"
               "vzr help VERB describes one verb; vzr --version prints the version.\n";
}

void PrintVerbHelp(const Verb& v) {
  std::cout << v.help;
  std::cout << "  -q, --quiet  no progress bar\n"
               "  --trace      show the engine's trace lines on standard error\n"
               "  -h, --help   this text\n";
}

const OptionRule* FindOption(const Verb& v, const std::string& name) {
  for (const OptionRule& o : v.options)
    if (name == o.name) return &o;
  return nullptr;
}

// Splits argv[first..] into options and positionals for verb v. Returns
// kDone, or kNothing after a usage message; sets help when --help was given.
int ParseArgs(const Verb& v, int argc, char** argv, int first, Args& args, bool& help) {
  bool optionsEnded = false;
  std::vector<std::string> words(argv + first, argv + argc);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string a = words[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      args.positionals.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name, value;
    bool hasValue = false;
    if (a.rfind("--", 0) == 0) {
      size_t eq = a.find('=');
      name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) value = a.substr(eq + 1), hasValue = true;
    } else {
      // A run of flags ("-qv") is taken one letter at a time; an option that
      // takes a value takes the rest of the word ("-CDIR").
      name = a.substr(0, 2);
      const OptionRule* rule = FindOption(v, name);
      const bool flag = name == "-q" || name == "-h" || (rule && !rule->takesValue);
      if (a.size() > 2 && flag) {
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, "-" + a.substr(2));
      } else if (a.size() > 2) {
        value = a.substr(2), hasValue = true;
      }
    }
    if (name == "help" || name == "-h") { help = true; continue; }
    if (name == "trace") { args.trace = true; continue; }
    if (name == "-q" || name == "quiet") { args.quiet = true; continue; }
    const OptionRule* rule = FindOption(v, name);
    if (!rule) return Usage(v.name, "unknown option '" + a + "'");
    if (rule->optionalValue) {
      if (hasValue && value.empty()) return Usage(v.name, "option '" + a + "' needs a value after '='");
    } else if (rule->takesValue && !hasValue) {
      if (i + 1 >= words.size()) return Usage(v.name, "option '" + a + "' needs a value");
      value = words[++i];
    } else if (!rule->takesValue && hasValue) {
      return Usage(v.name, "option '" + a + "' takes no value");
    }
    args.options.emplace_back(name, value);
  }
  return kDone;
}

int Main(int argc, char** argv) {
  vzrsys::PrepareStandardStreams();
  if (argc < 2) {
    PrintOverview();
    return kNothing;
  }
  std::string first = argv[1];
  if (first == "--version") {
    std::cout << "vzr " << VZR_VERSION << "\n";
    return FinishStandardOutput(kDone);
  }
  if (first == "--help" || first == "-h") {
    PrintOverview();
    return FinishStandardOutput(kDone);
  }
  if (first == "help") {
    if (argc < 3) {
      PrintOverview();
      return FinishStandardOutput(kDone);
    }
    const Verb* v = FindVerb(argv[2]);
    if (!v) {
      Message(std::string("unknown verb '") + argv[2] + "' (vzr help lists them)");
      return kNothing;
    }
    PrintVerbHelp(*v);
    return FinishStandardOutput(kDone);
  }
  const Verb* v = FindVerb(first);
  if (!v) {
    Message("unknown verb '" + first + "' (vzr help lists them)");
    return kNothing;
  }
  Args args;
  bool help = false;
  if (int rc = ParseArgs(*v, argc, argv, 2, args, help); rc != kDone) return rc;
  if (help) {
    PrintVerbHelp(*v);
    return FinishStandardOutput(kDone);
  }
  for (const char* writer : {"pack", "update", "add", "remove", "recompress"})
    if (first == writer) g_oneArchiveWriter = true;
  CatchInterruptions();
  const bool showTrace = args.trace;
  // The reasons of failures come from the engine's error record; trace
  // lines are only shown, and only when asked for.
  SetTraceSink([showTrace](const std::string& line) {
    if (showTrace) std::cerr << Shown(line) << "\n";
  });
  return FinishStandardOutput(v->run(args));
}

}  // namespace

bool Args::Has(const std::string& name) const {
  for (const auto& o : options)
    if (o.first == name) return true;
  return false;
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  std::string value = fallback;
  for (const auto& o : options)
    if (o.first == name) value = o.second;
  return value;
}

Register::Register(const Verb& verb) { Table().push_back(verb); }
const std::vector<Verb>& Verbs() { return Table(); }

bool NeedsEscape(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

std::string Shown(std::string_view text) {
  if (!NeedsEscape(text)) return std::string(text);
  static const char kNamed[] = "abtnvfr";  // \a (7) to \r (13)
  std::string shown;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7f) {
      shown += c;
    } else if (b >= 7 && b <= 13) {
      shown += '\\';
      shown += kNamed[b - 7];
    } else {
      const char octal[] = {'\\', char('0' + (b >> 6)), char('0' + ((b >> 3) & 7)), char('0' + (b & 7)), 0};
      shown += octal;
    }
  }
  return shown;
}

void FlushOutput() {
  errno = 0;
  // std::cout writes through stdout's buffer, so this flushes both.
  if (std::fflush(stdout) != 0 && g_outputError == 0) g_outputError = errno ? errno : EIO;
}

void Message(const std::string& text) {
  FlushOutput();
  std::cerr << "vzr: " << Shown(text) << "\n";
}

int WriteError(int error) {
  // A reader that stopped reading wants no more: nothing to tell (on POSIX
  // SIGPIPE has ended the program before this).
  if (vzrsys::OutputReaderGone()) g_writeErrorTold = true;
  if (!g_writeErrorTold) Message("write error: " + vzrfs::ErrorText(error));
  g_writeErrorTold = true;
  return kNothing;
}

void FileMessage(const std::string& file, const std::string& reason) { Message(file + ": " + reason); }

bool RequireFolder(const std::string& path) {
  vzrfs::NodeFacts facts;
  if (!vzrfs::FactsOf(path, facts)) {
    FileMessage(path, vzrfs::ErrorText(errno));
    return false;
  }
  if (facts.kind != vzrfs::NodeKind::Folder) {
    FileMessage(path, "not a folder");
    return false;
  }
  return true;
}

int Usage(const std::string& verb, const std::string& text) {
  Message(verb + ": " + text + " (vzr help " + verb + ")");
  return kNothing;
}

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when there is none.
std::size_t Utf8SequenceAt(const std::string& s, std::size_t i) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) n = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) n = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) n = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (i + n > s.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      // Well-formed UTF-8 passes as it is; any other byte is read as the
      // Latin-1 character of its value, so the output is always valid JSON.
      const std::size_t n = Utf8SequenceAt(s, i);
      if (n > 0) {
        out.append(s, i, n);
        i += n - 1;
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool TellPackNotices() {
  for (const PackNotice& notice : LastPackNotices())
    FileMessage(notice.path, notice.reason + (notice.stored ? " (stored as it was read)" : " (not packed)"));
  return !LastPackNotices().empty();
}

std::string Reason(const VzrError& error, const char* fallback) {
  std::string reason = error.message.empty() ? fallback : error.message;
  // The system's own words for the cause, unless the message has them.
  if (error.sysError != 0) {
    const std::string system = vzrfs::ErrorText(error.sysError);
    if (reason.find(system) == std::string::npos) reason += " (" + system + ")";
  }
  return reason;
}

namespace {

// Why path cannot be an archive to open (missing, a folder), or "".
std::string FileProblem(const std::string& path) {
  vzrfs::NodeFacts facts;
  if (!vzrfs::FactsOf(path, facts)) return vzrfs::ErrorText(errno);
  if (facts.kind == vzrfs::NodeKind::Folder) return "is a folder, not an archive";
  return "";
}

// False (message printed) when path is missing or a folder.
bool RequireFile(const std::string& path) {
  const std::string problem = FileProblem(path);
  if (!problem.empty()) FileMessage(path, problem);
  return problem.empty();
}

// Where the index stops being readable: the entry after the last one read.
std::string DamagedText(uint32_t kept) { return "damaged index at entry " + std::to_string(uint64_t(kept) + 1); }

}  // namespace

int OpenReader(const std::string& path, std::unique_ptr<EntryReader>& reader, std::string* message) {
  auto tell = [&](const std::string& text, int rc) {
    if (message) *message = text;
    else FileMessage(path, text);
    return rc;
  };
  reader.reset();
  if (const std::string problem = FileProblem(path); !problem.empty()) return tell(problem, kNothing);
  VzrError why;
  reader = EntryReader::Open(path, &why);
  if (!reader) return tell(why.sysError ? vzrfs::ErrorText(why.sysError) : why.message, kNothing);
  return reader->IndexDamaged()
             ? tell(DamagedText(reader->Count()) + ": showing the " + std::to_string(reader->Count()) + " entries before it",
                    kProblems)
             : kDone;
}

int LoadArchive(const std::string& path, VzrArchive& archive) {
  constexpr uint32_t kHeaderBytes = 156;
  if (!RequireFile(path)) return kNothing;
  if (path.size() >= sizeof(archive.vzr_file_name)) {
    FileMessage(path, "path too long");
    return kNothing;
  }
  if (!vzrfs::UniqueFile(vzrfs::OpenRead(path.c_str()))) {
    FileMessage(path, vzrfs::ErrorText(errno));
    return kNothing;
  }
  archive.LoadIndex(path.c_str());
  if (archive.indexDamaged) {
    const uint32_t kept = archive.FileIndex.count;
    // A header that points at an index inside the file: it is an archive,
    // damaged at the entry after the last one read.
    const bool indexThere = archive.archiveLength >= kHeaderBytes && archive.indexOffset >= kHeaderBytes &&
                            uint64_t(archive.indexOffset) + 4 <= archive.archiveLength;
    if (kept == 0 && !indexThere) {
      FileMessage(path, "not an archive (header or index cannot be read)");
      return kNothing;
    }
    const std::string where = "damaged index at entry " + std::to_string(uint64_t(kept) + 1);
    if (kept == 0) {
      FileMessage(path, where + ": no entry could be read");
      return kNothing;
    }
    FileMessage(path, where + ": showing the " + std::to_string(kept) + " entries before it");
    return kProblems;
  }
  return kDone;
}

}  // namespace cli

int main(int argc, char** argv) {
  // The arguments as UTF-8 (a Windows build reads its UTF-16 command line).
  std::vector<std::string> words = vzrsys::Utf8Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return cli::Main(static_cast<int>(words.size()), pointers.data());
}
