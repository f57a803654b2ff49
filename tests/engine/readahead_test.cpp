// ExtractAll decoding ahead on several threads: the same trace lines, error
// record and files as decoding each entry whole on the calling thread, on
// an archive with damaged entries small and large.
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
  for (const auto& item : fs::recursive_directory_iterator(dest))
    if (item.is_regular_file()) run.files[fs::relative(item.path(), dest).generic_string()] = testutil::ReadFileBytes(testutil::PathText(item.path()));
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
    testutil::ArchiveLayout layout;
    layout.storageMode = 1;
    layout.entries.push_back({"a/sound.con", testutil::LiteralSegmentedForm(opstest::Pattern(70000, 3)), 70000});
    layout.entries.push_back({"b/bad.con", c.form, static_cast<uint32_t>(c.form == cases[0].form ? 50000 : 1500000)});
    layout.entries.push_back({"c/after.con", testutil::LiteralSegmentedForm(small), 50000});
    layout.WriteTo(dir / "x.vzr");
    std::vector<Outcome> runs;
    for (unsigned threads : {0u, 1u, 4u}) {
      const std::string dest = dir / (std::string(c.name) + std::to_string(threads));
      fs::create_directories(dest);
      runs.push_back(ExtractRounds(dir / "x.vzr", dest, threads));
    }
    EXPECT_EQ(runs[0].result, 5) << c.name;
    EXPECT_EQ(runs[0].entry, "b/bad.con") << c.name;
    EXPECT_EQ(runs[0].files.count("a/sound.con"), 1u) << c.name;
    EXPECT_EQ(runs[0].files.count("b/bad.con"), 0u) << c.name;
    for (const Outcome& r : {runs[1], runs[2]}) {
      EXPECT_EQ(r.result, runs[0].result) << c.name;
      EXPECT_EQ(r.trace, runs[0].trace) << c.name;
      EXPECT_EQ(r.entry, runs[0].entry) << c.name;
      EXPECT_EQ(r.message, runs[0].message) << c.name;
      EXPECT_EQ(r.files, runs[0].files) << c.name;
    }
  }
}

}  // namespace
