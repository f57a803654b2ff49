// winhost.h - the presenters' questions as the system asks them: message
// boxes (MessageBoxW), the file dialogs (GetOpenFileNameW, GetSaveFileNameW)
// and the shell's folder browser (SHBrowseForFolderW). Under a test script
// (winscript.h) the script answers instead.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "viewtypes.h"

namespace win32ui {

// The caption of a message box that brings none ("VZR_Toolset", "VzrPack").
void SetApplicationName(const std::string& name);
const std::string& ApplicationName();

// The button pressed: kIdOk, kIdCancel, kIdYes or kIdNo.
int Ask(HWND owner, const present::Question& question);

// "Description|pattern[;pattern]|..." (spaces around the parts dropped) as
// the file dialogs take it: pairs of zero-terminated strings, ended by an
// empty one.
std::wstring ConvertFilter(const std::string& filter);

// The full chosen path, or nothing when the user cancelled.
std::optional<std::string> ChooseFile(HWND owner, const present::FileRequest& request);

// The folder chosen, or nothing. A path typed into the browser's edit box is
// honoured when it names a folder (relative to the folder selected); one that
// does not is refused with a message and the browser stays.
std::optional<std::string> ChooseFolder(HWND owner, const present::FolderRequest& request);

}  // namespace win32ui
