// packnotices.cpp - the files a pack leaves out or stores changed, and why.
#include <sys/stat.h>

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
  struct stat st {};
  const std::string resolved = vzrfs::ResolvePath(path);
  if (error == ENOENT && ::lstat(resolved.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return "dangling symbolic link";
  return std::strerror(error ? error : EIO);
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
  struct stat st {};
  if (::stat(path, &st) != 0) return vzrops::OpenFailureReason(path, errno);
  if (!S_ISREG(st.st_mode)) return "not a plain file";
  if (uint64_t(st.st_size) >= UINT32_MAX - vzr::kBufferGrowthMargin)
    return vzrops::TooLargeReason(static_cast<uint64_t>(st.st_size));
  vzrfs::UniqueFile input(vzrfs::OpenRead(path));
  if (!input) return vzrops::OpenFailureReason(path, errno);
  return "";
}

bool vzrops::StampOf(std::FILE* f, SourceStamp& stamp) {
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0) return false;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.seconds = st.st_mtim.tv_sec;
  stamp.nanoseconds = st.st_mtim.tv_nsec;
  return true;
}

bool vzrops::ChangedSince(std::FILE* f, const SourceStamp& before) {
  SourceStamp now;
  return !StampOf(f, now) || !(now == before);
}
