// packnotices.cpp - the files a pack leaves out or stores changed, and why.

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fileservices.h"
#include "format.h"
#include "ops_internal.h"
#include "ops.h"

std::vector<PackNotice>& LastPackNotices() {
  thread_local std::vector<PackNotice> notices;
  return notices;
}

std::string PackNoticesText(const std::vector<PackNotice>& notices, std::size_t maxLines) {
  std::size_t leftOut = 0;
  for (const PackNotice& notice : notices)
    if (!notice.stored) ++leftOut;
  std::string text = std::to_string(leftOut) + (leftOut == 1 ? " file was" : " files were") + " not packed";
  if (leftOut < notices.size())
    text += ", " + std::to_string(notices.size() - leftOut) + " changed while they were read";
  text += ":\n";
  for (std::size_t i = 0; i < notices.size() && i < maxLines; ++i)
    text += notices[i].path + ": " + notices[i].reason + (notices[i].stored ? " (stored as read)" : "") + "\n";
  if (notices.size() > maxLines) text += "... and " + std::to_string(notices.size() - maxLines) + " more\n";
  return text;
}

void vzrops::NotePackProblem(const std::string& path, const std::string& reason, bool stored) {
  LastPackNotices().push_back({path, reason, stored});
}

std::string vzrops::TooLargeReason(uint64_t bytes) {
  return std::to_string(bytes) + " bytes, too large for an archive entry (the format ends at 4 GiB)";
}

std::string vzrops::OpenFailureReason(const char* path, int error) {
  vzrfs::NodeFacts facts;
  const std::string resolved = vzrfs::ResolvePath(path);
  if (error == ENOENT && vzrfs::FactsOf(resolved, facts, false) && facts.kind == vzrfs::NodeKind::Link)
    return "dangling symbolic link";
  return vzrfs::ErrorText(error ? error : EIO);
}

namespace {

std::string LeafOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string SourceFileProblem(const char* path, std::size_t nameLength) {
  if (nameLength > vzr::kMaxNameLength)
    return "name of " + std::to_string(nameLength) + " characters, longer than an archive name can be (259)";
  if (LeafOf(path).find('\\') != std::string::npos)
    return "name holds a backslash, which archive names read as a folder separator";
  vzrfs::NodeFacts facts;
  if (!vzrfs::FactsOf(path, facts)) return vzrops::OpenFailureReason(path, errno);
  if (facts.kind != vzrfs::NodeKind::File) return "not a plain file";
  if (facts.size >= UINT32_MAX - vzr::kBufferGrowthMargin) return vzrops::TooLargeReason(facts.size);
  vzrfs::UniqueFile input(vzrfs::OpenRead(path));
  if (!input) return vzrops::OpenFailureReason(path, errno);
  return "";
}

bool vzrops::StampOf(std::FILE* f, SourceStamp& stamp) {
  vzrfs::NodeFacts facts;
  if (!vzrfs::FactsOf(f, facts)) return false;
  stamp.size = facts.size;
  stamp.seconds = facts.modifiedSeconds;
  stamp.nanoseconds = facts.modifiedNanoseconds;
  return true;
}

bool vzrops::ChangedSince(std::FILE* f, const SourceStamp& before) {
  SourceStamp now;
  return !StampOf(f, now) || !(now == before);
}
