// console.cpp - arguments, standard streams and interruptions on Windows.
#include "console.h"

#include <fcntl.h>
#include <io.h>

#include "wide.h"  // windows.h, which shellapi.h needs first
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileservices.h"

namespace vzrsys {
namespace {

InterruptPlan g_plan;
bool g_barMayShow = false;
UINT g_savedOutputCodePage = 0;

void RestoreCodePage() {
  if (g_savedOutputCodePage != 0) ::SetConsoleOutputCP(g_savedOutputCodePage);
}

void WriteError(const char* text) {
  DWORD written = 0;
  if (text) ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Ends the process at once, as _exit does on POSIX: the main thread may
// hold the runtime's locks, which an orderly exit would wait for.
[[noreturn]] void EndNow(int status) {
  RestoreCodePage();
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) ::Sleep(INFINITE);
}

// Runs on a thread of its own for Ctrl+C, Ctrl+Break and a closed console
// (and a log-off or shut-down): the temporaries go, the archive stays as it
// was, and the program ends with the interrupted status. The lock of the
// registry waits out a file being made or an archive being moved.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  vzrfs::RemoveTemporaries();
  if (g_barMayShow) WriteError(g_plan.clearBar);
  if (g_plan.oneArchiveWriter && vzrfs::ArchivesReplaced() > 0) EndNow(g_plan.doneStatus);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) WriteError(g_plan.message);
  EndNow(g_plan.interruptedStatus);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!words) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(vzrfs::win32::Narrow(words[i]));
  ::LocalFree(words);
  return arguments;
}

void PrepareStandardStreams() {
  // Bytes go out as they are: UTF-8, '\n' not turned into "\r\n".
  for (std::FILE* stream : {stdout, stderr})
    if (::_fileno(stream) >= 0) ::_setmode(::_fileno(stream), _O_BINARY);
  // A console shows them as UTF-8 (names such as "Brücke_ß.con" read right
  // in cmd and PowerShell); its own code page comes back at the end.
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
      ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) {
    g_savedOutputCodePage = ::GetConsoleOutputCP();
    if (g_savedOutputCodePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreCodePage);
    else g_savedOutputCodePage = 0;
  }
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool OutputReaderGone() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (::GetFileType(out) != FILE_TYPE_PIPE) return false;
  DWORD waiting = 0;
  if (::PeekNamedPipe(out, nullptr, 0, nullptr, &waiting, nullptr)) return false;
  const DWORD error = ::GetLastError();
  return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA;
}

void CatchInterruptions(const InterruptPlan& plan) {
  g_plan = plan;
  g_barMayShow = StandardErrorIsTerminal();
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace vzrsys
