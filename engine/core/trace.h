// trace.h - diagnostic lines on standard output.
//
// TraceLog(pieces...) writes its pieces one after the other (texts as given,
// integers in decimal, pointers as addresses), ends the record with a newline
// and flushes, so a line is on the terminal even if the program dies next.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace vzr::trace_detail {

inline void AppendPiece(std::string& line, std::string_view text) { line.append(text); }
inline void AppendPiece(std::string& line, const char* text) {
  if (text) line.append(text);
}
inline void AppendPiece(std::string& line, char* text) { AppendPiece(line, static_cast<const char*>(text)); }
inline void AppendPiece(std::string& line, const std::string& text) { line.append(text); }
inline void AppendPiece(std::string& line, const void* address) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%p", address);
  line.append(buffer);
}
template <class Int>
  requires std::is_integral_v<Int>
inline void AppendPiece(std::string& line, Int value) {
  line.append(std::to_string(value));
}

void Emit(const std::string& line);

}  // namespace vzr::trace_detail

// The line TraceLog(pieces...) writes, without writing it.
template <class... Pieces>
std::string TraceText(const Pieces&... pieces) {
  std::string line;
  (vzr::trace_detail::AppendPiece(line, pieces), ...);
  return line;
}

template <class... Pieces>
void TraceLog(const Pieces&... pieces) {
  vzr::trace_detail::Emit(TraceText(pieces...));
}
