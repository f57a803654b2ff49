// app.h - VZR_Toolset's start-up: the window, the status binding, the modal run.
#pragma once

namespace toolset {

// Runs the program's one window to its end; returns the process's exit code.
int RunToolset(int argc, char** argv);

}  // namespace toolset
