// cli.h - what every verb of the vzr program shares: its table entry, the
// parsed command line, messages and exit codes.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vzrpack.h"

class VzrArchive;
class EntryReader;

namespace cli {

// Exit statuses: scripts rely on them.
inline constexpr int kDone = 0;         // done
inline constexpr int kProblems = 1;     // done with problems
inline constexpr int kNothing = 2;      // nothing could be done (usage, unopenable file)
inline constexpr int kInterrupted = 130;

// An option a verb accepts: its long name without "--" (or its short letter
// as "-x"), and whether it takes a value. An optional value is given only
// as "--name=VALUE"; a bare "--name" gets the empty value.
struct OptionRule {
  const char* name;
  bool takesValue;
  bool optionalValue = false;
};

// The command line after the verb, options separated from positionals.
struct Args {
  std::vector<std::string> positionals;
  std::vector<std::pair<std::string, std::string>> options;  // name, value
  bool quiet = false;
  bool trace = false;

  bool Has(const std::string& name) const;
  // Value of the last occurrence, or fallback.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// One verb: registered by a static Verb object in its own file.
struct Verb {
  const char* name;
  const char* summary;  // one line for "vzr help"
  const char* help;     // usage and every option, for "vzr help VERB"
  std::vector<OptionRule> options;
  int (*run)(const Args& args);
};

// Adds a verb to the program's table; called from a static initialiser.
struct Register {
  explicit Register(const Verb& verb);
};
const std::vector<Verb>& Verbs();

// One line on standard error: "vzr: <text>".
void Message(const std::string& text);
// "vzr: <file>: <reason>".
void FileMessage(const std::string& file, const std::string& reason);
// Flushes standard output, keeping the reason of the first failure for the
// "write error" line vzr ends with.
void FlushOutput();
// "vzr: write error: REASON" for standard output, said once; returns kNothing.
int WriteError(int error);
// The wrong-usage line plus a pointer to the verb's help; returns kNothing.
int Usage(const std::string& verb, const std::string& text);

// True when path is a folder; otherwise says why on standard error.
bool RequireFolder(const std::string& path);

// Loads the index of the archive at path into archive. kDone when read whole;
// kProblems when damaged (what was read is kept, the message is printed);
// kNothing when it cannot be opened or is no archive (message printed).
int LoadArchive(const std::string& path, VzrArchive& archive);

// Opens the archive at path for reading entries, with LoadArchive's checks,
// messages and results (kDone, kProblems for a damaged index with entries
// kept, kNothing with reader null). With `message` given, the reason goes
// there (without the path) instead of to standard error.
int OpenReader(const std::string& path, std::unique_ptr<EntryReader>& reader, std::string* message = nullptr);

// The archives a PATH names: itself when it is a file, else every *.vzr file
// below the folder (letter case ignored), in name order. False (with the
// message printed) when it is neither.
bool ArchivesAt(const std::string& path, std::vector<std::string>& archives);

// text as it may go to a terminal: each control byte (below 0x20, and 0x7f)
// written as an escape (\n, \t, ... or \ooo), so a name in a hostile archive
// can neither break a listing's one-name-a-line nor send the terminal
// commands. Other bytes, backslashes included, pass through.
std::string Shown(std::string_view text);
// True when text holds a byte Shown escapes.
bool NeedsEscape(std::string_view text);

// s as a JSON string literal, quotes included: well-formed UTF-8 passes
// through, every other byte of 0x80 or more becomes \u00XX (its Latin-1
// reading), so the output is valid JSON whatever the bytes.
std::string JsonString(const std::string& s);

// What names one file on extraction: the path extraction writes the entry
// to, letter case folded (the name itself when extraction refuses it).
std::string EntryKey(const char* name);
// By entry: true when a later entry of the index has the same EntryKey.
// Extraction leaves the last of such entries, so cat, diff and extract all
// take the last one.
std::vector<bool> SupersededEntries(const VzrArchive& archive);

// Extracts the selected entries (index positions) below dir, one refused or
// failed entry costing only itself (each named on standard error); -v names
// each file written. kDone, kProblems when an entry failed, kNothing when
// nothing could be written. The current folder is kept.
// Segmented entries are decoded on `threads` threads, with the same files
// and messages for any count.
int ExtractEntries(VzrArchive& archive, const std::string& shownPath, const std::vector<uint32_t>& selected,
                   const std::string& dir, bool verbose, bool quiet, unsigned threads = 1);

// Names on standard error every file the last pack left out or stored
// changed ("vzr: PATH: REASON"); true when there was one.
bool TellPackNotices();

// Why an engine operation failed, as its error record says, or fallback
// when the record names no reason.
std::string Reason(const VzrError& error, const char* fallback);

// Captures the engine's status text (and, with a window, its progress) for
// as long as it lives; the default sink comes back when it ends.
class StatusCapture {
 public:
  explicit StatusCapture(std::string& text, StatusWindow* window = nullptr) {
    sink_.text = &text;
    sink_.window = window;
    SetStatusSink(&sink_);
  }
  ~StatusCapture() { SetStatusSink(nullptr); }
  StatusCapture(const StatusCapture&) = delete;
  StatusCapture& operator=(const StatusCapture&) = delete;

 private:
  StatusSink sink_;
};

}  // namespace cli
