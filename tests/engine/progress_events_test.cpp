// The typed progress events: a pack tells each file with its bytes, up to the
// listed total; an extraction tells each entry it starts and each file it
// wrote, on one thread or decoding ahead on several, and the status texts
// beside them stay as they were.
#include <cstring>
#include <string>
#include <vector>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

namespace {

using testutil::TempDir;

struct Recorded {
  std::vector<ProgressEvent> events;
  std::vector<std::string> names;
  ProgressObserverScope scope{[this](const ProgressEvent& e) {
    events.push_back(e);
    names.emplace_back(e.name);
  }};
};

TEST(ProgressEvents, PackTellsEachFileWithItsBytesUpToTheTotal) {
  TempDir dir;
  testutil::WriteFileBytes(dir / "src/a.con", opstest::Pattern(70000, 1));
  testutil::WriteFileBytes(dir / "src/b.con", opstest::Pattern(500, 2));
  char src[512] = {}, base[512] = "";
  std::strncpy(src, (dir / "src").c_str(), sizeof src - 1);
  for (int level : {-1, 6}) {
    Recorded seen;
    opstest::StatusRecorder status;
    testutil::TraceCapture quiet;
    const int packed = level < 0 ? PackDirectory(src, base, (dir / "raw.vzr").c_str(), 1)
                                 : PackDirectoryCompressed(src, base, (dir / "six.vzr").c_str(), level, 2);
    ASSERT_EQ(packed, 2) << level;
    ASSERT_EQ(seen.events.size(), 2u) << level;
    for (const ProgressEvent& e : seen.events) EXPECT_EQ(e.phase, ProgressPhase::kPacking) << level;
    EXPECT_LT(seen.events[0].bytesDone, seen.events[1].bytesDone) << level;
    EXPECT_EQ(seen.events[1].bytesDone, 70500u) << level;
    EXPECT_EQ(seen.events[1].bytesTotal, 70500u) << level;
  }
}

TEST(ProgressEvents, ExtractTellsStartsAndWrittenFilesForAnyReadAhead) {
  TempDir dir;
  testutil::ArchiveLayout layout;
  layout.storageMode = 1;
  for (const char* name : {"one.con", "../refused.con", "two.con"})
    layout.entries.push_back({name, testutil::LiteralSegmentedForm(testutil::ToBytes(std::string(40000, name[0]))), 40000});
  layout.WriteTo(dir / "x.vzr");
  for (unsigned threads : {0u, 1u, 3u}) {
    VzrArchive archive;
    opstest::Load(archive, dir / "x.vzr");
    archive.readAheadThreads = threads;
    Recorded seen;
    opstest::StatusRecorder status;
    testutil::TraceCapture quiet;
    const testutil::CurrentDirGuard keep;
    EXPECT_EQ(archive.ExtractAll(dir.str().c_str()), 5) << threads;
    ASSERT_EQ(seen.events.size(), 3u) << threads;
    EXPECT_EQ(seen.events[0].phase, ProgressPhase::kExtracting);
    EXPECT_EQ(seen.events[1].phase, ProgressPhase::kExtracted);
    EXPECT_EQ(seen.events[1].bytesDone, 40000u);
    EXPECT_EQ(seen.events[1].bytesTotal, 120000u);
    EXPECT_EQ(seen.events[2].phase, ProgressPhase::kExtracting);
    EXPECT_EQ(seen.names[2], "../refused.con");
    EXPECT_EQ(archive.lastError.entry, "../refused.con") << threads;
  }
}

}  // namespace
