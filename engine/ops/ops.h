// ops.h - the free operations on archives and folders: packing, moving an
// archive into place, the path checks, the pack notices and mod-folder
// unpacking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "codec.h"
#include "core.h"

// ---------------------------------------------------------------------------
// Files a pack could not store as they were

// A source file (or folder) that a pack left out, or stored although it
// changed while it was read. The trace lines of each case stay; this list is
// what the programs show the user.
struct PackNotice {
  std::string path;     // the source file or folder, as the pack named it
  std::string reason;   // why, in words ("Permission denied", "file changed as we read it", ...)
  bool stored = false;  // true: in the archive all the same (it changed while it was read)
};

// What the last PackDirectory, PackModFolder or their compressed forms on
// this thread left out or stored changed, in walk order. Each pack clears it
// when it starts.
std::vector<PackNotice>& LastPackNotices();

// The notices as the windows show them: a first line saying what happened,
// then "path: reason" lines, at most maxLines of them and then a line that
// counts the rest.
std::string PackNoticesText(const std::vector<PackNotice>& notices, std::size_t maxLines);

// Why the file at path cannot be stored as an entry whose name is
// nameLength characters long ("" when it can): a name too long for the
// index, a backslash in its own name (archive names read it as a folder
// separator), a dangling link, no plain file, 4 GiB or more, or no read
// permission (the system's own text).
std::string SourceFileProblem(const char* path, std::size_t nameLength);

// A new segmented archive at level 0..9; result and status as PackDirectory.
int PackDirectoryCompressed(char* sourceDir, char* basePath, const char* archivePath, int level, unsigned threads);
// As PackModFolder(name, 1), compressing at level; "sound" and "music" are still forced raw.
int PackModFolderCompressed(const char* name, int level, unsigned threads);
// Rewrites the archive atomically: segmented at level 0..9, or raw when level < 0. 0 done,
// 1 not done (the archive as it was, the reason on LastEngineError()).
int RecompressArchive(const char* path, int level, unsigned threads);

// Free space available to the user on directory's volume, in whole MiB; 0 on failure.
uint32_t GetFreeDiskSpaceMB(const char* directory);

// Packs sourceDir into a new raw archive at archivePath, every entry name
// starting with basePath (normalised in place; "" gives a leading '/', a null
// basePath no prefix at all). Returns the entries written,
// or 1 when the pack stopped early; the status line carries the outcome and
// LastEngineError() the reason. An archive is left at archivePath only when
// whole: a failed pack keeps the one that was there, or leaves none.
int PackDirectory(char* sourceDir, char* basePath, const char* archivePath, int compress);
// Packs "../name" into "name.vzr" under the base path name ("sound" and
// "music" always raw). Returns 0; the status line and LastEngineError() tell
// the outcome.
int PackModFolder(const char* name, int compress);

// Moves src onto dst, replacing it; falls back to a copy through a new file
// beside dst, so dst is never left half written. 1 moved, 0 copied with src
// kept (or nothing done), 2-5 a failed copy (dst as it was).
int tavMoveFile(const char* src, const char* dst);

// Path checks for the pack dialog.
// A-Z as a-z in place, in the first 512 characters.
void MakeLowerCase(char* text);
// 1 when text holds a control character, a byte above 'z' or one of " * : < > ?
// (a drive's ':' is allowed as the second character when allowDrive is 1), else 0.
int HasIllegalChars(const char* text, int allowDrive);
// Turns '\' into '/' in both paths in place, letter case kept. 2 when the
// archive would lie inside the source folder, 3 when a path holds an illegal
// character, else 0 (the reason also on LastEngineError()).
int CheckPackPaths(char* strDirSource, char* strVzrName);
// The path below the destination that extraction writes entry `name` to
// ('\' read as '/', leading '/' dropped), or "" when extraction refuses the
// name (a drive, a ".." component, a trailing '/', nothing left).
std::string ExtractionPath(const char* name);

// Extracts every archive matching pattern into destination. 0 on success,
// else the first failing ExtractAll code (that archive's reason on
// LastEngineError()), 3 when a path is too long, or 2 when the walk failed.
int unpackVzrFiles(char* pattern, VzrArchive* archive, const char* destination);