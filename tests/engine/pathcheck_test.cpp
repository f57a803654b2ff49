// The pack dialog's path checks: illegal characters, and an archive that
// would be written inside the folder being packed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testutil.h"
#include "vzrpack.h"

namespace {

struct Checked {
  int result;
  std::string source, archive, trace;
};

Checked Check(const std::string& source, const std::string& archive) {
  char src[512] = {}, vzr[512] = {};
  std::strncpy(src, source.c_str(), sizeof src - 1);
  std::strncpy(vzr, archive.c_str(), sizeof vzr - 1);
  testutil::TraceCapture capture;
  const int result = CheckPackPaths(src, vzr);
  return {result, src, vzr, capture.Text()};
}

}  // namespace

TEST(MakeLowerCase, FoldsOnlyAsciiCapitals) {
  char text[] = "AbZ-@[\xC4" "09";
  MakeLowerCase(text);
  EXPECT_STREQ(text, "abz-@[\xC4" "09");
}

TEST(HasIllegalChars, DriveColonOnlyAtIndexOneAndOnlyWhenAllowed) {
  EXPECT_EQ(HasIllegalChars("C:/mods/x", 1), 0);
  EXPECT_EQ(HasIllegalChars("C:/mods/x", 0), 1);
  EXPECT_EQ(HasIllegalChars("C:/mods:x", 1), 1);
  EXPECT_EQ(HasIllegalChars(":C", 1), 1);
  EXPECT_EQ(HasIllegalChars("a\\b/c d_e.f", 0), 0) << "slashes, space and punctuation are legal";
  EXPECT_EQ(HasIllegalChars("", 0), 0);
}

TEST(HasIllegalChars, EachForbiddenByteIsFound) {
  for (const char* bad : {"a?b", "a*b", "a\"b", "a<b", "a>b", "a{b", "a|b", "a}b", "a~b", "a\x7F" "b", "a\xE9" "b",
                          "a\tb"})
    EXPECT_EQ(HasIllegalChars(bad, 1), 1) << bad;
}

TEST(HasIllegalChars, LooksAtTheFirst512CharactersOnly) {
  std::string text(512, 'a');
  text += '?';
  EXPECT_EQ(HasIllegalChars(text.c_str(), 0), 0);
  text[511] = '?';
  EXPECT_EQ(HasIllegalChars(text.c_str(), 0), 1);
}

TEST(CheckPackPaths, ArchiveInsideTheSourceIsRefusedWhateverTheCaseAndSeparators) {
  Checked c = Check("C:\\Mods\\X\\Objects", "C:\\Mods\\X\\Objects\\objects.vzr");
  EXPECT_EQ(c.result, 2);
  EXPECT_EQ(c.trace,
            "ERROR! save inside source dir\n"
            "strDirSource: C:/Mods/X/Objects strVzrName: C:/Mods/X/Objects/objects.vzr\n");
  EXPECT_EQ(Check("C:\\Mods\\X\\Objects", "c:/mods/x/OBJECTS/a.vzr").result, 2);
  EXPECT_EQ(Check("/home/u/Objects/", "/home/u/objects/deep/a.vzr").result, 2);
  EXPECT_EQ(Check("/home/u/Objects", "/home/u/Objects").result, 2) << "the folder's own path";
}

TEST(CheckPackPaths, ArchiveBesideTheFolderWithTheSameStemIsAccepted) {
  EXPECT_EQ(Check("C:\\Mods\\X\\Objects", "C:\\Mods\\X\\Objects.vzr").result, 0);
  EXPECT_EQ(Check("C:\\Mods\\X\\Objects\\", "C:\\Mods\\X\\Objects.vzr").result, 0);
  EXPECT_EQ(Check("/m/objects", "/m/objects2/a.vzr").result, 0);
}

TEST(CheckPackPaths, AcceptedPathsComeBackWithSlashesAndTheirOwnCase) {
  Checked c = Check("C:\\Mods\\X\\Objects", "C:\\Mods\\X\\Archives\\objects.vzr");
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.source, "C:/Mods/X/Objects") << "the source keeps its case: lookups here respect it";
  EXPECT_EQ(c.archive, "C:/Mods/X/Archives/objects.vzr");
  EXPECT_EQ(c.trace, "");
}

TEST(CheckPackPaths, EmptySourceAndRootSourceContainEverything) {
  EXPECT_EQ(Check("", "/x/a.vzr").result, 2);
  EXPECT_EQ(Check("/", "/x/a.vzr").result, 2);
}

TEST(CheckPackPaths, IllegalCharactersInSourceThenInArchive) {
  Checked c = Check("/mods/caf\xE9", "/out/a.vzr");
  EXPECT_EQ(c.result, 3);
  EXPECT_EQ(c.trace.substr(0, c.trace.find('\n')), "ERROR! Illegal Characters (strDirSource)");
  for (const char* bad : {"/out/a?.vzr", "/out/*.vzr", "/out/{a}.vzr", "/out/~a.vzr"}) {
    c = Check("/mods/x", bad);
    EXPECT_EQ(c.result, 3) << bad;
    EXPECT_EQ(c.trace, std::string("ERROR! Illegal Characters (strVzrName)\nstrDirSource: /mods/x strVzrName: ") +
                           bad + "\n");
  }
  EXPECT_EQ(Check("/mods/x?", "/mods/x?/a.vzr").result, 2) << "the inside test comes first";
}
