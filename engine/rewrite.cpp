// rewrite.cpp - adding and dropping entries of a loaded archive, through the
// same rewrite AddReplaceFile uses.
#include "rewrite.h"

#include <strings.h>

#include <cerrno>

#include "errors_internal.h"
#include "fileservices.h"
#include "format.h"
#include "trace.h"
#include "vzrpack.h"

namespace {

void SetStatus(const char* text) { GetStatusSink()->SetText(text); }

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Reads the whole file at path into fileBuffer, setting curLength.
bool LoadFile(VzrArchive& a, const std::string& path) {
  vzrfs::UniqueFile input(vzrfs::OpenRead(path.c_str()));
  uint64_t length = 0;
  if (!input || !vzrfs::FileLength(input.get(), length) || length >= UINT32_MAX - vzr::kBufferGrowthMargin) {
    vzrops::TraceFailure(a.lastError, 1, path, length > 0 ? EFBIG : errno, "ERROR! inputFile: ", path);
    return false;
  }
  const auto n = static_cast<uint32_t>(length);
  if (n >= a.fileBufferCapacity) {
    const uint32_t capacity = n + vzr::kBufferGrowthMargin;
    if (!a.GrowFileBuffer(capacity) || !a.GrowStoreBuffer(vzr::StoreCapacityFor(capacity))) {
      vzrops::TraceFailure(a.lastError, 1, path, ENOMEM, "ERROR! inputFile: ", path, " (not enough memory for ", n,
                           " bytes)");
      return false;
    }
  }
  if (!vzrfs::Read(input.get(), a.fileBuffer, n)) {
    vzrops::TraceFailure(a.lastError, 1, path, errno, "ERROR! inputFile: ", path, " could not be read whole");
    return false;
  }
  a.curLength = n;
  return true;
}

// Why the request cannot be carried out, or nothing when it can.
const char* Refusal(const VzrArchive& a, const std::vector<bool>& dropped,
                    const std::vector<VzrArchive::NewEntry>& added) {
  for (std::size_t i = 0; i < added.size(); ++i) {
    const std::string& name = added[i].name;
    if (name.empty() || name.size() > vzr::kMaxNameLength) return "a new name is empty or too long";
    for (std::size_t j = 0; j < i; ++j)
      if (SameName(added[j].name, name)) return "a new name is given twice";
    for (uint32_t k = 0; k < a.FileIndex.count; ++k)
      if (!dropped[k] && SameName(a.FileIndex.files[k].name, name)) return "a new name is already in the archive";
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
  for (const NewEntry& entry : added)
    plan.additions.push_back({entry.name, [this, path = entry.sourcePath] { return LoadFile(*this, path); }});
  return vzrops::RewriteArchive(*this, plan, "AddRemoveEntries");
}
