// ExtractAll decoding ahead on several threads: the same trace lines, error
// record, files and folders as decoding each entry whole on the calling
// thread, on an archive with damaged entries small and large, whether the
// entries around the damage lie in folders of their own, in one folder or
// in two taken in turn (files are written side by side once their folder
// is known).
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

// The literal stored form of content with segment `segment`'s end marker broken.
Bytes Damaged(const Bytes& content, std::size_t segment) {
  Bytes form = testutil::LiteralSegmentedForm(content);
  const std::size_t record = 4 + 12 * segment;
  form.at(4 + 12 * testutil::GetLE32(form, 0) + testutil::GetLE32(form, record + 8) + testutil::GetLE32(form, record) - 3) =
      0xFF;
  return form;
}

struct Outcome {
  int result = 0;
  std::vector<std::string> trace;
  std::string entry, message;
  std::map<std::string, Bytes> files;
  std::vector<std::string> folders;
};

Outcome ExtractRounds(const std::string& archivePath, const std::string& dest, unsigned threads) {
  Outcome run;
  VzrArchive archive;
  opstest::Load(archive, archivePath);
  archive.readAheadThreads = threads;
  const testutil::CurrentDirGuard keep;
  testutil::TraceCapture trace;
  run.result = archive.ExtractAll(dest.c_str());
  run.trace = trace.Lines();
  run.entry = archive.lastError.entry;
  run.message = archive.lastError.message;
  for (const auto& item : fs::recursive_directory_iterator(dest)) {
    const std::string name = fs::relative(item.path(), dest).generic_string();
    if (item.is_regular_file()) run.files[name] = testutil::ReadFileBytes(testutil::PathText(item.path()));
    if (item.is_directory()) run.folders.push_back(name);
  }
  std::sort(run.folders.begin(), run.folders.end());
  return run;
}

TEST(ReadAhead, ExtractAllMeetsDamageAsTheOneThreadReadDoes) {
  testutil::TempDir dir;
  const Bytes small = opstest::Pattern(50000, 1), large = opstest::Pattern(1500000, 2);
  struct Case {
    const char* name;
    Bytes form;
  } cases[] = {{"small damaged", Damaged(small, 1)}, {"large damaged", Damaged(large, 40)}};
  for (const Case& c : cases) {
    for (const std::string folders : {"abcd", "abbb", "abab"}) {
      const std::string what = std::string(c.name) + " in folders " + folders;
      const auto name = [&folders](std::size_t i, const char* leaf) { return folders.substr(i, 1) + "/" + leaf; };
      testutil::ArchiveLayout layout;
      layout.storageMode = 1;
      layout.entries.push_back({name(0, "sound.con"), testutil::LiteralSegmentedForm(opstest::Pattern(70000, 3)), 70000});
      layout.entries.push_back({name(1, "before.con"), testutil::LiteralSegmentedForm(small), 50000});
      layout.entries.push_back({name(1, "bad.con"), c.form, static_cast<uint32_t>(c.form == cases[0].form ? 50000 : 1500000)});
      layout.entries.push_back({name(2, "after.con"), testutil::LiteralSegmentedForm(small), 50000});
      layout.entries.push_back({name(3, "late.con"), testutil::LiteralSegmentedForm(large), 1500000});
      layout.WriteTo(dir / "x.vzr");
      std::vector<Outcome> runs;
      for (unsigned threads : {0u, 1u, 2u, 4u}) {
        const std::string dest = dir / (what + std::to_string(threads));
        fs::create_directories(dest);
        runs.push_back(ExtractRounds(dir / "x.vzr", dest, threads));
      }
      EXPECT_EQ(runs[0].result, 5) << what;
      EXPECT_EQ(runs[0].entry, name(1, "bad.con")) << what;
      EXPECT_EQ(runs[0].files.size(), 2u) << what << ": the two before the damage";
      for (std::size_t r = 1; r < runs.size(); ++r) {
        EXPECT_EQ(runs[r].result, runs[0].result) << what;
        EXPECT_EQ(runs[r].trace, runs[0].trace) << what;
        EXPECT_EQ(runs[r].entry, runs[0].entry) << what;
        EXPECT_EQ(runs[r].message, runs[0].message) << what;
        EXPECT_EQ(runs[r].files, runs[0].files) << what;
        EXPECT_EQ(runs[r].folders, runs[0].folders) << what;
      }
    }
  }
}

// A disk that fills while several files of one folder are written side by
// side: the run stops at one entry, says so once, and leaves only whole
// files (the ones renamed before it) and no fresh file of any entry.
TEST(ReadAhead, AWriteFailureAmongFilesWrittenSideBySideLeavesOnlyWholeFiles) {
  testutil::TempDir dir;
  testutil::ArchiveLayout layout;
  layout.storageMode = 1;
  std::map<std::string, Bytes> content;
  for (unsigned i = 0; i < 12; ++i) {
    const std::string name = "f/part" + std::to_string(i) + ".con";
    content[name] = opstest::Pattern(70000 + 1000 * i, 10 + i);
    layout.entries.push_back({name, testutil::LiteralSegmentedForm(content[name]), static_cast<uint32_t>(content[name].size())});
  }
  layout.WriteTo(dir / "x.vzr");
  const std::string dest = dir / "out";
  fs::create_directories(dest);
  opstest::FaultHookGuard full([](uint64_t write) { return write > 13 ? ENOSPC : 0; });
  const Outcome run = ExtractRounds(dir / "x.vzr", dest, 4);
  EXPECT_EQ(run.result, 5);
  const std::vector<std::string> errors(std::find_if(run.trace.begin(), run.trace.end(),
                                                    [](const std::string& line) { return line.rfind("ERROR!", 0) == 0; }),
                                       run.trace.end());
  EXPECT_EQ(errors, (std::vector<std::string>{"ERROR! Could not write: " + run.entry, "ERROR! Could not extract file!"}));
  EXPECT_EQ(run.files.count(run.entry), 0u);
  EXPECT_LT(run.files.size(), 12u);
  for (const auto& [name, bytes] : run.files) {
    ASSERT_EQ(content.count(name), 1u) << "a fresh file was left: " << name;
    EXPECT_EQ(bytes, content[name]) << name;
    EXPECT_LT(name, run.entry) << "only the entries before the failed one are renamed";
  }
}

}  // namespace
