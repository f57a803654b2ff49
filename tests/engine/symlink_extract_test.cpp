// Extraction never writes through a symbolic link, wherever one stands.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "ops_testutil.h"
#include "testutil.h"
#include "vzrpack.h"

using opstest::Load;
using testutil::ArchiveLayout;
using testutil::CurrentDirGuard;
using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

// Every file (with its bytes), link (with its target) and folder below root.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> seen;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (it->is_symlink())
      seen[rel] = "link " + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      seen[rel] = "folder";
    else {
      const testutil::Bytes b = testutil::ReadFileBytes(it->path().string());
      seen[rel] = std::string(b.begin(), b.end());
    }
  }
  return seen;
}

struct LinkCase {
  const char* what;
  const char* entry;  // the entry that must be refused
  std::function<void(const fs::path& dest, const fs::path& outside, const fs::path& archive)> plant;
};

}  // namespace

TEST(SymlinkSafeExtract, NoEntryIsWrittenThroughALink) {
  const std::vector<LinkCase> cases = {
      {"a link as a folder of the name", "sub/f.txt",
       [](auto& d, auto& o, auto&) { fs::create_directory_symlink(o, d / "sub"); }},
      {"a link in another letter case", "sub/g.txt",
       [](auto& d, auto& o, auto&) { fs::create_directory_symlink(o, d / "Sub"); }},
      {"a link as the file itself", "f.txt",
       [](auto& d, auto& o, auto&) { fs::create_symlink(o / "victim", d / "f.txt"); }},
      {"a link to a new name outside", "new.txt",
       [](auto& d, auto& o, auto&) { fs::create_symlink(o / "new.txt", d / "new.txt"); }},
      {"a link to the archive itself", "arch.vzr",
       [](auto& d, auto&, auto& a) { fs::create_symlink(a, d / "arch.vzr"); }},
      {"a dangling link", "gone", [](auto& d, auto&, auto&) { fs::create_symlink("nowhere", d / "gone"); }},
      {"a chain of links", "l1",
       [](auto& d, auto& o, auto&) {
         fs::create_symlink("l2", d / "l1");
         fs::create_symlink(o / "victim", d / "l2");
       }},
      {"a link to a folder inside the destination", "alias/f.txt",
       [](auto& d, auto&, auto&) {
         fs::create_directory(d / "inner");
         fs::create_directory_symlink("inner", d / "alias");
       }},
      {"a link in a deeper folder", "a/b/c/f.txt",
       [](auto& d, auto& o, auto&) {
         fs::create_directories(d / "a");
         fs::create_directory_symlink(o, d / "a/b");
       }},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.what);
    CurrentDirGuard keep;
    TempDir dir;
    const fs::path root = dir / "", dest = dir / "D", outside = dir / "O", archivePath = dir / "x.vzr";
    ArchiveLayout layout;
    layout.AddRaw("before.txt", "first");
    layout.AddRaw(c.entry, "payload");
    layout.AddRaw("after.txt", "last");
    layout.WriteTo(archivePath);
    fs::create_directories(dest);
    fs::create_directories(outside);
    testutil::WriteFileText(outside / "victim", "untouched");
    c.plant(dest, outside, archivePath);
    std::map<std::string, std::string> expected = Snapshot(root);
    expected["D/before.txt"] = "first";
    expected["D/after.txt"] = "last";

    VzrArchive archive;
    Load(archive, archivePath);
    std::string trace;
    {
      testutil::TraceCapture capture;
      EXPECT_NE(archive.Extract(0, dest.c_str()), nullptr);
      EXPECT_EQ(archive.Extract(1, dest.c_str()), nullptr);
      EXPECT_NE(archive.Extract(2, dest.c_str()), nullptr);
      trace = capture.Text();
    }
    archive.CloseArchiveStream();
    EXPECT_NE(trace.find(std::string(": ") + c.entry + "\n"), std::string::npos) << trace;
    EXPECT_EQ(Snapshot(root), expected) << "something was written at a link's target or outside";
  }
}

// An archive of one raw entry, an empty destination and a folder outside
// it, for links planted while ExtractAll runs.
struct MidRunScene {
  explicit MidRunScene(const char* entry) {
    ArchiveLayout layout;
    layout.AddRaw(entry, "payload");
    layout.WriteTo(dir / "x.vzr");
    fs::create_directories(dest);
    fs::create_directories(outside);
    Load(archive, dir / "x.vzr");
  }
  // ExtractAll with the recorder called at each file-system operation.
  int ExtractAll(std::function<void(const vzrfs::FsOperation&)> onOperation, std::string& trace) {
    vzrfs::SetOperationRecorder(std::move(onOperation));
    testutil::TraceCapture capture;
    const int code = archive.ExtractAll(dest.c_str());
    trace = capture.Text();
    vzrfs::SetOperationRecorder(nullptr);
    return code;
  }
  CurrentDirGuard keep;
  TempDir dir;
  const fs::path dest = dir / "D", outside = dir / "O";
  VzrArchive archive;
};

