// rewrite.cpp - adding and dropping entries of a loaded archive, through the
// same rewrite AddReplaceFile uses.
#include "rewrite_internal.h"

#include <cerrno>
#include <cstring>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "paths.h"
#include "trace.h"
#include "ops.h"

namespace {

void SetStatus(const char* text) { GetStatusSink()->SetText(text); }

// Why the request cannot be carried out, or nothing when it can.
const char* Refusal(const VzrArchive& a, const std::vector<bool>& dropped,
                    const std::vector<VzrArchive::NewEntry>& added) {
  for (std::size_t i = 0; i < added.size(); ++i) {
    // An archive stored inside itself would hold a copy of its old self.
    if (vzrfs::SameFile(added[i].sourcePath.c_str(), a.vzr_file_name)) return "file is the archive";
    const std::string& name = added[i].name;
    if (name.empty() || name.size() > vzr::kMaxNameLength) return "a new name is empty or too long";
    for (std::size_t j = 0; j < i; ++j)
      if (vzrfs::EqualsIgnoringCase(added[j].name, name)) return "a new name is given twice";
    for (uint32_t k = 0; k < a.FileIndex.count; ++k)
      if (!dropped[k] && vzrfs::EqualsIgnoringCase(a.FileIndex.files[k].name, name))
        return "a new name is already in the archive";
  }
  return nullptr;
}

}  // namespace

int VzrArchive::AddRemoveEntries(const std::vector<uint32_t>& removed, const std::vector<NewEntry>& added) {
  lastError.clear();
  SetStatus("AddRemoveEntries()");
  vzrops::RewritePlan plan;
  plan.dropped.assign(FileIndex.count, false);
  for (uint32_t index : removed) {
    if (index >= FileIndex.count) {
      vzrops::TraceFailure(lastError, 1, "", 0, "ERROR! AddRemoveEntries(): no entry ", index);
      SetStatus("ERROR! Could not update .vzr!");
      return 1;
    }
    plan.dropped[index] = true;
  }
  if (const char* why = Refusal(*this, plan.dropped, added)) {
    vzrops::TraceFailure(lastError, 1, "", 0, "ERROR! AddRemoveEntries(): ", why);
    SetStatus("ERROR! Could not update .vzr!");
    return 1;
  }
  // Each file is streamed in a few segments at a time, whatever its size.
  for (const NewEntry& entry : added) plan.additions.push_back({entry.name, nullptr, entry.sourcePath});
  return vzrops::RewriteArchive(*this, plan, "AddRemoveEntries");
}

int VzrArchive::ReplaceFromFile(uint32_t inx, const char* path) {
  lastError.clear();
  CodePosition = 1213;
  SetStatus("AddReplaceFile()");
  uint64_t length = 0;
  const bool readable = vzrfs::UniqueFile(vzrfs::OpenRead(path, &length)) != nullptr;
  const int openError = errno;
  TraceLog("  AddReplaceFile( inx = ", inx, ", fileSize = ", static_cast<uint32_t>(length), " )");
  TraceLog("   FileIndex.count: ", static_cast<int32_t>(FileIndex.count));
  if (inx >= FileIndex.count || !readable) {
    vzrops::TraceFailure(lastError, 1, path, inx >= FileIndex.count ? 0 : openError, "ERROR! ReplaceFromFile(): ",
                         inx >= FileIndex.count ? "no such entry" : std::strerror(openError), ": ", path);
    SetStatus("ERROR! Could not update .vzr!");
    return 1;
  }
  vzrops::RewritePlan plan;
  plan.replaced = inx;
  plan.replacedSource = path;
  return vzrops::RewriteArchive(*this, plan, "ReplaceFromFile");
}
