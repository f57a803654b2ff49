// errors_internal.h - how an engine operation records why it failed: the
// trace line it always wrote, and the same reason as a value on the error
// record (VzrArchive::lastError, or LastEngineError() for the free
// operations), so that no caller has to read trace text.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "trace.h"
#include "core.h"

namespace vzrops {

// The reason a failure trace line gives: the line without its failure mark
// ("ERROR! ", "Error! ", "ERROR!! ", "ERRROR! ", and spaces before it).
std::string ReasonOf(std::string_view traceLine);

// Replaces the record by one failure.
void SetError(VzrError& error, int code, std::string entry, int sysError, std::string message);

// Writes the failure's trace line, made of pieces as TraceLog makes it, and
// records the failure with that line's reason as its message.
template <class... Pieces>
void TraceFailure(VzrError& error, int code, std::string entry, int sysError, const Pieces&... pieces) {
  const std::string line = TraceText(pieces...);
  vzr::trace_detail::Emit(line);
  SetError(error, code, std::move(entry), sysError, ReasonOf(line));
}

}  // namespace vzrops