// A folder swapped for a link while ExtractAll runs (just after the run made
// it) cannot send the folders made in it elsewhere: they are made relative to
// their parent opened without following links.
TEST(SymlinkSafeExtract, ALinkPlantedDuringExtractionRedirectsNothing) {
  MidRunScene scene("a/b/c/f.txt");
  const fs::path &dest = scene.dest, &outside = scene.outside;
  fs::create_directories(dest / "a");
  std::string trace;
  const int code = scene.ExtractAll(
      [&](const vzrfs::FsOperation& op) {
        if (op.kind != vzrfs::FsOperation::Kind::Create || fs::path(op.path).filename() != "b") return;
        fs::rename(dest / "a/b", dest / "moved");
        fs::create_directory_symlink(outside, dest / "a/b");
      },
      trace);
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(fs::is_symlink(dest / "a/b")) << "the link was never planted";
  EXPECT_TRUE(Snapshot(outside).empty()) << "a folder or file was made through the link";
}

// A link planted at an entry's name in a folder the run made (so never
// listed) after its content was written beside it: the entry fails, the link
// stays, and no file is left beside it.
TEST(SymlinkSafeExtract, ALinkPlantedAtTheNameDuringExtractionIsNotReplaced) {
  MidRunScene scene("a/f.txt");
  const fs::path &dest = scene.dest, &outside = scene.outside;
  std::string trace;
  EXPECT_EQ(scene.ExtractAll(
                [&](const vzrfs::FsOperation& op) {
                  if (op.kind == vzrfs::FsOperation::Kind::Create &&
                      fs::path(op.path).parent_path().filename() == "a")
                    fs::create_symlink(outside / "f.txt", dest / "a/f.txt");
                },
                trace),
            5);
  EXPECT_NE(trace.find("refused to write through a symbolic link: a/f.txt"), std::string::npos) << trace;
  EXPECT_TRUE(fs::is_symlink(dest / "a/f.txt"));
  EXPECT_EQ(Snapshot(dest / "a").size(), 1u) << "a file was left beside the link";
  EXPECT_TRUE(Snapshot(outside).empty());
}

// The file an extraction writes beside an entry's name is registered from
// the moment it exists: a signal handler's RemoveTemporaries at that moment
// deletes it, so the entry fails and nothing is left.
TEST(SymlinkSafeExtract, TheFileBesideAnEntryIsRegisteredForInterruption) {
  CurrentDirGuard keep;
  TempDir dir;
  const fs::path dest = dir / "D", archivePath = dir / "x.vzr";
  ArchiveLayout layout;
  layout.AddRaw("f.txt", "payload");
  layout.WriteTo(archivePath);
  fs::create_directories(dest);
  VzrArchive archive;
  Load(archive, archivePath);
  vzrfs::SetOperationRecorder([](const vzrfs::FsOperation& op) {
    if (op.kind == vzrfs::FsOperation::Kind::Create) vzrfs::RemoveTemporaries();
  });
  int code = 0;
  {
    testutil::TraceCapture quiet;
    code = archive.ExtractAll(dest.c_str());
  }
  vzrfs::SetOperationRecorder(nullptr);
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(fs::is_empty(dest));
}

// An entry below a name another entry wrote as a file fails as a failed
// write, not as a refused link: there is none.
TEST(SymlinkSafeExtract, AFileWhereAFolderShouldBeIsNoLink) {
  CurrentDirGuard keep;
  TempDir dir;
  const fs::path dest = dir / "D", archivePath = dir / "x.vzr";
  ArchiveLayout layout;
  layout.AddRaw("a", "a file");
  layout.AddRaw("a/b", "below it");
  layout.WriteTo(archivePath);
  fs::create_directories(dest);
  VzrArchive archive;
  Load(archive, archivePath);
  std::string trace;
  {
    testutil::TraceCapture capture;
    EXPECT_EQ(archive.ExtractAll(dest.c_str()), 5);
    trace = capture.Text();
  }
  EXPECT_NE(trace.find("Could not write file: a/b"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("symbolic link"), std::string::npos) << trace;
}
