// VZR_Toolset: browse, view, edit, extract and pack .vzr archives.
#include "app.h"

int main(int argc, char** argv) { return toolset::RunToolset(argc, argv); }
