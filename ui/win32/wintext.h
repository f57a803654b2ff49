// wintext.h - the Win32 layer's one conversion: the programs keep UTF-8
// inside, the system's W functions take UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace win32ui {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace win32ui
