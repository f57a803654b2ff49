// console.h - what a command-line program asks of the system beside its
// files: its arguments as UTF-8, standard streams that carry UTF-8 as it is,
// whether standard error is a terminal, and what happens when the user
// interrupts it. Realised in posix/ and win32/ as the file services are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vzrsys {

// The program's arguments as UTF-8: argv itself on POSIX, the UTF-16
// command line turned into UTF-8 on Windows.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes standard output and standard error carry UTF-8 bytes as they are
// (a Windows console is told to show them as UTF-8; no line ending is
// translated), and keeps a standard stream that is closed at the start
// taken, so no file opened later becomes "standard output".
void PrepareStandardStreams();

// Whether standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

// Whether standard output is a pipe whose reader has gone (`vzr list | more`
// ended early). Never true on POSIX, where SIGPIPE ends the program first.
bool OutputReaderGone();

// What an interruption (SIGINT, SIGTERM, SIGHUP, SIGPIPE on POSIX; Ctrl+C,
// Ctrl+Break and a closed console on Windows) does: the registered
// temporary files are removed first, always. Then a program that writes one
// archive whose replacement is already done ends with doneStatus; an
// interruption that is no request to stop (a closed pipe, a hung-up
// terminal) ends the program as the system would have; any other ends it
// with interruptedStatus after the message. clearBar first wipes a
// progress bar from standard error when it is a terminal.
struct InterruptPlan {
  bool oneArchiveWriter = false;
  int doneStatus = 0;
  int interruptedStatus = 130;
  const char* message = "interrupted\n";
  const char* clearBar = "\r";
};
// Installs the handlers; an interruption ignored when the program started
// (nohup, a background job) stays ignored.
void CatchInterruptions(const InterruptPlan& plan);

}  // namespace vzrsys
