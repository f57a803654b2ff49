// readahead.h - reading entries on several threads: their segments are
// decoded ahead and their content comes out in order, exactly as reading
// them one after another on one thread gives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core.h"
#include "entryreader.h"

// What StreamEntries tells its caller: each piece of an entry's content in
// order (false from `piece` stops the run), then the end of the entry, whole
// or damaged, with the reason EntryReader::Stream would give.
struct EntryStreamSink {
  std::function<bool(uint32_t entry, const unsigned char* data, std::size_t n)> piece;
  std::function<void(uint32_t entry, bool whole, const VzrError& why)> end;
};

// Streams the listed entries of reader (index positions, in the order given)
// to sink on `threads` threads (0: every core). The pieces, their order, the
// verdicts and the reasons are those of calling reader.Stream for each entry
// in turn, whatever the thread count; at most a few segments per thread are
// held at once. False when sink stopped the run.
bool StreamEntries(const EntryReader& reader, const std::vector<uint32_t>& entries, unsigned threads,
                   const EntryStreamSink& sink);

// The threads a read uses when asked for `threads` (0: every core).
unsigned ReadThreads(unsigned threads);
