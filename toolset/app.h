// app.h - VZR_Toolset's start-up: the window, the status binding, the modal run.
#pragma once

#include <QStringList>

namespace toolset {

class ToolsetDialog;

// Runs the program's one window to its end; returns the process's exit code.
int RunToolset(int argc, char** argv);

// With exactly one argument after the program's name (what a file manager's
// "Open with" passes), arranges for the window to open that archive as soon as
// its modal run begins, as File > Open does after its dialog. Any other count
// leaves the start as it is. Returns whether an open was arranged.
bool OpenStartupArchive(ToolsetDialog& dialog, const QStringList& arguments);

}  // namespace toolset
