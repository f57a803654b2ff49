// vzrpack.h - the one door into the .vzr archive engine.
//
// Everything both programs need from the engine is declared here: the index
// records, the engine object, the status binding, the codec, the packer, the
// path checks and the mod-folder unpacker. The engine depends on nothing but
// the C++ standard library, reports outcomes through integer results, trace
// lines on standard output and an error record (VzrError), and throws no
// exceptions of its own. What only the engine's own files share is in its
// internal headers (*_internal.h, and the compressor's compressor.h,
// compress_levels.h and segmentwriter.h, indexparse.h). Beside this door:
// platform/fileservices.h and core/paths.h, the platform layer every part
// may use; core/format.h, the format's numbers; archive/entryreader.h,
// random access to entries; core/trace.h, the trace channel.
#pragma once

// The rooms, lowest first; each includes only those below it.
#include "core/core.h"          // records, status, errors
#include "codec/codec.h"        // the segment codec
#include "archive/archive.h"    // the engine object, the index, the entry reader
#include "ops/ops.h"            // read, pack, rewrite, path checks, mod unpack
